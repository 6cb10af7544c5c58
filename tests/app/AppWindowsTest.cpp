#include <gtest/gtest.h>

#include <limits>

#include "app/AppDelegate.h"
#include "help/HelpView.h"
#include "menubar/CustomDurationView.h"
#include "platform/UserDefaults.h"
#include "support/SessionTest.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

class AppWindowsTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
        sim().powerSources().setOnAC(true);
    }
    void TearDown() override {
        delegate.reset();
        SessionTest::TearDown();
    }
    ui::HeadlessWindow& headless(const std::unique_ptr<ui::Window>& window) {
        return static_cast<ui::HeadlessWindow&>(*window);
    }
    std::vector<ui::HeadlessWindow*> visible(const std::string& title) {
        std::vector<ui::HeadlessWindow*> found;
        for (auto* w : host().windows()) {
            if (w->title() == title && w->isVisible()) {
                found.push_back(w);
            }
        }
        return found;
    }

    // "Until an app quits…" shows the application chooser, where "Other…" runs the file panel
    // the test scripted.
    void chooseThroughOther() {
        delegate->chooseAppToWatch();
        loop().drain();
        ASSERT_TRUE(delegate->appChooserWindow);
        ASSERT_TRUE(headless(delegate->appChooserWindow).inspect().click("Other\u2026"));
        loop().drain();
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppWindowsTest, HelpAtAPageWhileOpenSwitchesThePageAndKeepsTheWindow) {
    delegate->showHelp();
    loop().drain();
    ASSERT_TRUE(delegate->helpWindow);
    ui::HeadlessWindow& window = headless(delegate->helpWindow);
    auto* view = dynamic_cast<HelpView*>(window.content().get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->section(), HelpSection::whatItDoes);
    EXPECT_EQ(window.contentSize(), (ui::Rect{0, 0, 900, 620}));
    EXPECT_EQ(window.style(), 15u | ui::kWindowClosesOnEscape);
    view->query = "pmset";

    delegate->showHelpSection(HelpSection::troubleshooting);
    EXPECT_EQ(view->section(), HelpSection::whatItDoes) << "the page changes on the next turn";
    loop().drain();
    EXPECT_EQ(view->section(), HelpSection::troubleshooting);
    EXPECT_EQ(&headless(delegate->helpWindow), &window) << "the same window";
    EXPECT_EQ(window.centerCount(), 1) << "not placed again";
    EXPECT_EQ(view->query(), "pmset") << "the search is kept";
    EXPECT_TRUE(window.inspect().contains("Troubleshooting"));

    window.userClose();
    delegate->showHelpSection(HelpSection::acknowledgments);
    loop().drain();
    EXPECT_TRUE(window.isVisible() && window.isKey());
    EXPECT_EQ(view->section(), HelpSection::acknowledgments);
}

TEST_F(AppWindowsTest, SettingsIsOneWindowCentredOnlyWithoutASavedFrame) {
    struct Case {
        bool savedFrame;
        int centred;
    };
    for (const auto c : {Case{false, 1}, Case{true, 0}}) {
        delegate = std::make_unique<AppDelegate>(services());
        sim().userDefaults().removeObject("NSWindow Frame OrvelSettingsWindow");
        if (c.savedFrame) {
            sim().userDefaults().setString("NSWindow Frame OrvelSettingsWindow", "100 120 800 500");
        }
        delegate->openSettings();
        ui::HeadlessWindow& window = headless(delegate->settingsWindow);
        window.userClose();
        delegate->openSettings();
        EXPECT_EQ(&headless(delegate->settingsWindow), &window);
        EXPECT_EQ(visible("Orvel Settings").size(), 1u);
        EXPECT_EQ(window.centerCount(), c.centred) << "saved frame: " << c.savedFrame;
        EXPECT_EQ(window.autosaveName(), "OrvelSettingsWindow");
        EXPECT_EQ(window.contentMinSize(), (ui::Rect{0, 0, 675, 280}));
        EXPECT_EQ(window.contentMaxSize().width, 900);
        EXPECT_EQ(window.contentMaxSize().height, std::numeric_limits<double>::max());
        EXPECT_EQ(window.contentSize(), (ui::Rect{0, 0, 900, 560}));
    }
}

