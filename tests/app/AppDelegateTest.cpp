#include "app/AppDelegate.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/TerminationSignals.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "drives/DriveKeepAlive.h"
#include "help/EULAGate.h"
#include "menubar/AppWindows.h"
#include "menubar/StatusItemController.h"
#include "support/EffectJournal.h"
#include "support/UiTest.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

class AppDelegateTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        fs::create_directories(sim().paths().resourcesDirectory());
        fs::copy_file(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md",
                      sim().paths().resourcesDirectory() + "/eula-1.0-draft.md");
    }
    void TearDown() override {
        delegate.reset();
        UiTest::TearDown();
    }
    void assentGiven() { test::acceptAgreement(sim().paths()); }
    void launch() {
        delegate = std::make_unique<AppDelegate>(services());
        delegate->applicationDidFinishLaunching();
        loop().drain();
    }
    ui::HeadlessWindow* agreementWindow() { return host().window("Orvel"); }

    // What start-up does that the host does not report itself, each seen from outside.
    std::vector<test::EffectJournal::Effect> startUpEffects() {
        return {
            {"hot key", [this] { return delegate && delegate->hotKey != nullptr; }},
            {"drive keep-alive",
             [this] { return services().existing<DriveKeepAlive>() != nullptr; }},
        };
    }
    // What shutdown does, each seen from outside: in the simulated machine, the saved session,
    // the drive keep-alive and the keyboard backlight.
    std::vector<test::EffectJournal::Effect> shutdownEffects() {
        drivesToldOff_ = 0;
        drivesSubscription_ = services().driveKeepAlive().sessionActive.subscribe(
            [this](const bool& on) { drivesToldOff_ += on ? 0 : 1; });
        return {
            {"assertions released", [this] { return sim().powerAssertions().held().empty(); }},
            {"saved as ended",
             [this] {
                 const auto saved = services().preferences().loadSession();
                 return saved && !saved->wasActive;
             }},
            {"drives told", [this] { return drivesToldOff_ > 0; }},
            {"backlight restored",
             [this] {
                 auto* backlight = services().existing<KeyboardBacklight>();
                 return backlight != nullptr && !backlight->isOff();
             }},
        };
    }

    std::unique_ptr<AppDelegate> delegate;

  private:
    int drivesToldOff_ = 0;
    Subscription drivesSubscription_;
};

TEST_F(AppDelegateTest, WithoutAssentOnlyTheAgreementWindowRuns) {
    launch();
    ASSERT_NE(agreementWindow(), nullptr);
    EXPECT_TRUE(agreementWindow()->isVisible());
    EXPECT_EQ(StatusItemController::current(), nullptr);
    EXPECT_EQ(services().existing<OrvelController>(), nullptr);
    EXPECT_EQ(services().existing<TriggerEngine>(), nullptr);
    EXPECT_EQ(services().existing<PowerTriggerCenter>(), nullptr);
    EXPECT_FALSE(delegate->hotKey);
    EXPECT_EQ(AppDelegate::shared(), delegate.get());
}

TEST_F(AppDelegateTest, AgreeingStartsEverythingOnce) {
    services().preferences().hotKeyStyle = HotKeyStyle::carbon;
    launch();
    ui::HeadlessWindow* window = agreementWindow();
    ASSERT_TRUE(window->inspect().scrollToEnd());
    loop().drain();
    ASSERT_TRUE(window->inspect().click("Agree"));
    loop().drain();
    EXPECT_TRUE(delegate->hasFinishedLaunching());
    ASSERT_NE(StatusItemController::current(), nullptr);
    EXPECT_TRUE(services().triggerEngine().isStarted());
    EXPECT_TRUE(services().powerCenter().isStarted());
    auto* hotKey = dynamic_cast<CarbonHotKey*>(delegate->hotKey.get());
    ASSERT_NE(hotKey, nullptr);
    EXPECT_EQ(hotKey->keyCode(), 8u);
    EXPECT_EQ(hotKey->modifiers(), 0x1900u);
    EXPECT_TRUE(services().licenseAgreement().hasCurrentAssent());

    delegate->finishLaunching();
    EXPECT_EQ(host().statusItems().size(), 1u) << "start-up runs once";
}

