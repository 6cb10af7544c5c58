#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
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

// A language's words, po/<code>.glossary: one word per concept, and what the catalogue and the
// help pages must not say instead. Lines:
//   concept: word          the word chosen (documentation for translators)
//   - word                 a word ruled out: it matches where a word starts, in either case of its
//                          first letter ("Ruhezustand" also in "Ruhezustands", "Bildschirm-Ruhe…");
//                          "=word" only in the case written, "word$" only as a whole word
//   + phrase               a phrase where a ruled-out word is right
//   same: word, word       words this language writes as English does
//   boundary: none         ruled-out words match anywhere (languages without spaces)
//   apostrophe: ’          the one apostrophe between letters
//   space before: :;?!%    these signs take a no-break space (U+00A0 or U+202F), never U+0020
//   full-width: :()        these signs are written full-width (：（）), never in ASCII
struct Glossary {
    std::vector<std::string> ruledOut;
    std::vector<std::string> allowed;
    std::set<std::string> same;
    bool boundaries = true;
    std::string apostrophe;
    std::string spaceBefore;
    std::string fullWidth;
};

std::string trimmed(std::string text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

Glossary parseGlossary(std::istream& in) {
    Glossary g;
    for (std::string line; std::getline(in, line);) {
        if (const auto comment = line.find("  #"); comment != std::string::npos) {
            line.erase(comment);
        }
        line = trimmed(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto value = [&line](std::size_t from) { return trimmed(line.substr(from)); };
        if (line.starts_with("- ")) {
            g.ruledOut.push_back(value(2));
        } else if (line.starts_with("+ ")) {
            g.allowed.push_back(value(2));
        } else if (line.starts_with("same:")) {
            std::istringstream words(value(5));
            for (std::string word; std::getline(words, word, ',');) {
                g.same.insert(trimmed(word));
            }
        } else if (line.starts_with("boundary:")) {
            g.boundaries = value(9) != "none";
        } else if (line.starts_with("apostrophe:")) {
            g.apostrophe = value(11);
        } else if (line.starts_with("space before:")) {
            g.spaceBefore = value(13);
        } else if (line.starts_with("full-width:")) {
            g.fullWidth = value(11);
        }
    }
    return g;
}

bool isLetterByte(unsigned char c) {
    return std::isalnum(c) != 0 || c >= 0x80;  // a byte of a letter beyond ASCII counts too
}

// The word with its first letter in the other case (ASCII, and the Latin-1 letters of two bytes).
std::string otherCase(const std::string& word) {
    std::string out = word;
    const auto c = static_cast<unsigned char>(word[0]);
    if (std::isalpha(c)) {
        out[0] = static_cast<char>(std::isupper(c) ? std::tolower(c) : std::toupper(c));
    } else if (c == 0xC3 && word.size() > 1) {
        out[1] = static_cast<char>(static_cast<unsigned char>(word[1]) ^ 0x20);
    }
    return out;
}

// The word in capitals, as a section header writes it (ASCII and the two-byte Latin letters).
std::string capitals(const std::string& word) {
    std::string out = word;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (std::islower(c)) {
            out[i] = static_cast<char>(std::toupper(c));
        } else if (c == 0xC3 && i + 1 < out.size()) {
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0xA0 && next <= 0xBE && next != 0xB7) {
                out[i + 1] = static_cast<char>(next - 0x20);
            }
            ++i;
        }
    }
    return out;
}

// What of the text a translator wrote: no placeholders, code spans, link targets or templates.
std::string prose(std::string text) {
    for (const char* pattern :
         {R"(`[^`]*`)", R"(\]\([^)]*\))", R"(\{\{[^}]*\}\})", R"([a-z]+://\S+)"}) {
        text = std::regex_replace(text, std::regex(pattern), " ");
    }
    return std::regex_replace(text, std::regex(R"(%(\d+\$)?(@|lld))"), "");
}

