#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "automations/RuleRow.h"
#include "automations/RuleTabState.h"
#include "foundation/Published.h"
#include "foundation/UUID.h"
#include "foundation/WeakRef.h"
#include "triggers/TriggerRule.h"
#include "ui/ViewComponent.h"

namespace orvel {

class Bluetooth;
class BluetoothTriggerSource;
class Network;
class PermissionAudit;

// The Bluetooth sub-tab: the Bluetooth rules with their editors, adding a rule for a paired
// device, and the app's Bluetooth permission, checked when the page appears and every 2 s while
// it is shown. It keeps only which editors are open, the permission it last read and the device
// battery levels it last showed; each is assigned only when it changes, so an idle page is not
// drawn again. Every rule write goes through `writeRule`. Main thread only.
class BluetoothSettingsView final : public ui::ViewComponent, public WeakReferenceable {
  public:
    static constexpr double kRefreshInterval = 2.0;
    static constexpr std::int64_t kFloorOn = 10;
    static constexpr std::int64_t kFloorMin = 1, kFloorMax = 95;
    static constexpr std::int64_t kRecoveryMax = 100;

    // `source` names the paired devices and their battery levels; `bluetooth` answers for the
    // permission.
    BluetoothSettingsView(RuleTabState state, BluetoothTriggerSource& source, Bluetooth& bluetooth,
                          Network& network, PermissionAudit& audit);

    // Ids of the rules whose editor is open.
    Published<std::set<UUID>> expanded{*this, {}};
    Published<bool> btGranted{*this, true};
    Published<std::string> btStatus{*this, {}};

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // The Bluetooth rules, in the engine's order, disabled and unavailable ones too.
    std::vector<TriggerRule> bluetoothRules() const;
    // A rule for the first paired device by name (else "New device rule"), its editor open.
    void addRule();
    // The device picker: a paired device also names the rule; an address no paired device has
    // clears only the device's name.
    void setDevice(const UUID& rule, const std::string& address);
    // On stores a floor of 10 and keeps the recovery level; off clears both.
    void setFloorOn(const UUID& rule, bool on);
    // Kept within 1…95; reaching the recovery level pushes it to the floor + 5.
    void setFloor(const UUID& rule, std::int64_t floor);
    // On stores the floor + 15, at most 100.
    void setRecoveryOn(const UUID& rule, bool on);
    // Kept above the stored floor and at most 100.
    void setRecovery(const UUID& rule, std::int64_t recovery);
    // Reads the permission (re-syncing the sources when it turns granted) and the device levels.
    void refresh();
    // "Enable": asks for the permission when undecided, else opens the privacy settings.
    void enable();

    // The lowest recovery level the controls offer above `floor`; a floor above 99, only
    // reachable by import, still leaves 100.
    static std::int64_t recoveryMinimum(std::int64_t floor);
    // A whole percentage the locale's way ("10%" in US English).
    static std::string percentLabel(std::int64_t percent);

  private:
    ui::View rulesSection();
    ui::View permissionSection();
    ui::View editor(const TriggerRule& rule, const ExpandedRules& open);
    ui::View deviceRow(const TriggerRule& rule);
    ui::View floorRow(const TriggerRule& rule);
    ui::View recoveryRow(const TriggerRule& rule);

    TriggerEngine& engine_;
    BluetoothTriggerSource& source_;
    Bluetooth& bluetooth_;
    Network& network_;
    PermissionAudit& audit_;
    // The source's last battery readings, by device key, as last read.
    Published<std::map<std::string, std::int64_t>> levels_{*this, {}};
};

}  // namespace orvel
