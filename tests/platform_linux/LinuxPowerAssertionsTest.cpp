#include "platform/linux/LinuxPowerAssertions.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "support/BusTest.h"
#include "support/Catalogues.h"

namespace orvel {
namespace {

using test::BusTest;
using test::LogindInhibitor;
using test::waitFor;

class LinuxPowerAssertionsTest : public BusTest {
  protected:
    void TearDown() override {
        assertions.reset();
        BusTest::TearDown();
    }

    // A backend on the test's buses, once it knows which services run and who holds what.
    LinuxPowerAssertions& makeAssertions() {
        assertions = std::make_unique<LinuxPowerAssertions>(system, session);
        EXPECT_TRUE(waitFor(
            [&] { return system->namesKnown() && session->namesKnown() && assertions->status(); }));
        return *assertions;
    }
    bool repliesArrived() {
        return waitFor([&] { return assertions->pendingReplies() == 0; });
    }
    // Lets a logind started with "hold_replies" answer the Inhibit calls it has kept.
    void sendHeldReplies() {
        test::Reply reply =
            test::callAndWait(*probe,
                              DBusObject{test::kLogindMock.service, test::kLogindMock.path,
                                         "org.freedesktop.DBus.Mock"},
                              "SendHeldReplies");
        ASSERT_TRUE(reply);
        EXPECT_FALSE(DBusConnection::errorOf(reply.get()));
    }

    std::unique_ptr<LinuxPowerAssertions> assertions;
};

TEST_F(LinuxPowerAssertionsTest, EachTypeTakesItsInhibitorsWithTheRightWhatAndMode) {
    struct Case {
        std::string_view type;
        std::vector<LogindInhibitor> logind;
        std::vector<std::pair<std::string, std::string>> screenSaver;
        std::vector<std::uint32_t> gnomeFlags;
    };
    const std::string display = "Orvel session keeps the display awake";
    const std::string idle = "Orvel session keeps the system from idle sleep";
    const std::string sleep = "Orvel session keeps the system from sleeping";
    const Case cases[] = {
        {assertion_type::kPreventUserIdleDisplaySleep,
         {{"idle", "Orvel", display, "block"}},
         {{"Orvel", display}},
         {8}},
        {assertion_type::kPreventUserIdleSystemSleep, {{"idle", "Orvel", idle, "block"}}, {}, {12}},
        {assertion_type::kPreventSystemSleep, {{"sleep", "Orvel", sleep, "block"}}, {}, {}},
        {assertion_type::kPreventDiskIdle, {}, {}, {}},
    };
    startService("logind");
    startService("screensaver");
    startService("gnome_session");
    auto& backend = makeAssertions();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type));
        const auto created = backend.createWithName(c.type, kAssertionLevelOn, "Orvel");
        ASSERT_EQ(created.status, kIOReturnSuccess);
        ASSERT_TRUE(repliesArrived());
        EXPECT_EQ(logindInhibitors(), c.logind);
        EXPECT_EQ(screenSaverInhibitors(), c.screenSaver);
        EXPECT_EQ(gnomeInhibitFlags(), c.gnomeFlags);
        EXPECT_EQ(backend.status(),
                  (std::map<std::string, std::int64_t>{{std::string(c.type), 1}}));

        EXPECT_EQ(backend.release(created.id), kIOReturnSuccess);
        EXPECT_TRUE(waitUntilNothingHeld());
        EXPECT_EQ(backend.status(), (std::map<std::string, std::int64_t>{}));
        EXPECT_EQ(backend.release(created.id), kIOReturnNotFound);
    }
}

