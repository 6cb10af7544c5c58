// The application's own windows drawn by the Qt host, checked through their widgets and written
// to PNG for a person to look at.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "QtUiTest.h"
#include "app/AppDelegate.h"
#include "app/compose/Services.h"
#include "automations/ApplicationChooser.h"
#include "automations/AutomationsAndTriggersView.h"
#include "automations/ScheduleSettingsView.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "devices/DeviceState.h"
#include "help/EULAGate.h"
#include "help/HelpBlocks.h"
#include "help/HelpView.h"
#include "menubar/MenuView.h"
#include "menubar/StatusItemController.h"
#include "platform/Platform.h"
#include "settings/SettingsTransfer.h"
#include "settings/SettingsView.h"
#include "support/OrvelTest.h"
#include "triggers/PowerTriggerCenter.h"
#include "triggers/TriggerEngine.h"
#include "triggers/WakeHelperClient.h"
#include "ui/Host.h"
#include "ui/Inspector.h"
#include "ui/ViewComponent.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtAlert.h"
#include "ui/qt/QtPopover.h"
#include "ui/qt/QtStatusItem.h"
#include "ui/qt/QtWindow.h"
#include "ui/qt/SwitchWidget.h"
#include "ui/qt/render/Metrics.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

class AppPicturesTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        // Beside the pictures and named by the test, so a path a page shows is the same each run.
        root_ = (std::filesystem::path(ORVEL_PNG_DIR).parent_path() / "app-pictures" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())
                    .string();
        fs::remove_all(root_);
        sim().paths().setRoot(root_);
        fs::create_directories(sim().paths().resourcesDirectory());
        fs::copy_file(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md",
                      sim().paths().resourcesDirectory() + "/eula-1.0-draft.md");
        test::installHelpPages(sim().paths());
    }
    void TearDown() override {
        // The services' windows and items go while the host they belong to still exists.
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
        fs::remove_all(root_);
    }

    static QAbstractButton* button(QWidget& window, const QString& text) {
        for (auto* b : window.findChildren<QAbstractButton*>()) {
            if (b->text() == text || b->accessibleName() == text) {
                return b;
            }
        }
        return nullptr;
    }

    // The visible window with this title, if any.
    ui::QtWindow* shown(const std::string& title) {
        for (ui::QtWindow* window : host().windows()) {
            if (window->title() == title && window->isVisible()) {
                return window;
            }
        }
        return nullptr;
    }

    std::string root_;
};

TEST_F(AppPicturesTest, TheAgreementWindowEnablesAgreeOnlyAtTheEndOfTheText) {
    auto gate = std::make_shared<EULAGate>(services().licenseAgreement());
    EULAGate::current() = gate;
    gate->show();
    auto* window = dynamic_cast<ui::QtWindow*>(gate->window());
    ASSERT_NE(window, nullptr);
    QWidget& widget = *window->widget();
    widget.resize(560, 640);
    savePng(widget, "agreement-before-scrolling");

    QAbstractButton* agree = button(widget, "Agree");
    ASSERT_NE(agree, nullptr);
    EXPECT_FALSE(agree->isEnabled());
    auto* area = widget.findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    QScrollBar* bar = area->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the text is longer than the window";

    bar->setValue(bar->maximum() - 7);
    settle();
    EXPECT_FALSE(gate->state().agreeEnabled()) << "7 points short is not the end";

    bar->setValue(bar->maximum() - 6);
    ASSERT_TRUE(waitUntil([&] { return button(widget, "Agree")->isEnabled(); }));
    settle();
    // The scroll range is the text's own height: the end shows the last lines, not blank space.
    const QWidget* content = area->widget()->findChild<QWidget*>();
    ASSERT_NE(content, nullptr);
    EXPECT_LE(area->widget()->height(), content->height() + 1);
    savePng(widget, "agreement-after-scrolling");
}

