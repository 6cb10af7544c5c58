#include "automations/ScheduleRuleEditor.h"

#include <algorithm>
#include <set>
#include <vector>

#include "automations/ACOnlyToggle.h"
#include "automations/ActionPicker.h"
#include "automations/DurationPicker.h"
#include "automations/EditorFooter.h"
#include "automations/RuleTextEdits.h"
#include "automations/RuleWrite.h"
#include "core/Preferences.h"
#include "foundation/Calendar.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {

using namespace ui;

namespace {

View caption(const std::string& key, bool warning = false) {
    return Text(key)
        .font(Font::style(TextStyle::caption))
        .foregroundStyle(warning ? ForegroundStyle(Color::orange())
                                 : ForegroundStyle(Hierarchy::secondary));
}

}  // namespace

View DaysPicker::body() const {
    const std::vector<std::int64_t> days = rule.schedDays.value_or(std::vector<std::int64_t>{});
    const auto symbols = veryShortStandaloneWeekdaySymbols();
    const auto names = shortWeekdaySymbols();
    std::vector<View> row;
    for (const std::int64_t day : kOrder) {
        const bool selected = std::find(days.begin(), days.end(), day) != days.end();
        const bool last = selected && std::set<std::int64_t>(days.begin(), days.end()).size() == 1;
        const DaysPicker self = *this;
        View pill =
            Button(
                TextVerbatim(symbols[static_cast<std::size_t>(day - 1)])
                    .font(Font::system(10.5, FontWeight::semibold))
                    .foregroundStyle(selected ? ForegroundStyle(Color::named(NamedColor::white))
                                              : ForegroundStyle(Hierarchy::secondary))
                    .frame(24, 20)
                    .background(selected ? Color::accent()
                                         : Color::named(NamedColor::primaryLabel).withOpacity(0.12),
                                Shape::rounded(5, true)),
                [self, day, selected] { self.toggleDay(day, selected); })
                .buttonStyle(StandardButtonStyle::plain)
                .accessibilityLabel(names[static_cast<std::size_t>(day - 1)]);
        if (last) {
            pill = pill.help("At least one day stays selected; select all seven for every day");
        }
        row.push_back(std::move(pill));
    }
    row.push_back(TextVerbatim(rule.scheduleSummary())
                      .font(Font::style(TextStyle::caption))
                      .foregroundStyle(Hierarchy::secondary)
                      .padding(kEdgeLeading, 4));
    return HStack(VAlign::center, 4, std::move(row));
}

void DaysPicker::toggleDay(std::int64_t day, bool selected) const {
    for (const TriggerRule& stored : engine.rules()) {
        if (stored.id == rule.id && selected && stored.schedDays &&
            std::set<std::int64_t>(stored.schedDays->begin(), stored.schedDays->end()) ==
                std::set<std::int64_t>{day}) {
            return;
        }
    }
    writeRule(engine, rule.id, [day, selected](TriggerRule& stored) {
        const auto& now = stored.schedDays.value_or(std::vector<std::int64_t>{});
        std::set<std::int64_t> days(now.begin(), now.end());
        if (selected) {
            days.erase(day);
        } else {
            days.insert(day);
        }
        stored.schedDays = std::vector<std::int64_t>(days.begin(), days.end());
    });
}

Date ScheduleRuleEditor::todayAt(std::int64_t minutes) {
    const Date now = RunLoop::main().now();
    return dateBySettingTime(now, static_cast<int>(minutes / 60), static_cast<int>(minutes % 60))
        .value_or(now);
}

Binding<Date> ScheduleRuleEditor::minutesBinding(std::optional<std::int64_t> TriggerRule::*field,
                                                 std::int64_t fallback) const {
    return Binding<Date>{[minutes = (rule.*field).value_or(fallback)] { return todayAt(minutes); },
                         [engine = &engine, id = rule.id, field](const Date& picked) {
                             const LocalTime t = localTime(picked);
                             writeRule(*engine, id, [&](TriggerRule& stored) {
                                 stored.*field = std::int64_t{t.hour} * 60 + t.minute;
                             });
                         }};
}

Binding<Date> ScheduleRuleEditor::fireAtBinding() const {
    return Binding<Date>{[date = rule.schedDate] { return date.value_or(RunLoop::main().now()); },
                         [engine = &engine, id = rule.id](const Date& picked) {
                             writeRule(*engine, id, [&](TriggerRule& stored) {
                                 stored.schedDate = picked;
                                 if (picked > RunLoop::main().now()) {
                                     stored.firedAt = std::nullopt;
                                 }
                             });
                         }};
}

