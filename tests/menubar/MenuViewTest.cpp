#include "menubar/MenuView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "devices/BuiltInDisplay.h"
#include "devices/DeviceState.h"
#include "devices/InputBlocker.h"
#include "devices/PermissionPrimer.h"
#include "foundation/Calendar.h"
#include "menubar/AppWindows.h"
#include "menubar/SystemA11y.h"
#include "support/Catalogues.h"
#include "support/RecordingWindows.h"
#include "support/SessionTest.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"

namespace orvel {
namespace {

using ui::Inspector;
using ui::Node;
using ui::NodeKind;

using test::RecordingWindows;

// Pins the process's time zone for one case and puts UTC back afterwards.
class TimeZone {
  public:
    explicit TimeZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

// The first node, depth first, for which `match` holds.
const Node* findNode(const Node& node, const std::function<bool(const Node&)>& match) {
    if (match(node)) {
        return &node;
    }
    for (const auto& child : node.children) {
        if (const Node* found = findNode(child.node(), match)) {
            return found;
        }
    }
    return nullptr;
}

class MenuViewTest : public test::SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        AppWindows::current() = &windows;
        sim().powerSources().setOnAC(true);
    }
    void TearDown() override {
        AppWindows::current() = nullptr;
        SessionTest::TearDown();
    }

    ui::HeadlessPopover& popover() {
        return static_cast<ui::HeadlessPopover&>(statusItem().popover());
    }
    // The panel as shown after everything pending has run.
    Inspector panel() {
        if (!popover().isShown()) {
            statusItem().showPopover();
        }
        loop().drain();
        return popover().inspect();
    }
    // The panel's own view, as the status item built it.
    MenuView& menuView() {
        panel();
        return static_cast<MenuView&>(*popover().viewHost()->root());
    }
    const Node& root() {
        panel();
        return popover().viewHost()->tree().node();
    }
    const Node* node(const std::function<bool(const Node&)>& match) {
        return findNode(root(), match);
    }
    const Node& textNode(std::string_view text) {
        auto found = panel().find(text);
        EXPECT_TRUE(found) << "no text \"" << text << "\"";
        static const Node empty;
        return found ? *found->node : empty;
    }
    int dividers() {
        int count = 0;
        std::function<void(const Node&)> walk = [&](const Node& n) {
            count += n.kind == NodeKind::divider ? 1 : 0;
            for (const auto& child : n.children) {
                walk(child.node());
            }
        };
        walk(root());
        return count;
    }
    bool shown(std::string_view text) { return panel().contains(text); }
    std::vector<std::string> texts() { return panel().texts(); }
    // The index of a shown text, or -1.
    int indexOf(std::string_view text) {
        const auto all = texts();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i] == text) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    void setTextFactor(double menuScale, double bodySize) {
        prefs().menuScale = menuScale;
        sim().accessibilityDisplay().setBodyFontSize(bodySize);
        services().systemA11y().refresh();
    }
    TriggerRule rule(const std::string& name) {
        TriggerRule r;
        r.name = name;
        return r;
    }
    int created(const std::string& type) {
        int count = 0;
        for (const auto& e :
             sim().powerAssertions().events(SimPowerAssertions::EventKind::Created)) {
            count += e.type == type ? 1 : 0;
        }
        return count;
    }

    RecordingWindows windows;
};

// Frame, scale and background -------------------------------------------------------------------

TEST_F(MenuViewTest, ScaleAndWidthFollowTheMenuScaleTimesTheTextSizeWithinLimits) {
    struct Case {
        double menuScale, bodySize;  // product: menuScale × bodySize / 13
        double scale, width;
    };
    const Case cases[] = {
        {1.0, 13.0, 1.0, 320},  // the defaults
        {0.5, 10.4, 0.5, 160},  // 0.4 is raised to 0.5
        {1.0, 20.8, 1.6, 480},  // 512 would be wider than 480
        {1.5, 26.0, 2.0, 480},  // 3.0 is lowered to 2.0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.menuScale * c.bodySize / 13.0);
        setTextFactor(c.menuScale, c.bodySize);
        EXPECT_NEAR(menuView().scale(), c.scale, 1e-9);
        const Node* fixed =
            node([](const Node& n) { return n.kind == NodeKind::frame && n.frameValue.width; });
        ASSERT_NE(fixed, nullptr);
        EXPECT_NEAR(*fixed->frameValue.width, c.width, 1e-9);
        EXPECT_NEAR(textNode("DURATION").font->size, 10 * c.scale, 1e-9) << "fonts are scaled";
        EXPECT_NEAR(textNode("Prevent Idle Sleep").font->size, 13 * c.scale, 1e-9);
    }
}

TEST_F(MenuViewTest, ThePopoverTakesThePanelsWidthEachTimeItIsShown) {
    statusItem().showPopover();
    EXPECT_EQ(popover().contentSize().width, 320);
    popover().close();
    prefs().menuScale = 1.5;
    statusItem().showPopover();
    EXPECT_EQ(popover().contentSize().width, 480);
}

TEST_F(MenuViewTest, PausingAndResumingTriggersRedrawsTheStatusItemOnTheNextTurn) {
    loop().drain();
    const auto before = statusItem().refreshCount();
    services().triggerEngine().pause(3600.0);
    EXPECT_EQ(statusItem().refreshCount(), before);
    loop().drain();
    EXPECT_EQ(statusItem().refreshCount(), before + 1);
    services().triggerEngine().resume();
    loop().drain();
    EXPECT_EQ(statusItem().refreshCount(), before + 2);
}

