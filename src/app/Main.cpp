#include "app/Main.h"

#include <algorithm>

#include "download/DownloadRun.h"
#include "link/PortScan.h"

namespace q218 {

namespace {

constexpr std::size_t kSerialDigits = 6;

bool IsSixDigits(std::string_view text) {
    return text.size() == kSerialDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsValidSerialEntry(std::string_view text) {
    // Six digits can never exceed 999999; "000000" is the one six-digit text below 1.
    return IsSixDigits(text) && text != "000000";
}

bool IsUsableDeviceSerial(std::string_view text) {
    return IsSixDigits(text);
}

bool KeepsDeviceSerial(std::string_view text) {
    return IsUsableDeviceSerial(text) && text != kPlaceholderSerial;
}

Main::Main(UpdaterView& view, SerialLink& link, const MonotonicClock& clock)
    : m_view(view), m_link(link), m_context{link, view, clock} {}

void Main::Form_Load() {
    m_view.SetText(TextBox::Text3, "");
    m_expectedModel = std::string(kExpectedModel);
    m_view.SetProgress(0.0F);
    m_view.SetText(TextBox::Text2, kConnectMessage);
    m_image = Image_Build();
    const TagReading tag = Tag_Read(m_image);
    m_view.SetText(TextBox::Text3, tag.versionLine);
    m_tag = TagOf(tag.fields);
}

void Main::cmdOK_Click() {
    // The box is shown only while a typed serial number is awaited: "OK" then confirms it.
    if (m_view.IsVisible(TextBox::Text4)) {
        Serial_Check();
        return;
    }
    m_scan = Port_Scan(m_context, m_portNumber, m_replyFields);
    Serial_Settle();
}

DeviceInfo Main::Port_Connect(std::int16_t port, std::string_view portName) {
    m_view.SetEnabled(Button::cmdOK, false);
    m_portNumber = port;
    m_view.SetText(TextBox::Text2, LookingMessage(portName));
    DeviceInfo device = Detect(m_context, m_portNumber, m_replyFields);
    if (m_view.GetPanelText(kPanelModel) == kExpectedModel) {
        m_view.SetText(TextBox::Text2, FoundMessage(portName));
    }
    return device;
}

void Main::Serial_Settle() {
    if (m_view.GetPanelText(kPanelModel) != m_expectedModel) {
        return;
    }
    const std::string serial = m_view.GetPanelText(kPanelSerial);
    // None, the factory placeholder, or a serial the record cannot carry as it stands (not six
    // digits), which would leave the old record in the image, or a truncated number, and the
    // device would be written with a serial number that is not its own: ask for it instead.
    if (!KeepsDeviceSerial(serial)) {
        AskForSerial();
        return;
    }
    // The box stays hidden: it only hands the number to the record.
    m_view.SetText(TextBox::Text4, serial);
    // Six digits always patch the built image's serial record: the result tells nothing new.
    static_cast<void>(Serial_Patch());
    // The message line keeps the scan's "Q218 found on COM n" and "OK" stays disabled.
    m_view.SetEnabled(Button::cmdUpdate, true);
    m_view.SetFocus(FocusTarget::cmdUpdate);
}

void Main::AskForSerial() {
    m_view.SetText(TextBox::Text2, kEnterSerialMessage);
    m_view.SetText(TextBox::Text4, "");
    m_view.SetVisible(TextBox::Text4, true);
    m_view.SetFocus(FocusTarget::Text4);
    m_view.SetEnabled(Button::cmdOK, true);
}

void Main::Text4_KeyDown(std::int16_t keyCode, int /*shift*/) {
    // Shift, Ctrl and Alt are ignored: Shift+Enter confirms as well.
    if (keyCode == kKeyEnter) {
        Serial_Check();
    }
}

void Main::Serial_Check() {
    const std::string entry = m_view.GetText(TextBox::Text4);
    if (!IsValidSerialEntry(entry)) {
        // The message line keeps "Enter serial number." and "OK" stays enabled.
        m_view.SetText(TextBox::Text4, "");
        m_view.Beep();
        m_view.SetFocus(FocusTarget::Text4);
        return;
    }
    Serial_Accept();
}

void Main::Serial_Restore(std::string_view serial) {
    if (!m_view.IsVisible(TextBox::Text4) || !IsUsableDeviceSerial(serial)) {
        return;
    }
    m_view.SetText(TextBox::Text4, serial);
    Serial_Accept();
}

void Main::Serial_Accept() {
    m_view.SetVisible(TextBox::Text4, false);
    // Checked as six digits by the callers, so the record is always patched in the built image.
    static_cast<void>(Serial_Patch());
    m_view.SetText(TextBox::Text2, kReadyMessage);
    m_view.SetEnabled(Button::cmdOK, false);
    m_view.SetEnabled(Button::cmdUpdate, true);
    m_view.SetFocus(FocusTarget::cmdUpdate);
}

PatchResult Main::Serial_Patch() {
    const std::string entry = m_view.GetText(TextBox::Text4);
    const PatchResult result = q218::Serial_Patch(m_image, entry);
    if (result != PatchResult::NotDigits) {
        m_view.SetText(TextBox::Text4, "");
    }
    if (result == PatchResult::Replaced) {
        m_serialWritten = entry.substr(0, kSerialDigits);
    }
    return result;
}

void Main::cmdUpdate_Click() {
    // The run shows its own ending (message line, message box, buttons); the window logic
    // only keeps its account, which the run updates as it goes.
    RunDownload(m_context, m_image, m_portNumber, m_replyFields, m_update);
}

void Main::cmdExit_Click() {
    // Released without sending anything.
    if (m_link.PortOpen()) {
        m_link.SetPortOpen(false);
    }
    throw ProgramEnded{};
}

}  // namespace q218
