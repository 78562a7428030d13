// q218-flash with several ports and as a station, end to end: the program itself against
// simulated Q218s on pseudo-terminals, one slot process each. Every row checks what a factory
// relies on: each slot's record (one per attempt, every log line valid JSON), memory equal to
// the image on every healthy slot beside the faulty ones, and a recovery command for every
// slot left in its bootloader.

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include <gtest/gtest.h>

#include "FlashFixture.h"
#include "StationSlot.h"

namespace q218::test {
namespace {

struct SlotRow {
    std::string serial;
    std::function<void(sim::SimulatedQ218&)> setUp;
    const char* result;
    const char* reason;  // "" for a slot that ends well
    bool recovery;       // the summary prints its recovery command
};

enum class Act { None, KillSlot, TermStation };

struct Row {
    const char* name;
    std::vector<SlotRow> units;
    QStringList options = {};
    int exitCode;
    Act act = Act::None;
    std::size_t actOn = 0;  // the slot killed
    // The --on-record command takes each record and then fails: reported, no result changed.
    bool onRecordFails = false;
    // The log ends in a line a writer left torn: the first record starts on a fresh line.
    bool tornLog = false;
};

// What a writer killed mid-record leaves at the end of a log.
const QByteArray kTornLine = R"({"torn":)";

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

const auto kPaced = [](sim::SimulatedQ218& d) { d.Paced(true); };

const std::vector<Row> kRows = {
    {.name = "AllSlotsUpdated",
     .units = {{"100001", {}, "updated", "", false},
               {"100002", {}, "updated", "", false},
               {"100003", {}, "updated", "", false}},
     .exitCode = 0,
     .onRecordFails = true},
    {.name = "FaultsBesideHealthySlots",
     .units = {{"200001", {}, "updated", "", false},
               {"200002", [](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); }, "failed",
                "line-lost", true},
               {"200003", [](sim::SimulatedQ218& d) { d.SilentFromFrame(20); }, "failed",
                "no-answer", true},
               {"200004",
                [](sim::SimulatedQ218& d) {
                    d.BelAfterFrame(0, 4);
                    d.BelAfterFrame(200, 6);
                },
                "updated", "", false},
               {"200005", kPaced, "failed", "slot-died", true},
               {"200006", {}, "updated", "", false}},
     .options = {"--timeout", "2"},
     .exitCode = 1,
     .act = Act::KillSlot,
     .actOn = 4},
    {.name = "TermMidTransferInterruptsEverySlot",
     .units = {{"300001", kPaced, "interrupted", "interrupted", true},
               {"300002", kPaced, "interrupted", "interrupted", true}},
     .exitCode = 143,
     .act = Act::TermStation,
     .tornLog = true},
};

// The slot processes of the station `parent`, by the port on their command line.
pid_t SlotOf(qint64 parent, const std::string& port) {
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(parent));
    if (!children.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& pid : children.readAll().split(' ')) {
        QFile command("/proc/" + pid.trimmed() + "/cmdline");
        if (!pid.trimmed().isEmpty() && command.open(QIODevice::ReadOnly) &&
            command.readAll().split('\0').contains(QByteArray::fromStdString(port))) {
            return static_cast<pid_t>(pid.trimmed().toInt());
        }
    }
    return -1;
}

// Every line of the log, each of which must be one JSON object.
std::vector<QJsonObject> Records(const QString& path) {
    std::vector<QJsonObject> records;
    QFile log(path);
    EXPECT_TRUE(log.open(QIODevice::ReadOnly));
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (!line.isEmpty() && line != kTornLine) {
            QJsonParseError error{};
            records.push_back(QJsonDocument::fromJson(line, &error).object());
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        }
    }
    return records;
}

