#include "FlashOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "app/Main.h"

namespace q218::flash {

namespace {

const char* const kDescription =
    "Updates the firmware of a DORVANE Q218 on the serial port PORT, as the window does:\n"
    "identification, serial number, download, fresh identification.\n"
    "\n"
    "PORT is a device path (/dev/ttyUSB0, /dev/serial/by-id/..., COM7 on Windows) or COM1 to\n"
    "COM4 as the window names them.\n"
    "\n"
    "Exit codes:\n"
    "  0    updated and verified, or already current with --skip-current\n"
    "  1    the update failed (a reply the bootloader should not give, a lost line)\n"
    "  2    the command line is wrong\n"
    "  3    no Q218 answers on PORT\n"
    "  4    the device has no usable serial number and --serial was not given\n"
    "  5    the image was rejected\n"
    "  6    the transfer ended but the device does not report the new firmware with its\n"
    "       serial number\n"
    "  130  interrupted with Ctrl+C";

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption list(
        QStringLiteral("list"), QStringLiteral("List the serial ports present and send nothing."));
    const QCommandLineOption identify(
        QStringLiteral("identify"),
        QStringLiteral("Identify the device only: model, serial number, revision, date."));
    const QCommandLineOption serial(
        QStringLiteral("serial"),
        QStringLiteral("The serial number to write when the device has none (six digits, "
                       "000001 to 999999). A device's own serial number always wins."),
        QStringLiteral("NNNNNN"));
    const QCommandLineOption skipCurrent(
        QStringLiteral("skip-current"),
        QStringLiteral("Write nothing when the device already has the image's revision and date."));
    const QCommandLineOption wait(
        QStringLiteral("wait"),
        QStringLiteral(
            "Wait for the port to appear and a Q218 to answer, retrying once a second."));
    const QCommandLineOption json(
        QStringLiteral("json"), QStringLiteral("Print one JSON object with the result at the end; "
                                               "messages go to standard error."));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append the same JSON object as one line to FILE."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption quiet(
        QStringLiteral("quiet"), QStringLiteral("Print no messages and no progress; errors only."));
    parser.addOptions({list, identify, serial, skipCurrent, wait, json, log, quiet});
    parser.addPositionalArgument(QStringLiteral("PORT"),
                                 QStringLiteral("The serial port the Q218 is connected to."));

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
    if (parser.isSet(help)) {
        parsed.text = parser.helpText();
        parsed.exitCode = kExitUpdated;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                      QCoreApplication::applicationVersion() + QLatin1Char('\n');
        parsed.exitCode = kExitUpdated;
        return parsed;
    }

    FlashOptions options;
    options.list = parser.isSet(list);
    options.identify = parser.isSet(identify);
    options.skipCurrent = parser.isSet(skipCurrent);
    options.wait = parser.isSet(wait);
    options.json = parser.isSet(json);
    options.quiet = parser.isSet(quiet);
    options.logFile = parser.value(log);
    const QStringList ports = parser.positionalArguments();
    if (options.list) {
        if (!ports.isEmpty()) {
            return usageError(QStringLiteral("--list takes no PORT."));
        }
    } else if (ports.size() != 1) {
        return usageError(ports.isEmpty() ? QStringLiteral("PORT is missing.")
                                          : QStringLiteral("Give exactly one PORT."));
    } else {
        options.port = ports.front();
    }
    if (parser.isSet(serial)) {
        // The same rule as a serial number typed into the window.
        const std::string value = parser.value(serial).toStdString();
        if (!IsValidSerialEntry(value)) {
            return usageError(QStringLiteral("--serial must be six digits, 000001 to 999999."));
        }
        options.serial = value;
    }
    parsed.options = options;
    parsed.exitCode = kExitUpdated;
    return parsed;
}

}  // namespace q218::flash
