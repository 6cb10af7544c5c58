#include "platform/linux/DBusConnection.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "support/BusTest.h"

namespace orvel {
namespace {

using test::BusTest;
using test::waitFor;

const DBusObject kBusDaemon{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus"};

class DBusConnectionTest : public BusTest {};

TEST(DBusConnectionOpenTest, AMissingBusIsReportedInWords) {
    RunLoop::install(std::make_unique<PollRunLoop>());
    auto missing = DBusConnection::openAddress("unix:path=/nonexistent/orvel/bus", "test bus");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message,
              "The test bus is not available (No such file or directory).");

    const char* saved = getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string previous = saved ? saved : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvel/bus", 1);
    auto session = DBusConnection::open(DBusConnection::Bus::session);
    ASSERT_FALSE(session.ok());
    EXPECT_EQ(session.error().message.rfind("The session bus is not available on this system", 0),
              0u)
        << session.error().message;
    if (saved) {
        setenv("DBUS_SESSION_BUS_ADDRESS", previous.c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    RunLoop::install(nullptr);
}

TEST_F(DBusConnectionTest, ANameIsPresentWhileAServiceOwnsIt) {
    auto name = system->watchName("org.freedesktop.ScreenSaver");
    EXPECT_EQ(name->state(), BusNameState::unknown);
    EXPECT_FALSE(system->namesKnown());
    std::vector<BusNameState> seen;
    Subscription subscription = name->changed.subscribe([&](BusNameState s) { seen.push_back(s); });
    ASSERT_TRUE(waitFor([&] { return system->namesKnown(); }));
    EXPECT_EQ(name->state(), BusNameState::absent);

    startService("screensaver");
    ASSERT_TRUE(waitFor([&] { return name->isPresent(); }));
    EXPECT_EQ(system->watchName("org.freedesktop.ScreenSaver"), name) << "one watch per name";
    stopService("screensaver");
    ASSERT_TRUE(waitFor([&] { return name->state() == BusNameState::absent; }));
    EXPECT_EQ(seen, (std::vector<BusNameState>{BusNameState::absent, BusNameState::present,
                                               BusNameState::absent}));
}

TEST_F(DBusConnectionTest, ACancelledCallNeverReachesItsHandler) {
    bool cancelledCalled = false;
    auto cancelled = system->call(kBusDaemon, "GetId", nullptr,
                                  [&](sd_bus_message*) { cancelledCalled = true; });
    ASSERT_TRUE(cancelled.ok());
    cancelled.value().reset();

    std::string id;
    auto answered = system->call(kBusDaemon, "GetId", nullptr, [&](sd_bus_message* reply) {
        const char* text = nullptr;
        if (sd_bus_message_read(reply, "s", &text) > 0) {
            id = text;
        }
    });
    ASSERT_TRUE(answered.ok());
    ASSERT_TRUE(waitFor([&] { return !id.empty(); }));
    EXPECT_EQ(id.size(), 32u);
    EXPECT_FALSE(cancelledCalled);
}

TEST_F(DBusConnectionTest, AMatchTheBusRefusesLeavesOneLogLineAndTheConnectionOpen) {
    auto limited =
        test::PrivateBus::start(R"(<limit name="max_match_rules_per_connection">2</limit>)");
    ASSERT_TRUE(limited.ok()) << limited.error().message;
    auto connection = limited.value()->connect("limited bus");
    ASSERT_TRUE(connection);
    std::vector<DBusSlot> matches;
    for (const char* member : {"First", "Second", "Third"}) {
        auto match = connection->matchSignal(nullptr, "/org/orvel/Test", "org.orvel.Test", member,
                                             [](sd_bus_message*) {});
        ASSERT_TRUE(match.ok()) << match.error().message;
        matches.push_back(std::move(match.value()));
    }
    auto name = connection->watchName("org.orvel.Nobody");  // its owner changes: a fourth match

    // Answered after the bus has answered every match before it.
    test::Reply reply = test::callAndWait(*connection, kBusDaemon, "GetId");
    ASSERT_TRUE(reply);
    EXPECT_FALSE(DBusConnection::errorOf(reply.get()));
    EXPECT_TRUE(connection->isOpen());
    EXPECT_TRUE(waitFor([&] { return connection->namesKnown(); }));
    EXPECT_EQ(name->state(), BusNameState::absent);
    const auto lines = log->messages("dbus");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("org.orvel.Test.Third"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("org.orvel.Nobody"), std::string::npos) << lines[1];
    for (const auto& line : lines) {
        EXPECT_NE(line.find("LimitsExceeded"), std::string::npos) << line;
    }
}

TEST_F(DBusConnectionTest, QuestionsTheBusRefusesLeaveOneLogLineEachAndTheNameAbsent) {
    auto guarded = test::PrivateBus::start(R"(<policy context="default">
    <deny send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"
          send_member="ListActivatableNames"/>
    <deny send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"
          send_member="GetNameOwner"/>
  </policy>)");
    ASSERT_TRUE(guarded.ok()) << guarded.error().message;
    auto connection = guarded.value()->connect("guarded bus");
    ASSERT_TRUE(connection);
    auto name = connection->watchName("org.orvel.Nobody");
    ASSERT_TRUE(waitFor([&] { return connection->namesKnown(); }));
    EXPECT_EQ(name->state(), BusNameState::absent);
    EXPECT_TRUE(connection->isOpen());

    const auto lines = log->messages("dbus");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("who owns org.orvel.Nobody"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("starts on demand"), std::string::npos) << lines[1];
    for (const auto& line : lines) {
        EXPECT_NE(line.find("AccessDenied"), std::string::npos) << line;
    }
}

TEST_F(DBusConnectionTest, ErrorRepliesCarryTheirNameAndText) {
    test::Reply reply = test::callAndWait(
        *system,
        DBusObject{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"},
        "GetNameOwner",
        [](sd_bus_message* m) { return sd_bus_message_append(m, "s", "org.example.None"); });
    ASSERT_TRUE(reply);
    EXPECT_EQ(DBusConnection::errorName(reply.get()), "org.freedesktop.DBus.Error.NameHasNoOwner");
    const auto text = DBusConnection::errorOf(reply.get());
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("org.freedesktop.DBus.Error.NameHasNoOwner: ", 0), 0u) << *text;
}

TEST_F(DBusConnectionTest, ALostBusMakesEveryNameAbsentAndCallsFailAtOnce) {
    startService("logind");
    auto name = system->watchName("org.freedesktop.login1");
    ASSERT_TRUE(waitFor([&] { return name->isPresent(); }));
    bool pendingAnswered = false;
    std::string pendingError;
    // A call still waiting when the bus goes gets an error reply, not silence.
    auto pending =
        system->call(test::kLogindMock, "ListInhibitors", nullptr, [&](sd_bus_message* reply) {
            pendingAnswered = true;
            pendingError = DBusConnection::errorName(reply);
        });
    bus->stopDaemon();
    ASSERT_TRUE(waitFor([&] { return !system->isOpen(); }));
    EXPECT_EQ(name->state(), BusNameState::absent);
    EXPECT_TRUE(pendingAnswered);
    auto call = system->call(kBusDaemon, "GetId", nullptr, nullptr);
    ASSERT_FALSE(call.ok());
    EXPECT_EQ(call.error().message, "The system bus is not available.");
    // One line per connection (the test's own ones included).
    const auto lines = log->messages("dbus");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("The system bus connection was lost (", 0) == 0;
                            }),
              1);
}

TEST_F(DBusConnectionTest, ANameAnotherProgramHoldsIsRefusedInWords) {
    std::vector<std::optional<std::string>> answers;
    auto first =
        session->requestName("org.orvel.Test", [&](auto error) { answers.push_back(error); });
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(waitFor([&] { return answers.size() == 1; }));
    auto second =
        probe->requestName("org.orvel.Test", [&](auto error) { answers.push_back(error); });
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(waitFor([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers[0], std::nullopt);
    EXPECT_EQ(answers[1], "the name org.orvel.Test belongs to another program");

    // Two connections' messages reach the bus in no set order: the release is awaited.
    auto name = probe->watchName("org.orvel.Test");
    ASSERT_TRUE(waitFor([&] { return name->isPresent(); }));
    ASSERT_TRUE(session->releaseName("org.orvel.Test").ok());
    ASSERT_TRUE(waitFor([&] { return name->state() == BusNameState::absent; }));
    auto third =
        probe->requestName("org.orvel.Test", [&](auto error) { answers.push_back(error); });
    ASSERT_TRUE(waitFor([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers[2], std::nullopt) << "free again once released";
}

TEST_F(DBusConnectionTest, AnExportedMethodAnswersAndAFailingOneSendsAnError) {
    DBusInterface interface;
    interface.name = "org.orvel.Echo";
    interface.methods = {
        {"Twice", "i", "i",
         [](sd_bus_message* call, sd_bus_message* reply) {
             std::int32_t n = 0;
             const int r = sd_bus_message_read(call, "i", &n);
             return r < 0 ? r : sd_bus_message_append(reply, "i", 2 * n);
         }},
        {"Refuse", "", "", [](sd_bus_message*, sd_bus_message*) { return -EPERM; }},
    };
    auto exported = session->exportObject("/org/orvel/Echo", std::move(interface));
    ASSERT_TRUE(exported.ok());
    const std::string name = session->uniqueName();
    const DBusObject echo{name.c_str(), "/org/orvel/Echo", "org.orvel.Echo"};

    test::Reply twice = test::callAndWait(
        *probe, echo, "Twice", [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 21); });
    ASSERT_TRUE(twice);
    std::int32_t answer = 0;
    ASSERT_GE(sd_bus_message_read(twice.get(), "i", &answer), 0);
    EXPECT_EQ(answer, 42);

    test::Reply refused = test::callAndWait(*probe, echo, "Refuse");
    ASSERT_TRUE(refused);
    EXPECT_EQ(DBusConnection::errorName(refused.get()), "org.freedesktop.DBus.Error.AccessDenied");

    exported.value().reset();
    test::Reply gone = test::callAndWait(
        *probe, echo, "Twice", [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 1); });
    ASSERT_TRUE(gone);
    EXPECT_TRUE(DBusConnection::errorOf(gone.get())) << "no object once the slot is gone";
}

}  // namespace
}  // namespace orvel
