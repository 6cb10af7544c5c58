#include "ui/qt/QtRenderer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFontInfo>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <map>

#include "QtUiTest.h"
#include "foundation/DateFormatting.h"
#include "foundation/Published.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtWindow.h"
#include "ui/qt/SegmentedControl.h"
#include "ui/qt/SeparatorLine.h"
#include "ui/qt/StepperArrows.h"
#include "ui/qt/SwitchWidget.h"
#include "ui/qt/TextLabel.h"
#include "ui/qt/ViewButton.h"

namespace orvel::ui {
namespace {

// A service the views show and edit, as the program's own services are.
class Service final : public ObservableObject {
  public:
    Published<std::string> name{*this, "Orvel"};
    Published<bool> awake{*this, false};
    Published<std::vector<std::string>> rows{*this, {"a", "b", "c", "d"}};
    Published<std::int64_t> minutes{*this, 5};
    Published<bool> locked{*this, false};
};

template <class T>
Binding<T> bind(Published<T>& value) {
    return Binding<T>{[&value] { return value(); }, [&value](const T& v) { value = v; }};
}

class ServiceView final : public ViewComponent {
  public:
    ServiceView(Service& service, std::function<View(Service&)> make)
        : service_(service), make_(std::move(make)) {}
    View body() override { return make_(service_); }
    std::vector<ObservableObject*> observedObjects() override { return {&service_}; }

  private:
    Service& service_;
    std::function<View(Service&)> make_;
};

class QtRendererTest : public test::QtUiTest {
  protected:
    QtWindow& show(std::function<View(Service&)> make) {
        window_ = host().makeWindow();
        window_->setTitle("Test");
        window_->setContent(std::make_shared<ServiceView>(service, std::move(make)));
        window_->makeKeyAndOrderFront();
        settle();
        return static_cast<QtWindow&>(*window_);
    }
    // Waits for the re-evaluation that a change asked for, and its rendering.
    void turn(QtWindow& window) {
        const auto before = window.viewHost()->evaluationCount();
        ASSERT_TRUE(waitUntil([&] { return window.viewHost()->evaluationCount() > before; }));
        settle();
    }
    void TearDown() override {
        window_.reset();
        QtUiTest::TearDown();
    }
    template <class W>
    W* find(QtWindow& window, const QString& name) {
        // Widgets of nodes that are gone are hidden at once and deleted later.
        for (W* w : window.widget()->findChildren<W*>()) {
            if ((w->accessibleName() == name || w->objectName() == name) &&
                w->isVisibleTo(window.widget()))
                return w;
        }
        return nullptr;
    }
    static void type(QWidget* target, const QString& text) {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &press);
        }
    }

    Service service;

  private:
    std::unique_ptr<Window> window_;
};

TEST_F(QtRendererTest, ATextFieldKeepsItsCaretTextAndFocusWhileItsServiceRepublishes) {
    QtWindow& window = show([](Service& s) {
        return VStack({TextField("Name", bind(s.name)), TextVerbatim("Hello, " + s.name())});
    });
    auto* field = find<QLineEdit>(window, "Name");
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->end(false);
    type(field, "ix");
    EXPECT_EQ(service.name(), "Orvelix") << "each keystroke writes through the binding";
    turn(window);
    field->setCursorPosition(2);
    const std::uint64_t made = window.renderer()->widgetsCreated();

    service.name = service.name();  // the same value, published again
    turn(window);
    EXPECT_EQ(find<QLineEdit>(window, "Name"), field) << "the same widget, updated in place";
    EXPECT_EQ(field->text(), "Orvelix");
    EXPECT_EQ(field->cursorPosition(), 2);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(window.renderer()->widgetsCreated(), made) << "nothing was rebuilt";

    service.name = "Other";
    turn(window);
    EXPECT_EQ(field->text(), "Other") << "a new value from the service is shown";
    EXPECT_NE(window.widget()->findChild<QLabel*>(), nullptr);
}

TEST_F(QtRendererTest, ATextFieldReportsEachTimeTheKeyboardFocusLeavesIt) {
    int lost = 0;
    QtWindow& window = show([&lost](Service& s) {
        return VStack({TextField("Name", bind(s.name)).onFocusLost([&lost] { ++lost; }),
                       TextField("Other", bind(s.name))});
    });
    auto* name = find<QLineEdit>(window, "Name");
    auto* other = find<QLineEdit>(window, "Other");
    ASSERT_NE(name, nullptr);
    ASSERT_NE(other, nullptr);
    name->setFocus();
    ASSERT_TRUE(waitUntil([&] { return name->hasFocus(); }));
    EXPECT_EQ(lost, 0) << "gaining the focus is not losing it";
    other->setFocus();
    ASSERT_TRUE(waitUntil([&] { return lost == 1; }));
    name->setFocus();
    other->setFocus();
    ASSERT_TRUE(waitUntil([&] { return lost == 2; }));
}

// Controls disabled by their own modifier or by a container's, in a stack or in a form's rows,
// come back when it is lifted.
TEST_F(QtRendererTest, AControlDisabledAndEnabledAgainTakesInputAgain) {
    const auto controls = [](Service& s) {
        return std::vector<View>{
            Button("Go", [] {}),
            Toggle("Keep awake", bind(s.awake)),
            TextField("Name", bind(s.name)),
            Picker("Flavour", bind(s.name), {Text("Light").tag("light"), Text("Dark").tag("dark")}),
            Stepper(Text("Minutes"), Binding<double>::constant(5), 1, 10),
        };
    };
    const std::pair<const char*, std::function<View(Service&)>> ways[] = {
        {"its own modifier",
         [controls](Service& s) {
             std::vector<View> own;
             for (View& control : controls(s))
                 own.push_back(control.disabled(s.locked()));
             return VStack(std::move(own));
         }},
        {"a container's",
         [controls](Service& s) { return VStack(controls(s)).disabled(s.locked()); }},
        {"a form section's",
         [controls](Service& s) {
             return Form({Section(TextVerbatim("Rows"), controls(s)).disabled(s.locked())});
         }},
    };
    for (const auto& [what, make] : ways) {
        SCOPED_TRACE(what);
        service.locked = false;
        QtWindow& window = show(make);
        const auto enabledControls = [&window] {
            std::vector<bool> states;
            for (QWidget* w : window.widget()->findChildren<QWidget*>()) {
                if (w->isVisibleTo(window.widget()) &&
                    (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                     qobject_cast<QComboBox*>(w) || qobject_cast<StepperArrows*>(w)))
                    states.push_back(w->isEnabled());
            }
            return states;
        };
        ASSERT_EQ(enabledControls(), std::vector<bool>(5, true));
        service.locked = true;
        turn(window);
        EXPECT_EQ(enabledControls(), std::vector<bool>(5, false));
        service.locked = false;
        turn(window);
        EXPECT_EQ(enabledControls(), std::vector<bool>(5, true)) << "every control comes back";
    }
}

