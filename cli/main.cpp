// q218-flash: the updater's workflow from a terminal, on a port the user names, for scripts
// and production fixtures. QtCore and QtSerialPort only: it runs without a display.

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "ConsoleMode.h"
#include "FlashOptions.h"
#include "FlashRun.h"
#include "Interrupt.h"
#include "RecordFile.h"
#include "SlotEvents.h"
#include "Station.h"
#include "UntilGone.h"

int main(int argc, char** argv) {
    using namespace q218::flash;
    // A reader of the output that goes away (| head, a tee that dies) or a log over the file
    // size limit must not end an update half-way: the writes fail from then on, the update
    // goes on.
    IgnoreFailedWriteSignals();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("q218-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(Q218_VERSION));

    const ParsedCommandLine parsed = ParseCommandLine(QCoreApplication::arguments());
    if (!parsed.options) {
        std::FILE* stream = parsed.exitCode == kExitUpdated ? stdout : stderr;
        std::fputs(parsed.text.toLocal8Bit().constData(), stream);
        return parsed.exitCode;
    }
    const FlashOptions& options = *parsed.options;
    if (options.list) {
        return ListPorts();
    }
    if (options.logFile && options.logFile->isEmpty()) {
        std::fputs("q218-flash: cannot open the log: --log was given no file name\n", stderr);
        return kExitUsage;
    }
    if (options.batch.Parent()) {
        return RunStation(options);
    }
    // --events: the stream on standard output, the messages on standard error.
    std::optional<SlotEvents> events;
    if (options.batch.events) {
        events.emplace(stdout, options.port.toStdString());
    }
    std::optional<DriverWatch> driver;
    if (options.batch.events || options.batch.untilGone) {
        driver.emplace();
    }
    if (options.batch.untilGone) {
        SlotEvents gone(stdout, options.port.toStdString());
        return WaitUntilGone(options, gone);
    }

    // The log is tried before anything is sent: a run whose record cannot be kept does not
    // start.
    const std::optional<std::string> logPath = CheckedLogPath(options.logFile);
    if (!logPath) {
        return kExitUsage;
    }

    // With --json or --events standard output carries the object or the events alone; the
    // messages go to standard error.
    std::FILE* const messages = options.json || events ? stderr : stdout;
    const ConsoleMode mode = PrepareConsole(messages);
    ConsoleLines lines(messages, options.quiet, options.verbose);
    if (mode == ConsoleMode::CarriageReturnOnly) {
        lines.RedrawWithoutSequences();
    }
    const FlashReport report = RunFlash(options, lines, events ? &*events : nullptr);
    const QJsonObject record = report.ToJson();
    const QByteArray json = QJsonDocument(record).toJson(QJsonDocument::Compact);
    if (events) {
        events->Ended(report, record);
    }
    if (options.json) {
        std::printf("%s\n", json.constData());
        std::fflush(stdout);
    }
    if (!logPath->empty()) {
        if (const std::string why = AppendRecord(*logPath, json.toStdString()); !why.empty()) {
            lines.Error("Could not write the result to the log " + *logPath + ": " + why +
                        ". The result was: " + report.result + " (exit code " +
                        std::to_string(report.exitCode) + ").");
        }
    }
    return report.exitCode;
}
