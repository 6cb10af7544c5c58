#pragma once

#include <QColor>
#include <QIcon>
#include <QWidget>

#include <string>

namespace orvel::ui {

// One of our symbols at a text size, tinted and optionally rotated.
class SymbolWidget final : public QWidget {
    Q_OBJECT

  public:
    explicit SymbolWidget(QWidget* parent = nullptr);

    void setSymbol(const std::string& name, int side, QColor color, double rotation,
                   double opacity);
    // An application's icon drawn in place of the symbol: the icon theme's by name, else the
    // picture file's; the symbol when neither is found.
    void setApplicationIcon(const std::string& iconName, const std::string& iconFile);
    QSize sizeHint() const override { return {side_, side_}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::string name_;
    int side_ = 16;
    QColor color_;
    double rotation_ = 0;
    double opacity_ = 1;
    std::string iconName_;
    std::string iconFile_;
    QIcon picture_;
};

}  // namespace orvel::ui
