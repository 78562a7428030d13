#include "FlashOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cmath>
#include <optional>

#include "app/Main.h"
#include "image/EmbeddedImage.h"

namespace q218::flash {

namespace {

// The longest --timeout: a day.
constexpr std::chrono::milliseconds kLongestTimeout = std::chrono::hours(24);

const char* const kDescription =
    "Updates the firmware of a DORVANE Q218 on the serial port PORT, as the window does:\n"
    "identification, serial number, download, fresh identification.\n"
    "\n"
    "PORT is a device path (/dev/ttyUSB0, /dev/serial/by-id/..., COM7 on Windows) or COM1 to\n"
    "COM4 as the window names them (on Linux /dev/COMn, else /dev/ttyS<n-1>, with a warning).\n"
    "Before anything is written the device's model, serial number, revision and date are\n"
    "printed (on standard error with --json): keep them to recover a failed update.";

const char* const kEpilogue =
    "\n"
    "Exit codes (the JSON's reason field tells every failure apart):\n"
    "  0    updated and verified, or identified, or already current with --skip-current\n"
    "  1    the update failed (a reply the bootloader should not give, a lost line, no\n"
    "       answer within --timeout)\n"
    "  2    the command line is wrong, or the --log file cannot be opened\n"
    "  3    no Q218 answers on PORT (missing, permission denied, held by another program)\n"
    "  4    the device has no usable serial number and --serial was not given\n"
    "  5    the image was rejected\n"
    "  6    not verified: no fresh, complete identification with the image's firmware and\n"
    "       the serial number after the transfer\n"
    "  130  interrupted with Ctrl+C          143  ended by SIGTERM\n"
    "\n"
    "Signals: before the reset command Ctrl+C and SIGTERM end the run at once, nothing\n"
    "written. During the transfer the first Ctrl+C only warns and a second aborts; SIGTERM\n"
    "aborts at once. SIGHUP (the session went away) and SIGPIPE (the reader of the output\n"
    "went away) do not stop an update: it runs to its end and --log records the result.\n"
    "The device's answers are waited for without a limit unless --timeout is given.\n"
    "\n"
    "Recovery: an update that failed or was aborted after the reset command leaves the Q218\n"
    "in its bootloader without an application; it then reports its model alone. Run\n"
    "  q218-flash PORT --serial NNNNNN\n"
    "with the serial number printed before the failed update (also in its --log record),\n"
    "and press the Q218's reset button when asked.\n"
    "\n"
    "Examples:\n"
    "  q218-flash /dev/ttyUSB0\n"
    "  q218-flash --json --log updates.jsonl /dev/serial/by-id/usb-FTDI_...-if00-port0\n"
    "  q218-flash --identify COM3\n"
    "\n"
    "  (more in the manual page; see also q218-updater(1))\n";

// The options of one run, in the order the help lists them.
struct RunOptionSet {
    // -V, as serial tools have it: -v is --verbose there.
    const QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit.")};
    const QCommandLineOption list{
        QStringLiteral("list"), QStringLiteral("List the serial ports present and send nothing.")};
    const QCommandLineOption identify{
        QStringLiteral("identify"),
        QStringLiteral("Identify the device only: model, serial number, revision, date.")};
    const QCommandLineOption serial{
        QStringLiteral("serial"),
        QStringLiteral("The serial number to write when the device has none (six digits, "
                       "000001 to 999999; 000000 too, to recover a device that reported it). "
                       "A device's own serial number always wins."),
        QStringLiteral("NNNNNN")};
    const QCommandLineOption skipCurrent{
        QStringLiteral("skip-current"),
        QStringLiteral("Write nothing when the device already has the image's revision and date.")};
    const QCommandLineOption wait{
        QStringLiteral("wait"),
        QStringLiteral(
            "Wait for the port to appear and a Q218 to answer, retrying once a second.")};
    const QCommandLineOption json{
        QStringLiteral("json"), QStringLiteral("Print one JSON object with the result at the end; "
                                               "messages go to standard error.")};
    const QCommandLineOption log{QStringLiteral("log"),
                                 QStringLiteral("Append the same JSON object as one line to FILE."),
                                 QStringLiteral("FILE")};
    const QCommandLineOption quiet{
        {QStringLiteral("q"), QStringLiteral("quiet")},
        QStringLiteral("Print no messages and no progress; errors only.")};
    const QCommandLineOption verbose{
        {QStringLiteral("v"), QStringLiteral("verbose")},
        QStringLiteral("Also print every identification reply and every answer of the "
                       "bootloader, with the time, control bytes shown as \\xHH.")};
    const QCommandLineOption timeout{
        QStringLiteral("timeout"),
        QStringLiteral("Give up when the bootloader does not answer within SECONDS (its ENQ "
                       "after the reset, whatever comes before it; each frame taken, however "
                       "often it is asked for again), 0.001 to 86400. Default: wait without a "
                       "limit."),
        QStringLiteral("SECONDS")};

