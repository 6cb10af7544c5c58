#include "platform/sim/SimKeyboardBacklight.h"

#include <algorithm>
#include <cmath>

#include "foundation/RunLoop.h"

namespace orvel {

SimKeyboardBacklight::SimKeyboardBacklight() {
    // As the client reports them, frame offsets included.
    encodings_.emplace(std::string(keyboard_backlight::kReadSelector), "f24@0:8Q16");
    encodings_.emplace(std::string(keyboard_backlight::kWriteSelector), "B28@0:8f16Q20");
}

std::optional<std::string> SimKeyboardBacklight::clientMethodEncoding(std::string_view selector) {
    auto it = encodings_.find(selector);
    return it == encodings_.end() ? std::nullopt : it->second;
}

double SimKeyboardBacklight::clientBrightness() {
    return current() / max_;
}

bool SimKeyboardBacklight::clientSetBrightness(double level) {
    writes_.push_back({Route::Client, level});
    if (clientApplies_) {
        const double clamped = std::clamp(level, 0.0, 1.0);
        store(max_ == 1 ? clamped : std::round(clamped * max_));
    }
    return true;
}

std::optional<double> SimKeyboardBacklight::registryValue() {
    if (!registryReadable_) {
        return std::nullopt;
    }
    return tellsRange_ ? current() / max_ : current();
}

void SimKeyboardBacklight::setRegistryValue(double value, bool integer) {
    writes_.push_back({Route::Registry, value});
    if (!registryApplies_) {
        return;
    }
    double stored = tellsRange_ ? value * max_ : value;
    // A driver with whole steps keeps whole steps, whatever it is handed.
    if (max_ > 1 || integer) {
        stored = std::round(stored);
    }
    store(std::clamp(stored, 0.0, static_cast<double>(max_)));
}

std::optional<int> SimKeyboardBacklight::range() {
    return tellsRange_ ? std::optional<int>(max_) : std::nullopt;
}

void SimKeyboardBacklight::setClientEncoding(std::string_view selector,
                                             std::optional<std::string> encoding) {
    encodings_.insert_or_assign(std::string(selector), std::move(encoding));
}

void SimKeyboardBacklight::setDevice(int max, bool tellsRange) {
    const double fraction = value_ / max_;
    max_ = std::max(max, 1);
    tellsRange_ = tellsRange;
    value_ = max_ == 1 ? fraction : std::round(fraction * max_);
}

void SimKeyboardBacklight::store(double deviceValue) {
    if (!refuseNext_) {
        value_ = deviceValue;
        return;
    }
    refuseNext_ = false;
    pending_ = deviceValue;
    const auto alive = weakRef(*this);
    RunLoop::main().async([this, alive] {
        if (alive) {
            pending_.reset();
            writeRefused.send();
        }
    });
}

}  // namespace orvel
