#include "help/AboutView.h"

#include <string>

#include "core/OrvelController.h"
#include "devices/InputBlocker.h"
#include "foundation/AppInfo.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "help/Contacts.h"
#include "help/EULAGate.h"
#include "help/HelpSection.h"
#include "platform/Workspace.h"
#include "ui/Host.h"

namespace orvel {

using namespace ui;

namespace {

constexpr const char* kFeedbackSubject = "Orvel%20App%20Feedback/Requests/Suggestions";
// Where the links, the buttons and the notice stop short of the window's sides, flowing on to
// another row rather than touching them.
constexpr double kRowMargin = 20;

// A scheme of letters, a colon and something after it, with nothing that needs escaping.
bool formsURL(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == url.size()) {
        return false;
    }
    for (std::size_t i = 0; i < colon; ++i) {
        const char ch = url[i];
        const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
        if (!letter &&
            !(i > 0 && ((ch >= '0' && ch <= '9') || ch == '+' || ch == '-' || ch == '.'))) {
            return false;
        }
    }
    for (const char ch : url.substr(colon + 1)) {
        if (static_cast<unsigned char>(ch) <= ' ' || ch == '"' || ch == '<' || ch == '>' ||
            ch == '\\' || ch == '^' || ch == '`' || ch == '{' || ch == '|' || ch == '}') {
            return false;
        }
    }
    return true;
}

void openURL(Workspace& workspace, const std::string& url) {
    if (!formsURL(url)) {
        return;
    }
    if (auto opened = workspace.openURL(url); !opened) {
        Logger("about").error("Could not open " + url + ": " + opened.error().message);
    }
}

}  // namespace

AboutView::AboutView(OrvelController& controller, Workspace& workspace, LicenseAgreement& agreement,
                     InputBlocker& blocker)
    : c_(controller), workspace_(workspace), agreement_(agreement), blocker_(blocker) {}

std::vector<ObservableObject*> AboutView::observedObjects() {
    return {&c_};
}

std::string AboutView::versionString(std::string_view version, std::string_view build) {
    return std::string(version) + " (" + std::string(build) + ")";
}

View AboutView::infoRow(const char* label, std::string value, std::optional<std::string> link) {
    // A long value takes more lines in its column, never more width.
    View shown = link && formsURL(*link)
                     ? Button(TextVerbatim(value),
                              [&workspace = workspace_, url = *link] { openURL(workspace, url); })
                           .buttonStyle(StandardButtonStyle::link)
                     : TextVerbatim(value).fixedSize(false, true);
    return HStack(VAlign::firstTextBaseline, 8,
                  {
                      Text(label)
                          .font(Font::system(11))
                          .foregroundStyle(Hierarchy::secondary)
                          .frame(Frame().withMinWidth(62).withAlignment(Alignment::trailing())),
                      shown.font(Font::system(12)),
                  })
        .frame(Frame::fixed(250).withAlignment(Alignment::leading()));
}

View AboutView::body() {
    auto link = [](const char* title, std::function<void()> action) {
        return Button(title, std::move(action))
            .buttonStyle(StandardButtonStyle::link)
            .font(Font::system(11));
    };
    auto openHelp = [this](std::optional<HelpSection> section) {
        if (showHelp) {
            showHelp(section);
        }
    };
    return VStack(
               HAlign::center, 0,
               {
                   // No application icon ships yet, so the layout begins with the name.
                   TextVerbatim(kAppName)
                       .font(Font::system(24, FontWeight::semibold))
                       .padding(kEdgeTop, 26),
                   TextVerbatim(
                       localizedFormat("Version %@", {versionString(appVersion(), appBuild())}))
                       .font(Font::system(11))
                       .foregroundStyle(Hierarchy::secondary)
                       .padding(kEdgeTop, 3),
                   Text(
                       "Keeps this computer awake, and quiets its built-in hardware while it does.")
                       .font(Font::system(12))
                       .foregroundStyle(Hierarchy::secondary)
                       .multilineTextAlignment(TextAlignment::center)
                       .padding(kEdgeHorizontal, 34)
                       .padding(kEdgeTop, 14),
                   Divider().padding(kEdgeHorizontal, 28).padding(kEdgeTop, 20),
                   VStack(HAlign::center, 7,
                          {
                              infoRow("Author", kAuthorName, std::nullopt),
                              infoRow("Contact", kSupportAddress,
                                      std::string("mailto:") + kSupportAddress),
                              infoRow("Engine", localized(c_.engineName()), std::nullopt),
                          })
                       .alignsColumns()
                       .padding(kEdgeTop, 16),
                   HStack(VAlign::center, 14,
                          {
                              link("License Agreement",
                                   [&agreement = agreement_] { agreement.showAgreementText(); }),
                              link("Privacy Policy",
                                   [&workspace = workspace_] {
                                       openURL(workspace, kPrivacyPolicyURL);
                                   }),
                              link("Open Source Licenses",
                                   [openHelp] { openHelp(HelpSection::acknowledgments); }),
                          })
                       .padding(kEdgeHorizontal, kRowMargin)
                       .padding(kEdgeTop, 14),
                   HStack(VAlign::center, 10,
                          {
                              Button("Help", [openHelp] { openHelp(std::nullopt); }),
                              Button("Copy Diagnostics", [this] { copyDiagnostics(); }),
                              Button("Feedback…", [this] { sendFeedback(); }),
                          })
                       .padding(kEdgeHorizontal, kRowMargin)
                       .padding(kEdgeTop, 14),
                   TextVerbatim(localizedFormat("© 2026 %@. Provided without warranty.",
                                                {std::string(kAuthorName)}))
                       .font(Font::system(10))
                       .foregroundStyle(Hierarchy::tertiary)
                       .multilineTextAlignment(TextAlignment::center)
                       .padding(EdgeInsets{18, kRowMargin, 22, kRowMargin}),
               })
        .textSelection()
        .frame(360);
}

void AboutView::copyDiagnostics() {
    if (!diagnosticReport) {
        Logger("about").error("Copy Diagnostics: no diagnostic report is available yet");
        return;
    }
    blocker_.permissionStatus();
    const std::string report = diagnosticReport();
    if (report.empty()) {
        return;  // one is still being built
    }
    UiHost::current().pasteboard().setString(report);
}

void AboutView::sendFeedback() {
    AlertContent content;
    content.style = AlertStyle::informational;
    content.messageText = localized("Send Feedback");
    content.informativeText = localizedFormat(
        "Your e-mail program will open a new message to %@ for feedback, "
        "requests or suggestions.",
        {std::string(kFeedbackAddress)});
    content.buttons = {localized("OK"), localized("Cancel")};
    if (UiHost::current().makeAlert(std::move(content))->runModal() != kAlertFirstButtonReturn) {
        return;
    }
    openURL(workspace_, std::string("mailto:") + kFeedbackAddress + "?subject=" + kFeedbackSubject);
}

}  // namespace orvel
