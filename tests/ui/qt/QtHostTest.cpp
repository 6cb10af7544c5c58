#include "ui/qt/QtHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include "QtUiTest.h"
#include "support/Gallery.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtRenderer.h"
#include "ui/qt/QtWindow.h"
#include "ui/qt/SegmentedControl.h"

namespace orvel::ui {
namespace {

using test::Gallery;

class QtHostTest : public test::QtUiTest {};

template <class W>
W* findByText(QWidget& root, const QString& text) {
    for (W* w : root.findChildren<W*>()) {
        if constexpr (std::is_same_v<W, QLabel>) {
            if (w->text() == text)
                return w;
        } else if constexpr (std::is_same_v<W, QLineEdit>) {
            if (w->placeholderText() == text || w->accessibleName() == text)
                return w;
        } else {
            if (w->accessibleName() == text)
                return w;
        }
    }
    return nullptr;
}

TEST_F(QtHostTest, TheGalleryRendersBothTabsInTheLightAndDarkAppearances) {
    for (const bool dark : {false, true}) {
        Appearance::apply(dark);
        EXPECT_EQ(host().isDarkAppearance(), dark);
        auto gallery = std::make_shared<Gallery>();
        auto window = host().makeWindow();
        window->setTitle("Gallery");
        window->setContent(gallery);
        window->makeKeyAndOrderFront();
        auto& qt = static_cast<QtWindow&>(*window);
        const std::string look = dark ? "dark" : "light";

        const QImage controls = savePng(*qt.widget(), "gallery-" + look + "-controls");
        EXPECT_EQ(controls.width(), 480) << "the frame of the content decides the width";
        const QColor corner = controls.pixelColor(2, 2);
        EXPECT_EQ(corner, Appearance::named(NamedColor::windowBackground, QApplication::palette()));
        EXPECT_NE(findByText<QLabel>(*qt.widget(), "Engine"), nullptr);
        EXPECT_EQ(gallery->appeared, 1) << "showing the window shows its content";
        // The form scrolls inside its tab; its end shows the buttons, the menu and progress.
        settle();
        QScrollArea* form = nullptr;
        for (auto* area : qt.widget()->findChildren<QScrollArea*>()) {
            if (area->isVisibleTo(qt.widget()))
                form = area;
        }
        ASSERT_NE(form, nullptr);
        form->verticalScrollBar()->setValue(form->verticalScrollBar()->maximum());
        savePng(*qt.widget(), "gallery-" + look + "-controls-end");

        gallery->page = "shapes";
        ASSERT_TRUE(waitUntil([&] {
            auto* pages = qt.widget()->findChild<QStackedWidget*>();
            return pages && pages->currentIndex() == 1;
        }));
        savePng(*qt.widget(), "gallery-" + look + "-shapes");
        // The shapes page's one selectable text, the command line in monospace, is on screen.
        QLabel* selectable = nullptr;
        for (auto* label : qt.widget()->findChildren<QLabel*>()) {
            if (label->textInteractionFlags() & Qt::TextSelectableByMouse)
                selectable = label;
        }
        ASSERT_NE(selectable, nullptr);
        EXPECT_TRUE(selectable->isVisibleTo(qt.widget()));
        EXPECT_TRUE(QFontInfo(selectable->font()).fixedPitch());
        EXPECT_EQ(findByText<QLabel>(*qt.widget(), "Engine")->isVisibleTo(qt.widget()), false)
            << "the other page is hidden";
        window->close();
        EXPECT_EQ(gallery->disappeared, 1);
    }
}

// Kinds and styles the gallery does not show, on one page.
class Catalogue final : public ViewComponent {
  public:
    Published<std::string> flavour{*this, "dark"};
    Published<std::string> unmatched{*this, "none"};
    Published<bool> pinned{*this, true};
    Published<Date> when{*this, Date{789000000}};
    int taps = 0;

    template <class T>
    static Binding<T> bind(Published<T>& value) {
        return Binding<T>{[&value] { return value(); }, [&value](const T& v) { value = v; }};
    }

