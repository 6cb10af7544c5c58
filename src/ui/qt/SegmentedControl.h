#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "ui/Types.h"

namespace orvel::ui {

// A row of mutually exclusive segments in one rounded frame; the chosen one is filled with the
// accent. No segment is chosen when the selection matches none.
class SegmentedControl final : public QWidget {
    Q_OBJECT

  public:
    struct Segment {
        QString title;
        std::string symbol;  // drawn before the title, in the title's colour
        bool enabled = true;
        bool operator==(const Segment&) const = default;
    };

    explicit SegmentedControl(QWidget* parent = nullptr);

    void setSegments(std::vector<Segment> segments);
    const std::vector<Segment>& segments() const { return segments_; }
    void setSelectedIndex(int index);
    int selectedIndex() const { return selected_; }
    // A tab view's bar reads as page tabs, a picker as radio buttons.
    void setTabBar(bool tabBar) { tabBar_ = tabBar; }
    bool isTabBar() const { return tabBar_; }
    // Picks an enabled segment as a click on it would.
    void activate(int index);
    QRectF segmentRect(int index) const;
    void setControlSize(ControlSize size);
    // Called when the user picks a segment.
    std::function<void(int)> onActivated;

    QSize sizeHint() const override;
    // Narrower than its titles (a long word of another language), the segments share the width
    // and their titles are elided.
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int segmentAt(QPoint point) const;
    int naturalWidth(int index) const;
    double segmentWidth(int index) const;

    std::vector<Segment> segments_;
    int selected_ = -1;
    int pressed_ = -1;
    ControlSize size_ = ControlSize::regular;
    bool tabBar_ = false;
};

}  // namespace orvel::ui
