// The Apps sub-tab and its rule editor drawn by the Qt host, checked through their widgets and
// written to PNG for a person to look at.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "QtUiTest.h"
#include "automations/AppsSettingsView.h"
#include "core/OrvelController.h"
#include "foundation/Registry.h"
#include "triggers/TriggerEngine.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

class AppsPicturesTest : public test::QtUiTest {
  protected:
    void TearDown() override {
        window_.reset();
        page_.reset();
        Registry::reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
    }
    QWidget& show(double height = 420) {
        page_ = std::make_shared<AppsSettingsView>(TriggerEngine::shared(),
                                                   OrvelController::shared(), sim().userDefaults(),
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
    TriggerEngine::shared().add(appRule("Editor"));
    QWidget& idle = show();
    ASSERT_TRUE(shows(idle, "Not running"));
    ASSERT_TRUE(shows(idle, "Choose App & Start\u2026"));
    savePng(idle, "apps-idle");

    const RunningApplication editor =
        sim().workspace().launch(std::string("org.example.Editor"), std::string("Text Editor"));
    OrvelController::shared().watchApp(editor);
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
    TriggerEngine::shared().add(fresh);
    TriggerEngine::shared().add(tray);
    QWidget& page = show(1000);
    page_->expanded = {fresh.id, tray.id};
    ASSERT_TRUE(shows(page, "Choose\u2026"));
    ASSERT_TRUE(shows(page, "Sync Tray"));
    ASSERT_TRUE(shows(page, "Browse\u2026"));
    savePng(page, "apps-rules-open");
}

TEST_F(AppsPicturesTest, TheApplicationMenuListsWhatRunsWhenItOpens) {
    const TriggerRule rule = appRule("New app rule");
    TriggerEngine::shared().add(rule);
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
        return TriggerEngine::shared().rules().front().appBundleID == "org.example.Editor";
    }));
    EXPECT_TRUE(shows(page, "Text Editor"));
}

}  // namespace
}  // namespace orvel
