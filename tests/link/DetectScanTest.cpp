// The identification query and the port scan against the simulated Q218 on the in-memory
// line, on a fake clock that the fake window's ProcessEvents advances.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/Identification.h"
#include "link/PortScan.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/FakeView.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;
using Panels = std::array<std::string, 4>;  // mod, ser, rev, dat

const sim::PreviousFirmware kFirmware{
    .serial = "123456", .revision = "R04.5", .date = "2021-11-02", .model = "Q218"};
const Panels kUntouched{"untouched-mod", "untouched-ser", "untouched-rev", "untouched-dat"};

struct Bench {
    sim::FakeClock clock;
    test::FakeView view{clock};
    sim::InMemoryLink link{clock};
    LinkContext context{link, view, clock};
    ReplyFields fields;
    std::int16_t portNumber = 0;

    Panels Shown() const {
        return {view.GetPanelText("mod"), view.GetPanelText("ser"), view.GetPanelText("rev"),
                view.GetPanelText("dat")};
    }
    void Show(const Panels& panels) {
        view.SetPanelText("mod", panels[0]);
        view.SetPanelText("ser", panels[1]);
        view.SetPanelText("rev", panels[2]);
        view.SetPanelText("dat", panels[3]);
    }
};

struct DetectRow {
    const char* name;
    std::optional<std::string> earlier;  // a reply of an earlier query on the same window
    std::string reply;
    Panels shown;
};

TEST(DetectTest, RepliesReachThePanels) {
    const std::string kFull = "654321 Q218 R03.1 2019-05-20 \r\n";
    const DetectRow rows[] = {
        {"full reply",
         std::nullopt,
         "123456 Q218 R04.5 2021-11-02 \r\n",
         {"Q218", "123456", "R04.5", "2021-11-02"}},
        {"exactly Q218 after a full reply", kFull, "Q218", {"Q218", "", "", ""}},
        {"Q218 followed by anything", kFull, "Q218 654321 R9 D9 \r\n", {"Q218", "", "", ""}},
        {"another model", kFull, "123456 Q219 R04.5 2021-11-02 \r\n", {"", "", "", ""}},
        {"model in lower case", kFull, "123456 q218 R04.5 2021-11-02 \r\n", {"", "", "", ""}},
        {"missing last space, first query",
         std::nullopt,
         "123456 Q218 R04.5 2021-11-02",
         {"Q218", "123456", "R04.5", ""}},
        {"missing last space after a full reply",
         kFull,
         "123456 Q218 R04.5 2021-11-02",
         {"Q218", "123456", "R04.5", "2019-05-20"}},
        {"two fields after a full reply",
         kFull,
         "123456 Q218 ",
         {"Q218", "123456", "R03.1", "2019-05-20"}},
        {"two spaces in a row",
         std::nullopt,
         "123456 Q218  2021-11-02 \r\n",
         {"Q218", "123456", "", "2021-11-02"}},
        {"leading space",
         std::nullopt,
         " Q218 R04.5 2021-11-02 \r\n",
         {"Q218", "", "R04.5", "2021-11-02"}},
        {"five fields",
         std::nullopt,
         "123456 Q218 R04.5 2021-11-02 extra \r\n",
         {"Q218", "123456", "R04.5", "2021-11-02"}},
    };
    for (const DetectRow& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        sim::SimulatedQ218 device(bench.clock, kFirmware);
        bench.link.Attach(2, device);
        if (row.earlier) {
            device.IdentificationReply(*row.earlier);
            // An earlier query only leaves its fields behind.
            static_cast<void>(Detect(bench.context, 2, bench.fields));
        }
        device.IdentificationReply(row.reply);
        // What the window shows is read here, not the query's result.
        static_cast<void>(Detect(bench.context, 2, bench.fields));
        EXPECT_EQ(bench.Shown(), row.shown);
    }
}

