#include "foundation/TextCompare.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>
#include <string>

#include "foundation/DateFormatting.h"

namespace orvel {

namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return fromUtf8(a).caseCompare(fromUtf8(b), U_FOLD_CASE_DEFAULT) == 0;
}

int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    // Made for each call: the user's language can change while the program runs, and sorting a
    // list of running applications is rare.
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale(currentLocaleIdentifier().c_str()), status));
    if (U_FAILURE(status) || !collator) {
        const int folded = fromUtf8(a).caseCompare(fromUtf8(b), U_FOLD_CASE_DEFAULT);
        return folded < 0 ? -1 : (folded > 0 ? 1 : 0);
    }
    // Secondary strength: letters and accents count, case does not.
    collator->setStrength(icu::Collator::SECONDARY);
    status = U_ZERO_ERROR;
    const UCollationResult result = collator->compare(fromUtf8(a), fromUtf8(b), status);
    if (U_FAILURE(status)) {
        return 0;
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

}  // namespace orvel
