// q218-flash with several ports and as a station, end to end: the program itself against
// simulated Q218s on pseudo-terminals, one slot process each. Every row checks what a factory
// relies on: each slot's record (one per attempt, every log line valid JSON), memory equal to
// the image on every healthy slot beside the faulty ones, and a recovery command for every
// slot left in its bootloader.

#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include <gtest/gtest.h>

#include "sim/PtyServer.h"
#include "support/DeviceMemory.h"
#include "support/ExpectedMemory.h"
#include "support/ImageInput.h"

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
    QStringList options;
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
    {"AllSlotsUpdated",
     {{"100001", {}, "updated", "", false},
      {"100002", {}, "updated", "", false},
      {"100003", {}, "updated", "", false}},
     {},
     0,
     Act::None,
     0,
     true},
    {"FaultsBesideHealthySlots",
     {{"200001", {}, "updated", "", false},
      {"200002", [](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); }, "failed", "line-lost", true},
      {"200003", [](sim::SimulatedQ218& d) { d.SilentFromFrame(20); }, "failed", "no-answer", true},
      {"200004",
       [](sim::SimulatedQ218& d) {
           d.BelAfterFrame(0, 4);
           d.BelAfterFrame(200, 6);
       },
       "updated", "", false},
      {"200005", kPaced, "failed", "slot-died", true},
      {"200006", {}, "updated", "", false}},
     {"--timeout", "2"},
     1,
     Act::KillSlot,
     4},
    {"TermMidTransferInterruptsEverySlot",
     {{"300001", kPaced, "interrupted", "interrupted", true},
      {"300002", kPaced, "interrupted", "interrupted", true}},
     {},
     143,
     Act::TermStation,
     0,
     false,
     true},
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

