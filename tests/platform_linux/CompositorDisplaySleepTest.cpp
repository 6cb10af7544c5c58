#include "platform/linux/CompositorDisplaySleep.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <wayland-server.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "foundation/PollRunLoop.h"
#include "platform/linux/UniqueFd.h"
#include "support/BusTest.h"
#include "support/FakeCompositor.h"
#include "support/FakeSway.h"
#include "support/HeadlessSway.h"
#include "support/RealThings.h"
#include "wlr-output-power-management-unstable-v1-server-protocol.h"

namespace orvel {
namespace {

using test::BusTest;
using test::FakeCompositor;
using test::FakeSway;
using test::SwayIpcTest;
using test::Takes;
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
    const std::string outputs = "i3-ipc 3 ";
    // sway 1.8 says "power", 1.7 "dpms" alone; an output switched off in the settings is not
    // active.
    const std::string allOff =
        R"([{"name": "DP-1", "active": true, "dpms": false, "power": false},
            {"name": "HDMI-A-1", "active": false, "dpms": true, "power": null}])";
    const std::string oneOn = R"([{"name": "HEADLESS-1", "active": true, "dpms": true},
                                  {"name": "DP-2", "active": true, "dpms": false}])";
    struct Case {
        const char* name;
        std::vector<std::optional<std::string>> answers;
        std::vector<std::string> requests;
        std::string logged;
        DisplaySleepOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"sway 1.8 and later",
         {ok, allOff},
         {power, outputs},
         "sway put every display to sleep (\"output * power off\").",
         {}},
        {"sway 1.7 and older",
         {refused, ok, allOff},
         {power, dpms, outputs},
         "sway put every display to sleep (\"output * dpms off\").",
         {}},
        {"taken, but an output stayed on",
         {refused, ok, oneOn},
         {power, dpms, outputs},
         "sway took \"output * dpms off\", but did not switch every output off: HEADLESS-1 is "
         "still on.",
         {{"HEADLESS-1"}, false}},
        {"taken, and the outputs not told",
         {ok, std::nullopt},
         {power, outputs},
         "sway took \"output * power off\", but did not tell whether its outputs went off: it "
         "closed the connection unanswered",
         {}},
        {"refused both ways",
         {refused, refused},
         {power, dpms},
         "sway did not sleep the displays (\"output * dpms off\"): " + refused,
         {{}, true}},
        {"no answer",
         {std::nullopt},
         {power},
         "sway did not sleep the displays (\"output * power off\"): it closed the connection "
         "unanswered",
         {{}, true}},
    };
    const std::string path = socketPath();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSway sway(path);
        ASSERT_TRUE(sway.isListening());
        CompositorDisplaySleep sleep(nullptr, path);
        ASSERT_EQ(sleep.route(), CompositorSleep::sway);
        const auto logged = log->messages("devices").size();
        std::optional<DisplaySleepOutcome> outcome;
        sleep.sleepAll([&](const DisplaySleepOutcome& o) { outcome = o; });
        for (const auto& answer : c.answers) {
            ASSERT_TRUE(waitFor([&] { return sway.serveOne(answer); }));
        }
        EXPECT_EQ(sway.requests, c.requests);
        ASSERT_TRUE(waitFor([&] { return log->messages("devices").size() == logged + 1; }));
        EXPECT_EQ(log->messages("devices").back(), c.logged);
        ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
        EXPECT_EQ(outcome, c.outcome);
    }
    CompositorDisplaySleep gone(nullptr, path);
    EXPECT_EQ(gone.route(), CompositorSleep::none) << "a socket that is not there offers nothing";
}

std::string swayOutputPower(const std::string& socket);

TEST_F(SwayIpcTest, ARealHeadlessSwayTakesTheRequest) {
    test::HeadlessSway sway;
    if (!sway.whyNot().empty()) {
        GTEST_SKIP() << sway.whyNot();
    }
    CompositorDisplaySleep sleep(nullptr, sway.socket());
    ASSERT_EQ(sleep.route(), CompositorSleep::sway);
    std::optional<DisplaySleepOutcome> outcome;
    sleep.sleepAll([&](const DisplaySleepOutcome& o) { outcome = o; });
    ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
    ASSERT_FALSE(log->messages("devices").empty());
    const std::string logged = log->messages("devices").front();
    // sway 1.7 takes "dpms off" and answers that it succeeded also where it could not switch
    // a headless output off: what is logged and handed back must be what sway then reports.
    const std::string outputs = swayOutputPower(sway.socket());
    ASSERT_NE(outputs.find("HEADLESS-1"), std::string::npos) << outputs;
    if (outputs.find("\"dpms\": true") != std::string::npos ||
        outputs.find("\"power\": true") != std::string::npos) {
        EXPECT_EQ(outcome, (DisplaySleepOutcome{{"HEADLESS-1"}, false}));
        EXPECT_NE(logged.find("did not switch every output off: HEADLESS-1 is still on."),
                  std::string::npos)
            << logged;
    } else {
        EXPECT_EQ(outcome, DisplaySleepOutcome{});
        EXPECT_EQ(logged.rfind("sway put every display to sleep", 0), 0u) << logged;
    }
}

