#pragma once
// q218-flash's command line, read by QCommandLineParser.

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <string>

#include "StationOptions.h"

namespace q218::flash {

// The program's exit codes, as --help and docs/q218-flash.md list them.
enum ExitCode : int {
    kExitUpdated = 0,      // updated and verified, or already current with --skip-current
    kExitFailed = 1,       // the update failed: a reply the bootloader should not give, a lost line
    kExitUsage = 2,        // the command line is wrong
    kExitNoDevice = 3,     // no Q218 answers on PORT
    kExitNoSerial = 4,     // the device has no usable serial number and --serial was not given
    kExitRejected = 5,     // the image was rejected
    kExitNotVerified = 6,  // the transfer ended, but the device does not report the new firmware
    kExitInterrupted = 130,  // Ctrl+C
    kExitTerminated = 143,   // SIGTERM
};

struct FlashOptions {
    QString port;
    bool list = false;
    bool identify = false;
    bool skipCurrent = false;
    bool wait = false;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    // --timeout: how long the download waits for the bootloader's ENQ and for each frame to
    // be taken; none when 0.
    std::chrono::milliseconds timeout{0};
    std::optional<std::string> serial;
    std::optional<QString> logFile;  // --log, also when given empty
    StationOptions batch;
};

// What the command line asks for: options to run, or text to print and an exit code (--help,
// --version, a usage error with the usage after it).
struct ParsedCommandLine {
    std::optional<FlashOptions> options;
    QString text;
    int exitCode = kExitUsage;
};

ParsedCommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace q218::flash
