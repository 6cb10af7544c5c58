#include "platform/linux/LinuxScreenLock.h"

#include <cstdlib>
#include <string_view>

namespace orvel {

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";
constexpr const char* kSessionFolder = "/org/freedesktop/login1/session";
constexpr const char* kCallersSession = "/org/freedesktop/login1/session/auto";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr std::string_view kLockedHint = "LockedHint";

const Logger& log() {
    static const Logger logger("screenlock");
    return logger;
}

// The LockedHint a PropertiesChanged of the session carries, if it carries one.
std::optional<bool> lockedHintIn(sd_bus_message* m) {
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0 ||
        std::string_view(interface) != kSessionInterface ||
        sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
        return std::nullopt;
    }
    std::optional<bool> hint;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        int value = 0;
        if (sd_bus_message_read(m, "s", &key) >= 0 && key == kLockedHint &&
            sd_bus_message_read(m, "v", "b", &value) >= 0) {
            hint = value != 0;
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    return hint;
}

}  // namespace

LinuxScreenLock::LinuxScreenLock(std::shared_ptr<DBusConnection> systemBus, std::string sessionID)
    : bus_(std::move(systemBus)) {
    if (sessionID.empty()) {
        if (const char* fromEnvironment = std::getenv("XDG_SESSION_ID")) {
            sessionID = fromEnvironment;
        }
    }
    path_ = kCallersSession;
    followed_ = false;
    if (!sessionID.empty()) {
        char* encoded = nullptr;
        if (sd_bus_path_encode(kSessionFolder, sessionID.c_str(), &encoded) >= 0) {
            path_ = encoded;
            followed_ = true;
            std::free(encoded);
        }
    }
    if (!followed_) {
        log().notice("no session id is known: the screen's unlock cannot be followed");
    }
    follow();
}

void LinuxScreenLock::follow() {
    if (!bus_ || !followed_) {
        return;
    }
    auto changes = bus_->matchSignal(kLogind, path_.c_str(), kProperties, "PropertiesChanged",
                                     [this](sd_bus_message* m) {
                                         if (lockedHintIn(m) == false) {
                                             unlocked.send();
                                         }
                                     });
    auto unlock = bus_->matchSignal(kLogind, path_.c_str(), kSessionInterface, "Unlock",
                                    [this](sd_bus_message*) { unlocked.send(); });
    if (!changes.ok() || !unlock.ok()) {
        log().error("the screen's unlock cannot be followed: " +
                    (!changes.ok() ? changes.error().message : unlock.error().message));
        return;
    }
    changes_ = std::move(changes.value());
    unlockSignal_ = std::move(unlock.value());
}

Result<void> LinuxScreenLock::lockNow() {
    if (!bus_ || !bus_->isOpen()) {
        log().error("the screen cannot be locked: no system bus");
        return Error{"Locking the screen is not available on this system (no system bus)."};
    }
    const DBusObject session{kLogind, path_.c_str(), kSessionInterface};
    auto call = bus_->call(
        session, "Lock", [](sd_bus_message*) { return 0; },
        [](sd_bus_message* reply) {
            if (const auto error = DBusConnection::errorOf(reply)) {
                log().error("logind did not lock the screen: " + *error);
            }
        });
    if (!call.ok()) {
        log().error("the screen cannot be locked: " + call.error().message);
        return call.error();
    }
    lockCall_ = std::move(call.value());
    return {};
}

}  // namespace orvel
