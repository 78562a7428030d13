#pragma once
// The options of several ports at once and of the station (q218-flash PORT PORT ...,
// --station), and of the event stream one slot's run writes for them (--events).

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

namespace q218::flash {

struct StationOptions {
    QStringList ports;  // every PORT on the line; one port is the plain run
    bool events = false;
    bool station = false;
    QString stationId;  // default: the host name
    QString operatorName;
    QString onRecord;  // a command that gets each record on its standard input
    // --until-gone: wait until the Q218 with this serial number has left PORT.
    std::optional<std::string> untilGone;

    // Several slots run at once (several ports, or the station's loop even on one).
    bool Parent() const { return (ports.size() > 1 || station) && !events; }
};

class StationOptionSet {
public:
    StationOptionSet();
    void AddTo(QCommandLineParser& parser) const;
    // What else the command line holds that decides which port options fit.
    struct Others {
        bool serial = false;
        bool json = false;
        bool verbose = false;
        bool list = false;
    };
    // Reads the options and the ports; an error text for the usage line, or empty.
    QString Read(const QCommandLineParser& parser, const Others& others,
                 StationOptions& options) const;

private:
    QCommandLineOption m_events;
    QCommandLineOption m_station;
    QCommandLineOption m_stationId;
    QCommandLineOption m_operator;
    QCommandLineOption m_onRecord;
    QCommandLineOption m_untilGone;
};

// The part of --help on several ports, the station and their exit code.
extern const char* const kStationHelp;

}  // namespace q218::flash
