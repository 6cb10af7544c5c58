#pragma once

#include <memory>
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
// menu, or any installed one from the application chooser), what its launch and quit do, and
// whether background processes are polled. Every control writes at once through `writeRule`.
struct AppRuleEditor {
    static constexpr const char* kDefaultName = "New app rule";

    TriggerRule rule;
    ExpandedRules expanded;
    TriggerEngine& engine;
    Workspace& workspace;
    // Where "Browse…" shows its chooser; kept by the page that builds the editor.
    std::unique_ptr<ui::Window>* chooserWindow = nullptr;

    ui::View body() const;

    // The one write of the watched application. The rule takes the application's name while it
    // still has the default name or the previous application's; a name the user typed stays.
    // A background application turns polling on; nothing here turns it off.
    void setApp(const std::string& name, const std::string& bundleID,
                const std::optional<std::string>& url) const;
    // "Browse…": an installed application, chosen in the application chooser.
    void chooseApp() const;
    // An application's entry (or a file) chosen there: a cancelled chooser, or an entry that does
    // not open as a bundle or has no id, changes nothing.
    void applyChosen(const std::string& url) const;
    // The running applications' items, asked of the system only as the menu opens.
    std::vector<ui::MenuItem> runningAppItems() const;
};

}  // namespace orvel
