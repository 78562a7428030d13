// q218-flash: the updater's workflow from a terminal, on a port the user names, for scripts
// and production fixtures. QtCore and QtSerialPort only: it runs without a display.

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>

#include "ConsoleMode.h"
#include "FlashOptions.h"
#include "FlashRun.h"

int main(int argc, char** argv) {
    using namespace q218::flash;
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

    // With --json standard output carries the object alone; the messages go to standard error.
    PrepareConsole(options.json ? stderr : stdout);
    ConsoleLines lines(options.json ? stderr : stdout, options.quiet);
    const FlashReport report = RunFlash(options, lines);
    const QByteArray json = QJsonDocument(report.ToJson()).toJson(QJsonDocument::Compact);
    if (options.json) {
        std::printf("%s\n", json.constData());
    }
    if (!options.logFile.isEmpty()) {
        QFile log(options.logFile);
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text) ||
            log.write(json + '\n') != json.size() + 1) {
            lines.Error("Cannot append to the log " + options.logFile.toStdString() + ": " +
                        log.errorString().toStdString());
        }
    }
    return report.exitCode;
}
