#include "ui/qt/QtAlert.h"

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/RunLoop.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/SymbolWidget.h"

namespace orvel::ui {

namespace {

// Escape and the window's close button answer with the button titled as a cancel, if any.
class AlertDialog final : public QDialog {
  public:
    std::function<void()> onCancel;

  protected:
    void reject() override {
        if (onCancel)
            onCancel();
    }
};

}  // namespace

QtAlert::QtAlert(AlertContent request) : content_(std::move(request)) {}

QtAlert::~QtAlert() = default;

void QtAlert::build() {
    auto dialog = std::make_unique<AlertDialog>();
    dialog->setWindowTitle(QString());
    dialog->setModal(true);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (content_.floating)
        flags |= Qt::WindowStaysOnTopHint;
    dialog->setWindowFlags(flags);

    auto* outer = new QHBoxLayout(dialog.get());
    outer->setContentsMargins(20, 20, 20, 16);
    outer->setSpacing(16);

    auto* symbol = new SymbolWidget;
    const QPalette pal = dialog->palette();
    switch (content_.style) {
        case AlertStyle::informational:
            symbol->setSymbol("info.circle", 44, pal.color(QPalette::Highlight), 0, 1);
            break;
        case AlertStyle::warning:
            symbol->setSymbol("exclamationmark.triangle", 44,
                              Appearance::named(NamedColor::orange, pal), 0, 1);
            break;
        case AlertStyle::critical:
            symbol->setSymbol("exclamationmark.circle.fill", 44,
                              Appearance::named(NamedColor::red, pal), 0, 1);
            break;
    }
    outer->addWidget(symbol, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    outer->addLayout(column, 1);
    auto* message = new QLabel(QString::fromStdString(content_.messageText));
    QFont bold = Appearance::font(Font::system(14, FontWeight::bold));
    message->setFont(bold);
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(message);
    if (!content_.informativeText.empty()) {
        auto* info = new QLabel(QString::fromStdString(content_.informativeText));
        info->setFont(Appearance::font(Font::system(12)));
        info->setWordWrap(true);
        info->setTextInteractionFlags(Qt::TextSelectableByMouse);
        column->addWidget(info);
    }
    if (content_.checkbox) {
        checkbox_ = new QCheckBox(QString::fromStdString(content_.checkbox->first));
        checkbox_->setChecked(content_.checkbox->second);
        checkbox_->setFont(Appearance::font(Font::system(12)));
        column->addSpacing(4);
        column->addWidget(checkbox_);
    }
    if (content_.secureFieldPlaceholder) {
        secure_ = new QLineEdit;
        secure_->setEchoMode(QLineEdit::Password);
        secure_->setPlaceholderText(QString::fromStdString(*content_.secureFieldPlaceholder));
        secure_->setMinimumWidth(220);
        column->addWidget(secure_);
    }
    column->addSpacing(8);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    std::vector<std::string> titles = content_.buttons;
    if (titles.empty())
        titles.push_back("OK");
    buttons_.assign(titles.size(), nullptr);
    // The first button is the default and sits on the right; the others follow to its left.
    for (std::size_t i = titles.size(); i-- > 0;) {
        auto* button = new QPushButton(QString::fromStdString(titles[i]));
        button->setMinimumWidth(80);
        button->setAutoDefault(false);
        if (i == 0) {
            // The default answer is drawn in the accent, as Return will choose it.
            button->setDefault(true);
            // Drawn flat: the style would lighten the accent until white words no longer read.
            const QColor accent = pal.color(QPalette::Active, QPalette::Highlight);
            button->setStyleSheet(
                QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3;"
                               " border-radius: 4px; padding: 4px 12px; }"
                               " QPushButton:pressed { background: %3; }")
                    .arg(accent.name(),
                         pal.color(QPalette::Active, QPalette::HighlightedText).name(),
                         accent.darker(125).name()));
        }
        const int response = kAlertFirstButtonReturn + static_cast<int>(i);
        QObject::connect(button, &QPushButton::clicked, button, [this, response] {
            if (running_ && !response_)
                response_ = response;
        });
        row->addWidget(button);
        buttons_[i] = button;
    }
    column->addLayout(row);
    dialog->onCancel = [this] {
        for (std::size_t i = 0; i < content_.buttons.size(); ++i) {
            if (content_.buttons[i] == "Cancel") {
                if (running_ && !response_)
                    response_ = kAlertFirstButtonReturn + static_cast<int>(i);
                return;
            }
        }
    };
    dialog->setMinimumWidth(420);
    dialog->setMaximumWidth(520);
    dialog_ = std::move(dialog);
}

QPushButton* QtAlert::button(std::size_t index) const {
    return index < buttons_.size() ? buttons_[index] : nullptr;
}

int QtAlert::runModal() {
    build();
    response_.reset();
    running_ = true;
    dialog_->adjustSize();
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
    if (secure_)
        secure_->setFocus();
    const bool answered = RunLoop::main().runModal([this] { return response_.has_value(); });
    running_ = false;
    checked_ = checkbox_ && checkbox_->isChecked();
    secureText_ = secure_ ? secure_->text().toStdString() : std::string();
    dialog_->hide();
    if (!answered || !response_) {
        response_ = kModalResponseAbort;
    }
    return *response_;
}

void QtAlert::setButtonTitle(std::size_t index, std::string title) {
    if (!running_ || index >= content_.buttons.size()) {
        return;
    }
    content_.buttons[index] = title;
    if (QPushButton* b = button(index)) {
        b->setText(QString::fromStdString(title));
    }
}

void QtAlert::stopModal(int response) {
    if (running_ && !response_) {
        response_ = response;
    }
}

bool QtAlert::checkboxState() const {
    if (running_ && checkbox_)
        return checkbox_->isChecked();
    return checked_;
}

std::string QtAlert::secureText() const {
    if (running_ && secure_)
        return secure_->text().toStdString();
    return secureText_;
}

}  // namespace orvel::ui
