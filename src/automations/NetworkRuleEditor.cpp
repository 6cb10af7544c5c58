#include "automations/NetworkRuleEditor.h"

#include <vector>

#include "automations/ACOnlyToggle.h"
#include "automations/ActionPicker.h"
#include "automations/DurationPicker.h"
#include "automations/EditorFooter.h"
#include "automations/NetworkMatchKinds.h"
#include "automations/RuleTextEdits.h"
#include "automations/RuleWrite.h"
#include "foundation/Localization.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {

constexpr std::string_view kSSID = network_kinds::kNames[0];
constexpr std::string_view kInterfaceType = network_kinds::kNames[4];
constexpr std::string_view kVPN = network_kinds::kNames[5];

struct ValueRow {
    std::string_view kind;
    const char* label;
    const char* placeholder;
};

constexpr ValueRow kTextRows[] = {
    {network_kinds::kNames[0], "Network name", "HomeNet"},
    {network_kinds::kNames[1], "Value", "10.0.1.0/24"},
    {network_kinds::kNames[2], "Value", "10.0.1.1"},
    {network_kinds::kNames[3], "Value", "example.com"},
};

}  // namespace

std::string_view NetworkRuleEditor::kindOf(const TriggerRule& rule) {
    return rule.matcher ? network_kinds::kindName(rule.matcher->kind) : kSSID;
}

std::string NetworkRuleEditor::valueOf(const TriggerRule& rule) {
    return rule.matcher && rule.matcher->hasPayload() ? rule.matcher->value : std::string();
}

void NetworkRuleEditor::setKind(std::string_view kind) const {
    edits.flush(rule.id, kValueField);
    const bool ssid = kind == kSSID;
    writeRule(engine, rule.id, [kind, ssid](TriggerRule& stored) {
        stored.matcher = network_kinds::makeMatcher(kind, "");
        stored.source = ssid ? TriggerSource::wifiSSID : TriggerSource::network;
    });
    if (ssid) {
        source.requestLocationAuthorization();
    }
}

void NetworkRuleEditor::writeValue(TriggerRule& stored, const std::string& text) {
    const std::string_view kind = kindOf(stored);
    stored.matcher = network_kinds::makeMatcher(kind, text);
    stored.name = network_kinds::ruleName(kind, text);
}

void NetworkRuleEditor::setInterface(const std::string& type) const {
    writeRule(engine, rule.id, [&type](TriggerRule& stored) {
        stored.matcher = NetworkMatcher::interfaceType(type);
    });
}

void NetworkRuleEditor::setOnClear(TriggerAction action) const {
    writeRule(engine, rule.id, [action](TriggerRule& stored) { stored.onClear = action; });
}

View NetworkRuleEditor::valueRow(std::string_view kind) const {
    const NetworkRuleEditor self = *this;
    if (kind == kInterfaceType) {
        const std::string type = rule.matcher ? rule.matcher->value : "ethernet";
        // The kind picker above already says what this is.
        return Picker("Type",
                      Binding<std::string>{
                          [type] { return type; },
                          [self](const std::string& picked) { self.setInterface(picked); }},
                      {Text("Ethernet").tag("ethernet"), Text("WiFi").tag("wifi")})
            .labelsHidden()
            .frame(150);
    }
    for (const ValueRow& row : kTextRows) {
        if (row.kind != kind) {
            continue;
        }
        return LabeledContent(row.label,
                              edits.field(row.placeholder, rule, kValueField, valueOf, writeValue)
                                  .multilineTextAlignment(TextAlignment::trailing)
                                  .accessibilityLabel(row.label)
                                  .frame(200));
    }
    return View();
}

View NetworkRuleEditor::clearRow(bool ssid) const {
    const NetworkRuleEditor self = *this;
    std::vector<View> options;
    for (TriggerAction action : allCases<TriggerAction>()) {
        options.push_back(TextVerbatim(label(action)).tag(std::string(rawValue(action))));
    }
    const char* title = ssid ? textKey("On leaving") : textKey("On gone");
    Binding<std::string> selection{[value = rule.onClear] { return std::string(rawValue(value)); },
                                   [self](const std::string& tag) {
                                       if (auto action = fromRaw<TriggerAction>(tag)) {
                                           self.setOnClear(*action);
                                       }
                                   }};
    return LabeledContent(
        title,
        HStack(
            VAlign::center, 8,
            {Text("symmetric by default")
                 .font(Font::system(10))
                 .foregroundStyle(Hierarchy::tertiary),
             Picker(title, std::move(selection), std::move(options)).labelsHidden().frame(150)}));
}

View NetworkRuleEditor::body() const {
    const NetworkRuleEditor self = *this;
    const std::string_view kind = kindOf(rule);
    const bool ssid = kind == kSSID;
    std::vector<View> kinds;
    for (std::string_view name : network_kinds::kNames) {
        kinds.push_back(TextVerbatim(network_kinds::kindTitle(name)).tag(std::string(name)));
    }
    std::vector<View> rows{
        LabeledContent("Match", Picker("Match",
                                       Binding<std::string>{[kind] { return std::string(kind); },
                                                            [self](const std::string& picked) {
                                                                self.setKind(picked);
                                                            }},
                                       std::move(kinds))
                                    .labelsHidden()
                                    .frame(170)),
    };
    if (kind != kVPN) {
        rows.push_back(valueRow(kind));
    }
    rows.push_back(ActionPicker{engine, localized(ssid ? textKey("On join") : textKey("On seen")),
                                rule, &TriggerRule::onAppear}
                       .body());
    rows.push_back(DurationPicker{engine, rule}.body());
    rows.push_back(clearRow(ssid));
    rows.push_back(ACOnlyToggle{engine, rule}.body());
    rows.push_back(EditorFooter{engine, rule, expanded}.body());
    return VStack(HAlign::leading, 6, std::move(rows));
}

}  // namespace orvel
