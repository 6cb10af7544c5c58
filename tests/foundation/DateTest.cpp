#include "foundation/Date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvel {
namespace {

TEST(DateTest, ConvertsBetweenUnixAndReferenceTime) {
    EXPECT_DOUBLE_EQ(Date::fromUnix(978307200.0).secondsSinceReferenceDate, 0.0);
    EXPECT_DOUBLE_EQ(Date{86400.5}.unixTime(), 978393600.5);
    EXPECT_DOUBLE_EQ((Date{10} + 5).timeIntervalSince(Date{3}), 12.0);
    EXPECT_LT(Date{1}, Date{2});
    EXPECT_TRUE(Date::distantFuture().isDistantFuture());
    EXPECT_FALSE((Date::distantFuture() - 1).isDistantFuture());
}

TEST(DateTest, RoundsHalvesAwayFromZeroAndSaturates) {
    struct Case {
        double in;
        std::int64_t out;
    };
    const Case cases[] = {{0.4, 0},
                          {0.5, 1},
                          {-0.5, -1},
                          {899.5, 900},
                          {899.49, 899},
                          {-2.5, -3},
                          {1e30, std::numeric_limits<std::int64_t>::max()},
                          {-1e30, std::numeric_limits<std::int64_t>::min()},
                          {std::nan(""), 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(roundedSeconds(c.in), c.out) << c.in;
    }
}

}  // namespace
}  // namespace orvel
