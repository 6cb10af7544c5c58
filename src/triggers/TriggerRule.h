#pragma once

#include <cstdint>
#include <string>

#include "foundation/UUID.h"

namespace orvel {

// Which family of conditions a rule watches.
enum class TriggerSource { bluetooth, wifiSSID, network, schedule, app };

// What an edge of a rule's condition does.
enum class TriggerAction { startSession, endSession, nothing };

// One trigger rule.
//
// This is its first, least form: the fields every rule has. The fields of each family, the
// stored form and equality come with the trigger rules themselves.
struct TriggerRule {
    UUID id = UUID::random();
    std::string name;
    TriggerSource source = TriggerSource::app;
    bool enabled = true;
    TriggerAction onAppear = TriggerAction::startSession;
    TriggerAction onClear = TriggerAction::endSession;
    std::int64_t durationSeconds = 0;
    bool acOnly = false;
    bool unavailableHere = false;
};

}  // namespace orvel