TEST_F(LinuxPowerAssertionsTest, DestroyingTheBackendHandsEverythingBack) {
    startService("logind");
    startService("screensaver");
    startService("gnome_session");
    auto& backend = makeAssertions();
    for (auto type :
         {assertion_type::kPreventUserIdleDisplaySleep, assertion_type::kPreventUserIdleSystemSleep,
          assertion_type::kPreventSystemSleep}) {
        ASSERT_EQ(backend.createWithName(type, kAssertionLevelOn, "Orvel").status,
                  kIOReturnSuccess);
    }
    ASSERT_TRUE(repliesArrived());
    ASSERT_EQ(logindInhibitors().size(), 3u);
    ASSERT_EQ(screenSaverInhibitors().size(), 1u);
    ASSERT_EQ(gnomeInhibitFlags().size(), 2u);

    assertions.reset();
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(LinuxPowerAssertionsTest, AReplyThatComesAfterTheReleaseIsHandedBackAtOnce) {
    startService("logind");
    startService("screensaver");
    auto& backend = makeAssertions();
    const auto display = backend.createWithName(assertion_type::kPreventUserIdleDisplaySleep,
                                                kAssertionLevelOn, "Orvel");
    const auto sleepHold =
        backend.createWithName(assertion_type::kPreventSystemSleep, kAssertionLevelOn, "Orvel");
    ASSERT_EQ(display.status, kIOReturnSuccess);
    ASSERT_EQ(sleepHold.status, kIOReturnSuccess);
    EXPECT_EQ(backend.pendingReplies(), 3u);
    // Released before any reply could arrive.
    EXPECT_EQ(backend.release(display.id), kIOReturnSuccess);
    EXPECT_EQ(backend.release(sleepHold.id), kIOReturnSuccess);

    ASSERT_TRUE(repliesArrived());
    EXPECT_EQ(inhibitCalls("logind"), 2u);
    EXPECT_EQ(inhibitCalls("screensaver"), 1u);
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(LinuxPowerAssertionsTest,
       AReleaseWhileALockIsOnItsWayHoldsNothingAndTheLockGoesBackOnArrival) {
    startService("logind", R"({"hold_replies": true})");
    startService("screensaver");
    auto& backend = makeAssertions();
    const auto display = backend.createWithName(assertion_type::kPreventUserIdleDisplaySleep,
                                                kAssertionLevelOn, "Orvel");
    ASSERT_EQ(display.status, kIOReturnSuccess);
    // logind has granted the idle lock but keeps its answer; the screen saver's cookie is here.
    ASSERT_TRUE(eventually([&] {
        return logindInhibitors().size() == 1 && screenSaverInhibitors().size() == 1 &&
               backend.pendingReplies() == 1;
    }));

    EXPECT_EQ(backend.release(display.id), kIOReturnSuccess);
    EXPECT_TRUE(eventually([&] { return screenSaverInhibitors().empty(); }))
        << "what has arrived goes back at once";
    EXPECT_EQ(backend.status(), (std::map<std::string, std::int64_t>{}));
    EXPECT_EQ(logindInhibitors().size(), 1u) << "logind's answer has not landed yet";
    EXPECT_EQ(backend.pendingReplies(), 1u);

    sendHeldReplies();
    ASSERT_TRUE(repliesArrived());
    EXPECT_TRUE(eventually([&] { return logindInhibitors().empty(); }));
    EXPECT_EQ(inhibitCalls("logind"), 1u) << "the lock is handed back, not asked for again";
    EXPECT_EQ(backend.status(), (std::map<std::string, std::int64_t>{}));
}

TEST_F(LinuxPowerAssertionsTest, UnavailableServicesFailAtOnceWithNegativeCodes) {
    struct Case {
        const char* services;  // which mocks run
        std::string_view type;
        IOReturn status;
    };
    const Case cases[] = {
        {"", assertion_type::kPreventUserIdleDisplaySleep, kIOReturnUnsupported},
        {"", assertion_type::kPreventUserIdleSystemSleep, kIOReturnUnsupported},
        {"", assertion_type::kPreventSystemSleep, kIOReturnUnsupported},
        {"", assertion_type::kPreventDiskIdle, kIOReturnSuccess},
        {"", "PreventNothingInParticular", kIOReturnBadArgument},
        // Where the desktop offers no screen-saver inhibit, logind's idle lock holds the display.
        {"logind", assertion_type::kPreventUserIdleDisplaySleep, kIOReturnSuccess},
        {"logind", assertion_type::kPreventUserIdleSystemSleep, kIOReturnSuccess},
        {"screensaver", assertion_type::kPreventUserIdleDisplaySleep, kIOReturnSuccess},
        {"screensaver", assertion_type::kPreventSystemSleep, kIOReturnUnsupported},
        {"gnome_session", assertion_type::kPreventUserIdleSystemSleep, kIOReturnSuccess},
    };
    std::string running;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " with [" + c.services + "]");
        if (running != c.services) {
            // A fresh backend asks the bus anew, rather than waiting for the change to come.
            assertions.reset();
            if (!running.empty()) {
                stopService(running);
            }
            if (*c.services != '\0') {
                startService(c.services);
            }
            running = c.services;
        }
        auto& backend = makeAssertions();
        const auto created = backend.createWithName(c.type, kAssertionLevelOn, "Orvel");
        EXPECT_EQ(created.status, c.status);
        EXPECT_EQ(created.status == kIOReturnSuccess, created.id != 0);
    }
}

