#pragma once
// The record of one q218-flash run (the JSON object of --json and --log) and the words it
// uses for what the run observed. Every field comes from the typed results of the logic.

#include <QJsonObject>
#include <optional>
#include <string>

#include "FlashOptions.h"
#include "download/DownloadRun.h"
#include "image/FirmwareImage.h"
#include "link/Identification.h"

namespace q218::flash {

// Why a run did not succeed: one code a script can test, beside the message for a person.
enum class Reason {
    None,
    NoPort,            // no such port
    PermissionDenied,  // the account may not open the port
    PortBusy,          // another program holds the port
    NoAnswer,          // the port opened, but no Q218 answered (or stopped answering)
    NoSerial,          // the device has no usable serial number and --serial was not given
    ImageRejected,     // the image's reset-vector record is not one word
    BootloaderReply,   // the bootloader answered a frame with neither "T" nor BEL
    FrameNotTaken,     // the bootloader asked for one frame again past --timeout
    LineLost,          // the line vanished (the adapter pulled out)
    NotVerified,       // no fresh, complete identification with the image's firmware after it
    Interrupted,       // Ctrl+C or a termination signal
    SlotDied,          // a station's slot ended without a record of its own
};

// The code as the JSON's "reason" gives it ("no-port", ...); "" for None.
const char* ReasonCode(Reason reason);

// A failure as every face receives it: the code and the message.
struct Failure {
    Reason reason = Reason::None;
    std::string message;
};

// The record's layout; raised when a field changes meaning or goes away.
inline constexpr int kRecordSchema = 2;

// The device's fields as the record has them (its reply's bytes too), each byte kept (Latin-1
// to UTF-8), or null without an answer.
QJsonValue DeviceJson(const DeviceInfo& device);
// The image the program carries, as the record and the event stream name it: model,
// revision, date and the SHA-256 of the image file.
QJsonObject ImageJson(const ImageTag& image);

struct FlashReport {
    std::string timestamp;  // when the run started, ISO 8601 UTC
    std::string port;
    ImageTag image;
    std::optional<DeviceInfo> before;  // the identification before anything was written
    std::optional<DeviceInfo> after;   // the fresh one after "Update complete!", when made
    std::string serialSource;          // "device", "option", or empty when no serial was settled
    std::string serialWritten;
    DownloadResult download;  // resetSent false: nothing was written
    double seconds = 0.0;
    std::string result;
    Failure failure;
    int exitCode = kExitFailed;

    QJsonObject ToJson() const;
};

// How a run ended. Each has one row in the table behind RowOf: its exit code, the JSON's
// result and its reason, so that the three can never disagree.
enum class Outcome {
    Updated,         // updated and verified
    Identified,      // --identify
    AlreadyCurrent,  // --skip-current with the image's revision and date on the device
    NoDevice,        // no Q218 answered: the query tells why
    NoSerial,        // no usable serial number on the device and none given
    SerialRefused,   // the serial number was not accepted: nothing written
    ImageRejected,   // the image's reset-vector record is not one word
    TransferFailed,  // the download failed: its cause tells why
    NotVerified,     // no fresh identification with the new firmware
    Interrupted,     // Ctrl+C
    Terminated,      // SIGTERM
    SlotDied,        // a station's slot ended without leaving its record
};

struct OutcomeRow {
    Outcome outcome;
    int exitCode;
    const char* result;
    // The reason every run with this outcome gives; empty where what was observed tells it
    // (which port error, which transfer failure).
    std::optional<Reason> reason;
};

const OutcomeRow& RowOf(Outcome outcome);

// The device as a technician reads it, every byte it sent made visible.
std::string Describe(const DeviceInfo& device);
// Why no Q218 answered on `port`, from what the query observed.
Failure NoDevice(const DeviceInfo& device, const std::string& port);
// What the fresh identification after the transfer failed to show.
std::string WhatCameBack(const DeviceInfo& after);
// Why a transfer failed: its reason code, and the words for a person (the message's middle).
Failure TransferFailure(const DownloadResult& run);

}  // namespace q218::flash
