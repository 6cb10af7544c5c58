#pragma once

namespace orvel::ui {

// Lets assistive technology (AT-SPI, through Qt's bridge) read Orvel's own controls: switches as
// check boxes, segmented pickers as radio buttons and tab bars as page tabs, stepper arrows as
// spin buttons with their value; lists an open panel among the application's windows; and lets
// a reader ask a scroll view for a child it no longer has. Once the application exists, before
// any widget is shown; calling it again does nothing.
void installAccessibility();

// A control's property holding a QPointer<QWidget> to the label shown beside it, for controls a
// reader names by their value and labels through a relation (menu pickers).
inline constexpr const char* kLabelledBy = "orvelLabelledBy";

}  // namespace orvel::ui
