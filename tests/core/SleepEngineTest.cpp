#include "core/SleepEngine.h"

#include <gtest/gtest.h>

#include "support/OrvelTest.h"

namespace orvel {
namespace {

using Kind = SimPowerAssertions::EventKind;

SleepOptions options(bool d, bool i, bool m, bool s, bool u, std::int64_t timeout = 0) {
    SleepOptions o;
    o.preventDisplaySleep = d;
    o.preventIdleSleep = i;
    o.preventDiskSleep = m;
    o.preventSystemSleep = s;
    o.declareUserActive = u;
    o.timeout = timeout;
    return o;
}

class SleepEngineTest : public test::OrvelTest {
  protected:
    std::function<void()> countExits() {
        return [this] { ++exits; };
    }
    std::vector<std::string> createdTypes() {
        std::vector<std::string> types;
        for (const auto& e : sim().powerAssertions().events(Kind::Created)) {
            types.push_back(e.type);
        }
        return types;
    }
    int exits = 0;
};

// Errors ---------------------------------------------------------------------------------------

TEST(SleepEngineErrorTest, MessagesReadExactly) {
    EXPECT_EQ(SleepEngineError::launchFailed("Permission denied").localizedDescription(),
              "Could not launch caffeinate: Permission denied");
    EXPECT_EQ(SleepEngineError::unsupportedOption("Waiting for a process to exit (-w)")
                  .localizedDescription(),
              "Waiting for a process to exit (-w) is not supported by this engine.");
    EXPECT_EQ(
        SleepEngineError::binaryMissing("/usr/libexec/orvel/caffeinate").localizedDescription(),
        "/usr/libexec/orvel/caffeinate is missing or not executable.");
}

// The lock that failed and why, in words; the number only as a detail.
TEST(SleepEngineErrorTest, AFailedLockSaysWhichServiceAndWhy) {
    struct Case {
        std::string_view type;
        IOReturn code;
        const char* words;
    };
    const Case cases[] = {
        {assertion_type::kPreventSystemSleep, kIOReturnUnsupported,
         "Could not take a logind inhibitor lock: logind is not running on this system."},
        {assertion_type::kPreventUserIdleSystemSleep, kIOReturnNotPermitted,
         "Could not take a logind inhibitor lock: logind denied it to this user."},
        {assertion_type::kPreventUserIdleDisplaySleep, kIOReturnUnsupported,
         "Could not take the screen saver's inhibit: the screen saver is not running on this "
         "system."},
        {assertion_type::kPreventUserIdleDisplaySleep, kIOReturnNotReady,
         "Could not take the screen saver's inhibit: the screen saver did not answer."},
        {"Unheard", kIOReturnBadArgument,
         "Could not take a logind inhibitor lock: this system cannot hold that kind of lock."},
        {assertion_type::kPreventSystemSleep, kIOReturnError,
         "Could not take a logind inhibitor lock: logind refused it."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            SleepEngineError::assertionFailed(c.code, std::string(c.type)).localizedDescription(),
            c.words)
            << c.type;
    }
}

// Assertion engine -----------------------------------------------------------------------------

TEST_F(SleepEngineTest, AssertionTypesFollowTheSwitchesInFixedOrder) {
    struct Case {
        SleepOptions options;
        std::vector<std::string> types;
    };
    const Case cases[] = {
        {options(false, false, false, false, false), {"PreventUserIdleSystemSleep"}},
        {options(false, false, false, false, true), {"PreventUserIdleSystemSleep"}},
        {options(true, true, true, true, false),
         {"PreventUserIdleDisplaySleep", "PreventUserIdleSystemSleep", "PreventSystemSleep",
          "PreventDiskIdle"}},
        {options(false, false, true, false, false), {"PreventDiskIdle"}},
    };
    for (const auto& c : cases) {
        auto engine = AssertionEngine::make(sim().powerAssertions());
        ASSERT_TRUE(engine->start(c.options, nullptr).ok());
        EXPECT_EQ(sim().powerAssertions().heldTypes(), c.types);
        for (const auto& held : sim().powerAssertions().held()) {
            EXPECT_EQ(held.name, "Orvel");
            EXPECT_EQ(held.level, 255u);
        }
        engine->stop();
        EXPECT_TRUE(sim().powerAssertions().held().empty());
    }
}

TEST_F(SleepEngineTest, StopReleasesInCreationOrder) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(engine->start(options(true, true, true, true, false), nullptr).ok());
    const std::vector<AssertionID> created = engine->ids();
    sim().powerAssertions().clearHistory();
    engine->stop();
    std::vector<AssertionID> released;
    for (const auto& e : sim().powerAssertions().events(Kind::Released)) {
        released.push_back(e.id);
    }
    EXPECT_EQ(released, created);
    engine->stop();  // idle: nothing happens
    EXPECT_EQ(sim().powerAssertions().history().size(), 4u);
}

TEST_F(SleepEngineTest, RefusedAssertionReleasesThePartialHoldAndLeavesNoTimers) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    sim().powerAssertions().refuseCreation(3, kIOReturnNotPermitted);
    auto result = engine->start(options(true, true, true, true, true, 60), countExits());
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(),
              SleepEngineError::assertionFailed(kIOReturnNotPermitted,
                                                std::string(assertion_type::kPreventSystemSleep)));
    EXPECT_TRUE(sim().powerAssertions().held().empty());
    EXPECT_EQ(sim().powerAssertions().events(Kind::Released).size(), 2u);
    EXPECT_FALSE(engine->hasTimeoutWork());
    EXPECT_FALSE(engine->hasUserActiveTimer());
    EXPECT_EQ(sim().powerAssertions().userActivityDeclarations(), 0);
    loop().advance(120);
    EXPECT_EQ(exits, 0);
}

