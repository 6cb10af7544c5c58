#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "platform/PowerAssertions.h"
#include "support/Catalogues.h"
#include "support/SessionTest.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"

namespace orvel {
namespace {

using test::activity;
using test::makeRule;
using S = TriggerSource;
using A = TriggerAction;

constexpr const char* kAddress = "a4-83-e7-11-22-33";

class TriggerEvaluationTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        seen_ = 0;
        sim().bluetooth().pair(BluetoothDevice{kAddress, "Headphones", false});
        engine().start();
        loop().drain();
    }

    TriggerEngine& engine() { return services().triggerEngine(); }

    // A Bluetooth rule for the headphones: a one-hour session on connect, ended on disconnect.
    TriggerRule headphones(const char* name = "Desk") {
        TriggerRule rule = makeRule(S::bluetooth, name);
        rule.btAddress = kAddress;
        rule.btName = "Headphones";
        rule.durationSeconds = 3600;
        return rule;
    }
    TriggerRule added(TriggerRule rule) {
        engine().add(rule);
        return rule;
    }
    // These cases play the edges themselves: the device changes without an event.
    void connect(bool on) { sim().bluetooth().setConnectedSilently(kAddress, on); }
    // Entries written since the last call.
    std::vector<std::string> newEntries() {
        loop().drain();
        auto all = activity(services().activityLog());
        std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
        seen_ = all.size();
        return fresh;
    }
    std::vector<std::string> notifications() {
        std::vector<std::string> lines;
        for (const auto& n : sim().notifications().posted()) {
            lines.push_back(n.title + "|" + n.body);
        }
        return lines;
    }

  private:
    std::size_t seen_ = 0;
};

TEST_F(TriggerEvaluationTest, AStartEdgeStartsASessionLogsAndNotifies) {
    const TriggerRule rule = added(headphones());
    newEntries();
    engine().handle(rule.id, true, false);
    OrvelController& c = controller();
    EXPECT_TRUE(c.isActive());
    EXPECT_EQ(c.startedByRuleName(), "Desk");
    EXPECT_EQ(c.triggerOwnedRuleID(), rule.id);
    EXPECT_EQ(c.deadline(), loop().now() + 3600);
    EXPECT_EQ(engine().owningRule(), rule);
    EXPECT_FALSE(engine().isArmed(rule.id));
    EXPECT_EQ(newEntries(), std::vector<std::string>{"started|Headphones connected|Started "
                                                     "session \u2014 1 h \u00B7 Bluetooth, "
                                                     "priority 2"});
    EXPECT_EQ(notifications(),
              std::vector<std::string>{"Orvel started|Desk started a session (1 h)."});

    engine().handle(rule.id, false, false);
    EXPECT_FALSE(c.isActive());
    EXPECT_FALSE(engine().owningRule());
    EXPECT_TRUE(engine().isArmed(rule.id));
    EXPECT_EQ(newEntries(), std::vector<std::string>{"ended|Headphones disconnected|Ended "
                                                     "session \u2014 it was started by Desk"});
    EXPECT_EQ(notifications().back(), "Orvel ended|Desk ended the session.");
}

TEST_F(TriggerEvaluationTest, EdgesThatDoNothingSayWhyOrStaySilent) {
    struct Case {
        const char* what;
        std::function<void(TriggerRule&)> setUp;
        bool appeared;
        std::vector<std::string> entries;
    };
    const std::string connected = "|Headphones connected|";
    const std::string disconnected = "|Headphones disconnected|";
    const Case cases[] = {
        {"master off", [&](TriggerRule&) { engine().setMasterEnabled(false); }, true, {}},
        {"master off, clear edge",
         [&](TriggerRule&) { engine().setMasterEnabled(false); },
         false,
         {}},
        {"paused",
         [&](TriggerRule&) { engine().pause(3600); },
         true,
         {"info" + connected + "Suppressed \u2014 triggers are paused"}},
        {"paused, clear edge",
         [&](TriggerRule&) { engine().pause(std::nullopt); },
         false,
         {"info" + disconnected + "Suppressed \u2014 triggers are paused"}},
        {"disabled", [](TriggerRule& r) { r.enabled = false; }, true, {}},
        {"unavailable here", [](TriggerRule& r) { r.unavailableHere = true; }, false, {}},
        {"nothing to do", [](TriggerRule& r) { r.onAppear = A::nothing; }, true, {}},
        {"nothing to do, clear edge", [](TriggerRule& r) { r.onClear = A::nothing; }, false, {}},
        {"AC only on battery",
         [&](TriggerRule& r) {
             r.acOnly = true;
             sim().powerSources().setOnAC(false);
         },
         true,
         {"info" + connected + "Ignored \u2014 rule runs only on AC power"}},
        {"a session already runs",
         [&](TriggerRule&) { controller().start(); },
         true,
         {"info" + connected + "Ignored \u2014 a session is already running; rule re-armed"}},
        {"no session to end", [](TriggerRule&) {}, false, {}},
        {"the manual session is untouchable",
         [&](TriggerRule&) { controller().start(); },
         false,
         {"info" + disconnected + "Ignored \u2014 the running session is manual and untouchable"}},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        TriggerRule rule = headphones();
        c.setUp(rule);
        engine().add(rule);
        // Clear edges start disarmed: every one of them re-arms.
        engine().armed[rule.id] = c.appeared;
        const bool wasActive = controller().isActive();
        newEntries();
        engine().handle(rule.id, c.appeared, false);
        EXPECT_EQ(newEntries(), c.entries) << c.what;
        EXPECT_TRUE(engine().isArmed(rule.id)) << c.what;
        EXPECT_EQ(controller().isActive(), wasActive) << c.what;
        EXPECT_TRUE(notifications().empty()) << c.what;
    }
    engine().handle(UUID::random(), true, false);
    EXPECT_TRUE(newEntries().empty()) << "an unknown rule";
}