TEST_F(LinuxPowerAssertionsTest, ADesktopWithoutAScreenSaverInhibitHasTheDisplayHeldByLogind) {
    const std::string display(assertion_type::kPreventUserIdleDisplaySleep);
    const std::string lesser =
        "This desktop offers no screen-saver inhibit: held through logind's idle lock only, which "
        "swayidle and other idle daemons honour.";
    const std::string none =
        "Cannot be held here: this desktop offers no screen-saver inhibit and logind is not "
        "running.";
    struct Case {
        std::vector<const char*> services;  // which mocks run
        std::optional<std::string> shortfall;
        IOReturn status;
        std::vector<LogindInhibitor> logind;  // what the display's assertion holds there
    };
    const std::vector<LogindInhibitor> idleLock{
        {"idle", "Orvel", "Orvel session keeps the display awake", "block"}};
    const Case cases[] = {
        {{"logind"}, lesser, kIOReturnSuccess, idleLock},
        {{}, none, kIOReturnUnsupported, {}},
        {{"logind", "screensaver"}, std::nullopt, kIOReturnSuccess, idleLock},
        {{"logind", "gnome_session"}, std::nullopt, kIOReturnSuccess, idleLock},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.services.empty() ? "no services" : c.services.back());
        for (const char* service : c.services) {
            startService(service);
        }
        auto& backend = makeAssertions();
        EXPECT_EQ(backend.shortfall(display), c.shortfall);
        EXPECT_EQ(backend.shortfall(assertion_type::kPreventSystemSleep), std::nullopt);
        const auto created = backend.createWithName(display, kAssertionLevelOn, "Orvel");
        EXPECT_EQ(created.status, c.status);
        ASSERT_TRUE(repliesArrived());
        EXPECT_EQ(logindInhibitors(), c.logind);
        if (created.status == kIOReturnSuccess) {
            EXPECT_EQ(backend.ownStatus(), (std::map<std::string, std::int64_t>{{display, 1}}))
                << "held, not refused";
            EXPECT_EQ(backend.release(created.id), kIOReturnSuccess);
        }
        EXPECT_TRUE(waitUntilNothingHeld());
        assertions.reset();
        for (const char* service : c.services) {
            stopService(service);
        }
    }

    // A screen saver that comes later is told, and the shortfall goes.
    startService("logind");
    auto& backend = makeAssertions();
    int changes = 0;
    Subscription subscription = backend.shortfallChanged.subscribe([&] { ++changes; });
    ASSERT_EQ(backend.shortfall(display), lesser);
    startService("screensaver");
    EXPECT_TRUE(waitFor([&] { return changes > 0 && !backend.shortfall(display); }));
    EXPECT_EQ(backend.shortfall(display), std::nullopt);

    // The panel shows the shortfall and the stopped services as they are handed up: in the
    // reader's language.
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    const auto held = backend.createWithName(display, kAssertionLevelOn, "Orvel");
    ASSERT_EQ(held.status, kIOReturnSuccess);
    ASSERT_TRUE(repliesArrived());
    stopService("screensaver");
    EXPECT_TRUE(waitFor([&] { return !backend.stoppedServices(display).empty(); }));
    EXPECT_EQ(backend.stoppedServices(display), std::vector<std::string>{"der Bildschirmschoner"});
    EXPECT_EQ(backend.release(held.id), kIOReturnSuccess);
    EXPECT_TRUE(waitUntilNothingHeld());
    assertions.reset();
    EXPECT_EQ(makeAssertions().shortfall(display),
              "Diese Arbeitsumgebung bietet keine Bildschirmschoner-Sperre: gehalten nur durch die "
              "Inaktivitätssperre von logind, die swayidle und andere Inaktivitätsdienste "
              "beachten.");
}

