#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QString>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>

class QPainter;
class QSvgRenderer;

namespace orvel::ui {

// The program's own symbols: single-colour SVG drawings on a 24×24 grid, tinted when drawn. An
// unknown name draws a neutral placeholder and is logged once. Main thread only.
class SymbolSet {
  public:
    static SymbolSet& shared();

    // Where the drawings are read from: $ORVEL_ICONS_DIR, else the resources' icons/ (installed
    // beside the program, or the source tree's for a program in the build tree).
    static QString directory();

    bool has(const std::string& name);
    // Draws the symbol into `rect`, tinted, rotated about its centre.
    void paint(QPainter& painter, const QRectF& rect, const std::string& name, const QColor& color,
               double rotationDegrees = 0);
    // The symbol as an image of `side` pixels square.
    QImage image(const std::string& name, int side, const QColor& color, double devicePixelRatio);
    // That image as an icon, the same one for the same arguments: an icon made anew for each
    // window opening would leave Qt's pixmap cache a key for good at each give-back.
    QIcon icon(const std::string& name, int side, const QColor& color, double devicePixelRatio);

  private:
    SymbolSet() = default;
    QSvgRenderer* renderer(const std::string& name);

    std::map<std::string, std::unique_ptr<QSvgRenderer>> renderers_;
    std::set<std::string> missing_;
    std::map<std::tuple<std::string, int, QRgb, double>, QIcon> icons_;
};

}  // namespace orvel::ui