void ScheduleRuleEditor::setKind(const std::string& kind) const {
    writeRule(engine, rule.id, [&](TriggerRule& stored) { stored.schedKind = kind; });
}

void ScheduleRuleEditor::setHasEndTime(bool on) const {
    writeRule(engine, rule.id, [on](TriggerRule& stored) {
        stored.schedEndMin = on ? std::optional<std::int64_t>(kDefaultEnd) : std::nullopt;
    });
}

void ScheduleRuleEditor::setWakeMac(bool on) const {
    writeRule(engine, rule.id, [on](TriggerRule& stored) { stored.wakeMac = on; });
    if (on && helper.state() != WakeHelperClient::State::active) {
        helper.install();
    }
}

void ScheduleRuleEditor::setStart() const {
    writeRule(engine, rule.id, [](TriggerRule& stored) { stored.schedStartMin = kDefaultStart; });
}

void ScheduleRuleEditor::setFireDate() const {
    writeRule(engine, rule.id,
              [](TriggerRule& stored) { stored.schedDate = RunLoop::main().now() + kOneShotLead; });
}

View ScheduleRuleEditor::notSet(std::string label, std::function<void()> set) const {
    return LabeledContent(
        label,
        HStack(VAlign::center, 8,
               {Text("Not set").foregroundStyle(Hierarchy::secondary),
                Button("Set", std::move(set))
                    .controlSize(ControlSize::small)
                    .accessibilityLabelVerbatim(localizedFormat("Set %@", {localized(label)}))}));
}

View ScheduleRuleEditor::oneShotRows() const {
    const ScheduleRuleEditor self = *this;
    std::vector<View> rows;
    if (rule.schedDate) {
        rows.push_back(LabeledContent(
            "Fire at",
            DatePicker("Fire at", fireAtBinding(), kDateComponentDate | kDateComponentHourMinute)
                .labelsHidden()));
    } else {
        rows.push_back(notSet("Fire at", [self] { self.setFireDate(); }));
    }
    if (rule.firedAt) {
        rows.push_back(
            TextVerbatim(localizedFormat("Fired %@ \u2014 set a future date and switch the rule "
                                         "back on to reuse it.",
                                         {TriggerRule::oneShotDateText(rule.firedAt)}))
                .font(Font::style(TextStyle::caption))
                .foregroundStyle(Hierarchy::secondary));
    }
    rows.push_back(ActionPicker{engine, localized("Action"), rule, &TriggerRule::onAppear}.body());
    if (rule.onAppear == TriggerAction::startSession) {
        rows.push_back(DurationPicker{engine, rule}.body());
    }
    return Group(std::move(rows));
}

View ScheduleRuleEditor::toRow() const {
    const ScheduleRuleEditor self = *this;
    std::vector<View> items;
    if (rule.schedEndMin) {
        items.push_back(DatePicker("To", minutesBinding(&TriggerRule::schedEndMin, kDefaultEnd),
                                   kDateComponentHourMinute)
                            .labelsHidden());
        if (rule.schedStartMin && *rule.schedStartMin >= *rule.schedEndMin) {
            items.push_back(Text("next day")
                                .font(Font::style(TextStyle::caption))
                                .foregroundStyle(Hierarchy::secondary));
        }
    }
    items.push_back(
        Toggle("Has end time", Binding<bool>{[on = rule.schedEndMin.has_value()] { return on; },
                                             [self](const bool& on) { self.setHasEndTime(on); }})
            .controlSize(ControlSize::small));
    return LabeledContent("To", HStack(VAlign::center, 8, std::move(items)));
}

View ScheduleRuleEditor::windowRows() const {
    const ScheduleRuleEditor self = *this;
    std::vector<View> rows{LabeledContent("Days", DaysPicker{engine, rule}.body())};
    if (rule.schedStartMin) {
        rows.push_back(LabeledContent(
            "From", DatePicker("From", minutesBinding(&TriggerRule::schedStartMin, kDefaultStart),
                               kDateComponentHourMinute)
                        .labelsHidden()));
    } else {
        rows.push_back(notSet("From", [self] { self.setStart(); }));
    }
    rows.push_back(toRow());
    if (!rule.schedEndMin) {
        rows.push_back(
            ActionPicker{engine, localized("At the start time"), rule, &TriggerRule::onAppear}
                .body());
        if (rule.onAppear == TriggerAction::startSession) {
            rows.push_back(DurationPicker{engine, rule}.body());
        }
        rows.push_back(
            caption("No end time: this fires at the start time; nothing holds or ends later."));
    } else {
        rows.push_back(
            ActionPicker{engine, localized("At window start"), rule, &TriggerRule::onAppear}
                .body());
        rows.push_back(
            ActionPicker{engine, localized("At window end"), rule, &TriggerRule::onClear}.body());
        rows.push_back(
            caption("The window is the duration \u2014 it holds like any trigger "
                    "condition."));
    }
    return Group(std::move(rows));
}

