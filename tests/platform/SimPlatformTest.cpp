#include "platform/sim/SimPlatform.h"

#include <gtest/gtest.h>

#include "support/OrvelTest.h"

namespace orvel {
namespace {

using test::OrvelTest;
using Kind = SimPowerAssertions::EventKind;

class SimPlatformTest : public OrvelTest {};

TEST_F(SimPlatformTest, RefusesExactlyTheNthCreationWithItsCode) {
    auto& assertions = sim().powerAssertions();
    assertions.refuseCreation(2, kIOReturnNotPermitted);
    EXPECT_EQ(assertions.createWithName("A", kAssertionLevelOn, "x").status, kIOReturnSuccess);
    EXPECT_EQ(assertions.createWithName("B", kAssertionLevelOn, "x").status, kIOReturnNotPermitted);
    EXPECT_EQ(assertions.createWithName("C", kAssertionLevelOn, "x").status, kIOReturnSuccess);
    EXPECT_EQ(assertions.heldTypes(), (std::vector<std::string>{"A", "C"}));

    assertions.refuseAll(kIOReturnUnsupported);
    EXPECT_EQ(assertions.createWithName("D", kAssertionLevelOn, "x").status, kIOReturnUnsupported);
    assertions.allowAll();
    EXPECT_EQ(assertions.createWithName("D", kAssertionLevelOn, "x").status, kIOReturnSuccess);
}

TEST_F(SimPlatformTest, StatusCountsHoldersPerTypeAndReleaseOfUnknownIdFails) {
    auto& assertions = sim().powerAssertions();
    const auto a = assertions.createWithName("PreventSystemSleep", kAssertionLevelOn, "x");
    assertions.createWithName("PreventSystemSleep", kAssertionLevelOn, "y");
    auto status = assertions.status();
    ASSERT_TRUE(status);
    EXPECT_EQ((*status)["PreventSystemSleep"], 2);
    EXPECT_EQ(assertions.release(a.id), kIOReturnSuccess);
    EXPECT_NE(assertions.release(a.id), kIOReturnSuccess);
    assertions.setStatusUnreadable(true);
    EXPECT_FALSE(assertions.status());
    EXPECT_EQ(assertions.events(Kind::Released).size(), 1u);
}

TEST_F(SimPlatformTest, StatusCountsOtherProgramsBesideOwnAssertionsWhichStayCountedApart) {
    using Counts = std::map<std::string, std::int64_t>;
    auto& assertions = sim().powerAssertions();
    assertions.setOtherHolders({{"PreventSystemSleep", 2}, {"PreventUserIdleSystemSleep", 1}});
    EXPECT_EQ(assertions.status(),
              (Counts{{"PreventSystemSleep", 2}, {"PreventUserIdleSystemSleep", 1}}));
    EXPECT_EQ(assertions.ownStatus(), Counts{});

    assertions.createWithName("PreventSystemSleep", kAssertionLevelOn, "x");
    const auto display =
        assertions.createWithName("PreventUserIdleDisplaySleep", kAssertionLevelOn, "x");
    EXPECT_EQ(assertions.status(), (Counts{{"PreventSystemSleep", 3},
                                           {"PreventUserIdleDisplaySleep", 1},
                                           {"PreventUserIdleSystemSleep", 1}}));
    EXPECT_EQ(assertions.ownStatus(),
              (Counts{{"PreventSystemSleep", 1}, {"PreventUserIdleDisplaySleep", 1}}));

    // Taken back by the system: held by nobody, though its owner has not released it yet.
    ASSERT_TRUE(assertions.refuseHeld(display.id, kIOReturnNotPermitted));
    EXPECT_EQ(assertions.status(),
              (Counts{{"PreventSystemSleep", 3}, {"PreventUserIdleSystemSleep", 1}}));
    EXPECT_EQ(assertions.ownStatus(), (Counts{{"PreventSystemSleep", 1}}));

    assertions.setStatusUnreadable(true);
    EXPECT_FALSE(assertions.status());
    EXPECT_EQ(assertions.ownStatus(), (Counts{{"PreventSystemSleep", 1}}))
        << "its own assertions are always known";
}

TEST_F(SimPlatformTest, ChildrenRunUntilTheyExitOrAreTerminated) {
    auto& processes = sim().processes();
    int exitStatus = -1;
    auto launched =
        processes.launch({"/usr/bin/caffeinate", {"-i"}}, [&](int status) { exitStatus = status; });
    ASSERT_TRUE(launched.ok());
    auto child = processes.lastChild();
    EXPECT_TRUE(child->isRunning());
    EXPECT_EQ(child->request().arguments, (std::vector<std::string>{"-i"}));
    child->exit(0);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_FALSE(launched.value()->isRunning());

    exitStatus = -1;
    auto second = processes.launch({"/usr/bin/caffeinate", {}}, [&](int s) { exitStatus = s; });
    second.value()->clearTerminationHandler();
    second.value()->terminate();
    EXPECT_EQ(exitStatus, -1) << "a cleared handler is never called";
    EXPECT_TRUE(processes.lastChild()->wasTerminated());
    EXPECT_EQ(second.value()->terminationStatus(), SimProcesses::kSigTermStatus);
}

TEST_F(SimPlatformTest, LaunchFailuresCarryTheirDescription) {
    auto& processes = sim().processes();
    processes.failNextLaunch("The operation couldn’t be completed.");
    auto failed = processes.launch({"/usr/bin/caffeinate", {}}, nullptr);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "The operation couldn’t be completed.");
    EXPECT_TRUE(processes.launch({"/usr/bin/caffeinate", {}}, nullptr).ok());

