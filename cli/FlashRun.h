#pragma once
// One run of q218-flash: the window's workflow (Form_Load, the connect step on PORT, the
// serial number, "&Update", the fresh identification) through the window logic itself, on
// the console view and the QSerialPort link, and the report of how it went.

#include <QJsonObject>
#include <cstdint>
#include <optional>
#include <string>

#include "ConsoleLines.h"
#include "FlashOptions.h"
#include "link/PortNames.h"

namespace q218::flash {

// The device as the identification query showed it.
struct DeviceFields {
    std::string model;
    std::string serial;
    std::string revision;
    std::string date;
};

struct FlashReport {
    std::string port;
    std::string imageRevision;
    std::string imageDate;
    std::optional<DeviceFields> before;
    std::optional<DeviceFields> after;
    std::string serialSource;  // "device", "option", or empty when no serial was settled
    int framesSent = 0;
    int framesResent = 0;
    double seconds = 0.0;
    std::string result;
    int exitCode = kExitFailed;

    QJsonObject ToJson() const;
};

// PORT as the link opens it: COM1 to COM4 in the window's naming keep their number and the
// updater's own mapping; any other name becomes port 1 of a mapping that holds only it.
struct PortTarget {
    std::int16_t number = 1;
    std::string shown;  // "COM 3" as the window's messages name it, or the path
    PortNameMap names;
};
PortTarget ResolvePort(const std::string& port);

// Runs the update (or the identification) that `options` ask for; messages and progress go
// to `lines`. Ctrl+C is watched for the duration.
FlashReport RunFlash(const FlashOptions& options, ConsoleLines& lines);

// --list: the serial ports present, one a line; opens none of them.
int ListPorts();

}  // namespace q218::flash
