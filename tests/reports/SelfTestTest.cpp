#include "reports/SelfTest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "devices/BuiltInDisplay.h"
#include "devices/InputBlocker.h"
#include "devices/KeyboardBacklight.h"
#include "reports/ConflictsReport.h"
#include "reports/DiagnosticsFixture.h"
#include "support/UiTest.h"

namespace orvel {
namespace {

using test::Machine;
namespace ps = power_source;

class SelfTestTest : public test::UiTest {};

TEST_F(SelfTestTest, SelfTestsOfALaptopADesktopAndAClosedLidReadAsTheGoldenFiles) {
    for (const Machine machine : {Machine::laptop, Machine::desktop, Machine::closedLid}) {
        SCOPED_TRACE(test::machineName(machine));
        TearDown();
        SetUp();
        test::buildMachine(sim(), host(), machine);
        const auto text = services().selfTest().copyForSupport(false);
        ASSERT_TRUE(text);
        EXPECT_EQ(host().pasteboard().string(), text);
        EXPECT_FALSE(services().inputBlocker().hidAccess());
        test::expectGolden(std::string("selftest-") + test::machineName(machine) + ".txt", *text);
        // Everything dimmed was put back.
        EXPECT_FALSE(services().builtInDisplay().savedLevel());
        EXPECT_FALSE(services().keyboardBacklight().isOff());
    }
}

TEST_F(SelfTestTest, AHoldOrvelKeepsIsNeitherDimmedNorUndone) {
    services().builtInDisplay().setDark(true);
    services().keyboardBacklight().setOff(true);
    const auto displayLines = services().selfTest().displayLines();
    const auto backlightLines = services().selfTest().backlightLines();
    EXPECT_EQ(displayLines, std::vector<std::string>{"  INCONCLUSIVE \u2014 held dark by Orvel's "
                                                     "display setting; turn it off and re-run."});
    EXPECT_EQ(backlightLines.at(0), "  INCONCLUSIVE \u2014 backlight already off before the test");
    EXPECT_EQ(services().builtInDisplay().savedLevel(), 0.75);
    EXPECT_TRUE(services().builtInDisplay().isReasserting());
    EXPECT_EQ(services().builtInDisplay().level(), 0.0);
    EXPECT_TRUE(services().keyboardBacklight().isOff());
}

TEST_F(SelfTestTest, TheLaptopRuleDecidesTheDesktopSkips) {
    struct Case {
        const char* what;
        int chassis;
        bool batteries;
        const char* display;
        const char* blocking;
    };
    const Case cases[] = {
        {"laptop, lid closed, battery taken out", 10, false,
         "  SKIP \u2014 internal panel offline (lid closed)", "  [FAIL] internal device found"},
        {"desktop that reports a battery", 3, true,
         "  SKIP \u2014 no internal panel on this computer",
         "  SKIP \u2014 desktop computer: no built-in keyboard or trackpad exists,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        sim().systemInfo().setHardwareModel("Board");
        sim().systemInfo().setChassisType(c.chassis);
        if (!c.batteries) {
            sim().powerSources().removeBatteries();
        }
        sim().displays().setOnline(SimDisplays::kBuiltInID, false);
        EXPECT_EQ(services().selfTest().displayLines(), std::vector<std::string>{c.display});
        const auto blocking = services().selfTest().inputBlockingLines();
        EXPECT_NE(std::find(blocking.begin(), blocking.end(), c.blocking), blocking.end());
    }
}

TEST_F(SelfTestTest, AnUnreadLevelNeverPasses) {
    sim().displays().setReadable(SimDisplays::kBuiltInID, false);
    EXPECT_EQ(services().selfTest().displayLines(),
              (std::vector<std::string>{
                  "  [FAIL] darkens", "  [FAIL] restores",
                  "  levels: before unreadable \u00B7 during unreadable \u00B7 after unreadable"}));
    sim().displays().setReadable(SimDisplays::kBuiltInID, true);
    sim().displays().setAppliesWrites(SimDisplays::kBuiltInID, false);
    EXPECT_EQ(services().selfTest().displayLines().at(0), "  [FAIL] darkens")
        << "a panel that stays lit";
}

TEST_F(SelfTestTest, PowerLinesDescribeEachSource) {
    struct Case {
        const char* name;
        std::optional<PowerSourcesSnapshot> snapshot;
        std::vector<std::string> lines;  // after the battery verdict, before "on AC"
    };
    const PropertyDictionary ups{{ps::kType, ps::kUPS},
                                 {ps::kName, "Back-UPS"},
                                 {ps::kCurrentCapacity, 1},
                                 {ps::kMaxCapacity, 8},
                                 {ps::kPowerSourceState, ps::kUPSPower}};
    const Case cases[] = {
        {"empty description",
         PowerSourcesSnapshot{{PropertyDictionary{}}, std::nullopt},
         {"  external \u2014 unnamed \u00B7 ? \u00B7 n/a \u00B7 ?", "  UPS attached no"}},
        {"no capacity",
         PowerSourcesSnapshot{
             {PropertyDictionary{{ps::kMaxCapacity, 0}, {ps::kCurrentCapacity, 5}}}, std::nullopt},
         {"  external \u2014 unnamed \u00B7 ? \u00B7 n/a \u00B7 ?", "  UPS attached no"}},
        {"UPS at a half percent",
         PowerSourcesSnapshot{{ups}, std::string(ps::kUPSPower)},
         {"  external \u2014 Back-UPS \u00B7 UPS \u00B7 13% \u00B7 UPS Power",
          "  UPS attached yes \u00B7 providing power yes"}},
        {"unreadable", std::nullopt, {"  power source info unreadable"}},
    };
    for (const auto& c : cases) {
        if (c.snapshot) {
            sim().powerSources().setUnreadable(false);
            sim().powerSources().setSources(*c.snapshot);
        } else {
            sim().powerSources().setUnreadable(true);
        }
        const auto lines = services().selfTest().powerLines();
        ASSERT_EQ(lines.size(), c.lines.size() + 2) << c.name;
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1), c.lines) << c.name;
        EXPECT_EQ(lines.back(), "  on AC yes \u00B7 Power Saver off") << c.name;
    }
}

}  // namespace
}  // namespace orvel
