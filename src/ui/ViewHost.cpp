#include "ui/ViewHost.h"

#include <algorithm>

namespace orvel::ui {

std::string childKey(const Node& child, std::size_t index) {
    return (child.id ? "=" + *child.id : "#" + std::to_string(index)) + ":" +
           nodeKindName(child.kind);
}

namespace {

bool hasChildren(const Node& node) {
    return !node.children.empty() || node.header || node.footer;
}

}  // namespace

View expandComponents(const View& view, std::vector<ObservableObject*>& observed) {
    const Node& node = view.node();
    if (node.kind == NodeKind::component && node.component) {
        ViewComponent& component = *node.component;
        observed.push_back(&component);
        for (ObservableObject* object : component.observedObjects()) {
            observed.push_back(object);
        }
        auto expanded = std::make_shared<Node>(node);
        expanded->children = {expandComponents(component.body(), observed)};
        return View(expanded);
    }
    if (!hasChildren(node)) {
        return view;
    }
    auto copy = std::make_shared<Node>(node);
    for (auto& child : copy->children) {
        child = expandComponents(child, observed);
    }
    if (copy->header) {
        copy->header = expandComponents(*copy->header, observed);
    }
    if (copy->footer) {
        copy->footer = expandComponents(*copy->footer, observed);
    }
    return View(copy);
}

ViewHost::ViewHost(std::shared_ptr<ViewComponent> root) : root_(std::move(root)) {
    evaluate();
}

ViewHost::~ViewHost() {
    // Content that goes away while shown disappears.
    setShown(false);
}

void ViewHost::scheduleEvaluation() {
    if (scheduled_) {
        return;
    }
    scheduled_ = true;
    RunLoop::main().async([weakSelf = weakRef(*this)] {
        if (ViewHost* self = weakSelf.get()) {
            self->scheduled_ = false;
            self->evaluate();
        }
    });
}

void ViewHost::observe(const std::vector<ObservableObject*>& objects) {
    std::vector<ObservableObject*> unique;
    for (ObservableObject* object : objects) {
        if (std::find(unique.begin(), unique.end(), object) == unique.end()) {
            unique.push_back(object);
        }
    }
    if (unique == observed_) {
        return;
    }
    observed_ = unique;
    subscriptions_.clear();
    for (ObservableObject* object : observed_) {
        subscriptions_.push_back(
            object->objectWillChange.subscribe([this] { scheduleEvaluation(); }));
    }
}

void ViewHost::evaluate() {
    std::vector<ObservableObject*> objects;
    tree_ = expandComponents(Embed(root_), objects);
    observe(objects);
    ++evaluations_;
    if (shown_) {
        updateLifecycle();
    }
    evaluated.send();
}

void ViewHost::setShown(bool shown) {
    if (shown == shown_) {
        return;
    }
    shown_ = shown;
    if (shown) {
        updateLifecycle();
        return;
    }
    auto gone = std::exchange(live_, {});
    for (const NodePath& path : std::exchange(liveOrder_, {})) {
        Lifecycle& lifecycle = gone[path];
        lifecycle.timer.cancel();
        if (lifecycle.onDisappear) {
            lifecycle.onDisappear();
        }
    }
}

void ViewHost::collect(const View& view, NodePath& path, std::map<NodePath, const Node*>& out,
                       std::vector<NodePath>& order) const {
    const Node& node = view.node();
    if ((node.onAppear || node.onDisappear || node.onTimer) && out.emplace(path, &node).second) {
        order.push_back(path);
    }
    if (node.header) {
        path.push_back("header");
        collect(*node.header, path, out, order);
        path.pop_back();
    }
    // Only the selected page of a tab view is shown.
    std::optional<std::string> selectedTag;
    if (node.kind == NodeKind::tabView && node.textBinding.get) {
        selectedTag = node.textBinding.get();
    }
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        if (selectedTag && (i >= node.tabs.size() || node.tabs[i].tag != *selectedTag)) {
            continue;
        }
        path.push_back(childKey(node.children[i].node(), i));
        collect(node.children[i], path, out, order);
        path.pop_back();
    }
    if (node.footer) {
        path.push_back("footer");
        collect(*node.footer, path, out, order);
        path.pop_back();
    }
}

void ViewHost::updateLifecycle() {
    std::map<NodePath, const Node*> now;
    std::vector<NodePath> order;
    NodePath path;
    collect(tree_, path, now, order);

    // Gone first, then new ones, so that a replaced view disappears before its successor
    // appears; each in the order shown.
    const std::vector<NodePath> previous = std::exchange(liveOrder_, order);
    for (const NodePath& nodePath : previous) {
        auto it = live_.find(nodePath);
        if (now.count(nodePath) != 0 || it == live_.end()) {
            continue;
        }
        Lifecycle gone = std::move(it->second);
        live_.erase(it);
        gone.timer.cancel();
        if (gone.onDisappear) {
            gone.onDisappear();
        }
    }
    std::vector<std::function<void()>> appeared;
    for (const NodePath& nodePath : order) {
        const Node* node = now.at(nodePath);
        auto found = live_.find(nodePath);
        if (found == live_.end()) {
            Lifecycle lifecycle;
            lifecycle.onDisappear = node->onDisappear;
            if (node->onTimer && node->timerInterval > 0) {
                lifecycle.timerAction = std::make_shared<std::function<void()>>(node->onTimer);
                std::weak_ptr<std::function<void()>> action = lifecycle.timerAction;
                lifecycle.timer = RunLoop::main().every(
                    node->timerInterval,
                    [action] {
                        if (auto fn = action.lock(); fn && *fn) {
                            (*fn)();
                        }
                    },
                    TimerMode::Common);
            }
            live_.emplace(nodePath, std::move(lifecycle));
            if (node->onAppear) {
                appeared.push_back(node->onAppear);
            }
        } else {
            found->second.onDisappear = node->onDisappear;
            if (found->second.timerAction) {
                *found->second.timerAction = node->onTimer;
            }
        }
    }
    for (const auto& action : appeared) {
        action();
    }
}

}  // namespace orvel::ui
