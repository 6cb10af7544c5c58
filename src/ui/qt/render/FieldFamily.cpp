#include "ui/qt/render/Families.h"

#include "foundation/Localization.h"
#include "foundation/NumberFormatting.h"
#include "ui/qt/BoxWidget.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvel::ui::render {

namespace {

// Runs an action each time the watched widget loses the keyboard focus.
class FocusLostFilter final : public QObject {
  public:
    FocusLostFilter(QObject* parent, std::function<void()> action)
        : QObject(parent), action_(std::move(action)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            action_();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> action_;
};

// What an integer field shows counts at once: each edit writes the whole number of the locale
// it reads, and text that is none puts back the value from before the typing (unless something
// else changed it meanwhile). The text stays as typed until the edit ends.
void writeTyped(RenderNode& rn, const QString& text) {
    auto binding = rn.node().integerBinding;
    if (!binding.get || !binding.set) {
        return;
    }
    const std::int64_t held = binding.get();
    std::optional<std::int64_t> value = parseInteger(text.toStdString());
    if (!value && rn.editWritten == held) {
        value = rn.editStart;
    }
    if (value && *value != held) {
        binding.set(*value);
        rn.editWritten = binding.get();
    }
}

void typedInteger(RenderNode& rn, const QString& text) {
    if (!rn.dirty) {
        rn.dirty = true;
        rn.editStart = rn.node().integerBinding.get ? rn.node().integerBinding.get() : 0;
        rn.editWritten = rn.editStart;
    }
    writeTyped(rn, text);
}

// When the edit ends the field shows the value the binding holds, in the locale's form.
void commitInteger(RenderNode& rn, QLineEdit* field) {
    const Node& node = rn.node();
    if (!node.isInteger || !rn.dirty) {
        return;
    }
    writeTyped(rn, field->text());
    rn.dirty = false;
    rn.editWritten.reset();
    const QString shown = qs(integerText(node.integerBinding.get()));
    if (field->text() != shown) {
        field->setText(shown);
    }
}

// Up and Down in a whole-number field work the stepper beside it, from what was typed.
class StepKeysFilter final : public QObject {
  public:
    StepKeysFilter(QLineEdit* field, WeakRef<RenderNode> node, RenderNode* self)
        : QObject(field), field_(field), node_(std::move(node)), self_(self) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !node_)
            return QObject::eventFilter(watched, event);
        auto* key = static_cast<QKeyEvent*>(event);
        RenderNode* stepper = self_->stepper.get();
        const bool arrow = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down;
        if (!arrow || stepper == nullptr || stepper->control == nullptr ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return QObject::eventFilter(watched, event);
        }
        commitInteger(*self_, field_);
        QKeyEvent step(QEvent::KeyPress, key->key(), Qt::NoModifier);
        QCoreApplication::sendEvent(stepper->control, &step);
        return true;
    }

  private:
    QLineEdit* field_;
    WeakRef<RenderNode> node_;
    RenderNode* self_;
};

void updateTextField(RenderCore& core, RenderNode& rn, const Node& n, const Env& env) {
    auto* field = static_cast<QLineEdit*>(rn.control);
    const QString title = qs(localized(n.text));
    const QString placeholder = env.inFormRow ? QString() : title;
    if (field->placeholderText() != placeholder)
        field->setPlaceholderText(placeholder);
    const QLineEdit::EchoMode echo = n.secure ? QLineEdit::Password : QLineEdit::Normal;
    if (field->echoMode() != echo)
        field->setEchoMode(echo);
    const Qt::Alignment align = textFlag(env.multiline) | Qt::AlignVCenter;
    if (field->alignment() != align)
        field->setAlignment(align);
    const QFont font = core.fontOf(env);
    if (field->font() != font)
        field->setFont(font);
    if (field->accessibleName() != title && !n.accessibilityLabel)
        field->setAccessibleName(title);
    // Only a value that differs from what the field shows is written, so that the caret,
    // the selection and an edit in progress stay as they are.
    QString value;
    if (n.isInteger) {
        if (!rn.dirty && n.integerBinding.get)
            value = qs(integerText(n.integerBinding.get()));
        else
            value = field->text();
    } else if (n.textBinding.get) {
        value = qs(n.textBinding.get());
    }
    if (field->text() != value) {
        const int caret = field->cursorPosition();
        field->setText(value);
        field->setCursorPosition(std::min(caret, static_cast<int>(value.size())));
    }
    field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    field->setMinimumWidth(n.isInteger ? kIntegerFieldMinWidth : kTextFieldMinWidth);
    core.composeLabelled(rn, std::nullopt, field, env);
}

