// Construction, and the sleep, wake and clock watches. The other parts of LinuxWorkspace: the
// running applications (LinuxWorkspaceApplications.cpp), the reading of /proc and the launch
// watch (LinuxWorkspaceReading.cpp), desktop entries (LinuxWorkspaceEntries.cpp), and opening
// applications, addresses and settings (LinuxWorkspaceOpening.cpp).

#include "platform/linux/LinuxWorkspace.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/Inhibitor.h"
#include "platform/linux/Xdg.h"

namespace orvel {

namespace {

const DBusObject kLogindManager{"org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager"};
constexpr const char* kInhibit = "Inhibit";
constexpr const char* kPrepareForSleep = "PrepareForSleep";
constexpr const char* kDelayReason = "Orvel finishes its sleep work first";

}  // namespace

LinuxWorkspace::LinuxWorkspace(std::shared_ptr<DBusConnection> systemBus, Processes& processes,
                               LinuxWorkspaceOptions options)
    : bus_(std::move(systemBus)),
      processes_(processes),
      options_(std::move(options)),
      user_(options_.user < 0 ? getuid() : static_cast<uid_t>(options_.user)) {
    if (options_.applicationFolders.empty()) {
        for (const auto& folder : xdg::dataFolders(xdg::processEnvironment())) {
            options_.applicationFolders.push_back(folder + "/applications");
        }
    }
    if (options_.iconFolders.empty()) {
        const auto env = xdg::processEnvironment();
        options_.iconFolders.push_back(xdg::home(env) + "/.icons");
        for (const auto& folder : xdg::dataFolders(env)) {
            options_.iconFolders.push_back(folder + "/icons");
        }
        for (const auto& folder : xdg::dataFolders(env)) {
            options_.iconFolders.push_back(folder + "/pixmaps");
        }
    }
    if (!options_.locales) {
        options_.locales = xdg::entryLocales(xdg::processEnvironment());
    }
    if (options_.desktop.empty()) {
        const char* current = std::getenv("XDG_CURRENT_DESKTOP");
        options_.desktop = current != nullptr ? current : "";
    }
    didLaunchApplication.setSubscribersChanged([this] { launchListenersChanged(); });
    willSleep.setSubscribersChanged([this] { sleepListenersChanged(); });
    didWake.setSubscribersChanged([this] { sleepListenersChanged(); });
    clockDidChange.setSubscribersChanged([this] { clockListenersChanged(); });
    if (bus_) {
        logind_ = bus_->watchName(kLogindManager.service);
        logindWatch_ = logind_->changed.subscribe([this](BusNameState) { followLogind(); });
        followLogind();
    } else {
        log_.notice("Sleep and wake notices are not available on this system (no system bus).");
        logindReported_ = true;
    }
}

LinuxWorkspace::~LinuxWorkspace() {
    didLaunchApplication.setSubscribersChanged(nullptr);
    willSleep.setSubscribersChanged(nullptr);
    didWake.setSubscribersChanged(nullptr);
    clockDidChange.setSubscribersChanged(nullptr);
}

// The clock, sleep and wake --------------------------------------------------------------------

void LinuxWorkspace::clockListenersChanged() {
    if (clockDidChange.subscriberCount() == 0) {
        clockWatch_ = FdWatch();
        clockTimer_ = UniqueFd();
        return;
    }
    if (clockTimer_) {
        return;
    }
    clockTimer_ = UniqueFd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!clockTimer_ || !armClockWatch()) {
        log_.error(std::string("Changes of the clock are not noticed (") + std::strerror(errno) +
                   ").");
        clockTimer_ = UniqueFd();
        return;
    }
    clockWatch_ = RunLoop::main().watchFd(clockTimer_.get(), kFdReadable, [this](unsigned) {
        std::uint64_t expirations = 0;
        const bool set =
            ::read(clockTimer_.get(), &expirations, sizeof expirations) < 0 && errno == ECANCELED;
        // A cancelled timer stays cancelled until it is armed again.
        armClockWatch();
        if (set) {
            clockDidChange.send();
        }
    });
}

bool LinuxWorkspace::armClockWatch() {
    itimerspec when{};
    when.it_value.tv_sec =
        static_cast<time_t>(RunLoop::main().now().unixTime()) + 100L * 365 * 86400;
    return ::timerfd_settime(clockTimer_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when,
                             nullptr) == 0;
}

// Sleep is followed, and logind's delay lock held, only while someone listens for sleep or wake:
// nothing of Orvel shows in logind's list before a service wants to hear of sleep.
void LinuxWorkspace::sleepListenersChanged() {
    const bool listening = willSleep.subscriberCount() + didWake.subscriberCount() > 0;
    if (listening == followingSleep_) {
        return;
    }
    followingSleep_ = listening;
    if (listening) {
        if (logind_) {
            followLogind();
        }
    } else {
        sleepSignal_.reset();
        delayRequest_.reset();
        delayLock_.reset();
    }
}

void LinuxWorkspace::followLogind() {
    switch (logind_->state()) {
        case BusNameState::unknown:
            return;
        case BusNameState::absent:
            sleepSignal_.reset();
            delayRequest_.reset();
            delayLock_.reset();
            if (!logindReported_) {
                log_.notice("Sleep and wake notices are not available on this system (no logind).");
                logindReported_ = true;
            }
            return;
        case BusNameState::present:
            break;
    }
    logindReported_ = false;
    if (!followingSleep_) {
        return;
    }
    if (!sleepSignal_.isActive()) {
        auto match =
            bus_->matchSignal(kLogindManager.service, kLogindManager.path, kLogindManager.interface,
                              kPrepareForSleep, [this](sd_bus_message* m) {
                                  int start = 0;
                                  if (sd_bus_message_read(m, "b", &start) >= 0) {
                                      prepareForSleep(start != 0);
                                  }
                              });
        if (match) {
            sleepSignal_ = std::move(match.value());
        } else {
            log_.error(match.error().message);
        }
    }
    takeDelayLock();
}

void LinuxWorkspace::takeDelayLock() {
    if (delayLock_ || delayRequest_.isActive() || !bus_) {
        return;
    }
    auto request = bus_->call(
        kLogindManager, kInhibit,
        [](sd_bus_message* m) {
            return sd_bus_message_append(m, "ssss", "sleep", "Orvel", kDelayReason, "delay");
        },
        [this](sd_bus_message* reply) {
            delayRequest_.reset();
            auto lock = Inhibitor::lockFromReply(reply);
            if (!lock) {
                log_.error("logind refused the sleep delay: " + lock.error().message);
                return;
            }
            // Taken while the machine goes to sleep: holding it would only hold sleep up.
            if (!sleeping_) {
                delayLock_ = std::move(lock.value());
            }
        });
    if (request) {
        delayRequest_ = std::move(request.value());
    } else {
        log_.error(request.error().message);
    }
}

void LinuxWorkspace::prepareForSleep(bool sleeping) {
    sleeping_ = sleeping;
    if (sleeping) {
        willSleep.send();
        // The work is done: logind may go on.
        delayLock_.reset();
    } else {
        didWake.send();
        if (followingSleep_) {
            takeDelayLock();
        }
    }
}

}  // namespace orvel
