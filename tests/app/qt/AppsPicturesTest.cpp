// The Apps sub-tab and its rule editor drawn by the Qt host, checked through their widgets and
// written to PNG for a person to look at.

#include <unistd.h>
#include <QAbstractButton>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "QtUiTest.h"
#include "automations/ApplicationChooser.h"
#include "automations/AppsSettingsView.h"
#include "core/OrvelController.h"
#include "triggers/TriggerEngine.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

class AppsPicturesTest : public test::QtUiTest {
  protected:
    void TearDown() override {
        window_.reset();
        page_.reset();
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }
    QWidget& show(double height = 420) {
        page_ = std::make_shared<AppsSettingsView>(services().triggerEngine(),
                                                   services().controller(), sim().userDefaults(),
                                                   sim().workspace(), sim().network());
        window_ = host().makeWindow();
        window_->setTitle("Apps");
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
    static TriggerRule appRule(const std::string& name) {
        TriggerRule rule;
        rule.name = name;
        rule.source = TriggerSource::app;
        rule.onAppear = TriggerAction::startSession;
        rule.onClear = TriggerAction::endSession;
        return rule;
    }

    std::shared_ptr<AppsSettingsView> page_;

  private:
    std::unique_ptr<ui::Window> window_;
};

TEST_F(AppsPicturesTest, TheOneOffSectionIdleAndWatching) {
    services().triggerEngine().add(appRule("Editor"));
    QWidget& idle = show();
    ASSERT_TRUE(shows(idle, "Not running"));
    ASSERT_TRUE(shows(idle, "Choose App & Start\u2026"));
    savePng(idle, "apps-idle");

    const RunningApplication editor =
        sim().workspace().launch(std::string("org.example.Editor"), std::string("Text Editor"));
    services().controller().watchApp(editor);
    QWidget& watching = show();
    ASSERT_TRUE(shows(watching, "Watching Text Editor"));
    ASSERT_TRUE(shows(watching, "Make This a Rule\u2026"));
    savePng(watching, "apps-watching");
}

TEST_F(AppsPicturesTest, AnOpenNewRuleAndAnOpenRuleWatchingABackgroundApplication) {
    const TriggerRule fresh = appRule("New app rule");
    TriggerRule tray = appRule("Sync at work");
    tray.appName = "Sync Tray";
    tray.appBundleID = "org.example.SyncTray";
    tray.watchBackground = true;
    tray.onAppear = TriggerAction::endSession;
    tray.acOnly = true;
    services().triggerEngine().add(fresh);
    services().triggerEngine().add(tray);
    QWidget& page = show(1000);
    page_->expanded = {fresh.id, tray.id};
    ASSERT_TRUE(shows(page, "Choose\u2026"));
    ASSERT_TRUE(shows(page, "Sync Tray"));
    ASSERT_TRUE(shows(page, "Browse\u2026"));
    savePng(page, "apps-rules-open");
}

TEST_F(AppsPicturesTest, TheApplicationMenuListsWhatRunsWhenItOpens) {
    const TriggerRule rule = appRule("New app rule");
    services().triggerEngine().add(rule);
    QWidget& page = show(700);
    page_->expanded = {rule.id};
    ASSERT_TRUE(shows(page, "Choose\u2026"));
    QMenu* menu = nullptr;
    QAbstractButton* button = nullptr;
    for (auto* candidate : page.findChildren<QAbstractButton*>()) {
        if (candidate->accessibleName() == "Application") {
            button = candidate;
            menu = candidate->findChild<QMenu*>();
        }
    }
    ASSERT_TRUE(button && menu);
    EXPECT_TRUE(menu->actions().isEmpty()) << "nothing is listed before it opens";

    // Launched after the editor was drawn: the menu still lists it.
    sim().workspace().launch(std::string("org.example.Editor"), std::string("Text Editor"));
    button->click();
    ASSERT_TRUE(waitUntil([&] { return menu->actions().size() == 1; }));
    EXPECT_EQ(menu->actions()[0]->text(), "Text Editor");
    menu->actions()[0]->trigger();
    menu->close();
    ASSERT_TRUE(waitUntil([&] {
        return services().triggerEngine().rules().front().appBundleID == "org.example.Editor";
    }));
    EXPECT_TRUE(shows(page, "Text Editor"));
}

// An application's picture: a rounded square of its colour with its initial.
std::string drawIcon(const std::string& folder, const std::string& id, const QString& name,
                     QColor colour) {
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(34);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(4, 4, 56, 56), Qt::AlignCenter, name.left(1));
    painter.end();
    const std::string file = folder + "/" + id + ".png";
    image.save(QString::fromStdString(file));
    return file;
}

TEST_F(AppsPicturesTest, TheApplicationChooserWithRunningApplicationsFirstAndASearch) {
    const std::string folder =
        ::testing::TempDir() + "orvel-chooser-icons-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    const struct {
        const char* id;
        const char* name;
        QColor colour;  // invalid: no picture
        bool running;
    } apps[] = {
        {"org.example.Terminal", "Terminal", QColor(0x30, 0x30, 0x30), false},
        {"org.example.Editor", "Text Editor", QColor(0x2a, 0x7a, 0xd5), true},
        {"org.example.Browser", "Web Browser", QColor(0xe0, 0x6c, 0x1b), false},
        {"org.example.Calculator", "Calculator", QColor(0x4c, 0xa0, 0x4c), false},
        {"org.example.Eclair", "\u00C9clair Notes", QColor(0x9b, 0x4d, 0xca), false},
        {"org.example.Mail", "Mail", QColor(0xc0, 0x39, 0x2b), true},
        {"org.example.Legacy", "archive tool", QColor(), false},
    };
    for (const auto& app : apps) {
        const std::string url = "/sim/applications/" + std::string(app.id) + ".desktop";
        sim().workspace().install(
            url, app.id, app.name,
            app.colour.isValid() ? drawIcon(folder, app.id, QString::fromUtf8(app.name), app.colour)
                                 : "");
        if (app.running) {
            sim().workspace().launch(std::string(app.id), std::string(app.name),
                                     ActivationPolicy::regular, url);
        }
    }
    std::unique_ptr<ui::Window> window;
    std::vector<std::string> chosen;
    ApplicationChooser::present(window, sim().workspace(), "Stay awake until this app quits",
                                "Watch", ApplicationChooser::filePanel(sim().workspace()),
                                [&](const std::string& url) { chosen.push_back(url); });
    QWidget& widget = *static_cast<ui::QtWindow&>(*window).widget();
    ASSERT_TRUE(shows(widget, "Mail"));
    ASSERT_TRUE(shows(widget, "archive tool"));
    ASSERT_TRUE(shows(widget, "Running"));
    ASSERT_TRUE(shows(widget, "Other\u2026"));
    savePng(widget, "app-chooser");

    auto* chooser = dynamic_cast<ApplicationChooser*>(window->content().get());
    ASSERT_TRUE(chooser);
    chooser->query = "ed";
    ASSERT_TRUE(waitUntil([&] {
        for (auto* label : widget.findChildren<QLabel*>()) {
            if (label->text() == "Mail" && label->isVisibleTo(&widget))
                return false;
        }
        return true;
    }));
    ASSERT_TRUE(shows(widget, "Text Editor"));
    savePng(widget, "app-chooser-search");

    chooser->query = "";
    ASSERT_TRUE(shows(widget, "Mail"));
    ui::Appearance::apply(true);
    settle();
    savePng(widget, "app-chooser-dark");
    ui::Appearance::apply(false);
    window.reset();
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(chosen.empty());
}

}  // namespace
}  // namespace orvel
