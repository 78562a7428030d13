// The station of q218-flash.exe under Wine: one run on COM3 and COM4, each a simulated Q218 on
// a pseudo-terminal, updates both (two slot processes) and logs one record for each.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "WineMachine.h"
#include "support/DeviceChecks.h"
#include "support/ExpectedMemory.h"
#include "support/ImageInput.h"

namespace q218::test {
namespace {

using namespace std::chrono_literals;

TEST(WineStation, TwoSlotsUpdateBothUnitsAndLogTwoRecords) {
    std::string error;
    ASSERT_FALSE(WineMachine::Programs(error).isEmpty()) << error;
    const sim::PreviousFirmware firmware{
        .serial = "123456", .revision = "R04.5", .date = "2021-11-02"};
    const sim::PreviousFirmware second{
        .serial = "654321", .revision = "R04.5", .date = "2021-11-02"};
    std::unique_ptr<demo::DemoPorts> ports = demo::DemoPorts::Create(firmware, false, error);
    ASSERT_TRUE(ports) << error;
    std::unique_ptr<demo::DemoPorts> other = demo::DemoPorts::Create(second, false, error);
    ASSERT_TRUE(other) << error;
    const QString prefix = QStringLiteral(Q218_WINE_PREFIX);
    ASSERT_TRUE(WineMachine::MapPorts(*ports, prefix, error)) << error;
    // COM4: the second unit instead of the missing port.
    const QString com4 = prefix + "/dosdevices/com4";
    QFile::remove(com4);
    ASSERT_TRUE(QFile::link(QString::fromStdString(other->Names()(demo::kDevicePort)), com4));
    sim::PtyServer* const devices[] = {&ports->Device(), &other->Device()};
    const Memory before[] = {MemoryOf(*devices[0]), MemoryOf(*devices[1])};

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString log = folder.filePath("updates.jsonl");
    QProcess station;
    // The slot processes the station starts need the launcher's serial hook as well (Start
    // builds the program's environment from this process's own).
    qputenv("Q218_HOOK_CHILDREN", "1");
    WineMachine::Start(station, prefix, "q218-flash.exe",
                       {"COM3", "COM4", "--log", "Z:" + QDir::toNativeSeparators(log)});
    qunsetenv("Q218_HOOK_CHILDREN");
    ASSERT_TRUE(station.waitForStarted());
    // Two updates side by side take about 15 s under Wine; one still running after this hangs.
    if (!WineMachine::Ended(station, std::chrono::seconds(240))) {
        FAIL() << "the station hung: " << station.readAllStandardOutput().toStdString()
               << station.readAllStandardError().toStdString();
    }
    const std::string output = station.readAllStandardOutput().toStdString() +
                               station.readAllStandardError().toStdString();
    EXPECT_EQ(station.exitCode(), 0) << output;

    const std::string serials[] = {"123456", "654321"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE("COM" + std::to_string(3 + i));
        ExpectTheImage(*devices[i], before[i], serials[i]);
    }

    QFile records(log);
    ASSERT_TRUE(records.open(QIODevice::ReadOnly)) << output;
    std::multiset<QString> logged;
    QList<QByteArray> lines = records.readAll().split('\n');
    ASSERT_TRUE(lines.back().isEmpty()) << "the log ends in a torn line";
    lines.pop_back();
    for (const QByteArray& line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        EXPECT_EQ(record["result"].toString(), "updated") << line.toStdString();
        EXPECT_EQ(record["after"].toObject()["revision"].toString().toStdString(),
                  InputTag().revision);
        logged.insert(record["port"].toString());
    }
    EXPECT_EQ(logged, (std::multiset<QString>{"COM3", "COM4"})) << output;
}

// Windows has no notifier for a pipe: a slot still waiting for its unit must see the station's
// end of its standard input close (the station killed) and end as on Ctrl+C.
TEST(WineStation, ASlotWaitingForAUnitEndsWhenItsStationIsGone) {
    std::string error;
    ASSERT_FALSE(WineMachine::Programs(error).isEmpty()) << error;
    std::unique_ptr<demo::DemoPorts> ports = demo::DemoPorts::Create({}, false, error);
    ASSERT_TRUE(ports) << error;
    const QString prefix = QStringLiteral(Q218_WINE_PREFIX);
    ASSERT_TRUE(WineMachine::MapPorts(*ports, prefix, error)) << error;
    QProcess slot;
    WineMachine::Start(slot, prefix, "q218-flash.exe", {"--events", "--wait", "--", "COM4"});
    ASSERT_TRUE(slot.waitForStarted());
    // The first event comes once the slot runs, its watch on standard input set.
    WineMachine::WaitFor(
        120s, [&slot] { return slot.canReadLine() || slot.state() != QProcess::Running; },
        [&slot] { slot.waitForReadyRead(100); });
    ASSERT_TRUE(slot.canReadLine()) << slot.readAllStandardError().toStdString();
    slot.closeWriteChannel();
    if (!slot.waitForFinished(120'000)) {
        slot.kill();
        slot.waitForFinished();
        FAIL() << "the slot went on waiting with its station gone";
    }
    EXPECT_EQ(slot.exitCode(), 130);
    const QList<QByteArray> events = slot.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject last = QJsonDocument::fromJson(events.back()).object();
    EXPECT_EQ(last["record"].toObject()["result"].toString(), "interrupted");
}

}  // namespace
}  // namespace q218::test
