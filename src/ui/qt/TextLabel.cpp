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
    const int width = std::min(sizeHint().width(), fontMetrics().averageCharWidth() * 12);
    return QSize(width, heightForWidth(width));
}

}  // namespace orvel::ui
