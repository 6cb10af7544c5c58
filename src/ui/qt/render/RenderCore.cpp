#include "ui/qt/render/RenderCore.h"

#include "foundation/Localization.h"
#include "ui/ViewHost.h"
#include "ui/qt/Accessibility.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/BoxWidget.h"
#include "ui/qt/render/FocusChain.h"

#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPointer>

#include <cmath>

namespace orvel::ui::render {

namespace {

// Calls a node's tap action on a click released inside its view.
class TapFilter final : public QObject {
  public:
    TapFilter(QObject* parent, std::function<void()> onTap)
        : QObject(parent), onTap_(std::move(onTap)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* widget = static_cast<QWidget*>(watched);
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (widget->isEnabled() && widget->rect().contains(mouse->position().toPoint())) {
                auto action = onTap_;
                action();
                return true;
            }
        }
        return false;
    }

  private:
    std::function<void()> onTap_;
};

// Names the label shown beside a control for assistive technology (see kLabelledBy).
void setLabelledBy(QWidget* control, QWidget* label) {
    if (control->property(kLabelledBy).value<QPointer<QWidget>>() != label) {
        control->setProperty(kLabelledBy, QVariant::fromValue(QPointer<QWidget>(label)));
    }
}

// A node that goes stops hearing from its widgets before they are hidden: hiding a focused
// field finishes its edit, and that edit belongs to nothing any more.
void retire(RenderNode& rn) {
    rn.dropWeakReferences();
    for (auto& child : rn.children) {
        if (child)
            retire(*child);
    }
    for (auto* extra : {&rn.rowLabel, &rn.inner}) {
        if (*extra)
            retire(**extra);
    }
}

// The whole-number field at the end of a chain of wrappers, if any.
RenderNode* integerFieldIn(RenderNode& rn) {
    RenderNode* at = &rn;
    while (isWrapper(at->kind) && at->children.size() == 1) {
        at = at->children[0].get();
    }
    return at->kind == NodeKind::textField && at->node().isInteger ? at : nullptr;
}

// A stepper right after a whole-number field steps that field: the field takes the arrow keys,
// so the stepper is left out of the Tab order and only the mouse works it.
void pairSteppers(const std::vector<std::shared_ptr<RenderNode>>& children) {
    RenderNode* field = nullptr;
    for (const auto& child : children) {
        if (child->kind == NodeKind::stepper && child->control != nullptr) {
            const Qt::FocusPolicy policy = field ? Qt::ClickFocus : Qt::StrongFocus;
            if (child->control->focusPolicy() != policy)
                child->control->setFocusPolicy(policy);
            if (field)
                field->stepper = weakRef(*child);
        }
        field = integerFieldIn(*child);
        if (field)
            field->stepper = {};
    }
}

}  // namespace

