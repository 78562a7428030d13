// Every fault of the cable and the device, through the whole update: Form_Load, "OK", the
// serial number, "&Update", with the headless window and the simulated Q218 in memory.
// Whatever the fault: no crash, no wait without a way out, no "Update complete!" unless the
// device's program memory equals the image, the serial number kept whenever the update
// completes, and the device never left without its bootloader jump.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Main.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/ExpectedMemory.h"
#include "support/FakeView.h"
#include "support/Technician.h"

namespace q218 {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

constexpr std::int16_t kDevicePort = 3;
constexpr std::int16_t kEmptyPort = 1;  // a cable with nothing at its end
// No update of this image over the in-memory line takes a minute of the fake clock; a run
// still going after this long waits without a way out.
constexpr nanoseconds kRunBound = 10min;

enum class Ending {
    NoUpdate,        // the device was not taken: "&Update" never became enabled
    Finished,        // "Update complete!"
    TransferFailed,  // the message box "Update Error."
    ProgramEnded,    // Exit or the window's close ended the program inside a wait
};

// Failure messages name the endings.
void PrintTo(Ending ending, std::ostream* out) {
    constexpr const char* kNames[] = {"NoUpdate", "Finished", "TransferFailed", "ProgramEnded"};
    *out << kNames[static_cast<int>(ending)];
}

// Thrown by the bound on the fake clock: nothing ended the run and nothing could.
struct WaitedWithoutEnd {};

// The device before the update: the previous firmware, with or without a serial number.
sim::PreviousFirmware Firmware(std::string serial) {
    return sim::PreviousFirmware{
        .serial = std::move(serial), .revision = "R04.5", .date = "2021-11-02"};
}

struct Row {
    const char* name = "";
    sim::PreviousFirmware firmware = Firmware("123456");
    std::function<void(sim::SimulatedQ218&)> fault = {};
    // Happens to the device after "OK" has found it, before "&Update" is clicked.
    std::function<void(sim::SimulatedQ218&)> beforeUpdate = {};
    Ending expected = Ending::Finished;
    // Typed into the serial-number box when the updater asks for one.
    std::string typedSerial = "654321";
    // Fake time after the click on "&Update" at which the technician clicks Exit (only
    // acts while it is enabled) or closes the window (always ends the program).
    std::optional<nanoseconds> exitClickAfter = {};
    std::optional<nanoseconds> closeAfter = {};
    // Fake time after the click on "&Update" at which the reset button is pressed.
    std::optional<nanoseconds> resetByHandAfter = {};
    // Frames answered BEL (and so sent again) in a finished run.
    int repeatedFrames = 0;
    // Frames the device has received when a failed run ends: nothing is sent after a reply
    // the protocol does not allow.
    std::optional<int> framesAtFailure = {};
    // The device's identification reply is fixed by the fault: the panels after the update
    // show that reply, not the new firmware.
    bool identityFixed = false;
};

std::string ReadSerialFromDevice(const sim::SimulatedQ218& device) {
    // The identification table: ADDWF PCL,F at 0x1F00, then RETLW with each serial digit.
    std::string serial;
    for (std::uint32_t k = 1; k <= 6; ++k) {
        serial += static_cast<char>(device.Word(0x1F00 + k) & 0xFF);
    }
    return serial;
}

class FaultMatrix : public testing::TestWithParam<Row> {
protected:
    const Row& m_row = GetParam();  // first: the device and the technician are made from it

    FaultMatrix() {
        m_link.Attach(kDevicePort, m_device);
        m_link.AddSilentPort(kEmptyPort);
        if (m_row.fault) {
            m_row.fault(m_device);
        }
    }

