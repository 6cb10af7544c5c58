#include "help/HelpSection.h"

#include <gtest/gtest.h>

#include <any>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "help/HelpView.h"
#include "support/UiTest.h"

namespace orvel {
namespace {

using enum HelpSection;
using HelpSectionTest = test::UiTest;

std::vector<std::string> raws(const std::vector<HelpSection>& sections) {
    std::vector<std::string> out;
    for (const HelpSection s : sections) {
        out.emplace_back(rawValue(s));
    }
    return out;
}

TEST_F(HelpSectionTest, CasesKeepTheirOrderRawValuesTitlesAndSymbols) {
    struct Case {
        HelpSection section;
        const char* raw;
        const char* title;
        const char* symbol;
    };
    const std::vector<Case> cases{
        {whatItDoes, "whatItDoes", "What Orvel does", "cup.and.saucer"},
        {theMenu, "theMenu", "The panel, and Settings", "menubar.arrow.down.rectangle"},
        {sleepSwitches, "sleepSwitches", "Sleep switches", "moon.zzz"},
        {deviceSwitches, "deviceSwitches", "Device switches", "keyboard"},
        {durations, "durations", "Durations", "timer"},
        {triggers, "triggers", "Triggers", "bolt.circle"},
        {drives, "drives", "Drive keep-alive", "externaldrive"},
        {batteryPower, "batteryPower", "Battery & UPS", "battery.75"},
        {permissions, "permissions", "Permissions", "lock.shield"},
        {commandLine, "commandLine", "Command line equivalents", "terminal"},
        {persistence, "persistence", "Sleep, wake and restart", "arrow.clockwise"},
        {shortcuts, "shortcuts", "Keyboard shortcuts", "command"},
        {troubleshooting, "troubleshooting", "Troubleshooting", "wrench.and.screwdriver"},
        {accessibility, "accessibility", "Accessibility", "figure.stand"},
        {languages, "languages", "Languages", "globe"},
        {acknowledgments, "acknowledgments", "Acknowledgments", "text.badge.checkmark"},
    };
    const auto all = allCases<HelpSection>();
    ASSERT_EQ(all.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].raw);
        EXPECT_EQ(all[i], cases[i].section);
        EXPECT_EQ(rawValue(cases[i].section), cases[i].raw);
        EXPECT_EQ(fromRaw<HelpSection>(cases[i].raw), cases[i].section);
        EXPECT_EQ(title(cases[i].section), cases[i].title);
        EXPECT_EQ(symbol(cases[i].section), cases[i].symbol);
        EXPECT_TRUE(std::filesystem::exists(std::string(ORVEL_RESOURCES) + "/icons/" +
                                            cases[i].symbol + ".svg"))
            << "the symbol ships as an icon";
    }
}

TEST_F(HelpSectionTest, RawValuesMatchOnlyExactly) {
    for (const char* raw : {"Triggers", " triggers", "triggers ", "TRIGGERS", ""}) {
        EXPECT_EQ(fromRaw<HelpSection>(raw), std::nullopt) << '"' << raw << '"';
    }
    EXPECT_EQ(fromRaw<HelpSection>("triggers"), triggers);
}

TEST_F(HelpSectionTest, KeywordsAreTheSearchWordsOfEachPage) {
    EXPECT_EQ(keywords(theMenu),
              "panel popover switches duration command preview started by pause triggers settings"
              " help about quit task bar ctrl+, ctrl+q feedback text size larger smaller percent "
              "bold opaque translucent appearance");
    EXPECT_EQ(keywords(shortcuts),
              "keyboard shortcuts global hotkey ctrl alt meta super comma q toggle x11 key grab");
    for (const HelpSection s : allCases<HelpSection>()) {
        const std::string_view words = keywords(s);
        SCOPED_TRACE(rawValue(s));
        EXPECT_FALSE(words.empty());
        EXPECT_EQ(words.find("  "), std::string_view::npos) << "single spaces";
        EXPECT_NE(words.front(), ' ');
        EXPECT_NE(words.back(), ' ');
    }
}