TEST_F(MenuViewTest, MaximumHeightIsTheScreensVisibleHeightLessFortyOr760WithoutAScreen) {
    const Node* limit = nullptr;
    auto maxHeight = [&] {
        limit =
            node([](const Node& n) { return n.kind == NodeKind::frame && n.frameValue.maxHeight; });
        return limit ? *limit->frameValue.maxHeight : -1.0;
    };
    host().setMainScreenVisibleFrame(std::nullopt);
    EXPECT_EQ(maxHeight(), 760);
    host().setMainScreenVisibleFrame(ui::Rect{0, 0, 1440, 900});
    prefs().menuBold = false;  // any change re-evaluates the panel
    EXPECT_EQ(maxHeight(), 860);
    EXPECT_TRUE(
        node([](const Node& n) { return n.kind == NodeKind::scroll && n.showsIndicators; }));
}

TEST_F(MenuViewTest, BackgroundIsOpaqueWhenAskedForOrWhenTransparencyIsReduced) {
    struct Case {
        bool menuOpaque, reduceTransparency, opaque;
    };
    const Case cases[] = {
        {false, false, false}, {true, false, true}, {false, true, true}, {true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.menuOpaque << c.reduceTransparency);
        prefs().menuOpaque = c.menuOpaque;
        sim().accessibilityDisplay().setReduceTransparency(c.reduceTransparency);
        loop().drain();
        const Node* back = node([](const Node& n) { return n.kind == NodeKind::background; });
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(back->backgroundValue.ignoresSafeArea);
        EXPECT_EQ(std::get<ui::Color>(back->backgroundValue.fill),
                  c.opaque ? ui::Color::windowBackground() : ui::Color::clear());
    }
}

TEST_F(MenuViewTest, BoldImposesTheWeightOnTheWholePanelOnlyWhenChosen) {
    auto imposed = [&] { return node([](const Node& n) { return n.fontWeight.has_value(); }); };
    EXPECT_EQ(imposed(), nullptr);
    prefs().menuBold = true;
    ASSERT_NE(imposed(), nullptr);
    EXPECT_EQ(*imposed()->fontWeight, ui::FontWeight::bold);
}

TEST_F(MenuViewTest, HeadingsAreSecondaryWithIncreasedContrastAndTertiaryOtherwise) {
    for (bool contrast : {false, true, false}) {
        sim().accessibilityDisplay().setIncreaseContrast(contrast);
        loop().drain();
        for (const char* heading : {"DURATION", "SLEEP", "BUILT-IN DEVICES"}) {
            const Node& h = textNode(heading);
            EXPECT_EQ(h.foreground, ui::ForegroundStyle(contrast ? ui::Hierarchy::secondary
                                                                 : ui::Hierarchy::tertiary))
                << heading;
            EXPECT_EQ(h.font->weight, ui::FontWeight::semibold);
        }
    }
}

TEST_F(MenuViewTest, SectionsStandInOrder) {
    controller().start();
    const int header = indexOf("Awake indefinitely");
    const int duration = indexOf("DURATION");
    const int sleep = indexOf("SLEEP");
    const int devices = indexOf("BUILT-IN DEVICES");
    const int command = indexOf("EQUIVALENT COMMAND");
    const int settings = indexOf("Settings\u2026");
    const int quit = indexOf("Quit Orvel");
    EXPECT_EQ(header, 0);
    EXPECT_LT(header, duration);
    EXPECT_LT(duration, indexOf("Indefinitely"));
    EXPECT_LT(indexOf("Until an app quits\u2026"), sleep);
    EXPECT_LT(sleep, indexOf("Prevent Display Sleep"));
    EXPECT_LT(indexOf("Declare User Active"), devices);
    EXPECT_LT(devices, indexOf("Disable Screen Saver"));
    EXPECT_LT(indexOf("Sleep all displays now"), command);
    EXPECT_LT(command, settings);
    EXPECT_LT(settings, indexOf("Help\u2026"));
    EXPECT_LT(indexOf("Help\u2026"), indexOf("About Orvel"));
    EXPECT_LT(indexOf("About Orvel"), quit);
}

// Triggers --------------------------------------------------------------------------------------

TEST_F(MenuViewTest, TriggersSectionHasThreeForms) {
    struct Case {
        const char* name;
        bool rules;
        bool paused;
        bool heading, resume, pauseMenu;
    };
    const Case cases[] = {
        {"no rules, not paused", false, false, false, false, false},
        {"rules, not paused", true, false, true, false, true},
        {"rules, paused", true, true, true, true, false},
        {"no rules, paused", false, true, true, true, false},
    };
    TriggerEngine& engine = services().triggerEngine();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine.resume();
        engine.rules =
            c.rules ? std::vector<TriggerRule>{rule("Office")} : std::vector<TriggerRule>{};
        if (c.paused) {
            engine.pause(std::nullopt);
        }
        Inspector p = panel();
        EXPECT_EQ(p.contains("TRIGGERS"), c.heading);
        EXPECT_EQ(p.control("Resume Triggers").has_value(), c.resume);
        EXPECT_EQ(p.control("Pause Triggers").has_value(), c.pauseMenu);
        // Without the section, one divider stands between the durations and SLEEP.
        EXPECT_EQ(dividers(), c.heading ? 5 : 4);
    }
    engine.rules = std::vector<TriggerRule>{rule("Office")};
    engine.resume();
    const Node* menu = node([](const Node& n) { return n.kind == NodeKind::menu; });
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->menuIndicatorHidden);
    EXPECT_EQ(menu->font->size, 13);
}

