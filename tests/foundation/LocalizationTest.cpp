#include "foundation/Localization.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "foundation/Log.h"
#include "foundation/Registry.h"
#include "platform/sim/RecordingLogSink.h"

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

TEST_F(LocalizationTest, MissingKeysShowTheKeyAndTablesAreLoadedFromJson) {
    EXPECT_EQ(localized("Quit Orvel"), "Quit Orvel");
    // Of this process alone: other runs of the suite share the temporary folder.
    const std::string path =
        ::testing::TempDir() + "orvel-strings-" + std::to_string(::getpid()) + ".json";
    std::ofstream(path)
        << R"({"Quit Orvel": "Orvel beenden", "%lld rules": "%lld Regeln", "n": 1})";
    ASSERT_TRUE(Localization::shared().loadTable(path).ok());
    EXPECT_EQ(localized("Quit Orvel"), "Orvel beenden");
    EXPECT_EQ(localizedFormat("%lld rules", {std::int64_t{2}}), "2 Regeln");
    EXPECT_EQ(localized("n"), "n") << "non-text entries are ignored";

    std::ofstream(path) << "{broken";
    auto result = Localization::shared().loadTable(path);
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error().message.find("not valid JSON"), std::string::npos);
    EXPECT_EQ(localized("Quit Orvel"), "Orvel beenden") << "a bad file keeps the old table";
    std::remove(path.c_str());

    const std::string folder = path + ".d";
    std::filesystem::create_directories(folder);
    ASSERT_NO_THROW(result = Localization::shared().loadTable(folder));
    std::filesystem::remove_all(folder);
    EXPECT_FALSE(result.ok());
    EXPECT_NE(result.error().message.find("Is a directory"), std::string::npos)
        << result.error().message;
    EXPECT_EQ(localized("Quit Orvel"), "Orvel beenden") << "a folder keeps the old table";
}

TEST_F(LocalizationTest, EnglishNeedsNoTableAndALanguageWithoutOneReadsInEnglishWithoutAFailure) {
    const std::string folder = ::testing::TempDir() + "orvel-tables-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/de.json") << R"({"Quit Orvel": "Orvel beenden"})";
    std::ofstream(folder + "/xx.json") << "{broken";
    const auto sink = std::make_shared<RecordingLogSink>();
    const auto previous = installLogSink(sink);
    struct Case {
        const char* language;
        bool loads;
        const char* quit;  // the text of "Quit Orvel" after
    };
    const Case cases[] = {
        {"de", true, "Orvel beenden"},
        {"en", true, "Quit Orvel"},  // nothing looked for, and the German table gone
        {"de", true, "Orvel beenden"},
        {"fr", true, "Quit Orvel"},   // no table: English
        {"xx", false, "Quit Orvel"},  // a table that is there and broken is a failure
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        const auto loaded = Localization::shared().loadLanguage(folder, c.language);
        EXPECT_EQ(loaded.ok(), c.loads) << (loaded ? "" : loaded.error().message);
        EXPECT_EQ(localized("Quit Orvel"), c.quit);
    }
    installLogSink(previous);
    std::filesystem::remove_all(folder);
    for (const auto& record : sink->records()) {
        EXPECT_LT(record.level, LogLevel::Notice) << record.message;
    }
}

TEST(MessagesLanguageTest, TheFirstVariableSetGivesItsLanguageAndTheCLocaleIsEnglish) {
    struct Case {
        std::map<std::string, std::string> variables;
        const char* language;
    };
    const Case cases[] = {
        {{}, "en"},
        {{{"LANG", "de_DE.UTF-8"}}, "de"},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_CA"}}, "fr"},
        {{{"LC_MESSAGES", "fr_CA"}, {"LC_ALL", "sr@latin"}}, "sr"},
        {{{"LC_ALL", "pt_BR"}, {"LANGUAGE", "nl:de"}}, "nl"},
        {{{"LANGUAGE", ""}, {"LANG", "es_ES"}}, "es"},
        {{{"LANG", "C.UTF-8"}}, "en"},
        {{{"LC_ALL", "POSIX"}, {"LANG", "de_DE"}}, "en"},
    };
    for (const auto& c : cases) {
        const auto language = messagesLanguage([&c](const char* name) -> const char* {
            const auto it = c.variables.find(name);
            return it == c.variables.end() ? nullptr : it->second.c_str();
        });
        EXPECT_EQ(language, c.language) << ::testing::PrintToString(c.variables);
    }
}

}  // namespace
}  // namespace orvel
