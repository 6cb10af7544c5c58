#include "devices/InputBlocker.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "devices/UserAsker.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/InputBlocking.h"
#include "platform/Permissions.h"
#include "platform/Workspace.h"

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

InputBlocker::InputBlocker(HidDevices& hid, InputBlocking& blocking, Permissions& permissions,
                           Workspace& workspace, Cursor& cursor, EventTap& eventTap)
    : hid_(hid),
      blocking_(blocking),
      permissionApi_(permissions),
      workspace_(workspace),
      cursor_(cursor),
      eventTap_(eventTap) {}

InputBlocker::HidAccessScope::HidAccessScope(InputBlocker& blocker)
    : blocker_(blocker), previous_(blocker.hidAccess_) {
    blocker_.hidAccess_ = true;
}

InputBlocker::HidAccessScope::~HidAccessScope() {
    blocker_.hidAccess_ = previous_;
}

std::vector<HidDevice> InputBlocker::currentHIDDevices() const {
    if (!hidAccess()) {
        return {};
    }
    return hid_.attachedDevices();
}

bool InputBlocker::isInternal(const HidDevice& device) {
    const std::string transport = lowercased(device.transport.value_or(""));
    // Whatever else it claims, a wireless device is not part of the machine.
    if (contains(transport, "bluetooth") || contains(transport, "ble")) {
        return false;
    }
    // The system's own word (udev's internal marks) settles it.
    if (device.builtIn == true) {
        return true;
    }
    // Without it, only the machine maker's own devices can be built in.
    if (device.vendorId != kVendorApple && device.vendorId != kVendorAppleUsb) {
        return false;
    }
    // Built-in keyboards and trackpads hang off SPI or an internal FIFO, never a plug.
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

std::vector<std::string> InputBlocker::internalDeviceNames() const {
    std::vector<std::string> names;
    for (const auto& device : currentHIDDevices()) {
        if (device.isInputDevice() && isInternal(device)) {
            names.push_back(productName(device));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool InputBlocker::externalKeyboardAttached() const {
    const auto devices = currentHIDDevices();
    return std::any_of(devices.begin(), devices.end(), [](const HidDevice& d) {
        return !isInternal(d) && d.conformsTo(hid_usage::kKeyboard);
    });
}

bool InputBlocker::externalPointerAttached() const {
    const auto devices = currentHIDDevices();
    return std::any_of(devices.begin(), devices.end(), [](const HidDevice& d) {
        return !isInternal(d) &&
               (d.conformsTo(hid_usage::kMouse) || d.conformsTo(hid_usage::kPointer) ||
                d.conformsTo(hid_usage::kTouchPad));
    });
}

std::uint16_t InputBlocker::permissionStatus() {
    auto& permissions = permissionApi_;
    bool inputMonitoring = permissions.preflightListenEvent();
    const bool hidGranted = permissions.checkListenEventAccess() == ListenEventAccess::granted;
    if (inputMonitoring != hidGranted) {
        // The two checks disagree: the device list decides, as none is handed out without
        // input device access.
        HidAccessScope access(*this);
        inputMonitoring = !currentHIDDevices().empty();
    }
    const bool accessibility = permissions.isAccessibilityTrusted();
    const std::uint16_t status = static_cast<std::uint16_t>(
        (accessibility ? kAccessibilityBit : 0) | (inputMonitoring ? kInputMonitoringBit : 0));
    permissions_ = status;
    return status;
}

std::optional<InputBlocker::PermissionStatus> InputBlocker::cachedPermissions() const {
    const std::uint16_t cache = permissions_;
    if ((cache & 0xFF) == kNeverChecked) {
        return std::nullopt;
    }
    return PermissionStatus{(cache & kInputMonitoringBit) != 0, (cache & kAccessibilityBit) != 0};
}

std::vector<std::string> InputBlocker::missingPermissions() const {
    std::vector<std::string> missing;
    const auto status = cachedPermissions();
    if (!status) {
        return missing;
    }
    if (!status->inputMonitoring) {
        missing.emplace_back(textKey("Input device access"));
    }
    if (!status->accessibility) {
        missing.emplace_back(textKey("Input device control"));
    }
    return missing;
}

bool InputBlocker::requestInputMonitoring() {
    auto& permissions = permissionApi_;
    if (permissions.checkListenEventAccess() == ListenEventAccess::undecided) {
        permissions.requestListenEventAccess();
        permissionStatus();
    } else if ((permissionStatus() & kInputMonitoringBit) == 0) {
        if (UserAsker* asker = UserAsker::ready(); asker && asker->openInputMonitoringSettings()) {
            openPrivacyPane(false);
        }
    }
    return (permissions_ & kInputMonitoringBit) != 0;
}

bool InputBlocker::requestAccessibility() {
    const bool trusted = permissionApi_.requestAccessibility();
    if (!trusted && (permissionStatus() & kAccessibilityBit) == 0) {
        openPrivacyPane(true);
    }
    return trusted;
}

void InputBlocker::openPrivacyPane(bool accessibility) {
    const auto url = permissionApi_.settingsURL(accessibility);
    if (!url) {
        Logger("permissions").notice("There is no place to grant this permission by hand.");
        return;
    }
    if (auto opened = workspace_.openURL(*url); !opened.ok()) {
        Logger("permissions").error(opened.error().message);
    }
}

InputBlocker::~InputBlocker() {
    // Quitting always gives the built-in devices back, whoever forgot to stop.
    tap_.reset();
    observation_.reset();
    silenced_.clear();
}

void InputBlocker::apply(bool keyboard, bool trackpad) {
    if (!keyboard && !trackpad) {
        stop();
        return;
    }
    permissionStatus();
    const auto missing = missingPermissions();
    if (!missing.empty()) {
        // What is blocked now stays only when it is exactly what was asked for: a device
        // switched off by an earlier request must not outlive the switch that asked for it.
        if ((isBlockingKeyboard_ || isBlockingTrackpad_) &&
            (keyboard != isBlockingKeyboard_ || trackpad != isBlockingTrackpad_)) {
            stop();
        }
        // A key each, shown in the reader's language where it is read.
        lastFailure = missing.size() > 1
                          ? textKey(
                                "Needs Input device access and Input device control. Enable in "
                                "Settings installs Orvel's udev rule; see Input device access "
                                "in Help.")
                      : missing.front() == "Input device access"
                          ? textKey(
                                "Needs Input device access. Enable in Settings installs "
                                "Orvel's udev rule; see Input device access in Help.")
                          : textKey(
                                "Needs Input device control. Enable in Settings installs "
                                "Orvel's udev rule; see Input device access in Help.");
        Logger("input").notice("Not blocking built-in input: " + *lastFailure);
        return;
    }
    stop();
    lastFailure.reset();
    hidAccess_ = true;

    const bool perDevice = blocking_.way() == BlockingWay::perDevice;
    const std::vector<HidDevice> chosen = chooseDevices(keyboard, trackpad, perDevice);
    auto nameOf = [&chosen](std::uint64_t id) {
        for (const auto& device : chosen) {
            if (device.id == id) {
                return productName(device);
            }
        }
        return std::string("unnamed device");
    };

    InputHoldResult held;
    if (perDevice) {
        held = blocking_.silence(chosen);
    } else {
        // Values seen during an earlier block must not count for this one.
        lastInternalKeyboard_.store(kNever, std::memory_order_relaxed);
        lastInternalPointer_.store(kNever, std::memory_order_relaxed);
        held = blocking_.observe(chosen, [this](std::uint32_t page) { noteInternalValue(page); });
    }
    for (const auto& failure : held.failures) {
        Logger("input").error(std::string(perDevice ? "could not silence " : "could not observe ") +
                              nameOf(failure.device) + ": " + failure.reason);
    }
    if (held.held.empty() || !held.hold) {
        fail(textKey("No built-in keyboard or trackpad found on this computer."));
        return;
    }
    if (perDevice) {
        silenced_.push_back(std::move(held.hold));
        silencedIds_ = held.held;
        // A built-in device the kernel makes anew (a touch pad reset after resume) is a new
        // device: it is switched off as soon as it shows.
        devicesChanged_ = hid_.devicesChanged.subscribe([this] {
            silenceNewcomers();
            refreshExternalDevices();
        });
    } else {
        observation_ = std::move(held.hold);
        observedIds_ = held.held;
        observedCount_ = observedIds_.size();
        devicesChanged_ = hid_.devicesChanged.subscribe([this] {
            recountObserved();
            refreshExternalDevices();
        });
        if (!installTap(keyboard, trackpad)) {
            fail(
                textKey("Could not watch the event devices. Input device control may have been "
                        "taken back \u2014 see Input device access in Help, then quit and "
                        "relaunch."));
            return;
        }
    }
    isBlockingKeyboard_ = keyboard;
    isBlockingTrackpad_ = trackpad;
    takeExternalCensus();
    anchor_.reset();
    // A silenced device moves no pointer; only the tap has to hold it still.
    if (trackpad && !perDevice) {
        anchor_ = cursor_.location();
    }
    Logger("input").info(std::string("blocking built-in input (keyboard: ") +
                         (keyboard ? "true" : "false") +
                         ", trackpad: " + (trackpad ? "true" : "false") + ")");
}

std::vector<HidDevice> InputBlocker::chooseDevices(bool keyboard, bool trackpad, bool perDevice) {
    std::vector<HidDevice> chosen;
    for (const auto& device : currentHIDDevices()) {
        if (!isInternal(device)) {
            continue;
        }
        const bool isKeyboard = device.conformsTo(hid_usage::kKeyboard);
        const bool isPointing = device.conformsTo(hid_usage::kTouchPad) ||
                                device.conformsTo(hid_usage::kMouse) ||
                                device.conformsTo(hid_usage::kPointer);
        // A tap cannot tell keyboard values from pointer values by device, so with the trackpad
        // asked for every built-in device is watched; switching off takes exactly those asked.
        const bool take = perDevice ? (keyboard && isKeyboard) || (trackpad && isPointing)
                                    : trackpad || isKeyboard;
        if (take) {
            chosen.push_back(device);
        }
    }
    return chosen;
}

void InputBlocker::silenceNewcomers() {
    std::vector<HidDevice> newcomers;
    for (auto& device : chooseDevices(isBlockingKeyboard_, isBlockingTrackpad_, true)) {
        if (std::find(silencedIds_.begin(), silencedIds_.end(), device.id) == silencedIds_.end()) {
            newcomers.push_back(std::move(device));
        }
    }
    if (newcomers.empty()) {
        return;
    }
    auto held = blocking_.silence(newcomers);
    for (const auto& failure : held.failures) {
        Logger("input").error("could not silence a device that came back: " + failure.reason);
    }
    if (held.hold) {
        silenced_.push_back(std::move(held.hold));
        silencedIds_.insert(silencedIds_.end(), held.held.begin(), held.held.end());
    }
}

void InputBlocker::fail(std::string reason) {
    stop();
    lastFailure = std::move(reason);
    Logger("input").notice("Not blocking built-in input: " + *lastFailure);
}

namespace {

constexpr std::uint64_t bit(std::uint32_t type) {
    return std::uint64_t{1} << type;
}

constexpr std::uint64_t kKeyboardMask = bit(10) | bit(11) | bit(12);
constexpr std::uint64_t kPointerMask = bit(5) | bit(1) | bit(2) | bit(3) | bit(4) | bit(25) |
                                       bit(26) | bit(6) | bit(7) | bit(27) | bit(22);
constexpr std::uint64_t kGestureMask =
    bit(18) | bit(19) | bit(20) | bit(29) | bit(30) | bit(31) | bit(32);

bool in(std::uint64_t mask, std::uint32_t type) {
    return type < 64 && (mask & bit(type)) != 0;
}

std::int64_t monotonicNanos() {
    return static_cast<std::int64_t>(std::llround(RunLoop::main().uptime() * 1e9));
}

}  // namespace

bool InputBlocker::installTap(bool keyboard, bool trackpad) {
    std::uint64_t mask = 0;
    if (keyboard) {
        mask |= kKeyboardMask;
    }
    if (trackpad) {
        mask |= kPointerMask | kGestureMask;
    }
    tap_ = eventTap_.create(
        mask, [this](std::uint32_t type, TapEvent* event) { return filter(type, event); });
    return tap_ != nullptr;
}

void InputBlocker::takeExternalCensus() {
    hasExternalKeyboard_ = externalKeyboardAttached();
    hasExternalPointer_ = externalPointerAttached();
}

void InputBlocker::refreshExternalDevices() {
    if (isBlockingKeyboard_ || isBlockingTrackpad_) {
        takeExternalCensus();
    }
}

void InputBlocker::recountObserved() {
    const auto attached = currentHIDDevices();
    observedCount_ = static_cast<std::size_t>(
        std::count_if(observedIds_.begin(), observedIds_.end(), [&attached](std::uint64_t id) {
            return std::any_of(attached.begin(), attached.end(),
                               [id](const HidDevice& d) { return d.id == id; });
        }));
}

void InputBlocker::noteInternalValue(std::uint32_t usagePage) {
    auto& stamp = usagePage == 0x07 ? lastInternalKeyboard_ : lastInternalPointer_;
    stamp.store(monotonicNanos(), std::memory_order_relaxed);
}

TapEvent* InputBlocker::filter(std::uint32_t type, TapEvent* event) {
    // The system turns off a tap that was slow or interrupted; blocking would end unseen.
    if (type == tap_event::kDisabledByTimeout || type == tap_event::kDisabledByUserInput) {
        if (tap_) {
            tap_->setEnabled(true);
        }
        return event;
    }
    // The tap cannot tell devices apart: an event this soon after a built-in value came from it.
    constexpr std::int64_t kWindow = 150'000'000;
    const std::int64_t now = monotonicNanos();
    auto recent = [now](std::int64_t last) { return last != kNever && now - last < kWindow; };
    const bool keyboardRecent = recent(lastInternalKeyboard_.load(std::memory_order_relaxed));
    const bool pointerRecent = recent(lastInternalPointer_.load(std::memory_order_relaxed));
    const bool correlated = observedCount_ > 0;

    bool keyboardPasses = true;
    bool pointerIsBuiltIn = pointerRecent;
    // A built-in key was just pressed: a pointer event now is built-in too unless an external
    // pointer could have sent it.
    if (keyboardRecent) {
        keyboardPasses = false;
        pointerIsBuiltIn = pointerRecent || (!correlated && !hasExternalPointer_);
    } else if (!correlated) {
        // Nothing to match events with: they are taken as built-in unless an external device
        // could have sent them.
        keyboardPasses = hasExternalKeyboard_;
        pointerIsBuiltIn = pointerRecent || !hasExternalPointer_;
    }

    switch (type) {
        // Buttons and the scroll wheel.
        case 1:
        case 2:
        case 3:
        case 4:
        case 22:
        case 25:
        case 26:
            return pointerIsBuiltIn && isBlockingTrackpad_ ? nullptr : event;
        // Moves and drags.
        case 5:
        case 6:
        case 7:
        case 27:
            if (!isBlockingTrackpad_) {
                return event;
            }
            // An external mouse moves the anchor, so the pointer stays where it left it.
            if (!pointerIsBuiltIn) {
                anchor_ = event->location;
                return event;
            }
            if (!anchor_) {
                return nullptr;
            }
            event->deltaX = 0;
            event->deltaY = 0;
            event->location = *anchor_;
            cursor_.warp(*anchor_);
            return event;
        // Keys and modifiers.
        case 10:
        case 11:
        case 12:
            return !isBlockingKeyboard_ || keyboardPasses ? event : nullptr;
        default:
            return isBlockingTrackpad_ && in(kGestureMask, type) && pointerIsBuiltIn ? nullptr
                                                                                     : event;
    }
}

void InputBlocker::stop() {
    tap_.reset();
    devicesChanged_.cancel();
    observation_.reset();
    observedIds_.clear();
    observedCount_ = 0;
    silenced_.clear();
    silencedIds_.clear();
    if (isBlockingKeyboard_ || isBlockingTrackpad_) {
        Logger("input").info("built-in input released");
    }
    isBlockingKeyboard_ = false;
    isBlockingTrackpad_ = false;
    anchor_.reset();
    hidAccess_ = false;
    ++stops_;
    stopped.send();
}

}  // namespace orvel
