// The port scan against simulated Q218s on the in-memory line, on a fake clock that the fake
// window's ProcessEvents advances.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DetectScanFixture.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;
using test::kDevicePanels;
using test::kFirmware;
using test::kUntouched;
using Bench = test::DetectScanBench;

std::vector<std::string> Looking(int upTo) {
    std::vector<std::string> messages;
    for (int n = 1; n <= upTo; ++n) {
        messages.push_back("Looking for Q218 on COM " + std::to_string(n) + ".");
    }
    return messages;
}

TEST(PortScanTest, FindsTheDeviceOnCom3) {
    Bench bench;
    bench.link.AddSilentPort(1);  // COM2 does not exist
    bench.link.Attach(3, bench.device);
    bench.view.SetFocus(FocusTarget::cmdOK);

    bench.Scan();

    std::vector<std::string> expected = Looking(3);
    expected.push_back("Q218 found on COM 3");
    EXPECT_EQ(bench.view.Messages(), expected);
    EXPECT_EQ(bench.portNumber, 3);
    EXPECT_EQ(bench.Shown(), kDevicePanels);
    EXPECT_FALSE(bench.view.IsEnabled(Button::cmdOK));
    EXPECT_EQ(bench.view.Focus(), FocusTarget::cmdExit);
    EXPECT_FALSE(bench.link.PortOpen());
    EXPECT_TRUE(bench.view.Violations().empty());
}

TEST(PortScanTest, StopsAtTheLowerOfTwoDevices) {
    Bench bench;
    sim::SimulatedQ218 lower(bench.clock, kFirmware);
    sim::SimulatedQ218 higher(bench.clock, kFirmware);
    bench.link.Attach(2, lower);
    bench.link.Attach(4, higher);

    bench.Scan();

    EXPECT_EQ(bench.portNumber, 2);
    EXPECT_EQ(bench.view.Messages().back(), "Q218 found on COM 2");
    EXPECT_EQ(bench.link.OpenCount(2), 1);
    EXPECT_EQ(bench.link.OpenCount(4), 0) << "a higher port was queried";
}

TEST(PortScanTest, AnotherModelIsPassedBy) {
    Bench bench;
    sim::SimulatedQ218 device(bench.clock, sim::PreviousFirmware{.serial = "999999"});
    bench.device.IdentificationReply("777777 Q219 R1 D1 \r\n");
    bench.link.Attach(1, bench.device);
    bench.link.Attach(4, device);

    bench.Scan();

    EXPECT_EQ(bench.portNumber, 4);
    EXPECT_EQ(bench.view.GetPanelText("mod"), "Q218");
    EXPECT_EQ(bench.view.GetPanelText("ser"), "999999");
}

TEST(PortScanTest, NoDeviceAnywhere) {
    struct Row {
        const char* name;
        std::vector<std::int16_t> silent;
        std::int16_t deviceOn;                // 0: none
        std::chrono::nanoseconds scanAtMost;  // until "Q218 not found.": a delay per open
    };
    const Row rows[] = {
        {"no ports at all", {}, 0, 100ms},
        {"four silent ports", {1, 2, 3, 4}, 0, 8s + 4ms},
        {"device on COM5 only", {1, 3}, 5, 4s + 2ms},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        for (std::int16_t port : row.silent) {
            bench.link.AddSilentPort(port);
        }
        if (row.deviceOn != 0) {
            bench.link.Attach(row.deviceOn, bench.device);
        }
        bench.Show(kUntouched);
        // Where the message line says "Q218 not found.", the settle delay must follow.
        std::optional<std::chrono::nanoseconds> notFoundAt;
        bench.view.When([&] { return bench.view.GetText(TextBox::Text2) == "Q218 not found."; },
                        [&] { notFoundAt = bench.clock.Now(); });
        const auto start = bench.clock.Now();

        bench.Scan();

        std::vector<std::string> expected = Looking(4);
        expected.push_back("Q218 not found.");
        expected.push_back("Connect Q218 to serial port.");
        EXPECT_EQ(bench.view.Messages(), expected);
        EXPECT_EQ(bench.portNumber, 4);
        EXPECT_TRUE(bench.view.IsEnabled(Button::cmdOK));
        EXPECT_EQ(bench.view.Focus(), FocusTarget::cmdOK);
        EXPECT_NE(bench.view.GetPanelText("mod"), "Q218");
        ASSERT_TRUE(notFoundAt.has_value()) << "no wait after \"Q218 not found.\"";
        EXPECT_LE(*notFoundAt - start, row.scanAtMost);
        EXPECT_GT(bench.clock.Now() - *notFoundAt, 1s - 1ms);
        EXPECT_LE(bench.clock.Now() - start, 10s + 5ms) << "at most five settle delays";
        EXPECT_EQ(bench.link.OpenCount(5), 0);
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

TEST(PortScanTest, ExitDuringTheScanEndsItAtOnce) {
    Bench bench;
    bench.link.AddSilentPort(1);
    bench.link.AddSilentPort(2);
    bench.link.Attach(3, bench.device);
    // The window's Exit ends the program from inside the query's wait on COM2.
    bench.view.WhenClick(
        [&] { return bench.view.GetText(TextBox::Text2) == "Looking for Q218 on COM 2."; },
        Button::cmdExit, [] { throw ProgramEnded{}; });

    EXPECT_THROW(bench.Scan(), ProgramEnded);

    EXPECT_EQ(bench.view.Messages(), Looking(2));
    EXPECT_EQ(bench.portNumber, 2);
    EXPECT_EQ(bench.link.OpenCount(3), 0);
    EXPECT_TRUE(bench.device.Transcript().empty()) << "COM3's device was queried";
}

}  // namespace
}  // namespace q218
