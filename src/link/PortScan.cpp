#include "link/PortScan.h"

#include <string>

#include "link/SettleDelay.h"

namespace q218 {

namespace {

// The updater looks on COM1 to COM4 only; a device on a higher port is never found.
constexpr std::int16_t kFirstPort = 1;
constexpr std::int16_t kLastPort = 4;

}  // namespace

void Port_Scan(LinkContext& context, std::int16_t& portNumber, ReplyFields& fields) {
    UpdaterView& view = context.view;
    view.SetEnabled(Button::cmdOK, false);
    view.SetFocus(FocusTarget::cmdExit);

    for (std::int16_t n = kFirstPort; n <= kLastPort; ++n) {
        portNumber = n;
        view.SetText(TextBox::Text2, "Looking for Q218 on COM " + std::to_string(n) + ".");
        Detect(context, portNumber, fields);
        if (view.GetPanelText(kPanelModel) == kExpectedModel) {
            view.SetText(TextBox::Text2, "Q218 found on COM " + std::to_string(n));
            return;
        }
    }

    view.SetText(TextBox::Text2, kNotFoundMessage);
    SettleDelay(context.clock, view);
    view.SetText(TextBox::Text2, kConnectMessage);
    view.SetEnabled(Button::cmdOK, true);
    view.SetFocus(FocusTarget::cmdOK);
}

}  // namespace q218
