#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "foundation/PollRunLoop.h"
#include "platform/linux/LinuxHelperConnection.h"
#include "platform/linux/LinuxHelperService.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxScreenLock.h"
#include "platform/sim/SimPaths.h"
#include "support/BusTest.h"
#include "support/Catalogues.h"
#include "triggers/WakeHelperClient.h"
#include "wakehelper/HelperProcess.h"

namespace orvel {
namespace {

using test::HelperProcess;
using test::readText;

// The application's side of the helper, on a real loop against the real helper program.
class LinuxHelperConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { RunLoop::install(std::make_unique<PollRunLoop>()); }
    void TearDown() override { RunLoop::install(nullptr); }

    PollRunLoop& loop() { return static_cast<PollRunLoop&>(RunLoop::main()); }

    // Sends and runs the loop until the reply, within a limit of seconds.
    std::optional<Result<std::int32_t>> send(LinuxHelperConnection& connection,
                                             const std::vector<Date>& dates) {
        std::optional<Result<std::int32_t>> reply;
        auto request = connection.send(dates, [&](Result<std::int32_t> r) { reply = r; });
        EXPECT_FALSE(reply.has_value()) << "a reply never comes inside send";
        loop().runFor(30, [&] { return reply.has_value(); });
        return reply;
    }
};

TEST_F(LinuxHelperConnectionTest, TheAlarmHoldsTheEarliestDateAndAnEmptyListClearsIt) {
    HelperProcess helper("client-helper");
    ASSERT_TRUE(helper.start());
    LinuxHelperConnection connection(helper.socket);
    const Date now = RunLoop::main().now();
    auto reply = send(connection, {now + 7200, now + 600.5, now + 3600});
    ASSERT_TRUE(reply && reply->ok());
    EXPECT_EQ(reply->value(), 0);
    EXPECT_EQ(readText(helper.wakealarm),
              std::to_string(static_cast<long long>(std::ceil((now + 600.5).unixTime()))));

    reply = send(connection, {});
    ASSERT_TRUE(reply && reply->ok());
    EXPECT_EQ(readText(helper.wakealarm), "0");
}

TEST_F(LinuxHelperConnectionTest, AFailedAlarmWriteComesBackAsItsErrno) {
    HelperProcess helper("client-rtc");
    std::filesystem::remove(helper.wakealarm);
    std::filesystem::create_directory(helper.wakealarm);
    ASSERT_TRUE(helper.start());
    LinuxHelperConnection connection(helper.socket);
    auto reply = send(connection, {RunLoop::main().now() + 600});
    ASSERT_TRUE(reply && reply->ok());
    EXPECT_EQ(reply->value(), -EISDIR);
}

TEST_F(LinuxHelperConnectionTest, NoHelperAndASilentOneAreErrorsInWords) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("orvel-silent-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "socket").string();

    LinuxHelperConnection absent(path);
    auto reply = send(absent, {});
    ASSERT_TRUE(reply && !reply->ok());
    EXPECT_EQ(reply->error().message, "cannot connect to " + path + ": No such file or directory");

    // Listens, never answers.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    LinuxHelperConnection silent(path, 2);
    reply = send(silent, {});
    ASSERT_TRUE(reply && !reply->ok());
    EXPECT_EQ(reply->error().message, "no reply within 2 seconds");
    ::close(listener);
    std::filesystem::remove_all(folder);
}

TEST_F(LinuxHelperConnectionTest, AnAbandonedRequestNeverReplies) {
    HelperProcess helper("client-abandon");
    ASSERT_TRUE(helper.start());
    LinuxHelperConnection connection(helper.socket);
    bool replied = false;
    connection.send({}, [&](Result<std::int32_t>) { replied = true; }).reset();
    loop().runFor(0.5, [] { return false; });
    EXPECT_FALSE(replied);
}

// The unit's state read from a fixture tree; systemctl stands in as a script that records what
// it was asked and answers as pkexec would.
class LinuxHelperServiceTest : public LinuxHelperConnectionTest {
  protected:
    void SetUp() override {
        LinuxHelperConnectionTest::SetUp();
        root =
            std::filesystem::temp_directory_path() / ("orvel-units-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "usr/lib/systemd/system");
        std::ofstream(root / "usr/lib/systemd/system" / kUnit) << "[Service]\n";
        script = (root / "systemctl").string();
        std::ofstream(script)
            << "echo \"$*\" >> \"$(dirname \"$0\")/asked\"\n"
               "status=$(cat \"$(dirname \"$0\")/status\" 2>/dev/null || echo 0)\n"
               "[ \"$status\" = 0 ] || exit \"$status\"\n"
               "wants=\"$(dirname \"$0\")/etc/systemd/system/multi-user.target.wants\"\n"
               "mkdir -p \"$wants\"\n"
               "if [ \"$1\" = enable ]; then ln -sf /x \"$wants/$3\"; "
               "else rm -f \"$wants/$3\"; fi\n";
    }
    void TearDown() override {
        std::filesystem::remove_all(root);
        LinuxHelperConnectionTest::TearDown();
    }
    std::optional<Result<void>> change(LinuxHelperService& service, bool enable) {
        std::optional<Result<void>> outcome;
        auto done = [&](Result<void> r) { outcome = r; };
        enable ? service.registerService(done) : service.unregisterService(done);
        loop().runFor(30, [&] { return outcome.has_value(); });
        return outcome;
    }

    static constexpr const char* kUnit = "orvel-wake-helper.service";
    std::filesystem::path root;
    std::string script;
    LinuxProcesses processes;
};

TEST_F(LinuxHelperServiceTest, EnableDisableRefusalAndAMissingUnitReadAsTheirStatuses) {
    LinuxHelperService service(processes, {root.string(), kUnit, {"/bin/sh", script}});
    EXPECT_EQ(service.status(), helper_service_status::kNotRegistered);

    struct Step {
        bool enable;
        int exitStatus;
        bool ok;
        int status;
    };
    const Step steps[] = {
        {true, 0, true, helper_service_status::kEnabled},
        {false, 0, true, helper_service_status::kNotRegistered},
        {true, 126, false, helper_service_status::kRequiresApproval},
        {false, 127, false, helper_service_status::kRequiresApproval},
        {true, 1, false, helper_service_status::kNotRegistered},
        {true, 0, true, helper_service_status::kEnabled},
    };
    for (const auto& step : steps) {
        std::ofstream(root / "status") << step.exitStatus;
        const auto outcome = change(service, step.enable);
        ASSERT_TRUE(outcome.has_value());
        EXPECT_EQ(outcome->ok(), step.ok) << step.exitStatus;
        EXPECT_EQ(service.status(), step.status) << step.exitStatus;
    }
    EXPECT_EQ(readText(root / "asked").substr(0, 44),
              "enable --now orvel-wake-helper.service\ndisab");

    std::filesystem::remove_all(root / "etc");
    std::filesystem::remove(root / "usr/lib/systemd/system" / kUnit);
    EXPECT_EQ(service.status(), helper_service_status::kNotFound);

    LinuxHelperService missing(processes, {root.string(), kUnit, {"/nonexistent/pkexec"}});
    const auto outcome = change(missing, true);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome->ok());
}

// The client itself on the Linux platform, with an enabled unit in a fixture tree and the real
// helper program on its socket.
TEST_F(LinuxHelperConnectionTest, TheClientArmsTheEarliestDateAndSaysWhenTheHelperIsGone) {
    HelperProcess helper("client-platform");
    ASSERT_TRUE(helper.start());
    const auto units = helper.folder / "root";
    std::filesystem::create_directories(units / "usr/lib/systemd/system");
    std::filesystem::create_directories(units / "etc/systemd/system/multi-user.target.wants");
    std::ofstream(units / "usr/lib/systemd/system/orvel-wake-helper.service") << "[Service]\n";
    std::ofstream(units / "etc/systemd/system/multi-user.target.wants/orvel-wake-helper.service")
        << "[Service]\n";
    LinuxPlatformConfig config;
    config.paths = std::make_unique<SimPaths>((helper.folder / "orvel").string());
    config.autostartFolder = (helper.folder / "autostart").string();
    config.program = "/bin/sh";
    config.helperService.root = units.string();
    config.helperSocket = helper.socket;
    Platform::install(std::make_unique<LinuxPlatform>(std::move(config)));

    auto graph = std::make_unique<Services>(Platform::current());
    WakeHelperClient& client = graph->wakeHelper();
    EXPECT_EQ(client.state(), WakeHelperClient::State::active);
    const Date now = RunLoop::main().now();
    client.sync({now + 7200, now + 900});
    EXPECT_TRUE(loop().runFor(30, [&] {
        return client.requestsInFlight() == 0 &&
               readText(helper.wakealarm) ==
                   std::to_string(static_cast<long long>(std::ceil((now + 900).unixTime())));
    }));
    client.sync({});
    EXPECT_TRUE(loop().runFor(
        30, [&] { return client.requestsInFlight() == 0 && readText(helper.wakealarm) == "0"; }));
    EXPECT_EQ(client.lastError(), std::nullopt);

    helper.stop();
    std::filesystem::remove(helper.socket);
    client.sync({now + 900});
    EXPECT_TRUE(loop().runFor(30, [&] { return client.requestsInFlight() == 0; }));
    EXPECT_EQ(client.lastError(), "helper unreachable: cannot connect to " + helper.socket +
                                      ": No such file or directory");
    {
        // The Schedule tab shows it in the reader's language; the report keeps it English.
        const test::ScopedLanguage german(ORVEL_LOCALE, "de");
        client.sync({now + 900});
        EXPECT_TRUE(loop().runFor(30, [&] { return client.requestsInFlight() == 0; }));
        EXPECT_EQ(client.lastError().value_or("").rfind(
                      "Aufweck-Helfer nicht erreichbar: cannot connect to " + helper.socket, 0),
                  0u)
            << client.lastError().value_or("");
        EXPECT_NE(client.statusLine().find("last error: helper unreachable: cannot connect"),
                  std::string::npos)
            << client.statusLine();
    }
    graph.reset();
    Registry::reset();
    Platform::install(nullptr);
}

class LinuxScreenLockTest : public test::BusTest {};

TEST_F(LinuxScreenLockTest, LocksItsSessionAndHearsTheUnlock) {
    startService("logind");
    const DBusObject mock{"org.freedesktop.login1", "/org/freedesktop/login1",
                          "org.freedesktop.DBus.Mock"};
    auto added = test::callAndWait(*probe, mock, "AddSession", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "ssusb", "c1", "seat0", 1000u, "user", 1);
    });
    ASSERT_TRUE(added && !DBusConnection::errorOf(added.get()));

    const DBusObject ownSession{"org.freedesktop.login1", "/org/freedesktop/login1/session/c1",
                                "org.freedesktop.login1.Session"};
    int lockSignals = 0;
    auto match = probe->matchSignal(nullptr, ownSession.path, ownSession.interface, "Lock",
                                    [&](sd_bus_message*) { ++lockSignals; });
    ASSERT_TRUE(match.ok());

    LinuxScreenLock lock(system, "c1");
    EXPECT_EQ(lock.sessionPath(), ownSession.path);
    int unlocks = 0;
    auto subscription = lock.unlocked.subscribe([&] { ++unlocks; });
    ASSERT_TRUE(lock.lockNow().ok());
    EXPECT_TRUE(test::waitFor([&] { return lockSignals == 1; }));

    test::callAndWait(*probe, ownSession, "Unlock");
    EXPECT_TRUE(test::waitFor([&] { return unlocks == 1; }));

    // The desktop's locker reports through the session's LockedHint.
    const auto hint = [&](int locked) {
        test::callAndWait(*probe, ownSession, "SetLockedHint", [locked](sd_bus_message* m) {
            return sd_bus_message_append(m, "b", locked);
        });
    };
    hint(1);
    hint(0);
    EXPECT_TRUE(test::waitFor([&] { return unlocks == 2; }));
    EXPECT_EQ(unlocks, 2) << "locking is no unlock";

    LinuxScreenLock withoutBus(nullptr, "c1");
    const auto refused = withoutBus.lockNow();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message,
              "Locking the screen is not available on this system (no system bus).");
}

}  // namespace
}  // namespace orvel
