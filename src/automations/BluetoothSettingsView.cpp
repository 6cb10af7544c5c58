#include "automations/BluetoothSettingsView.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "automations/ACOnlyToggle.h"
#include "automations/ActionPicker.h"
#include "automations/DurationPicker.h"
#include "automations/EditorFooter.h"
#include "automations/PermissionStatusRow.h"
#include "automations/RuleWrite.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "platform/Bluetooth.h"
#include "reports/ConflictNotes.h"
#include "reports/PermissionAudit.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

using namespace ui;

namespace {

constexpr std::int64_t kRecoveryAboveFloor = 15;
constexpr std::int64_t kRecoveryPushedAbove = 5;
constexpr const char* kPrivacyAnchor = "Privacy_Bluetooth";

View caption(std::string key) {
    return Text(std::move(key))
        .font(Font::style(TextStyle::caption))
        .foregroundStyle(Hierarchy::secondary);
}

Binding<bool> toggleBinding(bool on, std::function<void(bool)> set) {
    return Binding<bool>{[on] { return on; },
                         [set = std::move(set)](const bool& value) { set(value); }};
}

Binding<double> stepperBinding(std::int64_t value, std::function<void(std::int64_t)> set) {
    return Binding<double>{[value] { return static_cast<double>(value); },
                           [set = std::move(set)](const double& stepped) {
                               set(static_cast<std::int64_t>(std::lround(stepped)));
                           }};
}

View percentView(std::int64_t percent, TextStyle style) {
    return TextVerbatim(BluetoothSettingsView::percentLabel(percent))
        .font(Font::style(style).withMonospacedDigits());
}

}  // namespace

BluetoothSettingsView::BluetoothSettingsView(RuleTabState state, BluetoothTriggerSource& source,
                                             Bluetooth& bluetooth, Network& network,
                                             PermissionAudit& audit)
    : engine_(*state.engine),
      source_(source),
      bluetooth_(bluetooth),
      network_(network),
      audit_(audit) {
    expanded.set(std::move(state.expanded));
    btGranted.set(state.granted);
    btStatus.set(std::move(state.status));
    levels_.set(source_.lastLevels());
}

std::vector<ObservableObject*> BluetoothSettingsView::observedObjects() {
    return {&engine_, this};
}

std::vector<TriggerRule> BluetoothSettingsView::bluetoothRules() const {
    std::vector<TriggerRule> found;
    for (const TriggerRule& rule : engine_.rules()) {
        if (rule.source == TriggerSource::bluetooth) {
            found.push_back(rule);
        }
    }
    return found;
}

void BluetoothSettingsView::addRule() {
    const auto paired = source_.pairedDevices();
    TriggerRule rule;
    rule.source = TriggerSource::bluetooth;
    rule.enabled = true;
    rule.onAppear = TriggerAction::startSession;
    rule.onClear = TriggerAction::endSession;
    rule.durationSeconds = 0;
    if (paired.empty()) {
        rule.name = localized("New device rule");
    } else {
        rule.name = paired.front().name;
        rule.btAddress = paired.front().address;
        rule.btName = paired.front().name;
    }
    const UUID id = rule.id;
    engine_.add(std::move(rule));
    std::set<UUID> open = expanded();
    open.insert(id);
    expanded = std::move(open);
}

void BluetoothSettingsView::setDevice(const UUID& rule, const std::string& address) {
    std::optional<std::string> name;
    for (const auto& device : source_.pairedDevices()) {
        if (device.address == address) {
            name = device.name;
            break;
        }
    }
    writeRule(engine_, rule, [&](TriggerRule& stored) {
        stored.btAddress = address;
        stored.btName = name;
        if (name) {
            stored.name = *name;
        }
    });
}

void BluetoothSettingsView::setFloorOn(const UUID& rule, bool on) {
    writeRule(engine_, rule, [on](TriggerRule& stored) {
        if (on) {
            stored.btBattEnd = kFloorOn;
        } else {
            stored.btBattEnd.reset();
            stored.btBattRecover.reset();
        }
    });
}

