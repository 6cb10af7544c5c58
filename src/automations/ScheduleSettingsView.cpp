#include "automations/ScheduleSettingsView.h"

#include "automations/ScheduleRuleEditor.h"
#include "core/Preferences.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {

using namespace ui;

namespace {
constexpr double kOneShotLead = 3600;

View caption(const std::string& key) {
    return Text(key).font(Font::style(TextStyle::caption)).foregroundStyle(Hierarchy::secondary);
}
}  // namespace

ScheduleSettingsView::ScheduleSettingsView(TriggerEngine& engine, WakeHelperClient& helper,
                                           Preferences& prefs, Network& network)
    : engine_(engine), helper_(helper), prefs_(prefs), network_(network), edits_(engine) {}

std::vector<ObservableObject*> ScheduleSettingsView::observedObjects() {
    return {&engine_, &helper_, &prefs_, &edits_, this};
}

std::vector<TriggerRule> ScheduleSettingsView::scheduleRules() const {
    std::vector<TriggerRule> found;
    for (const TriggerRule& rule : engine_.rules()) {
        if (rule.source == TriggerSource::schedule) {
            found.push_back(rule);
        }
    }
    return found;
}

void ScheduleSettingsView::addRule(const std::string& kind) {
    TriggerRule rule;
    const char* name = kind == "window" ? textKey("New window") : textKey("One-time");
    rule.name = localized(name);
    rule.source = TriggerSource::schedule;
    rule.onAppear = TriggerAction::startSession;
    rule.onClear = TriggerAction::endSession;
    rule.schedKind = kind;
    if (kind == "window") {
        rule.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
        rule.schedStartMin = 1260;
        rule.schedEndMin = 420;
    } else {
        rule.schedDate = RunLoop::main().now() + kOneShotLead;
        rule.onClear = TriggerAction::nothing;
    }
    const UUID id = rule.id;
    engine_.add(std::move(rule));
    std::set<UUID> open = expanded();
    open.insert(id);
    expanded = open;
}

View ScheduleSettingsView::body() {
    WakeHelperClient* helper = &helper_;
    return Form({helperSection(), rulesSection()}).onAppear([helper] { helper->refresh(); });
}

View ScheduleSettingsView::helperSection() {
    const bool active = helper_.state() == WakeHelperClient::State::active;
    WakeHelperClient* helper = &helper_;
    std::vector<View> rows{
        HStack(VAlign::center, 10,
               {
                   Text("Wake helper"),
                   TextVerbatim(label(helper_.state()))
                       .foregroundStyle(active ? ForegroundStyle(Hierarchy::secondary)
                                               : ForegroundStyle(Color::orange())),
                   active ? Button("Remove\u2026", [helper] { helper->uninstall(); })
                                .controlSize(ControlSize::small)
                          : Button("Enable", [helper] { helper->install(); })
                                .controlSize(ControlSize::small),
               })
            .font(Font::style(TextStyle::caption)),
    };
    if (const auto& error = helper_.lastError()) {
        rows.push_back(TextVerbatim(*error)
                           .font(Font::style(TextStyle::caption))
                           .foregroundStyle(Color::orange()));
    }
    rows.push_back(
        caption("Needed only by rules that wake a sleeping computer. Installing asks for "
                "admin approval once \u2014 never at launch. Its sole ability is "
                "registering wake times."));
    return Section(std::nullopt, std::move(rows));
}

View ScheduleSettingsView::rulesSection() {
    ExpandedRules open{[this] { return expanded(); },
                       [this](const std::set<UUID>& ids) { expanded = ids; }};
    RuleEditor editor = [open, engine = &engine_, helper = &helper_, prefs = &prefs_,
                         edits = &edits_](const TriggerRule& rule) {
        return ScheduleRuleEditor{rule, open, *engine, *helper, *prefs, *edits}.body();
    };
    std::vector<View> rows;
    for (const TriggerRule& rule : scheduleRules()) {
        rows.push_back(
            RuleRow{engine_, network_, rule, open, editor}.body().id(rule.id.uuidString()));
    }
    rows.push_back(Menu("Add Rule\u2026",
                        {
                            MenuItem{"Repeating Window", [this] { addRule("window"); }},
                            MenuItem{"One-time", [this] { addRule("oneshot"); }},
                        })
                       .buttonStyle(StandardButtonStyle::borderless)
                       .frame(Frame().withMinWidth(120)));
    rows.push_back(caption(
        "Windows hold like any condition \u2014 shield, priority and re-arm apply; a window "
        "already open at login starts a session at its next opening. One-shots disable themselves "
        "after firing (FIRED badge) \u2014 edit the date and re-enable to reuse. Missed fires "
        "catch up within 30 minutes, otherwise they're logged as missed. Every start also reads "
        "keep-alive drives and remounts vanished shares."));
    return Section(Text("Schedule rules"), std::move(rows));
}

}  // namespace orvel
