// q218-flash's conventions as a terminal user and a hostile device meet them: help and
// version never touch a port, the log is opened first, device bytes never reach the terminal
// raw, a reader that goes away does not stop an update, and a failed update can be recovered
// with the command the program itself prints. The program runs as a child process against
// the simulated Q218 on a pseudo-terminal.

#include <signal.h>

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include <gtest/gtest.h>

#include "ConsoleLines.h"
#include "support/DeviceMemory.h"
#include "app/DeviceText.h"
#include "sim/PtyServer.h"
#include "support/ExpectedMemory.h"
#include "support/ImageInput.h"

namespace q218::test {
namespace {

struct Ran {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs q218-flash to its end; `onError` sees standard error as it grows.
Ran Flash(const QStringList& arguments,
          const std::function<void(const QByteArray&, QProcess&)>& onError = {},
          bool closeOutput = false) {
    QProcess flash;
    flash.start(Q218_FLASH, arguments);
    if (!flash.waitForStarted()) {
        return {};
    }
    if (closeOutput) {
        flash.closeReadChannel(QProcess::StandardOutput);
    }
    Ran ran;
    for (int waited = 0; flash.state() != QProcess::NotRunning; waited += 50) {
        if (waited > 120'000) {
            flash.kill();
            flash.waitForFinished();
            ADD_FAILURE() << "q218-flash hung: " << ran.err.toStdString();
            return ran;
        }
        flash.waitForFinished(50);
        ran.err += flash.readAllStandardError();
        if (onError) {
            onError(ran.err, flash);
        }
    }
    ran.err += flash.readAllStandardError();
    ran.out = closeOutput ? QByteArray() : flash.readAllStandardOutput();
    ran.exitCode = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
    return ran;
}

}  // namespace

// The SHA-256 of the image file as committed, read apart from the program.
QString ImageFileSha256() {
    QFile file(QStringLiteral(Q218_FIRMWARE_INPUT));
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("(unreadable)");
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
}

namespace {

std::unique_ptr<sim::PtyServer> Device(const sim::PreviousFirmware& firmware = {}) {
    sim::PtyServer::Created created = sim::PtyServer::Create(firmware);
    EXPECT_TRUE(created.server) << created.error;
    return std::move(created.server);
}

std::size_t BytesReceived(sim::PtyServer& server) {
    return server.WithDevice([](sim::SimulatedQ218& d) { return d.Transcript().size(); });
}

TEST(FlashConventions, HelpVersionAndABadLogNeverTouchThePort) {
    const auto server = Device();
    ASSERT_TRUE(server);
    const QString port = QString::fromStdString(server->SlavePath());
    QTemporaryDir dir;
    const QString noFolder = dir.path() + "/missing/log.jsonl";
    // --version names the image by the hash `sha256sum src/image/q218-firmware.txt` prints.
    const QByteArray imageLine = "Image SHA-256: " + ImageFileSha256().toLatin1() + '\n';
    const struct {
        QStringList arguments;
        int exitCode;
        QByteArray says;
    } rows[] = {
        {{"--help-all", port}, 0, "Recovery:"},
        {{"--help", "--identify", port}, 0, "SIGTERM"},
        {{"-V", port}, 0, "q218-flash "},
        {{"--version", "--serial", "12", port}, 0, imageLine},
        {{"--log", noFolder, port}, 2, "missing/log.jsonl: No such file or directory"},
        {{"--quiet", "--verbose", port}, 2, "exclude each other"},
        {{"--timeout", "0", port}, 2, "--timeout"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const Ran ran = Flash(row.arguments);
        EXPECT_EQ(ran.exitCode, row.exitCode);
        EXPECT_TRUE((ran.out + ran.err).contains(row.says)) << (ran.out + ran.err).toStdString();
        EXPECT_EQ(BytesReceived(*server), 0U) << "the port was used";
    }
}

// A serial field that sets the clipboard (OSC 52), clears the screen, holds a NUL and a
// byte that is no UTF-8: none of it reaches the terminal raw, the JSON escapes it as JSON
// does, and -v's own lines show it escaped too.
TEST(FlashConventions, DeviceBytesAreShownNotObeyed) {
    const auto server = Device();
    ASSERT_TRUE(server);
    const std::string serial = std::string("\x1b]52;c;SGk=\x07\x1b[2J") + '\0' + "\xff";
    server->WithDevice([&](sim::SimulatedQ218& d) {
        d.IdentificationReply(serial + " Q218 R04.5 2021-11-02 ");
    });
    const Ran ran = Flash({"--json", "-v", QString::fromStdString(server->SlavePath())});
    EXPECT_EQ(ran.exitCode, 4);  // not a serial number the image can carry
    const QByteArray printed = ran.out + ran.err;
    for (const char raw : {'\x1b', '\x07', '\0', '\xff'}) {
        EXPECT_FALSE(printed.contains(raw)) << "raw byte " << int{static_cast<unsigned char>(raw)};
    }
    EXPECT_TRUE(ran.err.contains("\\x1b]52;c;SGk=\\x07\\x1b[2J\\x00\xc3\xbf")) << ran.err.toStdString();
    EXPECT_TRUE(ran.err.contains("identification reply")) << "-v is --verbose";
    // The window's prompt for its box becomes what to do in a terminal.
    EXPECT_FALSE(printed.contains("Enter serial number."));
    EXPECT_TRUE(ran.err.contains("give one with --serial NNNNNN"));
    const QJsonObject json = QJsonDocument::fromJson(ran.out).object();
    EXPECT_EQ(json["before"].toObject()["serial"].toString(), QString::fromLatin1(serial.data(),
                                                                                   serial.size()));
    EXPECT_EQ(json["reason"].toString(), "no-serial");
}

// `| head -1` closes standard output after the first line: the update goes on to its end
// and the log tells the result.
TEST(FlashConventions, AReaderThatGoesAwayDoesNotStopTheUpdate) {
    const auto server = Device();
    ASSERT_TRUE(server);
    QTemporaryDir dir;
    const QString log = dir.path() + "/updates.jsonl";
    const Ran ran = Flash({"--log", log, QString::fromStdString(server->SlavePath())}, {}, true);
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(file.readLine()).object();
    EXPECT_EQ(json["result"].toString(), "updated");
    EXPECT_EQ(json["schema"].toInt(), 2);
    EXPECT_TRUE(json["timestamp"].toString().endsWith('Z'));
    const auto blocks = BlocksOfUpdate(ReadImageInput(), "123456");
    EXPECT_EQ(json["framesSent"].toInt(), static_cast<int>(blocks.size()));
}

TEST(FlashConventions, AFullLogIsSaidInPlainWords) {
    const auto server = Device();
    ASSERT_TRUE(server);
    const Ran ran =
        Flash({"--log", "/dev/full", "--identify", QString::fromStdString(server->SlavePath())});
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_TRUE(ran.err.contains("Could not write the result to the log /dev/full: No space left"))
        << ran.err.toStdString();
    EXPECT_FALSE(ran.err.contains("QIODevice"));
}

// The adapter pulled out at frame 150, plugged in again: the device keeps only its
// bootloader and reports its model alone. The command the failed run printed, with the
// serial number it printed before writing, updates it to the image word for word once the
// reset button is pressed.
TEST(FlashConventions, AFailedUpdateIsRecoveredWithThePrintedCommand) {
    const auto server = Device();
    ASSERT_TRUE(server);
    const Memory before = MemoryOf(*server);
    server->WithDevice([](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); });
    const Ran failed = Flash({QString::fromStdString(server->SlavePath())});
    ASSERT_EQ(failed.exitCode, 1) << failed.err.toStdString();
    EXPECT_TRUE(failed.out.contains("serial number 123456")) << failed.out.toStdString();
    const QByteArray hint = "To recover: q218-flash " + QByteArray(server->SlavePath().c_str()) +
                            " --serial 123456.";
    ASSERT_TRUE(failed.err.contains(hint)) << failed.err.toStdString();

    std::string error;
    ASSERT_TRUE(server->Replug(error)) << error;
    bool pressed = false;
    const Ran recovered = Flash(
        {"--json", QString::fromStdString(server->SlavePath()), "--serial", "123456"},
        [&](const QByteArray& err, QProcess&) {
            if (!pressed && err.contains("reset button")) {
                pressed = true;
                server->WithDevice([](sim::SimulatedQ218& d) { d.ResetByHand(); });
            }
        });
    EXPECT_EQ(recovered.exitCode, 0) << recovered.err.toStdString();
    EXPECT_TRUE(pressed);
    const auto blocks = BlocksOfUpdate(ReadImageInput(), "123456");
    const MemoryDifference difference =
        Compare(MemoryOf(*server), AfterBlocks(before, blocks, blocks.size()));
    EXPECT_EQ(difference.count, 0U) << difference.firstFew;
}

TEST(FlashText, ControlBytesAreVisibleAndLatin1) {
    const struct {
        std::string bytes;
        std::string shown;
    } rows[] = {
        {"R04.5", "R04.5"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
        {"\x85\x9f\xa0\xe9\xff", "\\x85\\x9f\xc2\xa0\xc3\xa9\xc3\xbf"},
        {"back\\slash", "back\\\\slash"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Visible(row.bytes), row.shown);
    }
}

TEST(FlashText, TheProgressLineNeverWraps) {
    DownloadResult run;
    run.framesTotal = 367;
    run.framesSent = 123;
    for (const int columns : {200, 80, 60, 40, 20, 1}) {
        const std::string line = flash::ProgressLine(0.5F, run, 61.0, columns);
        EXPECT_LT(static_cast<int>(line.size()), std::max(columns, 2)) << columns;
        if (columns >= 80) {
            EXPECT_NE(line.find("frame 123/367"), std::string::npos) << line;
            EXPECT_NE(line.find("#-"), std::string::npos) << "a bar: " << line;
        }
        if (columns >= 100) {
            EXPECT_EQ(line.rfind("[############------------]", 0), 0U) << line;
        }
    }
}

}  // namespace
}  // namespace q218::test
