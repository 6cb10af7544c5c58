// The panel, the General tab and the Triggers sub-tab in German, Japanese and Finnish (long
// words, another script), drawn by the Qt host for a person to look at: build/<preset>/png.

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QLabel>
#include <QScrollBar>

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "QtUiTest.h"
#include "app/AppDelegate.h"
#include "app/compose/MenuBarServices.h"
#include "automations/AutomationsAndTriggersView.h"
#include "foundation/Localization.h"
#include "foundation/Registry.h"
#include "menubar/MenuView.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsView.h"
#include "support/Catalogues.h"
#include "ui/qt/QtWindow.h"
#include "ui/qt/SegmentedControl.h"

namespace orvel {
namespace {

class LanguagePicturesTest : public test::QtUiTest,
                             public ::testing::WithParamInterface<const char*> {
  protected:
    void TearDown() override {
        delegate.reset();
        panel.reset();
        Registry::reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }

    // The labels drawn narrower than their one line of words, and the segments of a bar too
    // narrow for them: texts cut short.
    static std::vector<std::string> cutLabels(QWidget& window) {
        std::vector<std::string> cut;
        for (auto* label : window.findChildren<QLabel*>()) {
            if (label->isVisibleTo(&window) && !label->wordWrap() && !label->text().isEmpty() &&
                label->width() + 1 < label->sizeHint().width()) {
                cut.push_back(label->text().toStdString());
            }
        }
        // A segmented bar narrower than its titles elides them.
        for (auto* bar : window.findChildren<ui::SegmentedControl*>()) {
            if (bar->isVisibleTo(&window) && bar->width() + 1 < bar->sizeHint().width()) {
                for (const auto& segment : bar->segments()) {
                    cut.push_back(segment.title.toStdString());
                }
            }
        }
        return cut;
    }
    // The controls and texts that reach past the window's right edge, where no one can see or
    // scroll to them (a box that scrolls sideways keeps what it scrolls).
    static std::vector<std::string> pastTheEdge(QWidget& window) {
        std::vector<std::string> out;
        for (auto* widget : window.findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(&window) || scrollsSideways(widget, window)) {
                continue;
            }
            const int right = widget->mapTo(&window, QPoint(widget->width(), 0)).x();
            if (right > window.width() + 1) {
                const auto* label = qobject_cast<QLabel*>(widget);
                out.push_back(
                    std::string(widget->metaObject()->className()) + " " +
                    (label ? label->text().toStdString() : widget->accessibleName().toStdString()));
            }
        }
        return out;
    }
    static bool scrollsSideways(QWidget* widget, QWidget& window) {
        for (QWidget* up = widget->parentWidget(); up != nullptr && up != &window;
             up = up->parentWidget()) {
            if (auto* area = qobject_cast<QAbstractScrollArea*>(up);
                area != nullptr && area->horizontalScrollBar()->isVisibleTo(&window)) {
                return true;
            }
        }
        return false;
    }
    static bool hasButton(QWidget& window, const std::string& text) {
        for (auto* b : window.findChildren<QAbstractButton*>()) {
            if (b->isVisibleTo(&window) &&
                (b->text().toStdString() == text || b->accessibleName().toStdString() == text)) {
                return true;
            }
        }
        return false;
    }
    QWidget& show(std::unique_ptr<ui::Window>& window) {
        auto* qt = dynamic_cast<ui::QtWindow*>(window.get());
        EXPECT_NE(qt, nullptr);
        settle();
        return *qt->widget();
    }

    std::unique_ptr<ui::Window> panel;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_P(LanguagePicturesTest, ThePanelTheGeneralTabAndTheTriggersSubTab) {
    const std::string code = GetParam();
    const test::ScopedLanguage language(ORVEL_LOCALE, code);
    // The pictures show whatever catalogue po/ holds for the language, English without one.
    const std::string catalogue = std::string(ORVEL_LOCALE) + "/" + code + "/LC_MESSAGES/orvel.mo";
    const bool translated = ::access(catalogue.c_str(), R_OK) == 0;
    const std::string quit = localized("Quit Orvel");
    EXPECT_EQ(quit != "Quit Orvel", translated) << quit;

    panel = host().makeWindow();
    const auto menu = std::make_shared<MenuView>(menuViewServices());
    panel->setContent(menu);
    panel->makeKeyAndOrderFront();
    QWidget& panelWidget = show(panel);
    panelWidget.resize(static_cast<int>(MenuView::width(menu->scale())),
                       static_cast<int>(MenuView::maxHeight()));
    settle();
    savePng(panelWidget, "language-" + code + "-panel");
    EXPECT_TRUE(hasButton(panelWidget, quit));
    EXPECT_EQ(cutLabels(panelWidget), std::vector<std::string>{});
    EXPECT_EQ(pastTheEdge(panelWidget), std::vector<std::string>{});

    delegate = std::make_unique<AppDelegate>();
    sim().userDefaults().setInteger(SettingsView::kTabKey, SettingsView::kGeneralTab);
    delegate->openSettings();
    QWidget& settings = show(delegate->settingsWindow);
    savePng(settings, "language-" + code + "-settings-general");
    EXPECT_EQ(delegate->settingsWindow->title(), localized("Orvel Settings"));
    EXPECT_EQ(cutLabels(settings), std::vector<std::string>{});
    EXPECT_EQ(pastTheEdge(settings), std::vector<std::string>{});

    sim().userDefaults().setInteger(AutomationsAndTriggersView::kSubTabKey,
                                    AutomationsAndTriggersView::kTriggers);
    sim().userDefaults().setInteger(SettingsView::kTabKey, SettingsView::kAutomationsTab);
    settle();
    savePng(settings, "language-" + code + "-settings-triggers");
    EXPECT_TRUE(hasButton(settings, localized("Enable triggers")) ||
                hasButton(settings, localized("Pause Triggers")))
        << "the Triggers sub-tab shows";
    EXPECT_EQ(cutLabels(settings), std::vector<std::string>{});
    EXPECT_EQ(pastTheEdge(settings), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(LongWordsAndOtherScripts, LanguagePicturesTest,
                         ::testing::Values("de", "ja", "fi"));

}  // namespace
}  // namespace orvel
