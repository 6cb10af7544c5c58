#include "automations/TriggersSettingsView.h"

#include "automations/RuleRow.h"
#include "core/Preferences.h"
#include "foundation/Calendar.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {
constexpr double kTomorrowMorning = 28800;
}  // namespace

TriggersSettingsView::TriggersSettingsView(TriggerEngine& engine, ActivityLog& log,
                                           Preferences& prefs)
    : engine_(engine), log_(log), prefs_(prefs) {}

std::vector<ObservableObject*> TriggersSettingsView::observedObjects() {
    return {&engine_, &log_, &prefs_};
}

double TriggersSettingsView::secondsUntilTomorrow() {
    return secondsUntilNextDay(RunLoop::main().now(), kTomorrowMorning);
}

std::string TriggersSettingsView::safetySummary() const {
    Preferences& prefs = prefs_;
    std::vector<std::string> parts;
    if (prefs.lowBattEnd()) {
        parts.emplace_back("battery floor");
    }
    if (prefs.deactivateOnBattery()) {
        parts.emplace_back("on-battery off");
    }
    if (prefs.lpmEnd()) {
        parts.push_back(localized("Power Saver"));
    }
    if (prefs.upsReact()) {
        parts.push_back(localized("UPS"));
    }
    if (parts.empty()) {
        return localized("nothing enabled \u00B7 quiet");
    }
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : " \u00B7 ") + part;
    }
    return text;
}

std::int64_t TriggersSettingsView::ruleCount(TriggerSource source) const {
    std::int64_t count = 0;
    for (const TriggerRule& rule : engine_.rules()) {
        count += rule.source == source ? 1 : 0;
    }
    return count;
}

std::optional<TriggerRule> TriggersSettingsView::holdingRule(TriggerSource source) const {
    for (const TriggerRule& rule : engine_.rules()) {
        if (rule.source == source && rule.enabled && !rule.unavailableHere &&
            rule.onAppear == TriggerAction::startSession && RuleRow::isHolding(engine_, rule)) {
            return rule;
        }
    }
    return std::nullopt;
}

void TriggersSettingsView::clearActivity() {
    log_.clear();
}

Color TriggersSettingsView::dotColor(ActivityEntry::Kind kind) {
    using Kind = ActivityEntry::Kind;
    switch (kind) {
        case Kind::started:
            return Color::green();
        case Kind::ended:
            return Color::red();
        case Kind::rearmed:
            return Color::orange();
        case Kind::simulated:
            return Color::named(NamedColor::blue);
        case Kind::shielded:
        case Kind::info:
            break;
    }
    return Color::named(NamedColor::white).withOpacity(0.25);
}

View TriggersSettingsView::body() {
    return Form({generalSection(), prioritySection(), activitySection()});
}

View TriggersSettingsView::generalSection() {
    TriggerEngine* engine = &engine_;
    return Section(
        std::nullopt,
        {
            Toggle("Enable triggers",
                   Binding<bool>{[engine] { return engine->masterEnabled(); },
                                 [engine](const bool& on) { engine->setMasterEnabled(on); }}),
            Text("Rules can start and end Orvel sessions. Manual sessions are never touched.")
                .font(Font::style(TextStyle::caption))
                .foregroundStyle(Hierarchy::secondary),
            pauseRow(),
        });
}

View TriggersSettingsView::pauseRow() {
    TriggerEngine* engine = &engine_;
    if (engine_.isPaused()) {
        return HStack({Text("Paused"), Spacer(), Button("Resume", [engine] {
                                                     engine->resume();
                                                 }).controlSize(ControlSize::small)});
    }
    auto small = [](View button) { return button.controlSize(ControlSize::small); };
    return HStack({
        Text("Pause all triggers"),
        Spacer(),
        small(Button("1 hour", [engine] { engine->pause(3600.0); })),
        small(Button("Until tomorrow", [engine] { engine->pause(secondsUntilTomorrow()); })),
        small(Button("Until re-enabled", [engine] { engine->pause(std::nullopt); })),
    });
}

