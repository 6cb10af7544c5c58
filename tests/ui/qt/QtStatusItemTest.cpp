#include "ui/qt/QtStatusItem.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>

#include <xcb/xcb.h>

#include <array>
#include <cstring>

#include "QtUiTest.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtAlert.h"
#include "ui/qt/QtPopover.h"

namespace orvel::ui {
namespace {

class QtTrayTest : public test::QtUiTest {};

// The looks a session gives the tray: idle, running, and running under a rule's tint.
struct NamedLook {
    const char* name;
    StatusItemLook look;
};

std::vector<NamedLook> trayLooks() {
    StatusItemLook idle;
    idle.symbol = "cup.and.saucer";
    StatusItemLook active = idle;
    active.symbol = "cup.and.saucer.fill";
    StatusItemLook ruled = active;
    ruled.templateImage = false;
    ruled.tint = RGBA{0.69, 0.486, 0.31, 1.0};
    return {{"idle", idle}, {"active", active}, {"rule", ruled}};
}

const char* schemeName(ColorScheme scheme) {
    switch (scheme) {
        case ColorScheme::dark:
            return "dark";
        case ColorScheme::light:
            return "light";
        case ColorScheme::unknown:
            break;
    }
    return "unknown";
}

// A timed session's look with 59:59 left.
StatusItemLook timedLook(const std::string& toolTip) {
    StatusItemLook look;
    look.symbol = "cup.and.saucer.fill";
    look.accessibilityLabel = "Orvel";
    look.title = " 59:59";
    look.toolTip = toolTip;
    return look;
}

// The columns and rows of opaque pixels: how much of the square the symbol spans.
QRect inkBounds(const QImage& image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).alpha() > 128) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

TEST_F(QtTrayTest, ThePictureIsTheSymbolAloneFillingTheTraysSquare) {
    for (const NamedLook& l : trayLooks()) {
        StatusItemLook titled = l.look;
        titled.title = " 1:29:59";
        for (const int size : {16, 22, 32}) {
            const QImage image = QtStatusItem::render(l.look, ColorScheme::unknown, size);
            EXPECT_EQ(image.size(), QSize(size, size)) << l.name << " at " << size;
            EXPECT_EQ(QtStatusItem::render(titled, ColorScheme::unknown, size), image)
                << l.name << ": the title is never squeezed into the square";
            const QRect ink = inkBounds(image);
            EXPECT_GE(ink.width(), size * 8 / 10) << l.name << " at " << size;
        }
    }
}

TEST_F(QtTrayTest, EveryLookReadsOnABlackAndOnAWhitePanel) {
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    constexpr int kStrip = 22;
    const auto looks = trayLooks();
    for (const ColorScheme scheme : {ColorScheme::unknown, ColorScheme::dark, ColorScheme::light}) {
        // Two 22-pixel strips, black over white, with each look side by side: what a person
        // checks by eye (and, four times larger, can see).
        QImage strips(kStrip * int(looks.size()), 2 * kStrip, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&strips);
        p.fillRect(0, 0, strips.width(), kStrip, black);
        p.fillRect(0, kStrip, strips.width(), kStrip, white);
        for (std::size_t i = 0; i < looks.size(); ++i) {
            const QImage image = QtStatusItem::render(looks[i].look, scheme, kStrip);
            p.drawImage(QPoint(int(i) * kStrip, 0), image);
            p.drawImage(QPoint(int(i) * kStrip, kStrip), image);
            for (const QColor& panel : {black, white}) {
                const double ratio = legibleContrast(image, panel);
                EXPECT_GE(ratio, 4.5) << looks[i].name << ", scheme " << schemeName(scheme)
                                      << ", on " << panel.name().toStdString();
                std::printf("tray %s, scheme %s, on %s: %.1f:1\n", looks[i].name,
                            schemeName(scheme), panel.name().toStdString().c_str(), ratio);
            }
        }
        p.end();
        const std::string name = std::string("tray-strips-") + schemeName(scheme);
        savePng(strips, name);
        savePng(strips.scaled(strips.size() * 4), name + "-x4");
    }

    // The desktop's scheme chooses the fill; a rule's copper stays copper.
    const QImage lightScheme = QtStatusItem::render(looks[1].look, ColorScheme::light, kStrip);
    const QImage darkScheme = QtStatusItem::render(looks[1].look, ColorScheme::dark, kStrip);
    EXPECT_GT(pixelsNear(lightScheme, QColor(0x1A, 0x1A, 0x1A)),
              pixelsNear(lightScheme, QColor(0xF2, 0xF2, 0xF2)));
    EXPECT_GT(pixelsNear(darkScheme, QColor(0xF2, 0xF2, 0xF2)),
              pixelsNear(darkScheme, QColor(0x1A, 0x1A, 0x1A)));
    EXPECT_EQ(QtStatusItem::render(looks[1].look, ColorScheme::unknown, kStrip), darkScheme)
        << "an unknown scheme draws the light symbol most panels need";
    EXPECT_GT(pixelsNear(QtStatusItem::render(looks[2].look, ColorScheme::light, kStrip),
                         QColor(176, 124, 79)),
              20);
}

TEST_F(QtTrayTest, WithoutASystemTrayTheItemHasNoButtonButKeepsItsLook) {
    QtStatusItem item(&sim().desktopSettings());
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
    QtStatusItem item(&sim().desktopSettings());
    StatusItemLook look = timedLook("/usr/bin/caffeinate -t 3599");
    item.setLook(look);
    EXPECT_EQ(item.redraws(), 1);
    const QImage first = item.image();
    EXPECT_EQ(item.toolTip().toStdString(), "Orvel — 59:59\n/usr/bin/caffeinate -t 3599")
        << "the tool tip carries the title the picture has no room for";

    struct Change {
        const char* what;
        void (*apply)(StatusItemLook&);
        bool redraws;
    };
    const Change changes[] = {
        {"title", [](StatusItemLook& l) { l.title = " 59:58"; }, false},
        {"accessibility value", [](StatusItemLook& l) { l.accessibilityValue = "Active"; }, false},
        {"font", [](StatusItemLook& l) { l.font = Font::system(13); }, false},
        {"symbol", [](StatusItemLook& l) { l.symbol = "cup.and.saucer"; }, true},
        {"tint",
         [](StatusItemLook& l) {
             l.tint = RGBA{0.69, 0.486, 0.31, 1.0};
         },
         true},
    };
    int expected = 1;
    for (const Change& change : changes) {
        change.apply(look);
        item.setLook(look);
        expected += change.redraws ? 1 : 0;
        EXPECT_EQ(item.redraws(), expected) << change.what;
    }
    EXPECT_EQ(item.toolTip().toStdString(), "Orvel — 59:58\n/usr/bin/caffeinate -t 3599");
    EXPECT_NE(item.image(), first);

    look.title.clear();
    look.tint.reset();
    item.setLook(look);
    EXPECT_EQ(item.toolTip().toStdString(), "/usr/bin/caffeinate -t 3599");

    // The desktop turning light draws the template symbol dark, without a new look.
    const QImage before = item.image();
    const int drawn = item.redraws();
    sim().desktopSettings().setColorScheme(ColorScheme::light);
    EXPECT_EQ(item.redraws(), drawn + 1);
    EXPECT_NE(item.image(), before);
    EXPECT_EQ(item.image(), QtStatusItem::render(look, ColorScheme::light, 22));
}

TEST_F(QtTrayTest, AToolTipAboutToShowAsksForTheTimeLeftFirst) {
    QtStatusItem item(&sim().desktopSettings());
    StatusItemLook look = timedLook("Orvel \u2014 idle sleep prevented");
    item.setLook(look);
    EXPECT_FALSE(item.asksForToolTip()) << "the offscreen platform has no X11 tray window";

    int asked = 0;
    item.onToolTip = [&] {
        ++asked;
        look.title = " 58:40";
        item.setLook(look);
    };
    // What Qt's X11 tray window sends the tray icon before it shows the tip.
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&item.trayIcon(), &enter);
    EXPECT_EQ(asked, 0) << "only a tool tip asks";
    QHelpEvent tip(QEvent::ToolTip, QPoint(4, 4), QPoint(4, 4));
    QApplication::sendEvent(&item.trayIcon(), &tip);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(item.toolTip().toStdString(), "Orvel \u2014 58:40\nOrvel \u2014 idle sleep prevented")
        << "the tool tip Qt then shows has the time asked for";
}

