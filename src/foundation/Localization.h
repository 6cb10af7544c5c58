#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace orvel {

// Texts in the reader's language. A key is the English text itself, gettext's msgid: a key
// without a translation shows as it stands. Translations come from the compiled catalogues of
// Orvel's own text domain, "orvel". Main-thread only.
class Localization {
  public:
    static constexpr const char* kTextDomain = "orvel";

    static Localization& shared();

    // Reads texts from the catalogues under `localeDirectory` (<code>/LC_MESSAGES/orvel.mo) in
    // `language`, a catalogue code as catalogueLanguage gives it; "en" reads the keys themselves.
    // Sets LANGUAGE to the code, since gettext reads it on every look-up, and gives a "C"
    // LC_MESSAGES its UTF-8 form, under which gettext honours LANGUAGE at all.
    void useCatalogues(const std::string& localeDirectory, const std::string& language);
    // Uses the catalogues under `localeDirectory` in the language the environment asks for
    // (catalogueLanguage), and says which.
    std::string useEnvironmentLanguage(const std::string& localeDirectory);
    const std::string& language() const { return language_; }
    const std::string& localeDirectory() const { return localeDirectory_; }

    // Texts set in memory, ahead of the catalogue (tests, tools).
    void setTable(std::unordered_map<std::string, std::string> table);

    std::string lookup(std::string_view key) const;
    std::string lookupPlural(std::string_view singular, std::string_view plural,
                             std::int64_t count) const;

    // Told every key looked up, for checks that list the keys a program shows.
    void setLookupObserver(std::function<void(std::string_view key)> observer);

    // The environment for a program Orvel starts: Orvel's own, with LANGUAGE as the user had it
    // (or unset) where Orvel set it for its catalogues; "NAME=value" entries.
    std::vector<std::string> userEnvironment() const;

  private:
    friend class EnglishTexts;
    Localization() = default;

    std::string language_ = "en";
    std::string localeDirectory_;
    // What LANGUAGE held before Orvel set it to setLanguage_.
    std::optional<std::string> userLanguage_;
    std::optional<std::string> setLanguage_;
    int englishScopes_ = 0;
    std::unordered_map<std::string, std::string> table_;
    std::function<void(std::string_view)> observer_;
};

// While one lives, every text reads in English, the catalogue and the texts set in memory
// unread: for what stays English whatever the language (the diagnostic report, the self-test),
// since support reads it. Main-thread only.
class EnglishTexts {
  public:
    EnglishTexts() { ++Localization::shared().englishScopes_; }
    ~EnglishTexts() { --Localization::shared().englishScopes_; }
    EnglishTexts(const EnglishTexts&) = delete;
    EnglishTexts& operator=(const EnglishTexts&) = delete;
};

// What `words` says built in English, whatever the language: for records and logs.
template <class Words>
std::string inEnglish(Words&& words) {
    const EnglishTexts english;
    return words();
}

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

// The catalogue code a locale name reaches: "de" for "de_AT.UTF-8", "es_419" for every Latin
// American Spanish ("es_MX", "es_AR" …), "es_US", "es" for the rest of Spanish, "pt_BR", "pt_PT"
// for the rest of Portuguese, "nb" for "no" and "nb_NO", "zh_CN" for "zh", "zh_CN" and "zh_SG";
// other Chinese keeps its territory ("zh_TW"), which no catalogue has. "en" for English and for
// the "C" and "POSIX" locales.
std::string catalogueCode(std::string_view locale);

// The language Orvel shows, as GTK and Qt programs choose theirs: the entries of LANGUAGE in
// order, then the first of LC_ALL, LC_MESSAGES and LANG that is set; the first whose catalogue
// code is English or has a catalogue (`available`) wins, else English. LANGUAGE counts under the
// "C" locale too, so `LANGUAGE=de Orvel` works where no locale is set.
std::string catalogueLanguage(
    const std::function<bool(const std::string& code)>& available,
    const std::function<const char*(const char*)>& variable = std::getenv);

}  // namespace orvel
