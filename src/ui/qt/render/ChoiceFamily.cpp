#include "ui/qt/render/Families.h"

#include "foundation/Localization.h"
#include "ui/qt/BoxWidget.h"
#include "ui/qt/DateTimeField.h"
#include "ui/qt/SegmentedControl.h"
#include "ui/qt/StepperArrows.h"
#include "ui/qt/SwitchWidget.h"
#include "ui/qt/SymbolSet.h"
#include "ui/qt/ViewButton.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace orvel::ui::render {

namespace {

// One choice of a picker, read from its content.
struct Option {
    QString title;
    std::string tag;
    std::string symbol;
    bool enabled = true;
};

std::vector<Option> optionsOf(RenderCore& core, const Node& n) {
    std::vector<Entry> entries;
    core.flatten(n.children, "", Env{}, entries);
    std::vector<Option> options;
    for (const Entry& e : entries) {
        const Node& o = e.view.node();
        Option option;
        option.title = textOf(o);
        option.tag = o.tag.value_or(option.title.toStdString());
        const Node* inner = &o;
        while ((isWrapper(inner->kind) || inner->kind == NodeKind::hstack) &&
               !inner->children.empty() && inner->systemImage.empty()) {
            inner = &inner->children[0].node();
        }
        option.symbol = inner->systemImage;
        option.enabled = !o.disabled;
        options.push_back(std::move(option));
    }
    return options;
}

QIcon iconOf(const std::string& symbol, const QColor& color) {
    if (symbol.empty())
        return QIcon();
    return SymbolSet::shared().icon(symbol, kPickerIconSize, color, kPickerIconScale);
}

// Radio buttons are not exclusive by themselves: the selection alone decides which is on.
void syncRadios(RenderNode& rn) {
    const Node& n = rn.node();
    const std::string selected = n.textBinding.get ? n.textBinding.get() : std::string();
    QLayout* layout = rn.control ? rn.control->layout() : nullptr;
    for (int i = 0; layout && i < layout->count(); ++i) {
        auto* radio = qobject_cast<QRadioButton*>(layout->itemAt(i)->widget());
        if (radio == nullptr || static_cast<std::size_t>(i) >= rn.tags.size())
            continue;
        const QSignalBlocker block(radio);
        radio->setChecked(rn.tags[static_cast<std::size_t>(i)] == selected);
    }
}

void syncPicker(RenderNode& rn) {
    const Node& n = rn.node();
    const std::string selected = n.textBinding.get ? n.textBinding.get() : std::string();
    int index = -1;
    for (std::size_t i = 0; i < rn.tags.size(); ++i) {
        if (rn.tags[i] == selected) {
            index = static_cast<int>(i);
            break;
        }
    }
    if (auto* combo = qobject_cast<QComboBox*>(rn.control)) {
        const QSignalBlocker block(combo);
        combo->setCurrentIndex(index);
    } else if (auto* segments = qobject_cast<SegmentedControl*>(rn.control)) {
        segments->setSelectedIndex(index);
    } else {
        syncRadios(rn);
    }
}

void updatePicker(RenderCore& core, RenderNode& rn, const Node& n, const Env& env) {
    const std::vector<Option> options = optionsOf(core, n);
    const std::string selected = n.textBinding.get ? n.textBinding.get() : std::string();
    int index = -1;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i].tag == selected) {
            index = static_cast<int>(i);
            break;
        }
    }
    std::vector<std::string> signature;
    rn.tags.clear();
    for (const Option& o : options) {
        signature.push_back(o.title.toStdString() + "\x1f" + o.symbol + (o.enabled ? "" : "\x1f-"));
        rn.tags.push_back(o.tag);
    }
    PickerStyle style = env.pickerStyle;
    if (style == PickerStyle::automatic)
        style = PickerStyle::menu;
    if (style == PickerStyle::inline_)
        style = PickerStyle::radioGroup;
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    auto choose = [guard, self](int i) {
        if (!guard || i < 0 || static_cast<std::size_t>(i) >= self->tags.size())
            return;
        auto binding = self->node().textBinding;
        if (binding.set)
            binding.set(self->tags[static_cast<std::size_t>(i)]);
        // Show at once what the source of truth holds now.
        syncPicker(*self);
    };
    const QPalette pal = core.palette();
    const bool styleMatches =
        rn.control != nullptr &&
        ((style == PickerStyle::menu && qobject_cast<QComboBox*>(rn.control)) ||
         (style == PickerStyle::segmented && dynamic_cast<SegmentedControl*>(rn.control)) ||
         (style == PickerStyle::radioGroup && rn.control->property("radioGroup").toBool()));
    if (!styleMatches) {
        if (rn.control) {
            rn.control->hide();
            rn.control->deleteLater();
            rn.placed.clear();
        }
        rn.signature.clear();
        if (style == PickerStyle::menu) {
            auto* combo = new QComboBox;
            QObject::connect(combo, qOverload<int>(&QComboBox::activated), combo, choose);
            rn.control = combo;
        } else if (style == PickerStyle::segmented) {
            auto* segments = new SegmentedControl;
            segments->onActivated = choose;
            rn.control = segments;
        } else {
            auto* group = new BoxWidget;
            group->setProperty("radioGroup", true);
            auto* layout = new QVBoxLayout(group);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(kRadioSpacing);
            rn.control = group;
        }
    }
    const QFont font = core.fontOf(env);
    if (auto* combo = qobject_cast<QComboBox*>(rn.control)) {
        if (rn.signature != signature) {
            const QSignalBlocker block(combo);
            combo->clear();
            for (const Option& o : options) {
                combo->addItem(iconOf(o.symbol, pal.color(QPalette::ButtonText)), o.title);
                if (!o.enabled) {
                    if (auto* model = qobject_cast<QStandardItemModel*>(combo->model()))
                        model->item(combo->count() - 1)->setEnabled(false);
                }
            }
        }
        if (combo->currentIndex() != index) {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(index);
        }
        if (combo->font() != font)
            combo->setFont(font);
    } else if (auto* segments = dynamic_cast<SegmentedControl*>(rn.control)) {
        std::vector<SegmentedControl::Segment> list;
        for (const Option& o : options) {
            list.push_back({o.title, o.symbol, o.enabled});
        }
        if (rn.signature != signature)
            segments->setSegments(list);
        segments->setSelectedIndex(index);
        segments->setControlSize(env.controlSize);
        if (segments->font() != font)
            segments->setFont(font);
    } else {
        auto* layout = static_cast<QVBoxLayout*>(rn.control->layout());
        if (rn.signature != signature) {
            while (QLayoutItem* item = layout->takeAt(0)) {
                delete item->widget();
                delete item;
            }
            for (std::size_t i = 0; i < options.size(); ++i) {
                auto* radio = new QRadioButton(options[i].title);
                radio->setAutoExclusive(false);
                radio->setEnabled(options[i].enabled);
                const int at = static_cast<int>(i);
                QObject::connect(radio, &QRadioButton::clicked, radio, [choose, at, guard, self] {
                    choose(at);
                    if (guard)
                        syncRadios(*self);
                });
                layout->addWidget(radio);
            }
        }
        syncRadios(rn);
        for (int i = 0; i < layout->count(); ++i) {
            auto* radio = static_cast<QRadioButton*>(layout->itemAt(i)->widget());
            if (radio->font() != font)
                radio->setFont(font);
        }
    }
    rn.signature = signature;
    const QString name = qs(localized(n.text));
    if (rn.control->accessibleName() != name && !n.accessibilityLabel)
        rn.control->setAccessibleName(name);
    rn.control->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    core.composeLabelled(
        rn, style == PickerStyle::segmented && n.text.empty() ? std::nullopt : core.ownLabel(n),
        rn.control, env);
}