// The application as it runs in the Dock: each window from its row of the panel and from the
// menu bar every window carries, drawn for a person to look at.
TEST_F(AppPicturesTest, EveryWindowOpensFromThePanelAndTheMenuBar) {
    test::acceptAgreement(sim().paths());
    services().preferences().showInDock = true;
    services().preferences().customSeconds = 5400;
    AppDelegate delegate{services()};
    delegate.applicationDidFinishLaunching();
    settle();
    StatusItemController* item = StatusItemController::current();
    ASSERT_NE(item, nullptr);
    const auto closeAll = [this] {
        for (ui::QtWindow* window : host().windows()) {
            window->close();
        }
    };

    struct Row {
        const char* row;
        const char* title;
        const char* png;
    };
    const Row rows[] = {
        {"Settings\u2026", "Orvel Settings", "window-settings"},
        {"Help\u2026", "Orvel Help", "window-help"},
        {"About Orvel", "About Orvel", "window-about"},
        {"Custom\u2026", "Custom Duration", "window-custom-duration"},
    };
    auto* popover = dynamic_cast<ui::QtPopover*>(&item->popover());
    ASSERT_NE(popover, nullptr);
    const auto panel = std::make_shared<MenuView>(services().menuViewServices());
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        // The offscreen screen has no tray: the panel opens where the icon would be.
        if (!popover->hasContent()) {
            popover->setContent(panel);
        }
        popover->setContentSize(MenuView::width(panel->scale()), 560);
        popover->showAt(ui::Rect{900, 0, 24, 24});
        settle();
        ASSERT_TRUE(popover->isShown());
        ASSERT_TRUE(ui::Inspector(*popover->viewHost()).click(r.row));
        ASSERT_TRUE(waitUntil([&] { return shown(r.title) != nullptr; }));
        EXPECT_FALSE(popover->isShown()) << "the panel closes first";
        settle();
        savePng(*shown(r.title)->widget(), r.png);
        closeAll();
    }

    // Every titled window carries the same menu bar; the Settings window's serves, hidden or not.
    ASSERT_FALSE(host().windows().empty());
    QMenuBar* bar = nullptr;
    for (ui::QtWindow* window : host().windows()) {
        if (window->title() == "Orvel Settings") {
            bar = window->widget()->findChild<QMenuBar*>();
        }
    }
    ASSERT_NE(bar, nullptr);
    const auto action = [bar](const QString& menuTitle, const QString& itemTitle) -> QAction* {
        for (QAction* top : bar->actions()) {
            if (top->text() == menuTitle && top->menu() != nullptr) {
                for (QAction* entry : top->menu()->actions()) {
                    if (entry->text() == itemTitle) {
                        return entry;
                    }
                }
            }
        }
        return nullptr;
    };
    QStringList menus;
    for (QAction* top : bar->actions()) {
        menus << top->text();
    }
    EXPECT_EQ(menus, (QStringList{"Orvel", "Edit", "Window", "Help"}));
    struct Entry {
        const char* menu;
        const char* item;
        const char* title;
        QKeySequence key;
    };
    const Entry entries[] = {
        {"Orvel", "About Orvel", "About Orvel", QKeySequence()},
        {"Orvel", "Settings\u2026", "Orvel Settings", QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        {"Help", "Orvel Help", "Orvel Help", QKeySequence(Qt::CTRL | Qt::Key_Question)},
    };
    for (const auto& e : entries) {
        SCOPED_TRACE(e.item);
        QAction* entry = action(e.menu, QString::fromUtf8(e.item));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->shortcut(), e.key);
        entry->trigger();
        ASSERT_TRUE(waitUntil([&] { return shown(e.title) != nullptr; }));
        closeAll();
    }
    QAction* hide = action("Orvel", "Hide Orvel");
    ASSERT_NE(hide, nullptr);
    EXPECT_EQ(hide->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
    EXPECT_TRUE(hide->isEnabled());
    EXPECT_EQ(action("Orvel", "Hide Others"), nullptr);
    QAction* redo = action("Edit", "Redo");
    ASSERT_NE(redo, nullptr);
    EXPECT_EQ(redo->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));

    // The application menu as it drops down.
    delegate.openSettings();
    settle();
    QMenu* application = bar->actions().front()->menu();
    application->popup(shown("Orvel Settings")->widget()->mapToGlobal(QPoint(0, 0)));
    settle();
    savePng(*application, "menu-application");
    application->hide();
}

// Tray pictures are compared channel by channel (premultiplied) with this much room for
// antialiasing, and may differ beyond it in this share of their pixels.
constexpr int kChannelTolerance = 48;
constexpr double kStrayShare = 0.03;

// How many pixels of `image` differ from `reference` by more than the tolerance in a channel;
// every pixel when the sizes differ.
int differingPixels(const QImage& image, const QImage& reference) {
    const QImage a = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage b = reference.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (a.size() != b.size()) {
        return a.width() * a.height();
    }
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > kChannelTolerance ||
                std::abs(qGreen(p) - qGreen(q)) > kChannelTolerance ||
                std::abs(qBlue(p) - qBlue(q)) > kChannelTolerance ||
                std::abs(qAlpha(p) - qAlpha(q)) > kChannelTolerance) {
                ++count;
            }
        }
    }
    return count;
}

bool matches(const QImage& image, const QImage& reference) {
    return differingPixels(image, reference) <= kStrayShare * image.width() * image.height();
}

