#include "triggers/BluetoothTriggerSource.h"

#include <algorithm>

#include "core/OrvelController.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "platform/Platform.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace {

Logger& btLog() {
    static Logger logger("bluetooth");
    return logger;
}

std::string holdID(const std::string& key) {
    return "bt-" + key;
}

std::string displayName(const TriggerRule& rule) {
    return rule.btName.value_or(rule.name);
}

// Whether the rule keeps a device's floor held until it recovers.
bool watchesRecovery(const TriggerRule& rule) {
    return rule.btAddress && rule.btBattEnd && rule.btBattRecover;
}

}  // namespace

BluetoothTriggerSource::BluetoothTriggerSource(Bluetooth& bluetooth,
                                               std::function<TriggerEngine&()> engine,
                                               std::function<PowerTriggerCenter&()> powerCenter,
                                               std::function<OrvelController&()> controller)
    : bluetooth_(bluetooth),
      engine_(std::move(engine)),
      powerCenter_(std::move(powerCenter)),
      controller_(std::move(controller)) {}

BluetoothTriggerSource::~BluetoothTriggerSource() {
    if (!running_ || !Platform::isInstalled()) {
        return;
    }
    if (connectNote_) {
        bluetooth_.unregister(*connectNote_);
    }
    for (const auto& [address, registration] : disconnectNotes_) {
        bluetooth_.unregister(registration);
    }
}

