#pragma once

#include <functional>
#include <string>

#include "settings/UpdateSchedule.h"
#include "ui/ViewComponent.h"

namespace orvel {

class LicenseAgreement;

// The General page's update section: a "Check for Updates…" button and a schedule picker, both
// always disabled since no update mechanism is built in, and what is missing said beside them.
// It starts no check, no timer and no network access. Main thread only.
class UpdateCheckSection final : public ui::ViewComponent {
  public:
    // `checkForUpdates` is what the button would ask for, were it ever enabled.
    UpdateCheckSection(UserDefaults& defaults, std::function<void()> checkForUpdates);

    ui::View body() override;

    Published<UpdateSchedule> schedule;

  private:
    UserDefaults& defaults_;
    std::function<void()> checkForUpdates_;
};

// The General page's agreement row: when the user agreed, read afresh from the assent record
// at every evaluation, and a button that shows the agreement text.
class AgreementRow final : public ui::ViewComponent {
  public:
    explicit AgreementRow(LicenseAgreement& agreement) : agreement_(agreement) {}

    ui::View body() override;

    // "v" + version + " on " + the date and time in the locale's medium date and short time,
    // or "Not yet" when the record is missing or unreadable.
    static std::string agreedText(LicenseAgreement& agreement);

  private:
    LicenseAgreement& agreement_;
};

}  // namespace orvel