TEST_F(QtRendererTest, ATogglesWidgetReadsAndWritesItsServiceInEveryStyle) {
    for (const ToggleStyle style : {ToggleStyle::switchStyle, ToggleStyle::checkbox}) {
        service.awake = false;
        QtWindow& window = show(
            [style](Service& s) { return Toggle("Keep awake", bind(s.awake)).toggleStyle(style); });
        auto* toggle = find<QAbstractButton>(window, "Keep awake");
        ASSERT_NE(toggle, nullptr);
        EXPECT_EQ(dynamic_cast<SwitchWidget*>(toggle) != nullptr,
                  style == ToggleStyle::switchStyle);
        EXPECT_FALSE(toggle->isChecked());

        toggle->click();
        EXPECT_TRUE(service.awake()) << "a click writes the service";
        service.awake = false;
        EXPECT_TRUE(toggle->isChecked()) << "not before the loop turns";
        turn(window);
        EXPECT_FALSE(toggle->isChecked()) << "the widget shows what the service holds";
        service.awake = true;
        turn(window);
        EXPECT_TRUE(toggle->isChecked());
    }
}

TEST_F(QtRendererTest, AStepperWhoseRangeIsEmptyCollapsesToItsUpperEndAndWritesNothing) {
    int writes = 0;
    double value = 100;
    QtWindow& window = show([&](Service&) {
        return Stepper(Text("Recovery"),
                       Binding<double>{[&] { return value; },
                                       [&](const double& v) {
                                           value = v;
                                           ++writes;
                                       }},
                       121, 100);
    });
    auto* arrows = window.widget()->findChild<StepperArrows*>();
    ASSERT_NE(arrows, nullptr);
    arrows->onStep(1);
    arrows->onStep(-1);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(value, 100);
}

// An arrow that would leave the range is drawn disabled and does nothing, at either end and
// with a stored value beyond it; each step redraws both arrows.
TEST_F(QtRendererTest, AStepperDisablesTheArrowThatWouldLeaveItsRange) {
    struct Case {
        std::int64_t value;
        bool up, down;
    };
    const Case cases[] = {
        {5, true, true}, {10, false, true}, {1, true, false}, {12, false, true}, {0, true, false}};
    const auto stepper = [](Service& s) {
        return Stepper(
            Text("Minutes"),
            Binding<double>{[&s] { return static_cast<double>(s.minutes()); },
                            [&s](const double& v) { s.minutes = static_cast<std::int64_t>(v); }},
            1, 10);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        service.minutes = c.value;
        QtWindow& window = show(stepper);
        auto* arrows = window.widget()->findChild<StepperArrows*>();
        ASSERT_NE(arrows, nullptr);
        EXPECT_EQ(arrows->canStepUp(), c.up);
        EXPECT_EQ(arrows->canStepDown(), c.down);
    }

    service.minutes = 9;
    QtWindow& window = show(stepper);
    auto* arrows = window.widget()->findChild<StepperArrows*>();
    ASSERT_NE(arrows, nullptr);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(arrows, &up);
    turn(window);
    EXPECT_EQ(service.minutes(), 10);
    EXPECT_FALSE(arrows->canStepUp()) << "the up arrow goes off at the maximum";
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(arrows, &down);
    turn(window);
    EXPECT_EQ(service.minutes(), 9);
    EXPECT_TRUE(arrows->canStepUp()) << "and comes back below it";
}

// Tab goes in the order the tree reads, also through controls made later than those around
// them; a stepper beside a whole-number field is worked from the field, so Tab passes it by.
TEST_F(QtRendererTest, TabFollowsTheTreeWhateverOrderItsControlsWereMadeIn) {
    QtWindow& window = show([](Service& s) {
        const Binding<double> minutes{
            [&s] { return static_cast<double>(s.minutes()); },
            [&s](const double& v) { s.minutes = static_cast<std::int64_t>(v); }};
        const auto row = [](const std::string& title) {
            return TextField(title, Binding<std::string>{[] { return std::string(); },
                                                         [](const std::string&) {}});
        };
        // Identified, so that what was there keeps its widgets when the new ones come.
        std::vector<View> rows;
        if (s.awake())
            rows.push_back(TextField("Name", bind(s.name)).id("name"));
        rows.push_back(Button("Save", [] {}).id("save"));
        rows.push_back(VStack({ForEach<std::string>(
                                  s.rows(), [](const std::string& r) { return r; }, row)})
                           .id("rows"));
        if (s.awake()) {
            rows.push_back(HStack({IntegerField("Minutes", bind(s.minutes)).frame(60),
                                   Stepper(Text("Minutes"), minutes, 0, 60)})
                               .id("minutes"));
        }
        rows.push_back(Stepper(Text("Again"), minutes, 0, 60).id("again"));
        rows.push_back(Toggle("Locked", bind(s.locked)).id("locked"));
        return VStack(std::move(rows));
    });
    // Keyed rows move with their widgets.
    service.rows = {"d", "c", "b", "a"};
    service.awake = true;
    turn(window);
    auto* name = find<QLineEdit>(window, "Name");
    ASSERT_NE(name, nullptr);
    name->setFocus(Qt::OtherFocusReason);
    const QStringList order{"Name", "Save", "d", "c", "b", "a", "Minutes", "Again", "Locked"};
    EXPECT_EQ(focusOrder(*window.widget(), QKeyCombination(Qt::Key_Tab)), order);

    // The field's arrow keys step it, from what was typed.
    auto* field = find<QLineEdit>(window, "Minutes");
    ASSERT_NE(field, nullptr);
    field->setFocus(Qt::TabFocusReason);
    type(field, "42");
    press(*window.widget(), QKeyCombination(Qt::Key_Up));
    EXPECT_EQ(service.minutes(), 43);
    press(*window.widget(), QKeyCombination(Qt::Key_Down));
    press(*window.widget(), QKeyCombination(Qt::Key_Down));
    EXPECT_EQ(service.minutes(), 41);
    // Typed beyond the stepper's range: Up keeps it, Down brings it into the range.
    field->selectAll();
    type(field, "99");
    press(*window.widget(), QKeyCombination(Qt::Key_Up));
    EXPECT_EQ(service.minutes(), 99);
    press(*window.widget(), QKeyCombination(Qt::Key_Down));
    EXPECT_EQ(service.minutes(), 60);
}

