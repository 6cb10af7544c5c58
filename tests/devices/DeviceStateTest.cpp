#include "devices/DeviceState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Preferences.h"
#include "devices/BuiltInDisplay.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "devices/PermissionPrimer.h"
#include "devices/ScreenSaverBlock.h"
#include "support/UiTest.h"

namespace orvel {
namespace {

using ui::HeadlessAlert;
using ui::HeadlessHost;

constexpr const char* kQuestion = "Keep the built-in input disabled?";
constexpr const char* kReleased = "Built-in keyboard and trackpad re-enabled";

HidDevice device(const char* product, bool builtIn, HidUsage usage) {
    HidDevice d;
    d.product = product;
    d.transport = builtIn ? "I2C" : "USB";
    d.builtIn = builtIn;
    d.vendorId = 1;
    d.usages = {usage};
    return d;
}

class DeviceStateTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        sim().permissions().setListenEvent(ListenEventAccess::granted);
        sim().permissions().setAccessibility(true);
        sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
        auto& hid = sim().hidDevices();
        builtIns = {hid.attach(device("AT Keyboard", true, hid_usage::kKeyboard)),
                    hid.attach(device("Touchpad", true, hid_usage::kTouchPad))};
        mouse = hid.attach(device("USB Mouse", false, hid_usage::kMouse));
        state();  // follows the device settings from here on, as at launch
        prefs().tieDevicesToSession = false;
    }

    Preferences& prefs() { return services().preferences(); }
    DeviceState& state() { return services().deviceState(); }
    InputBlocker& blocker() { return services().inputBlocker(); }
    bool blocking() { return blocker().isBlockingKeyboard() || blocker().isBlockingTrackpad(); }
    // As the settings window does: the switch asks for permissions, then reconciles.
    void turnOnBlocking() {
        prefs().blockBuiltInKeyboard = true;
        prefs().blockBuiltInTrackpad = true;
        loop().drain();
    }
    void confirmed() {
        prefs().hasConfirmedBlocking = true;
        ASSERT_TRUE(prefs().hasConfirmedBlocking());
    }
    std::vector<std::string> alertTitles() {
        std::vector<std::string> titles;
        for (const auto& alert : host().alerts()) {
            titles.push_back(alert->content().messageText);
        }
        return titles;
    }

    std::vector<std::uint64_t> builtIns;
    std::uint64_t mouse = 0;
};

TEST_F(DeviceStateTest, NotWantedReleasesEverythingAndLeavesTheSettingsAlone) {
    confirmed();
    prefs().preventScreenSaver = true;
    prefs().builtInDisplayOff = true;
    prefs().keyboardBacklightOff = true;
    turnOnBlocking();
    ASSERT_TRUE(blocking());
    ASSERT_TRUE(services().screenSaverBlock().assertion());
    ASSERT_TRUE(services().builtInDisplay().savedLevel());
    ASSERT_TRUE(services().keyboardBacklight().isOff());

    prefs().tieDevicesToSession = true;  // takes effect at the next reconcile; no session runs
    EXPECT_TRUE(blocking());
    state().reconcile();
    EXPECT_FALSE(blocking());
    EXPECT_FALSE(services().screenSaverBlock().assertion());
    EXPECT_FALSE(services().builtInDisplay().savedLevel());
    EXPECT_FALSE(services().keyboardBacklight().isOff());
    EXPECT_FALSE(state().autoReleased());
    EXPECT_TRUE(prefs().blockBuiltInKeyboard() && prefs().preventScreenSaver());
    EXPECT_TRUE(host().alerts().empty());
}

