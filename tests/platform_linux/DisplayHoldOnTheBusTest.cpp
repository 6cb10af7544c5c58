// The display and screen-saver holds on a desktop that offers no screen-saver inhibit (sway,
// a bare X session): the session controller and the device state on the real power backend,
// against logind's mock on a private bus; everything else is simulated.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "devices/ScreenSaverBlock.h"
#include "platform/linux/LinuxPowerAssertions.h"
#include "platform/sim/SimBackedPlatform.h"
#include "support/BusTest.h"
#include "support/HeadlessSway.h"

namespace orvel {
namespace {

using test::LogindInhibitor;
using test::waitFor;

constexpr const char* kLesser =
    "This desktop offers no screen-saver inhibit: held through logind's idle lock only, which "
    "swayidle and other idle daemons honour.";

class BusPowerMachine final : public SimBackedPlatform {
  public:
    BusPowerMachine(std::shared_ptr<DBusConnection> system, std::shared_ptr<DBusConnection> session,
                    const std::string& folder)
        : assertions_(std::move(system), std::move(session)) {
        sim_.paths().setRoot(folder);
        sim_.powerSources().setOnAC(true);
    }

    PowerAssertions& powerAssertions() override { return assertions_; }

  private:
    LinuxPowerAssertions assertions_;
};

class DisplayHoldOnTheBusTest : public test::ServicesOnTheBusTest {
  protected:
    void SetUp() override {
        ServicesOnTheBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        startService("logind");  // and no screen saver, nor GNOME's session manager
        Platform::install(std::make_unique<BusPowerMachine>(system, session, folder()));
        EXPECT_TRUE(waitFor([&] {
            return system->namesKnown() && session->namesKnown() &&
                   Platform::current().powerAssertions().status();
        }));
    }

    OrvelController& controller() { return services().controller(); }
    // logind's blocking locks, by what they hold and why (the workspace's delay lock aside),
    // sorted.
    std::vector<std::string> blocking() {
        std::vector<std::string> held;
        for (const LogindInhibitor& i : logindInhibitors()) {
            if (i.mode == "block") {
                held.push_back(i.what + ": " + i.why);
            }
        }
        std::sort(held.begin(), held.end());
        return held;
    }
    bool blocks(const std::vector<std::string>& expected) {
        if (eventually([&] { return blocking() == expected; })) {
            return true;
        }
        for (const auto& lock : blocking()) {
            ADD_FAILURE() << "held instead: " << lock;
        }
        return false;
    }
};

TEST_F(DisplayHoldOnTheBusTest, TheSessionSurvivesTheDisplayHoldTurnedOnAndOffWhileItRuns) {
    ASSERT_TRUE(controller().start());
    ASSERT_TRUE(blocks({"idle: Orvel session keeps the system from idle sleep"}));
    EXPECT_EQ(controller().displayShortfall(), std::optional<std::string>(kLesser))
        << "told before the switch is flipped";

    controller().setOption(&SleepOptions::preventDisplaySleep, true);
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(blocks({"idle: Orvel session keeps the display awake"}));
    controller().setOption(&SleepOptions::preventDisplaySleep, false);
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(blocks({"idle: Orvel session keeps the system from idle sleep"}));
    EXPECT_EQ(controller().failure(), std::nullopt);
    EXPECT_EQ(controller().lastError(), std::nullopt);
    EXPECT_EQ(controller().displayShortfall(), std::optional<std::string>(kLesser));

    controller().stop(true);
    EXPECT_TRUE(blocks({}));
}

TEST_F(DisplayHoldOnTheBusTest, AStartWithTheDisplayHoldTakesLogindsLocksAndSaysWhatItCannotHold) {
    SleepOptions options;
    options.preventDisplaySleep = options.preventSystemSleep = true;
    controller().options = options;
    ASSERT_TRUE(controller().start());
    EXPECT_TRUE(blocks({"idle: Orvel session keeps the display awake",
                        "sleep: Orvel session keeps the system from sleeping"}));
    EXPECT_EQ(controller().displayShortfall(), std::optional<std::string>(kLesser));
    EXPECT_EQ(controller().failure(), std::nullopt);
}

TEST_F(DisplayHoldOnTheBusTest, DisableScreenSaverHoldsLogindsIdleLockWhileTheSessionRuns) {
    services().deviceState();
    services().preferences().preventScreenSaver = true;
    ASSERT_TRUE(controller().start());
    EXPECT_TRUE(services().screenSaverBlock().assertion());
    EXPECT_TRUE(blocks({"idle: Orvel session keeps the system from idle sleep",
                        "idle: Orvel \u2014 screen saver session keeps the display awake"}));
    services().preferences().preventScreenSaver = false;
    EXPECT_TRUE(blocks({"idle: Orvel session keeps the system from idle sleep"}));
}

// swayidle (1.8) reads logind's BlockInhibited: while it names "idle" no timeout of swayidle's
// runs, so on a live sway the display hold really keeps the idle daemon from blanking.
TEST_F(DisplayHoldOnTheBusTest, SwayidleOnALiveSwayWaitsWhileTheDisplayHoldIsHeld) {
    if (::access("/usr/bin/swayidle", X_OK) != 0) {
        GTEST_SKIP() << "swayidle is not installed";
    }
    test::HeadlessSway sway;
    if (!sway.whyNot().empty()) {
        GTEST_SKIP() << sway.whyNot();
    }
    SleepOptions options;
    options.preventDisplaySleep = true;
    controller().options = options;
    ASSERT_TRUE(controller().start());
    ASSERT_TRUE(blocks({"idle: Orvel session keeps the display awake"}));

    const std::string fired = folder() + "/swayidle-fired";
    std::vector<std::string> environment = busEnvironment();
    environment.push_back("WAYLAND_DISPLAY=" + sway.waylandDisplay());
    // "before-sleep" makes swayidle take logind's delay lock: a sign it is up and on this bus.
    const pid_t swayidle = test::spawn(
        {"/usr/bin/swayidle", "-w", "timeout", "1", "touch " + fired, "before-sleep", "true"},
        environment, folder() + "/swayidle.log");
    ASSERT_GT(swayidle, 0);
    const bool up = eventually([&] {
        const auto held = logindInhibitors();
        return std::any_of(held.begin(), held.end(),
                           [](const LogindInhibitor& i) { return i.who == "swayidle"; });
    });
    // Three of its one-second timeouts go by without it firing.
    const bool firedWhileHeld =
        up && test::loop().runFor(3, [&] { return std::filesystem::exists(fired); });

    controller().stop(true);
    const bool firedAfter =
        up && test::loop().runFor(10, [&] { return std::filesystem::exists(fired); });
    ::kill(swayidle, SIGTERM);
    test::waitForExit(swayidle);
    ASSERT_TRUE(up) << "swayidle did not come up on the private bus";
    EXPECT_FALSE(firedWhileHeld) << "swayidle blanked while the display hold was held";
    EXPECT_TRUE(firedAfter) << "swayidle never fired once the hold was released";
}

}  // namespace
}  // namespace orvel
