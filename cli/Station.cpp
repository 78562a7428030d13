#include "Station.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FlashReport.h"
#include "FlashRun.h"
#include "Interrupt.h"
#include "RecordFile.h"
#include "SlotEvents.h"
#include "StationSlot.h"
#include "StationView.h"
#include "app/DeviceText.h"

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>
#endif

namespace q218::flash {

namespace {

// The version of the fields the station adds to a slot's record.
constexpr int kStationRecordSchema = 1;
// Before a slot whose run ended at once (a port that is not there yet) is tried again.
constexpr std::chrono::seconds kRestartDelay{1};
// How long the end waits for --on-record commands still running before it ends them.
constexpr std::chrono::seconds kOnRecordGrace{10};

class Station {
public:
    // `logPath`: the --log file as CheckedLogPath gave it, empty without one.
    Station(const FlashOptions& options, std::string logPath)
        : m_options(options),
          m_logPath(std::move(logPath)),
          m_out(options.json ? stderr : stdout),
          m_view(m_out, options.quiet),
          m_signals([this](Signal signal) { OnSignal(signal); }) {
        std::vector<SlotLine> lines;
        for (const QString& port : options.batch.ports) {
            auto& slot = m_slots.emplace_back(std::make_unique<StationSlot>());
            slot->port = port;
            lines.push_back({SlotLabel(port.toStdString()), port.toStdString(), "", "starting"});
        }
        m_view.SetSlots(std::move(lines));
    }

