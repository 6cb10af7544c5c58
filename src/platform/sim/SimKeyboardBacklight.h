#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/WeakRef.h"
#include "platform/KeyboardBacklightRoutes.h"

namespace orvel {

// A simulated keyboard backlight behind both routes. The device keeps its value in its own
// range: 0.0 to 1.0 when `max` is 1, else whole steps up to `max`. The machine starts with a
// client and a driver property, a device of range 1 at 0.5, its range not told. Tests take
// either route away, change a client method's encoding, let the client accept writes it does
// not apply, pick a device that keeps 0-100 or 0-255 (telling its range or not), move the level
// from outside and refuse the next write; every write is recorded with its route.
class SimKeyboardBacklight final : public KeyboardBacklightRoutes, public WeakReferenceable {
  public:
    enum class Route { Client, Registry };
    struct Write {
        Route route;
        double value;  // as handed to the route
    };

    SimKeyboardBacklight();

    bool hasClient() override { return hasClient_; }
    std::optional<std::string> clientMethodEncoding(std::string_view selector) override;
    double clientBrightness() override;
    bool clientSetBrightness(double level) override;
    bool hasService() override { return hasService_; }
    std::optional<double> registryValue() override;
    void setRegistryValue(double value, bool integer) override;
    std::optional<int> range() override;

    // Control surface for tests.
    void setHasClient(bool present) { hasClient_ = present; }
    void setHasService(bool present) { hasService_ = present; }
    // Nothing: the client has no such method.
    void setClientEncoding(std::string_view selector, std::optional<std::string> encoding);
    // The client answers true to writes but the level stays where it is.
    void setClientAppliesWrites(bool applies) { clientApplies_ = applies; }
    // The driver stores values but the level stays where it is.
    void setRegistryAppliesWrites(bool applies) { registryApplies_ = applies; }
    // The device's range and whether the backend can tell it; the value keeps its fraction.
    void setDevice(int max, bool tellsRange);
    // The user's keys or the system move the level (in the device's own range).
    void setDeviceValue(double value) { value_ = value; }
    double deviceValue() const { return value_; }
    // The driver's property cannot be read.
    void setRegistryReadable(bool readable) { registryReadable_ = readable; }
    // The next write is accepted and then refused, on the next turn of the loop; until then
    // both routes read the level asked for.
    void refuseNextWrite() { refuseNext_ = true; }
    const std::vector<Write>& writes() const { return writes_; }
    void clearWrites() { writes_.clear(); }

  private:
    // Applies a value already in the device's range, unless the write is to be refused.
    void store(double deviceValue);
    double current() const { return pending_.value_or(value_); }

    bool hasClient_ = true;
    bool hasService_ = true;
    bool clientApplies_ = true;
    bool registryApplies_ = true;
    bool tellsRange_ = false;
    bool refuseNext_ = false;
    bool registryReadable_ = true;
    std::optional<double> pending_;
    int max_ = 1;
    double value_ = 0.5;
    std::map<std::string, std::optional<std::string>, std::less<>> encodings_;
    std::vector<Write> writes_;
};

}  // namespace orvel
