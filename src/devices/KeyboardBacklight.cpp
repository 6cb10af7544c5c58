#include "devices/KeyboardBacklight.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/KeyboardBacklightRoutes.h"

namespace orvel {

namespace {

constexpr double kReapplyInterval = 0.5;
// Readings at or under this count as off.
constexpr double kOffEnough = 0.02;
constexpr double kReadBackTolerance = 0.05;
constexpr int kProbedScales[] = {1, 100, 255};

// Kept in English, as the report shows them; the Devices tab reads them in the user's language.
constexpr std::string_view kNotFound =
    textKey("No controllable keyboard backlight found on this computer.");
constexpr std::string_view kNoResponse = textKey(
    "The backlight did not respond. Every known route was tried; neither UPower's keyboard "
    "backlight nor the kernel's LED device takes a new level on this model.");
constexpr std::string_view kUnreadable =
    textKey("The keyboard backlight level could not be read, so it was left as it is.");

Logger logger() {
    return Logger("backlight");
}

// Halves away from zero.
double roundedSteps(double fraction, int steps) {
    return std::round(fraction * steps);
}

std::string stripped(std::string_view encoding) {
    std::string out;
    std::copy_if(encoding.begin(), encoding.end(), std::back_inserter(out),
                 [](char c) { return c < '0' || c > '9'; });
    return out;
}

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

KeyboardBacklight::KeyboardBacklight(KeyboardBacklightRoutes& routes) : routes_(routes) {
    refused_ = routes_.writeRefused.subscribe([this] {
        route_ = "none";
        lastFailure_ = std::string(kNoResponse);
        logger().error("keyboard backlight write refused");
    });
}

bool KeyboardBacklight::clientPasses(std::string_view selector) {
    if (!routes_.hasClient()) {
        return false;
    }
    const auto encoding = routes_.clientMethodEncoding(selector);
    if (!encoding || encoding->empty()) {
        return false;
    }
    const std::string actual = stripped(*encoding);
    const std::string wanted = stripped(routes_.expectedEncoding(selector));
    if (actual.size() != wanted.size()) {
        logger().error("private selector arity changed \u2014 skipping");
        return false;
    }
    if (actual.empty() || wanted.empty() || actual.front() != wanted.front()) {
        logger().info("private selector return type differs; proceeding");
    }
    return true;
}

std::optional<double> KeyboardBacklight::clientReading() {
    if (!clientPasses(keyboard_backlight::kReadSelector)) {
        return std::nullopt;
    }
    return routes_.clientBrightness();
}

std::optional<double> KeyboardBacklight::registryReading() {
    if (!routes_.hasService()) {
        return std::nullopt;
    }
    const auto value = routes_.registryValue();
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    if (*value <= 1) {
        return *value;
    }
    return *value <= 100 ? *value / 100 : *value / 255;
}

std::optional<double> KeyboardBacklight::level() {
    if (auto reading = clientReading()) {
        return reading;
    }
    return registryReading();
}

// A device that tells its range is compared in its own steps: a fraction of a 3-step range can
// never come back within 0.05 of most targets.
bool KeyboardBacklight::proves(double target, std::optional<double> reading,
                               std::optional<int> range) const {
    if (!reading) {
        return false;
    }
    if (range && *range > 0) {
        return roundedSteps(*reading, *range) == roundedSteps(target, *range);
    }
    return std::fabs(*reading - target) < kReadBackTolerance;
}

bool KeyboardBacklight::setLevel(double target) {
    const double t = std::clamp(target, 0.0, 1.0);
    KeyboardBacklightRoutes& r = routes_;
    const std::optional<int> range = r.range();
    if (clientPasses(keyboard_backlight::kWriteSelector) && r.clientSetBrightness(t) &&
        proves(t, level(), range)) {
        route_ = "UPower";
        return true;
    }
    // Only a backend that cannot tell its range has its scale found by trying.
    for (const int scale : kProbedScales) {
        if (range && scale != 1) {
            break;
        }
        if (r.hasService()) {
            if (scale == 1) {
                r.setRegistryValue(t, false);
            } else {
                r.setRegistryValue(roundedSteps(t, scale), true);
            }
        }
        auto reading = clientPasses(keyboard_backlight::kReadSelector)
                           ? std::optional<double>(r.clientBrightness())
                           : registryReading();
        if (!reading) {
            continue;
        }
        if (proves(t, reading, range)) {
            route_ = "LED \u00d7" + std::to_string(scale);
            return true;
        }
    }
    route_ = "none";
    return false;
}

void KeyboardBacklight::updateAvailability() {
    availability_ = routes_.hasClient() || routes_.hasService() ? Availability::Available
                                                                : Availability::Unavailable;
}

void KeyboardBacklight::setOff(bool off) {
    updateAvailability();
    if (availability_ == Availability::Unavailable) {
        lastFailure_ = std::string(kNotFound);
        logger().notice(kNotFound);
        return;
    }
    if (!off) {
        reapplyTimer_.cancel();
        if (!savedLevel_) {
            return;
        }
        setLevel(*savedLevel_);
        savedLevel_.reset();
        lastFailure_.reset();
        logger().info("keyboard backlight restored");
        return;
    }
    if (savedLevel_) {
        return;
    }
    // Without a reading there is nothing true to put back later, so nothing is changed.
    const auto found = level();
    if (!found) {
        lastFailure_ = std::string(kUnreadable);
        logger().error(kUnreadable);
        return;
    }
    savedLevel_ = *found;
    if (setLevel(0)) {
        reapplyTimer_ = RunLoop::main().every(
            kReapplyInterval, [this] { reapply(); }, TimerMode::Default);
        lastFailure_.reset();
    } else {
        lastFailure_ = std::string(kNoResponse);
    }
    logger().info(formatted("keyboard backlight off (was %f)", *savedLevel_));
}

void KeyboardBacklight::reapply() {
    if (!savedLevel_) {
        return;
    }
    const auto now = level();
    if (now && *now > kOffEnough) {
        setLevel(0);
    }
}

std::string KeyboardBacklight::diagnostics() {
    updateAvailability();
    std::string line = routes_.hasClient() ? "UPower keyboard backlight available"
                                           : "UPower keyboard backlight unavailable";
    line += routes_.hasService() ? " \u00b7 LED device found" : " \u00b7 LED device not found";
    if (const auto reading = level()) {
        line += " \u00b7 " + formatted("level %.2f", *reading);
    }
    line += " \u00b7 route: " + route_;
    return line;
}

}  // namespace orvel
