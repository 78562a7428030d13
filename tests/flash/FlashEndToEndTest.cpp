// q218-flash end to end: the program itself, run as a child process with --json, on the real
// QSerialPort link against the simulated Q218 on a pseudo-terminal. One row per behaviour:
// exit code, the JSON object parsed back, whether the reset command reached the device, and
// the device's memory word for word against the image afterwards.

#include <signal.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <functional>

#include <gtest/gtest.h>

#include "FlashFixture.h"

namespace q218::test {
namespace {

using namespace std::chrono_literals;

const sim::PreviousFirmware kOld{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"};
// An empty revision stands for the image's own firmware.
const sim::PreviousFirmware kCurrent{.revision = "", .date = ""};
const sim::PreviousFirmware kNoSerial{.serial = "", .revision = "R04.5", .date = "2021-11-02"};

struct Row {
    const char* name;
    std::optional<sim::PreviousFirmware> firmware = kOld;  // none: a pty where nothing answers
    std::function<void(sim::SimulatedQ218&)> setUp = {};
    QStringList options = {};
    int exitCode;
    const char* result;
    bool resetSent;
    std::string writtenSerial = "";  // the memory must hold the image with it; "" = not checked
    int resent = 0;                  // -1: as many as fit in --timeout
    // Ctrl+C this many times: once standard error shows `interruptAfter`, again after each
    // warning.
    int interrupts = 0;
    const char* interruptAfter = "";
    int signal = SIGINT;  // what "Ctrl+C" sends
    // Done to the device once standard error shows `actAfter`.
    const char* actAfter = "";
    std::function<void(sim::PtyServer&)> act = {};
    const char* reason = "";  // the JSON's reason; "" when the row does not check it
    // A run that has not ended by then has hung. Rows whose device asks for frames again get
    // a short bound: a resend that waits for an event which never comes (the bootloader waits
    // for the frame) shows here in seconds, where a window's periodic timers would hide it.
    int hungAfterSeconds = 120;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// The index of the last frame of an update that keeps serial number 123456, as the device
// counts them (no frame sent twice).
int LastFrame() {
    return static_cast<int>(BlocksOfUpdate(ReadImageInput(), "123456").size()) - 1;
}

const auto kPaced = [](sim::SimulatedQ218& d) { d.Paced(true); };

// The rows are laid out by hand: short fields packed, the long ones a field a line.
// clang-format off
const std::vector<Row> kRows = {
    {.name = "UpdateKeepsTheDevicesSerialOverTheOption", .options = {"--serial", "654321"},
     .exitCode = 0, .result = "updated", .resetSent = true, .writtenSerial = "123456"},
    {.name = "NoSerialWithoutTheOptionSendsNoReset", .firmware = kNoSerial, .exitCode = 4,
     .result = "no-serial", .resetSent = false},
    {.name = "NoSerialWritesTheOptionsNumber", .firmware = kNoSerial,
     .options = {"--serial", "654321"}, .exitCode = 0, .result = "updated", .resetSent = true,
     .writtenSerial = "654321"},
    {.name = "StormsOfBelAreSentAgainAndCounted",
     .setUp =
         [](sim::SimulatedQ218& d) {
             d.BelAfterFrame(0, 4);
             d.BelAfterFrame(200, 6);
         },
     .exitCode = 0, .result = "updated", .resetSent = true, .writtenSerial = "123456", .resent = 10,
     .hungAfterSeconds = 30},
    {.name = "PulledAdapterFailsAtOnce",
     .setUp = [](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); }, .exitCode = 1,
     .result = "failed", .resetSent = true},
    // The line goes after a "T", while the next bytes wait to leave: a lost line like any
    // other, in whichever write or read meets it first; --quiet still names the device.
    {.name = "LineGoneWithAFrameQueuedIsALostLine",
     .setUp = [](sim::SimulatedQ218& d) { d.UnplugAfterReplyToFrame(99); }, .options = {"--quiet"},
     .exitCode = 1, .result = "failed", .resetSent = true, .reason = "line-lost"},
    {.name = "LineGoneWithTheEndBytesQueuedIsALostLine",
     .setUp = [](sim::SimulatedQ218& d) { d.UnplugAfterReplyToFrame(LastFrame()); },
     .options = {"--quiet"}, .exitCode = 1, .result = "failed", .resetSent = true,
     .writtenSerial = "123456", .reason = "line-lost"},
    {.name = "NoAnswer", .firmware = std::nullopt, .exitCode = 3, .result = "no-device",
     .resetSent = false},
    {.name = "AlreadyCurrentWritesNothing", .firmware = kCurrent, .options = {"--skip-current"},
     .exitCode = 0, .result = "already-current", .resetSent = false},
    {.name = "CtrlCDuringTheQueryWritesNothing", .exitCode = 130, .result = "interrupted",
     .resetSent = false, .interrupts = 1, .interruptAfter = "Looking for"},
    {.name = "OneCtrlCDuringTheTransferOnlyWarns", .setUp = kPaced, .exitCode = 0,
     .result = "updated", .resetSent = true, .writtenSerial = "123456", .interrupts = 1,
     .interruptAfter = "Updating"},
    {.name = "SecondCtrlCAborts", .setUp = kPaced, .exitCode = 130, .result = "interrupted",
     .resetSent = true, .interrupts = 2, .interruptAfter = "Updating"},
    {.name = "CtrlCAfterTheTransferEndsTheCheckAtOnce", .exitCode = 130, .result = "interrupted",
     .resetSent = true, .writtenSerial = "123456", .interrupts = 1,
     .interruptAfter = "Update complete!"},
    // A device that already had the image's firmware and vanished after the last frame: the
    // panels still show the right revision, but nothing answered after the transfer.
    {.name = "VanishedAfterTheTransferIsNotVerified", .firmware = kCurrent, .exitCode = 6,
     .result = "not-verified", .resetSent = true, .writtenSerial = "123456",
     .actAfter = "Update complete!", .act = [](sim::PtyServer& server) { server.Unplug(); },
     .reason = "not-verified"},
    {.name = "TwoFieldsAfterTheTransferAreNotVerified", .firmware = kCurrent, .exitCode = 6,
     .result = "not-verified", .resetSent = true, .writtenSerial = "123456", .actAfter = "Updating",
     .act =
         [](sim::PtyServer& server) {
             server.WithDevice(
                 [](sim::SimulatedQ218& d) { d.IdentificationReply("123456 Q218 "); });
         },
     .reason = "not-verified"},
    {.name = "TermBeforeTheResetWritesNothing", .exitCode = 143, .result = "interrupted",
     .resetSent = false, .interrupts = 1, .interruptAfter = "Looking for", .signal = SIGTERM,
     .reason = "interrupted"},
    {.name = "TermDuringTheTransferAbortsAtOnce", .setUp = kPaced, .exitCode = 143,
     .result = "interrupted", .resetSent = true, .interrupts = 1, .interruptAfter = "Updating",
     .signal = SIGTERM, .reason = "interrupted"},
    {.name = "HangUpDuringTheTransferGoesOn", .setUp = kPaced, .exitCode = 0, .result = "updated",
     .resetSent = true, .writtenSerial = "123456", .interrupts = 1, .interruptAfter = "Updating",
     .signal = SIGHUP},
    {.name = "BootloaderReplyNamesTheCharacter",
     .setUp = [](sim::SimulatedQ218& d) { d.ReplyAfterFrame(5, '\x1b'); }, .exitCode = 1,
     .result = "failed", .resetSent = true, .reason = "bootloader-reply"},
    {.name = "SilentBootloaderEndsWithTimeout",
     .setUp = [](sim::SimulatedQ218& d) { d.SilentFromFrame(20); }, .options = {"--timeout", "2"},
     .exitCode = 1, .result = "failed", .resetSent = true, .reason = "no-answer"},
    // 8 s of "x" every 0.3 s before ENQ: --timeout is for the wait as a whole.
    {.name = "ChatterBeforeEnqEndsWithTimeout",
     .setUp = [](sim::SimulatedQ218& d) { d.NoiseBeforeEnq(std::string(27, 'x'), 300ms); },
     .options = {"--timeout", "2"}, .exitCode = 1, .result = "failed", .resetSent = true,
     .reason = "no-answer", .hungAfterSeconds = 30},
    {.name = "BelStormEndsWithTimeout",
     .setUp = [](sim::SimulatedQ218& d) { d.BelAfterFrame(5, 1 << 30); },
     .options = {"--timeout", "1"}, .exitCode = 1, .result = "failed", .resetSent = true,
     .resent = -1, .reason = "frame-not-taken", .hungAfterSeconds = 30},
    {.name = "WaitSaysWhyNothingAnswersYet", .firmware = std::nullopt, .options = {"--wait"},
     .exitCode = 143, .result = "interrupted", .resetSent = false, .interrupts = 1,
     .interruptAfter = "Still waiting: /dev/pts/", .signal = SIGTERM, .reason = "interrupted",
     .hungAfterSeconds = 30},
    // As root neither Qt's lock file (named after the path) nor TIOCEXCL stops a second run
    // that opens the device through another name.
    {.name = "ASecondRunThroughAnotherNameIsRefused", .setUp = kPaced, .exitCode = 0,
     .result = "updated", .resetSent = true, .writtenSerial = "123456", .actAfter = "Updating",
     .act =
         [](sim::PtyServer& server) {
             const QString link = QDir::temp().filePath("q218-second-" + QString::number(getpid()));
             QFile::remove(link);
             ASSERT_TRUE(QFile::link(QString::fromStdString(server.SlavePath()), link));
             QProcess second;
             second.start(Q218_FLASH, {"--json", "--identify", link});
             second.waitForFinished(30'000);
             QFile::remove(link);
             EXPECT_EQ(second.exitCode(), 3);
             EXPECT_EQ(QJsonDocument::fromJson(second.readAllStandardOutput())["reason"].toString(),
                       "port-busy");
         }},
};
// clang-format on

class FlashEndToEnd : public ::testing::TestWithParam<Row> {
protected:
    const Row& m_row = GetParam();

    // The device the row asks for, or a silent pty; an empty revision stands for the image's
    // own firmware.
    void StartDevice() {
        m_firmware = m_row.firmware.value_or(kOld);
        if (m_firmware.revision.empty()) {
            m_firmware.revision = InputTag().revision;
            m_firmware.date = InputTag().date;
        }
        m_server = Device(m_row.firmware ? std::optional(m_firmware) : std::nullopt);
        ASSERT_TRUE(m_server);
        if (m_row.setUp) {
            m_server->WithDevice(m_row.setUp);
        }
        m_before = m_row.firmware ? MemoryOf(*m_server) : Memory{};
    }

    // Acts on the device and sends the row's signals as standard error shows their moment:
    // after the first signal, each warning asks for the next.
    void ActOnMessages(const QByteArray& err, QProcess& flash) {
        if (m_row.act && !m_acted && err.indexOf(m_row.actAfter, m_messagesFrom) >= 0) {
            m_acted = true;
            m_row.act(*m_server);
        }
        if (m_sent < m_row.interrupts &&
            err.indexOf(m_sent == 0 ? m_row.interruptAfter : "again", m_messagesFrom) >= 0) {
            ::kill(static_cast<pid_t>(flash.processId()), m_row.signal);
            ++m_sent;
            m_messagesFrom = err.size();
        }
    }

    void CheckJson(const QJsonObject& json) {
        EXPECT_EQ(json["exitCode"].toInt(-1), m_row.exitCode);
        EXPECT_EQ(json["result"].toString().toStdString(), m_row.result);
        if (m_row.resent >= 0) {
            EXPECT_EQ(json["framesResent"].toInt(-1), m_row.resent);
        }
        // Every failure has its reason code, and only a failure.
        EXPECT_EQ(json["reason"].isString(), m_row.exitCode != 0);
        if (*m_row.reason != '\0') {
            EXPECT_EQ(json["reason"].toString().toStdString(), m_row.reason);
        }
        EXPECT_EQ(json["resetSent"].toBool(), m_row.resetSent);
        // Every record names the image it carries by the hash of the file anyone can check.
        EXPECT_EQ(json["image"].toObject()["sha256"].toString(), ImageFileSha256());
    }

    void CheckMessages(const QByteArray& allMessages, const QJsonObject& json) {
        // What the messages say follows what happened: only a run that sent the reset command
        // and did not finish the transfer says the device waits in its bootloader.
        EXPECT_EQ(allMessages.contains("waits in its bootloader") ||
                      allMessages.contains("waiting in its bootloader"),
                  m_row.resetSent && json["leftInBootloader"].toBool())
            << allMessages.toStdString();
        // The recovery line names the serial number to write again, --quiet or not.
        const QString recover = "To recover: q218-flash " +
                                QString::fromStdString(m_server->SlavePath()) + " --serial " +
                                json["serialWritten"].toString() + ".";
        EXPECT_EQ(allMessages.contains(recover.toUtf8()), json["leftInBootloader"].toBool())
            << allMessages.toStdString();
        // The device is named before anything is written (its record names it under --quiet).
        if (m_row.firmware && m_row.resetSent) {
            const std::string own = m_firmware.serial.empty() ? "(none)" : m_firmware.serial;
            EXPECT_EQ(allMessages.contains(("serial number " + own).c_str()),
                      !m_row.options.contains("--quiet"))
                << allMessages.toStdString();
            EXPECT_EQ(json["before"]["serial"].toString().toStdString(), m_firmware.serial);
        }
    }

    void CheckDevice(const QJsonObject& json) {
        const bool resetSent = m_row.firmware && Count(*m_server, sim::EntryKind::ResetCommand) > 0;
        EXPECT_EQ(resetSent, m_row.resetSent);

        if (!m_row.writtenSerial.empty()) {
            const std::size_t frames = ExpectTheImage(*m_server, m_before, m_row.writtenSerial);
            EXPECT_EQ(json["framesSent"].toInt(), static_cast<int>(frames));
            // Only a verified update has identified the device afterwards.
            const QJsonObject after = json["after"].toObject();
            EXPECT_EQ(after["serial"].toString().toStdString(),
                      m_row.exitCode == 0 ? m_row.writtenSerial : "");
            EXPECT_EQ(after["revision"].toString().toStdString(),
                      m_row.exitCode == 0 ? InputTag().revision : "");
        }
    }

    sim::PreviousFirmware m_firmware;
    std::unique_ptr<sim::PtyServer> m_server;
    Memory m_before;
    bool m_acted = false;
    int m_sent = 0;                // signals sent
    qsizetype m_messagesFrom = 0;  // standard error since the last signal
};

TEST_P(FlashEndToEnd, Run) {
    StartDevice();
    ASSERT_FALSE(HasFailure());
    const Ran ran =
        Flash(QStringList{"--json", QString::fromStdString(m_server->SlavePath())} + m_row.options,
              {.hungAfter = std::chrono::seconds(m_row.hungAfterSeconds),
               .step = [this](const Ran& now, QProcess& flash) { ActOnMessages(now.err, flash); }});
    ASSERT_FALSE(ran.hung);
    EXPECT_EQ(ran.exitCode, m_row.exitCode) << ran.err.mid(m_messagesFrom).toStdString();

    const QJsonObject json = QJsonDocument::fromJson(ran.out).object();
    CheckJson(json);
    CheckMessages(ran.err, json);
    CheckDevice(json);
}

INSTANTIATE_TEST_SUITE_P(Rows, FlashEndToEnd, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace q218::test
