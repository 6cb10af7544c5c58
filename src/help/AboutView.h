#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "help/HelpSection.h"
#include "ui/ViewComponent.h"

namespace orvel {

class InputBlocker;
class LicenseAgreement;
class OrvelController;
class Workspace;

// The About window's content: name, version, what Orvel does, who makes it, the engine in use,
// the agreement, privacy and licence links, and Help, Copy Diagnostics and Feedback.
class AboutView final : public ui::ViewComponent {
  public:
    AboutView(OrvelController& controller, Workspace& workspace, LicenseAgreement& agreement,
              InputBlocker& blocker);

    ui::View body() override;
    std::vector<ObservableObject*> observedObjects() override;

    // "2.0 (17)": the version and build as `Orvel --version` prints them.
    static std::string versionString(std::string_view version, std::string_view build);

    // Puts the diagnostic report alone on the pasteboard, without asking.
    void copyDiagnostics();
    // Asks first, then opens a new mail to the feedback address.
    void sendFeedback();

    // Builds the diagnostic report; the app sets it. Unset, Copy Diagnostics logs and does
    // nothing; an empty report (one is still being built) is not copied.
    std::function<std::string()> diagnosticReport;
    // Opens Help, at a page or where it was; the app sets it. Unset, Help and the licences
    // link do nothing.
    std::function<void(std::optional<HelpSection>)> showHelp;

  private:
    ui::View infoRow(const char* label, std::string value, std::optional<std::string> link);

    OrvelController& c_;
    Workspace& workspace_;
    LicenseAgreement& agreement_;
    InputBlocker& blocker_;
};

}  // namespace orvel
