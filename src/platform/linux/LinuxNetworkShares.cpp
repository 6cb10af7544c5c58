#include "platform/linux/LinuxNetworkShares.h"

#include "foundation/RunLoop.h"
#include "foundation/SerialQueue.h"
#include "platform/linux/LinuxVolumes.h"

#include <algorithm>
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
    std::string program;
    MountCallback callback;
    std::shared_ptr<ChildProcess> child;
    Timer timeout;
    bool done = false;
};

namespace {

void finish(const std::shared_ptr<LinuxNetworkShares::Request>& request, Result<void> result);

// Ends a request without a word to its caller; its child, if one runs, is stopped.
void abandon(LinuxNetworkShares::Request& request) {
    if (request.done) {
        return;
    }
    request.done = true;
    request.timeout.cancel();
    request.callback = nullptr;
    if (request.child) {
        request.child->clearTerminationHandler();
        request.child->terminate();
    }
}

class LinuxMountRequest final : public MountRequest {
  public:
    explicit LinuxMountRequest(std::shared_ptr<LinuxNetworkShares::Request> request)
        : request_(std::move(request)) {}
    ~LinuxMountRequest() override { abandon(*request_); }

  private:
    std::shared_ptr<LinuxNetworkShares::Request> request_;
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
        abandon(*request);
        // Still only while the caller keeps its request.
        RunLoop::main().async([weak = std::weak_ptr<Request>(request), callback] {
            if (weak.lock()) {
                callback(Error{"Mounting was abandoned: Orvel is quitting"});
            }
        });
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

namespace {

void finish(const std::shared_ptr<LinuxNetworkShares::Request>& request, Result<void> result) {
    if (request->done) {
        return;
    }
    request->done = true;
    request->timeout.cancel();
    // The caller logs a failure: it knows which share it was.
    auto callback = std::move(request->callback);
    callback(std::move(result));
}

}  // namespace

namespace {

void launch(const std::shared_ptr<LinuxNetworkShares::Request>& request, Processes& processes,
            const LaunchRequest& command, double limit) {
    request->program = command.executable;
    std::weak_ptr<LinuxNetworkShares::Request> weak = request;
    auto child = processes.launch(command, [weak](int status) {
        RunLoop::main().async([weak, status] {
            auto r = weak.lock();
            if (!r) {
                return;
            }
            if (status == 0) {
                finish(r, {});
            } else {
                finish(r, Error{"Mounting with " + r->program + " failed: it ended with status " +
                                std::to_string(status)});
            }
        });
    });
    if (!child) {
        RunLoop::main().async([request, message = child.error().message] {
            finish(request,
                   Error{"Mounting with " + request->program + " could not start: " + message});
        });
        return;
    }
    request->child = child.value();
    request->timeout = RunLoop::main().after(
        limit,
        [weak, limit] {
            if (auto r = weak.lock()) {
                r->child->clearTerminationHandler();
                r->child->terminate();
                finish(r, Error{"Mounting with " + r->program + " gave no answer within " +
                                std::to_string(std::lround(limit)) + " s; it was stopped"});
            }
        },
        TimerMode::Common);
}

}  // namespace

std::unique_ptr<MountRequest> LinuxNetworkShares::mountAsync(const std::string& url,
                                                             const MountOptions&,
                                                             MountCallback callback) {
    std::erase_if(requests_, [](const auto& r) { return r->done; });
    auto request = std::make_shared<Request>();
    request->callback = std::move(callback);
    requests_.push_back(request);
    if (!lookup_) {
        lookup_ = RunLoop::main().makeSerialQueue("orvel.share-mount");
    }
    // The fstab is read off the main thread; a request abandoned meanwhile is never started.
    lookup_->post(
        [weak = std::weak_ptr<Request>(request), url, options = options_, processes = &processes_] {
            LaunchRequest command = commandFor(options, url);
            RunLoop::main().async(
                [weak, command = std::move(command), processes, limit = options.timeoutSeconds] {
                    if (auto r = weak.lock(); r && !r->done) {
                        launch(r, *processes, command, limit);
                    }
                });
        });
    return std::make_unique<LinuxMountRequest>(std::move(request));
}

}  // namespace orvel
