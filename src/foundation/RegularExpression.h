#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "foundation/Result.h"

struct URegularExpression;

namespace orvel {

// A run of bytes in a UTF-8 text.
struct TextRange {
    std::size_t start = 0;
    std::size_t end = 0;
    bool operator==(const TextRange&) const = default;
};

// A regular expression in ICU's syntax, matched over UTF-8 texts with ranges in bytes. Not
// shared between threads.
class RegularExpression {
  public:
    // An error in words when the pattern does not compile.
    static Result<RegularExpression> make(std::string_view pattern);

    // Each match over the whole text, first to last: the range of `group` (0: the whole match),
    // nothing for a match in which the group took no part.
    std::vector<std::optional<TextRange>> groupRanges(std::string_view text, int group) const;

  private:
    struct Close {
        void operator()(URegularExpression* expression) const;
    };
    explicit RegularExpression(URegularExpression* expression) : expression_(expression) {}
    std::unique_ptr<URegularExpression, Close> expression_;
};

}  // namespace orvel
