#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Result.h"

namespace orvel::test {

// Reads texts in `language` from the catalogues under `localeDirectory` while it lives, then
// puts back the language, LANGUAGE and LC_MESSAGES as they were.
class ScopedLanguage {
  public:
    ScopedLanguage(const std::string& localeDirectory, const std::string& language);
    ~ScopedLanguage();
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

  private:
    std::optional<std::string> variable_;  // LANGUAGE
    std::string messages_;
    std::string language_;
    std::string localeDirectory_;
};

// One entry of a .po file; fuzzy entries and the header are left out when read.
struct PoEntry {
    std::string msgid;
    std::optional<std::string> msgidPlural;
    std::vector<std::string> msgstr;  // one, or one per plural form
    int line = 0;
};

// The entries of a .po file by msgid, or why it could not be read.
Result<std::map<std::string, PoEntry>> readPo(const std::string& path);

// Writes a translated help page, resources/help/<language>/<page>.md, into a test's own copy of
// the English pages (the resources folder otherwise links to the source tree's).
void writeTranslatedHelpPage(const std::string& resources, const std::string& language,
                             const std::string& page, const std::string& markdown);

// The codes of the catalogues under po/ ("de", "es_419" …), sorted.
std::vector<std::string> poLanguages(const std::string& poDirectory);

}  // namespace orvel::test
