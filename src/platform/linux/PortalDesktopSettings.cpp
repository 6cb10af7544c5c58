#include "platform/linux/PortalDesktopSettings.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "foundation/FileIO.h"

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

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool endsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// One settings.ini's word: nothing when it has neither key (or is not there).
std::optional<ColorScheme> schemeOfGtkFile(const std::string& path) {
    auto read = readFileIfPresent(path, 64 * 1024);
    if (!read || !read.value()) {
        return std::nullopt;
    }
    std::istringstream lines(std::string(read.value()->begin(), read.value()->end()));
    std::optional<bool> preferDark;
    std::optional<std::string> theme;
    bool inSettings = false;
    for (std::string line; std::getline(lines, line);) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            inSettings = line == "[Settings]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inSettings || equals == std::string::npos) {
            continue;
        }
        const std::string key = trimmed(std::string_view(line).substr(0, equals));
        const std::string value = lowered(trimmed(std::string_view(line).substr(equals + 1)));
        if (key == "gtk-application-prefer-dark-theme") {
            preferDark = value == "1" || value == "true";
        } else if (key == "gtk-theme-name" && !value.empty()) {
            theme = value;
        }
    }
    if (preferDark.value_or(false) ||
        (theme && (endsWith(*theme, "-dark") || endsWith(*theme, ":dark")))) {
        return ColorScheme::dark;
    }
    if (preferDark || theme) {
        return ColorScheme::light;
    }
    return std::nullopt;
}

}  // namespace

ColorScheme PortalDesktopSettings::gtkColorScheme(const std::string& configHome) {
    if (configHome.empty()) {
        return ColorScheme::unknown;
    }
    for (const char* version : {"gtk-3.0", "gtk-4.0"}) {
        if (auto scheme = schemeOfGtkFile(configHome + "/" + version + "/settings.ini")) {
            return *scheme;
        }
    }
    return ColorScheme::unknown;
}

PortalDesktopSettings::PortalDesktopSettings(std::shared_ptr<DBusConnection> sessionBus,
                                             std::string configHome)
    : bus_(std::move(sessionBus)), configHome_(std::move(configHome)) {
    if (!bus_) {
        setOrFallBack(ColorScheme::unknown);
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
                setOrFallBack(schemeOf(*value));
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
        setOrFallBack(ColorScheme::unknown);
    }
}

void PortalDesktopSettings::take(sd_bus_message* reply, const char* method) {
    if (auto error = DBusConnection::errorOf(reply)) {
        if (method == kReadOne && DBusConnection::errorName(reply) == kUnknownMethod) {
            read(kRead);
            return;
        }
        log_.info("The desktop did not tell its colour scheme (" + *error + ").");
        setOrFallBack(ColorScheme::unknown);
        return;
    }
    if (auto value = unwrapNumber(reply)) {
        setOrFallBack(schemeOf(*value));
    } else {
        log_.info("The desktop's colour scheme came as something other than a number.");
        setOrFallBack(ColorScheme::unknown);
    }
}

void PortalDesktopSettings::setOrFallBack(ColorScheme fromPortal) {
    set(fromPortal != ColorScheme::unknown ? fromPortal : gtkColorScheme(configHome_));
}

void PortalDesktopSettings::set(ColorScheme scheme) {
    if (scheme != scheme_) {
        scheme_ = scheme;
        colorSchemeChanged.send(scheme);
    }
}

}  // namespace orvel
