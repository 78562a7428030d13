#pragma once
// The object names of the window's controls: the window sets them, and whatever drives the
// real window (the demo's autopilot, the end-to-end tests) finds the controls by them. The
// status-bar panels are named after their keys (kPanelModel and the others in UpdaterView.h).

namespace q218::control {

// The window and its message box.
inline constexpr const char *Main = "Main", *MessageBox = "MessageBox";
// The download's working text, the message line, the image line, the serial-number box.
inline constexpr const char *Text1 = "Text1", *Text2 = "Text2", *Text3 = "Text3", *Text4 = "Text4";
inline constexpr const char *cmdOK = "cmdOK", *cmdUpdate = "cmdUpdate", *cmdExit = "cmdExit";
// The progress bar's track and fill, and the status bar that holds the panels.
inline constexpr const char *UpdateBarBG = "UpdateBarBG", *UpdateBarFG = "UpdateBarFG";
inline constexpr const char* StatusBar1 = "StatusBar1";

}  // namespace q218::control