// The faults a script can see in a text of the glossary's language.
std::vector<std::string> glossaryFaults(const Glossary& g, const std::string& original) {
    std::vector<std::string> faults;
    std::string text = prose(original);
    for (const auto& phrase : g.allowed) {
        for (std::size_t at; (at = text.find(phrase)) != std::string::npos;) {
            text.replace(at, phrase.size(), " ");
        }
    }
    for (std::string word : g.ruledOut) {
        const bool exactCase = word.starts_with('=');
        const bool wholeWord = word.ends_with('$');
        word =
            word.substr(exactCase ? 1 : 0, word.size() - (exactCase ? 1 : 0) - (wholeWord ? 1 : 0));
        std::vector<std::string> forms{word};
        if (!exactCase) {
            for (const auto& form : {otherCase(word), capitals(word)}) {
                if (std::find(forms.begin(), forms.end(), form) == forms.end()) {
                    forms.push_back(form);
                }
            }
        }
        for (const auto& form : forms) {
            for (std::size_t at = text.find(form); at != std::string::npos;
                 at = text.find(form, at + 1)) {
                const auto letterAt = [&text](std::size_t i) {
                    return i < text.size() && isLetterByte(static_cast<unsigned char>(text[i]));
                };
                const bool starts = at == 0 || !letterAt(at - 1);
                const bool ends = !wholeWord || !letterAt(at + form.size());
                if ((!g.boundaries || starts) && ends) {
                    faults.push_back("uses \"" + word + "\"");
                    break;
                }
            }
        }
    }
    if (!g.apostrophe.empty()) {
        // The other apostrophe, between two letters.
        const std::string other = g.apostrophe == "'" ? "\u2019" : "'";
        const auto letter = [&text](std::size_t at) {
            return at < text.size() && isLetterByte(static_cast<unsigned char>(text[at]));
        };
        bool mixed = false;
        for (std::size_t at = text.find(other); at != std::string::npos && !mixed;
             at = text.find(other, at + 1)) {
            mixed = at > 0 && letter(at - 1) && letter(at + other.size());
        }
        if (mixed) {
            faults.push_back("the apostrophe " + other + " where " + g.apostrophe + " is used");
        }
    }
    for (const char sign : g.spaceBefore) {
        for (std::size_t at = text.find(std::string(" ") + sign); at != std::string::npos;
             at = text.find(std::string(" ") + sign, at + 1)) {
            faults.push_back(std::string("a plain space before \"") + sign + "\"");
            break;
        }
    }
    for (const char sign : g.fullWidth) {
        // Times (10:30) and the ASCII words' own brackets aside, every sign is full-width.
        const std::string rest =
            std::regex_replace(text, std::regex(R"(\d:\d|([\x21-\x7e]) ?\([\x20-\x7e]*\))"), "$1");
        if (rest.find(sign) != std::string::npos) {
            faults.push_back(std::string("an ASCII \"") + sign +
                             "\" where it is written full-width");
        }
    }
    return faults;
}

// A translation left in English: the key itself, with words the language does not share.
bool untranslated(const Glossary& g, const std::string& key, const std::string& translation) {
    if (key != translation) {
        return false;
    }
    static const std::set<std::string> names{
        "Orvel", "caffeinate", "OK",  "Bluetooth", "Ethernet", "UPS",    "WiFi",
        "SSID",  "USB",        "min", "h",         "batt",     "logind", "IPv4"};
    const std::string text = prose(key);
    static const std::regex word("[A-Za-z]+");
    for (std::sregex_iterator it(text.begin(), text.end(), word), end; it != end; ++it) {
        if (!names.contains(it->str()) && !g.same.contains(it->str())) {
            return true;
        }
    }
    return false;
}

