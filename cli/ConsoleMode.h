#pragma once
// Prepares a Windows console for q218-flash's progress line, which redraws itself in place
// with a carriage return and erases the rest of the line with the terminal sequence ESC [K.
// Terminals on Linux and macOS understand it already; a Windows console does once its
// virtual-terminal processing is turned on.

#include <cstdio>

namespace q218::flash {

// How `stream` shows the progress line.
enum class ConsoleMode {
    NotConsole,  // a file or a pipe: plain lines (and on Linux and macOS every terminal too)
    Sequences,   // a Windows console that now handles ESC [K
    CarriageReturnOnly,  // a console that refused the sequences: \r redraws without ESC [K
};

// Call once before anything is printed to `stream`. On Windows, turns on
// ENABLE_VIRTUAL_TERMINAL_PROCESSING for the console behind `stream`, if it is one (Windows 10
// 1511 and later support it; the legacy console refuses it). Elsewhere it changes nothing and
// says NotConsole.
ConsoleMode PrepareConsole(std::FILE* stream);

// The terminal says it takes no control sequences (TERM=dumb, or no TERM at all); on Windows
// the console's own mode decides (PrepareConsole).
bool TerminalTakesNoSequences();

// Whether `stream` is a terminal or a console (a file or a pipe is not).
bool IsTerminal(std::FILE* stream);

// Columns of the terminal or console behind `stream`, 80 when it tells none; read at every
// redraw so that a resized window is followed at once.
int TerminalColumns(std::FILE* stream);

}  // namespace q218::flash
