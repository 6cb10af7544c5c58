#include "platform/linux/ProcFiles.h"

#include <algorithm>
#include <sstream>

namespace orvel::proc {

std::optional<StatFields> parseStat(std::string_view text) {
    const auto close = text.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    StatFields stat;
    std::istringstream fields{std::string(text.substr(close + 1))};
    std::string state;
    long long value = 0;
    fields >> state >> stat.parent;
    for (int field = 5; field <= 22 && fields >> value; ++field) {
        if (field == 7) {
            stat.tty = static_cast<int>(value);
        } else if (field == 22) {
            stat.startTime = static_cast<std::uint64_t>(value);
        }
    }
    return stat;
}

std::optional<uid_t> parseStatusUid(std::string_view text) {
    std::istringstream status{std::string(text)};
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            uid_t uid = 0;
            std::istringstream(line.substr(4)) >> uid;
            return uid;
        }
    }
    return std::nullopt;
}

std::vector<std::string> splitNul(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace orvel::proc
