#include "platform/linux/LogindBrightness.h"

#include <cstdlib>

namespace orvel {

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";
constexpr const char* kSessionFolder = "/org/freedesktop/login1/session";
constexpr const char* kCallersSession = "/org/freedesktop/login1/session/auto";

}  // namespace

LogindBrightness::LogindBrightness(std::shared_ptr<DBusConnection> systemBus, std::string sessionID,
                                   std::string logCategory)
    : bus_(std::move(systemBus)), path_(kCallersSession), log_(std::move(logCategory)) {
    if (sessionID.empty()) {
        if (const char* fromEnvironment = std::getenv("XDG_SESSION_ID")) {
            sessionID = fromEnvironment;
        }
    }
    char* encoded = nullptr;
    if (!sessionID.empty() &&
        sd_bus_path_encode(kSessionFolder, sessionID.c_str(), &encoded) >= 0) {
        path_ = encoded;
        std::free(encoded);
    }
}

bool LogindBrightness::set(const char* subsystem, const std::string& name, std::uint32_t value) {
    if (!bus_ || !bus_->isOpen()) {
        log_.error("The brightness of " + name + " could not be set: no system bus for logind");
        return false;
    }
    const DBusObject session{kLogind, path_.c_str(), kSessionInterface};
    auto call = bus_->call(
        session, "SetBrightness",
        [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "ssu", subsystem, name.c_str(), value);
        },
        [this, name](sd_bus_message* reply) {
            const auto error = DBusConnection::errorOf(reply);
            // Erasing the request ends this handler's slot: nothing of it is used afterwards.
            auto done = inFlight_.extract(name);
            if (error) {
                log_.error("logind did not set the brightness of " + name + ": " + *error);
                refused.send(name);
            }
        });
    if (!call) {
        log_.error("The brightness of " + name + " could not be set: " + call.error().message);
        return false;
    }
    inFlight_[name] = Request{value, std::move(call.value())};
    return true;
}

std::optional<std::uint32_t> LogindBrightness::pending(const std::string& name) const {
    const auto it = inFlight_.find(name);
    return it == inFlight_.end() ? std::nullopt : std::optional<std::uint32_t>(it->second.value);
}

}  // namespace orvel
