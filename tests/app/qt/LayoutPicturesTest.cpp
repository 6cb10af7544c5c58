// How the windows use their room, seen through the Qt host's widgets at a screen 800 pixels high,
// with PNGs for a person to look at.

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "QtUiTest.h"
#include "SettingsPages.h"
#include "app/AppDelegate.h"
#include "app/compose/Services.h"
#include "automations/AutomationsAndTriggersView.h"
#include "help/HelpSection.h"
#include "menubar/MenuView.h"
#include "menubar/StatusItemController.h"
#include "settings/SettingsView.h"
#include "support/OrvelTest.h"
#include "ui/qt/QtPopover.h"
#include "ui/qt/QtWindow.h"
#include "ui/qt/SegmentedControl.h"
#include "ui/qt/SeparatorLine.h"
#include "ui/qt/TextLabel.h"

namespace orvel {
namespace {

constexpr int kScreenHeight = 800;

class LayoutPicturesTest : public test::QtUiTest {
  protected:
    void TearDown() override {
        closeAll();
        QtUiTest::TearDown();
    }
    void closeAll() {
        delegate_.reset();
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    AppDelegate& delegate() {
        if (!delegate_)
            delegate_ = std::make_unique<AppDelegate>(services());
        return *delegate_;
    }
    // Opens Settings as the application does, on a page (and a sub-tab of Automations), as tall
    // as the screen allows.
    QWidget& settingsOn(std::int64_t tab, std::int64_t subTab = 0) {
        sim().userDefaults().setInteger(SettingsView::kTabKey, tab);
        sim().userDefaults().setInteger(AutomationsAndTriggersView::kSubTabKey, subTab);
        delegate().openSettings();
        auto* window = dynamic_cast<ui::QtWindow*>(delegate().settingsWindow.get());
        EXPECT_NE(window, nullptr);
        window->widget()->resize(900, kScreenHeight);
        settle();
        return *window->widget();
    }
    static std::vector<QScrollArea*> scrollAreas(QWidget& window) {
        std::vector<QScrollArea*> areas;
        for (auto* area : window.findChildren<QScrollArea*>()) {
            if (area->isVisibleTo(&window))
                areas.push_back(area);
        }
        return areas;
    }
    static QRect rectIn(QWidget& window, QWidget& widget) {
        return {widget.mapTo(&window, QPoint(0, 0)), widget.size()};
    }

    // The pages' files in a folder of this case's own: the cases may run side by side.
    void installHelpPages() {
        const auto root = std::filesystem::path(ORVEL_PNG_DIR).parent_path() / "layout-pictures" /
                          ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(root);
        sim().paths().setRoot(root.string());
        test::installHelpPages(sim().paths());
    }

  private:
    std::unique_ptr<AppDelegate> delegate_;
};

// Every page of Settings, and every sub-tab of Automations & Triggers, scrolls in one area that
// reaches down to the window's bottom: nothing scrolls inside something that scrolls.
TEST_F(LayoutPicturesTest, EverySettingsPageScrollsInOneAreaAsTallAsTheWindow) {
    for (const test::SettingsPage& page : test::kSettingsPages) {
        SCOPED_TRACE(page.name);
        QWidget& window = settingsOn(page.tab, page.subTab);
        if (page.tab == SettingsView::kAutomationsTab) {
            savePng(window, std::string("layout-automations-") + page.name);
        }
        const auto areas = scrollAreas(window);
        ASSERT_EQ(areas.size(), 1u);
        const QRect area = rectIn(window, *areas[0]);
        EXPECT_GE(area.bottom(), kScreenHeight - 40) << "the page fills the window's height";
        EXPECT_GE(area.height(), kScreenHeight / 2);
        closeAll();
    }
}

// Every page in the Help window shows every line of its texts as soon as it is drawn: a feature's
// name wrapping in its fixed column beside its permission, paragraphs with spaced lines.
TEST_F(LayoutPicturesTest, EveryHelpPageShowsEveryLineOfItsTexts) {
    installHelpPages();
    for (const HelpSection section : allCases<HelpSection>()) {
        SCOPED_TRACE(std::string(rawValue(section)));
        delegate().showHelpSection(section);
        auto* window = dynamic_cast<ui::QtWindow*>(delegate().helpWindow.get());
        ASSERT_NE(window, nullptr);
        settle();
        QWidget& widget = *window->widget();
        for (auto* label : widget.findChildren<ui::TextLabel*>()) {
            if (label->wordWrap() && label->isVisibleTo(&widget)) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                    << label->text().left(60).toStdString();
            }
        }
        if (section == HelpSection::permissions)
            savePng(widget, "layout-help-permissions");
    }
}

// Every title in the Help window's sidebar is shown whole, on as many lines as it needs; Return in
// the search opens the first page found, with its row highlighted.
TEST_F(LayoutPicturesTest, HelpShowsEveryTitleWholeAndReturnOpensTheFirstPageFound) {
    installHelpPages();
    delegate().showHelpSection(HelpSection::whatItDoes);
    auto* window = dynamic_cast<ui::QtWindow*>(delegate().helpWindow.get());
    ASSERT_NE(window, nullptr);
    window->setContentSize(900, 620);
    settle();
    QWidget& widget = *window->widget();
    QLineEdit* search = nullptr;
    for (auto* field : widget.findChildren<QLineEdit*>()) {
        if (field->placeholderText() == "Search Help")
            search = field;
    }
    ASSERT_NE(search, nullptr);
    const int sidebarRight = search->mapTo(&widget, QPoint(search->width(), 0)).x() + 8;
    int titles = 0;
    for (auto* label : widget.findChildren<ui::TextLabel*>()) {
        if (!label->isVisibleTo(&widget) || label->mapTo(&widget, QPoint(0, 0)).x() > sidebarRight)
            continue;
        ++titles;
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_EQ(label->shownText().toStdString(), label->text().toStdString()) << "not cut short";
        EXPECT_LE(label->mapTo(&widget, QPoint(label->width(), 0)).x(), sidebarRight);
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << "every line shows";
    }
    EXPECT_EQ(titles, 16);
    savePng(widget, "layout-help-sidebar");

    search->setFocus();
    search->setText("systemd-inhibit");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(search, &press);
    const QString heading = QString::fromStdString(title(HelpSection::commandLine));
    const QColor highlighted = QApplication::palette().color(QPalette::HighlightedText);
    ASSERT_TRUE(waitUntil([&] {
        int seen = 0;
        for (auto* label : widget.findChildren<QLabel*>()) {
            if (label->isVisibleTo(&widget) && label->text() == heading) {
                ++seen;  // the highlighted row and the page's heading
                if (label->mapTo(&widget, QPoint(0, 0)).x() < sidebarRight &&
                    label->palette().color(QPalette::WindowText) != highlighted)
                    return false;
            }
        }
        return seen == 2;
    }));
    settle();
    savePng(widget, "layout-help-search");
}

// The panel opens 520 pixels high on a screen 800 high, too low for all it holds: a fade with a
// chevron along its bottom says more lies below until the footer's last row is in view.
TEST_F(LayoutPicturesTest, ThePanelShowsThatMoreLiesBelowUntilItsFooterIsInView) {
    test::acceptAgreement(sim().paths());
    ASSERT_LE(QGuiApplication::primaryScreen()->availableGeometry().height(), kScreenHeight);
    delegate().applicationDidFinishLaunching();
    StatusItemController* item = StatusItemController::current();
    ASSERT_NE(item, nullptr);
    auto* popover = dynamic_cast<ui::QtPopover*>(&item->popover());
    ASSERT_NE(popover, nullptr);
    // The offscreen screen has no tray: the panel opens where the icon would be, at the size the
    // tray's click gives it.
    const auto menu = std::make_shared<MenuView>(services().menuViewServices());
    popover->setContent(menu);
    popover->setContentSize(MenuView::width(menu->scale()), StatusItemController::kPanelHeight);
    popover->showAt(ui::Rect{900, 0, 24, 24});
    settle();
    QWidget& panel = *popover->widget();
    QScrollArea* area = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (area = panel.findChild<QScrollArea*>()) != nullptr; }));
    settle();
    QAbstractButton* quit = nullptr;
    for (auto* b : panel.findChildren<QAbstractButton*>()) {
        if (b->isVisibleTo(&panel) && b->accessibleName() == "Quit Orvel")
            quit = b;
    }
    ASSERT_NE(quit, nullptr);
    const auto inView = [&] {
        const QRect port(area->viewport()->mapTo(&panel, QPoint(0, 0)), area->viewport()->size());
        return port.contains(QRect(quit->mapTo(&panel, QPoint(0, 0)), quit->size()));
    };
    const auto hint = [&] {
        auto* more = area->viewport()->findChild<QWidget*>("moreBelow");
        return more != nullptr && more->isVisibleTo(&panel) ? more : nullptr;
    };
    ASSERT_FALSE(inView()) << "the footer is below the fold";
    ASSERT_NE(hint(), nullptr);
    EXPECT_EQ(hint()->mapTo(area->viewport(), QPoint(0, hint()->height())).y(),
              area->viewport()->height())
        << "along the bottom edge";
    savePng(panel, "layout-panel-800");

    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    settle();
    EXPECT_TRUE(inView());
    EXPECT_EQ(hint(), nullptr) << "nothing more below";
    savePng(panel, "layout-panel-800-end");
    popover->close();
}