TEST_F(LinuxPowerAssertionsTest, WithoutBusesOrAnswersNothingSucceedsThatWouldHoldSomething) {
    LinuxPowerAssertions noBuses(nullptr, nullptr);
    AssertionID id = 0;
    EXPECT_EQ(
        noBuses.createWithName(assertion_type::kPreventSystemSleep, kAssertionLevelOn, "Orvel")
            .status,
        kIOReturnUnsupported);
    EXPECT_EQ(noBuses.declareUserActivity("Orvel", kUserActiveLocal, id), kIOReturnUnsupported);
    EXPECT_EQ(
        noBuses.createWithName(assertion_type::kPreventDiskIdle, kAssertionLevelOn, "Orvel").status,
        kIOReturnSuccess);
    EXPECT_EQ(noBuses.status(), (std::map<std::string, std::int64_t>{{"PreventDiskIdle", 1}}));

    // The buses have not answered yet: not ready, rather than unsupported.
    startService("logind");
    LinuxPowerAssertions early(system, session);
    EXPECT_EQ(early.createWithName(assertion_type::kPreventSystemSleep, kAssertionLevelOn, "Orvel")
                  .status,
              kIOReturnNotReady);
    EXPECT_EQ(early.declareUserActivity("Orvel", kUserActiveLocal, id), kIOReturnNotReady);
    EXPECT_FALSE(early.status()) << "nobody can say yet who else holds what";
}

TEST_F(LinuxPowerAssertionsTest, StatusCountsOtherProgramsBlockingLocksBesideOrvelsOwn) {
    using Counts = std::map<std::string, std::int64_t>;
    const std::string sleep(assertion_type::kPreventSystemSleep);
    const std::string idle(assertion_type::kPreventUserIdleSystemSleep);
    const std::string display(assertion_type::kPreventUserIdleDisplaySleep);
    struct Lock {
        const char* what;
        const char* mode;
        std::vector<std::string> countsAs;
    };
    // Taken in this order: those that count come last, so no listing made halfway matches.
    const Lock others[] = {
        {"sleep", "delay", {}},  // only puts sleep off
        {"shutdown", "block", {}},
        {"handle-lid-switch:handle-power-key", "block", {}},
        {"sleep", "block", {sleep}},
        {"idle", "block", {idle}},
        {"sleep:idle", "block", {sleep, idle}},
        {"idle", "block-weak", {idle}},
    };
    startService("logind");
    startService("screensaver");
    auto& backend = makeAssertions();
    EXPECT_EQ(backend.status(), Counts{});
    ASSERT_EQ(backend.createWithName(sleep, kAssertionLevelOn, "Orvel").status, kIOReturnSuccess);
    // Its logind idle lock is Orvel's own too, not another program's.
    const auto displayHold = backend.createWithName(display, kAssertionLevelOn, "Orvel");
    ASSERT_EQ(displayHold.status, kIOReturnSuccess);
    ASSERT_TRUE(repliesArrived());
    const Counts own{{sleep, 1}, {display, 1}};
    EXPECT_EQ(backend.ownStatus(), own);

    std::vector<std::string> argv{"/usr/bin/python3",
                                  std::string(ORVEL_LINUX_MOCKS) + "/inhibiting_client.py"};
    Counts everyone = own;
    for (const auto& lock : others) {
        argv.push_back(std::string(lock.what) + "/" + lock.mode);
        for (const auto& type : lock.countsAs) {
            ++everyone[type];
        }
    }
    const pid_t other = test::spawn(argv, busEnvironment(), bus->folder() + "/client.log");
    ASSERT_GT(other, 0);
    // Nobody asks again: logind's announcements bring the listing up to date.
    EXPECT_TRUE(waitFor([&] { return backend.status() == everyone; }));
    EXPECT_EQ(backend.status(), everyone);
    EXPECT_EQ(backend.ownStatus(), own);

    ::kill(other, SIGTERM);
    EXPECT_EQ(test::waitForExit(other), 128 + SIGTERM);
    EXPECT_TRUE(waitFor([&] { return backend.status() == own; }));
    EXPECT_EQ(backend.status(), own);

    // Gone from the count at once, however old logind's listing.
    EXPECT_EQ(backend.release(displayHold.id), kIOReturnSuccess);
    EXPECT_EQ(backend.status(), (Counts{{sleep, 1}}));
    EXPECT_EQ(backend.ownStatus(), (Counts{{sleep, 1}}));
}

