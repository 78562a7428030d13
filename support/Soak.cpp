#include "support/Soak.h"

#include <algorithm>
#include <random>
#include <utility>

#include "app/Main.h"
#include "sim/InMemoryLink.h"
#include "support/DeviceMemory.h"
#include "support/ExpectedMemory.h"
#include "support/FakeView.h"
#include "support/Technician.h"

namespace q218::soak {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

constexpr nanoseconds kPatience = 60s;
constexpr nanoseconds kRunBound = 30min;  // far beyond any run that can end: thrown as Stuck
struct Stuck {};

std::pair<test::Memory, std::string> MemoryAndSerial(Rig& rig) {
    std::pair<test::Memory, std::string> read;
    rig.withDevice([&](sim::SimulatedQ218& device) {
        read.first = test::MemoryOf(device);
        read.second = device.TableSerial();
    });
    return read;
}

}  // namespace

Scenario Draw(std::uint64_t seed, bool withSilence) {
    std::mt19937_64 random(~seed);  // the technician's own draws, apart from the device's
    Scenario s{seed, sim::DrawDevice(seed, withSilence),
               std::to_string(std::uniform_int_distribution(1, 999999)(random)),
               std::chrono::milliseconds(std::uniform_int_distribution(200, 20'000)(random))};
    s.typed.insert(0, 6 - s.typed.size(), '0');
    return s;
}

std::string Tally::Counts() const {
    std::string text;
    for (std::size_t e = 0; e < endings.size(); ++e) {
        text += (e ? ", " : "") + std::string(kEndingNames[e]) + ": " + std::to_string(endings[e]);
    }
    return text;
}

void RunAndCheck(const Scenario& s, Rig& rig, Tally& tally) {
    rig.withDevice([&](sim::SimulatedQ218& device) { s.device.ApplyTo(device); });
    const auto [before, own] = MemoryAndSerial(rig);
    test::FakeView view(rig.viewClock);
    Main main(view, rig.link, rig.clock);

    // The technician watches the window: presses reset when asked to, and closes the window
    // (which ends the program whatever is enabled) after a minute in which nothing moved.
    const nanoseconds start = rig.clock.Now();
    nanoseconds lastMove = start;
    std::size_t moves = 0;  // texts and progress the window has shown
    bool resetPressed = false;
    view.OnProcessEvents([&] {
        rig.betweenWaits();
        const nanoseconds now = rig.clock.Now();
        if (std::exchange(moves, view.Messages().size() + view.ProgressHistory().size()) != moves) {
            lastMove = now;
        }
        if (!resetPressed && view.GetText(TextBox::Text2) == "Please reset Q218 to start update." &&
            now - lastMove >= s.resetAfter) {
            resetPressed = true;
            rig.withDevice([](sim::SimulatedQ218& device) { device.ResetByHand(); });
        }
        if (now - start > kRunBound) {
            throw Stuck{};
        }
        if (now - lastMove > kPatience) {
            main.cmdExit_Click();
        }
    });

    Ending ending = Ending::None;
    try {
        test::Technician{s.typed}.Update(main, view);
        const DownloadEnding ended = main.LastUpdate().ending;
        if (ended == DownloadEnding::Finished) {
            ending = Ending::Complete;
        } else if (ended == DownloadEnding::ImageRejected) {
            ending = Ending::Rejected;
        } else if (IsTransferFailure(ended)) {
            ending = Ending::Error;
        }
    } catch (const ProgramEnded&) {
        ending = Ending::Closed;
    } catch (const Stuck&) {  // ending stays None
    }
    ++tally.endings[static_cast<std::size_t>(ending)];

    const auto [after, left] = MemoryAndSerial(rig);
    const auto check = [&](bool holds, const std::string& what) {
        if (!holds) {
            tally.broken.push_back("seed " + std::to_string(s.seed) + ": " + what);
        }
    };
    check(ending != Ending::None, "no ending at \"" + view.GetText(TextBox::Text2) + "\"");
    const bool hadOne = KeepsDeviceSerial(own);
    const std::string serial = hadOne ? own : s.typed;
    check(left == own || left == serial, "the device left with serial \"" + left + "\"");
    check(std::equal(sim::kBootloaderJump.begin(), sim::kBootloaderJump.end(), after.words.begin()),
          "words 0 to 2 no longer jump to the bootloader");
    check(std::equal(after.words.begin() + sim::kBootloaderFirst, after.words.end(),
                     before.words.begin() + sim::kBootloaderFirst),
          "the bootloader's own words changed");
    check(view.Violations().empty(), "the window's rules broken");
    if (ending == Ending::Complete) {
        const std::vector<std::string> image = test::ReadImageInput();
        const auto difference =
            test::Compare(after, test::AfterBlocks(before, test::BlocksOfUpdate(image, serial)));
        check(difference.count == 0,
              "\"Update complete!\" but memory differs: " + difference.firstFew);
        const DeviceInfo& identified = main.LastUpdate().after;
        check(identified.revision == main.Tag().revision && identified.serial == serial,
              "\"Update complete!\" but the device identifies as " + identified.serial + " " +
                  identified.revision);
    }
}

void RunInMemory(const Scenario& scenario, Tally& tally) {
    sim::FakeClock clock;
    sim::SimulatedQ218 device(clock, scenario.device.firmware);
    sim::InMemoryLink link;
    link.Attach(3, device);
    link.AddSilentPort(1);
    Rig rig{link, clock, clock, [&](const auto& action) { action(device); }};
    RunAndCheck(scenario, rig, tally);
}

}  // namespace q218::soak
