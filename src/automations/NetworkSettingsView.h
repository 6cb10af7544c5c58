#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "automations/RuleTabState.h"
#include "automations/RuleTextEdits.h"
#include "foundation/Published.h"
#include "foundation/UUID.h"
#include "triggers/TriggerRule.h"
#include "ui/ViewComponent.h"

namespace orvel {

class Network;
class NetworkTriggerSource;
class PermissionAudit;
class TriggerEngine;

// The Network sub-tab: the Wi-Fi network name and network rules with their editors, and the
// Location permission that only network name rules need. It keeps which editors are open, the
// permission as last read and the values being typed; the rules stay in the engine. Main thread
// only.
class NetworkSettingsView final : public ui::ViewComponent {
  public:
    static constexpr double kPermissionRefreshInterval = 2.0;

    // `source` asks for the Location permission; `network` answers whether it is granted.
    NetworkSettingsView(RuleTabState state, NetworkTriggerSource& source, Network& network,
                        PermissionAudit& audit);

    // Ids of the rules whose editor is open.
    Published<std::set<UUID>> expanded;
    Published<bool> locGranted;
    Published<std::string> locStatus;

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // The wifiSSID and network rules, in the engine's order, enabled or not.
    std::vector<TriggerRule> networkRules() const;
    // A new Wi-Fi network name rule, opened at once; asks for Location unless decided.
    void addRule();
    // Reads the Location permission again; assigns only what changed, so an idle page is not
    // redrawn every time.
    void refreshPermission();

  private:
    ui::View rulesSection();
    ui::View permissionSection();

    TriggerEngine& engine_;
    NetworkTriggerSource& source_;
    Network& network_;
    PermissionAudit& audit_;
    RuleTextEdits edits_;
};

}  // namespace orvel
