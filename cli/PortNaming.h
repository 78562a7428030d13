#pragma once
// How q218-flash names a port: PORT as the link opens it, the ports present as --list shows
// them, and a port written back as a word the shell reads whole.

#include <cstdint>
#include <string>

#include "link/PortNames.h"

namespace q218::flash {

// PORT as the link opens it: COM1 to COM4 in the window's naming keep their number and the
// updater's own mapping; any other name becomes port 1 of a mapping that holds only it.
// Another name is a path; on POSIX systems a name without a "/", "./" or "../" in front
// opens /dev/NAME, as QSerialPort takes it, and is shown as that path.
struct PortTarget {
    std::int16_t number = 1;
    std::string shown;  // "COM 3" as the window's messages name it, or the path
    PortNameMap names;
    bool windowName = false;  // COM1 to COM4, mapped as the window maps them
};
PortTarget ResolvePort(const std::string& port);

// `word` as the platform's shell reads it back as one word: a line the program prints for
// pasting (the recovery command) must run as printed, whatever the port's name holds.
std::string ShellWord(const std::string& word);

// The command that sends the image again to a unit left in its bootloader, keeping `serial`.
std::string RecoveryCommand(const std::string& port, const std::string& serial);

// --list: the serial ports present, one a line; opens none of them.
int ListPorts();

}  // namespace q218::flash
