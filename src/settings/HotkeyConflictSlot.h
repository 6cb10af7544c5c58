#pragma once

#include "ui/View.h"

namespace orvel {

class Preferences;

// The place of the note that explains a clash between the global shortcut and a disabled
// built-in keyboard, on the General page and on the keyboard side of the Devices page. It
// draws nothing until the conflict notes exist.
inline ui::View HotkeyKeyboardConflictNote(Preferences& prefs, bool onKeyboardSide) {
    (void)prefs;
    (void)onKeyboardSide;
    return ui::EmptyView();
}

}  // namespace orvel
