#include "menubar/StatusItemController.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "support/RecordingWindows.h"
#include "support/SessionTest.h"

namespace orvel {
namespace {

class StatusItemControllerTest : public test::SessionTest {
  protected:
    ui::HeadlessStatusItem& item() {
        return static_cast<ui::HeadlessStatusItem&>(statusItem().item());
    }
    ui::HeadlessPopover& popover() {
        return static_cast<ui::HeadlessPopover&>(statusItem().popover());
    }
    std::vector<std::string> actionNames() {
        std::vector<std::string> names;
        for (const auto& action : item().look().accessibilityActions) {
            names.push_back(action.name);
        }
        return names;
    }
};

TEST_F(StatusItemControllerTest, LooksFollowTheSession) {
    // The tool tip names the caffeinate that runs, Orvel's own, not the one at the usual path.
    prefs().engine = EngineKind::caffeinate;
    sim().processes().setStandIn(kCaffeinatePath, "/opt/orvel/libexec/caffeinate");
    sim().processes().setExecutable("/opt/orvel/libexec/caffeinate", true);
    const auto& look = item().look();
    EXPECT_EQ(look.symbol, "cup.and.saucer");
    EXPECT_EQ(look.symbolDescription, "Orvel");
    EXPECT_DOUBLE_EQ(look.symbolPointSize, 15);
    EXPECT_EQ(look.title, "");
    EXPECT_EQ(look.toolTip, "Orvel \u2014 sleep allowed");
    EXPECT_EQ(look.accessibilityLabel, "Orvel");
    EXPECT_EQ(look.accessibilityValue, "Inactive");
    EXPECT_FALSE(look.tint);
    EXPECT_TRUE(look.templateImage);
    EXPECT_TRUE(look.font.monospacedDigits);
    EXPECT_DOUBLE_EQ(look.font.size, 11);

    controller().start();
    loop().drain();
    EXPECT_EQ(item().look().symbol, "cup.and.saucer.fill");
    EXPECT_EQ(item().look().title, " \u221E");
    EXPECT_EQ(item().look().toolTip, "/opt/orvel/libexec/caffeinate");
    EXPECT_EQ(item().look().accessibilityValue, "Active");
    controller().stop(true);

    controller().startForSeconds(5399);
    loop().drain();
    EXPECT_EQ(item().look().title, " 1:29:59");
    EXPECT_EQ(item().look().toolTip, "/opt/orvel/libexec/caffeinate -t 5399");
    loop().advance(1);
    EXPECT_EQ(item().look().title, " 1:29:58") << "every tick redraws";
    EXPECT_EQ(item().look().toolTip, "/opt/orvel/libexec/caffeinate -t 5398");
    controller().stop(true);

    controller().startForSeconds(3599);
    loop().drain();
    EXPECT_EQ(item().look().title, " 59:59");
    prefs().showTimer = false;
    loop().drain();
    EXPECT_EQ(item().look().title, "") << "a setting's change redraws too";
}

TEST_F(StatusItemControllerTest, AnItemThatAsksForItsToolTipGetsTheTimeLeftAsItShowsAndNoTicks) {
    item().setAsksForToolTip(true);
    statusItem().refresh();
    controller().startForSeconds(5399);
    loop().drain();
    EXPECT_EQ(item().look().title, " 1:29:59");
    EXPECT_FALSE(controller().hasTicker()) << "nothing ticks while nobody looks";
    const int drawn = item().lookChanges();
    loop().advance(61);
    EXPECT_EQ(item().lookChanges(), drawn);

    item().hover();
    EXPECT_EQ(item().look().title, " 1:28:58") << "the time left as the tool tip shows";
    EXPECT_FALSE(controller().hasTicker()) << "and the glance ends with it";
    loop().advance(2);
    item().hover();
    EXPECT_EQ(item().look().title, " 1:28:56");

    // An item that shows the title beside its symbol needs it redrawn as it changes.
    item().setAsksForToolTip(false);
    statusItem().refresh();
    EXPECT_TRUE(controller().hasTicker());
    loop().advance(1);
    EXPECT_EQ(item().look().title, " 1:28:55");
}

TEST_F(StatusItemControllerTest, ATrayThatDrawsNoTitleGetsTheTimeLeftToTheMinuteOnceAMinute) {
    item().setShowsTitle(false);
    statusItem().refresh();
    controller().startForSeconds(5399);
    loop().drain();
    EXPECT_EQ(item().look().title, " 1:29:59") << "the title itself stays as it is";
    EXPECT_EQ(item().look().coarseTitle, " 1 h 30 min");
    const int drawn = item().lookChanges();
    loop().advance(58);
    EXPECT_EQ(item().lookChanges(), drawn) << "nothing is redrawn within the minute";
    loop().advance(1);
    loop().drain();
    EXPECT_EQ(item().look().coarseTitle, " 1 h 29 min") << "at 1:29:00 left";
    EXPECT_EQ(item().lookChanges(), drawn + 1);
    loop().advance(60 * 29);
    loop().drain();
    EXPECT_EQ(item().look().coarseTitle, " 1 h");
    loop().advance(60);
    loop().drain();
    EXPECT_EQ(item().look().coarseTitle, " 59 min");
    EXPECT_EQ(item().lookChanges(), drawn + 31) << "once a minute";
    // The deadline's own check falls on the same moments: one wake-up a minute in all.
    int wakes = 0;
    for (double waited = 0; waited < 600; ++wakes) {
        const std::optional<double> next = loop().nextTimerIn();
        ASSERT_TRUE(next);
        loop().advance(*next);
        waited += *next;
    }
    EXPECT_EQ(wakes, 10);

    // A tray that draws the title beside the symbol ticks each second again.
    item().setShowsTitle(true);
    statusItem().refresh();
    loop().advance(1);
    loop().drain();
    EXPECT_EQ(item().look().title, " 48:59");
    controller().stop(true);
    loop().drain();
    EXPECT_EQ(item().look().coarseTitle, "");

    struct Left {
        std::int64_t seconds;
        const char* text;
    };
    for (const Left& l : {Left{1, "1 min"}, Left{60, "1 min"}, Left{61, "2 min"}, Left{3600, "1 h"},
                          Left{3601, "1 h 1 min"}, Left{0, "0 min"}}) {
        EXPECT_EQ(StatusItemController::minutesLeftText(l.seconds), l.text) << l.seconds;
    }
}

TEST_F(StatusItemControllerTest, WhileLocksHoldWithoutAProgramTheToolTipNamesNone) {
    SleepOptions display;
    display.preventDisplaySleep = true;
    controller().options = display;
    struct Case {
        const char* name;
        EngineKind engine;
        bool caffeinateLaunches;
    };
    const Case cases[] = {
        {"the lock engine", EngineKind::assertions, true},
        {"caffeinate fell back to locks", EngineKind::caffeinate, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prefs().engine = c.engine;
        if (!c.caffeinateLaunches) {
            sim().processes().failNextLaunch("Resource temporarily unavailable");
        }
        controller().startForSeconds(600);
        loop().drain();
        ASSERT_TRUE(controller().isActive());
        EXPECT_TRUE(sim().processes().runningChildren().empty());
        EXPECT_EQ(item().look().toolTip,
                  "Orvel \u2014 display sleep prevented (logind inhibitor locks)");
        controller().stop(true);
    }
}

TEST_F(StatusItemControllerTest, ChangesRedrawOnceOnTheNextLoopTurn) {
    loop().drain();
    const auto before = statusItem().refreshCount();
    controller().startForSeconds(600);
    controller().stop(true);
    controller().startFromTrigger("Office WiFi", UUID::random(), 60);
    EXPECT_EQ(statusItem().refreshCount(), before) << "nothing drawn within the turn";
    EXPECT_EQ(item().look().symbol, "cup.and.saucer");
    loop().drain();
    EXPECT_EQ(statusItem().refreshCount(), before + 1);
    EXPECT_EQ(item().look().title, " 01:00");
    EXPECT_EQ(item().look().accessibilityValue, "Active \u2014 started by Office WiFi");
    loop().drain();
    EXPECT_EQ(statusItem().refreshCount(), before + 1) << "no change, no redraw";
}

TEST_F(StatusItemControllerTest, ARulesSessionIsTintedAndNamed) {
    controller().startFromTrigger("Office WiFi", UUID::random(), 0);
    loop().drain();
    // Written out rather than read from the controller, so that a changed colour fails here;
    // each channel may differ by half an 8-bit step.
    const std::optional<ui::RGBA> tint = item().look().tint;
    ASSERT_TRUE(tint);
    const double step = 0.5 / 255;
    EXPECT_NEAR(tint->r, 0.69, step);
    EXPECT_NEAR(tint->g, 0.486, step);
    EXPECT_NEAR(tint->b, 0.31, step);
    EXPECT_NEAR(tint->a, 1.0, step);
    EXPECT_EQ(item().look().accessibilityValue, "Active \u2014 started by Office WiFi");
    controller().stop(true);
    loop().drain();
    EXPECT_FALSE(item().look().tint);
}

TEST_F(StatusItemControllerTest, ClicksFollowTheSwapSetting) {
    using Click = ui::StatusItemClick;
    struct Case {
        bool swap;
        std::optional<Click> click;
        bool toggles;
    };
    const Case cases[] = {
        {false, Click{false, 0}, true},
        {false, Click{true, 0}, false},
        {false, Click{false, ui::kModifierControl}, false},
        {false, std::nullopt, true},  // an action sent by program counts as primary
        {true, Click{false, 0}, false},
        {true, Click{true, 0}, true},
        {true, Click{false, ui::kModifierControl}, true},
        {true, std::nullopt, false},
    };
    for (const auto& c : cases) {
        prefs().swapMenuButtons = c.swap;
        loop().drain();
        // A tray shows an item's menu on the right button rather than sending the click.
        EXPECT_EQ(item().menu().empty(), c.swap) << "swap " << c.swap;
        popover().close();
        controller().stop(true);
        item().click(c.click);
        EXPECT_EQ(controller().isActive(), c.toggles) << "swap " << c.swap;
        EXPECT_EQ(popover().isShown(), !c.toggles) << "swap " << c.swap;
    }
    prefs().swapMenuButtons = false;
    popover().close();
    item().click(Click{true, 0});
    EXPECT_TRUE(popover().isShown());
    item().click(Click{true, 0});
    EXPECT_FALSE(popover().isShown()) << "a second secondary click closes the panel";
}

TEST_F(StatusItemControllerTest, AccessibilityActionsPutThePlainClickFirst) {
    EXPECT_EQ(actionNames(), (std::vector<std::string>{"Toggle Orvel", "Open Menu"}));
    prefs().swapMenuButtons = true;
    EXPECT_EQ(actionNames(), (std::vector<std::string>{"Toggle Orvel", "Open Menu"}))
        << "reordered only at the next refresh";
    statusItem().refresh();
    EXPECT_EQ(actionNames(), (std::vector<std::string>{"Open Menu", "Toggle Orvel"}));
    EXPECT_TRUE(item().look().accessibilityActions[1].handler());
    EXPECT_TRUE(controller().isActive());
}

TEST_F(StatusItemControllerTest, ThePanelIsBuiltOnceAndMadeKeyOnTheNextTurn) {
    statusItem().showPopover();
    EXPECT_EQ(popover().madeKeyCount(), 0);
    loop().drain();
    EXPECT_EQ(popover().madeKeyCount(), 1);
    popover().close();
    statusItem().showPopover();
    EXPECT_EQ(popover().contentInstallCount(), 1);
    EXPECT_TRUE(popover().isTransient());
    EXPECT_EQ(popover().contentSize().width, 320);
    EXPECT_EQ(popover().contentSize().height, 520);
    EXPECT_TRUE(popover().inspect().contains("Keep Awake"));
}

TEST_F(StatusItemControllerTest, WithoutAButtonNothingIsDrawnOrShown) {
    item().setHasButton(false);
    const int changes = item().lookChanges();
    statusItem().refresh();
    statusItem().showPopover();
    EXPECT_EQ(item().lookChanges(), changes);
    EXPECT_FALSE(popover().isShown());
}

TEST_F(StatusItemControllerTest, ThePanelsSwitchStartsAndStopsTheSession) {
    statusItem().showPopover();
    ui::Inspector panel = popover().inspect();
    ASSERT_TRUE(panel.setToggle("Keep Awake", true)) << panel.lastFailure();
    EXPECT_TRUE(controller().isActive());
    loop().drain();
    EXPECT_TRUE(popover().inspect().contains("Idle sleep prevented"));
    ASSERT_TRUE(popover().inspect().setToggle("Keep Awake", false));
    EXPECT_FALSE(controller().isActive());
}

TEST_F(StatusItemControllerTest, ThePanelClosesBeforeThePermissionExplanationShows) {
    statusItem().showPopover();
    std::optional<bool> panelShownAtAlert;
    host().scriptAlert([&](ui::HeadlessAlert&) -> std::optional<int> {
        panelShownAtAlert = popover().isShown();
        return ui::kAlertSecondButtonReturn;
    });
    ASSERT_TRUE(popover().inspect().setToggle("Disable Built-In Keyboard", true));
    loop().drain();
    ASSERT_EQ(host().alerts().size(), 1u);
    EXPECT_EQ(host().alerts()[0]->content().messageText, "Orvel needs two permissions for this");
    ASSERT_TRUE(panelShownAtAlert);
    EXPECT_FALSE(*panelShownAtAlert) << "the panel must be gone when the alert shows";
    EXPECT_FALSE(popover().isShown());
}

TEST_F(StatusItemControllerTest, TheMenuSaysWhatEachEntryDoesAndDoesIt) {
    test::RecordingWindows windows;
    AppWindows::current() = &windows;
    // The state in words: the session, the toggle's title, the panel, the windows asked for.
    auto state = [&] {
        std::string text = controller().isActive() ? "on" : "off";
        for (const auto& entry : item().menu()) {
            if (entry.id == StatusItemController::kMenuToggle) {
                text += ", " + entry.title;
            }
        }
        text += popover().isShown() ? ", panel" : "";
        for (const auto& call : windows.calls) {
            text += ", " + call;
        }
        return text + (host().application().terminated() ? ", quit" : "");
    };
    std::vector<std::string> titles;
    for (const auto& entry : item().menu()) {
        titles.push_back(entry.separator ? "-" : entry.title);
    }
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Open Orvel\u2026", "Turn Orvel On", "-", "Settings\u2026",
                                        "Help\u2026", "-", "Quit Orvel"}));
    struct Case {
        int entry;
        std::string after;
    };
    const std::vector<Case> cases = {
        {StatusItemController::kMenuToggle, "on, Turn Orvel Off"},
        {StatusItemController::kMenuToggle, "off, Turn Orvel On"},
        {StatusItemController::kMenuOpen, "off, Turn Orvel On, panel"},
        {StatusItemController::kMenuOpen, "off, Turn Orvel On, panel"},  // stays open
        {StatusItemController::kMenuSettings, "off, Turn Orvel On, panel, settings"},
        {StatusItemController::kMenuHelp, "off, Turn Orvel On, panel, settings, help"},
        {StatusItemController::kMenuQuit, "off, Turn Orvel On, panel, settings, help, quit"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(item().chooseMenuEntry(c.entry)) << c.entry;
        loop().drain();
        EXPECT_EQ(state(), c.after) << c.entry;
    }
    EXPECT_FALSE(item().chooseMenuEntry(StatusItemController::kMenuQuitSeparator)) << "a separator";

    // A session started elsewhere retitles the entry on the next turn.
    controller().startForSeconds(600);
    loop().drain();
    EXPECT_EQ(state(), "on, Turn Orvel Off, panel, settings, help, quit");
    AppWindows::current() = nullptr;
}

}  // namespace
}  // namespace orvel
