#include "menubar/CustomDurationView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>

#include "support/Catalogues.h"
#include "support/SessionTest.h"
#include "ui/Inspector.h"

namespace orvel {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

class CustomDurationViewTest : public test::SessionTest {
  protected:
    // The window goes before the host it belongs to.
    void TearDown() override {
        window.reset();
        SessionTest::TearDown();
    }
    void SetUp() override {
        SessionTest::SetUp();
        sim().powerSources().setOnAC(true);
    }
    // Opens the view in a window as its opener does, from the stored duration.
    void open() {
        const auto [h, m] = CustomDurationView::startValues(prefs().customSeconds());
        view =
            std::make_shared<CustomDurationView>(controller(), prefs(), h, m, [this] { ++done; });
        window = host().makeWindow();
        window->setContent(view);
        window->makeKeyAndOrderFront();
        loop().drain();
    }
    ui::Inspector shown() {
        loop().drain();
        return static_cast<ui::HeadlessWindow&>(*window).inspect();
    }
    std::string caption() {
        for (const auto& text : shown().texts()) {
            if (text.rfind("Ends at", 0) == 0 || text.rfind("Zero", 0) == 0) {
                return text;
            }
        }
        return "";
    }

    std::shared_ptr<CustomDurationView> view;
    std::unique_ptr<ui::Window> window;
    int done = 0;
};

TEST_F(CustomDurationViewTest, OpensAtTheStoredDurationInWholeMinutes) {
    struct Case {
        std::int64_t stored, hours, minutes;
    };
    const Case cases[] = {
        {5400, 1, 30}, {3661, 1, 1}, {59, 0, 0}, {0, 0, 0}, {-3600, 0, 0}, {kMax, kMax / 3600, 30},
    };
    for (const auto& c : cases) {
        prefs().customSeconds = c.stored;
        open();
        EXPECT_EQ(view->hours(), c.hours) << c.stored;
        EXPECT_EQ(view->minutes(), c.minutes) << c.stored;
    }
}

TEST_F(CustomDurationViewTest, CaptionSaysWhenTheSessionWouldEnd) {
    struct Case {
        std::string hours, minutes, caption;
        std::int64_t total;
    };
    // The clock stands at 09:00 UTC.
    const Case cases[] = {
        {"0", "0", "Zero is the same as Indefinitely.", 0},
        {"0", "90", "Ends at 10:30 AM.", 5400},
        {"2", "15", "Ends at 11:15 AM.", 8100},
        {"-5", "30", "Ends at 9:30 AM.", 1800},
        {"-1", "-1", "Zero is the same as Indefinitely.", 0},
    };
    for (const auto& c : cases) {
        prefs().customSeconds = 0;
        open();
        ASSERT_TRUE(shown().type("Hours", c.hours)) << shown().lastFailure();
        ASSERT_TRUE(shown().type("Minutes", c.minutes)) << shown().lastFailure();
        EXPECT_EQ(caption(), c.caption) << c.hours << " h " << c.minutes << " min";
        EXPECT_EQ(view->total(), c.total) << c.hours << " h " << c.minutes << " min";
    }
}

TEST_F(CustomDurationViewTest, CaptionMovesOnWithTheClock) {
    open();
    const std::string before = caption();
    loop().advance(600);
    view->hours = view->hours();  // the next evaluation
    EXPECT_NE(caption(), before);
    EXPECT_EQ(caption(), "Ends at 10:40 AM.");
}

TEST_F(CustomDurationViewTest, TheCaptionReadsInTheReadersLanguage) {
    const test::ScopedLanguage german(ORVEL_LOCALE, "de");
    open();
    const auto texts = shown().texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Endet um 10:30 AM."), texts.end())
        << ::testing::PrintToString(texts);
}

TEST_F(CustomDurationViewTest, HugeValuesSaturateInsteadOfOverflowing) {
    open();
    ASSERT_TRUE(shown().type("Hours", "9223372036854775807"));
    ASSERT_TRUE(shown().type("Minutes", "9223372036854775807"));
    EXPECT_EQ(view->total(), kMax);
    EXPECT_FALSE(caption().empty()) << "a caption, whatever the clock says";
    ASSERT_TRUE(shown().click("Set"));
    EXPECT_EQ(prefs().customSeconds(), kMax);
}

TEST_F(CustomDurationViewTest, SetStoresAndSelectsTheCustomDuration) {
    struct Case {
        bool running;
    };
    for (const Case c : {Case{false}, Case{true}}) {
        prefs().customSeconds = 5400;
        controller().preset = DurationPreset::h1;
        if (c.running) {
            ASSERT_TRUE(controller().start());
        } else {
            controller().stop(true);
        }
        open();
        ASSERT_TRUE(shown().type("Minutes", "45"));
        ASSERT_TRUE(shown().click("Set"));
        EXPECT_EQ(prefs().customSeconds(), 6300);
        EXPECT_EQ(controller().preset(), DurationPreset::custom);
        EXPECT_EQ(controller().isActive(), c.running) << "Set neither starts nor stops";
        if (c.running) {
            ASSERT_TRUE(controller().deadline());
            EXPECT_DOUBLE_EQ(controller().deadline()->secondsSinceReferenceDate -
                                 loop().now().secondsSinceReferenceDate,
                             6300)
                << "the running session ends after the new duration";
        }
        EXPECT_EQ(done, 1);
        done = 0;
    }
}

TEST_F(CustomDurationViewTest, SetAndStartStartsASessionUnderTheNewDuration) {
    struct Case {
        std::string minutes;
        std::optional<double> remaining;  // none: without end
    };
    for (const auto& c : {Case{"20", 4800}, Case{"0", std::nullopt}}) {
        controller().stop(true);
        prefs().customSeconds = 3600;
        open();
        ASSERT_TRUE(shown().type("Hours", c.remaining ? "1" : "0"));
        ASSERT_TRUE(shown().type("Minutes", c.minutes));
        ASSERT_TRUE(shown().click("Set and Start"));
        EXPECT_TRUE(controller().isActive());
        EXPECT_EQ(controller().preset(), DurationPreset::custom);
        EXPECT_FALSE(held().empty()) << "the machine is really kept awake";
        if (c.remaining) {
            ASSERT_TRUE(controller().deadline());
            EXPECT_DOUBLE_EQ(controller().deadline()->secondsSinceReferenceDate -
                                 loop().now().secondsSinceReferenceDate,
                             *c.remaining);
        } else {
            EXPECT_FALSE(controller().deadline());
        }
        EXPECT_EQ(done, 1);
        done = 0;
    }
}

TEST_F(CustomDurationViewTest, CancelStoresNothing) {
    prefs().customSeconds = 5400;
    controller().preset = DurationPreset::h2;
    open();
    ASSERT_TRUE(shown().type("Hours", "7"));
    ASSERT_TRUE(shown().click("Cancel"));
    EXPECT_EQ(prefs().customSeconds(), 5400);
    EXPECT_EQ(controller().preset(), DurationPreset::h2);
    EXPECT_FALSE(controller().isActive());
    EXPECT_EQ(done, 1);
}

TEST_F(CustomDurationViewTest, ReturnStartsAndEscapeCancels) {
    const auto shortcutOf = [&](std::string_view title) {
        auto found = shown().control(title);
        return found ? found->node->shortcut : std::nullopt;
    };
    open();
    EXPECT_EQ(shortcutOf("Set and Start"), ui::KeyboardShortcut::defaultAction());
    EXPECT_EQ(shortcutOf("Cancel"), ui::KeyboardShortcut::cancelAction());
    EXPECT_EQ(shortcutOf("Set"), std::nullopt);
}

TEST_F(CustomDurationViewTest, SteppersKeepToTheirRangesAndTheFieldsDoNot) {
    open();
    // The steppers in order: hours, then minutes.
    std::vector<const ui::Node*> steppers;
    std::function<void(const ui::Node&)> walk = [&](const ui::Node& n) {
        if (n.kind == ui::NodeKind::stepper) {
            steppers.push_back(&n);
        }
        for (const auto& child : n.children) {
            walk(child.node());
        }
    };
    shown();
    walk(static_cast<ui::HeadlessWindow&>(*window).viewHost()->tree().node());
    ASSERT_EQ(steppers.size(), 2u);
    const ui::Node& hours = *steppers[0];
    const ui::Node& minutes = *steppers[1];
    EXPECT_EQ(hours.kind, ui::NodeKind::stepper);
    EXPECT_EQ(hours.maximum, 72);
    EXPECT_EQ(minutes.maximum, 59);
    minutes.numberBinding.set(59);
    EXPECT_EQ(view->minutes(), 59);
    ASSERT_TRUE(shown().type("Minutes", "90"));
    EXPECT_EQ(view->minutes(), 90) << "a typed value counts as typed";
}

}  // namespace
}  // namespace orvel