// A machine with nothing to list: the Devices page says it found no input devices and parts its
// groups of rows with lines across the panel, never a row showing only a dash; Drives shows its
// Rescan button alone.
TEST_F(LayoutPicturesTest, TheDevicesAndDrivesPagesOfAMachineWithNothingToList) {
    QWidget& devices = settingsOn(SettingsView::kDevicesTab);
    QAbstractButton* scan = nullptr;
    for (auto* b : devices.findChildren<QAbstractButton*>()) {
        if (b->isVisibleTo(&devices) && (b->text() == "Scan" || b->accessibleName() == "Scan"))
            scan = b;
    }
    ASSERT_NE(scan, nullptr);
    scan->click();
    ASSERT_TRUE(waitUntil([&] {
        for (auto* label : devices.findChildren<QLabel*>()) {
            if (label->isVisibleTo(&devices) &&
                label->text() == "No keyboards or pointing devices found.")
                return true;
        }
        return false;
    }));
    settle();
    int lines = 0;
    for (auto* line : devices.findChildren<ui::SeparatorLine*>()) {
        if (line->isVisibleTo(&devices) && line->width() >= line->height()) {
            ++lines;
            EXPECT_GE(line->width(), devices.width() / 2) << "a line across the panel";
        }
    }
    EXPECT_GT(lines, 0);
    savePng(devices, "layout-settings-devices-empty");
    closeAll();

    QWidget& drives = settingsOn(SettingsView::kDrivesTab);
    bool rescan = false;
    for (auto* b : drives.findChildren<QAbstractButton*>()) {
        rescan = rescan || (b->isVisibleTo(&drives) && (b->text() == "Rescan Volumes" ||
                                                        b->accessibleName() == "Rescan Volumes"));
    }
    EXPECT_TRUE(rescan);
    savePng(drives, "layout-settings-drives-empty");
}

