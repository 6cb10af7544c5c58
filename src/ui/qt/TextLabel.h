#pragma once

#include <QLabel>

#include <cstddef>
#include <utility>
#include <vector>

namespace orvel::ui {

// A label whose ideal width is its text on one line, as a declarative toolkit's text has: it
// wraps only when its place is narrower than that. A one-line label that truncates ends in "…"
// where it is cut, instead of being clipped.
class TextLabel final : public QLabel {
    Q_OBJECT

  public:
    explicit TextLabel(QWidget* parent = nullptr);

    void setTruncates(bool truncates);
    bool truncates() const { return truncates_; }
    // The text as drawn: shortened with "…" when its place is too narrow.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool elides() const;
    // What the size of the text depends on: a change of any of them drops the measures.
    bool measuresStale() const;

    bool truncates_ = false;
    mutable QString measuredText_;
    mutable QFont measuredFont_;
    mutable Qt::TextFormat measuredFormat_ = Qt::PlainText;
    mutable bool measuredWrap_ = false;
    mutable QSize ideal_;
    // Heights for the last few widths asked: one layout pass asks for several, and a pass that
    // follows asks for the same again.
    mutable std::vector<std::pair<int, int>> heights_;
    mutable std::size_t nextHeight_ = 0;
};

}  // namespace orvel::ui
