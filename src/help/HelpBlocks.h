#pragma once

#include <optional>
#include <string>

#include "ui/View.h"

// The five blocks every help page is made of. Each is a value of its fields alone and reads no
// application state. Pages list them in place of views: each converts to its body.
namespace orvel::help {

// Every block but the heading stays within one column this wide.
inline constexpr double kBlockMaxWidth = 620;

// A heading: localised, inline Markdown drawn.
struct H {
    std::string text;
    ui::View body() const;
    operator ui::View() const { return body(); }  // NOLINT: blocks stand for views
};

// A paragraph: localised, inline Markdown drawn, as many lines as it needs.
struct P {
    std::string text;
    ui::View body() const;
    operator ui::View() const { return body(); }  // NOLINT
};

// A command line the user can copy, with an optional note under it; both shown as they stand.
struct Cmd {
    std::string command;
    std::optional<std::string> note;
    ui::View body() const;
    operator ui::View() const { return body(); }  // NOLINT
    // Puts the command alone on the pasteboard.
    void copy() const;
};

// A row of a feature / permission table; the permission column starts at the same place in
// every row. A status mark shows only when `granted` is known.
struct PermRow {
    std::string feature;
    std::string permission;
    std::optional<bool> granted;
    ui::View body() const;
    operator ui::View() const { return body(); }  // NOLINT
};

// A row of a table of what the user loses without a permission; `loss` is localised.
struct LossRow {
    std::string permission;
    std::string loss;
    ui::View body() const;
    operator ui::View() const { return body(); }  // NOLINT
};

// The box a command or a licence text sits in.
ui::View textBox(ui::View content);

}  // namespace orvel::help
