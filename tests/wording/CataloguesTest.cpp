#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/Catalogues.h"

namespace orvel {
namespace {

// The argument each placeholder of a format text takes, as formatText fills them ("%@" and
// "%lld" the next, "%2$@" the second), with its type; nothing when the text mixes numbered and
// unnumbered placeholders, which a translator cannot order safely.
std::optional<std::map<std::size_t, std::string>> arguments(std::string_view text) {
    std::map<std::size_t, std::string> out;
    std::size_t next = 0;
    bool numbered = false, unnumbered = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            continue;
        }
        std::string_view rest = text.substr(i + 1);
        if (rest.front() == '%') {
            ++i;
            continue;
        }
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
            ++digits;
        }
        std::optional<std::size_t> position;
        if (digits > 0 && digits < rest.size() && rest[digits] == '$') {
            position = std::stoul(std::string(rest.substr(0, digits)));
            rest = rest.substr(digits + 1);
        }
        const std::string type = rest.starts_with("@") ? "@" : rest.starts_with("lld") ? "lld" : "";
        if (type.empty()) {
            continue;  // shown as it stands
        }
        (position ? numbered : unnumbered) = true;
        const std::size_t index = position ? *position - 1 : next++;
        if (const auto it = out.find(index); it != out.end() && it->second != type) {
            return std::nullopt;  // one argument read as two types
        }
        out[index] = type;
    }
    if (numbered && unnumbered) {
        return std::nullopt;
    }
    return out;
}

// Whether a translation takes the same arguments as its key, each as the same type.
bool keepsPlaceholders(std::string_view key, std::string_view translation) {
    const auto wanted = arguments(key);
    const auto given = arguments(translation);
    return wanted && given && *wanted == *given;
}

TEST(CataloguesTest, ATranslationMustTakeItsKeysArgumentsInAUsableOrder) {
    struct Case {
        const char* key;
        const char* translation;
        bool keeps;
    };
    const Case cases[] = {
        {"Quit Orvel", "Orvel beenden", true},
        {"Started by: %@", "Gestartet von: %@", true},
        {"%lld rules", "%lld Regeln", true},
        {"%@ of %lld", "%2$lld von %1$@", true},  // reordered by number
        {"%@ of %lld", "%lld von %@", false},     // reordered without numbers: types swap
        {"%1$@ and %2$@", "%2$@ und %1$@", true},
        {"%1$@ and %2$@", "%1$@ und %1$@", false},  // the second argument lost
        {"Move %@ up", "%@ nach oben", true},
        {"Move %@ up", "Nach oben", false},
        {"Cancel (%llds)", "Abbrechen (%@ s)", false},
        {"Cancel (%llds)", "Abbrechen (%llds) %@", false},  // one too many
        {"%@ and %@", "%1$@ und %@", false},                // numbered and not, mixed
        {"batt <%lld%%", "Akku <%lld %%", true},
        {"100%% sure", "100 % sicher", true},  // a lone percent sign is words
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keepsPlaceholders(c.key, c.translation), c.keeps)
            << c.key << " -> " << c.translation;
    }
}

TEST(CataloguesTest, EveryTranslationKeepsItsKeysPlaceholders) {
    std::vector<std::string> files;
    for (const auto& language : test::poLanguages(ORVEL_PO)) {
        files.push_back(ORVEL_PO "/" + language + ".po");
    }
    const auto fixtures = test::poLanguages(ORVEL_TEST_DATA "/po");
    ASSERT_FALSE(fixtures.empty());
    for (const auto& language : fixtures) {
        files.push_back(ORVEL_TEST_DATA "/po/" + language + ".po");
    }
    for (const auto& file : files) {
        const auto entries = test::readPo(file);
        ASSERT_TRUE(entries) << entries.error().message;
        EXPECT_FALSE(entries->empty()) << file;
        for (const auto& [key, entry] : *entries) {
            for (std::size_t form = 0; form < entry.msgstr.size(); ++form) {
                const std::string& translation = entry.msgstr[form];
                // The singular key for the first form, the plural key for the others.
                const std::string& english =
                    form == 0 || !entry.msgidPlural ? key : *entry.msgidPlural;
                EXPECT_TRUE(translation.empty() || keepsPlaceholders(english, translation))
                    << file << ":" << entry.line << ": \"" << english << "\" -> \"" << translation
                    << "\"";
            }
        }
    }
}

// The languages the Languages page names are the ones shipped: a catalogue and the help pages for
// each, and nothing more.
TEST(CataloguesTest, TheLanguagesPageNamesExactlyTheLanguagesShipped) {
    std::ifstream page(ORVEL_RESOURCES "/help/languages.md");
    ASSERT_TRUE(page);
    const std::string text{std::istreambuf_iterator<char>(page), {}};
    const auto from = text.find("Their codes:");
    ASSERT_NE(from, std::string::npos);
    const auto to = text.find("Anything untranslated", from);
    // The codes named, without the other codes in brackets that reach the same catalogue.
    const std::string codes =
        std::regex_replace(text.substr(from, to - from), std::regex("\\([^)]*\\)"), "");
    std::set<std::string> named;
    const std::regex code("`([a-z]{2}(_[A-Z0-9]+)?)`");
    for (std::sregex_iterator it(codes.begin(), codes.end(), code), end; it != end; ++it) {
        named.insert((*it)[1]);
    }
    const auto po = test::poLanguages(ORVEL_PO);
    EXPECT_EQ(std::set<std::string>(po.begin(), po.end()), named);
    std::set<std::string> help;
    for (const auto& entry : std::filesystem::directory_iterator(ORVEL_RESOURCES "/help")) {
        if (entry.is_directory()) {
            help.insert(entry.path().filename().string());
        }
    }
    EXPECT_EQ(help, named);
    // The languages the desktop entry is translated into.
    std::ifstream linguas(ORVEL_PO "/LINGUAS");
    std::set<std::string> listed;
    for (std::string line; std::getline(linguas, line);) {
        listed.insert(line);
    }
    EXPECT_EQ(listed, named);
}

}  // namespace
}  // namespace orvel
