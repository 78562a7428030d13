#include "link/PortScan.h"

#include <string>

#include "link/PortAccess.h"
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

std::string PortReason(const DeviceInfo& port) {
    if (port.status != QueryStatus::NotOpened) {
        return std::string(port.reply.empty() ? kSilentReason : kNotQ218Reason);
    }
    const OpenError& error = port.openError;
    switch (error.failure) {
        case OpenFailure::NoSuchPort:
            return std::string(kNoSuchPortReason);
        case OpenFailure::PermissionDenied:
            return PermissionAdvice(error.path);
        case OpenFailure::Busy:
            return std::string(kBusyReason);
        case OpenFailure::Unknown:
        case OpenFailure::Other:
            break;
    }
    return error.detail.empty() ? std::string(kNotOpenedReason)
                                : std::string(kNotOpenedBecause) + error.detail;
}

std::string NotFoundDetail(const ScanResult& scan) {
    std::string detail;
    for (std::size_t i = 0; i < scan.ports.size(); ++i) {
        const DeviceInfo& port = scan.ports[i];
        detail += detail.empty() ? "" : "\n";
        detail += ScanName(static_cast<std::int16_t>(kFirstPort + static_cast<int>(i)));
        if (!port.openError.path.empty()) {
            detail += " (" + port.openError.path + ")";
        }
        detail += ": " + PortReason(port);
    }
    return detail;
}

ScanResult Port_Scan(LinkContext& context, std::int16_t& portNumber, ReplyFields& fields) {
    UpdaterView& view = context.view;
    ScanResult result;
    view.SetDetail(TextBox::Text2, "");
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
    // Kept through the connect message that follows: "Q218 not found." lasts one settle
    // delay, too short for a technician to point at it.
    view.SetDetail(TextBox::Text2, NotFoundDetail(result));
    SettleDelay(context.clock, view);
    view.SetText(TextBox::Text2, kConnectMessage);
    view.SetEnabled(Button::cmdOK, true);
    view.SetFocus(FocusTarget::cmdOK);
    return result;
}

}  // namespace q218
