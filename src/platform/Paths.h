#pragma once

#include <string>

// Where Orvel keeps its files. Threading: any thread (the answers do not change while the
// program runs). Folders are named, not created: a writer creates what it needs.

namespace orvel {

class Paths {
  public:
    virtual ~Paths() = default;

    // Data that Orvel makes and keeps (logs, saved state).
    virtual std::string applicationSupportDirectory() = 0;
    // Settings (the user defaults file lives here).
    virtual std::string configDirectory() = 0;
    // Read-only files shipped with Orvel (help pages, texts, icons).
    virtual std::string resourcesDirectory() = 0;
    // What concerns this login session (a record of devices Orvel switched off), in a folder no
    // other user may write to.
    virtual std::string runtimeDirectory() = 0;
};

}  // namespace orvel
