#include "reports/ConflictNotes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/OrvelController.h"
#include "devices/PermissionPrimer.h"
#include "drives/DriveKeepAlive.h"
#include "reports/ConflictsReport.h"
#include "support/SessionTest.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

using conflicts::powerMessages;

class ConflictNotesTest : public test::SessionTest {
  protected:
    // The window goes before the host it belongs to.
    void TearDown() override {
        window_.reset();
        SessionTest::TearDown();
    }
    TriggerEngine& engine() { return services().triggerEngine(); }

    static TriggerRule floorRule(std::string name, std::optional<std::string> btName,
                                 TriggerAction onClear, bool enabled = true) {
        TriggerRule rule;
        rule.name = std::move(name);
        rule.btName = std::move(btName);
        rule.onClear = onClear;
        rule.enabled = enabled;
        rule.btBattEnd = 20;
        return rule;
    }
    // Explained before and nothing granted: the switch stays on while its request polls.
    void blockKeyboard(bool on) {
        sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
        prefs().blockBuiltInKeyboard = on;
    }
    void symmetricUPS() {
        prefs().upsReact = true;
        prefs().upsInverted = false;
    }
    void enableOneDrive() {
        DriveKeepAlive::Drive drive;
        drive.id = "disk-1";
        drive.name = "Archive";
        drive.enabled = true;
        services().driveKeepAlive();
        loop().drain();  // the start-up scan drops drives that are not mounted
        services().driveKeepAlive().drives = {drive};
    }
    void preventDiskSleep(bool on) {
        auto options = controller().options();
        options.preventDiskSleep = on;
        controller().options = options;
    }
    std::vector<std::string> reportLines() {
        std::vector<std::string> lines;
        std::istringstream in(services().conflictsReport().text());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    // The note shown in a window, as the user sees it.
    std::vector<std::string> shown(std::shared_ptr<ui::ViewComponent> note) {
        window_ = host().makeWindow();
        window_->setContent(std::move(note));
        window_->makeKeyAndOrderFront();
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window_).inspect().texts();
    }

    std::unique_ptr<ui::Window> window_;
};

TEST_F(ConflictNotesTest, ShortcutNoteShowsOnBothPagesOnlyWhileAStyleIsOnAndTheKeyboardIsOff) {
    const struct {
        HotKeyStyle style;
        bool blocked;
        bool shows;
    } cases[] = {{HotKeyStyle::carbon, true, true},
                 {HotKeyStyle::monitor, true, true},
                 {HotKeyStyle::off, true, false},
                 {HotKeyStyle::carbon, false, false}};
    for (const auto& c : cases) {
        prefs().hotKeyStyle = c.style;
        blockKeyboard(c.blocked);
        const auto keyboardSide = conflicts::hotkeyKeyboardMessages(prefs(), true);
        const auto shortcutSide = conflicts::hotkeyKeyboardMessages(prefs(), false);
        ASSERT_EQ(keyboardSide.size(), c.shows ? 1u : 0u);
        ASSERT_EQ(shortcutSide.size(), c.shows ? 1u : 0u);
        if (c.shows) {
            EXPECT_EQ(
                keyboardSide[0].rfind("Conflicts with \u201cGlobal shortcut\u201d (General)", 0),
                0u);
            EXPECT_EQ(shortcutSide[0].rfind(
                          "Conflicts with \u201cDisable the built-in keyboard\u201d (Devices)", 0),
                      0u);
        }
    }
}

TEST_F(ConflictNotesTest, NoteFollowsTheSettingsItObservesAndTakesNoSpaceWhenEmpty) {
    auto note = std::make_shared<HotkeyKeyboardConflictNote>(prefs(), true);
    EXPECT_TRUE(shown(note).empty());
    EXPECT_EQ(ConflictNote({}).node().kind, ui::NodeKind::empty);
    prefs().hotKeyStyle = HotKeyStyle::carbon;
    blockKeyboard(true);
    loop().drain();
    const auto texts = static_cast<ui::HeadlessWindow&>(*window_).inspect().texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("only works from an external keyboard."), std::string::npos);
}

