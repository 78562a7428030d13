#pragma once
// One slot of a station: what its run has reported so far, and what the station makes of
// it: the arguments of its run, its view line, the record of a run that died, the summary.

#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FlashOptions.h"
#include "StationView.h"
#include "download/DownloadRun.h"

namespace q218::flash {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration);
QString Now();
// A device field of an event, back to the bytes the device sent, made visible.
std::string Shown(const QJsonValue& value);

struct StationSlot {
    QString port;
    std::unique_ptr<QProcess> process;
    bool leaving = false;   // the process waits for the unit to leave (--until-gone)
    bool finished = false;  // no more runs on this slot
    QByteArray pending;     // a partial event line
    // What the slot's run reported of the unit it works on; new for every attempt.
    struct Attempt {
        QString started;
        Clock::time_point startedAt;
        Clock::time_point transferAt;
        QJsonObject image;
        QJsonValue before = QJsonValue::Null;
        QString serialWritten;
        QString serialSource;
        // How far the transfer got, as the slot's events told it.
        DownloadResult download;
        int lastTenth = -1;
        std::optional<QJsonObject> record;  // the slot's own, from its "ended" event
    } attempt;
    // What the slot has done so far.
    QString lastSerial;  // the unit the slot waits to see leave
    std::vector<QJsonObject> records;
    int passed = 0;
    int failed = 0;
};

using StationSlots = std::vector<std::unique_ptr<StationSlot>>;

// The arguments of one run of the slot on `port`, as the station's options ask for it.
QStringList RunArguments(const FlashOptions& options, const QString& port);
// Keeps what one event of the slot's run tells and shows it on the slot's line `index`.
void ApplyEvent(StationSlot& slot, StationView& view, std::size_t index, const QJsonObject& event);
// The record of a slot whose process ended without its own: what it last reported.
QJsonObject DiedRecord(const StationSlot& slot, int code, QProcess::ExitStatus status);
// The table of every attempt and the recovery command of each unit left in its bootloader.
void PrintSummary(std::FILE* out, const FlashOptions& options, const StationSlots& everySlot,
                  StationView& view, Clock::time_point began);
// 0 when every attempt ended well; else the highest exit code among the attempts (130 or
// 143 when Ctrl+C or SIGTERM cut one short), a died slot counting as 1. A record that
// could not be written fails the whole run.
int StationExitCode(const StationSlots& everySlot, bool logFailed);

}  // namespace q218::flash