TEST_F(SleepEngineTest, DeclaresUserActivityAtOnceAndEveryThirtySeconds) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(engine->start(options(false, false, false, false, true), nullptr).ok());
    EXPECT_EQ(sim().powerAssertions().userActivityDeclarations(), 1);
    loop().advance(95);
    EXPECT_EQ(sim().powerAssertions().userActivityDeclarations(), 4);  // 0, 30, 60, 90
    for (const auto& e : sim().powerAssertions().events(Kind::DeclaredUserActivity)) {
        EXPECT_EQ(e.name, "Orvel");
    }
    engine->stop();
    loop().advance(95);
    EXPECT_EQ(sim().powerAssertions().userActivityDeclarations(), 4);
}

TEST_F(SleepEngineTest, TimeoutReleasesAndCallsOnExitOnce) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(engine->start(options(true, false, false, false, false, 1), countExits()).ok());
    loop().advance(0.999);
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(sim().powerAssertions().held().size(), 1u);
    loop().advance(0.001);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(sim().powerAssertions().held().empty());
    EXPECT_FALSE(engine->hasTimeoutWork());
    loop().advance(3600);
    EXPECT_EQ(exits, 1);
}

TEST_F(SleepEngineTest, NoTimeoutMeansNoExitAndStopBeforeTimeoutMeansNoExit) {
    for (std::int64_t timeout : {0, -10}) {
        auto engine = AssertionEngine::make(sim().powerAssertions());
        ASSERT_TRUE(
            engine->start(options(true, false, false, false, false, timeout), countExits()).ok());
        EXPECT_FALSE(engine->hasTimeoutWork());
        loop().advance(1e6);
        engine->stop();
    }
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(engine->start(options(true, false, false, false, false, 10), countExits()).ok());
    loop().advance(5);
    engine->stop();
    loop().advance(60);
    EXPECT_EQ(exits, 0);
}

TEST_F(SleepEngineTest, TimeoutWorkRunsDuringAModalLoop) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(engine->start(options(true, false, false, false, false, 5), countExits()).ok());
    EXPECT_TRUE(loop().runModal([&] { return exits == 1; }));
}

