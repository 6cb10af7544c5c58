#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "help/HelpSection.h"
#include "help/HelpView.h"
#include "help/ShownPage.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using enum HelpSection;

class AppHelpTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
        // The Acknowledgments page reads the licences beside the program.
        const std::string resources = sim().paths().resourcesDirectory();
        fs::create_directories(resources);
        fs::copy(std::string(ORVEL_RESOURCES) + "/licenses", resources + "/licenses");
    }
    void TearDown() override {
        delegate.reset();
        SessionTest::TearDown();
    }
    ui::HeadlessWindow& helpWindow() {
        return static_cast<ui::HeadlessWindow&>(*delegate->helpWindow);
    }
    // The texts the page shows on its own, rendered apart from the window.
    std::vector<std::string> pageTexts(HelpSection section) {
        auto alone = host().makeWindow();
        alone->setContent(std::make_shared<test::ShownPage>(services(), section));
        alone->makeKeyAndOrderFront();
        loop().drain();
        auto texts = static_cast<ui::HeadlessWindow&>(*alone).inspect().texts();
        alone->close();
        return texts;
    }
    // Whether the Help window shows `section`: its row highlighted (unless the search hides
    // it), its title over the detail and, under it, the page's texts and nothing after them.
    void expectShown(HelpSection section, bool listed = true) {
        SCOPED_TRACE(std::string(rawValue(section)));
        ASSERT_TRUE(delegate->helpWindow);
        ui::HeadlessWindow& window = helpWindow();
        EXPECT_TRUE(window.isVisible() && window.isKey());
        const ui::Inspector ui = window.inspect();
        if (listed) {
            EXPECT_EQ(ui.selectedRow(), title(section));
        } else {
            EXPECT_EQ(ui.selectedRow(), std::nullopt);
        }
        const std::vector<std::string> page = pageTexts(section);
        const std::vector<std::string> shown = ui.texts();
        ASSERT_FALSE(page.empty());
        ASSERT_GT(shown.size(), page.size());
        EXPECT_EQ(
            std::vector<std::string>(shown.end() - static_cast<long>(page.size()), shown.end()),
            page);
        EXPECT_EQ(shown[shown.size() - page.size() - 1], title(section));
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppHelpTest, EachSectionAskedForOpensTheHelpWindowOnThatPage) {
    // A window made by the request, then the same window asked again for each page in turn,
    // backwards so that every page is reached from another one.
    for (const HelpSection s : allCases<HelpSection>()) {
        delegate = std::make_unique<AppDelegate>(services());
        delegate->showHelpSection(s);
        loop().drain();
        expectShown(s);
    }
    const auto all = allCases<HelpSection>();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        delegate->showHelpSection(*it);
        loop().drain();
        expectShown(*it);
    }
}

TEST_F(AppHelpTest, HelpWithoutASectionKeepsThePageLastShown) {
    delegate->showHelp();
    loop().drain();
    expectShown(whatItDoes);
    delegate->showHelpSection(permissions);
    loop().drain();
    helpWindow().userClose();
    delegate->showHelp();
    loop().drain();
    expectShown(permissions);
}

TEST_F(AppHelpTest, SearchingForAWordOfAPageOnlyFindsNothingAndKeepsThePage) {
    delegate->showHelpSection(troubleshooting);
    loop().drain();
    ui::Inspector ui = helpWindow().inspect();
    // The word is on the page the user reads, but the search knows titles and keywords only.
    bool onPage = false;
    for (const std::string& text : ui.texts()) {
        onPage = onPage || text.find("keyring") != std::string::npos;
    }
    ASSERT_TRUE(onPage);
    ASSERT_TRUE(ui.type("Search Help", "keyring")) << ui.lastFailure();
    loop().drain();
    ui = helpWindow().inspect();
    EXPECT_TRUE(ui.listRows().empty());
    EXPECT_TRUE(ui.contains(helpSearchEmptyText("keyring")));
    expectShown(troubleshooting, /*listed=*/false);
    // A keyword finds its page.
    ASSERT_TRUE(ui.clearText("Search Help"));
    ASSERT_TRUE(ui.type("Search Help", "systemd-inhibit"));
    loop().drain();
    const auto rows = helpWindow().inspect().listRows();
    EXPECT_NE(std::find(rows.begin(), rows.end(), title(troubleshooting)), rows.end());
}

}  // namespace
}  // namespace orvel
