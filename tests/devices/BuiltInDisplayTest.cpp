#include "devices/BuiltInDisplay.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "devices/ScreenSaverBlock.h"
#include "support/OrvelTest.h"

namespace orvel {
namespace {

constexpr std::uint32_t kPanel = SimDisplays::kBuiltInID;
constexpr std::uint32_t kMonitor = 7;

class BuiltInDisplayTest : public test::OrvelTest {
  protected:
    SimDisplays& displays() { return sim().displays(); }
    BuiltInDisplay& display() { return services().builtInDisplay(); }
    void plugMonitor(bool isMain) {
        displays().addDisplay({kMonitor, "HDMI-A-1", false, isMain}, 0.9);
    }
    std::size_t displayLogLines() { return sim().log().messages("display").size(); }
};

TEST_F(BuiltInDisplayTest, FindsTheBuiltInPanelWhereverItIsListed) {
    struct Case {
        const char* name;
        bool monitor, monitorIsMain, panelOnline;
        std::optional<std::uint32_t> found;
    };
    const Case cases[] = {
        {"panel alone", false, false, true, kPanel},
        {"external main display listed first", true, true, true, kPanel},
        {"lid closed, monitor only", true, true, false, std::nullopt},
        {"desktop with no panel", false, false, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        displays().removeDisplay(kMonitor);
        displays().removeDisplay(kPanel);
        if (c.monitor) {
            plugMonitor(c.monitorIsMain);
        }
        displays().addDisplay({kPanel, "eDP-1", true, !c.monitorIsMain}, 0.4);
        displays().setOnline(kPanel, c.panelOnline);
        EXPECT_EQ(services().builtInDisplay().builtInDisplayID(), c.found);
        EXPECT_EQ(display().level(), c.found ? std::optional<double>(0.4) : std::nullopt);
        EXPECT_DOUBLE_EQ(display().brightness(), c.found ? 0.4 : 0.5);
    }
}

TEST_F(BuiltInDisplayTest, DarkensAndRestoresOnlyTheBuiltInPanelBesideAnExternalMainDisplay) {
    plugMonitor(true);
    displays().changeLevelFromOutside(kPanel, 0.6);
    display().setDark(true);
    displays().changeLevelFromOutside(kMonitor, 0.3);  // the monitor's own keys
    loop().advance(3);
    display().setDark(false);
    EXPECT_EQ(displays().writesTo(kPanel), (std::vector<double>{0.0, 0.6}));
    EXPECT_TRUE(displays().writesTo(kMonitor).empty());
    EXPECT_EQ(displays().trueLevel(kMonitor), 0.3);
}

TEST_F(BuiltInDisplayTest, HoldsAndReleasesAsTheEdgeCasesSay) {
    struct Case {
        const char* name;
        bool panel;
        std::vector<bool> calls;
        std::optional<double> saved;
        bool reasserting;
        std::vector<double> writes;
    };
    const Case cases[] = {
        {"desktop: darkening does nothing", false, {true}, std::nullopt, false, {}},
        {"desktop: restoring does nothing", false, {false}, std::nullopt, false, {}},
        {"darkening saves and writes zero", true, {true}, 0.6, true, {0.0}},
        {"darkening twice keeps the first level", true, {true, true}, 0.6, true, {0.0}},
        {"restoring without darkening leaves the level", true, {false}, std::nullopt, false, {}},
        {"restoring puts the saved level back",
         true,
         {true, false},
         std::nullopt,
         false,
         {0.0, 0.6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        display().setDark(false);
        displays().removeDisplay(kPanel);
        if (c.panel) {
            displays().addDisplay({kPanel, "eDP-1", true, true}, 0.6);
        }
        displays().clearWrites();
        for (bool dark : c.calls) {
            display().setDark(dark);
            // A change from outside between the calls must not become the saved level.
            displays().changeLevelFromOutside(kPanel, 0.3);
        }
        EXPECT_EQ(display().savedLevel(), c.saved);
        EXPECT_EQ(display().isReasserting(), c.reasserting);
        EXPECT_EQ(displays().writesTo(kPanel), c.writes);
    }
}

TEST_F(BuiltInDisplayTest, TakesTheLevelBackToDarkWithinHalfASecond) {
    struct Case {
        double raisedTo;
        std::vector<double> tickWrites;
        double after;
    };
    const Case cases[] = {{0.5, {0.0}, 0.0}, {0.011, {0.0}, 0.0}, {0.01, {}, 0.01}};
    display().setDark(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raisedTo);
        displays().clearWrites();
        displays().changeLevelFromOutside(kPanel, c.raisedTo);
        loop().drain();
        EXPECT_TRUE(displays().writes().empty());
        loop().advance(0.5);
        EXPECT_EQ(displays().writesTo(kPanel), c.tickWrites);
        EXPECT_EQ(displays().trueLevel(kPanel), c.after);
    }
}

TEST_F(BuiltInDisplayTest, LidClosedWhileDarkTouchesNothingAndReopeningRestores) {
    displays().changeLevelFromOutside(kPanel, 0.7);
    display().setDark(true);
    displays().setOnline(kPanel, false);
    plugMonitor(true);
    displays().clearWrites();
    loop().advance(5);
    display().setDark(false);  // skipped: the panel is away
    EXPECT_TRUE(displays().writes().empty());
    EXPECT_EQ(display().savedLevel(), 0.7);

    displays().setOnline(kPanel, true);
    display().setDark(false);
    EXPECT_EQ(displays().writes().size(), 1u);
    EXPECT_EQ(displays().trueLevel(kPanel), 0.7);
    EXPECT_EQ(displays().trueLevel(kMonitor), 0.9);
}

TEST_F(BuiltInDisplayTest, AnUnreadableLevelIsNeitherSavedNorChanged) {
    displays().setReadable(kPanel, false);
    const std::size_t linesBefore = displayLogLines();
    display().setDark(true);
    EXPECT_FALSE(display().savedLevel());
    EXPECT_FALSE(display().isReasserting());
    EXPECT_TRUE(displays().writes().empty());
    EXPECT_EQ(displayLogLines(), linesBefore + 1);

    displays().setReadable(kPanel, true);
    display().setDark(true);
    EXPECT_EQ(display().savedLevel(), 0.75);
}

TEST_F(BuiltInDisplayTest, ARefusedWriteIsMadeAgainAtTheNextTick) {
    display().setDark(true);
    displays().changeLevelFromOutside(kPanel, 0.5);
    displays().refuseNextWrite(kPanel);
    std::vector<std::uint32_t> refused;
    auto watch =
        displays().writeRefused.subscribe([&](std::uint32_t id) { refused.push_back(id); });
    loop().advance(0.5);
    loop().drain();
    EXPECT_EQ(refused, std::vector<std::uint32_t>{kPanel});
    EXPECT_EQ(display().level(), 0.5);
    loop().advance(0.5);
    EXPECT_EQ(displays().trueLevel(kPanel), 0.0);
    EXPECT_EQ(display().savedLevel(), 0.75);
}

class ScreenSaverBlockTest : public test::OrvelTest {};

TEST_F(ScreenSaverBlockTest, HoldsOneAssertionAndReleasesItOnce) {
    auto& assertions = sim().powerAssertions();
    services().screenSaverBlock().set(true);
    services().screenSaverBlock().set(true);
    ASSERT_EQ(assertions.held().size(), 1u);
    EXPECT_EQ(assertions.held()[0].type, "PreventUserIdleDisplaySleep");
    EXPECT_EQ(assertions.held()[0].level, 255u);
    EXPECT_EQ(assertions.held()[0].name, "Orvel \u2014 screen saver");
    services().screenSaverBlock().set(false);
    services().screenSaverBlock().set(false);
    EXPECT_TRUE(assertions.held().empty());
    EXPECT_EQ(assertions.events(SimPowerAssertions::EventKind::Released).size(), 1u);
}

TEST_F(ScreenSaverBlockTest, AFailedOrTakenBackAssertionIsTriedAgainOnTheNextRequest) {
    auto& assertions = sim().powerAssertions();
    assertions.refuseCreation(1, kIOReturnNotPermitted);
    services().screenSaverBlock().set(true);
    EXPECT_FALSE(services().screenSaverBlock().assertion());
    services().screenSaverBlock().set(true);
    ASSERT_TRUE(services().screenSaverBlock().assertion());

    assertions.refuseHeld(*services().screenSaverBlock().assertion(), kIOReturnNotPermitted);
    loop().drain();
    EXPECT_FALSE(services().screenSaverBlock().assertion());
    services().screenSaverBlock().set(true);
    EXPECT_EQ(assertions.held().size(), 1u);
}

}  // namespace
}  // namespace orvel
