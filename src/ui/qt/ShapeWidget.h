#pragma once

#include <QColor>
#include <QPainterPath>
#include <QWidget>

#include "ui/Types.h"

namespace orvel::ui {

// A filled or stroked shape that takes the space it is given.
class ShapeWidget final : public QWidget {
    Q_OBJECT

  public:
    explicit ShapeWidget(QWidget* parent = nullptr);

    void setLook(const Shape& shape, QColor fill, QColor stroke, double lineWidth, double opacity);
    // The outline of a shape in a rectangle.
    static QPainterPath path(const Shape& shape, const QRectF& rect);

    QSize sizeHint() const override { return {12, 12}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Shape shape_;
    QColor fill_, stroke_;
    double lineWidth_ = 1;
    double opacity_ = 1;
};

}  // namespace orvel::ui
