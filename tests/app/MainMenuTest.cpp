#include "menubar/MainMenu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/AppDelegate.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

using ui::KeyboardShortcut;
using ui::MenuBarItem;
using ui::StandardAction;

class MainMenuTest : public test::SessionTest {
  protected:
    void SetUp() override {
        test::SessionTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
    }
    void TearDown() override {
        delegate.reset();
        SessionTest::TearDown();
    }
    // The menu as the application installs it: queued by the activation policy.
    void install() {
        delegate->applyActivationPolicy();
        loop().drain();
    }
    const MenuBarItem* item(const std::vector<std::string>& path) {
        const std::vector<MenuBarItem>* level = &host().mainMenu();
        const MenuBarItem* found = nullptr;
        for (const auto& title : path) {
            auto it = std::find_if(level->begin(), level->end(),
                                   [&](const MenuBarItem& m) { return m.title == title; });
            if (it == level->end()) {
                return nullptr;
            }
            found = &*it;
            level = &it->submenu;
        }
        return found;
    }
    static std::vector<std::string> titles(const std::vector<MenuBarItem>& items) {
        std::vector<std::string> out;
        for (const auto& i : items) {
            out.push_back(i.separator ? "-" : i.title);
        }
        return out;
    }
    std::vector<std::string> visibleWindows() {
        std::vector<std::string> out;
        for (auto* w : host().windows()) {
            if (w->isVisible()) {
                out.push_back(w->title());
            }
        }
        return out;
    }

    std::unique_ptr<AppDelegate> delegate;
};

constexpr unsigned kCommand = ui::kModifierCommand;

TEST_F(MainMenuTest, FourMenusTitledWithTheProcessName) {
    install();
    const auto& menus = host().mainMenu();
    EXPECT_EQ(titles(menus), (std::vector<std::string>{"Orvel", "Edit", "Window", "Help"}));
    ASSERT_EQ(menus.size(), 4u);
    EXPECT_EQ(titles(menus[0].submenu),
              (std::vector<std::string>{"About Orvel", "-", "Settings\u2026", "-", "Hide Orvel",
                                        "-", "Quit Orvel"}));
    EXPECT_EQ(titles(menus[1].submenu),
              (std::vector<std::string>{"Undo", "Redo", "-", "Cut", "Copy", "Paste", "Delete",
                                        "Select All"}));
    EXPECT_EQ(titles(menus[2].submenu),
              (std::vector<std::string>{"Minimize", "Zoom", "-", "Close"}));
    EXPECT_EQ(titles(menus[3].submenu), (std::vector<std::string>{"Orvel Help"}));

    // The name is read at each installation.
    sim().systemInfo().setProcessName("Orvel Nightly");
    install();
    EXPECT_EQ(host().mainMenu()[0].title, "Orvel Nightly");
    EXPECT_TRUE(item({"Orvel Nightly", "About Orvel Nightly"}));
    EXPECT_TRUE(item({"Orvel Nightly", "Quit Orvel Nightly"}));
    EXPECT_TRUE(item({"Help", "Orvel Nightly Help"}));
    EXPECT_TRUE(item({"Orvel Nightly", "Hide Orvel Nightly"}));

    // What only another desktop's menu bar offers is nowhere in the menu.
    std::vector<std::string> all;
    const std::function<void(const std::vector<MenuBarItem>&)> walk = [&](const auto& items) {
        for (const auto& i : items) {
            all.push_back(i.title);
            walk(i.submenu);
        }
    };
    walk(host().mainMenu());
    for (const char* absent : {"Services", "Hide Others", "Show All", "Bring All to Front"}) {
        EXPECT_EQ(std::count(all.begin(), all.end(), absent), 0) << absent;
    }
}

