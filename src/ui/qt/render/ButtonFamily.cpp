#include "ui/qt/render/Families.h"

#include "foundation/Localization.h"
#include "ui/qt/Accessibility.h"
#include "ui/qt/KeySequence.h"
#include "ui/qt/SymbolWidget.h"
#include "ui/qt/ViewButton.h"

#include <QAccessible>
#include <QBoxLayout>
#include <QMenu>
#include <QShortcut>

#include <string>
#include <vector>

namespace orvel::ui::render {

namespace {

void updateShortcuts(RenderNode& rn, const Node& n, QAbstractButton* button) {
    if (n.shortcut == rn.shortcutSpec) {
        return;
    }
    for (QShortcut* s : rn.shortcuts)
        delete s;
    rn.shortcuts.clear();
    rn.shortcutSpec = n.shortcut;
    if (auto* view = dynamic_cast<ViewButton*>(button)) {
        view->setDefault(n.shortcut && n.shortcut->key == "return" && n.shortcut->modifiers == 0);
    }
    if (!n.shortcut) {
        return;
    }
    for (bool alternate : {false, true}) {
        if (alternate && n.shortcut->key != "return")
            break;
        auto* shortcut = new QShortcut(keySequence(*n.shortcut, alternate), button);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled() && button->isVisible())
                button->click();
        });
        rn.shortcuts.push_back(shortcut);
    }
}