void updateToggle(RenderCore& core, RenderNode& rn, const Node& n, const Env& env,
                  const Env& childEnv) {
    const bool on = n.boolBinding.get ? n.boolBinding.get() : false;
    const ToggleStyle style = env.toggleStyle;
    std::optional<View> label =
        n.children.empty() ? std::nullopt : std::optional<View>(n.children[0]);
    QWidget* control = rn.control;
    const bool wantSwitch = style == ToggleStyle::switchStyle || style == ToggleStyle::automatic;
    const bool wantCheckbox = style == ToggleStyle::checkbox;
    bool matches = control != nullptr &&
                   ((wantSwitch && dynamic_cast<SwitchWidget*>(control)) ||
                    (wantCheckbox && dynamic_cast<QCheckBox*>(control)) ||
                    (!wantSwitch && !wantCheckbox && dynamic_cast<ViewButton*>(control)));
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    if (!matches) {
        if (control) {
            control->hide();
            control->deleteLater();
            rn.placed.clear();
        }
        QAbstractButton* button = nullptr;
        if (wantSwitch) {
            button = new SwitchWidget;
        } else if (wantCheckbox) {
            button = new QCheckBox;
        } else {
            auto* viewButton = new ViewButton;
            viewButton->setCheckable(true);
            button = viewButton;
        }
        QObject::connect(button, &QAbstractButton::clicked, button, [guard, self, button] {
            if (!guard)
                return;
            auto binding = self->node().boolBinding;
            if (binding.set)
                binding.set(button->isChecked());
            // Show what the source of truth holds now, whatever it made of the write.
            if (binding.get) {
                const QSignalBlocker block(button);
                button->setChecked(binding.get());
            }
        });
        rn.control = control = button;
    }
    auto* button = static_cast<QAbstractButton*>(control);
    if (button->isChecked() != on) {
        const QSignalBlocker block(button);
        button->setChecked(on);
    }
    if (auto* sw = dynamic_cast<SwitchWidget*>(button)) {
        sw->setControlSize(env.controlSize);
    }
    QString name = label ? textOf(label->node()) : QString();
    if (n.accessibilityLabel)
        name = qs(accessibilityLabelOf(n));
    if (button->accessibleName() != name)
        button->setAccessibleName(name);
    if (wantCheckbox) {
        // The checkbox carries its own title, so that a click on the words toggles it too.
        auto* box = static_cast<QCheckBox*>(button);
        const QString title = env.labelsHidden ? QString() : name;
        if (box->text() != title)
            box->setText(title);
        const QFont font = core.fontOf(env);
        if (box->font() != font)
            box->setFont(font);
        core.composeLabelled(rn, std::nullopt, button, env);
    } else if (!wantSwitch) {
        // A toggle drawn as a button carries its label inside, like any button.
        auto* viewButton = static_cast<ViewButton*>(button);
        Env labelEnv = childEnv;
        labelEnv.inButton = true;
        core.composeLabelled(rn, std::nullopt, button, env);
        if (label) {
            if (rn.inner == nullptr) {
                rn.inner = std::make_shared<RenderNode>();
                rn.inner->key = "buttonLabel";
                rn.inner->kind = label->node().kind;
            }
            core.update(*rn.inner, *label, labelEnv, Axis::horizontal, Role::plain);
            if (viewButton->layout()->indexOf(rn.inner->placedWidget()) < 0) {
                viewButton->layout()->addWidget(rn.inner->placedWidget());
                rn.inner->placedWidget()->show();
            }
        }
    } else {
        core.composeLabelled(rn, label, button, env);
    }
}