TEST_F(MenuViewTest, PauseItemsPauseForTheirLengths) {
    TriggerEngine& engine = services().triggerEngine();
    engine.rules = std::vector<TriggerRule>{rule("Office")};
    const TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    struct Case {
        const char* item;
        const char* localTime;  // when clicked, "YYYY-MM-DD HH:MM:SS"
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"Until Tomorrow", "2026-06-10 07:59:30", 86430.0},
        {"For 1 Hour", "2026-06-10 12:00:00", 3600.0},
        {"Until Tomorrow", "2026-06-10 23:59:30", 28830.0},
        {"Until Re-enabled", "2026-06-11 12:00:00", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.item) + " at " + c.localTime);
        engine.resume();
        std::tm parts{};
        ASSERT_NE(strptime(c.localTime, "%Y-%m-%d %H:%M:%S", &parts), nullptr);
        parts.tm_isdst = -1;
        const Date at = Date::fromUnix(static_cast<double>(std::mktime(&parts)));
        loop().sleepMachine(at.timeIntervalSince(loop().now()));
        Inspector p = panel();
        ASSERT_TRUE(p.chooseMenuItem("Pause Triggers", c.item)) << p.lastFailure();
        ASSERT_TRUE(engine.pausedUntil());
        if (c.seconds) {
            EXPECT_NEAR(engine.pausedUntil()->timeIntervalSince(at), *c.seconds, 1e-6);
        } else {
            EXPECT_TRUE(engine.pausedUntil()->isDistantFuture());
        }
        EXPECT_TRUE(panel().control("Resume Triggers").has_value());
    }
    Inspector p = panel();
    ASSERT_TRUE(p.click("Resume Triggers")) << p.lastFailure();
    EXPECT_FALSE(engine.isPaused());
    EXPECT_TRUE(panel().control("Pause Triggers").has_value());
}

TEST_F(MenuViewTest, UntilTomorrowIsTomorrowsStartPlusEightHoursAcrossDaylightSaving) {
    const TimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    struct Case {
        const char* localTime;
        double seconds;
    };
    // Tomorrow's start plus eight hours: after the clocks go forward that is 09:00 local time,
    // after they go back 07:00; never less than eight hours away.
    const Case cases[] = {{"2026-03-28 22:00:00", 10 * 3600.0},
                          {"2026-10-24 22:00:00", 10 * 3600.0},
                          {"2026-10-25 23:00:00", 9 * 3600.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.localTime);
        std::tm parts{};
        ASSERT_NE(strptime(c.localTime, "%Y-%m-%d %H:%M:%S", &parts), nullptr);
        parts.tm_isdst = -1;
        const Date at = Date::fromUnix(static_cast<double>(std::mktime(&parts)));
        loop().sleepMachine(at.timeIntervalSince(loop().now()));
        EXPECT_NEAR(MenuView::secondsUntilTomorrowMorning(), c.seconds, 1e-6);
    }
}

TEST_F(MenuViewTest, ATimedPauseRunningOutShowsThePauseMenuAgain) {
    TriggerEngine& engine = services().triggerEngine();
    engine.rules = std::vector<TriggerRule>{rule("Office")};
    Inspector p = panel();
    ASSERT_TRUE(p.chooseMenuItem("Pause Triggers", "For 1 Hour")) << p.lastFailure();
    EXPECT_TRUE(panel().control("Resume Triggers").has_value());
    loop().advance(3599);
    EXPECT_TRUE(panel().control("Resume Triggers").has_value());
    loop().advance(1);
    EXPECT_FALSE(engine.isPaused());
    EXPECT_TRUE(panel().control("Pause Triggers").has_value());
    EXPECT_FALSE(panel().control("Resume Triggers").has_value());
}

// Sleep switches --------------------------------------------------------------------------------

TEST_F(MenuViewTest, SystemSleepRowIsDimmedAndDisabledOnBatteryAndKeepsTheStoredChoice) {
    SleepOptions options = controller().options();
    options.preventSystemSleep = true;
    controller().options = options;
    struct Case {
        bool onAC;
        const char* caption;
        double opacity;
    };
    const Case cases[] = {{false, "Ignored \u2014 running on battery", 0.45},
                          {true, "Only while on power", 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption);
        sim().powerSources().setOnAC(c.onAC);
        loop().advance(5);  // the power tick reads the source
        Inspector p = panel();
        ASSERT_TRUE(p.contains(c.caption));
        auto row = p.control("Prevent System Sleep");
        ASSERT_TRUE(row);
        EXPECT_EQ(p.isEnabled(*row), c.onAC);
        EXPECT_DOUBLE_EQ(p.opacity(*row), c.opacity);
        EXPECT_EQ(row->node->accessibilityHint, std::optional<std::string>(c.caption));
        EXPECT_EQ(p.toggleValue("Prevent System Sleep"), true) << "the stored choice is kept";
        EXPECT_EQ(p.setToggle("Prevent System Sleep", false), c.onAC);
        if (c.onAC) {
            EXPECT_FALSE(controller().options().preventSystemSleep);
        } else {
            EXPECT_TRUE(controller().options().preventSystemSleep);
        }
    }
    for (const char* other : {"Prevent Display Sleep", "Prevent Idle Sleep", "Prevent Disk Sleep",
                              "Declare User Active"}) {
        Inspector p = panel();
        EXPECT_TRUE(p.isEnabled(*p.control(other))) << other;
    }
}

