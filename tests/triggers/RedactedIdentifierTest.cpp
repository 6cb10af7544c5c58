#include "core/RedactedIdentifier.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(RedactedIdentifierTest, GivesTheStablePseudonym) {
    EXPECT_EQ(redactedIdentifier(""), "id-1505");
    EXPECT_EQ(redactedIdentifier("abc"), "id-6813");
    EXPECT_NE(redactedIdentifier("Abc"), redactedIdentifier("abc")) << "case matters";
    // Bytes above 127 count as unsigned, and a long text wraps the 64-bit hash.
    EXPECT_EQ(redactedIdentifier("Caf\u00E9"), "id-737e");
    EXPECT_EQ(redactedIdentifier("a long rule name 123"), "id-8c6c");
    for (const char* text : {"Home", "Office WiFi", "\u00E9\u00E8", "a long rule name 123"}) {
        const std::string id = redactedIdentifier(text);
        ASSERT_EQ(id.rfind("id-", 0), 0u);
        const std::string digits = id.substr(3);
        EXPECT_FALSE(digits.empty());
        EXPECT_TRUE(digits == "0" || digits[0] != '0') << id;
        EXPECT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    }
}

}  // namespace
}  // namespace orvel