TEST_F(AppDelegateTest, WithAssentStartUpContinuesAtOnceInOrder) {
    assentGiven();
    launch();
    EXPECT_EQ(agreementWindow(), nullptr);
    EXPECT_NE(StatusItemController::current(), nullptr);
    EXPECT_FALSE(delegate->hotKey) << "the default style registers no shortcut";
    EXPECT_EQ(host().application().activationPolicy(), ActivationPolicy::accessory);
    EXPECT_EQ(host().application().activations(), 0) << "menu bar only: no activation";
    EXPECT_EQ(host().mainMenuInstalls(), 1) << "installed on the next loop turn";
}

TEST_F(AppDelegateTest, IdleWithNoSessionNoRuleAndNoWindowNothingIsScheduled) {
    // A desktop that announces what it changes, as the Linux one does.
    sim().accessibilityDisplay().setAnnouncesTextSizeChanges(true);
    assentGiven();
    launch();
    loop().advance(60);  // start-up's own waits run out
    EXPECT_EQ(loop().nextTimerIn(), std::nullopt);
}

TEST_F(AppDelegateTest, EveryWindowOperationFirstClosesThePanel) {
    assentGiven();
    launch();
    ASSERT_EQ(AppWindows::current(), delegate.get()) << "the panel reaches the delegate";
    struct Case {
        std::string name;
        void (AppWindows::*operation)();
        std::string title;  // the window it shows; empty for none
    };
    const Case cases[] = {
        {"showHelp", &AppWindows::showHelp, "Orvel Help"},
        {"openSettings", &AppWindows::openSettings, "Orvel Settings"},
        {"showAbout", &AppWindows::showAbout, "About Orvel"},
        {"showCustomDuration", &AppWindows::showCustomDuration, "Custom Duration"},
        {"chooseAppToWatch", &AppWindows::chooseAppToWatch, ""},
    };
    for (const auto& c : cases) {
        StatusItemController::current()->showPopover();
        ASSERT_TRUE(StatusItemController::current()->popover().isShown());
        (AppWindows::current()->*c.operation)();
        EXPECT_FALSE(StatusItemController::current()->popover().isShown()) << c.name;
        if (!c.title.empty()) {
            auto* window = host().window(c.title);
            ASSERT_NE(window, nullptr) << c.name;
            EXPECT_TRUE(window->isVisible() && window->isKey()) << c.name;
        }
    }
    delegate.reset();
    EXPECT_EQ(AppWindows::current(), nullptr) << "a delegate that is gone is not reached";
}

TEST_F(AppDelegateTest, AnotherLaunchBringsTheAgreementForwardOrOpensThePanelWithoutATray) {
    launch();
    auto other = host().makeWindow();
    other->makeKeyAndOrderFront();
    ASSERT_NE(host().keyWindow(), agreementWindow());
    EXPECT_EQ(delegate->reopen(), "its agreement window was brought to the front");
    EXPECT_EQ(host().keyWindow(), agreementWindow());
    EXPECT_EQ(StatusItemController::current(), nullptr);

    delegate.reset();
    assentGiven();
    launch();
    StatusItemController& item = *StatusItemController::current();
    // A desktop without a tray: clicks cannot open the panel, another launch still does.
    host().statusItems().back()->setHasButton(false);
    item.showPopover();
    ASSERT_FALSE(item.popover().isShown());
    for (int launches = 1; launches <= 2; ++launches) {
        EXPECT_EQ(delegate->reopen(), "its panel was opened");
        loop().drain();
        EXPECT_TRUE(item.popover().isShown()) << "open after launch " << launches;
        EXPECT_EQ(host().popovers().back()->madeKeyCount(), launches);
    }
}