TEST_F(QtRendererTest, APickerReadsAndWritesItsSelectionInEveryStyle) {
    // What the picker's widget shows as chosen, and a user's choice of option `index`.
    struct Style {
        PickerStyle style;
        std::function<int(QWidget&)> shown;
        std::function<void(QWidget&, int)> choose;
    };
    const Style styles[] = {
        {PickerStyle::menu, [](QWidget& w) { return w.findChild<QComboBox*>()->currentIndex(); },
         [](QWidget& w, int i) {
             auto* combo = w.findChild<QComboBox*>();
             combo->setCurrentIndex(i);
             Q_EMIT combo->activated(i);
         }},
        {PickerStyle::segmented,
         [](QWidget& w) { return w.findChild<SegmentedControl*>()->selectedIndex(); },
         [](QWidget& w, int i) {
             auto* bar = w.findChild<SegmentedControl*>();
             bar->onActivated(i);
         }},
        {PickerStyle::radioGroup,
         [](QWidget& w) {
             const auto radios = w.findChildren<QRadioButton*>();
             for (int i = 0; i < radios.size(); ++i) {
                 if (radios[i]->isChecked())
                     return i;
             }
             return -1;
         },
         [](QWidget& w, int i) { w.findChildren<QRadioButton*>()[i]->click(); }},
    };
    for (const Style& style : styles) {
        service.name = "dark";
        QtWindow& window = show([&style](Service& s) {
            return Picker("Flavour", bind(s.name),
                          {Text("Light").tag("light"), Text("Dark").tag("dark"),
                           Text("Automatic").tag("auto")})
                .pickerStyle(style.style);
        });
        QWidget& root = *window.widget();
        EXPECT_EQ(style.shown(root), 1);
        style.choose(root, 2);
        EXPECT_EQ(service.name(), "auto") << "the user's choice writes the service";
        EXPECT_EQ(style.shown(root), 2);
        service.name = "light";
        turn(window);
        EXPECT_EQ(style.shown(root), 0) << "the service's value is shown";
        service.name = "purple";
        turn(window);
        EXPECT_EQ(style.shown(root), -1) << "a value no option stands for selects none";
    }
}

TEST_F(QtRendererTest, AKeyedListKeepsARowsWidgetsWhenAnEarlierRowIsRemoved) {
    QtWindow& window = show([](Service& s) {
        return List({ForEach<std::string>(
            s.rows(), [](const std::string& row) { return row; },
            [&s](const std::string& row) {
                return HStack(
                    {TextVerbatim("Row " + row), Spacer(),
                     IntegerField("Minutes " + row, bind(s.minutes)).frame(Frame::fixed(60))});
            })});
    });
    auto* third = find<QLineEdit>(window, "Minutes c");
    ASSERT_NE(third, nullptr);
    third->setFocus();
    third->selectAll();
    type(third, "12x");  // no whole number: the text lives only in the widget
    EXPECT_EQ(service.minutes(), 5);

    service.rows = {"b", "c", "d"};
    turn(window);
    EXPECT_EQ(find<QLineEdit>(window, "Minutes a"), nullptr);
    EXPECT_EQ(find<QLineEdit>(window, "Minutes c"), third) << "the row's widget moved up";
    EXPECT_EQ(third->text(), "12x") << "and kept what was typed into it";
    EXPECT_TRUE(third->hasFocus());
    // On screen the rows keep their order.
    auto* b = find<QLineEdit>(window, "Minutes b");
    auto* d = find<QLineEdit>(window, "Minutes d");
    ASSERT_NE(b, nullptr);
    ASSERT_NE(d, nullptr);
    const auto y = [&](QWidget* w) { return w->mapTo(window.widget(), QPoint(0, 0)).y(); };
    EXPECT_LT(y(b), y(third));
    EXPECT_LT(y(third), y(d));
}

TEST_F(QtRendererTest, ARowRemovedWhileItsFieldIsBeingEditedDropsTheEdit) {
    QtWindow& window = show([](Service& s) {
        return List({ForEach<std::string>(
            s.rows(), [](const std::string& row) { return row; },
            [&s](const std::string& row) {
                return IntegerField("Minutes " + row, bind(s.minutes)).frame(Frame::fixed(60));
            })});
    });
    auto* first = find<QLineEdit>(window, "Minutes a");
    ASSERT_NE(first, nullptr);
    first->setFocus();
    first->selectAll();
    type(first, "7");
    EXPECT_EQ(service.minutes(), 7);
    service.minutes = 5;  // from elsewhere, while the field still shows what was typed
    service.rows = {"b", "c", "d"};
    turn(window);  // the field goes while it has focus: it finishes editing on its way out
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(service.minutes(), 5) << "a row that is gone writes nothing";
    EXPECT_EQ(find<QLineEdit>(window, "Minutes a"), nullptr);
}

TEST_F(QtRendererTest, AnIntegerFieldCommitsWholeNumbersAndDiscardsTheRest) {
    struct Case {
        const char* typed;
        std::int64_t expected;
        const char* shown;
    };
    const Case cases[] = {{"45", 45, "45"}, {"4x5", 5, "5"},  {"", 5, "5"},
                          {" 7 ", 7, "7"},  {"-3", -3, "-3"}, {"99999999999999999999", 5, "5"}};
    for (const Case& c : cases) {
        service.minutes = 5;
        QtWindow& window =
            show([](Service& s) { return IntegerField("Minutes", bind(s.minutes)); });
        auto* field = find<QLineEdit>(window, "Minutes");
        ASSERT_NE(field, nullptr);
        field->setFocus();
        field->selectAll();
        QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(field, &erase);
        type(field, c.typed);
        EXPECT_EQ(service.minutes(), c.expected) << "what is typed counts at once: " << c.typed;
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(field, &enter);
        EXPECT_EQ(service.minutes(), c.expected) << c.typed;
        EXPECT_EQ(field->text().toStdString(), c.shown) << c.typed;
    }
}