    // The technician's hands beside the update: Exit, the window's close and the reset
    // button at the row's moments, and the bound on a wait nothing could end.
    void ScheduleTheHands() {
        const nanoseconds start = m_clock.Now();
        auto after = [this](nanoseconds delay) {
            return [this, delay] {
                return m_updateClicked && m_clock.Now() >= *m_updateClicked + delay;
            };
        };
        m_view.OnProcessEvents([this, start] {
            if (m_clock.Now() - start > kRunBound) {
                throw WaitedWithoutEnd{};
            }
        });
        if (m_row.exitClickAfter) {
            m_view.WhenClick(after(*m_row.exitClickAfter), Button::cmdExit,
                             [this] { m_main.cmdExit_Click(); });
        }
        if (m_row.closeAfter) {
            // The title bar's close reaches cmdExit_Click whether or not Exit is enabled.
            m_view.When(after(*m_row.closeAfter), [this] { m_main.cmdExit_Click(); });
        }
        if (m_row.resetByHandAfter) {
            m_view.When(after(*m_row.resetByHandAfter), [this] { m_device.ResetByHand(); });
        }
    }

    // Start-up, "OK", the serial number and "&Update"; sets the ending when the program
    // ended or the device was not taken.
    void Update() {
        m_technician.beforeUpdate = [this] {
            if (m_row.beforeUpdate) {
                m_row.beforeUpdate(m_device);
            }
            m_imageSent = m_main.Image();
            m_updateClicked = m_clock.Now();
        };
        try {
            m_technician.Update(m_main, m_view);
            if (!m_technician.clickedUpdate) {
                m_ending = Ending::NoUpdate;
            }
        } catch (const ProgramEnded&) {
            m_ending = Ending::ProgramEnded;
            m_endedAt = m_clock.Now();
        } catch (const WaitedWithoutEnd&) {
            FAIL() << "still waiting after " << kRunBound.count() / 1e9
                   << " s with nothing that could end the wait; messages: "
                   << testing::PrintToString(m_view.Messages());
        }
    }

    // No success without the image in the device, and the serial number with it.
    void CheckTheCompleteUpdate() {
        const auto expected = test::ProgramWords(m_imageSent);
        int wrongWords = 0;
        for (const auto& [address, word] : expected) {
            if (m_device.Word(address) != word && ++wrongWords <= 5) {
                ADD_FAILURE() << std::hex << "word 0x" << address << " holds 0x"
                              << m_device.Word(address) << ", the image has 0x" << word;
            }
        }
        EXPECT_EQ(wrongWords, 0)
            << "\"Update complete!\" with a device that differs from the image";
        EXPECT_EQ(m_device.RefusedWords(), 0) << "frames aimed at the bootloader's own words";
        EXPECT_EQ(
            m_device.FramesReceived(),
            static_cast<int>(test::BlocksOfUpdate(m_imageSent).size()) + m_row.repeatedFrames);

        const std::string serial =
            m_technician.askedForSerial ? m_row.typedSerial : m_row.firmware.serial;
        EXPECT_EQ(ReadSerialFromDevice(m_device), serial) << "the serial number was not kept";
        if (!m_row.identityFixed) {
            // The fresh identification after the update shows the new firmware.
            EXPECT_EQ(m_view.GetPanelText(kPanelSerial), serial);
            EXPECT_EQ(m_view.GetPanelText(kPanelRevision), test::InputTag().revision);
            EXPECT_EQ(m_view.GetPanelText(kPanelDate), test::InputTag().date);
        }
        EXPECT_EQ(m_view.Focus(), FocusTarget::cmdExit);
    }

