#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orvel {

class DriveKeepAlive;
class OrvelController;
class PowerTriggerCenter;
class Preferences;
class TriggerEngine;

// The CONFLICTS section of the support texts: the setting conflicts the notes would show, one
// short line each, then the power conditions holding things back now. Lines joined by "\n",
// none at the end; reads its neighbours and changes nothing. Names stay as the user wrote them:
// the caller redacts the whole text.
class ConflictsReport {
  public:
    struct Neighbours {
        const Preferences& preferences;
        const TriggerEngine& engine;
        const OrvelController& controller;
        // Through an accessor: the keep-alive starts scanning when it is built, and only a
        // global disk-sleep flag makes the report look at the drives.
        std::function<const DriveKeepAlive&()> drives;
        const PowerTriggerCenter& power;
    };

    explicit ConflictsReport(Neighbours neighbours);
    ConflictsReport(const ConflictsReport&) = delete;
    ConflictsReport& operator=(const ConflictsReport&) = delete;

    std::string text() const;

  private:
    std::vector<std::string> configuredConflicts() const;

    Neighbours n_;
};

}  // namespace orvel
