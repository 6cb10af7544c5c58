#include "settings/DrivesSettingsView.h"

#include <cmath>

#include "automations/PermissionStatusRow.h"
#include "core/OrvelController.h"
#include "foundation/Localization.h"
#include "foundation/RawEnum.h"
#include "reports/ConflictNotes.h"

namespace orvel {

namespace {

using Drive = DriveKeepAlive::Drive;

struct Choice {
    const char* title;
    std::int64_t seconds;
};

constexpr Choice kGlobalChoices[] = {{textKey("Every 60 seconds"), 60},
                                     {textKey("Every 90 seconds"), 90},
                                     {textKey("Every 3 minutes"), 180},
                                     {textKey("Every 5 minutes"), 300},
                                     {textKey("Every 10 minutes"), 600}};
// No five-minute choice per drive; 0 follows the global interval.
constexpr Choice kDriveChoices[] = {{textKey("Global"), 0},
                                    {textKey("Every 60 seconds"), 60},
                                    {textKey("Every 90 seconds"), 90},
                                    {textKey("Every 3 minutes"), 180},
                                    {textKey("Every 10 minutes"), 600}};

template <std::size_t N>
std::vector<ui::View> options(const Choice (&choices)[N]) {
    std::vector<ui::View> views;
    for (const auto& choice : choices) {
        views.push_back(ui::Text(choice.title).tag(std::to_string(choice.seconds)));
    }
    return views;
}

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

ui::View caption(std::string key) {
    using namespace ui;
    return Text(std::move(key))
        .font(Font::style(TextStyle::caption))
        .foregroundStyle(Hierarchy::secondary);
}

VolumeAccess withDefaults(VolumeAccess access, PermissionAudit& audit) {
    if (!access.probe) {
        access.probe = [&audit] { return audit.probeVolumes(true); };
    }
    if (!access.openPrivacySettings) {
        access.openPrivacySettings = [&audit](const std::string& anchor) {
            audit.openPrivacySettings(anchor);
        };
    }
    if (!access.schedule) {
        access.schedule = [](std::function<void()> task) {
            RunLoop::main().async(std::move(task));
        };
    }
    return access;
}

// The disks that a session's disk hold cannot keep spinning, while it holds.
class UnkeptDisksNote final : public ui::ViewComponent {
  public:
    explicit UnkeptDisksNote(OrvelController& controller) : controller_(controller) {}

    ui::View body() override {
        using namespace ui;
        const auto& disks = controller_.unkeptDisks();
        if (disks.empty()) {
            return EmptyView();
        }
        std::vector<View> lines;
        for (const std::string& disk : disks) {
            lines.push_back(TextVerbatim(localizedFormat("%@ may spin down: Orvel cannot open the "
                                                         "disk, and no file on it is safe to read.",
                                                         {disk}))
                                .font(Font::style(TextStyle::caption))
                                .foregroundStyle(Color::orange())
                                .fixedSize(false, true));
        }
        return VStack(HAlign::leading, 3, std::move(lines));
    }
    std::vector<ObservableObject*> observedObjects() override { return {&controller_}; }

