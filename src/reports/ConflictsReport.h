#pragma once

#include <string>

namespace orvel {

// The CONFLICTS section of the support texts: the setting conflicts the notes would show, one
// short line each, then the power conditions holding things back now. Lines joined by "\n",
// none at the end; reads the shared services and changes nothing. Names stay as the user wrote
// them: the caller redacts the whole text.
std::string conflictsReport();

}  // namespace orvel
