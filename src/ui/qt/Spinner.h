#pragma once

#include <QBasicTimer>
#include <QWidget>

#include "ui/Types.h"

namespace orvel::ui {

// An indeterminate progress indicator: spokes fading round a circle, turning while shown.
class Spinner final : public QWidget {
    Q_OBJECT

  public:
    explicit Spinner(QWidget* parent = nullptr);

    void setControlSize(ControlSize size);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QBasicTimer timer_;
    int step_ = 0;
    ControlSize size_ = ControlSize::regular;
};

}  // namespace orvel::ui
