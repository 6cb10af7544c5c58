#pragma once

namespace orvel::ui {

// Lets assistive technology (AT-SPI, through Qt's bridge) read Orvel's own controls: switches as
// check boxes, segmented pickers and the buttons of a set of choices as radio buttons, tab bars
// as page tabs, menu pickers by their label, stepper arrows as spin buttons with their value;
// lists an open panel among the application's windows; and lets a reader ask a scroll view for a
// child it no longer has. Once the application exists, before any widget is shown; calling it
// again does nothing.
void installAccessibility();

// A control's property holding a QPointer<QWidget> to the label shown beside it, the relation a
// reader follows from a menu picker to its label.
inline constexpr const char* kLabelledBy = "orvelLabelledBy";

// A button's property holding whether it is the chosen one of a set of choices, for buttons a
// reader hears as radio buttons; absent on other buttons.
inline constexpr const char* kChosen = "orvelChosen";

}  // namespace orvel::ui
