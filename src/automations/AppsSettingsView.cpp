#include "automations/AppsSettingsView.h"

#include <string>
#include <utility>

#include "automations/AppRuleEditor.h"
#include "automations/RuleRow.h"
#include "core/OrvelController.h"
#include "foundation/Localization.h"
#include "menubar/AppWindows.h"
#include "platform/UserDefaults.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {

View caption(const std::string& key) {
    return Text(key).font(Font::style(TextStyle::caption)).foregroundStyle(Hierarchy::secondary);
}

// The application's window operations; without a running application the buttons do nothing.
void withWindows(void (AppWindows::*operation)()) {
    if (AppWindows* windows = AppWindows::current()) {
        (windows->*operation)();
    }
}

}  // namespace

AppsSettingsView::AppsSettingsView(TriggerEngine& engine, OrvelController& controller,
                                   UserDefaults& defaults, Workspace& workspace, Network& network)
    : engine_(engine),
      controller_(controller),
      defaults_(defaults),
      workspace_(workspace),
      network_(network) {}

std::vector<ObservableObject*> AppsSettingsView::observedObjects() {
    return {&engine_, &controller_, this};
}

std::vector<TriggerRule> AppsSettingsView::appRules() const {
    std::vector<TriggerRule> found;
    for (const TriggerRule& rule : engine_.rules()) {
        if (rule.source == TriggerSource::app) {
            found.push_back(rule);
        }
    }
    return found;
}

void AppsSettingsView::addRule() {
    TriggerRule rule;
    rule.name = localized(AppRuleEditor::kDefaultName);
    rule.source = TriggerSource::app;
    rule.enabled = true;
    rule.onAppear = TriggerAction::startSession;
    rule.onClear = TriggerAction::endSession;
    rule.durationSeconds = 0;
    const UUID id = rule.id;
    engine_.add(std::move(rule));
    std::set<UUID> open = expanded();
    open.insert(id);
    expanded = open;
}

void AppsSettingsView::consumePendingExpand() {
    UserDefaults& defaults = defaults_;
    const std::optional<std::string> pending = defaults.stringForKey(kPendingExpandKey);
    if (!pending) {
        return;
    }
    const std::optional<UUID> id = UUID::fromString(*pending);
    if (!id) {
        return;
    }
    std::set<UUID> open = expanded();
    open.insert(*id);
    expanded = open;
    defaults.removeObject(kPendingExpandKey);
}

View AppsSettingsView::body() {
    return Form({oneOffSection(), rulesSection()}).onAppear([this] { consumePendingExpand(); });
}

View AppsSettingsView::oneOffSection() {
    const std::optional<std::string>& name = controller_.watchedAppName();
    std::vector<View> rows;
    if (controller_.isActive() && controller_.preset() == DurationPreset::untilAppQuits && name) {
        rows.push_back(HStack(
            VAlign::center, 10,
            {
                TextVerbatim(localizedFormat("Watching %@", {*name})),
                Spacer(),
                Button("Change App\u2026", [] { withWindows(&AppWindows::chooseAppToWatch); })
                    .controlSize(ControlSize::small),
                Button("Make This a Rule\u2026",
                       [] { withWindows(&AppWindows::makeRuleFromWatchedApp); })
                    .controlSize(ControlSize::small),
            }));
        rows.push_back(
            TextVerbatim(
                localizedFormat(
                    "The running session ends when %@ quits. It's a MANUAL session \u2014 "
                    "started by you \u2014 so rules never end it. Same watcher underneath as app "
                    "rules.",
                    {*name}))
                .font(Font::style(TextStyle::caption))
                .foregroundStyle(Hierarchy::secondary));
    } else {
        rows.push_back(HStack(VAlign::center, 10,
                              {
                                  Text("Not running").foregroundStyle(Hierarchy::secondary),
                                  Spacer(),
                                  Button("Choose App & Start\u2026",
                                         [] { withWindows(&AppWindows::chooseAppToWatch); })
                                      .controlSize(ControlSize::small),
                              }));
        rows.push_back(
            caption("One-off: pick an app and stay awake until it quits \u2014 no rule involved, "
                    "same watcher underneath. Also in the menu: Duration \u203A Until an app "
                    "quits\u2026"));
    }
    return Section(Text("Until an app quits (one-off)"), std::move(rows));
}

View AppsSettingsView::rulesSection() {
    ExpandedRules open{[this] { return expanded(); },
                       [this](const std::set<UUID>& ids) { expanded = ids; }};
    RuleEditor editor = [open, engine = &engine_, workspace = &workspace_,
                         chooser = &chooserWindow_](const TriggerRule& rule) {
        return AppRuleEditor{rule, open, *engine, *workspace, chooser}.body();
    };
    std::vector<View> rows;
    for (const TriggerRule& rule : appRules()) {
        rows.push_back(
            RuleRow{engine_, network_, rule, open, editor}.body().id(rule.id.uuidString()));
    }
    rows.push_back(Button("Add Rule\u2026", [this] { addRule(); }));
    rows.push_back(caption(
        "Windowed apps report launch and quit instantly \u2014 no polling, no permissions. An app "
        "already running when Orvel starts counts as a live event, so rules fire from login. "
        "Apps rank last in the default priority order (Triggers sub-tab)."));
    return Section(Text("App rules"), std::move(rows));
}

}  // namespace orvel