TEST_F(SwayIpcTest, EveryOutputIsSwitchedOffThroughTheOutputPowerManagerAndTheOutcomeLogged) {
    const std::string refused = "refused (another program controls its power, or it has none)";
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, Takes>> outputs;
        bool offersPower;
        std::vector<bool> powersAfter;
        std::string logged;  // empty: nothing to ask, so nothing asked
        DisplaySleepOutcome outcome = {};
    };
    const std::vector<Case> cases = {
        {"two outputs off",
         {{"DP-1", Takes::mode}, {"HDMI-A-1", Takes::mode}},
         true,
         {false, false},
         "The Wayland compositor switched every output off (DP-1, HDMI-A-1)."},
        {"one refused, one unanswered",
         {{"DP-1", Takes::refusal}, {"HDMI-A-1", Takes::nothing}, {"eDP-1", Takes::mode}},
         true,
         {true, true, false},
         "The Wayland compositor did not switch every output off: DP-1 " + refused +
             "; HDMI-A-1 is still on.",
         {{"DP-1", "HDMI-A-1"}, false}},
        {"no output", {}, true, {}, "The Wayland compositor has no output to switch off."},
        {"no power manager", {{"DP-1", Takes::mode}}, false, {true}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeCompositor compositor(c.outputs, c.offersPower);
        ASSERT_FALSE(compositor.socket().empty());
        CompositorDisplaySleep sleep(nullptr, "", compositor.socket());
        // The question at start is asked on a connection of its own, closed once answered.
        ASSERT_TRUE(waitFor([&] { return compositor.clientsGone == 1; }));
        const auto logged = log->messages("devices").size();
        if (c.logged.empty()) {
            EXPECT_EQ(sleep.route(), CompositorSleep::none);
            continue;
        }
        ASSERT_EQ(sleep.route(), CompositorSleep::wlroots);
        std::optional<DisplaySleepOutcome> outcome;
        sleep.sleepAll([&](const DisplaySleepOutcome& o) { outcome = o; });
        ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
        ASSERT_GT(log->messages("devices").size(), logged);
        EXPECT_EQ(log->messages("devices").back(), c.logged);
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(compositor.powers(), c.powersAfter);
        EXPECT_TRUE(waitFor([&] { return compositor.clientsGone == 2; }))
            << "the connection is closed after the request";
    }
}

TEST_F(SwayIpcTest, AWaylandDisplayThatIsNotThereOffersNothingAndSaysWhy) {
    const std::string missing = ::testing::TempDir() + "/orvel-no-wayland-here";
    CompositorDisplaySleep sleep(nullptr, "", missing);
    EXPECT_EQ(sleep.route(), CompositorSleep::none);
    ASSERT_EQ(log->messages("devices").size(), 1u);
    EXPECT_NE(log->messages("devices").front().find(missing), std::string::npos)
        << log->messages("devices").front();
}

// What sway itself says of its outputs' power ("dpms": true while on), output by output.
std::string swayOutputPower(const std::string& socket) {
    std::string answer;
    FILE* pipe = ::popen(("timeout 5 swaymsg -r -s '" + socket + "' -t get_outputs").c_str(), "r");
    if (pipe == nullptr) {
        return answer;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        answer.append(buffer, got);
    }
    ::pclose(pipe);
    return answer;
}

TEST_F(SwayIpcTest, ARealWlrootsCompositorIsAskedThroughItsOutputPowerManager) {
    test::HeadlessSway sway;
    if (!sway.whyNot().empty()) {
        GTEST_SKIP() << sway.whyNot();
    }
    // Without sway's IPC socket only the Wayland protocol is left, as on river or labwc.
    CompositorDisplaySleep sleep(nullptr, "", sway.waylandDisplay());
    ASSERT_TRUE(waitFor([&] { return sleep.route() == CompositorSleep::wlroots; }))
        << (log->messages("devices").empty() ? "" : log->messages("devices").front());
    std::optional<DisplaySleepOutcome> outcome;
    sleep.sleepAll([&](const DisplaySleepOutcome& o) { outcome = o; });
    ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }));
    ASSERT_FALSE(log->messages("devices").empty());
    const std::string logged = log->messages("devices").front();
    const std::string outputs = swayOutputPower(sway.socket());
    ASSERT_NE(outputs.find("HEADLESS-1"), std::string::npos) << outputs;
    // sway 1.7's headless outputs cannot be switched off; whatever sway did, what is logged
    // must be what sway reports, never a sleep that did not happen.
    if (outputs.find("\"dpms\": true") != std::string::npos ||
        outputs.find("\"power\": true") != std::string::npos) {
        EXPECT_EQ(
            logged,
            "The Wayland compositor did not switch every output off: HEADLESS-1 is still on.");
        EXPECT_EQ(outcome, (DisplaySleepOutcome{{"HEADLESS-1"}, false}));
    } else {
        EXPECT_EQ(logged, "The Wayland compositor switched every output off (HEADLESS-1).");
        EXPECT_EQ(outcome, DisplaySleepOutcome{});
    }
}

}  // namespace
}  // namespace orvel