TEST_F(AppWindowsTest, AboutHasAHiddenTransparentTitleBarAndMovesByItsBackground) {
    delegate->showAbout();
    ui::HeadlessWindow& window = headless(delegate->aboutWindow);
    EXPECT_EQ(window.title(), "About Orvel");
    EXPECT_EQ(window.style(), 0x8003u | ui::kWindowClosesOnEscape);
    EXPECT_TRUE(window.titlebarAppearsTransparent());
    EXPECT_TRUE(window.titleHidden());
    EXPECT_TRUE(window.movableByWindowBackground());
    EXPECT_EQ(window.centerCount(), 1);
    loop().drain();
    EXPECT_TRUE(window.inspect().contains("Orvel"));
}

TEST_F(AppWindowsTest, CustomDurationTwiceLeavesOneVisibleWindowTheSecond) {
    prefs().customSeconds = 5400;
    delegate->showCustomDuration();
    ui::Window* first = delegate->customDurationWindow.get();
    prefs().customSeconds = 3661;
    delegate->showCustomDuration();
    loop().drain();
    ASSERT_NE(delegate->customDurationWindow.get(), first);
    const auto shown = visible("Custom Duration");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], delegate->customDurationWindow.get());
    EXPECT_EQ(shown[0]->style(), 3u | ui::kWindowClosesOnEscape);
    auto* view = dynamic_cast<CustomDurationView*>(shown[0]->content().get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->hours(), 1);
    EXPECT_EQ(view->minutes(), 1);

    ASSERT_TRUE(shown[0]->inspect().click("Set"));
    loop().drain();
    EXPECT_EQ(delegate->customDurationWindow, nullptr) << "done closes and forgets the window";
    EXPECT_TRUE(visible("Custom Duration").empty());
    EXPECT_EQ(prefs().customSeconds(), 3660);
}

TEST_F(AppWindowsTest, MakeThisARuleStagesADisabledAppRuleAndOpensSettings) {
    const RunningApplication editor =
        sim().workspace().launch(std::string("org.example.Editor"), std::string("Editor"));
    controller().watchApp(editor);
    loop().drain();
    ASSERT_TRUE(controller().isActive());
    // The Settings window is not there yet while the keys are written, the first time.
    std::vector<std::string> written;
    Subscription writes = sim().userDefaults().changed.subscribe([&](const std::string& key) {
        if (key == "apps.pendingExpand" || key == "atSubTab" || key == "settingsTabSelection") {
            written.push_back(key + (delegate->settingsWindow ? " (Settings made)" : ""));
        }
    });
    for (int i = 0; i < 2; ++i) {
        delegate->makeRuleFromWatchedApp();
    }
    // The Apps sub-tab coming on screen takes the first id; the second waits for its next showing.
    EXPECT_EQ(written,
              (std::vector<std::string>{
                  "apps.pendingExpand", "atSubTab", "settingsTabSelection",
                  "apps.pendingExpand (Settings made)", "apps.pendingExpand (Settings made)",
                  "atSubTab (Settings made)", "settingsTabSelection (Settings made)"}));
    const auto& rules = services().triggerEngine().rules();
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_NE(rules[0].id, rules[1].id);
    for (const auto& rule : rules) {
        EXPECT_EQ(rule.source, TriggerSource::app);
        EXPECT_FALSE(rule.enabled);
        EXPECT_EQ(rule.name, "Editor");
        EXPECT_EQ(rule.appName, "Editor");
        EXPECT_EQ(rule.appBundleID, "org.example.Editor");
        EXPECT_EQ(rule.onAppear, TriggerAction::startSession);
        EXPECT_EQ(rule.onClear, TriggerAction::endSession);
    }
    UserDefaults& d = sim().userDefaults();
    EXPECT_EQ(d.stringForKey("apps.pendingExpand"), rules[1].id.uuidString());
    EXPECT_EQ(d.integerForKey("atSubTab"), 5);
    EXPECT_EQ(d.integerForKey("settingsTabSelection"), 1);
    ASSERT_TRUE(delegate->settingsWindow);
    EXPECT_TRUE(delegate->settingsWindow->isVisible());
    EXPECT_TRUE(controller().isActive()) << "the session is untouched";
    EXPECT_EQ(controller().watchedAppName(), "Editor");
}

