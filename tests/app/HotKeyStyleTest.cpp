#include <gtest/gtest.h>

#include <memory>

#include "app/AppDelegate.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/HotKeyBackend.h"
#include "support/UiTest.h"

namespace orvel {
namespace {

using Outcome = SimHotKeys::Outcome;

constexpr std::uint64_t kControlOptionCommand = 0x1C0000;
constexpr std::uint64_t kShift = 0x20000;
constexpr std::uint64_t kCapsLock = 0x10000;

class HotKeyStyleTest : public test::UiTest {
  protected:
    void SetUp() override {
        test::UiTest::SetUp();
        delegate = std::make_unique<AppDelegate>(services());
    }
    void TearDown() override {
        delegate.reset();
        UiTest::TearDown();
    }
    bool active() { return services().controller().isActive(); }
    void grant(bool both) {
        sim().permissions().setListenEvent(both ? ListenEventAccess::granted
                                                : ListenEventAccess::denied);
        sim().permissions().setAccessibility(both);
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(HotKeyStyleTest, EachStyleGivesItsShortcutAndOnlyIt) {
    struct Case {
        const char* name;
        HotKeyStyle style;
        bool permissions;
        bool registered;  // a hot key, else monitors or nothing
        bool monitors;
    };
    const Case cases[] = {
        {"off", HotKeyStyle::off, true, false, false},
        {"carbon without permissions", HotKeyStyle::carbon, false, true, false},
        {"monitor with both permissions", HotKeyStyle::monitor, true, false, true},
        {"monitor without them falls back", HotKeyStyle::monitor, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        grant(c.permissions);
        services().preferences().hotKeyStyle = c.style;
        delegate->applyHotKeyStyle();
        EXPECT_EQ(sim().hotKeys().registeredIds().size(), c.registered ? 1u : 0u);
        EXPECT_EQ(sim().hotKeys().monitorCount(), c.monitors ? 2u : 0u);

        const bool before = active();
        const Outcome elsewhere = sim().hotKeys().press(8, kControlOptionCommand, false);
        EXPECT_EQ(active(), c.registered || c.monitors ? !before : before);
        EXPECT_EQ(elsewhere == Outcome::hotKey, c.registered);
        // Inside Orvel the monitor consumes the key: it never reaches the focused control.
        const Outcome inside = sim().hotKeys().press(8, kControlOptionCommand, true);
        EXPECT_EQ(inside, c.registered ? Outcome::hotKey
                          : c.monitors ? Outcome::consumed
                                       : Outcome::delivered);
        if (active()) {
            services().controller().stop(true);
        }
    }
}

TEST_F(HotKeyStyleTest, WhereKeysInOtherApplicationsCannotBeWatchedTheMonitorStyleRegistersTheKey) {
    grant(true);
    sim().hotKeys().setGlobalMonitorsRefused(true);
    services().preferences().hotKeyStyle = HotKeyStyle::monitor;
    delegate->applyHotKeyStyle();
    EXPECT_EQ(sim().hotKeys().registeredIds().size(), 1u);
    EXPECT_EQ(sim().hotKeys().monitorCount(), 0u) << "no half monitor is left behind";
    EXPECT_EQ(sim().hotKeys().press(8, kControlOptionCommand, false), Outcome::hotKey);
    EXPECT_TRUE(active());
}

TEST_F(HotKeyStyleTest, QuittingUnregistersTheShortcut) {
    services().preferences().hotKeyStyle = HotKeyStyle::carbon;
    delegate->applyHotKeyStyle();
    ASSERT_EQ(sim().hotKeys().registeredIds().size(), 1u);
    delegate->applicationWillTerminate();
    EXPECT_TRUE(sim().hotKeys().registeredIds().empty());
    EXPECT_EQ(sim().hotKeys().handlerCount(), 0u);
}

TEST_F(HotKeyStyleTest, AddedModifiersDoNotFireTheMonitor) {
    grant(true);
    services().preferences().hotKeyStyle = HotKeyStyle::monitor;
    delegate->applyHotKeyStyle();
    for (std::uint64_t extra : {kShift, kCapsLock}) {
        EXPECT_EQ(sim().hotKeys().press(8, kControlOptionCommand | extra, true),
                  Outcome::delivered);
        sim().hotKeys().press(8, kControlOptionCommand | extra, false);
        EXPECT_FALSE(active());
    }
    sim().hotKeys().press(9, kControlOptionCommand, false);
    EXPECT_FALSE(active()) << "another key";
}

TEST_F(HotKeyStyleTest, CarbonOffCarbonRegistersAFreshIdAndTheOldOneIsGone) {
    services().preferences().hotKeyStyle = HotKeyStyle::carbon;
    delegate->applyHotKeyStyle();
    const auto first = dynamic_cast<CarbonHotKey&>(*delegate->hotKey).id();
    services().preferences().hotKeyStyle = HotKeyStyle::off;
    delegate->applyHotKeyStyle();
    EXPECT_TRUE(sim().hotKeys().registeredIds().empty());
    EXPECT_EQ(sim().hotKeys().handlerCount(), 0u);
    services().preferences().hotKeyStyle = HotKeyStyle::carbon;
    delegate->applyHotKeyStyle();
    const auto second = dynamic_cast<CarbonHotKey&>(*delegate->hotKey).id();
    EXPECT_NE(second, first);
    EXPECT_EQ(sim().hotKeys().registeredIds(), std::vector<std::uint32_t>{second});

    sim().hotKeys().sendHotKeyEvent(first);
    EXPECT_FALSE(active()) << "a released id runs nothing";
    sim().hotKeys().sendHotKeyEvent(second);
    EXPECT_TRUE(active());
}

TEST_F(HotKeyStyleTest, AnyInstalledHandlerDeliversAnyRegisteredHotKey) {
    int firstRuns = 0;
    int secondRuns = 0;
    auto first = std::make_unique<CarbonHotKey>(sim().hotKeys(), 8, 0x1900, [&] { ++firstRuns; });
    auto second = std::make_unique<CarbonHotKey>(sim().hotKeys(), 9, 0x1900, [&] { ++secondRuns; });
    sim().hotKeys().press(8, kControlOptionCommand, false);  // told to the newest handler
    EXPECT_EQ(firstRuns, 1);
    second.reset();
    sim().hotKeys().press(9, kControlOptionCommand, false);
    EXPECT_EQ(secondRuns, 0);
    sim().hotKeys().press(8, kControlOptionCommand, false);
    EXPECT_EQ(firstRuns, 2);
}

}  // namespace
}  // namespace orvel
