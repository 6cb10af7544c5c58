#include "ui/qt/TextLabel.h"

#include <QPainter>
#include <QStyle>
#include <QTextDocument>

#include <cmath>

namespace orvel::ui {

namespace {

constexpr QChar kEllipsis(0x2026);
constexpr std::size_t kRememberedHeights = 8;

}  // namespace

TextLabel::TextLabel(QWidget* parent) : QLabel(parent) {
    // Inside a button a label would take the button's text role; it keeps its own.
    setForegroundRole(QPalette::WindowText);
}

void TextLabel::setTruncates(bool truncates) {
    if (truncates_ == truncates) {
        return;
    }
    truncates_ = truncates;
    updateGeometry();
    update();
}

bool TextLabel::measuresStale() const {
    // A text still shared with the one measured compares without being read.
    if (measuredText_ == text() && measuredFont_ == font() && measuredFormat_ == textFormat() &&
        measuredWrap_ == wordWrap()) {
        return false;
    }
    measuredText_ = text();
    measuredFont_ = font();
    measuredFormat_ = textFormat();
    measuredWrap_ = wordWrap();
    ideal_ = QSize();
    heights_.clear();
    nextHeight_ = 0;
    return true;
}

QSize TextLabel::sizeHint() const {
    if (!wordWrap()) {
        return QLabel::sizeHint();
    }
    // Layouts ask often, and each answer lays the whole text out twice: a long text made every
    // pass of a window's layout slow.
    measuresStale();
    if (!ideal_.isValid()) {
        QTextDocument document;
        document.setDefaultFont(font());
        document.setDocumentMargin(0);
        if (textFormat() == Qt::RichText) {
            document.setHtml(text());
        } else {
            document.setPlainText(text());
        }
        const int width = static_cast<int>(std::ceil(document.idealWidth())) + 1 +
                          contentsMargins().left() + contentsMargins().right();
        ideal_ = QSize(width, heightForWidth(width));
    }
    return ideal_;
}

QSize TextLabel::minimumSizeHint() const {
    if (!wordWrap()) {
        const QSize least = QLabel::minimumSizeHint();
        if (!truncates_) {
            return least;
        }
        const int ellipsis = fontMetrics().horizontalAdvance(kEllipsis) + contentsMargins().left() +
                             contentsMargins().right();
        return QSize(std::min(least.width(), ellipsis), least.height());
    }
    // Narrow enough to let layouts squeeze it, but as tall as at its natural width: the height a
    // layout gives it comes from heightForWidth at the width it really gets. Taking the height at
    // the narrow width would make every scroll view of wrapped text far too long.
    const QSize natural = sizeHint();
    const int width = std::min(natural.width(), fontMetrics().averageCharWidth() * 12);
    return QSize(width, natural.height());
}

int TextLabel::heightForWidth(int width) const {
    if (!wordWrap()) {
        return QLabel::heightForWidth(width);
    }
    measuresStale();
    for (const auto& [known, height] : heights_) {
        if (known == width) {
            return height;
        }
    }
    const int height = QLabel::heightForWidth(width);
    if (heights_.size() < kRememberedHeights) {
        heights_.emplace_back(width, height);
    } else {
        heights_[nextHeight_] = {width, height};
        nextHeight_ = (nextHeight_ + 1) % kRememberedHeights;
    }
    return height;
}

bool TextLabel::elides() const {
    return truncates_ && !wordWrap() && textFormat() != Qt::RichText &&
           fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

QString TextLabel::shownText() const {
    if (!elides()) {
        return text();
    }
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void TextLabel::paintEvent(QPaintEvent* event) {
    if (!elides()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                          isEnabled(), shownText(), foregroundRole());
}

}  // namespace orvel::ui