// Esc closes Help, About, Custom Duration and the panel; Ctrl+W closes every window and the
// panel. Both keys go to the control that has the focus, with and without a task-bar entry (the
// menu bar shown or not).
TEST_F(AppPicturesTest, EscapeAndCtrlWCloseTheWindowsWithAndWithoutATaskBarEntry) {
    test::acceptAgreement(sim().paths());
    const QKeyCombination esc(Qt::Key_Escape), ctrlW(Qt::CTRL | Qt::Key_W);
    const auto press = [ctrlW](QWidget& window, QKeyCombination key) {
        QWidget* target = window.focusWidget() != nullptr ? window.focusWidget() : &window;
        // With the character X11 gives Ctrl+W, which a control may take as typing.
        QKeyEvent event(QEvent::KeyPress, key.key(), key.keyboardModifiers(),
                        key == ctrlW ? QStringLiteral("\x17") : QString());
        QApplication::sendEvent(target, &event);
    };
    using Show = void (AppDelegate::*)();
    struct Case {
        const char* title;
        Show show;
        QKeyCombination key;
        bool closes;
        bool onComboBox = false;  // the focus left on a menu picker, as a choice in it leaves it
    };
    const Case cases[] = {
        {"Orvel Help", &AppDelegate::showHelp, esc, true},
        {"Orvel Help", &AppDelegate::showHelp, ctrlW, true},
        {"About Orvel", &AppDelegate::showAbout, esc, true},
        {"About Orvel", &AppDelegate::showAbout, ctrlW, true},
        {"Custom Duration", &AppDelegate::showCustomDuration, esc, true},
        {"Custom Duration", &AppDelegate::showCustomDuration, ctrlW, true},
        {"Orvel Settings", &AppDelegate::openSettings, ctrlW, true},
        {"Orvel Settings", &AppDelegate::openSettings, ctrlW, true, true},
        // Settings keeps Escape for its own controls.
        {"Orvel Settings", &AppDelegate::openSettings, esc, false},
    };
    for (const bool inTaskBar : {true, false}) {
        SCOPED_TRACE(inTaskBar ? "in the task bar" : "without a task-bar entry");
        services().preferences().showInDock = inTaskBar;
        {
            AppDelegate delegate{services()};
            delegate.applicationDidFinishLaunching();
            settle();
            ASSERT_EQ(host().application().activationPolicy(),
                      inTaskBar ? ActivationPolicy::regular : ActivationPolicy::accessory);
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(c.title) + (c.key == esc ? ", Esc" : ", Ctrl+W"));
                (delegate.*c.show)();
                settle();
                // Custom Duration is made anew each time and goes once closed: found by title.
                ui::QtWindow* window = shown(c.title);
                ASSERT_NE(window, nullptr);
                if (c.onComboBox) {
                    auto* combo = window->widget()->findChild<QComboBox*>();
                    ASSERT_NE(combo, nullptr);
                    combo->setFocus(Qt::PopupFocusReason);
                    ASSERT_EQ(window->widget()->focusWidget(), combo);
                }
                press(*window->widget(), c.key);
                settle();
                EXPECT_EQ(shown(c.title) == nullptr, c.closes);
                if (ui::QtWindow* left = shown(c.title)) {
                    left->close();
                }
            }

            StatusItemController* item = StatusItemController::current();
            ASSERT_NE(item, nullptr);
            auto* popover = dynamic_cast<ui::QtPopover*>(&item->popover());
            ASSERT_NE(popover, nullptr);
            for (const bool transient : {true, false}) {
                for (const QKeyCombination key : {esc, ctrlW}) {
                    SCOPED_TRACE(
                        std::string(transient ? "a transient panel" : "a panel that stays") +
                        (key == esc ? ", Esc" : ", Ctrl+W"));
                    popover->setTransient(transient);
                    popover->showAt(ui::Rect{900, 0, 24, 24});
                    settle();
                    ASSERT_TRUE(popover->isShown());
                    press(*popover->widget(), key);
                    settle();
                    EXPECT_FALSE(popover->isShown());
                }
            }
        }
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(AppPicturesTest, TheCustomDurationAndAboutWindows) {
    services().preferences().customSeconds = 5400;
    AppDelegate delegate{services()};
    delegate.showCustomDuration();
    delegate.showAbout();
    settle();
    for (auto [window, name] : {std::pair{delegate.customDurationWindow.get(), "custom-duration"},
                                std::pair{delegate.aboutWindow.get(), "about"}}) {
        auto* qt = dynamic_cast<ui::QtWindow*>(window);
        ASSERT_NE(qt, nullptr);
        EXPECT_GT(qt->widget()->width(), 200) << name;
        savePng(*qt->widget(), name);
    }
    QAbstractButton* start =
        button(*dynamic_cast<ui::QtWindow*>(delegate.customDurationWindow.get())->widget(),
               "Set and Start");
    EXPECT_NE(start, nullptr);
}

