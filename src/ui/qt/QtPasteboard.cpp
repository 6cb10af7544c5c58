#include "ui/qt/QtPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace orvel::ui {

void QtPasteboard::setString(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

std::optional<std::string> QtPasteboard::string() const {
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isNull()) {
        return std::nullopt;
    }
    return text.toStdString();
}

}  // namespace orvel::ui