TEST_F(SleepEngineTest, HugeTimeoutSaturatesInsteadOfFiring) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(
        engine->start(options(true, false, false, false, false, INT64_MAX), countExits()).ok());
    EXPECT_TRUE(engine->hasTimeoutWork());
    loop().advance(10.0 * 365 * 24 * 3600);
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(sim().powerAssertions().held().size(), 1u);
}

TEST_F(SleepEngineTest, WatchPidIsRefusedBeforeAnythingChanges) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(engine->start(options(true, false, false, false, false), nullptr).ok());
    SleepOptions withPid = options(false, true, false, false, false);
    withPid.watchPID = 99;
    auto result = engine->start(withPid, nullptr);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, SleepEngineError::Case::unsupportedOption);
    EXPECT_EQ(sim().powerAssertions().heldTypes(),
              (std::vector<std::string>{"PreventUserIdleDisplaySleep"}));
}

TEST_F(SleepEngineTest, SecondStartReplacesTheFirstHold) {
    auto engine = AssertionEngine::make(sim().powerAssertions());
    ASSERT_TRUE(engine->start(options(true, false, false, false, true, 10), countExits()).ok());
    ASSERT_TRUE(engine->start(options(false, false, false, true, false), countExits()).ok());
    EXPECT_EQ(sim().powerAssertions().heldTypes(),
              (std::vector<std::string>{"PreventSystemSleep"}));
    loop().advance(60);
    EXPECT_EQ(exits, 0) << "the first start's timeout went with it";
    EXPECT_EQ(sim().powerAssertions().userActivityDeclarations(), 1);
}

TEST_F(SleepEngineTest, DestroyingAnEngineReleasesWhatItHeld) {
    {
        auto engine = AssertionEngine::make(sim().powerAssertions());
        ASSERT_TRUE(engine->start(options(true, true, false, false, true, 30), countExits()).ok());
    }
    EXPECT_TRUE(sim().powerAssertions().held().empty());
    loop().advance(60);
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(sim().powerAssertions().userActivityDeclarations(), 1);
}

// Caffeinate engine ----------------------------------------------------------------------------

TEST_F(SleepEngineTest, CaffeinateLaunchesTheProgramWithTheArgumentsAndLogsTheCommandLine) {
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(true, false, false, true, false, 900), countExits()).ok());
    auto child = sim().processes().lastChild();
    ASSERT_TRUE(child);
    EXPECT_EQ(child->request().executable, "/usr/bin/caffeinate");
    EXPECT_EQ(child->request().arguments, (std::vector<std::string>{"-ds", "-t", "900"}));
    EXPECT_EQ(sim().log().messages("caffeinate"),
              (std::vector<std::string>{"started: /usr/bin/caffeinate -ds -t 900"}));
    EXPECT_EQ(engine->name(), "caffeinate");
}

TEST_F(SleepEngineTest, CaffeinateLogsNothingWhenInfoIsDisabled) {
    sim().log().setMinimumLevel(LogLevel::Notice);
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(true, false, false, false, false), nullptr).ok());
    EXPECT_TRUE(sim().log().messages("caffeinate").empty());
}

TEST_F(SleepEngineTest, CaffeinateChildExitCallsOnExitOnceOnTheMainLoop) {
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(false, true, false, false, false, 5), countExits()).ok());
    sim().processes().lastChild()->exit(0);
    EXPECT_EQ(exits, 0) << "the notice is handed to the main loop, not run on the exit thread";
    EXPECT_TRUE(engine->hasProcess());
    loop().drain();
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(engine->hasProcess());
    loop().drain();
    EXPECT_EQ(exits, 1);
}

TEST_F(SleepEngineTest, CaffeinateStopTerminatesWithoutOnExit) {
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(false, true, false, false, false), countExits()).ok());
    auto child = sim().processes().lastChild();
    engine->stop();
    loop().drain();
    EXPECT_TRUE(child->wasTerminated());
    EXPECT_FALSE(child->isRunning());
    EXPECT_EQ(exits, 0);
    EXPECT_FALSE(engine->hasProcess());
    engine->stop();
}

