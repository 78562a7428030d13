#include "app/qt/KeyCodes.h"

#include "app/WindowEvents.h"

namespace q218 {

std::int16_t KeyCodeOf(const QKeyEvent& event) {
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return static_cast<std::int16_t>('A' + (key - Qt::Key_A));
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        const int digit = key - Qt::Key_0;
        // Digits of the numeric keypad have codes of their own.
        const int base = (event.modifiers() & Qt::KeypadModifier) ? 96 : '0';
        return static_cast<std::int16_t>(base + digit);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) {
        return static_cast<std::int16_t>(112 + (key - Qt::Key_F1));
    }
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kKeyEnter;
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
        default:
            return 0;
    }
}

int ShiftStateOf(Qt::KeyboardModifiers modifiers) {
    int shift = 0;
    shift |= (modifiers & Qt::ShiftModifier) ? kShiftMask : 0;
    shift |= (modifiers & Qt::ControlModifier) ? kCtrlMask : 0;
    shift |= (modifiers & Qt::AltModifier) ? kAltMask : 0;
    return shift;
}

}  // namespace q218
