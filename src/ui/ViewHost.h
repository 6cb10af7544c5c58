#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/RunLoop.h"
#include "foundation/Signal.h"
#include "foundation/WeakRef.h"
#include "ui/ViewComponent.h"

namespace orvel::ui {

// A node's place in a tree: the keys from the root down, each the sibling's id (or its index)
// and its kind. Hosts match nodes across evaluations by it.
using NodePath = std::vector<std::string>;
std::string childKey(const Node& child, std::size_t index);

// Expands embedded components into their bodies and collects the objects they observe.
View expandComponents(const View& view, std::vector<ObservableObject*>& observed);

// What every host does with a window's content: evaluates its body, listens to the objects it
// observes, re-evaluates once per loop turn after changes, and runs the appear, disappear and
// timer actions of the nodes while the content is shown: what goes disappears before what comes
// appears, each in the order shown (a container before its content). Main thread only.
class ViewHost : public WeakReferenceable {
  public:
    explicit ViewHost(std::shared_ptr<ViewComponent> root);
    ~ViewHost();
    ViewHost(const ViewHost&) = delete;
    ViewHost& operator=(const ViewHost&) = delete;

    const std::shared_ptr<ViewComponent>& root() const { return root_; }
    // The expanded tree of the last evaluation.
    const View& tree() const { return tree_; }

    // Evaluates now (and runs lifecycle actions when shown).
    void evaluate();
    // Shown content runs appear, disappear and timer actions; hidden content runs none.
    void setShown(bool shown);
    bool isShown() const { return shown_; }

    std::uint64_t evaluationCount() const { return evaluations_; }
    // Sent after every evaluation, for renderers.
    Signal<> evaluated;

  private:
    struct Lifecycle {
        std::function<void()> onDisappear;
        std::shared_ptr<std::function<void()>> timerAction;  // the latest closure
        Timer timer;
    };

    void scheduleEvaluation();
    void observe(const std::vector<ObservableObject*>& objects);
    void updateLifecycle();
    // The nodes with lifecycle actions, by path and in the order they are shown.
    void collect(const View& view, NodePath& path, std::map<NodePath, const Node*>& out,
                 std::vector<NodePath>& order) const;

    std::shared_ptr<ViewComponent> root_;
    View tree_;
    std::vector<ObservableObject*> observed_;
    std::vector<Subscription> subscriptions_;
    std::map<NodePath, Lifecycle> live_;
    std::vector<NodePath> liveOrder_;  // the paths of live_ in the order they are shown
    bool scheduled_ = false;
    bool shown_ = false;
    std::uint64_t evaluations_ = 0;
};

}  // namespace orvel::ui