    View body() override {
        std::vector<std::string> drives = {"Backup", "Media", "Scratch"};
        return VStack(
                   HAlign::leading, 10,
                   {
                       HStack({Picker("Flavour", bind(flavour),
                                      {Label("Light", "circle").tag("light"),
                                       Text("Dark").tag("dark")}),
                               Picker("Nothing chosen", bind(unmatched),
                                      {Text("One").tag("1"), Text("Two").tag("2")})
                                   .pickerStyle(PickerStyle::segmented)}),
                       HStack({Button("Bordered", [] {}).buttonStyle(StandardButtonStyle::bordered),
                               Button("Link", [] {}).buttonStyle(StandardButtonStyle::link),
                               Button("Disabled", [] {}).disabled(),
                               Toggle("Pinned", bind(pinned)).toggleStyle(ToggleStyle::button),
                               Menu(Label("Actions", "gear"), {MenuItem{"Copy", [] {}}})
                                   .menuIndicatorHidden()}),
                       HStack({Toggle("Mini", bind(pinned)).controlSize(ControlSize::mini),
                               Toggle("Small", bind(pinned)).controlSize(ControlSize::small),
                               Toggle("Large", bind(pinned)).controlSize(ControlSize::large),
                               DatePicker("At", bind(when), kDateComponentHourMinute)}),
                       List({ForEach<std::string>(
                                drives, [](const std::string& d) { return d; },
                                [](const std::string& d) {
                                    return HStack(
                                        {Image("externaldrive").foregroundStyle(Color::accent()),
                                         TextVerbatim(d), Spacer(),
                                         TextVerbatim("Kept awake")
                                             .font(Font::system(11))
                                             .foregroundStyle(Hierarchy::secondary)});
                                })})
                           .frame(Frame::fixed(std::nullopt, 130)),
                       ZStack(Alignment::topTrailing(),
                              {ShapeFill(Shape::rounded(8),
                                         Color::named(NamedColor::blue).withOpacity(0.2))
                                   .frame(Frame::fixed(160, 56)),
                               Text("Badge")
                                   .font(Font::system(10, FontWeight::bold))
                                   .foregroundStyle(Color::named(NamedColor::white))
                                   .padding(EdgeInsets{2, 6, 2, 6})
                                   .background(Color::red(), Shape::capsule())
                                   .padding(4)}),
                       Text("Tap me, *quietly*")
                           .padding(8)
                           .background(Background{Material::popover, Shape::rounded(6)})
                           .onTapGesture([this] { ++taps; })
                           .help("A tooltip")
                           .accessibilityLabel("Tap target"),
                       Text("Faded").opacity(0.5),
                       ProgressView(0.7).controlSize(ControlSize::small).frame(Frame::fixed(200)),
                   })
            .padding(16)
            .frame(Frame::fixed(460));
    }
};

TEST_F(QtHostTest, KindsAndStylesBeyondTheGalleryRenderAndWork) {
    auto catalogue = std::make_shared<Catalogue>();
    auto window = host().makeWindow();
    window->setTitle("Catalogue");
    window->setContent(catalogue);
    window->makeKeyAndOrderFront();
    auto& qt = static_cast<QtWindow&>(*window);
    savePng(*qt.widget(), "catalogue-light");
    Appearance::apply(true);
    settle();
    const QImage dark = savePng(*qt.widget(), "catalogue-dark");
    EXPECT_EQ(dark.pixelColor(2, 2), Appearance::darkPalette().color(QPalette::Window))
        << "an open window follows a change of appearance";
    auto* label = findByText<QLabel>(*qt.widget(), "Flavour");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->palette().color(QPalette::WindowText),
              Appearance::darkPalette().color(QPalette::WindowText))
        << "and so do the colours the renderer chose";

    auto* segmented = qt.widget()->findChild<SegmentedControl*>();
    ASSERT_NE(segmented, nullptr);
    EXPECT_EQ(segmented->selectedIndex(), -1) << "a selection that matches no tag shows none";
    auto* combo = qt.widget()->findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentText(), "Dark");
    combo->setCurrentIndex(0);
    Q_EMIT combo->activated(0);
    EXPECT_EQ(catalogue->flavour(), "light");

