#include "foundation/RegularExpression.h"

#include <unicode/uregex.h>
#include <unicode/utext.h>

#include <string>

namespace orvel {

void RegularExpression::Close::operator()(URegularExpression* expression) const {
    uregex_close(expression);
}

Result<RegularExpression> RegularExpression::make(std::string_view pattern) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    UText* text =
        utext_openUTF8(nullptr, pattern.data(), static_cast<int64_t>(pattern.size()), &status);
    URegularExpression* expression = uregex_openUText(text, 0, &where, &status);
    utext_close(text);
    if (U_FAILURE(status)) {
        if (expression != nullptr) {
            uregex_close(expression);
        }
        return Error{"the pattern does not compile at offset " + std::to_string(where.offset) +
                     ": " + u_errorName(status)};
    }
    return RegularExpression(expression);
}

std::vector<std::optional<TextRange>> RegularExpression::groupRanges(std::string_view text,
                                                                     int group) const {
    std::vector<std::optional<TextRange>> ranges;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) {
        return ranges;
    }
    URegularExpression* expression = expression_.get();
    uregex_setUText(expression, utext, &status);
    while (U_SUCCESS(status) && uregex_findNext(expression, &status)) {
        // The UText is UTF-8, so its native indexes are byte offsets.
        UErrorCode groupStatus = U_ZERO_ERROR;
        const int64_t start = uregex_start64(expression, group, &groupStatus);
        const int64_t end = uregex_end64(expression, group, &groupStatus);
        if (U_SUCCESS(groupStatus) && start >= 0 && end >= start) {
            ranges.push_back(
                TextRange{static_cast<std::size_t>(start), static_cast<std::size_t>(end)});
        } else {
            ranges.push_back(std::nullopt);
        }
    }
    UErrorCode resetStatus = U_ZERO_ERROR;
    uregex_setText(expression, u"", 0, &resetStatus);
    utext_close(utext);
    return ranges;
}

}  // namespace orvel
