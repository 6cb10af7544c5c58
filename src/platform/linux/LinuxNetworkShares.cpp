#include "platform/linux/LinuxNetworkShares.h"

#include "foundation/Data.h"
#include "foundation/FileIO.h"
#include "foundation/RunLoop.h"
#include "foundation/SerialQueue.h"

#include <algorithm>
#include <cmath>

namespace orvel {

namespace {

std::vector<std::string> fields(std::string_view line) {
    std::vector<std::string> out;
    std::string current;
    for (char c : line) {
        if (c == ' ' || c == '\t') {
            if (!current.empty()) {
                out.push_back(std::move(current));
                current.clear();
            }
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        out.push_back(std::move(current));
    }
    return out;
}

// fstab writes spaces in paths as \040.
std::string decodeOctal(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' &&
            text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
            out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) |
                                     (text[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += text[i];
    }
    return out;
}

bool hasOption(const std::string& options, std::string_view option) {
    std::size_t start = 0;
    while (start <= options.size()) {
        std::size_t end = options.find(',', start);
        if (end == std::string::npos) {
            end = options.size();
        }
        if (std::string_view(options).substr(start, end - start) == option) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

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

}  // namespace

LinuxNetworkShares::LinuxNetworkShares(Processes& processes, LinuxNetworkSharesOptions options)
    : processes_(processes), options_(std::move(options)) {}

LinuxNetworkShares::~LinuxNetworkShares() {
    for (const auto& request : requests_) {
        if (request->done) {
            continue;
        }
        request->done = true;
        if (request->child) {
            request->child->clearTerminationHandler();
            request->child->terminate();
        }
        RunLoop::main().async([callback = std::move(request->callback)] {
            callback(Error{"Mounting was abandoned: Orvel is quitting"});
        });
    }
}

LaunchRequest LinuxNetworkShares::commandFor(const LinuxNetworkSharesOptions& options,
                                             const std::string& url) {
    if (auto source = cifsSource(url)) {
        auto data = readFileIfPresent(options.fstab);
        if (data && *data) {
            std::string text = stringFromData(**data);
            std::size_t start = 0;
            while (start < text.size()) {
                std::size_t end = text.find('\n', start);
                if (end == std::string::npos) {
                    end = text.size();
                }
                auto f = fields(std::string_view(text).substr(start, end - start));
                start = end + 1;
                if (f.size() < 4 || f[0].starts_with("#")) {
                    continue;
                }
                if ((f[2] == "cifs" || f[2] == "smb3") && decodeOctal(f[0]) == *source &&
                    (hasOption(f[3], "user") || hasOption(f[3], "users"))) {
                    return LaunchRequest{options.mountProgram, {decodeOctal(f[1])}};
                }
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

void LinuxNetworkShares::mountAsync(const std::string& url, const MountOptions&,
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
}

}  // namespace orvel