    QWidget* target = nullptr;
    for (auto* w : qt.widget()->findChildren<QWidget*>()) {
        if (w->accessibleName() == "Tap target")
            target = w;
    }
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->toolTip(), "A tooltip");
    const QPoint inside(4, 4);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, target->mapToGlobal(inside),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
    EXPECT_EQ(catalogue->taps, 1);

    auto* date = qt.widget()->findChild<QDateTimeEdit*>();
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(date->dateTime().toSecsSinceEpoch(), static_cast<qint64>(Date{789000000}.unixTime()));
    date->setDateTime(date->dateTime().addSecs(3600));
    EXPECT_EQ(catalogue->when().secondsSinceReferenceDate, 789003600)
        << "Date counts seconds since 2001-01-01 UTC";
}

class Dialog final : public ViewComponent {
  public:
    std::string answer;
    View body() override {
        return HStack({Spacer(),
                       Button("Cancel", [this] { answer = "cancel"; })
                           .keyboardShortcut(KeyboardShortcut::cancelAction()),
                       Button("Save", [this] { answer = "save"; })
                           .keyboardShortcut(KeyboardShortcut::defaultAction())
                           .buttonStyle(StandardButtonStyle::borderedProminent)})
            .padding(16)
            .frame(Frame::fixed(320));
    }
};

TEST_F(QtHostTest, ReturnAndEscapePressTheDefaultAndCancelButtons) {
    struct Case {
        Qt::Key key;
        const char* answer;
    };
    for (const Case c : {Case{Qt::Key_Return, "save"}, Case{Qt::Key_Enter, "save"},
                         Case{Qt::Key_Escape, "cancel"}}) {
        auto dialog = std::make_shared<Dialog>();
        auto window = host().makeWindow();
        window->setContent(dialog);
        window->makeKeyAndOrderFront();
        auto& qt = static_cast<QtWindow&>(*window);
        QApplication::setActiveWindow(qt.widget());
        settle();
        QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, c.key, Qt::NoModifier);
        QApplication::sendEvent(qt.widget(), &press);
        QApplication::sendEvent(qt.widget(), &release);
        EXPECT_TRUE(waitUntil([&] { return !dialog->answer.empty(); }));
        EXPECT_EQ(dialog->answer, c.answer);
        savePng(*qt.widget(), "dialog-buttons");
    }
}

TEST_F(QtHostTest, KeysTypedInOrvelReachTheShortcutsLocalMonitorOnceAndATakenKeyGoesNoFurther) {
    std::vector<std::pair<std::uint16_t, std::uint64_t>> heard;
    auto monitor = sim().hotKeys().addLocalMonitor([&](const KeyPress& press) {
        heard.emplace_back(press.keyCode, press.modifierFlags);
        return press.keyCode == 8 && press.modifierFlags == 0x1C0000;
    });
    QLineEdit field;
    field.show();
    QApplication::setActiveWindow(&field);
    field.setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == &field; }));
    const Qt::KeyboardModifiers shortcut = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    QKeyEvent taken(QEvent::KeyPress, Qt::Key_C, shortcut, "c");
    QApplication::sendEvent(&field, &taken);
    EXPECT_EQ(field.text(), "") << "the shortcut's key never reaches the field";
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_C, Qt::ShiftModifier, "C");
    QApplication::sendEvent(&field, &typed);
    EXPECT_EQ(field.text(), "C");
    const std::vector<std::pair<std::uint16_t, std::uint64_t>> expected = {{8, 0x1C0000},
                                                                           {8, 0x20000}};
    EXPECT_EQ(heard, expected);
}

class Accessory final : public ViewComponent {
  public:
    Published<bool> seal{*this, true};
    View body() override {
        return Toggle("Seal with a passphrase",
                      Binding<bool>{[this] { return seal(); }, [this](const bool& v) { seal = v; }})
            .toggleStyle(ToggleStyle::checkbox)
            .padding(8);
    }
};

