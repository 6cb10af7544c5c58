#include "support/PrivateBus.h"

#include <cstdlib>

#include "platform/linux/UniqueFd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace orvel::test {

namespace fs = std::filesystem;

namespace {

const char* kBusConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@FOLDER@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

bool readLine(int fd, std::string& line) {
    char c = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(kLimit * 1000)) <= 0) {
            return false;
        }
        if (::read(fd, &c, 1) <= 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        line += c;
    }
}

}  // namespace

PollRunLoop& loop() {
    return static_cast<PollRunLoop&>(RunLoop::main());
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& logFile) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    for (const auto& extra : environment) {
        const std::string key = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& v) { return v.rfind(key, 0) == 0; });
        env.push_back(extra);
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    // Closed by a successful exec: once it reads as closed, the child runs the program.
    int execCheck[2];
    if (::pipe2(execCheck, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(execCheck[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (!logFile.empty()) {
            const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
        }
        ::execve(args[0], args.data(), envp.data());
        const int error = errno;
        [[maybe_unused]] auto n = ::write(execCheck[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(execCheck[1]);
    int error = 0;
    const ssize_t n = pid > 0 ? ::read(execCheck[0], &error, sizeof error) : 0;
    ::close(execCheck[0]);
    if (n > 0) {
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

int waitForExit(pid_t pid) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        return -1;
    }
    pollfd p{pidfd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(kLimit * 1000));
    ::close(pidfd);
    int status = 0;
    if (ready <= 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Result<std::unique_ptr<PrivateBus>> PrivateBus::startForMocks() {
    auto bus = start();
    if (!bus) {
        return Error{"no private D-Bus: " + bus.error().message};
    }
    if (std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") != 0) {
        return Error{"python3-dbusmock is not installed for /usr/bin/python3"};
    }
    return bus;
}

Result<std::unique_ptr<PrivateBus>> PrivateBus::start(const std::string& extraConfig) {
    if (::access("/usr/bin/dbus-daemon", X_OK) != 0) {
        return Error{"dbus-daemon is not installed"};
    }
    std::unique_ptr<PrivateBus> bus(new PrivateBus());
    char pattern[] = "/tmp/orvel-bus-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return Error{std::string("no temporary folder: ") + std::strerror(errno)};
    }
    bus->folder_ = pattern;
    std::string config = kBusConfig;
    config.replace(config.find("@FOLDER@"), 8, bus->folder_);
    config.insert(config.find("</busconfig>"), extraConfig);
    std::ofstream(bus->folder_ + "/bus.conf") << config;

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return Error{"no pipe"};
    }
    ::fcntl(pipeFds[1], F_SETFD, 0);  // the daemon writes its address here
    bus->daemon_ =
        spawn({"/usr/bin/dbus-daemon", "--config-file=" + bus->folder_ + "/bus.conf", "--nofork",
               "--nopidfile", "--print-address=" + std::to_string(pipeFds[1])},
              {}, bus->folder_ + "/daemon.log");
    ::close(pipeFds[1]);
    std::string address;
    const bool read = readLine(pipeFds[0], address);
    ::close(pipeFds[0]);
    if (!read || address.empty()) {
        return Error{"dbus-daemon did not start (see " + bus->folder_ + "/daemon.log)"};
    }
    bus->address_ = address;
    bus->control_ = bus->connect("control bus");
    if (!bus->control_) {
        return Error{"could not connect to the private bus at " + address};
    }
    return bus;
}

PrivateBus::~PrivateBus() {
    for (auto it = services_.rbegin(); it != services_.rend(); ++it) {
        ::kill(*it, SIGTERM);
        ::waitpid(*it, nullptr, 0);
    }
    control_.reset();
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        ::waitpid(daemon_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::shared_ptr<DBusConnection> PrivateBus::connect(const std::string& description) {
    auto connection = DBusConnection::openAddress(address_, description);
    return connection ? connection.value() : nullptr;
}

Result<pid_t> PrivateBus::startTemplate(const std::string& templateName, const std::string& busName,
                                        const std::string& parametersJson) {
    std::vector<std::string> argv{"/usr/bin/python3", "-m", "dbusmock", "-t", templateName};
    if (!parametersJson.empty()) {
        argv.push_back("-p");
        argv.push_back(parametersJson);
    }
    const pid_t pid = spawn(argv,
                            {"DBUS_SYSTEM_BUS_ADDRESS=" + address_,
                             "DBUS_SESSION_BUS_ADDRESS=" + address_, "PYTHONDONTWRITEBYTECODE=1"},
                            folder_ + "/services.log");
    if (pid < 0) {
        return Error{"could not start python3"};
    }
    services_.push_back(pid);
    auto name = control_->watchName(busName);
    // A service that dies before it serves the name wakes the loop through its pidfd.
    UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    bool died = false;
    FdWatch watch =
        RunLoop::main().watchFd(pidfd.get(), kFdReadable, [&](unsigned) { died = true; });
    const bool up = waitFor([&] { return name->isPresent() || died; });
    if (!up || !name->isPresent()) {
        std::ifstream log(folder_ + "/services.log");
        std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        return Error{"dbusmock could not serve " + busName + ": " + text.substr(0, 400)};
    }
    return pid;
}

void PrivateBus::stopService(pid_t pid, const std::string& busName) {
    auto name = control_->watchName(busName);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::erase(services_, pid);
    waitFor([&] { return name->state() == BusNameState::absent; });
}

void PrivateBus::stopDaemon() {
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        ::waitpid(daemon_, nullptr, 0);
        daemon_ = -1;
    }
}

Reply callAndWait(DBusConnection& bus, const DBusObject& object, const char* member,
                  const DBusConnection::Append& append) {
    Reply reply;
    auto slot = bus.call(object, member, append, [&](sd_bus_message* m) { reply = Reply(m); });
    if (!slot) {
        return reply;
    }
    waitFor([&] { return static_cast<bool>(reply); });
    return reply;
}

namespace {

Waiter& installedWaiter() {
    static Waiter waiter;
    return waiter;
}

}  // namespace

void setWaiter(Waiter waiter) {
    installedWaiter() = std::move(waiter);
}

bool waitFor(const std::function<bool()>& done) {
    if (const auto& waiter = installedWaiter()) {
        return waiter(kLimit, done);
    }
    return loop().runFor(kLimit, done);
}

}  // namespace orvel::test
