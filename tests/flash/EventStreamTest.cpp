// q218-flash's --events stream, as the program driving a station reads it, end to end
// against the simulated Q218 on a pseudo-terminal.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <functional>

#include <gtest/gtest.h>

#include "FlashFixture.h"

namespace q218::test {
namespace {

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

}  // namespace
}  // namespace q218::test
