#pragma once

#include "ui/qt/render/RenderNode.h"

#include <QFont>
#include <QPalette>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class QBoxLayout;
class QWidget;

namespace orvel::ui::render {

class RenderCore;

// A family of node kinds (texts, buttons, stacks …): makes a node's widget once and brings it
// up to date after every evaluation. The core reaches families only through this, so a family
// depends on the core and never the other way round.
struct Family {
    // No widget for a kind the family does not draw: the node gets an empty box.
    QWidget* (*create)(RenderCore& core, RenderNode& rn, const Node& n, Axis axis);
    // `env` is what the node itself sees; `childEnv` is what its children inherit.
    void (*update)(RenderCore& core, RenderNode& rn, const Node& n, const Env& env,
                   const Env& childEnv, Axis axis);
};

// Matches each evaluation's nodes with the rendered ones by key, lets each node's family make
// and update its widgets, and does what all nodes share: tooltips, accessibility, enabled
// state, opacity, taps, and the rows of sections and lists. Main thread only.
class RenderCore {
  public:
    // The family that draws a kind; none for kinds without a look of their own.
    using FamilyOf = const Family* (*)(NodeKind kind);

    // Gives the container the layout the tree goes in; the destructor leaves the container as it
    // was found, since it may get new content.
    RenderCore(QWidget& container, FamilyOf familyOf);
    ~RenderCore();
    RenderCore(const RenderCore&) = delete;
    RenderCore& operator=(const RenderCore&) = delete;

    // Brings the container's widgets up to date with a new evaluation.
    void render(const View& tree);

    std::uint64_t widgetsCreated() const { return created_; }
    std::uint64_t renderCount() const { return renders_; }

    // Renders one node in place, making its widgets the first time, as a child laid out along
    // `axis` in the given role.
    void update(RenderNode& rn, const View& view, const Env& inherited, Axis axis, Role role);

    // Groups, components and empty views have no widget: their children take their place.
    void flatten(const std::vector<View>& views, const std::string& prefix, const Env& env,
                 std::vector<Entry>& out);

    // Matches entries to the existing children by key; makes new ones, drops the rest.
    void reconcile(RenderNode& parent, std::vector<Entry> entries, Axis axis, Role role);

    // Drops a node that is gone, with its widgets.
    void discard(RenderNode& rn);

    // Puts the children's widgets into a box layout in order, with their alignments.
    void place(RenderNode& rn, QBoxLayout* layout, const std::vector<Qt::Alignment>& flags,
               int leadingItems = 0);

    static void setPolicy(QWidget* w, Flex f);

    // Whether a node expands as a child along `parent`, as a declarative toolkit decides it.
    Flex flex(const Node& n, Axis parent);

    // Fonts are few and asked for often.
    const QFont& fontOf(const Env& env);
    static QPalette palette();
    static QColor foregroundOf(const Env& env);
    static int symbolSide(const Env& env);

    // A labelled control: its label (a rendered view) and the control side by side.
    static QWidget* makeLabelled();
    // Lays out a labelled control: [label][control] (or [control][label]).
    void composeLabelled(RenderNode& rn, std::optional<View> label, QWidget* control,
                         const Env& env, bool controlFirst = false);
    static std::optional<View> ownLabel(const Node& n);
    // Names `label` to assistive technology as the label of the control `rn` ends in, through
    // any wrappers (a framed picker), so that a reader follows the relation to it.
    static void labelControlIn(RenderNode& rn, QWidget* label);

  private:
    Flex childrenFlex(const Node& n, Axis axis);
    Flex computeFlex(const Node& n, Axis parent);
    QWidget* create(RenderNode& rn, const Node& n, Axis axis);
    void updateCommon(RenderNode& rn, const Node& n, const Env& env);
    void updateRow(RenderNode& rn, const Node& n, const Env& env, Role role);

    QWidget& container_;
    FamilyOf familyOf_;
    RenderNode root_;
    // One cache per parent axis: spacers, dividers and groups depend on it.
    std::unordered_map<const Node*, Flex> flexCache_[3];
    std::uint64_t created_ = 0;
    std::uint64_t renders_ = 0;
    std::vector<std::pair<std::pair<Font, std::optional<FontWeight>>, QFont>> fonts_;
    QFont baseFont_;
};

}  // namespace orvel::ui::render
