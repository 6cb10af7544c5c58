#include <gtest/gtest.h>

#include "core/ActivityLog.h"
#include "core/RedactedIdentifier.h"
#include "support/OrvelTest.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {
namespace {

using S = TriggerSource;

class TriggersReportTest : public test::OrvelTest {};

const std::string kHeader =
    "\u2500\u2500 TRIGGERS "
    "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
    "\u2500"
    "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500"
    "\u2500"
    "\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500\u2500";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return out;
        }
        start = end + 1;
    }
}

// Characters, not bytes.
std::size_t characters(const std::string& text) {
    std::size_t n = 0;
    for (const unsigned char c : text) {
        n += (c & 0xC0) != 0x80;
    }
    return n;
}

TEST_F(TriggersReportTest, AFreshInstallationReadsAsExpected) {
    EXPECT_EQ(characters(kHeader), 55u);
    const std::string section = services().triggerEngine().diagnosticSection(false);
    const std::string activity = services().activityLog().exportText(false);
    EXPECT_EQ(section,
              kHeader +
                  "\n  master on \u00B7 paused no \u00B7 priority Schedule \u203A Bluetooth \u203A "
                  "WiFi (SSID) \u203A Network \u203A Apps"
                  "\n  wake helper: Not installed \u00B7 next wakes queued: 0"
                  "\n  no rules\n\n" +
                  activity);
    EXPECT_NE(section.back(), '\n');
}

TEST_F(TriggersReportTest, RuleLinesShowStateFamilyTargetActionsAndFlags) {
    TriggerRule bt = test::makeRule(S::bluetooth, "Desk");
    bt.btName = "Headphones";
    bt.enabled = false;
    bt.acOnly = true;
    bt.unavailableHere = true;
    TriggerRule net = test::makeRule(S::network, "Office");
    net.matcher = NetworkMatcher::gateway("10.0.1.1");
    net.onClear = TriggerAction::nothing;
    TriggerEngine& e = services().triggerEngine();
    e.replaceAll({bt, net}, {S::app});
    e.setMasterEnabled(false);
    e.pause(std::nullopt);
    services().wakeHelper().recordUnreachable("refused");
    services().wakeHelper().lastSynced = {Date{1.0}, Date{2.0}};
    loop().drain();

    const auto plain = lines(e.diagnosticSection(false));
    ASSERT_GE(plain.size(), 6u);
    EXPECT_EQ(plain[1], "  master off \u00B7 paused yes \u00B7 priority Apps");
    EXPECT_EQ(plain[2],
              "  wake helper: Not installed \u00B7 last error: helper unreachable: "
              "refused \u00B7 next wakes queued: 2");
    EXPECT_EQ(plain[3],
              "  [off] Desk \u00B7 Bluetooth \u00B7 Headphones \u00B7 appear\u2192startSession "
              "clear\u2192endSession \u00B7 AC only \u00B7 UNAVAILABLE HERE");
    EXPECT_EQ(plain[4],
              "  [on ] Office \u00B7 Network \u00B7 Gateway IP 10.0.1.1 \u00B7 "
              "appear\u2192startSession clear\u2192nothing");
    EXPECT_EQ(plain[5], "");

    const auto redacted = lines(e.diagnosticSection(true));
    EXPECT_EQ(redacted[3], "  [off] " + redactedIdentifier("Desk") + " \u00B7 Bluetooth \u00B7 " +
                               redactedIdentifier("Headphones") +
                               " \u00B7 appear\u2192startSession clear\u2192endSession \u00B7 AC "
                               "only \u00B7 UNAVAILABLE HERE");
    EXPECT_EQ(redacted[4].find("Office"), std::string::npos);
    EXPECT_NE(redacted[4].find(redactedIdentifier("Gateway IP 10.0.1.1")), std::string::npos);
    // The activity block is redacted the same way: the pause's title becomes its pseudonym.
    const std::string text = e.diagnosticSection(true);
    EXPECT_NE(text.find(redactedIdentifier("Triggers paused")), std::string::npos);
    EXPECT_EQ(text.find("Triggers paused"), std::string::npos);
}

TEST_F(TriggersReportTest, ATimedPauseThatHasPassedReadsAsNotPaused) {
    TriggerEngine& e = services().triggerEngine();
    e.pausedUntil = loop().now() - 10;  // passed, not yet cleared
    EXPECT_TRUE(e.pausedUntil());
    EXPECT_NE(e.diagnosticSection(false).find("paused no"), std::string::npos);
}

TEST_F(TriggersReportTest, TheWakeHelperStatusLineNamesEachState) {
    WakeHelperClient& client = services().wakeHelper();
    const std::pair<WakeHelperClient::State, const char*> cases[] = {
        {WakeHelperClient::State::active, "Installed & approved"},
        {WakeHelperClient::State::requiresApproval, "Awaiting approval"},
        {WakeHelperClient::State::notInstalled, "Not installed"},
        {WakeHelperClient::State::missingFromBundle, "Helper missing from this build"},
    };
    for (const auto& [state, title] : cases) {
        client.state = state;
        EXPECT_EQ(client.statusLine(),
                  std::string("wake helper: ") + title + " \u00B7 next wakes queued: 0");
    }
}

}  // namespace
}  // namespace orvel
