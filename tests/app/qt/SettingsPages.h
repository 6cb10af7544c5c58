#pragma once

#include <cstdint>

#include "automations/AutomationsAndTriggersView.h"
#include "settings/SettingsView.h"

namespace orvel::test {

// Every page of Settings, and every sub-tab of Automations & Triggers, as the pictures name them.
struct SettingsPage {
    std::int64_t tab, subTab;
    const char* name;
};

inline constexpr SettingsPage kSettingsPages[] = {
    {SettingsView::kGeneralTab, 0, "general"},
    {SettingsView::kDevicesTab, 0, "devices"},
    {SettingsView::kDrivesTab, 0, "drives"},
    {SettingsView::kAdvancedTab, 0, "advanced"},
    {SettingsView::kTroubleshootingTab, 0, "troubleshooting"},
    {SettingsView::kAutomationsTab, AutomationsAndTriggersView::kTriggers, "triggers"},
    {SettingsView::kAutomationsTab, AutomationsAndTriggersView::kSchedule, "schedule"},
    {SettingsView::kAutomationsTab, AutomationsAndTriggersView::kBluetooth, "bluetooth"},
    {SettingsView::kAutomationsTab, AutomationsAndTriggersView::kNetwork, "network"},
    {SettingsView::kAutomationsTab, AutomationsAndTriggersView::kApps, "apps"},
    {SettingsView::kAutomationsTab, AutomationsAndTriggersView::kBattery, "battery"},
};

}  // namespace orvel::test
