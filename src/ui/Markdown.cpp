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

}  // namespace orvel::ui
