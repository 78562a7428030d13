// The simulated Q218 on a pseudo-terminal, and q218-sim, as a plain terminal client sees
// them: open the slave at 9600 8N1 raw, write, read.

#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedHost.h"
#include "image/FirmwareImage.h"
#include "support/Bytes.h"
#include "support/ImageInput.h"

extern char** environ;

namespace q218::sim {
namespace {

using namespace std::chrono_literals;
using test::ByteText;

// Opens `path` the way a terminal program opens a serial port: 9600 baud, 8 data bits,
// no parity, 1 stop bit, raw. -1 when it cannot be opened.
int OpenSerial(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

struct ReadResult {
    std::string bytes;
    bool hangUp = false;
};

// Reads until `count` bytes have come (or the byte `until`), the line hangs up, or `limit`
// passes.
ReadResult ReadSome(int fd, std::size_t count, std::chrono::milliseconds limit,
                    std::optional<char> until = std::nullopt) {
    ReadResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (result.bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - result.bytes.size()));
        if (n <= 0) {
            result.hangUp = true;
            break;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(n));
        if (until && result.bytes.find(*until) != std::string::npos) {
            break;
        }
    }
    return result;
}

class PtyServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PtyServer::Created created = PtyServer::Create(PreviousFirmware{});
        ASSERT_TRUE(created.server) << created.error;
        server = std::move(created.server);
        fd = OpenSerial(server->SlavePath());
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) {
            close(fd);
        }
    }

    std::unique_ptr<PtyServer> server;
    int fd = -1;
};

TEST_F(PtyServerTest, TerminalClientGetsTheIdentification) {
    ASSERT_TRUE(WriteAll(fd, "990\r"));
    EXPECT_EQ(ReadSome(fd, 30, 2000ms).bytes, "123456 Q218 R04.5 2021-11-02 \r");
    // Nothing is echoed or translated: the reply is all there is.
    EXPECT_EQ(ReadSome(fd, 1, 100ms).bytes, "");
}

TEST_F(PtyServerTest, DownloadOverThePtyReachesProgramMemory) {
    FirmwareImage image = Image_Build();
    ASSERT_EQ(Serial_Patch(image, "314159"), PatchResult::Replaced);
    ASSERT_TRUE(WriteAll(fd, "977\r"));
    ASSERT_EQ(ReadSome(fd, 1, 2000ms).bytes, "\x05");
    ASSERT_TRUE(WriteAll(fd, "\x06"));
    ASSERT_EQ(ReadSome(fd, 3, 2000ms).bytes, "B2T");
    int sent = 0;
    for (const std::string& line : image) {
        const auto frame = line.starts_with(":") ? test::FrameForRecord(line) : std::nullopt;
        if (!frame) {
            continue;
        }
        ASSERT_TRUE(WriteAll(fd, *frame));
        ASSERT_EQ(ReadSome(fd, 1, 2000ms).bytes, "T") << "frame " << sent;
        ++sent;
    }
    ASSERT_TRUE(WriteAll(fd, ":S"));
    ASSERT_TRUE(WriteAll(fd, "990\r"));
    EXPECT_EQ(ReadSome(fd, 30, 2000ms).bytes, test::InputTag().Identification("314159"));
    const auto [frames, bricked] = server->WithDevice([](SimulatedQ218& device) {
        return std::make_pair(device.Frames().size(), device.IsBricked());
    });
    EXPECT_EQ(frames, static_cast<std::size_t>(sent));
    EXPECT_FALSE(bricked);
}

TEST_F(PtyServerTest, PacedRepliesTakeTheirLineTime) {
    server->WithDevice([](SimulatedQ218& device) { device.Paced(true); });
    ASSERT_TRUE(WriteAll(fd, "990\r"));
    EXPECT_EQ(ReadSome(fd, 30, 2000ms).bytes.size(), 30u);
    // The device's own record of the line: its 30 bytes, at 960 bytes a second, became
    // readable at least 31 ms after the query's last byte arrived. (On the device's clock,
    // not this test's: how much later a loaded machine reads them is not the device's business.)
    const Transcript transcript =
        server->WithDevice([](SimulatedQ218& device) { return device.Transcript(); });
    ASSERT_EQ(transcript.size(), 2U) << Describe(transcript);
    EXPECT_EQ(transcript[0].kind, EntryKind::IdentifyQuery);
    EXPECT_EQ(transcript[1].kind, EntryKind::IdentifyReply);
    EXPECT_GE(transcript[1].at - transcript[0].at, 31ms);
}

