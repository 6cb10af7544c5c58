#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Log.h"
#include "foundation/Signal.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// Sets the brightness of a backlight ("backlight") or an LED ("leds") through logind's
// Session.SetBrightness on the caller's session, for a user who may not write the sysfs file.
// Requests are not waited for: while one is in flight, pending() answers the value asked for; a
// refusal drops it, leaves one log line and sends `refused` with the device's name. A newer
// request for the same device takes the place of an older one.
class LogindBrightness {
  public:
    // `sessionID` empty: $XDG_SESSION_ID, else the session logind finds for this process.
    LogindBrightness(std::shared_ptr<DBusConnection> systemBus, std::string sessionID,
                     std::string logCategory);

    // False (and one log line) when the request cannot be sent.
    bool set(const char* subsystem, const std::string& name, std::uint32_t value);
    std::optional<std::uint32_t> pending(const std::string& name) const;

    Signal<std::string> refused;

  private:
    struct Request {
        std::uint32_t value = 0;
        DBusSlot reply;
    };

    std::shared_ptr<DBusConnection> bus_;
    std::string path_;
    std::map<std::string, Request> inFlight_;  // by device name
    Logger log_;
};

}  // namespace orvel
