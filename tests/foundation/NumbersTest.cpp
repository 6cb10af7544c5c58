#include "foundation/Numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvel {
namespace {

TEST(NumbersTest, TakesOnlyTextThatIsWhollyANumber) {
    struct Case {
        std::string_view text;
        std::optional<long> value;
    };
    const Case cases[] = {
        {"42", 42},
        {"-7", -7},
        {"0", 0},
        {"", {}},
        {" 42", {}},
        {"42 ", {}},
        {"+42", {}},
        {"42\n", {}},
        {"4x2", {}},
        {"0x10", {}},
        {"99999999999999999999", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseNumber<long>(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(NumbersTest, HonoursTheTypeAndTheBase) {
    EXPECT_EQ(parseNumber<unsigned>("ff", 16), 255u);
    EXPECT_EQ(parseNumber<std::uint32_t>("0100007F", 16), 0x0100007Fu);
    EXPECT_EQ(parseNumber<unsigned>("-1"), std::nullopt);
    EXPECT_EQ(parseNumber<std::uint8_t>("256"), std::nullopt);
    EXPECT_EQ(parseNumber<int>("12", 8), 10);
}

TEST(NumbersTest, FloatingPointIsFiniteAndLocaleFree) {
    struct Case {
        std::string_view text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"12.5", 12.5}, {"1e3", 1000.0}, {"-0.25", -0.25}, {"85", 85.0},
        {"12,5", {}},   {"inf", {}},     {"nan", {}},      {"1e999", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseNumber<double>(c.text), c.value) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace orvel
