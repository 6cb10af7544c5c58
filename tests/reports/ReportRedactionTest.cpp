#include "reports/ReportRedaction.h"

#include <gtest/gtest.h>

#include "core/RedactedIdentifier.h"
#include "drives/DriveKeepAlive.h"
#include "reports/ReportWords.h"
#include "support/OrvelTest.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

using test::OrvelTest;

std::string id(std::string_view text) {
    return redactedIdentifier(text);
}

class ReportRedactionTest : public OrvelTest {};

TEST_F(ReportRedactionTest, ReplacesNamesAndIdentifierShapesAsSupportExpectsThem) {
    struct Case {
        const char* name;
        std::vector<std::string> names;
        std::string text;
        std::string redacted;
    };
    const std::string uuidUpper = "5D1C7A0E-2B43-4F8E-9A61-0C3F5E7B9D24";
    const std::string uuidLower = "5d1c7a0e-2b43-4f8e-9a61-0c3f5e7b9d24";
    const Case cases[] = {
        {"two characters stay, three go everywhere",
         {"al", "bob"},
         "al and bob use bobsphone",
         "al and " + id("bob") + " use " + id("bob") + "sphone"},
        {"the longer name goes first",
         {"Bob", "Bob Smith"},
         "Bob Smith, Bob",
         id("Bob Smith") + ", " + id("Bob")},
        {"device line keeps all but the name",
         {},
         "  INTERNAL \u2014 Apple Keyboard \u00B7 SPI \u00B7 BuiltIn yes \u00B7 vendor 0x05AC",
         "  INTERNAL \u2014 " + id("Apple Keyboard") +
             " \u00B7 SPI \u00B7 BuiltIn yes \u00B7 vendor 0x05AC"},
        {"power line",
         {},
         "  internal \u2014 InternalBattery-0 \u00B7 InternalBattery \u00B7 80% \u00B7 AC Power",
         "  internal \u2014 " + id("InternalBattery-0") +
             " \u00B7 InternalBattery \u00B7 80% \u00B7 AC Power"},
        {"a name with no dot after it is left",
         {},
         "  external \u2014 Lonely Mouse",
         "  external \u2014 Lonely Mouse"},
        {"UUIDs in either case, by their own text",
         {},
         uuidUpper + " " + uuidLower,
         id(uuidUpper) + " " + id(uuidLower)},
        {"MAC addresses",
         {},
         "btAddress a4:83:E7:01:02:0F.",
         "btAddress " + id("a4:83:E7:01:02:0F") + "."},
        {"a plus sign is only a letter",
         {"C++ Lab"},
         "C++ Lab and CCC Lab",
         id("C++ Lab") + " and CCC Lab"},
        {"a token is never rewritten",
         {"Alexander", id("Alexander").substr(3)},
         "Alexander",
         id("Alexander")},
        {"a name beside a token is still replaced",
         {"cafe", "Mr Bob"},
         "Mr Bobcafe",
         id("Mr Bob") + id("cafe")},
        {"format words stay whole",
         {"put", "PASS", "ASS"},
         "  [PASS] Input Monitoring \u00B7 output",
         "  [PASS] Input Monitoring \u00B7 out" + id("put")},
        {"a name cutting into a format word is left",
         {"nput Mon"},
         "Input Monitoring",
         "Input Monitoring"},
        {"a name holding a whole format word is replaced",
         {"Ann Input"},
         "Ann Input.",
         id("Ann Input") + "."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReportRedaction::obfuscate(c.text, c.names), c.redacted) << c.name;
    }
}

TEST_F(ReportRedactionTest, GathersNamesFromTheSystemTheRulesAndTheDrivesOnce) {
    auto& system = sim().systemInfo();
    system.setFullUserName("Alex Example");
    system.setUserName("ax");  // too short to replace
    system.setHomeDirectory("/home/alexhome/");
    system.setLocalizedHostName("Desk Machine");
    TriggerRule rule;
    rule.name = "Alex Example";  // also the user's full name: one token
    rule.source = TriggerSource::bluetooth;
    rule.btName = "MX Keys";
    rule.btAddress = "AA-BB-CC";
    services().triggerEngine().add(rule);
    TriggerRule net;
    net.name = "Office";
    net.source = TriggerSource::wifiSSID;
    net.matcher = NetworkMatcher::ssid("CorpNet");
    services().triggerEngine().add(net);
    DriveKeepAlive::Drive drive;
    drive.id = "U1";
    drive.name = "Backup";
    drive.remountURL = "smb://nas/backup";
    services().driveKeepAlive().drives = {drive};

    const std::vector<std::string> expected = {
        "AA-BB-CC", "Alex Example", "Backup",   "CorpNet", "Desk Machine",
        "MX Keys",  "Office",       "alexhome", "ax",      "smb://nas/backup"};
    EXPECT_EQ(services().reportRedaction().gatheredNames(), expected);
    EXPECT_EQ(services().reportRedaction().obfuscate("ax: Alex Example on Desk Machine, Backup"),
              "ax: " + id("Alex Example") + " on " + id("Desk Machine") + ", " + id("Backup"));
}

TEST_F(ReportRedactionTest, APatternThatDoesNotCompileLeavesTheTextAndSaysSo) {
    EXPECT_EQ(ReportRedaction::replaceMatches("a (b", "(", 0), "a (b");
    EXPECT_EQ(sim().log().messages("diagnostics").size(), 1u);
    EXPECT_EQ(
        ReportRedaction::replaceMatches("x 12:34:56:78:9a:bc y", ReportRedaction::kMACPattern, 0),
        "x " + id("12:34:56:78:9a:bc") + " y");
}

TEST_F(ReportRedactionTest, TheFormatWordsAreSortedWordsOfLettersAndDigits) {
    const auto& words = reportFormatWords();
    EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
    for (const auto word : words) {
        EXPECT_TRUE(isReportFormatWord(word)) << word;
        EXPECT_TRUE(std::all_of(word.begin(), word.end(), [](char c) { return std::isalnum(c); }))
            << word;
    }
    EXPECT_FALSE(isReportFormatWord("bobsphone"));
}

}  // namespace
}  // namespace orvel
