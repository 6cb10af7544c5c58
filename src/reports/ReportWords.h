#pragma once

#include <string_view>
#include <vector>

namespace orvel {

// The words (runs of letters and digits) that the diagnostic report, the self-test and the
// audit sections write themselves, as opposed to the names and values they show. Redaction
// leaves them whole. Kept beside the formats: a test holds it to them.
const std::vector<std::string_view>& reportFormatWords();
bool isReportFormatWord(std::string_view word);

}  // namespace orvel
