// The window logic with the headless view and simulated devices on the in-memory line: the
// start-up state, the connect step's outcomes, Exit inside the scan's wait, and the serial
// number reaching the device through a whole update (the serial-number entry has its own file).

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MainFixture.h"

namespace q218::test {
namespace {

TEST(MainStartUp, ShowsTheImageAndWaitsForConnect) {
    MainBench bench;
    bench.Start();
    const auto& view = bench.view;

    EXPECT_EQ(StateOf(view), kWaitingForConnect);
    EXPECT_EQ(view.GetText(TextBox::Text3), InputTag().VersionLine());
    EXPECT_EQ(view.ProgressHistory(), std::vector<float>{0.0F});
    for (const char* key : {"mod", "ser", "rev", "dat"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(view.GetPanelText(key), "");
    }
    EXPECT_EQ(bench.main.ExpectedModel(), "Q218");
    EXPECT_EQ(bench.main.PortNumber(), 0);
    // The tag line is marked for removal, the records are untouched.
    ASSERT_EQ(bench.main.Image().size(), ReadImageInput().size());
    EXPECT_EQ(bench.main.Image()[0], std::string(1, '\0'));
    EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kPlaceholderRecord);
    EXPECT_EQ(bench.main.Tag().model, InputTag().model);
    EXPECT_EQ(bench.main.Tag().revision, InputTag().revision);
    EXPECT_EQ(bench.main.Tag().date, InputTag().date);
    EXPECT_EQ(bench.TotalOpens(), 0);
    EXPECT_TRUE(view.Violations().empty());
}

TEST(MainConnect, DeviceSerialGoesIntoTheImageAndUpdateIsEnabled) {
    MainBench bench;
    bench.link.AddSilentPort(1);
    bench.AddDevice(3, "123456");
    bench.Start();

    // The scan's own state while it waits for an answer on COM 1 (COM 2 does not exist:
    // its query ends at once, without a wait).
    std::optional<WindowState> scanning;
    bench.view.When(
        [&] { return bench.view.GetText(TextBox::Text2) == "Looking for Q218 on COM 1."; },
        [&] { scanning = StateOf(bench.view); });
    bench.main.cmdOK_Click();

    ASSERT_TRUE(scanning.has_value());
    EXPECT_EQ(*scanning, (WindowState{"Looking for Q218 on COM 1.", false, false, true, false,
                                      FocusTarget::cmdExit}));
    EXPECT_EQ(StateOf(bench.view), kReadyFromDevice);
    EXPECT_EQ(bench.view.GetText(TextBox::Text4), "");  // handed over and emptied
    EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kRecord123456);
    EXPECT_EQ(bench.main.PortNumber(), 3);
    EXPECT_EQ(bench.view.GetPanelText("ser"), "123456");
    EXPECT_EQ(bench.view.Beeps(), 0);
    EXPECT_TRUE(bench.view.Violations().empty());
}

TEST(MainConnect, DeviceWithoutAUsableSerialAsksForOne) {
    struct Row {
        const char* name;
        std::string serial;                     // the device's own serial digits
        std::optional<std::string> fixedReply;  // or a fixed identification reply
    };
    // A full reply whose only fault is the serial field.
    const auto replyWithSerial = [](const std::string& serial) {
        return serial + " Q218 R04.5 2021-11-02 \r";
    };
    const Row rows[] = {
        {"empty serial", "", std::nullopt},
        {"factory placeholder 999999", "999999", std::nullopt},
        {"short-form reply", "123456", "Q218\r"},
        {"five digits", "123456", replyWithSerial("12345")},
        {"seven digits", "123456", replyWithSerial("1234567")},
        {"letters among the digits", "123456", replyWithSerial("12A456")},
        {"sign", "123456", replyWithSerial("-12345")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MainBench bench;
        auto& device = bench.AddDevice(3, row.serial);
        if (row.fixedReply) {
            device.IdentificationReply(*row.fixedReply);
        }
        bench.StartAndConnect();

        EXPECT_EQ(bench.view.GetPanelText("mod"), "Q218");
        EXPECT_EQ(StateOf(bench.view), kWaitingForSerial);
        EXPECT_EQ(bench.view.GetText(TextBox::Text4), "");
        // Nothing of the device's text reached the image.
        EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kPlaceholderRecord);
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

TEST(MainConnect, NoQ218AnywhereReturnsToWaitingForConnect) {
    struct Row {
        const char* name;
        bool otherModelOnCom1;
    };
    for (const Row row : {Row{"no device at all", false}, Row{"another model on COM 1", true}}) {
        SCOPED_TRACE(row.name);
        MainBench bench;
        if (row.otherModelOnCom1) {
            bench.AddDevice(1, sim::PreviousFirmware{.serial = "123456", .model = "Q219"});
        }
        bench.link.AddSilentPort(2);
        bench.StartAndConnect();

        EXPECT_EQ(StateOf(bench.view), kWaitingForConnect);
        const std::vector<std::string> messages(bench.view.Messages().begin() + 1,
                                                bench.view.Messages().end());
        EXPECT_EQ(messages, (std::vector<std::string>{
                                "Looking for Q218 on COM 1.", "Looking for Q218 on COM 2.",
                                "Looking for Q218 on COM 3.", "Looking for Q218 on COM 4.",
                                "Q218 not found.", kConnect}));
        EXPECT_EQ(bench.main.PortNumber(), 4);
        EXPECT_EQ(bench.view.GetPanelText("mod"), "");
        EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kPlaceholderRecord);
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

TEST(MainConnect, OkCanBeClickedAgainOnceTheDeviceIsConnected) {
    MainBench bench;
    bench.StartAndConnect();
    ASSERT_EQ(StateOf(bench.view), kWaitingForConnect);

    bench.AddDevice(3, "123456");
    bench.main.cmdOK_Click();
    EXPECT_EQ(StateOf(bench.view), kReadyFromDevice);
    EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kRecord123456);
}

TEST(MainExit, ExitDuringTheScansWaitEndsTheProgramBeforeTheLaterPorts) {
    MainBench bench;
    bench.link.AddSilentPort(1);
    bench.AddDevice(2, "123456");
    bench.Start();
    bench.view.WhenClick(
        [&] { return bench.view.GetText(TextBox::Text2) == "Looking for Q218 on COM 1."; },
        Button::cmdExit, [&] { bench.main.cmdExit_Click(); });

    EXPECT_THROW(bench.main.cmdOK_Click(), ProgramEnded);
    // Exit came while the query on COM 1 held its port open: it was released, and COM 2
    // was never opened.
    EXPECT_EQ(bench.link.OpenCount(1), 1);
    EXPECT_FALSE(bench.link.PortOpen());
    EXPECT_EQ(bench.link.OpenCount(2), 0);
    EXPECT_EQ(bench.view.Messages().back(), "Looking for Q218 on COM 1.");
    EXPECT_EQ(bench.view.GetPanelText("mod"), "");
}

TEST(MainExit, ExitReleasesAPortLeftOpenWithoutSendingAnything) {
    MainBench bench;
    auto& device = bench.AddDevice(3, "123456");
    bench.StartAndConnect();
    // The download waits for the bootloader, which never answers.
    device.SilentBeforeEnq();
    bench.view.WhenClick([&] { return bench.link.PortOpen(); }, Button::cmdExit,
                         [&] { bench.main.cmdExit_Click(); });

    EXPECT_THROW(bench.main.cmdUpdate_Click(), ProgramEnded);
    EXPECT_FALSE(bench.link.PortOpen());
    EXPECT_EQ(bench.link.Written(3).substr(bench.link.Written(3).size() - 4), "977\r");
}

TEST(MainExit, ExitInEveryIdleStateEndsTheProgram) {
    MainBench waiting;
    waiting.Start();
    EXPECT_THROW(waiting.main.cmdExit_Click(), ProgramEnded);

    SerialEntryBench entry;
    EXPECT_THROW(entry.main.cmdExit_Click(), ProgramEnded);
    EXPECT_FALSE(entry.link.PortOpen());
}

TEST(MainUpdate, TheSettledSerialNumberSurvivesTheUpdateOnTheDevice) {
    struct Row {
        const char* name;
        std::string deviceSerial;
        std::string typed;  // empty: the device's own number is used
        std::string expectedSerial;
    };
    const Row rows[] = {
        {"device's own number", "123456", "", "123456"},
        {"typed for a device without one", "", "654321", "654321"},
        {"typed over the factory placeholder", "999999", "000042", "000042"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MainBench bench;
        auto& device = bench.AddDevice(3, row.deviceSerial);
        bench.StartAndConnect();
        if (!row.typed.empty()) {
            bench.Type(row.typed);
            bench.main.cmdOK_Click();
        }
        ASSERT_TRUE(bench.view.IsEnabled(Button::cmdUpdate));

        bench.main.cmdUpdate_Click();

        EXPECT_EQ(bench.view.GetText(TextBox::Text2), "Update complete!");
        EXPECT_EQ(device.IdentificationText(), InputTag().Identification(row.expectedSerial));
        EXPECT_EQ(bench.view.GetPanelText("ser"), row.expectedSerial);
        EXPECT_EQ(bench.view.GetPanelText("rev"), InputTag().revision);
        // One run serves one update: only Exit is left.
        EXPECT_EQ(StateOf(bench.view), (WindowState{"Update complete!", false, false, true, false,
                                                    FocusTarget::cmdExit}));
        EXPECT_FALSE(device.IsBricked());
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

}  // namespace
}  // namespace q218::test