TEST_F(MenuViewTest, WhatTheDesktopCannotHoldOfTheDisplayIsToldUnderBothRowsWhetherOnOrOff) {
    const std::string words = "Cannot be held here: no screen-saver inhibit on this desktop.";
    // Whether the note is the first text after a row's caption, its flag and its switch.
    const auto noteAfter = [&](const std::string& caption) {
        const auto all = texts();
        auto it = std::find(all.begin(), all.end(), caption);
        while (it != all.end() && (*it == caption || it->empty() || it->starts_with("-"))) {
            ++it;
        }
        return it != all.end() && *it == words;
    };
    EXPECT_FALSE(shown(words));
    sim().powerAssertions().setShortfall("PreventUserIdleDisplaySleep", words);
    controller().start();
    EXPECT_TRUE(noteAfter("Screen stays on")) << "before either switch is flipped";
    EXPECT_TRUE(noteAfter("Stops it starting while Orvel runs"));
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on ? "switched on" : "switched off");
        ASSERT_TRUE(panel().setToggle("Prevent Display Sleep", on));
        ASSERT_TRUE(panel().setToggle("Disable Screen Saver", on));
        EXPECT_TRUE(noteAfter("Screen stays on"));
        EXPECT_TRUE(noteAfter("Stops it starting while Orvel runs"));
        EXPECT_TRUE(controller().isActive());
    }
    sim().powerAssertions().setShortfall("PreventUserIdleDisplaySleep", std::nullopt);
    EXPECT_FALSE(shown(words)) << "gone once the desktop offers it";
}

TEST_F(MenuViewTest, ASleepSwitchSavesAndRestartsARunningSessionOnce) {
    int published = 0;
    auto counting = controller().options.subscribe([&](const SleepOptions&) { ++published; });
    ASSERT_TRUE(panel().setToggle("Prevent Display Sleep", true));
    EXPECT_EQ(published, 1) << "one published change of the whole options";
    EXPECT_TRUE(controller().options().preventDisplaySleep);
    EXPECT_FALSE(controller().isActive()) << "idle: nothing starts";
    EXPECT_TRUE(sim().powerAssertions().held().empty());
    const auto saved = prefs().loadSession();
    ASSERT_TRUE(saved);
    EXPECT_TRUE(saved->options.preventDisplaySleep) << "the choice is saved";

    ASSERT_TRUE(panel().setToggle("Prevent Display Sleep", false));
    controller().start();
    loop().drain();
    sim().powerAssertions().clearHistory();
    published = 0;
    ASSERT_TRUE(panel().setToggle("Prevent Display Sleep", true));
    EXPECT_EQ(published, 1);
    EXPECT_EQ(created("PreventUserIdleDisplaySleep"), 1) << "one restart with the new options";
    EXPECT_EQ(sim().powerAssertions().events(SimPowerAssertions::EventKind::Released).size(), 1U)
        << "the idle hold of the first start goes";
    EXPECT_EQ(held(), std::vector<std::string>{"PreventUserIdleDisplaySleep"});
    EXPECT_TRUE(controller().isActive());
}

// Durations -------------------------------------------------------------------------------------

TEST_F(MenuViewTest, DurationFlagsShowTheCaffeinateOption) {
    struct Case {
        DurationPreset preset;
        std::int64_t customSeconds;
        const char* flag;
    };
    const Case cases[] = {
        {DurationPreset::indefinite, 5400, "\u2014"},
        {DurationPreset::m15, 5400, "-t 900"},
        {DurationPreset::h5, 5400, "-t 18000"},
        {DurationPreset::custom, 5400, "-t 5400"},
        {DurationPreset::custom, 0, "-t n"},
        {DurationPreset::custom, -1, "-t n"},
        {DurationPreset::untilAppQuits, 5400, "-w pid"},
    };
    for (const auto& c : cases) {
        prefs().customSeconds = c.customSeconds;
        EXPECT_EQ(menuView().durationFlag(c.preset), c.flag);
    }
    prefs().customSeconds = 0;
    EXPECT_TRUE(shown("-t n")) << "the custom row follows the setting at once";
}

TEST_F(MenuViewTest, ExactlyOneRowIsTickedAndChoosingATimedRowSelectsIt) {
    auto ticks = [&] {
        std::vector<std::string> ticked;
        Inspector p = panel();
        for (const auto& entry : EnumTraits<DurationPreset>::cases) {
            auto row = p.control(label(entry.value));
            EXPECT_TRUE(row) << entry.raw;
            const Node* mark =
                findNode(*row->node, [](const Node& n) { return n.kind == NodeKind::image; });
            const bool tick = mark != nullptr && mark->opacity == 1.0;
            if (tick) {
                ticked.emplace_back(entry.raw);
            }
            // A reader hears the duration alone, as a radio item checked where the tick is.
            EXPECT_EQ(accessibilityLabelOf(*row->node), label(entry.value)) << entry.raw;
            EXPECT_EQ(row->node->accessibilityChosen, std::optional<bool>(tick)) << entry.raw;
        }
        return ticked;
    };
    EXPECT_EQ(ticks(), std::vector<std::string>{"indefinite"});
    ASSERT_TRUE(panel().click("2 hours"));
    EXPECT_EQ(controller().preset(), DurationPreset::h2);
    EXPECT_EQ(ticks(), std::vector<std::string>{"h2"});
    EXPECT_FALSE(controller().isActive()) << "only selects and saves";
    ASSERT_TRUE(panel().click("Custom\u2026"));
    ASSERT_TRUE(panel().click("Until an app quits\u2026"));
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"custom", "chooseApp"}));
    EXPECT_EQ(ticks(), std::vector<std::string>{"h2"}) << "the tick waits for the window";

    AppWindows::current() = nullptr;
    ASSERT_TRUE(panel().click("Custom\u2026"));
    EXPECT_EQ(windows.calls.size(), 2U) << "nothing without the application";
}

TEST_F(MenuViewTest, ChoosingTheTickedTimedRowAgainRestartsTheCountdown) {
    ASSERT_TRUE(panel().click("15 minutes"));
    controller().start();
    loop().advance(300);
    EXPECT_EQ(controller().secondsRemaining(), 600);
    ASSERT_TRUE(panel().click("15 minutes"));
    loop().drain();
    EXPECT_EQ(controller().secondsRemaining(), 900);
    EXPECT_TRUE(shown("-t 900")) << "the row's own flag";
}