std::string BluetoothTriggerSource::deviceKey(const std::string& address) {
    std::string key = address;
    for (char& c : key) {
        if (c == ':') {
            c = '-';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

std::optional<std::int64_t> BluetoothTriggerSource::recoveryLevel(const TriggerRule& rule) {
    if (!rule.btBattRecover) {
        return std::nullopt;
    }
    // A recovery level at or under the floor (imported or edited by hand) would trip and
    // recover on every poll, ending and resuming the session each minute.
    if (rule.btBattEnd && *rule.btBattRecover <= *rule.btBattEnd) {
        return std::min<std::int64_t>(*rule.btBattEnd + 1, 100);
    }
    return rule.btBattRecover;
}

void BluetoothTriggerSource::start(std::vector<TriggerRule> rules) {
    std::vector<TriggerRule> previous = std::exchange(rules_, std::move(rules));
    if (!running_) {
        running_ = true;
        connectNote_ = bluetooth_.registerForConnects(
            [weakSelf = weakRef(*this)](const BluetoothDevice& device) {
                if (auto* self = weakSelf.get()) {
                    self->handleConnect(device);
                }
            });
        if (!connectNote_) {
            btLog().error("Could not register for Bluetooth connections; rules will not see them.");
        }
    }
    registerDisconnects();
    updateBatteryTimer();
    releaseUnwatchedHolds(previous);
}

void BluetoothTriggerSource::stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    if (connectNote_) {
        bluetooth_.unregister(*connectNote_);
        connectNote_.reset();
    }
    for (const auto& [address, registration] : disconnectNotes_) {
        bluetooth_.unregister(registration);
    }
    disconnectNotes_.clear();
    std::vector<TriggerRule> previous = std::move(rules_);
    rules_.clear();
    battTimer_.cancel();
    trippedBelow_.clear();
    lastLevels_.clear();
    releaseUnwatchedHolds(previous);
}

void BluetoothTriggerSource::registerDisconnects() {
    for (const auto& rule : rules_) {
        if (!rule.btAddress) {
            continue;
        }
        const auto device = bluetooth_.device(*rule.btAddress);
        if (!device || !device->connected || device->address.empty()) {
            continue;
        }
        ensureDisconnectNote(device->address);
    }
}

void BluetoothTriggerSource::ensureDisconnectNote(const std::string& address) {
    if (disconnectNotes_.contains(address)) {
        return;
    }
    auto registration = bluetooth_.registerForDisconnect(
        address, [weakSelf = weakRef(*this)](const BluetoothDevice& device) {
            if (auto* self = weakSelf.get()) {
                self->handleDisconnect(device);
            }
        });
    if (registration) {
        disconnectNotes_.emplace(address, *registration);
    } else {
        disconnectNotes_.erase(address);
        btLog().error("Could not register for the disconnection of " + address +
                      "; its rules will not see it.");
    }
}

void BluetoothTriggerSource::updateBatteryTimer() {
    const bool anyFloor = std::any_of(rules_.begin(), rules_.end(),
                                      [](const TriggerRule& r) { return r.btBattEnd.has_value(); });
    if (!anyFloor) {
        battTimer_.cancel();
        return;
    }
    if (battTimer_.isValid()) {
        return;
    }
    battTimer_ = RunLoop::main().every(kBatteryPollSeconds, [weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->checkBatteryFloors();
        }
    });
    checkBatteryFloors();
}

std::map<std::string, std::int64_t> BluetoothTriggerSource::readBatteryLevels() const {
    std::map<std::string, std::int64_t> levels;
    for (const auto& level : bluetooth_.batteryLevels()) {
        levels[deviceKey(level.address)] = level.percent;
    }
    return levels;
}

void BluetoothTriggerSource::checkBatteryFloors() {
    lastLevels_ = readBatteryLevels();
    for (const auto& rule : rules_) {
        if (!rule.btBattEnd || !rule.btAddress) {
            continue;
        }
        const std::string key = deviceKey(*rule.btAddress);
        const auto found = lastLevels_.find(key);
        if (found == lastLevels_.end()) {
            continue;
        }
        const std::int64_t level = found->second;
        const std::int64_t floor = *rule.btBattEnd;
        const std::string name = displayName(rule);
        bool& tripped = trippedBelow_[key];
        if (level <= floor && !tripped) {
            tripped = true;
            RunLoop::main().async([weakSelf = weakRef(*this), key, name, level, floor,
                                   hasRecovery = rule.btBattRecover.has_value()] {
                if (auto* self = weakSelf.get()) {
                    self->batteryBelowFloor(key, name, level, floor, hasRecovery);
                }
            });
        }
        const auto recovery = recoveryLevel(rule);
        if (recovery && tripped && level >= *recovery) {
            tripped = false;
            RunLoop::main().async([weakSelf = weakRef(*this), key, name, level] {
                if (auto* self = weakSelf.get()) {
                    self->batteryRecovered(key, name, level);
                }
            });
        }
    }
}

void BluetoothTriggerSource::batteryBelowFloor(const std::string& key, const std::string& name,
                                               std::int64_t level, std::int64_t floor,
                                               bool hasRecovery) {
    const std::string label = name + " battery " + std::to_string(level) + "% \u2014 below its " +
                              std::to_string(floor) + "% floor";
    PowerTriggerCenter& center = powerCenter_();
    const std::string shown = localizedFormat(
        "%1$@ battery %2$lld%% \u2014 below its %3$lld%% floor", {name, level, floor});
    if (controller_().isActive()) {
        center.endForBattery(hasRecovery, shown);
    }
    if (hasRecovery) {
        center.addHold(holdID(key), label, shown);
    }
}

void BluetoothTriggerSource::batteryRecovered(const std::string& key, const std::string& name,
                                              std::int64_t level) {
    powerCenter_().releaseHold(
        holdID(key), localizedFormat("%1$@ battery recovered \u2014 %2$lld%%", {name, level}));
}

void BluetoothTriggerSource::releaseUnwatchedHolds(const std::vector<TriggerRule>& previous) {
    for (const auto& old : previous) {
        if (!watchesRecovery(old)) {
            continue;
        }
        const std::string key = deviceKey(*old.btAddress);
        // Queued like every hand-off; by then the device may be watched again.
        RunLoop::main().async([weakSelf = weakRef(*this), key, name = displayName(old)] {
            auto* self = weakSelf.get();
            if (self == nullptr ||
                std::any_of(self->rules_.begin(), self->rules_.end(), [&](const TriggerRule& r) {
                    return watchesRecovery(r) && deviceKey(*r.btAddress) == key;
                })) {
                return;
            }
            self->powerCenter_().releaseHold(
                holdID(key), localizedFormat("%@ battery floor no longer watched", {name}));
        });
    }
}

void BluetoothTriggerSource::handleConnect(const BluetoothDevice& device) {
    if (device.address.empty()) {
        return;
    }
    ensureDisconnectNote(device.address);
    std::vector<UUID> ids;
    for (const auto& rule : rules_) {
        if (rule.btAddress == device.address) {
            ids.push_back(rule.id);
        }
    }
    RunLoop::main().async([reach = engine_, ids = std::move(ids)] {
        TriggerEngine& engine = reach();
        engine.refreshAvailability();
        for (const auto& id : ids) {
            engine.handle(id, true, false);
        }
    });
}

void BluetoothTriggerSource::handleDisconnect(const BluetoothDevice& device) {
    if (device.address.empty()) {
        return;
    }
    if (auto found = disconnectNotes_.find(device.address); found != disconnectNotes_.end()) {
        bluetooth_.unregister(found->second);
        disconnectNotes_.erase(found);
    }
    for (const auto& rule : rules_) {
        if (rule.btAddress == device.address) {
            RunLoop::main().async(
                [reach = engine_, id = rule.id] { reach().handle(id, false, false); });
        }
    }
}

std::vector<BluetoothTriggerSource::PairedDevice> BluetoothTriggerSource::pairedDevices() const {
    std::vector<PairedDevice> devices;
    for (const auto& device : bluetooth_.pairedDevices()) {
        if (device.address.empty()) {
            continue;
        }
        devices.push_back(PairedDevice{device.address, device.name.value_or(device.address)});
    }
    std::stable_sort(devices.begin(), devices.end(),
                     [](const PairedDevice& a, const PairedDevice& b) { return a.name < b.name; });
    return devices;
}

bool BluetoothTriggerSource::isConnected(const std::optional<std::string>& address) const {
    if (!address) {
        return false;
    }
    auto device = bluetooth_.device(*address);
    return device && device->connected;
}

}  // namespace orvel
