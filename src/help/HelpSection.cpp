#include "help/HelpSection.h"

#include "foundation/Localization.h"
#include "foundation/TextCompare.h"

namespace orvel {

namespace {

struct PageWords {
    std::string_view symbol;
    std::string_view keywords;
};

// In the order of the cases. The keywords stay English: they are never shown.
constexpr std::array<PageWords, 16> kPages{{
    {"cup.and.saucer",
     "overview caffeinate inhibitor locks logind screen saver engine native compatibility system "
     "tray task bar cup icon session"},
    {"menubar.arrow.down.rectangle",
     "panel popover switches duration command preview started by pause triggers settings help "
     "about quit task bar ctrl+, ctrl+q feedback text size larger smaller percent bold opaque "
     "translucent "
     "appearance"},
    {"moon.zzz",
     "prevent display sleep idle sleep system sleep disk sleep declare user active -d -i -m -s -u "
     "flags ac power screen saver caffeinate"},
    {"keyboard",
     "disable built-in keyboard trackpad touchpad turn off backlight darken display brightness "
     "input device access input device control udev evdev external bluetooth usb safety release "
     "30-second confirmation scan devices desktop computers insufficient privileges"},
    {"timer",
     "indefinitely 30 minutes 1 2 4 8 hours custom timer countdown until tomorrow default "
     "duration"},
    {"bolt.circle",
     "bluetooth wifi ssid network gateway vpn cidr interface rules priority shield shielded "
     "re-arm edge-triggered pause activity log export import encrypt passphrase delete all rules "
     "reset all settings clear grants checkbox test button ac only unavailable badge schedule "
     "apps window one-shot one time repeating days of week weekdays wake the computer wake helper "
     "administrator password lock password screen fired badge missed grace launch quit background "
     "processes polling battery ups safety always first pinned change app until an app quits "
     "make this a rule"},
    {"externaldrive",
     "drive keep-alive nas network share smb read-only f_nocache interval spin down unmount "
     "remount prevent disk sleep -m volumes always while orvel"},
    {"battery.75",
     "battery ups power saver low power mode threshold percent floor plugged into power source ac "
     "charger end session resume simulate power events internal battery always first pinned "
     "safety priority not ranked"},
    {"lock.shield",
     "input device access input device control udev rule input group pkexec bluetooth grants "
     "enable not granted prompt first-run explanation launch quit what you lose without wake "
     "helper administrator password daemon autostart notifications"},
    {"terminal",
     "terminal caffeinate systemd-inhibit inhibitor locks journalctl pgrep xset udev rule "
     "input-access pkexec defaults.json commands equivalents"},
    {"arrow.clockwise",
     "sleep wake restart reboot login launch at login resume re-assert timed indefinite survive "
     "frozen countdown reset all settings factory"},
    {"command", "keyboard shortcuts global hotkey ctrl alt meta super comma q toggle x11 key grab"},
    {"wrench.and.screwdriver",
     "diagnostics self-test copy report obfuscate stale grant insufficient privileges not granted "
     "udev rule input group reset all settings clear grants checkbox password dialog won't start "
     "cursor moves jitter gestures backlight flicker screen capture snagit display switch enable "
     "button does nothing still sleeps systemd-inhibit journalctl feedback"},
    {"figure.stand",
     "orca accessibility ada screen reader keyboard tab focus ring high contrast transparency "
     "color text size scaling zoom 50 200 percent 90 second confirm reduce "
     "increase wcag"},
    {"globe",
     "language localization spanish french german portuguese italian japanese chinese swedish "
     "norwegian danish finnish dutch translate translation region english fallback locale lang "
     "corrections"},
    // The components and licences the Acknowledgments page lists (resources/licenses).
    {"text.badge.checkmark",
     "qt 6 openssl 3 nlohmann-json libsystemd icu libxcb libx11 libxi wayland lgpl-3.0 apache-2.0 "
     "mit lgpl-2.1 license open source acknowledgments credits eula"},
}};

const PageWords& page(HelpSection section) {
    return kPages[static_cast<std::size_t>(section)];
}

}  // namespace

std::string title(HelpSection section) {
    return label(section);
}

std::string_view symbol(HelpSection section) {
    return page(section).symbol;
}

std::string_view keywords(HelpSection section) {
    return page(section).keywords;
}

std::vector<HelpSection> filterHelpSections(std::string_view query) {
    const std::string trimmed = trimmingHorizontalWhitespace(query);
    std::vector<HelpSection> found;
    for (const HelpSection section : allCases<HelpSection>()) {
        if (trimmed.empty() || localizedCaseInsensitiveContains(title(section), trimmed) ||
            localizedCaseInsensitiveContains(keywords(section), trimmed)) {
            found.push_back(section);
        }
    }
    return found;
}

std::string helpSearchEmptyText(std::string_view query) {
    return localizedFormat("No pages mention “%@”", {std::string(query)});
}

}  // namespace orvel
