#include "triggers/WakeHelperClient.h"

#include <gtest/gtest.h>

#include "support/SessionTest.h"
#include "triggers/ScheduleTriggerSource.h"
#include "triggers/TriggerEngine.h"
#include "triggers/TriggerTestSupport.h"

namespace orvel {
namespace {

namespace status = helper_service_status;

class WakeHelperClientTest : public test::SessionTest {
  protected:
    WakeHelperClient& client() { return services().wakeHelper(); }
    SimHelperConnection& helper() { return sim().helperConnection(); }
    void activate() {
        sim().helperService().setStatus(status::kEnabled);
        client().refresh();
    }
    static Date at(double unix) { return Date::fromUnix(unix); }
};

TEST_F(WakeHelperClientTest, StateAndTitleFollowTheServiceStatus) {
    struct Case {
        int status;
        WakeHelperClient::State state;
        const char* line;
    };
    const Case cases[] = {
        {status::kEnabled, WakeHelperClient::State::active, "Installed & approved"},
        {status::kRequiresApproval, WakeHelperClient::State::requiresApproval, "Awaiting approval"},
        {status::kNotRegistered, WakeHelperClient::State::notInstalled, "Not installed"},
        {status::kNotFound, WakeHelperClient::State::missingFromBundle,
         "Helper missing from this build"},
        {7, WakeHelperClient::State::notInstalled, "Not installed"},
    };
    for (const auto& c : cases) {
        sim().helperService().setStatus(c.status);
        client().refresh();
        EXPECT_EQ(client().state(), c.state) << c.status;
        EXPECT_EQ(client().statusLine(),
                  std::string("wake helper: ") + c.line + " \u00B7 next wakes queued: 0")
            << c.status;
    }
}

TEST_F(WakeHelperClientTest, WakeDatesAreSentAtEveryTickOnlyWhileTheHelperIsActive) {
    loop().setNow(at(1781085600));  // a Wednesday, before 07:00
    TriggerRule rule = test::makeRule(TriggerSource::schedule, "Wake");
    rule.schedStartMin = 7 * 60;
    rule.wakeMac = true;
    sim().helperService().setStatus(status::kRequiresApproval);
    services().triggerEngine().start();
    services().triggerEngine().add(rule);
    loop().drain();
    EXPECT_TRUE(helper().sent().empty());
    const std::size_t queued = client().lastSynced.size();
    EXPECT_GE(queued, 7u);
    EXPECT_EQ(client().statusLine(),
              "wake helper: Awaiting approval \u00B7 next wakes queued: " + std::to_string(queued));

    sim().helperService().setStatus(status::kEnabled);
    loop().advance(20);
    ASSERT_EQ(helper().sent().size(), 1u);
    EXPECT_EQ(helper().sent().back(), client().lastSynced);
    loop().advance(20);
    EXPECT_EQ(helper().sent().size(), 1u) << "no boundary passed: nothing new to send";
    ScheduleTriggerSource& schedule = services().scheduleSource();
    loop().advance(schedule.nextBoundary(now())->timeIntervalSince(now()));
    EXPECT_EQ(helper().sent().size(), 2u) << "the whole list goes at every tick";

    // Stopping the schedule clears the helper's wakes.
    services().triggerEngine().deleteRule(rule.id);
    loop().drain();
    EXPECT_EQ(helper().sent().back(), std::vector<Date>{});
    EXPECT_TRUE(client().lastSynced.empty());
}

TEST_F(WakeHelperClientTest, ARuleEditSendsTheWakeDatesOnce) {
    loop().setNow(at(1781085600));
    TriggerRule rule = test::makeRule(TriggerSource::schedule, "Wake");
    rule.schedStartMin = 7 * 60;
    rule.wakeMac = true;
    sim().helperService().setStatus(status::kEnabled);
    services().triggerEngine().start();
    services().triggerEngine().add(rule);
    loop().drain();
    const std::size_t before = helper().sent().size();
    rule.name = "Wake early";
    services().triggerEngine().update(rule);
    loop().drain();
    EXPECT_EQ(helper().sent().size(), before + 1) << "one re-sync, one list";
}

TEST_F(WakeHelperClientTest, FailuresBecomeLastErrorAndStayUntilTheNextInstall) {
    activate();
    struct Step {
        Result<std::int32_t> reply;
        std::optional<std::string> lastError;
    };
    const Step steps[] = {
        {std::int32_t{0}, std::nullopt},
        {Error{"cannot connect to /run/orvel-wake-helper/socket: No such file or directory"},
         "helper unreachable: cannot connect to /run/orvel-wake-helper/socket: No such file or "
         "directory"},
        {std::int32_t{0},
         "helper unreachable: cannot connect to /run/orvel-wake-helper/socket: No such file or "
         "directory"},
        {std::int32_t{-5}, "helper could not schedule a wake (code -5)"},
        {std::int32_t{0}, "helper could not schedule a wake (code -5)"},
        {Error{"no reply within 10 seconds"}, "helper unreachable: no reply within 10 seconds"},
    };
    for (const auto& step : steps) {
        helper().scriptReply(step.reply);
        client().sync({at(2000000000)});
        loop().drain();
        EXPECT_EQ(client().lastError(), step.lastError);
    }
    EXPECT_EQ(client().requestsInFlight(), 0u);
    EXPECT_EQ(client().statusLine(),
              "wake helper: Installed & approved \u00B7 last error: helper unreachable: no reply "
              "within 10 seconds \u00B7 next wakes queued: 0");

    sim().helperService().setStatus(status::kNotRegistered);
    client().install();
    EXPECT_EQ(client().lastError(), std::nullopt);
}

TEST_F(WakeHelperClientTest, InstallOutcomesSetStateErrorAndSendTheLastDatesWhenActive) {
    struct Case {
        const char* what;
        std::optional<std::string> failure;
        int statusAfter;
        WakeHelperClient::State state;
        bool sends;
    };
    const Case cases[] = {
        {"approved", std::nullopt, status::kEnabled, WakeHelperClient::State::active, true},
        {"awaiting approval", std::nullopt, status::kRequiresApproval,
         WakeHelperClient::State::requiresApproval, false},
        {"authorisation refused", "The administrator's authorisation was not given.",
         status::kRequiresApproval, WakeHelperClient::State::requiresApproval, false},
        {"no helper in this build", "systemctl could not enable the wake helper (exit status 1).",
         status::kNotFound, WakeHelperClient::State::missingFromBundle, false},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        client().lastSynced = {at(2000000000), at(2000003600)};
        if (c.failure) {
            sim().helperService().failNext(*c.failure, c.statusAfter);
        } else {
            sim().helperService().setStatusAfterRegistration(c.statusAfter);
        }
        client().install();
        EXPECT_TRUE(helper().sent().empty()) << c.what << ": registration answers later";
        loop().drain();
        EXPECT_EQ(client().state(), c.state) << c.what;
        EXPECT_EQ(client().lastError(), c.failure) << c.what;
        EXPECT_EQ(helper().sent().size(), c.sends ? 1u : 0u) << c.what;
        if (c.sends) {
            EXPECT_EQ(helper().sent().front(), client().lastSynced) << c.what;
        }
    }
}

TEST_F(WakeHelperClientTest, UninstallClearsTheWakesFirstAndUnregistersAfterTheReplyOrItsError) {
    struct Case {
        const char* what;
        Result<std::int32_t> reply;
    };
    const Case cases[] = {
        {"reply", std::int32_t{0}},
        {"error", Error{"the wake helper closed the connection without a reply"}},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        activate();
        helper().holdReplies(true);
        helper().scriptReply(c.reply);
        client().uninstall();
        loop().drain();
        ASSERT_EQ(helper().sent().size(), 1u) << c.what;
        EXPECT_TRUE(helper().sent().front().empty()) << c.what;
        EXPECT_EQ(sim().helperService().unregistrations(), 0) << c.what;
        helper().releaseReplies();
        loop().drain();
        EXPECT_EQ(sim().helperService().unregistrations(), 1) << c.what;
        EXPECT_EQ(client().state(), WakeHelperClient::State::notInstalled) << c.what;
    }

    // Not active: nothing to clear, straight to unregistering.
    TearDown();
    SetUp();
    client().uninstall();
    loop().drain();
    EXPECT_TRUE(helper().sent().empty());
    EXPECT_EQ(sim().helperService().unregistrations(), 1);
}

}  // namespace
}  // namespace orvel