View ScheduleRuleEditor::flagToggle(const std::string& title,
                                    std::optional<bool> TriggerRule::*field) const {
    return Toggle(title, Binding<bool>{[on = (rule.*field).value_or(false)] { return on; },
                                       [engine = &engine, id = rule.id, field](const bool& on) {
                                           writeRule(*engine, id, [&](TriggerRule& stored) {
                                               stored.*field = on;
                                           });
                                       }});
}

View ScheduleRuleEditor::wakeRows() const {
    const ScheduleRuleEditor self = *this;
    const bool wake = rule.wakeMac.value_or(false);
    std::vector<View> rows{
        Toggle("Wake the computer for this rule",
               Binding<bool>{[wake] { return wake; },
                             [self](const bool& on) { self.setWakeMac(on); }}),
        caption("Registers a system wake for each start. Turning this on installs the wake helper "
                "\u2014 one admin approval."),
    };
    if (wake && helper.state() != WakeHelperClient::State::active) {
        WakeHelperClient* client = &helper;
        rows.push_back(HStack(
            VAlign::center, 10,
            {caption("\u26A0 On, but the wake helper isn't approved \u2014 "
                     "scheduled wakes can't fire yet",
                     true),
             Button("Enable", [client] { client->install(); }).controlSize(ControlSize::small)}));
    }
    if (wake && rule.acOnly) {
        rows.push_back(caption(
            "\u26A0 AC-only: the wake can fire on battery, but the rule then skips.", true));
    }
    return Group(std::move(rows));
}

View ScheduleRuleEditor::lockRows() const {
    std::vector<View> rows{
        flagToggle("Lock to the password screen at fire", &TriggerRule::lockAtFire),
        caption("A wake lands on authentication; firing while in use locks (system lock \u2014 "
                "never bypasses your password). The display stays lit at the lock screen until "
                "sign-in."),
    };
    if (rule.lockAtFire.value_or(false) && prefs.blockBuiltInKeyboard()) {
        rows.push_back(caption(
            "\u26A0 Devices \u203A \u201CDisable the built-in keyboard\u201D is ON \u2014 with no "
            "external keyboard connected you won't be able to type your password. The block "
            "auto-releases when no external input is present.",
            true));
    }
    return Group(std::move(rows));
}

View ScheduleRuleEditor::enforcementRows() const {
    const bool enforce = rule.endsManual.value_or(false);
    return Group({
        flagToggle("Also end manual sessions", &TriggerRule::endsManual),
        enforce ? caption("\u26A0 Enforcement: this rule's end/disable action will stop sessions "
                          "you started by hand \u2014 normally rules never touch manual sessions.",
                          true)
                : caption("Off: this rule's end action touches only trigger-started sessions."),
    });
}

View ScheduleRuleEditor::body() const {
    const ScheduleRuleEditor self = *this;
    std::vector<View> rows{
        edits.nameRow(rule),
        LabeledContent(
            "Kind",
            Picker("Kind",
                   Binding<std::string>{[kind = rule.schedKind.value_or("window")] { return kind; },
                                        [self](const std::string& kind) { self.setKind(kind); }},
                   {Text("Repeating window").tag("window"), Text("One-time").tag("oneshot")})
                .labelsHidden()
                .frame(150)),
        rule.isOneShot() ? oneShotRows() : windowRows(),
        wakeRows(),
        lockRows(),
        enforcementRows(),
    };
    if (prefs.deactivateOnBattery() && rule.onAppear == TriggerAction::startSession) {
        rows.push_back(
            caption("\u26A0 \u201CDisable Orvel while on battery\u201D (Battery/Power) "
                    "outranks all rules \u2014 on battery, a session this rule starts "
                    "ends immediately.",
                    true));
    }
    rows.push_back(ACOnlyToggle{engine, rule}.body());
    rows.push_back(EditorFooter{engine, rule, expanded}.body());
    return VStack(HAlign::leading, 8, std::move(rows)).font(Font::system(12.5));
}

}  // namespace orvel
