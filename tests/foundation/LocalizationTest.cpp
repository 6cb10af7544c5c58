#include "foundation/Localization.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "foundation/Registry.h"

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

}  // namespace
}  // namespace orvel
