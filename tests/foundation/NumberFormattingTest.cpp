#include "foundation/NumberFormatting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "foundation/DateFormatting.h"

namespace orvel {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

class NumberFormattingTest : public ::testing::Test {
  protected:
    void TearDown() override { setCurrentLocaleIdentifier(std::nullopt); }
};

TEST_F(NumberFormattingTest, WritesWholeNumbersGroupedTheLocalesWay) {
    struct Case {
        const char* locale;
        std::int64_t value;
        std::string text;
    };
    const Case cases[] = {
        {"en_US", 0, "0"},
        {"en_US", 999, "999"},
        {"en_US", 1000, "1,000"},
        {"en_US", -1234567, "-1,234,567"},
        {"en_US", kMax, "9,223,372,036,854,775,807"},
        {"en_US", kMin, "-9,223,372,036,854,775,808"},
        {"de_DE", 1000, "1.000"},
        {"de_DE", -1234567, "-1.234.567"},
        {"fr_FR", 1000, "1\u202F000"},
        {"fr_FR", 1234567, "1\u202F234\u202F567"},
    };
    for (const auto& c : cases) {
        setCurrentLocaleIdentifier(c.locale);
        EXPECT_EQ(integerText(c.value), c.text) << c.locale << " " << c.value;
    }
}

TEST_F(NumberFormattingTest, ReadsWhatItWritesPlainDigitsAndALeadingMinus) {
    struct Case {
        const char* locale;
        const char* typed;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"en_US", "1,000", 1000},
        {"en_US", "1000", 1000},
        {"en_US", "  1,234,567 ", 1234567},
        {"en_US", "-1,000", -1000},
        {"en_US", "-0", 0},
        {"en_US", "007", 7},
        {"en_US", "9223372036854775807", kMax},
        {"en_US", "-9,223,372,036,854,775,808", kMin},
        {"de_DE", "1.000", 1000},
        {"de_DE", "1000", 1000},
        {"de_DE", "-2.500", -2500},
        {"fr_FR", "1\u202F000", 1000},
        {"fr_FR", "1 000", 1000},  // a plain space, as a keyboard types it
        {"fr_FR", "1\u00A0000", 1000},
        {"fr_FR", "-12 345", -12345},
        {"de_CH", "1\u2019000", 1000},
        {"de_CH", "1'000", 1000},
        {"sv_SE", "\u22121\u00A0000", -1000},
        {"sv_SE", "-1 000", -1000},
        {"en_IN", "10,00,000", 1000000},
    };
    for (const auto& c : cases) {
        setCurrentLocaleIdentifier(c.locale);
        EXPECT_EQ(parseInteger(c.typed), c.value) << c.locale << " \"" << c.typed << "\"";
    }
}

TEST_F(NumberFormattingTest, RefusesAnythingThatIsNotAWholeNumberOfTheLocale) {
    struct Case {
        const char* locale;
        const char* typed;
    };
    const Case cases[] = {
        {"en_US", ""},
        {"en_US", "   "},
        {"en_US", "-"},
        {"en_US", "12a"},
        {"en_US", "a12"},
        {"en_US", "12.5"},
        {"en_US", "1.000"},  // German grouping reads as a fraction here
        {"en_US", "1,00"},
        {"en_US", "10,00,000"},
        {"en_US", ",100"},
        {"en_US", "100,"},
        {"en_US", "1 000"},
        {"en_US", "+5"},
        {"en_US", "--5"},
        {"en_US", "- 5"},
        {"en_US", "5-"},
        {"en_US", "9223372036854775808"},
        {"en_US", "-9223372036854775809"},
        {"en_US", "99999999999999999999"},
        {"en_US", "\xff"},
        {"de_DE", "1,000"},
        {"de_DE", "1,5"},
        {"de_DE", "1.00"},
        {"fr_FR", "1,000"},
        {"fr_FR", "1.000"},
        {"fr_FR", "10 00"},
        {"en_IN", "1,000,000"},
    };
    for (const auto& c : cases) {
        setCurrentLocaleIdentifier(c.locale);
        EXPECT_EQ(parseInteger(c.typed), std::nullopt) << c.locale << " \"" << c.typed << "\"";
    }
}

TEST_F(NumberFormattingTest, EveryWrittenNumberReadsBackInItsLocale) {
    const std::int64_t values[] = {kMin, kMin + 1, -1000000, -1, 0, 1, 999, 1000, 65536, kMax};
    // Indian grouping, Arabic digits and marks, the Swedish minus sign, the Swiss apostrophe.
    for (const char* locale : {"en_US", "de_DE", "fr_FR", "en_IN", "ar_EG", "sv_SE", "de_CH"}) {
        setCurrentLocaleIdentifier(locale);
        for (const std::int64_t value : values) {
            EXPECT_EQ(parseInteger(integerText(value)), value)
                << locale << " \"" << integerText(value) << "\"";
        }
    }
}

TEST_F(NumberFormattingTest, FollowsALocaleChange) {
    setCurrentLocaleIdentifier("en_US");
    EXPECT_EQ(integerText(2500), "2,500");
    EXPECT_EQ(parseInteger("2.500"), std::nullopt);
    setCurrentLocaleIdentifier("de_DE");
    EXPECT_EQ(integerText(2500), "2.500");
    EXPECT_EQ(parseInteger("2.500"), 2500);
}

}  // namespace
}  // namespace orvel
