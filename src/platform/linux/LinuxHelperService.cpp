#include "platform/linux/LinuxHelperService.h"

#include <sys/stat.h>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace orvel {

namespace {

// Where systemd looks for system units, most specific first.
constexpr const char* kUnitFolders[] = {
    "etc/systemd/system",     "run/systemd/system", "usr/local/lib/systemd/system",
    "usr/lib/systemd/system", "lib/systemd/system",
};
constexpr const char* kWantedBy = "etc/systemd/system/multi-user.target.wants";

// pkexec's own exit statuses: the user dismissed the dialog or was not authorised.
constexpr int kNotAuthorised = 126;
constexpr int kAuthorisationFailed = 127;

const Logger& log() {
    static const Logger logger("helper");
    return logger;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

LinuxHelperService::LinuxHelperService(Processes& processes, LinuxHelperServiceOptions options)
    : processes_(processes), options_(std::move(options)) {
    if (options_.root.empty() || options_.root.back() != '/') {
        options_.root += '/';
    }
}

int LinuxHelperService::status() {
    if (refused_) {
        return helper_service_status::kRequiresApproval;
    }
    if (exists(options_.root + kWantedBy + "/" + options_.unit)) {
        return helper_service_status::kEnabled;
    }
    for (const char* folder : kUnitFolders) {
        if (exists(options_.root + folder + "/" + options_.unit)) {
            return helper_service_status::kNotRegistered;
        }
    }
    return helper_service_status::kNotFound;
}

void LinuxHelperService::registerService(Completion done) {
    refused_ = false;
    run("enable", std::move(done));
}

void LinuxHelperService::unregisterService(Completion done) {
    run("disable", std::move(done));
}

void LinuxHelperService::run(const char* verb, Completion done) {
    LaunchRequest request;
    request.executable = options_.elevate.front();
    request.arguments.assign(options_.elevate.begin() + 1, options_.elevate.end());
    request.arguments.insert(request.arguments.end(), {verb, "--now", options_.unit});
    const bool registering = std::string_view(verb) == "enable";
    auto shared = std::make_shared<Completion>(std::move(done));
    const auto alive = weakRef(*this);
    auto finish = [this, alive, shared, registering, verb = std::string(verb)](int status) {
        if (!alive) {
            return;
        }
        if (status == 0) {
            (*shared)({});
            return;
        }
        std::string message;
        if (status == kNotAuthorised || status == kAuthorisationFailed) {
            refused_ = refused_ || registering;
            message = registering ? localized(
                                        "The administrator's authorisation to enable the wake "
                                        "helper was not given.")
                                  : localized(
                                        "The administrator's authorisation to disable the wake "
                                        "helper was not given.");
        } else {
            const char* failed =
                registering
                    ? textKey("systemctl could not enable the wake helper (exit status %lld).")
                    : textKey("systemctl could not disable the wake helper (exit status %lld).");
            message = localizedFormat(failed, {std::int64_t{status}});
        }
        log().error(message);
        (*shared)(Error{message});
    };
    auto child = processes_.launch(request, [finish](int status) {
        RunLoop::main().async([finish, status] { finish(status); });
    });
    if (!child.ok()) {
        const std::string message =
            localizedFormat("The wake helper could not be changed: %@", {child.error().message});
        log().error(message);
        RunLoop::main().async([alive, shared, message] {
            if (alive) {
                (*shared)(Error{message});
            }
        });
    }
}

}  // namespace orvel
