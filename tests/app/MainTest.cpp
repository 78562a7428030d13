// The window logic with the headless view and simulated devices on the in-memory line: the
// start-up state, the connect step's outcomes, the serial-number entry, Exit inside the
// scan's wait, and the serial number reaching the device through a whole update.

#include "app/Main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/FakeView.h"
#include "support/ImageInput.h"

namespace q218 {
namespace {

const std::string kConnect = "Connect Q218 to serial port.";
const std::string kEnterSerial = "Enter serial number.";
const std::string kReady = "Ready for update.";
const std::string kFoundOn3 = "Q218 found on COM 3";

// The image's serial record as built, and as patched for two numbers (restated here so that
// a changed record layout is caught).
const std::string kPlaceholderRecord = ":103E0000820730343034303430343034303420347D";
const std::string kRecord123456 = ":103E00008207313432343334343435343634203468";
const std::string kRecord999999 = ":103E00008207393439343934393439343934203447";
const std::string kRecord000001 = ":103E0000820730343034303430343034313420347C";
// Where the image input carries the serial record.
const std::size_t kSerialRecordIndex = [] {
    const std::vector<std::string> lines = test::ReadImageInput();
    return static_cast<std::size_t>(
        std::find_if(lines.begin(), lines.end(),
                     [](const std::string& line) { return line.starts_with(":103E00008207"); }) -
        lines.begin());
}();

// A wait that would never end fails the test instead of hanging it.
constexpr long kProcessEventsLimit = 5'000'000;
struct WaitHung {};

// The window logic on a headless view, with devices wired to COM ports as a test needs.
struct Bench {
    Bench() {
        view.OnProcessEvents([this] {
            if (view.ProcessEventsCalls() > kProcessEventsLimit) {
                throw WaitHung{};
            }
        });
    }

    sim::SimulatedQ218& AddDevice(std::int16_t port, const sim::PreviousFirmware& firmware) {
        devices.push_back(std::make_unique<sim::SimulatedQ218>(clock, firmware));
        link.Attach(port, *devices.back());
        return *devices.back();
    }

    sim::SimulatedQ218& AddDevice(std::int16_t port, std::string serial) {
        return AddDevice(port, sim::PreviousFirmware{.serial = std::move(serial)});
    }

    void Start() { main.Form_Load(); }

    // Types `text` into the serial-number box, as the technician would.
    void Type(std::string_view text) { view.SetText(TextBox::Text4, text); }

    int TotalOpens() const {
        int opens = 0;
        for (std::int16_t port = 1; port <= 8; ++port) {
            opens += link.OpenCount(port);
        }
        return opens;
    }