// Every window and page takes the desktop's colour scheme, also while it is open, and every text
// stands out from what is drawn behind it.
TEST_F(AppPicturesTest, ThePanelAndTheWindowsFollowTheDesktopsColourScheme) {
    services().preferences().customSeconds = 5400;
    AppDelegate delegate{services()};
    sim().desktopSettings().setColorScheme(ColorScheme::dark);
    auto panelWindow = host().makeWindow();
    panelWindow->setContent(std::make_shared<MenuView>(services().menuViewServices()));
    panelWindow->makeKeyAndOrderFront();
    TriggerRule nights;
    nights.name = "Nights";
    nights.source = TriggerSource::schedule;
    nights.schedKind = "window";
    nights.schedDays = std::vector<std::int64_t>{2, 3, 4, 5, 6};
    nights.schedStartMin = 1260;
    nights.schedEndMin = 420;
    services().triggerEngine().add(nights);
    auto schedule = std::make_shared<ScheduleSettingsView>(
        services().triggerEngine(), services().wakeHelper(), services().preferences(),
        Platform::current().network());
    schedule->expanded = {nights.id};
    auto scheduleWindow = host().makeWindow();
    scheduleWindow->setContentSize(680, 620);
    scheduleWindow->setContent(schedule);
    std::unique_ptr<ui::Window> chooser;
    auto gate = std::make_shared<EULAGate>(services().licenseAgreement());

    using Look = std::function<void(QWidget&)>;
    const auto widgetOf = [](ui::Window* window) -> QWidget& {
        return *dynamic_cast<ui::QtWindow&>(*window).widget();
    };
    const auto front = [&](ui::Window* window, const Look& look) {
        window->makeKeyAndOrderFront();
        settle();
        look(widgetOf(window));
    };
    // A modal dialog is looked at from inside its own loop, then dismissed.
    const auto inModal = [](std::function<QWidget*()> dialog, std::function<void()> dismiss,
                            const Look& look) {
        QTimer::singleShot(0, [=] {
            if (QWidget* shown = dialog()) {
                look(*shown);
            } else {
                ADD_FAILURE() << "no dialog shown";
            }
            dismiss();
        });
    };
    const auto settings = [&](std::int64_t tab, std::int64_t subTab = 0) {
        return [&, tab, subTab](const Look& look) {
            sim().userDefaults().setInteger(SettingsView::kTabKey, tab);
            sim().userDefaults().setInteger(SettingsView::kSubTabKey, subTab);
            delegate.openSettings();
            front(delegate.settingsWindow.get(), look);
        };
    };
    const auto help = [&](std::string query) {
        return [&, query](const Look& look) {
            delegate.showHelp();
            dynamic_cast<HelpView&>(*delegate.helpWindow->content()).query = query;
            front(delegate.helpWindow.get(), look);
        };
    };
    using AT = AutomationsAndTriggersView;
    const struct {
        const char* name;
        std::function<void(const Look&)> show;
    } windows[] = {
        {"panel",
         [&](const Look& look) {
             services().controller().stop(true);
             front(panelWindow.get(), look);
         }},
        {"panel-session",
         [&](const Look& look) {
             services().controller().startForSeconds(900);
             front(panelWindow.get(), look);
             services().controller().stop(true);
         }},
        {"settings-general", settings(SettingsView::kGeneralTab)},
        {"settings-triggers", settings(SettingsView::kAutomationsTab, AT::kTriggers)},
        {"settings-bluetooth", settings(SettingsView::kAutomationsTab, AT::kBluetooth)},
        {"settings-network", settings(SettingsView::kAutomationsTab, AT::kNetwork)},
        {"settings-battery", settings(SettingsView::kAutomationsTab, AT::kBattery)},
        {"settings-schedule", settings(SettingsView::kAutomationsTab, AT::kSchedule)},
        {"settings-apps", settings(SettingsView::kAutomationsTab, AT::kApps)},
        {"settings-devices", settings(SettingsView::kDevicesTab)},
        {"settings-drives", settings(SettingsView::kDrivesTab)},
        {"settings-advanced", settings(SettingsView::kAdvancedTab)},
        {"settings-troubleshooting", settings(SettingsView::kTroubleshootingTab)},
        {"help", help("")},
        {"help-search", help("sleep")},
        {"about",
         [&](const Look& look) {
             delegate.showAbout();
             front(delegate.aboutWindow.get(), look);
         }},
        {"custom-duration",
         [&](const Look& look) {
             delegate.showCustomDuration();
             front(delegate.customDurationWindow.get(), look);
         }},
        {"app-chooser",
         [&](const Look& look) {
             ApplicationChooser::present(
                 chooser, sim().workspace(), "Stay awake until this app quits", "Watch",
                 ApplicationChooser::filePanel(sim().workspace()), [](const std::string&) {});
             front(chooser.get(), look);
         }},
        {"agreement",
         [&](const Look& look) {
             gate->show();
             front(gate->window(), look);
         }},
        {"schedule-editor", [&](const Look& look) { front(scheduleWindow.get(), look); }},
        {"export",
         [&](const Look& look) {
             const auto fileDialog = [] {
                 QWidget* found = nullptr;
                 for (QWidget* top : QApplication::topLevelWidgets()) {
                     if (qobject_cast<QFileDialog*>(top) && top->isVisible())
                         found = top;
                 }
                 return found;
             };
             inModal(
                 [&, fileDialog] {
                     if (QWidget* dialog = fileDialog()) {
                         if (QAbstractButton* encrypt =
                                 button(*dialog, "Encrypt with a passphrase"))
                             encrypt->click();
                         settle();
                     }
                     return fileDialog();
                 },
                 [fileDialog] {
                     if (auto* dialog = qobject_cast<QDialog*>(fileDialog()))
                         dialog->reject();
                 },
                 look);
             SettingsTransfer::runExportPanel(services().settingsTransferOwners());
         }},
        {"alert",
         [&](const Look& look) {
             ui::AlertContent content;
             content.messageText = "Enter a passphrase";
             content.informativeText =
                 "\u201CEncrypt with a passphrase\u201D is ticked but the passphrase is empty. "
                 "Nothing was written.";
             content.buttons = {"OK", "Cancel"};
             content.checkbox = std::pair<std::string, bool>{"Do not ask again", false};
             const auto alert = host().makeAlert(content);
             auto* qt = dynamic_cast<ui::QtAlert*>(alert.get());
             ASSERT_NE(qt, nullptr);
             inModal(
                 [&, qt]() -> QWidget* {
                     settle();
                     return qt->dialog();
                 },
                 [qt] { qt->stopModal(ui::kAlertSecondButtonReturn); }, look);
             alert->runModal();
         }},
    };
    int switches = 0;
    // The scheme changes while the windows are open.
    for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
        const bool dark = scheme == ColorScheme::dark;
        sim().desktopSettings().setColorScheme(scheme);
        settle();
        EXPECT_EQ(host().isDarkAppearance(), dark);
        for (const auto& [name, show] : windows) {
            const std::string picture = std::string("scheme-") + name + (dark ? "-dark" : "-light");
            SCOPED_TRACE(picture);
            bool looked = false;
            show([&](QWidget& widget) {
                looked = true;
                const QImage image = savePng(widget, picture);
                EXPECT_EQ(image.pixelColor(1, 1).lightness() < 128, dark) << "the window's ground";
                int labels = 0;
                for (QWidget* label : widget.findChildren<QWidget*>()) {
                    // The words of labels and of buttons, check boxes included.
                    QString words;
                    if (auto* text = qobject_cast<QLabel*>(label)) {
                        words = text->text();
                    } else if (auto* button = qobject_cast<QAbstractButton*>(label)) {
                        words = button->text();
                    }
                    const QRect area(label->mapTo(&widget, QPoint(0, 0)), label->size());
                    if (words.isEmpty() || !label->isVisibleTo(&widget) || !label->isEnabled() ||
                        !image.rect().contains(area)) {
                        continue;
                    }
                    // What is behind a text is what most of its box shows, the shades of a
                    // button's gradient taken together.
                    std::map<QRgb, std::vector<QRgb>> seen;
                    for (int y = area.top(); y <= area.bottom(); ++y) {
                        for (int x = area.left(); x <= area.right(); ++x) {
                            seen[image.pixel(x, y) & 0xFFF0F0F0].push_back(image.pixel(x, y));
                        }
                    }
                    const auto& most =
                        std::max_element(seen.begin(), seen.end(), [](auto& a, auto& b) {
                            return a.second.size() < b.second.size();
                        })->second;
                    long r = 0, g = 0, b = 0;
                    for (const QRgb pixel : most) {
                        r += qRed(pixel);
                        g += qGreen(pixel);
                        b += qBlue(pixel);
                    }
                    const auto n = static_cast<long>(most.size());
                    const QColor ground(static_cast<int>(r / n), static_cast<int>(g / n),
                                        static_cast<int>(b / n));
                    const QColor text = label->palette().color(label->foregroundRole());
                    EXPECT_GE(contrast(text, ground), 4.5)
                        << words.left(40).toStdString() << ": " << text.name().toStdString()
                        << " on " << ground.name().toStdString();
                    ++labels;
                }
                EXPECT_GT(labels, 0);
                // A switch's track, on or off, stands at 3:1 against the ground around it, where
                // the fade over a scroll view's foot leaves it whole.
                QRegion faded;
                for (auto* fade : widget.findChildren<QWidget*>(ui::render::kMoreBelowName)) {
                    if (fade->isVisibleTo(&widget))
                        faded += QRect(fade->mapTo(&widget, QPoint(0, 0)), fade->size());
                }
                for (auto* toggle : widget.findChildren<ui::SwitchWidget*>()) {
                    const QRect area(toggle->mapTo(&widget, QPoint(0, 0)), toggle->size());
                    const QPoint beside(area.right() + 3, area.center().y());
                    if (!toggle->isVisibleTo(&widget) || !toggle->isEnabled() ||
                        !image.rect().contains(area) || !image.rect().contains(beside) ||
                        faded.intersects(area)) {
                        continue;
                    }
                    // The knob sits at the end the switch is turned to.
                    const QPoint track(toggle->isChecked() ? area.left() + 4 : area.right() - 4,
                                       area.center().y());
                    EXPECT_GE(contrast(image.pixelColor(track), image.pixelColor(beside)), 3.0)
                        << nameOf(*toggle).toStdString()
                        << (toggle->isChecked() ? " on: " : " off: ")
                        << image.pixelColor(track).name().toStdString() << " on "
                        << image.pixelColor(beside).name().toStdString();
                    ++switches;
                }
            });
            EXPECT_TRUE(looked);
        }
    }
    EXPECT_GT(switches, 0);
}