    void CheckTheEnding() {
        if (*m_ending == Ending::TransferFailed) {
            EXPECT_TRUE(m_view.IsEnabled(Button::cmdExit)) << "Exit is the way out after a failure";
            if (m_row.framesAtFailure) {
                EXPECT_EQ(m_device.FramesReceived(), *m_row.framesAtFailure);
            }
            EXPECT_EQ(m_view.MessageBoxes(), std::vector<std::string>{"Update Error."});
        }
        if (*m_ending == Ending::ProgramEnded) {
            EXPECT_FALSE(m_link.PortOpen()) << "the port is released as the program ends";
            // A row that also closes the window clicks Exit only where Exit is disabled: the
            // click must not be what ended the program.
            const nanoseconds earliest =
                m_row.closeAfter ? *m_row.closeAfter : *m_row.exitClickAfter;
            ASSERT_TRUE(m_updateClicked.has_value());
            EXPECT_GE(m_endedAt - *m_updateClicked, earliest);
        }
        if (*m_ending == Ending::NoUpdate) {
            const auto& transcript = m_device.Transcript();
            EXPECT_TRUE(std::none_of(transcript.begin(), transcript.end(), [](const auto& entry) {
                return entry.kind == sim::EntryKind::ResetCommand;
            })) << "a device that was not taken must not be reset";
        }
    }

