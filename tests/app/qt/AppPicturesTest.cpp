// The application's own windows drawn by the Qt host, checked through their widgets and written
// to PNG for a person to look at.

#include <QAbstractButton>
#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <filesystem>

#include "QtUiTest.h"
#include "core/OrvelController.h"
#include "core/Preferences.h"
#include "foundation/Registry.h"
#include "help/EULAGate.h"
#include "menubar/MenuView.h"
#include "menubar/StatusItemController.h"
#include "ui/qt/QtStatusItem.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

class AppPicturesTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        root_ = ::testing::TempDir() + "orvel-pictures-" + std::to_string(::getpid());
        fs::remove_all(root_);
        sim().paths().setRoot(root_);
        fs::create_directories(sim().paths().resourcesDirectory());
        fs::copy_file(std::string(ORVEL_RESOURCES) + "/eula-1.0-draft.md",
                      sim().paths().resourcesDirectory() + "/eula-1.0-draft.md");
    }
    void TearDown() override {
        // The services' windows and items go while the host they belong to still exists.
        Registry::reset();
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

    std::string root_;
};

TEST_F(AppPicturesTest, TheAgreementWindowEnablesAgreeOnlyAtTheEndOfTheText) {
    auto gate = std::make_shared<EULAGate>();
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

TEST_F(AppPicturesTest, TheTrayIconInItsStates) {
    auto item = StatusItemController::make();
    OrvelController& c = OrvelController::shared();
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
    for (const auto& k : cases) {
        k.setUp();
        for (bool dark : {false, true}) {
            const QImage image = ui::QtStatusItem::render(item->currentLook(), dark);
            EXPECT_FALSE(image.isNull());
            savePng(image, std::string("app-tray-") + k.name + (dark ? "-dark" : "-light"));
        }
    }
    c.stop(true);
    const QImage withoutTitle = ui::QtStatusItem::render(item->currentLook(), false);
    c.startForSeconds(5399);
    EXPECT_EQ(item->currentLook().title, " 1:29:59");
    EXPECT_GT(ui::QtStatusItem::render(item->currentLook(), false).width(), withoutTitle.width())
        << "the title is drawn into the image";
}

TEST_F(AppPicturesTest, ThePanelDrawsTheSession) {
    OrvelController::shared().startForSeconds(900);
    auto window = host().makeWindow();
    window->setContent(std::make_shared<MenuView>());
    window->makeKeyAndOrderFront();
    auto* qt = dynamic_cast<ui::QtWindow*>(window.get());
    ASSERT_NE(qt, nullptr);
    settle();
    savePng(*qt->widget(), "app-panel");
    EXPECT_NE(button(*qt->widget(), "Quit Orvel"), nullptr);
}

}  // namespace
}  // namespace orvel
