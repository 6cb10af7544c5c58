#pragma once

#include <cstdint>

#include "ui/ViewComponent.h"

namespace orvel {

// The Settings window's content. Its least form: the pages themselves are not written yet; it
// names the page stored under "settingsTabSelection" (and the Automations & Triggers sub-tab
// under "atSubTab"), read afresh at each evaluation.
class SettingsView final : public ui::ViewComponent {
  public:
    // The page the window shows: 1 is Automations & Triggers.
    static std::int64_t selectedTab();
    // The Automations & Triggers sub-tab: 0 Triggers, 1 Bluetooth, 2 Network, 3 Battery,
    // 4 Schedule, 5 Apps.
    static std::int64_t selectedSubTab();

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;
};

}  // namespace orvel