void BluetoothSettingsView::setFloor(const UUID& rule, std::int64_t floor) {
    const std::int64_t kept = std::clamp(floor, kFloorMin, kFloorMax);
    writeRule(engine_, rule, [kept](TriggerRule& stored) {
        stored.btBattEnd = kept;
        if (stored.btBattRecover && kept >= *stored.btBattRecover) {
            stored.btBattRecover = kept + kRecoveryPushedAbove;
        }
    });
}

void BluetoothSettingsView::setRecoveryOn(const UUID& rule, bool on) {
    writeRule(engine_, rule, [on](TriggerRule& stored) {
        if (!on) {
            stored.btBattRecover.reset();
        } else if (stored.btBattEnd) {
            stored.btBattRecover = std::min(*stored.btBattEnd + kRecoveryAboveFloor, kRecoveryMax);
        }
    });
}

void BluetoothSettingsView::setRecovery(const UUID& rule, std::int64_t recovery) {
    writeRule(engine_, rule, [recovery](TriggerRule& stored) {
        if (stored.btBattEnd) {
            stored.btBattRecover =
                std::min(std::max(recovery, recoveryMinimum(*stored.btBattEnd)), kRecoveryMax);
        }
    });
}

std::int64_t BluetoothSettingsView::recoveryMinimum(std::int64_t floor) {
    return std::min<std::int64_t>(floor, kRecoveryMax - 1) + 1;
}

std::string BluetoothSettingsView::percentLabel(std::int64_t percent) {
    return percentText(static_cast<double>(percent) / 100.0);
}

void BluetoothSettingsView::refresh() {
    const bool granted = bluetooth_.authorization() == BluetoothAuthorization::allowedAlways;
    if (granted && !btGranted()) {
        engine_.syncSources();
    }
    if (granted != btGranted()) {
        btGranted = granted;
    }
    if (std::string status = audit_.bluetoothStatusText(); status != btStatus()) {
        btStatus = std::move(status);
    }
    if (const auto& levels = source_.lastLevels(); levels != levels_()) {
        levels_ = levels;
    }
}

void BluetoothSettingsView::enable() {
    if (bluetooth_.authorization() != BluetoothAuthorization::notDetermined) {
        audit_.openPrivacySettings(kPrivacyAnchor);
        return;
    }
    // The answer arrives with a later refresh.
    bluetooth_.requestAuthorization();
}

View BluetoothSettingsView::body() {
    auto self = WeakRef(*this);
    auto refresh = [self] {
        if (auto* view = self.get()) {
            view->refresh();
        }
    };
    return Form({rulesSection(), permissionSection()})
        .onAppear(refresh)
        .onTimer(kRefreshInterval, refresh);
}

View BluetoothSettingsView::rulesSection() {
    ExpandedRules open{[this] { return expanded(); },
                       [this](const std::set<UUID>& ids) {
                           if (ids != expanded()) {
                               expanded = ids;
                           }
                       }};
    RuleEditor makeEditor = [this, open](const TriggerRule& rule) { return editor(rule, open); };
    std::vector<View> rows;
    for (const TriggerRule& rule : bluetoothRules()) {
        rows.push_back(
            RuleRow{engine_, network_, rule, open, makeEditor}.body().id(rule.id.uuidString()));
    }
    rows.push_back(Button("Add Rule\u2026", [this] { addRule(); }));
    return Section(
        Text("Bluetooth rules"), std::move(rows),
        caption("Connect and disconnect actions touch only trigger-started sessions; the battery "
                "floors are safety triggers and end any session. Battery levels are reported "
                "only while a device is connected \u2014 one that dies away from the computer is "
                "caught by its disconnect rule instead, and with several battery rules, all "
                "devices must recover before re-enable. Adding your first rule asks BlueZ for "
                "the paired devices \u2014 never at launch."));
}

