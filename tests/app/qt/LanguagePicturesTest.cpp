// Every window, every page of Settings and the panel in every language a catalogue ships, drawn
// by the Qt host with the real fonts for a person to look at (build/<preset>/png/language-*),
// and measured: a text cut short or lying past the edge of what holds it fails.

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QLabel>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextOption>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "QtUiTest.h"
#include "SettingsPages.h"
#include "app/AppDelegate.h"
#include "app/compose/Services.h"
#include "automations/AutomationsAndTriggersView.h"
#include "core/OrvelController.h"
#include "foundation/Localization.h"
#include "help/Contacts.h"
#include "help/EULAGate.h"
#include "menubar/MenuView.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsView.h"
#include "support/Catalogues.h"
#include "support/OrvelTest.h"
#include "ui/qt/QtWindow.h"
#include "ui/qt/SegmentedControl.h"
#include "ui/qt/TextLabel.h"

namespace orvel {
namespace {

// What a text needs, laid out as a label lays it out: on one line, or wrapped at `width`.
struct Needed {
    int width = 0;
    int height = 0;
};
Needed neededBy(const QLabel& label, int width) {
    QTextDocument document;
    document.setDefaultFont(label.font());
    document.setDocumentMargin(0);
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(label.wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
    document.setDefaultTextOption(option);
    if (label.textFormat() == Qt::RichText) {
        document.setHtml(label.text());
    } else {
        document.setPlainText(label.text());
    }
    document.setTextWidth(label.wordWrap() ? width : -1);
    // A word longer than the line stands out past it.
    return {static_cast<int>(
                std::ceil(label.wordWrap() ? document.idealWidth() : document.size().width())),
            static_cast<int>(std::ceil(document.size().height()))};
}

class LanguagePicturesTest : public test::QtUiTest,
                             public ::testing::WithParamInterface<std::string> {
  protected:
    void TearDown() override {
        closeAll();
        panel.reset();
        QtUiTest::TearDown();
    }
    void closeAll() {
        delegate.reset();
        EULAGate::current().reset();
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static std::string nameOf(const QWidget& widget) {
        if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
            return label->text().toStdString();
        }
        if (const auto* button = qobject_cast<const QAbstractButton*>(&widget);
            button != nullptr && !button->text().isEmpty()) {
            return button->text().toStdString();
        }
        return std::string(widget.metaObject()->className()) + " " +
               widget.accessibleName().toStdString();
    }
    // The texts drawn in less room than their words need, ended in "…" or with lines cut off,
    // and the segments of a bar too narrow for them.
    static std::vector<std::string> cutTexts(QWidget& window) {
        std::vector<std::string> cut;
        for (auto* label : window.findChildren<QLabel*>()) {
            if (!label->isVisibleTo(&window) || label->text().isEmpty()) {
                continue;
            }
            const QRect room = label->contentsRect();
            const Needed needed = neededBy(*label, room.width());
            const auto* text = qobject_cast<ui::TextLabel*>(label);
            if (needed.width > room.width() + 1 || needed.height > room.height() + 1 ||
                (text != nullptr && text->shownText() != text->text())) {
                cut.push_back(label->text().toStdString());
            }
        }
        for (auto* button : window.findChildren<QAbstractButton*>()) {
            if (button->isVisibleTo(&window) && !button->text().isEmpty() &&
                button->width() + 1 < button->sizeHint().width()) {
                cut.push_back(button->text().toStdString());
            }
        }
        for (auto* bar : window.findChildren<ui::SegmentedControl*>()) {
            if (bar->isVisibleTo(&window) && bar->width() + 1 < bar->sizeHint().width()) {
                for (const auto& segment : bar->segments()) {
                    cut.push_back(segment.title.toStdString());
                }
            }
        }
        return cut;
    }
    // The texts and controls that reach past the window or the box that holds them, where no one
    // can see or scroll to them (what scrolls keeps what lies beyond its view).
    static std::vector<std::string> pastTheEdge(QWidget& window) {
        std::vector<std::string> out;
        for (auto* widget : window.findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(&window) || widget->isWindow() ||
                (!qobject_cast<QLabel*>(widget) && !qobject_cast<QAbstractButton*>(widget) &&
                 !qobject_cast<ui::SegmentedControl*>(widget))) {
                continue;
            }
            // Up to a scroll view's port the holder must show all of it; past it, only what
            // does not scroll.
            const QRect own(widget->mapTo(&window, QPoint(0, 0)), widget->size());
            bool scrollsDown = false, scrollsSideways = false;
            for (QWidget* up = widget->parentWidget(); up != nullptr; up = up->parentWidget()) {
                if (auto* area = qobject_cast<QAbstractScrollArea*>(up->parentWidget());
                    area != nullptr && area->viewport() == up) {
                    scrollsDown = true;
                    scrollsSideways =
                        scrollsSideways || area->horizontalScrollBar()->isVisibleTo(&window);
                }
                const QRect holder(up->mapTo(&window, QPoint(0, 0)), up->size());
                const bool across =
                    own.left() < holder.left() - 1 || own.right() > holder.right() + 1;
                const bool down =
                    own.top() < holder.top() - 1 || own.bottom() > holder.bottom() + 1;
                if ((across && !scrollsSideways) || (down && !scrollsDown)) {
                    out.push_back(nameOf(*widget));
                    break;
                }
                if (up == &window) {
                    break;
                }
            }
        }
        return out;
    }
    static bool showsText(QWidget& window, const std::string& text) {
        for (auto* label : window.findChildren<QLabel*>()) {
            if (label->isVisibleTo(&window) && label->text().toStdString() == text) {
                return true;
            }
        }
        return false;
    }
    static int leftOf(QWidget& window, const std::string& text) {
        for (auto* label : window.findChildren<QLabel*>()) {
            if (label->isVisibleTo(&window) && label->text().toStdString() == text) {
                return label->mapTo(&window, QPoint(0, 0)).x();
            }
        }
        return -1;
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
    QWidget& show(ui::Window* window) {
        auto* qt = dynamic_cast<ui::QtWindow*>(window);
        EXPECT_NE(qt, nullptr);
        settle();
        return *qt->widget();
    }
    // Draws the window and measures each of its texts.
    void look(QWidget& window, const std::string& place) {
        SCOPED_TRACE(place);
        savePng(window, "language-" + GetParam() + "-" + place);
        EXPECT_EQ(cutTexts(window), std::vector<std::string>{});
        EXPECT_EQ(pastTheEdge(window), std::vector<std::string>{});
    }

    std::unique_ptr<ui::Window> panel;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_P(LanguagePicturesTest, EveryWindowAndThePanelShowEachTextWhole) {
    const std::string code = GetParam();
    const test::ScopedLanguage language(ORVEL_LOCALE, code);
    const std::string catalogue = std::string(ORVEL_LOCALE) + "/" + code + "/LC_MESSAGES/orvel.mo";
    ASSERT_EQ(::access(catalogue.c_str(), R_OK), 0) << "the build compiles every catalogue";
    const std::string quit = localized("Quit Orvel");
    EXPECT_NE(quit, "Quit Orvel");
    // The pages' files in a folder of this case's own.
    const auto root = std::filesystem::path(ORVEL_PNG_DIR).parent_path() / ("language-" + code);
    std::filesystem::remove_all(root);
    sim().paths().setRoot(root.string());
    test::installHelpPages(sim().paths());
    std::filesystem::copy_file(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md",
                               sim().paths().resourcesDirectory() + "/eula-1.0-draft.md");

    panel = host().makeWindow();
    const auto menu = std::make_shared<MenuView>(services().menuViewServices());
    panel->setContent(menu);
    panel->makeKeyAndOrderFront();
    QWidget& panelWidget = show(panel.get());
    panelWidget.resize(static_cast<int>(MenuView::width(menu->scale())),
                       static_cast<int>(MenuView::maxHeight()));
    settle();
    EXPECT_TRUE(hasButton(panelWidget, quit));
    look(panelWidget, "panel");
    // While a watch runs: "Make this a rule…" and its caption with the application's name.
    services().controller().watchApp(sim().workspace().launch(std::string("org.libreoffice.Writer"),
                                                              std::string("LibreOffice Writer")));
    ASSERT_TRUE(services().controller().isActive());
    settle();
    EXPECT_TRUE(showsText(panelWidget, localized("Make this a rule\u2026")));
    look(panelWidget, "panel-watching");
    services().controller().stop(true);
    panel.reset();

    delegate = std::make_unique<AppDelegate>(services());
    for (const test::SettingsPage& page : test::kSettingsPages) {
        sim().userDefaults().setInteger(AutomationsAndTriggersView::kSubTabKey, page.subTab);
        sim().userDefaults().setInteger(SettingsView::kTabKey, page.tab);
        delegate->openSettings();
        QWidget& settings = show(delegate->settingsWindow.get());
        EXPECT_EQ(delegate->settingsWindow->title(), localized("Orvel Settings"));
        look(settings, std::string("settings-") + page.name);
    }

    delegate->showHelp();
    look(show(delegate->helpWindow.get()), "help");
    delegate->showAbout();
    QWidget& about = show(delegate->aboutWindow.get());
    EXPECT_EQ(about.windowTitle().toStdString(), localized("About Orvel"));
    EXPECT_TRUE(hasButton(about, localized("Copy Diagnostics")));
    EXPECT_FALSE(showsText(about, "© 2026 Orvel Developers. Provided without warranty."));
    EXPECT_EQ(leftOf(about, kAuthorName),
              leftOf(about, localized(services().controller().engineName())))
        << "the values stand in one column, whatever their labels' length";
    EXPECT_EQ(leftOf(about, kAuthorName), leftOf(about, kSupportAddress));
    look(about, "about");
    delegate->showCustomDuration();
    look(show(delegate->customDurationWindow.get()), "custom-duration");
    const std::string editor = "/sim/applications/org.example.Editor.desktop";
    sim().workspace().install(editor, "org.example.Editor", "Text Editor");
    sim().workspace().launch(std::string("org.example.Editor"), std::string("Text Editor"),
                             ActivationPolicy::regular, editor);
    sim().workspace().install("/sim/applications/org.example.Mail.desktop", "org.example.Mail",
                              "Mail");
    delegate->chooseAppToWatch();
    QWidget& chooser = show(delegate->appChooserWindow.get());
    ASSERT_TRUE(waitUntil([&] { return showsText(chooser, "Mail"); }));
    settle();
    look(chooser, "app-chooser");

    auto gate = std::make_shared<EULAGate>(services().licenseAgreement());
    EULAGate::current() = gate;
    gate->show();
    look(show(gate->window()), "agreement");
}

INSTANTIATE_TEST_SUITE_P(EveryCatalogue, LanguagePicturesTest,
                         ::testing::ValuesIn(test::poLanguages(ORVEL_PO)),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

}  // namespace
}  // namespace orvel