TEST_F(HelpSectionTest, SearchFindsPagesByTitleOrKeywordsInSidebarOrder) {
    const auto every = allCases<HelpSection>();
    const std::vector<std::string> all = raws(std::vector<HelpSection>(every.begin(), every.end()));
    struct Case {
        const char* query;
        std::vector<std::string> found;
    };
    const std::vector<Case> cases{
        {"  UPS ", {"triggers", "batteryPower"}},
        {"systemd-inhibit", {"commandLine", "troubleshooting"}},
        {"orvel", {"whatItDoes", "drives"}},
        {"ORVEL", {"whatItDoes", "drives"}},
        {"sleep wake", {"persistence"}},
        {"wake sleep", {}},
        {"licence", {}},
        {"license", {"acknowledgments"}},
        {"ctrl", {"theMenu", "shortcuts"}},
        {"ctrl+q", {"theMenu"}},
        {"", all},
        {"   ", all},
        {"\t \t", all},
        {"\u00a0UPS\u2003", {"triggers", "batteryPower"}},
        {"UPS\n", {}},
        {"\nUPS", {}},
        {"\n", {}},
        {"battery & ups", {"batteryPower"}},
        {"whatItDoes", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(raws(filterHelpSections(c.query)), c.found) << '"' << c.query << '"';
    }
}

TEST_F(HelpSectionTest, SearchMatchesLocalisedTitlesWithAccentsSignificant) {
    Localization::shared().setTable({{"Troubleshooting", "Dépannage"}});
    setCurrentLocaleIdentifier("fr_FR");
    struct Case {
        const char* query;
        std::vector<std::string> found;
    };
    const std::vector<Case> cases{
        {"dépannage", {"troubleshooting"}},
        {"DÉPANNAGE", {"troubleshooting"}},
        {"De\u0301pannage", {"troubleshooting"}},
        {"depannage", {}},
        {"troubleshooting", {}},
        {"diagnostics", {"troubleshooting"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(raws(filterHelpSections(c.query)), c.found) << '"' << c.query << '"';
    }
}

TEST_F(HelpSectionTest, CaseIsIgnoredByTheRulesOfTheCurrentLocale) {
    Localization::shared().setTable({{"Triggers", "Tetikleyiciler"}});
    setCurrentLocaleIdentifier("en_US");
    EXPECT_EQ(raws(filterHelpSections("TETIKLEYICILER")), std::vector<std::string>{"triggers"});
    setCurrentLocaleIdentifier("tr_TR");
    EXPECT_EQ(raws(filterHelpSections("TETİKLEYİCİLER")), std::vector<std::string>{"triggers"});
    EXPECT_EQ(raws(filterHelpSections("TETIKLEYICILER")), std::vector<std::string>{})
        << "a dotless capital I is not an i in Turkish";
}

TEST_F(HelpSectionTest, EmptyTextShowsTheQueryAsTyped) {
    EXPECT_EQ(helpSearchEmptyText("  wake sleep "), "No pages mention “  wake sleep ”");
    Localization::shared().setTable({{"No pages mention “%@”", "Aucune page ne parle de « %@ »"}});
    EXPECT_EQ(helpSearchEmptyText("wake sleep"), "Aucune page ne parle de « wake sleep »");
}

TEST_F(HelpSectionTest, OnlyAHelpSectionValueOpensAPage) {
    HelpView view(services().helpPages());
    struct Case {
        std::any object;
        HelpSection expected;
    };
    const std::vector<Case> cases{
        {std::any(troubleshooting), troubleshooting},
        {std::any(std::string("acknowledgments")), troubleshooting},
        {std::any("acknowledgments"), troubleshooting},
        {std::any(), troubleshooting},
        {std::any(15), troubleshooting},
        {std::any(acknowledgments), acknowledgments},
        {std::any(whatItDoes), whatItDoes},
    };
    for (const auto& c : cases) {
        NotificationCenter::shared().post(kOpenHelpSectionNotification, c.object);
        EXPECT_EQ(view.section(), c.expected);
    }
}

}  // namespace
}  // namespace orvel
