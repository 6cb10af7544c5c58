#include "ui/qt/Accessibility.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QRadioButton>
#include <QScrollBar>
#include <QWindow>

#include <map>

#include "ui/qt/SegmentedControl.h"
#include "ui/qt/StepperArrows.h"
#include "ui/qt/SwitchWidget.h"
#include "ui/qt/ViewButton.h"

namespace orvel::ui {

namespace {

// A child of an interface whose children are a list of objects made afresh at each question: a
// reader may ask by an index it read before the list changed.
template <typename List>
QAccessibleInterface* childIn(const List& list, int index) {
    return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list[index])
                                             : nullptr;
}
template <typename List>
int indexIn(const List& list, const QAccessibleInterface* child) {
    return child != nullptr ? static_cast<int>(list.indexOf(child->object())) : -1;
}

// Qt leaves popup windows out of the application's children, so a reader never finds the panel
// (a popup while it closes on a click elsewhere). A shown popup is listed like any window.
class AccessibleApplication final : public QAccessibleApplication {
  public:
    int childCount() const override { return static_cast<int>(windows().size()); }
    QAccessibleInterface* child(int index) const override { return childIn(windows(), index); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return indexIn(windows(), child);
    }

  private:
    static QObjectList windows() {
        QObjectList list;
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window->type() == Qt::Desktop ||
                (window->type() == Qt::Popup && !window->isVisible()))
                continue;
            if (QAccessibleInterface* root = window->accessibleRoot(); root && root->object())
                list.append(root->object());
        }
        return list;
    }
};

// A widget with actions of its own, offered before the focus action every widget has; they do
// nothing while the widget is disabled.
class ActingWidget : public QAccessibleWidget {
  public:
    using QAccessibleWidget::QAccessibleWidget;

    QStringList actionNames() const override {
        return ownActions() << QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (!ownActions().contains(name)) {
            QAccessibleWidget::doAction(name);
        } else if (widget()->isEnabled()) {
            act(name);
        }
    }

  protected:
    virtual QStringList ownActions() const = 0;
    virtual void act(const QString& name) = 0;
};

// A button to a reader: pressed by its press action, or toggled by its toggle action while it
// reads as a check box.
class AccessibleButton : public ActingWidget {
  public:
    using ActingWidget::ActingWidget;

  protected:
    QStringList ownActions() const override {
        return {role() == QAccessible::CheckBox ? toggleAction() : pressAction()};
    }
    void act(const QString&) override { button()->click(); }
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

// A switch (a check box to a reader) or a radio button of a picker: on or off, named by its
// title where the view gives no name. A picker's radio buttons are not exclusive by themselves
// (the selection decides), so Qt would read them as check boxes.
class AccessibleCheckable final : public AccessibleButton {
  public:
    AccessibleCheckable(QAbstractButton* w, QAccessible::Role role) : AccessibleButton(w, role) {}

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = button()->text();
        return text;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }
};

// A menu picker: named by its own title, else by the label beside it, and labelled by that label
// (the relation a reader follows), which Qt finds only for a QLabel made its buddy; the renderer
// names that label in the control's `kLabelledBy` property. Its value is the current item.
class AccessibleComboBox final : public ActingWidget {
  public:
    explicit AccessibleComboBox(QComboBox* w) : ActingWidget(w, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return combo()->currentText();
        QString text = QAccessibleWidget::text(t);
        if (t != QAccessible::Name || !text.isEmpty())
            return text;
        QAccessibleInterface* label = labelInterface();
        text = label != nullptr ? label->text(QAccessible::Name) : QString();
        return text.isEmpty() ? combo()->currentText() : text;
    }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation match) const override {
        auto found = QAccessibleWidget::relations(match);
        if (QAccessibleInterface* label = labelInterface(); label && (match & QAccessible::Label))
            found.append({label, QAccessible::Label});
        return found;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = combo()->view()->isVisible();
        return s;
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == combo()->view() ? 0 : -1;
    }

  protected:
    QStringList ownActions() const override { return {showMenuAction(), pressAction()}; }
    void act(const QString&) override { combo()->showPopup(); }

  private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
    // Asked only while the label is there: the pointer clears as the label goes.
    QAccessibleInterface* labelInterface() const {
        const auto label = combo()->property(kLabelledBy).value<QPointer<QWidget>>();
        return label != nullptr ? QAccessible::queryAccessibleInterface(label) : nullptr;
    }
};

