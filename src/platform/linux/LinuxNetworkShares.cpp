#include "platform/linux/LinuxNetworkShares.h"

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SerialQueue.h"
#include "platform/linux/LinuxVolumes.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orvel {

namespace {

// "smb://user@server/share" as a cifs source, "//server/share" (the user is fstab's business).
std::optional<std::string> cifsSource(const std::string& url) {
    constexpr std::string_view scheme = "smb://";
    if (!url.starts_with(scheme)) {
        return std::nullopt;
    }
    std::string rest = url.substr(scheme.size());
    const std::size_t slash = rest.find('/');
    const std::size_t at = rest.find('@');
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
        rest = rest.substr(at + 1);
    }
    while (!rest.empty() && rest.back() == '/') {
        rest.pop_back();
    }
    return "//" + rest;
}

}  // namespace

struct LinuxNetworkShares::Request {
    LaunchRequest command;
    MountCallback callback;
    std::shared_ptr<ChildProcess> child;
    Timer timeout;
    Timer kill;
    double grace = 0;
    bool done = false;

    bool running() const { return child && child->isRunning(); }
    std::string mounter() const {
        return command.executable +
               (child ? " (process " + std::to_string(child->pid()) + ")" : "");
    }
};

namespace {

using Request = LinuxNetworkShares::Request;

const Logger& log() {
    static const Logger logger("drives");
    return logger;
}

std::string seconds(double value) {
    return std::to_string(std::lround(value)) + " s";
}

// Tells a running child to end and kills it if it has not within the grace; its termination
// handler is cleared, so nothing more comes of it.
void stop(const std::shared_ptr<Request>& request) {
    if (!request->running()) {
        return;
    }
    request->child->clearTerminationHandler();
    request->child->terminate();
    request->kill = RunLoop::main().after(
        request->grace,
        [weak = std::weak_ptr<Request>(request)] {
            if (auto r = weak.lock(); r && r->running()) {
                log().notice("Mounting with " + r->mounter() + " did not end within " +
                             seconds(r->grace) + " of being told to; it was killed");
                r->child->kill();
            }
        },
        TimerMode::Common);
}

// Ends a request without a word to its caller; its child, if one runs, is stopped.
void abandon(const std::shared_ptr<Request>& request) {
    if (request->done) {
        return;
    }
    request->done = true;
    request->timeout.cancel();
    request->callback = nullptr;
    stop(request);
}

void finish(const std::shared_ptr<Request>& request, Result<void> result) {
    if (request->done) {
        return;
    }
    request->done = true;
    request->timeout.cancel();
    // The caller logs a failure: it knows which share it was.
    auto callback = std::move(request->callback);
    callback(std::move(result));
}

class LinuxMountRequest final : public MountRequest {
  public:
    explicit LinuxMountRequest(std::shared_ptr<Request> request) : request_(std::move(request)) {}
    ~LinuxMountRequest() override { abandon(request_); }

  private:
    std::shared_ptr<Request> request_;
};

}  // namespace

LinuxNetworkShares::LinuxNetworkShares(Processes& processes, LinuxNetworkSharesOptions options)
    : processes_(processes), options_(std::move(options)) {}

