#include "platform/linux/Inhibitor.h"

#include "foundation/Log.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace orvel {

Inhibitor::Inhibitor(std::shared_ptr<DBusConnection> bus, DBusObject service,
                     const char* releaseMember, std::uint32_t cookie)
    : bus_(std::move(bus)), service_(service), releaseMember_(releaseMember), cookie_(cookie) {}

Inhibitor::Inhibitor(Inhibitor&& other) noexcept
    : lock_(std::move(other.lock_)),
      bus_(std::move(other.bus_)),
      service_(other.service_),
      releaseMember_(other.releaseMember_),
      cookie_(other.cookie_) {}

Inhibitor& Inhibitor::operator=(Inhibitor&& other) noexcept {
    if (this != &other) {
        reset();
        lock_ = std::move(other.lock_);
        bus_ = std::move(other.bus_);
        service_ = other.service_;
        releaseMember_ = other.releaseMember_;
        cookie_ = other.cookie_;
    }
    return *this;
}

void Inhibitor::reset() {
    lock_.reset();
    auto bus = std::move(bus_);
    // Without the connection there is nothing to hand back: a service drops the cookies of a
    // client that leaves the bus.
    if (!bus || !bus->isOpen()) {
        return;
    }
    const std::uint32_t cookie = cookie_;
    const std::string call =
        std::string(service_.service) + " " + releaseMember_ + "(" + std::to_string(cookie) + ")";
    // Answered after this handle is gone; only a refusal is worth a word.
    auto sent = bus->callDetached(
        service_, releaseMember_,
        [cookie](sd_bus_message* m) { return sd_bus_message_append(m, "u", cookie); },
        [call](sd_bus_message* reply) {
            if (!sd_bus_is_open(sd_bus_message_get_bus(reply))) {
                return;  // the connection ended, and the cookie with it
            }
            if (auto error = DBusConnection::errorOf(reply)) {
                Logger("power").error("The inhibitor was not handed back: " + call +
                                      " failed: " + *error);
            }
        });
    if (!sent) {
        Logger("power").error("The inhibitor was not handed back: " + sent.error().message);
    }
}

void Inhibitor::forget() {
    lock_.reset();
    bus_.reset();
}

Result<UniqueFd> Inhibitor::lockFromReply(sd_bus_message* reply) {
    if (auto error = DBusConnection::errorOf(reply)) {
        return Error{*error};
    }
    int fd = -1;
    const int r = sd_bus_message_read(reply, "h", &fd);
    if (r < 0) {
        return Error{std::string("The inhibitor reply carries no descriptor: ") +
                     std::strerror(-r)};
    }
    const int owned = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (owned < 0) {
        return Error{std::string("Could not keep the inhibitor: ") + std::strerror(errno)};
    }
    return UniqueFd(owned);
}

Result<std::uint32_t> Inhibitor::cookieFromReply(sd_bus_message* reply) {
    if (auto error = DBusConnection::errorOf(reply)) {
        return Error{*error};
    }
    std::uint32_t cookie = 0;
    const int r = sd_bus_message_read(reply, "u", &cookie);
    if (r < 0) {
        return Error{std::string("The inhibitor reply carries no cookie: ") + std::strerror(-r)};
    }
    return cookie;
}

}  // namespace orvel
