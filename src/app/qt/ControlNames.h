#pragma once
// The object names of the window's controls: the window sets them, and whatever drives the
// real window (the demo's autopilot, the end-to-end tests) finds the controls by them. The
// status-bar panels are named after their keys (kPanelModel and the others in UpdaterView.h).

namespace q218::control {

inline constexpr const char* Main = "Main";
inline constexpr const char* Text1 = "Text1";
inline constexpr const char* Text2 = "Text2";
inline constexpr const char* Text3 = "Text3";
inline constexpr const char* Text4 = "Text4";
inline constexpr const char* cmdOK = "cmdOK";
inline constexpr const char* cmdUpdate = "cmdUpdate";
inline constexpr const char* cmdExit = "cmdExit";
inline constexpr const char* UpdateBarBG = "UpdateBarBG";
inline constexpr const char* UpdateBarFG = "UpdateBarFG";
inline constexpr const char* StatusBar1 = "StatusBar1";
inline constexpr const char* MessageBox = "MessageBox";

}  // namespace q218::control