    sim::FakeClock clock;
    test::FakeView view{clock};
    sim::InMemoryLink link{clock};
    std::vector<std::unique_ptr<sim::SimulatedQ218>> devices;
    Main main{view, link, clock};
};

// What the workflow's state tables describe: message line, buttons, serial box, focus.
struct WindowState {
    std::string message;
    bool ok = false;
    bool update = false;
    bool exit = false;
    bool serialBox = false;
    std::optional<FocusTarget> focus;
    friend bool operator==(const WindowState&, const WindowState&) = default;
};

WindowState StateOf(const test::FakeView& view) {
    return {view.GetText(TextBox::Text2),      view.IsEnabled(Button::cmdOK),
            view.IsEnabled(Button::cmdUpdate), view.IsEnabled(Button::cmdExit),
            view.IsVisible(TextBox::Text4),    view.Focus()};
}

void PrintTo(const WindowState& s, std::ostream* os) {
    *os << "{\"" << s.message << "\" ok=" << s.ok << " update=" << s.update << " exit=" << s.exit
        << " box=" << s.serialBox << " focus=" << (s.focus ? static_cast<int>(*s.focus) : -1)
        << "}";
}

const WindowState kWaitingForConnect{kConnect, true, false, true, false, FocusTarget::cmdOK};
const WindowState kWaitingForSerial{kEnterSerial, true, false, true, true, FocusTarget::Text4};
const WindowState kReadyTyped{kReady, false, true, true, false, FocusTarget::cmdUpdate};
const WindowState kReadyFromDevice{kFoundOn3, false, true, true, false, FocusTarget::cmdUpdate};

TEST(MainStartUp, ShowsTheImageAndWaitsForConnect) {
    Bench bench;
    bench.Start();
    const auto& view = bench.view;

    EXPECT_EQ(StateOf(view), kWaitingForConnect);
    EXPECT_EQ(view.GetText(TextBox::Text3), test::InputTag().VersionLine());
    EXPECT_EQ(view.ProgressHistory(), std::vector<float>{0.0F});
    for (const char* key : {"mod", "ser", "rev", "dat"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(view.GetPanelText(key), "");
    }
    EXPECT_EQ(bench.main.ExpectedModel(), "Q218");
    EXPECT_EQ(bench.main.PortNumber(), 0);
    // The tag line is marked for removal, the records are untouched.
    ASSERT_EQ(bench.main.Image().size(), test::ReadImageInput().size());
    EXPECT_EQ(bench.main.Image()[0], std::string(1, '\0'));
    EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kPlaceholderRecord);
    EXPECT_EQ(bench.main.Tag().model, test::InputTag().model);
    EXPECT_EQ(bench.main.Tag().revision, test::InputTag().revision);
    EXPECT_EQ(bench.main.Tag().date, test::InputTag().date);
    EXPECT_EQ(bench.TotalOpens(), 0);
    EXPECT_TRUE(view.Violations().empty());
}

TEST(MainConnect, DeviceSerialGoesIntoTheImageAndUpdateIsEnabled) {
    Bench bench;
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
    const Row rows[] = {
        {"empty serial", "", std::nullopt},
        {"factory placeholder 999999", "999999", std::nullopt},
        {"short-form reply", "123456", "Q218\r"},
        {"five digits", "123456", "12345 Q218 R04.5 2021-11-02 \r"},
        {"seven digits", "123456", "1234567 Q218 R04.5 2021-11-02 \r"},
        {"letters among the digits", "123456", "12A456 Q218 R04.5 2021-11-02 \r"},
        {"sign", "123456", "-12345 Q218 R04.5 2021-11-02 \r"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        auto& device = bench.AddDevice(3, row.serial);
        if (row.fixedReply) {
            device.IdentificationReply(*row.fixedReply);
        }
        bench.Start();
        bench.main.cmdOK_Click();

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
        Bench bench;
        if (row.otherModelOnCom1) {
            bench.AddDevice(1, sim::PreviousFirmware{.serial = "123456", .model = "Q219"});
        }
        bench.link.AddSilentPort(2);
        bench.Start();
        bench.main.cmdOK_Click();

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
    Bench bench;
    bench.Start();
    bench.main.cmdOK_Click();
    ASSERT_EQ(StateOf(bench.view), kWaitingForConnect);

    bench.AddDevice(3, "123456");
    bench.main.cmdOK_Click();
    EXPECT_EQ(StateOf(bench.view), kReadyFromDevice);
    EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kRecord123456);
}

// The device reported no serial number; the technician types into the box.
struct SerialEntryBench : Bench {
    SerialEntryBench() {
        AddDevice(3, "");
        Start();
        main.cmdOK_Click();
    }
};

TEST(MainSerialEntry, TypedSerialsAreCheckedBeforeTheyReachTheImage) {
    struct Row {
        const char* name;
        std::string typed;
        std::optional<std::string> record;  // nullopt: refused
    };
    const Row rows[] = {
        {"000001, the lowest", "000001", kRecord000001},
        {"999999, the highest", "999999", kRecord999999},
        {"123456", "123456", kRecord123456},
        {"000000 is below 1", "000000", std::nullopt},
        {"five digits", "12345", std::nullopt},
        {"empty", "", std::nullopt},
        {"minus sign", "-12345", std::nullopt},
        {"plus sign", "+12345", std::nullopt},
        {"leading blank", " 12345", std::nullopt},
        {"trailing blank", "12345 ", std::nullopt},
        {"decimal point", "12.456", std::nullopt},
        {"exponent", "1e5", std::nullopt},
        {"six-character exponent", "1E+005", std::nullopt},
        {"hexadecimal", "0x1234", std::nullopt},
        {"letters", "abcdef", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SerialEntryBench bench;
        ASSERT_EQ(StateOf(bench.view), kWaitingForSerial);
        const int opensBefore = bench.TotalOpens();

        bench.Type(row.typed);
        bench.main.cmdOK_Click();

        if (row.record) {
            EXPECT_EQ(StateOf(bench.view), kReadyTyped);
            EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], *row.record);
            EXPECT_EQ(bench.view.Beeps(), 0);
        } else {
            EXPECT_EQ(StateOf(bench.view), kWaitingForSerial);
            EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kPlaceholderRecord);
            EXPECT_EQ(bench.view.Beeps(), 1);
        }
        EXPECT_EQ(bench.view.GetText(TextBox::Text4), "");
        // "OK" confirmed the entry; it did not scan the ports again.
        EXPECT_EQ(bench.TotalOpens(), opensBefore);
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

TEST(MainSerialEntry, EnterInTheBoxConfirmsLikeOkWhateverTheShiftState) {
    struct Row {
        const char* name;
        int shift;
    };
    for (const Row row : {Row{"Enter", 0}, Row{"Shift+Enter", kShiftMask},
                          Row{"Ctrl+Enter", kCtrlMask}, Row{"Alt+Enter", kAltMask}}) {
        SCOPED_TRACE(row.name);
        SerialEntryBench byEnter;
        byEnter.Type("654321");
        byEnter.main.Text4_KeyDown(kKeyEnter, row.shift);

        SerialEntryBench byOk;
        byOk.Type("654321");
        byOk.main.cmdOK_Click();

        EXPECT_EQ(StateOf(byEnter.view), kReadyTyped);
        EXPECT_EQ(StateOf(byEnter.view), StateOf(byOk.view));
        EXPECT_EQ(byEnter.main.Image(), byOk.main.Image());
    }
}

TEST(MainSerialEntry, EnterRefusesAnInvalidEntryAndOtherKeysDoNothing) {
    SerialEntryBench bench;
    bench.Type("12345");
    bench.main.Text4_KeyDown(kKeyEnter, 0);
    EXPECT_EQ(StateOf(bench.view), kWaitingForSerial);
    EXPECT_EQ(bench.view.Beeps(), 1);

    // Typing goes on in the box; only Enter checks it.
    bench.Type("65432");
    for (std::int16_t key : {std::int16_t{'1'}, std::int16_t{'A'}, std::int16_t{8},
                             std::int16_t{27}, std::int16_t{10}}) {
        SCOPED_TRACE(key);
        bench.main.Text4_KeyDown(key, 0);
        EXPECT_EQ(StateOf(bench.view), kWaitingForSerial);
        EXPECT_EQ(bench.view.GetText(TextBox::Text4), "65432");
    }
    EXPECT_EQ(bench.view.Beeps(), 1);
}

TEST(MainSerialEntry, RefusalsHaveNoLimitAndAValidEntryStillFollows) {
    SerialEntryBench bench;
    for (const char* wrong : {"", "000000", "12 456", "99999"}) {
        bench.Type(wrong);
        bench.main.cmdOK_Click();
    }
    EXPECT_EQ(bench.view.Beeps(), 4);
    EXPECT_EQ(bench.view.MessageBoxes(), std::vector<std::string>{});
    bench.Type("123456");
    bench.main.cmdOK_Click();
    EXPECT_EQ(StateOf(bench.view), kReadyTyped);
    EXPECT_EQ(bench.main.Image()[kSerialRecordIndex], kRecord123456);
}

TEST(MainExit, ExitDuringTheScansWaitEndsTheProgramBeforeTheLaterPorts) {
    Bench bench;
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
    Bench bench;
    auto& device = bench.AddDevice(3, "123456");
    bench.Start();
    bench.main.cmdOK_Click();
    // The download waits for the bootloader, which never answers.
    device.SilentBeforeEnq();
    bench.view.WhenClick([&] { return bench.link.PortOpen(); }, Button::cmdExit,
                         [&] { bench.main.cmdExit_Click(); });

    EXPECT_THROW(bench.main.cmdUpdate_Click(), ProgramEnded);
    EXPECT_FALSE(bench.link.PortOpen());
    EXPECT_EQ(bench.link.Written(3).substr(bench.link.Written(3).size() - 4), "977\r");
}

TEST(MainExit, ExitInEveryIdleStateEndsTheProgram) {
    Bench waiting;
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
        Bench bench;
        auto& device = bench.AddDevice(3, row.deviceSerial);
        bench.Start();
        bench.main.cmdOK_Click();
        if (!row.typed.empty()) {
            bench.Type(row.typed);
            bench.main.cmdOK_Click();
        }
        ASSERT_TRUE(bench.view.IsEnabled(Button::cmdUpdate));

        bench.main.cmdUpdate_Click();

        EXPECT_EQ(bench.view.GetText(TextBox::Text2), "Update complete!");
        EXPECT_EQ(device.IdentificationText(), test::InputTag().Identification(row.expectedSerial));
        EXPECT_EQ(bench.view.GetPanelText("ser"), row.expectedSerial);
        EXPECT_EQ(bench.view.GetPanelText("rev"), test::InputTag().revision);
        // One run serves one update: only Exit is left.
        EXPECT_EQ(StateOf(bench.view), (WindowState{"Update complete!", false, false, true, false,
                                                    FocusTarget::cmdExit}));
        EXPECT_FALSE(device.IsBricked());
        EXPECT_TRUE(bench.view.Violations().empty());
    }
}

}  // namespace
}  // namespace q218