TEST_F(QtRendererTest, AnIntegerFieldWritesAndReadsTheLocalesGrouping) {
    struct Case {
        const char* locale;
        const char* before;  // what the field shows for 2500
        const char* typed;
        std::int64_t expected;
        const char* shown;
    };
    const Case cases[] = {
        {"en_US", "2,500", "1,000", 1000, "1,000"},
        {"en_US", "2,500", "4000", 4000, "4,000"},
        {"en_US", "2,500", "1.000", 2500, "2,500"},
        {"de_DE", "2.500", "1.000", 1000, "1.000"},
        {"de_DE", "2.500", "4000", 4000, "4.000"},
        {"de_DE", "2.500", "1,000", 2500, "2.500"},
        {"fr_FR", "2\u202F500", "1 000", 1000, "1\u202F000"},
    };
    struct LocaleReset {
        ~LocaleReset() { setCurrentLocaleIdentifier(std::nullopt); }
    } reset;
    int picture = 0;
    for (const Case& c : cases) {
        setCurrentLocaleIdentifier(c.locale);
        service.minutes = 2500;
        QtWindow& window =
            show([](Service& s) { return IntegerField("Minutes", bind(s.minutes)); });
        auto* field = find<QLineEdit>(window, "Minutes");
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text().toStdString(), c.before) << c.locale;
        field->setFocus();
        field->selectAll();
        type(field, QString::fromUtf8(c.typed));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(field, &enter);
        EXPECT_EQ(service.minutes(), c.expected) << c.locale << " " << c.typed;
        EXPECT_EQ(field->text().toStdString(), c.shown) << c.locale << " " << c.typed;
        savePng(*window.widget(), "integer-field-" + std::to_string(++picture) + "-" + c.locale);
    }
}

TEST_F(QtRendererTest, AnIntegerFieldKeepsAnEditInProgressWhenItsValueChanges) {
    struct LocaleReset {
        ~LocaleReset() { setCurrentLocaleIdentifier(std::nullopt); }
    } reset;
    setCurrentLocaleIdentifier("de_DE");
    QtWindow& window = show([](Service& s) { return IntegerField("Minutes", bind(s.minutes)); });
    auto* field = find<QLineEdit>(window, "Minutes");
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->selectAll();
    type(field, "3.0");
    service.minutes = 7000;
    turn(window);
    EXPECT_EQ(field->text().toStdString(), "3.0") << "the half-typed text stays";
    EXPECT_EQ(service.minutes(), 7000);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(field, &enter);
    EXPECT_EQ(service.minutes(), 7000) << "\"3.0\" is no whole number in German";
    EXPECT_EQ(field->text().toStdString(), "7.000");
}

// Return works the default button while a field still holds what was typed: the button's action
// finds what the field shows.
TEST_F(QtRendererTest, ADefaultButtonActsOnWhatTheFocusedFieldShows) {
    const QDateTime start(QDate(2024, 3, 15), QTime(10, 0));
    Date at = Date::fromUnix(static_cast<double>(start.toSecsSinceEpoch()));
    Date on = at;
    std::optional<std::int64_t> savedMinutes;
    QDateTime savedAt, savedOn;
    QtWindow& window = show([&](Service& s) {
        const auto bindDate = [](Date& date) {
            return Binding<Date>{[&date] { return date; }, [&date](const Date& d) { date = d; }};
        };
        const auto qt = [](const Date& date) {
            return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(date.unixTime()));
        };
        return VStack(
            {IntegerField("Minutes", bind(s.minutes)),
             DatePicker("At", bindDate(at), kDateComponentHourMinute),
             DatePicker("On", bindDate(on), kDateComponentDate | kDateComponentHourMinute),
             Button("Save", [&, qt] {
                 savedMinutes = s.minutes();
                 savedAt = qt(at);
                 savedOn = qt(on);
             }).keyboardShortcut(KeyboardShortcut::defaultAction())});
    });
    QApplication::setActiveWindow(window.widget());
    struct Case {
        const char* field;
        const char* typed;
        std::function<bool()> saved;
    };
    const Case cases[] = {
        {"Minutes", "15", [&] { return savedMinutes == 15; }},
        {"At", "21:45", [&] { return savedAt.time() == QTime(21, 45); }},
        {"On", "9", [&] { return savedOn.date() == QDate(2024, 3, 9); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        QWidget* field = find<QLineEdit>(window, c.field);
        if (field == nullptr)
            field = find<QDateTimeEdit>(window, c.field);
        ASSERT_NE(field, nullptr);
        field->setFocus(Qt::TabFocusReason);
        if (auto* line = qobject_cast<QLineEdit*>(field))
            line->selectAll();
        QTest::keyClicks(field, c.typed);
        savedMinutes.reset();
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_TRUE(savedMinutes.has_value()) << "Return pressed the default button";
        EXPECT_TRUE(c.saved());
    }
}

TEST_F(QtRendererTest, AMenuRowShowsTheAccentOnlyWhileHeldDown) {
    int chosen = 0;
    QtWindow& window = show([&chosen](Service&) {
        return VStack(HAlign::leading, 0,
                      {Button(HStack({Image("checkmark"), Text("Keep awake"), Spacer(),
                                      TextVerbatim("Ctrl+K").foregroundStyle(Hierarchy::tertiary)}),
                              [&chosen] { ++chosen; })
                           .buttonStyle(MenuRowStyle{0, 1.0})})
            .padding(kEdgeVertical, 5)
            .frame(Frame::fixed(260));
    });
    auto* row = window.widget()->findChild<ViewButton*>();
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->width(), 260) << "a menu row spans the panel";
    const QPoint middle(row->width() / 2, row->height() / 2);
    const QColor accent = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    const QColor background = QApplication::palette().color(QPalette::Window);

    QEnterEvent enter(middle, row->mapTo(window.widget(), middle), row->mapToGlobal(middle));
    QApplication::sendEvent(row, &enter);
    const QImage hovered = savePng(*window.widget(), "menu-row-hovered");
    const QPoint sample = row->mapTo(window.widget(), QPoint(row->width() / 2, 3));
    EXPECT_EQ(hovered.pixelColor(sample), background) << "no hover effect";

    QMouseEvent press(QEvent::MouseButtonPress, middle, row->mapToGlobal(middle), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(row, &press);
    const QImage pressed = savePng(*window.widget(), "menu-row-pressed");
    EXPECT_EQ(pressed.pixelColor(sample), accent) << "the accent while held down";
    auto* label = window.widget()->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white))
        << "and its text turns white";
    EXPECT_EQ(chosen, 0);

    QMouseEvent release(QEvent::MouseButtonRelease, middle, row->mapToGlobal(middle),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(row, &release);
    EXPECT_EQ(chosen, 1);
    const QImage released = savePng(*window.widget(), "menu-row-released");
    EXPECT_EQ(released.pixelColor(sample), background);
}

