#include "ui/qt/render/Families.h"

#include "foundation/Localization.h"
#include "ui/ViewHost.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/BoxWidget.h"
#include "ui/qt/SymbolSet.h"

#include <QAction>
#include <QBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QSplitter>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace orvel::ui::render {

namespace {

constexpr int kSearchFieldMinWidth = 80;
constexpr int kSearchSymbolSide = 14;
constexpr const char* kSizedProperty = "orvelSidebarSized";

int points(double value) {
    return static_cast<int>(std::lround(value));
}

// The two panes stay in the splitter; each holds one child, swapped only when it changes.
void putInPane(QWidget* pane, QWidget* child) {
    auto* layout = static_cast<QVBoxLayout*>(pane->layout());
    if (layout->count() == 1 && layout->itemAt(0)->widget() == child) {
        return;
    }
    clearLayout(layout);
    if (child != nullptr) {
        layout->addWidget(child);
        child->show();
    }
}

void updateSplitView(RenderCore& core, RenderNode& rn, const Node& n, const Env& childEnv) {
    auto* splitter = static_cast<QSplitter*>(rn.widget);
    auto* sidebar = static_cast<BoxWidget*>(rn.extras[0]);
    QWidget* detail = rn.extras[1];
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < n.children.size() && i < 2; ++i) {
        entries.push_back(Entry{childKey(n.children[i].node(), i), n.children[i], childEnv});
    }
    core.reconcile(rn, std::move(entries), Axis::horizontal, Role::plain);
    for (std::size_t i = 0; i < 2; ++i) {
        QWidget* child = i < rn.children.size() ? rn.children[i]->placedWidget() : nullptr;
        if (child != nullptr) {
            core.setPolicy(child, Flex{true, true});
        }
        putInPane(i == 0 ? sidebar : detail, child);
    }
    sidebar->setBackground(Appearance::material(Material::sidebar, core.palette()));
    const ColumnWidth& width = n.sidebarWidth;
    const int minimum = points(width.min);
    const int maximum = width.max > 0 ? points(width.max) : QWIDGETSIZE_MAX;
    if (sidebar->minimumWidth() != minimum || sidebar->maximumWidth() != maximum) {
        sidebar->setMinimumWidth(minimum);
        sidebar->setMaximumWidth(maximum);
    }
    if (!splitter->property(kSizedProperty).toBool()) {
        // The sidebar starts at its ideal width once; afterwards it keeps what the user drags.
        splitter->setProperty(kSizedProperty, true);
        const int ideal = std::clamp(points(width.ideal), minimum, maximum);
        splitter->setSizes({ideal, std::max(1, splitter->width() - ideal)});
    }
}

void updateSearchField(RenderCore& core, RenderNode& rn, const Node& n, const Env& env) {
    auto* field = static_cast<QLineEdit*>(rn.widget);
    const QString prompt = qs(localized(n.text));
    if (field->placeholderText() != prompt)
        field->setPlaceholderText(prompt);
    if (field->accessibleName() != prompt && !n.accessibilityLabel)
        field->setAccessibleName(prompt);
    const QFont font = core.fontOf(env);
    if (field->font() != font)
        field->setFont(font);
    // Only a text that differs is written, so the caret and an edit in progress stay.
    const QString value = n.textBinding.get ? qs(n.textBinding.get()) : QString();
    if (field->text() != value) {
        const int caret = field->cursorPosition();
        field->setText(value);
        field->setCursorPosition(std::min(caret, static_cast<int>(value.size())));
    }
    const QColor tint = Appearance::named(NamedColor::secondaryLabel, core.palette());
    if (rn.lastLink != tint) {
        rn.lastLink = tint;
        // The search field's one action is the magnifying glass before the text.
        if (!field->actions().isEmpty())
            field->actions().front()->setIcon(SymbolSet::shared().icon(
                "magnifyingglass", kSearchSymbolSide, tint, field->devicePixelRatioF()));
    }
}

QWidget* create(RenderCore&, RenderNode& rn, const Node& n, Axis) {
    switch (n.kind) {
        case NodeKind::splitView: {
            auto* splitter = new QSplitter(Qt::Horizontal);
            splitter->setChildrenCollapsible(false);
            splitter->setHandleWidth(1);
            auto* sidebar = new BoxWidget;
            auto* detail = new BoxWidget;
            for (QWidget* pane : {static_cast<QWidget*>(sidebar), static_cast<QWidget*>(detail)}) {
                auto* layout = new QVBoxLayout(pane);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(0);
                splitter->addWidget(pane);
            }
            splitter->setStretchFactor(0, 0);
            splitter->setStretchFactor(1, 1);
            rn.extras = {sidebar, detail};
            return splitter;
        }
        case NodeKind::searchField: {
            auto* field = new QLineEdit;
            field->setClearButtonEnabled(true);
            field->setMinimumWidth(kSearchFieldMinWidth);
            field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            field->addAction(QIcon(), QLineEdit::LeadingPosition);
            WeakRef<RenderNode> guard = weakRef(rn);
            RenderNode* self = &rn;
            // textChanged, not textEdited: the clear button empties the field too.
            QObject::connect(field, &QLineEdit::textChanged, field,
                             [guard, self](const QString& text) {
                                 if (!guard || self->updating)
                                     return;
                                 const Node& node = self->node();
                                 if (node.textBinding.set && node.textBinding.get &&
                                     qs(node.textBinding.get()) != text) {
                                     auto binding = node.textBinding;
                                     binding.set(text.toStdString());
                                 }
                             });
            QObject::connect(field, &QLineEdit::returnPressed, field, [guard, self] {
                if (!guard)
                    return;
                if (auto submit = self->node().onSubmit)
                    submit();
            });
            return field;
        }
        default:
            return nullptr;
    }
}

void update(RenderCore& core, RenderNode& rn, const Node& n, const Env& env, const Env& childEnv,
            Axis) {
    switch (n.kind) {
        case NodeKind::splitView:
            updateSplitView(core, rn, n, childEnv);
            break;
        case NodeKind::searchField:
            rn.updating = true;
            updateSearchField(core, rn, n, env);
            rn.updating = false;
            break;
        default:
            break;
    }
}

}  // namespace

const Family kNavigationFamily{create, update};

}  // namespace orvel::ui::render
