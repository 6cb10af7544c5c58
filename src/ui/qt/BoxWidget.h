#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

#include "ui/Types.h"

namespace orvel::ui {

// A container that can paint a background shape under its content and a stroke over it: the
// layout wrappers, stacks, section panels and rows are all boxes.
class BoxWidget final : public QWidget {
    Q_OBJECT

  public:
    explicit BoxWidget(QWidget* parent = nullptr);
    ~BoxWidget() override;

    void setBackground(std::optional<QColor> color, Shape shape = Shape::rectangle());
    void setOverlay(std::optional<QColor> color, double lineWidth = 1,
                    Shape shape = Shape::rectangle());
    void setPaintOpacity(double opacity);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;

  private:
    class Overlay;
    std::optional<QColor> background_;
    Shape backgroundShape_;
    Overlay* overlay_ = nullptr;
    double opacity_ = 1;
};

}  // namespace orvel::ui