// A button whose label is a view: a push button; a check box while it toggles; a radio button
// while it is one of a set of choices (its `kChosen` property), checked when it is the chosen one.
// Asked each time, since a button becomes a choice after it is made.
class AccessibleViewButton final : public AccessibleButton {
  public:
    explicit AccessibleViewButton(ViewButton* w) : AccessibleButton(w, QAccessible::PushButton) {}

    QAccessible::Role role() const override {
        if (chosen().isValid())
            return QAccessible::RadioButton;
        return button()->isCheckable() ? QAccessible::CheckBox : QAccessible::PushButton;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->isDown();
        const QVariant choice = chosen();
        s.checkable = choice.isValid() || button()->isCheckable();
        s.checked = choice.isValid() ? choice.toBool() : button()->isChecked();
        return s;
    }

  private:
    QVariant chosen() const { return button()->property(kChosen); }
};

// A plain box: a window while it stands alone (the panel, a window's frame, named by its title),
// a group while it holds a picker's radio buttons, else a filler. Asked each time, since a box
// is often named before it is placed in its parent.
class AccessibleBox final : public QAccessibleWidget {
  public:
    explicit AccessibleBox(QWidget* w) : QAccessibleWidget(w) {}

    QAccessible::Role role() const override {
        if (widget()->isWindow())
            return QAccessible::Window;
        return widget()->property("radioGroup").toBool() ? QAccessible::Grouping
                                                         : QAccessible::Client;
    }
};

// The arrows of a stepper: a spin button that reads the value it steps, within its range.
class AccessibleStepper final : public ActingWidget, public QAccessibleValueInterface {
  public:
    explicit AccessibleStepper(StepperArrows* w) : ActingWidget(w, QAccessible::SpinBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return ActingWidget::interface_cast(type);
    }
    QVariant currentValue() const override { return arrows()->value(); }
    // The value is the view's: a reader steps it with the actions.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return arrows()->maximum(); }
    QVariant minimumValue() const override { return arrows()->minimum(); }
    QVariant minimumStepSize() const override { return arrows()->stepSize(); }

  protected:
    QStringList ownActions() const override { return {increaseAction(), decreaseAction()}; }
    void act(const QString& name) override { arrows()->stepBy(name == increaseAction() ? 1 : -1); }

  private:
    StepperArrows* arrows() const { return static_cast<StepperArrows*>(widget()); }
};