TEST_F(ConflictNotesTest, DiskSleepNoteNeedsBothTheGlobalFlagAndAnEnabledDrive) {
    auto note = std::make_shared<DiskSleepConflictNote>(services().driveKeepAlive(), controller());
    EXPECT_TRUE(shown(note).empty());
    enableOneDrive();  // switching a drive on through the model is what turns −m off
    preventDiskSleep(true);
    loop().drain();
    auto texts = static_cast<ui::HeadlessWindow&>(*window_).inspect().texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("Turn \u2212m off"), std::string::npos);
    preventDiskSleep(false);
    loop().drain();
    EXPECT_TRUE(static_cast<ui::HeadlessWindow&>(*window_).inspect().texts().empty());
}

TEST_F(ConflictNotesTest, BluetoothNoteNeedsAFloorAndListsDisconnectBeforeMasterSwitch) {
    const struct {
        bool floor;
        TriggerAction onClear;
        bool master;
        std::vector<std::string> starts;
    } cases[] = {
        {false, TriggerAction::startSession, false, {}},
        {true, TriggerAction::endSession, true, {}},
        {true, TriggerAction::startSession, true, {"Conflicts with \u201cOn disconnect"}},
        {true, TriggerAction::nothing, false, {"Conflicts with \u201cEnable triggers"}},
        {true,
         TriggerAction::startSession,
         false,
         {"Conflicts with \u201cOn disconnect", "Conflicts with \u201cEnable triggers"}},
    };
    for (const auto& c : cases) {
        auto rule = floorRule("Phones", std::nullopt, c.onClear);
        if (!c.floor) {
            rule.btBattEnd.reset();
        }
        engine().setMasterEnabled(c.master);
        const auto messages = conflicts::btRuleMessages(engine(), rule);
        ASSERT_EQ(messages.size(), c.starts.size());
        for (std::size_t i = 0; i < messages.size(); ++i) {
            EXPECT_EQ(messages[i].rfind(c.starts[i], 0), 0u) << messages[i];
        }
    }
}

TEST_F(ConflictNotesTest, PowerNotesShowOnTheirSidesOnlyInSymmetricMode) {
    prefs().lowBattPct = 20;
    prefs().lowBattEnd = true;
    prefs().lpmEnd = true;
    prefs().deactivateOnBattery = true;
    symmetricUPS();
    const struct {
        PowerConflictSide side;
        std::vector<std::string> contains;
    } cases[] = {
        {PowerConflictSide::lowBatt, {"this floor wins \u2014 below 20% the session ends"}},
        {PowerConflictSide::onBattery, {"counts as external power"}},
        {PowerConflictSide::ups,
         {"\u201cEnd session when battery drops below 20%\u201d", "Power Saver turns on"}},
        {PowerConflictSide::lpm, {"Power Saver blocks UPS-started sessions"}},
        {PowerConflictSide::recover, {}},
    };
    for (const auto& c : cases) {
        const auto messages = powerMessages(prefs(), engine(), c.side);
        ASSERT_EQ(messages.size(), c.contains.size());
        for (std::size_t i = 0; i < messages.size(); ++i) {
            EXPECT_NE(messages[i].find(c.contains[i]), std::string::npos) << messages[i];
        }
    }
    prefs().upsInverted = true;
    for (const auto& c : cases) {
        EXPECT_TRUE(powerMessages(prefs(), engine(), c.side).empty());
    }
}

TEST_F(ConflictNotesTest, RecoveryNoteGoesAwayWhenAnythingEndsSessionsOnBattery) {
    prefs().battRecover = true;
    EXPECT_EQ(powerMessages(prefs(), engine(), PowerConflictSide::recover).size(), 1u);
    engine().add(floorRule("Disabled", std::nullopt, TriggerAction::endSession, false));
    EXPECT_EQ(powerMessages(prefs(), engine(), PowerConflictSide::recover).size(), 1u);
    auto rule = floorRule("Phones", std::nullopt, TriggerAction::endSession);
    rule.btBattEnd.reset();
    engine().add(rule);
    EXPECT_EQ(powerMessages(prefs(), engine(), PowerConflictSide::recover).size(), 1u);
    rule.btBattEnd = 15;
    engine().update(rule);
    EXPECT_TRUE(powerMessages(prefs(), engine(), PowerConflictSide::recover).empty());
    engine().deleteRule(rule);
    prefs().deactivateOnBattery = true;
    EXPECT_TRUE(powerMessages(prefs(), engine(), PowerConflictSide::recover).empty());
}

