#pragma once

class QWidget;

namespace orvel::ui::render {

// Puts the Tab order of a container's controls in reading order, the order of its layouts (the
// view tree's order), whatever order the widgets were made or moved in. Main thread only.
void orderFocusChain(QWidget& container);

}  // namespace orvel::ui::render