TEST_F(AppWindowsTest, TheChooserWatchesARunningApplicationWithoutASecondCopy) {
    const std::string path = "/sim/applications/org.example.Editor.desktop";
    sim().workspace().launch(std::string("org.example.Other"), std::string("Other"),
                             ActivationPolicy::regular,
                             std::string("/sim/applications/org.example.Other.desktop"));
    const RunningApplication editor = sim().workspace().launch(
        std::string("org.example.Editor"), std::string("Editor"), ActivationPolicy::regular, path);
    sim().workspace().install(path, "org.example.Editor", "Editor");
    host().scriptOpenPanel(std::vector<std::string>{path});
    chooseThroughOther();

    ASSERT_EQ(host().openPanelsShown().size(), 1u);
    const ui::OpenPanelOptions& panel = host().openPanelsShown()[0];
    EXPECT_EQ(panel.title, "Stay awake until this app quits");
    EXPECT_EQ(panel.prompt, "Watch");
    EXPECT_EQ(panel.allowedExtensions, std::vector<std::string>{"desktop"});
    EXPECT_EQ(panel.directory, "/sim/applications");
    EXPECT_TRUE(panel.canChooseFiles);
    EXPECT_FALSE(panel.canChooseDirectories);
    EXPECT_FALSE(panel.allowsMultipleSelection);
    EXPECT_TRUE(sim().workspace().openedApplications().empty()) << "not launched again";
    EXPECT_EQ(sim().workspace().runningApplications().size(), 2u);
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(controller().watchedAppName(), "Editor");
    EXPECT_EQ(controller().preset(), DurationPreset::untilAppQuits);

    sim().workspace().quit(editor.processIdentifier);
    loop().drain();
    EXPECT_FALSE(controller().isActive()) << "the session ends with the application";
}

TEST_F(AppWindowsTest, TheChooserLaunchesAnApplicationThatIsNotRunningThenWatchesIt) {
    const std::string path = "/sim/applications/org.example.Editor.desktop";
    sim().workspace().install(path, "org.example.Editor", "Editor");
    sim().workspace().setOpenApplicationDelay(4);
    host().scriptOpenPanel(std::vector<std::string>{path});
    chooseThroughOther();
    EXPECT_EQ(sim().workspace().openedApplications(), std::vector<std::string>{path});
    EXPECT_FALSE(controller().isActive()) << "not before it runs";

    loop().advance(4);
    loop().drain();
    const auto running = sim().workspace().runningApplications();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].bundleURL, path);
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(controller().watchedAppName(), "Editor");
    EXPECT_TRUE(host().alerts().empty());

    sim().workspace().quit(running[0].processIdentifier);
    loop().drain();
    EXPECT_FALSE(controller().isActive());
}

