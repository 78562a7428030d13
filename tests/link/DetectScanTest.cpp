// The identification query against the simulated Q218 on the in-memory line, on a fake clock
// that the fake window's ProcessEvents advances.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "DetectScanFixture.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;
using test::kDevicePanels;
using test::kEmptyPanels;
using test::kFirmware;
using test::kUntouched;
using test::Panels;
using Bench = test::DetectScanBench;

struct DetectRow {
    const char* name;
    std::optional<std::string> earlier;  // a reply of an earlier query on the same window
    std::string reply;
    Panels shown;
};

TEST(DetectTest, RepliesReachThePanels) {
    const std::string kFull = "654321 Q218 R03.1 2019-05-20 \r\n";
    const DetectRow rows[] = {
        {"full reply", std::nullopt, "123456 Q218 R04.5 2021-11-02 \r\n", kDevicePanels},
        {"exactly Q218 after a full reply", kFull, "Q218", {"Q218", "", "", ""}},
        {"Q218 followed by anything", kFull, "Q218 654321 R9 D9 \r\n", {"Q218", "", "", ""}},
        {"another model", kFull, "123456 Q219 R04.5 2021-11-02 \r\n", kEmptyPanels},
        {"model in lower case", kFull, "123456 q218 R04.5 2021-11-02 \r\n", kEmptyPanels},
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
        {"five fields", std::nullopt, "123456 Q218 R04.5 2021-11-02 extra \r\n", kDevicePanels},
    };
    for (const DetectRow& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.link.Attach(2, bench.device);
        if (row.earlier) {
            bench.device.IdentificationReply(*row.earlier);
            // An earlier query only leaves its fields behind.
            bench.Query(2);
        }
        bench.device.IdentificationReply(row.reply);
        bench.Query(2);
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
        bench.link.Attach(1, bench.device);
        ASSERT_TRUE(Detect(bench.context, 1, bench.fields).IsComplete());
        bench.device.IdentificationReply(row.reply);
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
    bench.link.Attach(1, bench.device);
    const auto start = bench.clock.Now();

    bench.Query(1);

    EXPECT_EQ(bench.Shown(), kDevicePanels);
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
        if (row.attach) {
            bench.link.Attach(3, bench.device);
            bench.link.SetBusy(3, row.busy);
            bench.device.IdentificationReply(row.reply);
        }
        bench.Show(kUntouched);
        bench.Query(3);
        EXPECT_EQ(bench.Shown(), kUntouched);
        EXPECT_FALSE(bench.link.PortOpen());
        EXPECT_TRUE(bench.view.Messages().empty()) << "the query fails silently";
    }
}

TEST(DetectTest, SixthFieldStillFillsTheFieldsForTheNextReply) {
    Bench bench;
    bench.link.Attach(1, bench.device);
    bench.device.IdentificationReply("111111 Q218 R1 D1 five six \r\n");
    bench.Query(1);
    bench.device.IdentificationReply("222222 Q218 ");
    bench.Query(1);
    EXPECT_EQ(bench.Shown(), (Panels{"Q218", "222222", "R1", "D1"}));
}

TEST(DetectTest, NoReplyEmptiesThePanels) {
    struct Row {
        const char* name;
        std::optional<std::chrono::nanoseconds> replyDelay;  // none: nothing on the cable
    };
    const Row rows[] = {
        {"nothing on the cable", std::nullopt},
        {"reply after the settle delay", 2100ms},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        if (row.replyDelay) {
            bench.link.Attach(1, bench.device);
            bench.device.ReplyDelay(*row.replyDelay);
        } else {
            bench.link.AddSilentPort(1);
        }
        bench.Show(kUntouched);
        bench.Query(1);
        EXPECT_EQ(bench.Shown(), kEmptyPanels);
    }
}

TEST(DetectTest, LineLostDuringTheQueryIsNoReply) {
    Bench bench;
    bench.link.Attach(1, bench.device);
    bench.device.ReplyDelay(500ms);
    bench.view.When([&] { return bench.link.PortOpen(); },
                    [&] {
                        bench.clock.Advance(1ms);
                        bench.device.Unplug();
                    });
    bench.Show(kUntouched);
    bench.Query(1);
    EXPECT_TRUE(bench.link.LineLost());
    EXPECT_EQ(bench.link.Misuses(), 0) << "read from the port that had closed";
    EXPECT_EQ(bench.Shown(), kEmptyPanels);
}

TEST(DetectTest, ClosesAPortLeftOpenBeforeChoosingTheNext) {
    Bench bench;
    bench.link.AddSilentPort(1);
    bench.link.Attach(2, bench.device);
    bench.link.SetCommPort(1);
    ASSERT_TRUE(bench.link.SetPortOpen(true));

    bench.Query(2);
    EXPECT_EQ(bench.link.Misuses(), 0);
    EXPECT_EQ(bench.view.GetPanelText("mod"), "Q218");
}

}  // namespace
}  // namespace q218