    void AddTo(QCommandLineParser& parser) const {
        parser.addOptions({version, list, identify, serial, skipCurrent, wait, json, log, quiet,
                           verbose, timeout});
    }
};

// A run's options as the command line gives them, or the usage error's words.
struct RunOptions {
    FlashOptions options;
    QString error;
};

// Reads --timeout: whole milliseconds, as what rounds to none would mean no limit at all.
std::optional<std::chrono::milliseconds> ReadTimeout(const QString& text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    const double milliseconds = ok ? std::round(seconds * 1000.0) : 0.0;
    if (!(milliseconds >= 1.0 && milliseconds <= kLongestTimeout.count())) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<long long>(milliseconds));
}

RunOptions ReadRunOptions(const QCommandLineParser& parser, const RunOptionSet& set,
                          const StationOptionSet& stationOptions) {
    RunOptions read;
    FlashOptions& options = read.options;
    const auto usageError = [&read](const QString& message) {
        read.error = message;
        return read;
    };
    options.list = parser.isSet(set.list);
    options.identify = parser.isSet(set.identify);
    options.skipCurrent = parser.isSet(set.skipCurrent);
    options.wait = parser.isSet(set.wait);
    options.json = parser.isSet(set.json);
    options.quiet = parser.isSet(set.quiet);
    options.verbose = parser.isSet(set.verbose);
    if (options.quiet && options.verbose) {
        return usageError(QStringLiteral("--quiet and --verbose exclude each other."));
    }
    if (parser.isSet(set.timeout)) {
        const std::optional<std::chrono::milliseconds> limit =
            ReadTimeout(parser.value(set.timeout));
        if (!limit) {
            return usageError(
                QStringLiteral("--timeout must be a number of seconds from 0.001 to 86400."));
        }
        options.timeout = *limit;
    }
    if (parser.isSet(set.log)) {
        // Given but empty is a file that cannot be opened, not a missing option.
        options.logFile = parser.value(set.log);
    }
    const QString portError = stationOptions.Read(
        parser, {parser.isSet(set.serial), options.json, options.verbose, options.list},
        options.batch);
    if (!portError.isEmpty()) {
        return usageError(portError);
    }
    if (options.list) {
        // It makes no run, so there is no result to print or keep.
        if (options.json || options.logFile) {
            return usageError(QStringLiteral("--list takes neither --json nor --log."));
        }
    } else {
        options.port = options.batch.ports.front();
    }
    if (parser.isSet(set.serial)) {
        // Any serial number a device can report and keep: the window's typed range, and
        // 000000, which a device programmed straight from the image reports and which its
        // recovery must be able to write back.
        const std::string value = parser.value(set.serial).toStdString();
        if (!IsUsableDeviceSerial(value)) {
            return usageError(QStringLiteral("--serial must be six digits, 000000 to 999999."));
        }
        options.serial = value;
    }
    return read;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const RunOptionSet set;
    set.AddTo(parser);
    const QCommandLineOption& version = set.version;
    const StationOptionSet stationOptions;
    stationOptions.AddTo(parser);
    parser.addPositionalArgument(
        QStringLiteral("PORT"),
        QStringLiteral("The serial port the Q218 is connected to (several: one "
                       "slot each)."),
        QStringLiteral("PORT [PORT...]"));

    ParsedCommandLine parsed;
    const auto usageError = [&](const QString& message) {
        // One line for the error, then the usage line of the help and where the rest is.
        const QString help = parser.helpText();
        parsed.text = QCoreApplication::applicationName() + QStringLiteral(": ") + message +
                      QLatin1Char('\n') + help.left(help.indexOf(QLatin1Char('\n')) + 1) +
                      QStringLiteral("Run with --help for the options and the exit codes.\n");
        parsed.exitCode = kExitUsage;
        return parsed;
    };
    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    // Help and version win over everything else on the line: they never touch a port.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        parsed.text =
            parser.helpText() + QString::fromLatin1(kEpilogue) + QString::fromLatin1(kStationHelp);
        parsed.exitCode = kExitUpdated;
        return parsed;
    }
    if (parser.isSet(version)) {
        // The image's hash is that of the file as committed: `sha256sum
        // src/image/q218-firmware.txt` in the source of this version gives the same digits.
        FirmwareImage image = Image_Build();
        const ImageTag tag = TagOf(Tag_Read(image).fields);
        parsed.text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                      QCoreApplication::applicationVersion() + QLatin1Char('\n') +
                      QString::fromStdString(
                          "Firmware image: " + tag.model + ' ' + tag.revision + ' ' + tag.date +
                          '\n' + "Image SHA-256: " + std::string(kEmbeddedImageSha256) + '\n') +
                      QStringLiteral("Maintainer: " Q218_MAINTAINER
                                     "\n"
                                     "Project: " Q218_PROJECT_URL "\n");
        parsed.exitCode = kExitUpdated;
        return parsed;
    }

    const RunOptions read = ReadRunOptions(parser, set, stationOptions);
    if (!read.error.isEmpty()) {
        return usageError(read.error);
    }
    parsed.options = read.options;
    parsed.exitCode = kExitUpdated;
    return parsed;
}

}  // namespace q218::flash