void updateStepper(RenderCore& core, RenderNode& rn, const Node& n, const Env& env) {
    auto* arrows = static_cast<StepperArrows*>(rn.control);
    const double value = n.numberBinding.get ? n.numberBinding.get() : 0;
    const bool canStepUp = value < n.maximum;
    const bool canStepDown = value > n.minimum;
    arrows->setLimits(canStepUp, canStepDown);
    arrows->setValue(value, n.minimum, n.maximum, n.step);
    arrows->setControlSize(env.controlSize);
    std::optional<View> label =
        n.children.empty() ? std::nullopt : std::optional<View>(n.children[0]);
    if (label && arrows->accessibleName().isEmpty())
        arrows->setAccessibleName(textOf(label->node()));
    core.composeLabelled(rn, label, arrows, env);
}

// "9", "9:30", "9:5", "930", "21.45", "2145": a time of day on the 24-hour clock.
std::optional<QTime> parseTypedTime(const QString& typed) {
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,2})(?:[:.](\\d{1,2})|(\\d{2}))?$"));
    const QRegularExpressionMatch match = form.match(typed);
    if (!match.hasMatch())
        return std::nullopt;
    const int hours = match.captured(1).toInt();
    const int minutes = (match.captured(2) + match.captured(3)).toInt();
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return QTime(hours, minutes);
}

