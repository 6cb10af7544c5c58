#include "foundation/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orvel {
namespace {

Json parsed(std::string_view text) {
    auto result = parseJson(text);
    EXPECT_TRUE(result.ok()) << text;
    return result.ok() ? result.value() : Json();
}

TEST(JsonTest, ParseFailuresAreValuesNotExceptions) {
    for (const char* bad : {"", "{", "{\"a\":}", "[1,]", "nul", "{\"a\":1}}"}) {
        auto result = parseJson(bad);
        EXPECT_FALSE(result.ok()) << bad;
        EXPECT_FALSE(result.error().message.empty());
    }
}

TEST(JsonTest, KeepsKeysInInsertionOrderAndLeavesAbsentOptionalsOut) {
    Json object = Json::object();
    object["zeta"] = 1;
    object["alpha"] = true;
    putOptional(object, "gone", std::optional<int>());
    putOptional(object, "here", std::optional<std::string>("x"));
    EXPECT_EQ(dumpJson(object).value(), R"({"zeta":1,"alpha":true,"here":"x"})");
}

TEST(JsonTest, NumbersThatAreNotFiniteAreRefusedNotWrittenAsNull) {
    struct Case {
        double number;
        const char* where;
    };
    for (const Case& c :
         {Case{std::nan(""), "/a/1/b"}, Case{std::numeric_limits<double>::infinity(), "/a/1/b"},
          Case{-std::numeric_limits<double>::infinity(), "/a/1/b"}}) {
        Json document = Json::object();
        document["a"] = Json::array({1.5, Json::object({{"b", c.number}})});
        auto text = dumpJson(document);
        ASSERT_FALSE(text.ok()) << c.number;
        EXPECT_EQ(text.error().message,
                  std::string("The value at ") + c.where + " is not a finite number.");
    }
    EXPECT_EQ(dumpJson(Json(std::nan(""))).error().message,
              "The value at / is not a finite number.");
    EXPECT_EQ(dumpJson(Json::array({0.25, -1e308})).value(), "[0.25,-1e+308]");
}

TEST(JsonTest, RequiredKeysNeedTheirExactType) {
    struct Case {
        const char* json;
        const char* fault;  // nullptr: reads fine
    };
    const Case cases[] = {
        {R"({"on":true,"n":5,"s":"x","d":1.5})", nullptr},
        {R"({"on":true,"n":5.0,"s":"x","d":2})", nullptr},  // whole numbers in either spelling
        {R"({"n":5,"s":"x","d":1})", "missing key \"on\""},
        {R"({"on":1,"n":5,"s":"x","d":1})", "\"on\" is not true or false"},
        {R"({"on":true,"n":"5","s":"x","d":1})", "\"n\" is not a whole number"},
        {R"({"on":true,"n":5.5,"s":"x","d":1})", "\"n\" is not a whole number"},
        {R"({"on":true,"n":null,"s":"x","d":1})", "\"n\" is not a whole number"},
        {R"({"on":true,"n":5,"s":3,"d":1})", "\"s\" is not a text"},
        {R"({"on":true,"n":5,"s":"x","d":"1"})", "\"d\" is not a number"},
        {R"([1,2])", "is not a JSON object"},
    };
    for (const auto& c : cases) {
        const Json json = parsed(c.json);
        JsonReader reader(json, "record");
        reader.boolean("on");
        reader.integer("n");
        reader.string("s");
        reader.number("d");
        if (c.fault == nullptr) {
            EXPECT_TRUE(reader.ok()) << c.json << ": " << reader.error().message;
        } else {
            ASSERT_FALSE(reader.ok()) << c.json;
            EXPECT_EQ(reader.error().message, std::string("record: ") + c.fault);
        }
    }
}

TEST(JsonTest, IntegersMustFitTheirRange) {
    const Json json = parsed(
        R"({"small":2147483647,"big":2147483648,"neg":-2147483649,"huge":18446744073709551615})");
    {
        JsonReader reader(json);
        EXPECT_EQ(reader.integer("small", INT32_MIN, INT32_MAX), 2147483647);
        EXPECT_TRUE(reader.ok());
    }
    for (const char* key : {"big", "neg"}) {
        JsonReader reader(json);
        reader.integer(key, INT32_MIN, INT32_MAX);
        EXPECT_FALSE(reader.ok()) << key;
    }
    JsonReader reader(json);
    reader.integer("huge");
    EXPECT_FALSE(reader.ok()) << "beyond int64";
}

TEST(JsonTest, OptionalKeysMayBeMissingOrNullButNotMistyped) {
    const Json json = parsed(R"({"a":null,"b":3,"c":"x"})");
    JsonReader reader(json);
    EXPECT_EQ(reader.optionalInteger("a"), std::nullopt);
    EXPECT_EQ(reader.optionalInteger("missing"), std::nullopt);
    EXPECT_EQ(reader.optionalInteger("b"), 3);
    EXPECT_TRUE(reader.ok());
    reader.optionalInteger("c");
    EXPECT_FALSE(reader.ok());
}

TEST(JsonTest, TheFirstFaultIsKept) {
    const Json json = parsed(R"({"a":"x"})");
    JsonReader reader(json, "thing");
    reader.boolean("missing");
    reader.integer("a");
    EXPECT_EQ(reader.error().message, "thing: missing key \"missing\"");
    EXPECT_FALSE(reader.finish(1).ok());
}

TEST(JsonTest, ReadsDatesAndIdentifiers) {
    const Json json =
        parsed(R"({"when":786297600.25,"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","bad":"nope"})");
    JsonReader reader(json);
    EXPECT_DOUBLE_EQ(reader.date("when").secondsSinceReferenceDate, 786297600.25);
    EXPECT_EQ(reader.uuid("id").uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_TRUE(reader.ok());
    reader.optionalUUID("bad");
    EXPECT_FALSE(reader.ok());
}

}  // namespace
}  // namespace orvel