RenderCore::RenderCore(QWidget& container, FamilyOf familyOf)
    : container_(container), familyOf_(familyOf) {
    root_.kind = NodeKind::vstack;
    auto* layout = new QVBoxLayout(&container_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    root_.widget = &container_;
}

RenderCore::~RenderCore() {
    for (auto& child : root_.children) {
        delete child->placedWidget();
    }
    delete container_.layout();
}

void RenderCore::render(const View& tree) {
    ++renders_;
    for (auto& cache : flexCache_) {
        cache.clear();
    }
    if (QApplication::font() != baseFont_) {
        baseFont_ = QApplication::font();
        fonts_.clear();
    }
    std::vector<Entry> entries;
    flatten({tree}, "", Env{}, entries);
    reconcile(root_, std::move(entries), Axis::vertical, Role::plain);
    std::vector<Qt::Alignment> flags;
    for (auto& child : root_.children) {
        const Flex f = flex(child->node(), Axis::vertical);
        setPolicy(child->placedWidget(), f);
        flags.push_back((f.h ? Qt::Alignment() : Qt::AlignHCenter) |
                        (f.v ? Qt::Alignment() : Qt::AlignTop));
    }
    place(root_, static_cast<QBoxLayout*>(container_.layout()), flags);
    for (auto& cache : flexCache_) {
        cache.clear();
    }
    orderFocusChain(container_);
}

QWidget* RenderCore::create(RenderNode& rn, const Node& n, Axis axis) {
    ++created_;
    const Family* family = familyOf_(n.kind);
    QWidget* w = family ? family->create(*this, rn, n, axis) : nullptr;
    if (w == nullptr) {
        w = new BoxWidget;
    }
    w->setObjectName(qs(rn.key));
    return w;
}

const QFont& RenderCore::fontOf(const Env& env) {
    for (const auto& [key, font] : fonts_) {
        if (key.first == env.font && key.second == env.imposedWeight)
            return font;
    }
    fonts_.emplace_back(std::make_pair(env.font, env.imposedWeight),
                        Appearance::font(env.font, env.imposedWeight));
    return fonts_.back().second;
}

Flex RenderCore::flex(const Node& n, Axis parent) {
    auto& cache = flexCache_[static_cast<int>(parent)];
    auto found = cache.find(&n);
    if (found != cache.end()) {
        return found->second;
    }
    const Flex f = computeFlex(n, parent);
    cache.emplace(&n, f);
    return f;
}

Flex RenderCore::childrenFlex(const Node& n, Axis axis) {
    Flex f;
    for (const View& child : n.children) {
        const Flex c = flex(child.node(), axis);
        f.h = f.h || c.h;
        f.v = f.v || c.v;
    }
    return f;
}

Flex RenderCore::computeFlex(const Node& n, Axis parent) {
    switch (n.kind) {
        case NodeKind::empty:
            return {};
        case NodeKind::group:
        case NodeKind::component:
            return childrenFlex(n, parent);
        case NodeKind::vstack:
            return childrenFlex(n, Axis::vertical);
        case NodeKind::hstack:
            return childrenFlex(n, Axis::horizontal);
        case NodeKind::zstack:
            return childrenFlex(n, Axis::none);
        case NodeKind::scroll:
        case NodeKind::form:
        case NodeKind::list:
        case NodeKind::tabView:
        case NodeKind::shape:
        case NodeKind::splitView:
            return {true, true};
        case NodeKind::section:
            return {true, false};
        case NodeKind::spacer:
            return {parent != Axis::vertical, parent != Axis::horizontal};
        case NodeKind::divider:
            return {parent != Axis::horizontal, parent == Axis::horizontal};
        case NodeKind::textField:
        case NodeKind::searchField:
            return {true, false};
        case NodeKind::progress:
            return {n.progress.has_value(), false};
        case NodeKind::button:
            if (n.buttonStyle && std::holds_alternative<MenuRowStyle>(*n.buttonStyle)) {
                return {true, false};
            }
            return {childrenFlex(n, Axis::none).h, false};
        case NodeKind::frame: {
            const Flex c = childrenFlex(n, Axis::none);
            const Frame& f = n.frameValue;
            Flex out;
            // A finite limit keeps a flexible child flexible up to the limit.
            out.h = f.width ? false : f.maxWidth ? std::isinf(*f.maxWidth) || c.h : c.h;
            out.v = f.height ? false : f.maxHeight ? std::isinf(*f.maxHeight) || c.v : c.v;
            return out;
        }
        case NodeKind::fixedSize: {
            Flex c = childrenFlex(n, parent);
            if (n.fixedHorizontal)
                c.h = false;
            if (n.fixedVertical)
                c.v = false;
            return c;
        }
        case NodeKind::padding:
        case NodeKind::background:
        case NodeKind::overlay:
            return childrenFlex(n, parent);
        default:
            return {};
    }
}

void RenderCore::flatten(const std::vector<View>& views, const std::string& prefix, const Env& env,
                         std::vector<Entry>& out) {
    for (std::size_t i = 0; i < views.size(); ++i) {
        const Node& n = views[i].node();
        std::string key = prefix + childKey(n, i);
        if (n.kind == NodeKind::group || n.kind == NodeKind::component) {
            flatten(n.children, key + "/", env.applying(n), out);
        } else if (n.kind != NodeKind::empty) {
            out.push_back(Entry{std::move(key), views[i], env});
        }
    }
}

void RenderCore::reconcile(RenderNode& parent, std::vector<Entry> entries, Axis axis, Role role) {
    // Most evaluations change values, not structure: the same keys in the same order.
    bool sameKeys = entries.size() == parent.children.size();
    for (std::size_t i = 0; sameKeys && i < entries.size(); ++i) {
        sameKeys = parent.children[i]->key == entries[i].key;
    }
    if (sameKeys) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            update(*parent.children[i], entries[i].view, entries[i].env, axis, role);
        }
        pairSteppers(parent.children);
        return;
    }
    std::unordered_map<std::string, std::shared_ptr<RenderNode>> old;
    old.reserve(parent.children.size());
    for (auto& child : parent.children) {
        // Siblings that share an id cannot both be matched: the later one goes.
        if (auto [at, inserted] = old.try_emplace(child->key, child); !inserted) {
            discard(*child);
        }
    }
    std::vector<std::shared_ptr<RenderNode>> next;
    next.reserve(entries.size());
    for (Entry& entry : entries) {
        std::shared_ptr<RenderNode> child;
        auto found = old.find(entry.key);
        if (found != old.end() && found->second) {
            child = std::move(found->second);
            old.erase(found);
        } else {
            child = std::make_shared<RenderNode>();
            child->key = entry.key;
            child->kind = entry.view.node().kind;
        }
        update(*child, entry.view, entry.env, axis, role);
        next.push_back(std::move(child));
    }
    for (auto& [key, gone] : old) {
        if (gone) {
            discard(*gone);
        }
    }
    parent.children = std::move(next);
    pairSteppers(parent.children);
}

