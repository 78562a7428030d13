#include "soak/Soak.h"

#include <algorithm>
#include <optional>
#include <random>

#include "app/Main.h"
#include "support/ExpectedMemory.h"
#include "support/FakeView.h"

namespace q218::soak {

namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

constexpr std::int16_t kDevicePort = 3;
constexpr std::int16_t kEmptyPort = 1;
// A little past the image's 367 frames, so that some faults never strike.
constexpr int kFrameRange = 400;
// The technician closes the window after a minute in which nothing on it moved.
constexpr nanoseconds kPatience = 60s;
// No run of this image, BEL storms and the technician's minute included, comes near this; a
// run still going then waits with no way out.
constexpr nanoseconds kRunBound = 30min;

// Thrown from inside the updater's wait when kRunBound has passed.
struct Stuck {};

const std::vector<std::string>& ImageInput() {
    static const std::vector<std::string> lines = test::ReadImageInput();
    return lines;
}

bool IsOwnSerial(const std::string& serial) {
    return serial.size() == 6 && serial != "999999" &&
           serial.find_first_not_of("0123456789") == std::string::npos;
}

test::Memory ReadMemory(Rig& rig) {
    test::Memory memory;
    rig.WithDevice([&](sim::SimulatedQ218& device) {
        for (std::uint32_t a = 0; a < test::kProgramWords; ++a) {
            memory.words[a] = device.Word(a);
        }
        memory.config = device.Word(0x2007);
    });
    return memory;
}

// The serial number in the identification table: RETLW 'digit' from word 0x1F01 up to the
// space (an erased table holds none).
std::string SerialIn(const test::Memory& memory) {
    std::string serial;
    for (std::uint32_t a = 0x1F01; a < 0x1F10; ++a) {
        const std::uint16_t word = memory.words[a];
        if ((word & 0x3F00) != 0x3400 || (word & 0xFF) == ' ' || (word & 0xFF) == '\r') {
            break;
        }
        serial += static_cast<char>(word & 0xFF);
    }
    return serial;
}

Ending EndingOf(const test::FakeView& view) {
    const std::vector<std::string> boxes = view.MessageBoxes();
    const auto& messages = view.Messages();
    if (std::find(boxes.begin(), boxes.end(), "Update Error.") != boxes.end()) {
        return Ending::Error;
    }
    if (!boxes.empty()) {
        return Ending::Rejected;  // the goto message is the only other box of a run
    }
    if (std::find(messages.begin(), messages.end(), "Update complete!") != messages.end()) {
        return Ending::Complete;
    }
    return Ending::Stuck;
}

}  // namespace