// What a query returns beside the panels: a verdict may rest only on what this reply
// itself supplied. Panels left over from an earlier reply never make a reply complete, and a
// reply longer than the bound is refused whole, never parsed as its first part.
TEST(DetectTest, TheQueryTellsWhatThisReplySupplied) {
    const std::string kFull = "654321 Q218 R03.1 2019-05-20 ";
    const std::string kAtBound = kFull + std::string(1920 - kFull.size(), 'x');
    struct Row {
        const char* name;
        std::string reply;
        QueryStatus status;
        bool complete;
        std::string shownRevision;  // after an earlier full reply with R04.5
    };
    const Row rows[] = {
        {"full reply", kFull, QueryStatus::Answered, true, "R03.1"},
        {"two fields: the rest left over", "654321 Q218 ", QueryStatus::Answered, false, "R04.5"},
        {"model alone", "Q218", QueryStatus::Answered, false, ""},
        {"sixth field", kFull + "a b ", QueryStatus::Refused, false, "R04.5"},
        {"exactly at the bound", kAtBound, QueryStatus::Answered, true, "R03.1"},
        {"one past the bound", kAtBound + "y", QueryStatus::Refused, false, "R04.5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        sim::SimulatedQ218 device(bench.clock, kFirmware);
        bench.link.Attach(1, device);
        ASSERT_TRUE(Detect(bench.context, 1, bench.fields).IsComplete());
        device.IdentificationReply(row.reply);
        const DeviceInfo info = Detect(bench.context, 1, bench.fields);
        EXPECT_EQ(info.status, row.status);
        EXPECT_EQ(info.IsComplete(), row.complete);
        EXPECT_EQ(bench.view.GetPanelText("rev"), row.shownRevision);
        EXPECT_EQ(info.revision, row.shownRevision);
    }
}

TEST(DetectTest, APortThatWillNotOpenSaysWhy) {
    Bench bench;
    bench.link.AddSilentPort(2);
    bench.link.SetForbidden(2, true);
    bench.link.AddSilentPort(3);
    bench.link.SetBusy(3, true);
    bench.link.AddSilentPort(4);
    const std::pair<std::int16_t, OpenFailure> rows[] = {
        {1, OpenFailure::NoSuchPort}, {2, OpenFailure::PermissionDenied}, {3, OpenFailure::Busy}};
    for (const auto& [port, failure] : rows) {
        const DeviceInfo info = Detect(bench.context, port, bench.fields);
        EXPECT_EQ(info.status, QueryStatus::NotOpened) << port;
        EXPECT_EQ(info.openError.failure, failure) << port;
    }
    const DeviceInfo silent = Detect(bench.context, 4, bench.fields);
    EXPECT_EQ(silent.status, QueryStatus::Answered);
    EXPECT_EQ(silent.reply, "");
    EXPECT_FALSE(silent.IsQ218());
}

TEST(DetectTest, TheDevicesOwnIdentification) {
    Bench bench;
    sim::SimulatedQ218 device(bench.clock, kFirmware);
    bench.link.Attach(1, device);
    const auto start = bench.clock.Now();

    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(bench.context, 1, bench.fields));

    EXPECT_EQ(bench.Shown(), (Panels{"Q218", "123456", "R04.5", "2021-11-02"}));
    // One query at the line settings, one settle delay, the port closed again.
    EXPECT_EQ(bench.link.Written(1), "990\r");
    EXPECT_TRUE(bench.link.Settings() == (LineSettings{9600, Parity::None, 8, StopBits::One}));
    EXPECT_EQ(bench.link.InputLen(), 0);
    EXPECT_FALSE(bench.link.PortOpen());
    EXPECT_EQ(bench.link.Misuses(), 0);
    EXPECT_GT(bench.clock.Now() - start, 1s);
    EXPECT_LE(bench.clock.Now() - start, 2s + 1ms);
}

TEST(DetectTest, FailuresLeaveThePanelsAsTheyWere) {
    struct Row {
        const char* name;
        bool attach;  // false: the port does not exist
        bool busy;
        std::string reply;
    };
    const Row rows[] = {
        {"missing port", false, false, ""},
        {"port held by another program", true, true, "123456 Q218 R04.5 2021-11-02 \r\n"},
        {"sixth field", true, false, "111111 Q218 R1 D1 five six \r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        sim::SimulatedQ218 device(bench.clock, kFirmware);
        if (row.attach) {
            bench.link.Attach(3, device);
            bench.link.SetBusy(3, row.busy);
            device.IdentificationReply(row.reply);
        }
        bench.Show(kUntouched);
        // What the window shows is read here, not the query's result.
        static_cast<void>(Detect(bench.context, 3, bench.fields));
        EXPECT_EQ(bench.Shown(), kUntouched);
        EXPECT_FALSE(bench.link.PortOpen());
        EXPECT_TRUE(bench.view.Messages().empty()) << "the query fails silently";
    }
}

TEST(DetectTest, SixthFieldStillFillsTheFieldsForTheNextReply) {
    Bench bench;
    sim::SimulatedQ218 device(bench.clock, kFirmware);
    bench.link.Attach(1, device);
    device.IdentificationReply("111111 Q218 R1 D1 five six \r\n");
    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(bench.context, 1, bench.fields));
    device.IdentificationReply("222222 Q218 ");
    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(bench.context, 1, bench.fields));
    EXPECT_EQ(bench.Shown(), (Panels{"Q218", "222222", "R1", "D1"}));
}

TEST(DetectTest, NoReplyEmptiesThePanels) {
    struct Row {
        const char* name;
        bool silentPort;
        std::chrono::nanoseconds replyDelay;
    };
    const Row rows[] = {
        {"nothing on the cable", true, 0ns},
        {"reply after the settle delay", false, 2100ms},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        sim::SimulatedQ218 device(bench.clock, kFirmware);
        if (row.silentPort) {
            bench.link.AddSilentPort(1);
        } else {
            bench.link.Attach(1, device);
            device.ReplyDelay(row.replyDelay);
        }
        bench.Show(kUntouched);
        // What the window shows is read here, not the query's result.
        static_cast<void>(Detect(bench.context, 1, bench.fields));
        EXPECT_EQ(bench.Shown(), (Panels{"", "", "", ""}));
    }
}