// A time field takes a time typed whole ("9:30", "21:45") over what it shows, not only the
// arrows and one part at a time: typing starts over from the first digit, unless the user went
// to the minutes to type them alone. The time is taken when the field is left, on Return or
// before an arrow steps it or a button acts; until then nothing is written, and what is no time is
// refused in words, the field showing the stored time again.
class TypedTimeFilter final : public QObject {
  public:
    explicit TypedTimeFilter(QDateTimeEdit* edit) : QObject(edit), edit_(edit) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusOut || event->type() == commitEditEvent()) {
            finish(true);
            return false;
        }
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto& key = static_cast<const QKeyEvent&>(*event);
        const QString text = key.text();
        const bool plain = !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        const bool digit = plain && text.size() == 1 && text[0].isDigit();
        if (!typing_) {
            if (!digit || !startsOver())
                return false;
            typing_ = true;
            typed_.clear();
        }
        switch (key.key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                finish(true);
                return true;
            case Qt::Key_Escape:
                finish(false);
                return true;
            case Qt::Key_Backspace:
                typed_.chop(1);
                show();
                return true;
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
            case Qt::Key_Up:
            case Qt::Key_Down:
                finish(true);
                return false;
            default:
                break;
        }
        if (plain && text.size() == 1 && (text[0].isDigit() || text == ":" || text == ".")) {
            if (typed_.size() < 5) {
                typed_ += text;
                show();
            }
            return true;
        }
        // Letters and the rest cannot be part of a time.
        return plain && !text.isEmpty() && text[0].isPrint();
    }

  private:
    QLineEdit* line() const { return edit_->findChild<QLineEdit*>(); }

    // Typing starts over unless a later part than the first is chosen on its own.
    bool startsOver() const {
        QLineEdit* field = line();
        return field != nullptr && (!field->hasSelectedText() || field->selectionStart() == 0);
    }

    // Shown in the field without the field reading it as its value on the way.
    void show() {
        if (QLineEdit* field = line()) {
            const QSignalBlocker quiet(field);
            field->setText(typed_);
            field->setCursorPosition(static_cast<int>(typed_.size()));
        }
    }

    void finish(bool take) {
        if (!typing_)
            return;
        typing_ = false;
        const QString typed = typed_.trimmed();
        const std::optional<QTime> time = take ? parseTypedTime(typed) : std::nullopt;
        // The field shows the stored time again before anything is written.
        if (QLineEdit* field = line()) {
            const QSignalBlocker quiet(field);
            field->setText(edit_->dateTime().toString(edit_->displayFormat()));
        }
        if (time) {
            edit_->setTime(*time);
        } else if (take && !typed.isEmpty()) {
            QToolTip::showText(edit_->mapToGlobal(QPoint(0, edit_->height())),
                               qs(localizedFormat("\u201c%@\u201d is not a time of day \u2014 type "
                                                  "hours and minutes, such as 9:30 or 21:45.",
                                                  {typed.toStdString()})),
                               edit_);
        }
    }

    QDateTimeEdit* edit_;
    QString typed_;
    bool typing_ = false;
};