TEST_F(TriggerEvaluationTest, AManualSessionEndsOnlyForARuleThatMayEndIt) {
    TriggerRule rule = headphones();
    rule.endsManual = true;
    engine().add(rule);
    controller().start();
    newEntries();
    engine().handle(rule.id, false, false);
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(newEntries(),
              std::vector<std::string>{"ended|Headphones disconnected|Ended MANUAL session \u2014 "
                                       "this rule has \u201CAlso end manual sessions\u201D on"});
    EXPECT_EQ(notifications(),
              std::vector<std::string>{"Orvel ended|Desk ended the manual session."});
}

TEST_F(TriggerEvaluationTest, AFamilyMissingFromThePriorityCountsAsFirst) {
    TriggerRule rule = makeRule(S::app, "Editing");
    rule.appName = "Editor";
    engine().replaceAll({rule}, {S::schedule, S::bluetooth});
    newEntries();
    engine().handle(rule.id, true, false);
    EXPECT_EQ(newEntries(),
              std::vector<std::string>{"started|Editor launched|Started session "
                                       "\u2014 Indefinitely \u00B7 Apps, priority 1"});
}

TEST_F(TriggerEvaluationTest, TheLatchHoldsARuleTurnedOffByHandUntilItsConditionClears) {
    const TriggerRule rule = added(headphones());
    connect(true);
    engine().handle(rule.id, true, false);
    ASSERT_TRUE(controller().isActive());
    newEntries();

    controller().stop(true);
    EXPECT_EQ(newEntries(), std::vector<std::string>{"rearmed|Manual off|Desk rule re-armed "
                                                     "\u2014 fires again after its condition "
                                                     "clears and returns"});
    EXPECT_FALSE(engine().isArmed(rule.id));
    EXPECT_FALSE(engine().owningRule());

    engine().handle(rule.id, true, false);
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(newEntries(), std::vector<std::string>{"info|Headphones connected|Ignored \u2014 "
                                                     "awaiting re-arm (condition must clear "
                                                     "first)"});

    connect(false);
    engine().handle(rule.id, false, false);
    EXPECT_TRUE(newEntries().empty()) << "no session to end";
    EXPECT_TRUE(engine().isArmed(rule.id));

    connect(true);
    engine().handle(rule.id, true, false);
    EXPECT_TRUE(controller().isActive());
}

TEST_F(TriggerEvaluationTest, ASessionEndedByHandAfterTheConditionWentLeavesTheRuleArmed) {
    const TriggerRule rule = added(headphones());
    engine().handle(rule.id, true, false);
    newEntries();
    controller().stop(true);  // the headphones are not connected
    EXPECT_TRUE(newEntries().empty());
    EXPECT_FALSE(engine().isArmed(rule.id)) << "still latched by its own start";

    // A session the controller ends itself never re-arms or disarms anything.
    TriggerRule other = added(headphones("Other"));
    connect(true);
    engine().handle(other.id, true, false);
    loop().advance(3600);
    EXPECT_FALSE(controller().isActive());
    EXPECT_TRUE(newEntries().size() == 1u) << "only the start";
}

TEST_F(TriggerEvaluationTest, ARuleWhoseStartIsOnItsClearEdgeIsNeverHeldBack) {
    TriggerRule rule = headphones();
    rule.onAppear = A::nothing;
    rule.onClear = A::startSession;
    engine().add(rule);
    engine().handle(rule.id, false, false);
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(engine().isArmed(rule.id));
}

