#include "ui/Markdown.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <utility>

namespace orvel::ui {

namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {
        nextCache_.fill({std::string_view::npos, std::string_view::npos});
    }

    std::vector<TextRun> run() {
        parse(0, text_.size(), TextRun{});
        flush();
        return std::move(runs_);
    }

  private:
    void emit(const TextRun& style, std::string_view piece) {
        if (piece.empty()) {
            return;
        }
        if (!current_.text.empty() &&
            (current_.bold != style.bold || current_.italic != style.italic ||
             current_.code != style.code || current_.link != style.link)) {
            flush();
        }
        if (current_.text.empty()) {
            current_ = style;
            current_.text.clear();
        }
        current_.text += piece;
    }

    void flush() {
        if (!current_.text.empty()) {
            runs_.push_back(current_);
        }
        current_ = TextRun{};
    }

    // The end of a marker that starts at `from`, searching before `end`; npos when unclosed.
    // A failed search is remembered for its end: every later start in the same range fails too,
    // so a run of unclosed markers costs linear rather than quadratic time.
    std::size_t closing(std::string_view marker, std::size_t from, std::size_t end) {
        const auto key = std::make_pair(std::string(marker), end);
        if (const auto failed = unclosedFrom_.find(key);
            failed != unclosedFrom_.end() && from >= failed->second) {
            return std::string_view::npos;
        }
        const std::size_t found = scanForClosing(marker, from, end);
        if (found == std::string_view::npos) {
            auto& earliest = unclosedFrom_.try_emplace(key, from).first->second;
            earliest = std::min(earliest, from);
        }
        return found;
    }

    std::size_t scanForClosing(std::string_view marker, std::size_t from, std::size_t end) const {
        for (std::size_t i = from; i + marker.size() <= end; ++i) {
            if (text_[i] == '\\') {
                ++i;
                continue;
            }
            if (text_.compare(i, marker.size(), marker) == 0 && i > from) {
                // In "***x***" the bold marker closes at the last two stars.
                if (marker.size() == 2 && i + 2 < end && text_[i + 2] == marker[0]) {
                    continue;
                }
                return i;
            }
        }
        return std::string_view::npos;
    }

    // The first `c` at or after `from`, remembering the last answer so that repeated searches
    // over the same stretch (a row of unclosed links or code spans) are not repeated scans.
    std::size_t next(char c, std::size_t from) {
        auto& [cachedFrom, cachedAt] = nextCache_[static_cast<unsigned char>(c)];
        if (cachedFrom != std::string_view::npos && from >= cachedFrom && from <= cachedAt) {
            return cachedAt;
        }
        cachedFrom = from;
        cachedAt = text_.find(c, from);
        return cachedAt;
    }

    void parse(std::size_t begin, std::size_t end, TextRun style) {
        std::size_t i = begin;
        while (i < end) {
            const char c = text_[i];
            if (c == '\\' && i + 1 < end) {
                emit(style, text_.substr(i + 1, 1));
                i += 2;
                continue;
            }
            if (c == '`') {
                const std::size_t close = next('`', i + 1);
                if (close != std::string_view::npos && close < end) {
                    TextRun code = style;
                    code.code = true;
                    emit(code, text_.substr(i + 1, close - i - 1));
                    i = close + 1;
                    continue;
                }
            }
            if (c == '[') {
                const std::size_t closeText = closing("]", i + 1, end);
                if (closeText != std::string_view::npos && closeText + 1 < end &&
                    text_[closeText + 1] == '(') {
                    const std::size_t closeUrl = next(')', closeText + 2);
                    if (closeUrl != std::string_view::npos && closeUrl < end) {
                        TextRun link = style;
                        link.link =
                            std::string(text_.substr(closeText + 2, closeUrl - closeText - 2));
                        parse(i + 1, closeText, link);
                        i = closeUrl + 1;
                        continue;
                    }
                }
            }
            if (c == '*' || c == '_') {
                const bool doubled = i + 1 < end && text_[i + 1] == c;
                const std::string marker(doubled ? 2 : 1, c);
                const std::size_t close = closing(marker, i + marker.size(), end);
                // Underscores inside words (snake_case) are not markup.
                const bool wordInside =
                    c == '_' && i > begin && std::isalnum(static_cast<unsigned char>(text_[i - 1]));
                if (close != std::string_view::npos && !wordInside) {
                    TextRun inner = style;
                    (doubled ? inner.bold : inner.italic) = true;
                    parse(i + marker.size(), close, inner);
                    i = close + marker.size();
                    continue;
                }
            }
            emit(style, text_.substr(i, 1));
            ++i;
        }
    }

