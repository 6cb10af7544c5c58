// The Settings window drawn by the Qt host, written to PNG for a person to look at.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "QtUiTest.h"
#include "app/AppDelegate.h"
#include "core/Preferences.h"
#include "drives/DriveKeepAlive.h"
#include "foundation/FileIO.h"
#include "foundation/RunLoop.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsView.h"
#include "support/SettingsFixture.h"
#include "triggers/PowerTriggerCenter.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

class SettingsPicturesTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        delegate.emplace(services());
    }
    void TearDown() override {
        delegate.reset();
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }
    // Opens Settings on a page as the application does and returns its widget.
    QWidget& openOn(std::int64_t tab) {
        sim().userDefaults().setInteger(SettingsView::kTabKey, tab);
        delegate->openSettings();
        settle();
        auto* window = dynamic_cast<ui::QtWindow*>(delegate->settingsWindow.get());
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

    std::optional<AppDelegate> delegate;
};

TEST_F(SettingsPicturesTest, TheGeneralPage) {
    QWidget& widget = openOn(SettingsView::kGeneralTab);
    savePng(widget, "settings-general");
    ASSERT_NE(button(widget, "Check for Updates\u2026"), nullptr);
    EXPECT_FALSE(button(widget, "Check for Updates\u2026")->isEnabled());
    EXPECT_TRUE(showsText(widget, "100%"));

    services().preferences().defaultPreset = DurationPreset::custom;
    services().preferences().hotKeyStyle = HotKeyStyle::monitor;
    settle();
    savePng(widget, "settings-general-custom-monitor");
    EXPECT_NE(button(widget, "Change\u2026"), nullptr);
    EXPECT_TRUE(showsText(widget, "Orvel needs input device access and control"));
}

TEST_F(SettingsPicturesTest, TheDevicesPageOnALaptopAndOnADesktop) {
    QWidget& widget = openOn(SettingsView::kDevicesTab);
    ASSERT_NE(button(widget, "Scan"), nullptr);
    button(widget, "Scan")->click();
    settle();
    savePng(widget, "settings-devices-laptop");
    EXPECT_NE(button(widget, "Rescan"), nullptr);
    EXPECT_TRUE(showsText(widget, "Not granted"));

    delegate->settingsWindow.reset();
    releaseServices();
    sim().powerSources().removeBatteries();
    sim().systemInfo().setChassisType(3);  // desktop
    sim().displays().removeDisplay(1);
    QWidget& desktop = openOn(SettingsView::kDevicesTab);
    savePng(desktop, "settings-devices-desktop");
    ASSERT_NE(button(desktop, "Scan"), nullptr);
    EXPECT_FALSE(button(desktop, "Scan")->isEnabled());
    EXPECT_TRUE(showsText(desktop, "This computer has no built-in display."));
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

// A real import through the file dialog: the line beside the buttons says what it took, or why
// it took nothing once the error's alert is answered.
TEST_F(SettingsPicturesTest, TheAdvancedPageSaysWhatAnImportDid) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString good = folder.filePath("Orvel Settings.orvelconfig");
    const QString bad = folder.filePath("notes.txt");
    ASSERT_TRUE(
        writeFileAtomically(good.toStdString(), test::readSettingsData("plain.orvelconfig")).ok());
    ASSERT_TRUE(writeFileAtomically(bad.toStdString(), dataFromString("notes")).ok());
    QWidget& widget = openOn(SettingsView::kAdvancedTab);
    QString chosen;
    // Answers the file dialog with `chosen` and the alert with its only button.
    Timer answer = loop().every(
        0.05,
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!w->isVisible() || w == widget.window()) {
                    continue;
                }
                if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                    // The name typed as a person would: the dialog's list may still be loading.
                    if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) {
                        name->setText(chosen);
                    }
                    QMetaObject::invokeMethod(dialog, "accept");
                } else if (auto* ok = button(*w, "OK")) {
                    ok->click();
                }
            }
        },
        TimerMode::Common);
    const struct {
        QString file;
        QString said;
        const char* picture;
    } cases[] = {
        {good, "Imported 3 rules, 0 drives and 27 settings.", "settings-advanced-imported"},
        {bad, "Nothing was imported. This is not an Orvel settings file.",
         "settings-advanced-not-imported"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.picture);
        chosen = c.file;
        ASSERT_NE(button(widget, "Import\u2026"), nullptr);
        button(widget, "Import\u2026")->click();
        ASSERT_TRUE(waitUntil([&] { return showsText(widget, c.said); }));
        settle();
        savePng(widget, c.picture);
    }
}

