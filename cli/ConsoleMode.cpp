#include "ConsoleMode.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace q218::flash {

ConsoleMode PrepareConsole(std::FILE* stream) {
#ifdef _WIN32
    // A redirected stream is a file or a pipe handle, for which GetConsoleMode fails.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        return ConsoleMode::NotConsole;
    }
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
        SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        return ConsoleMode::Sequences;
    }
    return ConsoleMode::CarriageReturnOnly;
#else
    // A terminal here takes the sequences already; only TERM can say it does not (dumb, or
    // none at all), and then \r alone still redraws the line.
    if (!IsTerminal(stream)) {
        return ConsoleMode::NotConsole;
    }
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) {
        return ConsoleMode::CarriageReturnOnly;
    }
    return ConsoleMode::Sequences;
#endif
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return ::_isatty(::_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

int TerminalColumns(std::FILE* stream) {
    constexpr int kDefaultColumns = 80;
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO console{};
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (::GetConsoleScreenBufferInfo(handle, &console) != 0) {
        return console.srWindow.Right - console.srWindow.Left + 1;
    }
#else
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
#endif
    return kDefaultColumns;
}

}  // namespace q218::flash
