#pragma once

#include <optional>
#include <string>
#include <vector>

#include "automations/RuleRow.h"
#include "triggers/TriggerRule.h"
#include "ui/Host.h"
#include "ui/View.h"

namespace orvel {

class TriggerEngine;
class Workspace;

// The editor of one app rule, below its row: the application it watches (a running one from a
// menu, or any installed one from a panel), what its launch and quit do, and whether background
// processes are polled. Every control writes at once through `writeRule`.
struct AppRuleEditor {
    static constexpr const char* kDefaultName = "New app rule";

    TriggerRule rule;
    ExpandedRules expanded;
    TriggerEngine& engine;
    Workspace& workspace;

    ui::View body() const;

    // The one write of the watched application. The rule takes the application's name while it
    // still has the default name or the previous application's; a name the user typed stays.
    // A background application turns polling on; nothing here turns it off.
    void setApp(const std::string& name, const std::string& bundleID,
                const std::optional<std::string>& url) const;
    // "Browse…": an installed application's desktop entry, chosen in a panel. A cancelled
    // panel, or an entry that does not open or has no id, changes nothing.
    void chooseApp() const;
    // The running applications' items, asked of the system only as the menu opens.
    std::vector<ui::MenuItem> runningAppItems() const;
    // The panel that offers the installed applications.
    static ui::OpenPanelOptions applicationPanel(Workspace& workspace);
};

}  // namespace orvel