Scenario Draw(std::uint64_t seed, bool withSilence) {
    std::mt19937_64 random(seed);
    const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto digits = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += static_cast<char>('0' + uniform(0, 9));
        }
        return text;
    };
    const auto bytes = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += static_cast<char>(uniform(0, 255));
        }
        return text;
    };
    const auto frame = [&] { return uniform(0, kFrameRange); };

    Scenario s;
    s.seed = seed;
    switch (uniform(0, 3)) {
        case 0:
            do {
                s.firmware.serial = digits(6);
            } while (s.firmware.serial == "999999");
            break;
        case 1:
            s.firmware.serial = "";
            break;
        case 2:
            s.firmware.serial = "999999";
            break;
        default:
            s.firmware.serial = digits(chance(0.5) ? uniform(1, 5) : uniform(7, 9));
    }
    s.bootloaderOnly = chance(0.25);
    if (chance(0.4)) {
        for (int i = uniform(1, 3); i > 0; --i) {
            s.faults.belAfterFrame[frame()] = chance(0.1) ? uniform(10, 60) : uniform(1, 3);
        }
    }
    if (chance(0.3)) {
        s.faults.noiseBeforeEnq = bytes(uniform(1, 12));
    }
    if (chance(0.1)) {
        s.faults.noiseAfterEnq = bytes(uniform(1, 3));
    }
    if (chance(0.2)) {
        s.faults.unplugAtFrame = frame();
    }
    if (withSilence && chance(0.15)) {
        s.faults.silentFromFrame = frame();
    }
    if (chance(0.3)) {
        s.faults.corruptFrame = frame();
    }
    if (chance(0.3)) {
        const char* wrong[] = {"", "12345", "000000", "12a456", "-12345", "1234567"};
        s.entries.emplace_back(wrong[uniform(0, 5)]);
    }
    std::string typed;
    do {
        typed = digits(6);
    } while (typed == "000000");
    s.entries.push_back(typed);
    s.confirmWithEnter = chance(0.5);
    s.resetAfter = std::chrono::milliseconds(uniform(200, 20'000));
    return s;
}

std::string Describe(const Scenario& s) {
    std::string text = "serial \"" + s.firmware.serial + "\"";
    text += s.bootloaderOnly ? ", bootloader only" : ", full program";
    const sim::Faults& f = s.faults;
    for (const auto& [k, times] : f.belAfterFrame) {
        text += ", BEL after frame " + std::to_string(k) + " x" + std::to_string(times);
    }
    if (!f.noiseBeforeEnq.empty()) {
        text += ", " + std::to_string(f.noiseBeforeEnq.size()) + " characters before ENQ";
    }
    if (!f.noiseAfterEnq.empty()) {
        text += ", " + std::to_string(f.noiseAfterEnq.size()) + " characters after ENQ";
    }
    const std::pair<const char*, std::optional<int>> atFrame[] = {
        {"adapter pulled at frame ", f.unplugAtFrame},
        {"silent from frame ", f.silentFromFrame},
        {"checksum refused at frame ", f.corruptFrame}};
    for (const auto& [what, k] : atFrame) {
        if (k) {
            text += ", " + std::string(what) + std::to_string(*k);
        }
    }
    for (const std::string& entry : s.entries) {
        text += ", types \"" + entry + "\"";
    }
    return text;
}

const char* EndingName(Ending ending) {
    switch (ending) {
        case Ending::Complete:
            return "Update complete!";
        case Ending::Error:
            return "Update Error.";
        case Ending::Rejected:
            return "Image rejected";
        case Ending::Closed:
            return "window closed";
        case Ending::Stuck:
            return "no ending";
    }
    return "?";
}

InMemoryRig::InMemoryRig(const sim::PreviousFirmware& firmware)
    : m_device(m_clock, firmware), m_link(m_clock) {
    m_link.Attach(kDevicePort, m_device);
    m_link.AddSilentPort(kEmptyPort);
}

Outcome RunAndCheck(const Scenario& s, Rig& rig) {
    rig.WithDevice([&](sim::SimulatedQ218& device) {
        if (s.bootloaderOnly) {
            device.BreakApplication();
        }
        device.SetFaults(s.faults);
    });
    const test::Memory before = ReadMemory(rig);
    test::FakeView view(rig.ViewClock());
    Main main(view, rig.Link(), rig.Clock());
    const MonotonicClock& clock = rig.Clock();

    // The technician watches the window: the reset button when asked for it, the window's
    // close (which works whatever is enabled) after a minute of nothing moving.
    const nanoseconds start = clock.Now();
    nanoseconds lastMove = start;
    std::size_t moves = 0;
    bool resetPressed = false;
    view.OnProcessEvents([&] {
        rig.BetweenPolls();
        const nanoseconds now = clock.Now();
        if (const std::size_t seen = view.Messages().size() + view.ProgressHistory().size();
            seen != moves) {
            moves = seen;
            lastMove = now;
        }
        if (!resetPressed && view.GetText(TextBox::Text2) == "Please reset Q218 to start update." &&
            now - lastMove >= s.resetAfter) {
            resetPressed = true;
            rig.WithDevice([](sim::SimulatedQ218& device) { device.ResetByHand(); });
        }
        if (now - start > kRunBound) {
            throw Stuck{};
        }
        if (now - lastMove > kPatience) {
            main.cmdExit_Click();
        }
    });

    Outcome outcome;
    std::string accepted;  // the entry the serial-number box took
    try {
        main.Form_Load();
        main.cmdOK_Click();
        for (const std::string& entry : s.entries) {
            if (view.IsVisible(TextBox::Text4)) {
                view.SetText(TextBox::Text4, entry);
                accepted = view.GetText(TextBox::Text4);  // the box keeps six characters
                s.confirmWithEnter ? main.Text4_KeyDown(kKeyEnter, 0) : main.cmdOK_Click();
            }
        }
        if (view.IsEnabled(Button::cmdUpdate)) {
            main.cmdUpdate_Click();
        }
        outcome.ending = EndingOf(view);
    } catch (const ProgramEnded&) {
        outcome.ending = Ending::Closed;
    } catch (const Stuck&) {
        outcome.ending = Ending::Stuck;
    }

    // The checks of every run, whatever its faults.
    const test::Memory after = ReadMemory(rig);
    const auto check = [&](bool holds, const std::string& what) {
        if (!holds) {
            outcome.broken.push_back(what);
        }
    };
    check(outcome.ending != Ending::Stuck, "no ending: messages " +
                                               std::to_string(view.Messages().size()) +
                                               ", last \"" + view.GetText(TextBox::Text2) + "\"");
    const std::string own = SerialIn(before);
    const std::string serial = IsOwnSerial(own) ? own : accepted;
    check(SerialIn(after) == own || SerialIn(after) == serial,
          "the device left with serial \"" + SerialIn(after) + "\"");
    check(std::equal(after.words.begin(), after.words.begin() + 3, sim::kBootloaderJump.begin()),
          "words 0 to 2 no longer jump to the bootloader");
    check(std::equal(after.words.begin() + sim::kBootloaderFirst, after.words.end(),
                     before.words.begin() + sim::kBootloaderFirst),
          "the bootloader's own words changed");
    check(view.Violations().empty(), "the window's rules broken");
    if (outcome.ending == Ending::Complete) {
        const auto blocks = test::BlocksOfUpdate(ImageInput(), serial);
        const test::MemoryDifference difference =
            test::Compare(after, test::AfterBlocks(before, blocks));
        check(difference.count == 0,
              "\"Update complete!\" with memory unlike the image:\n" + difference.firstFew);
        const std::string revision = test::TagFieldsOf(ImageInput()).at(2);
        check(view.GetPanelText("rev") == revision && view.GetPanelText("ser") == serial,
              "\"Update complete!\" but the device identifies as \"" + view.GetPanelText("ser") +
                  "\" \"" + view.GetPanelText("rev") + "\"");
    }
    return outcome;
}

void Tally::Add(const Scenario& scenario, const Outcome& outcome) {
    ++endings[static_cast<std::size_t>(outcome.ending)];
    for (const std::string& what : outcome.broken) {
        broken.push_back("seed " + std::to_string(scenario.seed) + ": " + what + " (" +
                         Describe(scenario) + ")");
    }
}

long Tally::Runs() const {
    long runs = 0;
    for (long count : endings) {
        runs += count;
    }
    return runs;
}

std::string Tally::Counts() const {
    std::string text;
    for (std::size_t e = 0; e < kEndings; ++e) {
        text += std::string(e ? ", " : "") + EndingName(static_cast<Ending>(e)) + ": " +
                std::to_string(endings[e]);
    }
    return text;
}

}  // namespace q218::soak
