#pragma once

#include <QAbstractButton>

class QPainter;

namespace orvel::ui {

// A button whose label is any rendered view: the label's widgets sit in its layout and let the
// mouse through, and the button paints the bezel of its style behind them.
class ViewButton final : public QAbstractButton {
    Q_OBJECT

  public:
    enum class Look { bordered, prominent, plain, borderless, link, menuRow };

    explicit ViewButton(QWidget* parent = nullptr);

    void setLook(Look look, double indent = 0, double scale = 1);
    Look look() const { return look_; }
    void setDefault(bool isDefault);
    void setDestructive(bool destructive);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    // Whether the keyboard brought the focus here: only then is it drawn.
    bool focusShown() const;
    void drawFocusRing(QPainter& p, const QRectF& area, double radius) const;

    Look look_ = Look::bordered;
    bool default_ = false;
    bool destructive_ = false;
    bool hovered_ = false;
    bool keyboardFocus_ = false;
    double scale_ = 1;
};

}  // namespace orvel::ui
