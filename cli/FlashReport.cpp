#include "FlashReport.h"

#include <iterator>
#include <utility>

#include "app/DeviceText.h"
#include "image/EmbeddedImage.h"
#include "link/PortScan.h"

namespace q218::flash {

namespace {

QString Json(std::string_view deviceBytes) {
    return QString::fromStdString(Latin1ToUtf8(deviceBytes));
}

QJsonValue ToJson(const std::optional<DeviceInfo>& device) {
    return device ? DeviceJson(*device) : QJsonValue(QJsonValue::Null);
}

}  // namespace

QJsonValue DeviceJson(const DeviceInfo& device) {
    if (device.status != QueryStatus::Answered) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"model", Json(device.model)},       {"serial", Json(device.serial)},
                       {"revision", Json(device.revision)}, {"date", Json(device.date)},
                       {"complete", device.IsComplete()},   {"reply", Json(device.reply)}};
}

QJsonObject ImageJson(const ImageTag& image) {
    return QJsonObject{
        {"model", QString::fromStdString(image.model)},
        {"revision", QString::fromStdString(image.revision)},
        {"date", QString::fromStdString(image.date)},
        {"sha256", QString::fromLatin1(kEmbeddedImageSha256.data(), kEmbeddedImageSha256.size())}};
}

std::string Describe(const DeviceInfo& device) {
    return "model " + VisibleAscii(device.model) + ", serial number " +
           (device.serial.empty() ? std::string("(none)") : VisibleAscii(device.serial)) +
           ", revision " + VisibleAscii(device.revision) + ", date " + VisibleAscii(device.date);
}

Failure NoDevice(const DeviceInfo& device, const std::string& port) {
    // The words are the window's scan detail's; the code tells a script which case it was.
    Reason reason = Reason::NoAnswer;
    std::string hint;
    if (device.status == QueryStatus::NotOpened) {
        switch (device.openError.failure) {
            case OpenFailure::PermissionDenied:
                reason = Reason::PermissionDenied;
                break;
            case OpenFailure::Busy:
                reason = Reason::PortBusy;
                break;
            case OpenFailure::NoSuchPort:
            case OpenFailure::Unknown:
                hint = " q218-flash --list shows the ports present.";
                [[fallthrough]];
            case OpenFailure::Other:
                reason = Reason::NoPort;
                break;
        }
    } else if (!device.reply.empty()) {
        hint = " It answered \"" + VisibleAscii(device.reply) + "\".";
    }
    return {reason, port + ": " + VisibleAscii(PortReason(device)) + hint};
}

std::string WhatCameBack(const DeviceInfo& after) {
    switch (after.status) {
        case QueryStatus::NotOpened:
            return "the port would not open again";
        case QueryStatus::Refused:
            return "the reply \"" + VisibleAscii(after.reply) + "\" was refused whole";
        case QueryStatus::Answered:
            break;
    }
    if (after.reply.empty()) {
        return "nothing answered";
    }
    if (!after.IsQ218()) {
        return "the reply \"" + VisibleAscii(after.reply) + "\" names no Q218";
    }
    return "the reply \"" + VisibleAscii(after.reply) + "\" held " +
           std::to_string(after.fieldsSupplied) + " of the 4 fields";
}

namespace {

// Whether `table` lists every value of its enum once, in the order the enum declares them,
// `last` the last of them: a table read by the enum's value must.
template <typename Row, std::size_t kSize, typename Enum>
constexpr bool InDeclaredOrder(const Row (&table)[kSize], Enum Row::*key, Enum last) {
    for (std::size_t i = 0; i < kSize; ++i) {
        if (static_cast<std::size_t>(table[i].*key) != i) {
            return false;
        }
    }
    return kSize == static_cast<std::size_t>(last) + 1;
}

constexpr OutcomeRow kOutcomes[] = {
    {Outcome::Updated, kExitUpdated, "updated", Reason::None},
    {Outcome::Identified, kExitUpdated, "identified", Reason::None},
    {Outcome::AlreadyCurrent, kExitUpdated, "already-current", Reason::None},
    {Outcome::NoDevice, kExitNoDevice, "no-device", std::nullopt},
    {Outcome::NoSerial, kExitNoSerial, "no-serial", Reason::NoSerial},
    {Outcome::SerialRefused, kExitFailed, "failed", Reason::NoSerial},
    {Outcome::ImageRejected, kExitRejected, "image-rejected", Reason::ImageRejected},
    {Outcome::TransferFailed, kExitFailed, "failed", std::nullopt},
    {Outcome::NotVerified, kExitNotVerified, "not-verified", Reason::NotVerified},
    {Outcome::Interrupted, kExitInterrupted, "interrupted", Reason::Interrupted},
    {Outcome::Terminated, kExitTerminated, "interrupted", Reason::Interrupted},
    {Outcome::SlotDied, kExitFailed, "failed", Reason::SlotDied},
};

}  // namespace