class Station : public ::testing::TestWithParam<Row> {
protected:
    const Row& m_row = GetParam();
    // One simulated unit a slot, set up as its row says.
    void PlugInUnits() {
        for (const SlotRow& slot : m_row.units) {
            std::unique_ptr<sim::PtyServer> server = Device({.serial = slot.serial});
            ASSERT_TRUE(server);
            if (slot.setUp) {
                server->WithDevice(slot.setUp);
            }
            m_before.push_back(MemoryOf(*server));
            m_servers.push_back(std::move(server));
        }
    }

    QStringList Arguments() {
        QStringList arguments = m_row.options;
        arguments << "--on-record"
                  << "cat >> '" + m_handedOn + "'" + (m_row.onRecordFails ? "; exit 9" : "");
        if (m_row.tornLog) {
            QFile torn(m_log);
            EXPECT_TRUE(torn.open(QIODevice::WriteOnly) &&
                        torn.write(kTornLine) == kTornLine.size());
        }
        arguments << "--log" << m_log << "--station-id"
                  << "bench-7"
                  << "--operator"
                  << "ann";
        for (const auto& server : m_servers) {
            arguments << QString::fromStdString(server->SlavePath());
        }
        return arguments;
    }

    QString Label(std::size_t slot) const {
        return QFileInfo(QString::fromStdString(m_servers[slot]->SlavePath())).fileName();
    }

    // Kills the slot or terminates the station once its output shows the moment has come.
    void ActWhenDue(const QByteArray& out, QProcess& flash) {
        if (m_acted || m_row.act == Act::None) {
            return;
        }
        if (m_row.act == Act::KillSlot &&
            out.contains("[" + Label(m_row.actOn).toUtf8() + "] progress 10 %")) {
            m_acted = ::kill(SlotOf(flash.processId(), m_servers[m_row.actOn]->SlavePath()),
                             SIGKILL) == 0;
        }
        if (m_row.act == Act::TermStation &&
            out.count("bootloader answered") == static_cast<qsizetype>(m_row.units.size())) {
            m_acted = ::kill(static_cast<pid_t>(flash.processId()), SIGTERM) == 0;
        }
    }

    void CheckRecord(std::size_t i, const QJsonObject& record, const QByteArray& out) {
        const SlotRow& slot = m_row.units[i];
        EXPECT_EQ(record["result"].toString().toStdString(), slot.result);
        EXPECT_EQ(record["reason"].toString().toStdString(), slot.reason);
        // The parent's record of a died slot still names the unit.
        EXPECT_EQ(record["before"]["serial"].toString().toStdString(), slot.serial);
        EXPECT_TRUE(record["before"]["reply"].toString().contains(slot.serial.c_str()));
        EXPECT_EQ(record["slot"].toString(), Label(i));
        EXPECT_EQ(record["stationId"].toString(), "bench-7");
        EXPECT_EQ(record["operator"].toString(), "ann");
        EXPECT_EQ(record["leftInBootloader"].toBool(), slot.recovery);
        EXPECT_EQ(
            out.contains(
                ("q218-flash " + m_servers[i]->SlavePath() + " --serial " + slot.serial).c_str()),
            slot.recovery)
            << out.toStdString();
        if (*slot.reason == '\0') {
            ExpectTheImage(*m_servers[i], m_before[i], slot.serial);
        }
    }

    std::vector<std::unique_ptr<sim::PtyServer>> m_servers;
    std::vector<Memory> m_before;
    QTemporaryDir m_dir;
    const QString m_log = m_dir.filePath("records.jsonl");
    const QString m_handedOn = m_dir.filePath("handed-on.jsonl");
    bool m_acted = false;
};

