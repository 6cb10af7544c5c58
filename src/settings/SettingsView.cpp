#include "settings/SettingsView.h"

#include <array>
#include <string>

#include "automations/AutomationsAndTriggersView.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "menubar/AppWindows.h"
#include "platform/LoginItems.h"
#include "settings/DrivesSettingsView.h"
#include "settings/TroubleshootingView.h"
#include "settings/UpdateCheckSection.h"
#include "triggers/PowerTriggerCenter.h"

namespace orvel {

using namespace ui;

namespace {

constexpr std::array<std::int64_t, 6> kTags{
    SettingsView::kGeneralTab, SettingsView::kAutomationsTab, SettingsView::kDevicesTab,
    SettingsView::kDrivesTab,  SettingsView::kAdvancedTab,    SettingsView::kTroubleshootingTab,
};

std::int64_t shownTag(std::int64_t stored) {
    for (std::int64_t tag : kTags) {
        if (tag == stored) {
            return stored;
        }
    }
    return SettingsView::kGeneralTab;
}

}  // namespace

SettingsView::SettingsView(const SettingsServices& services)
    : c_(services.controller),
      prefs_(services.prefs),
      power_(services.power),
      dev_(services.devices),
      engine_(services.automations.engine),
      backlight_(services.backlight),
      inputBlocker_(services.inputBlocker),
      display_(services.display),
      defaults_(services.defaults),
      permissions_(services.permissions),
      hotKeys_(services.hotKeys),
      loginItems_(services.loginItems),
      processes_(services.processes),
      transfer_{
          [&engine = engine_]() -> TriggerEngine& { return engine; },
          [&drives = services.drives]() -> DriveKeepAlive& { return drives; },
          [&prefs = prefs_]() -> Preferences& { return prefs; },
          [&bluetooth = services.automations.bluetooth]() -> Bluetooth& { return bluetooth; }},
      storedTabs_(defaults_, {kTabKey, kSubTabKey}),
      automations_(std::make_shared<AutomationsAndTriggersView>(
          Binding<std::int64_t>{
              [&defaults = defaults_] { return defaults.integerForKey(kSubTabKey); },
              [&defaults = defaults_](const std::int64_t& tag) {
                  defaults.setInteger(kSubTabKey, tag);
              }},
          services.automations)),
      updates_(std::make_shared<UpdateCheckSection>(defaults_, services.checkForUpdates)),
      agreement_(std::make_shared<AgreementRow>(services.agreement)),
      drives_(std::make_shared<DrivesSettingsView>(services.drives, services.controller,
                                                   services.automations.audit)) {
    // A reset also forgets what this window found on the Devices page.
    troubleshooting_ = std::make_shared<TroubleshootingView>(
        c_, services.diagnostics, services.reset, [weakSelf = weakRef(*this)] {
            if (auto* self = weakSelf.get()) {
                self->scannedDevices = std::nullopt;
            }
        });
}

SettingsView::~SettingsView() = default;

std::vector<ObservableObject*> SettingsView::observedObjects() {
    return {&c_, &prefs_, &power_, &dev_, &storedTabs_};
}

std::int64_t SettingsView::selectedTab() const {
    return defaults_.integerForKey(kTabKey);
}

std::int64_t SettingsView::shownTab() const {
    return shownTag(selectedTab());
}

std::int64_t SettingsView::selectedSubTab() const {
    return defaults_.integerForKey(kSubTabKey);
}

View SettingsView::body() {
    // A stored value no page carries shows General and stays stored until the user picks.
    Binding<std::int64_t> tab{
        [&defaults = defaults_] { return shownTag(defaults.integerForKey(kTabKey)); },
        [&defaults = defaults_](const std::int64_t& tag) { defaults.setInteger(kTabKey, tag); }};
    std::vector<TabItem> tabs{
        {"0", "General", "gearshape"}, {"1", "Automations & Triggers", "bolt"},
        {"2", "Devices", "keyboard"},  {"3", "Drives", "externaldrive"},
        {"4", "Advanced", "terminal"}, {"6", "Troubleshooting", "wrench.and.screwdriver"},
    };
    std::vector<View> pages{
        generalPage(),  Embed(automations_), devicesPage(),
        Embed(drives_), advancedPage(),      ScrollView(Embed(troubleshooting_), false, true),
    };
    return TabView(intTagBinding(tab), std::move(tabs), std::move(pages))
        .frame(Frame()
                   .withMinWidth(kMinWidth)
                   .withMaxWidth(kMaxWidth)
                   .withMinHeight(kMinHeight)
                   .withAlignment(Alignment::center()));
}

}  // namespace orvel