TEST_F(AppPicturesTest, HelpOnAcknowledgmentsAndWithASearchThatFindsNothing) {
    fs::copy(std::string(ORVEL_RESOURCES) + "/licenses",
             sim().paths().resourcesDirectory() + "/licenses");
    AppDelegate delegate{services()};
    delegate.showHelpSection(HelpSection::acknowledgments);
    auto* window = dynamic_cast<ui::QtWindow*>(delegate.helpWindow.get());
    ASSERT_NE(window, nullptr);
    auto* view = dynamic_cast<HelpView*>(window->content().get());
    ASSERT_TRUE(waitUntil([&] { return view->section() == HelpSection::acknowledgments; }));
    settle();
    QWidget& widget = *window->widget();
    EXPECT_GE(widget.width(), 820);
    EXPECT_GE(widget.height(), 560);
    // Each licence box holds its whole text, laid out in full and selectable with the mouse.
    int boxes = 0;
    for (auto* label : widget.findChildren<QLabel*>()) {
        if (!label->text().contains("Installed at:"))
            continue;
        ++boxes;
        EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        EXPECT_TRUE(label->wordWrap());
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    }
    EXPECT_GE(boxes, 5);
    savePng(widget, "help-acknowledgments");
    view->query = "wake sleep";
    ASSERT_TRUE(waitUntil([&] {
        for (auto* label : widget.findChildren<QLabel*>()) {
            if (label->isVisibleTo(&widget) &&
                label->text() == QString::fromStdString(helpSearchEmptyText("wake sleep")))
                return true;
        }
        return false;
    }));
    settle();
    savePng(widget, "help-search-nothing");
}