TEST_F(MainMenuTest, KeyEquivalentsAndWhatEachItemDoes) {
    install();
    struct Case {
        std::vector<std::string> path;
        std::optional<KeyboardShortcut> key;
        StandardAction standard;  // none: the delegate's window below
        const char* window;
    };
    const auto none = StandardAction::none;
    const auto shift = ui::kModifierShift;
    const Case cases[] = {
        {{"Orvel", "About Orvel"}, std::nullopt, none, "About Orvel"},
        {{"Orvel", "Settings\u2026"}, KeyboardShortcut{",", kCommand}, none, "Orvel Settings"},
        {{"Help", "Orvel Help"}, KeyboardShortcut{"?", kCommand}, none, "Orvel Help"},
        {{"Orvel", "Hide Orvel"}, KeyboardShortcut{"h", kCommand}, StandardAction::hide, nullptr},
        {{"Edit", "Undo"}, KeyboardShortcut{"z", kCommand}, StandardAction::undo, nullptr},
        {{"Edit", "Redo"}, KeyboardShortcut{"z", kCommand | shift}, StandardAction::redo, nullptr},
        {{"Edit", "Cut"}, KeyboardShortcut{"x", kCommand}, StandardAction::cut, nullptr},
        {{"Edit", "Copy"}, KeyboardShortcut{"c", kCommand}, StandardAction::copy, nullptr},
        {{"Edit", "Paste"}, KeyboardShortcut{"v", kCommand}, StandardAction::paste, nullptr},
        {{"Edit", "Delete"}, std::nullopt, StandardAction::deleteSelection, nullptr},
        {{"Edit", "Select All"},
         KeyboardShortcut{"a", kCommand},
         StandardAction::selectAll,
         nullptr},
        {{"Window", "Minimize"},
         KeyboardShortcut{"m", kCommand},
         StandardAction::minimize,
         nullptr},
        {{"Window", "Zoom"}, std::nullopt, StandardAction::zoom, nullptr},
        {{"Window", "Close"}, KeyboardShortcut{"w", kCommand}, StandardAction::close, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.back());
        const MenuBarItem* found = item(c.path);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->keyEquivalent, c.key);
        const std::size_t performed = host().standardActions().size();
        ASSERT_TRUE(host().performMenuItem(c.path));
        loop().drain();
        if (c.window != nullptr) {
            EXPECT_EQ(host().standardActions().size(), performed);
            ASSERT_NE(host().window(c.window), nullptr);
            EXPECT_TRUE(host().window(c.window)->isVisible());
            EXPECT_EQ(host().keyWindow(), host().window(c.window));
        } else {
            ASSERT_EQ(host().standardActions().size(), performed + 1);
            EXPECT_EQ(host().standardActions().back(), c.standard);
        }
    }
    // Close went to the key window, Help, last opened; the others stay.
    EXPECT_EQ(visibleWindows(), (std::vector<std::string>{"About Orvel", "Orvel Settings"}));
    EXPECT_FALSE(host().application().terminated()) << "hiding and showing quit nothing";

    ASSERT_TRUE(host().performMenuItem({"Orvel", "Quit Orvel"}));
    EXPECT_EQ(host().standardActions().back(), StandardAction::quit);
    EXPECT_TRUE(host().application().terminated());
}

TEST_F(MainMenuTest, InstalledTwiceIsOneMenuWithOneOfEachRole) {
    install();
    install();
    EXPECT_EQ(host().mainMenuInstalls(), 2);
    ASSERT_EQ(host().mainMenu().size(), 4u);
    EXPECT_EQ(host().menuWithRole(ui::MenuRole::services), nullptr);
    ASSERT_NE(host().menuWithRole(ui::MenuRole::windows), nullptr);
    EXPECT_EQ(host().menuWithRole(ui::MenuRole::windows)->title, "Window");
    ASSERT_NE(host().menuWithRole(ui::MenuRole::help), nullptr);
    EXPECT_EQ(host().menuWithRole(ui::MenuRole::help)->title, "Help");
}

TEST_F(MainMenuTest, ItemsOfADelegateThatIsGoneDoNothing) {
    install();
    delegate.reset();
    EXPECT_TRUE(host().performMenuItem({"Orvel", "About Orvel"}));
    EXPECT_TRUE(host().performMenuItem({"Orvel", "Settings\u2026"}));
    loop().drain();
    EXPECT_TRUE(host().windows().empty());
}

TEST_F(MainMenuTest, AnInstallationQueuedForADelegateThatIsGoneDoesNothing) {
    delegate->applyActivationPolicy();
    delegate.reset();
    loop().drain();
    EXPECT_EQ(host().mainMenuInstalls(), 0);
}

}  // namespace
}  // namespace orvel
