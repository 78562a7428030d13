#pragma once
// The window's one serial port, as the identification query and the download use it.
// Operation names follow the serial control properties they stand for (PortOpen,
// CommPort, InputLen, Settings, Output, Input, InBufferCount). Implementations: the Qt
// QSerialPort link (src/link/qt) and the simulated device's in-memory line (sim/).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace q218 {

// Why SetPortOpen(true) failed.
enum class OpenFailure {
    Unknown,           // the link does not tell
    NoSuchPort,        // no port of that name (an adapter not plugged in)
    PermissionDenied,  // the account may not open it
    Busy,              // another program holds it
    Other,
};

struct OpenError {
    OpenFailure failure = OpenFailure::Unknown;
    std::string path;    // the system's name of the port tried ("/dev/ttyS2", "COM3"); may be empty
    std::string detail;  // the system's own words, for a person
};

// What SetPortOpen did: the port is as asked, or why it would not open. Tested as a bool
// (true: as asked), so that a caller which only needs to know whether it may go on reads as
// the property did, and one that tells the technician why has the reason in the same value.
struct OpenResult {
    std::optional<OpenError> error;  // set only when an open failed

    bool Opened() const { return !error.has_value(); }
    explicit operator bool() const { return Opened(); }
};

enum class Parity { None, Even, Odd };
enum class StopBits { One, Two };

// The line's speed and character framing.
struct LineSettings {
    std::int32_t baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;  // 5 to 8
    StopBits stopBits = StopBits::One;

    friend constexpr bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The only line settings the updater ever uses: 9600 baud, no parity, 8 data bits, 1 stop bit.
inline constexpr LineSettings kLineSettings{};

class SerialLink {
public:
    virtual ~SerialLink() = default;

    // True while the port is open.
    virtual bool PortOpen() const = 0;
    // true: opens CommPort with the current Settings, buffers empty; fails with the reason
    // when the port does not exist, the account may not open it or another program holds it
    // (the port then stays closed).
    // false: closes the port and discards unread input; never fails.
    virtual OpenResult SetPortOpen(bool open) = 0;

    // Selects the port (1 to 4, COM1 to COM4) for the next open; only while closed.
    virtual void SetCommPort(std::int16_t port) = 0;
    // Characters one Input returns: 0 = everything waiting, 1 = at most the oldest one.
    virtual void SetInputLen(int length) = 0;
    // Applied by the next open; the updater always gives kLineSettings.
    virtual void SetSettings(const LineSettings& settings) = 0;

    // Sends each character as one byte (its code), in order, and returns without waiting
    // for an answer. The bytes may only be queued: they are handed to the OS at the latest
    // in the next ProcessEvents or ProcessEventsFor (or when the port closes), so a caller
    // that waits for an answer waits through one of those, never by sleeping.
    virtual void Output(std::string_view bytes) = 0;
    // Removes and returns waiting characters, limited by InputLen; empty when none; never
    // waits. Received bytes become visible only as events are processed (ProcessEvents).
    virtual std::string Input() = 0;
    // Number of received characters waiting.
    virtual int InBufferCount() const = 0;
    // Number of characters given to Output that have not yet reached the OS; they leave as
    // events are processed. A link that hands every byte over at once holds none.
    virtual int OutBufferCount() const { return 0; }

    // True once the line vanished under an open port (a USB adapter pulled out, the
    // device's end closed); the port is then closed. Cleared by the next successful open.
    virtual bool LineLost() const = 0;
};

}  // namespace q218
