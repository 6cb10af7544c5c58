#include "platform/linux/LinuxNotifications.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/BusTest.h"

namespace orvel {
namespace {

using test::BusTest;
using test::waitFor;

struct Posted {
    std::string appName;
    std::uint32_t replaces;
    std::string summary;
    std::string body;
    bool operator==(const Posted&) const = default;
};

class LinuxNotificationsTest : public BusTest {
  protected:
    // The Notify calls the mock daemon has answered, from its call log.
    std::vector<Posted> posted() {
        std::vector<Posted> calls;
        test::Reply reply = test::callAndWait(
            *probe,
            DBusObject{"org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                       "org.freedesktop.DBus.Mock"},
            "GetMethodCalls",
            [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "Notify"); });
        if (!reply || DBusConnection::errorOf(reply.get())) {
            ADD_FAILURE() << "the mock's call log could not be read";
            return calls;
        }
        sd_bus_message* m = reply.get();
        sd_bus_message_enter_container(m, 'a', "(tav)");
        while (sd_bus_message_enter_container(m, 'r', "tav") > 0) {
            std::uint64_t time = 0;
            Posted call;
            const char *app, *icon, *summary, *body;
            sd_bus_message_read(m, "t", &time);
            sd_bus_message_enter_container(m, 'a', "v");
            sd_bus_message_read(m, "v", "s", &app);
            sd_bus_message_read(m, "v", "u", &call.replaces);
            sd_bus_message_read(m, "v", "s", &icon);
            sd_bus_message_read(m, "v", "s", &summary);
            sd_bus_message_read(m, "v", "s", &body);
            call.appName = app;
            call.summary = summary;
            call.body = body;
            while (sd_bus_message_skip(m, "v") > 0) {
            }
            sd_bus_message_exit_container(m);
            sd_bus_message_exit_container(m);
            calls.push_back(call);
        }
        return calls;
    }
};

TEST_F(LinuxNotificationsTest, AuthorizationIsGrantedOnlyWhileAServiceIsThereAndSoIsItsStatus) {
    struct Case {
        bool bus;
        bool daemon;
        bool granted;
    };
    const Case cases[] = {{true, true, true}, {true, false, false}, {false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bus ? "bus" : "no bus") + (c.daemon ? ", daemon" : ""));
        if (c.daemon) {
            startService("notification_daemon");
        }
        LinuxNotifications notifications(c.bus ? session : nullptr);
        std::optional<bool> answer;
        bool onMainThread = false;
        notifications.requestAuthorization(kNotificationAlert, [&](bool granted) {
            answer = granted;
            onMainThread = RunLoop::main().isMainThread();
        });
        std::optional<NotificationAuthorization> status;
        notifications.authorizationStatus([&](NotificationAuthorization s) { status = s; });
        EXPECT_FALSE(answer) << "never inside the call";
        ASSERT_TRUE(waitFor([&] { return answer.has_value() && status.has_value(); }));
        EXPECT_EQ(*answer, c.granted);
        EXPECT_EQ(*status, c.granted ? NotificationAuthorization::authorized
                                     : NotificationAuthorization::unknown);
        EXPECT_TRUE(onMainThread);
        if (c.daemon) {
            stopService("notification_daemon");
        }
    }
    // Each refusal says so once.
    EXPECT_EQ(log->messages("notifications").size(), 2u)
        << ::testing::PrintToString(log->messages("notifications"));
}

TEST_F(LinuxNotificationsTest, PostsFromAnyThreadAsOrvelAndReplacesBySameIdentifier) {
    startService("notification_daemon");
    LinuxNotifications notifications(session);
    std::thread([&] {
        notifications.add({"session-ended", "Orvel finished", "Your computer can sleep again."});
    }).join();
    ASSERT_TRUE(eventually([&] { return posted().size() == 1; }));
    // A round trip on the session bus: the reply with the first one's id has been read after it.
    test::callAndWait(
        *session,
        DBusObject{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"},
        "GetId");
    notifications.add({"session-ended", "Orvel finished", "Again."});
    notifications.add({"other", "Orvel", "Something else."});
    ASSERT_TRUE(eventually([&] { return posted().size() == 3; }));
    EXPECT_EQ(posted(), (std::vector<Posted>{
                            {"Orvel", 0, "Orvel finished", "Your computer can sleep again."},
                            {"Orvel", 1, "Orvel finished", "Again."},
                            {"Orvel", 0, "Orvel", "Something else."},
                        }));
}

TEST_F(LinuxNotificationsTest, WithoutAServiceNothingIsPostedAndTheLogSaysWhy) {
    LinuxNotifications notifications(session);
    ASSERT_TRUE(waitFor([&] { return session->namesKnown(); }));
    notifications.add({"a", "Title", "Body"});
    notifications.add({"b", "Title", "Body"});
    ASSERT_TRUE(waitFor([&] { return !log->messages("notifications").empty(); }));
    test::callAndWait(
        *session,
        DBusObject{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"},
        "GetId");
    EXPECT_EQ(log->messages("notifications"),
              (std::vector<std::string>{"Notifications are not available on this system (no "
                                        "notification service on the session bus)."}));
}

}  // namespace
}  // namespace orvel
