#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/Published.h"
#include "foundation/RawEnum.h"
#include "foundation/UUID.h"

namespace orvel {

class UserDefaults;

// One logged decision.
struct ActivityEntry {
    enum class Kind { started, ended, shielded, rearmed, simulated, info };

    UUID id;
    Date date;
    Kind kind = Kind::info;
    std::string title;
    std::string detail;

    // A new entry with a fresh identifier and the current time.
    static ActivityEntry make(Kind kind, std::string title, std::string detail = {});

    Json toJson() const;
    static Result<ActivityEntry> fromJson(const Json& json);
    bool operator==(const ActivityEntry&) const = default;
};

template <>
struct EnumTraits<ActivityEntry::Kind> {
    using K = ActivityEntry::Kind;
    static constexpr std::array<EnumCase<K>, 6> cases{{
        {K::started, "started"},
        {K::ended, "ended"},
        {K::shielded, "shielded"},
        {K::rearmed, "rearmed"},
        {K::simulated, "simulated"},
        {K::info, "info"},
    }};
};

// The newest 50 decisions, newest first, kept in the user defaults under "trigger.log".
// Main thread, except add(), which any thread may call.
class ActivityLog final : public ObservableObject {
  public:
    static constexpr std::size_t kCapacity = 50;
    static constexpr const char* kDefaultsKey = "trigger.log";

    // Reads the stored log.
    explicit ActivityLog(UserDefaults& defaults);

    Published<std::vector<ActivityEntry>> entries{*this, {}};

    // Records an entry on the next turn of the main loop (also when called there), in the log
    // `reach` returns then: the graph of services names its own and puts the one before back as
    // it goes. With none named, the entry is dropped.
    static void add(ActivityEntry entry);
    // Returns the reach named before.
    static std::function<ActivityLog&()> setInstalled(std::function<ActivityLog&()> reach);
    // Empties the log and removes its stored copy.
    void clear();
    // The log as a text block for the diagnostic report; `redact` replaces titles with
    // pseudonyms and leaves details out.
    std::string exportText(bool redact) const;

    // The stored text decoded: the newest `kCapacity` entries of the list as stored, those of
    // them that decode, how many did not, and how many older ones were left out.
    struct Stored {
        Json list = Json::array();
        std::vector<ActivityEntry> entries;
        std::size_t skipped = 0;
        std::size_t dropped = 0;
    };
    static Result<Stored> decodeStored(std::string_view text);

  private:
    void append(ActivityEntry entry);
    void save();

    UserDefaults& defaults_;

    // The stored list as it was read, newest first: entries that could not be decoded are kept
    // here as they were, so that an append never drops them for being unreadable.
    Json stored_ = Json::array();
    Logger log_{"activity"};
};

}  // namespace orvel
