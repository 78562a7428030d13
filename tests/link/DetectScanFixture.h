// The bench of the identification query and the port scan: the simulated Q218 on the in-memory
// line, on a fake clock that the fake window's ProcessEvents advances.

#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/Identification.h"
#include "link/PortScan.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/FakeView.h"

namespace q218::test {

using Panels = std::array<std::string, 4>;  // mod, ser, rev, dat

inline const sim::PreviousFirmware kFirmware{
    .serial = "123456", .revision = "R04.5", .date = "2021-11-02", .model = "Q218"};
inline const Panels kUntouched{"untouched-mod", "untouched-ser", "untouched-rev", "untouched-dat"};
inline const Panels kEmptyPanels{"", "", "", ""};
// What the window shows of kFirmware's identification.
inline const Panels kDevicePanels{"Q218", "123456", "R04.5", "2021-11-02"};

struct DetectScanBench {
    sim::FakeClock clock;
    FakeView view{clock};
    sim::InMemoryLink link;
    LinkContext context{link, view, clock};
    ReplyFields fields;
    std::int16_t portNumber = 0;
    // The device most tests attach; tests with more devices make their own.
    sim::SimulatedQ218 device{clock, kFirmware};

    // These tests read what the window shows, not the query's result.
    void Query(std::int16_t port) { static_cast<void>(Detect(context, port, fields)); }
    // Likewise the window and the port the scan settles on, not the scan's result.
    void Scan() { static_cast<void>(Port_Scan(context, portNumber, fields)); }

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

}  // namespace q218::test
