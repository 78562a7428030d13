#pragma once
// The window operations that the updater's logic drives. The logic never touches a widget;
// the Qt window (src/app/qt) and the headless fake of the tests both implement this.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace q218 {

// The window's text boxes: Text1 is the download's hidden working text, Text2 the message
// line, Text3 the image line, Text4 the serial-number box.
enum class TextBox { Text1, Text2, Text3, Text4 };

enum class Button { cmdOK, cmdUpdate, cmdExit };

// Controls that can take the keyboard focus.
enum class FocusTarget { cmdOK, cmdUpdate, cmdExit, Text4 };

// Status-bar panels, addressed by key only, never by position.
inline constexpr std::string_view kPanelModel = "mod";
inline constexpr std::string_view kPanelSerial = "ser";
inline constexpr std::string_view kPanelRevision = "rev";
inline constexpr std::string_view kPanelDate = "dat";

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};            // the track once the transfer begins
inline constexpr Rgb kProgressGreen{0, 192, 0};  // the progress fill

// Thrown by cmdExit_Click (and by the window's close) to end the program at once from any
// depth of nested waits: every wait loop in the logic calls ProcessEvents, so unwinding from
// there leaves the scan, the settle delay or the download without each loop checking a flag.
// Every event dispatch of a view catches it; a nested dispatch only notes the end, and the
// ProcessEvents it ran inside throws it again, so it unwinds to the outermost dispatch.
struct ProgramEnded {};

class UpdaterView {
public:
    virtual ~UpdaterView() = default;

    virtual void SetText(TextBox box, std::string_view text) = 0;
    virtual std::string GetText(TextBox box) const = 0;

    // Only Text4 is ever shown or hidden; hiding keeps its text.
    virtual void SetVisible(TextBox box, bool visible) = 0;
    virtual bool IsVisible(TextBox box) const = 0;

    // A disabled button can be neither clicked nor focused.
    virtual void SetEnabled(Button button, bool enabled) = 0;
    // Called only on a control that is enabled and shown at that moment.
    virtual void SetFocus(FocusTarget target) = 0;

    // Why a box says what it says, for the technician who asks, beside the box and never in
    // it (the scan's "Q218 not found." names each port's reason this way): lines of text,
    // device bytes possibly among them; empty clears it. The window offers it as the box's
    // tooltip and accessible description and logs it; a face without either may drop it.
    virtual void SetDetail(TextBox box, std::string_view text) = 0;

    virtual void SetPanelText(std::string_view key, std::string_view text) = 0;
    virtual std::string GetPanelText(std::string_view key) const = 0;

    // Width of the fill = fraction (0 to 1) x width of the track.
    virtual void SetProgress(float fraction) = 0;
    virtual void SetProgressBackground(Rgb colour) = 0;

    virtual void Beep() = 0;
    // Modal, one "OK" button, titled with the program's title; returns once it is closed.
    // Clicks and timers may run nested handlers while it is open.
    virtual void ShowMessageBox(std::string_view text) = 0;

    // The waits. Both let the window handle its pending input and repaint; handlers of
    // clicks made meanwhile run inside the call, and ProgramEnded thrown by one of them
    // propagates out of it. Neither wakes periodically, so an idle updater costs no CPU.
    //
    // ProcessEvents: when nothing is pending, sleeps until something happens (a click or
    // key, serial data or a serial error, a timer) and handles it. A caller that waits for
    // something that raises no event of its own must check for it before calling: bytes
    // the serial link has already received wake nothing, so a reading loop reads everything
    // waiting and calls ProcessEvents only when nothing is.
    virtual void ProcessEvents() = 0;
    // As ProcessEvents, but sleeps at most `limit` (zero: handles what is pending and returns
    // at once). The settle delay waits this way for its deadline.
    virtual void ProcessEventsFor(std::chrono::nanoseconds limit) = 0;
};

}  // namespace q218
