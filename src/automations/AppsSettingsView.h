#pragma once

#include <memory>
#include <set>
#include <vector>

#include "foundation/Published.h"
#include "foundation/UUID.h"
#include "triggers/TriggerRule.h"
#include "ui/Host.h"
#include "ui/ViewComponent.h"

namespace orvel {

class OrvelController;
class Network;
class TriggerEngine;
class UserDefaults;
class Workspace;

// The Apps sub-tab: the one-off session that lasts until an application quits, and the app
// rules with their editors. It keeps only which editors are open and the names being typed;
// the rules stay in the engine and the session in the controller. Main thread only.
class AppsSettingsView final : public ui::ViewComponent {
  public:
    // Where "Make This a Rule…" leaves the id of the rule whose editor opens next time.
    static constexpr const char* kPendingExpandKey = "apps.pendingExpand";

    AppsSettingsView(TriggerEngine& engine, OrvelController& controller, UserDefaults& defaults,
                     Workspace& workspace, Network& network);

    // Ids of the rules whose editor is open.
    Published<std::set<UUID>> expanded{*this, {}};

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // The app rules, in the engine's order, enabled or not.
    std::vector<TriggerRule> appRules() const;
    // Adds an app rule that watches nothing yet and opens its editor.
    void addRule();
    // Opens the editor of the rule left under kPendingExpandKey and forgets the key; a value
    // that is not an id stays.
    void consumePendingExpand();

  private:
    ui::View oneOffSection();
    ui::View rulesSection();

    TriggerEngine& engine_;
    OrvelController& controller_;
    UserDefaults& defaults_;
    Workspace& workspace_;
    Network& network_;
    // The application chooser of the editors' "Browse…".
    std::unique_ptr<ui::Window> chooserWindow_;
};

}  // namespace orvel
