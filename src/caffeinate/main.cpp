// Orvel's caffeinate: keeps the machine awake with the same inhibitors as Orvel itself, for the
// compatibility engine on systems that have no caffeinate of their own.
//
//   caffeinate [-dimsu] [-t seconds] [-w pid]
//
// -d display, -i idle sleep (also when none of d, i, m, s is given), -m disk idle, -s system
// sleep, -u declares the user active now and every 30 seconds. Runs until the timeout, the
// watched process's exit, SIGTERM or SIGINT (exit status 0). Usage errors print one line and
// exit with 2; inhibitors that cannot be held print one line and exit with 1.

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "foundation/Numbers.h"
#include "foundation/PollRunLoop.h"
#include "platform/PowerAssertionWords.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/JournalLogSink.h"
#include "platform/linux/LinuxLocalDisks.h"
#include "platform/linux/LinuxPowerAssertions.h"
#include "platform/linux/LinuxUncachedReader.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {
namespace {

constexpr const char* kUsage = "usage: caffeinate [-dimsu] [-t timeout] [-w pid]";
constexpr double kUserActivityInterval = 30.0;
// How long the buses may take to say which services run; they answer at once when they work.
constexpr double kServicesLimit = 10.0;

struct Options {
    bool display = false;
    bool idle = false;
    bool disk = false;
    bool system = false;
    bool userActive = false;
    std::optional<std::int64_t> timeout;
    std::optional<pid_t> watchPid;
};

template <class T>
std::optional<T> positiveNumber(std::string_view text) {
    const auto value = parseNumber<T>(text);
    return value && *value > 0 ? value : std::nullopt;
}

// The options, or the one line that says what is wrong.
std::variant<Options, std::string> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.size() < 2 || argument[0] != '-') {
            return "caffeinate: running a command is not supported; " + std::string(kUsage);
        }
        for (std::size_t j = 1; j < argument.size(); ++j) {
            const char letter = argument[j];
            switch (letter) {
                case 'd':
                    options.display = true;
                    continue;
                case 'i':
                    options.idle = true;
                    continue;
                case 'm':
                    options.disk = true;
                    continue;
                case 's':
                    options.system = true;
                    continue;
                case 'u':
                    options.userActive = true;
                    continue;
                case 't':
                case 'w': {
                    // The value is the rest of this argument or the next one.
                    std::string_view value = argument.substr(j + 1);
                    if (value.empty()) {
                        if (i + 1 >= argc) {
                            return std::string("caffeinate: option requires an argument -- ") +
                                   letter + "; " + kUsage;
                        }
                        value = argv[++i];
                    }
                    if (letter == 't') {
                        options.timeout = positiveNumber<std::int64_t>(value);
                        if (!options.timeout) {
                            return "caffeinate: invalid timeout " + std::string(value) + "; " +
                                   kUsage;
                        }
                    } else {
                        options.watchPid = positiveNumber<pid_t>(value);
                        if (!options.watchPid) {
                            return "caffeinate: invalid pid " + std::string(value) + "; " + kUsage;
                        }
                    }
                    j = argument.size();
                    continue;
                }
                default:
                    return std::string("caffeinate: illegal option -- ") + letter + "; " + kUsage;
            }
        }
    }
    return options;
}

std::shared_ptr<DBusConnection> openBus(DBusConnection::Bus which) {
    auto bus = DBusConnection::open(which);
    if (!bus) {
        std::fprintf(stderr, "caffeinate: %s\n", bus.error().message.c_str());
        return nullptr;
    }
    return bus.value();
}

// The holds the flags ask for; idle sleep when none is named.
std::vector<std::string_view> assertionTypes(const Options& options) {
    std::vector<std::string_view> types;
    if (options.display)
        types.push_back(assertion_type::kPreventUserIdleDisplaySleep);
    if (options.idle || !(options.display || options.disk || options.system))
        types.push_back(assertion_type::kPreventUserIdleSystemSleep);
    if (options.disk)
        types.push_back(assertion_type::kPreventDiskIdle);
    if (options.system)
        types.push_back(assertion_type::kPreventSystemSleep);
    return types;
}