    std::string_view text_;
    std::vector<TextRun> runs_;
    TextRun current_;
    std::map<std::pair<std::string, std::size_t>, std::size_t> unclosedFrom_;
    std::array<std::pair<std::size_t, std::size_t>, 256> nextCache_;
};

}  // namespace

std::vector<TextRun> parseInlineMarkdown(std::string_view text) {
    return Parser(text).run();
}

std::ostream& operator<<(std::ostream& out, const TextRun& run) {
    out << '"' << run.text << '"';
    if (run.bold)
        out << " bold";
    if (run.italic)
        out << " italic";
    if (run.code)
        out << " code";
    if (!run.link.empty())
        out << " link=" << run.link;
    return out;
}

std::string plainText(const std::vector<TextRun>& runs) {
    std::string out;
    for (const auto& run : runs) {
        out += run.text;
    }
    return out;
}

namespace {

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The number of '#' before the heading's text, or 0 when the line is no heading.
int headingLevel(std::string_view line) {
    const auto hashes = line.find_first_not_of('#');
    if (hashes == 0 || hashes > 6 || hashes == std::string_view::npos || line[hashes] != ' ') {
        return 0;
    }
    return static_cast<int>(hashes);
}

bool isFence(std::string_view line) {
    return line.starts_with("```");
}

std::vector<std::string> cellsOf(std::string_view line) {
    line = trimmed(line);
    line.remove_prefix(1);
    if (line.ends_with('|')) {
        line.remove_suffix(1);
    }
    std::vector<std::string> cells;
    for (;;) {
        const auto bar = line.find('|');
        cells.emplace_back(trimmed(line.substr(0, bar)));
        if (bar == std::string_view::npos) {
            return cells;
        }
        line.remove_prefix(bar + 1);
    }
}

bool isDelimiterRow(const std::vector<std::string>& cells) {
    return std::all_of(cells.begin(), cells.end(), [](const std::string& cell) {
        return !cell.empty() && cell.find_first_not_of("-:") == std::string::npos;
    });
}

}  // namespace

std::vector<MarkdownBlock> parseMarkdownBlocks(std::string_view text) {
    using Kind = MarkdownBlock::Kind;
    const auto lines = linesOf(text);
    const auto startsBlock = [](std::string_view line) {
        return headingLevel(line) > 0 || isFence(line) || line.starts_with('>') ||
               line.starts_with('|');
    };
    // Lines of one kind joined with spaces, from `i` while `belongs` holds.
    const auto joined = [&](std::size_t& i, auto belongs, auto strip) {
        std::string out;
        for (; i < lines.size() && belongs(lines[i]); ++i) {
            const std::string_view part = trimmed(strip(lines[i]));
            if (!out.empty() && !part.empty()) {
                out += ' ';
            }
            out += part;
        }
        return out;
    };
    std::vector<MarkdownBlock> blocks;
    std::size_t i = 0;
    while (i < lines.size()) {
        const std::string_view line = lines[i];
        MarkdownBlock block;
        if (trimmed(line).empty()) {
            ++i;
            continue;
        }
        if (const int level = headingLevel(line)) {
            block.kind = Kind::heading;
            block.level = level;
            block.text = trimmed(line.substr(static_cast<std::size_t>(level)));
            ++i;
        } else if (isFence(line)) {
            block.kind = Kind::code;
            for (std::size_t first = ++i; i < lines.size() && !isFence(lines[i]); ++i) {
                block.text += (i == first ? "" : "\n") + std::string(lines[i]);
            }
            ++i;  // past the closing fence
        } else if (line.starts_with('>')) {
            block.kind = Kind::quote;
            block.text = joined(
                i, [](std::string_view l) { return l.starts_with('>'); },
                [](std::string_view l) { return l.substr(1); });
        } else if (line.starts_with('|')) {
            block.kind = Kind::table;
            for (; i < lines.size() && lines[i].starts_with('|'); ++i) {
                auto cells = cellsOf(lines[i]);
                if (!isDelimiterRow(cells)) {
                    block.rows.push_back(std::move(cells));
                }
            }
        } else {
            block.text = joined(
                i, [&](std::string_view l) { return !trimmed(l).empty() && !startsBlock(l); },
                [](std::string_view l) { return l; });
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

}  // namespace orvel::ui