// Titles longer than the window has room for (a long word of another language): the bar stays
// inside its window, every segment in the bar and still clickable, its title elided.
TEST_F(QtHostTest, ASegmentedBarNarrowerThanItsTitlesSharesItsWidth) {
    QWidget window;
    window.setFixedWidth(300);
    auto* layout = new QHBoxLayout(&window);
    auto* bar = new SegmentedControl;
    layout->addWidget(bar);
    std::vector<SegmentedControl::Segment> segments;
    for (const char* title : {"Automatisierungen und Ausloeser", "Fehlerbehebung", "Laufwerke"}) {
        segments.push_back({title, {}, true});
    }
    bar->setSegments(segments);
    int picked = -1;
    bar->onActivated = [&picked](int index) { picked = index; };
    window.show();
    settle();
    ASSERT_GT(bar->sizeHint().width(), 300) << "the titles need more than the window";
    EXPECT_LE(bar->mapTo(&window, QPoint(bar->width(), 0)).x(), window.width());
    const QRectF last = bar->segmentRect(2);
    EXPECT_LE(last.right(), bar->width());
    SegmentedControl alone;
    alone.setSegments({segments[2]});
    EXPECT_DOUBLE_EQ(last.width(), alone.sizeHint().width() - 2)
        << "the long titles give way, the short one stays whole";
    QTest::mouseClick(bar, Qt::LeftButton, {}, last.center().toPoint());
    EXPECT_EQ(picked, 2);
}

TEST_F(QtHostTest, ASavePanelShowsItsTitlePromptTypesAndAccessory) {
    auto accessory = std::make_shared<Accessory>();
    // A folder of its own, so that the panel shows the same files on every machine.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QDir(folder.path()).mkdir("Archive");
    for (const char* name : {"Backup.orvelconfig", "Notes.txt"}) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString target = folder.filePath("Orvel Settings.orvelconfig");
    std::string seenTitle, seenAccept;
    QStringList seenFilters;
    bool accessoryShown = false;
    Timer answer = loop().after(
        0,
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                if (dialog == nullptr || !dialog->isVisible())
                    continue;
                seenTitle = dialog->windowTitle().toStdString();
                seenAccept = dialog->labelText(QFileDialog::Accept).toStdString();
                seenFilters = dialog->nameFilters();
                for (auto* box : dialog->findChildren<QCheckBox*>()) {
                    if (box->text() == "Seal with a passphrase" && box->isVisibleTo(dialog)) {
                        accessoryShown = true;
                        box->click();
                    }
                }
                dialog->resize(640, 420);
                savePng(*dialog, "save-panel");
                dialog->selectFile(target);
                QMetaObject::invokeMethod(dialog, "accept");
            }
        },
        TimerMode::Common);
    SavePanelOptions request{
        "Export Settings",          "Export", "", "Orvel Settings.orvelconfig", {"orvelconfig"},
        folder.path().toStdString()};
    request.accessory = accessory;
    const auto path = host().runSavePanel(request);
    EXPECT_EQ(path, target.toStdString());
    EXPECT_EQ(seenTitle, "Export Settings");
    EXPECT_EQ(seenAccept, "Export");
    EXPECT_EQ(seenFilters, QStringList{"*.orvelconfig"});
    EXPECT_TRUE(accessoryShown) << "the accessory view is drawn in the panel";
    EXPECT_FALSE(accessory->seal()) << "and works while the panel is up";
}

