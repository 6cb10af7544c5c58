#pragma once

#include <QKeySequence>

#include "ui/Types.h"

namespace orvel::ui {

// The Qt key sequence of a key equivalent: Command is Ctrl, Option is Alt and Control is Meta
// on this desktop. `alternate` gives the keypad Enter for "return".
QKeySequence keySequence(const KeyboardShortcut& shortcut, bool alternate = false);

// The modifier keys held now, as a click's modifier flags (Ctrl is Control here: a Control-click
// is the desktop's own gesture for the secondary click).
unsigned heldModifiers();

}  // namespace orvel::ui
