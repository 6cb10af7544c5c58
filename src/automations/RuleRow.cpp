#include "automations/RuleRow.h"

#include "automations/RuleWrite.h"
#include "foundation/Localization.h"
#include "platform/Network.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {
std::uint64_t holdingTests = 0;
}  // namespace

TriggerEngine::Standing RuleRow::standing(const TriggerEngine& engine, const TriggerRule& rule) {
    ++holdingTests;
    return engine.standing(rule);
}

bool RuleRow::isHolding(const TriggerEngine& engine, const TriggerRule& rule) {
    return standing(engine, rule) == TriggerEngine::Standing::holding;
}

std::uint64_t RuleRow::holdingTestCount() {
    return holdingTests;
}

View RuleRow::badge(const std::string& textKey, Color color) {
    return Text(textKey)
        .font(Font::system(8.5, FontWeight::bold))
        .foregroundStyle(color)
        .padding(EdgeInsets{1.5, 5, 1.5, 5})
        .overlay(Stroke{color.withOpacity(0.5), 1, Shape::rounded(3, true)});
}

std::optional<RuleRow::Badge> RuleRow::firstBadge() const {
    if (rule.unavailableHere) {
        return Badge{textKey("UNAVAILABLE ON THIS COMPUTER"), Color::orange()};
    }
    using Standing = TriggerEngine::Standing;
    // Checked before the switch: a rule that cannot fire says so also while it is off.
    if (const auto missing = TriggerEngine::missingChoice(rule)) {
        return *missing == Standing::needsDevice
                   ? Badge{textKey("CHOOSE A DEVICE"), Color::orange(),
                           textKey("No device is chosen: this rule starts and ends nothing until "
                                   "one is.")}
                   : Badge{textKey("CHOOSE AN APPLICATION"), Color::orange(),
                           textKey("No application is chosen: this rule starts and ends nothing "
                                   "until one is.")};
    }
    if (!rule.enabled) {
        return std::nullopt;
    }
    switch (standing(engine, rule)) {
        case Standing::holding:
            return Badge{textKey("HOLDING"), Color::green(), {}};
        case Standing::waitsForNextOpening:
            return Badge{textKey("STARTS AT NEXT OPENING"), Color::named(NamedColor::blue),
                         textKey("The window is open but started no session; it starts one the "
                                 "next time it opens.")};
        case Standing::quiet:
        case Standing::needsDevice:
        case Standing::needsApplication:
            break;
    }
    return std::nullopt;
}

std::optional<RuleRow::Badge> RuleRow::secondBadge() const {
    if (!rule.matcher || rule.matcher->kind != NetworkMatcher::Kind::ssid) {
        return std::nullopt;
    }
    if (network.locationAuthorization() == LocationAuthorization::authorizedAlways) {
        return std::nullopt;
    }
    return Badge{textKey("NEEDS LOCATION"), Color::orange()};
}

void RuleRow::toggleExpanded() const {
    std::set<UUID> open = expanded.get();
    if (!open.erase(rule.id)) {
        open.insert(rule.id);
    }
    expanded.set(open);
}

void RuleRow::setEnabled(bool on) const {
    writeRule(engine, rule.id, [on](TriggerRule& stored) { stored.enabled = on; });
}

View RuleRow::body() const {
    const bool open = expanded.get().count(rule.id) != 0;
    std::vector<View> title{TextVerbatim(rule.name).font(Font::system(13, FontWeight::semibold))};
    for (const auto& slot : {firstBadge(), secondBadge()}) {
        if (slot) {
            View shown = badge(slot->text, slot->color);
            if (!slot->help.empty()) {
                shown = shown.help(slot->help);
            }
            title.push_back(std::move(shown));
        }
    }
    const RuleRow self = *this;
    View enable = Toggle(TextVerbatim(rule.name),
                         Binding<bool>{[enabled = rule.enabled] { return enabled; },
                                       [self](const bool& on) { self.setEnabled(on); }})
                      .labelsHidden()
                      .toggleStyle(ToggleStyle::switchStyle)
                      .controlSize(ControlSize::small)
                      .disabled(rule.unavailableHere)
                      .accessibilityLabelVerbatim(localizedFormat("Enable %@", {rule.name}));
    View header = HStack(VAlign::center, 10,
                         {
                             Image("chevron.right", open ? 90 : 0)
                                 .font(Font::system(9, FontWeight::semibold))
                                 .foregroundStyle(Hierarchy::tertiary),
                             VStack(HAlign::leading, 1,
                                    {HStack(VAlign::center, 6, std::move(title)),
                                     TextVerbatim(rule.chips())
                                         .font(Font::system(10.5, FontWeight::regular))
                                         .foregroundStyle(Hierarchy::secondary)}),
                             Spacer(),
                             std::move(enable),
                         })
                      .onTapGesture([self] { self.toggleExpanded(); });
    std::vector<View> rows{std::move(header)};
    if (open && editor) {
        rows.push_back(editor(rule).padding(EdgeInsets{6, 19, 0, 0}));
    }
    return VStack(HAlign::leading, 0, std::move(rows)).padding(kEdgeVertical, 3);
}

}  // namespace orvel
