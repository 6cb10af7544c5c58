// The settings file, defaults.json: decoded as the store reads it at start-up and before each
// write; whatever decodes must encode and decode back to the same settings.
#include "platform/linux/FileUserDefaults.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string fault;
    const auto domain = FileUserDefaults::decode(fuzz::text(data, size), &fault);
    if (!domain) {
        fuzz::require(!fault.empty(), "a refused file says why");
        return 0;
    }
    std::string again;
    const auto back = FileUserDefaults::decode(FileUserDefaults::encode(*domain), &again);
    fuzz::require(back.has_value(), "an encoded domain decodes");
    fuzz::require(*back == *domain, "an encoded domain decodes to the same settings");
    return 0;
}