// A reader asks the button whether it is a choice and the chosen one; it is told when that
// changes, as a radio button tells it.
void updateChosen(QAbstractButton* button, const Node& n) {
    const QVariant was = button->property(kChosen);
    const QVariant chosen = n.accessibilityChosen ? QVariant(*n.accessibilityChosen) : QVariant();
    if (was == chosen)
        return;
    button->setProperty(kChosen, chosen);
    if (was.isValid() && chosen.isValid()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(button, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void updateButton(RenderCore& core, RenderNode& rn, const Node& n, const Env& env,
                  const Env& childEnv) {
    auto* button = static_cast<ViewButton*>(rn.widget);
    // Assistive technology reads the label's text unless the view names the button itself.
    if (!n.accessibilityLabel && !n.children.empty()) {
        const QString name = textOf(n.children[0].node());
        if (button->accessibleName() != name) {
            button->setAccessibleName(name);
        }
    }
    updateChosen(button, n);
    const QPalette pal = core.palette();
    Env labelEnv = childEnv;
    labelEnv.inButton = true;
    ViewButton::Look look = ViewButton::Look::bordered;
    double indent = 0, scale = 1;
    if (const auto* row = std::get_if<MenuRowStyle>(&env.buttonStyle)) {
        look = ViewButton::Look::menuRow;
        indent = row->indent;
        scale = row->scale;
        if (!n.children.empty() && !n.children[0].node().font) {
            labelEnv.font = Font::system(kBodyFontSize * scale, env.font.weight);
        }
        if (button->isDown()) {
            labelEnv.forcedForeground = pal.color(QPalette::Active, QPalette::HighlightedText);
        }
    } else {
        switch (std::get<StandardButtonStyle>(env.buttonStyle)) {
            case StandardButtonStyle::automatic:
            case StandardButtonStyle::bordered:
                look = ViewButton::Look::bordered;
                break;
            case StandardButtonStyle::borderedProminent:
                look = ViewButton::Look::prominent;
                labelEnv.forcedForeground = pal.color(QPalette::Active, QPalette::HighlightedText);
                break;
            case StandardButtonStyle::plain:
                look = ViewButton::Look::plain;
                break;
            case StandardButtonStyle::borderless:
                look = ViewButton::Look::borderless;
                break;
            case StandardButtonStyle::link:
                look = ViewButton::Look::link;
                labelEnv.foreground = Color::accent();
                break;
        }
    }
    if (n.role == ButtonRole::destructive && look != ViewButton::Look::prominent &&
        !labelEnv.forcedForeground) {
        labelEnv.foreground = Color::red();
    }
    if (button->look() != look || look == ViewButton::Look::menuRow) {
        button->setLook(look, indent, scale);
    }
    button->setDestructive(n.role == ButtonRole::destructive);
    std::vector<Entry> entries;
    core.flatten(n.children, "", labelEnv, entries);
    core.reconcile(rn, std::move(entries), Axis::horizontal, Role::plain);
    // A menu row's label starts at its leading inset; other labels sit in the middle.
    const Qt::Alignment rest =
        look == ViewButton::Look::menuRow ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter;
    std::vector<Qt::Alignment> flags;
    for (auto& child : rn.children) {
        const Flex f = core.flex(child->node(), Axis::horizontal);
        core.setPolicy(child->placedWidget(), f);
        flags.push_back(f.h ? Qt::Alignment(Qt::AlignVCenter) : rest);
    }
    core.place(rn, static_cast<QBoxLayout*>(button->layout()), flags);
    updateShortcuts(rn, n, button);
    if (rn.restyle) {
        return;
    }
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    rn.restyle = [&core, guard, self] {
        if (!guard || self->widget == nullptr)
            return;
        // Only a menu row changes while held down: its label turns white.
        if (!std::holds_alternative<MenuRowStyle>(self->env.buttonStyle))
            return;
        const View view = self->view;  // keeps the node while the row is redrawn
        const Env heldEnv = self->env;
        Env heldLabelEnv = heldEnv;
        heldLabelEnv.opacity = 1;
        updateButton(core, *self, view.node(), heldEnv, heldLabelEnv);
        self->widget->update();
    };
}

QString menuTitle(const MenuItem& item) {
    return qs(item.verbatim ? item.title : localized(item.title));
}

// Items made as the menu opens are fresh, so each action keeps its own closure.
void fillOnOpening(QMenu& menu, const std::vector<MenuItem>& items) {
    menu.clear();
    for (const MenuItem& item : items) {
        if (item.separator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(menuTitle(item));
        action->setEnabled(!item.disabled);
        QObject::connect(action, &QAction::triggered, &menu, [fn = item.action] {
            // A copy: the action may rebuild the menu that holds this closure.
            if (auto run = fn) {
                run();
            }
        });
    }
}

void updateMenu(RenderCore& core, RenderNode& rn, const Node& n, const Env& env,
                const Env& childEnv) {
    auto* button = static_cast<ViewButton*>(rn.widget);
    ViewButton::Look look = ViewButton::Look::bordered;
    if (const auto* standard = std::get_if<StandardButtonStyle>(&env.buttonStyle)) {
        if (*standard == StandardButtonStyle::borderless || *standard == StandardButtonStyle::plain)
            look = ViewButton::Look::borderless;
    }
    if (button->look() != look)
        button->setLook(look);
    Env labelEnv = childEnv;
    labelEnv.inButton = true;
    std::vector<Entry> entries;
    core.flatten(n.children, "", labelEnv, entries);
    core.reconcile(rn, std::move(entries), Axis::horizontal, Role::plain);
    auto* indicator = static_cast<SymbolWidget*>(rn.extras[0]);
    indicator->setSymbol("chevron.down", kMenuIndicatorSize, core.foregroundOf(labelEnv), 0, 1);
    indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    std::vector<QWidget*> order;
    for (auto& child : rn.children)
        order.push_back(child->placedWidget());
    if (!n.menuIndicatorHidden)
        order.push_back(indicator);
    if (order != rn.placed) {
        auto* layout = static_cast<QBoxLayout*>(button->layout());
        clearLayout(layout);
        for (QWidget* w : order) {
            layout->addWidget(w, 0, Qt::AlignVCenter);
            w->show();
        }
        indicator->setVisible(!n.menuIndicatorHidden);
        rn.placed = order;
    }
    std::vector<std::string> signature;
    for (const MenuItem& item : n.menuItems) {
        signature.push_back(item.separator ? "\x1f—" : item.title + (item.disabled ? "\x1f-" : ""));
    }
    if (signature != rn.signature) {
        const QList<QAction*> actions = rn.menu->actions();
        const bool sameShape = actions.size() == static_cast<qsizetype>(n.menuItems.size());
        if (rn.menu->isVisible() && sameShape) {
            // An open menu keeps its actions; only their titles and states change.
            for (std::size_t i = 0; i < n.menuItems.size(); ++i) {
                QAction* action = actions[static_cast<qsizetype>(i)];
                action->setText(menuTitle(n.menuItems[i]));
                action->setEnabled(!n.menuItems[i].disabled);
            }
        } else {
            rn.menu->clear();
            WeakRef<RenderNode> guard = weakRef(rn);
            RenderNode* self = &rn;
            for (std::size_t i = 0; i < n.menuItems.size(); ++i) {
                const MenuItem& item = n.menuItems[i];
                if (item.separator) {
                    rn.menu->addSeparator();
                    continue;
                }
                QAction* action = rn.menu->addAction(menuTitle(item));
                action->setEnabled(!item.disabled);
                QObject::connect(action, &QAction::triggered, rn.menu, [guard, self, i] {
                    if (!guard)
                        return;
                    const auto& items = self->node().menuItems;
                    if (i < items.size() && items[i].action) {
                        auto fn = items[i].action;
                        fn();
                    }
                });
            }
        }
        rn.signature = signature;
    }
    if (button->accessibleName().isEmpty() && !n.children.empty()) {
        button->setAccessibleName(textOf(n.children[0].node()));
    }
}

QWidget* create(RenderCore&, RenderNode& rn, const Node& n, Axis) {
    WeakRef<RenderNode> guard = weakRef(rn);
    RenderNode* self = &rn;
    switch (n.kind) {
        case NodeKind::button: {
            auto* button = new ViewButton;
            QObject::connect(button, &QAbstractButton::clicked, button, [guard, self, button] {
                if (!guard)
                    return;
                commitPendingEdit(*button);
                if (!guard)
                    return;
                if (auto action = self->node().action) {
                    action();
                }
            });
            auto restyle = [guard, self] {
                if (!guard || !self->restyle)
                    return;
                // A copy: restyling may replace the node's closure while it runs.
                auto fn = self->restyle;
                fn();
            };
            QObject::connect(button, &QAbstractButton::pressed, button, restyle);
            QObject::connect(button, &QAbstractButton::released, button, restyle);
            return button;
        }
        case NodeKind::menu: {
            auto* button = new ViewButton;
            rn.menu = new QMenu(button);
            auto* indicator = new SymbolWidget(button);
            indicator->hide();
            rn.extras = {indicator};
            QObject::connect(button, &QAbstractButton::clicked, button, [button, self, guard] {
                if (!guard || self->menu == nullptr)
                    return;
                if (const auto& content = self->node().menuContent) {
                    fillOnOpening(*self->menu, content());
                }
                // An empty popup draws nothing yet takes the next click.
                if (self->menu->isEmpty())
                    return;
                self->menu->popup(
                    button->mapToGlobal(QPoint(0, button->height() + kMenuDropOffset)));
            });
            return button;
        }
        default:
            return nullptr;
    }
}

void update(RenderCore& core, RenderNode& rn, const Node& n, const Env& env, const Env& childEnv,
            Axis) {
    switch (n.kind) {
        case NodeKind::button:
            updateButton(core, rn, n, env, childEnv);
            break;
        case NodeKind::menu:
            updateMenu(core, rn, n, env, childEnv);
            break;
        default:
            break;
    }
}

}  // namespace

const Family kButtonFamily{create, update};

}  // namespace orvel::ui::render
