#include "platform/linux/LinuxAccessibilityDisplay.h"

#include <cmath>
#include <string>

#include "foundation/Log.h"

namespace orvel {

namespace {

const DBusObject kPortal{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                         "org.freedesktop.portal.Settings"};
constexpr const char* kReadAll = "ReadAll";
constexpr const char* kSettingChanged = "SettingChanged";
constexpr const char* kA11yInterface = "org.gnome.desktop.a11y.interface";
constexpr const char* kHighContrast = "high-contrast";
constexpr const char* kInterface = "org.gnome.desktop.interface";
constexpr const char* kTextScaling = "text-scaling-factor";
// The AT-SPI bus launcher says whether a screen reader runs.
const DBusObject kAtspiStatus{"org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties"};
constexpr const char* kStatusInterface = "org.a11y.Status";
constexpr const char* kScreenReaderEnabled = "ScreenReaderEnabled";

}  // namespace

struct LinuxAccessibilityDisplay::State {
    std::shared_ptr<DBusConnection> bus;
    DBusSlot readAll;
    DBusSlot changes;
    DBusSlot screenReaderRead;
    DBusSlot screenReaderChanges;
    bool screenReader = false;
    bool highContrast = false;
    double textScaling = 1.0;
    bool answered = false;
    // The owner's signal, while the owner lives.
    Signal<>* changed = nullptr;
    Logger log{"accessibility"};

    void unavailable(const std::string& why) {
        answered = true;
        log.notice("Accessibility display settings are not available on this system (" + why +
                   "); the standard ones apply.");
    }

    // Reads one setting's variant; true when it was one of ours and changed.
    bool apply(const std::string& ns, const std::string& key, sd_bus_message* m) {
        if (ns == kA11yInterface && key == kHighContrast) {
            int value = 0;
            if (sd_bus_message_read(m, "v", "b", &value) < 0) {
                return false;
            }
            const bool before = highContrast;
            highContrast = value != 0;
            return before != highContrast;
        }
        if (ns == kInterface && key == kTextScaling) {
            double value = 1.0;
            if (sd_bus_message_read(m, "v", "d", &value) < 0 || !std::isfinite(value) ||
                value <= 0) {
                return false;
            }
            const double before = textScaling;
            textScaling = value;
            return before != textScaling;
        }
        sd_bus_message_skip(m, "v");
        return false;
    }

    // ReadAll's answer: a{sa{sv}}, namespace → key → value.
    void readAnswer(sd_bus_message* reply) {
        if (auto error = DBusConnection::errorOf(reply)) {
            unavailable(*error);
            return;
        }
        answered = true;
        bool any = false;
        if (sd_bus_message_enter_container(reply, 'a', "{sa{sv}}") < 0) {
            log.error("The settings portal answered in an unknown form.");
            return;
        }
        while (sd_bus_message_enter_container(reply, 'e', "sa{sv}") > 0) {
            const char* ns = nullptr;
            if (sd_bus_message_read(reply, "s", &ns) < 0 ||
                sd_bus_message_enter_container(reply, 'a', "{sv}") < 0) {
                break;
            }
            const std::string nsText = ns;
            while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
                const char* key = nullptr;
                if (sd_bus_message_read(reply, "s", &key) < 0) {
                    break;
                }
                any = apply(nsText, key, reply) || any;
                sd_bus_message_exit_container(reply);
            }
            sd_bus_message_exit_container(reply);
            sd_bus_message_exit_container(reply);
        }
        if (any && changed != nullptr) {
            changed->send();
        }
    }

    void screenReaderAnswer(sd_bus_message* reply) {
        if (auto error = DBusConnection::errorOf(reply)) {
            log.notice("No screen reader status from the AT-SPI bus (" + *error +
                       "); taken as off.");
            return;
        }
        int value = 0;
        if (sd_bus_message_read(reply, "v", "b", &value) >= 0) {
            screenReader = value != 0;
        }
    }

    // PropertiesChanged: s a{sv} as.
    void statusChanged(sd_bus_message* m) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 ||
            std::string(interface) != kStatusInterface ||
            sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
            return;
        }
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            int value = 0;
            if (sd_bus_message_read(m, "s", &name) < 0) {
                break;
            }
            if (std::string(name) == kScreenReaderEnabled &&
                sd_bus_message_read(m, "v", "b", &value) >= 0) {
                screenReader = value != 0;
            } else {
                sd_bus_message_skip(m, "v");
            }
            sd_bus_message_exit_container(m);
        }
    }

    void changeSignal(sd_bus_message* m) {
        const char* ns = nullptr;
        const char* key = nullptr;
        if (sd_bus_message_read(m, "ss", &ns, &key) < 0) {
            return;
        }
        if (apply(ns, key, m) && changed != nullptr) {
            changed->send();
        }
    }
};

LinuxAccessibilityDisplay::LinuxAccessibilityDisplay(std::shared_ptr<DBusConnection> sessionBus)
    : state_(std::make_shared<State>()) {
    state_->bus = std::move(sessionBus);
    state_->changed = &displayOptionsDidChange;
    if (!state_->bus) {
        state_->unavailable("no session bus");
        return;
    }
    std::weak_ptr<State> weak = state_;
    auto match = state_->bus->matchSignal(nullptr, kPortal.path, kPortal.interface, kSettingChanged,
                                          [weak](sd_bus_message* m) {
                                              if (auto state = weak.lock()) {
                                                  state->changeSignal(m);
                                              }
                                          });
    if (match.ok()) {
        state_->changes = std::move(match.value());
    }
    followScreenReader();
    auto call = state_->bus->call(
        kPortal, kReadAll,
        [](sd_bus_message* m) {
            const char* namespaces[] = {kA11yInterface, kInterface, nullptr};
            return sd_bus_message_append_strv(m, const_cast<char**>(namespaces));
        },
        [weak](sd_bus_message* reply) {
            if (auto state = weak.lock()) {
                state->readAnswer(reply);
            }
        });
    if (call.ok()) {
        state_->readAll = std::move(call.value());
    } else {
        state_->unavailable(call.error().message);
    }
}

void LinuxAccessibilityDisplay::followScreenReader() {
    std::weak_ptr<State> weak = state_;
    auto match = state_->bus->matchSignal(nullptr, kAtspiStatus.path, kAtspiStatus.interface,
                                          "PropertiesChanged", [weak](sd_bus_message* m) {
                                              if (auto state = weak.lock()) {
                                                  state->statusChanged(m);
                                              }
                                          });
    if (match.ok()) {
        state_->screenReaderChanges = std::move(match.value());
    }
    auto call = state_->bus->call(
        kAtspiStatus, "Get",
        [](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", kStatusInterface, kScreenReaderEnabled);
        },
        [weak](sd_bus_message* reply) {
            if (auto state = weak.lock()) {
                state->screenReaderAnswer(reply);
            }
        });
    if (call.ok()) {
        state_->screenReaderRead = std::move(call.value());
    } else {
        state_->log.notice("No screen reader status (" + call.error().message + "); taken as off.");
    }
}

bool LinuxAccessibilityDisplay::screenReaderEnabled() {
    return state_->screenReader;
}

LinuxAccessibilityDisplay::~LinuxAccessibilityDisplay() {
    state_->changed = nullptr;
}

bool LinuxAccessibilityDisplay::shouldIncreaseContrast() {
    return state_->highContrast;
}

double LinuxAccessibilityDisplay::bodyFontSize() {
    return kStandardBodySize * state_->textScaling;
}

bool LinuxAccessibilityDisplay::hasAnswered() const {
    return state_->answered;
}

}  // namespace orvel
