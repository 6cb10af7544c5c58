#include "foundation/UUID.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace orvel {
namespace {

TEST(UUIDTest, RandomIdentifiersAreVersion4InUpperCaseText) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string text = UUID::random().uuidString();
        EXPECT_TRUE(std::regex_match(text, form)) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(UUIDTest, ParsesEitherCaseAndRoundTrips) {
    auto id = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(UUID::fromString(id->uuidString()), id);
}

TEST(UUIDTest, RejectsMalformedText) {
    for (const char* bad :
         {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", "E621E1F8-C36C-495A-93FC_0C247A3E6E5F",
          " E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93F-C0C247A3E6E5F"}) {
        EXPECT_FALSE(UUID::fromString(bad)) << bad;
    }
}

}  // namespace
}  // namespace orvel
