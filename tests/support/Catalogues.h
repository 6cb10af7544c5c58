#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Result.h"

namespace orvel::test {

// Reads texts in `language` from the catalogues under `localeDirectory` while it lives, then
// puts back English, LANGUAGE and LC_MESSAGES as they were.
class ScopedLanguage {
  public:
    ScopedLanguage(const std::string& localeDirectory, const std::string& language);
    ~ScopedLanguage();
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

  private:
    std::optional<std::string> language_;
    std::string messages_;
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

// The codes of the catalogues under po/ ("de", "es_419" …), sorted.
std::vector<std::string> poLanguages(const std::string& poDirectory);

}  // namespace orvel::test
