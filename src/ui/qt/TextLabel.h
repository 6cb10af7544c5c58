#pragma once

#include <QLabel>

namespace orvel::ui {

// A label whose ideal width is its text on one line, as a declarative toolkit's text has: it
// wraps only when its place is narrower than that.
class TextLabel final : public QLabel {
    Q_OBJECT

  public:
    explicit TextLabel(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

}  // namespace orvel::ui