void updateLabeledContent(RenderCore& core, RenderNode& rn, const Node& n, const Env& env,
                          const Env& childEnv) {
    // The value is the node's only child; it sits where a control would.
    if (rn.control == nullptr) {
        rn.control = new BoxWidget;
        auto* layout = new QHBoxLayout(rn.control);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    auto holder = rn.inner;
    if (!holder) {
        holder = rn.inner = std::make_shared<RenderNode>();
        holder->kind = NodeKind::hstack;
        holder->widget = rn.control;
    }
    Env valueEnv = childEnv;
    if (n.children.empty() || !n.children[0].node().foreground)
        valueEnv.foreground = Hierarchy::secondary;
    std::vector<Entry> entries;
    core.flatten(n.children, "", valueEnv, entries);
    core.reconcile(*holder, std::move(entries), Axis::horizontal, Role::plain);
    std::vector<Qt::Alignment> flags(holder->children.size(), Qt::AlignVCenter);
    core.place(*holder, static_cast<QBoxLayout*>(rn.control->layout()), flags);
    core.composeLabelled(rn, core.ownLabel(n), rn.control, env);
    if (!rn.children.empty())
        core.labelControlIn(rn, rn.children[0]->placedWidget());
}

QWidget* create(RenderCore& core, RenderNode& rn, const Node& n, Axis) {
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    switch (n.kind) {
        case NodeKind::textField: {
            QWidget* box = core.makeLabelled();
            auto* field = new QLineEdit;
            QObject::connect(field, &QLineEdit::textEdited, field,
                             [guard, self](const QString& text) {
                                 if (!guard)
                                     return;
                                 const Node& node = self->node();
                                 if (node.isInteger) {
                                     typedInteger(*self, text);
                                 } else if (node.textBinding.set) {
                                     auto binding = node.textBinding;
                                     binding.set(text.toStdString());
                                 }
                             });
            const auto commit = [guard, self, field] {
                if (guard)
                    commitInteger(*self, field);
            };
            QObject::connect(field, &QLineEdit::editingFinished, field, commit);
            onCommitEdit(field, commit);
            field->installEventFilter(new StepKeysFilter(field, guard, self));
            field->installEventFilter(new FocusLostFilter(field, [guard, self] {
                if (!guard)
                    return;
                if (auto lost = self->node().onFocusLost) {
                    lost();
                }
            }));
            QObject::connect(field, &QLineEdit::returnPressed, field, [guard, self] {
                if (!guard)
                    return;
                if (auto submit = self->node().onSubmit) {
                    submit();
                }
            });
            rn.control = field;
            return box;
        }
        case NodeKind::labeledContent:
            return core.makeLabelled();
        default:
            return nullptr;
    }
}

void update(RenderCore& core, RenderNode& rn, const Node& n, const Env& env, const Env& childEnv,
            Axis) {
    switch (n.kind) {
        case NodeKind::textField:
            updateTextField(core, rn, n, env);
            break;
        case NodeKind::labeledContent:
            updateLabeledContent(core, rn, n, env, childEnv);
            break;
        default:
            break;
    }
}

}  // namespace

const Family kFieldFamily{create, update};

}  // namespace orvel::ui::render
