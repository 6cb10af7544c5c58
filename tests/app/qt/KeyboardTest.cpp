// The application's windows and panel worked from the keyboard alone, through the Qt host.

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>

#include <optional>

#include <gtest/gtest.h>

#include <filesystem>

#include "QtUiTest.h"
#include "app/AppDelegate.h"
#include "core/DurationPreset.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/DateFormatting.h"
#include "foundation/Localization.h"
#include "foundation/RunLoop.h"
#include "menubar/StatusItemController.h"
#include "support/OrvelTest.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtPopover.h"
#include "ui/qt/QtWindow.h"
#include "ui/qt/TextLabel.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

class KeyboardTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        root_ = (fs::path(ORVEL_PNG_DIR).parent_path() / "keyboard" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())
                    .string();
        fs::remove_all(root_);
        sim().paths().setRoot(root_);
        test::acceptAgreement(sim().paths());
    }
    void TearDown() override {
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
        fs::remove_all(root_);
    }
    // Names compared without case: the order is what counts here.
    static QStringList lower(QStringList names) {
        for (QString& name : names)
            name = name.toLower();
        return names;
    }
    std::string root_;
};

const QKeyCombination kTab(Qt::Key_Tab), kBacktab(Qt::SHIFT | Qt::Key_Backtab), kUp(Qt::Key_Up),
    kDown(Qt::Key_Down), kSpace(Qt::Key_Space), kReturn(Qt::Key_Return);

TEST_F(KeyboardTest, CustomDurationTabsFromHoursToMinutesToTheButtonsAndItsFieldsTakeTheArrows) {
    services().preferences().customSeconds = 5400;
    AppDelegate delegate{services()};
    delegate.showCustomDuration();
    auto* window = dynamic_cast<ui::QtWindow*>(delegate.customDurationWindow.get());
    ASSERT_NE(window, nullptr);
    QWidget& w = *window->widget();
    w.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return w.focusWidget() != nullptr; }));
    // Never the stepper arrows: the fields step with the arrow keys themselves.
    EXPECT_EQ(lower(focusOrder(w, kTab)),
              (QStringList{"hours", "minutes", "cancel", "set", "set and start"}));
    EXPECT_EQ(lower(focusOrder(w, kBacktab)),
              (QStringList{"hours", "set and start", "set", "cancel", "minutes"}));

    auto* hours = qobject_cast<QLineEdit*>(w.focusWidget());
    ASSERT_NE(hours, nullptr);
    press(w, kUp);
    press(w, kUp);
    ASSERT_TRUE(waitUntil([&] { return hours->text() == "3"; })) << hours->text().toStdString();
    // Typed and then stepped: the step starts from what was typed.
    press(w, kTab);
    auto* minutes = qobject_cast<QLineEdit*>(w.focusWidget());
    ASSERT_NE(minutes, nullptr);
    QTest::keyClicks(minutes, "5");
    press(w, kDown);
    ASSERT_TRUE(waitUntil([&] { return minutes->text() == "4"; })) << minutes->text().toStdString();
    press(w, kTab);
    press(w, kTab);
    ASSERT_EQ(nameOf(*w.focusWidget()), "Set");
    press(w, kSpace);
    EXPECT_EQ(services().preferences().customSeconds(), 3 * 3600 + 4 * 60);
}

// Typed and then Return at once, with no step between: what the fields show is what counts, in
// the caption as it is typed and in the session that Return starts.
TEST_F(KeyboardTest, CustomDurationCountsWhatIsTypedInTheCaptionAndOnReturn) {
    struct Case {
        const char* hours;
        const char* minutes;
        std::int64_t seconds;
    };
    AppDelegate delegate{services()};
    for (const Case c : {Case{"2", "15", 8100}, Case{"0", "45", 2700}}) {
        SCOPED_TRACE(c.hours + std::string(" h ") + c.minutes + " min");
        services().preferences().customSeconds = 5400;
        services().controller().stop(true);
        delegate.showCustomDuration();
        auto* window = dynamic_cast<ui::QtWindow*>(delegate.customDurationWindow.get());
        ASSERT_NE(window, nullptr);
        QWidget& w = *window->widget();
        QApplication::setActiveWindow(&w);
        ASSERT_TRUE(waitUntil([&] { return w.focusWidget() != nullptr; }));
        auto* hours = qobject_cast<QLineEdit*>(w.focusWidget());
        ASSERT_NE(hours, nullptr);
        hours->selectAll();
        QTest::keyClicks(hours, c.hours);
        press(w, kTab);
        QTest::keyClicks(w.focusWidget(), c.minutes);
        const Date now = RunLoop::main().now();
        const auto caption = [&w] {
            for (auto* label : w.findChildren<ui::TextLabel*>()) {
                if (label->isVisibleTo(&w) && label->text().startsWith("Ends at"))
                    return label->text().toStdString();
            }
            return std::string();
        };
        const std::string ends =
            localizedFormat("Ends at %@.", {shortTimeText(now + static_cast<double>(c.seconds))});
        EXPECT_TRUE(waitUntil([&] { return caption() == ends; })) << caption();
        press(w, kReturn);
        EXPECT_EQ(services().preferences().customSeconds(), c.seconds);
        ASSERT_TRUE(services().controller().isActive());
        // Counted from the press: a minute's slack for a slow machine, far less than the fault's.
        const std::int64_t left = services().controller().effectiveOptions().timeout;
        EXPECT_LE(left, c.seconds);
        EXPECT_GT(left, c.seconds - 60);
    }
}

