#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/ViewHost.h"

namespace orvel::ui {

// Reads and works a hosted view the way a user would: finds what is shown by its text or
// accessibility label, reads texts, enabled state and opacity, clicks, toggles, picks and
// types. Actions call the view's own closures and bindings; the host re-evaluates on the next
// loop turn, as after a real click. Used by the headless host and the tests.
class Inspector {
  public:
    struct Found {
        const Node* node = nullptr;
        std::vector<const Node*> ancestors;  // root first
    };

    explicit Inspector(const ViewHost& host) : host_(&host) {}

    // The first shown node whose own text (or accessibility label) is `text`.
    std::optional<Found> find(std::string_view text) const;
    // The first control (button, toggle, picker, menu, field, stepper, date picker, tapped view)
    // whose accessibility label, title or label texts read `text`.
    std::optional<Found> control(std::string_view text) const;
    // Every shown text, in order.
    std::vector<std::string> texts() const;
    bool contains(std::string_view text) const { return find(text).has_value(); }

    bool isEnabled(const Found& found) const;
    double opacity(const Found& found) const;
    // The texts inside a node, joined by single spaces.
    static std::string textsOf(const Node& node);

    bool click(std::string_view text);
    // Clicks the first link of a shown text whose target or words read `target`: the system
    // opens its URL, as the hosts do for a link in a label.
    bool clickLink(std::string_view target);
    bool setToggle(std::string_view label, bool on);
    std::optional<bool> toggleValue(std::string_view label) const;
    // Picks the option with `tag` of a picker or the page of a tab view.
    bool pick(std::string_view label, const std::string& tag);
    std::optional<std::string> selection(std::string_view label) const;
    bool chooseMenuItem(std::string_view menuLabel, std::string_view itemTitle);
    // Opens a menu: the titles of its items, as shown, in order.
    std::optional<std::vector<std::string>> openMenu(std::string_view menuLabel);
    // Types into a text field, one keystroke at a time; integer fields commit at the end.
    bool type(std::string_view label, std::string_view text);
    bool submit(std::string_view label);
    // The keyboard focus leaves a text field, as when the user clicks elsewhere.
    bool leaveField(std::string_view label);
    // Empties a text or search field, as its clear button does.
    bool clearText(std::string_view label);
    // Clicks the row of a selecting list that reads `text`.
    bool selectRow(std::string_view text);
    // The texts of the highlighted row of the first selecting list; nothing when no row is.
    std::optional<std::string> selectedRow() const;
    // The texts of the rows of the first list, in order.
    std::vector<std::string> listRows() const;
    // Scrolls the first scroll view (or the one holding `text`) to its end.
    bool scrollToEnd(std::string_view text = {});

    // The tree as indented text, one node a line.
    std::string dump() const;

    // Why the last action failed.
    const std::string& lastFailure() const { return failure_; }

  private:
    bool fail(std::string why);
    std::optional<Found> enabledControl(std::string_view text, NodeKind kind);

    const ViewHost* host_;
    std::string failure_;
};

}  // namespace orvel::ui
