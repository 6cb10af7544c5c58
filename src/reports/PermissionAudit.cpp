#include "reports/PermissionAudit.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "core/OrvelController.h"
#include "devices/InputBlocker.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "platform/Bluetooth.h"
#include "platform/LoginItems.h"
#include "platform/Network.h"
#include "platform/Notifications.h"
#include "platform/Permissions.h"
#include "platform/Volumes.h"
#include "platform/Workspace.h"
#include "reports/DiagnosticReport.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "ui/Host.h"

namespace orvel {

namespace {

constexpr const char* kLocationAnchor = "Privacy_LocationServices";

// An answer that may come from another thread, late or never: whoever writes it last finds it
// alive, since the writer holds it too.
template <typename T>
struct AnswerSlot {
    std::mutex mutex;
    std::optional<T> value;

    void set(T answer) {
        {
            std::lock_guard lock(mutex);
            value = std::move(answer);
        }
        RunLoop::main().async([] {});  // wakes a modal wait
    }
    std::optional<T> get() {
        std::lock_guard lock(mutex);
        return value;
    }
};

std::string lineWithMark(std::optional<bool> verdict, std::string_view title,
                         std::string_view detail) {
    const char* mark = !verdict ? " \u2014  " : (*verdict ? "PASS" : "FAIL");
    return "  [" + std::string(mark) + "] " + std::string(title) + " \u2014 " + std::string(detail);
}

}  // namespace

PermissionAudit::PermissionAudit(Neighbours neighbours) : n_(std::move(neighbours)) {}

bool PermissionAudit::holdsForReport(const TriggerRule& rule) {
    if (!rule.enabled || rule.unavailableHere || rule.onAppear != TriggerAction::startSession) {
        return false;
    }
    if (rule.source == TriggerSource::bluetooth &&
        n_.bluetooth.authorization() != BluetoothAuthorization::allowedAlways) {
        return false;
    }
    return n_.engine.standing(rule) == TriggerEngine::Standing::holding;
}

std::string PermissionAudit::statusWord(int raw) {
    switch (raw) {
        case 0:
            return "Not granted";
        case 1:
            return "Restricted";
        case 2:
            return "Denied";
        case 3:
            return "Granted";
        default:
            return "Unknown";
    }
}

std::string PermissionAudit::bluetoothStatusText() {
    return localized(statusWord(static_cast<int>(n_.bluetooth.authorization())));
}

std::string PermissionAudit::locationStatusText() {
    return localized(statusWord(static_cast<int>(n_.network.locationAuthorization())));
}

PermissionAudit::NotificationStatus PermissionAudit::notificationStatus() {
    static bool waiting = false;
    NotificationStatus status{std::nullopt, "Unknown"};
    if (waiting) {
        return status;
    }
    waiting = true;
    auto slot = std::make_shared<AnswerSlot<NotificationAuthorization>>();
    n_.notifications.authorizationStatus(
        [slot](NotificationAuthorization answer) { slot->set(answer); });
    runModalFor(kNotificationWait, [&] { return slot->get().has_value(); });
    waiting = false;
    if (const auto answer = slot->get()) {
        switch (*answer) {
            case NotificationAuthorization::authorized:
            case NotificationAuthorization::provisional:
                return {true, "Granted"};
            case NotificationAuthorization::notDetermined:
                return {std::nullopt, "Not asked yet"};
            case NotificationAuthorization::denied:
                return {false, "Denied"};
            case NotificationAuthorization::unknown:
                break;
        }
    }
    return status;
}

PermissionAudit::Probe PermissionAudit::probeVolumes(bool network) {
    using Kind = Probe::Kind;
    auto listed = n_.volumes.mountedVolumes();
    if (!listed) {
        Logger("diagnostics").notice("Volumes for the permission probe: " + listed.error().message);
    }
    const std::vector<VolumeInfo> volumes =
        listed ? std::move(listed.value()) : std::vector<VolumeInfo>{};
    const VolumeInfo* chosen = nullptr;
    for (const VolumeInfo& v : volumes) {
        if (v.browsable != true) {
            continue;
        }
        const bool matches = network ? v.local == false : (v.local != false && v.internal == false);
        if (matches) {
            chosen = &v;
            break;
        }
    }
    if (chosen == nullptr) {
        return {Kind::nothingMounted, network ? "No shares mounted" : "No external drives"};
    }
    static bool waiting = false;
    if (waiting) {
        return {Kind::timedOut, {}};
    }
    waiting = true;
    auto slot = std::make_shared<AnswerSlot<bool>>();
    n_.volumes.listDirectory(chosen->path, [slot](bool ok) { slot->set(ok); });
    runModalFor(kVolumeWait, [&] { return slot->get().has_value(); });
    waiting = false;
    if (const auto answer = slot->get()) {
        return {*answer ? Kind::granted : Kind::denied, {}};
    }
    return {Kind::timedOut, {}};
}

std::string PermissionAudit::volumeStatusText(const std::optional<Probe>& probe) {
    if (!probe) {
        return localized("Not checked");
    }
    switch (probe->kind) {
        case Probe::Kind::granted:
            return localized("Granted");
        case Probe::Kind::denied:
            return localized("Not granted");
        case Probe::Kind::timedOut:
            return localized("Volume not responding");
        case Probe::Kind::nothingMounted:
            break;
    }
    return probe->text;
}

void PermissionAudit::openPrivacySettings(std::string_view anchor) {
    Workspace& workspace = n_.workspace;
    auto panel = workspace.openSettingsPanel(anchor);
    if (panel) {
        return;
    }
    std::string why = panel.error().message;
    if (auto guide = n_.permissions.settingsURL(false)) {
        auto opened = workspace.openURL(*guide);
        if (opened) {
            return;
        }
        why += " " + opened.error().message;
    }
    Logger("diagnostics")
        .error("Cannot open your desktop's settings for " + std::string(anchor) + ": " + why);
}

void PermissionAudit::requestLocation() {
    if (n_.network.locationAuthorization() != LocationAuthorization::notDetermined) {
        showLocationHelp(true);
        return;
    }
    n_.networkSource.requestLocationAuthorization();
    // The timer is this audit's own, so the callback never outlives it.
    locationCheck_ = RunLoop::main().after(
        kLocationPromptWait,
        [this] {
            if (n_.network.locationAuthorization() == LocationAuthorization::notDetermined) {
                showLocationHelp(false);
            }
        },
        TimerMode::Common);
}

void PermissionAudit::showLocationHelp(bool decided) {
    ui::AlertContent content;
    content.messageText = localized("The WiFi name needs no permission");
    content.informativeText =
        decided ? localized(
                      "Linux asks no permission for the name of the WiFi network: NetworkManager "
                      "gives it to the programs of your session. When Orvel cannot read it, "
                      "NetworkManager is not running or does not manage the WiFi device.")
                : localized(
                      "No prompt appears on Linux: NetworkManager gives the name of the WiFi "
                      "network to the programs of your session. When Orvel still cannot read it, "
                      "NetworkManager is not running or does not manage the WiFi device.");
    content.buttons = {localized("Open Settings"), localized("Cancel")};
    if (ui::UiHost::current().makeAlert(std::move(content))->runModal() == 1000) {
        openPrivacySettings(kLocationAnchor);
    }
}

std::string PermissionAudit::reportSections() {
    const EnglishTexts english;  // read by support
    std::vector<std::string> lines;
    addPermissionLines(lines);
    addTriggerLines(lines);
    addDriveLines(lines);
    addSessionLines(lines);
    return DiagnosticReport::joined(lines);
}

void PermissionAudit::addPermissionLines(std::vector<std::string>& lines) {
    lines.push_back(DiagnosticReport::sectionHeader("PERMISSIONS"));
    n_.blocker.permissionStatus();
    const auto cached = n_.blocker.cachedPermissions();
    const char* notGranted = "not granted \u00B7 built-in keyboard/trackpad blocking unavailable";
    const bool inputMonitoring = cached && cached->inputMonitoring;
    const bool accessibility = cached && cached->accessibility;
    lines.push_back(lineWithMark(inputMonitoring, "Input device access",
                                 inputMonitoring ? "Granted" : notGranted));
    lines.push_back(lineWithMark(accessibility, "Input device control",
                                 accessibility ? "Granted" : notGranted));
    const int bluetooth = static_cast<int>(n_.bluetooth.authorization());
    lines.push_back(
        lineWithMark(bluetooth == 3, "Bluetooth",
                     statusWord(bluetooth) + " \u00B7 needed only for Bluetooth rules"));
    const int location = static_cast<int>(n_.network.locationAuthorization());
    lines.push_back(
        lineWithMark(location == 3, "WiFi name",
                     statusWord(location) +
                         " \u00B7 from NetworkManager \u00B7 needed only for WiFi SSID rules"));
    const NotificationStatus notifications = notificationStatus();
    lines.push_back(lineWithMark(notifications.granted, "Notifications",
                                 notifications.text + " \u00B7 session-end and trigger alerts"));
    const Probe shares = probeVolumes(true);
    std::optional<bool> sharesVerdict;
    std::string sharesText;
    switch (shares.kind) {
        case Probe::Kind::granted:
            sharesVerdict = true;
            sharesText = "Granted";
            break;
        case Probe::Kind::denied:
            sharesVerdict = false;
            sharesText = "Not granted";
            break;
        case Probe::Kind::timedOut:
            sharesVerdict = false;
            sharesText = "Volume not responding";
            break;
        case Probe::Kind::nothingMounted:
            sharesText = shares.text;
            break;
    }
    lines.push_back(lineWithMark(sharesVerdict, "Network Volumes",
                                 sharesText + " \u00B7 network-share keep-alive"));
    lines.push_back(lineWithMark(
        std::nullopt, "Removable Volumes",
        "no status API \u2014 Linux asks nothing; the drive's file permissions decide"));
}

void PermissionAudit::addTriggerLines(std::vector<std::string>& lines) {
    const TriggerEngine& engine = n_.engine;
    lines.emplace_back();
    lines.push_back(DiagnosticReport::sectionHeader("TRIGGERS"));
    std::string master = "  master ";
    master += engine.masterEnabled() ? "on" : "off";
    master += " \u00B7 ";
    master += !engine.masterEnabled() ? "idle \u2014 master off"
                                      : (engine.isPaused() ? "PAUSED" : "live");
    master += " \u00B7 priority ";
    bool first = true;
    for (const TriggerSource family : engine.priority()) {
        master += first ? "" : " \u203A ";
        first = false;
        master += displayName(family);
    }
    lines.push_back(std::move(master));
    int bluetoothRules = 0;
    int wifiRules = 0;
    int networkRules = 0;
    int unavailable = 0;
    std::string holding;
    // Rules that look armed but cannot start a session now, by what keeps them, in rule order.
    std::vector<std::pair<std::string, std::string>> notFiring;
    for (const TriggerRule& rule : engine.rules()) {
        bluetoothRules += rule.source == TriggerSource::bluetooth;
        wifiRules += rule.source == TriggerSource::wifiSSID;
        networkRules += rule.source == TriggerSource::network;
        unavailable += rule.unavailableHere;
        if (holdsForReport(rule)) {
            holding += (holding.empty() ? "" : ", ") + rule.name;
        }
        const std::string note = rule.enabled && !rule.unavailableHere
                                     ? TriggerEngine::standingNote(engine.standing(rule))
                                     : std::string();
        if (note.empty()) {
            continue;
        }
        auto same = std::find_if(notFiring.begin(), notFiring.end(),
                                 [&](const auto& entry) { return entry.first == note; });
        if (same == notFiring.end()) {
            notFiring.emplace_back(note, rule.name);
        } else {
            same->second += ", " + rule.name;
        }
    }
    lines.push_back("  rules: Bluetooth " + std::to_string(bluetoothRules) + " \u00B7 WiFi " +
                    std::to_string(wifiRules) + " \u00B7 Network " + std::to_string(networkRules) +
                    " \u00B7 unavailable here " + std::to_string(unavailable));
    lines.push_back("  holding now: " + (holding.empty() ? std::string("none") : holding));
    for (const auto& [note, names] : notFiring) {
        lines.push_back("  " + note + ": " + names);
    }
}

void PermissionAudit::addDriveLines(std::vector<std::string>& lines) {
    const DriveKeepAlive& keeper = n_.drives();
    lines.emplace_back();
    lines.push_back(DiagnosticReport::sectionHeader("DRIVES"));
    const auto& drives = keeper.drives();
    std::size_t enabled = 0;
    for (const auto& drive : drives) {
        enabled += drive.enabled;
    }
    lines.push_back("  keep-alive on " + std::to_string(enabled) + " of " +
                    std::to_string(drives.size()) + " volumes \u00B7 global interval " +
                    std::to_string(keeper.globalIntervalSeconds()) + "s");
    const Date now = RunLoop::main().now();
    for (const auto& drive : drives) {
        if (!drive.enabled) {
            continue;
        }
        std::string line = "  \u00B7 " + drive.name + ": ";
        line += drive.lifecycle == DriveKeepAlive::Lifecycle::always ? "always" : "with session";
        line += " \u00B7 ";
        if (drive.lastRead) {
            const auto seconds = static_cast<std::int64_t>(now.timeIntervalSince(*drive.lastRead));
            line += "last read " + std::to_string(seconds) + "s ago";
        } else {
            line += "no read yet";
        }
        if (drive.offline) {
            line += " \u00B7 OFFLINE";
        }
        lines.push_back(std::move(line));
    }
}

void PermissionAudit::addSessionLines(std::vector<std::string>& lines) {
    const OrvelController& controller = n_.controller;
    lines.emplace_back();
    lines.push_back(DiagnosticReport::sectionHeader("SESSION"));
    std::string session = "  ";
    session += controller.isActive() ? "active" : "inactive";
    session += " \u00B7 engine " + controller.engineName();
    if (const auto& rule = controller.startedByRuleName()) {
        session += " \u00B7 started by " + *rule;
    }
    lines.push_back(std::move(session));
    lines.push_back(
        std::string("  start at login ") +
        (n_.loginItems.status() == login_item_status::kEnabled ? "enabled" : "disabled"));
}

}  // namespace orvel