TEST_F(LinuxPowerAssertionsTest, AModalWaitReadsOtherProgramsLocksFromTheFirstListing) {
    startService("logind");
    const pid_t other =
        test::spawn({"/usr/bin/python3", std::string(ORVEL_LINUX_MOCKS) + "/inhibiting_client.py",
                     "sleep:idle/block", "idle/delay"},
                    busEnvironment(), bus->folder() + "/client.log");
    ASSERT_GT(other, 0);
    assertions = std::make_unique<LinuxPowerAssertions>(system, session);
    // The client's lock may come after the first listing: logind's announcement relists.
    using Counts = std::map<std::string, std::int64_t>;
    const Counts both{{std::string(assertion_type::kPreventSystemSleep), 1},
                      {std::string(assertion_type::kPreventUserIdleSystemSleep), 1}};
    EXPECT_TRUE(runModalFor(30, [&] { return assertions->status() == both; }));
    EXPECT_EQ(assertions->status(), both);
    ::kill(other, SIGTERM);
    EXPECT_EQ(test::waitForExit(other), 128 + SIGTERM);
}

TEST_F(LinuxPowerAssertionsTest, StatusIsUnreadableWhileLogindWillNotListItsInhibitors) {
    startService("logind", R"({"refuse_list": "org.freedesktop.DBus.Error.AccessDenied"})");
    assertions = std::make_unique<LinuxPowerAssertions>(system, session);
    auto& backend = *assertions;
    ASSERT_TRUE(waitFor([&] { return !log->messages("power").empty(); }));
    const auto lines = log->messages("power");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("AccessDenied"), std::string::npos) << lines[0];
    EXPECT_FALSE(backend.status());

    ASSERT_EQ(
        backend.createWithName(assertion_type::kPreventSystemSleep, kAssertionLevelOn, "Orvel")
            .status,
        kIOReturnSuccess);
    ASSERT_TRUE(repliesArrived());
    EXPECT_FALSE(backend.status());
    EXPECT_EQ(backend.ownStatus(), (std::map<std::string, std::int64_t>{{"PreventSystemSleep", 1}}))
        << "its own assertions are known all the same";
}