TEST_F(QtRendererTest, ModifiersBecomePropertiesOfTheWidgetsTheyApplyTo) {
    struct Case {
        const char* what;
        std::function<View()> make;
        std::function<void(QLabel&)> check;
    };
    const Case cases[] = {
        {"one line never wraps", [] { return Text(std::string(80, 'x')).lineLimit(1); },
         [](QLabel& l) { EXPECT_FALSE(l.wordWrap()); }},
        {"a line limit caps the height",
         [] { return Text(std::string(300, 'y') + " z").lineLimit(2); },
         [](QLabel& l) {
             EXPECT_TRUE(l.wordWrap());
             EXPECT_LE(l.maximumHeight(), 2 * l.fontMetrics().lineSpacing() + 2);
         }},
        {"multiline alignment",
         [] { return Text("Right").multilineTextAlignment(TextAlignment::trailing); },
         [](QLabel& l) { EXPECT_TRUE(l.alignment() & Qt::AlignRight); }},
        {"selection", [] { return Text("Pick").textSelection(); },
         [](QLabel& l) { EXPECT_TRUE(l.textInteractionFlags() & Qt::TextSelectableByMouse); }},
        {"no selection by default", [] { return Text("Plain"); },
         [](QLabel& l) { EXPECT_FALSE(l.textInteractionFlags() & Qt::TextSelectableByMouse); }},
        {"an imposed weight wins over the font's",
         [] {
             return VStack({Text("Heavy").font(Font::system(15, FontWeight::bold))})
                 .fontWeight(FontWeight::light);
         },
         [](QLabel& l) {
             EXPECT_EQ(l.font().weight(), QFont::Light);
             EXPECT_EQ(l.font().pixelSize(), 15);
         }},
        {"the monospaced design",
         [] { return Text("mono").font(Font::system(11).withMonospaced()); },
         [](QLabel& l) { EXPECT_TRUE(QFontInfo(l.font()).fixedPitch()); }},
        {"fonts are inherited", [] { return VStack({Text("Inner")}).font(Font::system(20)); },
         [](QLabel& l) { EXPECT_EQ(l.font().pixelSize(), 20); }},
        {"opacity multiplies", [] { return VStack({Text("Dim").opacity(0.5)}).opacity(0.5); },
         [](QLabel& l) {
             auto* effect = qobject_cast<QGraphicsOpacityEffect*>(l.graphicsEffect());
             ASSERT_NE(effect, nullptr);
             EXPECT_DOUBLE_EQ(effect->opacity(), 0.25);
         }},
        {"disabled is inherited", [] { return VStack({Text("Off")}).disabled(); },
         [](QLabel& l) { EXPECT_FALSE(l.isEnabled()); }},
        {"help is the tooltip and the accessibility label the name",
         [] { return Text("Tip").help("More about it").accessibilityLabel("Tip label"); },
         [](QLabel& l) {
             EXPECT_EQ(l.toolTip(), "More about it");
             EXPECT_EQ(l.accessibleName(), "Tip label");
         }},
        {"Markdown runs are drawn as rich text",
         [] { return Text("a **b** `c` [d](https://example.org)"); },
         [](QLabel& l) {
             EXPECT_EQ(l.textFormat(), Qt::RichText);
             EXPECT_TRUE(l.text().contains("<b>b</b>"));
             EXPECT_TRUE(l.text().contains("href=\"https://example.org\""));
         }},
        {"verbatim text is not Markdown", [] { return TextVerbatim("a **b**"); },
         [](QLabel& l) {
             EXPECT_EQ(l.textFormat(), Qt::PlainText);
             EXPECT_EQ(l.text(), "a **b**");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto make = c.make;
        QtWindow& window = show([make](Service&) { return make(); });
        QLabel* label = nullptr;
        for (auto* l : window.widget()->findChildren<QLabel*>()) {
            if (l->isVisibleTo(window.widget()))
                label = l;
        }
        ASSERT_NE(label, nullptr);
        c.check(*label);
    }
}

TEST_F(QtRendererTest, LabelLevelsFadeAndNamedColoursFollowTheAppearance) {
    for (const bool dark : {false, true}) {
        Appearance::apply(dark);
        const QPalette p = QApplication::palette();
        const QColor window = p.color(QPalette::Window);
        const auto contrast = [&](Hierarchy level) {
            const QColor c = Appearance::hierarchy(level, p);
            return std::abs(c.lightness() - window.lightness());
        };
        EXPECT_GT(contrast(Hierarchy::primary), contrast(Hierarchy::secondary));
        EXPECT_GT(contrast(Hierarchy::secondary), contrast(Hierarchy::tertiary));
        EXPECT_GT(contrast(Hierarchy::tertiary), contrast(Hierarchy::quaternary));
        EXPECT_GT(contrast(Hierarchy::quaternary), 0);
        EXPECT_EQ(Appearance::named(NamedColor::accent, p), p.color(QPalette::Highlight));
        const Color dynamic = Color::dynamic({1, 0, 0, 1}, {0, 0, 1, 1});
        EXPECT_EQ(Appearance::color(dynamic, p), dark ? QColor(Qt::blue) : QColor(Qt::red));
        EXPECT_NEAR(Appearance::color(Color::black().withOpacity(0.5), p).alphaF(), 0.5, 0.01);
    }
}

TEST_F(QtRendererTest, AShortTextFixedOnlyVerticallyWrapsAndShowsEveryLine) {
    const QString text =
        "Your computer will sleep on its normal schedule.";  // short of the wrap length
    QtWindow& window = show([](Service&) {
        return VStack(
                   HAlign::leading, 0,
                   {Text("Your computer will sleep on its normal schedule.").fixedSize(false, true),
                    Text("Your computer will sleep on its normal schedule.")})
            .frame(Frame::fixed(120));
    });
    QLabel* free = nullptr;
    QLabel* plain = nullptr;
    for (auto* l : window.widget()->findChildren<QLabel*>()) {
        if (l->text() == text) {
            (free == nullptr ? free : plain) = l;
        }
    }
    ASSERT_NE(free, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(free->wordWrap());
    EXPECT_LE(free->width(), 120);
    EXPECT_GE(free->height(), 2 * free->fontMetrics().lineSpacing())
        << "every line gets its height";
    EXPECT_FALSE(plain->wordWrap()) << "without the fixed size a short text stays on one line";
}

// A text without a line limit stays on one line up to 48 characters as the reader sees them,
// whatever markup or spacing it is drawn with; a character of Chinese, Japanese or Korean is drawn
// as wide as two, and those scripts put no spaces between words to wait for.
TEST_F(QtRendererTest, ATextWrapsOnlyPastFortyEightCharacters) {
    const auto repeated = [](const std::string& character, int times) {
        std::string text;
        for (int i = 0; i < times; ++i)
            text += character;
        return text;
    };
    const std::string words48 = "Orvel keeps this machine awake until you stop it";
    ASSERT_EQ(words48.size(), 48u);
    struct Case {
        const char* what;
        std::function<View()> make;
        bool wraps;
    };
    const Case cases[] = {
        {"48", [&] { return TextVerbatim(words48); }, false},
        {"49", [&] { return TextVerbatim(words48 + "."); }, true},
        {"48 as Markdown", [&] { return Text(words48); }, false},
        {"48 shown of bold and a link",
         [] {
             return Text(
                 "Orvel keeps **this** machine [awake](https://example.org) until you "
                 "stop it");
         },
         false},
        {"49 shown of bold",
         [] {
             return Text(
                 "Orvel keeps **this** machine awake until you stop "
                 "it.");
         },
         true},
        {"48 with spaced lines", [&] { return TextVerbatim(words48).lineSpacing(4); }, false},
        {"48 with a character outside the basic plane",
         [&] { return TextVerbatim(words48.substr(0, 47) + "\U0001F600"); }, false},
        {"24 Chinese characters", [&] { return TextVerbatim(repeated("\u5B57", 24)); }, false},
        {"25 Japanese characters", [&] { return TextVerbatim(repeated("\u30B9", 24) + "\u3002"); },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto make = c.make;
        QtWindow& window = show([make](Service&) { return make(); });
        auto* label = window.widget()->findChild<QLabel*>();
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->wordWrap(), c.wraps) << label->text().toStdString();
    }
}

TEST_F(QtRendererTest, ALinkInATextOpensThroughTheWorkspaceOnce) {
    QtWindow& window = show(
        [](Service&) { return Text("Write to [the team](mailto:team@example.com) any time."); });
    QLabel* label = nullptr;
    for (auto* l : window.widget()->findChildren<QLabel*>()) {
        if (l->text().contains("mailto:team@example.com")) {
            label = l;
        }
    }
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(label->openExternalLinks()) << "the desktop must not open it behind our back";
    Q_EMIT label->linkActivated("mailto:team@example.com");
    EXPECT_EQ(sim().workspace().openedURLs(), std::vector<std::string>{"mailto:team@example.com"});
}

TEST_F(QtRendererTest, AMenuBuiltOnOpeningOpensOnlyWithItems) {
    std::vector<std::string> names;
    QtWindow& window = show([&names](Service&) {
        return MenuOnOpen(TextVerbatim("Pick"),
                          [&names] {
                              std::vector<MenuItem> items;
                              for (const auto& name : names) {
                                  items.push_back(MenuItem{name, [] {}});
                              }
                              return items;
                          })
            .accessibilityLabel("Pick");
    });
    auto* button = find<QAbstractButton>(window, "Pick");
    ASSERT_NE(button, nullptr);
    button->click();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "nothing to choose, nothing opens";
    names = {"Editor"};
    button->click();
    ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() != nullptr; }));
    QApplication::activePopupWidget()->close();
}