TEST_P(Station, Slots) {
    PlugInUnits();
    const QStringList arguments = Arguments();
    ASSERT_FALSE(HasFailure());
    const Ran ran = Flash(
        arguments, {.hungAfter = std::chrono::seconds(180),
                    .step = [&](const Ran& now, QProcess& flash) { ActWhenDue(now.out, flash); }});
    EXPECT_TRUE(m_acted || m_row.act == Act::None);
    EXPECT_EQ(ran.exitCode, m_row.exitCode) << ran.out.toStdString();

    const std::vector<QJsonObject> records = Records(m_log);
    // Every record reached the --on-record command, whole; its failure was only reported.
    std::vector<QJsonObject> copies = Records(m_handedOn);
    EXPECT_TRUE(std::is_permutation(copies.begin(), copies.end(), records.begin(), records.end()));
    EXPECT_EQ(ran.out.contains("--on-record command failed"), m_row.onRecordFails);
    ASSERT_EQ(records.size(), m_row.units.size());
    for (std::size_t i = 0; i < m_row.units.size(); ++i) {
        SCOPED_TRACE(m_row.units[i].serial);
        const auto record = std::find_if(records.begin(), records.end(), [&](const QJsonObject& r) {
            return r["port"].toString().toStdString() == m_servers[i]->SlavePath();
        });
        ASSERT_NE(record, records.end());
        CheckRecord(i, *record, ran.out);
    }
}

// --station on one slot, whose name points at the unit on the bench as a by-path name points
// at a hub's socket: three units in turn. Each is updated once and only once: the station
// keeps asking the unit still present without updating it again, takes the next when the
// adapter is pulled out, and also when a unit with another serial number answers.
TEST(StationMode, ThreeUnitsInTurnOnOneSlot) {
    QTemporaryDir dir;
    const QString slot = dir.filePath("hub-port-1");
    const QString log = dir.filePath("records.jsonl");
    const std::vector<std::string> serials{"400001", "400002", "400003"};
    std::vector<std::unique_ptr<sim::PtyServer>> units;
    std::vector<Memory> before;
    for (const std::string& serial : serials) {
        units.push_back(Device({.serial = serial}));
        ASSERT_TRUE(units.back());
        before.push_back(MemoryOf(*units.back()));
    }
    const auto plugIn = [&](std::size_t unit) {
        QFile::remove(slot);
        ASSERT_TRUE(QFile::link(QString::fromStdString(units[unit]->SlavePath()), slot));
    };
    // Queries the station sent to `unit` after its update ended.
    const auto queriesAfterUpdate = [&](std::size_t unit) {
        return units[unit]->WithDevice([](sim::SimulatedQ218& d) {
            int queries = -1;
            for (const sim::TranscriptEntry& entry : d.Transcript()) {
                if (entry.kind == sim::EntryKind::End) {
                    queries = 0;
                } else if (entry.kind == sim::EntryKind::IdentifyQuery && queries >= 0) {
                    ++queries;
                }
            }
            return queries;
        });
    };
    plugIn(0);
    std::size_t next = 1;
    const auto step = [&](const Ran& now, QProcess& flash) {
        const auto updated = static_cast<std::size_t>(now.out.count("ended: updated"));
        // The unit just updated is still there and has been asked twice: it is not taken again.
        if (updated != next || queriesAfterUpdate(next - 1) < 2) {
            return;
        }
        if (next == serials.size()) {
            ::kill(static_cast<pid_t>(flash.processId()), SIGTERM);
        } else if (next == 1) {
            units[0]->Unplug();
            plugIn(1);
        } else {
            plugIn(2);  // unit 2 still answers on its own pty; another serial number now here
        }
        ++next;
    };
    const Ran ran = Flash({"--station", "--log", log, slot},
                          {.hungAfter = std::chrono::seconds(180), .step = step});
    EXPECT_EQ(ran.exitCode, 0) << ran.out.toStdString();
    EXPECT_TRUE(ran.out.contains("3 passed, 0 failed")) << ran.out.toStdString();
    const std::vector<QJsonObject> records = Records(log);
    ASSERT_EQ(records.size(), serials.size()) << ran.out.toStdString();
    for (std::size_t i = 0; i < serials.size(); ++i) {
        SCOPED_TRACE(serials[i]);
        EXPECT_EQ(records[i]["result"].toString(), "updated");
        EXPECT_EQ(records[i]["after"]["serial"].toString().toStdString(), serials[i]);
        EXPECT_EQ(records[i]["slot"].toString(), "hub-port-1");
        EXPECT_EQ(Count(*units[i], sim::EntryKind::ResetCommand), 1);
        ExpectTheImage(*units[i], before[i], serials[i]);
    }
}