LinuxNetworkShares::~LinuxNetworkShares() {
    for (const auto& request : requests_) {
        if (request->done) {
            continue;
        }
        auto callback = std::move(request->callback);
        abandon(request);
        // Still only while the caller keeps its request.
        RunLoop::main().async([weak = std::weak_ptr<Request>(request), callback] {
            if (weak.lock()) {
                callback(Error{"Mounting was abandoned: Orvel is quitting"});
            }
        });
    }
    // Every mounter has been told to end; none may outlive Orvel. The loop turns no more, so the
    // grace is waited for here, once for them all, and then those left are killed.
    std::vector<std::shared_ptr<Request>> left;
    for (const auto& request : requests_) {
        if (request->running()) {
            left.push_back(request);
        }
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(options_.graceSeconds);
    for (const auto& request : left) {
        const std::chrono::duration<double> remaining = deadline - std::chrono::steady_clock::now();
        if (request->child->waitForExit(std::max(0.0, remaining.count()))) {
            continue;
        }
        log().notice("Mounting with " + request->mounter() + " did not end within " +
                     seconds(options_.graceSeconds) + " of Orvel quitting; it was killed");
        request->child->kill();
        if (!request->child->waitForExit(options_.graceSeconds)) {
            log().error("Mounting with " + request->mounter() +
                        " could not be ended: it outlives Orvel");
        }
    }
}

LaunchRequest LinuxNetworkShares::commandFor(const LinuxNetworkSharesOptions& options,
                                             const std::string& url) {
    if (auto source = cifsSource(url)) {
        for (const auto& entry : LinuxVolumes::readFstab(options.fstab)) {
            if ((entry.type == "cifs" || entry.type == "smb3") && entry.device == *source &&
                (entry.hasOption("user") || entry.hasOption("users"))) {
                return LaunchRequest{options.mountProgram, {entry.mountPoint}};
            }
        }
    }
    return LaunchRequest{options.gioProgram, {"mount", url}};
}

void LinuxNetworkShares::launch(const std::shared_ptr<Request>& request,
                                const LaunchRequest& command) {
    request->command = command;
    request->grace = options_.graceSeconds;
    // A mounter that would not end must not be joined by another for the same share.
    for (const auto& other : requests_) {
        if (other != request && other->running() &&
            other->command.executable == command.executable &&
            other->command.arguments == command.arguments) {
            finish(request, Error{"Mounting with " + command.executable +
                                  " did not start: the one started earlier for this share, " +
                                  other->mounter() + ", is still running"});
            return;
        }
    }
    std::weak_ptr<Request> weak = request;
    auto child = processes_.launch(command, [weak](int status) {
        RunLoop::main().async([weak, status] {
            auto r = weak.lock();
            if (!r) {
                return;
            }
            if (status == 0) {
                finish(r, {});
            } else {
                finish(r, Error{"Mounting with " + r->command.executable +
                                " failed: it ended with status " + std::to_string(status)});
            }
        });
    });
    if (!child) {
        RunLoop::main().async([request, message = child.error().message] {
            finish(request, Error{"Mounting with " + request->command.executable +
                                  " could not start: " + message});
        });
        return;
    }
    request->child = child.value();
    const double limit = options_.timeoutSeconds;
    request->timeout = RunLoop::main().after(
        limit,
        [weak, limit] {
            if (auto r = weak.lock()) {
                stop(r);
                finish(r, Error{"Mounting with " + r->command.executable +
                                " gave no answer within " + seconds(limit) + "; it was stopped"});
            }
        },
        TimerMode::Common);
}

std::optional<std::string> LinuxNetworkShares::unavailableReason() const {
    if (processes_.isExecutableFile(options_.gioProgram)) {
        return std::nullopt;
    }
    return textKey(
        "gio is not installed (package libglib2.0-bin): a share that drops is mounted again only "
        "through a user entry in /etc/fstab.");
}

std::unique_ptr<MountRequest> LinuxNetworkShares::mountAsync(const std::string& url,
                                                             const MountOptions&,
                                                             MountCallback callback) {
    // Ended requests are kept while their mounter still runs, to be told apart from a new one.
    std::erase_if(requests_, [](const auto& r) { return r->done && !r->running(); });
    auto request = std::make_shared<Request>();
    request->callback = std::move(callback);
    requests_.push_back(request);
    if (!lookup_) {
        lookup_ = RunLoop::main().makeSerialQueue("orvel.share-mount");
    }
    // The fstab is read off the main thread; a request abandoned meanwhile is never started.
    // The destructor ends every request, so one still pending here has its service.
    lookup_->post([weak = std::weak_ptr<Request>(request), url, options = options_, this] {
        LaunchRequest command = commandFor(options, url);
        RunLoop::main().async([weak, command = std::move(command), this] {
            if (auto r = weak.lock(); r && !r->done) {
                launch(r, command);
            }
        });
    });
    return std::make_unique<LinuxMountRequest>(std::move(request));
}

}  // namespace orvel