const OutcomeRow& RowOf(Outcome outcome) {
    // The table lists the outcomes in their order: a row out of place is a build error.
    static_assert(InDeclaredOrder(kOutcomes, &OutcomeRow::outcome, Outcome::SlotDied));
    return kOutcomes[static_cast<std::size_t>(outcome)];
}

Failure TransferFailure(const DownloadResult& run) {
    switch (run.ending) {
        case DownloadEnding::NotOpened:
            return {Reason::PortBusy,
                    "the port would not open again (" + run.openError.detail + ")"};
        case DownloadEnding::LineLost:
            return {Reason::LineLost,
                    "the line was lost (the adapter pulled out or the device gone)"};
        case DownloadEnding::BootloaderReply:
            return {Reason::BootloaderReply,
                    "the bootloader answered \"" +
                        VisibleAscii(std::string_view(&run.bootloaderReply, 1)) + "\""};
        case DownloadEnding::NoReply:
            return {Reason::NoAnswer, run.handshakeDone
                                          ? "the bootloader stopped answering"
                                          : "the bootloader never answered the reset"};
        case DownloadEnding::FrameNotTaken:
            return {Reason::FrameNotTaken,
                    "the bootloader kept asking for the same frame again past --timeout"};
        case DownloadEnding::RecordMalformed:
        case DownloadEnding::Unfinished:
        case DownloadEnding::Finished:
        case DownloadEnding::ImageRejected:
            break;
    }
    return {Reason::ImageRejected, "an image line no frame can carry"};
}

const char* ReasonCode(Reason reason) {
    // The codes are the JSON's and never change.
    static constexpr std::pair<Reason, const char*> kCodes[] = {
        {Reason::None, ""},
        {Reason::NoPort, "no-port"},
        {Reason::PermissionDenied, "permission-denied"},
        {Reason::PortBusy, "port-busy"},
        {Reason::NoAnswer, "no-answer"},
        {Reason::NoSerial, "no-serial"},
        {Reason::ImageRejected, "image-rejected"},
        {Reason::BootloaderReply, "bootloader-reply"},
        {Reason::FrameNotTaken, "frame-not-taken"},
        {Reason::LineLost, "line-lost"},
        {Reason::NotVerified, "not-verified"},
        {Reason::Interrupted, "interrupted"},
        {Reason::SlotDied, "slot-died"},
    };
    // Listed in the order Reason declares them: a row out of place is a build error.
    static_assert(
        InDeclaredOrder(kCodes, &std::pair<Reason, const char*>::first, Reason::SlotDied));
    return kCodes[static_cast<std::size_t>(reason)].second;
}

QJsonObject FlashReport::ToJson() const {
    const QJsonValue none(QJsonValue::Null);
    return QJsonObject{
        {"schema", kRecordSchema},
        {"tool", QStringLiteral("q218-flash " Q218_VERSION)},
        {"timestamp", QString::fromStdString(timestamp)},
        {"port", QString::fromStdString(port)},
        {"image", ImageJson(image)},
        {"before", flash::ToJson(before)},
        // Only a fresh, complete reply after the transfer says what the device has now; what
        // else came back is kept as bytes.
        {"after", after && after->IsComplete() ? flash::ToJson(after) : none},
        {"afterReply",
         after && after->status != QueryStatus::NotOpened ? Json(after->reply) : QJsonValue(none)},
        {"serialSource", serialSource.empty() ? none : QString::fromStdString(serialSource)},
        {"serialWritten", serialWritten.empty() ? none : QString::fromStdString(serialWritten)},
        {"resetSent", download.resetSent},
        {"leftInBootloader", download.InBootloader()},
        {"framesTotal", download.framesTotal},
        {"framesSent", download.framesSent},
        {"framesResent", download.framesResent},
        {"seconds", seconds},
        {"result", QString::fromStdString(result)},
        {"reason", failure.reason == Reason::None ? none : QString(ReasonCode(failure.reason))},
        {"message", failure.message.empty() ? none : QString::fromStdString(failure.message)},
        {"exitCode", exitCode},
    };
}

}  // namespace q218::flash