TEST_F(LinuxPowerAssertionsTest, ARefusalThatComesLaterIsLoggedAndReported) {
    startService("logind");
    startService("screensaver", R"({"refuse": "org.freedesktop.DBus.Error.AccessDenied"})");
    auto& backend = makeAssertions();
    std::vector<std::pair<AssertionID, IOReturn>> refused;
    Subscription subscription = backend.assertionRefused.subscribe(
        [&](AssertionID id, IOReturn code) { refused.emplace_back(id, code); });

    const auto display = backend.createWithName(assertion_type::kPreventUserIdleDisplaySleep,
                                                kAssertionLevelOn, "Orvel");
    const auto sleepHold =
        backend.createWithName(assertion_type::kPreventSystemSleep, kAssertionLevelOn, "Orvel");
    ASSERT_EQ(display.status, kIOReturnSuccess);
    ASSERT_EQ(sleepHold.status, kIOReturnSuccess);
    ASSERT_TRUE(waitFor([&] { return !refused.empty(); }));
    EXPECT_EQ(refused,
              (std::vector<std::pair<AssertionID, IOReturn>>{{display.id, kIOReturnNotPermitted}}));
    const auto lines = log->messages("power");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("AccessDenied"), std::string::npos) << lines[0];
    EXPECT_EQ(backend.status(), (std::map<std::string, std::int64_t>{{"PreventSystemSleep", 1}}));

    // The refused assertion's extra idle lock goes with its release.
    EXPECT_EQ(backend.release(display.id), kIOReturnSuccess);
    EXPECT_EQ(backend.release(sleepHold.id), kIOReturnSuccess);
    EXPECT_TRUE(waitUntilNothingHeld());
}

TEST_F(LinuxPowerAssertionsTest, ACookieItsServiceWillNotTakeBackLeavesOneLogLine) {
    struct Case {
        const char* service;
        const char* member;
    };
    const Case cases[] = {{"screensaver", "UnInhibit"}, {"gnome_session", "Uninhibit"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.service);
        startService(c.service,
                     R"({"refuse_uninhibit": "org.freedesktop.DBus.Error.AccessDenied"})");
        auto& backend = makeAssertions();
        const auto display = backend.createWithName(assertion_type::kPreventUserIdleDisplaySleep,
                                                    kAssertionLevelOn, "Orvel");
        ASSERT_EQ(display.status, kIOReturnSuccess);
        ASSERT_TRUE(repliesArrived());
        log->clear();

        EXPECT_EQ(backend.release(display.id), kIOReturnSuccess);
        ASSERT_TRUE(waitFor([&] { return !log->messages("power").empty(); }));
        // One more round trip through the service: nothing else is on its way.
        EXPECT_EQ(screenSaverInhibitors().size() + gnomeInhibitFlags().size(), 1u);
        const auto lines = log->messages("power");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.member), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("AccessDenied"), std::string::npos) << lines[0];

        assertions.reset();
        stopService(c.service);
    }
}