TEST_F(QtRendererTest, ASidebarRowTooLongForItsColumnEndsInAnEllipsis) {
    const QString longTitle = "Sleep, Wake and Restart and everything else";
    QtWindow& window = show([](Service& s) {
        return List(
                   bind(s.name),
                   {Label("Sleep, Wake and Restart and everything else", "bolt.circle").tag("long"),
                    Label("Short", "bolt.circle").tag("short")})
            .frame(Frame::fixed(150, 200));
    });
    TextLabel* cut = nullptr;
    TextLabel* whole = nullptr;
    for (auto* l : window.widget()->findChildren<TextLabel*>()) {
        if (l->text() == longTitle)
            cut = l;
        if (l->text() == "Short")
            whole = l;
    }
    ASSERT_NE(cut, nullptr);
    ASSERT_NE(whole, nullptr);
    EXPECT_LE(cut->mapTo(window.widget(), QPoint(cut->width(), 0)).x(), 150)
        << "the row stays within its column";
    EXPECT_TRUE(cut->shownText().endsWith(QChar(0x2026))) << cut->shownText().toStdString();
    EXPECT_LT(cut->shownText().size(), longTitle.size());
    EXPECT_EQ(whole->shownText(), "Short") << "a title that fits is shown whole";
}

TEST_F(QtRendererTest, ARowOnTheFirstBaselineKeepsAOneLineTextLevelWithAWrappedOnesFirstLine) {
    QtWindow& window = show([](Service&) {
        return HStack(VAlign::firstTextBaseline, 10,
                      {TextVerbatim("A feature whose name takes three or four lines here")
                           .fixedSize(false, true)
                           .frame(Frame::fixed(90)),
                       TextVerbatim("Accessibility")});
    });
    QLabel* wrapped = nullptr;
    QLabel* single = nullptr;
    for (auto* l : window.widget()->findChildren<QLabel*>()) {
        if (l->text() == "Accessibility")
            single = l;
        else if (l->text().startsWith("A feature"))
            wrapped = l;
    }
    ASSERT_NE(wrapped, nullptr);
    ASSERT_NE(single, nullptr);
    ASSERT_GE(wrapped->height(), 2 * wrapped->fontMetrics().lineSpacing());
    EXPECT_EQ(single->mapTo(window.widget(), QPoint(0, 0)).y(),
              wrapped->mapTo(window.widget(), QPoint(0, 0)).y());
}

