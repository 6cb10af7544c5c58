#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::ui {

// A run of text with one set of inline styles.
struct TextRun {
    std::string text;
    bool bold = false;
    bool italic = false;
    bool code = false;
    std::string link;  // the target of a link; empty for plain text
    bool operator==(const TextRun&) const = default;
};

// For test output.
std::ostream& operator<<(std::ostream& out, const TextRun& run);

// Splits inline Markdown into runs: **bold** or __bold__, *italic* or _italic_, `code`,
// [text](url), and backslash escapes. Unclosed markers stay as plain text.
std::vector<TextRun> parseInlineMarkdown(std::string_view text);

// The text without its markup.
std::string plainText(const std::vector<TextRun>& runs);

}  // namespace orvel::ui