    processes.setExecutable("/usr/bin/caffeinate", false);
    EXPECT_FALSE(processes.isExecutableFile("/usr/bin/caffeinate"));
    EXPECT_FALSE(processes.launch({"/usr/bin/caffeinate", {}}, nullptr).ok());
}

TEST_F(SimPlatformTest, RefusingAHeldAssertionTellsSubscribersAndStillLetsItBeReleased) {
    auto& assertions = sim().powerAssertions();
    std::vector<std::pair<AssertionID, IOReturn>> refused;
    Subscription subscription = assertions.assertionRefused.subscribe(
        [&](AssertionID id, IOReturn code) { refused.emplace_back(id, code); });
    const auto kept = assertions.createWithName("PreventSystemSleep", kAssertionLevelOn, "x");
    const auto lost =
        assertions.createWithName("PreventUserIdleSystemSleep", kAssertionLevelOn, "x");

    EXPECT_TRUE(assertions.refuseHeld(lost.id, kIOReturnNotPermitted));
    EXPECT_EQ(refused,
              (std::vector<std::pair<AssertionID, IOReturn>>{{lost.id, kIOReturnNotPermitted}}));
    EXPECT_EQ(assertions.heldTypes(), (std::vector<std::string>{"PreventSystemSleep"}));
    EXPECT_EQ(assertions.release(lost.id), kIOReturnSuccess);
    EXPECT_EQ(assertions.release(lost.id), kIOReturnNotFound);
    EXPECT_FALSE(assertions.refuseHeld(lost.id, kIOReturnError));
    EXPECT_EQ(refused.size(), 1u);
    EXPECT_EQ(assertions.release(kept.id), kIOReturnSuccess);
}

TEST_F(SimPlatformTest, OpenedURLsAreRecordedUnlessTheOpenFails) {
    auto& workspace = sim().workspace();
    workspace.failNextOpen("No application can open this address.");
    auto failed = workspace.openURL("https://example.org/a");
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "No application can open this address.");
    EXPECT_TRUE(workspace.openURL("https://example.org/b").ok());
    EXPECT_EQ(workspace.openedURLs(), (std::vector<std::string>{"https://example.org/b"}));
}

TEST_F(SimPlatformTest, LoginItemsFollowRegistrationAndReportInjectedFailures) {
    auto& items = sim().loginItems();
    EXPECT_EQ(items.status(), login_item_status::kNotRegistered);
    EXPECT_TRUE(items.registerItem().ok());
    EXPECT_EQ(items.status(), login_item_status::kEnabled);

    items.failNext("The login items could not be changed.");
    auto failed = items.unregisterItem();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "The login items could not be changed.");
    EXPECT_EQ(items.status(), login_item_status::kEnabled);
    EXPECT_TRUE(items.unregisterItem().ok());
    EXPECT_EQ(items.status(), login_item_status::kNotRegistered);

    items.setStatus(login_item_status::kRequiresApproval);
    EXPECT_EQ(items.status(), login_item_status::kRequiresApproval);
}

TEST_F(SimPlatformTest, PathsLieUnderTheRootTheFixtureChooses) {
    auto& paths = sim().paths();
    paths.setRoot("/tmp/case-1");
    for (const std::string& folder : {paths.applicationSupportDirectory(), paths.configDirectory(),
                                      paths.resourcesDirectory()}) {
        EXPECT_EQ(folder.rfind("/tmp/case-1/", 0), 0u) << folder;
    }
    EXPECT_NE(paths.applicationSupportDirectory(), paths.configDirectory());
}

}  // namespace
}  // namespace orvel
