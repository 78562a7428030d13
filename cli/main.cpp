// q218-flash: the updater's workflow from a terminal, on a port the user names, for scripts
// and production fixtures. QtCore and QtSerialPort only: it runs without a display.

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ConsoleMode.h"
#include "FlashOptions.h"
#include "FlashRun.h"
#include "Interrupt.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#endif

namespace {

// Appends one record to the log in one write, so that runs sharing the log never interleave
// inside a record (stdio would split a long one at its buffer's size). A record that a full
// disk cut short before ends without its newline: this one then starts on a fresh line, so
// that every record that was written whole stays one line of JSON.
bool AppendRecord(QFile& log, QByteArray record) {
    record += '\n';
    char last = '\n';
    const qint64 size = log.size();
    if (!log.isSequential() && size > 0 && (!log.seek(size - 1) || log.read(&last, 1) != 1)) {
        return false;
    }
    if (last != '\n') {
        record.prepend('\n');
    }
    return log.write(record) == record.size();
}

// The terminal says it takes no control sequences (TERM=dumb, or no TERM at all).
bool TerminalTakesNoSequences() {
#ifdef _WIN32
    return false;  // the console's own mode decides there (PrepareConsole)
#else
    const char* term = std::getenv("TERM");
    return term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0;
#endif
}

}  // namespace

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

    // The log is opened before anything is sent: a run whose record cannot be kept does not
    // start.
    QFile log;
    if (options.logFile) {
        if (options.logFile->isEmpty()) {
            std::fputs("q218-flash: cannot open the log: --log was given no file name\n", stderr);
            return kExitUsage;
        }
        // Opened for appending by the system itself (every write lands at the end, whoever
        // else appends), and not through QFile's Append, which seeks and warns on /dev/full.
        const QByteArray path = QFile::encodeName(*options.logFile);
#ifdef _WIN32
        const int handle = _wopen(reinterpret_cast<const wchar_t*>(options.logFile->utf16()),
                                  _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int handle = ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
#endif
        if (handle < 0 || !log.open(handle, QIODevice::ReadWrite | QIODevice::Unbuffered,
                                    QFileDevice::AutoCloseHandle)) {
            std::fprintf(stderr, "q218-flash: cannot open the log %s: %s\n", path.constData(),
                         std::strerror(errno));
            return kExitUsage;
        }
    }

    // With --json standard output carries the object alone; the messages go to standard error.
    const ConsoleMode mode = PrepareConsole(options.json ? stderr : stdout);
    ConsoleLines lines(options.json ? stderr : stdout, options.quiet, options.verbose);
    if (mode == ConsoleMode::CarriageReturnOnly || TerminalTakesNoSequences()) {
        lines.RedrawWithoutSequences();
    }
    const FlashReport report = RunFlash(options, lines);
    const QByteArray json = QJsonDocument(report.ToJson()).toJson(QJsonDocument::Compact);
    if (options.json) {
        std::printf("%s\n", json.constData());
        std::fflush(stdout);
    }
    if (log.isOpen() && !AppendRecord(log, json)) {
        lines.Error("Could not write the result to the log " + options.logFile->toStdString() +
                    ": " + log.errorString().toStdString() + ". The result was: " + report.result +
                    " (exit code " + std::to_string(report.exitCode) + ").");
    }
    return report.exitCode;
}
