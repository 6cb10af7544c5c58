// The Settings window drawn by the Qt host, written to PNG for a person to look at.

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include "QtUiTest.h"
#include "app/AppDelegate.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsView.h"
#include "triggers/PowerTriggerCenter.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

class SettingsPicturesTest : public test::QtUiTest {
  protected:
    void TearDown() override {
        delegate.settingsWindow.reset();
        Registry::reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }
    // Opens Settings on a page as the application does and returns its widget.
    QWidget& openOn(std::int64_t tab) {
        sim().userDefaults().setInteger(SettingsView::kTabKey, tab);
        delegate.openSettings();
        settle();
        auto* window = dynamic_cast<ui::QtWindow*>(delegate.settingsWindow.get());
        EXPECT_NE(window, nullptr);
        return *window->widget();
    }
    static QAbstractButton* button(QWidget& window, const QString& text) {
        for (auto* b : window.findChildren<QAbstractButton*>()) {
            if (b->isVisible() && (b->text() == text || b->accessibleName() == text)) {
                return b;
            }
        }
        return nullptr;
    }
    static bool showsText(QWidget& window, const QString& text) {
        for (auto* label : window.findChildren<QLabel*>()) {
            if (label->isVisible() && label->text().contains(text)) {
                return true;
            }
        }
        return false;
    }

    AppDelegate delegate;
};

TEST_F(SettingsPicturesTest, TheGeneralPage) {
    QWidget& widget = openOn(SettingsView::kGeneralTab);
    savePng(widget, "settings-general");
    ASSERT_NE(button(widget, "Check for Updates\u2026"), nullptr);
    EXPECT_FALSE(button(widget, "Check for Updates\u2026")->isEnabled());
    EXPECT_TRUE(showsText(widget, "100%"));

    Preferences::shared().defaultPreset = DurationPreset::custom;
    Preferences::shared().hotKeyStyle = HotKeyStyle::monitor;
    settle();
    savePng(widget, "settings-general-custom-monitor");
    EXPECT_NE(button(widget, "Change\u2026"), nullptr);
    EXPECT_TRUE(showsText(widget, "Orvel needs Accessibility permission"));
}

TEST_F(SettingsPicturesTest, TheDevicesPageOnALaptopAndOnADesktop) {
    QWidget& widget = openOn(SettingsView::kDevicesTab);
    ASSERT_NE(button(widget, "Scan"), nullptr);
    button(widget, "Scan")->click();
    settle();
    savePng(widget, "settings-devices-laptop");
    EXPECT_NE(button(widget, "Rescan"), nullptr);
    EXPECT_TRUE(showsText(widget, "Not granted"));

    delegate.settingsWindow.reset();
    Registry::reset();
    sim().powerSources().removeBatteries();
    sim().systemInfo().setChassisType(3);  // desktop
    sim().displays().removeDisplay(1);
    QWidget& desktop = openOn(SettingsView::kDevicesTab);
    savePng(desktop, "settings-devices-desktop");
    ASSERT_NE(button(desktop, "Scan"), nullptr);
    EXPECT_FALSE(button(desktop, "Scan")->isEnabled());
    EXPECT_TRUE(showsText(desktop, "This Mac has no built-in display."));
}

TEST_F(SettingsPicturesTest, TheAdvancedPageWithASimulationActive) {
    QWidget& widget = openOn(SettingsView::kAdvancedTab);
    ASSERT_NE(button(widget, "UPS Takeover"), nullptr);
    button(widget, "UPS Takeover")->click();
    ASSERT_TRUE(waitUntil([&] { return showsText(widget, "Simulation active"); }));
    settle();
    savePng(widget, "settings-advanced-simulation");
    EXPECT_TRUE(button(widget, "Clear Simulation")->isEnabled());
}

TEST_F(SettingsPicturesTest, TheWindowAtItsSmallestSize) {
    QWidget& widget = openOn(SettingsView::kGeneralTab);
    widget.resize(400, 100);
    settle();
    savePng(widget, "settings-smallest");
    EXPECT_GE(widget.width(), 675);
    EXPECT_GE(widget.height(), 280);
}

}  // namespace
}  // namespace orvel
