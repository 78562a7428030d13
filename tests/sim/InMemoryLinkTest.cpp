// The in-memory serial line: the port rules the updater relies on, with simulated devices.

#include "sim/InMemoryLink.h"

#include <gtest/gtest.h>

#include <chrono>

#include "sim/FakeClock.h"

namespace q218::sim {
namespace {

using namespace std::chrono_literals;

class InMemoryLinkTest : public ::testing::Test {
protected:
    InMemoryLinkTest() {
        link.Attach(3, device);
        link.AddSilentPort(1);
        link.AddSilentPort(2);
    }
    bool Open(std::int16_t port, int inputLen = 0) {
        link.SetCommPort(port);
        link.SetInputLen(inputLen);
        link.SetSettings(kLineSettings);
        return link.SetPortOpen(true).Opened();
    }

    FakeClock clock;
    SimulatedQ218 device{clock, PreviousFirmware{}};
    InMemoryLink link;
};

TEST_F(InMemoryLinkTest, OpenFailsForMissingAndBusyPorts) {
    struct Row {
        const char* name;
        std::int16_t port;
        bool busy;
        bool opens;
    };
    const Row rows[] = {
        {"device attached", 3, false, true},  {"silent port", 1, false, true},
        {"no such port", 4, false, false},    {"busy silent port", 2, true, false},
        {"busy device port", 3, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        link.SetBusy(row.port, row.busy);
        const int opensBefore = link.OpenCount(row.port);
        EXPECT_EQ(Open(row.port), row.opens);
        EXPECT_EQ(link.PortOpen(), row.opens);
        EXPECT_EQ(link.OpenCount(row.port), opensBefore + (row.opens ? 1 : 0));
        link.SetPortOpen(false);
        link.SetBusy(row.port, false);
    }
}

TEST_F(InMemoryLinkTest, InputLenLimitsOneReadAndNeverWaits) {
    ASSERT_TRUE(Open(3, 1));
    EXPECT_EQ(link.Input(), "");
    link.Output("990\r");
    EXPECT_EQ(link.InBufferCount(), 30);
    EXPECT_EQ(link.Input(), "1");
    EXPECT_EQ(link.Input(), "2");
    EXPECT_EQ(link.InBufferCount(), 28);
    link.SetInputLen(0);
    EXPECT_EQ(link.Input(), "3456 Q218 R04.5 2021-11-02 \r");
    EXPECT_EQ(link.Input(), "");
}

TEST_F(InMemoryLinkTest, ClosingDiscardsUnreadInputAndWhatArrivesWhileClosed) {
    ASSERT_TRUE(Open(3));
    device.ReplyDelay(500ms);
    link.Output("990\r");
    EXPECT_EQ(link.InBufferCount(), 0);
    link.SetPortOpen(false);
    clock.Advance(1s);  // the reply arrives at a closed port
    ASSERT_TRUE(Open(3));
    EXPECT_EQ(link.InBufferCount(), 0);
    link.Output("990\r");
    clock.Advance(499ms);
    EXPECT_EQ(link.InBufferCount(), 0);
    clock.Advance(1ms);
    EXPECT_EQ(link.InBufferCount(), 30);
}

TEST_F(InMemoryLinkTest, CommPortDoesNotChangeWhileOpen) {
    ASSERT_TRUE(Open(3));
    link.SetCommPort(1);
    EXPECT_EQ(link.CommPort(), 3);
    EXPECT_EQ(link.Misuses(), 1);
}

TEST_F(InMemoryLinkTest, SilentPortSwallowsWrites) {
    ASSERT_TRUE(Open(1));
    link.Output("990\r");
    clock.Advance(2s);
    EXPECT_EQ(link.InBufferCount(), 0);
    EXPECT_EQ(link.Written(1), "990\r");
}

TEST_F(InMemoryLinkTest, UnpluggedDeviceLosesTheLineAndItsPort) {
    ASSERT_TRUE(Open(3, 1));
    link.Output("977\r");
    EXPECT_EQ(link.InBufferCount(), 1);
    device.Unplug();
    EXPECT_TRUE(link.LineLost());
    EXPECT_FALSE(link.PortOpen());
    EXPECT_EQ(link.InBufferCount(), 0);
    link.Output("\x06");  // dropped, not a misuse: the program could not know
    EXPECT_EQ(link.Misuses(), 0);
    EXPECT_FALSE(Open(3));
    EXPECT_TRUE(link.LineLost());
    device.Replug();
    EXPECT_TRUE(Open(3));
    EXPECT_FALSE(link.LineLost());
    link.Output("990\r");
    EXPECT_EQ(link.InBufferCount(), 30);  // powered up again: the application answers
}

}  // namespace
}  // namespace q218::sim
