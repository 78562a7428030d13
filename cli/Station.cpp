#include "Station.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "FlashReport.h"
#include "FlashRun.h"
#include "Interrupt.h"
#include "RecordFile.h"
#include "SlotEvents.h"
#include "StationView.h"
#include "app/DeviceText.h"

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>
#endif

namespace q218::flash {

namespace {

using Clock = std::chrono::steady_clock;

// The version of the fields the station adds to a slot's record.
constexpr int kStationRecordSchema = 1;
// Before a slot whose run ended at once (a port that is not there yet) is tried again.
constexpr std::chrono::seconds kRestartDelay{1};
// How long the end waits for --on-record commands still running before it ends them.
constexpr std::chrono::seconds kOnRecordGrace{10};

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

QString Now() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

// A device field of an event, back to the bytes the device sent, made visible.
std::string Shown(const QJsonValue& value) {
    return VisibleAscii(value.toString().toLatin1().toStdString());
}

struct Slot {
    QString port;
    std::unique_ptr<QProcess> process;
    bool leaving = false;   // the process waits for the unit to leave (--until-gone)
    bool finished = false;  // no more runs on this slot
    QByteArray pending;     // a partial event line
    // What the slot's run last reported.
    QString started;
    Clock::time_point startedAt;
    Clock::time_point transferAt;
    QJsonObject image;
    QJsonValue before = QJsonValue::Null;
    QString serialWritten;
    QString serialSource;
    bool resetSent = false;
    bool handshakeDone = false;
    bool endSent = false;
    int framesTotal = 0;
    int framesSent = 0;
    int framesResent = 0;
    int lastTenth = -1;
    std::optional<QJsonObject> record;  // the slot's own, from its "ended" event
    // What the slot has done so far.
    QString lastSerial;  // the unit the slot waits to see leave
    std::vector<QJsonObject> records;
    int passed = 0;
    int failed = 0;
};

class Station {
public:
    explicit Station(const FlashOptions& options)
        : m_options(options),
          m_out(options.json ? stderr : stdout),
          m_view(m_out, options.quiet),
          m_signals([this](Signal signal) { OnSignal(signal); }) {
        std::vector<SlotLine> lines;
        for (const QString& port : options.batch.ports) {
            auto& slot = m_slots.emplace_back(std::make_unique<Slot>());
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
        Summary();
        return ExitCode();
    }

private:
    QStringList RunArguments(const Slot& slot) const {
        QStringList arguments{QStringLiteral("--events")};
        if (m_options.batch.station || m_options.wait) {
            arguments << QStringLiteral("--wait");
        }
        if (m_options.skipCurrent) {
            arguments << QStringLiteral("--skip-current");
        }
        if (m_options.identify) {
            arguments << QStringLiteral("--identify");
        }
        if (m_options.timeout.count() > 0) {
            arguments << QStringLiteral("--timeout")
                      << QString::number(static_cast<double>(m_options.timeout.count()) / 1000.0);
        }
        if (m_options.serial) {
            arguments << QStringLiteral("--serial") << QString::fromStdString(*m_options.serial);
        }
        arguments << QStringLiteral("--") << slot.port;
        return arguments;
    }

    void Start(std::size_t index, const QStringList& arguments) {
        Slot& slot = *m_slots[index];
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

    void StartRun(std::size_t index) {
        Slot& slot = *m_slots[index];
        if (m_stopping) {
            SlotDone(index);
            return;
        }
        slot.leaving = false;
        slot.started = Now();
        slot.startedAt = Clock::now();
        slot.image = {};
        slot.before = QJsonValue::Null;
        slot.serialWritten.clear();
        slot.serialSource.clear();
        slot.resetSent = slot.handshakeDone = slot.endSent = false;
        slot.framesTotal = slot.framesSent = slot.framesResent = 0;
        slot.lastTenth = -1;
        slot.record.reset();
        SlotLine& line = m_view.Slot(index);
        line.serial.clear();
        line.state = m_options.batch.station ? "waiting for a unit" : "identifying";
        line.framesTotal = 0;
        m_view.Changed();
        Start(index, RunArguments(slot));
    }

    void StartLeave(std::size_t index) {
        Slot& slot = *m_slots[index];
        // The unit's result and serial number stay on its line until the next unit is taken.
        slot.leaving = true;
        Start(index, {QStringLiteral("--events"), QStringLiteral("--until-gone"), slot.lastSerial,
                      QStringLiteral("--"), slot.port});
    }

    void ReadEvents(std::size_t index) {
        Slot& slot = *m_slots[index];
        slot.pending += slot.process->readAllStandardOutput();
        for (qsizetype end = slot.pending.indexOf('\n'); end >= 0;
             end = slot.pending.indexOf('\n')) {
            const QByteArray line = slot.pending.left(end);
            slot.pending.remove(0, end + 1);
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            if (!event.isEmpty()) {
                OnEvent(index, event);
            }
        }
    }

    void OnEvent(std::size_t index, const QJsonObject& event) {
        Slot& slot = *m_slots[index];
        SlotLine& line = m_view.Slot(index);
        const QString kind = event["event"].toString();
        if (kind == "started") {
            slot.image = event["image"].toObject();
        } else if (kind == "identified") {
            slot.before = event["device"];
            const QJsonObject device = slot.before.toObject();
            line.serial = Shown(device["serial"]);
            line.state = "identified";
            m_view.Event(index, "identified: serial number " +
                                    (line.serial.empty() ? "(none)" : line.serial) + ", revision " +
                                    Shown(device["revision"]));
        } else if (kind == "serial-settled") {
            slot.serialWritten = event["serial"].toString();
            slot.serialSource = event["source"].toString();
            line.serial = slot.serialWritten.toStdString();
            m_view.Event(index, "serial number " + line.serial + " (" +
                                    slot.serialSource.toStdString() + ")");
        } else if (kind == "reset-sent") {
            slot.resetSent = true;
            line.state = "resetting";
            m_view.Event(index, "reset command sent");
        } else if (kind == "bootloader-answered") {
            slot.handshakeDone = true;
            slot.framesTotal = event["framesTotal"].toInt();
            slot.transferAt = Clock::now();
            line.state = "updating";
            m_view.Event(index, "bootloader answered");
        } else if (kind == "progress") {
            slot.framesTotal = event["framesTotal"].toInt();
            slot.framesSent = event["framesSent"].toInt();
            slot.framesResent = event["framesResent"].toInt();
            line.framesTotal = slot.framesTotal;
            line.framesDone = slot.framesSent;
            const double fraction = slot.framesTotal > 0
                                        ? static_cast<double>(slot.framesSent) / slot.framesTotal
                                        : 0.0;
            const double elapsed = Seconds(Clock::now() - slot.transferAt);
            line.secondsLeft = fraction > 0.0 ? elapsed / fraction * (1.0 - fraction) : -1.0;
            const int tenth = static_cast<int>(fraction * 10.0);
            if (tenth > slot.lastTenth) {
                slot.lastTenth = tenth;
                m_view.Event(index, "progress " + std::to_string(tenth * 10) + " % (" +
                                        std::to_string(slot.framesSent) + " of " +
                                        std::to_string(slot.framesTotal) + " frames, " +
                                        std::to_string(slot.framesResent) + " sent again)");
            }
        } else if (kind == "end-sent") {
            slot.endSent = true;
            line.state = "verifying";
            line.secondsLeft = -1.0;
        } else if (kind == "ended") {
            slot.record = event["record"].toObject();
        } else if (kind == "gone") {
            m_view.Event(index, "unit " + Visible(slot.lastSerial.toLatin1().toStdString()) +
                                    " left (" + event["why"].toString().toStdString() + ")");
        }
        m_view.Changed();
    }

    // The record of a slot whose process ended without its own: what it last reported.
    QJsonObject DiedRecord(const Slot& slot, int code, QProcess::ExitStatus status) const {
        const QJsonValue none(QJsonValue::Null);
        const bool inBootloader = slot.resetSent && !slot.endSent;
        const std::string how = status == QProcess::CrashExit ? "was killed or crashed"
                                : code < 0                    ? "could not be started"
                                           : "ended with exit code " + std::to_string(code);
        std::string message = "The slot's process " + how + " without a result";
        if (slot.resetSent) {
            message += ", after " + std::to_string(slot.framesSent) + " of " +
                       std::to_string(slot.framesTotal) + " frames";
        }
        message += ".";
        if (inBootloader) {
            message += " The Q218 may wait in its bootloader. To recover: " +
                       Recovery(slot.port, slot.serialWritten, slot.before) + ".";
        } else if (!slot.resetSent) {
            message += " Nothing was written.";
        }
        const OutcomeRow& died = RowOf(Outcome::SlotDied);
        return QJsonObject{
            {"schema", 2},
            {"tool", QStringLiteral("q218-flash " Q218_VERSION)},
            {"timestamp", slot.started},
            {"port", slot.port},
            {"image",
             QJsonObject{{"revision", slot.image["revision"]}, {"date", slot.image["date"]}}},
            {"before", slot.before},
            {"after", none},
            {"afterReply", none},
            {"serialSource", slot.serialSource.isEmpty() ? none : QJsonValue(slot.serialSource)},
            {"serialWritten", slot.serialWritten.isEmpty() ? none : QJsonValue(slot.serialWritten)},
            {"resetSent", slot.resetSent},
            {"leftInBootloader", inBootloader},
            {"framesTotal", slot.framesTotal},
            {"framesSent", slot.framesSent},
            {"framesResent", slot.framesResent},
            {"seconds", Seconds(Clock::now() - slot.startedAt)},
            {"result", QString::fromLatin1(died.result)},
            {"reason", QString::fromLatin1(ReasonCode(*died.reason))},
            {"message", QString::fromStdString(message)},
            {"exitCode", died.exitCode},
        };
    }

    static std::string Recovery(const QString& port, QString serial, const QJsonValue& before) {
        if (serial.isEmpty()) {
            serial = before.toObject()["serial"].toString();
        }
        return "q218-flash " + ShellWord(port.toStdString()) + " --serial " +
               (serial.isEmpty() ? std::string("NNNNNN") : ShellWord(serial.toStdString()));
    }

    void Finished(std::size_t index, int code, QProcess::ExitStatus status) {
        Slot& slot = *m_slots[index];
        ReadEvents(index);
        if (slot.leaving) {
            slot.process.release()->deleteLater();
            if (m_stopping) {
                SlotDone(index);
            } else if (code == kExitUpdated && status == QProcess::NormalExit) {
                StartRun(index);
            } else {
                // The wait itself failed (killed from outside): the unit may still be there.
                QTimer::singleShot(kRestartDelay, [this, index] {
                    if (m_stopping) {
                        SlotDone(index);
                    } else {
                        StartLeave(index);
                    }
                });
            }
            return;
        }
        QJsonObject record = slot.record ? *slot.record : DiedRecord(slot, code, status);
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
        Slot& slot = *m_slots[index];
        record.insert("stationSchema", kStationRecordSchema);
        record.insert("slot", QString::fromStdString(m_view.Slot(index).label));
        record.insert("stationId", m_options.batch.stationId);
        record.insert("operator", m_options.batch.operatorName.isEmpty()
                                      ? QJsonValue(QJsonValue::Null)
                                      : QJsonValue(m_options.batch.operatorName));
        record.insert("started", slot.started);
        record.insert("ended", Now());
        (record["exitCode"].toInt(-1) == kExitUpdated ? slot.passed : slot.failed) += 1;
        slot.records.push_back(record);
        const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
        if (m_options.logFile) {
            const std::string error = AppendRecord(
                QFile::encodeName(*m_options.logFile).toStdString(), line.toStdString());
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
        command->start(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), m_options.batch.onRecord});
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

    void Summary() {
        std::FILE* out = m_out;
        Table(out);
        std::vector<std::string> recoveries;
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            const Slot& slot = *m_slots[i];
            if (!slot.records.empty() && slot.records.back()["leftInBootloader"].toBool()) {
                const QJsonObject& last = slot.records.back();
                recoveries.push_back(
                    m_view.Slot(i).label + ": " +
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

    // Per attempt: slot, serial, revision before and after, result, reason, seconds; in the
    // station also units passed and failed per slot and units an hour.
    void Table(std::FILE* out) {
        if (m_options.quiet) {
            return;
        }
        std::fprintf(out, "\n%-10s %-8s %-16s %-16s %-18s %8s\n", "slot", "serial", "revision",
                     "result", "reason", "seconds");
        int passed = 0;
        int failed = 0;
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            const Slot& slot = *m_slots[i];
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
                std::fprintf(out, "%-10s %-8s %-16s %-16s %-18s %8.1f\n",
                             m_view.Slot(i).label.c_str(), serial.empty() ? "-" : serial.c_str(),
                             revision.c_str(), record["result"].toString().toUtf8().constData(),
                             record["reason"].isString()
                                 ? record["reason"].toString().toUtf8().constData()
                                 : "-",
                             record["seconds"].toDouble());
            }
        }
        if (m_options.batch.station) {
            const double hours = Seconds(Clock::now() - m_began) / 3600.0;
            std::fprintf(out, "\n");
            for (std::size_t i = 0; i < m_slots.size(); ++i) {
                std::fprintf(out, "%-10s %d passed, %d failed\n", m_view.Slot(i).label.c_str(),
                             m_slots[i]->passed, m_slots[i]->failed);
            }
            std::fprintf(out, "%d passed, %d failed, %.1f units an hour\n", passed, failed,
                         hours > 0.0 ? (passed + failed) / hours : 0.0);
        }
    }

    // 0 when every attempt ended well; else the highest exit code among the attempts (130 or
    // 143 when Ctrl+C or SIGTERM cut one short), a died slot counting as 1. A record that
    // could not be written fails the whole run.
    int ExitCode() const {
        int code = kExitUpdated;
        for (const auto& slot : m_slots) {
            for (const QJsonObject& record : slot->records) {
                code = std::max(code, record["exitCode"].toInt(kExitFailed));
            }
        }
        if (m_logFailed && code == kExitUpdated) {
            code = kExitFailed;
        }
        return code;
    }

    const FlashOptions& m_options;
    std::FILE* m_out;
    StationView m_view;
    std::vector<std::unique_ptr<Slot>> m_slots;
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
    if (options.logFile) {
        const std::string error = CheckRecordFile(QFile::encodeName(*options.logFile).toStdString());
        if (!error.empty()) {
            std::fprintf(stderr, "q218-flash: cannot open the log %s: %s\n",
                         options.logFile->toLocal8Bit().constData(), error.c_str());
            return kExitUsage;
        }
    }
    Station station(options);
    return station.Execute();
}

}  // namespace q218::flash
