#pragma once

#include <QLayout>

#include <vector>

namespace orvel::ui {

// Lays every item over the same rectangle, later items on top: items that do not expand take
// their preferred size and sit at their alignment (the layout's own when they have none).
class OverlayLayout final : public QLayout {
  public:
    explicit OverlayLayout(QWidget* parent = nullptr);
    ~OverlayLayout() override;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;
    Qt::Orientations expandingDirections() const override;

  private:
    std::vector<QLayoutItem*> items_;
};

}  // namespace orvel::ui
