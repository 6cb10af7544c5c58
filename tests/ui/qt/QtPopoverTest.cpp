#include "ui/qt/QtPopover.h"

#include <QApplication>
#include <QWindow>

#include <vector>

#include "QtUiTest.h"

namespace orvel::ui {
namespace {

class QtPopoverTest : public test::QtUiTest {};

class PanelContent final : public ViewComponent {
  public:
    View body() override {
        return VStack({Toggle("Orvel", Binding<bool>::constant(false)), Text("Panel")}).padding(10);
    }
};

TEST_F(QtPopoverTest, OnWaylandThePanelIsAFloatingWindowOfItsOwnThatClosesOnLosingTheFocus) {
    struct Case {
        const char* platform;
        bool transient;
        bool popup;
        bool closesOnFocusLoss;
    };
    const std::vector<Case> cases = {
        {"wayland", true, false, true},
        {"wayland-egl", true, false, true},
        {"wayland", false, false, false},
        {"xcb", true, true, false},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(c.platform) + (c.transient ? " transient" : "");
        QWidget other;
        other.setWindowTitle("Orvel Settings");
        other.resize(300, 200);
        other.show();
        other.activateWindow();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &other; })) << what;

        QtPopover popover{QString::fromLatin1(c.platform)};
        popover.setContent(std::make_shared<PanelContent>());
        popover.setTransient(c.transient);
        popover.setContentSize(320, 240);
        QWidget& panel = *popover.widget();
        EXPECT_EQ(panel.windowType() == Qt::Popup, c.popup) << what;
        // Tiling compositors float a window whose smallest and largest sizes are one.
        EXPECT_EQ(panel.minimumSize(), QSize(322, 242)) << what;
        EXPECT_EQ(panel.maximumSize(), panel.minimumSize()) << what;
        // Not the application's name alone, which the About window goes by.
        EXPECT_FALSE(panel.windowTitle().isEmpty()) << what;
        EXPECT_NE(panel.windowTitle(), QCoreApplication::applicationName()) << what;
        EXPECT_NE(panel.windowTitle(), QStringLiteral("Orvel")) << what;

        popover.showAt(Rect{100, 10, 0, 0});
        ASSERT_TRUE(waitUntil([&] { return popover.isShown(); })) << what;
        ASSERT_NE(panel.windowHandle(), nullptr) << what;
        EXPECT_EQ(panel.windowHandle()->transientParent(), nullptr) << what;
        if (c.popup) {
            continue;
        }
        popover.makeKey();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &panel; })) << what;

        // A click elsewhere takes the focus.
        other.activateWindow();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &other; })) << what;
        if (!c.closesOnFocusLoss) {
            EXPECT_TRUE(popover.isShown()) << what;
            continue;
        }
        EXPECT_TRUE(waitUntil([&] { return !popover.isShown(); })) << what;
        // The click was on the tray icon, which asks for the panel as it comes: it only closes.
        popover.showAt(Rect{100, 10, 0, 0});
        popover.makeKey();
        settle();
        EXPECT_FALSE(popover.isShown()) << what;
        EXPECT_EQ(QApplication::activeWindow(), &other) << what;
    }
}

TEST_F(QtPopoverTest, APanelClosedWithoutLosingTheFocusOpensAgainAtOnce) {
    QtPopover popover{QStringLiteral("wayland")};
    popover.setContent(std::make_shared<PanelContent>());
    popover.setTransient(true);
    popover.setContentSize(320, 240);
    for (int round = 0; round < 2; ++round) {
        popover.showAt(Rect{100, 10, 0, 0});
        ASSERT_TRUE(waitUntil([&] { return popover.isShown(); })) << round;
        popover.close();
        EXPECT_FALSE(popover.isShown()) << round;
    }
}

}  // namespace
}  // namespace orvel::ui