// A tiling compositor gives Settings and Help the whole of a 1280 by 800 screen: Settings' pages,
// no wider than the window is made, stand in the middle under a tab bar in the middle; Help's
// sidebar and page fill the window.
TEST_F(LayoutPicturesTest, SettingsAndHelpUseTheWholeOfAWindowATilingCompositorMakesWider) {
    installHelpPages();
    const QSize tiled(1280, kScreenHeight);
    QWidget& settings = settingsOn(SettingsView::kGeneralTab);
    settings.resize(tiled);
    settle();
    ASSERT_EQ(settings.size(), tiled);
    const std::vector<QScrollArea*> areas = scrollAreas(settings);
    ASSERT_EQ(areas.size(), 1u);
    const QRect page = rectIn(settings, *areas.front());
    EXPECT_LE(page.width(), 900);
    EXPECT_NEAR(page.left(), tiled.width() - 1 - page.right(), 2) << "the page in the middle";
    // The tab bar: the topmost segmented control.
    QRect tabs;
    for (auto* bar : settings.findChildren<ui::SegmentedControl*>()) {
        const QRect r = rectIn(settings, *bar);
        if (bar->isVisibleTo(&settings) && (tabs.isNull() || r.top() < tabs.top()))
            tabs = r;
    }
    ASSERT_FALSE(tabs.isNull());
    EXPECT_NEAR(tabs.center().x(), tiled.width() / 2, 2) << "the tab bar in the middle";
    savePng(settings, "layout-settings-tiled");

    delegate().showHelpSection(HelpSection::whatItDoes);
    auto* help = dynamic_cast<ui::QtWindow*>(delegate().helpWindow.get());
    ASSERT_NE(help, nullptr);
    QWidget& helpWidget = *help->widget();
    helpWidget.resize(tiled);
    settle();
    int right = 0;
    for (auto* area : scrollAreas(helpWidget))
        right = std::max(right, rectIn(helpWidget, *area).right());
    EXPECT_GE(right, tiled.width() - 2) << "the page reaches the window's right edge";
    savePng(helpWidget, "layout-help-tiled");
}

}  // namespace
}  // namespace orvel
