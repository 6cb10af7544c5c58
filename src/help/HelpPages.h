#pragma once

#include <functional>
#include <optional>
#include <string>

#include "help/HelpSection.h"
#include "ui/View.h"

namespace orvel {
class LicenseAgreement;
class Paths;
class WakeHelperClient;
}  // namespace orvel

// The help pages, one type per page, each a value of what it shows beyond its text (most have
// nothing). Pages are written from the blocks of help/HelpBlocks.h.
namespace orvel::help {

#define ORVEL_HELP_PAGE(Name)  \
    struct Name {              \
        ui::View body() const; \
    };

ORVEL_HELP_PAGE(HelpWhatItDoes)
ORVEL_HELP_PAGE(HelpTheMenu)
ORVEL_HELP_PAGE(HelpSleepSwitches)
ORVEL_HELP_PAGE(HelpDeviceSwitches)
ORVEL_HELP_PAGE(HelpDurations)
ORVEL_HELP_PAGE(HelpTriggers)
ORVEL_HELP_PAGE(HelpDrives)
ORVEL_HELP_PAGE(HelpBatteryPower)
ORVEL_HELP_PAGE(HelpCommandLine)
ORVEL_HELP_PAGE(HelpPersistence)
ORVEL_HELP_PAGE(HelpShortcuts)
ORVEL_HELP_PAGE(HelpTroubleshooting)
ORVEL_HELP_PAGE(HelpAccessibility)
ORVEL_HELP_PAGE(HelpLanguages)

#undef ORVEL_HELP_PAGE

struct HelpPermissions {
    // Known only when the wake helper is active: the row's mark.
    std::optional<bool> wakeHelperGranted;
    ui::View body() const;
};

struct HelpAcknowledgments {
    std::string licensesDirectory;
    std::function<void()> showAgreement;
    ui::View body() const;
};

}  // namespace orvel::help

namespace orvel {

// Builds the help pages with what they show of the running program: the wake helper's state,
// the installed licence texts and the agreement's window. Main thread only.
class HelpPages {
  public:
    // The wake helper comes through an accessor: it reads its registration when it is built,
    // which belongs to the moment its page is shown.
    HelpPages(std::function<const WakeHelperClient&()> wakeHelper, Paths& paths,
              LicenseAgreement& agreement);
    HelpPages(const HelpPages&) = delete;
    HelpPages& operator=(const HelpPages&) = delete;
    static HelpPages& shared();

    // The page of a section.
    ui::View pageBody(HelpSection section) const;

  private:
    std::function<const WakeHelperClient&()> wakeHelper_;
    Paths& paths_;
    LicenseAgreement& agreement_;
};

}  // namespace orvel