    int Execute() {
        m_began = Clock::now();
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            StartRun(i);
        }
        m_loop.exec();
        m_view.Close();
        PrintSummary(m_out, m_options, m_slots, m_view, m_began);
        return StationExitCode(m_slots, m_logFailed);
    }

private:
    void Start(std::size_t index, const QStringList& arguments) {
        StationSlot& slot = *m_slots[index];
        slot.process = std::make_unique<QProcess>();
        slot.pending.clear();  // half a line of a process that was killed
        QProcess& process = *slot.process;
        // The slot's messages are the record's message; its output is the event stream.
        process.setStandardErrorFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
        // A process group of its own: Ctrl+C at the terminal reaches the station alone, which
        // passes it on once; each slot then decides as a single run does.
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this, index] { ReadEvents(index); });
        // A slot that cannot even start ends as one whose process died.
        QObject::connect(&process, &QProcess::errorOccurred,
                         [this, index](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart) {
                                 Finished(index, -1, QProcess::NormalExit);
                             }
                         });
        QObject::connect(&process, &QProcess::finished,
                         [this, index](int code, QProcess::ExitStatus status) {
                             Finished(index, code, status);
                         });
        process.start(QCoreApplication::applicationFilePath(), arguments);
    }

    // A slot the station would start while it stops ends instead, as it stands.
    bool EndedForStop(std::size_t index) {
        if (m_stopping) {
            SlotDone(index);
        }
        return m_stopping;
    }

    void StartRun(std::size_t index) {
        if (EndedForStop(index)) {
            return;
        }
        StationSlot& slot = *m_slots[index];
        slot.leaving = false;
        slot.attempt = {};
        slot.attempt.started = Now();
        slot.attempt.startedAt = Clock::now();
        SlotLine& line = m_view.Slot(index);
        line.serial.clear();
        line.state = m_options.batch.station ? "waiting for a unit" : "identifying";
        line.framesTotal = 0;
        m_view.Changed();
        Start(index, RunArguments(m_options, slot.port));
    }

    void StartLeave(std::size_t index) {
        if (EndedForStop(index)) {
            return;
        }
        StationSlot& slot = *m_slots[index];
        // The unit's result and serial number stay on its line until the next unit is taken.
        slot.leaving = true;
        Start(index, {QStringLiteral("--events"), QStringLiteral("--until-gone"), slot.lastSerial,
                      QStringLiteral("--"), slot.port});
    }

    void ReadEvents(std::size_t index) {
        StationSlot& slot = *m_slots[index];
        slot.pending += slot.process->readAllStandardOutput();
        for (qsizetype end = slot.pending.indexOf('\n'); end >= 0;
             end = slot.pending.indexOf('\n')) {
            const QByteArray line = slot.pending.left(end);
            slot.pending.remove(0, end + 1);
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            if (!event.isEmpty()) {
                ApplyEvent(slot, m_view, index, event);
            }
        }
    }

    void Finished(std::size_t index, int code, QProcess::ExitStatus status) {
        StationSlot& slot = *m_slots[index];
        ReadEvents(index);
        if (slot.leaving) {
            slot.process.release()->deleteLater();
            if (m_stopping) {
                SlotDone(index);
            } else if (code == kExitUpdated && status == QProcess::NormalExit) {
                StartRun(index);
            } else {
                // The wait itself failed (killed from outside): the unit may still be there.
                QTimer::singleShot(kRestartDelay, [this, index] { StartLeave(index); });
            }
            return;
        }
        QJsonObject record =
            slot.attempt.record ? *slot.attempt.record : DiedRecord(slot, code, status);
        slot.process.release()->deleteLater();
        const QString result = record["result"].toString();
        const bool answered = record["before"].isObject();
        // In the station a run that ended while it waited for a unit, by Ctrl+C, SIGTERM or as
        // the station stopped, is no unit's attempt.
        const bool attempt =
            answered || !(m_options.batch.station && (result == "interrupted" || m_stopping));
        if (attempt) {
            Keep(index, record);
        }
        SlotLine& line = m_view.Slot(index);
        const bool good = record["exitCode"].toInt(-1) == kExitUpdated;
        line.state = result.toStdString();
        if (!good) {
            line.state += ": " + record["reason"].toString().toStdString();
        }
        line.secondsLeft = -1.0;
        if (attempt && !good && m_options.quiet) {
            // --quiet keeps errors: a failed slot says why.
            std::fprintf(stderr, "[%s] %s: %s\n", line.label.c_str(), result.toUtf8().constData(),
                         record["message"].toString().toUtf8().constData());
        }
        if (attempt) {
            m_view.Event(index,
                         "ended: " + result.toStdString() +
                             (good ? std::string()
                                   : " (" + record["reason"].toString().toStdString() +
                                         "): " + record["message"].toString().toStdString()));
        }
        m_view.Changed();
        if (!m_options.batch.station || m_stopping) {
            SlotDone(index);
        } else if (answered) {
            slot.lastSerial = record["before"].toObject()["serial"].toString();
            StartLeave(index);
        } else {
            // A run that ended without a unit (the port went away under --wait): again soon.
            QTimer::singleShot(kRestartDelay, [this, index] { StartRun(index); });
        }
    }

    void Keep(std::size_t index, QJsonObject record) {
        StationSlot& slot = *m_slots[index];
        record.insert("stationSchema", kStationRecordSchema);
        record.insert("slot", QString::fromStdString(m_view.Slot(index).label));
        record.insert("stationId", m_options.batch.stationId);
        record.insert("operator", m_options.batch.operatorName.isEmpty()
                                      ? QJsonValue(QJsonValue::Null)
                                      : QJsonValue(m_options.batch.operatorName));
        record.insert("started", slot.attempt.started);
        record.insert("ended", Now());
        (record["exitCode"].toInt(-1) == kExitUpdated ? slot.passed : slot.failed) += 1;
        slot.records.push_back(record);
        const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
        if (!m_logPath.empty()) {
            const std::string error = AppendRecord(m_logPath, line.toStdString());
            if (!error.empty()) {
                m_logFailed = true;
                m_view.Note("Could not write the record of slot " + m_view.Slot(index).label +
                            " to the log " + m_options.logFile->toStdString() + ": " + error +
                            ". Its result: " + record["result"].toString().toStdString() + ".");
                return;  // a record not on disk is not handed on as if it were
            }
        }
        if (m_options.json) {
            std::printf("%s\n", line.constData());
            std::fflush(stdout);
        }
        if (!m_options.batch.onRecord.isEmpty()) {
            HandOn(index, line);
        }
    }

    // --on-record: the command gets the record on its standard input; its failure is
    // reported and changes no unit's result.
    void HandOn(std::size_t index, const QByteArray& line) {
        auto* command = new QProcess;
        ++m_handingOn;
        const std::string label = m_view.Slot(index).label;
        QObject::connect(command, &QProcess::finished,
                         [this, command, label](int code, QProcess::ExitStatus status) {
                             if (status != QProcess::NormalExit || code != 0) {
                                 m_view.Note("The --on-record command failed for slot " + label +
                                             (status == QProcess::NormalExit
                                                  ? " (exit code " + std::to_string(code) + ")."
                                                  : " (it crashed or was ended)."));
                             }
                             command->deleteLater();
                             --m_handingOn;
                             QuitWhenDone();
                         });
        QObject::connect(command, &QProcess::errorOccurred,
                         [this, command, label](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart) {
                                 m_view.Note(
                                     "The --on-record command could not be started for "
                                     "slot " +
                                     label + ".");
                                 command->deleteLater();
                                 --m_handingOn;
                                 QuitWhenDone();
                             }
                         });
        command->setStandardOutputFile(QProcess::nullDevice());