void RenderCore::discard(RenderNode& rn) {
    retire(rn);
    QWidget* w = rn.placedWidget();
    if (w != nullptr && w != &container_) {
        w->hide();
        w->deleteLater();
    }
    rn.widget = rn.outer = nullptr;
}

void RenderCore::place(RenderNode& rn, QBoxLayout* layout, const std::vector<Qt::Alignment>& flags,
                       int leadingItems) {
    std::vector<QWidget*> order;
    order.reserve(rn.children.size());
    for (auto& child : rn.children) {
        order.push_back(child->placedWidget());
    }
    if (order != rn.placed) {
        while (layout->count() > leadingItems) {
            delete layout->takeAt(leadingItems);
        }
        for (std::size_t i = 0; i < order.size(); ++i) {
            layout->addWidget(order[i], 0, flags[i]);
            order[i]->show();
        }
        rn.placed = order;
        rn.placedFlags = flags;
        return;
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (rn.placedFlags.size() <= i || rn.placedFlags[i] != flags[i]) {
            layout->setAlignment(order[i], flags[i]);
        }
    }
    rn.placedFlags = flags;
}

void RenderCore::setPolicy(QWidget* w, Flex f) {
    const QSizePolicy::Policy h = f.h ? QSizePolicy::Expanding : QSizePolicy::Preferred;
    const QSizePolicy::Policy v = f.v ? QSizePolicy::Expanding : QSizePolicy::Preferred;
    QSizePolicy policy = w->sizePolicy();
    if (policy.horizontalPolicy() != h || policy.verticalPolicy() != v) {
        policy.setHorizontalPolicy(h);
        policy.setVerticalPolicy(v);
        w->setSizePolicy(policy);
    }
}

void RenderCore::update(RenderNode& rn, const View& view, const Env& inherited, Axis axis,
                        Role role) {
    const Node& n = view.node();
    Env env = inherited.applying(n);
    // A form row shows a control's label on its left, so the control shows none itself.
    const bool rowLabelled = role == Role::sectionRow && !env.labelsHidden &&
                             labelledControl(n) != nullptr && labelViewOf(*labelledControl(n));
    Env rowEnv = env;
    if (rowLabelled) {
        env.labelsHidden = true;
        env.inFormRow = true;
    }
    rn.view = view;
    rn.env = env;
    if (rn.widget == nullptr) {
        rn.widget = create(rn, n, axis);
    }
    Env childEnv = env;
    if (!passesOpacityDown(n.kind)) {
        childEnv.opacity = 1;
    }
    if (const Family* family = familyOf_(n.kind)) {
        family->update(*this, rn, n, env, childEnv, axis);
    }
    updateCommon(rn, n, env);
    updateRow(rn, n, rowEnv, role);
}

