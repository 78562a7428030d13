#pragma once
// The updater's window logic: start-up, the connect step, the serial-number entry and Exit.
// Plain C++: it drives the window only through UpdaterView and the port only through
// SerialLink, so the tests run it with a headless view and the simulated device.
//
// Who calls whom:
//   the view (Qt window or test fake) -> Main's handlers (WindowEvents)
//   Form_Load      -> Image_Build, Tag_Read (image)
//   cmdOK_Click    -> Port_Scan -> Detect -> SettleDelay (link); then Serial_Settle ->
//                     Serial_Patch (image) or the box asks for the number
//   Port_Connect   -> Detect on one named port (the console's PORT), instead of the scan
//   Text4_KeyDown  -> Serial_Check -> Serial_Patch (image)
//   cmdUpdate_Click -> RunDownload (download) -> Record_Send, Detect
//   cmdExit_Click  -> closes the port and throws ProgramEnded, which every event dispatch of
//                     the view catches; a wait nested under another handler throws it again,
//                     so the program ends at the outermost dispatch
// The workflow keeps no state of its own: which buttons are enabled, whether Text4 is shown
// and the panels' texts are its state, and they live in the view.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/Messages.h"
#include "app/UpdaterView.h"
#include "app/WindowEvents.h"
#include "download/DownloadRun.h"
#include "image/FirmwareImage.h"
#include "link/Identification.h"
#include "link/LinkContext.h"
#include "link/PortScan.h"

namespace q218 {

// What a device without a serial number of its own reports: the factory placeholder.
inline constexpr std::string_view kPlaceholderSerial = "999999";

// The only text a typed serial number may be: six decimal digits, value 1 to 999999. Blanks,
// signs, decimal points and exponents are refused, because the serial record is built from
// the box's first six characters as they stand.
bool IsValidSerialEntry(std::string_view text);

// A serial number the device reported that the image's record can carry as it stands: six
// decimal digits. Anything else is asked for as if the device had none.
bool IsUsableDeviceSerial(std::string_view text);

// Whether the update keeps the serial number the device reported: usable, and not the factory
// placeholder. For any other the technician is asked for the unit's number.
bool KeepsDeviceSerial(std::string_view text);

class Main final : public WindowEvents {
public:
    Main(UpdaterView& view, SerialLink& link, const MonotonicClock& clock);

    // Start-up, once, with the window already on screen: builds the image and shows its
    // version line; the window is then waiting for the device to be connected.
    void Form_Load();

    // WindowEvents
    void cmdOK_Click() override;
    void cmdUpdate_Click() override;
    // Releases the port and ends the program by throwing ProgramEnded.
    void cmdExit_Click() override;
    void Text4_KeyDown(std::int16_t keyCode, int shift) override;

    // The connect step on the one port a caller names (the console's PORT), in place of
    // "OK"'s scan over COM1 to COM4: the same query and the same messages, with `portName`
    // where the scan shows "COM " and the number. Leaves the serial number to Serial_Settle.
    DeviceInfo Port_Connect(std::int16_t port, std::string_view portName);
    // After a scan or Port_Connect: when the "mod" panel shows the expected model, puts the
    // device's own serial number into the image and enables "&Update", or asks for the number
    // (the box shown, "OK" enabled).
    void Serial_Settle();

    // Checks the typed serial number: refused with an emptied box and a beep, or written
    // into the image with "&Update" enabled.
    void Serial_Check();
    // While the number is asked for: writes back one the device reported before and lost
    // with its application (a failed update's recovery from a terminal), as Serial_Check
    // writes a typed one. Any six digits: also 000000, which a device programmed straight
    // from the image reports and keeps, but which nobody may type. Does nothing otherwise.
    void Serial_Restore(std::string_view serial);

    // How long "&Update" waits for the bootloader's answers; zero (the window's way): without
    // a limit.
    void SetReplyLimit(std::chrono::nanoseconds limit) { m_context.replyLimit = limit; }

    // The window object is destroyed: nothing to do, nothing is saved.
    void Form_Terminate() {}

    // What the logic did, typed, for the faces, benches and tests: they read these, never
    // the window's texts back.
    std::int16_t PortNumber() const { return m_portNumber; }
    const std::string& ExpectedModel() const { return m_expectedModel; }
    const FirmwareImage& Image() const { return m_image; }
    const ImageTag& Tag() const { return m_tag; }
    // The last "OK" scan, port by port.
    const ScanResult& LastScan() const { return m_scan; }
    // The last "&Update", kept up to date while it runs: a caller reads how far it got also
    // when Exit or Ctrl+C cut it short. Ending Unfinished before the first.
    const DownloadResult& LastUpdate() const { return m_update; }
    // The serial number Serial_Settle or Serial_Check last wrote into the image; empty when
    // none was.
    const std::string& SerialWritten() const { return m_serialWritten; }

private:
    // Reads Text4, writes its serial record into the image and empties the box; leaves both
    // unchanged when the box does not begin with six digits.
    [[nodiscard]] PatchResult Serial_Patch();
    // The state Waiting for serial number: the box shown empty and focused, "OK" enabled.
    void AskForSerial();
    // The number in the box is six digits: into the image, and on to "&Update".
    void Serial_Accept();

    UpdaterView& m_view;
    SerialLink& m_link;
    LinkContext m_context;
    std::int16_t m_portNumber = 0;
    std::string m_expectedModel;
    ImageTag m_tag;
    ReplyFields m_replyFields{};
    FirmwareImage m_image;
    ScanResult m_scan;
    DownloadResult m_update;
    std::string m_serialWritten;
};

}  // namespace q218
