#include "ui/qt/KeySequence.h"

#include <QGuiApplication>
#include <QString>

namespace orvel::ui {

QKeySequence keySequence(const KeyboardShortcut& shortcut, bool alternate) {
    int key = 0;
    if (shortcut.key == "return")
        key = alternate ? Qt::Key_Enter : Qt::Key_Return;
    else if (shortcut.key == "escape")
        key = Qt::Key_Escape;
    else if (shortcut.key == "delete")
        key = Qt::Key_Backspace;
    else if (shortcut.key == "tab")
        key = Qt::Key_Tab;
    else if (shortcut.key == "space")
        key = Qt::Key_Space;
    else if (!shortcut.key.empty())
        key = QKeySequence(QString::fromStdString(shortcut.key).toUpper())[0].key();
    int modifiers = 0;
    if (shortcut.modifiers & kModifierCommand)
        modifiers |= Qt::CTRL;
    if (shortcut.modifiers & kModifierShift)
        modifiers |= Qt::SHIFT;
    if (shortcut.modifiers & kModifierOption)
        modifiers |= Qt::ALT;
    if (shortcut.modifiers & kModifierControl)
        modifiers |= Qt::META;
    return QKeySequence(key | modifiers);
}

unsigned heldModifiers() {
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
    unsigned out = 0;
    if (held & Qt::ControlModifier)
        out |= kModifierControl;
    if (held & Qt::ShiftModifier)
        out |= kModifierShift;
    if (held & Qt::AltModifier)
        out |= kModifierOption;
    if (held & Qt::MetaModifier)
        out |= kModifierCommand;
    return out;
}

}  // namespace orvel::ui
