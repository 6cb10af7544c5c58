#include "platform/linux/CompositorDisplaySleep.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "foundation/PollRunLoop.h"
#include "platform/linux/UniqueFd.h"
#include "support/BusTest.h"
#include "support/FakeSway.h"
#include "support/HeadlessSway.h"
#include "support/RealThings.h"

namespace orvel {
namespace {

using test::BusTest;
using test::FakeSway;
using test::SwayIpcTest;
using test::waitFor;

const DBusObject kMutterProperties{"org.gnome.Mutter.DisplayConfig",
                                   "/org/gnome/Mutter/DisplayConfig",
                                   "org.freedesktop.DBus.Properties"};
const DBusObject kKdeMock{"org.kde.kglobalaccel", "/component/org_kde_powerdevil",
                          "org.freedesktop.DBus.Mock"};

class CompositorDisplaySleepTest : public BusTest {
  protected:
    std::optional<std::int32_t> powerSaveMode() {
        test::Reply reply =
            test::callAndWait(*probe, kMutterProperties, "Get", [](sd_bus_message* m) {
                return sd_bus_message_append(m, "ss", "org.gnome.Mutter.DisplayConfig",
                                             "PowerSaveMode");
            });
        std::int32_t mode = -1;
        if (!reply || DBusConnection::errorOf(reply.get()) ||
            sd_bus_message_read(reply.get(), "v", "i", &mode) < 0) {
            return std::nullopt;
        }
        return mode;
    }
    std::vector<std::string> kdeInvoked() {
        std::vector<std::string> names;
        test::Reply reply = test::callAndWait(*probe, kKdeMock, "Invoked");
        if (!reply || DBusConnection::errorOf(reply.get()) ||
            sd_bus_message_enter_container(reply.get(), 'a', "s") < 0) {
            return names;
        }
        const char* name = nullptr;
        while (sd_bus_message_read(reply.get(), "s", &name) > 0) {
            names.emplace_back(name);
        }
        return names;
    }
};

TEST_F(CompositorDisplaySleepTest, GnomeAndKdeAreAskedThroughWhatTheyServe) {
    CompositorDisplaySleep sleep(session, "");
    ASSERT_TRUE(waitFor([&] { return session->namesKnown(); }));
    EXPECT_EQ(sleep.route(), CompositorSleep::none);
    sleep.sleepAll();
    EXPECT_EQ(log->messages("devices").size(), 1u) << "nothing to ask says so once";

    startService("mutter_display_config");
    ASSERT_TRUE(waitFor([&] { return sleep.route() == CompositorSleep::gnome; }));
    ASSERT_EQ(powerSaveMode(), 0);
    sleep.sleepAll();
    EXPECT_TRUE(waitFor([&] { return powerSaveMode() == 3; })) << "PowerSaveMode 3 is off";

    // KDE's shortcut service alone (KDE applications on another desktop) turns off nothing.
    stopService("mutter_display_config");
    startService("kde_power", "{\"powerdevil\": false}");
    ASSERT_TRUE(waitFor([&] { return sleep.route() == CompositorSleep::none; }));
    sleep.sleepAll();
    EXPECT_TRUE(kdeInvoked().empty());
    stopService("kde_power");

    startService("kde_power");
    ASSERT_TRUE(waitFor([&] { return sleep.route() == CompositorSleep::kde; }));
    sleep.sleepAll();
    EXPECT_TRUE(waitFor([&] { return !kdeInvoked().empty(); }));
    EXPECT_EQ(kdeInvoked(), std::vector<std::string>{"Turn Off Screen"});
    EXPECT_EQ(log->messages("devices").size(), 2u) << "only the two asks without a way logged";
}

TEST_F(SwayIpcTest, SwayIsToldOverItsIpcSocketAndARefusalIsLogged) {
    const std::string ok = R"([ { "success": true } ])";
    const std::string refused = R"([ { "success": false, "error": "Invalid output subcommand" } ])";
    const std::string power = "i3-ipc 0 output * power off";
    const std::string dpms = "i3-ipc 0 output * dpms off";
    struct Case {
        const char* name;
        std::vector<std::optional<std::string>> answers;
        std::vector<std::string> requests;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"sway 1.8 and later",
         {ok},
         {power},
         "sway put every display to sleep (\"output * power off\")."},
        {"sway 1.7 and older",
         {refused, ok},
         {power, dpms},
         "sway put every display to sleep (\"output * dpms off\")."},
        {"refused both ways",
         {refused, refused},
         {power, dpms},
         "sway did not sleep the displays (\"output * dpms off\"): " + refused},
        {"no answer",
         {std::nullopt},
         {power},
         "sway did not sleep the displays (\"output * power off\"): it closed the connection "
         "unanswered"},
    };
    const std::string path = socketPath();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSway sway(path);
        ASSERT_TRUE(sway.isListening());
        CompositorDisplaySleep sleep(nullptr, path);
        ASSERT_EQ(sleep.route(), CompositorSleep::sway);
        const auto logged = log->messages("devices").size();
        sleep.sleepAll();
        for (const auto& answer : c.answers) {
            ASSERT_TRUE(waitFor([&] { return sway.serveOne(answer); }));
        }
        EXPECT_EQ(sway.requests, c.requests);
        ASSERT_TRUE(waitFor([&] { return log->messages("devices").size() == logged + 1; }));
        EXPECT_EQ(log->messages("devices").back(), c.logged);
    }
    CompositorDisplaySleep gone(nullptr, path);
    EXPECT_EQ(gone.route(), CompositorSleep::none) << "a socket that is not there offers nothing";
}

TEST_F(SwayIpcTest, ARealHeadlessSwayTakesTheRequest) {
    test::HeadlessSway sway;
    if (!sway.whyNot().empty()) {
        GTEST_SKIP() << sway.whyNot();
    }
    CompositorDisplaySleep sleep(nullptr, sway.socket());
    ASSERT_EQ(sleep.route(), CompositorSleep::sway);
    sleep.sleepAll();
    // A headless output reports no power state, so sway's own answer is what shows.
    ASSERT_TRUE(waitFor([&] { return !log->messages("devices").empty(); }));
    EXPECT_EQ(log->messages("devices").front().rfind("sway put every display to sleep", 0), 0u)
        << log->messages("devices").front();
}

}  // namespace
}  // namespace orvel
