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

// A block of a Markdown document; inline markup stays in its texts.
struct MarkdownBlock {
    enum class Kind { heading, paragraph, code, quote, table };
    Kind kind = Kind::paragraph;
    // A heading's, a paragraph's or a quote's lines joined with single spaces; a code block's
    // lines as they stand, joined with line breaks.
    std::string text;
    int level = 0;  // of a heading
    // A table's rows, the header first, each cell trimmed; the row of dashes under the header
    // is left out.
    std::vector<std::vector<std::string>> rows;
    bool operator==(const MarkdownBlock&) const = default;
};

// Splits Markdown into blocks: "#" headings, paragraphs (lines up to a blank one), fenced code
// ("```" lines, an unclosed fence running to the end), "> " quotes and "|" tables. A heading,
// fence, quote or table line ends the paragraph before it. Lists and indented code are
// paragraphs.
std::vector<MarkdownBlock> parseMarkdownBlocks(std::string_view text);

}  // namespace orvel::ui
