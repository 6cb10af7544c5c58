#include "devices/BuiltInDisplay.h"

#include "foundation/Log.h"
#include "platform/Backlight.h"
#include "platform/Displays.h"

namespace orvel {

namespace {

constexpr double kReassertInterval = 0.5;
// Levels at or under this count as dark; the user cannot see them anyway.
constexpr double kDarkEnough = 0.01;

}  // namespace

BuiltInDisplay::BuiltInDisplay(Displays& displays, Backlight& backlight)
    : displays_(displays), backlight_(backlight) {}

std::optional<std::uint32_t> BuiltInDisplay::builtInDisplayID() const {
    return panelID();
}

std::optional<std::uint32_t> BuiltInDisplay::panelID() const {
    for (const auto& display : displays_.onlineDisplays()) {
        if (display.isBuiltIn) {
            return display.id;
        }
    }
    return std::nullopt;
}

std::optional<double> BuiltInDisplay::level() {
    const auto id = panelID();
    if (!id) {
        return std::nullopt;
    }
    return backlight_.level(*id);
}

double BuiltInDisplay::brightness() {
    return level().value_or(0.5);
}

void BuiltInDisplay::setBrightness(double level) {
    if (const auto id = panelID()) {
        backlight_.setLevel(*id, level);
    }
}

void BuiltInDisplay::setDark(bool dark) {
    if (!panelID()) {
        return;
    }
    if (!dark) {
        reassertTimer_.cancel();
        if (savedLevel_) {
            setBrightness(*savedLevel_);
            savedLevel_.reset();
        }
        return;
    }
    if (savedLevel_) {
        return;
    }
    // Without a reading there is nothing true to put back later, so nothing is changed.
    const auto found = level();
    if (!found) {
        Logger("display").error(
            "The built-in display's level could not be read, so it was left as it is.");
        return;
    }
    savedLevel_ = *found;
    setBrightness(0);
    startReassert();
}

void BuiltInDisplay::startReassert() {
    reassertTimer_ = RunLoop::main().every(
        kReassertInterval, [this] { reassert(); }, TimerMode::Default);
}

void BuiltInDisplay::reassert() {
    if (!savedLevel_) {
        return;
    }
    const auto now = level();
    if (now && *now > kDarkEnough) {
        setBrightness(0);
    }
}

}  // namespace orvel
