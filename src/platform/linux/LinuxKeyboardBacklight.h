#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/KeyboardBacklightRoutes.h"
#include "platform/linux/DBusConnection.h"
#include "platform/linux/LogindBrightness.h"

namespace orvel {

// The keyboard backlight on Linux, by two routes.
//
// Client: UPower's org.freedesktop.UPower.KbdBacklight on the system bus. Its methods' signatures
// come from introspection, written as an encoding in the client's form (the reply's types, or
// "v" for none, then "@:", then the arguments' types), so a changed signature is caught by the
// method check before any call. Its level (GetBrightness ÷ GetMaxBrightness) is a mirror that
// BrightnessChanged keeps, so reading never waits on the bus; SetBrightness is sent without
// waiting for the answer.
//
// Registry: the first <sysRoot>/class/leds/*::kbd_backlight in name order, found once with its
// max_brightness; its level
// is brightness ÷ max_brightness, so it reads and takes fractions of the device's own range
// (range() is max_brightness) and no scale is probed. Written through the brightness file, or,
// when this user may not write it, through logind (see LogindBrightness).
//
// While a write sent over the bus is in flight, its route reads the level asked for; a refusal
// leaves one log line and sends writeRefused, after which the route reads the true level again.
class LinuxKeyboardBacklight final : public KeyboardBacklightRoutes {
  public:
    explicit LinuxKeyboardBacklight(std::string sysRoot,
                                    std::shared_ptr<DBusConnection> systemBus = nullptr,
                                    std::string sessionID = "");

    bool hasClient() override;
    std::optional<std::string> clientMethodEncoding(std::string_view selector) override;
    std::string expectedEncoding(std::string_view selector) override;
    double clientBrightness() override;
    bool clientSetBrightness(double level) override;
    bool hasService() override;
    std::optional<double> registryValue() override;
    void setRegistryValue(double value, bool integer) override;
    std::optional<int> range() override;

    // The LED's folder; empty when there is none.
    const std::string& device();

  private:
    void followUPower();
    void readClient();

    std::string sysRoot_;
    std::optional<std::string> device_;
    std::optional<int> ledMax_;
    std::shared_ptr<DBusConnection> bus_;
    LogindBrightness logind_;
    Subscription logindRefusals_;

    std::shared_ptr<BusName> upower_;
    Subscription upowerWatch_;
    DBusSlot changed_;
    DBusSlot introspection_;
    DBusSlot maxQuery_;
    DBusSlot levelQuery_;
    std::map<std::string, std::string, std::less<>> encodings_;  // by method name
    std::optional<int> clientMax_;
    std::optional<int> clientLevel_;
    // The last SetBrightness sent and not yet answered.
    std::optional<int> clientAsked_;
    std::uint64_t changesSeen_ = 0;
    DBusSlot clientWrite_;
    Logger log_{"backlight"};
};

}  // namespace orvel