TEST_F(MenuViewTest, ThePanelShowsTheTimeLeftTheMomentItOpensAndTicksOnlyWhileOpen) {
    prefs().showTimer = false;
    controller().startForSeconds(900);
    loop().advance(100);
    EXPECT_FALSE(controller().hasTicker()) << "closed, nothing shows the time";
    EXPECT_TRUE(shown("Awake for 13:20"));
    loop().advance(1);
    EXPECT_TRUE(shown("Awake for 13:19"));
    popover().close();
    loop().drain();
    EXPECT_FALSE(controller().hasTicker());
    loop().advance(59);
    EXPECT_TRUE(shown("Awake for 12:20")) << "right again when it opens again";
}

TEST_F(MenuViewTest, MakeThisARuleShowsOnlyWhileWaitingForANamedApplication) {
    EXPECT_FALSE(panel().control("Make this a rule\u2026"));
    const RunningApplication editor =
        sim().workspace().launch(std::string("org.example.Editor"), std::string("Editor"));
    controller().watchApp(editor);
    loop().drain();
    ASSERT_TRUE(controller().isActive());
    Inspector p = panel();
    ASSERT_TRUE(p.control("Make this a rule\u2026")) << p.dump();
    EXPECT_TRUE(p.contains("pre-fills Editor in Apps"));
    ASSERT_TRUE(p.click("Make this a rule\u2026"));
    EXPECT_EQ(windows.calls, std::vector<std::string>{"makeRule"});
    controller().stop(true);
    EXPECT_FALSE(panel().control("Make this a rule\u2026"));
}

// Devices ---------------------------------------------------------------------------------------

TEST_F(MenuViewTest, DevicesSectionFollowsTheMachine) {
    struct Case {
        const char* name;
        bool laptop;
        std::optional<std::uint32_t> display;
        bool laptopRows, displayRow;
    };
    // The simulated machine starts as a laptop.
    const Case cases[] = {
        {"laptop, lid closed", true, std::nullopt, true, true},
        {"desktop without a built-in display", false, std::nullopt, false, false},
        {"desktop with a built-in display", false, 1, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.laptop) {
            sim().powerSources().removeBatteries();
            sim().systemInfo().setChassisType(3);  // desktop
        }
        sim().displays().removeDisplay(SimDisplays::kBuiltInID);
        if (c.display) {
            sim().displays().addDisplay({*c.display, "Built-in Display", true, true}, 0.5);
        }
        prefs().menuBold = false;  // re-evaluates: these are read at rendering
        Inspector p = panel();
        EXPECT_EQ(
            p.contains("No built-in keyboard, trackpad, or backlight on this computer \u2014 those "
                       "switches live on laptops only."),
            !c.laptopRows);
        EXPECT_EQ(p.control("Disable Built-In Keyboard").has_value(), c.laptopRows);
        EXPECT_EQ(p.control("Disable Built-In Trackpad").has_value(), c.laptopRows);
        EXPECT_EQ(p.control("Turn Off Keyboard Backlight").has_value(), c.laptopRows);
        EXPECT_TRUE(p.control("Disable Screen Saver"));
        EXPECT_EQ(p.control("Turn Off Built-In Display").has_value(), c.displayRow);
        EXPECT_TRUE(p.control("Sleep all displays now"));
    }
    Inspector p = panel();
    ASSERT_TRUE(p.click("Sleep all displays now"));
    EXPECT_EQ(services().deviceState().sleepDisplaysCount(), 1U);
    {
        // A compositor with no way to sleep its displays: the row says so before any click.
        sim().systemInfo().setWindowSystem(SystemInfo::WindowSystem::wayland);
        prefs().menuBold = true;
        Inspector wayland = panel();
        const auto row = wayland.control("Sleep all displays now");
        ASSERT_TRUE(row);
        EXPECT_FALSE(wayland.isEnabled(*row));
        const char* why =
            "This Wayland compositor offers no known way to sleep the displays (GNOME, KDE Plasma, "
            "sway and most wlroots compositors do).";
        EXPECT_TRUE(wayland.contains(why));
        sim().displays().setCompositorSleep(CompositorSleep::sway);
        prefs().menuBold = false;
        Inspector sway = panel();
        EXPECT_TRUE(sway.isEnabled(*sway.control("Sleep all displays now")));
        EXPECT_FALSE(sway.contains(why));
        // What the compositor read back after the request shows under the row, in words, until
        // the next request.
        struct Answer {
            DisplaySleepOutcome answered;
            const char* shown;  // nothing: every display slept
        };
        const Answer outcomes[] = {
            {{{"HEADLESS-1"}, false},
             "HEADLESS-1 is still on: the desktop did not put it to sleep."},
            {{{"DP-1", "HDMI-A-1"}, false},
             "DP-1, HDMI-A-1 are still on: the desktop did not put them to sleep."},
            {{{}, true}, "The desktop did not put the displays to sleep."},
            {{}, nullptr},
        };
        const char* before = nullptr;
        for (const Answer& o : outcomes) {
            sim().displays().setSleepOutcome(o.answered);
            ASSERT_TRUE(panel().click("Sleep all displays now"));
            EXPECT_EQ(services().deviceState().lastDisplaySleep(), std::nullopt)
                << "nothing to say while the next waits";
            Inspector answered = panel();
            EXPECT_EQ(services().deviceState().lastDisplaySleep(), o.answered);
            if (o.shown != nullptr) {
                EXPECT_TRUE(answered.contains(o.shown)) << o.shown;
            } else {
                EXPECT_FALSE(answered.contains(before)) << before;
            }
            before = o.shown;
        }
        sim().systemInfo().setWindowSystem(SystemInfo::WindowSystem::x11);
        // On X11 without xset the row is greyed out too, naming the package that brings it.
        sim().processes().setExecutable("/usr/bin/xset", false);
        prefs().menuBold = true;
        Inspector noXset = panel();
        EXPECT_FALSE(noXset.isEnabled(*noXset.control("Sleep all displays now")));
        EXPECT_TRUE(
            noXset.contains("xset is not installed (package x11-xserver-utils), so the "
                            "displays cannot be put to sleep."));
        sim().processes().setExecutable("/usr/bin/xset", true);
        prefs().menuBold = false;
        Inspector restored = panel();
        EXPECT_TRUE(restored.isEnabled(*restored.control("Sleep all displays now")));
    }
    ASSERT_TRUE(p.setToggle("Disable Screen Saver", true));
    EXPECT_TRUE(prefs().preventScreenSaver());
    EXPECT_EQ(sim().userDefaults().boolForKey("noSaver"), true);
}