class PanelKeyboardTest : public KeyboardTest {
  protected:
    QWidget& openPanel() {
        delegate_.emplace(services());
        delegate_->applicationDidFinishLaunching();
        settle();
        StatusItemController::current()->openPanel();
        settle();
        auto* popover = dynamic_cast<ui::QtPopover*>(&StatusItemController::current()->popover());
        EXPECT_NE(popover, nullptr);
        return *popover->widget();
    }
    // Moves down the panel to the control of that name.
    bool focusOn(QWidget& panel, const QString& name) {
        for (int i = 0; i < 40 && panel.focusWidget() != nullptr; ++i) {
            if (nameOf(*panel.focusWidget()).startsWith(name))
                return true;
            press(panel, kDown);
        }
        return false;
    }
    // The delegate and its status item go before the services they use.
    void TearDown() override {
        delegate_.reset();
        KeyboardTest::TearDown();
    }
    std::optional<AppDelegate> delegate_;
};

TEST_F(PanelKeyboardTest, TheFocusLandsInThePanelAndMovesDownItsRowsAndSwitchesInReadingOrder) {
    QWidget& panel = openPanel();
    ASSERT_NE(panel.focusWidget(), nullptr) << "the focus lands in the panel as it opens";
    const QStringList tab = focusOrder(panel, kTab);
    const QStringList expected{"Keep Awake",
                               "Indefinitely",
                               "15 minutes",
                               "30 minutes",
                               "1 hour",
                               "2 hours",
                               "5 hours",
                               "Custom\u2026",
                               "Until an app quits\u2026",
                               "Prevent Display Sleep",
                               "Prevent Idle Sleep",
                               "Prevent Disk Sleep",
                               "Prevent System Sleep",
                               "Declare User Active",
                               "Disable Built-In Keyboard",
                               "Disable Built-In Trackpad",
                               "Turn Off Keyboard Backlight",
                               "Disable Screen Saver",
                               "Turn Off Built-In Display",
                               "Sleep all displays now",
                               "Settings\u2026",
                               "Help\u2026",
                               "About Orvel",
                               "Quit Orvel"};
    ASSERT_EQ(tab, expected) << tab.join(" | ").toStdString();
    EXPECT_EQ(focusOrder(panel, kDown), tab) << "Down goes as Tab does";
    QStringList back{tab.front()};
    for (qsizetype i = tab.size() - 1; i > 0; --i)
        back << tab[i];
    EXPECT_EQ(focusOrder(panel, kBacktab), back);
    EXPECT_EQ(focusOrder(panel, kUp), back) << "Up goes as Shift+Tab does";
    press(panel, QKeyCombination(Qt::Key_Escape));
    EXPECT_FALSE(panel.isVisible()) << "Escape on a switch still closes the panel";
}

TEST_F(PanelKeyboardTest, SpaceAndReturnWorkTheFocusedSwitchAndRow) {
    QWidget& panel = openPanel();
    OrvelController& controller = services().controller();
    ASSERT_TRUE(focusOn(panel, "Prevent Display Sleep"));
    const bool before = controller.options().preventDisplaySleep;
    press(panel, kSpace);
    EXPECT_NE(controller.options().preventDisplaySleep, before) << "Space flips the switch";
    press(panel, kReturn);
    EXPECT_EQ(controller.options().preventDisplaySleep, before) << "and so does Return";

    ASSERT_TRUE(focusOn(panel, "Turn Off Keyboard Backlight"));
    const bool backlight = services().preferences().keyboardBacklightOff();
    press(panel, kReturn);
    EXPECT_NE(services().preferences().keyboardBacklightOff(), backlight);

    // Up from the switches to a duration row, which Return chooses.
    for (int i = 0; i < 40 && !nameOf(*panel.focusWidget()).startsWith("2 hours"); ++i)
        press(panel, kUp);
    QWidget* row = panel.focusWidget();
    ASSERT_TRUE(nameOf(*row).startsWith("2 hours"));
    ASSERT_NE(controller.preset(), DurationPreset::h2);
    press(panel, kReturn);
    EXPECT_EQ(controller.preset(), DurationPreset::h2);

    // The row the keyboard is on is drawn so: it looks different once the keyboard leaves it.
    savePng(panel, "panel-keyboard-focus");
    ui::Appearance::apply(true);
    savePng(panel, "panel-keyboard-focus-dark");
    ui::Appearance::apply(false);
    settle();
    const QImage rowFocused = row->grab().toImage();
    press(panel, kDown);
    settle();
    EXPECT_NE(row->grab().toImage(), rowFocused) << "the focused row is marked";
}

}  // namespace
}  // namespace orvel
