#pragma once

#include <map>
#include <vector>

#include "platform/Bluetooth.h"

namespace orvel {

// Simulated Bluetooth: allowed, with no paired devices until a test pairs some. Connections and
// disconnections reach the registrations at once, as the stack's callbacks would.
class SimBluetooth final : public Bluetooth {
  public:
    BluetoothAuthorization authorization() override {
        ++authorizationReads_;
        return authorization_;
    }
    void requestAuthorization() override {
        ++authorizationRequests_;
        if (requestAnswer_) {
            setAuthorization(*requestAnswer_);
        }
    }
    std::vector<BluetoothDevice> pairedDevices() override { return devices_; }
    std::optional<BluetoothDevice> device(std::string_view address) override {
        if (auto* d = find(address)) {
            return *d;
        }
        return std::nullopt;
    }
    std::optional<BluetoothRegistration> registerForConnects(DeviceHandler handler) override {
        if (failRegistrations_) {
            return std::nullopt;
        }
        connects_.emplace(++lastToken_, std::move(handler));
        return lastToken_;
    }
    std::optional<BluetoothRegistration> registerForDisconnect(std::string_view address,
                                                               DeviceHandler handler) override {
        if (failRegistrations_ || find(address) == nullptr) {
            return std::nullopt;
        }
        disconnects_.emplace(++lastToken_, Watch{std::string(address), std::move(handler)});
        return lastToken_;
    }
    void unregister(BluetoothRegistration registration) override {
        connects_.erase(registration);
        disconnects_.erase(registration);
    }
    std::vector<BluetoothBatteryLevel> batteryLevels() override {
        ++batteryReads_;
        return levels_;
    }

    // Control surface for tests.
    void setAuthorization(BluetoothAuthorization authorization) {
        if (authorization != authorization_) {
            authorization_ = authorization;
            authorizationChanged.send();
        }
    }
    // What the user answers to the next requests; none leaves them unanswered.
    void answerRequestsWith(std::optional<BluetoothAuthorization> answer) {
        requestAnswer_ = answer;
    }
    int authorizationRequests() const { return authorizationRequests_; }
    int authorizationReads() const { return authorizationReads_; }
    // Pairs a device, or replaces the paired device with the same address (without events).
    void pair(BluetoothDevice device) {
        if (auto* d = find(device.address)) {
            *d = std::move(device);
            return;
        }
        devices_.push_back(std::move(device));
    }
    // Connects or disconnects a device; a change reaches the registrations (a disconnect only
    // those for its address).
    void setConnected(std::string_view address, bool connected) {
        auto* d = find(address);
        if (d == nullptr || d->connected == connected) {
            return;
        }
        d->connected = connected;
        const BluetoothDevice copy = *d;
        deliver(copy, connected);
    }
    // Changes the state without telling anyone, for tests that play the edges themselves.
    void setConnectedSilently(std::string_view address, bool connected) {
        if (auto* d = find(address)) {
            d->connected = connected;
        }
    }
    void connect(std::string_view address) { setConnected(address, true); }
    void disconnect(std::string_view address) { setConnected(address, false); }
    // Forgets a device; one that was connected disconnects first.
    void remove(std::string_view address) {
        disconnect(address);
        std::erase_if(devices_, [&](const BluetoothDevice& d) { return d.address == address; });
    }
    void unpairAll() { devices_.clear(); }
    // The published battery levels, in order (the same address may repeat).
    void setBatteryLevels(std::vector<BluetoothBatteryLevel> levels) {
        levels_ = std::move(levels);
    }
    void setBatteryLevel(const std::string& address, std::optional<std::int64_t> percent) {
        std::erase_if(levels_,
                      [&](const BluetoothBatteryLevel& l) { return l.address == address; });
        if (percent) {
            levels_.push_back({address, *percent});
        }
    }
    // Makes every later registration fail.
    void setFailRegistrations(bool fail) { failRegistrations_ = fail; }
    std::size_t liveConnectRegistrations() const { return connects_.size(); }
    // The addresses with a live disconnect registration, one entry per registration.
    std::vector<std::string> liveDisconnectRegistrations() const {
        std::vector<std::string> addresses;
        for (const auto& [token, watch] : disconnects_) {
            addresses.push_back(watch.address);
        }
        return addresses;
    }
    int batteryReads() const { return batteryReads_; }

  private:
    struct Watch {
        std::string address;
        DeviceHandler handler;
    };

    BluetoothDevice* find(std::string_view address) {
        for (auto& d : devices_) {
            if (d.address == address) {
                return &d;
            }
        }
        return nullptr;
    }
    void deliver(const BluetoothDevice& device, bool connected) {
        // Handlers may register and unregister: call a snapshot of those live now.
        std::vector<BluetoothRegistration> tokens;
        if (connected) {
            for (const auto& [token, handler] : connects_) {
                tokens.push_back(token);
            }
        } else {
            for (const auto& [token, watch] : disconnects_) {
                if (watch.address == device.address) {
                    tokens.push_back(token);
                }
            }
        }
        for (const auto token : tokens) {
            if (auto it = connects_.find(token); connected && it != connects_.end()) {
                auto handler = it->second;
                handler(device);
            } else if (auto w = disconnects_.find(token); !connected && w != disconnects_.end()) {
                auto handler = w->second.handler;
                handler(device);
            }
        }
    }

    BluetoothAuthorization authorization_ = BluetoothAuthorization::allowedAlways;
    std::optional<BluetoothAuthorization> requestAnswer_;
    int authorizationRequests_ = 0;
    int authorizationReads_ = 0;
    std::vector<BluetoothDevice> devices_;
    std::vector<BluetoothBatteryLevel> levels_;
    std::map<BluetoothRegistration, DeviceHandler> connects_;
    std::map<BluetoothRegistration, Watch> disconnects_;
    BluetoothRegistration lastToken_ = 0;
    bool failRegistrations_ = false;
    int batteryReads_ = 0;
};

}  // namespace orvel
