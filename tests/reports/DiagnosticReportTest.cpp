#include "reports/DiagnosticReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "devices/InputBlocker.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticsFixture.h"
#include "reports/ReportWords.h"
#include "support/UiTest.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

using test::Machine;

std::size_t codePoints(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

class DiagnosticReportTest : public test::UiTest {};

TEST_F(DiagnosticReportTest, ReportsOfALaptopADesktopAndAClosedLidReadAsTheGoldenFiles) {
    for (const Machine machine : {Machine::laptop, Machine::desktop, Machine::closedLid}) {
        SCOPED_TRACE(test::machineName(machine));
        TearDown();
        SetUp();
        test::buildMachine(sim(), host(), machine);
        const auto text = services().diagnosticReport().copyForSupport(false, false);
        ASSERT_TRUE(text);
        EXPECT_EQ(host().pasteboard().string(), text);
        test::expectGolden(std::string("report-") + test::machineName(machine) + ".txt", *text);
    }
}

TEST_F(DiagnosticReportTest, HeadersAreFiftySixWideUpToFiftyTwoCharactersOfName) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"SYSTEM", 56},
        {std::string(52, 'N'), 56},
        {std::string(53, 'N'), 57},
        {"\u00C9T\u00C9", 56},  // code points, not bytes
    };
    for (const auto& [name, width] : cases) {
        const std::string header = DiagnosticReport::sectionHeader(name);
        EXPECT_EQ(codePoints(header), width) << name;
        EXPECT_EQ(header.rfind("\u2500\u2500 " + name + " ", 0), 0u) << name;
    }
    EXPECT_EQ(
        DiagnosticReport::sectionHeader("SYSTEM"), "\u2500\u2500 SYSTEM " + [] {
            std::string rule;
            for (int i = 0; i < 46; ++i) {
                rule += "\u2500";
            }
            return rule;
        }());
    const std::string triggers = services().triggerEngine().diagnosticSection(false);
    EXPECT_EQ(codePoints(triggers.substr(0, triggers.find('\n'))), 55u);
}

TEST_F(DiagnosticReportTest, UnreadableValuesPrintTheirFixedWords) {
    sim().displays().setReadable(SimDisplays::kBuiltInID, false);
    sim().powerAssertions().setStatusUnreadable(true);
    const auto display = services().diagnosticReport().displayLines();
    EXPECT_EQ(display[2], "  built-in brightness: unreadable");
    const double start = loop().uptime();
    EXPECT_EQ(services().diagnosticReport().powerAssertionLines(),
              std::vector<std::string>{"  unreadable"});
    EXPECT_DOUBLE_EQ(loop().uptime() - start, DiagnosticReport::kAssertionListingWait);
    sim().powerAssertions().setStatusUnreadable(false);
    sim().powerAssertions().setOtherHolders({{"PreventSystemSleep", 0}});
    EXPECT_EQ(services().diagnosticReport().powerAssertionLines(),
              std::vector<std::string>{"  none held"});
    EXPECT_EQ(services().diagnosticReport().inputDevicesSection(),
              std::vector<std::string>{"  none found"})
        << "without the HID-access flag nothing is listed";
}

TEST_F(DiagnosticReportTest, TheCallerPutsTheHidFlagBackAndAppendsAndRedactsOnRequest) {
    test::buildMachine(sim(), host(), Machine::laptop);
    for (const bool raised : {false, true}) {
        std::optional<InputBlocker::HidAccessScope> outer;
        if (raised) {
            outer.emplace(services().inputBlocker());
        }
        const auto text = services().diagnosticReport().copyForSupport(true, true);
        ASSERT_TRUE(text);
        EXPECT_EQ(services().inputBlocker().hidAccess(), raised);
        EXPECT_NE(text->find("  INTERNAL \u2014 id-"), std::string::npos) << *text;
        EXPECT_TRUE(text->ends_with("\n\n" + services().conflictsReport().text())) << *text;
    }
}

TEST_F(DiagnosticReportTest, TheConflictsSectionIsAppendedOnlyWhenAsked) {
    const auto bare = services().diagnosticReport().forSupport(false, false);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->find("CONFLICTS"), std::string::npos) << *bare;
    EXPECT_EQ(services().diagnosticReport().forSupport(true, false),
              *bare + "\n\n" + services().conflictsReport().text());
}

