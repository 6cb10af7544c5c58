#include "reports/ReportRedaction.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "core/RedactedIdentifier.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/Log.h"
#include "foundation/RegularExpression.h"
#include "platform/SystemInfo.h"
#include "reports/ReportWords.h"
#include "triggers/TriggerEngine.h"

namespace orvel {

namespace {

// Shorter names are left alone: they would hit too much that is not theirs.
constexpr std::size_t kShortestName = 3;

std::size_t codePoints(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool isWordByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || std::isalnum(byte) != 0;
}

// Whether putting a token over [start, end) would cut into a word the formats write, or
// replace one whole on its own.
bool touchesFormatWord(std::string_view text, std::size_t start, std::size_t end) {
    if (start >= end) {
        return true;
    }
    const auto wordAround = [&](std::size_t i) {
        std::size_t from = i;
        while (from > 0 && isWordByte(text[from - 1])) {
            --from;
        }
        std::size_t to = i;
        while (to < text.size() && isWordByte(text[to])) {
            ++to;
        }
        return std::pair{from, to};
    };
    if (isWordByte(text[start])) {
        const auto [from, to] = wordAround(start);
        if (isReportFormatWord(text.substr(from, to - from)) && !(from == start && to < end)) {
            return true;
        }
    }
    if (isWordByte(text[end - 1])) {
        const auto [from, to] = wordAround(end - 1);
        if (isReportFormatWord(text.substr(from, to - from)) && !(to == end && from > start)) {
            return true;
        }
    }
    return false;
}

// The text being redacted and the tokens already in it, in order.
struct Redacting {
    std::string text;
    std::vector<TextRange> tokens;

    bool overlapsToken(TextRange range) const {
        auto after = std::upper_bound(
            tokens.begin(), tokens.end(), range.start,
            [](std::size_t start, const TextRange& token) { return start < token.start; });
        if (after != tokens.begin() && std::prev(after)->end > range.start) {
            return true;
        }
        return after != tokens.end() && after->start < range.end;
    }

    // Puts the token of each range's own text over it; ranges are in order, apart from each
    // other and from the tokens already in.
    void replace(const std::vector<TextRange>& ranges) {
        if (ranges.empty()) {
            return;
        }
        std::string next;
        next.reserve(text.size());
        std::vector<TextRange> nextTokens;
        nextTokens.reserve(tokens.size() + ranges.size());
        std::size_t copied = 0;
        auto old = tokens.begin();
        const auto copyTo = [&](std::size_t position) {
            // Tokens already in keep their text and move with it.
            for (; old != tokens.end() && old->start < position; ++old) {
                next.append(text, copied, old->start - copied);
                const std::size_t at = next.size();
                next.append(text, old->start, old->end - old->start);
                nextTokens.push_back({at, next.size()});
                copied = old->end;
            }
            next.append(text, copied, position - copied);
            copied = position;
        };
        for (const TextRange& range : ranges) {
            copyTo(range.start);
            const std::size_t at = next.size();
            next += redactedIdentifier(
                std::string_view(text).substr(range.start, range.end - range.start));
            nextTokens.push_back({at, next.size()});
            copied = range.end;
        }
        copyTo(text.size());
        text = std::move(next);
        tokens = std::move(nextTokens);
    }

    void replaceNames(const std::vector<std::string>& names) {
        std::vector<std::string> ordered;
        for (const std::string& name : std::set<std::string>(names.begin(), names.end())) {
            if (codePoints(name) >= kShortestName) {
                ordered.push_back(name);
            }
        }
        std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
            return codePoints(a) > codePoints(b);
        });
        // Every name is looked for in the text as it stands before any token goes in: with no
        // replacement allowed over another, that is the same as replacing one name at a time.
        std::map<std::size_t, std::size_t> taken;
        const auto isTaken = [&](std::size_t start, std::size_t end) {
            auto after = taken.upper_bound(start);
            if (after != taken.begin() && std::prev(after)->second > start) {
                return true;
            }
            return after != taken.end() && after->first < end;
        };
        for (const std::string& name : ordered) {
            std::size_t at = 0;
            while ((at = text.find(name, at)) != std::string::npos) {
                const std::size_t end = at + name.size();
                if (isTaken(at, end) || touchesFormatWord(text, at, end)) {
                    ++at;
                    continue;
                }
                taken.emplace(at, end);
                at = end;
            }
        }
        std::vector<TextRange> ranges;
        ranges.reserve(taken.size());
        for (const auto& [start, end] : taken) {
            ranges.push_back({start, end});
        }
        replace(ranges);
    }

    void replaceMatches(std::string_view pattern, int group) {
        auto expression = RegularExpression::make(pattern);
        if (!expression) {
            Logger("diagnostics").error("Redaction pattern skipped: " + expression.error().message);
            return;
        }
        std::vector<TextRange> ranges;
        for (const auto& range : expression->groupRanges(text, group)) {
            if (range && range->end <= text.size() && !overlapsToken(*range) &&
                !touchesFormatWord(text, range->start, range->end) &&
                (ranges.empty() || ranges.back().end <= range->start)) {
                ranges.push_back(*range);
            }
        }
        replace(ranges);
    }
};

}  // namespace

ReportRedaction::ReportRedaction(SystemInfo& system, const TriggerEngine& engine,
                                 std::function<const DriveKeepAlive&()> drives)
    : system_(system), engine_(engine), drives_(std::move(drives)) {}

std::vector<std::string> ReportRedaction::gatheredNames() const {
    std::vector<std::string> names;
    const auto add = [&names](std::string name) {
        if (!name.empty()) {
            names.push_back(std::move(name));
        }
    };
    add(system_.fullUserName());
    add(system_.userName());
    std::string home = system_.homeDirectory();
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    add(home.substr(home.rfind('/') + 1));
    if (auto host = system_.localizedHostName()) {
        add(*host);
    }
    for (const TriggerRule& rule : engine_.rules()) {
        add(rule.name);
        if (rule.btName) {
            add(*rule.btName);
        }
        if (rule.btAddress) {
            add(*rule.btAddress);
        }
        if (rule.matcher && rule.matcher->hasPayload()) {
            add(rule.matcher->value);
        }
    }
    for (const DriveKeepAlive::Drive& drive : drives_().drives()) {
        add(drive.name);
        if (drive.remountURL) {
            add(*drive.remountURL);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string ReportRedaction::obfuscate(std::string_view text) const {
    return obfuscate(text, gatheredNames());
}

std::string ReportRedaction::obfuscate(std::string_view text,
                                       const std::vector<std::string>& names) {
    Redacting redacting{std::string(text), {}};
    redacting.replaceNames(names);
    redacting.replaceMatches(kDeviceLinePattern, 2);
    redacting.replaceMatches(kMACPattern, 0);
    redacting.replaceMatches(kUUIDPattern, 0);
    return std::move(redacting.text);
}

std::string ReportRedaction::replaceMatches(std::string_view text, std::string_view pattern,
                                            int group) {
    Redacting redacting{std::string(text), {}};
    redacting.replaceMatches(pattern, group);
    return std::move(redacting.text);
}

}  // namespace orvel
