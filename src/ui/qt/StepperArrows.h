#pragma once

#include <QWidget>

#include <functional>

#include "ui/Types.h"

namespace orvel::ui {

// The small up-and-down arrows of a stepper; the upper half steps up, the lower half down.
class StepperArrows final : public QWidget {
    Q_OBJECT

  public:
    explicit StepperArrows(QWidget* parent = nullptr);

    void setLimits(bool canStepUp, bool canStepDown);
    bool canStepUp() const { return up_; }
    bool canStepDown() const { return down_; }
    void setControlSize(ControlSize size);
    // What assistive technology reads: the value the arrows step, its range and step.
    void setValue(double value, double minimum, double maximum, double stepSize);
    double value() const { return value_; }
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    double stepSize() const { return stepSize_; }
    // +1 or -1, as a click on an arrow would step.
    void stepBy(int direction) { step(direction); }
    // +1 or -1.
    std::function<void(int)> onStep;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void step(int direction);
    bool up_ = true, down_ = true;
    int pressed_ = 0;
    double value_ = 0, minimum_ = 0, maximum_ = 0, stepSize_ = 1;
    ControlSize size_ = ControlSize::regular;
};

}  // namespace orvel::ui