    sim::FakeClock m_clock;
    sim::SimulatedQ218 m_device{m_clock, m_row.firmware};
    sim::InMemoryLink m_link;
    test::FakeView m_view{m_clock};
    Main m_main{m_view, m_link, m_clock};
    test::Technician m_technician{.serial = m_row.typedSerial};
    FirmwareImage m_imageSent;
    std::optional<nanoseconds> m_updateClicked;
    std::optional<Ending> m_ending;
    nanoseconds m_endedAt{};
};

TEST_P(FaultMatrix, EndsAsExpectedAndNeverLosesTheDevice) {
    SCOPED_TRACE(m_row.name);
    ScheduleTheHands();
    ASSERT_NO_FATAL_FAILURE(Update());

    // How the run ended, as it returned it; the window must have shown the same.
    const auto& messages = m_view.Messages();
    const bool complete =
        std::find(messages.begin(), messages.end(), "Update complete!") != messages.end();
    const std::vector<std::string> boxes = m_view.MessageBoxes();
    if (!m_ending) {
        if (m_main.LastUpdate().ending == DownloadEnding::Finished) {
            m_ending = Ending::Finished;
            EXPECT_TRUE(complete);
        } else if (IsTransferFailure(m_main.LastUpdate().ending)) {
            m_ending = Ending::TransferFailed;
            EXPECT_EQ(boxes, std::vector<std::string>{"Update Error."});
        }
    }
    ASSERT_TRUE(m_ending.has_value())
        << "the update returned with neither ending; boxes: " << testing::PrintToString(boxes);
    EXPECT_EQ(*m_ending, m_row.expected);

    // Invariants of every row.
    EXPECT_FALSE(m_device.IsBricked()) << "the bootloader jump at words 0 to 2 is gone";
    EXPECT_TRUE(m_view.Violations().empty()) << testing::PrintToString(m_view.Violations());
    EXPECT_EQ(m_link.Misuses(), 0) << "a port operation the serial control would refuse";
    EXPECT_FALSE(m_view.IsEnabled(Button::cmdUpdate) && *m_ending != Ending::NoUpdate)
        << "one run of the updater serves one update";
    if (complete) {
        CheckTheCompleteUpdate();
    }
    CheckTheEnding();
}

// Frame `frame` answered BEL `times` times: sent again as often, and the update finishes.
Row BelRow(const char* name, int frame, int times) {
    return {.name = name,
            .fault = [frame, times](auto& d) { d.BelAfterFrame(frame, times); },
            .expected = Ending::Finished,
            .repeatedFrames = times};
}

const Row kRows[] = {
    {.name = "NoFault", .expected = Ending::Finished},
    {.name = "NoiseBeforeEnq",
     .fault = [](auto& d) { d.NoiseBeforeEnq("\r\nOK\x06T\x07 977\r\n"); },
     .expected = Ending::Finished},
    // A character right behind ENQ counts towards the two dropped after ACK, so the
    // handshake's second character is read as the first reply: refused before any frame.
    {.name = "CharacterRightBehindEnq",
     .fault = [](auto& d) { d.NoiseAfterEnq("x"); },
     .expected = Ending::TransferFailed,
     .framesAtFailure = 0},
    {.name = "TwoHandshakeCharactersThatLookLikeT",
     .fault = [](auto& d) { d.HandshakeCharacters("TT"); },
     .expected = Ending::Finished},
    BelRow("BelOnce", 5, 1),
    BelRow("BelOnTheFirstFrame", 0, 1),
    BelRow("Bel50TimesOnOneFrame", 7, 50),
    {.name = "CorruptedByte",
     .fault = [](auto& d) { d.CorruptByteInFrame(9); },
     .expected = Ending::Finished,
     .repeatedFrames = 1},
    {.name = "LowerCaseT",
     .fault = [](auto& d) { d.ReplyAfterFrame(11, 't'); },
     .expected = Ending::TransferFailed,
     .framesAtFailure = 12},
    {.name = "Garbage",
     .fault = [](auto& d) { d.ReplyAfterFrame(13, "\xA5Zq"); },
     .expected = Ending::TransferFailed,
     .framesAtFailure = 14},
    {.name = "SilenceBeforeEnqThenExit",
     .fault = [](auto& d) { d.SilentBeforeEnq(); },
     .expected = Ending::ProgramEnded,
     .exitClickAfter = 30s},
    {.name = "SilenceAfterEnqThenWindowClosed",
     .fault = [](auto& d) { d.SilentFromFrame(0); },
     .expected = Ending::ProgramEnded,
     // Exit is disabled once the bootloader has answered: the click does nothing.
     .exitClickAfter = 30s,
     .closeAfter = 60s},
    {.name = "SilenceMidTransferThenWindowClosed",
     .fault = [](auto& d) { d.SilentFromFrame(200); },
     .expected = Ending::ProgramEnded,
     .closeAfter = 60s},
    {.name = "UnplugBeforeTheReset",
     .beforeUpdate = [](auto& d) { d.Unplug(); },
     .expected = Ending::TransferFailed},
    {.name = "UnplugMidTransfer",
     .fault = [](auto& d) { d.UnplugAtFrame(100); },
     .expected = Ending::TransferFailed},
    {.name = "UnplugAtTheLastFrame",
     .fault = [](auto& d) { d.UnplugAtFrame(366); },
     .expected = Ending::TransferFailed},
    {.name = "IdentificationShortForm",
     .fault = [](auto& d) { d.IdentificationReply("Q218\r\n"); },
     .expected = Ending::Finished,
     .identityFixed = true},
    {.name = "IdentificationPlaceholderSerial",
     .firmware = Firmware("999999"),
     .expected = Ending::Finished},
    {.name = "IdentificationWithoutSerial", .firmware = Firmware(""), .expected = Ending::Finished},
    {.name = "IdentificationSerialNotSixDigits",
     .fault = [](auto& d) { d.IdentificationReply("12345 Q218 R04.5 2021-11-02 \r\n"); },
     .expected = Ending::Finished,
     .identityFixed = true},
    {.name = "IdentificationSixthField",
     .fault = [](auto& d) { d.IdentificationReply("123456 Q218 R04.5 2021-11-02 x y \r\n"); },
     .expected = Ending::NoUpdate},
    {.name = "IdentificationLowerCaseModel",
     .fault = [](auto& d) { d.IdentificationReply("123456 q218 R04.5 2021-11-02 \r\n"); },
     .expected = Ending::NoUpdate},
    {.name = "IdentificationAfterTheSettleDelay",
     .fault = [](auto& d) { d.ReplyDelay(3s); },
     .expected = Ending::NoUpdate},
    {.name = "BootloaderOnlyResetByHand",
     .fault = [](auto& d) { d.BreakApplication(); },
     .expected = Ending::Finished,
     .resetByHandAfter = 5s},
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

std::string RowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(EveryFault, FaultMatrix, testing::ValuesIn(kRows), RowName);

}  // namespace
}  // namespace q218
