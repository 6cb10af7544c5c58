// The agreement's light markup (headings, quotes, bold marks), rendered into lines as the
// agreement window shows them.
#include "help/EULAGate.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(fuzz::text(data, size));
    std::size_t total = 0;
    for (const auto& line : EULAGate::renderAgreement(input)) {
        fuzz::require(line.text.find('\n') == std::string::npos, "a line holds no line break");
        total += line.text.size();
    }
    fuzz::require(total <= input.size(), "the lines come from the text");
    return 0;
}