TEST_F(AppDelegateTest, StartUpBringsTheServicesUpInOrderAndTheMenuOnTheNextTurn) {
    struct Case {
        bool inDock;
        std::vector<std::string> journal;
    };
    const Case cases[] = {
        {false,
         {"activation policy accessory", "status item", "hot key", "triggers started",
          "power centre started", "drive keep-alive", "main menu"}},
        {true,
         {"activation policy regular", "activate", "status item", "hot key", "triggers started",
          "power centre started", "drive keep-alive", "main menu"}},
    };
    assentGiven();
    for (const Case& c : cases) {
        delegate.reset();
        releaseServices();
        services().preferences().showInDock = c.inDock;
        services().preferences().hotKeyStyle = HotKeyStyle::carbon;
        // Created before start-up, so that their start is what the journal sees.
        TriggerEngine& triggers = services().triggerEngine();
        PowerTriggerCenter& power = services().powerCenter();
        test::EffectJournal journal(startUpEffects());
        journal.followText(host().requested);
        journal.follow(triggers.started, "triggers started");
        journal.follow(power.started, "power centre started");

        delegate = std::make_unique<AppDelegate>(services());
        delegate->applicationDidFinishLaunching();
        journal.mark();
        loop().drain();
        EXPECT_EQ(journal.take(), c.journal) << "in the Dock: " << c.inDock;
    }
}

// The device state follows the device switches from launch on: a switch turned on in the panel
// takes effect though nothing else has asked for the device state yet.
TEST_F(AppDelegateTest, ADeviceSwitchTakesEffectRightAfterStartUp) {
    assentGiven();
    services().preferences().tieDevicesToSession = false;
    launch();
    services().preferences().preventScreenSaver = true;
    const auto types = sim().powerAssertions().heldTypes();
    EXPECT_EQ(std::count(types.begin(), types.end(),
                         std::string(assertion_type::kPreventUserIdleDisplaySleep)),
              1)
        << "the screen saver is held off";
}

TEST_F(AppDelegateTest, ShowInDockMakesARegularApplicationThatActivates) {
    assentGiven();
    services().preferences().showInDock = true;
    delegate = std::make_unique<AppDelegate>(services());
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(host().mainMenuInstalls(), 0);
    loop().drain();
    EXPECT_EQ(host().application().activationPolicy(), ActivationPolicy::regular);
    EXPECT_EQ(host().application().activations(), 1);
    EXPECT_EQ(host().mainMenuInstalls(), 1);
}

// Whichever style was stored, its shortcut works from start-up on.
TEST_F(AppDelegateTest, TheHotKeyTogglesTheSession) {
    using Outcome = SimHotKeys::Outcome;
    struct Case {
        const char* name;
        const char* stored;
        bool permissions;
        Outcome elsewhere;  // a press typed in another application
    };
    const Case cases[] = {
        {"registered", "carbon", false, Outcome::hotKey},
        {"watched: the key still reaches the focused window", "monitor", true, Outcome::delivered},
        {"watched without the permissions: registered instead", "monitor", false, Outcome::hotKey},
    };
    assentGiven();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate.reset();
        releaseServices();
        sim().userDefaults().setString("hotKeyStyle", c.stored);
        sim().permissions().setListenEvent(c.permissions ? ListenEventAccess::granted
                                                         : ListenEventAccess::denied);
        sim().permissions().setAccessibility(c.permissions);
        launch();
        ASSERT_NE(delegate->hotKey, nullptr);
        const std::uint64_t controlOptionCommand = 0x1C0000;
        EXPECT_EQ(sim().hotKeys().press(8, controlOptionCommand, false), c.elsewhere);
        EXPECT_TRUE(services().controller().isActive());
        sim().hotKeys().press(8, controlOptionCommand, true);
        EXPECT_FALSE(services().controller().isActive());
        EXPECT_FALSE(services().preferences().loadSession()->wasActive) << "the stop was saved";
    }
}

TEST_F(AppDelegateTest, QuittingAtTheAgreementCreatesNothingAndKeepsTheSavedSession) {
    SavedSession saved;
    saved.wasActive = true;
    saved.preset = DurationPreset::h2;
    sim().userDefaults().setData("session", dataFromString(dumpJson(saved.toJson()).value()));
    const auto before = sim().userDefaults().persistentValue("session");
    launch();
    ASSERT_TRUE(agreementWindow()->inspect().click("Quit"));
    EXPECT_TRUE(host().application().terminated());
    EXPECT_EQ(services().existing<OrvelController>(), nullptr);
    EXPECT_EQ(services().existing<Preferences>(), nullptr);
    EXPECT_EQ(services().existing<InputBlocker>(), nullptr);
    EXPECT_EQ(sim().userDefaults().persistentValue("session"), before);
}

