// A desktop entry of any installed application, read as the launch watch indexes it: its keys,
// then the words of its Exec line. The input up to its first NUL also goes through the autostart
// entry's Exec writer, which must stay on one line and read back as the one word it quoted.
#include "platform/linux/Xdg.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::text(data, size);
    const auto keys = xdg::parseDesktopEntry(input);
    for (const char* key : {"Exec", "Name", "Type", "NoDisplay", "Hidden"}) {
        if (auto it = keys.find(key); it != keys.end()) {
            (void)xdg::execWords(it->second);
        }
    }
    const std::string program(input.substr(0, input.find('\0')));
    if (!program.empty()) {
        const std::string value = xdg::execValue(program);
        fuzz::require(value.find_first_of("\n\r") == std::string::npos,
                      "an Exec value is one line");
        const auto words = xdg::execWords(value);
        fuzz::require(words.size() == 1 && words[0] == program,
                      "an Exec value written for a program reads back as that program");
    }
    return 0;
}
