#include "core/Preferences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "devices/DeviceState.h"
#include "devices/PermissionPrimer.h"
#include "support/OrvelTest.h"

namespace orvel {
namespace {

class PreferencesTest : public test::OrvelTest {
  protected:
    MemoryUserDefaults& stored() { return sim().userDefaults(); }
    void store(const char* key, DefaultsValue value) {
        stored().replacePersistentDomain([&] {
            auto domain = stored().persistentDomain();
            domain.insert_or_assign(key, std::move(value));
            return domain;
        }());
    }
    std::uint64_t reconciles() { return services().deviceState().reconcileCount(); }
};

TEST_F(PreferencesTest, FirstLaunchReadsEveryRegisteredDefaultAndWritesNothing) {
    Preferences& p = services().preferences();
    EXPECT_EQ(p.engine(), EngineKind::assertions);
    EXPECT_EQ(p.hotKeyStyle(), HotKeyStyle::off);
    EXPECT_FALSE(p.showInDock());
    EXPECT_TRUE(p.showTimer());
    EXPECT_TRUE(p.restoreSession());
    EXPECT_TRUE(p.reassertOnWake());
    EXPECT_TRUE(p.notifyOnEnd());
    EXPECT_FALSE(p.activateOnAC());
    EXPECT_FALSE(p.deactivateOnBattery());
    EXPECT_FALSE(p.batteryOffAfterEnabled());
    EXPECT_EQ(p.batteryOffValue(), 10);
    EXPECT_FALSE(p.batteryOffUnitHours());
    EXPECT_EQ(p.acAutoSeconds(), 0);
    EXPECT_FALSE(p.lowBattEnd());
    EXPECT_EQ(p.lowBattPct(), 20);
    EXPECT_FALSE(p.battRecover());
    EXPECT_EQ(p.battRecoverPct(), 50);
    EXPECT_FALSE(p.lpmEnd());
    EXPECT_FALSE(p.upsReact());
    EXPECT_FALSE(p.upsInverted());
    EXPECT_EQ(p.customSeconds(), 5400);
    EXPECT_DOUBLE_EQ(p.menuScale(), 1.0);
    EXPECT_FALSE(p.menuBold());
    EXPECT_FALSE(p.menuOpaque());
    EXPECT_FALSE(p.swapMenuButtons());
    EXPECT_FALSE(p.blockBuiltInKeyboard());
    EXPECT_FALSE(p.blockBuiltInTrackpad());
    EXPECT_FALSE(p.requestingPermissions);
    EXPECT_FALSE(p.preventScreenSaver());
    EXPECT_FALSE(p.keyboardBacklightOff());
    EXPECT_FALSE(p.builtInDisplayOff());
    EXPECT_FALSE(p.hasConfirmedBlocking());
    EXPECT_TRUE(p.tieDevicesToSession());
    EXPECT_TRUE(p.autoUnblockNoExternal());
    EXPECT_EQ(p.defaultPreset(), DurationPreset::indefinite);
    EXPECT_EQ(p.batteryOffSeconds(), 600);

    EXPECT_TRUE(stored().persistentDomain().empty());
    EXPECT_EQ(stored().writeCount(), 0u);
    EXPECT_EQ(reconciles(), 0u);
}

TEST_F(PreferencesTest, UnknownRawStringsFallBackAndTheStoredTextStays) {
    store("engine", "Caffeinate");
    store("hotKeyStyle", "hyper");
    store("defaultPreset", "h3");
    Preferences& p = services().preferences();
    EXPECT_EQ(p.engine(), EngineKind::assertions);
    EXPECT_EQ(p.hotKeyStyle(), HotKeyStyle::off);
    EXPECT_EQ(p.defaultPreset(), DurationPreset::indefinite);
    EXPECT_EQ(stored().stringForKey("engine"), "Caffeinate");
    EXPECT_EQ(stored().stringForKey("defaultPreset"), "h3");

    p.defaultPreset = DurationPreset::h2;
    EXPECT_EQ(stored().stringForKey("defaultPreset"), "h2");
}

TEST_F(PreferencesTest, KnownRawStringsAndWronglyTypedValuesReadWithTheDefaultsConversions) {
    store("engine", "caffeinate");
    store("hotKeyStyle", "carbon");
    store("showTimer", "no");
    store("showInDock", "YES");
    store("customSeconds", "90 seconds");
    store("lowBattPct", 12.7);
    store("acAutoSeconds", true);
    Preferences& p = services().preferences();
    EXPECT_EQ(p.engine(), EngineKind::caffeinate);
    EXPECT_EQ(p.hotKeyStyle(), HotKeyStyle::carbon);
    EXPECT_FALSE(p.showTimer());
    EXPECT_TRUE(p.showInDock());
    EXPECT_EQ(p.customSeconds(), 90);
    EXPECT_EQ(p.lowBattPct(), 12);
    EXPECT_EQ(p.acAutoSeconds(), 1);
}

TEST_F(PreferencesTest, MenuScaleIsClampedOnReadOnly) {
    struct Case {
        DefaultsValue storedValue;
        double read;
    };
    const Case cases[] = {{3.0, 2.0}, {0.1, 0.5}, {1.25, 1.25}, {"nan", 1.0}, {"1.5", 1.5}};
    for (const auto& c : cases) {
        store("menuScale", c.storedValue);
        releaseServices();
        EXPECT_DOUBLE_EQ(services().preferences().menuScale(), c.read);
    }
    Preferences& p = services().preferences();
    std::vector<double> published;
    Subscription s = p.menuScale.subscribe([&](const double& v) { published.push_back(v); });
    p.menuScale = 3.0;
    EXPECT_EQ(published, (std::vector<double>{3.0}));
    EXPECT_DOUBLE_EQ(stored().doubleForKey("menuScale"), 3.0);
}

TEST_F(PreferencesTest, BlockingSwitchesStartOffWhateverIsStored) {
    store("blockKB", true);
    store("blockTP", true);
    Preferences& p = services().preferences();
    EXPECT_FALSE(p.blockBuiltInKeyboard());
    EXPECT_FALSE(p.blockBuiltInTrackpad());
    EXPECT_TRUE(stored().boolForKey("blockKB"));
    EXPECT_TRUE(stored().boolForKey("blockTP"));
}

TEST_F(PreferencesTest, ConfirmationCountsOnlyOnTheSameMachineAndMajorVersion) {
    const std::string here = Preferences::machineIdentity(sim().systemInfo());
    EXPECT_EQ(here, std::string(SimSystemInfo::kDefaultUUID) + "-12");
    struct Case {
        const char* name;
        std::optional<std::string> confirmedOn;
        std::optional<std::string> uuid;
        int major;
        bool confirmed;
    };
    const Case cases[] = {
        {"same machine", here, SimSystemInfo::kDefaultUUID, 12, true},
        {"other machine", here, "0A1B2C3D-0000-4000-8000-000000000000", 12, false},
        {"other major version", here, SimSystemInfo::kDefaultUUID, 13, false},
        {"no confirmedOn", std::nullopt, SimSystemInfo::kDefaultUUID, 12, false},
        {"unreadable identifier, same stand-in", "unknown-12", std::nullopt, 12, true},
    };
    for (const auto& c : cases) {
        stored().removePersistentDomain();
        store("confirmedBlock", true);
        if (c.confirmedOn) {
            store("confirmedOn", *c.confirmedOn);
        }
        sim().systemInfo().setPlatformUUID(c.uuid);
        sim().systemInfo().setOSMajorVersion(c.major);
        releaseServices();
        EXPECT_EQ(services().preferences().hasConfirmedBlocking(), c.confirmed) << c.name;
    }
}

TEST_F(PreferencesTest, ConfirmingRecordsTheMachineAndUnconfirmingKeepsIt) {
    Preferences& p = services().preferences();
    p.hasConfirmedBlocking = true;
    EXPECT_EQ(stored().stringForKey("confirmedOn"),
              Preferences::machineIdentity(sim().systemInfo()));
    EXPECT_TRUE(stored().boolForKey("confirmedBlock"));
    p.hasConfirmedBlocking = false;
    EXPECT_EQ(stored().stringForKey("confirmedOn"),
              Preferences::machineIdentity(sim().systemInfo()));
    EXPECT_FALSE(stored().boolForKey("confirmedBlock"));
}

TEST_F(PreferencesTest, BatteryOffSecondsUsesAtLeastOneUnitAndSaturates) {
    struct Case {
        std::int64_t value;
        bool hours;
        std::int64_t seconds;
    };
    const Case cases[] = {{10, false, 600},
                          {10, true, 36000},
                          {0, false, 60},
                          {-7, true, 3600},
                          {INT64_MAX, false, INT64_MAX},
                          {INT64_MAX / 3600 + 1, true, INT64_MAX}};
    Preferences& p = services().preferences();
    for (const auto& c : cases) {
        p.batteryOffValue = c.value;
        p.batteryOffUnitHours = c.hours;
        EXPECT_EQ(p.batteryOffSeconds(), c.seconds) << c.value << (c.hours ? " h" : " min");
    }
}

TEST_F(PreferencesTest, EveryAssignmentPublishesWritesAndRunsItsActionEvenUnchanged) {
    services().deviceState();  // follows the device settings, as at launch
    Preferences& p = services().preferences();
    int published = 0;
    Subscription s = p.preventScreenSaver.subscribe([&](const bool&) { ++published; });
    const auto writes = stored().writeCount();
    p.preventScreenSaver = false;  // same as before
    EXPECT_EQ(published, 1);
    EXPECT_EQ(stored().writeCount(), writes + 1);
    EXPECT_EQ(stored().persistentValue("noSaver"), DefaultsValue(false));
    EXPECT_EQ(reconciles(), 1u);

    p.keyboardBacklightOff = true;
    p.builtInDisplayOff = true;
    EXPECT_EQ(reconciles(), 3u);
    p.showTimer = false;  // no action
    EXPECT_EQ(reconciles(), 3u);
    EXPECT_EQ(stored().persistentValue("showTimer"), DefaultsValue(false));
    p.engine = EngineKind::caffeinate;
    EXPECT_EQ(stored().persistentValue("engine"), DefaultsValue("caffeinate"));
    p.customSeconds = 60;
    EXPECT_EQ(stored().persistentValue("customSeconds"), DefaultsValue(std::int64_t{60}));
}

class BlockingGateTest : public PreferencesTest {
  protected:
    void SetUp() override {
        PreferencesTest::SetUp();
        services().deviceState();  // follows the blocking switches, as at launch
        // Explained before; nothing is granted, so a request polls for 90 s.
        sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    }
};

TEST_F(BlockingGateTest, TurningASwitchOnTwiceStartsOneRequestOnTheNextLoopTurn) {
    Preferences& p = services().preferences();
    p.blockBuiltInKeyboard = true;
    EXPECT_TRUE(p.requestingPermissions);
    EXPECT_EQ(sim().permissions().listenEventRequests(), 0u) << "deferred to the next turn";
    p.blockBuiltInKeyboard = true;
    loop().drain();
    EXPECT_EQ(sim().permissions().listenEventRequests(), 1u);
    EXPECT_TRUE(stored().boolForKey("blockKB"));
}

TEST_F(BlockingGateTest, RefusalRevertsOnlyTheSwitchThatAsked) {
    Preferences& p = services().preferences();
    p.blockBuiltInKeyboard = true;
    p.blockBuiltInTrackpad = true;  // while the keyboard's request is in flight
    loop().drain();
    EXPECT_TRUE(services().permissionPrimer().isPolling());
    EXPECT_TRUE(p.blockBuiltInTrackpad());

    loop().advance(91);  // both permissions' checks run out
    EXPECT_FALSE(p.blockBuiltInKeyboard());
    EXPECT_FALSE(stored().boolForKey("blockKB"));
    EXPECT_TRUE(p.blockBuiltInTrackpad());
    EXPECT_TRUE(stored().boolForKey("blockTP"));
    EXPECT_FALSE(p.requestingPermissions);
    EXPECT_EQ(reconciles(), 1u) << "the revert's assignment of false reconciles";
}

TEST_F(BlockingGateTest, GrantReconcilesAndKeepsTheSwitchOn) {
    Preferences& p = services().preferences();
    p.blockBuiltInTrackpad = true;
    loop().drain();
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    sim().permissions().setAccessibility(true);
    loop().advance(1);
    EXPECT_TRUE(p.blockBuiltInTrackpad());
    EXPECT_FALSE(p.requestingPermissions);
    EXPECT_EQ(reconciles(), 1u);
}

TEST_F(BlockingGateTest, TurningASwitchOffReconcilesAtOnceWithoutARequest) {
    Preferences& p = services().preferences();
    p.blockBuiltInKeyboard = true;
    loop().drain();
    p.blockBuiltInTrackpad = false;
    EXPECT_EQ(reconciles(), 1u);
    EXPECT_EQ(sim().permissions().listenEventRequests(), 1u);
    EXPECT_TRUE(p.requestingPermissions);
}

TEST_F(BlockingGateTest, ACompletionAfterTheStoreIsGoneStillReverts) {
    Preferences& p = services().preferences();
    int reverted = 0;
    Preferences::permissionRequestFinished(false, WeakRef<Preferences>(), [&] { ++reverted; });
    EXPECT_EQ(reverted, 1);
    p.blockBuiltInKeyboard = true;
    loop().drain();
    EXPECT_TRUE(p.requestingPermissions);
}

TEST_F(PreferencesTest, ReloadWritesAllKeysPublishesEachOnceAndTurnsBlockingOff) {
    store("engine", "caffeinate");
    store("menuScale", 9.0);
    store("confirmedBlock", true);
    store("confirmedOn", Preferences::machineIdentity(sim().systemInfo()));
    Preferences& p = services().preferences();
    sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    sim().permissions().setAccessibility(true);
    p.blockBuiltInKeyboard = true;
    loop().drain();

    stored().removePersistentDomain();
    store("customSeconds", 120);
    int willChange = 0;
    Subscription s = p.objectWillChange.subscribe([&] { ++willChange; });
    std::vector<EngineKind> engines;
    Subscription e = p.engine.subscribe([&](const EngineKind& k) { engines.push_back(k); });
    const auto before = reconciles();
    p.reload();

    EXPECT_EQ(willChange, 34);
    EXPECT_EQ(engines, (std::vector<EngineKind>{EngineKind::assertions}));
    EXPECT_EQ(p.customSeconds(), 120);
    EXPECT_DOUBLE_EQ(p.menuScale(), 1.0);
    EXPECT_FALSE(p.blockBuiltInKeyboard());
    EXPECT_FALSE(p.hasConfirmedBlocking());
    EXPECT_EQ(reconciles() - before, 5u) << "3 device switches and 2 blocking switches";

    const auto domain = stored().persistentDomain();
    EXPECT_EQ(domain.size(), 34u);
    EXPECT_EQ(stored().persistentValue("blockKB"), DefaultsValue(false));
    EXPECT_EQ(stored().persistentValue("blockTP"), DefaultsValue(false));
    EXPECT_EQ(stored().persistentValue("engine"), DefaultsValue("assertions"));
    EXPECT_EQ(stored().persistentValue("menuScale"), DefaultsValue(1.0));
}

TEST_F(PreferencesTest, ReloadRewritesConfirmedOnWhileTheConfirmationHolds) {
    store("confirmedBlock", true);
    store("confirmedOn", Preferences::machineIdentity(sim().systemInfo()));
    Preferences& p = services().preferences();
    const auto writes = stored().writeCount();
    p.reload();
    EXPECT_TRUE(p.hasConfirmedBlocking());
    EXPECT_EQ(stored().writeCount() - writes, 35u) << "34 settings and confirmedOn";
}

// Saved session --------------------------------------------------------------------------------

TEST_F(PreferencesTest, SavedSessionRoundTripsAsData) {
    Preferences& p = services().preferences();
    SavedSession session;
    session.wasActive = true;
    session.options.preventDisplaySleep = true;
    session.options.timeout = 42;
    session.preset = DurationPreset::untilAppQuits;
    session.deadline = Date{786297600.123456};
    session.watchBundleID = "org.example.Editor";
    p.saveSession(session);
    ASSERT_TRUE(stored().persistentValue("session")->as<Data>());
    EXPECT_EQ(p.loadSession(), session);

    p.saveSession(std::nullopt);
    EXPECT_FALSE(stored().persistentValue("session"));
    EXPECT_EQ(p.loadSession(), std::nullopt);
}

TEST_F(PreferencesTest, UndecodableSavedSessionsLoadAsNoneAndStayStored) {
    const std::string options =
        R"({"preventDisplaySleep":false,"preventIdleSleep":true,"preventDiskSleep":false,)"
        R"("preventSystemSleep":false,"declareUserActive":false,"timeout":0})";
    struct Case {
        std::string json;
        bool loads;
    };
    const Case cases[] = {
        {R"({"wasActive":true,"options":)" + options + R"(,"preset":"h1"})", true},
        {R"({"wasActive":true,"options":)" + options + R"(,"preset":"h3"})", false},
        {R"({"wasActive":true,"options":)" + options + R"(,"preset":"H1"})", false},
        {R"({"wasActive":true,"options":)" + options +
             R"(,"preset":"m15","deadline":null,"version":2})",
         true},
        {R"({"wasActive":true,"preset":"m15"})", false},
        {R"({"wasActive":"yes","options":)" + options + R"(,"preset":"m15"})", false},
        {R"({"wasActive":true,"options":{},"preset":"m15"})", false},
        {"not json at all", false},
    };
    Preferences& p = services().preferences();
    for (const auto& c : cases) {
        store("session", dataFromString(c.json));
        sim().log().clear();
        EXPECT_EQ(p.loadSession().has_value(), c.loads) << c.json;
        EXPECT_TRUE(stored().persistentValue("session")) << "left in place";
        EXPECT_EQ(sim().log().messages("preferences").size(), c.loads ? 0U : 1U) << c.json;
    }
    store("session", "{\"wasActive\":false}");  // a text, not data
    EXPECT_EQ(p.loadSession(), std::nullopt);
}

TEST_F(PreferencesTest, ASessionThatCannotBeEncodedRemovesTheOldRecord) {
    Preferences& p = services().preferences();
    SavedSession session;
    session.wasActive = true;
    p.saveSession(session);
    ASSERT_TRUE(stored().persistentValue("session"));

    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        p.saveSession(session);
        sim().log().clear();
        session.deadline = Date{bad};
        p.saveSession(session);
        EXPECT_FALSE(stored().persistentValue("session")) << "no old record comes back";
        EXPECT_EQ(p.loadSession(), std::nullopt);
        EXPECT_EQ(sim().log().messages("preferences").size(), 1U);
        session.deadline.reset();
    }
}

TEST_F(PreferencesTest, SavingNoneWithNothingStoredChangesNothing) {
    Preferences& p = services().preferences();
    p.saveSession(std::nullopt);
    EXPECT_TRUE(stored().persistentDomain().empty());
}

}  // namespace
}  // namespace orvel
