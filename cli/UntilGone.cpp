#include "UntilGone.h"

#include "ConsoleLines.h"
#include "ConsoleView.h"
#include "FlashRun.h"
#include "Interrupt.h"
#include "app/Main.h"
#include "link/MonotonicClock.h"
#include "link/qt/QtSerialLink.h"

namespace q218::flash {

namespace {

// One identification query a second: an idle slot costs next to nothing, and a unit taken
// off the bench is noticed within seconds.
constexpr std::chrono::seconds kQueryInterval{1};
// Queries in a row without an answer before the unit counts as gone: a unit being reset by
// hand or a noisy cable misses one or two.
constexpr int kSilentQueries = 3;

}  // namespace

int WaitUntilGone(const FlashOptions& options, SlotEvents& events) {
    const std::string serial = options.batch.untilGone.value_or(std::string());
    const PortTarget target = ResolvePort(options.port.toStdString());
    ConsoleLines lines(stderr, true);
    ConsoleView view(lines);
    QtSerialLink link(target.names);
    SteadyClock clock;
    Main window(view, link, clock);
    bool terminated = false;
    SignalWatch watch([&](Signal signal) {
        if (signal != Signal::HangUp) {
            terminated = terminated || signal == Signal::Terminate;
            view.EndProgram();
        }
    });
    try {
        window.Form_Load();
        int silent = 0;
        while (true) {
            const DeviceInfo device = window.Port_Connect(target.number, target.shown);
            const char* why = nullptr;
            if (device.status == QueryStatus::NotOpened &&
                device.openError.failure == OpenFailure::NoSuchPort) {
                why = "port-removed";
            } else if (!device.IsQ218()) {
                why = ++silent >= kSilentQueries ? "no-answer" : nullptr;
            } else {
                silent = 0;
                if (device.IsComplete() && device.serial != serial) {
                    why = "other-unit";
                }
            }
            if (why != nullptr) {
                events.Emit("gone", {{"why", QString::fromLatin1(why)}});
                return kExitUpdated;
            }
            view.Wait(kQueryInterval);
        }
    } catch (const ProgramEnded&) {
        if (link.PortOpen()) {
            link.SetPortOpen(false);
        }
    }
    return terminated ? kExitTerminated : kExitInterrupted;
}

}  // namespace q218::flash