TEST_F(MenuViewTest, LocksAndThePermissionNoteFollowTheCachedPermissions) {
    const std::string service =
        "Turning the above two items on reads the event devices, so the first time Orvel may "
        "install its udev rule (pkexec asks for an administrator's password).";
    struct Case {
        const char* name;
        std::optional<InputBlocker::PermissionStatus> status;  // none: never probed
        const char* symbol;
        bool orange;
        const char* note;  // none: no permission note
    };
    const Case cases[] = {
        {"not yet checked", std::nullopt, "lock", false, nullptr},
        {"both granted", InputBlocker::PermissionStatus{true, true}, "lock.open", false, nullptr},
        {"input monitoring missing", InputBlocker::PermissionStatus{false, true}, "lock", true,
         "Needs Input device access. Turning either switch on will ask."},
        {"both missing", InputBlocker::PermissionStatus{false, false}, "lock", true,
         "Needs Input device access and Input device control. Turning either switch on will ask."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.status) {  // the never-probed case comes first: a probe cannot be undone
            sim().permissions().setListenEvent(
                c.status->inputMonitoring ? ListenEventAccess::granted : ListenEventAccess::denied);
            sim().permissions().setAccessibility(c.status->accessibility);
            services().inputBlocker().permissionStatus();
        }
        prefs().menuBold = false;
        int locks = 0;
        const Node* lock = nullptr;
        std::function<void(const Node&)> walk = [&](const Node& n) {
            if (n.kind == NodeKind::image &&
                (n.systemImage == "lock" || n.systemImage == "lock.open")) {
                ++locks;
                lock = &n;
            }
            for (const auto& child : n.children) {
                walk(child.node());
            }
        };
        walk(root());
        EXPECT_EQ(locks, 2) << "the keyboard and trackpad rows";
        ASSERT_NE(lock, nullptr);
        EXPECT_EQ(lock->systemImage, c.symbol);
        EXPECT_EQ(lock->foreground, c.orange ? ui::ForegroundStyle(ui::Color::orange())
                                             : ui::ForegroundStyle(ui::Color::secondary()));
        EXPECT_EQ(lock->help,
                  std::optional<std::string>("Needs Input device access and Input device control"));
        Inspector p = panel();
        const bool anyNote =
            p.contains("Needs Input device access. Turning either switch on will ask.") ||
            p.contains(
                "Needs Input device access and Input device control. Turning either switch on will "
                "ask.");
        EXPECT_EQ(anyNote, c.note != nullptr);
        if (c.note) {
            EXPECT_TRUE(p.contains(c.note));
        }
        EXPECT_TRUE(p.contains(service));
    }
    services().inputBlocker().lastFailure =
        "No built-in keyboard or trackpad found on this computer.";
    prefs().menuBold = false;
    EXPECT_LT(indexOf("No built-in keyboard or trackpad found on this computer."),
              indexOf(service));
    // Kept in English for the report, read in the user's language here.
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    EXPECT_TRUE(panel().contains(
        "Keine eingebaute Tastatur und kein eingebautes Touchpad auf diesem Computer gefunden."));
}

TEST_F(MenuViewTest, HeldOffNoteFollowsExternalInputAndTheBlockingSwitches) {
    // Explained before and nothing granted: each request polls while the cases run.
    sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    const std::string note = "Held off \u2014 no external keyboard or mouse connected.";
    struct Case {
        bool external, keyboard, trackpad, note;
    };
    const Case cases[] = {
        {true, true, true, false},  {false, false, false, false}, {false, true, false, true},
        {false, false, true, true}, {true, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.external << c.keyboard << c.trackpad);
        services().deviceState().hasExternalInput = c.external;
        prefs().blockBuiltInKeyboard = c.keyboard;
        prefs().blockBuiltInTrackpad = c.trackpad;
        EXPECT_EQ(shown(note), c.note);
        if (c.note) {
            EXPECT_LT(indexOf("Sleep all displays now"), indexOf(note));
        }
    }
}

// Header, notice and footer ---------------------------------------------------------------------

TEST_F(MenuViewTest, HeaderTitleFollowsTheSession) {
    EXPECT_TRUE(shown("Sleep allowed"));
    controller().start();
    EXPECT_TRUE(shown("Awake indefinitely"));
    controller().stop(true);
    controller().startForSeconds(65);
    loop().drain();
    EXPECT_TRUE(shown("Awake for " + controller().formatRemaining()));
    const std::string first = controller().formatRemaining();
    loop().advance(1);
    EXPECT_TRUE(shown("Awake for " + controller().formatRemaining()));
    EXPECT_NE(controller().formatRemaining(), first) << "every tick";
    EXPECT_FALSE(shown("Started by: "));
    controller().stop(true);
    controller().startFromTrigger("", UUID::random(), 0);
    EXPECT_TRUE(shown("Awake indefinitely"));
    EXPECT_TRUE(shown("Started by: ")) << "an empty rule name still shows the line";
    const Node* dot = node([](const Node& n) { return n.kind == NodeKind::shape; });
    ASSERT_NE(dot, nullptr);
    EXPECT_EQ(dot->fill, (ui::Color{ui::RGBA{0.69, 0.486, 0.31, 1.0}, std::nullopt, 1.0}));
    controller().stop(true);
    EXPECT_TRUE(shown("Sleep allowed"));
}

