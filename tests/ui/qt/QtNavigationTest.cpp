// Split views, selecting lists and search fields as the Qt host draws and works them.

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSplitter>

#include "QtUiTest.h"
#include "foundation/Published.h"
#include "ui/qt/QtWindow.h"

namespace orvel::ui {
namespace {

class Browser final : public ViewComponent {
  public:
    View body() override {
        Binding<std::string> selection{[this] { return chosen(); },
                                       [this](const std::string& tag) { chosen = tag; }};
        Binding<std::string> search{[this] { return query(); },
                                    [this](const std::string& text) { query = text; }};
        std::vector<View> rows;
        for (const char* fruit : {"Apple", "Banana", "Cherry"}) {
            if (std::string(fruit).find(query()) != std::string::npos) {
                rows.push_back(Label(fruit, "circle").tag(fruit).id(fruit));
            }
        }
        return SplitView(VStack(HAlign::leading, 0,
                                {SearchField("Search Fruit", search), List(selection, rows)}),
                         TextVerbatim("Showing " + chosen()), {150, 180, 240});
    }

    Published<std::string> chosen{*this, "Banana"};
    Published<std::string> query{*this, ""};
};

class QtNavigationTest : public test::QtUiTest {
  protected:
    QtWindow& show() {
        window_ = host().makeWindow();
        window_->setContent(browser);
        window_->setContentSize(640, 360);
        window_->makeKeyAndOrderFront();
        settle();
        return static_cast<QtWindow&>(*window_);
    }
    void TearDown() override {
        window_.reset();
        QtUiTest::TearDown();
    }
    static QLabel* label(QtWindow& window, const QString& text) {
        for (auto* l : window.widget()->findChildren<QLabel*>()) {
            if (l->text() == text && l->isVisibleTo(window.widget()))
                return l;
        }
        return nullptr;
    }

    std::shared_ptr<Browser> browser = std::make_shared<Browser>();

  private:
    std::unique_ptr<Window> window_;
};

TEST_F(QtNavigationTest, TheSidebarStartsAtItsIdealWidthAndStaysWithinItsLimits) {
    QtWindow& window = show();
    auto* splitter = window.widget()->findChild<QSplitter*>();
    ASSERT_NE(splitter, nullptr);
    EXPECT_EQ(splitter->sizes().front(), 180);
    EXPECT_EQ(splitter->widget(0)->minimumWidth(), 150);
    EXPECT_EQ(splitter->widget(0)->maximumWidth(), 240);
    window.widget()->resize(1200, 360);
    settle();
    EXPECT_EQ(splitter->sizes().front(), 180) << "the detail takes what the window gains";
    savePng(*window.widget(), "navigation-split-view");
}

TEST_F(QtNavigationTest, PressingARowSelectsItAndTheHighlightFollows) {
    QtWindow& window = show();
    QLabel* cherry = label(window, "Cherry");
    ASSERT_NE(cherry, nullptr);
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, cherry->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(cherry, &press);
    EXPECT_EQ(browser->chosen(), "Cherry");
    ASSERT_TRUE(waitUntil([&] { return label(window, "Showing Cherry") != nullptr; }));
    const QColor highlighted = cherry->palette().color(QPalette::WindowText);
    const QColor plain = label(window, "Apple")->palette().color(QPalette::WindowText);
    EXPECT_NE(highlighted, plain) << "the selected row's text stands on the accent";
}

TEST_F(QtNavigationTest, TypingAndClearingTheSearchFieldWriteTheQuery) {
    QtWindow& window = show();
    auto* field = window.widget()->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->placeholderText(), "Search Fruit");
    field->setFocus();
    for (QChar c : QString("an")) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &key);
    }
    EXPECT_EQ(browser->query(), "an");
    ASSERT_TRUE(waitUntil([&] { return label(window, "Apple") == nullptr; }));
    EXPECT_NE(label(window, "Banana"), nullptr);
    field->clear();  // what the clear button does
    EXPECT_EQ(browser->query(), "");
    browser->query = "Ch";
    ASSERT_TRUE(waitUntil([&] { return field->text() == "Ch"; }));
}

}  // namespace
}  // namespace orvel::ui
