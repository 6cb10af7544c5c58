// The Advanced page of the Settings window, with the power-event simulation.

#include "core/EngineKind.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/Localization.h"
#include "platform/Processes.h"
#include "settings/SettingsTransfer.h"
#include "settings/SettingsView.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "ui/Host.h"
#include "ui/SettingsStyle.h"

namespace orvel {

using namespace ui;
using settings_style::caption;

std::string SettingsView::equivalentCommandText() const {
    // Orvel's own caffeinate: the program at the usual path may be another one, or none.
    return c_.effectiveOptions().commandLine(processes_.resolve(kCaffeinatePath));
}

void SettingsView::deleteAllRules() {
    AlertContent first;
    first.messageText = localized("Delete all rules? (1 of 2)");
    first.informativeText =
        localized("This removes every Bluetooth, WiFi, and network rule on this computer.");
    first.buttons = {localized("Continue"), localized("Cancel")};
    if (UiHost::current().makeAlert(std::move(first))->runModal() != kAlertFirstButtonReturn) {
        return;
    }
    AlertContent second;
    second.style = AlertStyle::critical;
    second.messageText = localizedFormat("Really delete all %lld rules?",
                                         {static_cast<std::int64_t>(engine_.rules().size())});
    second.informativeText =
        localized("Every rule and the priority order are removed. This cannot be undone.");
    second.buttons = {localized("Delete All"), localized("Cancel")};
    if (UiHost::current().makeAlert(std::move(second))->runModal() == kAlertFirstButtonReturn) {
        engine_.deleteAll();
    }
}

View SettingsView::powerSimulationBlock() {
    using Kind = PowerTriggerCenter::SimulationKind;
    const auto simulate = [this](const char* title, Kind kind) {
        return Button(title, [this, kind] { power_.simulate(kind); });
    };
    const bool active = power_.simulationActive();
    return VStack(
        HAlign::leading, 8,
        {
            Text("SIMULATE POWER EVENTS")
                .font(Font::system(10, FontWeight::semibold))
                .foregroundStyle(Hierarchy::tertiary),
            HStack(VAlign::center, 8,
                   {simulate("Low Battery", Kind::lowBattery),
                    simulate("Recovery", Kind::batteryRecovery),
                    simulate("Power Saver On", Kind::lowPowerModeOn)}),
            HStack(VAlign::center, 8,
                   {simulate("Power Saver Off", Kind::lowPowerModeOff),
                    simulate("UPS Takeover", Kind::upsTakeover),
                    simulate("Wall Power Returns", Kind::wallPowerReturns)}),
            HStack(
                VAlign::center, 10,
                {Button("Clear Simulation", [this] { power_.clearSimulation(); }).disabled(!active),
                 If(active,
                    [] {
                        return Text(
                                   "Simulation active \u2014 Clear or a real power transition "
                                   "restores truth")
                            .font(Font::style(TextStyle::caption))
                            .foregroundStyle(Color::named(NamedColor::yellow));
                    })}),
            caption("Each button fires the matching trigger path for real and logs as simulated "
                    "\u2014 end, resume, block and UPS behavior can all be verified without "
                    "draining a battery or pulling a UPS plug."),
        });
}

// The transfer buttons, and under them what the last export or import came to. A sealed file
// finishes on a later turn, when this window may have closed.
View SettingsView::transferRow() {
    const auto told = [weakSelf = weakRef(*this)](const SettingsTransfer::Outcome& outcome) {
        if (auto* self = weakSelf.get()) {
            self->transferOutcome = outcome;
        }
    };
    std::vector<View> rows{HStack(
        VAlign::center, std::nullopt,
        {Button("Export Settings\u2026",
                [this, told] {
                    transferOutcome = std::nullopt;
                    SettingsTransfer::runExportPanel(transfer_, told);
                }),
         Button("Import\u2026",
                [this, told] {
                    transferOutcome = std::nullopt;
                    SettingsTransfer::runImportPanel(transfer_, told);
                }),
         Button(
             "Delete All Rules\u2026", [this] { deleteAllRules(); }, ButtonRole::destructive)})};
    if (const auto& outcome = transferOutcome()) {
        rows.push_back(outcome->failed ? settings_style::warning(outcome->text, true)
                                       : TextVerbatim(outcome->text)
                                             .font(Font::style(TextStyle::caption))
                                             .foregroundStyle(Hierarchy::secondary)
                                             .fixedSize(false, true)
                                             .textSelection());
    }
    return VStack(HAlign::leading, 6, std::move(rows));
}

View SettingsView::advancedPage() {
    Preferences& p = prefs_;
    Binding<std::string> engine{[&p] { return std::string(rawValue(p.engine())); },
                                [&p](const std::string& raw) {
                                    if (auto kind = fromRaw<EngineKind>(raw)) {
                                        p.engine = *kind;
                                    }
                                }};
    std::vector<View> engines;
    for (EngineKind kind : allCases<EngineKind>()) {
        engines.push_back(pickerLabel<EngineKind>(kind, [](EngineKind k) { return label(k); }));
    }
    const bool caffeinate = p.engine() == EngineKind::caffeinate;
    return Form({
        Section(
            std::nullopt,
            {
                Picker("Engine:", engine, std::move(engines)).pickerStyle(PickerStyle::radioGroup),
                If(c_.missingCaffeinate().has_value(),
                   [this] {
                       return settings_style::warning(
                           localizedFormat("Orvel's caffeinate is not at %@, so sessions run on "
                                           "logind inhibitor locks instead.",
                                           {c_.missingCaffeinate().value_or("")}),
                           true);
                   }),
                caffeinate
                    ? caption("Orvel launches its own caffeinate as a child process and "
                              "terminates it on quit. The inhibitor locks die with the process, "
                              "so nothing is left holding the system awake if Orvel crashes.")
                    : caption("Orvel holds logind inhibitor locks in-process \u2014 the same "
                              "mechanism its caffeinate uses, with no subprocess. "
                              "\u201CUntil an app quits\u201D is handled natively by watching "
                              "for the app's termination."),
                LabeledContent("Equivalent command:", TextVerbatim(equivalentCommandText())
                                                          .font(Font::system(12).withMonospaced())
                                                          .textSelection()),
            }),
        Section(
            Text("Settings transfer"),
            {
                transferRow(),
                caption("Export writes rules, priority, and every preference to one file "
                        "\u2014 optional passphrase encrypts it. Safety confirmations never "
                        "travel; imported rules for hardware this computer lacks arrive disabled "
                        "with an \u201Cunavailable\u201D badge."),
            }),
        Section(std::nullopt, {powerSimulationBlock()}),
    });
}

}  // namespace orvel
