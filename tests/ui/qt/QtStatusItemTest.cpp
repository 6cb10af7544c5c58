#include "ui/qt/QtStatusItem.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>

#include "QtUiTest.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtAlert.h"
#include "ui/qt/QtPopover.h"

namespace orvel::ui {
namespace {

class QtTrayTest : public test::QtUiTest {};

TEST_F(QtTrayTest, TheTrayIconDrawsEachStateOfTheLook) {
    struct Case {
        const char* name;
        StatusItemLook look;
    };
    StatusItemLook inactive;
    inactive.symbol = "cup.and.saucer";
    StatusItemLook active = inactive;
    active.symbol = "cup.and.saucer.fill";
    StatusItemLook ruled = active;
    ruled.templateImage = false;
    ruled.tint = RGBA{0.95, 0.55, 0.05, 1};
    StatusItemLook timed = active;
    timed.title = "1:29:59";
    const Case cases[] = {
        {"inactive", inactive}, {"active", active}, {"tinted", ruled}, {"title", timed}};
    std::map<std::string, QImage> images;
    for (const Case& c : cases) {
        for (const bool dark : {false, true}) {
            // Drawn large enough to look at; the tray gets the same drawing at its own size.
            QImage image = QtStatusItem::render(c.look, dark, 22, 4.0);
            const std::string name = std::string("tray-") + c.name + (dark ? "-dark" : "-light");
            test::QtUiTest::savePng(image, name);
            images[name] = image;
        }
    }
    EXPECT_GT(opaquePixels(images["tray-active-light"]),
              opaquePixels(images["tray-inactive-light"]))
        << "the active symbol is filled";
    EXPECT_GT(pixelsNear(images["tray-tinted-light"], QColor::fromRgbF(0.95f, 0.55f, 0.05f)), 100)
        << "a rule's tint colours the symbol";
    EXPECT_EQ(pixelsNear(images["tray-active-light"], QColor::fromRgbF(0.95f, 0.55f, 0.05f)), 0);
    EXPECT_GT(images["tray-title-light"].width(), 2 * images["tray-active-light"].width())
        << "the title is drawn beside the symbol";
    EXPECT_GT(pixelsNear(images["tray-active-dark"], QColor(0xF2, 0xF2, 0xF2)), 100)
        << "a template symbol takes the light text of a dark panel";
    EXPECT_EQ(pixelsNear(images["tray-active-light"], QColor(0xF2, 0xF2, 0xF2)), 0);
}

TEST_F(QtTrayTest, WithoutASystemTrayTheItemHasNoButtonButKeepsItsLook) {
    QtStatusItem item;
    StatusItemLook look;
    look.symbol = "cup.and.saucer";
    look.toolTip = "Orvel";
    item.setLook(look);
    EXPECT_FALSE(item.hasButton()) << "the offscreen platform has no tray";
    EXPECT_EQ(item.look().toolTip, "Orvel");
    EXPECT_FALSE(item.image().isNull());
    const Rect anchor = item.anchorRect();
    EXPECT_GT(anchor.width, 0);
}

TEST_F(QtTrayTest, ThePictureIsDrawnAgainOnlyWhenWhatItShowsChanges) {
    QtStatusItem item;
    StatusItemLook look;
    look.symbol = "cup.and.saucer.fill";
    look.title = " 59:59";
    item.setLook(look);
    EXPECT_EQ(item.redraws(), 1);
    const QImage first = item.image();

    look.accessibilityValue = "Active";
    look.toolTip = "/usr/bin/caffeinate -t 3599";
    item.setLook(look);
    EXPECT_EQ(item.redraws(), 1) << "words the picture does not show";
    EXPECT_EQ(item.look().toolTip, "/usr/bin/caffeinate -t 3599");

    struct Change {
        const char* what;
        void (*apply)(StatusItemLook&);
    };
    const Change changes[] = {
        {"title", [](StatusItemLook& l) { l.title = " 59:58"; }},
        {"symbol", [](StatusItemLook& l) { l.symbol = "cup.and.saucer"; }},
        {"tint",
         [](StatusItemLook& l) {
             l.tint = RGBA{0.69, 0.486, 0.31, 1.0};
         }},
        {"font", [](StatusItemLook& l) { l.font = Font::system(13); }},
    };
    int expected = 1;
    for (const Change& change : changes) {
        change.apply(look);
        item.setLook(look);
        EXPECT_EQ(item.redraws(), ++expected) << change.what;
    }
    EXPECT_NE(item.image(), first);
}

TEST_F(QtTrayTest, OnlyTheLeftAndRightButtonsClickAndEachClickOfADoubleClickCounts) {
    QtStatusItem item;
    std::vector<std::string> clicks;
    item.onClick = [&](std::optional<StatusItemClick> click) {
        clicks.push_back(click && click->rightButton ? "right" : "left");
    };
    for (auto reason :
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Context,
          QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Unknown}) {
        Q_EMIT item.trayIcon().activated(reason);
    }
    EXPECT_EQ(clicks, (std::vector<std::string>{"left", "right", "left", "left"}))
        << "a middle click does nothing";
}

class Panel final : public ViewComponent {
  public:
    Published<bool> awake{*this, true};
    View body() override {
        return VStack(
                   HAlign::leading, 6,
                   {HStack({Image("cup.and.saucer.fill").font(Font::system(18)),
                            VStack(HAlign::leading, 1,
                                   {Text("Orvel").font(Font::style(TextStyle::headline)),
                                    TextVerbatim("Awake for 1:29:59")
                                        .font(Font::system(11).withMonospacedDigits())
                                        .foregroundStyle(Hierarchy::secondary)}),
                            Spacer(),
                            Toggle("Awake", Binding<bool>{[this] { return awake(); },
                                                          [this](const bool& v) { awake = v; }})
                                .labelsHidden()
                                .toggleStyle(ToggleStyle::switchStyle)}),
                    Divider(),
                    Button(HStack({Image("clock"), Text("For 1 hour")}), [] {})
                        .buttonStyle(MenuRowStyle{}),
                    Button(HStack({Image("moon.zzz"), Text("Until the machine sleeps")}), [] {})
                        .buttonStyle(MenuRowStyle{}),
                    Divider(),
                    HStack({Button("Settings…", [] {}).buttonStyle(StandardButtonStyle::borderless),
                            Spacer(),
                            Button("Quit", [] {}).buttonStyle(StandardButtonStyle::borderless)})})
            .padding(12)
            .frame(Frame::fixed(280));
    }
};

TEST_F(QtTrayTest, APopoverOpensUnderItsAnchorAndShowsItsPanel) {
    for (const bool dark : {false, true}) {
        Appearance::apply(dark);
        QtPopover popover;
        auto panel = std::make_shared<Panel>();
        popover.setContent(panel);
        popover.setTransient(true);
        const Rect anchor{600, 0, 24, 24};
        popover.showAt(anchor);
        EXPECT_TRUE(popover.isShown());
        EXPECT_TRUE(popover.viewHost()->isShown());
        const QRect g = popover.widget()->geometry();
        EXPECT_GE(g.top(), 24) << "under the icon";
        EXPECT_LT(std::abs(g.center().x() - 612), 3) << "centred on it";
        const QImage image = savePng(*popover.widget(), dark ? "popover-dark" : "popover-light");
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "rounded corners";
        popover.close();
        EXPECT_FALSE(popover.isShown());
        EXPECT_FALSE(popover.viewHost()->isShown()) << "a closed panel stops its view";
    }
}

TEST_F(QtTrayTest, APopoverOverATrayAtTheBottomOpensAboveIt) {
    QtPopover popover;
    popover.setContent(std::make_shared<Panel>());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const Rect anchor{600, double(screen.bottom() - 24), 24, 24};
    popover.showAt(anchor);
    EXPECT_LE(popover.widget()->geometry().bottom(), screen.bottom() - 24);
}

TEST_F(QtTrayTest, AnAlertAnswersWithItsButtonsAndCheckboxWhileDefaultTimersWait) {
    AlertContent request{AlertStyle::warning,
                         "Keep the built-in keyboard disabled?",
                         "It comes back on by itself when the session ends.",
                         {"Keep Disabled (3)", "Turn Back On"}};
    request.checkbox = std::make_pair(std::string("Don't ask again"), false);
    auto alert = std::make_shared<QtAlert>(request);
    bool defaultFired = false;
    Timer held = loop().after(0, [&] { defaultFired = true; });
    std::weak_ptr<QtAlert> weak = alert;
    Timer answer = loop().after(
        0,
        [&, weak] {
            auto a = weak.lock();
            ASSERT_TRUE(a && a->isRunning());
            a->setButtonTitle(0, "Keep Disabled (2)");
            savePng(*a->dialog(), "alert-checkbox");
            a->checkbox()->click();
            a->button(1)->click();
        },
        TimerMode::Common);
    EXPECT_EQ(alert->runModal(), kAlertSecondButtonReturn);
    EXPECT_FALSE(defaultFired) << "default-mode timers wait while the alert is up";
    EXPECT_TRUE(alert->checkboxState());
    EXPECT_EQ(alert->content().buttons[0], "Keep Disabled (2)");
    EXPECT_TRUE(waitUntil([&] { return defaultFired; }));
}

TEST_F(QtTrayTest, AnAlertsSecureFieldHandsBackWhatWasTyped) {
    AlertContent request{
        AlertStyle::informational, "Seal the settings file", "", {"Export", "Cancel"}};
    request.secureFieldPlaceholder = "Passphrase";
    auto alert = std::make_shared<QtAlert>(request);
    std::weak_ptr<QtAlert> weak = alert;
    Timer answer = loop().after(
        0,
        [weak, this] {
            auto a = weak.lock();
            ASSERT_TRUE(a);
            auto* field = a->dialog()->findChild<QLineEdit*>();
            ASSERT_NE(field, nullptr);
            EXPECT_EQ(field->echoMode(), QLineEdit::Password);
            field->setText("hunter2");
            savePng(*a->dialog(), "alert-secure-field");
            a->button(0)->click();
        },
        TimerMode::Common);
    EXPECT_EQ(alert->runModal(), kAlertFirstButtonReturn);
    EXPECT_EQ(alert->secureText(), "hunter2");
}

TEST_F(QtTrayTest, AnAlertStoppedFromATimerReturnsTheGivenResponse) {
    auto alert = std::make_shared<QtAlert>(AlertContent{AlertStyle::critical, "Stop?", "", {"OK"}});
    std::weak_ptr<QtAlert> weak = alert;
    Timer stop = loop().after(
        0,
        [weak] {
            if (auto a = weak.lock())
                a->stopModal(kModalResponseStop);
        },
        TimerMode::Common);
    EXPECT_EQ(alert->runModal(), kModalResponseStop);
    EXPECT_FALSE(alert->isRunning());
}

}  // namespace
}  // namespace orvel::ui
