// The help pages drawn by the Qt host (offscreen): in the Help window, and each whole page at the
// detail's width, written to PNG for a person to look at.

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "QtUiTest.h"
#include "app/AppDelegate.h"
#include "core/SleepOptions.h"
#include "help/HelpPages.h"
#include "help/HelpSection.h"
#include "help/HelpView.h"
#include "support/OrvelTest.h"
#include "ui/Host.h"
#include "ui/ViewComponent.h"
#include "ui/qt/QtWindow.h"

namespace orvel {
namespace {

constexpr int kDetailWidth = 660;
// Pixels a baseline-aligned row may take off a label's height without cutting into a line.
constexpr int kRounding = 2;

class WholePage final : public ui::ViewComponent {
  public:
    WholePage(HelpPages& pages, HelpSection section) : pages_(pages), section_(section) {}
    ui::View body() override { return pages_.pageBody(section_).padding(24); }

  private:
    HelpPages& pages_;
    HelpSection section_;
};

class HelpPagesPicturesTest : public test::QtUiTest {
  protected:
    void SetUp() override {
        QtUiTest::SetUp();
        // Beside the pictures and named by the test, so a path a page shows is the same each run.
        root_ = (std::filesystem::path(ORVEL_PNG_DIR).parent_path() / "help-pictures" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())
                    .string();
        std::filesystem::remove_all(root_);
        sim().paths().setRoot(root_);
        test::installHelpPages(sim().paths());
        sim().processes().setStandIn(kCaffeinatePath, "/usr/libexec/orvel/caffeinate");
    }
    void TearDown() override {
        releaseServices();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QtUiTest::TearDown();
        std::filesystem::remove_all(root_);
    }

  private:
    std::string root_;
};

// Every glyph the pages lean on has to come from the font the label draws with, not a box.
bool drawsAll(const QLabel& label, const QString& glyphs) {
    const QFontMetrics metrics(label.font());
    for (const char32_t c : glyphs.toStdU32String()) {
        if (!metrics.inFontUcs4(c)) {
            return false;
        }
    }
    return true;
}

TEST_F(HelpPagesPicturesTest, EveryPageInTheHelpWindowAndWhole) {
    AppDelegate delegate{services()};
    const QString glyphs = QString::fromUtf8("›−·—…“”");
    for (const HelpSection section : allCases<HelpSection>()) {
        if (section == HelpSection::acknowledgments) {
            continue;
        }
        const std::string name(rawValue(section));
        delegate.showHelpSection(section);
        auto* window = dynamic_cast<ui::QtWindow*>(delegate.helpWindow.get());
        ASSERT_NE(window, nullptr);
        auto* view = dynamic_cast<HelpView*>(window->content().get());
        ASSERT_TRUE(waitUntil([&] { return view->section() == section; })) << name;
        window->setContentSize(900, 620);
        settle();
        savePng(*window->widget(), "help-page-" + name);

        auto page = ui::UiHost::current().makeWindow();
        page->setContent(std::make_shared<WholePage>(services().helpPages(), section));
        page->setContentSize(kDetailWidth, 400);
        page->makeKeyAndOrderFront();
        settle();
        QWidget& widget = *dynamic_cast<ui::QtWindow&>(*page).widget();
        const int height = widget.sizeHint().height();
        page->setContentSize(kDetailWidth, std::max(height, 400));
        settle();
        int shown = 0;
        for (auto* label : widget.findChildren<QLabel*>()) {
            if (!label->isVisibleTo(&widget) || label->text().isEmpty()) {
                continue;
            }
            ++shown;
            EXPECT_TRUE(drawsAll(*label, glyphs)) << name << ": " << label->text().toStdString();
            // Wrapped, never cut: every label fits inside the page's width, and a wrapped plain
            // one is as tall as its lines (rich text's own line height is not one Qt predicts).
            EXPECT_LE(label->mapTo(&widget, QPoint(label->width(), 0)).x(), widget.width())
                << name << ": " << label->text().toStdString();
            if (label->wordWrap() && !Qt::mightBeRichText(label->text())) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()) - kRounding)
                    << name << ": " << label->text().toStdString();
            }
        }
        EXPECT_GT(shown, 3) << name;
        savePng(widget, "help-whole-" + name);
        page.reset();
    }
}

TEST_F(HelpPagesPicturesTest, ALongQueryWithNoPagesWrapsInsideTheSidebar) {
    AppDelegate delegate{services()};
    delegate.showHelpSection(HelpSection::troubleshooting);
    auto* window = dynamic_cast<ui::QtWindow*>(delegate.helpWindow.get());
    ASSERT_NE(window, nullptr);
    window->setContentSize(900, 620);
    settle();
    QLineEdit* search = nullptr;
    for (auto* field : window->widget()->findChildren<QLineEdit*>()) {
        if (field->placeholderText() == "Search Help") {
            search = field;
        }
    }
    ASSERT_NE(search, nullptr);
    search->setText("systemd-inhibit --list verbose");
    QLabel* empty = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (auto* label : window->widget()->findChildren<QLabel*>()) {
            if (label->isVisibleTo(window->widget()) && label->text().startsWith("No pages")) {
                empty = label;
            }
        }
        return empty != nullptr;
    }));
    settle();
    const int left = empty->mapTo(window->widget(), QPoint(0, 0)).x();
    EXPECT_GE(left, 0) << "nothing drawn left of the window";
    EXPECT_LE(left + empty->width(),
              search->mapTo(window->widget(), QPoint(0, 0)).x() + search->width() + 16)
        << "the text stays in the sidebar";
    EXPECT_GE(empty->height(), 2 * empty->fontMetrics().lineSpacing()) << "wrapped, every line";
    savePng(*window->widget(), "help-search-no-pages");
}

}  // namespace
}  // namespace orvel
