#include "foundation/Iso8601.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvel {
namespace {

TEST(Iso8601Test, WritesUtcWholeSecondsWithZ) {
    struct Case {
        double unix;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0, "1970-01-01T00:00:00Z"},         {1796720400.75, "2026-12-08T09:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"}, {-1, "1969-12-31T23:59:59Z"},
        {1e300, "9999-12-31T23:59:59Z"},     {-1e300, "0000-01-01T00:00:00Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iso8601Text(Date::fromUnix(c.unix)), c.text) << c.unix;
    }
}

TEST(Iso8601Test, ReadsZuluAndColonOffsetsOnly) {
    struct Case {
        const char* text;
        std::optional<double> unix;
    };
    const std::vector<Case> cases = {
        {"2026-12-08T09:00:00Z", 1796720400},        {"2026-12-08T10:00:00+01:00", 1796720400},
        {"2026-12-08T04:30:00-04:30", 1796720400},   {"2024-02-29T00:00:00Z", 1709164800},
        {"2026-12-08T10:00:00+0100", std::nullopt},  {"2026-12-08T09:00:00.5Z", std::nullopt},
        {"2026-12-08T09:00:00", std::nullopt},       {"2026-12-08 09:00:00Z", std::nullopt},
        {"2026-12-08T09:00Z", std::nullopt},         {"2026-02-30T09:00:00Z", std::nullopt},
        {"2025-02-29T09:00:00Z", std::nullopt},      {"2026-13-01T09:00:00Z", std::nullopt},
        {"2026-12-08T24:00:00Z", std::nullopt},      {"2026-12-08T09:00:60Z", std::nullopt},
        {"2026-12-08T09:00:00+24:00", std::nullopt}, {"2026-12-08T09:00:00Zjunk", std::nullopt},
        {"+2026-12-08T09:00:00Z", std::nullopt},     {"", std::nullopt},
        {"0000-01-01T00:00:00Z", -62167219200},      {"9999-12-31T23:59:59Z", 253402300799},
        {"0000-01-01T00:00:00+00:01", std::nullopt}, {"9999-12-31T23:59:59-00:01", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto date = parseIso8601(c.text);
        ASSERT_EQ(date.has_value(), c.unix.has_value());
        if (date) {
            EXPECT_EQ(date->unixTime(), *c.unix);
        }
    }
}

}  // namespace
}  // namespace orvel