// A row is as tall as its tallest item at the width that item really gets, so a wrapped text in
// it shows all of its lines: beside a fixed column, beside a button, and with a note below, each
// in a column narrower than the page.
TEST_F(QtRendererTest, ARowIsTallEnoughForAllLinesOfAWrappedTextInIt) {
    const auto wrapping = [](View text) {
        return text.fixedSize(false, true)
            .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading()));
    };
    const auto column = [](View content) {
        return content.frame(Frame().withMaxWidth(420).withAlignment(Alignment::leading()));
    };
    QtWindow& window = show([&](Service&) {
        return ScrollView(
            VStack(
                HAlign::leading, 14,
                {column(HStack(VAlign::firstTextBaseline, 10,
                               {wrapping(TextVerbatim("A feature whose name takes three or four "
                                                      "lines in its narrow column"))
                                    .frame(Frame::fixed(120).withAlignment(Alignment::leading())),
                                TextVerbatim("Accessibility"), Spacer(6), Image("checkmark")})),
                 column(HStack(VAlign::center, std::nullopt,
                               {TextVerbatim("Checking reads one block from a mounted share, "
                                             "which asks once for access if that has not "
                                             "happened yet, and then says what it found.")
                                    .fixedSize(false, true),
                                Spacer(), Button("Check Access", [] {})})),
                 column(VStack(
                     HAlign::leading, 5,
                     {HStack(VAlign::top, 10,
                             {wrapping(TextVerbatim("some-command --with a long list of --options "
                                                    "that wrap onto more lines than one here")),
                              Spacer(8), Button("Copy", [] {})})
                          .padding(10)
                          .frame(
                              Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading())),
                      wrapping(TextVerbatim("A note under the command, long enough to take two "
                                            "lines or more in a column this narrow."))}))})
                .padding(28));
    });
    window.widget()->resize(720, 640);
    settle();
    int wrappedSeen = 0;
    for (auto* label : window.widget()->findChildren<TextLabel*>()) {
        if (!label->wordWrap() || !label->isVisibleTo(window.widget()))
            continue;
        ++wrappedSeen;
        const int needed = label->heightForWidth(label->width());
        EXPECT_GE(needed, 2 * label->fontMetrics().lineSpacing()) << label->text().toStdString();
        EXPECT_GE(label->height(), needed) << label->text().toStdString();
        // Every box around it down to the window holds all of it.
        const QRect shown(label->mapTo(window.widget(), QPoint(0, 0)), label->size());
        for (QWidget* box = label->parentWidget(); box != window.widget();
             box = box->parentWidget()) {
            const QRect area(box->mapTo(window.widget(), QPoint(0, 0)), box->size());
            EXPECT_TRUE(area.contains(shown)) << label->text().toStdString() << " spills out of "
                                              << box->metaObject()->className();
        }
    }
    EXPECT_EQ(wrappedSeen, 4);
}

// An open editor in a form's section row: every line of its wrapped caption shows and its
// buttons are whole, however narrow the window.
TEST_F(QtRendererTest, ASectionRowIsTallEnoughForAWrappedTextAndTheButtonsUnderIt) {
    QtWindow& window = show([](Service&) {
        View editor = VStack(
            HAlign::leading, 8,
            {HStack({TextVerbatim("Watch"), Spacer(),
                     Toggle("Watch", Binding<bool>::constant(true)).labelsHidden()}),
             TextVerbatim("A caption under a switch, long enough to take three lines or more in "
                          "a window this narrow, which every reader needs all of.")
                 .font(Font::system(10.5)),
             HStack({Button("Delete", [] {}), Spacer(), Button("Test", [] {}),
                     Button("Collapse", [] {})})});
        View row = VStack(HAlign::leading, 0,
                          {HStack({TextVerbatim("A rule"), Spacer()}),
                           editor.padding(EdgeInsets{6, 19, 0, 0})})
                       .padding(kEdgeVertical, 3);
        return Form({Section(TextVerbatim("Rules"), {std::move(row)})});
    });
    window.widget()->resize(360, 600);
    settle();
    TextLabel* caption = nullptr;
    for (auto* label : window.widget()->findChildren<TextLabel*>()) {
        if (label->wordWrap() && label->text().startsWith("A caption"))
            caption = label;
    }
    ASSERT_NE(caption, nullptr);
    const int needed = caption->heightForWidth(caption->width());
    EXPECT_GE(needed, 2 * caption->fontMetrics().lineSpacing());
    EXPECT_GE(caption->height(), needed);
    int buttons = 0;
    for (auto* button : window.widget()->findChildren<ViewButton*>()) {
        if (!button->isVisibleTo(window.widget()))
            continue;
        ++buttons;
        EXPECT_GE(button->height(), button->sizeHint().height()) << buttons;
    }
    EXPECT_EQ(buttons, 3);
}

// A form taller than its window scrolls: no row is squeezed, also when no text in it wraps.
TEST_F(QtRendererTest, AFormTallerThanItsWindowScrollsRatherThanSqueezingItsRows) {
    QtWindow& window = show([](Service& s) {
        std::vector<View> rows{
            Picker("Style", bind(s.name), {Text("Light").tag("light"), Text("Dark").tag("dark")})
                .pickerStyle(PickerStyle::radioGroup)};
        for (int i = 0; i < 12; ++i) {
            rows.push_back(Toggle("Row " + std::to_string(i), bind(s.awake)));
        }
        return Form({Section(TextVerbatim("Short"), std::move(rows))});
    });
    window.widget()->resize(360, 200);
    settle();
    const auto radios = window.widget()->findChildren<QRadioButton*>();
    ASSERT_EQ(radios.size(), 2);
    EXPECT_GE(radios[1]->mapTo(window.widget(), QPoint(0, 0)).y() -
                  radios[0]->mapTo(window.widget(), QPoint(0, 0)).y(),
              radios[0]->sizeHint().height())
        << "the choices do not overlap";
    auto* area = window.widget()->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
}

