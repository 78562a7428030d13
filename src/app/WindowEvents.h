#pragma once
// The window's events that reach the logic: the three buttons and a key in the serial-number
// box. The window logic (Main) implements it; the Qt window calls it from its signals, and its
// own tests call a recording stand-in.

#include <cstdint>

namespace q218 {

// Key code of the Enter key as Text4_KeyDown receives it.
inline constexpr std::int16_t kKeyEnter = 13;

// Shift-state bits passed to Text4_KeyDown.
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;

class WindowEvents {
public:
    virtual ~WindowEvents() = default;

    virtual void cmdOK_Click() = 0;
    virtual void cmdUpdate_Click() = 0;
    // Ends the program by throwing ProgramEnded; the view also calls it when the window is
    // closed by its title bar, whether or not "Exit" is enabled at that moment.
    virtual void cmdExit_Click() = 0;
    // A key pressed while the serial-number box has the focus: a platform-neutral key code
    // (13 for Enter, the upper-case letter or the digit's code for those keys) and the
    // shift-state bits above.
    virtual void Text4_KeyDown(std::int16_t keyCode, int shift) = 0;
};

}  // namespace q218