void RenderCore::updateCommon(RenderNode& rn, const Node& n, const Env& env) {
    QWidget* w = rn.widget;
    const QString tip = n.help ? qs(localized(*n.help)) : QString();
    if (w->toolTip() != tip) {
        w->setToolTip(tip);
    }
    // A labelled control is read by its working part (the field, the switch), not by the box
    // that holds it beside its label.
    QWidget* named = rn.control != nullptr && n.kind != NodeKind::labeledContent ? rn.control : w;
    if (n.accessibilityLabel) {
        const QString name = qs(accessibilityLabelOf(n));
        if (named->accessibleName() != name)
            named->setAccessibleName(name);
    }
    QString description;
    if (n.accessibilityHint)
        description = qs(localized(*n.accessibilityHint));
    if (n.accessibilityValue) {
        const QString value = qs(accessibilityValueOf(n));
        description = description.isEmpty() ? value : value + ". " + description;
    }
    if (named->accessibleDescription() != description) {
        named->setAccessibleDescription(description);
    }
    if (w->testAttribute(Qt::WA_ForceDisabled) != env.disabled) {
        w->setEnabled(!env.disabled);
    }
    if (env.inButton && !w->testAttribute(Qt::WA_TransparentForMouseEvents)) {
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    if (!passesOpacityDown(n.kind)) {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(w->graphicsEffect());
        if (env.opacity < 1) {
            if (effect == nullptr) {
                effect = new QGraphicsOpacityEffect(w);
                w->setGraphicsEffect(effect);
            }
            if (effect->opacity() != env.opacity)
                effect->setOpacity(env.opacity);
        } else if (effect != nullptr) {
            w->setGraphicsEffect(nullptr);
        }
    } else if (auto* box = dynamic_cast<BoxWidget*>(w)) {
        box->setPaintOpacity(env.opacity);
    }
    if (n.onTap && !rn.tapInstalled) {
        rn.tapInstalled = true;
        WeakRef<RenderNode> guard = weakRef(rn);
        RenderNode* self = &rn;
        w->installEventFilter(new TapFilter(w, [guard, self] {
            if (!guard)
                return;
            if (auto action = self->node().onTap)
                action();
        }));
    }
}

QPalette RenderCore::palette() {
    return QApplication::palette();
}

QColor RenderCore::foregroundOf(const Env& env) {
    if (env.forcedForeground)
        return *env.forcedForeground;
    return Appearance::foreground(env.foreground, palette());
}

int RenderCore::symbolSide(const Env& env) {
    return static_cast<int>(std::lround(env.font.size * kSymbolToFontRatio));
}

void RenderCore::updateRow(RenderNode& rn, const Node& n, const Env& env, Role role) {
    if (role == Role::plain || n.kind == NodeKind::section) {
        return;
    }
    const bool fresh = rn.outer == nullptr;
    // A divider among a section's rows is no row: it parts two groups of them across the panel.
    const bool parts = role == Role::sectionRow && n.kind == NodeKind::divider;
    if (fresh) {
        auto* row = new BoxWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setSpacing(kRowSpacing);
        if (parts) {
            layout->setContentsMargins(0, 0, 0, 0);
        } else if (role == Role::sectionRow) {
            layout->setContentsMargins(kSectionRowMargins);
            row->setMinimumHeight(kSectionRowMinHeight);
        } else {
            layout->setContentsMargins(kListRowMargins);
        }
        row->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        rn.outer = row;
    }
    auto* layout = static_cast<QHBoxLayout*>(rn.outer->layout());
    const Node* control = role == Role::sectionRow ? labelledControl(n) : nullptr;
    std::optional<View> label = control && !env.labelsHidden && n.kind != NodeKind::section
                                    ? labelViewOf(*control)
                                    : std::nullopt;
    if (label) {
        Env labelEnv = env;
        labelEnv.opacity = 1;
        if (!rn.rowLabel) {
            rn.rowLabel = std::make_shared<RenderNode>();
            rn.rowLabel->key = "label";
            rn.rowLabel->kind = label->node().kind;
        }
        update(*rn.rowLabel, *label, labelEnv, Axis::horizontal, Role::plain);
    } else if (rn.rowLabel) {
        discard(*rn.rowLabel);
        rn.rowLabel.reset();
    }
    const bool labelled = label.has_value();
    const Flex f = parts ? Flex{true, false} : flex(n, Axis::horizontal);
    const std::vector<QWidget*> want =
        labelled ? std::vector<QWidget*>{rn.rowLabel->placedWidget(), nullptr, rn.widget}
                 : std::vector<QWidget*>{rn.widget};
    bool same = layout->count() == static_cast<int>(want.size()) && rn.rowLabelled == labelled;
    for (int i = 0; same && i < layout->count(); ++i) {
        same = layout->itemAt(i)->widget() == want[static_cast<std::size_t>(i)];
    }
    if (!same) {
        clearLayout(layout);
        if (labelled) {
            layout->addWidget(rn.rowLabel->placedWidget(), 0, Qt::AlignLeft | Qt::AlignVCenter);
            layout->addStretch(1);
            layout->addWidget(rn.widget, 0, Qt::AlignRight | Qt::AlignVCenter);
        } else {
            layout->addWidget(rn.widget, f.h ? 1 : 0,
                              f.h ? Qt::Alignment() : Qt::AlignLeft | Qt::AlignVCenter);
            if (!f.h)
                layout->addStretch(1);
        }
        rn.widget->show();
        rn.rowLabelled = labelled;
    }
    if (labelled) {
        labelControlIn(rn, rn.rowLabel->placedWidget());
    }
    if (labelled) {
        // The control keeps its own width on the right; a field's frame decides it.
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        if (rn.widget->sizePolicy() != policy)
            rn.widget->setSizePolicy(policy);
    } else {
        setPolicy(rn.widget, Flex{f.h, false});
    }
}

void RenderCore::labelControlIn(RenderNode& rn, QWidget* label) {
    RenderNode* at = &rn;
    for (;;) {
        if (isWrapper(at->kind) && at->children.size() == 1) {
            at = at->children[0].get();
        } else if (at->kind == NodeKind::labeledContent && at->inner &&
                   at->inner->children.size() == 1) {
            at = at->inner->children[0].get();  // the one control that is the value
        } else {
            break;
        }
    }
    if (at->control != nullptr)
        setLabelledBy(at->control, label);
}

void RenderCore::composeLabelled(RenderNode& rn, std::optional<View> label, QWidget* control,
                                 const Env& env, bool controlFirst) {
    auto* layout = static_cast<QHBoxLayout*>(rn.widget->layout());
    const bool showLabel = label && !env.labelsHidden;
    if (showLabel) {
        Env labelEnv = env;
        labelEnv.opacity = 1;
        const std::string key = "label:" + std::string(nodeKindName(label->node().kind));
        if (rn.children.empty() || rn.children[0]->key != key) {
            for (auto& child : rn.children)
                discard(*child);
            rn.children.clear();
            auto child = std::make_shared<RenderNode>();
            child->key = key;
            child->kind = label->node().kind;
            rn.children.push_back(child);
        }
        update(*rn.children[0], *label, labelEnv, Axis::horizontal, Role::plain);
    } else if (!rn.children.empty()) {
        for (auto& child : rn.children)
            discard(*child);
        rn.children.clear();
    }
    // A label hidden here may be shown by the row or the labelled content around: that one
    // stays the control's.
    if (showLabel)
        setLabelledBy(control, rn.children[0]->placedWidget());
    std::vector<QWidget*> want;
    if (showLabel)
        want.push_back(rn.children[0]->placedWidget());
    if (controlFirst)
        want.insert(want.begin(), control);
    else
        want.push_back(control);
    if (want != rn.placed) {
        clearLayout(layout);
        for (QWidget* w : want) {
            const bool expands =
                w == control && w->sizePolicy().horizontalPolicy() == QSizePolicy::Expanding;
            layout->addWidget(w, expands ? 1 : 0, Qt::AlignVCenter);
            w->show();
        }
        rn.placed = want;
    }
}

std::optional<View> RenderCore::ownLabel(const Node& n) {
    if (n.text.empty())
        return std::nullopt;
    return Text(n.text);
}

QWidget* RenderCore::makeLabelled() {
    auto* box = new BoxWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kLabelControlGap);
    return box;
}

}  // namespace orvel::ui::render
