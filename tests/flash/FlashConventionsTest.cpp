// q218-flash's conventions as a terminal user and a hostile device meet them: help and
// version never touch a port, the log is opened first, device bytes never reach the terminal
// raw, a reader that goes away does not stop an update, and a failed update can be recovered
// with the command the program itself prints. The program runs as a child process against
// the simulated Q218 on a pseudo-terminal.

#include <signal.h>
#include <sys/resource.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include <gtest/gtest.h>

#include "ConsoleLines.h"
#include "FlashFixture.h"
#include "app/DeviceText.h"

namespace q218::test {
namespace {

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
        {{"--timeout", "0.0004", port}, 2, "0.001 to 86400"},
        {{"--timeout", "86401", port}, 2, "0.001 to 86400"},
        {{"--log", "", port}, 2, "no file name"},
        {{"--list", "--json"}, 2, "neither --json nor --log"},
        {{"--identify", "/tmp/" + QString(251, 'a')}, 3, "no such port"},
        {{"--identify", "q218-missing"}, 3, "/dev/q218-missing: no such port"},
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
    // 0xdb re-encoded as UTF-8 ends in 0x9b: CSI on a Latin-1 terminal.
    const std::string serial = std::string("\x1b]52;c;SGk=\x07\x1b[2J") + '\0' + "\xff\xdb";
    server->WithDevice(
        [&](sim::SimulatedQ218& d) { d.IdentificationReply(serial + " Q218 R04.5 2021-11-02 "); });
    const Ran ran = Flash({"--json", "-v", QString::fromStdString(server->SlavePath())});
    EXPECT_EQ(ran.exitCode, 4);  // not a serial number the image can carry
    const QByteArray printed = ran.out + ran.err;
    for (const char raw : {'\x1b', '\x07', '\0', '\xff'}) {
        EXPECT_FALSE(printed.contains(raw)) << "raw byte " << int{static_cast<unsigned char>(raw)};
    }
    EXPECT_TRUE(ran.err.contains("\\x1b]52;c;SGk=\\x07\\x1b[2J\\x00\\xff\\xdb"))
        << ran.err.toStdString();
    EXPECT_TRUE(std::all_of(ran.err.begin(), ran.err.end(), [](char c) { return c > 0; }));
    EXPECT_TRUE(ran.err.contains("identification reply")) << "-v is --verbose";
    // The window's prompt for its box becomes what to do in a terminal.
    EXPECT_FALSE(printed.contains("Enter serial number."));
    EXPECT_TRUE(ran.err.contains("give one with --serial NNNNNN"));
    const QJsonObject json = QJsonDocument::fromJson(ran.out).object();
    EXPECT_EQ(json["before"].toObject()["serial"].toString(),
              QString::fromLatin1(serial.data(), serial.size()));
    EXPECT_EQ(json["reason"].toString(), "no-serial");
}

// `| head -1` closes standard output after the first line: the update goes on to its end
// and the log tells the result.
TEST(FlashConventions, AReaderThatGoesAwayDoesNotStopTheUpdate) {
    const auto server = Device();
    ASSERT_TRUE(server);
    QTemporaryDir dir;
    const QString log = dir.path() + "/updates.jsonl";
    const Ran ran =
        Flash({"--log", log, QString::fromStdString(server->SlavePath())}, {.closeOutput = true});
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

// A log that cannot take the record: the result stands and the error is said. A record a
// full disk cut short before does not swallow the next one.
TEST(FlashConventions, AFullLogIsSaidInPlainWords) {
    const auto server = Device();
    ASSERT_TRUE(server);
    QTemporaryDir dir;
    const QString file = dir.filePath("updates.jsonl");
    const struct {
        QString log;
        QByteArray before;            // what the log holds before the run
        std::function<void()> limit;  // in the child: ulimit -f
        const char* says;             // on standard error; "" for nothing
    } rows[] = {
        {"/dev/full", "", {}, "Could not write the result to the log /dev/full: No space left"},
        {file, "{\"cut short", {}, ""},
        {file, QByteArray(4096, '\n'),
         [] {
             const rlimit size{4096, 4096};
             setrlimit(RLIMIT_FSIZE, &size);
         },
         ": File too large. The result was: identified (exit code 0)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says);
        if (row.log == file) {
            QFile log(file);
            ASSERT_TRUE(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
            log.write(row.before);
        }
        const Ran ran =
            Flash({"--log", row.log, "--identify", QString::fromStdString(server->SlavePath())},
                  {.inChild = row.limit});
        EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
        EXPECT_EQ(ran.err.contains("Could not write"), *row.says != '\0') << ran.err.toStdString();
        EXPECT_TRUE(ran.err.contains(row.says)) << ran.err.toStdString();
        EXPECT_FALSE(ran.err.contains("QIODevice"));
        QFile log(file);
        if (*row.says == '\0' && log.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = log.readAll().split('\n');
            ASSERT_EQ(lines.size(), 3);  // the cut one, the record, nothing after its newline
            EXPECT_EQ(QJsonDocument::fromJson(lines[1])["result"].toString(), "identified");
        }
    }
}

// TERM=dumb: the progress line is redrawn with \r alone.
TEST(FlashConventions, ATerminalWithoutSequencesGetsNone) {
    const auto server = Device();
    ASSERT_TRUE(server);
    const QString command = QString("TERM=dumb ") + Q218_FLASH + " " + server->SlavePath().c_str();
    const Ran ran = Flash({"-qec", command, "/dev/null"}, {.program = "script"});
    EXPECT_EQ(ran.exitCode, 0) << ran.out.toStdString();
    EXPECT_TRUE(ran.out.contains("\r[#")) << "a progress line on the terminal";
    EXPECT_FALSE(ran.out.contains('\x1b'));
}

// The adapter pulled out at frame 150 and plugged in again, or frame 5 answered NAK and the
// device powered up again: it keeps only its bootloader and reports its model alone. The
// line the failed run printed, run as printed by sh, updates it to the image word for word
// with its serial number once the reset button is pressed: also under a name the shell must
// have quoted, and with 000000, which a device programmed straight from the image reports.
TEST(FlashConventions, AFailedUpdateIsRecoveredWithThePrintedCommand) {
    const struct {
        const char* serial;
        const char* portName;  // a link to the pty
        std::function<void(sim::SimulatedQ218&)> fault;
    } rows[] = {
        {"123456", "ttyQ218", [](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); }},
        {"000000", "it's a port", [](sim::SimulatedQ218& d) { d.ReplyAfterFrame(5, '\x15'); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.portName);
        const auto server = Device({.serial = row.serial});
        ASSERT_TRUE(server);
        const Memory before = MemoryOf(*server);
        server->WithDevice(row.fault);
        QTemporaryDir dir;
        const QString port = dir.filePath(row.portName);
        ASSERT_TRUE(QFile::link(QString::fromStdString(server->SlavePath()), port));
        const Ran failed = Flash({port});
        ASSERT_EQ(failed.exitCode, 1) << failed.err.toStdString();
        EXPECT_TRUE(failed.out.contains(QByteArray("serial number ") + row.serial));
        const qsizetype from = failed.err.indexOf("To recover: ") + 12;
        ASSERT_GE(from, 12) << failed.err.toStdString();
        const QString line = failed.err.mid(from, failed.err.indexOf(".\n", from) - from);

        std::string error;
        ASSERT_TRUE(server->Replug(error)) << error;
        QFile::remove(port);
        ASSERT_TRUE(QFile::link(QString::fromStdString(server->SlavePath()), port));
        bool pressed = false;
        const Ran recovered = Flash(
            {"-c", "PATH=\"$0:$PATH\"; " + line + " >&2", QFileInfo(Q218_FLASH).absolutePath()},
            {.program = "sh", .step = [&](const Ran& ran, QProcess&) {
                 if (!pressed && ran.err.contains("reset button")) {
                     pressed = true;
                     server->WithDevice([](sim::SimulatedQ218& d) { d.ResetByHand(); });
                 }
             }});
        EXPECT_EQ(recovered.exitCode, 0) << line.toStdString() << recovered.err.toStdString();
        EXPECT_TRUE(pressed);
        ExpectTheImage(*server, before, row.serial);
    }
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
