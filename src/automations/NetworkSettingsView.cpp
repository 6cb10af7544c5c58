#include "automations/NetworkSettingsView.h"

#include "automations/NetworkRuleEditor.h"
#include "automations/PermissionStatusRow.h"
#include "foundation/Localization.h"
#include "platform/Network.h"
#include "reports/PermissionAudit.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {

View caption(const std::string& key) {
    return Text(key).font(Font::style(TextStyle::caption)).foregroundStyle(Hierarchy::secondary);
}

}  // namespace

NetworkSettingsView::NetworkSettingsView(RuleTabState state, NetworkTriggerSource& source,
                                         Network& network, PermissionAudit& audit)
    : expanded(*this, std::move(state.expanded)),
      locGranted(*this, state.granted),
      locStatus(*this, std::move(state.status)),
      engine_(*state.engine),
      source_(source),
      network_(network),
      audit_(audit),
      edits_(*state.engine) {}

std::vector<ObservableObject*> NetworkSettingsView::observedObjects() {
    return {&engine_, &edits_, this};
}

std::vector<TriggerRule> NetworkSettingsView::networkRules() const {
    std::vector<TriggerRule> found;
    for (const TriggerRule& rule : engine_.rules()) {
        if (rule.source == TriggerSource::wifiSSID || rule.source == TriggerSource::network) {
            found.push_back(rule);
        }
    }
    return found;
}

void NetworkSettingsView::addRule() {
    TriggerRule rule;
    rule.name = localized("New network rule");
    rule.source = TriggerSource::wifiSSID;
    rule.enabled = true;
    rule.matcher = NetworkMatcher::ssid("");
    rule.onAppear = TriggerAction::startSession;
    rule.onClear = TriggerAction::endSession;
    rule.durationSeconds = 0;
    rule.acOnly = false;
    const UUID id = rule.id;
    engine_.add(std::move(rule));
    std::set<UUID> open = expanded();
    open.insert(id);
    expanded = open;
    source_.requestLocationAuthorization();
}

void NetworkSettingsView::refreshPermission() {
    const bool granted =
        network_.locationAuthorization() == LocationAuthorization::authorizedAlways;
    std::string status = audit_.locationStatusText();
    if (granted != locGranted()) {
        locGranted = granted;
    }
    if (status != locStatus()) {
        locStatus = std::move(status);
    }
}

View NetworkSettingsView::body() {
    return Form({rulesSection(), permissionSection()})
        .onAppear([this] { refreshPermission(); })
        .onTimer(kPermissionRefreshInterval, [this] { refreshPermission(); });
}

View NetworkSettingsView::rulesSection() {
    ExpandedRules open{[this] { return expanded(); },
                       [this](const std::set<UUID>& ids) { expanded = ids; }};
    RuleEditor editor = [open, engine = &engine_, edits = &edits_,
                         source = &source_](const TriggerRule& rule) {
        return NetworkRuleEditor{rule, open, *engine, *edits, *source}.body();
    };
    std::vector<View> rows;
    for (const TriggerRule& rule : networkRules()) {
        rows.push_back(
            RuleRow{engine_, network_, rule, open, editor}.body().id(rule.id.uuidString()));
    }
    rows.push_back(Button("Add Rule\u2026", [this] { addRule(); }));
    rows.push_back(
        caption("One matcher per rule \u2014 combine by adding several rules. SSID rules read "
                "the network's name from NetworkManager; no permission is asked for it."));
    return Section(Text("WiFi and network rules"), std::move(rows));
}

View NetworkSettingsView::permissionSection() {
    std::vector<View> rows{PermissionStatusRow(localized("WiFi network name"), locStatus(),
                                               locGranted(),
                                               [&audit = audit_] { audit.requestLocation(); })};
    if (!locGranted()) {
        rows.push_back(Text("Only WiFi SSID rules need the network's name \u2014 without it they "
                            "cannot match. Gateway, IP-range, domain, interface and VPN rules work "
                            "regardless.")
                           .font(Font::style(TextStyle::caption))
                           .foregroundStyle(Color::orange())
                           .fixedSize(false, true));
    }
    return Section(Text("Permission"), std::move(rows));
}

}  // namespace orvel