// Every kind of block a help page is made of, with all three marks of a permission row.
class BlockSampler final : public ui::ViewComponent {
  public:
    ui::View body() override {
        using namespace help;
        return ui::ScrollView(
            ui::VStack(ui::HAlign::leading, 14,
                       {
                           H{"A heading with `code`"},
                           P{"A paragraph with **bold**, *italic*, `code` and a "
                             "[link](https://orvel.example). It runs on long enough to wrap "
                             "onto a second line within the column of 620 points."},
                           Cmd{"pmset -g assertions | grep -i orvel",
                               "Lists what keeps the "
                               "machine awake."},
                           Cmd{"defaults delete orvel *", std::nullopt},
                           PermRow{"Disable the built-in keyboard", "Input Monitoring", true},
                           PermRow{"Disable the built-in trackpad and its gestures, which is a "
                                   "long feature name",
                                   "Accessibility", false},
                           PermRow{"Keep the display awake", "None", std::nullopt},
                           LossRow{"Accessibility",
                                   "The trackpad keeps working: *nothing* is "
                                   "blocked while a session runs."},
                           LossRow{"Input Monitoring and Accessibility together",
                                   "Neither the built-in keyboard nor the trackpad can be "
                                   "blocked, and the shortcut that ends a session while they "
                                   "are blocked has nothing to do."},
                       })
                .padding(28));
    }
};

TEST_F(AppPicturesTest, AHelpPageWithEveryBlockLinesUpItsTableColumns) {
    auto window = ui::UiHost::current().makeWindow();
    window->setContent(std::make_shared<BlockSampler>());
    window->setContentSize(720, 640);
    window->makeKeyAndOrderFront();
    settle();
    QWidget& widget = *dynamic_cast<ui::QtWindow&>(*window).widget();
    std::vector<int> columns;
    for (const char* permission : {"Input Monitoring", "Accessibility", "None"}) {
        for (auto* label : widget.findChildren<QLabel*>()) {
            if (label->text() == permission && label->isVisibleTo(&widget))
                columns.push_back(label->mapTo(&widget, QPoint(0, 0)).x());
        }
    }
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0], columns[1]);
    EXPECT_EQ(columns[1], columns[2]);
    // A long permission name and a long loss both wrap within their columns, whole.
    for (const char* start : {"Without Input Monitoring", "Neither the built-in"}) {
        QLabel* found = nullptr;
        for (auto* label : widget.findChildren<QLabel*>()) {
            if (label->text().contains(start) && label->isVisibleTo(&widget))
                found = label;
        }
        ASSERT_NE(found, nullptr) << start;
        EXPECT_TRUE(found->wordWrap()) << start;
        EXPECT_GE(found->height(), 2 * found->fontMetrics().lineSpacing()) << start;
        EXPECT_LE(found->mapTo(&widget, QPoint(found->width(), 0)).x(), 28 + 620) << start;
    }
    savePng(widget, "help-blocks");
}

