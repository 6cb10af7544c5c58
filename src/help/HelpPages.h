#pragma once

#include "help/HelpSection.h"
#include "ui/View.h"

// The help pages, one type per page, each a value without fields. Pages are written from the
// blocks of help/HelpBlocks.h; those still empty have their text to come.
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
ORVEL_HELP_PAGE(HelpPermissions)
ORVEL_HELP_PAGE(HelpCommandLine)
ORVEL_HELP_PAGE(HelpPersistence)
ORVEL_HELP_PAGE(HelpShortcuts)
ORVEL_HELP_PAGE(HelpTroubleshooting)
ORVEL_HELP_PAGE(HelpAccessibility)
ORVEL_HELP_PAGE(HelpLanguages)
ORVEL_HELP_PAGE(HelpAcknowledgments)

#undef ORVEL_HELP_PAGE

// The page of a section.
ui::View pageBody(HelpSection section);

}  // namespace orvel::help
