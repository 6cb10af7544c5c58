#include "devices/PermissionPrimer.h"

#include <gtest/gtest.h>

#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "support/UiTest.h"

namespace orvel {
namespace {

using ui::HeadlessHost;

class PermissionPrimerTest : public test::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        services().deviceState();  // applies a granted switch, as at launch
    }
    // Asks as the keyboard switch does; `reverts` counts the switch turned back off.
    bool ask() {
        return services().permissionPrimer().explainIfNeeded(weakRef(services().preferences()),
                                                             [this] { ++reverts; });
    }
    void grant(ListenEventAccess inputMonitoring, bool accessibility) {
        sim().permissions().setListenEvent(inputMonitoring);
        sim().permissions().setAccessibility(accessibility);
    }
    void explained() { sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true); }
    std::uint64_t reconciles() { return services().deviceState().reconcileCount(); }

    int reverts = 0;
};

TEST_F(PermissionPrimerTest, ExplainsOnceEverThenAppliesAtOnceWithBothGranted) {
    grant(ListenEventAccess::granted, true);
    host().scriptAlert(HeadlessHost::answer(ui::kAlertFirstButtonReturn));
    EXPECT_TRUE(ask());
    ASSERT_EQ(host().alerts().size(), 1u);
    const auto& content = host().alerts()[0]->content();
    EXPECT_EQ(content.messageText, "Orvel needs two permissions for this");
    EXPECT_EQ(content.buttons, (std::vector<std::string>{"Continue", "Not Now"}));
    EXPECT_EQ(content.style, ui::AlertStyle::informational);
    EXPECT_TRUE(content.informativeText.rfind("Disabling the built-in keyboard", 0) == 0);
    EXPECT_TRUE(sim().userDefaults().boolForKey(PermissionPrimer::kExplainedKey));
    EXPECT_EQ(reconciles(), 1u);

    EXPECT_TRUE(ask());
    EXPECT_EQ(host().alerts().size(), 1u) << "one alert ever";
    EXPECT_EQ(reconciles(), 2u);
    EXPECT_EQ(reverts, 0);
    EXPECT_EQ(host().unscriptedAlerts(), 0);
}

TEST_F(PermissionPrimerTest, NotNowTurnsTheSwitchBackAndExplainsAgainNextTime) {
    grant(ListenEventAccess::granted, true);
    host().scriptAlert(HeadlessHost::answer(ui::kAlertSecondButtonReturn));
    EXPECT_FALSE(ask());
    EXPECT_EQ(reverts, 1);
    EXPECT_FALSE(sim().userDefaults().boolForKey(PermissionPrimer::kExplainedKey));
    EXPECT_EQ(reconciles(), 0u);
    EXPECT_FALSE(services().preferences().requestingPermissions);

    host().scriptAlert(HeadlessHost::answer(ui::kAlertSecondButtonReturn));
    ask();
    EXPECT_EQ(host().alerts().size(), 2u);
}

TEST_F(PermissionPrimerTest, PollsEachPermissionFortyFiveTimesAndKeepsTheSwitchOnlyWithBoth) {
    struct Case {
        const char* name;
        ListenEventAccess inputMonitoring;
        bool accessibility;
        double decidedAfter;  // seconds
        bool kept;
        std::size_t accessibilityRequests;
    };
    const Case cases[] = {
        {"Input Monitoring never, Accessibility never", ListenEventAccess::undecided, false, 90,
         false, 1},
        {"Accessibility granted but Input Monitoring never", ListenEventAccess::undecided, true, 45,
         false, 0},
        {"Input Monitoring granted, Accessibility never", ListenEventAccess::granted, false, 45,
         false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        reverts = 0;
        explained();
        grant(c.inputMonitoring, c.accessibility);
        ask();
        loop().advance(c.decidedAfter - 0.5);
        EXPECT_EQ(reverts, 0) << "still polling";
        EXPECT_TRUE(services().permissionPrimer().isPolling());
        loop().advance(1);
        EXPECT_EQ(reverts, c.kept ? 0 : 1);
        EXPECT_EQ(reconciles(), c.kept ? 1u : 0u);
        EXPECT_FALSE(services().permissionPrimer().isPolling());
        EXPECT_EQ(sim().permissions().accessibilityRequests(), c.accessibilityRequests);
        EXPECT_EQ(host().unscriptedAlerts(), 0);
    }
}

TEST_F(PermissionPrimerTest, AppliesOnTheFirstCheckThatSeesBothGranted) {
    explained();
    grant(ListenEventAccess::undecided, false);
    ask();
    loop().advance(10);
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    loop().advance(1);
    EXPECT_EQ(sim().permissions().accessibilityRequests(), 1u) << "moved on to Accessibility";
    loop().advance(5);
    sim().permissions().setAccessibility(true);
    EXPECT_EQ(reconciles(), 0u);
    loop().advance(1);
    EXPECT_EQ(reconciles(), 1u);
    EXPECT_EQ(reverts, 0);
    EXPECT_FALSE(services().preferences().requestingPermissions);
}

TEST_F(PermissionPrimerTest, PreferencesGoneMidPollEndQuietly) {
    explained();
    grant(ListenEventAccess::denied, false);
    services().permissionPrimer().explainIfNeeded(WeakRef<Preferences>(), [this] { ++reverts; });
    loop().advance(100);
    EXPECT_FALSE(services().permissionPrimer().isPolling());
    EXPECT_EQ(reverts, 0);
    EXPECT_EQ(reconciles(), 0u);
}

}  // namespace
}  // namespace orvel
