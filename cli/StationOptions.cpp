#include "StationOptions.h"

#include <QSysInfo>

#include "app/Main.h"

namespace q218::flash {

const char* const kStationHelp =
    "\n"
    "Several ports: q218-flash PORT PORT ... updates every one at once, each in a process of\n"
    "its own (a slot); one line per slot on a terminal, event lines otherwise, a summary at\n"
    "the end. Exit 0 when every slot ended well, else the highest exit code of the slots (a\n"
    "slot whose process died counts as 1); each record's reason tells the slots apart.\n"
    "--station keeps taking units until Ctrl+C or SIGTERM (see docs/station.md).\n";

StationOptionSet::StationOptionSet()
    : m_events(QStringLiteral("events"),
               QStringLiteral("Write one JSON event a line on standard output as the run goes "
                              "(for a program that drives q218-flash); messages go to standard "
                              "error.")),
      m_station(QStringLiteral("station"),
                QStringLiteral("Keep updating: each port waits for a Q218, updates it, waits "
                               "until it has left, and takes the next; until Ctrl+C or "
                               "SIGTERM.")),
      m_stationId(QStringLiteral("station-id"),
                  QStringLiteral("The station's name in the records (default: the host name)."),
                  QStringLiteral("NAME")),
      m_operator(QStringLiteral("operator"), QStringLiteral("The operator's name in the records."),
                 QStringLiteral("NAME")),
      m_onRecord(QStringLiteral("on-record"),
                 QStringLiteral("Run CMD (through the shell) with each record on its standard "
                                "input, once the record is in the --log file."),
                 QStringLiteral("CMD")),
      m_untilGone(QStringLiteral("until-gone"),
                  QStringLiteral("Wait until the Q218 with serial number SERIAL has left PORT "
                                 "(the port gone, no answer, or another serial number answers); "
                                 "writes nothing."),
                  QStringLiteral("SERIAL")) {}

void StationOptionSet::AddTo(QCommandLineParser& parser) const {
    parser.addOptions({m_events, m_station, m_stationId, m_operator, m_onRecord, m_untilGone});
}

QString StationOptionSet::Read(const QCommandLineParser& parser, const Others& others,
                               StationOptions& options) const {
    options.ports = parser.positionalArguments();
    options.events = parser.isSet(m_events);
    options.station = parser.isSet(m_station);
    options.stationId =
        parser.isSet(m_stationId) ? parser.value(m_stationId) : QSysInfo::machineHostName();
    options.operatorName = parser.value(m_operator);
    options.onRecord = parser.value(m_onRecord);
    if (parser.isSet(m_untilGone)) {
        options.untilGone = parser.value(m_untilGone).toStdString();
    }
    if (others.list) {
        return options.ports.isEmpty() ? QString() : QStringLiteral("--list takes no PORT.");
    }
    if (options.ports.isEmpty()) {
        return QStringLiteral("PORT is missing.");
    }
    if (options.ports.size() > 1 && (options.events || options.untilGone)) {
        return QStringLiteral("--events and --until-gone take exactly one PORT.");
    }
    // Both would claim standard output: the events end with the record anyway.
    if (others.json && (options.events || options.untilGone)) {
        return QStringLiteral("--json and --events exclude each other.");
    }
    if (options.ports.removeDuplicates() > 0) {
        return QStringLiteral("A PORT is given twice.");
    }
    // One number written into many units would give them all the same serial number.
    if (others.serial && options.Parent()) {
        return QStringLiteral("--serial takes exactly one PORT and no --station.");
    }
    // A slot's answers are not shown: its record says what happened.
    if (others.verbose && options.Parent()) {
        return QStringLiteral("--verbose takes exactly one PORT and no --station.");
    }
    return {};
}

}  // namespace q218::flash
