// q218-flash.exe from the Windows ZIP, under Wine, against the simulated Q218 on COM3 (a
// pseudo-terminal; COM1 and COM2 silent ones, COM4 missing): exit code, the JSON object,
// the messages, and the device's program memory word for word against the image.

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

#include <gtest/gtest.h>

#include "WineMachine.h"
#include "support/DeviceChecks.h"
#include "support/ExpectedMemory.h"
#include "support/ImageInput.h"

namespace q218::test {
namespace {

struct Row {
    const char* name;
    sim::PreviousFirmware firmware;
    std::function<void(sim::SimulatedQ218&)> setUp;
    QStringList options;
    int exitCode;
    const char* result;
    const char* message;  // a line standard error must hold
    std::string serial;   // the serial number the device must hold in its memory afterwards
    std::size_t framesWritten = SIZE_MAX;  // how many frames reached the memory (all)
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

const sim::PreviousFirmware kOld{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"};

const std::vector<Row> kRows = {
    {"UpdatesAndVerifies", kOld, {}, {}, 0, "updated", "Update complete!", "123456"},
    {"PulledAdapterFailsAtOnce",
     kOld,
     [](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); },
     {},
     1,
     "failed",
     "Update Error.",
     "123456",
     150},  // the frame the line vanishes under is never written
    // The line goes once frame 99's "T" is read: frame 100 waits to leave and fails there, or
    // the read after it does (Wine: a broken pipe, an unknown error to Qt).
    {"LineGoneAfterAReplyFailsAtOnce",
     kOld,
     [](sim::SimulatedQ218& d) { d.UnplugAfterReplyToFrame(99); },
     {},
     1,
     "failed",
     "Update Error.",
     "123456",
     100},
    {"NoSerialTakesTheOptionsNumber",
     {.serial = "", .revision = "R04.5", .date = "2021-11-02"},
     {},
     {"--serial", "004711"},
     0,
     "updated",
     "Update complete!",
     "004711"},
};

class WineFlash : public ::testing::TestWithParam<Row> {};

TEST_P(WineFlash, Run) {
    const Row& row = GetParam();
    std::string error;
    ASSERT_FALSE(WineMachine::Programs(error).isEmpty()) << error;
    std::unique_ptr<demo::DemoPorts> ports = demo::DemoPorts::Create(row.firmware, false, error);
    ASSERT_TRUE(ports) << error;
    const QString prefix = QStringLiteral(Q218_WINE_PREFIX);
    ASSERT_TRUE(WineMachine::MapPorts(*ports, prefix, error)) << error;
    sim::PtyServer& device = ports->Device();
    if (row.setUp) {
        device.WithDevice(row.setUp);
    }
    const Memory before = MemoryOf(device);

    QProcess flash;
    WineMachine::Start(flash, prefix, "q218-flash.exe",
                       QStringList{"COM3", "--json"} + row.options);
    ASSERT_TRUE(flash.waitForStarted());
    // A whole update takes about 10 s under Wine; a program still running after this hangs.
    if (!WineMachine::Ended(flash, std::chrono::seconds(120))) {
        FAIL() << "q218-flash.exe hung: " << flash.readAllStandardError().toStdString();
    }
    const std::string messages = flash.readAllStandardError().toStdString();
    EXPECT_EQ(flash.exitCode(), row.exitCode) << messages;
    EXPECT_NE(messages.find(row.message), std::string::npos) << messages;
    const QJsonObject json = QJsonDocument::fromJson(flash.readAllStandardOutput()).object();
    EXPECT_EQ(json["result"].toString().toStdString(), row.result);
    EXPECT_EQ(json["port"].toString(), "COM3");

    ExpectTheImage(device, before, row.serial, row.framesWritten);
    if (row.exitCode == 0) {
        const QJsonObject after = json["after"].toObject();
        EXPECT_EQ(after["serial"].toString().toStdString(), row.serial);
        EXPECT_EQ(after["revision"].toString().toStdString(), InputTag().revision);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, WineFlash, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace q218::test