TEST_F(SleepEngineTest, CaffeinateSecondStartTerminatesTheFirstChildSilently) {
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(false, true, false, false, false), countExits()).ok());
    auto first = sim().processes().lastChild();
    ASSERT_TRUE(engine->start(options(true, false, false, false, false), countExits()).ok());
    loop().drain();
    EXPECT_TRUE(first->wasTerminated());
    EXPECT_EQ(sim().processes().runningChildren().size(), 1u);
    EXPECT_EQ(exits, 0);
}

TEST_F(SleepEngineTest, CaffeinateLateExitNoticeOfAnEarlierChildIsIgnored) {
    auto engine = CaffeinateEngine::make(sim().processes());
    int firstExits = 0;
    int secondExits = 0;
    ASSERT_TRUE(
        engine->start(options(false, true, false, false, false, 1), [&] { ++firstExits; }).ok());
    // The first child exits by itself; its notice is still queued when a new start comes.
    sim().processes().lastChild()->exit(0);
    ASSERT_TRUE(
        engine->start(options(false, true, false, false, false), [&] { ++secondExits; }).ok());
    auto second = sim().processes().lastChild();
    loop().drain();
    EXPECT_EQ(firstExits, 0);
    EXPECT_EQ(secondExits, 0);
    EXPECT_TRUE(engine->hasProcess()) << "the running child's handle stays";
    engine->stop();
    EXPECT_TRUE(second->wasTerminated()) << "so stop can still end it";
}

TEST_F(SleepEngineTest, CaffeinateExitNoticeAfterStopStillReachesOnExit) {
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(false, true, false, false, false), countExits()).ok());
    sim().processes().lastChild()->exit(0);
    engine->stop();  // the child had already exited: its notice is on its way
    loop().drain();
    EXPECT_EQ(exits, 1);
}

TEST_F(SleepEngineTest, CaffeinateExitNoticeReachesOnExitAfterTheEngineIsGone) {
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(false, true, false, false, false), countExits()).ok());
    sim().processes().lastChild()->exit(0);
    engine.reset();
    loop().drain();
    EXPECT_EQ(exits, 1);
}

TEST_F(SleepEngineTest, CaffeinateMissingProgramOrFailedLaunch) {
    auto engine = CaffeinateEngine::make(sim().processes());
    ASSERT_TRUE(engine->start(options(true, false, false, false, false), countExits()).ok());
    auto running = sim().processes().lastChild();

    sim().processes().setExecutable("/usr/bin/caffeinate", false);
    auto missing = engine->start(options(true, false, false, false, false), countExits());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), SleepEngineError::binaryMissing());
    EXPECT_TRUE(running->wasTerminated()) << "the previous child is stopped first";
    EXPECT_FALSE(engine->hasProcess());

    sim().processes().setExecutable("/usr/bin/caffeinate", true);
    sim().processes().failNextLaunch("Resource temporarily unavailable");
    auto failed = engine->start(options(true, false, false, false, false), countExits());
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().localizedDescription(),
              "Could not launch caffeinate: Resource temporarily unavailable");
    EXPECT_FALSE(engine->hasProcess());
    EXPECT_EQ(sim().processes().children().size(), 1u);

    // Where Orvel's own caffeinate stands in, its path is the one named.
    sim().processes().setStandIn(kCaffeinatePath, "/opt/orvel/libexec/caffeinate");
    auto absent = engine->start(options(true, false, false, false, false), countExits());
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error().localizedDescription(),
              "/opt/orvel/libexec/caffeinate is missing or not executable.");
}

TEST_F(SleepEngineTest, CaffeinateWatchPidIsPassedOn) {
    auto engine = CaffeinateEngine::make(sim().processes());
    SleepOptions o = options(false, true, false, false, false, 30);
    o.watchPID = 321;
    ASSERT_TRUE(engine->start(o, nullptr).ok());
    EXPECT_EQ(sim().processes().lastChild()->request().arguments,
              (std::vector<std::string>{"-i", "-t", "30", "-w", "321"}));
}

}  // namespace
}  // namespace orvel