TEST_F(AppDelegateTest, ShutdownStopsTheSessionAndUndoesWhatItChanged) {
    assentGiven();
    launch();
    services().controller().start();
    services().inputBlocker();
    services().keyboardBacklight().setOff(true);
    ASSERT_FALSE(sim().powerAssertions().held().empty());
    const auto stops = services().inputBlocker().stopCount();
    host().application().terminate();
    EXPECT_TRUE(sim().powerAssertions().held().empty());
    EXPECT_FALSE(services().preferences().loadSession()->wasActive);
    EXPECT_EQ(services().inputBlocker().stopCount(), stops + 2)
        << "the session's end, then quitting";
    EXPECT_FALSE(services().keyboardBacklight().isOff());
}

// With the devices not tied to the session, the session's end leaves the panel dark; quitting
// still brings it back.
TEST_F(AppDelegateTest, ShutdownPutsTheBuiltInPanelBackAtItsLevel) {
    assentGiven();
    launch();
    auto& displays = sim().displays();
    displays.changeLevelFromOutside(SimDisplays::kBuiltInID, 0.6);
    services().builtInDisplay().setDark(true);
    ASSERT_EQ(displays.trueLevel(SimDisplays::kBuiltInID), 0.0);
    host().application().terminate();
    EXPECT_EQ(displays.trueLevel(SimDisplays::kBuiltInID), 0.6);
    EXPECT_FALSE(services().builtInDisplay().savedLevel());
    EXPECT_FALSE(services().builtInDisplay().isReasserting());
}

TEST_F(AppDelegateTest, ShutdownEndsTheSessionThenStopsInputBlockingThenRestoresTheBacklight) {
    struct Case {
        const char* name;
        bool sessionRuns;
        std::vector<std::string> journal;
    };
    // The session's end reconciles the devices first (blocker stopped, backlight restored);
    // then the delegate stops the blocker itself, and the backlight has nothing left to restore.
    const Case cases[] = {
        {"a session runs",
         true,
         {"assertions released + saved as ended", "input blocker stopped",
          "drives told + backlight restored", "input blocker stopped"}},
        {"no session ever ran",
         false,
         {"saved as ended", "input blocker stopped", "drives told + backlight restored",
          "input blocker stopped"}},
    };
    assentGiven();
    for (const Case& c : cases) {
        delegate.reset();
        releaseServices();
        sim().userDefaults().removeObject("session");
        launch();
        if (c.sessionRuns) {
            services().controller().start();
        }
        ASSERT_EQ(sim().powerAssertions().held().empty(), !c.sessionRuns) << c.name;
        services().keyboardBacklight().setOff(true);
        test::EffectJournal journal(shutdownEffects());
        journal.follow(services().inputBlocker().stopped, "input blocker stopped");

        delegate->applicationWillTerminate();
        journal.mark();
        EXPECT_EQ(journal.take(), c.journal) << c.name;
    }
}

TEST_F(AppDelegateTest, ATerminationSignalRunsTheSameShutdown) {
    assentGiven();
    launch();
    std::vector<int> received;
    TerminationSignals signals([&](int signal) {
        received.push_back(signal);
        host().application().terminate();
    });
    services().controller().start();
    ASSERT_FALSE(sim().powerAssertions().held().empty());
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_FALSE(sim().powerAssertions().held().empty()) << "nothing runs inside the handler";
    loop().drain();
    EXPECT_EQ(received, (std::vector<int>{SIGTERM}));
    EXPECT_TRUE(sim().powerAssertions().held().empty());
    EXPECT_FALSE(services().preferences().loadSession()->wasActive);
    ASSERT_EQ(::raise(SIGINT), 0);
    ASSERT_EQ(::raise(SIGHUP), 0);
    loop().drain();
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
}

TEST_F(AppDelegateTest, AFailedLoginItemChangeIsLoggedInOneLine) {
    assentGiven();
    launch();
    sim().loginItems().failNext("The autostart folder is read-only.");
    delegate->setLaunchAtLogin(true);
    const auto lines = sim().log().messages("app");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(
        lines[0],
        "Orvel: start at login could not be changed \u2014 The autostart folder is read-only.");
    delegate->setLaunchAtLogin(true);
    EXPECT_EQ(sim().loginItems().status(), login_item_status::kEnabled);
}

}  // namespace
}  // namespace orvel