#ifdef Q_OS_WIN
        // cmd takes its command line as it is, not in the quoting of C programs that QProcess
        // would give an argument: /s strips exactly the outer quotes, whatever the command
        // holds (quotes, &, >), and /d runs no AutoRun command of the registry first.
        command->setProgram(QStringLiteral("cmd.exe"));
        command->setNativeArguments(QStringLiteral("/d /s /c \"") + m_options.batch.onRecord +
                                    QStringLiteral("\""));
        command->start();
#else
        command->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), m_options.batch.onRecord});
#endif
        command->write(line + '\n');
        command->closeWriteChannel();
        m_commands.push_back(command);
    }

    void SlotDone(std::size_t index) {
        m_slots[index]->finished = true;
        QuitWhenDone();
    }

    void QuitWhenDone() {
        for (const auto& slot : m_slots) {
            if (!slot->finished) {
                return;
            }
        }
        if (m_handingOn == 0) {
            m_loop.quit();
        } else if (!m_graceStarted) {
            m_graceStarted = true;
            QTimer::singleShot(kOnRecordGrace, [this] {
                for (QProcess* command : m_commands) {
                    if (command->state() != QProcess::NotRunning) {
                        command->kill();
                    }
                }
            });
        }
    }

    // Ctrl+C and SIGTERM go to every slot once, and each decides as a single run does
    // (during a transfer the first Ctrl+C only warns). The station takes no new unit.
    void OnSignal(Signal signal) {
        if (signal == Signal::HangUp) {
            return;  // the slots run on; the records keep the results
        }
        if (signal == Signal::Interrupt && m_interrupts++ == 0) {
            m_view.Note(
                "Ctrl+C: no new unit is taken. A slot whose Q218 is in its bootloader goes "
                "on; press Ctrl+C again to abort it.");
        }
        m_stopping = true;
        for (const auto& slot : m_slots) {
            if (!slot->process || slot->process->state() == QProcess::NotRunning) {
                continue;
            }
#ifdef Q_OS_UNIX
            const int number = slot->leaving || signal == Signal::Terminate ? SIGTERM : SIGINT;
            ::kill(static_cast<pid_t>(slot->process->processId()), number);
#endif
            // On Windows the slots share the station's console, which hands Ctrl+C and
            // Ctrl+Break to every process on it: each slot has it already.
        }
        // Slots waiting to be started again end now.
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            if (!m_slots[i]->process && !m_slots[i]->finished) {
                SlotDone(i);
            }
        }
    }

    const FlashOptions& m_options;
    const std::string m_logPath;
    std::FILE* m_out;
    StationView m_view;
    StationSlots m_slots;
    std::vector<QProcess*> m_commands;
    QEventLoop m_loop;
    SignalWatch m_signals;
    Clock::time_point m_began;
    int m_handingOn = 0;
    bool m_graceStarted = false;
    bool m_stopping = false;
    int m_interrupts = 0;
    bool m_logFailed = false;
};

}  // namespace

int RunStation(const FlashOptions& options) {
    std::optional<std::string> logPath = CheckedLogPath(options.logFile);
    if (!logPath) {
        return kExitUsage;
    }
    Station station(options, std::move(*logPath));
    return station.Execute();
}

}  // namespace q218::flash