// A button event of the X server on a window, as the X11 platform hands it to native filters.
xcb_button_press_event_t buttonOn(std::uint8_t type, std::uint32_t window, int button,
                                  std::uint32_t time, std::uint16_t state = 0) {
    xcb_button_press_event_t event{};
    event.response_type = type;
    event.time = time;
    event.detail = static_cast<xcb_button_t>(button);
    event.event = window;
    event.state = state;
    return event;
}

// The same as an X Input 2 event (what Qt asks the server for where it can), laid out as the
// protocol has it: event type at byte 8, time at 12, button at 16, window at 24, effective
// modifiers at 76.
std::array<std::uint8_t, 96> inputOn(std::uint8_t opcode, std::uint16_t type, std::uint32_t window,
                                     int button, std::uint32_t time, std::uint32_t mods = 0) {
    std::array<std::uint8_t, 96> bytes{};
    bytes[0] = XCB_GE_GENERIC;
    bytes[1] = opcode;
    std::memcpy(&bytes[8], &type, 2);
    std::memcpy(&bytes[12], &time, 4);
    const std::uint32_t detail = static_cast<std::uint32_t>(button);
    std::memcpy(&bytes[16], &detail, 4);
    std::memcpy(&bytes[24], &window, 4);
    std::memcpy(&bytes[76], &mods, 4);
    return bytes;
}

