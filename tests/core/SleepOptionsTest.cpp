#include "core/SleepOptions.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

SleepOptions make(const char* letters, std::int64_t timeout = 0,
                  std::optional<std::int32_t> pid = std::nullopt) {
    SleepOptions o;
    const std::string set(letters);
    o.preventDisplaySleep = set.find('d') != std::string::npos;
    o.preventIdleSleep = set.find('i') != std::string::npos;
    o.preventDiskSleep = set.find('m') != std::string::npos;
    o.preventSystemSleep = set.find('s') != std::string::npos;
    o.declareUserActive = set.find('u') != std::string::npos;
    o.timeout = timeout;
    o.watchPID = pid;
    return o;
}

TEST(SleepOptionsTest, BuildsCaffeinateArgumentsAndCommandLine) {
    struct Case {
        SleepOptions options;
        std::vector<std::string> arguments;
        const char* commandLine;
    };
    const Case cases[] = {
        {make("usmid", 3600), {"-dimsu", "-t", "3600"}, "/usr/bin/caffeinate -dimsu -t 3600"},
        {make("u"), {"-u"}, "/usr/bin/caffeinate -u"},
        {make("sd"), {"-ds"}, "/usr/bin/caffeinate -ds"},
        {make(""), {}, "/usr/bin/caffeinate"},
        {make("i", 0), {"-i"}, "/usr/bin/caffeinate -i"},
        {make("i", -5), {"-i"}, "/usr/bin/caffeinate -i"},
        {make("", 60, 812), {"-t", "60", "-w", "812"}, "/usr/bin/caffeinate -t 60 -w 812"},
        {make("", 0, 812), {"-w", "812"}, "/usr/bin/caffeinate -w 812"},
        {make("m", 0, 0), {"-m", "-w", "0"}, "/usr/bin/caffeinate -m -w 0"},
        {make("", 0, -1), {"-w", "-1"}, "/usr/bin/caffeinate -w -1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.options.caffeinateArguments(), c.arguments) << c.commandLine;
        EXPECT_EQ(c.options.commandLine(), c.commandLine);
    }
    EXPECT_EQ(make("").flagLetters(), "");
    EXPECT_EQ(make("mu").flagLetters(), "mu");
}

TEST(SleepOptionsTest, EqualityComparesAllSevenFields) {
    EXPECT_EQ(make("di", 60, 5), make("di", 60, 5));
    EXPECT_NE(make("", 60), make("", 61));
    EXPECT_NE(make(""), make("", 0, 0)) << "absent watchPID differs from 0";
    EXPECT_NE(make("d"), make("i"));
}

TEST(SleepOptionsTest, EncodesAllKeysInOrderAndLeavesAbsentWatchPidOut) {
    EXPECT_EQ(dumpJson(make("ds", 900).toJson()).value(),
              R"({"preventDisplaySleep":true,"preventIdleSleep":false,"preventDiskSleep":false,)"
              R"("preventSystemSleep":true,"declareUserActive":false,"timeout":900})");
    EXPECT_EQ(make("", 0, 42).toJson()["watchPID"], 42);
}

TEST(SleepOptionsTest, RoundTripsThroughJson) {
    for (const auto& options : {make(""), make("dimsu", 7200), make("i", -3, 0),
                                make("u", 1, INT32_MIN), make("d", INT64_MAX, INT32_MAX)}) {
        auto decoded = SleepOptions::fromJson(*parseJson(dumpJson(options.toJson()).value()));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        EXPECT_EQ(decoded.value(), options);
    }
}

TEST(SleepOptionsTest, DecodingRejectsMissingOrMistypedRequiredKeys) {
    const std::string base =
        R"("preventDisplaySleep":true,"preventIdleSleep":false,"preventDiskSleep":false,)"
        R"("preventSystemSleep":false,"declareUserActive":false)";
    struct Case {
        std::string json;
        bool ok;
        std::optional<std::int32_t> watchPID;
    };
    const Case cases[] = {
        {"{" + base + R"(,"timeout":0})", true, std::nullopt},
        {"{" + base + R"(,"timeout":0,"watchPID":null})", true, std::nullopt},
        {"{" + base + R"(,"timeout":0,"watchPID":77,"extra":"ignored"})", true, 77},
        {"{" + base + "}", false, std::nullopt},
        {"{" + base + R"(,"timeout":"60"})", false, std::nullopt},
        {"{" + base + R"(,"timeout":1.5})", false, std::nullopt},
        {"{" + base + R"(,"timeout":0,"watchPID":2147483648})", false, std::nullopt},
        {"{" + base + R"(,"timeout":0,"watchPID":"7"})", false, std::nullopt},
        {R"({"preventDisplaySleep":1,"preventIdleSleep":false,"preventDiskSleep":false,)"
         R"("preventSystemSleep":false,"declareUserActive":false,"timeout":0})",
         false, std::nullopt},
    };
    for (const auto& c : cases) {
        auto json = parseJson(c.json);
        ASSERT_TRUE(json.ok()) << c.json;
        auto decoded = SleepOptions::fromJson(*json);
        EXPECT_EQ(decoded.ok(), c.ok) << c.json;
        if (decoded.ok()) {
            EXPECT_EQ(decoded->watchPID, c.watchPID);
        }
    }
}

}  // namespace
}  // namespace orvel