TEST_F(LinuxPowerAssertionsTest, AServiceThatRestartsIsAskedAgainForEveryLockOfTheLiveAssertions) {
    using Counts = std::map<std::string, std::int64_t>;
    const std::string display(assertion_type::kPreventUserIdleDisplaySleep);
    const std::string idle(assertion_type::kPreventUserIdleSystemSleep);
    const std::string sleep(assertion_type::kPreventSystemSleep);
    struct Case {
        std::string service;
        std::string spoken;
        Counts whileAway;  // what Orvel's own assertions still hold
        // An assertion taken while the service is away, and its lock there as heldBy() shows it.
        std::string lateType;
        std::string lateLock;
    };
    const Case cases[] = {
        {"logind",
         "logind",
         {{display, 1}, {idle, 1}},
         sleep,
         "sleep/block Orvel session keeps the system from sleeping"},
        {"screensaver",
         "the screen saver",
         {{display, 1}, {idle, 1}, {sleep, 1}},
         display,
         "Orvel session keeps the display awake"},
        {"gnome_session",
         "GNOME's session manager",
         {{display, 1}, {idle, 1}, {sleep, 1}},
         idle,
         "12"},
    };
    // What a service holds, in words that tell the locks apart, sorted.
    auto heldBy = [&](const std::string& service) {
        std::vector<std::string> found;
        if (service == "logind") {
            for (const auto& i : logindInhibitors()) {
                found.push_back(i.what + "/" + i.mode + " " + i.why);
            }
        } else if (service == "screensaver") {
            for (const auto& [application, reason] : screenSaverInhibitors()) {
                found.push_back(reason);
            }
        } else {
            for (const std::uint32_t flags : gnomeInhibitFlags()) {
                found.push_back(std::to_string(flags));
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    startService("logind");
    startService("screensaver");
    startService("gnome_session");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.service);
        auto& backend = makeAssertions();
        int changes = 0;
        Subscription subscription = backend.servicesChanged.subscribe([&] { ++changes; });
        std::vector<AssertionID> ids;
        for (const auto& type : {display, idle, sleep}) {
            const auto created = backend.createWithName(type, kAssertionLevelOn, "Orvel");
            ASSERT_EQ(created.status, kIOReturnSuccess);
            ids.push_back(created.id);
        }
        ASSERT_TRUE(repliesArrived());
        std::vector<std::string> expected = heldBy(c.service);
        ASSERT_FALSE(expected.empty());
        log->clear();

        stopService(c.service);
        ASSERT_TRUE(waitFor([&] { return changes == 1; }));
        EXPECT_EQ(backend.stoppedServices(display), std::vector<std::string>{c.spoken});
        EXPECT_EQ(backend.ownStatus(), c.whileAway) << "nothing counts that nothing holds";
        // Its lock there is asked for when the service comes, also where no other service holds.
        const auto late = backend.createWithName(c.lateType, kAssertionLevelOn, "Orvel");
        ASSERT_EQ(late.status, kIOReturnSuccess);
        ids.push_back(late.id);
        expected.push_back(c.lateLock);
        std::sort(expected.begin(), expected.end());

        startService(c.service);
        EXPECT_TRUE(eventually([&] { return heldBy(c.service) == expected; }));
        EXPECT_EQ(heldBy(c.service), expected);
        EXPECT_TRUE(waitFor([&] { return changes == 2; }));
        EXPECT_EQ(backend.stoppedServices(display), std::vector<std::string>{});
        Counts all{{display, 1}, {idle, 1}, {sleep, 1}};
        ++all[c.lateType];
        EXPECT_EQ(backend.ownStatus(), all);
        const auto lines = log->messages("power");
        // Stopped, again, and in between whether the late assertion waits.
        ASSERT_EQ(lines.size(), c.whileAway.count(c.lateType) > 0 ? 2u : 3u);
        EXPECT_NE(lines.front().find("stopped"), std::string::npos) << lines.front();
        EXPECT_NE(lines.back().find("again"), std::string::npos) << lines.back();

        for (const AssertionID id : ids) {
            EXPECT_EQ(backend.release(id), kIOReturnSuccess);
        }
        EXPECT_TRUE(waitUntilNothingHeld());
        assertions.reset();
    }
}

TEST_F(LinuxPowerAssertionsTest, DeclaredUserActivityReachesTheScreenSaver) {
    startService("screensaver");
    auto& backend = makeAssertions();
    AssertionID id = 0;
    ASSERT_EQ(backend.declareUserActivity("Orvel", kUserActiveLocal, id), kIOReturnSuccess);
    EXPECT_NE(id, 0u);
    const AssertionID first = id;
    ASSERT_EQ(backend.declareUserActivity("Orvel", kUserActiveLocal, id), kIOReturnSuccess);
    EXPECT_EQ(id, first) << "a given identifier is kept";

    std::uint32_t count = 0;
    EXPECT_TRUE(waitFor([&] {
        test::Reply reply = test::callAndWait(*probe, test::kScreenSaverMock, "ActivityCount");
        return reply && sd_bus_message_read(reply.get(), "u", &count) > 0 && count == 2;
    }));
    EXPECT_EQ(count, 2u);
}

}  // namespace
}  // namespace orvel
