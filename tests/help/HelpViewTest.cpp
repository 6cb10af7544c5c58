#include "help/HelpView.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "foundation/NotificationCenter.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using enum HelpSection;

std::vector<std::string> titles(const std::vector<HelpSection>& sections) {
    std::vector<std::string> out;
    for (const HelpSection s : sections) {
        out.push_back(title(s));
    }
    return out;
}

std::vector<std::string> allTitles() {
    const auto all = allCases<HelpSection>();
    return titles(std::vector<HelpSection>(all.begin(), all.end()));
}

class HelpViewTest : public test::SessionTest {
  protected:
    void SetUp() override {
        test::SessionTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
    }
    void TearDown() override {
        delegate.reset();
        SessionTest::TearDown();
    }
    ui::HeadlessWindow& help() {
        delegate->showHelp();
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*delegate->helpWindow);
    }
    HelpView& view() { return dynamic_cast<HelpView&>(*help().content()); }
    ui::Inspector ui() { return help().inspect(); }
    // The page's heading: the title in the detail's 22-point type.
    bool headed(HelpSection s) {
        return ui().dump().find("Text \"" + title(s) + "\" font=22 semibold") != std::string::npos;
    }
    void post(HelpSection s) {
        help();
        NotificationCenter::shared().post(kOpenHelpSectionNotification, s);
        loop().drain();
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(HelpViewTest, FirstOpensOnWhatOrvelDoesWithEveryPageListed) {
    EXPECT_EQ(ui().listRows(), allTitles());
    EXPECT_EQ(ui().selectedRow(), "What Orvel does");
    EXPECT_TRUE(headed(whatItDoes));
    EXPECT_FALSE(ui().contains(helpSearchEmptyText("")));
}

TEST_F(HelpViewTest, EachPostedPageIsHighlightedAndHeadedAndAClickedRowToo) {
    help();
    for (const HelpSection s : allCases<HelpSection>()) {
        post(s);
        EXPECT_EQ(ui().selectedRow(), title(s));
        EXPECT_TRUE(headed(s)) << title(s);
    }
    ASSERT_TRUE(ui().selectRow("Triggers"));
    loop().drain();
    EXPECT_EQ(view().section(), triggers);
    EXPECT_TRUE(headed(triggers));
}

TEST_F(HelpViewTest, SearchingFiltersTheRowsAndNeverChangesThePage) {
    post(drives);
    struct Case {
        const char* query;
        std::vector<std::string> rows;
        std::optional<std::string> highlighted;
    };
    const std::vector<Case> cases{
        {"systemd-inhibit", {"Command line equivalents", "Troubleshooting"}, std::nullopt},
        {"  wake sleep ", {}, std::nullopt},
        {"orvel", {"What Orvel does", "Drive keep-alive"}, "Drive keep-alive"},
        {" \t ", allTitles(), "Drive keep-alive"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        ASSERT_TRUE(ui().clearText("Search Help"));
        ASSERT_TRUE(ui().type("Search Help", c.query));
        loop().drain();
        EXPECT_EQ(ui().listRows(), c.rows);
        EXPECT_EQ(ui().selectedRow(), c.highlighted);
        EXPECT_EQ(ui().contains(helpSearchEmptyText(c.query)), c.rows.empty());
        EXPECT_EQ(view().section(), drives);
        EXPECT_TRUE(headed(drives));
    }
    EXPECT_TRUE(ui().clearText("Search Help"));
    loop().drain();
    EXPECT_EQ(ui().listRows(), allTitles());
}

// Return in the search field opens the first page found, highlighted; with nothing found the
// page stays.
TEST_F(HelpViewTest, ReturnInTheSearchOpensTheFirstPageFound) {
    post(drives);
    struct Case {
        const char* query;
        HelpSection shown;
    };
    const Case cases[] = {
        {"systemd-inhibit", commandLine},
        {" ups ", triggers},
        {"wake sleep", triggers},
        {" \t ", triggers},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        ASSERT_TRUE(ui().clearText("Search Help"));
        ASSERT_TRUE(ui().type("Search Help", c.query));
        ASSERT_TRUE(ui().submit("Search Help"));
        loop().drain();
        EXPECT_EQ(view().section(), c.shown);
        EXPECT_TRUE(headed(c.shown));
        if (!ui().listRows().empty()) {
            EXPECT_EQ(ui().selectedRow(), title(c.shown));
        }
    }
}

TEST_F(HelpViewTest, APageOpenedWhileTheSearchHidesItShowsWithoutAHighlight) {
    ASSERT_TRUE(ui().type("Search Help", "systemd-inhibit"));
    post(acknowledgments);
    EXPECT_EQ(view().section(), acknowledgments);
    EXPECT_EQ(view().query(), "systemd-inhibit");
    EXPECT_TRUE(headed(acknowledgments));
    EXPECT_EQ(ui().selectedRow(), std::nullopt);
    ASSERT_TRUE(ui().selectRow("Troubleshooting"));
    loop().drain();
    EXPECT_EQ(ui().selectedRow(), "Troubleshooting");
}

TEST_F(HelpViewTest, ClosingAndReopeningKeepsThePageAndTheSearch) {
    ASSERT_TRUE(ui().type("Search Help", "sleep"));
    ASSERT_TRUE(ui().selectRow("Sleep, wake and restart"));
    loop().drain();
    help().userClose();
    EXPECT_EQ(ui().control("Search Help")->node->textBinding.get(), "sleep");
    EXPECT_EQ(view().section(), persistence);
    EXPECT_EQ(ui().selectedRow(), "Sleep, wake and restart");
}

TEST_F(HelpViewTest, NeverLaysOutSmallerThanItsLimits) {
    const std::string dump = ui().dump();
    EXPECT_NE(dump.find("Frame minWidth=820 minHeight=560"), std::string::npos) << dump;
    EXPECT_NE(dump.find("SplitView sidebar=190/210/260"), std::string::npos) << dump;
}

TEST_F(HelpViewTest, AcknowledgmentsListsTheComponentsAndOpensOneAgreementWindow) {
    const std::string resources = sim().paths().resourcesDirectory();
    fs::create_directories(resources);
    fs::copy(std::string(ORVEL_RESOURCES) + "/licenses", resources + "/licenses");
    fs::copy_file(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md",
                  resources + "/eula-1.0-draft.md");
    post(acknowledgments);
    for (const char* text :
         {"Qt 6", "OpenSSL 3", "nlohmann-json", "libsystemd", "ICU", "libxcb", "License Agreement",
          "Orvel itself is licensed under the End User License Agreement."}) {
        EXPECT_TRUE(ui().contains(text)) << text;
    }
    for (int press = 0; press < 2; ++press) {
        ASSERT_TRUE(ui().click("View License Agreement"));
        loop().drain();
    }
    int shown = 0;
    for (auto* w : host().windows()) {
        shown += w->title().starts_with("License Agreement") && w->isVisible() ? 1 : 0;
    }
    EXPECT_EQ(shown, 1);
}

TEST_F(HelpViewTest, AcknowledgmentsWithoutItsListSaysSoAndKeepsTheAgreement) {
    post(acknowledgments);
    const auto texts = ui().texts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::string& t) {
        return t.find("components.json") != std::string::npos;
    }));
    EXPECT_TRUE(ui().control("View License Agreement").has_value());
}

}  // namespace
}  // namespace orvel