TEST_F(QtRendererTest, AHeightLimitLetsAScrollViewGrowUpToIt) {
    QtWindow& window = show([](Service&) {
        std::vector<View> rows;
        for (int i = 0; i < 60; ++i) {
            rows.push_back(TextVerbatim("Row " + std::to_string(i)));
        }
        Frame limit;
        limit.withMaxHeight(700);
        return ScrollView(VStack(HAlign::leading, 0, std::move(rows)))
            .frame(Frame::fixed(200))
            .frame(limit)
            .background(Color::windowBackground());
    });
    window.widget()->resize(200, 800);
    settle();
    auto* area = window.widget()->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->height(), 700) << "the limit, not the scroll view's own preference";
}

// The widgets of a new page go into a window already shown: they show once the render is done,
// each in its place and with all its lines, while those of the page before stay hidden.
TEST_F(QtRendererTest, APageSwitchedInAShownWindowShowsEveryNewBlockInOrderAndHidesTheOldOnes) {
    const auto paragraph = [](int i) {
        return TextVerbatim("Paragraph " + std::to_string(i) +
                            " says enough to need more than one line in a column this narrow.")
            .fixedSize(false, true)
            .frame(Frame().withMaxWidth(kInfinity).withAlignment(Alignment::leading()));
    };
    QtWindow& window = show([&](Service& s) {
        std::vector<View> blocks;
        if (!s.awake()) {
            blocks = {TextVerbatim("Old one"), TextVerbatim("Old two")};
        } else {
            for (int i = 0; i < 6; ++i) {
                // Kinds the page before had not at these places, nested a level or two deep.
                blocks.push_back(i % 2 == 0 ? paragraph(i)
                                            : VStack(HAlign::leading, 5,
                                                     {TextVerbatim("Heading " + std::to_string(i)),
                                                      paragraph(i).padding(10)})
                                                  .frame(Frame().withMaxWidth(300).withAlignment(
                                                      Alignment::leading())));
            }
        }
        return ScrollView(VStack(HAlign::leading, 14, std::move(blocks)).padding(20));
    });
    window.widget()->resize(360, 400);
    settle();
    QLabel* oldOne = nullptr;
    for (auto* l : window.widget()->findChildren<QLabel*>()) {
        if (l->text() == "Old one")
            oldOne = l;
    }
    ASSERT_NE(oldOne, nullptr);

    service.awake = true;
    window.viewHost()->evaluate();
    std::vector<QLabel*> shown;
    for (auto* l : window.widget()->findChildren<QLabel*>()) {
        if (l->text().startsWith("Paragraph") || l->text().startsWith("Heading")) {
            EXPECT_TRUE(l->isVisibleTo(window.widget()))
                << l->text().toStdString() << " is shown as the render ends";
            shown.push_back(l);
        }
    }
    EXPECT_EQ(shown.size(), 9u);
    EXPECT_TRUE(oldOne->isHidden()) << "the page before stays hidden";

    settle();
    std::sort(shown.begin(), shown.end(), [&](QLabel* a, QLabel* b) {
        return a->mapTo(window.widget(), QPoint(0, 0)).y() <
               b->mapTo(window.widget(), QPoint(0, 0)).y();
    });
    std::vector<std::string> order;
    for (QLabel* l : shown) {
        order.push_back(l->text().section(' ', 0, 1).toStdString());
        if (l->wordWrap()) {
            EXPECT_GE(l->height(), l->heightForWidth(l->width())) << l->text().toStdString();
            EXPECT_GE(l->height(), 2 * l->fontMetrics().lineSpacing()) << l->text().toStdString();
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Paragraph 0", "Heading 1", "Paragraph 1",
                                               "Paragraph 2", "Heading 3", "Paragraph 3",
                                               "Paragraph 4", "Heading 5", "Paragraph 5"}));
}

// A section header is drawn in capitals: its words only, not the markup they are drawn with.
TEST_F(QtRendererTest, ASectionHeaderInCapitalsKeepsItsLinksAddressAndItsSymbols) {
    QtWindow& window = show([](Service&) {
        return Form(
            {Section(Text("Read [the Guide](https://example.org/Guide)"),
                     {TextVerbatim("first row")}),
             Section(TextVerbatim("Tom & <Jerry>").lineSpacing(2), {TextVerbatim("second row")})});
    });
    std::map<std::string, std::string> links;  // the words a reader sees, and where each goes
    for (auto* label : window.widget()->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window.widget()) || label->text().contains("row"))
            continue;
        QTextDocument document;
        if (label->textFormat() == Qt::RichText)
            document.setHtml(label->text());
        else
            document.setPlainText(label->text());
        QString target;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                if (it.fragment().charFormat().isAnchor())
                    target = it.fragment().charFormat().anchorHref();
            }
        }
        links[document.toPlainText().toStdString()] = target.toStdString();
    }
    EXPECT_EQ(links, (std::map<std::string, std::string>{
                         {"READ THE GUIDE", "https://example.org/Guide"}, {"TOM & <JERRY>", ""}}));
}

// A divider among a section's rows parts two groups of them: a line across the whole panel, not a
// row of its own that shows a dash, and no row lines doubling it.
TEST_F(QtRendererTest, ADividerAmongASectionsRowsIsOneLineAcrossThePanel) {
    QtWindow& window = show([](Service& s) {
        return Form({Section(TextVerbatim("Group"), {Toggle("Before", bind(s.awake)), Divider(),
                                                     Toggle("After", bind(s.awake))})});
    });
    window.widget()->resize(480, 300);
    settle();
    std::vector<SeparatorLine*> lines;
    for (auto* line : window.widget()->findChildren<SeparatorLine*>()) {
        if (line->isVisibleTo(window.widget()))
            lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 1u) << "the divider alone parts the two rows";
    auto* before = find<QAbstractButton>(window, "Before");
    ASSERT_NE(before, nullptr);
    const int rowWidth = before->mapTo(window.widget(), QPoint(before->width(), 0)).x() -
                         lines[0]->mapTo(window.widget(), QPoint(0, 0)).x();
    EXPECT_GE(lines[0]->width(), rowWidth) << "the line spans the rows it parts";
    EXPECT_LE(lines[0]->height(), 2);
}

}  // namespace
}  // namespace orvel::ui
