#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Signal.h"

// The two routes to the built-in keyboard's backlight: a client (a service that speaks for the
// backlight, whose methods are checked against the expected signatures before each call) and the
// registry (the driver's own brightness property). Threading: main thread only; the signal is
// sent on the main thread.

namespace orvel {

namespace keyboard_backlight {
inline constexpr std::string_view kReadSelector = "brightnessForKeyboard:";
inline constexpr std::string_view kReadEncoding = "f@:Q";
inline constexpr std::string_view kWriteSelector = "setBrightness:forKeyboard:";
inline constexpr std::string_view kWriteEncoding = "B@:fQ";
}  // namespace keyboard_backlight

class KeyboardBacklightRoutes {
  public:
    virtual ~KeyboardBacklightRoutes() = default;

    virtual bool hasClient() = 0;
    // The type encoding of the client's method (frame offsets may be included); nothing when the
    // client has no such method or does not tell its types.
    virtual std::optional<std::string> clientMethodEncoding(std::string_view selector) = 0;
    // The encoding the client's method must have to be called, in the same form.
    virtual std::string expectedEncoding(std::string_view selector) {
        return std::string(selector == keyboard_backlight::kReadSelector
                               ? keyboard_backlight::kReadEncoding
                               : keyboard_backlight::kWriteEncoding);
    }
    // The client's level, 0.0 to 1.0. Call only after the method check passed.
    virtual double clientBrightness() = 0;
    // Asks the client for a level; whether it accepted. Call only after the method check passed.
    virtual bool clientSetBrightness(double level) = 0;

    virtual bool hasService() = 0;
    // The driver's property as stored, in whatever scale the driver keeps; nothing when absent.
    virtual std::optional<double> registryValue() = 0;
    // Stores the property: a fraction when `integer` is false, else a whole number.
    virtual void setRegistryValue(double value, bool integer) = 0;

    // The number of steps of the backlight's own range, when the backend knows it. Both routes
    // then read and take fractions of that range (the registry's scale is 1), so no scale needs
    // to be found by trying.
    virtual std::optional<int> range() = 0;

    // A write that was accepted was refused later; the routes read the true level again.
    Signal<> writeRefused;
};

}  // namespace orvel