TEST(CataloguesTest, AGlossaryFindsWhatAScriptCanSeeOfAWrongWord) {
    std::istringstream de(
        "suspend: Bereitschaft\n- Ruhezustand\n- Systemabschnitt\n"
        "+ Ruhezustand (Hibernate)\nsame: Test\n");
    std::istringstream fr("apostrophe: '\nspace before: :;?!%\n");
    std::istringstream ja("boundary: none\n- \u60a8\nfull-width: :()\n");
    std::istringstream es("- el computadora\n- del computadora\n- =Match$\n");
    const Glossary g[] = {parseGlossary(de), parseGlossary(fr), parseGlossary(ja),
                          parseGlossary(es)};
    struct Case {
        int glossary;
        const char* text;
        std::size_t faults;
    };
    const Case cases[] = {
        {0, "Ruhezustand verhindern", 1},
        {0, "Bildschirm-Ruhezustands", 1},  // a word's start, after a hyphen
        {0, "im ruhezustand", 1},           // the other case of its first letter
        {0, "RUHEZUSTAND", 1},              // a section header's capitals
        {0, "Energieruhezustand", 0},       // not where a word starts
        {0, "Ruhezustand (Hibernate) erlaubt", 0},
        {0, "Bereitschaft verhindern", 0},
        {1, "Dur\u00e9e\u00a0: %@ (50\u00a0%)", 0},
        {1, "Dur\u00e9e : %@", 1},
        {1, "50 % ; vraiment ?", 3},
        {1, "de %@", 0},  // a placeholder, not a percent sign
        {1, "l\u2019ordinateur et l'\u00e9cran", 1},
        {1, "l'ordinateur et l'\u00e9cran", 0},
        {1, "`a ; b` \u2014 https://x.org/a?b", 0},  // code and addresses are not prose
        {2, "\u60a8\u7684", 1},                      // no word boundaries
        {2, "\u8a2d\u5b9a: %@", 1},
        {2, "\u8a2d\u5b9a\uff1a10:30\uff08Wi-Fi (SSID)\uff09", 0},
        {3, "el computadora", 1},
        {3, "del computadora", 1},
        {3, "la computadora del usuario", 0},
        {3, "Match", 1},
        {3, "las reglas matchean", 0},  // not the whole word, and not in its case
    };
    for (const auto& c : cases) {
        EXPECT_EQ(glossaryFaults(g[c.glossary], c.text).size(), c.faults) << c.text;
    }
    EXPECT_TRUE(untranslated(g[0], "Start session", "Start session"));
    EXPECT_FALSE(untranslated(g[0], "Test \u2014 %@", "Test \u2014 %@"));  // German says Test
    EXPECT_FALSE(untranslated(g[0], "%lld min", "%lld min"));
    EXPECT_FALSE(untranslated(g[0], "Start session", "Sitzung starten"));
}

// The help pages' prose, without their fenced code blocks.
std::vector<std::pair<std::string, std::string>> helpParagraphs(const std::string& language) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& entry :
         std::filesystem::directory_iterator(ORVEL_RESOURCES "/help/" + language)) {
        std::ifstream in(entry.path());
        bool code = false;
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            if (line.starts_with("```")) {
                code = !code;
            } else if (!code) {
                out.emplace_back(entry.path().filename().string() + ":" + std::to_string(number),
                                 line);
            }
        }
    }
    return out;
}

TEST(CataloguesTest, EachLanguageSaysEachThingInTheWordsOfItsGlossary) {
    for (const auto& language : test::poLanguages(ORVEL_PO)) {
        SCOPED_TRACE(language);
        std::ifstream file(ORVEL_PO "/" + language + ".glossary");
        if (!file) {
            ADD_FAILURE() << "po/" << language << ".glossary is missing";
            continue;
        }
        const Glossary glossary = parseGlossary(file);
        const auto entries = test::readPo(ORVEL_PO "/" + language + ".po");
        ASSERT_TRUE(entries) << entries.error().message;
        std::string faults;
        for (const auto& [key, entry] : *entries) {
            for (const auto& translation : entry.msgstr) {
                for (const auto& fault : glossaryFaults(glossary, translation)) {
                    faults += "  po/" + language + ".po:" + std::to_string(entry.line) + ": " +
                              fault + ": \"" + translation + "\"\n";
                }
                if (untranslated(glossary, key, translation)) {
                    faults += "  po/" + language + ".po:" + std::to_string(entry.line) +
                              ": left in English: \"" + translation + "\"\n";
                }
            }
        }
        for (const auto& [where, line] : helpParagraphs(language)) {
            for (const auto& fault : glossaryFaults(glossary, line)) {
                faults +=
                    "  help/" + language + "/" + where + ": " + fault + ": \"" + line + "\"\n";
            }
        }
        EXPECT_TRUE(faults.empty()) << faults;
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
