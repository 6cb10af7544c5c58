#include <gtest/gtest.h>

#include <functional>

#include "core/ActivityLog.h"
#include "core/OrvelController.h"
#include "drives/DriveKeepAlive.h"
#include "support/OrvelTest.h"
#include "triggers/AppTriggerSource.h"
#include "triggers/BluetoothTriggerSource.h"
#include "triggers/NetworkTriggerSource.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"
#include "triggers/WakeHelperClient.h"

namespace orvel {
namespace {

using test::activity;
using test::makeRule;
using test::namesOf;
using S = TriggerSource;

class TriggerEngineStoreTest : public test::OrvelTest {
  protected:
    TriggerEngine& engine() { return services().triggerEngine(); }
    MemoryUserDefaults& d() { return sim().userDefaults(); }
    // A new engine over the same stored values, as at the next launch.
    TriggerEngine& relaunch() {
        releaseServices();
        return services().triggerEngine();
    }
};

const std::vector<TriggerSource> kDefaultOrder{S::schedule, S::bluetooth, S::wifiSSID, S::network,
                                               S::app};

// Each trigger service builds alone, first of all, without building the services it reaches only
// on events: the controller (which tells the engine and the power centre of its sessions), the
// power centre, the wake helper and the drive keep-alive stay unbuilt until first used.
TEST_F(TriggerEngineStoreTest, EachTriggerServiceBuildsFirstWithoutTheServicesItReachesLater) {
    struct Case {
        const char* name;
        std::function<void()> build;
    };
    const std::vector<Case> cases{
        {"engine", [this] { services().triggerEngine(); }},
        {"power centre", [this] { services().powerCenter(); }},
        {"app source", [this] { services().appSource(); }},
        {"bluetooth source", [this] { services().bluetoothSource(); }},
        {"network source", [this] { services().networkSource(); }},
        {"schedule source", [this] { services().scheduleSource(); }},
        {"wake helper", [this] { services().wakeHelper(); }},
    };
    for (const auto& c : cases) {
        releaseServices();
        c.build();
        const std::string name = c.name;
        EXPECT_EQ(services().existing<OrvelController>(), nullptr) << name;
        EXPECT_EQ(services().existing<DriveKeepAlive>(), nullptr) << name;
        EXPECT_EQ(services().existing<PowerTriggerCenter>() != nullptr, name == "power centre")
            << name;
        EXPECT_EQ(services().existing<WakeHelperClient>() != nullptr, name == "wake helper")
            << name;
    }
}

TEST_F(TriggerEngineStoreTest, AFirstLaunchHasNoRulesTheDefaultOrderAndStopsEverySource) {
    TriggerEngine& e = engine();
    EXPECT_TRUE(e.rules().empty());
    EXPECT_EQ(e.priority(), kDefaultOrder);
    EXPECT_TRUE(e.masterEnabled());
    EXPECT_FALSE(e.pausedUntil());
    EXPECT_FALSE(e.isPaused());
    e.start();
    EXPECT_FALSE(services().bluetoothSource().isRunning());
    EXPECT_FALSE(services().networkSource().isRunning());
    EXPECT_FALSE(services().scheduleSource().isRunning());
    EXPECT_FALSE(services().appSource().active);
    EXPECT_EQ(d().writeCount(), 0u) << "loading writes nothing";
}

TEST_F(TriggerEngineStoreTest, StoredPriorityIsFixedUpOrReplacedByTheDefault) {
    struct Case {
        const char* stored;
        std::vector<TriggerSource> loaded;
    };
    const Case cases[] = {
        {R"(["network","bluetooth"])", {S::schedule, S::network, S::bluetooth, S::app}},
        {R"(["app"])", {S::schedule, S::app}},
        {R"(["app","schedule","app"])", {S::app, S::schedule, S::app}},
        {R"(["app","wifiSSID","network","bluetooth","schedule"])",
         {S::app, S::wifiSSID, S::network, S::bluetooth, S::schedule}},
        {R"([])", kDefaultOrder},
        {R"(["network","wifi"])", kDefaultOrder},
        {R"(["network",3])", kDefaultOrder},
        {R"({"0":"app"})", kDefaultOrder},
        {"not json", kDefaultOrder},
    };
    for (const auto& c : cases) {
        test::storeText(sim(), TriggerEngine::kPriorityKey, c.stored);
        EXPECT_EQ(relaunch().priority(), c.loaded) << c.stored;
    }
}

TEST_F(TriggerEngineStoreTest, TheMasterSwitchLoadsOnlyFromABooleanWithoutWriting) {
    struct Case {
        std::optional<DefaultsValue> stored;
        bool on;
    };
    const Case cases[] = {
        {std::nullopt, true},
        {DefaultsValue(std::string("false")), true},
        {DefaultsValue(std::int64_t{0}), true},
        {DefaultsValue(false), false},
        {DefaultsValue(true), true},
    };
    for (const auto& c : cases) {
        d().removeObject(TriggerEngine::kMasterKey);
        if (c.stored) {
            d().setObject(TriggerEngine::kMasterKey, *c.stored);
        }
        const auto writes = d().writeCount();
        EXPECT_EQ(relaunch().masterEnabled(), c.on);
        EXPECT_EQ(d().writeCount(), writes) << "loading does not save";
    }
}

TEST_F(TriggerEngineStoreTest, AStoredPauseIsRestoredWithItsTimerOrDropped) {
    struct Case {
        const char* what;
        std::optional<DefaultsValue> stored;
        bool paused;
        bool timer;
    };
    const double unixNow = loop().now().unixTime();
    const Case cases[] = {
        {"until re-enabled", DefaultsValue(std::int64_t{-1}), true, false},
        {"until re-enabled as a double", DefaultsValue(-1.0), true, false},
        {"an hour ahead", DefaultsValue(unixNow + 3600), true, true},
        {"an hour ago", DefaultsValue(unixNow - 3600), false, false},
        {"zero", DefaultsValue(0.0), false, false},
        {"absent", std::nullopt, false, false},
        {"a text", DefaultsValue(std::string("soon")), false, false},
    };
    for (const auto& c : cases) {
        d().removeObject(TriggerEngine::kPausedUntilKey);
        if (c.stored) {
            d().setObject(TriggerEngine::kPausedUntilKey, *c.stored);
        }
        TriggerEngine& e = relaunch();
        EXPECT_EQ(e.isPaused(), c.paused) << c.what;
        EXPECT_EQ(e.pausedUntil().has_value(), c.paused) << c.what;
        EXPECT_FALSE(e.hasPauseTimer()) << c.what << ": no timer before start";
        e.start();
        EXPECT_EQ(e.hasPauseTimer(), c.timer) << c.what;
    }
}

TEST_F(TriggerEngineStoreTest, ANewEngineRestoresATimedPauseThatEndsOnTime) {
    engine().pause(3600);
    loop().drain();
    loop().advance(600);
    TriggerEngine& e = relaunch();
    EXPECT_TRUE(e.isPaused());
    e.start();
    loop().advance(2999);
    EXPECT_TRUE(e.isPaused());
    loop().advance(1);
    loop().drain();
    EXPECT_FALSE(e.isPaused());
    EXPECT_FALSE(e.pausedUntil());
    EXPECT_EQ(activity(services().activityLog()).back(), "info|Triggers resumed|");
    EXPECT_EQ(d().doubleForKey(TriggerEngine::kPausedUntilKey), 0.0);
}

TEST_F(TriggerEngineStoreTest, SavesTheFourKeysInTheirStoredForms) {
    TriggerEngine& e = engine();
    TriggerRule rule = makeRule(S::app, "Editor");
    rule.id = *UUID::fromString("6F1D2C3B-4A59-4E8D-9C7B-1A2B3C4D5E6F");
    e.add(rule);
    e.movePriority(S::app, true);
    e.setMasterEnabled(false);

    EXPECT_EQ(stringFromData(*d().dataForKey(TriggerEngine::kRulesKey)),
              R"([{"id":"6F1D2C3B-4A59-4E8D-9C7B-1A2B3C4D5E6F","name":"Editor","source":"app",)"
              R"("enabled":true,"onAppear":"startSession","onClear":"endSession",)"
              R"("durationSeconds":0,"acOnly":false,"unavailableHere":false}])");
    EXPECT_EQ(stringFromData(*d().dataForKey(TriggerEngine::kPriorityKey)),
              R"(["schedule","bluetooth","wifiSSID","app","network"])");
    EXPECT_EQ(*d().object(TriggerEngine::kMasterKey), DefaultsValue(false));
    EXPECT_EQ(*d().object(TriggerEngine::kPausedUntilKey), DefaultsValue(0.0));

    e.pause(std::nullopt);
    EXPECT_EQ(*d().object(TriggerEngine::kPausedUntilKey), DefaultsValue(std::int64_t{-1}));
    e.pause(90.5);
    EXPECT_EQ(*d().object(TriggerEngine::kPausedUntilKey),
              DefaultsValue(loop().now().unixTime() + 90.5));

    TriggerEngine& again = relaunch();
    EXPECT_EQ(again.rules(), std::vector<TriggerRule>{rule});
    EXPECT_EQ(again.priority(),
              (std::vector{S::schedule, S::bluetooth, S::wifiSSID, S::app, S::network}));
    EXPECT_FALSE(again.masterEnabled());
    ASSERT_TRUE(again.pausedUntil());
    EXPECT_NEAR(again.pausedUntil()->secondsSinceReferenceDate,
                (loop().now() + 90.5).secondsSinceReferenceDate, 1e-6);
}

TEST_F(TriggerEngineStoreTest, EachMutatorSavesAndSynchronisesAsItShould) {
    TriggerEngine& e = engine();
    e.start();
    TriggerRule editor = makeRule(S::app, "Editor");
    e.add(editor);
    EXPECT_EQ(namesOf(services().appSource().rules), std::vector<std::string>{"Editor"});
    EXPECT_TRUE(e.isArmed(editor.id));

    // An unknown id changes nothing: no save, no sync.
    auto writes = d().writeCount();
    e.update(makeRule(S::app, "Stranger"));
    EXPECT_EQ(d().writeCount(), writes);

    editor.name = "Editor 2";
    e.update(editor);
    EXPECT_EQ(namesOf(services().appSource().rules), std::vector<std::string>{"Editor 2"});

    // A rule assigned straight to the list (a view binding) reaches the sources only with the
    // next synchronisation, which moving a family does not make.
    auto list = e.rules();
    list.push_back(makeRule(S::app, "Terminal"));
    e.rules = list;
    writes = d().writeCount();
    e.movePriority(S::app, true);
    EXPECT_GT(d().writeCount(), writes);
    EXPECT_EQ(namesOf(services().appSource().rules), std::vector<std::string>{"Editor 2"});

    // Deleting an id that no rule has still saves and synchronises.
    writes = d().writeCount();
    e.deleteRule(UUID::random());
    EXPECT_GT(d().writeCount(), writes);
    EXPECT_EQ(namesOf(services().appSource().rules),
              (std::vector<std::string>{"Editor 2", "Terminal"}));

    e.deleteRule(editor.id);
    EXPECT_EQ(namesOf(e.rules()), std::vector<std::string>{"Terminal"});
    e.deleteAll();
    EXPECT_TRUE(e.rules().empty());
    EXPECT_FALSE(services().appSource().active);
    loop().drain();
    EXPECT_EQ(activity(services().activityLog()).back(), "info|All rules deleted|");
}

TEST_F(TriggerEngineStoreTest, MovingAFamilyStopsAtTheEnds) {
    struct Case {
        TriggerSource family;
        bool up;
        std::vector<TriggerSource> order;
    };
    const Case cases[] = {
        {S::schedule, true, kDefaultOrder},
        {S::app, false, kDefaultOrder},
        {S::schedule, false, {S::bluetooth, S::schedule, S::wifiSSID, S::network, S::app}},
        {S::app, true, {S::schedule, S::bluetooth, S::wifiSSID, S::app, S::network}},
    };
    for (const auto& c : cases) {
        TriggerEngine& e = relaunch();
        e.priority = kDefaultOrder;
        e.movePriority(c.family, c.up);
        EXPECT_EQ(e.priority(), c.order) << rawValue(c.family) << (c.up ? " up" : " down");
    }
    TriggerEngine& e = relaunch();
    e.priority = {S::network};
    e.movePriority(S::app, true);
    EXPECT_EQ(e.priority(), std::vector{S::network}) << "a family not in the list";
}

TEST_F(TriggerEngineStoreTest, ReplaceAllKeepsTheOrderOnlyForAnEmptyList) {
    TriggerEngine& e = engine();
    e.pause(std::nullopt);
    e.setMasterEnabled(false);
    e.replaceAll({makeRule(S::app, "A")}, {});
    EXPECT_EQ(e.priority(), kDefaultOrder);
    e.replaceAll({makeRule(S::app, "B")}, {S::network, S::bluetooth});
    EXPECT_EQ(e.priority(), (std::vector{S::network, S::bluetooth})) << "stored as given";
    EXPECT_EQ(namesOf(e.rules()), std::vector<std::string>{"B"});
    EXPECT_TRUE(e.isPaused());
    EXPECT_FALSE(e.masterEnabled());
}

struct SyncCase {
    const char* what;
    std::vector<TriggerRule> rules;
    std::vector<std::string> bluetooth, network, schedule, apps;
};

TEST_F(TriggerEngineStoreTest, EachSourceGetsItsEnabledAvailableRules) {
    auto rule = [](S source, const char* name, bool enabled = true, bool unavailable = false) {
        TriggerRule r = makeRule(source, name);
        r.enabled = enabled;
        r.unavailableHere = unavailable;
        return r;
    };
    const SyncCase cases[] = {
        {"one of each",
         {rule(S::bluetooth, "bt"), rule(S::wifiSSID, "wifi"), rule(S::network, "net"),
          rule(S::schedule, "sched"), rule(S::app, "app")},
         {"bt"},
         {"wifi", "net"},
         {"sched"},
         {"app"}},
        {"disabled rules reach no source",
         {rule(S::bluetooth, "bt", false), rule(S::network, "net", false),
          rule(S::schedule, "sched", false), rule(S::app, "app", false)},
         {},
         {},
         {},
         {}},
        {"unavailable here stops only Bluetooth and network rules",
         {rule(S::bluetooth, "bt", true, true), rule(S::wifiSSID, "wifi", true, true),
          rule(S::schedule, "sched", true, true), rule(S::app, "app", true, true)},
         {},
         {},
         {"sched"},
         {"app"}},
    };
    for (const auto& c : cases) {
        TriggerEngine& e = relaunch();
        e.replaceAll(c.rules, {});
        EXPECT_EQ(namesOf(services().bluetoothSource().rules()), c.bluetooth) << c.what;
        EXPECT_EQ(services().bluetoothSource().isRunning(), !c.bluetooth.empty()) << c.what;
        EXPECT_EQ(namesOf(services().networkSource().rules()), c.network) << c.what;
        EXPECT_EQ(services().networkSource().isRunning(), !c.network.empty()) << c.what;
        EXPECT_EQ(namesOf(services().scheduleSource().rules()), c.schedule) << c.what;
        EXPECT_EQ(services().scheduleSource().isRunning(), !c.schedule.empty()) << c.what;
        EXPECT_EQ(namesOf(services().appSource().rules), c.apps) << c.what;
        EXPECT_EQ(services().appSource().active, !c.apps.empty()) << c.what;
    }
}

TEST_F(TriggerEngineStoreTest, BluetoothRunsOnlyWhileAllowedAlways) {
    const BluetoothAuthorization cases[] = {
        BluetoothAuthorization::notDetermined, BluetoothAuthorization::restricted,
        BluetoothAuthorization::denied, BluetoothAuthorization::allowedAlways};
    for (const auto authorization : cases) {
        sim().bluetooth().setAuthorization(authorization);
        TriggerEngine& e = relaunch();
        e.replaceAll({makeRule(S::bluetooth, "bt"), makeRule(S::app, "app")}, {});
        EXPECT_EQ(services().bluetoothSource().isRunning(),
                  authorization == BluetoothAuthorization::allowedAlways)
            << static_cast<int>(authorization);
        EXPECT_TRUE(services().appSource().active) << "other sources still start";
        EXPECT_EQ(e.rules().size(), 2u) << "Bluetooth rules stay stored";
    }
}

TEST_F(TriggerEngineStoreTest, TheMasterSwitchAndThePauseStopEverySourceAtTheNextSync) {
    TriggerEngine& e = engine();
    e.replaceAll({makeRule(S::network, "net"), makeRule(S::app, "app")}, {});
    e.setMasterEnabled(false);
    EXPECT_FALSE(services().networkSource().isRunning());
    EXPECT_FALSE(services().appSource().active);
    e.setMasterEnabled(true);
    EXPECT_TRUE(services().networkSource().isRunning());

    e.pause(3600);
    EXPECT_TRUE(services().networkSource().isRunning()) << "a pause alone does not sync";
    e.add(makeRule(S::schedule, "sched"));
    EXPECT_FALSE(services().networkSource().isRunning());
    EXPECT_FALSE(services().scheduleSource().isRunning());
    e.resume();
    EXPECT_TRUE(services().networkSource().isRunning());
    EXPECT_TRUE(services().scheduleSource().isRunning());
}

TEST_F(TriggerEngineStoreTest, PausesAreLoggedByLength) {
    struct Case {
        std::optional<double> seconds;
        const char* detail;
        bool timer;
    };
    const Case cases[] = {
        {3600, "Paused for 1 hour", true},
        {28799, "Paused for 1 hour", true},
        {28800, "Paused until tomorrow", true},
        {50000, "Paused until tomorrow", true},
        {std::nullopt, "Paused until re-enabled", false},
    };
    for (const auto& c : cases) {
        TriggerEngine& e = relaunch();
        e.pause(c.seconds);
        loop().drain();
        EXPECT_EQ(activity(services().activityLog()).back(),
                  std::string("info|Triggers paused|") + c.detail);
        EXPECT_EQ(e.hasPauseTimer(), c.timer) << c.detail;
        EXPECT_TRUE(e.isPaused());
    }
}

TEST_F(TriggerEngineStoreTest, ThePanelsPauseFormForwardsItsTwoArguments) {
    TriggerEngine& e = engine();
    e.pause(3600.0, true);
    EXPECT_EQ(e.pausedUntil(), Date::distantFuture());
    EXPECT_FALSE(e.hasPauseTimer());
    e.pause(3600.0, false);
    EXPECT_EQ(e.pausedUntil(), loop().now() + 3600);
    EXPECT_TRUE(e.hasPauseTimer());
    TriggerRule rule = makeRule(S::app, "app");
    e.add(rule);
    e.deleteRule(rule);
    EXPECT_TRUE(e.rules().empty());
}

TEST_F(TriggerEngineStoreTest, PausingUntilReEnabledAfterATimedPauseOutlastsTheOldTimer) {
    TriggerEngine& e = engine();
    e.pause(3600);
    e.pause(std::nullopt);
    EXPECT_FALSE(e.hasPauseTimer());
    loop().advance(7200);
    loop().drain();
    EXPECT_TRUE(e.isPaused());
    for (const auto& line : activity(services().activityLog())) {
        EXPECT_NE(line, "info|Triggers resumed|");
    }
}

TEST_F(TriggerEngineStoreTest, ResumingWhenNotPausedOnlyKillsAStrayTimer) {
    TriggerEngine& e = engine();
    loop().drain();
    const auto writes = d().writeCount();
    const auto entries = activity(services().activityLog()).size();
    e.resume();
    loop().drain();
    EXPECT_EQ(d().writeCount(), writes);
    EXPECT_EQ(activity(services().activityLog()).size(), entries);
}

TEST_F(TriggerEngineStoreTest, ADamagedStoredRuleIsSkippedAndTheListKeptAside) {
    TriggerRule good = makeRule(S::app, "Good");
    TriggerRule later = makeRule(S::network, "Later");
    Json list = TriggerRule::listToJson({good, makeRule(S::app, "Bad"), later});
    list[1]["source"] = "Bluetooth";
    const std::string stored = *dumpJson(list);
    test::storeText(sim(), TriggerEngine::kRulesKey, stored);

    TriggerEngine& e = engine();
    EXPECT_EQ(namesOf(e.rules()), (std::vector<std::string>{"Good", "Later"}));
    EXPECT_EQ(stringFromData(*d().dataForKey(TriggerEngine::kUnreadableRulesKey)), stored);
    const auto lines = test::logLines(sim(), "triggers");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Skipped 1 stored trigger rule"), std::string::npos) << lines[0];

    e.add(makeRule(S::app, "New"));
    EXPECT_EQ(stringFromData(*d().dataForKey(TriggerEngine::kUnreadableRulesKey)), stored)
        << "the next save leaves the kept copy alone";

    test::storeText(sim(), TriggerEngine::kRulesKey, "[not json");
    EXPECT_TRUE(relaunch().rules().empty());
    EXPECT_EQ(stringFromData(*d().dataForKey(TriggerEngine::kUnreadableRulesKey)), "[not json");
}

TEST_F(TriggerEngineStoreTest, AReadableListKeepsNothingAside) {
    test::storeRules(sim(), {makeRule(S::app, "A")});
    EXPECT_EQ(engine().rules().size(), 1u);
    EXPECT_FALSE(d().object(TriggerEngine::kUnreadableRulesKey));
    EXPECT_TRUE(test::logLines(sim(), "triggers").empty());
}

TEST_F(TriggerEngineStoreTest, AnIdsFirstRuleIsKeptAndLaterOnesDropped) {
    TriggerRule first = makeRule(S::app, "First");
    TriggerRule second = makeRule(S::app, "Second");
    second.id = first.id;
    TriggerRule other = makeRule(S::app, "Other");
    test::storeRules(sim(), {first, second, other});
    TriggerEngine& e = engine();
    EXPECT_EQ(namesOf(e.rules()), (std::vector<std::string>{"First", "Other"}));
    EXPECT_EQ(test::logLines(sim(), "triggers").size(), 1u);

    e.replaceAll({second, other, first}, {});
    EXPECT_EQ(namesOf(e.rules()), (std::vector<std::string>{"Second", "Other"}));
    EXPECT_EQ(test::logLines(sim(), "triggers").size(), 2u);
}

TEST_F(TriggerEngineStoreTest, AvailabilityIsClearedForRulesWhoseDeviceIsPaired) {
    auto unavailable = [](S source, const char* name, std::optional<std::string> address) {
        TriggerRule r = makeRule(source, name);
        r.unavailableHere = true;
        r.btAddress = std::move(address);
        return r;
    };
    TriggerEngine& e = engine();
    e.replaceAll({unavailable(S::bluetooth, "paired", "a4-83-e7-11-22-33"),
                  unavailable(S::bluetooth, "case differs", "A4-83-E7-11-22-33"),
                  unavailable(S::bluetooth, "no address", std::nullopt),
                  unavailable(S::app, "app", std::nullopt)},
                 {});
    auto writes = d().writeCount();
    sim().bluetooth().pair(BluetoothDevice{"a4-83-e7-11-22-33", "Headphones", true});
    e.refreshAvailability();
    EXPECT_GT(d().writeCount(), writes);
    std::vector<bool> flags;
    for (const auto& r : e.rules()) {
        flags.push_back(r.unavailableHere);
    }
    EXPECT_EQ(flags, (std::vector<bool>{false, true, true, false}));
    EXPECT_EQ(namesOf(services().bluetoothSource().rules()), std::vector<std::string>{"paired"});

    writes = d().writeCount();
    e.refreshAvailability();
    EXPECT_EQ(d().writeCount(), writes) << "nothing changed, nothing saved";
}

TEST_F(TriggerEngineStoreTest, RemovingTheLastAppRuleKeepsTheOneOffWatch) {
    TriggerEngine& e = engine();
    TriggerRule app = makeRule(S::app, "app");
    e.add(app);
    AppTriggerSource& source = services().appSource();
    source.watchOneOff("org.example.Render");
    e.deleteRule(app.id);
    EXPECT_FALSE(source.active);
    EXPECT_TRUE(source.rules.empty());
    EXPECT_EQ(source.oneOffBundleID, "org.example.Render");
    EXPECT_TRUE(source.isObserving());
}

}  // namespace
}  // namespace orvel
