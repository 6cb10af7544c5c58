#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/UserDefaults.h"
#include "ui/ViewComponent.h"

namespace orvel {

class ActivityLog;
class Bluetooth;
class BluetoothTriggerSource;
class Network;
class NetworkTriggerSource;
class OrvelController;
class PermissionAudit;
class PowerSources;
class PowerTriggerCenter;
class Preferences;
class TriggerEngine;
class WakeHelperClient;
class Workspace;

// What the six sub-tab pages are built on, handed down by the window that shows them.
struct AutomationServices {
    Preferences& prefs;
    TriggerEngine& engine;
    ActivityLog& log;
    OrvelController& controller;
    PowerTriggerCenter& power;
    WakeHelperClient& helper;
    BluetoothTriggerSource& bluetoothSource;
    NetworkTriggerSource& networkSource;
    UserDefaults& defaults;
    Bluetooth& bluetooth;
    Network& network;
    Workspace& workspace;
    PowerSources& powerSources;
    PermissionAudit& audit;
};

// The Automations & Triggers page of the Settings window: the two session switches above a
// segmented picker of six sub-tabs, and the chosen sub-tab's page below. Which sub-tab shows is
// stored under "atSubTab", so the page reopens on it and other components open it on a sub-tab
// by writing the key. A sub-tab's page is made anew each time the picker turns to it, so the
// view state it keeps (open editors, permission text) starts fresh; the page it leaves is
// released, which writes the text still waiting in its fields. Main thread only.
class AutomationsAndTriggersView final : public ui::ViewComponent {
  public:
    static constexpr const char* kSubTabKey = "atSubTab";
    // The stored tags; the picker shows them in another order.
    static constexpr std::int64_t kTriggers = 0;
    static constexpr std::int64_t kBluetooth = 1;
    static constexpr std::int64_t kNetwork = 2;
    static constexpr std::int64_t kBattery = 3;
    static constexpr std::int64_t kSchedule = 4;
    static constexpr std::int64_t kApps = 5;
    static constexpr double kFormHeight = 168;
    static constexpr double kPickerMaxWidth = 560;

    using PageMaker = std::function<std::shared_ptr<ui::ViewComponent>(std::int64_t tag)>;

    // `makePage` builds the page of a shown tag (by default `subTabPage` on `services`); tests
    // hand in their own.
    AutomationsAndTriggersView(ui::Binding<std::int64_t> subTab, const AutomationServices& services,
                               PageMaker makePage = {});

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // The tag of the page a stored value shows: the value from 0 to 5, Battery for any other.
    static std::int64_t shownTag(std::int64_t stored);
    // A new page for a shown tag, on `services`.
    static std::shared_ptr<ui::ViewComponent> subTabPage(const AutomationServices& services,
                                                         std::int64_t tag);

  private:
    ui::View automationsForm();
    ui::View subTabPicker();

    ui::Binding<std::int64_t> subTab_;
    PageMaker makePage_;
    Preferences& prefs_;
    // Follows outside writes of the sub-tab key.
    DefaultsKeysObserver storedSubTab_;
    std::int64_t pageTag_ = -1;
    std::shared_ptr<ui::ViewComponent> page_;
};

}  // namespace orvel
