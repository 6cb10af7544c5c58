// The activity log kept in the settings: the list is read as stored, entry by entry; every entry
// that decodes must encode and decode back to itself.
#include "core/ActivityLog.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto stored = ActivityLog::decodeStored(fuzz::text(data, size));
    if (!stored) {
        fuzz::require(!stored.error().message.empty(), "a refused log says why");
        return 0;
    }
    fuzz::require(stored->entries.size() + stored->skipped == stored->list.size(),
                  "each stored entry is either decoded or counted as skipped");
    for (const auto& entry : stored->entries) {
        const auto back = ActivityEntry::fromJson(entry.toJson());
        fuzz::require(back.ok() && *back == entry, "an encoded entry decodes to itself");
    }
    return 0;
}
