// Another process's /proc files: stat, status, cmdline and environ hold what that process chose
// (its name, its arguments, its environment), so each reader takes the whole input.
#include "platform/linux/ProcFiles.h"

#include "FuzzSupport.h"

using namespace orvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::text(data, size);
    (void)proc::parseStat(input);
    (void)proc::parseStatusUid(input);
    std::size_t total = 0;
    for (const auto& word : proc::splitNul(input)) {
        fuzz::require(word.find('\0') == std::string::npos, "a word holds no NUL");
        total += word.size() + 1;
    }
    fuzz::require(total <= input.size() + 1, "the words come from the input");
    if (const auto entry = proc::parseLaunchEnvironment(input, 1).launchedEntry) {
        fuzz::require(entry->find('/') == std::string::npos, "a desktop id holds no slash");
    }
    return 0;
}
