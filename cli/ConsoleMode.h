#pragma once
// Prepares a console for q218-flash's progress line, which redraws itself in place with a
// carriage return and erases the rest of the line with the terminal sequence ESC [K.
// Terminals on Linux and macOS understand it already unless TERM says otherwise; a Windows
// console does once its virtual-terminal processing is turned on.

#include <cstdio>

namespace q218::flash {

// How `stream` shows the progress line.
enum class ConsoleMode {
    NotConsole,  // a file or a pipe: plain lines
    Sequences,   // a terminal, or a Windows console, that handles ESC [K
    // A console that refused the sequences, or a terminal whose TERM is dumb or unset: \r
    // redraws without ESC [K
    CarriageReturnOnly,
};

// Call once before anything is printed to `stream`. On Windows, turns on
// ENABLE_VIRTUAL_TERMINAL_PROCESSING for the console behind `stream`, if it is one (Windows 10
// 1511 and later support it; the legacy console refuses it). Elsewhere it changes nothing:
// a terminal takes the sequences unless TERM is dumb or empty or not set.
ConsoleMode PrepareConsole(std::FILE* stream);

// Whether `stream` is a terminal or a console (a file or a pipe is not).
bool IsTerminal(std::FILE* stream);

// Columns of the terminal or console behind `stream`, 80 when it tells none; read at every
// redraw so that a resized window is followed at once.
int TerminalColumns(std::FILE* stream);

}  // namespace q218::flash
