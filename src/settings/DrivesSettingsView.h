#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "drives/DriveKeepAlive.h"
#include "foundation/WeakRef.h"
#include "reports/PermissionAudit.h"
#include "ui/ViewComponent.h"

namespace orvel {

// The result of the Files and Folders check of the first mounted network share.
using VolumeProbe = PermissionAudit::Probe;

// What the check needs of the permission audit; the real audit unless told otherwise. The
// audit's probe may wait up to 2 s on the share, turning the main loop meanwhile, so it runs
// through `schedule`, by default as a main-loop turn of its own after the press.
struct VolumeAccess {
    std::function<VolumeProbe()> probe;
    std::function<void(const std::string& anchor)> openPrivacySettings;
    std::function<void(std::function<void()>)> schedule;
};

// The Drives tab: the global keep-alive interval, one row per kept drive (switch, lifecycle,
// own interval, manual read), the rescan, and the check of access to network shares. Holds no
// copy of the drive list: each edit hands a changed copy of one drive to DriveKeepAlive::update.
class OrvelController;
class PermissionAudit;

class DrivesSettingsView final : public ui::ViewComponent, public WeakReferenceable {
  public:
    // `audit` probes the shares and opens the privacy settings unless `access` says otherwise.
    DrivesSettingsView(DriveKeepAlive& keeper, OrvelController& controller, PermissionAudit& audit,
                       std::set<std::string> expanded = {},
                       std::optional<VolumeProbe> netProbe = std::nullopt,
                       VolumeAccess access = {});

    // Drives whose detail panel is open.
    Published<std::set<std::string>> expanded;
    // The last check's result, as results arrive, while the page stays shown.
    Published<std::optional<VolumeProbe>> netProbe;

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // "Check Access" / "Check Again": one probe per press, stored in arrival order.
    void checkAccess();
    void rescanAction() { keeper_.rescan(); }

    // The badge of a drive row: "OFFLINE", "READ <n>s AGO" or nothing.
    static std::optional<std::string> badgeText(const DriveKeepAlive::Drive& drive, Date now);
    // "Local · always", "Network (SMB) · only while orvel is on · every 90s" …
    static std::string summary(const DriveKeepAlive::Drive& drive);

  private:
    ui::View driveRow(const DriveKeepAlive::Drive& drive);
    ui::View detailPanel(const DriveKeepAlive::Drive& drive);
    void pageLeft();

    DriveKeepAlive& keeper_;
    OrvelController& controller_;
    VolumeAccess access_;
    // Counts the times the page went; a check answers only the showing it was asked in.
    std::uint64_t shownCount_ = 0;
};

}  // namespace orvel