View TriggersSettingsView::prioritySection() {
    std::vector<View> rows{safetyRow()};
    const auto& order = engine_.priority();
    for (std::size_t i = 0; i < order.size(); ++i) {
        rows.push_back(priorityRow(order[i], i, order.size()).id(std::string(rawValue(order[i]))));
    }
    return Section(Text("Priority order"), std::move(rows),
                   Text("While a higher-priority activate condition holds, lower-priority "
                        "deactivate events are ignored. Battery & UPS safety is pinned above the "
                        "order and cannot be moved \u2014 ranking it lower would let a holding "
                        "rule shield a low-battery shutoff.")
                       .font(Font::style(TextStyle::caption))
                       .foregroundStyle(Hierarchy::secondary));
}

View TriggersSettingsView::safetyRow() {
    return HStack(
        VAlign::center, 10,
        {
            Image("lock.fill").font(Font::system(11)).foregroundStyle(Color::orange()).frame(16),
            Text("Battery & UPS safety").font(Font::system(13, FontWeight::semibold)),
            TextVerbatim(safetySummary())
                .font(Font::system(10))
                .foregroundStyle(Hierarchy::secondary),
            Spacer(),
            RuleRow::badge("ALWAYS FIRST", Color::orange()),
        });
}

View TriggersSettingsView::priorityRow(TriggerSource source, std::size_t index, std::size_t count) {
    View status;
    if (auto holding = holdingRule(source)) {
        status =
            TextVerbatim("\u25CF holding \u2014 " + holding->name).foregroundStyle(Color::green());
    } else {
        const std::int64_t n = ruleCount(source);
        status = TextVerbatim(
                     localizedPlural("%lld rule \u00B7 quiet", "%lld rules \u00B7 quiet", n, {n}))
                     .foregroundStyle(Hierarchy::secondary);
    }
    TriggerEngine* engine = &engine_;
    const std::string name = displayName(source);
    return HStack(
        VAlign::center, 10,
        {
            TextVerbatim(std::to_string(index + 1))
                .font(Font::system(15, FontWeight::bold))
                .foregroundStyle(Hierarchy::tertiary)
                .frame(16),
            TextVerbatim(name).font(Font::system(13, FontWeight::semibold)),
            status.font(Font::system(10)),
            Spacer(),
            Button(Image("chevron.up"), [engine, source] { engine->movePriority(source, true); })
                .controlSize(ControlSize::small)
                .disabled(index == 0)
                .accessibilityLabelVerbatim(localizedFormat("Move %@ up", {name})),
            Button(Image("chevron.down"), [engine, source] { engine->movePriority(source, false); })
                .controlSize(ControlSize::small)
                .disabled(index + 1 == count)
                .accessibilityLabelVerbatim(localizedFormat("Move %@ down", {name})),
        });
}

View TriggersSettingsView::activitySection() {
    std::vector<View> rows;
    const auto& entries = log_.entries();
    if (entries.empty()) {
        rows.push_back(Text("No trigger activity yet.")
                           .font(Font::style(TextStyle::caption))
                           .foregroundStyle(Hierarchy::secondary));
    }
    for (std::size_t i = 0; i < entries.size() && i < kShownEntries; ++i) {
        rows.push_back(activityRow(entries[i]).id(entries[i].id.uuidString()));
    }
    return Section(
        HStack({Text("Recent activity"), Spacer(),
                Button("Clear", [log = &log_] { log->clear(); }).controlSize(ControlSize::small)}),
        std::move(rows));
}

View TriggersSettingsView::activityRow(const ActivityEntry& entry) {
    std::vector<View> lines{
        TextVerbatim(entry.title).font(Font::system(12.5, FontWeight::semibold))};
    if (!entry.detail.empty()) {
        lines.push_back(TextVerbatim(entry.detail)
                            .font(Font::system(11))
                            .foregroundStyle(Hierarchy::secondary));
    }
    return HStack(
        VAlign::top, 8,
        {
            ShapeFill(Shape::circle(), dotColor(entry.kind)).frame(8, 8).padding(kEdgeTop, 4),
            VStack(HAlign::leading, 1, std::move(lines)),
            Spacer(),
            TextVerbatim(shortTimeText(entry.date))
                .font(Font::system(11))
                .foregroundStyle(Hierarchy::tertiary),
        });
}

}  // namespace orvel
