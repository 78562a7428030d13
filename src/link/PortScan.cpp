#include "link/PortScan.h"

#include <string>

#include "link/SettleDelay.h"

namespace q218 {

namespace {

// The updater looks on COM1 to COM4 only; a device on a higher port is never found.
constexpr std::int16_t kFirstPort = 1;
constexpr std::int16_t kLastPort = 4;

// The scan names port n as "COM " and the number.
std::string ScanName(std::int16_t n) {
    return "COM " + std::to_string(n);
}

}  // namespace

std::string LookingMessage(std::string_view portName) {
    return "Looking for Q218 on " + std::string(portName) + ".";
}

std::string FoundMessage(std::string_view portName) {
    return "Q218 found on " + std::string(portName);
}

ScanResult Port_Scan(LinkContext& context, std::int16_t& portNumber, ReplyFields& fields) {
    UpdaterView& view = context.view;
    ScanResult result;
    view.SetEnabled(Button::cmdOK, false);
    view.SetFocus(FocusTarget::cmdExit);

    for (std::int16_t n = kFirstPort; n <= kLastPort; ++n) {
        portNumber = n;
        view.SetText(TextBox::Text2, LookingMessage(ScanName(n)));
        result.ports.push_back(Detect(context, portNumber, fields));
        if (view.GetPanelText(kPanelModel) == kExpectedModel) {
            view.SetText(TextBox::Text2, FoundMessage(ScanName(n)));
            return result;
        }
    }

    view.SetText(TextBox::Text2, kNotFoundMessage);
    SettleDelay(context.clock, view);
    view.SetText(TextBox::Text2, kConnectMessage);
    view.SetEnabled(Button::cmdOK, true);
    view.SetFocus(FocusTarget::cmdOK);
    return result;
}

}  // namespace q218
