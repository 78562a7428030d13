#pragma once
// The window's keys as the logic's Text4_KeyDown takes them: a platform-neutral key code and
// the Shift, Ctrl and Alt state.

#include <QKeyEvent>
#include <cstdint>

namespace q218 {

// 13 for Enter, the code of the upper-case letter or of the digit, and the usual codes of the
// editing keys; 0 for a key that has none.
std::int16_t KeyCodeOf(const QKeyEvent& event);

// The Shift, Ctrl and Alt bits Text4_KeyDown expects.
int ShiftStateOf(Qt::KeyboardModifiers modifiers);

}  // namespace q218
