// The Schedule sub-tab and its rule editor drawn by the Qt host, checked through their widgets and
// written to PNG for a person to look at.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QLabel>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "QtUiTest.h"
#include "automations/ScheduleSettingsView.h"
#include "core/Preferences.h"
#include "devices/PermissionPrimer.h"
#include "foundation/DateFormatting.h"
#include "platform/HelperService.h"
#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

namespace status = helper_service_status;

class SchedulePicturesTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        setenv("TZ", "America/New_York", 1);
        tzset();
        setCurrentLocaleIdentifier("en_US");
    }
    void TearDown() override {
        window_.reset();
        page_.reset();
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
        setCurrentLocaleIdentifier(std::nullopt);
        setenv("TZ", "UTC", 1);
        tzset();
    }
    QWidget& show(double height = 620) {
        page_ = std::make_shared<ScheduleSettingsView>(
            services().triggerEngine(), services().wakeHelper(), services().preferences(),
            Platform::current().network());
        window_ = host().makeWindow();
        window_->setTitle("Schedule");
        window_->setContentSize(680, height);
        window_->setContent(page_);
        window_->makeKeyAndOrderFront();
        settle();
        return *static_cast<ui::QtWindow&>(*window_).widget();
    }
    // Waits for what a change asks to be drawn.
    bool shows(QWidget& window, const QString& text) {
        return waitUntil([&] {
            for (auto* label : window.findChildren<QLabel*>()) {
                if (label->text() == text && label->isVisibleTo(&window))
                    return true;
            }
            for (auto* button : window.findChildren<QAbstractButton*>()) {
                if (button->text() == text && button->isVisibleTo(&window))
                    return true;
            }
            return false;
        });
    }
    static TriggerRule window(const std::string& name) {
        TriggerRule rule;
        rule.name = name;
        rule.source = TriggerSource::schedule;
        rule.schedKind = "window";
        rule.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
        rule.schedStartMin = 1260;
        rule.schedEndMin = 420;
        return rule;
    }

    std::shared_ptr<ScheduleSettingsView> page_;

  private:
    std::unique_ptr<ui::Window> window_;
};

TEST_F(SchedulePicturesTest, TheSubTabWithTheHelperActiveAndAwaitingApprovalWithAnError) {
    sim().helperService().setStatus(status::kEnabled);
    services().triggerEngine().add(window("Nights"));
    TriggerRule off = window("Weekend backup");
    off.enabled = false;
    off.schedDays = std::vector<std::int64_t>{1, 7};
    services().triggerEngine().add(off);
    QWidget& active = show();
    ASSERT_TRUE(shows(active, "Installed & approved"));
    ASSERT_TRUE(shows(active, "Remove\u2026"));
    savePng(active, "schedule-helper-active");

    sim().helperService().setStatus(status::kNotRegistered);
    sim().helperService().failNext("The operation couldn't be completed. (approval required)",
                                   status::kRequiresApproval);
    services().wakeHelper().install();
    QWidget& waiting = show();
    ASSERT_TRUE(shows(waiting, "Awaiting approval"));
    ASSERT_TRUE(shows(waiting, "The operation couldn't be completed. (approval required)"));
    savePng(waiting, "schedule-helper-awaiting");
}

TEST_F(SchedulePicturesTest, AnOpenWindowWithEveryWarning) {
    sim().helperService().setStatus(status::kRequiresApproval);
    sim().permissions().setListenEvent(ListenEventAccess::granted);
    sim().permissions().setAccessibility(true);
    sim().userDefaults().setBool(PermissionPrimer::kExplainedKey, true);
    services().preferences().hasConfirmedBlocking = true;
    services().preferences().autoUnblockNoExternal = false;
    services().preferences().blockBuiltInKeyboard = true;
    services().preferences().deactivateOnBattery = true;
    TriggerRule rule = window("Nights");
    rule.schedDays = std::vector<std::int64_t>{2, 4, 6};
    rule.wakeMac = true;
    rule.acOnly = true;
    rule.lockAtFire = true;
    rule.endsManual = true;
    services().triggerEngine().add(rule);
    QWidget& page = show(1100);
    page_->expanded = {rule.id};
    ASSERT_TRUE(shows(page, "next day"));
    ASSERT_TRUE(shows(page, "Mon Wed Fri"));
    savePng(page, "schedule-window-warnings");
}

