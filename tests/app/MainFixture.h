// The window logic on the headless view, with simulated devices on the in-memory line, and
// the window's state as the workflow's state tables describe it.

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Main.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "sim/SimulatedQ218.h"
#include "support/FakeView.h"
#include "support/ImageInput.h"

namespace q218::test {

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
// Where the image input carries the serial record; inline, so the file is read once for the
// whole test program.
inline const std::size_t kSerialRecordIndex = SerialIndexOf(ReadImageInput());

// A wait that would never end fails the test instead of hanging it.
constexpr long kProcessEventsLimit = 5'000'000;
struct WaitHung {};

// The window logic on a headless view, with devices wired to COM ports as a test needs.
struct MainBench {
    MainBench() {
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

    // The window as it opens, and the technician's first "OK": the scan for the device.
    void StartAndConnect() {
        Start();
        main.cmdOK_Click();
    }

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
    FakeView view{clock};
    sim::InMemoryLink link;
    std::vector<std::unique_ptr<sim::SimulatedQ218>> devices;
    Main main{view, link, clock};
};

// The device reported no serial number; the technician types into the box.
struct SerialEntryBench : MainBench {
    SerialEntryBench() {
        AddDevice(3, "");
        StartAndConnect();
    }
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

inline WindowState StateOf(const FakeView& view) {
    return {view.GetText(TextBox::Text2),      view.IsEnabled(Button::cmdOK),
            view.IsEnabled(Button::cmdUpdate), view.IsEnabled(Button::cmdExit),
            view.IsVisible(TextBox::Text4),    view.Focus()};
}

inline void PrintTo(const WindowState& s, std::ostream* os) {
    *os << "{\"" << s.message << "\" ok=" << s.ok << " update=" << s.update << " exit=" << s.exit
        << " box=" << s.serialBox << " focus=" << (s.focus ? static_cast<int>(*s.focus) : -1)
        << "}";
}

const WindowState kWaitingForConnect{kConnect, true, false, true, false, FocusTarget::cmdOK};
const WindowState kWaitingForSerial{kEnterSerial, true, false, true, true, FocusTarget::Text4};
const WindowState kReadyTyped{kReady, false, true, true, false, FocusTarget::cmdUpdate};
const WindowState kReadyFromDevice{kFoundOn3, false, true, true, false, FocusTarget::cmdUpdate};

}  // namespace q218::test
