#include "devices/InputBlocker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "ui/Host.h"

namespace orvel {

namespace {

constexpr std::int64_t kVendorApple = 76;
constexpr std::int64_t kVendorAppleUsb = 1452;

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

InputBlocker& InputBlocker::shared() {
    return ORVEL_SHARED_INSTANCE(InputBlocker);
}

InputBlocker::HidAccessScope::HidAccessScope() : previous_(shared().hidAccess_) {
    shared().hidAccess_ = true;
}

InputBlocker::HidAccessScope::~HidAccessScope() {
    shared().hidAccess_ = previous_;
}

std::vector<HidDevice> InputBlocker::currentHIDDevices() {
    if (!hidAccess()) {
        return {};
    }
    return Platform::current().hidDevices().attachedDevices();
}

bool InputBlocker::isInternal(const HidDevice& device) {
    const std::string transport = lowercased(device.transport.value_or(""));
    if (contains(transport, "bluetooth") || contains(transport, "ble")) {
        return false;
    }
    if (device.builtIn == true) {
        return true;
    }
    if (device.vendorId != kVendorApple && device.vendorId != kVendorAppleUsb) {
        return false;
    }
    if (contains(transport, "spi") || contains(transport, "fifo")) {
        return true;
    }
    const std::string product = lowercased(device.product.value_or(""));
    return contains(product, "internal keyboard") || contains(product, "internal trackpad");
}

std::string InputBlocker::productName(const HidDevice& device) {
    return device.product.value_or("unnamed device");
}

std::string InputBlocker::deviceDescription(const HidDevice& device) {
    char vendor[16];
    std::snprintf(vendor, sizeof vendor, "0x%04llX",
                  static_cast<unsigned long long>(device.vendorId.value_or(0)));
    return productName(device) + " \u00b7 " + device.transport.value_or("unknown bus") +
           " \u00b7 BuiltIn " + (device.builtIn == true ? "yes" : "no") + " \u00b7 vendor " +
           vendor;
}

std::vector<std::string> InputBlocker::internalDeviceNames() {
    std::vector<std::string> names;
    for (const auto& device : currentHIDDevices()) {
        if (device.isInputDevice() && isInternal(device)) {
            names.push_back(productName(device));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool InputBlocker::hasExternalKeyboard() {
    const auto devices = currentHIDDevices();
    return std::any_of(devices.begin(), devices.end(), [](const HidDevice& d) {
        return !isInternal(d) && d.conformsTo(hid_usage::kKeyboard);
    });
}

bool InputBlocker::hasExternalPointer() {
    const auto devices = currentHIDDevices();
    return std::any_of(devices.begin(), devices.end(), [](const HidDevice& d) {
        return !isInternal(d) &&
               (d.conformsTo(hid_usage::kMouse) || d.conformsTo(hid_usage::kPointer) ||
                d.conformsTo(hid_usage::kTouchPad));
    });
}

std::uint16_t InputBlocker::permissionStatus() {
    auto& permissions = Platform::current().permissions();
    bool inputMonitoring = permissions.preflightListenEvent();
    const bool hidGranted = permissions.checkListenEventAccess() == ListenEventAccess::granted;
    if (inputMonitoring != hidGranted) {
        // The two checks disagree: the device list decides, as none is handed out without
        // Input Monitoring.
        HidAccessScope access;
        inputMonitoring = !currentHIDDevices().empty();
    }
    const bool accessibility = permissions.isAccessibilityTrusted();
    const std::uint16_t status = static_cast<std::uint16_t>(
        (accessibility ? kAccessibilityBit : 0) | (inputMonitoring ? kInputMonitoringBit : 0));
    shared().permissions_ = status;
    return status;
}

std::optional<InputBlocker::PermissionStatus> InputBlocker::cachedPermissions() {
    const std::uint16_t cache = shared().permissions_;
    if ((cache & 0xFF) == kNeverChecked) {
        return std::nullopt;
    }
    return PermissionStatus{(cache & kInputMonitoringBit) != 0, (cache & kAccessibilityBit) != 0};
}

std::vector<std::string> InputBlocker::missingPermissions() {
    std::vector<std::string> missing;
    const auto status = cachedPermissions();
    if (!status) {
        return missing;
    }
    if (!status->inputMonitoring) {
        missing.emplace_back("Input Monitoring");
    }
    if (!status->accessibility) {
        missing.emplace_back("Accessibility");
    }
    return missing;
}

bool InputBlocker::requestInputMonitoring() {
    auto& permissions = Platform::current().permissions();
    if (permissions.checkListenEventAccess() == ListenEventAccess::undecided) {
        permissions.requestListenEventAccess();
        permissionStatus();
    } else if ((permissionStatus() & kInputMonitoringBit) == 0 && ui::UiHost::isInstalled()) {
        ui::AlertContent content;
        content.messageText = localized("Turn on Input Monitoring for Orvel in System Settings");
        content.informativeText = localized(
            "macOS has already recorded a decision for Orvel, so it will not show the Input "
            "Monitoring prompt again. In System Settings \u203a Privacy & Security \u203a Input "
            "Monitoring, switch Orvel ON. To make macOS ask fresh instead, run:  tccutil reset "
            "ListenEvent <bundle id>  and relaunch Orvel.");
        content.buttons = {localized("Open System Settings"), localized("Cancel")};
        if (ui::UiHost::current().makeAlert(std::move(content))->runModal() ==
            ui::kAlertFirstButtonReturn) {
            openPrivacyPane(false);
        }
    }
    return (shared().permissions_ & kInputMonitoringBit) != 0;
}

bool InputBlocker::requestAccessibility() {
    const bool trusted = Platform::current().permissions().requestAccessibility();
    if (!trusted && (permissionStatus() & kAccessibilityBit) == 0) {
        openPrivacyPane(true);
    }
    return trusted;
}

void InputBlocker::openPrivacyPane(bool accessibility) {
    const auto url = Platform::current().permissions().settingsURL(accessibility);
    if (!url) {
        Logger("permissions").notice("There is no place to grant this permission by hand.");
        return;
    }
    if (auto opened = Platform::current().workspace().openURL(*url); !opened.ok()) {
        Logger("permissions").error(opened.error().message);
    }
}

void InputBlocker::stop() {
    hidAccess_ = false;
    ++stops_;
    stopped.send();
}

KeyboardBacklight& KeyboardBacklight::shared() {
    return ORVEL_SHARED_INSTANCE(KeyboardBacklight);
}

}  // namespace orvel