TEST_F(AppWindowsTest, AnApplicationThatCannotBeLaunchedIsExplainedInAnAlert) {
    struct Case {
        std::optional<std::string> failure;  // scripted; none: nothing is installed there
        std::string reason;
    };
    const std::string path = "/sim/applications/org.example.Editor.desktop";
    const Case cases[] = {
        {std::nullopt, "There is no application at " + path + "."},
        {std::string("Editor did not start within 10 seconds."),
         "Editor did not start within 10 seconds."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        if (c.failure) {
            sim().workspace().install(path, "org.example.Editor", "Editor");
            sim().workspace().failNextOpenApplication(*c.failure);
        }
        const std::size_t shown = host().alerts().size();
        host().scriptOpenPanel(std::vector<std::string>{path});
        host().scriptAlert(ui::HeadlessHost::answer(ui::kAlertFirstButtonReturn));
        chooseThroughOther();
        ASSERT_EQ(host().alerts().size(), shown + 1);
        const ui::AlertContent& alert = host().alerts().back()->content();
        EXPECT_EQ(alert.messageText, "\u201Corg.example.Editor\u201D could not be opened");
        EXPECT_EQ(alert.informativeText, c.reason);
        EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
        EXPECT_FALSE(controller().isActive());
        EXPECT_TRUE(sim().workspace().runningApplications().empty());
    }
}

TEST_F(AppWindowsTest, ACancelledChooserChangesNothing) {
    statusItem().showPopover();
    ASSERT_TRUE(host().popovers().back()->isShown());
    host().scriptOpenPanel(std::nullopt);
    chooseThroughOther();
    EXPECT_FALSE(host().popovers().back()->isShown()) << "the panel closes first";
    ASSERT_TRUE(headless(delegate->appChooserWindow).inspect().click("Cancel"));
    loop().drain();
    EXPECT_FALSE(delegate->appChooserWindow->isVisible());
    EXPECT_EQ(host().openPanelsShown().size(), 1u);
    EXPECT_TRUE(sim().workspace().openedApplications().empty());
    EXPECT_TRUE(host().alerts().empty());
    EXPECT_FALSE(controller().isActive());
}

// The chooser offers only what a start accepts: each application it lists, running or not, starts
// a session that watches it.
TEST_F(AppWindowsTest, EveryApplicationTheChooserListsStartsASessionWatchingIt) {
    const std::string editor = "/sim/applications/org.example.Editor.desktop";
    const std::string mail = "/sim/applications/org.example.Mail.desktop";
    sim().workspace().install(editor, "org.example.Editor", "Editor");
    sim().workspace().install(mail, "org.example.Mail", "Mail");
    const RunningApplication running = sim().workspace().launch(
        std::string("org.example.Mail"), std::string("Mail"), ActivationPolicy::regular, mail);
    const struct {
        const char* row;
        const char* name;
        std::vector<std::string> launched;
    } picks[] = {
        {"Mail Running", "Mail", {}},
        {"Editor", "Editor", {editor}},
    };
    for (const auto& pick : picks) {
        SCOPED_TRACE(pick.row);
        delegate->chooseAppToWatch();
        loop().drain();
        ui::HeadlessWindow& chooser = headless(delegate->appChooserWindow);
        EXPECT_EQ(chooser.title(), "Stay awake until this app quits");
        EXPECT_EQ(chooser.inspect().listRows(),
                  (std::vector<std::string>{"Mail Running", "Editor"}));
        ASSERT_TRUE(chooser.inspect().selectRow(pick.row));
        loop().drain();
        ASSERT_TRUE(chooser.inspect().click("Watch"));
        loop().drain();
        EXPECT_FALSE(chooser.isVisible());
        EXPECT_EQ(sim().workspace().openedApplications(), pick.launched);
        EXPECT_TRUE(controller().isActive());
        EXPECT_EQ(controller().watchedAppName(), pick.name);
        EXPECT_EQ(controller().preset(), DurationPreset::untilAppQuits);
    }
    EXPECT_TRUE(host().alerts().empty());
    EXPECT_TRUE(host().openPanelsShown().empty());
    sim().workspace().quit(running.processIdentifier);
    loop().drain();
    EXPECT_TRUE(controller().isActive()) << "Mail is no longer the one watched";
}

TEST_F(AppWindowsTest, MakeThisARuleWithoutAWatchedApplicationDoesNothing) {
    delegate->makeRuleFromWatchedApp();
    EXPECT_TRUE(services().triggerEngine().rules().empty());
    EXPECT_FALSE(sim().userDefaults().persistentValue("apps.pendingExpand"));
    EXPECT_FALSE(sim().userDefaults().persistentValue("settingsTabSelection"));
    EXPECT_FALSE(delegate->settingsWindow);
}

}  // namespace
}  // namespace orvel
