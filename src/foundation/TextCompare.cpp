#include "foundation/TextCompare.h"

#include <unicode/bytestream.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
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

// Composed and case-folded, so that matching by code units respects canonical equivalence.
icu::UnicodeString foldedForSearch(std::string_view text, uint32_t foldOptions) {
    icu::UnicodeString s = fromUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString composed = nfc->normalize(s, status);
        if (U_SUCCESS(status)) {
            s = composed;
        }
    }
    s.foldCase(foldOptions);
    status = U_ZERO_ERROR;
    if (nfc != nullptr) {
        icu::UnicodeString composed = nfc->normalize(s, status);
        if (U_SUCCESS(status)) {
            s = composed;
        }
    }
    return s;
}

bool isTabOrSpaceSeparator(UChar32 c) {
    return c == u'\t' || u_charType(c) == U_SPACE_SEPARATOR;
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

bool localizedCaseInsensitiveContains(std::string_view text, std::string_view query) {
    if (query.empty()) {
        return true;
    }
    const std::string language = icu::Locale(currentLocaleIdentifier().c_str()).getLanguage();
    const uint32_t options = (language == "tr" || language == "az") ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                                                                    : U_FOLD_CASE_DEFAULT;
    const icu::UnicodeString haystack = foldedForSearch(text, options);
    const icu::UnicodeString needle = foldedForSearch(query, options);
    for (int32_t at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + 1)) {
        // A match that ends inside a letter's accents is a different letter: "e" in "é" spelt
        // without a composed form.
        const int32_t end = at + needle.length();
        if (end >= haystack.length() || u_getCombiningClass(haystack.char32At(end)) == 0) {
            return true;
        }
    }
    return false;
}

std::string trimmingHorizontalWhitespace(std::string_view text) {
    const icu::UnicodeString s = fromUtf8(text);
    int32_t start = 0;
    int32_t end = s.length();
    while (start < end && isTabOrSpaceSeparator(s.char32At(start))) {
        start = s.moveIndex32(start, 1);
    }
    while (end > start && isTabOrSpaceSeparator(s.char32At(s.moveIndex32(end, -1)))) {
        end = s.moveIndex32(end, -1);
    }
    std::string out;
    s.tempSubStringBetween(start, end).toUTF8String(out);
    return out;
}

std::string composedText(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return std::string(text);
    }
    const icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
    if (nfc->isNormalizedUTF8(piece, status) && U_SUCCESS(status)) {
        return std::string(text);
    }
    status = U_ZERO_ERROR;
    std::string composed;
    icu::StringByteSink<std::string> sink(&composed);
    nfc->normalizeUTF8(0, piece, sink, nullptr, status);
    return U_SUCCESS(status) ? composed : std::string(text);
}

bool composedLess(std::string_view a, std::string_view b) {
    // UTF-8 bytes order as their code points do.
    return composedText(a) < composedText(b);
}

}  // namespace orvel
