#include "ui/qt/QtHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>

#include "QtUiTest.h"
#include "support/Gallery.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/QtRenderer.h"
#include "ui/qt/QtWindow.h"

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
        auto* command = findByText<QLabel>(*qt.widget(), "/usr/bin/caffeinate -dimsu");
        ASSERT_NE(command, nullptr);
        EXPECT_TRUE(command->isVisibleTo(qt.widget()));
        EXPECT_TRUE(command->textInteractionFlags() & Qt::TextSelectableByMouse);
        window->close();
        EXPECT_EQ(gallery->disappeared, 1);
    }
}

}  // namespace
}  // namespace orvel::ui