TEST_F(DeviceStateTest, BlockingFollowsTheExternalDevicesAndTheRecordedConfirmation) {
    struct Case {
        const char* name;
        bool autoUnblock, external, confirmedBefore;
        bool asks, blocks, autoReleased;
    };
    const Case cases[] = {
        {"only built-in input, auto release on", true, false, false, false, false, true},
        {"only built-in input, auto release off", false, false, true, false, true, false},
        {"external mouse, confirmed before", true, true, true, false, true, false},
        {"external mouse, first time", true, true, false, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        prefs().autoUnblockNoExternal = c.autoUnblock;
        if (!c.external) {
            sim().hidDevices().detach(mouse);
        }
        if (c.confirmedBefore) {
            confirmed();
        }
        host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
        prefs().preventScreenSaver = true;
        turnOnBlocking();
        EXPECT_EQ(alertTitles(),
                  c.asks ? std::vector<std::string>{kQuestion} : std::vector<std::string>{});
        EXPECT_EQ(blocking(), c.blocks);
        EXPECT_EQ(state().autoReleased(), c.autoReleased);
        EXPECT_TRUE(prefs().hasConfirmedBlocking() || !c.blocks);
        EXPECT_TRUE(services().screenSaverBlock().assertion()) << "the other settings still apply";
    }
}

TEST_F(DeviceStateTest, CancelOrNoAnswerEndsWithNothingBlockedAfterOneDialog) {
    struct Case {
        const char* name;
        bool screenReader;
        int answer;  // 0: nobody answers
        double secondsUp;
        const char* firstCancel;
    };
    const Case cases[] = {
        {"cancel", false, ui::kAlertSecondButtonReturn, 0, "Cancel (30s)"},
        {"nobody answers", false, 0, 30, "Cancel (30s)"},
        {"nobody answers, screen reader on", true, 0, 90, "Cancel (90s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        sim().accessibilityDisplay().setScreenReaderEnabled(c.screenReader);
        std::vector<std::string> cancelTitles;
        bool blockedWhileAsking = false;
        host().scriptAlert([&](HeadlessAlert& alert) -> std::optional<int> {
            blockedWhileAsking = blocking();
            if (cancelTitles.empty() || cancelTitles.back() != alert.buttonTitles()[1]) {
                cancelTitles.push_back(alert.buttonTitles()[1]);
            }
            return c.answer != 0 ? std::optional<int>(c.answer) : std::nullopt;
        });
        const double start = loop().uptime();
        turnOnBlocking();

        ASSERT_EQ(host().alerts().size(), 1u);
        const auto& alert = *host().alerts()[0];
        EXPECT_EQ(alert.content().style, ui::AlertStyle::warning);
        EXPECT_EQ(alert.buttonTitles()[0], "Keep disabled");
        EXPECT_TRUE(blockedWhileAsking);
        EXPECT_EQ(cancelTitles.front(), c.firstCancel);
        EXPECT_DOUBLE_EQ(loop().uptime() - start, c.secondsUp);
        if (c.answer == 0) {
            EXPECT_EQ(cancelTitles.size(), static_cast<std::size_t>(c.secondsUp));
            EXPECT_EQ(alert.buttonTitles()[1], "Cancel (0s)");
            EXPECT_EQ(alert.response(), ui::kModalResponseAbort);
        }
        EXPECT_FALSE(blocking());
        EXPECT_FALSE(prefs().blockBuiltInKeyboard());
        EXPECT_FALSE(prefs().blockBuiltInTrackpad());
        EXPECT_FALSE(prefs().hasConfirmedBlocking());
        EXPECT_FALSE(state().isConfirming());
        loop().advance(10);
        EXPECT_EQ(host().alerts().size(), 1u) << "never a second dialog";
    }
}

TEST_F(DeviceStateTest, AConfirmationGivenOnAnotherMachineAsksAgain) {
    sim().userDefaults().setBool("confirmedBlock", true);
    sim().userDefaults().setString("confirmedOn", "another-machine-22");
    prefs().hasConfirmedBlocking.reload();  // as read at start-up
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    turnOnBlocking();
    EXPECT_EQ(alertTitles(), std::vector<std::string>{kQuestion});
    EXPECT_TRUE(blocking());
    EXPECT_EQ(sim().userDefaults().stringForKey("confirmedOn"),
              Preferences::machineIdentity(sim().systemInfo()));
}

TEST_F(DeviceStateTest, NoConfirmationWhenBlockingCouldNotStart) {
    for (std::uint64_t id : builtIns) {
        sim().hidDevices().detach(id);  // nothing to block
    }
    turnOnBlocking();
    state().reconcile();
    EXPECT_FALSE(blocking());
    EXPECT_TRUE(blocker().lastFailure);
    EXPECT_TRUE(host().alerts().empty());
    EXPECT_FALSE(state().isConfirming());
    EXPECT_FALSE(prefs().hasConfirmedBlocking());
    EXPECT_TRUE(prefs().blockBuiltInKeyboard() && prefs().blockBuiltInTrackpad());
}

TEST_F(DeviceStateTest, WatchdogReleasesOnceWhenTheLastExternalDeviceGoes) {
    for (bool autoUnblock : {true, false}) {
        SCOPED_TRACE(autoUnblock ? "auto release on" : "auto release off");
        TearDown();
        SetUp();
        confirmed();
        prefs().autoUnblockNoExternal = autoUnblock;
        host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
        turnOnBlocking();
        ASSERT_TRUE(blocking());
        sim().hidDevices().detach(mouse);
        loop().advance(DeviceState::kWatchdogInterval);
        EXPECT_FALSE(state().hasExternalInput());
        EXPECT_EQ(blocking(), !autoUnblock);
        EXPECT_EQ(prefs().blockBuiltInKeyboard(), !autoUnblock);
        EXPECT_EQ(state().autoReleased(), autoUnblock);
        loop().advance(30);
        EXPECT_EQ(alertTitles(),
                  autoUnblock ? std::vector<std::string>{kReleased} : std::vector<std::string>{});
    }
}

TEST_F(DeviceStateTest, WatchdogIsSilentWhileTheConfirmationIsUp) {
    double answeredAt = 0;
    host().scriptAlert([&](HeadlessAlert&) -> std::optional<int> {
        sim().hidDevices().detach(mouse);
        if (answeredAt == 0) {
            answeredAt = loop().uptime() + 10;
        }
        return loop().uptime() >= answeredAt ? std::optional<int>(ui::kAlertFirstButtonReturn)
                                             : std::nullopt;
    });
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    turnOnBlocking();
    EXPECT_EQ(alertTitles(), std::vector<std::string>{kQuestion});
    EXPECT_TRUE(blocking()) << "kept; the watchdog has not looked yet";
    loop().advance(DeviceState::kWatchdogInterval);
    EXPECT_EQ(alertTitles(), (std::vector<std::string>{kQuestion, kReleased}));
    EXPECT_FALSE(blocking());
}

TEST_F(DeviceStateTest, TheWatchdogWakesTheLoopOnlyWhileBlocking) {
    auto firedOverAMinute = [this] {
        const auto before = loop().timersFired();
        loop().advance(60);
        return loop().timersFired() - before;
    };
    state().reconcile();
    EXPECT_FALSE(state().isWatching());
    EXPECT_EQ(firedOverAMinute(), 0u) << "nothing blocked, nothing to count";

    confirmed();
    turnOnBlocking();
    ASSERT_TRUE(blocking());
    EXPECT_TRUE(state().isWatching());
    EXPECT_EQ(firedOverAMinute(), 20u);

    prefs().blockBuiltInKeyboard = false;
    prefs().blockBuiltInTrackpad = false;
    ASSERT_FALSE(blocking());
    EXPECT_FALSE(state().isWatching());
    EXPECT_EQ(firedOverAMinute(), 0u);

    turnOnBlocking();
    ASSERT_TRUE(state().isWatching());
    blocker().stop();  // as the app does when it quits
    EXPECT_FALSE(state().isWatching());
}

TEST_F(DeviceStateTest, APanelThatComesBackGetsTheLevelItMissedWhileAway) {
    auto& displays = sim().displays();
    displays.changeLevelFromOutside(SimDisplays::kBuiltInID, 0.7);
    prefs().builtInDisplayOff = true;
    ASSERT_EQ(displays.level(SimDisplays::kBuiltInID), 0.0);

    displays.setOnline(SimDisplays::kBuiltInID, false);  // lid closed, monitor in use
    host().setScreens({{{0, 0, 2560, 1440}, "HDMI-A-1"}});
    prefs().builtInDisplayOff = false;  // no panel to restore yet
    EXPECT_TRUE(services().builtInDisplay().savedLevel());

    const auto before = state().reconcileCount();
    displays.setOnline(SimDisplays::kBuiltInID, true);
    host().setScreens({{{0, 0, 1440, 900}, "eDP-1"}, {{1440, 0, 2560, 1440}, "HDMI-A-1"}});
    EXPECT_EQ(state().reconcileCount(), before + 1);
    EXPECT_EQ(displays.level(SimDisplays::kBuiltInID), 0.7);
    EXPECT_FALSE(services().builtInDisplay().savedLevel());
}

TEST_F(DeviceStateTest, TellsALaptopByItsModelOrChassis) {
    struct Case {
        std::optional<std::string> model;
        std::optional<int> chassis;
        bool laptop;
    };
    const Case cases[] = {
        {"MacBookPro18,3", std::nullopt, true},
        {"Mac14,3", 3, false},
        {"ThinkPad X1", 10, true},
        {"Surface Pro", 32, true},
        {"OptiPlex 7090", 3, false},
        {"Tower", 7, false},
        {std::nullopt, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model.value_or("unreadable"));
        sim().systemInfo().setHardwareModel(c.model);
        sim().systemInfo().setChassisType(c.chassis);
        EXPECT_EQ(state().isLaptop(), c.laptop);
    }
}

TEST_F(DeviceStateTest, SleepsTheDisplaysWithXsetOnX11AndThroughTheCompositorOnWayland) {
    using WS = SystemInfo::WindowSystem;
    const std::string noCompositorWay =
        "This Wayland compositor offers no known way to sleep the displays (GNOME, KDE Plasma, "
        "sway and most wlroots compositors do).";
    const std::string noXset =
        "xset is not installed (package x11-xserver-utils), so the displays cannot be put to "
        "sleep.";
    struct Case {
        WS system;
        CompositorSleep compositor;
        bool xsetInstalled;
        std::optional<std::string> unavailable;
        std::size_t xsetRuns;
        int compositorAsks;
    };
    const Case cases[] = {
        {WS::x11, CompositorSleep::none, true, std::nullopt, 1, 0},
        {WS::x11, CompositorSleep::sway, true, std::nullopt, 1, 0},
        {WS::x11, CompositorSleep::none, false, noXset, 0, 0},
        {WS::wayland, CompositorSleep::none, true, noCompositorWay, 0, 0},
        {WS::wayland, CompositorSleep::gnome, true, std::nullopt, 0, 1},
        {WS::wayland, CompositorSleep::kde, true, std::nullopt, 0, 1},
        {WS::wayland, CompositorSleep::sway, false, std::nullopt, 0, 1},
        {WS::wayland, CompositorSleep::wlroots, true, std::nullopt, 0, 1},
        {WS::none, CompositorSleep::none, true, "No graphical session, so no display to sleep.", 0,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.system) * 10 + static_cast<int>(c.compositor) +
                     (c.xsetInstalled ? 0 : 100));
        sim().systemInfo().setWindowSystem(c.system);
        sim().displays().setCompositorSleep(c.compositor);
        sim().processes().setExecutable("/usr/bin/xset", c.xsetInstalled);
        const auto logged = sim().log().messages("devices").size();
        const auto launches = sim().processes().detachedLaunches().size();
        const int asks = sim().displays().sleepAllCount();
        EXPECT_EQ(state().displaySleepUnavailable(), c.unavailable) << "known before the click";
        state().sleepDisplaysNow();
        EXPECT_EQ(sim().processes().detachedLaunches().size(), launches + c.xsetRuns);
        EXPECT_EQ(sim().displays().sleepAllCount(), asks + c.compositorAsks);
        ASSERT_EQ(sim().log().messages("devices").size(), logged + (c.unavailable ? 1 : 0));
        if (c.unavailable) {
            EXPECT_EQ(sim().log().messages("devices").back(), *c.unavailable);
        }
    }
    const auto& launch = sim().processes().detachedLaunches().at(0);
    EXPECT_EQ(launch.executable, "/usr/bin/xset");
    EXPECT_EQ(launch.arguments, (std::vector<std::string>{"dpms", "force", "off"}));
}

}  // namespace
}  // namespace orvel
