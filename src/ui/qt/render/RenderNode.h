#pragma once

#include "foundation/WeakRef.h"
#include "ui/View.h"
#include "ui/qt/render/Metrics.h"

#include <QColor>
#include <QEvent>
#include <QString>

#include <cstdint>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLayout;
class QMenu;
class QShortcut;
class QWidget;

// What the renderer keeps of each drawn node, and the rules every family of controls shares.
namespace orvel::ui::render {

enum class Axis { vertical, horizontal, none };

// Where a node sits: in a stack, as a row of a section or list, or on its own.
enum class Role { plain, sectionRow, listRow };

// What a node inherits from its ancestors.
struct Env {
    Font font = Font::system(kBodyFontSize);
    std::optional<FontWeight> imposedWeight;
    ForegroundStyle foreground = Hierarchy::primary;
    std::optional<QColor> forcedForeground;  // a pressed menu row: everything in white
    ButtonStyle buttonStyle = StandardButtonStyle::automatic;
    ToggleStyle toggleStyle = ToggleStyle::automatic;
    PickerStyle pickerStyle = PickerStyle::automatic;
    ControlSize controlSize = ControlSize::regular;
    bool labelsHidden = false;
    bool textSelection = false;
    TextAlignment multiline = TextAlignment::leading;
    std::optional<int> lineLimit;
    double lineSpacing = 0;  // extra points between lines
    double opacity = 1;
    bool disabled = false;
    bool inButton = false;   // label content of a button: lets the mouse through to it
    bool uppercase = false;  // section headers
    bool inFormRow = false;  // a control whose label the row shows on its left
    // Under a size fixed only vertically: texts take the width they are given and as many lines
    // as they need, however short they are.
    bool wrapsToWidth = false;
    // A sidebar's row: a title too long for the column ends in "…" rather than being clipped.
    bool truncates = false;

    Env applying(const Node& n) const;
};

// Whether a node takes the room its parent offers, per direction.
struct Flex {
    bool h = false, v = false;
};

// One rendered node: its widgets, its rendered children, and what it last showed. Callbacks of
// its widgets hold it weakly: a node that is gone may leave a widget behind until Qt deletes it,
// and that widget's signals must not reach the node.
struct RenderNode : WeakReferenceable {
    std::string key;
    NodeKind kind = NodeKind::empty;
    View view;
    Env env;
    QWidget* widget = nullptr;   // the node's own widget
    QWidget* outer = nullptr;    // a row around it, placed instead of it
    QWidget* control = nullptr;  // the working part of a labelled control
    std::vector<std::shared_ptr<RenderNode>> children;
    std::shared_ptr<RenderNode> rowLabel;  // a form row's label, shown on the left
    std::shared_ptr<RenderNode> inner;     // a labelled value, a toggle button's title, a header
    WeakRef<RenderNode> stepper;           // a whole-number field's stepper beside it
    std::vector<QWidget*> placed;          // what the node's layout holds now, in order
    std::vector<Qt::Alignment> placedFlags;
    std::vector<QWidget*> extras;  // separators and indicators the node owns
    std::vector<QShortcut*> shortcuts;
    std::optional<KeyboardShortcut> shortcutSpec;
    QMenu* menu = nullptr;
    std::vector<std::string> signature;  // items of pickers and menus, to rebuild only on change
    std::vector<std::string> tags;
    bool updating = false;       // writes to widgets from the tree, not from the user
    bool dirty = false;          // an integer field shows typed text, not yet in the locale's form
    std::int64_t editStart = 0;  // an integer field's value when typing began
    std::optional<std::int64_t> editWritten;  // what its typing last left in the binding
    bool atEnd = false;
    bool tapInstalled = false;
    bool rowLabelled = false;
    std::function<void()> restyle;  // re-applies the look after a press
    std::string lastRaw;            // a text's source, to skip parsing when it is unchanged
    QColor lastLink;
    QString lastShown;
    int lastLength = 0;   // how wide it runs, in characters of a Latin script
    int columnWidth = 0;  // a cell's least width, its column's, in a stack that lines them up

    QWidget* placedWidget() const { return outer ? outer : widget; }
    const Node& node() const { return view.node(); }
};

// A child about to be matched with the rendered ones: its key among its siblings, and what it
// inherits.
struct Entry {
    std::string key;
    View view;
    Env env;
};

QString qs(const std::string& text);

// A text node's words as shown: localised unless verbatim.
std::string shownText(const Node& n);

// The texts inside a node as a user reads them, joined by spaces (a control's name).
QString textOf(const Node& n);

Qt::Alignment hFlag(HAlign a);
Qt::Alignment vFlag(VAlign a);
Qt::Alignment textFlag(TextAlignment a);

// Empties a layout without deleting the widgets it held.
void clearLayout(QLayout* layout);

// A widget that takes other lines or another size makes every box above it measure again at once.
// Qt passes the change up one box per turn of the loop, and only through boxes already shown, so
// the boxes above a new page kept heights taken before its texts had their fonts and cut lines.
void remeasureAbove(QWidget* widget);

bool isWrapper(NodeKind kind);

// Containers paint their opacity themselves or hand it down; the rest take an effect.
bool passesOpacityDown(NodeKind kind);

// What a control holds but has not written yet (a time being typed, a part of a date) is
// written when this event reaches it. A button sends it to the focused control of its window
// before it acts, as Return sends a default button's press past the field it is typed in.
QEvent::Type commitEditEvent();
void commitPendingEdit(QWidget& button);
// Runs `commit` each time the event reaches `control`.
void onCommitEdit(QWidget* control, std::function<void()> commit);

// The labelled control at the end of a chain of wrappers, if any.
const Node* labelledControl(const Node& n);

// The label a form row shows on the left of a control.
std::optional<View> labelViewOf(const Node& control);

}  // namespace orvel::ui::render
