#include "settings/SettingsView.h"

#include <array>
#include <string>

#include "automations/AutomationsAndTriggersView.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "drives/DrivesSettingsView.h"
#include "foundation/Localization.h"
#include "foundation/Registry.h"
#include "foundation/RunLoop.h"
#include "menubar/AppWindows.h"
#include "platform/LoginItems.h"
#include "platform/Platform.h"
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

UserDefaults& defaults() {
    return Platform::current().userDefaults();
}

}  // namespace

SettingsView::SettingsView()
    : c_(OrvelController::shared()),
      prefs_(Preferences::shared()),
      power_(PowerTriggerCenter::shared()),
      dev_(DeviceState::shared()),
      storedTabs_(defaults(), {kTabKey, kSubTabKey}),
      automations_(std::make_shared<AutomationsAndTriggersView>(
          Binding<std::int64_t>{
              [] { return selectedSubTab(); },
              [](const std::int64_t& tag) { defaults().setInteger(kSubTabKey, tag); }},
          Registry::instance<AutomationServices>())),
      updates_(std::make_shared<UpdateCheckSection>()),
      agreement_(std::make_shared<AgreementRow>()),
      drives_(std::make_shared<DrivesSettingsView>(DriveKeepAlive::shared())) {
    // A reset also forgets what this window found on the Devices page.
    troubleshooting_ = std::make_shared<TroubleshootingView>(
        c_, DiagnosticsSources::system(), [weakSelf = weakRef(*this)] {
            if (auto* self = weakSelf.get()) {
                self->scannedDevices = std::nullopt;
            }
        });
}

SettingsView::~SettingsView() = default;

std::vector<ObservableObject*> SettingsView::observedObjects() {
    return {&c_, &prefs_, &power_, &dev_, &storedTabs_};
}

std::int64_t SettingsView::selectedTab() {
    return defaults().integerForKey(kTabKey);
}

std::int64_t SettingsView::shownTab() {
    const std::int64_t stored = selectedTab();
    for (std::int64_t tag : kTags) {
        if (tag == stored) {
            return stored;
        }
    }
    return kGeneralTab;
}

std::int64_t SettingsView::selectedSubTab() {
    return defaults().integerForKey(kSubTabKey);
}

View SettingsView::body() {
    // A stored value no page carries shows General and stays stored until the user picks.
    Binding<std::int64_t> tab{[] { return shownTab(); },
                              [](const std::int64_t& tag) { defaults().setInteger(kTabKey, tag); }};
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