TEST_F(ConflictNotesTest, ReportWithNothingToSayIsThreeLines) {
    const auto lines = reportLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "  configured (0): none");
    EXPECT_EQ(lines[2], "  active now (0): none");
    EXPECT_EQ(services().conflictsReport().text(), lines[0] + "\n" + lines[1] + "\n" + lines[2]);
}

TEST_F(ConflictNotesTest, TheReportStartsTheDriveKeepAliveOnlyToCheckTheGlobalDiskFlag) {
    (void)services().conflictsReport().text();
    EXPECT_EQ(services().existing<DriveKeepAlive>(), nullptr) << "built without the flag";
    preventDiskSleep(true);
    (void)services().conflictsReport().text();
    EXPECT_NE(services().existing<DriveKeepAlive>(), nullptr) << "the flag asks for the drives";
}

TEST_F(ConflictNotesTest, ReportListsRuleLinesInRuleOrderAndKeepsDisabledFloorsOutOfRecovery) {
    prefs().battRecover = true;
    engine().setMasterEnabled(false);
    engine().add(floorRule("Rule two", std::nullopt, TriggerAction::startSession, false));
    auto configured = [this] {
        const auto lines = reportLines();
        return std::vector<std::string>(lines.begin() + 1, lines.end() - 1);
    };
    EXPECT_EQ(configured(),
              (std::vector<std::string>{
                  "  configured (3):",
                  "    \u2022 Battery recovery enabled with nothing that ends on battery",
                  "    \u2022 Rule two: disconnect-starts \u21c4 its own battery floor",
                  "    \u2022 Rule two: battery floor set while triggers are off"}));
    engine().add(floorRule("Rule one", std::string("Left Bud"), TriggerAction::startSession));
    EXPECT_EQ(configured(),
              (std::vector<std::string>{
                  "  configured (4):",
                  "    \u2022 Rule two: disconnect-starts \u21c4 its own battery floor",
                  "    \u2022 Rule two: battery floor set while triggers are off",
                  "    \u2022 Left Bud: disconnect-starts \u21c4 its own battery floor",
                  "    \u2022 Left Bud: battery floor set while triggers are off"}));
}

TEST_F(ConflictNotesTest, ReportMatchesTheGoldenSectionWithEveryConditionAndAPowerSimulation) {
    symmetricUPS();
    prefs().lowBattEnd = true;
    prefs().deactivateOnBattery = true;
    prefs().lpmEnd = true;
    prefs().hotKeyStyle = HotKeyStyle::monitor;
    blockKeyboard(true);
    engine().add(
        floorRule("Desk headset", std::string("Jabra Evolve"), TriggerAction::startSession));
    engine().setMasterEnabled(false);
    enableOneDrive();
    preventDiskSleep(true);
    services().powerCenter().simulate(PowerTriggerCenter::SimulationKind::upsTakeover);
    loop().drain();

    const std::string text = services().conflictsReport().text();
    std::ifstream golden(std::string(ORVEL_TEST_DATA) + "/settings/conflicts-section.txt");
    ASSERT_TRUE(golden.good());
    std::stringstream expected;
    expected << golden.rdbuf();
    std::string want = expected.str();
    while (!want.empty() && want.back() == '\n') {
        want.pop_back();
    }
    EXPECT_EQ(text, want);
    // 55 characters: 44 box-drawing ones of 3 bytes each and " CONFLICTS ".
    EXPECT_EQ(reportLines()[0].size(), 44u * 3u + 11u);
}

}  // namespace
}  // namespace orvel