TEST_F(QtHostTest, AnOpenPanelChoosesFilesOrFoldersAndCancelsWithNothing) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QDir(folder.path()).mkdir("Archive");
    for (const char* name : {"Backup.orvelconfig", "Archive/Old.orvelconfig"}) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    struct Case {
        bool directories;
        QString choose;  // empty: cancel
        QFileDialog::FileMode mode;
        std::string asked;  // the folder asked for
        QString opensIn;
    };
    const std::string there = folder.path().toStdString();
    // Where nothing or no folder that exists is asked: the home folder, then the last one used,
    // never the program's working folder.
    const std::string nowhere = folder.filePath("gone").toStdString();
    const Case cases[] = {
        {false, QString(), QFileDialog::ExistingFile, "", QDir::homePath()},
        {false, QString(), QFileDialog::ExistingFile, nowhere, QDir::homePath()},
        {false, folder.filePath("Backup.orvelconfig"), QFileDialog::ExistingFile, there,
         folder.path()},
        {true, folder.filePath("Archive"), QFileDialog::Directory, there, folder.path()},
        {false, QString(), QFileDialog::ExistingFile, there, folder.path()},
        {false, folder.filePath("Archive/Old.orvelconfig"), QFileDialog::ExistingFile, "",
         folder.path()},
        {false, QString(), QFileDialog::ExistingFile, "", folder.filePath("Archive")},
        {false, QString(), QFileDialog::ExistingFile, nowhere, folder.filePath("Archive")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked + " " + c.choose.toStdString());
        QFileDialog::FileMode seenMode = QFileDialog::AnyFile;
        QString seenFolder;
        Timer answer = loop().after(
            0,
            [&] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    auto* dialog = qobject_cast<QFileDialog*>(w);
                    if (dialog == nullptr || !dialog->isVisible())
                        continue;
                    seenMode = dialog->fileMode();
                    seenFolder = dialog->directory().absolutePath();
                    if (c.choose.isEmpty()) {
                        QMetaObject::invokeMethod(dialog, "reject");
                    } else {
                        dialog->selectFile(c.choose);
                        QMetaObject::invokeMethod(dialog, "accept");
                    }
                }
            },
            TimerMode::Common);
        OpenPanelOptions request;
        request.title = "Import Settings";
        request.directory = c.asked;
        request.canChooseFiles = !c.directories;
        request.canChooseDirectories = c.directories;
        const auto chosen = host().runOpenPanel(request);
        EXPECT_EQ(seenMode, c.mode);
        EXPECT_EQ(seenFolder, QDir(c.opensIn).absolutePath());
        if (c.choose.isEmpty()) {
            EXPECT_EQ(chosen, std::nullopt);
        } else {
            EXPECT_EQ(chosen, std::vector<std::string>{c.choose.toStdString()});
        }
    }
}

class NameField final : public ViewComponent {
  public:
    Published<std::string> name{*this, ""};
    View body() override {
        return TextField("Name", Binding<std::string>{[this] { return name(); },
                                                      [this](const std::string& v) { name = v; }})
            .padding(16)
            .frame(Frame::fixed(320));
    }
};

TEST_F(QtHostTest, StandardActionsWorkOnTheFocusedFieldAndTheKeyWindow) {
    auto field = std::make_shared<NameField>();
    field->name = "Orvel";
    auto window = host().makeWindow();
    window->setTitle("Name");
    window->setContent(field);
    window->makeKeyAndOrderFront();
    auto& qt = static_cast<QtWindow&>(*window);
    QApplication::setActiveWindow(qt.widget());
    settle();
    QLineEdit* edit = findByText<QLineEdit>(*qt.widget(), "Name");
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == edit; }));
    ASSERT_EQ(edit->text(), "Orvel");

    struct Step {
        StandardAction action;
        const char* text;  // the field's text afterwards
    };
    const Step steps[] = {
        {StandardAction::selectAll, "Orvel"},
        {StandardAction::cut, ""},
        {StandardAction::undo, "Orvel"},
        {StandardAction::redo, ""},
        {StandardAction::paste, "Orvel"},
        {StandardAction::paste, "OrvelOrvel"},
        {StandardAction::selectAll, "OrvelOrvel"},
        {StandardAction::deleteSelection, ""},
        // Other applications are not ours to hide or show.
        {StandardAction::hideOthers, ""},
        {StandardAction::showAll, ""},
    };
    for (const auto& step : steps) {
        host().performStandardAction(step.action);
        EXPECT_EQ(edit->text().toStdString(), step.text) << static_cast<int>(step.action);
    }
    EXPECT_TRUE(window->isVisible());

    host().performStandardAction(StandardAction::close);
    EXPECT_FALSE(window->isVisible()) << "close goes to the key window";
}

}  // namespace
}  // namespace orvel::ui