// Runs q218-flash until it ends; `step` sees its standard output as it grows.
struct Ran {
    int exitCode = -1;
    QByteArray out;
};
Ran RunFlash(const QStringList& arguments,
             const std::function<void(const QByteArray&, QProcess&)>& step) {
    QProcess flash;
    flash.start(Q218_FLASH, arguments);
    EXPECT_TRUE(flash.waitForStarted());
    Ran ran;
    QElapsedTimer clock;
    clock.start();
    while (flash.state() != QProcess::NotRunning) {
        if (clock.hasExpired(180'000)) {
            flash.kill();
            flash.waitForFinished();
            ADD_FAILURE() << "q218-flash hung: " << ran.out.toStdString();
            return ran;
        }
        flash.waitForFinished(50);
        ran.out += flash.readAllStandardOutput();
        step(ran.out, flash);
    }
    ran.out += flash.readAllStandardOutput();
    EXPECT_EQ(flash.exitStatus(), QProcess::NormalExit);
    ran.exitCode = flash.exitCode();
    return ran;
}

class Station : public ::testing::TestWithParam<Row> {};

TEST_P(Station, Slots) {
    const Row& row = GetParam();
    const std::vector<std::string> image = ReadImageInput();
    std::vector<std::unique_ptr<sim::PtyServer>> servers;
    std::vector<Memory> before;
    QStringList arguments = row.options;
    QTemporaryDir dir;
    const QString log = dir.filePath("records.jsonl");
    const QString handedOn = dir.filePath("handed-on.jsonl");
    arguments << "--on-record"
              << "cat >> '" + handedOn + "'" + (row.onRecordFails ? "; exit 9" : "");
    if (row.tornLog) {
        QFile torn(log);
        ASSERT_TRUE(torn.open(QIODevice::WriteOnly) && torn.write(kTornLine) == kTornLine.size());
    }
    arguments << "--log" << log << "--station-id"
              << "bench-7"
              << "--operator"
              << "ann";
    for (const SlotRow& slot : row.units) {
        sim::PtyServer::Created created = sim::PtyServer::Create(sim::PreviousFirmware{
            .serial = slot.serial, .revision = "R04.5", .date = "2021-11-02"});
        ASSERT_TRUE(created.server) << created.error;
        if (slot.setUp) {
            created.server->WithDevice(slot.setUp);
        }
        before.push_back(MemoryOf(*created.server));
        arguments << QString::fromStdString(created.server->SlavePath());
        servers.push_back(std::move(created.server));
    }
    const auto label = [&](std::size_t i) {
        return QFileInfo(QString::fromStdString(servers[i]->SlavePath())).fileName();
    };
    bool acted = false;
    const Ran ran = RunFlash(arguments, [&](const QByteArray& out, QProcess& flash) {
        if (acted || row.act == Act::None) {
            return;
        }
        if (row.act == Act::KillSlot &&
            out.contains("[" + label(row.actOn).toUtf8() + "] progress 10 %")) {
            acted =
                ::kill(SlotOf(flash.processId(), servers[row.actOn]->SlavePath()), SIGKILL) == 0;
        }
        if (row.act == Act::TermStation &&
            out.count("bootloader answered") == static_cast<qsizetype>(row.units.size())) {
            acted = ::kill(static_cast<pid_t>(flash.processId()), SIGTERM) == 0;
        }
    });
    EXPECT_TRUE(acted || row.act == Act::None);
    EXPECT_EQ(ran.exitCode, row.exitCode) << ran.out.toStdString();

    const std::vector<QJsonObject> records = Records(log);
    // Every record reached the --on-record command, whole; its failure was only reported.
    std::vector<QJsonObject> copies = Records(handedOn);
    EXPECT_TRUE(std::is_permutation(copies.begin(), copies.end(), records.begin(), records.end()));
    EXPECT_EQ(ran.out.contains("--on-record command failed"), row.onRecordFails);
    ASSERT_EQ(records.size(), row.units.size());
    for (std::size_t i = 0; i < row.units.size(); ++i) {
        const SlotRow& slot = row.units[i];
        SCOPED_TRACE(slot.serial);
        const auto record = std::find_if(records.begin(), records.end(), [&](const QJsonObject& r) {
            return r["port"].toString().toStdString() == servers[i]->SlavePath();
        });
        ASSERT_NE(record, records.end());
        EXPECT_EQ((*record)["result"].toString().toStdString(), slot.result);
        EXPECT_EQ((*record)["reason"].toString().toStdString(), slot.reason);
        // The parent's record of a died slot still names the unit.
        EXPECT_EQ((*record)["before"]["serial"].toString().toStdString(), slot.serial);
        EXPECT_TRUE((*record)["before"]["reply"].toString().contains(slot.serial.c_str()));
        EXPECT_EQ((*record)["slot"].toString(), label(i));
        EXPECT_EQ((*record)["stationId"].toString(), "bench-7");
        EXPECT_EQ((*record)["operator"].toString(), "ann");
        EXPECT_EQ((*record)["leftInBootloader"].toBool(), slot.recovery);
        EXPECT_EQ(
            ran.out.contains(
                ("q218-flash " + servers[i]->SlavePath() + " --serial " + slot.serial).c_str()),
            slot.recovery)
            << ran.out.toStdString();
        if (*slot.reason == '\0') {
            const std::vector<WrittenBlock> blocks = BlocksOfUpdate(image, slot.serial);
            const MemoryDifference difference =
                Compare(MemoryOf(*servers[i]), AfterBlocks(before[i], blocks, blocks.size()));
            EXPECT_EQ(difference.count, 0U) << difference.firstFew;
        }
    }
}

// --station on one slot, whose name points at the unit on the bench as a by-path name points
// at a hub's socket: three units in turn. Each is updated once and only once: the station
// keeps asking the unit still present without updating it again, takes the next when the
// adapter is pulled out, and also when a unit with another serial number answers.
TEST(StationMode, ThreeUnitsInTurnOnOneSlot) {
    const std::vector<std::string> image = ReadImageInput();
    QTemporaryDir dir;
    const QString slot = dir.filePath("hub-port-1");
    const QString log = dir.filePath("records.jsonl");
    const std::vector<std::string> serials{"400001", "400002", "400003"};
    std::vector<std::unique_ptr<sim::PtyServer>> units;
    std::vector<Memory> before;
    for (const std::string& serial : serials) {
        sim::PtyServer::Created created = sim::PtyServer::Create(
            sim::PreviousFirmware{.serial = serial, .revision = "R04.5", .date = "2021-11-02"});
        ASSERT_TRUE(created.server) << created.error;
        before.push_back(MemoryOf(*created.server));
        units.push_back(std::move(created.server));
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
    const Ran ran =
        RunFlash({"--station", "--log", log, slot}, [&](const QByteArray& out, QProcess& flash) {
            const auto updated = static_cast<std::size_t>(out.count("ended: updated"));
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
        });
    EXPECT_EQ(ran.exitCode, 0) << ran.out.toStdString();
    EXPECT_TRUE(ran.out.contains("3 passed, 0 failed")) << ran.out.toStdString();
    const std::vector<QJsonObject> records = Records(log);
    ASSERT_EQ(records.size(), serials.size()) << ran.out.toStdString();
    for (std::size_t i = 0; i < serials.size(); ++i) {
        SCOPED_TRACE(serials[i]);
        EXPECT_EQ(records[i]["result"].toString(), "updated");
        EXPECT_EQ(records[i]["after"]["serial"].toString().toStdString(), serials[i]);
        EXPECT_EQ(records[i]["slot"].toString(), "hub-port-1");
        const int resets = units[i]->WithDevice([](sim::SimulatedQ218& d) {
            return static_cast<int>(std::count_if(d.Transcript().begin(), d.Transcript().end(),
                                                  [](const sim::TranscriptEntry& e) {
                                                      return e.kind == sim::EntryKind::ResetCommand;
                                                  }));
        });
        EXPECT_EQ(resets, 1);
        const std::vector<WrittenBlock> blocks = BlocksOfUpdate(image, serials[i]);
        EXPECT_EQ(Compare(MemoryOf(*units[i]), AfterBlocks(before[i], blocks, blocks.size())).count,
                  0U);
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
    sim::PtyServer::Created created = sim::PtyServer::Create(
        sim::PreviousFirmware{.serial = "500001", .revision = "R04.5", .date = "2021-11-02"});
    ASSERT_TRUE(created.server) << created.error;
    if (row.setUp) {
        created.server->WithDevice(row.setUp);
    }
    const Ran ran = RunFlash({"--events", QString::fromStdString(created.server->SlavePath())},
                             [](const QByteArray&, QProcess&) {});
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
    sim::PtyServer::Created created = sim::PtyServer::Create(std::nullopt);
    ASSERT_TRUE(created.server) << created.error;
    bool closed = false;
    const Ran ran =
        RunFlash({"--events", "--wait", QString::fromStdString(created.server->SlavePath())},
                 [&](const QByteArray& out, QProcess& flash) {
                     if (!closed && out.contains("\"started\"")) {
                         flash.closeWriteChannel();
                         closed = true;
                     }
                 });
    EXPECT_EQ(ran.exitCode, 130);
    const QJsonObject ended = QJsonDocument::fromJson(ran.out.split('\n').value(1)).object();
    EXPECT_EQ(ended["record"]["result"].toString(), "interrupted") << ran.out.toStdString();
    EXPECT_FALSE(ended["record"]["resetSent"].toBool(true));
}

INSTANTIATE_TEST_SUITE_P(Rows, Station, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace q218::test
