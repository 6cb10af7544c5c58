#include "automations/AutomationsAndTriggersView.h"

#include <array>
#include <string>

#include "automations/AppsSettingsView.h"
#include "automations/BatteryPowerSettingsView.h"
#include "automations/BluetoothSettingsView.h"
#include "automations/NetworkSettingsView.h"
#include "automations/ScheduleSettingsView.h"
#include "automations/TriggersSettingsView.h"
#include "core/Preferences.h"
#include "ui/SettingsStyle.h"

namespace orvel {

using namespace ui;

namespace {

struct Segment {
    const char* title;
    std::int64_t tag;
    // The page's identity in the tree: a new key makes the hosts treat it as a new page.
    const char* key;
};

constexpr std::array<Segment, 6> kSegments{{
    {"Triggers", AutomationsAndTriggersView::kTriggers, "subTab.triggers"},
    {"Schedule", AutomationsAndTriggersView::kSchedule, "subTab.schedule"},
    {"Bluetooth", AutomationsAndTriggersView::kBluetooth, "subTab.bluetooth"},
    {"Network", AutomationsAndTriggersView::kNetwork, "subTab.network"},
    {"Apps", AutomationsAndTriggersView::kApps, "subTab.apps"},
    {"Battery", AutomationsAndTriggersView::kBattery, "subTab.battery"},
}};

const Segment& segmentOf(std::int64_t shownTag) {
    for (const Segment& segment : kSegments) {
        if (segment.tag == shownTag) {
            return segment;
        }
    }
    return kSegments.back();
}

// Stands in for a rule page that is not part of this build yet.
class PendingPage final : public ViewComponent {
  public:
    explicit PendingPage(std::string title) : title_(std::move(title)) {}
    View body() override {
        return VStack(HAlign::center, 8, {Spacer(), Text(title_), Spacer()})
            .frame(Frame().withMaxWidth(kInfinity).withMaxHeight(kInfinity));
    }

  private:
    std::string title_;
};

Binding<bool> settingBinding(Preferences::Setting<bool>& setting) {
    return Binding<bool>{[&setting] { return setting(); },
                         [&setting](const bool& on) { setting = on; }};
}

}  // namespace

AutomationsAndTriggersView::AutomationsAndTriggersView(Binding<std::int64_t> subTab,
                                                       const AutomationServices& services,
                                                       PageMaker makePage)
    : subTab_(std::move(subTab)),
      makePage_(makePage ? std::move(makePage)
                         : [services](std::int64_t tag) { return subTabPage(services, tag); }),
      prefs_(services.prefs),
      storedSubTab_(services.defaults, {kSubTabKey}) {}

std::vector<ObservableObject*> AutomationsAndTriggersView::observedObjects() {
    return {&prefs_, &storedSubTab_};
}

std::int64_t AutomationsAndTriggersView::shownTag(std::int64_t stored) {
    return stored >= kTriggers && stored <= kApps ? stored : kBattery;
}

std::shared_ptr<ViewComponent> AutomationsAndTriggersView::subTabPage(const AutomationServices& s,
                                                                      std::int64_t tag) {
    switch (tag) {
        case kTriggers:
            return std::make_shared<TriggersSettingsView>(s.engine, s.log, s.prefs);
        case kBluetooth:
            return std::make_shared<BluetoothSettingsView>(
                makePermissionTab(s.engine), s.bluetoothSource, s.bluetooth, s.network, s.audit);
        case kNetwork:
            return std::make_shared<NetworkSettingsView>(makePermissionTab(s.engine),
                                                         s.networkSource, s.network, s.audit);
        case kSchedule:
            return std::make_shared<ScheduleSettingsView>(s.engine, s.helper, s.prefs, s.network);
        case kApps:
            return std::make_shared<AppsSettingsView>(s.engine, s.controller, s.defaults,
                                                      s.workspace, s.network);
        default:
            return std::make_shared<BatteryPowerSettingsView>(s.prefs, s.power, s.engine,
                                                              s.powerSources);
    }
}

View AutomationsAndTriggersView::body() {
    const std::int64_t tag = shownTag(subTab_());
    if (!page_ || tag != pageTag_) {
        // The page left goes with the tree that still shows it, at the hosts' next evaluation.
        page_ = makePage_(tag);
        pageTag_ = tag;
    }
    return VStack(HAlign::center, 0,
                  {
                      automationsForm(),
                      subTabPicker(),
                      Embed(page_)
                          .id(segmentOf(tag).key)
                          .frame(Frame().withMaxWidth(kInfinity).withMaxHeight(kInfinity)),
                  });
}

View AutomationsAndTriggersView::automationsForm() {
    return Form(
               {Section(Text("Automations"),
                        {
                            VStack(HAlign::leading, 2,
                                   {Toggle("Re-apply after waking from sleep",
                                           settingBinding(prefs_.reassertOnWake)),
                                    settings_style::caption(
                                        "Applies to indefinite sessions. A timed session ends when "
                                        "the computer sleeps, so there is nothing to re-apply.")}),
                            Toggle("Notify me when a timed session ends",
                                   settingBinding(prefs_.notifyOnEnd)),
                        })})
        .scrollDisabled()
        .frame(std::nullopt, kFormHeight);
}

View AutomationsAndTriggersView::subTabPicker() {
    std::vector<View> options;
    for (const Segment& segment : kSegments) {
        options.push_back(Text(segment.title).tag(std::to_string(segment.tag)));
    }
    // A stored value no segment carries selects none.
    return Picker("", intTagBinding(subTab_), std::move(options))
        .pickerStyle(PickerStyle::segmented)
        .labelsHidden()
        .controlSize(ControlSize::small)
        .frame(Frame().withMaxWidth(kPickerMaxWidth))
        .padding(EdgeInsets{0, 20, 2, 20});
}

}  // namespace orvel
