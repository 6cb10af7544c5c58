// Inline Markdown of a text node, to the headless host's plain text: runs carry only the input's
// own characters.
#include "ui/Markdown.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::text(data, size);
    const auto runs = ui::parseInlineMarkdown(input);
    const std::string plain = ui::plainText(runs);
    fuzz::require(plain.size() <= input.size(), "the plain text is no longer than the markup");
    for (const auto& run : runs) {
        fuzz::require(!run.text.empty(), "no run is empty");
    }
    return 0;
}
