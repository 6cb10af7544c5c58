#pragma once

#include <QAbstractButton>

#include "ui/Types.h"

namespace orvel::ui {

// A small pill switch: the knob slides right and the track fills with the accent when on.
class SwitchWidget final : public QAbstractButton {
    Q_OBJECT

  public:
    explicit SwitchWidget(QWidget* parent = nullptr);

    void setControlSize(ControlSize size);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ControlSize size_ = ControlSize::regular;
};

}  // namespace orvel::ui