// One segment of a segmented control: a radio button of a picker, or a page tab of a tab bar.
class AccessibleSegment final : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    AccessibleSegment(SegmentedControl* control, int index) : control_(control), index_(index) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    bool isValid() const override {
        return control_ != nullptr && index_ < static_cast<int>(control_->segments().size());
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        QAccessibleInterface* control = parent();
        return control != nullptr ? control->window() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(control_);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? segment().title : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect local = control_->segmentRect(index_).toAlignedRect();
        return QRect(control_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override {
        return control_ && control_->isTabBar() ? QAccessible::PageTab : QAccessible::RadioButton;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const bool chosen = control_->selectedIndex() == index_;
        s.disabled = !control_->isEnabled() || !segment().enabled;
        s.invisible = !control_->isVisible();
        if (control_->isTabBar()) {
            s.selectable = true;
            s.selected = chosen;
        } else {
            s.checkable = true;
            s.checked = chosen;
        }
        return s;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid() && control_->isEnabled())
            control_->activate(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    const SegmentedControl::Segment& segment() const {
        return control_->segments()[static_cast<std::size_t>(index_)];
    }
    QPointer<SegmentedControl> control_;
    int index_;
};

// A segmented control: a page tab list over a tab view's pages, else a group of radio buttons.
class AccessibleSegmentedControl final : public QAccessibleWidget {
  public:
    explicit AccessibleSegmentedControl(SegmentedControl* w)
        : QAccessibleWidget(w, QAccessible::Grouping) {}
    ~AccessibleSegmentedControl() override {
        for (const auto& [index, id] : segments_)
            QAccessible::deleteAccessibleInterface(id);
    }

    QAccessible::Role role() const override {
        return control()->isTabBar() ? QAccessible::PageTabList : QAccessible::Grouping;
    }
    int childCount() const override { return static_cast<int>(control()->segments().size()); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (auto found = segments_.find(index); found != segments_.end())
            return QAccessible::accessibleInterface(found->second);
        auto* segment = new AccessibleSegment(control(), index);
        segments_[index] = QAccessible::registerAccessibleInterface(segment);
        return segment;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (const auto& [index, id] : segments_) {
            if (QAccessible::accessibleInterface(id) == child)
                return index < childCount() ? index : -1;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i) {
            QAccessibleInterface* segment = child(i);
            if (segment->rect().contains(x, y))
                return segment;
        }
        return nullptr;
    }

  private:
    SegmentedControl* control() const { return static_cast<SegmentedControl*>(widget()); }
    mutable std::map<int, QAccessible::Id> segments_;
};

// A scroll view: its viewport, then each scroll bar and the corner while shown, as Qt lists them.
// Those come and go with every change of size and with the window's showing, so an index a
// reader took a moment ago may be past the end, where Qt's own interface reads past its list.
class AccessibleScrollArea final : public QAccessibleWidget {
  public:
    explicit AccessibleScrollArea(QAbstractScrollArea* w)
        : QAccessibleWidget(w, QAccessible::Client) {}

    int childCount() const override { return static_cast<int>(parts().size()); }
    QAccessibleInterface* child(int index) const override { return childIn(parts(), index); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return indexIn(parts(), child);
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        if (!area()->isVisible())
            return nullptr;
        for (QWidget* part : parts()) {
            if (QRect(part->mapToGlobal(QPoint(0, 0)), part->size()).contains(x, y))
                return QAccessible::queryAccessibleInterface(part);
        }
        return nullptr;
    }

  private:
    QAbstractScrollArea* area() const { return static_cast<QAbstractScrollArea*>(widget()); }
    QWidgetList parts() const {
        QWidgetList list;
        if (QWidget* viewport = area()->viewport())
            list.append(viewport);
        for (QScrollBar* bar : {area()->horizontalScrollBar(), area()->verticalScrollBar()}) {
            if (bar != nullptr && bar->isVisible() && bar->parentWidget() != nullptr)
                list.append(bar->parentWidget());
        }
        if (QWidget* corner = area()->cornerWidget(); corner && corner->isVisible())
            list.append(corner);
        return list;
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (object == qApp && className == QLatin1String("QApplication"))
        return new AccessibleApplication;
    if (!object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (auto* sw = qobject_cast<SwitchWidget*>(widget);
        sw && className == sw->metaObject()->className())
        return new AccessibleCheckable(sw, QAccessible::CheckBox);
    if (auto* radio = qobject_cast<QRadioButton*>(widget);
        radio && className == QLatin1String("QRadioButton"))
        return new AccessibleCheckable(radio, QAccessible::RadioButton);
    if (auto* combo = qobject_cast<QComboBox*>(widget);
        combo && className == QLatin1String("QComboBox") && !combo->isEditable())
        return new AccessibleComboBox(combo);
    if (auto* button = qobject_cast<ViewButton*>(widget);
        button && className == button->metaObject()->className())
        return new AccessibleViewButton(button);
    if (auto* arrows = qobject_cast<StepperArrows*>(widget);
        arrows && className == arrows->metaObject()->className())
        return new AccessibleStepper(arrows);
    if (auto* segments = qobject_cast<SegmentedControl*>(widget);
        segments && className == segments->metaObject()->className())
        return new AccessibleSegmentedControl(segments);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(widget);
        area && (className == QLatin1String("QScrollArea") ||
                 className == QLatin1String("QAbstractScrollArea")))
        return new AccessibleScrollArea(area);
    if (className == QLatin1String("QWidget"))
        return new AccessibleBox(widget);
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static bool installed = false;
    if (!installed) {
        installed = true;
        QAccessible::installFactory(factory);
    }
}

}  // namespace orvel::ui