TEST_F(AppPicturesTest, TheTrayIconInItsStates) {
    auto item = StatusItemController::make(services().statusItemServices());
    OrvelController& c = services().controller();
    struct Case {
        const char* name;
        std::function<void()> setUp;
    };
    const Case cases[] = {
        {"inactive", [&] { c.stop(true); }},
        {"active", [&] { c.start(); }},
        {"timed",
         [&] {
             c.stop(true);
             c.startForSeconds(5399);
         }},
        {"rule",
         [&] {
             c.stop(true);
             c.startFromTrigger("Office", UUID::random(), 0);
         }},
    };
    // The tray's own size: 22 points at twice the pixels.
    constexpr int kHeight = 22;
    constexpr double kScale = 2.0;
    const int square = static_cast<int>(kHeight * kScale);
    const struct {
        const char* name;
        ColorScheme scheme;
    } schemes[] = {{"unknown", ColorScheme::unknown}, {"light", ColorScheme::light}};
    std::map<std::string, QImage> pictures;
    for (const auto& k : cases) {
        k.setUp();
        if (std::string(k.name) == "timed") {
            EXPECT_EQ(item->currentLook().title, " 1:29:59") << "the title exists, for the tip";
        }
        for (const auto& s : schemes) {
            const std::string name = std::string(k.name) + "-" + s.name;
            const QImage image =
                ui::QtStatusItem::render(item->currentLook(), s.scheme, kHeight, kScale);
            ASSERT_EQ(image.size(), QSize(square, square)) << name << ": the symbol alone";
            savePng(image, "app-tray-" + name);
            pictures[name] = image;
            for (const QColor& panel : {QColor(Qt::black), QColor(Qt::white)}) {
                const std::string on = panel == Qt::black ? "black" : "white";
                savePng(onStrip(image, panel), "app-tray-" + name + "-on-" + on);
                EXPECT_GE(legibleContrast(image, panel), 4.5) << name << " on " << on;
            }
        }
    }

    // The symbols look as they were drawn when last checked by eye.
    const std::string folder = std::string(ORVEL_TEST_DATA) + "/app/";
    for (const auto& [name, image] : pictures) {
        const std::string path = folder + "tray-" + name + ".png";
        const QImage reference(QString::fromStdString(path));
        if (reference.isNull()) {
            fs::create_directories(folder);
            image.save(QString::fromStdString(folder + "tray-" + name + ".new.png"), "PNG");
            ADD_FAILURE() << "no reference picture " << path << "; wrote a .new.png to review";
            continue;
        }
        EXPECT_TRUE(matches(image, reference))
            << name << ": " << differingPixels(image, reference) << " pixels differ from " << path;
    }
    EXPECT_FALSE(matches(pictures["inactive-unknown"], pictures["active-unknown"]))
        << "the comparison tells the outlined cup from the filled one";

    // A rule's session is copper (sRGB 0.69, 0.486, 0.31) whatever the desktop's scheme; the
    // others take the scheme's text colour: light where it is unknown, dark on a light desktop,
    // outlined in the other.
    const QColor copper(176, 124, 79);
    const QColor darkText(0x1A, 0x1A, 0x1A);
    const QColor lightText(0xF2, 0xF2, 0xF2);
    for (const auto& s : schemes) {
        const std::string a = std::string("-") + s.name;
        const QColor fill = s.scheme == ColorScheme::light ? darkText : lightText;
        const QColor outline = s.scheme == ColorScheme::light ? lightText : darkText;
        EXPECT_GT(pixelsNear(pictures["active" + a], fill),
                  pixelsNear(pictures["inactive" + a], fill) * 3 / 2)
            << "a session fills the cup" << a;
        EXPECT_GT(pixelsNear(pictures["active" + a], fill),
                  pixelsNear(pictures["active" + a], outline))
            << a;
        EXPECT_GT(pixelsNear(pictures["inactive" + a], fill), 100) << a;
        EXPECT_GT(pixelsNear(pictures["inactive" + a], outline), 100) << a;
        EXPECT_EQ(pictures["timed" + a], pictures["active" + a])
            << "the remaining time is never drawn into the square" << a;
    }
    for (const auto& [name, image] : pictures) {
        EXPECT_EQ(pixelsNear(image, copper) > 20, name.rfind("rule", 0) == 0) << name;
    }
    EXPECT_TRUE(matches(pictures["rule-unknown"], pictures["rule-light"]));
}

TEST_F(AppPicturesTest, ThePanelDrawsTheSession) {
    services().controller().startForSeconds(900);
    auto window = host().makeWindow();
    window->setContent(std::make_shared<MenuView>(services().menuViewServices()));
    window->makeKeyAndOrderFront();
    auto* qt = dynamic_cast<ui::QtWindow*>(window.get());
    ASSERT_NE(qt, nullptr);
    settle();
    savePng(*qt->widget(), "app-panel");
    EXPECT_NE(button(*qt->widget(), "Quit Orvel"), nullptr);
}

