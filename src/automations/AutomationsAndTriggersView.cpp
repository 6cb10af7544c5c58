#include "automations/AutomationsAndTriggersView.h"

#include <array>
#include <string>

#include "automations/AppsSettingsView.h"
#include "automations/BatteryPowerSettingsView.h"
#include "automations/BluetoothSettingsView.h"
#include "automations/NetworkSettingsView.h"
#include "automations/ScheduleSettingsView.h"
#include "automations/TriggersSettingsView.h"
#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "platform/Platform.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"
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
                                                       PageMaker makePage)
    : subTab_(std::move(subTab)),
      makePage_(std::move(makePage)),
      prefs_(Preferences::shared()),
      storedSubTab_(Platform::current().userDefaults(), {kSubTabKey}) {}

std::vector<ObservableObject*> AutomationsAndTriggersView::observedObjects() {
    return {&prefs_, &storedSubTab_};
}

std::int64_t AutomationsAndTriggersView::shownTag(std::int64_t stored) {
    return stored >= kTriggers && stored <= kApps ? stored : kBattery;
}

std::shared_ptr<ViewComponent> AutomationsAndTriggersView::subTabPage(std::int64_t tag) {
    switch (tag) {
        case kTriggers:
            return std::make_shared<TriggersSettingsView>(TriggerEngine::shared(),
                                                          ActivityLog::shared());
        case kBluetooth:
            return std::make_shared<BluetoothSettingsView>();
        case kNetwork:
            return std::make_shared<NetworkSettingsView>(makePermissionTab());
        case kSchedule:
            return std::make_shared<ScheduleSettingsView>(TriggerEngine::shared(),
                                                          WakeHelperClient::shared());
        case kApps:
            return std::make_shared<AppsSettingsView>(TriggerEngine::shared(),
                                                      OrvelController::shared());
        default:
            return std::make_shared<BatteryPowerSettingsView>(Preferences::shared(),
                                                              PowerTriggerCenter::shared());
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
                                        "the Mac sleeps, so there is nothing to re-apply.")}),
                            Toggle("Notify me when a timed session ends",
                                   settingBinding(prefs_.notifyOnEnd)),
                        })})
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
