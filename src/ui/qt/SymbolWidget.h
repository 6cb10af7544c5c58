#pragma once

#include <QColor>
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
};

}  // namespace orvel::ui
