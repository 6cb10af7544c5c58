#include "ui/qt/TextLabel.h"

#include <QTextDocument>

namespace orvel::ui {

TextLabel::TextLabel(QWidget* parent) : QLabel(parent) {
    // Inside a button a label would take the button's text role; it keeps its own.
    setForegroundRole(QPalette::WindowText);
}

QSize TextLabel::sizeHint() const {
    if (!wordWrap()) {
        return QLabel::sizeHint();
    }
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
    return QSize(width, heightForWidth(width));
}

QSize TextLabel::minimumSizeHint() const {
    if (!wordWrap()) {
        return QLabel::minimumSizeHint();
    }
    // Narrow enough to let layouts squeeze it, but as tall as at its natural width: the height a
    // layout gives it comes from heightForWidth at the width it really gets. Taking the height at
    // the narrow width would make every scroll view of wrapped text far too long.
    const QSize natural = sizeHint();
    const int width = std::min(natural.width(), fontMetrics().averageCharWidth() * 12);
    return QSize(width, natural.height());
}

}  // namespace orvel::ui