TEST_F(PtyServerTest, UnplugHangsUpTheSlave) {
    ASSERT_TRUE(WriteAll(fd, "977\r"));
    ASSERT_EQ(ReadSome(fd, 1, 2000ms).bytes, "\x05");
    server->Unplug();
    EXPECT_TRUE(server->IsUnplugged());
    EXPECT_TRUE(ReadSome(fd, 1, 2000ms).hangUp);
    // (The freed pty number may be taken by another program at once, so whether the path
    // still opens says nothing about this server.)
}

TEST_F(PtyServerTest, UnplugAtFrameHangsUpTheSlave) {
    server->WithDevice([](SimulatedQ218& device) { device.UnplugAtFrame(1); });
    ASSERT_TRUE(WriteAll(fd, "977\r"));
    ASSERT_EQ(ReadSome(fd, 1, 2000ms).bytes, "\x05");
    ASSERT_TRUE(WriteAll(fd, "\x06"));
    ASSERT_EQ(ReadSome(fd, 3, 2000ms).bytes, "B2T");
    ASSERT_TRUE(WriteAll(fd, ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 85")));
    ASSERT_EQ(ReadSome(fd, 1, 2000ms).bytes, "T");
    ASSERT_TRUE(WriteAll(fd, ByteText("3A 08 00 04 E0 01 8A 28 57 01 83 01 85")));
    EXPECT_TRUE(ReadSome(fd, 1, 2000ms).hangUp);
    // The client sees the hang-up as soon as the master is closed, a moment before the
    // serving thread records it: give the thread that moment.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!server->IsUnplugged() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(server->IsUnplugged());
}

TEST(SilentPty, OpensAndNeverAnswers) {
    PtyServer::Created created = PtyServer::Create(std::nullopt);
    ASSERT_TRUE(created.server) << created.error;
    EXPECT_FALSE(created.server->HasDevice());
    const int fd = OpenSerial(created.server->SlavePath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "990\r"));
    const ReadResult reply = ReadSome(fd, 1, 300ms);
    EXPECT_EQ(reply.bytes, "");
    EXPECT_FALSE(reply.hangUp);
    close(fd);
}

// q218-sim itself: started as a program, stopped with SIGTERM.
TEST(SimProgram, ServesAPtyLinksItAndStopsCleanly) {
    const std::string link = testing::TempDir() + "q218-sim-test-link";
    unlink(link.c_str());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {Q218_SIM_PROGRAM, "--serial", "",  "--revision",
                                     "R03.1",          "--link",   link};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    // As if started with sudo by the user 4242: run by root, it gives its pty to that user.
    std::string sudoUid = "SUDO_UID=4242", sudoGid = "SUDO_GID=4242";
    std::vector<char*> envp = {sudoUid.data(), sudoGid.data()};
    for (char** e = environ; *e != nullptr; ++e) {
        envp.push_back(*e);
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, Q218_SIM_PROGRAM, &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    const std::string firstLine = ReadSome(out[0], 256, 5000ms, '\n').bytes;
    close(out[0]);
    ASSERT_NE(firstLine.find('\n'), std::string::npos) << firstLine;
    const std::string slave = firstLine.substr(0, firstLine.find('\n'));
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), slave);
    struct stat owner {};
    ASSERT_EQ(stat(slave.c_str(), &owner), 0);
    EXPECT_EQ(owner.st_uid, geteuid() == 0 ? 4242U : geteuid());

    const int fd = OpenSerial(link);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "990\r"));
    EXPECT_EQ(ReadSome(fd, 24, 2000ms).bytes, " Q218 R03.1 2021-11-02 \r");
    close(fd);

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0);  // the link went with it
}

}  // namespace
}  // namespace q218::sim
