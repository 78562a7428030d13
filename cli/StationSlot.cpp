#include "StationSlot.h"

#include <QDateTime>
#include <algorithm>

#include "FlashReport.h"
#include "FlashRun.h"
#include "app/DeviceText.h"

namespace q218::flash {

namespace {

std::string Recovery(const QString& port, QString serial, const QJsonValue& before) {
    if (serial.isEmpty()) {
        serial = before.toObject()["serial"].toString();
    }
    return RecoveryCommand(port.toStdString(),
                           serial.isEmpty() ? std::string("NNNNNN") : serial.toStdString());
}

// Per attempt: slot, serial, revision before and after, result, reason, seconds; in the
// station also units passed and failed per slot and units an hour.
void PrintTable(std::FILE* out, const FlashOptions& options, const StationSlots& everySlot,
                StationView& view, Clock::time_point began) {
    if (options.quiet) {
        return;
    }
    std::fprintf(out, "\n%-10s %-8s %-16s %-16s %-18s %8s\n", "slot", "serial", "revision",
                 "result", "reason", "seconds");
    int passed = 0;
    int failed = 0;
    for (std::size_t i = 0; i < everySlot.size(); ++i) {
        const StationSlot& slot = *everySlot[i];
        passed += slot.passed;
        failed += slot.failed;
        for (const QJsonObject& record : slot.records) {
            const QJsonObject before = record["before"].toObject();
            const QJsonObject after = record["after"].toObject();
            std::string serial = Shown(before["serial"]);
            if (serial.empty()) {
                serial = record["serialWritten"].toString().toStdString();
            }
            const std::string revision =
                (before.isEmpty() ? std::string("-") : Shown(before["revision"])) + " -> " +
                (after.isEmpty() ? std::string("-") : Shown(after["revision"]));
            std::fprintf(out, "%-10s %-8s %-16s %-16s %-18s %8.1f\n", view.Slot(i).label.c_str(),
                         serial.empty() ? "-" : serial.c_str(), revision.c_str(),
                         record["result"].toString().toUtf8().constData(),
                         record["reason"].isString()
                             ? record["reason"].toString().toUtf8().constData()
                             : "-",
                         record["seconds"].toDouble());
        }
    }
    if (options.batch.station) {
        const double hours = Seconds(Clock::now() - began) / 3600.0;
        std::fprintf(out, "\n");
        for (std::size_t i = 0; i < everySlot.size(); ++i) {
            std::fprintf(out, "%-10s %d passed, %d failed\n", view.Slot(i).label.c_str(),
                         everySlot[i]->passed, everySlot[i]->failed);
        }
        std::fprintf(out, "%d passed, %d failed, %.1f units an hour\n", passed, failed,
                     hours > 0.0 ? (passed + failed) / hours : 0.0);
    }
}

}  // namespace

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

QString Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

std::string Shown(const QJsonValue& value) {
    return VisibleAscii(value.toString().toLatin1().toStdString());
}

QStringList RunArguments(const FlashOptions& options, const QString& port) {
    QStringList arguments{QStringLiteral("--events")};
    if (options.batch.station || options.wait) {
        arguments << QStringLiteral("--wait");
    }
    if (options.skipCurrent) {
        arguments << QStringLiteral("--skip-current");
    }
    if (options.identify) {
        arguments << QStringLiteral("--identify");
    }
    if (options.timeout.count() > 0) {
        // Whole milliseconds, every digit: the default form keeps six significant digits only.
        arguments << QStringLiteral("--timeout")
                  << QString::number(static_cast<double>(options.timeout.count()) / 1000.0, 'f', 3);
    }
    if (options.serial) {
        arguments << QStringLiteral("--serial") << QString::fromStdString(*options.serial);
    }
    arguments << QStringLiteral("--") << port;
    return arguments;
}

void ApplyEvent(StationSlot& slot, StationView& view, std::size_t index, const QJsonObject& event) {
    SlotLine& line = view.Slot(index);
    const QString kind = event["event"].toString();
    if (kind == "started") {
        slot.attempt.image = event["image"].toObject();
    } else if (kind == "identified") {
        slot.attempt.before = event["device"];
        const QJsonObject device = slot.attempt.before.toObject();
        line.serial = Shown(device["serial"]);
        line.state = "identified";
        view.Event(index, "identified: serial number " +
                              (line.serial.empty() ? "(none)" : line.serial) + ", revision " +
                              Shown(device["revision"]));
    } else if (kind == "serial-settled") {
        slot.attempt.serialWritten = event["serial"].toString();
        slot.attempt.serialSource = event["source"].toString();
        line.serial = slot.attempt.serialWritten.toStdString();
        view.Event(index, "serial number " + line.serial + " (" +
                              slot.attempt.serialSource.toStdString() + ")");
    } else if (kind == "reset-sent") {
        slot.attempt.download.resetSent = true;
        line.state = "resetting";
        view.Event(index, "reset command sent");
    } else if (kind == "bootloader-answered") {
        slot.attempt.download.framesTotal = event["framesTotal"].toInt();
        slot.attempt.transferAt = Clock::now();
        line.state = "updating";
        view.Event(index, "bootloader answered");
    } else if (kind == "progress") {
        DownloadResult& download = slot.attempt.download;
        download.framesTotal = event["framesTotal"].toInt();
        download.framesSent = event["framesSent"].toInt();
        download.framesResent = event["framesResent"].toInt();
        line.framesTotal = download.framesTotal;
        line.framesDone = download.framesSent;
        const double fraction =
            download.framesTotal > 0
                ? static_cast<double>(download.framesSent) / download.framesTotal
                : 0.0;
        const double elapsed = Seconds(Clock::now() - slot.attempt.transferAt);
        line.secondsLeft = fraction > 0.0 ? elapsed / fraction * (1.0 - fraction) : -1.0;
        const int tenth = static_cast<int>(fraction * 10.0);
        if (tenth > slot.attempt.lastTenth) {
            slot.attempt.lastTenth = tenth;
            view.Event(index, "progress " + std::to_string(tenth * 10) + " % (" +
                                  std::to_string(download.framesSent) + " of " +
                                  std::to_string(download.framesTotal) + " frames, " +
                                  std::to_string(download.framesResent) + " sent again)");
        }
    } else if (kind == "end-sent") {
        slot.attempt.download.endSent = true;
        line.state = "verifying";
        line.secondsLeft = -1.0;
    } else if (kind == "ended") {
        slot.attempt.record = event["record"].toObject();
    } else if (kind == "gone") {
        view.Event(index, "unit " + Visible(slot.lastSerial.toLatin1().toStdString()) + " left (" +
                              event["why"].toString().toStdString() + ")");
    }
    view.Changed();
}

QJsonObject DiedRecord(const StationSlot& slot, int code, QProcess::ExitStatus status) {
    const StationSlot::Attempt& attempt = slot.attempt;
    const std::string how = status == QProcess::CrashExit ? "was killed or crashed"
                            : code < 0                    ? "could not be started"
                                       : "ended with exit code " + std::to_string(code);
    std::string message = "The slot's process " + how + " without a result";
    if (attempt.download.resetSent) {
        message += ", after " + std::to_string(attempt.download.framesSent) + " of " +
                   std::to_string(attempt.download.framesTotal) + " frames";
    }
    message += ".";
    if (attempt.download.InBootloader()) {
        message += " The Q218 may wait in its bootloader. To recover: " +
                   Recovery(slot.port, attempt.serialWritten, attempt.before) + ".";
    } else if (!attempt.download.resetSent) {
        message += " Nothing was written.";
    }
    const OutcomeRow& died = RowOf(Outcome::SlotDied);
    FlashReport report;
    report.timestamp = attempt.started.toStdString();
    report.port = slot.port.toStdString();
    report.serialSource = attempt.serialSource.toStdString();
    report.serialWritten = attempt.serialWritten.toStdString();
    report.download = attempt.download;
    report.seconds = Seconds(Clock::now() - attempt.startedAt);
    report.result = died.result;
    report.failure = {*died.reason, message};
    report.exitCode = died.exitCode;
    QJsonObject record = report.ToJson();
    // The image and the device reached the station as the slot's events wrote them, not as
    // the typed values a report is made from: they go into the record as they came.
    record.insert("image", attempt.image);
    record.insert("before", attempt.before);
    return record;
}

void PrintSummary(std::FILE* out, const FlashOptions& options, const StationSlots& everySlot,
                  StationView& view, Clock::time_point began) {
    PrintTable(out, options, everySlot, view, began);
    std::vector<std::string> recoveries;
    for (std::size_t i = 0; i < everySlot.size(); ++i) {
        const StationSlot& slot = *everySlot[i];
        if (!slot.records.empty() && slot.records.back()["leftInBootloader"].toBool()) {
            const QJsonObject& last = slot.records.back();
            recoveries.push_back(
                view.Slot(i).label + ": " +
                Recovery(slot.port, last["serialWritten"].toString(), last["before"]));
        }
    }
    if (!recoveries.empty()) {
        std::fprintf(out,
                     "\nLeft in the bootloader; recover each with its command (press the "
                     "Q218's reset button when asked):\n");
        for (const std::string& line : recoveries) {
            std::fprintf(out, "  %s\n", line.c_str());
        }
    }
    std::fflush(out);
}

int StationExitCode(const StationSlots& everySlot, bool logFailed) {
    int code = kExitUpdated;
    for (const auto& slot : everySlot) {
        for (const QJsonObject& record : slot->records) {
            code = std::max(code, record["exitCode"].toInt(kExitFailed));
        }
    }
    if (logFailed && code == kExitUpdated) {
        code = kExitFailed;
    }
    return code;
}

}  // namespace q218::flash