// The whole panel in the states a person should look at, light and dark.
TEST_F(AppPicturesTest, ThePanelInItsStates) {
    // The services are made anew for every picture: reach them afresh each time.
    auto c = [this] { return &services().controller(); };
    struct Case {
        const char* name;
        std::function<void()> setUp;
    };
    const Case cases[] = {
        {"idle", [] {}},
        {"rule",
         [&] {
             services().triggerEngine().rules = std::vector<TriggerRule>{TriggerRule{}};
             c()->startFromTrigger("Office WiFi", UUID::random(), 3600);
             services().powerCenter().notice =
                 PowerTriggerCenter::Notice{"Resumes when the battery is back above 50 %.", 3};
         }},
        {"battery",
         [&] {
             sim().powerSources().setOnAC(false);
             SleepOptions options = c()->options();
             options.preventSystemSleep = true;
             c()->options = options;
             ASSERT_TRUE(waitUntil([&] { return !c()->isOnAC(); })) << "the power tick reads it";
         }},
        // A watch: "Make this a rule…" and its caption, for an application of a long name.
        {"watching",
         [&] {
             c()->watchApp(sim().workspace().launch(std::string("org.libreoffice.Writer"),
                                                    std::string("LibreOffice Writer")));
             ASSERT_TRUE(c()->isActive());
         }},
        {"scale-0.5", [this] { services().preferences().menuScale = 0.5; }},
        {"scale-2.0", [this] { services().preferences().menuScale = 2.0; }},
        // Without logind: the locks are refused and Orvel's caffeinate fails as it starts. Last,
        // as the machine keeps refusing.
        {"failed-start",
         [&] {
             services().preferences().menuScale = 1.0;
             sim().powerSources().setOnAC(true);
             sim().powerAssertions().refuseAll(kIOReturnUnsupported);
             ASSERT_TRUE(c()->start());
             sim().processes().lastChild()->exit(
                 1,
                 "caffeinate: Could not take a logind inhibitor lock: logind is not running on "
                 "this system.\n");
             ASSERT_TRUE(waitUntil([&] { return c()->failure().has_value(); }));
         }},
        // sway took the request and one output stayed on.
        {"display-still-on",
         [&] {
             sim().systemInfo().setWindowSystem(SystemInfo::WindowSystem::wayland);
             sim().displays().setCompositorSleep(CompositorSleep::sway);
             sim().displays().setSleepOutcome({{"HEADLESS-1"}, false});
             services().deviceState().sleepDisplaysNow();
             ASSERT_TRUE(waitUntil(
                 [&] { return services().deviceState().lastDisplaySleep().has_value(); }));
         }},
    };
    for (const auto& entry : cases) {
        for (const bool dark : {false, true}) {
            SCOPED_TRACE(std::string(entry.name) + (dark ? " dark" : " light"));
            releaseServices();
            ui::Appearance::apply(dark);
            entry.setUp();
            auto window = host().makeWindow();
            const auto panel = std::make_shared<MenuView>(services().menuViewServices());
            window->setContent(panel);
            window->makeKeyAndOrderFront();
            auto* qt = dynamic_cast<ui::QtWindow*>(window.get());
            ASSERT_NE(qt, nullptr);
            settle();
            QWidget& widget = *qt->widget();
            widget.resize(static_cast<int>(MenuView::width(panel->scale())),
                          static_cast<int>(MenuView::maxHeight()));
            settle();
            const QImage image =
                savePng(widget, std::string("panel-") + entry.name + (dark ? "-dark" : "-light"));
            EXPECT_NEAR(widget.width(), MenuView::width(panel->scale()), 1);
            EXPECT_NE(button(widget, "Quit Orvel"), nullptr);
            // The status line is whole: inside the panel and as tall as its lines.
            const QString status = QString::fromStdString(services().controller().statusText());
            QLabel* statusLine = nullptr;
            for (auto* label : widget.findChildren<QLabel*>()) {
                if (label->text() == status && label->isVisibleTo(&widget)) {
                    statusLine = label;
                }
            }
            ASSERT_NE(statusLine, nullptr);
            EXPECT_LE(statusLine->mapTo(&widget, QPoint(statusLine->width(), 0)).x(),
                      widget.width());
            EXPECT_GE(statusLine->height(), statusLine->heightForWidth(statusLine->width()));
            EXPECT_EQ(image.height(), static_cast<int>(MenuView::maxHeight()))
                << "the panel fills the height it may take";
            // The rest of the panel, scrolled to its end.
            auto* area = widget.findChild<QScrollArea*>();
            ASSERT_NE(area, nullptr);
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
            settle();
            const QImage end = savePng(
                widget, std::string("panel-") + entry.name + (dark ? "-dark" : "-light") + "-end");
            // The command line is drawn in its green for the appearance.
            const QColor green = dark ? QColor::fromRgbF(0.36f, 0.85f, 0.44f)
                                      : QColor::fromRgbF(0.06f, 0.42f, 0.16f);
            if (panel->scale() >= 1) {  // smaller text is all antialiasing
                EXPECT_GT(pixelsNear(end, green), 20);
            }
            window.reset();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    ui::Appearance::apply(false);
}

}  // namespace
}  // namespace orvel