TEST_F(TriggerEvaluationTest, AHigherFamilyStillHoldingShieldsTheEndOfASession) {
    // Bluetooth above Apps above WiFi; the app rule comes first in the rule list.
    engine().priority = {S::schedule, S::bluetooth, S::app, S::wifiSSID, S::network};
    TriggerRule app = makeRule(S::app, "Editing");
    app.appBundleID = "org.example.Editor";
    TriggerRule bt = headphones("Desk");
    TriggerRule wifi = makeRule(S::wifiSSID, "Office");
    wifi.matcher = NetworkMatcher::ssid("Office");
    TriggerRule sched = makeRule(S::schedule, "Hours");
    sched.schedEndMin = 1020;
    sched.schedStartMin = 540;
    // 18:00 UTC: outside the schedule's hours, so it never holds here.
    loop().setNow(Date::fromUnix(1781114400));
    for (const auto& r : {app, bt, wifi, sched}) {
        engine().add(r);
    }
    engine().handle(wifi.id, true, false);
    ASSERT_TRUE(controller().isActive());
    newEntries();

    connect(true);
    // Unannounced: only its running matters here, not the app rule's own launch event.
    sim().workspace().launch("org.example.Editor", "Editor", ActivationPolicy::regular,
                             SimWorkspace::Notice::silent);
    engine().handle(wifi.id, false, false);
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(newEntries(), std::vector<std::string>{"shielded|Left WiFi \"Office\"|Ignored \u2014 "
                                                     "shielded by Editing (higher priority still "
                                                     "holding)"})
        << "the earlier rule wins whatever its family's place";
    EXPECT_TRUE(engine().isArmed(wifi.id));

    // A higher family's end is never shielded by a lower one, and the first family never.
    EXPECT_FALSE(engine().shieldingRule(bt));
    EXPECT_FALSE(engine().shieldingRule(sched));
    EXPECT_EQ(engine().shieldingRule(app), bt);

    // A candidate that is disabled, unavailable or does not start sessions does not shield: the
    // walk passes it for the next holder, and with none left the end goes through.
    const std::pair<const char*, std::function<void(TriggerRule&)>> inert[] = {
        {"disabled", [](TriggerRule& r) { r.enabled = false; }},
        {"unavailable here", [](TriggerRule& r) { r.unavailableHere = true; }},
        {"does not start sessions", [](TriggerRule& r) { r.onAppear = A::nothing; }},
    };
    const auto shieldOf = [&](const TriggerRule& r) {
        const auto s = engine().shieldingRule(r);
        return s ? s->name : std::string("none");
    };
    for (const auto& [what, change] : inert) {
        SCOPED_TRACE(what);
        TriggerRule first = app;
        change(first);
        engine().update(first);
        EXPECT_EQ(shieldOf(wifi), "Desk");
        TriggerRule second = bt;
        change(second);
        engine().update(second);
        EXPECT_EQ(shieldOf(wifi), "none");
        engine().update(app);
        engine().update(bt);
    }
    for (TriggerRule r : {app, bt}) {
        r.unavailableHere = true;
        engine().update(r);
    }
    engine().handle(wifi.id, false, false);
    EXPECT_FALSE(controller().isActive()) << "rules unavailable here hold no end back";
}

TEST_F(TriggerEvaluationTest, TheOwnersNameIsReadBeforeTheSessionEnds) {
    const TriggerRule starter = added(headphones("Starter"));
    TriggerRule ender = makeRule(S::app, "Ender");
    ender.appName = "Editor";
    engine().add(ender);
    engine().handle(starter.id, true, false);
    engine().deleteRule(starter.id);
    EXPECT_FALSE(engine().owningRule());
    newEntries();
    engine().handle(ender.id, false, false);
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(newEntries(), std::vector<std::string>{"ended|Editor quit|Ended session \u2014 it "
                                                     "was started by a rule"});
    EXPECT_EQ(engine().ruleName(starter.id), "a rule");
    EXPECT_EQ(engine().ruleName(ender.id), "Ender");
}

TEST_F(TriggerEvaluationTest, TheTestButtonPlaysTheAppearEdgeForReal) {
    const TriggerRule rule = added(headphones());
    engine().armed[rule.id] = false;
    newEntries();
    engine().simulate(rule);
    EXPECT_TRUE(controller().isActive());
    EXPECT_FALSE(engine().isArmed(rule.id));
    EXPECT_EQ(newEntries(),
              (std::vector<std::string>{
                  "simulated|Test \u2014 Desk|Simulated Headphones connected",
                  "simulated|Test \u2014 Headphones connected|Started session \u2014 1 h \u00B7 "
                  "Bluetooth, priority 2"}));

    engine().pause(60);
    engine().simulate(rule);
    EXPECT_EQ(newEntries().back(),
              "simulated|Test \u2014 Headphones connected|Suppressed \u2014 triggers are paused");
}