int run(const Options& options) {
    // Signals arrive through the loop, so the inhibitors are released on the way out.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    UniqueFd signalFd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));

    UniqueFd watched;
    if (options.watchPid) {
        watched.reset(static_cast<int>(::syscall(SYS_pidfd_open, *options.watchPid, 0)));
        if (!watched) {
            std::fprintf(stderr, "caffeinate: no process with pid %d\n", *options.watchPid);
            return 1;
        }
    }

    auto loop = std::make_unique<PollRunLoop>();
    PollRunLoop& mainLoop = *loop;
    RunLoop::install(std::move(loop));
    // The backends' lines go to the journal; on standard error only this program's own lines
    // appear, one per failure.
    if (JournalLogSink::isAvailable()) {
        installLogSink(std::make_shared<JournalLogSink>());
    } else {
        installLogSink(std::make_shared<StderrLogSink>(LogLevel::Fault));
    }

    int status = 0;
    {
        auto systemBus = openBus(DBusConnection::Bus::system);
        auto sessionBus = openBus(DBusConnection::Bus::session);
        LinuxPowerAssertions assertions(
            systemBus, sessionBus,
            std::make_unique<DiskSpinKeeper>(
                std::make_shared<LinuxLocalDisks>(), std::make_shared<LinuxUncachedReader>(),
                LinuxUncachedReader::ownFolder(xdg::processEnvironment())));
        mainLoop.runFor(kServicesLimit, [&] {
            return (!systemBus || systemBus->namesKnown()) &&
                   (!sessionBus || sessionBus->namesKnown());
        });

        // The words are the ones Orvel shows for its own engine: it shows this program's last
        // line, and finds that line in its catalogues.
        std::map<AssertionID, std::string_view> held;
        for (std::string_view type : assertionTypes(options)) {
            const auto created = assertions.createWithName(type, kAssertionLevelOn, "Orvel");
            if (created.status != kIOReturnSuccess) {
                std::fprintf(stderr, "caffeinate: %s\n",
                             powerLockFailure(type, created.status).c_str());
                return 1;
            }
            held.emplace(created.id, type);
        }
        Subscription refused = assertions.assertionRefused.subscribe([&](AssertionID id,
                                                                         IOReturn code) {
            const auto it = held.find(id);
            std::fprintf(
                stderr, "caffeinate: %s\n",
                powerLockFailure(it != held.end() ? it->second : std::string_view(), code).c_str());
            status = 1;
            mainLoop.quit();
        });

        Timer userActivity;
        if (options.userActive) {
            auto declare = [&] {
                AssertionID id = 0;
                const IOReturn result =
                    assertions.declareUserActivity("Orvel", kUserActiveLocal, id);
                if (result != kIOReturnSuccess) {
                    std::fprintf(stderr, "caffeinate: %s\n", userActivityFailure(result).c_str());
                    status = 1;
                    mainLoop.quit();
                }
            };
            declare();
            userActivity = mainLoop.every(kUserActivityInterval, declare);
        }
        Timer timeout;
        if (options.timeout) {
            timeout =
                mainLoop.after(static_cast<double>(*options.timeout), [&] { mainLoop.quit(); });
        }
        FdWatch signalWatch = mainLoop.watchFd(signalFd.get(), kFdReadable, [&](unsigned) {
            signalfd_siginfo info{};
            [[maybe_unused]] auto n = ::read(signalFd.get(), &info, sizeof info);
            mainLoop.quit();
        });
        FdWatch exitWatch;
        if (watched) {
            exitWatch =
                mainLoop.watchFd(watched.get(), kFdReadable, [&](unsigned) { mainLoop.quit(); });
        }
        if (status == 0) {
            mainLoop.run();
        }
    }
    RunLoop::install(nullptr);
    return status;
}

}  // namespace
}  // namespace orvel

int main(int argc, char** argv) {
    auto parsed = orvel::parse(argc, argv);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 2;
    }
    return orvel::run(std::get<orvel::Options>(parsed));
}
