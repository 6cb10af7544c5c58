#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Localization.h"
#include "help/Contacts.h"
#include "help/HelpPages.h"
#include "help/HelpSection.h"
#include "help/ShownPage.h"
#include "platform/sim/SimPlatform.h"
#include "support/Catalogues.h"
#include "support/UiTest.h"
#include "ui/HeadlessHost.h"
#include "ui/Inspector.h"
#include "ui/Markdown.h"

namespace orvel::help {
namespace {

using enum HelpSection;
using ui::TextRun;

// A shown text that the host reads as Markdown: what it reads, split into runs.
struct ShownText {
    std::string key;
    std::vector<TextRun> runs;
};

void walk(const ui::View& view, const std::function<void(const ui::Node&)>& visit) {
    visit(view.node());
    for (const auto& child : view.node().children) {
        walk(child, visit);
    }
}

enum class Style { bold, italic, code };

const char* name(Style s) {
    return s == Style::bold ? "bold" : s == Style::italic ? "italic" : "code";
}

bool hasOnly(const TextRun& run, Style s) {
    return run.bold == (s == Style::bold) && run.italic == (s == Style::italic) &&
           run.code == (s == Style::code) && run.link.empty();
}

class HelpPageStylesTest : public test::UiTest {
  protected:
    void TearDown() override {
        window.reset();
        Localization::shared().setTable({});
        UiTest::TearDown();
    }
    ui::HeadlessWindow& show(HelpSection section) {
        window = host().makeWindow();
        window->setContent(std::make_shared<test::ShownPage>(services(), section));
        window->makeKeyAndOrderFront();
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window);
    }
    // The page's Markdown texts in the order shown; commands and notes are verbatim and left out.
    std::vector<ShownText> markdownTexts(HelpSection section) {
        show(section);
        std::vector<ShownText> out;
        walk(static_cast<ui::HeadlessWindow&>(*window).viewHost()->tree(), [&](const ui::Node& n) {
            if (n.kind == ui::NodeKind::text && !n.verbatim) {
                out.push_back({n.text, ui::parseInlineMarkdown(ui::rawText(n))});
            }
        });
        return out;
    }
    ui::Inspector inspect() { return static_cast<ui::HeadlessWindow&>(*window).inspect(); }