TEST_F(DiagnosticReportTest, TheModelIsTheSystemsOrUnknown) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"ThinkPad X1 Carbon Gen 9", "  model ThinkPad X1 Carbon Gen 9"},
        {std::string(), "  model unknown"},
        {std::nullopt, "  model unknown"},
    };
    for (const auto& [model, line] : cases) {
        sim().systemInfo().setHardwareModel(model);
        EXPECT_EQ(services().diagnosticReport().systemLines().at(1), line);
    }
}

TEST_F(DiagnosticReportTest, DisplayLinesFollowTheHostsScreensAndTheLaptopRule) {
    struct Case {
        const char* what;
        std::optional<int> chassis;
        bool batteries;
        bool panelOnline;
        const char* hasPanel;
    };
    const Case cases[] = {
        {"laptop, lid closed, battery taken out", 10, false, false, "true"},
        {"desktop with a UPS-like internal battery", 3, true, false, "false"},
        {"all-in-one", 13, false, true, "true"},
        {"unknown chassis, no panel", std::nullopt, false, false, "false"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        sim().systemInfo().setHardwareModel("Board");
        sim().systemInfo().setChassisType(c.chassis);
        if (!c.batteries) {
            sim().powerSources().removeBatteries();
        }
        sim().displays().setOnline(SimDisplays::kBuiltInID, c.panelOnline);
        EXPECT_EQ(services().diagnosticReport().displayLines().at(0),
                  std::string("  has built-in panel: ") + c.hasPanel);
    }
    host().setScreens({{{0, 0, 1440.7, 900.2}, "eDP-1"}, {{1440, 0, 3840, 2160}, "DP-2"}});
    auto lines = services().diagnosticReport().displayLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
              (std::vector<std::string>{"  screen 1440\u00D7900 \u2014 eDP-1",
                                        "  screen 3840\u00D72160 \u2014 DP-2"}));
    host().setScreens({});
    EXPECT_EQ(services().diagnosticReport().displayLines().size(), 3u)
        << "no screens, no screen lines";
}

TEST_F(DiagnosticReportTest, APressWhileTheReportWaitsForTheAssertionListingDoesNothing) {
    sim().powerAssertions().setStatusUnreadable(true);  // the report waits its full second
    host().pasteboard().setString("before");
    std::optional<std::optional<std::string>> second;
    std::optional<std::string> pasteboardThen;
    const Timer press = loop().after(
        0.5,
        [&] {
            second = services().diagnosticReport().copyForSupport(true, false);
            pasteboardThen = host().pasteboard().string();
        },
        TimerMode::Common);
    const auto first = services().diagnosticReport().copyForSupport(true, false);
    ASSERT_TRUE(second.has_value()) << "the second press came during the wait";
    EXPECT_FALSE(*second);
    EXPECT_EQ(pasteboardThen, "before");
    ASSERT_TRUE(first);
    EXPECT_EQ(host().pasteboard().string(), first);
}

TEST_F(DiagnosticReportTest, EveryWordTheGoldenTextsWriteIsAFormatWordOrTheMachinesData) {
    const std::set<std::string> data = {
        "Apple",    "Built",      "DELL",     "Debian",   "Display",  "Energy",   "FHD",
        "GNU",      "HDR",        "Internal", "Keyboard", "Keychron", "LG",       "Linux",
        "MX",       "Master",     "OptiPlex", "Retina",   "SPI",      "Trackpad", "USB",
        "bookworm", "caffeinate", "libexec",  "orvel",    "usr"};
    for (const char* name : {"audit-fresh", "report-laptop", "report-desktop", "report-closed-lid",
                             "selftest-laptop", "selftest-desktop", "selftest-closed-lid"}) {
        std::ifstream in(std::string(ORVEL_TEST_DATA) + "/diagnostics/" + name + ".txt");
        ASSERT_TRUE(in) << name;
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string word;
        for (const char c : text + " ") {
            if (std::isalnum(static_cast<unsigned char>(c))) {
                word += c;
                continue;
            }
            const bool hasDigit = std::any_of(word.begin(), word.end(), [](char d) {
                return std::isdigit(static_cast<unsigned char>(d));
            });
            if (!word.empty() && !hasDigit && !data.contains(word)) {
                EXPECT_TRUE(isReportFormatWord(word)) << word << " in " << name;
            }
            word.clear();
        }
    }
}

}  // namespace
}  // namespace orvel