TEST_F(MenuViewTest, StatusLineIsWholeAndMayWrap) {
    const Node& line = textNode(controller().statusText());
    EXPECT_TRUE(line.verbatim);
    // The wrapper around it lets it grow downwards only.
    const Node* fixed = node([&](const Node& n) {
        return n.kind == NodeKind::fixedSize && !n.children.empty() &&
               n.children[0].node().text == controller().statusText();
    });
    ASSERT_NE(fixed, nullptr);
    EXPECT_FALSE(fixed->fixedHorizontal);
    EXPECT_TRUE(fixed->fixedVertical);
    EXPECT_FALSE(line.lineLimit);
}

TEST_F(MenuViewTest, SessionSwitchTurnsTheSessionOverAndIsDisabledWhileBlocked) {
    Inspector p = panel();
    auto toggle = p.control("Keep Awake");
    ASSERT_TRUE(toggle);
    EXPECT_EQ(toggle->node->accessibilityValue, std::optional<std::string>("off"));
    // The setter ignores the value it is given.
    toggle->node->boolBinding.set(false);
    EXPECT_TRUE(controller().isActive());
    EXPECT_EQ(panel().control("Keep Awake")->node->accessibilityValue,
              std::optional<std::string>("on"));
    panel().control("Keep Awake")->node->boolBinding.set(true);
    EXPECT_FALSE(controller().isActive());

    controller().setPowerBlockReason(std::string(PowerTriggerCenter::kLowPowerModeReason));
    p = panel();
    toggle = p.control("Keep Awake");
    EXPECT_FALSE(p.isEnabled(*toggle));
    EXPECT_EQ(toggle->node->help,
              std::optional<std::string>(PowerTriggerCenter::kLowPowerModeReason));
    controller().setPowerBlockReason(std::nullopt);
    p = panel();
    toggle = p.control("Keep Awake");
    EXPECT_TRUE(p.isEnabled(*toggle));
    EXPECT_EQ(toggle->node->help, std::optional<std::string>(""));
}

// Without logind (no system bus, or none on it) no lock can be had: the default engine is
// refused at once and Orvel's caffeinate, which holds the same locks, fails as it starts.
TEST_F(MenuViewTest, AClickThatCannotStartASessionSaysWhyInTheHeaderAndANotification) {
    const std::string noLogind =
        "Could not take a logind inhibitor lock: logind is not running on this system.";
    struct Case {
        const char* name;
        bool caffeinateRuns;
        std::string why;
    };
    const Case cases[] = {
        {"caffeinate fails as it starts", true, "caffeinate failed: " + noLogind},
        // The first case left caffeinate as the engine: the fallback is the one refused last.
        {"no caffeinate either", false, noLogind},
    };
    const auto notified = [this] {
        std::vector<std::string> shown;
        for (const auto& posted : sim().notifications().posted()) {
            shown.push_back(posted.title + ": " + posted.body);
        }
        return shown;
    };
    sim().powerAssertions().refuseAll(kIOReturnUnsupported);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim().processes().setExecutable(kCaffeinatePath, c.caffeinateRuns);
        // Each click is answered.
        for (int click = 0; click < 2; ++click) {
            const std::size_t before = sim().notifications().posted().size();
            panel().control("Keep Awake")->node->boolBinding.set(true);
            if (c.caffeinateRuns) {
                ASSERT_TRUE(controller().isActive());
                sim().processes().lastChild()->exit(1, "caffeinate: " + noLogind + "\n");
            }
            loop().drain();
            EXPECT_FALSE(controller().isActive());
            EXPECT_EQ(indexOf("Sleep allowed") + 1, indexOf(c.why)) << panel().dump();
            EXPECT_EQ(panel().control("Keep Awake")->node->accessibilityValue,
                      std::optional<std::string>("off"));
            const auto all = notified();
            EXPECT_EQ(
                std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before),
                                         all.end()),
                std::vector<std::string>{"Orvel could not keep this computer awake: " + c.why});
        }
    }
    // Once a session holds, the header is the session's again.
    sim().powerAssertions().allowAll();
    panel().control("Keep Awake")->node->boolBinding.set(true);
    EXPECT_TRUE(controller().isActive());
    panel().control("Keep Awake")->node->boolBinding.set(true);
    EXPECT_EQ(indexOf("Sleep allowed") + 1,
              indexOf("Your computer will sleep on its normal schedule."));
}

TEST_F(MenuViewTest, NoticeOpensTheSettingBehindIt) {
    services().powerCenter().notice = PowerTriggerCenter::Notice{"Waiting for AC power.", 5};
    Inspector p = panel();
    EXPECT_LT(indexOf(controller().statusText()), indexOf("Waiting for AC power."));
    EXPECT_EQ(indexOf("Waiting for AC power.") + 1, indexOf("DURATION"));
    auto row = p.control("Waiting for AC power.");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->node->help, std::optional<std::string>("Open the setting behind this"));
    // Settings opens only once both values are written.
    windows.onSettings = [this] {
        EXPECT_EQ(sim().userDefaults().integerForKey("atSubTab"), 5);
        EXPECT_EQ(sim().userDefaults().integerForKey("settingsTabSelection"), 1);
    };
    ASSERT_TRUE(p.click("Waiting for AC power."));
    EXPECT_EQ(sim().userDefaults().integerForKey("atSubTab"), 5);
    EXPECT_EQ(sim().userDefaults().integerForKey("settingsTabSelection"), 1);
    EXPECT_EQ(windows.calls, std::vector<std::string>{"settings"});
    AppWindows::current() = nullptr;
    services().powerCenter().notice = PowerTriggerCenter::Notice{"Held back.", 3};
    ASSERT_TRUE(panel().click("Held back."));
    EXPECT_EQ(sim().userDefaults().integerForKey("atSubTab"), 3) << "written without a window too";
}

