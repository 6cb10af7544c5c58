#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/RunLoop.h"
#include "foundation/Signal.h"

namespace orvel {

class KeyboardBacklightRoutes;

// Holds the built-in keyboard's backlight at zero while a session asks for it and puts the
// level back afterwards. Each write goes by the first route that proves itself by reading the
// level back; the route that worked and the last failure are kept for the report, the self-test
// and the settings window. Main thread only.
class KeyboardBacklight {
  public:
    enum class Availability { Unknown, Available, Unavailable };

    explicit KeyboardBacklight(KeyboardBacklightRoutes& routes);

    // true saves the level and switches the backlight off; false puts the saved level back.
    void setOff(bool off);
    bool isOff() const { return savedLevel_.has_value(); }

    // The client's reading, else the registry's; nothing when neither reads.
    std::optional<double> level();
    // Writes a level by the first route whose read-back proves it; sets route().
    bool setLevel(double target);
    // The routes, the level and the last route, on one line.
    std::string diagnostics();

    Availability isAvailable() const { return availability_; }
    const std::string& route() const { return route_; }
    const std::optional<std::string>& lastFailure() const { return lastFailure_; }
    // The level found before switching off; present exactly while held off.
    const std::optional<double>& savedLevel() const { return savedLevel_; }
    bool isReapplying() const { return reapplyTimer_.isValid(); }

  private:
    // Whether the client may be called with this method; logs when its signature changed.
    bool clientPasses(std::string_view selector);
    std::optional<double> clientReading();
    std::optional<double> registryReading();
    bool proves(double target, std::optional<double> reading, std::optional<int> range) const;
    void updateAvailability();
    void reapply();

    KeyboardBacklightRoutes& routes_;
    Availability availability_ = Availability::Unknown;
    std::string route_ = "none";
    std::optional<std::string> lastFailure_;
    std::optional<double> savedLevel_;
    Timer reapplyTimer_;
    Subscription refused_;
};

}  // namespace orvel
