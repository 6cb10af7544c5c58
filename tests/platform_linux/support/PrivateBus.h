#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/PollRunLoop.h"
#include "foundation/Result.h"
#include "platform/linux/DBusConnection.h"

namespace orvel::test {

// How long a test waits for an event that a working system delivers at once.
inline constexpr double kLimit = 30.0;

// A reply held until the test has read it.
class Reply {
  public:
    Reply() = default;
    explicit Reply(sd_bus_message* message) : message_(sd_bus_message_ref(message)) {}
    Reply(Reply&& other) noexcept : message_(std::exchange(other.message_, nullptr)) {}
    Reply& operator=(Reply&& other) noexcept {
        std::swap(message_, other.message_);
        return *this;
    }
    ~Reply() { sd_bus_message_unref(message_); }

    sd_bus_message* get() const { return message_; }
    explicit operator bool() const { return message_ != nullptr; }

  private:
    sd_bus_message* message_ = nullptr;
};

// A dbus-daemon of the test's own, with python-dbusmock services on it. It stands for both the
// system bus and the session bus. Everything it started ends with it, or with the test process.
class PrivateBus {
  public:
    // Starts the daemon; the error says why it could not (the tests that need it then skip).
    // `extraConfig` (limits, policies) is added to the end of its configuration.
    static Result<std::unique_ptr<PrivateBus>> start(const std::string& extraConfig = "");
    // Starts the daemon for python-dbusmock services: also fails, saying so, where
    // /usr/bin/python3 has no dbusmock.
    static Result<std::unique_ptr<PrivateBus>> startForMocks();
    ~PrivateBus();

    const std::string& address() const { return address_; }
    const std::string& folder() const { return folder_; }

    // Starts a dbusmock service from a template (a stock name or one of tests/platform_linux/
    // mocks/*.py) and waits until it serves `busName`. Needs the main loop.
    Result<pid_t> startTemplate(const std::string& templateName, const std::string& busName,
                                const std::string& parametersJson = "");
    // Ends one service and waits until its name has left the bus.
    void stopService(pid_t pid, const std::string& busName);

    // Ends the daemon, as when the bus goes away under a running program.
    void stopDaemon();

    // A new connection to this bus, driven by the main loop.
    std::shared_ptr<DBusConnection> connect(const std::string& description = "test bus");

  private:
    PrivateBus() = default;

    std::string folder_;
    std::string address_;
    pid_t daemon_ = -1;
    std::vector<pid_t> services_;
    std::shared_ptr<DBusConnection> control_;
};

// The run loop of a test with a private bus.
PollRunLoop& loop();

// Calls a method and runs the loop until its reply comes (an error reply included). An empty
// reply means none came within the limit.
Reply callAndWait(DBusConnection& bus, const DBusObject& object, const char* member,
                  const DBusConnection::Append& append = nullptr);

// Runs the loop until `done` or the limit.
bool waitFor(const std::function<bool()>& done);

// How waitFor() turns a main loop that is not a PollRunLoop (Qt's); none restores the default.
using Waiter = std::function<bool(double limit, const std::function<bool()>& done)>;
void setWaiter(Waiter waiter);

// Spawns a program with the given extra environment and returns once it runs that program (-1
// when it cannot); it gets SIGKILL if the test process dies.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& logFile);

// Waits for a child to exit (bounded by the limit); its exit status, or -1.
int waitForExit(pid_t pid);

}  // namespace orvel::test