View BluetoothSettingsView::permissionSection() {
    std::vector<View> rows{
        PermissionStatusRow(localized("Bluetooth"), btStatus(), btGranted(), [this] { enable(); }),
    };
    if (!btGranted()) {
        rows.push_back(Text("Without Bluetooth permission, device rules can never fire. Every "
                            "other part of Orvel works.")
                           .font(Font::style(TextStyle::caption))
                           .foregroundStyle(Color::orange()));
    }
    return Section(Text("Permission"), std::move(rows));
}

View BluetoothSettingsView::editor(const TriggerRule& rule, const ExpandedRules& open) {
    std::vector<View> rows{
        deviceRow(rule),
        ActionPicker{engine_, localized("On connect"), rule, &TriggerRule::onAppear}.body(),
        DurationPicker{engine_, rule}.body(),
        ActionPicker{engine_, localized("On disconnect"), rule, &TriggerRule::onClear}.body(),
        floorRow(rule),
    };
    if (rule.btBattEnd) {
        rows.push_back(recoveryRow(rule));
    }
    rows.push_back(Embed(std::make_shared<BTRuleConflictNote>(engine_, rule)));
    rows.push_back(ACOnlyToggle{engine_, rule}.body());
    rows.push_back(EditorFooter{engine_, rule, open}.body());
    return VStack(HAlign::leading, 6, std::move(rows));
}

View BluetoothSettingsView::deviceRow(const TriggerRule& rule) {
    std::vector<View> options;
    for (const auto& device : source_.pairedDevices()) {
        options.push_back(TextVerbatim(device.name).tag(device.address));
    }
    Binding<std::string> selection{
        [address = rule.btAddress.value_or("")] { return address; },
        [this, id = rule.id](const std::string& address) { setDevice(id, address); }};
    return LabeledContent(
        "Device",
        Picker("Device", std::move(selection), std::move(options)).labelsHidden().frame(200));
}

View BluetoothSettingsView::floorRow(const TriggerRule& rule) {
    const UUID id = rule.id;
    std::vector<View> row{
        Toggle(
            "End sessions when battery drops below",
            toggleBinding(rule.btBattEnd.has_value(), [this, id](bool on) { setFloorOn(id, on); })),
    };
    if (rule.btBattEnd) {
        row.push_back(Stepper(
            percentView(*rule.btBattEnd, TextStyle::body),
            stepperBinding(*rule.btBattEnd, [this, id](std::int64_t v) { setFloor(id, v); }),
            static_cast<double>(kFloorMin), static_cast<double>(kFloorMax)));
        if (rule.btAddress) {
            const auto& levels = levels_();
            if (auto found = levels.find(BluetoothTriggerSource::deviceKey(*rule.btAddress));
                found != levels.end()) {
                row.push_back(TextVerbatim(localizedFormat("now %@", {percentLabel(found->second)}))
                                  .font(Font::style(TextStyle::caption))
                                  .foregroundStyle(Hierarchy::secondary));
            }
        }
    }
    return HStack(VAlign::center, 8, std::move(row));
}

View BluetoothSettingsView::recoveryRow(const TriggerRule& rule) {
    const UUID id = rule.id;
    std::vector<View> row{
        Toggle("Re-enable when it recovers above",
               toggleBinding(rule.btBattRecover.has_value(),
                             [this, id](bool on) { setRecoveryOn(id, on); })),
    };
    if (rule.btBattRecover) {
        row.push_back(Stepper(
            percentView(*rule.btBattRecover, TextStyle::body),
            stepperBinding(*rule.btBattRecover, [this, id](std::int64_t v) { setRecovery(id, v); }),
            static_cast<double>(recoveryMinimum(rule.btBattEnd.value_or(0))),
            static_cast<double>(kRecoveryMax)));
    }
    return HStack(VAlign::center, 8, std::move(row));
}

}  // namespace orvel