TEST_F(QtTrayTest, OnlyTheLeftAndRightButtonsClickAndEachClickOfADoubleClickCounts) {
    QtStatusItem item(&sim().desktopSettings());
    std::vector<std::string> clicks;
    item.onClick = [&](std::optional<StatusItemClick> click) {
        std::string name = click && click->rightButton ? "right" : "left";
        if (click && (click->modifiers & kModifierControl)) {
            name += "+control";
        }
        clicks.push_back(name);
    };
    constexpr std::uint32_t kTray = 0x2a00007;
    constexpr std::uint8_t kXInput = 131;
    constexpr std::uint16_t kInputPress = 4;
    constexpr std::uint16_t kInputRelease = 5;
    TrayButtonFilter& filter = item.buttonFilter();
    filter.isTrayWindow = [](std::uint32_t window) { return window == kTray; };
    filter.xinputOpcode = kXInput;
    // Each click is answered after Qt has handled the event itself.
    auto send = [&](const void* event, const char* type = "xcb_generic_event_t",
                    bool keptFromQt = false) {
        qintptr result = 0;
        const std::size_t before = clicks.size();
        EXPECT_EQ(filter.nativeEventFilter(type, const_cast<void*>(event), &result), keptFromQt)
            << "Qt sees every event but a second report of one it had";
        EXPECT_EQ(clicks.size(), before) << "not inside the event's own handling";
        QCoreApplication::sendPostedEvents();
    };
    // The server's clock: each event gets a moment of its own unless told otherwise.
    std::uint32_t now = 1000;
    auto press = [&](std::uint32_t window, int button) {
        const auto event = buttonOn(XCB_BUTTON_PRESS, window, button, ++now);
        send(&event);
    };
    auto release = [&](std::uint32_t window, int button, std::uint16_t state = 0) {
        const auto event = buttonOn(XCB_BUTTON_RELEASE, window, button, ++now, state);
        send(&event);
    };

    press(kTray, 1);
    EXPECT_TRUE(clicks.empty()) << "a press is not a click";
    release(kTray, 1);
    for (const int button : {2, 3, 1, 1, 4}) {  // the two lefts are a double click
        press(kTray, button);
        release(kTray, button);
    }
    press(kTray + 1, 1);
    release(kTray + 1, 1);
    press(kTray, 1);
    release(kTray, 1, XCB_MOD_MASK_CONTROL);
    // The press that closed an open panel went to the panel: its release is no click.
    release(kTray, 3);
    // One another client sent (the high bit set) counts too: some trays pass clicks on so.
    auto synthetic = buttonOn(XCB_BUTTON_PRESS | 0x80, kTray, 3, ++now);
    send(&synthetic);
    synthetic.response_type = XCB_BUTTON_RELEASE | 0x80;
    synthetic.time = ++now;
    send(&synthetic);
    const auto other = buttonOn(XCB_BUTTON_RELEASE, kTray, 1, ++now);
    send(&other, "windows_generic_MSG");
    EXPECT_EQ(clicks,
              (std::vector<std::string>{"left", "right", "left", "left", "left+control", "right"}))
        << "a middle click, the wheel, other windows and other event kinds do nothing";

    // Through X Input 2, also when each event comes twice (both ways in either order, or each
    // pair whole before the other, as one report per device): one click each, and Qt gets
    // only the first report (a second press would close the panel the click opened).
    clicks.clear();
    for (const int button : {1, 2, 3}) {
        const std::uint32_t down = ++now;
        const std::uint32_t up = ++now;
        const auto inputPress = inputOn(kXInput, kInputPress, kTray, button, down);
        const auto inputRelease = inputOn(kXInput, kInputRelease, kTray, button, up);
        const auto corePress = buttonOn(XCB_BUTTON_PRESS, kTray, button, down);
        const auto coreRelease = buttonOn(XCB_BUTTON_RELEASE, kTray, button, up);
        if (button == 3) {
            send(inputPress.data());
            send(inputRelease.data());
            send(&corePress, "xcb_generic_event_t", true);
            send(&coreRelease, "xcb_generic_event_t", true);
        } else {
            send(inputPress.data());
            send(&corePress, "xcb_generic_event_t", true);
            send(&coreRelease);
            send(inputRelease.data(), "xcb_generic_event_t", true);
        }
    }
    const auto controlPress = inputOn(kXInput, kInputPress, kTray, 3, ++now);
    send(controlPress.data());
    const auto controlRelease =
        inputOn(kXInput, kInputRelease, kTray, 3, ++now, XCB_MOD_MASK_CONTROL);
    send(controlRelease.data());
    const auto foreignPress = inputOn(kXInput + 1, kInputPress, kTray, 1, ++now);
    send(foreignPress.data());
    const auto foreignRelease = inputOn(kXInput + 1, kInputRelease, kTray, 1, ++now);
    send(foreignRelease.data());
    EXPECT_EQ(clicks, (std::vector<std::string>{"left", "right", "right+control"}));

    // Where Qt reports the clicks itself (a tray on the bus), its reasons route the same way.
    clicks.clear();
    for (auto reason :
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Context,
          QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Unknown}) {
        Q_EMIT item.trayIcon().activated(reason);
    }
    EXPECT_EQ(clicks, (std::vector<std::string>{"left", "right", "left"}));
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