    std::unique_ptr<ui::Window> window;
};

TEST_F(HelpPageStylesTest, NamedSpansShowInTheirStyleWithoutMarkers) {
    struct Case {
        HelpSection section;
        const char* span;
        Style style;
    };
    for (const auto& c : {
             Case{sleepSwitches, "-d", Style::code},
             Case{whatItDoes, "Native", Style::bold},
             Case{triggers, "shielded", Style::italic},
             Case{triggers, "Battery & UPS safety · ALWAYS FIRST", Style::bold},
             Case{shortcuts, "Meta+Ctrl+Alt+C", Style::bold},
             Case{shortcuts, "off by default", Style::bold},
             Case{shortcuts, "Left-click toggles Orvel immediately", Style::bold},
             Case{shortcuts, "Ctrl+,", Style::bold},
             Case{shortcuts, "Ctrl+Q", Style::bold},
             Case{shortcuts, "Ctrl+W", Style::bold},
             Case{persistence, "Wake the computer", Style::bold},
             Case{persistence, "Re-enable when battery recovers", Style::bold},
             Case{troubleshooting, "Could not watch the event devices", Style::italic},
             Case{troubleshooting, "Not granted", Style::italic},
             Case{troubleshooting, "unavailable on this computer", Style::italic},
             Case{troubleshooting, "[FAIL] dims to zero", Style::italic},
             Case{troubleshooting, "systemd-inhibit --list", Style::code},
             Case{troubleshooting, "-s", Style::code},
             Case{accessibility, "high contrast", Style::bold},
             Case{accessibility, "90 seconds while a screen reader (such as Orca) is running",
                  Style::bold},
             Case{accessibility, "text scaling factor", Style::bold},
         }) {
        SCOPED_TRACE(std::string(rawValue(c.section)) + ": " + c.span + " " + name(c.style));
        const ShownText* holder = nullptr;
        const TextRun* styled = nullptr;
        const auto texts = markdownTexts(c.section);
        for (const ShownText& t : texts) {
            for (const TextRun& run : t.runs) {
                if (run.text == c.span && hasOnly(run, c.style) && styled == nullptr) {
                    holder = &t;
                    styled = &run;
                }
            }
        }
        ASSERT_NE(styled, nullptr) << "no run reads the span alone in its style";
        // The user reads the span as part of the text, its markers gone.
        const std::string shown = ui::plainText(holder->runs);
        EXPECT_NE(shown.find(c.span), std::string::npos);
        EXPECT_TRUE(inspect().contains(shown));
    }
}

TEST_F(HelpPageStylesTest, NoPageLeavesAMarkerForTheReaderToSee) {
    // An unclosed or mistyped marker stays in the text as it stands.
    for (const HelpSection s : allCases<HelpSection>()) {
        for (const ShownText& t : markdownTexts(s)) {
            const std::string shown = ui::plainText(t.runs);
            EXPECT_EQ(shown.find("**"), std::string::npos) << rawValue(s) << ": " << shown;
            EXPECT_EQ(shown.find('`'), std::string::npos) << rawValue(s) << ": " << shown;
            EXPECT_EQ(shown.find("__"), std::string::npos) << rawValue(s) << ": " << shown;
        }
    }
}

TEST_F(HelpPageStylesTest, TextsWithoutMarkersShowAsOnePlainRun) {
    struct Case {
        HelpSection section;
        std::size_t text;
    };
    for (const auto& c : {Case{accessibility, 8}, Case{whatItDoes, 0}, Case{languages, 3}}) {
        const auto texts = markdownTexts(c.section);
        ASSERT_LT(c.text, texts.size());
        const ShownText& t = texts[c.text];
        ASSERT_EQ(t.runs.size(), 1u) << t.key;
        EXPECT_EQ(t.runs[0], TextRun{t.key}) << rawValue(c.section);
    }
    // Block 9 holds the key signs as plain characters.
    const auto keyboard = markdownTexts(accessibility).at(8).runs.at(0).text;
    EXPECT_EQ(keyboard.rfind("Everything reachable by mouse", 0), 0u);
    EXPECT_NE(keyboard.find("Ctrl+, opens Settings, Ctrl+Q quits"), std::string::npos);
}

TEST_F(HelpPageStylesTest, TheDrivesPageWritesTheFlagWithAHyphenAndTheBatteryPageWithAMinus) {
    const std::string hyphen = "-m";
    const std::string minus = "−m";  // U+2212
    auto shownJoined = [&](HelpSection s) {
        std::string all;
        for (const ShownText& t : markdownTexts(s)) {
            all += ui::plainText(t.runs) + "\n";
        }
        return all;
    };
    const std::string drivesText = shownJoined(drives);
    EXPECT_NE(drivesText.find("Prevent Disk Sleep (" + hyphen + ")"), std::string::npos);
    EXPECT_NE(drivesText.find("Turn " + hyphen + " back on manually"), std::string::npos);
    EXPECT_EQ(drivesText.find(minus), std::string::npos);
    const std::string batteryText = shownJoined(batteryPower);
    EXPECT_NE(batteryText.find("the global " + minus + " flag"), std::string::npos);
    EXPECT_EQ(batteryText.find(" " + hyphen + " "), std::string::npos);
    EXPECT_EQ(batteryText.find("(" + hyphen + ")"), std::string::npos);
}

TEST_F(HelpPageStylesTest, EachAddressOpensItsMailtoURLOnceWhenClicked) {
    struct Case {
        HelpSection section;
        const char* address;
    };
    for (const auto& c :
         {Case{languages, kSupportAddress}, Case{troubleshooting, kFeedbackAddress}}) {
        SCOPED_TRACE(rawValue(c.section));
        const std::size_t before = sim().workspace().openedURLs().size();
        show(c.section);
        const std::string url = std::string("mailto:") + c.address;
        ASSERT_TRUE(inspect().clickLink(url)) << inspect().lastFailure();
        ASSERT_EQ(sim().workspace().openedURLs().size(), before + 1);
        EXPECT_EQ(sim().workspace().openedURLs().back(), url);
        // The address the user reads is the link's words.
        ASSERT_TRUE(inspect().clickLink(c.address)) << inspect().lastFailure();
        ASSERT_EQ(sim().workspace().openedURLs().size(), before + 2);
        EXPECT_EQ(sim().workspace().openedURLs().back(), url);
    }
    // Each page links only its own address.
    show(languages);
    EXPECT_FALSE(inspect().clickLink(std::string("mailto:") + kFeedbackAddress));
    show(troubleshooting);
    EXPECT_FALSE(inspect().clickLink(std::string("mailto:") + kSupportAddress));
    EXPECT_EQ(sim().workspace().openedURLs().size(), 4u);
}

TEST_F(HelpPageStylesTest, AClickOnNoLinkOrAFailedOpenSaysSoAndOpensNothing) {
    show(commandLine);
    ui::Inspector page = inspect();
    // A command's words are verbatim text, never a link.
    EXPECT_FALSE(page.clickLink("caffeinate -d"));
    EXPECT_FALSE(page.clickLink("mailto:"));
    EXPECT_NE(page.lastFailure().find("no shown text links to"), std::string::npos);
    EXPECT_TRUE(sim().workspace().openedURLs().empty());

    show(languages);
    sim().workspace().failNextOpen("no mail client");
    ui::Inspector languagesPage = inspect();
    EXPECT_FALSE(languagesPage.clickLink(kSupportAddress));
    EXPECT_NE(languagesPage.lastFailure().find("no mail client"), std::string::npos);
    EXPECT_TRUE(languagesPage.clickLink(kSupportAddress)) << "only the next open was to fail";
}

TEST_F(HelpPageStylesTest, ATranslatedTextLinksWhereItsTranslationPoints) {
    // The link is found in the text as shown, so a translated page's target is the one opened.
    test::writeTranslatedHelpPage(sim().paths().resourcesDirectory(), "es", "languages",
                                  "Escríbenos: [soporte](mailto:es@orvel.example)\n");
    const test::ScopedLanguage spanish(ORVEL_TEST_LOCALE, "es");
    show(languages);
    ASSERT_TRUE(inspect().clickLink("soporte")) << inspect().lastFailure();
    EXPECT_FALSE(inspect().clickLink(kSupportAddress));
    ASSERT_EQ(sim().workspace().openedURLs().size(), 1u);
    EXPECT_EQ(sim().workspace().openedURLs().back(), "mailto:es@orvel.example");
}

TEST_F(HelpPageStylesTest, NoCatalogueEntryReplacesAPagesText) {
    const std::string heading = "Sleep and wake";
    const std::string paragraph =
        "Only true system sleep counts. Display sleep and screen lock don't end anything.";
    Localization::shared().setTable({
        {heading, "Reposo y activación"},
        {paragraph, "x"},
        // Table rows name features and permissions as they stand.
        {"All sleep prevention", "z"},
    });
    show(persistence);
    ui::Inspector page = inspect();
    EXPECT_FALSE(page.contains("Reposo y activación"));
    EXPECT_TRUE(page.contains(heading));
    EXPECT_TRUE(page.contains(paragraph));
    show(permissions);
    EXPECT_TRUE(inspect().contains("All sleep prevention"));
    EXPECT_FALSE(inspect().contains("z"));
}

}  // namespace
}  // namespace orvel::help
