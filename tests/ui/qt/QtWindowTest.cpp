#include "ui/qt/QtWindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <string>
#include <vector>

#include "QtUiTest.h"
#include "platform/UserDefaults.h"
#include "ui/qt/KeySequence.h"
#include "ui/qt/SymbolSet.h"

namespace orvel::ui {
namespace {

class QtWindowTest : public test::QtUiTest {
  protected:
    std::unique_ptr<Window> makeWindow(std::shared_ptr<ViewComponent> content) {
        auto window = host().makeWindow();
        window->setTitle("Test");
        window->setContent(std::move(content));
        return window;
    }
};

class Static final : public ViewComponent {
  public:
    explicit Static(std::function<View()> make) : make_(std::move(make)) {}
    View body() override { return make_(); }

  private:
    std::function<View()> make_;
};

std::shared_ptr<ViewComponent> plain() {
    return std::make_shared<Static>([] { return Text("Hello").padding(20); });
}

TEST_F(QtWindowTest, AnAutosavedFrameIsRestoredAndSavedInTheUserDefaults) {
    UserDefaults& defaults = sim().userDefaults();
    defaults.setString("NSWindow Frame Settings", "100 120 500 400");
    auto window = makeWindow(plain());
    window->setFrameAutosaveName("Settings");
    window->makeKeyAndOrderFront();
    auto& qt = static_cast<QtWindow&>(*window);
    EXPECT_EQ(qt.widget()->geometry(), QRect(100, 120, 500, 400));

    qt.widget()->resize(520, 410);
    settle();
    EXPECT_EQ(defaults.stringForKey("NSWindow Frame Settings"), "100 120 520 410");
}

TEST_F(QtWindowTest, AnUnreadableSavedFrameIsIgnored) {
    const char* cases[] = {"", "1 2 3", "a b c d", "1 2 0 5", "1 2 -4 5"};
    for (const char* saved : cases) {
        sim().userDefaults().setString("NSWindow Frame Odd", saved);
        auto window = makeWindow(plain());
        window->setContentSize(300, 200);
        window->setFrameAutosaveName("Odd");
        window->makeKeyAndOrderFront();
        EXPECT_EQ(static_cast<QtWindow&>(*window).widget()->size(), QSize(300, 200)) << saved;
    }
}

TEST_F(QtWindowTest, TheWindowManagersCloseHidesTheWindowAndCallsOnCloseOnce) {
    auto window = makeWindow(plain());
    int closes = 0;
    window->onClose = [&] { ++closes; };
    window->makeKeyAndOrderFront();
    auto& qt = static_cast<QtWindow&>(*window);
    EXPECT_TRUE(window->isKey());
    EXPECT_TRUE(qt.viewHost()->isShown());
    qt.widget()->close();  // what the title bar's button sends
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(qt.viewHost(), nullptr) << "a hidden window's view disappears, tree and all";
    window->close();
    EXPECT_EQ(closes, 1);
    window->makeKeyAndOrderFront();
    EXPECT_TRUE(window->isVisible()) << "the window is kept for reuse";
}

TEST_F(QtWindowTest, AClosedWindowGivesBackItsWidgetsAndShowsTheSameContentAgain) {
    int evaluations = 0;
    std::string query, fruit = "apple";
    auto content = std::make_shared<Static>([&] {
        ++evaluations;
        return VStack({Text("Hello"), Text("again"),
                       SearchField("Search", {[&] { return query; },
                                              [&](const std::string& q) { query = q; }}),
                       Picker("Fruit",
                              {[&] { return fruit; }, [&](const std::string& f) { fruit = f; }},
                              {Label("Apple", "circle").tag("apple"),
                               Label("Pear", "square").tag("pear")})
                           .pickerStyle(PickerStyle::menu)})
            .padding(20);
    });
    auto window = makeWindow(content);
    window->setContentSize(300, 200);
    window->makeKeyAndOrderFront();
    settle();
    auto& qt = static_cast<QtWindow&>(*window);
    const auto labels = [&qt] { return qt.widget()->findChildren<QLabel*>().size(); };
    ASSERT_GE(labels(), 2);
    const QRect frame = qt.widget()->geometry();
    // Icons made anew at each opening would leave Qt's pixmap cache a key for good each time.
    const auto icons = [&qt] {
        std::vector<qint64> keys;
        for (auto* field : qt.widget()->findChildren<QLineEdit*>()) {
            keys.push_back(field->actions().front()->icon().cacheKey());
        }
        for (auto* combo : qt.widget()->findChildren<QComboBox*>()) {
            for (int i = 0; i < combo->count(); ++i) {
                keys.push_back(combo->itemIcon(i).cacheKey());
            }
        }
        return keys;
    };
    const std::vector<qint64> drawn = icons();
    ASSERT_EQ(drawn.size(), 3u);

    window->close();
    settle();
    EXPECT_EQ(labels(), 0) << "the widgets are gone";
    EXPECT_EQ(qt.widget()->windowHandle(), nullptr) << "and the native window";
    EXPECT_EQ(qt.viewHost(), nullptr) << "and the view tree";
    EXPECT_EQ(window->content(), content);

    const int before = evaluations;
    window->makeKeyAndOrderFront();
    settle();
    EXPECT_GE(labels(), 2);
    EXPECT_EQ(evaluations, before + 1) << "the kept content makes the tree again, once";
    EXPECT_EQ(qt.widget()->geometry(), frame);
    EXPECT_EQ(icons(), drawn) << "with the icons it drew before";
}

TEST_F(QtWindowTest, AFixedSizeWindowKeepsItsContentSizeWhenCentred) {
    auto window = makeWindow(plain());
    window->setStyle(kWindowTitled | kWindowClosable);
    window->setContentSize(360, 240);
    window->center();
    window->makeKeyAndOrderFront();
    QWidget* frame = static_cast<QtWindow&>(*window).widget();
    EXPECT_EQ(frame->size(), QSize(360, 240));
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize()) << "not resizable";
    const auto screen = host().mainScreenVisibleFrame();
    ASSERT_TRUE(screen);
    EXPECT_NEAR(frame->geometry().center().x(), screen->x + screen->width / 2, 2);
}

TEST_F(QtWindowTest, StyleAndLevelBecomeWindowFlags) {
    struct Case {
        unsigned style;
        WindowLevel level;
        Qt::WindowFlags present;
        Qt::WindowFlags absent;
    };
    const Case cases[] = {
        {kWindowTitled | kWindowClosable, WindowLevel::normal, Qt::WindowCloseButtonHint,
         Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint},
        {kWindowTitled | kWindowMiniaturizable, WindowLevel::floating,
         Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint, Qt::WindowCloseButtonHint},
        {0, WindowLevel::normal, Qt::FramelessWindowHint, Qt::WindowTitleHint},
    };
    for (const Case& c : cases) {
        auto window = makeWindow(plain());
        window->setStyle(c.style);
        window->setLevel(c.level);
        const Qt::WindowFlags flags = static_cast<QtWindow&>(*window).widget()->windowFlags();
        EXPECT_EQ(flags & c.present, c.present) << c.style;
        EXPECT_EQ(flags & c.absent, Qt::WindowFlags()) << c.style;
    }
}

TEST_F(QtWindowTest, RegularApplicationsGetTheMainMenuWithItsKeyEquivalents) {
    int about = 0, quit = 0;
    host().setMainMenu(
        {MenuBarItem{"Orvel",
                     std::nullopt,
                     nullptr,
                     true,
                     false,
                     {MenuBarItem{"About Orvel", std::nullopt, [&] { ++about; }},
                      MenuBarItem::divider(), MenuBarItem{"Hidden", std::nullopt, [] {}, false},
                      MenuBarItem{"Quit Orvel", KeyboardShortcut{"q"}, [&] { ++quit; }}}}});
    auto window = makeWindow(plain());
    window->makeKeyAndOrderFront();
    auto* bar = static_cast<QtWindow&>(*window).widget()->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisibleTo(static_cast<QtWindow&>(*window).widget()));
    ASSERT_EQ(bar->actions().size(), 1);
    QMenu* menu = bar->actions()[0]->menu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_FALSE(items[2]->isEnabled());
    EXPECT_EQ(items[3]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    items[0]->trigger();
    items[3]->trigger();
    EXPECT_EQ(about, 1);
    EXPECT_EQ(quit, 1);
    savePng(*static_cast<QtWindow&>(*window).widget(), "window-with-menu-bar");

    host().application().setActivationPolicy(ActivationPolicy::accessory);
    EXPECT_FALSE(bar->isVisibleTo(static_cast<QtWindow&>(*window).widget()))
        << "a tray-only application shows no menu bar";
    EXPECT_TRUE(static_cast<QtWindow&>(*window).widget()->windowFlags().testFlag(Qt::Tool));
}

TEST_F(QtWindowTest, TerminateTellsOnceAndEndsTheRunningLoop) {
    int told = 0;
    Subscription s = host().willTerminate.subscribe([&] { ++told; });
    Timer end = loop().after(0, [&] {
        host().application().terminate();
        host().application().terminate();
    });
    loop().run();
    EXPECT_EQ(told, 1);
}

TEST_F(QtWindowTest, ThePasteboardAndTheScreenComeFromTheDesktop) {
    host().pasteboard().setString("orvel report");
    EXPECT_EQ(host().pasteboard().string(), "orvel report");
    const auto frame = host().mainScreenVisibleFrame();
    ASSERT_TRUE(frame);
    EXPECT_GT(frame->width, 0);
    EXPECT_GT(frame->height, 0);
}

TEST_F(QtWindowTest, AScrollViewTellsWhenItsEndIsReached) {
    struct Case {
        int rows;
        bool endAtOnce;
    };
    for (const Case c : {Case{3, true}, Case{80, false}}) {
        int ends = 0;
        auto window = makeWindow(std::make_shared<Static>([&ends, c] {
            std::vector<View> rows;
            for (int i = 0; i < c.rows; ++i)
                rows.push_back(TextVerbatim("Line " + std::to_string(i)));
            return ScrollView(VStack(HAlign::leading, 4, rows))
                .onScrolledToEnd([&ends] { ++ends; })
                .frame(Frame::fixed(200, 160));
        }));
        window->makeKeyAndOrderFront();
        settle();
        ASSERT_TRUE(waitUntil([&] { return !c.endAtOnce || ends == 1; }));
        EXPECT_EQ(ends, c.endAtOnce ? 1 : 0) << c.rows << " rows";
        auto* area = static_cast<QtWindow&>(*window).widget()->findChild<QScrollArea*>();
        ASSERT_NE(area, nullptr);
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        EXPECT_EQ(ends, 1) << "once at the end, not again while it stays there";
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        EXPECT_EQ(ends, 1);
    }
}

TEST_F(QtWindowTest, EverySymbolTheViewsUseHasADrawingAndUnknownOnesAPlaceholder) {
    const char* names[] = {"cup.and.saucer",
                           "cup.and.saucer.fill",
                           "checkmark",
                           "checkmark.circle.fill",
                           "lock",
                           "lock.open",
                           "lock.fill",
                           "lock.shield",
                           "info.circle",
                           "exclamationmark.triangle",
                           "exclamationmark.circle.fill",
                           "chevron.up",
                           "chevron.down",
                           "chevron.right",
                           "doc.on.doc",
                           "terminal",
                           "text.badge.checkmark",
                           "wrench.and.screwdriver",
                           "moon.zzz",
                           "menubar.arrow.down.rectangle",
                           "figure.stand",
                           "bolt.circle",
                           "battery.75",
                           "arrow.clockwise",
                           "gear",
                           "keyboard",
                           "display",
                           "magnifyingglass",
                           "xmark",
                           "xmark.circle.fill",
                           "plus",
                           "minus",
                           "trash",
                           "pause.circle",
                           "play.circle",
                           "clock",
                           "calendar",
                           "wifi",
                           "network",
                           "antenna.radiowaves.left.and.right",
                           "externaldrive",
                           "internaldrive",
                           "questionmark.circle",
                           "power",
                           "app",
                           "slider.horizontal.3",
                           "circle",
                           "square",
                           "no.such.symbol"};
    constexpr int kColumns = 7, kCell = 96;
    const int count = static_cast<int>(std::size(names));
    QImage sheet(kColumns * kCell, (count + kColumns - 1) / kColumns * kCell,
                 QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (int i = 0; i < count; ++i) {
        const std::string name = names[i];
        const bool known = name != "no.such.symbol";
        EXPECT_EQ(SymbolSet::shared().has(name), known) << name;
        const QImage image = SymbolSet::shared().image(name, 32, Qt::black, 1.0);
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                inked += image.pixelColor(x, y).alpha() > 100 ? 1 : 0;
        EXPECT_GT(inked, 20) << name << " draws something";
        const QPoint cell(i % kColumns * kCell, i / kColumns * kCell);
        painter.drawImage(cell + QPoint(32, 16), image);
        painter.setPen(Qt::darkGray);
        QFont small = painter.font();
        small.setPixelSize(9);
        painter.setFont(small);
        painter.drawText(QRect(cell + QPoint(2, 56), QSize(kCell - 4, 36)),
                         Qt::AlignHCenter | Qt::AlignTop | Qt::TextWrapAnywhere,
                         QString::fromStdString(name));
    }
    painter.end();
    savePng(sheet, "symbols");
    SymbolSet::shared().has("no.such.symbol");
    int logged = 0;
    for (const LogRecord& r : sim().log().records()) {
        logged += r.message.find("no.such.symbol") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(logged, 1) << "an unknown name is logged once";
}

TEST_F(QtWindowTest, SymbolsAreReadFromTheFolderTheEnvironmentNames) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile drawing(folder.filePath("test.only.dot.svg"));
    ASSERT_TRUE(drawing.open(QIODevice::WriteOnly));
    drawing.write(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24">)"
                  R"(<circle cx="12" cy="12" r="6" fill="#000"/></svg>)");
    drawing.close();
    EXPECT_FALSE(QFile::exists(SymbolSet::directory() + "/test.only.dot.svg"));
    qputenv("ORVEL_ICONS_DIR", folder.path().toLocal8Bit());
    EXPECT_EQ(SymbolSet::directory(), folder.path());
    EXPECT_TRUE(SymbolSet::shared().has("test.only.dot"));
    qunsetenv("ORVEL_ICONS_DIR");
    EXPECT_TRUE(QFile::exists(SymbolSet::directory() + "/gear.svg"))
        << "without it, the build tree's own drawings";
}

// A shortcut written for people reads as Qt writes the keys the Qt host binds.
TEST(ShortcutTextTest, NamesTheKeysQtBinds) {
    const KeyboardShortcut cases[] = {
        {",", kModifierCommand},
        {"q", kModifierCommand},
        {"c", kModifierControl | kModifierOption | kModifierCommand},
        {"z", kModifierCommand | kModifierShift},
        {"h", kModifierCommand | kModifierOption},
        {"return", 0},
        {"escape", 0},
        {"delete", kModifierShift},
        {"tab", kModifierControl},
        {"space", kModifierOption},
    };
    for (const auto& shortcut : cases) {
        const std::string text = shortcutText(shortcut);
        const std::string qt =
            keySequence(shortcut).toString(QKeySequence::NativeText).toStdString();
        EXPECT_EQ(text, qt);
    }
    EXPECT_EQ(
        shortcutText({"z", kModifierControl | kModifierShift | kModifierOption | kModifierCommand}),
        "Meta+Ctrl+Alt+Shift+Z");
}

}  // namespace
}  // namespace orvel::ui