TEST_F(MenuViewTest, FooterRowsCallTheirWindowsAndQuit) {
    struct Case {
        const char* row;
        const char* call;
    };
    const Case cases[] = {
        {"Settings\u2026", "settings"}, {"Help\u2026", "help"}, {"About Orvel", "about"}};
    for (const auto& c : cases) {
        windows.calls.clear();
        ASSERT_TRUE(panel().click(c.row)) << c.row;
        EXPECT_EQ(windows.calls, std::vector<std::string>{c.call});
    }
    Inspector p = panel();
    EXPECT_EQ(p.control("Settings\u2026")->node->shortcut,
              (ui::KeyboardShortcut{",", ui::kModifierCommand}));
    EXPECT_EQ(p.control("Quit Orvel")->node->shortcut,
              (ui::KeyboardShortcut{"q", ui::kModifierCommand}));
    EXPECT_TRUE(p.contains("Ctrl+,"));
    EXPECT_TRUE(p.contains("Ctrl+Q"));
    ASSERT_TRUE(p.click("Quit Orvel"));
    EXPECT_TRUE(host().application().terminated());
}

// Command block ---------------------------------------------------------------------------------

TEST_F(MenuViewTest, CommandBlockShowsWhatTheEngineGetsAndRunsOnlyWhatRuns) {
    SleepOptions all{true, true, true, true, true, 0, std::nullopt};
    controller().options = all;
    // Where Orvel's own caffeinate runs in the place of /usr/bin/caffeinate.
    const std::string ours = "/opt/orvel/libexec/caffeinate";
    const std::string locks = "Held as logind inhibitor locks \u2014 no subprocess.";
    const std::string idle = "Not running \u2014 Orvel runs it while a session is on.";
    struct Case {
        const char* name;
        EngineKind engine;
        bool onAC;
        std::optional<std::int64_t> seconds;
        bool standIn;
        const char* title;
        std::string line;
        std::string note;  // empty: none
    };
    const Case cases[] = {
        {"caffeinate, idle", EngineKind::caffeinate, true, std::nullopt, false,
         "EQUIVALENT COMMAND", "/usr/bin/caffeinate -dimsu", idle},
        {"assertions, idle", EngineKind::assertions, true, std::nullopt, false,
         "EQUIVALENT COMMAND", "/usr/bin/caffeinate -dimsu", locks},
        {"timed on battery", EngineKind::assertions, false, 600, false, "EQUIVALENT COMMAND",
         "/usr/bin/caffeinate -dimu -t 600", locks},
        {"Orvel's caffeinate runs", EngineKind::caffeinate, true, 600, true, "RUNNING COMMAND",
         ours + " -dimsu -t 600", ""},
        // The equivalent command runs as shown: Orvel's caffeinate, where it is.
        {"Orvel's caffeinate stands by", EngineKind::assertions, true, std::nullopt, true,
         "EQUIVALENT COMMAND", ours + " -dimsu", locks},
        {"Orvel's caffeinate, idle", EngineKind::caffeinate, true, std::nullopt, true,
         "EQUIVALENT COMMAND", ours + " -dimsu", idle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        controller().stop(true);
        if (c.standIn) {
            sim().processes().setStandIn(kCaffeinatePath, ours);
            sim().processes().setExecutable(ours, true);
        }
        prefs().engine = c.engine;
        sim().powerSources().setOnAC(c.onAC);
        loop().advance(5);
        if (c.seconds) {
            controller().startForSeconds(*c.seconds);
        }
        Inspector p = panel();
        EXPECT_TRUE(p.contains(c.title));
        EXPECT_FALSE(p.contains(std::string(c.title) == "RUNNING COMMAND" ? "EQUIVALENT COMMAND"
                                                                          : "RUNNING COMMAND"));
        EXPECT_TRUE(p.contains(c.line)) << p.dump();
        for (const auto& note : {locks, idle}) {
            EXPECT_EQ(p.contains(note), note == c.note) << note;
        }
        if (c.engine == EngineKind::caffeinate && controller().isActive()) {
            EXPECT_EQ(sim().log().messages("caffeinate").back(), "started: " + c.line)
                << "the log names the program that runs";
        }
    }
    // A session whose caffeinate failed runs nothing any more.
    controller().startForSeconds(600);
    ASSERT_TRUE(shown("RUNNING COMMAND"));
    sim().processes().lastChild()->exit(1, "caffeinate: gone\n");
    loop().drain();
    EXPECT_FALSE(panel().contains("RUNNING COMMAND"));
    EXPECT_TRUE(shown(idle));
    controller().stop(true);
    controller().options = SleepOptions{};
    EXPECT_TRUE(shown(ours));
}

TEST_F(MenuViewTest, CommandTextIsBrightGreenInTheDarkAndDarkGreenInTheLight) {
    const ui::Color color = MenuView::commandTextColor();
    const auto* light = std::get_if<ui::RGBA>(&color.light);
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(*light, (ui::RGBA{0.06, 0.42, 0.16, 1.0}));
    ASSERT_TRUE(color.dark);
    EXPECT_EQ(*color.dark, (ui::RGBA{0.36, 0.85, 0.44, 1.0}));
    const Node& line = textNode(controller().effectiveOptions().commandLine());
    EXPECT_EQ(line.foreground, ui::ForegroundStyle(color));
    EXPECT_TRUE(line.textSelection);
}

}  // namespace
}  // namespace orvel