TEST_F(SettingsPicturesTest, TheWindowAtItsSmallestSize) {
    QWidget& widget = openOn(SettingsView::kGeneralTab);
    widget.resize(400, 100);
    settle();
    savePng(widget, "settings-smallest");
    EXPECT_GE(widget.width(), 675);
    EXPECT_GE(widget.height(), 280);
}

TEST_F(SettingsPicturesTest, TheTroubleshootingPageBeforeAPressAndAfterCopyReport) {
    QWidget& widget = openOn(SettingsView::kTroubleshootingTab);
    savePng(widget, "settings-troubleshooting");
    ASSERT_NE(button(widget, "Copy Report"), nullptr);
    EXPECT_FALSE(showsText(widget, "Copied to clipboard"));
    button(widget, "Copy Report")->click();
    ASSERT_TRUE(waitUntil([&] { return showsText(widget, "Copied to clipboard"); }));
    settle();
    savePng(widget, "settings-troubleshooting-report");
    EXPECT_TRUE(showsText(widget, "ORVEL DIAGNOSTIC REPORT"));
}

TEST_F(SettingsPicturesTest, TheDrivesPageWithThreeDrivesAndEmpty) {
    QWidget& empty = openOn(SettingsView::kDrivesTab);
    savePng(empty, "settings-drives-empty");
    ASSERT_NE(button(empty, "Rescan Volumes"), nullptr);
    EXPECT_FALSE(showsText(empty, "Per-drive keep-alive is on"));

    DriveKeepAlive& keeper = services().driveKeepAlive();
    const Date now = RunLoop::main().now();
    auto drive = [](std::string id, std::string name, bool network) {
        DriveKeepAlive::Drive d;
        d.id = std::move(id);
        d.name = std::move(name);
        d.path = "/media/" + d.id;
        d.isNetwork = network;
        return d;
    };
    auto archive = drive("a", "Archive", false);
    archive.enabled = true;
    archive.lastRead = now - 42.9;
    auto team = drive("b", "Team Share", true);
    team.offline = true;
    team.lifecycle = DriveKeepAlive::Lifecycle::whileOrvelSessionActive;
    team.intervalOverride = 90;
    auto backup = drive("c", "Backup", false);
    keeper.drives = {archive, team, backup};
    settle();
    QWidget& widget = openOn(SettingsView::kDrivesTab);
    // The Qt loop keeps real time, so the age may have grown past 42 s by the drawing.
    ASSERT_TRUE(waitUntil([&] { return showsText(widget, "s AGO"); }));
    EXPECT_TRUE(showsText(widget, "OFFLINE"));
    EXPECT_TRUE(showsText(widget, "Per-drive keep-alive is on"));
    QWidget* header = nullptr;
    for (auto* child : widget.findChildren<QWidget*>()) {
        if (child->isVisible() && child->accessibleName() == "Archive") {
            header = child;
        }
    }
    ASSERT_NE(header, nullptr);
    const QPointF at(4, header->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, header->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, header->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(header, &press);
    QApplication::sendEvent(header, &release);
    ASSERT_TRUE(waitUntil([&] { return button(widget, "Read now") != nullptr; }));
    settle();
    savePng(widget, "settings-drives");
}

}  // namespace
}  // namespace orvel
