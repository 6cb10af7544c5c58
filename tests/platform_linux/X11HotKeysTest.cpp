#include "platform/linux/X11HotKeys.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/OrvelTest.h"
#include "support/Xvfb.h"

namespace orvel {
namespace {

bool executable(const char* path) {
    return ::access(path, X_OK) == 0;
}

// A private X server for one test; skips when Xvfb cannot start.
class X11HotKeysTest : public test::OrvelTest {
  protected:
    void SetUp() override {
        OrvelTest::SetUp();
        if (!executable("/usr/bin/Xvfb") || !executable("/usr/bin/xdotool")) {
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        }
        if (xvfb_.display().empty()) {
            GTEST_SKIP() << "Xvfb did not start";
        }
        display_ = xvfb_.display();
    }
    void TearDown() override {
        xvfb_.end();
        OrvelTest::TearDown();
    }

    void press(const std::string& keys) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("DISPLAY", display_.c_str(), 1);
            ::execl("/usr/bin/xdotool", "xdotool", "key", keys.c_str(), nullptr);
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "xdotool key " << keys;
    }

    test::Xvfb xvfb_;
    std::string display_;
};

TEST_F(X11HotKeysTest, GrabsControlAltSuperCOnTheRootWindowAndNothingElse) {
    X11HotKeys hotKeys(display_);
    ASSERT_EQ(hotKeys.unavailableReason(), std::nullopt);
    std::vector<std::uint32_t> pressed;
    auto handler = hotKeys.installHandler([&](std::uint32_t id) { pressed.push_back(id); });
    auto registration = hotKeys.registerHotKey(8, 0x1900, 42);
    ASSERT_NE(registration, nullptr);

    press("shift+ctrl+alt+super+c");  // another combination: not ours
    press("ctrl+alt+super+c");
    ASSERT_TRUE(drainUntil([&] { return !pressed.empty(); }));
    EXPECT_EQ(pressed, std::vector<std::uint32_t>{42});

    registration.reset();
    press("ctrl+alt+super+c");
    press("ctrl+alt+super+c");
    registration = hotKeys.registerHotKey(8, 0x1900, 43);
    press("ctrl+alt+super+c");
    ASSERT_TRUE(drainUntil([&] { return pressed.size() >= 2; }));
    EXPECT_EQ(pressed, (std::vector<std::uint32_t>{42, 43})) << "released keys are not grabbed";
}

TEST_F(X11HotKeysTest, AMonitorSeesPressesWithTheirModifiersAndGrabsNothing) {
    X11HotKeys watcher(display_);
    std::vector<std::pair<std::uint16_t, std::uint64_t>> seen;
    auto monitor = watcher.addGlobalMonitor(
        [&](const KeyPress& press) { seen.emplace_back(press.keyCode, press.modifierFlags); });
    ASSERT_NE(monitor, nullptr);
    // Another client grabs the same combination: it could not, and would get nothing, if the
    // monitor had taken the key.
    X11HotKeys other(display_);
    std::vector<std::uint32_t> otherGot;
    auto handler = other.installHandler([&](std::uint32_t id) { otherGot.push_back(id); });
    auto grab = other.registerHotKey(8, 0x1900, 5);
    ASSERT_NE(grab, nullptr);

    press("ctrl+alt+super+c");
    press("shift+ctrl+c");
    press("x");
    ASSERT_TRUE(drainUntil([&] { return seen.size() >= 3 && !otherGot.empty(); }));
    const std::vector<std::pair<std::uint16_t, std::uint64_t>> expected = {
        {8, 0x1C0000}, {8, 0x60000}, {0xFFFF, 0}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(otherGot, std::vector<std::uint32_t>{5});

    monitor.reset();
    press("ctrl+alt+super+c");
    ASSERT_TRUE(drainUntil([&] { return otherGot.size() == 2; }));
    EXPECT_EQ(seen.size(), 3u) << "a removed monitor hears nothing";
}

TEST_F(X11HotKeysTest, KeysInOrvelsWindowsGoToTheLocalMonitorsWhichMayConsumeThem) {
    X11HotKeys hotKeys(display_);
    EXPECT_FALSE(hotKeys.deliverLocalKey({8, 0x1C0000})) << "no monitor: the window gets it";
    std::vector<std::uint16_t> seen;
    auto local = hotKeys.addLocalMonitor([&](const KeyPress& press) {
        seen.push_back(press.keyCode);
        return press.keyCode == 8;
    });
    ASSERT_NE(local, nullptr);
    EXPECT_TRUE(hotKeys.deliverLocalKey({8, 0x1C0000}));
    EXPECT_FALSE(hotKeys.deliverLocalKey({9, 0x1C0000}));
    local.reset();
    EXPECT_FALSE(hotKeys.deliverLocalKey({8, 0x1C0000}));
    EXPECT_EQ(seen, (std::vector<std::uint16_t>{8, 9}));
}

class X11HotKeysWithoutDisplay : public test::OrvelTest {};

TEST_F(X11HotKeysWithoutDisplay, SaysWhyNothingIsAvailable) {
    X11HotKeys hotKeys(
        std::string(":"
                    "9999"));
    EXPECT_NE(hotKeys.unavailableReason(), std::nullopt);
    EXPECT_EQ(hotKeys.registerHotKey(8, 0x1900, 1), nullptr);
    EXPECT_EQ(hotKeys.addGlobalMonitor([](const KeyPress&) {}), nullptr);
}

}  // namespace
}  // namespace orvel