TEST_F(SchedulePicturesTest, AnOpenFiredOneTimeRuleAndAnUnstoredStart) {
    sim().helperService().setStatus(status::kEnabled);
    TriggerRule fired = window("Backup");
    fired.schedKind = "oneshot";
    fired.enabled = false;
    fired.schedDate = RunLoop::main().now() - 3600;
    fired.firedAt = fired.schedDate;
    fired.onClear = TriggerAction::nothing;
    TriggerRule unset = window("Evenings");
    unset.schedStartMin.reset();
    unset.schedEndMin.reset();
    unset.schedDays.reset();
    services().triggerEngine().add(fired);
    services().triggerEngine().add(unset);
    QWidget& page = show(1300);
    page_->expanded = {fired.id, unset.id};
    ASSERT_TRUE(shows(page, "Not set"));
    ASSERT_TRUE(shows(page, "Set"));
    ASSERT_TRUE(shows(page, "Every day"));
    savePng(page, "schedule-oneshot-fired-and-not-set");
}

// A time typed into From or To reaches the rule when the field is left or Return is pressed,
// never half typed; what is no time of day is refused in words and the stored time stays.
TEST_F(SchedulePicturesTest, TimesTypedIntoFromAndToReachTheRule) {
    sim().helperService().setStatus(status::kEnabled);
    const TriggerRule rule = window("Nights");
    services().triggerEngine().add(rule);
    QWidget& page = show(1100);
    page_->expanded = {rule.id};
    ASSERT_TRUE(shows(page, "next day"));
    page.activateWindow();
    using Field = std::optional<std::int64_t> TriggerRule::*;
    const auto stored = [&rule, this](Field field) {
        for (const TriggerRule& r : services().triggerEngine().rules()) {
            if (r.id == rule.id)
                return (r.*field).value_or(-1);
        }
        return std::int64_t{-1};
    };
    const auto timeField = [&page](const QString& name) -> QDateTimeEdit* {
        for (auto* edit : page.findChildren<QDateTimeEdit*>()) {
            if (edit->accessibleName() == name && edit->isVisibleTo(&page))
                return edit;
        }
        return nullptr;
    };
    struct Case {
        const char* name;
        Field field;
        const char* typed;
        Qt::Key leave;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"From", &TriggerRule::schedStartMin, "9:30", Qt::Key_Return, 570},
        {"To", &TriggerRule::schedEndMin, "21:45", Qt::Key_Tab, 1305},
        {"From", &TriggerRule::schedStartMin, "0745", Qt::Key_Tab, 465},
        {"To", &TriggerRule::schedEndMin, "6", Qt::Key_Return, 360},
        {"From", &TriggerRule::schedStartMin, "7.5", Qt::Key_Return, 425},
        // Refused: the stored time stays.
        {"From", &TriggerRule::schedStartMin, "25:99", Qt::Key_Return, 425},
        {"To", &TriggerRule::schedEndMin, "9:75", Qt::Key_Tab, 360},
        {"To", &TriggerRule::schedEndMin, "12345", Qt::Key_Return, 360},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.typed);
        QDateTimeEdit* edit = timeField(c.name);
        ASSERT_NE(edit, nullptr);
        edit->clearFocus();
        edit->setFocus(Qt::TabFocusReason);
        const std::int64_t before = stored(c.field);
        QTest::keyClicks(edit, c.typed);
        EXPECT_EQ(stored(c.field), before) << "nothing is written while the time is typed";
        QTest::keyClick(edit, c.leave);
        EXPECT_EQ(stored(c.field), c.expected);
        const QTime shown(static_cast<int>(c.expected / 60), static_cast<int>(c.expected % 60));
        EXPECT_TRUE(waitUntil([&] { return timeField(c.name)->time() == shown; }))
            << "the field shows the stored time";
        if (c.expected == before) {
            EXPECT_TRUE(QToolTip::text().contains("is not a time of day"))
                << QToolTip::text().toStdString();
        }
        QToolTip::hideText();
    }
}

}  // namespace
}  // namespace orvel
