#include "foundation/Localization.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "foundation/Registry.h"
#include "support/Catalogues.h"

namespace orvel {
namespace {

class LocalizationTest : public ::testing::Test {
  protected:
    void TearDown() override { Registry::reset(); }
};

TEST_F(LocalizationTest, FillsPlaceholders) {
    struct Case {
        const char* format;
        std::initializer_list<FormatArg> args;
        const char* out;
    };
    const Case cases[] = {
        {"Started session — %@", {std::string("1 hour")}, "Started session — 1 hour"},
        {"%lld rules", {std::int64_t{3}}, "3 rules"},
        {"%@ of %lld", {std::string("a"), std::int64_t{-2}}, "a of -2"},
        {"%2$@ before %1$@", {std::string("one"), std::string("two")}, "two before one"},
        {"100%% sure", {}, "100% sure"},
        {"missing %@.", {}, "missing ."},
        {"odd %d and trailing %", {}, "odd %d and trailing %"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatText(c.format, c.args), c.out) << c.format;
    }
}

class CatalogueTest : public LocalizationTest {
  protected:
    // As a program that never set a locale, where gettext alone ignores LANGUAGE.
    void SetUp() override { std::setlocale(LC_MESSAGES, "C"); }

    test::ScopedLanguage restore{ORVEL_TEST_LOCALE, "en"};
};

TEST_F(CatalogueTest, TextsComeFromTheCatalogueOfTheLanguageAndMissingKeysShowTheKey) {
    auto& l10n = Localization::shared();
    EXPECT_EQ(localized("Quit Orvel"), "Quit Orvel") << "English before any catalogue";

    l10n.useCatalogues(ORVEL_TEST_LOCALE, "de");
    EXPECT_EQ(l10n.language(), "de");
    EXPECT_EQ(localized("Quit Orvel"), "Orvel beenden");
    EXPECT_EQ(localized("Not in the catalogue"), "Not in the catalogue");
    EXPECT_EQ(localized(""), "") << "the empty key is no way to the catalogue's header";
    EXPECT_EQ(localizedFormat("Imported %1$@, %2$@ and %3$@.",
                              {std::string("a"), std::string("b"), std::string("c")}),
              "a, b und c importiert.");
    l10n.setTable({{"Quit Orvel", "set in memory"}});
    EXPECT_EQ(localized("Quit Orvel"), "set in memory") << "a text set in memory comes first";
    l10n.setTable({});

    // Another language replaces what gettext had cached of the first.
    l10n.useCatalogues(ORVEL_TEST_LOCALE, "fi");
    EXPECT_EQ(localized("Quit Orvel"), "Lopeta Orvel");
    EXPECT_EQ(localized("Sleep allowed"), "Sleep allowed") << "not in the Finnish catalogue";

    l10n.useCatalogues(ORVEL_TEST_LOCALE, "en");
    EXPECT_EQ(localized("Quit Orvel"), "Quit Orvel");
    // A language without a catalogue reads the keys.
    l10n.useCatalogues(ORVEL_TEST_LOCALE, "sv");
    EXPECT_EQ(localized("Quit Orvel"), "Quit Orvel");
}

TEST_F(CatalogueTest, PluralTextsCountAsTheLanguageDoes) {
    struct Case {
        const char* language;
        std::int64_t count;
        const char* text;
    };
    const Case cases[] = {
        {"en", 0, "0 rules · quiet"},       {"en", 1, "1 rule · quiet"},
        {"en", 2, "2 rules · quiet"},       {"de", 1, "1 Regel · ruhig"},
        {"de", 0, "0 Regeln · ruhig"},      {"de", 21, "21 Regeln · ruhig"},
        {"ja", 1, "1 件のルール · 待機中"}, {"ja", 5, "5 件のルール · 待機中"},
        {"fi", 3, "3 rules · quiet"},  // no entry: English counts
    };
    for (const auto& c : cases) {
        Localization::shared().useCatalogues(ORVEL_TEST_LOCALE, c.language);
        EXPECT_EQ(localizedPlural("%lld rule \u00B7 quiet", "%lld rules \u00B7 quiet", c.count,
                                  {c.count}),
                  c.text)
            << c.language << " " << c.count;
    }
}

TEST_F(CatalogueTest, TheEnvironmentsLanguageIsUsedEvenWhereNoLocaleIsSet) {
    const char* lang = std::getenv("LANG");
    const std::optional<std::string> savedLang =
        lang == nullptr ? std::nullopt : std::optional<std::string>(lang);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    for (const char* locale : {"C.UTF-8", "C", ""}) {
        SCOPED_TRACE(locale);
        ::setenv("LANG", locale, 1);
        ::setenv("LANGUAGE", "ja:de", 1);
        EXPECT_EQ(Localization::shared().useEnvironmentLanguage(ORVEL_TEST_LOCALE), "ja");
        EXPECT_EQ(localized("Quit Orvel"), "Orvel を終了");
        ::setenv("LANGUAGE", "pt_BR:de_AT", 1);  // no Brazilian catalogue among the tests'
        EXPECT_EQ(Localization::shared().useEnvironmentLanguage(ORVEL_TEST_LOCALE), "de");
        EXPECT_EQ(localized("Quit Orvel"), "Orvel beenden");
        ::unsetenv("LANGUAGE");
        EXPECT_EQ(Localization::shared().useEnvironmentLanguage(ORVEL_TEST_LOCALE), "en");
        EXPECT_EQ(localized("Quit Orvel"), "Quit Orvel");
    }
    if (savedLang) {
        ::setenv("LANG", savedLang->c_str(), 1);
    } else {
        ::unsetenv("LANG");
    }
}

TEST(CatalogueCodeTest, LocalesReachTheirLanguagesCatalogue) {
    const std::pair<const char*, const char*> cases[] = {
        {"de_DE.UTF-8", "de"},
        {"de_AT", "de"},
        {"fr_CA.utf8", "fr"},
        {"es_ES.UTF-8", "es"},
        {"es", "es"},
        {"es_MX.UTF-8", "es_419"},
        {"es_AR", "es_419"},
        {"es_CL@euro", "es_419"},
        {"es_419", "es_419"},
        {"es_US", "es_US"},
        {"pt_BR.UTF-8", "pt_BR"},
        {"pt_PT", "pt_PT"},
        {"pt", "pt_PT"},
        {"nb_NO.UTF-8", "nb"},
        {"no_NO", "nb"},
        {"nb", "nb"},
        {"zh_CN.UTF-8", "zh_CN"},
        {"zh", "zh_CN"},
        {"zh_SG", "zh_CN"},
        {"zh_TW.UTF-8", "zh_TW"},
        {"ja_JP.eucJP", "ja"},
        {"sr@latin", "sr"},
        {"en_GB.UTF-8", "en"},
        {"C.UTF-8", "en"},
        {"POSIX", "en"},
        {"", "en"},
    };
    for (const auto& [locale, code] : cases) {
        EXPECT_EQ(catalogueCode(locale), code) << locale;
    }
}

TEST(CatalogueLanguageTest, TheFirstEntryWithACatalogueWinsAndTheCLocaleIsEnglish) {
    const std::set<std::string> catalogues{"de", "fr", "es_419", "pt_PT", "nb", "zh_CN"};
    struct Case {
        std::map<std::string, std::string> variables;
        const char* language;
    };
    const Case cases[] = {
        {{}, "en"},
        {{{"LANG", "de_DE.UTF-8"}}, "de"},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_CA"}}, "fr"},
        {{{"LC_MESSAGES", "fr_CA"}, {"LC_ALL", "es_MX.UTF-8"}}, "es_419"},
        {{{"LC_ALL", "pt_BR"}, {"LANGUAGE", "nl:de"}}, "de"},  // no Dutch: the next entry
        {{{"LANGUAGE", "ru:uk"}, {"LANG", "fr_FR"}}, "fr"},    // none listed: the locale
        {{{"LANGUAGE", "ru"}, {"LANG", "ru_RU"}}, "en"},
        {{{"LANGUAGE", "::de::"}}, "de"},
        {{{"LANGUAGE", ""}, {"LANG", "es_AR"}}, "es_419"},
        {{{"LANGUAGE", "de"}, {"LANG", "C.UTF-8"}}, "de"},
        {{{"LANGUAGE", "de"}}, "de"},
        {{{"LANGUAGE", "en_GB:de"}}, "en"},  // English asked for first
        {{{"LANG", "C.UTF-8"}}, "en"},
        {{{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}, "en"},
        {{{"LANG", "pt"}}, "pt_PT"},
        {{{"LANG", "no_NO"}}, "nb"},
        {{{"LANG", "zh_TW"}}, "en"},
    };
    for (const auto& c : cases) {
        const auto language =
            catalogueLanguage([&](const std::string& code) { return catalogues.contains(code); },
                              [&c](const char* name) -> const char* {
                                  const auto it = c.variables.find(name);
                                  return it == c.variables.end() ? nullptr : it->second.c_str();
                              });
        EXPECT_EQ(language, c.language) << ::testing::PrintToString(c.variables);
    }
}

}  // namespace
}  // namespace orvel