TEST(DetectTest, LineLostDuringTheQueryIsNoReply) {
    Bench bench;
    sim::SimulatedQ218 device(bench.clock, kFirmware);
    bench.link.Attach(1, device);
    device.ReplyDelay(500ms);
    bench.view.When([&] { return bench.link.PortOpen(); },
                    [&] {
                        bench.clock.Advance(1ms);
                        device.Unplug();
                    });
    bench.Show(kUntouched);
    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(bench.context, 1, bench.fields));
    EXPECT_TRUE(bench.link.LineLost());
    EXPECT_EQ(bench.link.Misuses(), 0) << "read from the port that had closed";
    EXPECT_EQ(bench.Shown(), (Panels{"", "", "", ""}));
}

TEST(DetectTest, ClosesAPortLeftOpenBeforeChoosingTheNext) {
    Bench bench;
    sim::SimulatedQ218 device(bench.clock, kFirmware);
    bench.link.AddSilentPort(1);
    bench.link.Attach(2, device);
    bench.link.SetCommPort(1);
    ASSERT_TRUE(bench.link.SetPortOpen(true));

    // What the window shows is read here, not the query's result.
    static_cast<void>(Detect(bench.context, 2, bench.fields));
    EXPECT_EQ(bench.link.Misuses(), 0);
    EXPECT_EQ(bench.view.GetPanelText("mod"), "Q218");
}

std::vector<std::string> Looking(int upTo) {
    std::vector<std::string> messages;
    for (int n = 1; n <= upTo; ++n) {
        messages.push_back("Looking for Q218 on COM " + std::to_string(n) + ".");
    }
    return messages;
}

TEST(PortScanTest, FindsTheDeviceOnCom3) {
    Bench bench;
    sim::SimulatedQ218 device(bench.clock, kFirmware);
    bench.link.AddSilentPort(1);  // COM2 does not exist
    bench.link.Attach(3, device);
    bench.view.SetFocus(FocusTarget::cmdOK);

    // What the window shows and the port it settles on are read here.
    static_cast<void>(Port_Scan(bench.context, bench.portNumber, bench.fields));

    std::vector<std::string> expected = Looking(3);
    expected.push_back("Q218 found on COM 3");
    EXPECT_EQ(bench.view.Messages(), expected);
    EXPECT_EQ(bench.portNumber, 3);
    EXPECT_EQ(bench.Shown(), (Panels{"Q218", "123456", "R04.5", "2021-11-02"}));
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

    // What the window shows and the port it settles on are read here.
    static_cast<void>(Port_Scan(bench.context, bench.portNumber, bench.fields));

    EXPECT_EQ(bench.portNumber, 2);
    EXPECT_EQ(bench.view.Messages().back(), "Q218 found on COM 2");
    EXPECT_EQ(bench.link.OpenCount(2), 1);
    EXPECT_EQ(bench.link.OpenCount(4), 0) << "a higher port was queried";
}

TEST(PortScanTest, AnotherModelIsPassedBy) {
    Bench bench;
    sim::SimulatedQ218 other(bench.clock, kFirmware);
    sim::SimulatedQ218 device(bench.clock, sim::PreviousFirmware{.serial = "999999"});
    other.IdentificationReply("777777 Q219 R1 D1 \r\n");
    bench.link.Attach(1, other);
    bench.link.Attach(4, device);

    // What the window shows and the port it settles on are read here.
    static_cast<void>(Port_Scan(bench.context, bench.portNumber, bench.fields));

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
        sim::SimulatedQ218 device(bench.clock, kFirmware);
        for (std::int16_t port : row.silent) {
            bench.link.AddSilentPort(port);
        }
        if (row.deviceOn != 0) {
            bench.link.Attach(row.deviceOn, device);
        }
        bench.Show(kUntouched);
        // Where the message line says "Q218 not found.", the settle delay must follow.
        std::optional<std::chrono::nanoseconds> notFoundAt;
        bench.view.When([&] { return bench.view.GetText(TextBox::Text2) == "Q218 not found."; },
                        [&] { notFoundAt = bench.clock.Now(); });
        const auto start = bench.clock.Now();

        // What the window shows and the port it settles on are read here.
        static_cast<void>(Port_Scan(bench.context, bench.portNumber, bench.fields));

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
    sim::SimulatedQ218 device(bench.clock, kFirmware);
    bench.link.AddSilentPort(1);
    bench.link.AddSilentPort(2);
    bench.link.Attach(3, device);
    // The window's Exit ends the program from inside the query's wait on COM2.
    bench.view.WhenClick(
        [&] { return bench.view.GetText(TextBox::Text2) == "Looking for Q218 on COM 2."; },
        Button::cmdExit, [] { throw ProgramEnded{}; });

    EXPECT_THROW(Port_Scan(bench.context, bench.portNumber, bench.fields), ProgramEnded);

    EXPECT_EQ(bench.view.Messages(), Looking(2));
    EXPECT_EQ(bench.portNumber, 2);
    EXPECT_EQ(bench.link.OpenCount(3), 0);
    EXPECT_TRUE(device.Transcript().empty()) << "COM3's device was queried";
}

}  // namespace
}  // namespace q218
