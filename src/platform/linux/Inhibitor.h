#pragma once

#include <cstdint>
#include <memory>

#include "foundation/Result.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/UniqueFd.h"

namespace orvel {

// An inhibitor that a service handed over, held until this handle goes (reset, destruction):
// either a logind lock, a descriptor whose closing ends it (the kernel closes it when the
// process dies), or a cookie that is handed back with a call (the service drops it when the
// process leaves the bus; a hand-back it refuses is logged). Threading: main thread only.
class Inhibitor {
  public:
    Inhibitor() = default;
    explicit Inhibitor(UniqueFd lock) : lock_(std::move(lock)) {}
    Inhibitor(std::shared_ptr<DBusConnection> bus, DBusObject service, const char* releaseMember,
              std::uint32_t cookie);
    Inhibitor(Inhibitor&& other) noexcept;
    Inhibitor& operator=(Inhibitor&& other) noexcept;
    Inhibitor(const Inhibitor&) = delete;
    Inhibitor& operator=(const Inhibitor&) = delete;
    ~Inhibitor() { reset(); }

    void reset();
    // Lets go without handing anything back: the service that handed it over has gone, and a
    // cookie handed to its successor could end an inhibitor of someone else's.
    void forget();
    bool isHeld() const { return lock_.isValid() || bus_ != nullptr; }

    // The descriptor of a logind Inhibit() reply, duplicated so it outlives the message.
    static Result<UniqueFd> lockFromReply(sd_bus_message* reply);
    // The cookie of an Inhibit() reply of the screen saver or the session manager.
    static Result<std::uint32_t> cookieFromReply(sd_bus_message* reply);

  private:
    UniqueFd lock_;
    std::shared_ptr<DBusConnection> bus_;
    DBusObject service_{};
    const char* releaseMember_ = nullptr;
    std::uint32_t cookie_ = 0;
};

}  // namespace orvel
