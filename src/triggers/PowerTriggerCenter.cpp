#include "triggers/PowerTriggerCenter.h"

#include <algorithm>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "platform/Platform.h"
#include "platform/PowerSources.h"
#include "platform/SystemInfo.h"

namespace orvel {

using namespace power_source;

PowerTriggerCenter& PowerTriggerCenter::shared() {
    return ORVEL_SHARED_INSTANCE(PowerTriggerCenter);
}

PowerTriggerCenter::PowerTriggerCenter()
    : lpmOn(*this, Platform::current().powerSources().isLowPowerModeEnabled()) {}

void PowerTriggerCenter::start() {
    started_ = true;
    started.send();
}

std::vector<PropertyDictionary> PowerTriggerCenter::internalBatteryDescriptions() {
    std::vector<PropertyDictionary> batteries;
    const auto snapshot = Platform::current().powerSources().snapshot();
    if (!snapshot) {
        return batteries;
    }
    for (const auto& source : snapshot->sources) {
        const auto* type = propertyAs<std::string>(source, kType);
        if (!source.empty() && type != nullptr && *type == kInternalBattery) {
            batteries.push_back(source);
        }
    }
    return batteries;
}

bool PowerTriggerCenter::isOnACPower() {
    for (const auto& battery : internalBatteryDescriptions()) {
        if (const auto* state = propertyAs<std::string>(battery, kPowerSourceState)) {
            return *state == kACPower;
        }
    }
    return true;
}

std::string osVersionString() {
    const auto v = Platform::current().systemInfo().osVersion();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

std::optional<std::string> PowerTriggerCenter::blockReason() const {
    if (Preferences::shared().lpmEnd() && lpmOn()) {
        return std::string(kLowPowerModeReason);
    }
    return std::nullopt;
}

void PowerTriggerCenter::syncBlockReason() {
    auto reason = blockReason();
    OrvelController& controller = OrvelController::shared();
    if (reason == controller.powerBlockReason()) {
        return;
    }
    controller.setPowerBlockReason(std::move(reason));
}

void PowerTriggerCenter::addHold(const std::string& id, const std::string& label) {
    auto list = holds();
    auto it = std::find_if(list.begin(), list.end(), [&](const Hold& h) { return h.id == id; });
    if (it != list.end()) {
        it->label = label;
    } else {
        list.push_back(Hold{id, label});
    }
    holds = std::move(list);
}

void PowerTriggerCenter::refreshNotice() {
    noticeRefreshed.send();
    const Preferences& prefs = Preferences::shared();
    const auto& list = holds();
    const bool macHold =
        std::any_of(list.begin(), list.end(), [](const Hold& h) { return h.id == "mac"; });

    std::optional<Notice> next;
    if (auto reason = blockReason()) {
        next = Notice{*reason, 3};
    } else if (pending && !list.empty() && macHold) {
        std::string text = "Waiting: battery above " + std::to_string(prefs.battRecoverPct()) + "%";
        if (macBatteryPercent()) {
            text += " \u2014 now " + std::to_string(*macBatteryPercent()) + "%";
        }
        if (list.size() >= 2) {
            text += " (+" + std::to_string(list.size() - 1) + " more)";
        }
        next = Notice{text, 3};
    } else if (pending && list.size() == 1) {
        next = Notice{"Waiting to re-enable: " + list.front().label, 1};
    } else if (pending && list.size() >= 2) {
        next =
            Notice{"Waiting to re-enable: " + std::to_string(list.size()) + " device batteries", 1};
    } else if (macTripped && prefs.upsReact() && !prefs.upsInverted() && onUPS) {
        next = Notice{"Battery floor is holding UPS Symmetric back", 3};
    }
    if (next != notice()) {
        notice = std::move(next);
    }
}

}  // namespace orvel
