#include "ui/qt/render/RenderNode.h"

#include "foundation/Localization.h"
#include "ui/Markdown.h"

#include <QCoreApplication>
#include <QLayout>
#include <QWidget>

namespace orvel::ui::render {

namespace {

bool isLabelled(NodeKind kind) {
    switch (kind) {
        case NodeKind::toggle:
        case NodeKind::picker:
        case NodeKind::textField:
        case NodeKind::stepper:
        case NodeKind::datePicker:
        case NodeKind::labeledContent:
            return true;
        default:
            return false;
    }
}

void collectText(const Node& n, std::string& out) {
    if (n.kind == NodeKind::text || n.kind == NodeKind::label ||
        n.kind == NodeKind::labeledContent) {
        const std::string raw = shownText(n);
        const std::string plain = n.verbatim ? raw : plainText(parseInlineMarkdown(raw));
        if (!plain.empty()) {
            if (!out.empty())
                out += ' ';
            out += plain;
        }
    }
    for (const View& child : n.children) {
        collectText(child.node(), out);
    }
}

class CommitEditFilter final : public QObject {
  public:
    CommitEditFilter(QObject* parent, std::function<void()> commit)
        : QObject(parent), commit_(std::move(commit)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == commitEditEvent()) {
            commit_();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> commit_;
};

}  // namespace

QEvent::Type commitEditEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void commitPendingEdit(QWidget& button) {
    QWidget* focused = button.window()->focusWidget();
    if (focused == nullptr || focused == &button) {
        return;
    }
    QEvent commit(commitEditEvent());
    QCoreApplication::sendEvent(focused, &commit);
}

void onCommitEdit(QWidget* control, std::function<void()> commit) {
    control->installEventFilter(new CommitEditFilter(control, std::move(commit)));
}

Env Env::applying(const Node& n) const {
    Env e = *this;
    if (n.font)
        e.font = *n.font;
    if (n.fontWeight)
        e.imposedWeight = n.fontWeight;
    if (n.foreground)
        e.foreground = *n.foreground;
    if (n.buttonStyle)
        e.buttonStyle = *n.buttonStyle;
    if (n.toggleStyle)
        e.toggleStyle = *n.toggleStyle;
    if (n.pickerStyle)
        e.pickerStyle = *n.pickerStyle;
    if (n.controlSize)
        e.controlSize = *n.controlSize;
    if (n.labelsHidden)
        e.labelsHidden = *n.labelsHidden;
    if (n.textSelection)
        e.textSelection = true;
    if (n.multilineAlignment)
        e.multiline = *n.multilineAlignment;
    if (n.lineLimit)
        e.lineLimit = n.lineLimit;
    if (n.lineSpacing)
        e.lineSpacing = *n.lineSpacing;
    if (n.kind == NodeKind::fixedSize) {
        e.wrapsToWidth = n.fixedVertical && !n.fixedHorizontal;
    }
    e.opacity *= n.opacity;
    e.disabled = e.disabled || n.disabled;
    return e;
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string shownText(const Node& n) {
    return rawText(n);
}

QString textOf(const Node& n) {
    std::string out;
    collectText(n, out);
    return QString::fromStdString(out);
}

Qt::Alignment hFlag(HAlign a) {
    return a == HAlign::leading    ? Qt::AlignLeft
           : a == HAlign::trailing ? Qt::AlignRight
                                   : Qt::AlignHCenter;
}

Qt::Alignment vFlag(VAlign a) {
    // Tops lined up put the first lines of texts of one size on one baseline; centred, a
    // one-line text beside a wrapping one would sit halfway down it.
    return a == VAlign::top || a == VAlign::firstTextBaseline ? Qt::AlignTop
           : a == VAlign::bottom                              ? Qt::AlignBottom
                                                              : Qt::AlignVCenter;
}

Qt::Alignment textFlag(TextAlignment a) {
    return a == TextAlignment::center     ? Qt::AlignHCenter
           : a == TextAlignment::trailing ? Qt::AlignRight
                                          : Qt::AlignLeft;
}

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item;
    }
}

void remeasureAbove(QWidget* widget) {
    for (QWidget* box = widget->parentWidget(); box != nullptr && !box->isWindow();
         box = box->parentWidget()) {
        if (QLayout* layout = box->layout())
            layout->invalidate();
        box->updateGeometry();
    }
}

bool isWrapper(NodeKind kind) {
    switch (kind) {
        case NodeKind::padding:
        case NodeKind::frame:
        case NodeKind::fixedSize:
        case NodeKind::background:
        case NodeKind::overlay:
            return true;
        default:
            return false;
    }
}

bool passesOpacityDown(NodeKind kind) {
    switch (kind) {
        case NodeKind::vstack:
        case NodeKind::hstack:
        case NodeKind::zstack:
        case NodeKind::scroll:
        case NodeKind::form:
        case NodeKind::section:
        case NodeKind::list:
        case NodeKind::tabView:
        case NodeKind::image:
        case NodeKind::shape:
        case NodeKind::spacer:
            return true;
        default:
            return isWrapper(kind);
    }
}

const Node* labelledControl(const Node& n) {
    const Node* at = &n;
    while (isWrapper(at->kind) && !at->children.empty()) {
        at = &at->children[0].node();
    }
    return isLabelled(at->kind) ? at : nullptr;
}

std::optional<View> labelViewOf(const Node& control) {
    switch (control.kind) {
        case NodeKind::toggle:
        case NodeKind::stepper:
            return control.children.empty() ? std::nullopt
                                            : std::optional<View>(control.children[0]);
        default:
            if (control.text.empty())
                return std::nullopt;
            return Text(control.text);
    }
}

}  // namespace orvel::ui::render
