#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/RunLoop.h"

namespace orvel {

class Bluetooth;
class DriveKeepAlive;
class InputBlocker;
class LoginItems;
class Network;
class NetworkTriggerSource;
class Notifications;
class OrvelController;
class Permissions;
class TriggerEngine;
struct TriggerRule;
class Volumes;
class Workspace;

// Probes of the permissions and resources the optional features need beyond input blocking
// (Bluetooth, Location, notifications, network shares and removable drives), openers of the
// desktop's privacy settings, the Location help of the Network rules editor, and the four
// sections the self-test appends (PERMISSIONS, TRIGGERS, DRIVES, SESSION). Main thread only. The
// notification and volume probes turn the main loop modally for at most 1.0 s and 2.0 s; a probe
// asked again while it waits answers as if unanswered, without waiting.
class PermissionAudit {
  public:
    struct Neighbours {
        Bluetooth& bluetooth;
        Network& network;
        Notifications& notifications;
        Volumes& volumes;
        Workspace& workspace;
        Permissions& permissions;
        LoginItems& loginItems;
        NetworkTriggerSource& networkSource;
        const TriggerEngine& engine;
        // Through an accessor: the keep-alive starts scanning when it is built.
        std::function<const DriveKeepAlive&()> drives;
        const OrvelController& controller;
        InputBlocker& blocker;
    };

    explicit PermissionAudit(Neighbours neighbours);
    PermissionAudit(const PermissionAudit&) = delete;
    PermissionAudit& operator=(const PermissionAudit&) = delete;

    // A volume probe's answer; a probe not made yet is an absent one.
    struct Probe {
        enum class Kind { nothingMounted, granted, denied, timedOut };
        Kind kind = Kind::timedOut;
        std::string text;  // nothingMounted only: what to show
        bool operator==(const Probe&) const = default;
    };
    struct NotificationStatus {
        std::optional<bool> granted;
        std::string text;
        bool operator==(const NotificationStatus&) const = default;
    };

    static constexpr double kNotificationWait = 1.0;
    static constexpr double kVolumeWait = 2.0;
    static constexpr double kLocationPromptWait = 2.0;

    // The English status word of a Bluetooth or Location raw value (0 … 3, else "Unknown").
    static std::string statusWord(int raw);
    std::string bluetoothStatusText();
    std::string locationStatusText();
    NotificationStatus notificationStatus();
    // The first browsable network share (true) or removable drive (false), listed on a thread
    // of its own; timedOut when the listing has not answered within 2.0 s.
    Probe probeVolumes(bool network);
    static std::string volumeStatusText(const std::optional<Probe>& probe);
    // The desktop's settings at the anchor's panel, else the guidance page, else a log line.
    void openPrivacySettings(std::string_view anchor);
    // Asks for Location, then explains that the WiFi name needs none (NetworkManager gives it)
    // when it was decided before or no answer came.
    void requestLocation();
    void showLocationHelp(bool decided);
    // PERMISSIONS, TRIGGERS, DRIVES and SESSION, one empty line between sections.
    std::string reportSections();

  private:
    bool holdsForReport(const TriggerRule& rule);
    // The report's sections, each after an empty line but the first.
    void addPermissionLines(std::vector<std::string>& lines);
    void addTriggerLines(std::vector<std::string>& lines);
    void addDriveLines(std::vector<std::string>& lines);
    void addSessionLines(std::vector<std::string>& lines);

    Neighbours n_;
    // The Location prompt's follow-up while it waits.
    Timer locationCheck_;
};

}  // namespace orvel
