#include "settings/TroubleshootingView.h"

#include "core/OrvelController.h"
#include "foundation/Localization.h"
#include "ui/Host.h"

namespace orvel {

namespace {

ui::View header(std::string key) {
    using namespace ui;
    return Text(std::move(key))
        .font(Font::system(10, FontWeight::semibold))
        .foregroundStyle(Hierarchy::tertiary);
}

ui::View caption(std::string key) {
    using namespace ui;
    return Text(std::move(key))
        .font(Font::style(TextStyle::caption))
        .foregroundStyle(Hierarchy::secondary)
        .fixedSize(false, true);
}

ui::View limitationRow(std::string title, std::string detail) {
    using namespace ui;
    return VStack(HAlign::leading, 2,
                  {Text(std::move(title)).font(Font::system(13)), caption(std::move(detail))});
}

std::string call(const std::function<std::string()>& source) {
    return source ? source() : std::string();
}

}  // namespace

std::string architectureText(std::string_view machine) {
    return machine.empty() ? std::string("Unknown") : std::string(machine);
}

TroubleshootingView::TroubleshootingView(OrvelController& controller, DiagnosticsSources sources,
                                         ResetOwners reset, std::function<void()> clearViewState)
    : controller_(controller),
      sources_(std::move(sources)),
      reset_(std::move(reset)),
      clearViewState_(std::move(clearViewState)) {}

std::vector<ObservableObject*> TroubleshootingView::observedObjects() {
    return {&controller_};
}

void TroubleshootingView::deliver(std::string text) {
    if (redactIdentifiers() && sources_.redact) {
        text = sources_.redact(text);
    }
    diagnosticText = text;
    ui::UiHost::current().pasteboard().setString(diagnosticText());
}

void TroubleshootingView::runSelfTest() {
    if (building_ || !sources_.selfTest) {
        return;
    }
    building_ = true;
    std::optional<std::string> text = sources_.selfTest();
    if (text) {
        *text += "\n\n" + call(sources_.auditSections) + "\n\n" + call(sources_.conflicts);
    }
    building_ = false;
    if (text) {
        deliver(std::move(*text));
    }
}

void TroubleshootingView::copyReport() {
    if (building_ || !sources_.report) {
        return;
    }
    building_ = true;
    std::optional<std::string> text = sources_.report();
    building_ = false;
    if (text) {
        deliver(*text + "\n\n" + call(sources_.conflicts));
    }
}

ui::View TroubleshootingView::diagnosticsSection() {
    using namespace ui;
    std::vector<View> buttons = {Button("Run Self-Test", [this] { runSelfTest(); }),
                                 Button("Copy Report", [this] { copyReport(); })};
    if (!diagnosticText().empty()) {
        buttons.push_back(Text("Copied to clipboard")
                              .font(Font::style(TextStyle::caption))
                              .foregroundStyle(Hierarchy::secondary));
    }
    Binding<bool> redact{[this] { return redactIdentifiers(); },
                         [this](const bool& on) { redactIdentifiers = on; }};
    std::vector<View> items = {
        header("DIAGNOSTICS"), HStack(VAlign::center, 10, std::move(buttons)),
        Toggle("Obfuscate names", redact).font(Font::style(TextStyle::caption)),
        caption("Replaces your user, computer, device, network, rule and volume names \u2014 plus "
                "anything shaped like a MAC address or UUID \u2014 with stable tokens (id-xxxx) "
                "before copying. The same name always becomes the same token, so a shared report "
                "stays readable."),
        caption(
            "Self-Test briefly dims the backlight and internal display to check whether the "
            "hardware actually responds, restores both, then audits every permission and "
            "capability \u2014 input blocking, Bluetooth, WiFi network name, notifications, volume "
            "access, triggers, drives, session state, and power: internal battery presence "
            "and level, any attached UPS and whether it is providing, and whether Power Saver "
            "is on. Report captures current state without changing anything. Obfuscate names "
            "covers battery and UPS names too.")};
    if (!diagnosticText().empty()) {
        items.push_back(ScrollView(TextVerbatim(diagnosticText())
                                       .font(Font::system(10).withMonospaced())
                                       .textSelection()
                                       .frame(Frame().withMaxWidth(kInfinity).withAlignment(
                                           Alignment::leading()))
                                       .padding(8))
                            .frame(std::nullopt, 220)
                            .background(Color::named(NamedColor::primaryLabel).withOpacity(0.05),
                                        Shape::rounded(7)));
    }
    return VStack(HAlign::leading, 8, std::move(items));
}

ui::View TroubleshootingView::body() {
    using namespace ui;
    auto clearText = [this] {
        diagnosticText = std::string();
        if (clearViewState_) {
            clearViewState_();
        }
    };
    return VStack(
               HAlign::leading, 14,
               {header("THIS COMPUTER"),
                LabeledContent("System version", TextVerbatim(call(sources_.osVersion))),
                LabeledContent("Architecture",
                               TextVerbatim(architectureText(call(sources_.machine)))),
                LabeledContent("Engine in use", TextVerbatim(localized(controller_.engineName()))),
                LabeledContent("Power",
                               Text(controller_.isOnAC() ? "Connected to power" : "On battery")),
                Divider(), header("KNOWN LIMITS"),
                limitationRow("\u2212s is ignored on battery",
                              "True on every computer. Orvel greys the option out while "
                              "unplugged rather than pretending it works."),
                limitationRow("Closing the lid can still sleep the computer",
                              "No caffeinate flag or inhibitor lock Orvel takes stops logind's "
                              "lid switch handling. Clamshell operation needs an external "
                              "display and power."),
                limitationRow("\u2212u is a pulse, not a held state",
                              "With the recommended engine Orvel re-issues it every 30 seconds; "
                              "caffeinate handles this itself."),
                limitationRow("A timed session ends when the computer sleeps",
                              "System sleep only \u2014 display sleep and screen lock don't "
                              "count. Indefinite sessions survive sleep, wake and restart."),
                Divider(), diagnosticsSection(), Divider(), ResetSection(reset_, clearText)})
        .padding(24)
        .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading()));
}

}  // namespace orvel