TEST_F(TriggerEvaluationTest, TheTestButtonOnANothingEdgeNamesTheRule) {
    TriggerRule rule = headphones();
    rule.onAppear = A::nothing;
    engine().add(rule);
    newEntries();
    engine().simulate(rule);
    EXPECT_EQ(newEntries(),
              (std::vector<std::string>{"simulated|Test \u2014 Desk|Simulated Headphones connected",
                                        "simulated|Test \u2014 Desk|This event is set to do "
                                        "nothing"}));
    TriggerRule unsaved = headphones("Unsaved");
    engine().simulate(unsaved);
    EXPECT_EQ(newEntries().size(), 1u) << "a rule not yet stored plays only the first entry";
}

TEST_F(TriggerEvaluationTest, AStartTheControllerRefusesIsNotAnnouncedAndLeavesTheRuleArmed) {
    struct Case {
        const char* what;
        std::function<void()> refuse;
        std::string detail;
        // Not the rule's start: only a failure to hold is told, in the controller's words.
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"Power Saver blocks starts",
         [&] {
             prefs().lpmEnd = true;
             services().powerCenter().lpmOn = true;
             services().powerCenter().syncBlockReason();
         },
         "Ignored \u2014 the session could not start: Power Saver is on \u2014 Orvel is "
         "blocked while it's on.",
         {}},
        {"both engines refuse",
         [&] {
             sim().powerAssertions().refuseAll(kIOReturnError);
             sim().processes().setExecutable("/usr/bin/caffeinate", false);
         },
         "Ignored \u2014 the session could not start: ",
         {"Orvel could not keep this computer awake|/usr/bin/caffeinate is missing or not "
          "executable."}},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        const TriggerRule rule = added(headphones());
        c.refuse();
        newEntries();
        engine().handle(rule.id, true, false);
        EXPECT_FALSE(controller().isActive()) << c.what;
        const auto entries = newEntries();
        ASSERT_EQ(entries.size(), 1u) << c.what;
        EXPECT_EQ(entries[0].rfind("info|Headphones connected|" + c.detail, 0), 0u)
            << c.what << ": " << entries[0];
        EXPECT_TRUE(engine().isArmed(rule.id)) << c.what;
        EXPECT_FALSE(engine().owningRule()) << c.what;
        EXPECT_EQ(notifications(), c.told) << c.what;
    }
}

// The activity log reads in the user's language, the refusal's reason included.
TEST_F(TriggerEvaluationTest, ActivityRecordsReadInTheUserLanguage) {
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    const TriggerRule rule = added(headphones());
    newEntries();
    engine().simulate(rule);
    ASSERT_TRUE(controller().isActive());
    EXPECT_EQ(newEntries(),
              (std::vector<std::string>{
                  "simulated|Test \u2014 Desk|Simuliert: Headphones verbunden",
                  "simulated|Test \u2014 Headphones verbunden|Sitzung gestartet \u2014 1 h \u00B7 "
                  "Bluetooth, Rang 2"}));
    ASSERT_FALSE(notifications().empty());
    EXPECT_EQ(notifications().front().rfind("Orvel gestartet|", 0), 0u) << notifications().front();

    controller().stop(false);
    sim().powerAssertions().refuseAll(kIOReturnNotPermitted);
    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    engine().simulate(rule);
    ASSERT_FALSE(controller().isActive());
    EXPECT_EQ(newEntries().back(),
              "simulated|Test \u2014 Headphones verbunden|Ignoriert \u2014 die Sitzung konnte "
              "nicht starten: "
              "/usr/bin/caffeinate fehlt oder ist nicht ausführbar.");
}

TEST_F(TriggerEvaluationTest, DeniedNotificationsPostNothing) {
    sim().notifications().setAuthorized(false);
    const TriggerRule rule = added(headphones());
    engine().handle(rule.id, true, false);
    EXPECT_TRUE(controller().isActive());
    EXPECT_TRUE(sim().notifications().posted().empty());
    EXPECT_EQ(sim().notifications().lastRequestedOptions(), kNotificationAlert);
}

TEST_F(TriggerEvaluationTest, HoldingIsAskedOfThePlatformEachTime) {
    TriggerRule bt = headphones();
    TriggerRule app = makeRule(S::app, "Editing");
    app.appBundleID = "org.example.Editor";
    TriggerRule net = makeRule(S::network, "VPN");
    net.matcher = NetworkMatcher::vpnConnected();
    EXPECT_FALSE(engine().isHolding(bt));
    connect(true);
    EXPECT_TRUE(engine().isHolding(bt));
    bt.btAddress.reset();
    EXPECT_FALSE(engine().isHolding(bt));
    EXPECT_FALSE(engine().isHolding(app));
    const auto editor = sim().workspace().launch("org.example.Editor", "Editor");
    EXPECT_TRUE(engine().isHolding(app));
    sim().workspace().quit(editor.processIdentifier);
    EXPECT_FALSE(engine().isHolding(app));
    EXPECT_FALSE(engine().isHolding(net));
}

}  // namespace
}  // namespace orvel