void updateDatePicker(RenderCore& core, RenderNode& rn, const Node& n, const Env& env) {
    auto* edit = static_cast<QDateTimeEdit*>(rn.control);
    QString format;
    if (n.dateComponents & kDateComponentDate)
        format = "d MMM yyyy";
    if (n.dateComponents & kDateComponentHourMinute)
        format += format.isEmpty() ? "HH:mm" : "  HH:mm";
    rn.updating = true;
    if (edit->displayFormat() != format)
        edit->setDisplayFormat(format);
    edit->setCalendarPopup((n.dateComponents & kDateComponentDate) != 0);
    if (n.dateBinding.get) {
        const QDateTime value = QDateTime::fromSecsSinceEpoch(
            static_cast<qint64>(std::llround(n.dateBinding.get().unixTime())));
        if (edit->dateTime() != value)
            edit->setDateTime(value);
    }
    rn.updating = false;
    const QString name = qs(localized(n.text));
    if (edit->accessibleName() != name && !n.accessibilityLabel)
        edit->setAccessibleName(name);
    core.composeLabelled(rn, core.ownLabel(n), edit, env);
}

QWidget* create(RenderCore& core, RenderNode& rn, const Node& n, Axis) {
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    switch (n.kind) {
        case NodeKind::toggle:
        case NodeKind::picker:
            // Toggles and pickers make their control when they learn their style.
            return core.makeLabelled();
        case NodeKind::stepper: {
            QWidget* box = core.makeLabelled();
            auto* arrows = new StepperArrows;
            arrows->onStep = [guard, self](int direction) {
                if (!guard)
                    return;
                const Node& node = self->node();
                auto binding = node.numberBinding;
                const double current = binding.get();
                const double next =
                    std::clamp(current + direction * node.step, node.minimum, node.maximum);
                // A value typed beyond the range is not pulled back by a step away from it.
                if (direction > 0 ? next > current : next < current)
                    binding.set(next);
            };
            rn.control = arrows;
            return box;
        }
        case NodeKind::datePicker: {
            QWidget* box = core.makeLabelled();
            auto* edit = new DateTimeField;
            edit->setTimeSpec(Qt::LocalTime);
            // What is typed is taken when the field is left, Return is pressed or a button acts,
            // whole: a time half typed ("2" on the way to "21:45") is never written.
            edit->setKeyboardTracking(false);
            onCommitEdit(edit, [edit] { edit->interpretText(); });
            if (n.dateComponents == kDateComponentHourMinute)
                edit->installEventFilter(new TypedTimeFilter(edit));
            QObject::connect(
                edit, &QDateTimeEdit::dateTimeChanged, edit, [guard, self](const QDateTime& value) {
                    if (!guard || self->updating)
                        return;
                    auto binding = self->node().dateBinding;
                    binding.set(Date::fromUnix(static_cast<double>(value.toSecsSinceEpoch())));
                });
            rn.control = edit;
            return box;
        }
        default:
            return nullptr;
    }
}

void update(RenderCore& core, RenderNode& rn, const Node& n, const Env& env, const Env& childEnv,
            Axis) {
    switch (n.kind) {
        case NodeKind::toggle:
            updateToggle(core, rn, n, env, childEnv);
            break;
        case NodeKind::picker:
            updatePicker(core, rn, n, env);
            break;
        case NodeKind::stepper:
            updateStepper(core, rn, n, env);
            break;
        case NodeKind::datePicker:
            updateDatePicker(core, rn, n, env);
            break;
        default:
            break;
    }
}

}  // namespace

const Family kChoiceFamily{create, update};

}  // namespace orvel::ui::render
