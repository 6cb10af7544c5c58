#pragma once

#include <QColor>
#include <QWidget>

namespace orvel::ui {

// A hairline across the stack it sits in: horizontal in a vertical stack, vertical in a row.
class SeparatorLine final : public QWidget {
    Q_OBJECT

  public:
    explicit SeparatorLine(Qt::Orientation orientation, QWidget* parent = nullptr);

    void setOrientation(Qt::Orientation orientation);
    void setColor(QColor color);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {1, 1}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Qt::Orientation orientation_;
    QColor color_;
};

}  // namespace orvel::ui