// --events as another program reads it: every line one JSON object of schema 1, the steps in
// their order (progress collapsed to one), the frame counts rising to the record's own.
struct EventRow {
    const char* name;
    std::function<void(sim::SimulatedQ218&)> setUp;
    QStringList events;
};

const std::vector<EventRow> kEventRows = {
    {"Updated",
     {},
     {"started", "identified", "serial-settled", "reset-sent", "bootloader-answered", "progress",
      "end-sent", "ended"}},
    {"PulledAdapter",
     [](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); },
     {"started", "identified", "serial-settled", "reset-sent", "bootloader-answered", "progress",
      "ended"}},
};

void PrintTo(const EventRow& row, std::ostream* out) {
    *out << row.name;
}

class EventStream : public ::testing::TestWithParam<EventRow> {};

TEST_P(EventStream, Run) {
    const EventRow& row = GetParam();
    const auto server = Device({.serial = "500001"});
    ASSERT_TRUE(server);
    if (row.setUp) {
        server->WithDevice(row.setUp);
    }
    const Ran ran = Flash({"--events", QString::fromStdString(server->SlavePath())},
                          {.hungAfter = std::chrono::seconds(180)});
    QStringList kinds;
    int frames = 0;
    QJsonObject record;
    for (const QByteArray& line : ran.out.split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        ASSERT_EQ(event["schema"].toInt(), 1) << line.toStdString();
        const QString kind = event["event"].toString();
        if (kind == "progress") {
            EXPECT_GE(event["framesSent"].toInt(), frames);
            EXPECT_EQ(event["framesTotal"].toInt(), 367);
            frames = event["framesSent"].toInt();
        }
        if (kinds.isEmpty() || kinds.back() != kind) {
            kinds << kind;
        }
        record = event["record"].toObject();
    }
    EXPECT_EQ(kinds.join(" ").toStdString(), row.events.join(" ").toStdString());
    EXPECT_EQ(frames, record["framesSent"].toInt(-1));
    EXPECT_EQ(ran.exitCode, record["exitCode"].toInt(-1));
}

INSTANTIATE_TEST_SUITE_P(Rows, EventStream, ::testing::ValuesIn(kEventRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The driving program going away (its end of the pipe on standard input closed) ends a run
// that waits for a unit, as Ctrl+C does: a killed station leaves no slot polling for ever.
TEST(EventStreamDriver, GoneDriverEndsTheWait) {
    const auto server = Device(std::nullopt);
    ASSERT_TRUE(server);
    bool closed = false;
    const Ran ran = Flash(
        {"--events", "--wait", QString::fromStdString(server->SlavePath())},
        {.hungAfter = std::chrono::seconds(180), .step = [&](const Ran& now, QProcess& flash) {
             if (!closed && now.out.contains("\"started\"")) {
                 flash.closeWriteChannel();
                 closed = true;
             }
         }});
    EXPECT_EQ(ran.exitCode, 130);
    const QJsonObject ended = QJsonDocument::fromJson(ran.out.split('\n').value(1)).object();
    EXPECT_EQ(ended["record"]["result"].toString(), "interrupted") << ran.out.toStdString();
    EXPECT_FALSE(ended["record"]["resetSent"].toBool(true));
}

// Each slot is given the station's own limit, to the millisecond.
TEST(StationSlot, TimeoutReachesTheSlotWhole) {
    flash::FlashOptions options;
    options.timeout = std::chrono::milliseconds(1234567);
    const QStringList arguments = flash::RunArguments(options, QStringLiteral("port"));
    EXPECT_EQ(arguments.value(arguments.indexOf("--timeout") + 1).toStdString(), "1234.567");
}

INSTANTIATE_TEST_SUITE_P(Rows, Station, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace q218::test
