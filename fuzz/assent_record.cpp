// The agreement record, eula-assent.json, read at every start to decide whether to show the
// agreement; a record that decodes must be writable again.
#include "foundation/Json.h"
#include "help/EULAGate.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto record = EULAGate::AssentRecord::decode(fuzz::text(data, size));
    if (!record) {
        fuzz::require(!record.error().message.empty(), "a refused record says why");
        return 0;
    }
    const auto text = dumpJson(record->toJson());
    fuzz::require(text.ok(), "a decoded record encodes");
    fuzz::require(EULAGate::AssentRecord::decode(*text).ok(), "an encoded record decodes");
    return 0;
}
