#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "foundation/Data.h"
#include "foundation/Result.h"

namespace orvel {

// The string table. A key is the English text itself, so a missing entry shows the key.
// Main-thread only.
class Localization {
  public:
    static Localization& shared();

    // Replaces the table with the string values of a JSON object file ({"key": "text", …}).
    Result<void> loadTable(const std::string& path);
    // Loads the table of a language, "<folder>/<language>.json". English needs none, the keys
    // being the English texts, so for "en" nothing is looked for and the table is emptied; a
    // language without a table reads in English as well, which is no failure.
    Result<void> loadLanguage(const std::string& folder, std::string_view language);
    void setTable(std::unordered_map<std::string, std::string> table);

    std::string lookup(std::string_view key) const;

    // Told every key looked up, for checks that list the keys a program shows.
    void setLookupObserver(std::function<void(std::string_view key)> observer);

  private:
    Localization() = default;
    Result<void> useTable(const std::string& path, const Data& bytes);

    std::unordered_map<std::string, std::string> table_;
    std::function<void(std::string_view)> observer_;
};

using FormatArg = std::variant<std::string, std::int64_t>;

// Fills the placeholders of a format text: "%@" takes the next argument as text, "%lld" as a
// whole number, "%1$@" and "%2$lld" take the numbered argument, and "%%" is a percent sign. A
// placeholder without an argument is left out.
std::string formatText(std::string_view format, std::initializer_list<FormatArg> args);

// Marks a key written away from the call that shows it, for scripts/update-po; the key as is.
constexpr const char* textKey(const char* key) {
    return key;
}

// The localised text of a key, and of a format key filled with arguments.
std::string localized(std::string_view key);
std::string localizedFormat(std::string_view key, std::initializer_list<FormatArg> args);
// The singular or plural key as the language counts `count`, filled with arguments; "%lld" in
// either key is usually the count itself, passed again among the arguments.
std::string localizedPlural(std::string_view singular, std::string_view plural, std::int64_t count,
                            std::initializer_list<FormatArg> args);

// The language messages are read in: the first of LANGUAGE (its first entry), LC_ALL,
// LC_MESSAGES and LANG that is set, without territory, codeset and modifier ("de" for
// "de_DE.UTF-8"); "en" for the "C" and "POSIX" locales or when none is set.
std::string messagesLanguage(const std::function<const char*(const char*)>& variable = std::getenv);

}  // namespace orvel
