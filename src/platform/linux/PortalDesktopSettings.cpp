#include "platform/linux/PortalDesktopSettings.h"

#include <cstring>

namespace orvel {

namespace {

const DBusObject kPortal{"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                         "org.freedesktop.portal.Settings"};
constexpr const char* kReadOne = "ReadOne";
// Portals before version 2 have only Read, whose answer is wrapped in one more variant.
constexpr const char* kRead = "Read";
constexpr const char* kSettingChanged = "SettingChanged";
constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kKey = "color-scheme";
constexpr const char* kUnknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";

// The portal's number: 1 prefers dark, 2 prefers light, anything else says nothing.
ColorScheme schemeOf(std::uint32_t value) {
    switch (value) {
        case 1:
            return ColorScheme::dark;
        case 2:
            return ColorScheme::light;
        default:
            return ColorScheme::unknown;
    }
}

// Reads the unsigned number inside however many variants wrap it; nothing for anything else.
std::optional<std::uint32_t> unwrapNumber(sd_bus_message* m) {
    int depth = 0;
    std::optional<std::uint32_t> out;
    for (;;) {
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_peek_type(m, &type, &contents) <= 0) {
            break;
        }
        if (type == 'v' && contents != nullptr) {
            if (sd_bus_message_enter_container(m, 'v', contents) < 0) {
                break;
            }
            ++depth;
            continue;
        }
        std::uint32_t value = 0;
        if (type == 'u' && sd_bus_message_read_basic(m, 'u', &value) >= 0) {
            out = value;
        }
        break;
    }
    while (depth-- > 0) {
        (void)sd_bus_message_exit_container(m);
    }
    return out;
}

}  // namespace

PortalDesktopSettings::PortalDesktopSettings(std::shared_ptr<DBusConnection> sessionBus)
    : bus_(std::move(sessionBus)) {
    if (!bus_) {
        return;
    }
    // Followed before it is read, so a change between the two is not lost.
    auto match = bus_->matchSignal(
        nullptr, kPortal.path, kPortal.interface, kSettingChanged, [this](sd_bus_message* m) {
            const char* space = nullptr;
            const char* key = nullptr;
            if (sd_bus_message_read(m, "ss", &space, &key) < 0 || std::strcmp(space, kNamespace) ||
                std::strcmp(key, kKey)) {
                return;
            }
            if (auto value = unwrapNumber(m)) {
                reading_.reset();
                set(schemeOf(*value));
            }
        });
    if (match) {
        changes_ = std::move(match.value());
    } else {
        log_.notice("The desktop's colour scheme will not be followed: " + match.error().message);
    }
    read(kReadOne);
}

void PortalDesktopSettings::read(const char* method) {
    auto call = bus_->call(
        kPortal, method,
        [](sd_bus_message* m) { return sd_bus_message_append(m, "ss", kNamespace, kKey); },
        [this, method](sd_bus_message* reply) { take(reply, method); });
    if (call) {
        reading_ = std::move(call.value());
    } else {
        log_.notice("Could not ask the desktop for its colour scheme: " + call.error().message);
    }
}

void PortalDesktopSettings::take(sd_bus_message* reply, const char* method) {
    if (auto error = DBusConnection::errorOf(reply)) {
        if (method == kReadOne && DBusConnection::errorName(reply) == kUnknownMethod) {
            read(kRead);
            return;
        }
        log_.info("The desktop did not tell its colour scheme (" + *error + ").");
        return;
    }
    if (auto value = unwrapNumber(reply)) {
        set(schemeOf(*value));
    } else {
        log_.info("The desktop's colour scheme came as something other than a number.");
    }
}

void PortalDesktopSettings::set(ColorScheme scheme) {
    if (scheme != scheme_) {
        scheme_ = scheme;
        colorSchemeChanged.send(scheme);
    }
}

}  // namespace orvel