  private:
    OrvelController& controller_;
};

}  // namespace

DrivesSettingsView::DrivesSettingsView(DriveKeepAlive& keeper, OrvelController& controller,
                                       PermissionAudit& audit, std::set<std::string> expandedIDs,
                                       std::optional<VolumeProbe> probe, VolumeAccess access)
    : expanded(*this, std::move(expandedIDs)),
      netProbe(*this, std::move(probe)),
      keeper_(keeper),
      controller_(controller),
      access_(withDefaults(std::move(access), audit)) {}

std::vector<ObservableObject*> DrivesSettingsView::observedObjects() {
    return {&keeper_};
}

std::optional<std::string> DrivesSettingsView::badgeText(const Drive& drive, Date now) {
    if (drive.offline) {
        return "OFFLINE";
    }
    if (!drive.enabled || !drive.lastRead) {
        return std::nullopt;
    }
    // A read stamped in the future (the clock was set back) counts as just now.
    const double elapsed = std::max(0.0, now.timeIntervalSince(*drive.lastRead));
    return localizedFormat("READ %llds AGO", {static_cast<std::int64_t>(std::trunc(elapsed))});
}

std::string DrivesSettingsView::summary(const Drive& drive) {
    std::string text = localized(drive.isNetwork ? textKey("Network (SMB)") : textKey("Local"));
    text += " \u00b7 " + lowered(label(drive.lifecycle));
    if (drive.intervalOverride) {
        text += " \u00b7 " + localizedFormat("every %llds", {*drive.intervalOverride});
    }
    return text;
}

void DrivesSettingsView::checkAccess() {
    access_.schedule([probe = access_.probe, weakSelf = weakRef(*this), shown = shownCount_] {
        VolumeProbe result = probe();
        RunLoop::main().async([weakSelf, result, shown] {
            if (auto* self = weakSelf.get(); self && self->shownCount_ == shown) {
                self->netProbe = result;
            }
        });
    });
}

void DrivesSettingsView::pageLeft() {
    ++shownCount_;
    if (netProbe()) {
        netProbe = std::nullopt;
    }
}

ui::View DrivesSettingsView::body() {
    using namespace ui;
    Binding<std::int64_t> interval{
        [this] { return keeper_.globalIntervalSeconds(); },
        [this](const std::int64_t& seconds) { keeper_.globalIntervalSeconds = seconds; }};
    auto general = Section(
        std::nullopt,
        {Embed(std::make_shared<DiskSleepConflictNote>(keeper_, controller_)),
         Embed(std::make_shared<UnkeptDisksNote>(controller_)),
         LabeledContent(
             "Keep-alive interval",
             Picker("Keep-alive interval", intTagBinding(interval), options(kGlobalChoices))
                 .labelsHidden()
                 .frame(180)),
         caption("A single uncached 4 KB block is read from each selected drive \u2014 never a "
                 "write. Reads pause while the computer itself sleeps.")});

    std::optional<View> footer;
    if (keeper_.anyDriveEnabled()) {
        footer = Label(
                     "Per-drive keep-alive is on, so the global Prevent Disk Sleep flag has "
                     "been turned off \u2014 per-drive is replacing it.",
                     "info.circle")
                     .font(Font::style(TextStyle::caption))
                     .foregroundStyle(Color::orange());
    }
    const auto& drives = keeper_.drives();
    auto volumes = Section(Text("Volumes"),
                           {ForEach<Drive>(
                                drives, [](const Drive& drive) { return drive.id; },
                                [this](const Drive& drive) { return driveRow(drive); }),
                            Button("Rescan Volumes", [this] { rescanAction(); })},
                           footer);

    const auto& probe = netProbe();
    const bool granted = !probe || (probe->kind != VolumeProbe::Kind::denied &&
                                    probe->kind != VolumeProbe::Kind::timedOut);
    std::function<void()> enable;
    if (probe && probe->kind == VolumeProbe::Kind::denied && access_.openPrivacySettings) {
        enable = [open = access_.openPrivacySettings] { open("Privacy_FilesAndFolders"); };
    }
    auto permissions = Section(
        Text("Permissions"),
        {PermissionStatusRow(localized("Network Volumes"), PermissionAudit::volumeStatusText(probe),
                             granted, std::move(enable)),
         HStack(VAlign::center, std::nullopt,
                {caption("Checking reads one block from a mounted share with your own file "
                         "permissions; Linux asks nothing more. A refusal means the share denies "
                         "you reading. External drives need no row here \u2014 they are read with "
                         "the same file permissions, and nothing is asked first.")
                     .fixedSize(false, true),
                 Spacer(), Button(probe ? "Check Again" : "Check Access", [this] {
                               checkAccess();
                           }).controlSize(ControlSize::small)})});

    // A check tells of the moment it was made: the page shown again starts unchecked, and a
    // check still under way when it went answers nothing.
    return Form({general, volumes, permissions}).onDisappear([weakSelf = weakRef(*this)] {
        if (auto* self = weakSelf.get()) {
            self->pageLeft();
        }
    });
}

ui::View DrivesSettingsView::driveRow(const Drive& drive) {
    using namespace ui;
    const bool open = expanded().contains(drive.id);
    std::vector<View> titleLine = {
        TextVerbatim(drive.name).font(Font::system(13, FontWeight::semibold))};
    if (auto badge = badgeText(drive, RunLoop::main().now())) {
        const bool offline = drive.offline;
        titleLine.push_back(TextVerbatim(*badge)
                                .font(Font::system(9, FontWeight::bold))
                                .foregroundStyle(offline ? Color::orange() : Color::green()));
    }
    Binding<bool> enabled{[drive] { return drive.enabled; },
                          [this, drive](const bool& on) {
                              Drive copy = drive;
                              copy.enabled = on;
                              keeper_.update(copy);
                          }};
    auto header =
        HStack(VAlign::center, 10,
               {Image("chevron.right", open ? 90 : 0)
                    .font(Font::system(9, FontWeight::semibold))
                    .foregroundStyle(Hierarchy::tertiary),
                VStack(HAlign::leading, std::nullopt,
                       {HStack(VAlign::center, 6, std::move(titleLine)),
                        TextVerbatim(summary(drive))
                            .font(Font::system(10.5))
                            .foregroundStyle(Hierarchy::secondary)}),
                Spacer(),
                Toggle(TextVerbatim(drive.name), enabled)
                    .labelsHidden()
                    .accessibilityLabelVerbatim(localizedFormat("Keep %@ alive", {drive.name}))
                    .toggleStyle(ToggleStyle::switchStyle)
                    .controlSize(ControlSize::small)})
            .accessibilityLabel(drive.name)
            .onTapGesture([this, id = drive.id] {
                auto ids = expanded();
                if (!ids.erase(id)) {
                    ids.insert(id);
                }
                expanded = std::move(ids);
            });
    std::vector<View> rows = {header};
    if (open) {
        rows.push_back(detailPanel(drive));
    }
    return VStack(HAlign::leading, std::nullopt, std::move(rows))
        .padding(kEdgeTop | kEdgeBottom, 3);
}

ui::View DrivesSettingsView::detailPanel(const Drive& drive) {
    using namespace ui;
    const auto remountLimit = keeper_.remountUnavailable();
    std::vector<View> lifecycles;
    for (const auto& c : EnumTraits<DriveKeepAlive::Lifecycle>::cases) {
        lifecycles.push_back(Text(std::string(c.label)).tag(std::string(c.raw)));
    }
    Binding<std::string> lifecycle{[drive] { return std::string(rawValue(drive.lifecycle)); },
                                   [this, drive](const std::string& raw) {
                                       if (auto value = fromRaw<DriveKeepAlive::Lifecycle>(raw)) {
                                           Drive copy = drive;
                                           copy.lifecycle = *value;
                                           keeper_.update(copy);
                                       }
                                   }};
    Binding<std::int64_t> interval{[drive] { return drive.intervalOverride.value_or(0); },
                                   [this, drive](const std::int64_t& seconds) {
                                       Drive copy = drive;
                                       copy.intervalOverride =
                                           seconds == 0 ? std::nullopt
                                                        : std::optional<std::int64_t>(seconds);
                                       keeper_.update(copy);
                                   }};
    return VStack(
               HAlign::leading, 6,
               {LabeledContent("Keep alive", Picker("Keep alive", lifecycle, std::move(lifecycles))
                                                 .labelsHidden()
                                                 .frame(190)),
                LabeledContent("Interval",
                               Picker("Interval", intTagBinding(interval), options(kDriveChoices))
                                   .labelsHidden()
                                   .frame(180)),
                HStack({caption(!drive.isNetwork ? textKey("Local volume")
                                : remountLimit   ? *remountLimit
                                                 : textKey("Network share \u00b7 unmounts are "
                                                             "remounted automatically")),
                        Button("Read now", [this, id = drive.id] { keeper_.readNow(id); })
                            .controlSize(ControlSize::small)})})
        .padding(EdgeInsets{6, 19, 0, 0});
}

}  // namespace orvel
