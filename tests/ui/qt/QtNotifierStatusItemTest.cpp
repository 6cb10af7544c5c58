#include "ui/qt/QtNotifierStatusItem.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "QtUiTest.h"

namespace orvel::ui {
namespace {

class QtNotifierStatusItemTest : public test::QtUiTest {};

QImage onBackground(const QImage& image, const QColor& background, int scale) {
    QImage out(image.width() * scale, image.height() * scale, QImage::Format_ARGB32);
    out.fill(background);
    QPainter p(&out);
    p.drawImage(QRect(0, 0, out.width(), out.height()), image);
    return out;
}

// Hosts draw the icon they find by name as it is (waybar, once the package has put it in the
// desktop's theme), on dark and light panels alike.
TEST_F(QtNotifierStatusItemTest, TheNamedIconsReadOnDarkAndLightPanelsAtTrayHeights) {
    const QString folder =
        QString::fromStdString(QtNotifierStatusItem::iconThemePath()) + "/hicolor/scalable/status/";
    StatusItemLook idle;
    idle.symbol = "cup.and.saucer";
    StatusItemLook active;
    active.symbol = "cup.and.saucer.fill";
    for (const auto& look : {idle, active}) {
        const std::string name = QtNotifierStatusItem::iconName(look);
        // A symbolic name would be recoloured in one colour, which reads on one kind of panel.
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.find("symbolic"), std::string::npos) << name;
        QFile file(folder + QString::fromStdString(name) + ".svg");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        QSvgRenderer renderer(file.readAll());
        ASSERT_TRUE(renderer.isValid()) << name;
        int opaqueAt16 = 0;
        for (const int side : {16, 22}) {
            QImage image(side, side, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            QPainter p(&image);
            renderer.render(&p);
            p.end();
            const int opaque = opaquePixels(image);
            // The cup covers a good part of the square.
            EXPECT_GT(opaque, side * side / 6) << name << " at " << side;
            EXPECT_LT(opaque, side * side * 3 / 4) << name << " at " << side;
            // waybar's own bar and a white one: as many pixels stand out by 4.5:1 as the
            // end-to-end tray tests ask of a host's drawing.
            for (const QColor& panel : {QColor(0x20, 0x20, 0x20), QColor(Qt::white)}) {
                const QImage drawn = onBackground(image, panel, 1);
                int legible = 0;
                for (int y = 0; y < side; ++y) {
                    for (int x = 0; x < side; ++x) {
                        legible += contrast(drawn.pixelColor(x, y), panel) >= 4.5 ? 1 : 0;
                    }
                }
                EXPECT_GE(legible, side * side / 12)
                    << name << " at " << side << " on " << panel.name().toStdString();
                savePng(onBackground(image, panel, 8), "tray-themed-" + name + "-" +
                                                           std::to_string(side) + "-" +
                                                           panel.name().mid(1).toStdString());
            }
            if (side == 16) {
                opaqueAt16 = opaque;
            }
        }
        EXPECT_GT(opaqueAt16, 0);
    }
}

TEST_F(QtNotifierStatusItemTest, ThePicturesReadOnDarkAndLightPanelsAlike) {
    struct Case {
        const char* name;
        StatusItemLook look;
    };
    StatusItemLook idle;
    idle.symbol = "cup.and.saucer";
    StatusItemLook active;
    active.symbol = "cup.and.saucer.fill";
    StatusItemLook ruled = active;
    ruled.tint = RGBA{0.69, 0.486, 0.31, 1.0};
    for (const auto& c : std::vector<Case>{{"idle", idle}, {"active", active}, {"rule", ruled}}) {
        const QImage image = QtNotifierStatusItem::render(c.look, 22);
        // The glyph on black and the rim on white.
        const QColor glyph =
            c.look.tint ? QColor::fromRgbF(0.69f, 0.486f, 0.31f) : QColor(0xF2, 0xF2, 0xF2);
        EXPECT_GT(pixelsNear(image, glyph), 22) << c.name;
        EXPECT_GT(pixelsNear(image, QColor(0x12, 0x12, 0x12)), 22) << c.name;
        savePng(onBackground(image, Qt::black, 6), std::string("tray-pixmap-") + c.name + "-dark");
        savePng(onBackground(image, Qt::white, 6), std::string("tray-pixmap-") + c.name + "-light");
    }
}

TEST_F(QtNotifierStatusItemTest, TheHostIsGivenTheLookInItsOwnTerms) {
    struct Case {
        const char* what;
        std::string symbol;
        std::optional<RGBA> tint;
        std::string title;
        std::string iconName;
        std::string label;
        std::string guide;
        std::string coarseTitle = {};
        bool hostShowsLabel = true;
    };
    const RGBA tint{0.69, 0.486, 0.31, 1.0};
    const std::vector<Case> cases = {
        {"inactive", "cup.and.saucer", std::nullopt, "", "orvel-cup", "", ""},
        {"timed", "cup.and.saucer.fill", std::nullopt, " 1:29:59", "orvel-cup-fill", "1:29:59",
         "0:00:00"},
        {"endless", "cup.and.saucer.fill", std::nullopt, " \u221E", "orvel-cup-fill", "\u221E",
         "\u221E"},
        // A tint would be lost to the host's recolouring: the pictures alone.
        {"a rule's", "cup.and.saucer.fill", tint, " 59:59", "", "59:59", "00:00"},
        // A host known to draw no label keeps it in its tool tip, to the minute.
        {"timed, on a host without labels", "cup.and.saucer.fill", std::nullopt, " 1:29:59",
         "orvel-cup-fill", "1 h 30 min", "0 h 00 min", " 1 h 30 min", false},
        {"timed, coarse, on a host with labels", "cup.and.saucer.fill", std::nullopt, " 1:29:59",
         "orvel-cup-fill", "1:29:59", "0:00:00", " 1 h 30 min", true},
        {"endless, on a host without labels", "cup.and.saucer.fill", std::nullopt, " \u221E",
         "orvel-cup-fill", "\u221E", "\u221E", "", false},
    };
    for (const auto& c : cases) {
        StatusItemLook look;
        look.symbol = c.symbol;
        look.tint = c.tint;
        look.title = c.title;
        look.coarseTitle = c.coarseTitle;
        look.toolTip = "/usr/bin/caffeinate -di";
        look.accessibilityLabel = "Orvel";
        look.accessibilityValue = "Active";
        const StatusNotifierLook out = QtNotifierStatusItem::notifierLook(look, c.hostShowsLabel);
        EXPECT_EQ(out.iconName, c.iconName) << c.what;
        EXPECT_EQ(out.label, c.label) << c.what;
        EXPECT_EQ(out.labelGuide, c.guide) << c.what;
        EXPECT_EQ(out.title, "Orvel") << c.what;
        EXPECT_EQ(out.toolTipTitle,
                  "Orvel \u2014 Active" + (c.label.empty() ? "" : " \u2014 " + c.label))
            << c.what;
        EXPECT_EQ(out.toolTipText, "/usr/bin/caffeinate -di") << c.what;
        EXPECT_EQ(out.pixmaps.size(), 4u) << c.what;
    }
}

TEST_F(QtNotifierStatusItemTest, APanelGoesToTheHostsPointOnlyWhereThatIsAPlaceOnTheScreen) {
    struct Case {
        const char* what;
        std::optional<QPoint> host;
        QPoint pointer;
        const char* platform;
        QPoint expected;
    };
    const std::vector<Case> cases = {
        {"an X11 host at the bottom right", QPoint(1250, 790), QPoint(1251, 788), "xcb",
         QPoint(1250, 790)},
        {"an X11 host whose pointer has moved on", QPoint(1250, 790), QPoint(400, 300), "xcb",
         QPoint(1250, 790)},
        {"a tray in the top left corner, clicked there", QPoint(30, 5), QPoint(31, 7), "xcb",
         QPoint(30, 5)},
        {"waybar's bar-local point, under XWayland", QPoint(10, 17), QPoint(1260, 17), "xcb",
         QPoint(1260, 17)},
        {"waybar's bar-local point, on Wayland", QPoint(10, 17), QPoint(1260, 17), "wayland",
         QPoint(1260, 17)},
        {"any point, on Wayland", QPoint(900, 700), QPoint(1260, 17), "wayland-egl",
         QPoint(1260, 17)},
        {"a host that gave no point", std::nullopt, QPoint(640, 400), "xcb", QPoint(640, 400)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QtNotifierStatusItem::anchorFor(c.host, c.pointer, c.platform), c.expected)
            << c.what;
    }
}

}  // namespace
}  // namespace orvel::ui
