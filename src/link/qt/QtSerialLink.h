#pragma once
// The window's serial port on QSerialPort. Received bytes reach Input, and bytes given to
// Output reach the OS, only as the Qt event loop runs (every wait calls ProcessEvents; a
// close sends what is still queued first); a vanished line closes the port at once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QSerialPort>

#include "link/PortNames.h"
#include "link/SerialLink.h"

namespace q218 {

class QtSerialLink final : public SerialLink {
public:
    explicit QtSerialLink(PortNameMap portNames);
    ~QtSerialLink() override;
    QtSerialLink(const QtSerialLink&) = delete;
    QtSerialLink& operator=(const QtSerialLink&) = delete;

    bool PortOpen() const override;
    OpenResult SetPortOpen(bool open) override;
    void SetCommPort(std::int16_t port) override;
    void SetInputLen(int length) override;
    void SetSettings(const LineSettings& settings) override;
    void Output(std::string_view bytes) override;
    std::string Input() override;
    int InBufferCount() const override;
    int OutBufferCount() const override;
    bool LineLost() const override;

private:
    void OnError(QSerialPort::SerialPortError error);
    // Puts the port's driver flags back as the open found them, then closes it.
    void ClosePort();

    // Marks one call of ours into QSerialPort, which may raise errorOccurred before it
    // returns; a close that OnError asks for meanwhile waits for the outermost call's end.
    class PortCall {
    public:
        explicit PortCall(QtSerialLink& link);
        ~PortCall();
        PortCall(const PortCall&) = delete;
        PortCall& operator=(const PortCall&) = delete;

    private:
        QtSerialLink& m_link;
    };

    PortNameMap m_portNames;
    QMetaObject::Connection m_errorConnection;
    QSerialPort m_port;
    std::int16_t m_commPort = 1;
    int m_inputLen = 0;
    bool m_lineLost = false;
    int m_callDepth = 0;
    bool m_closeDue = false;
    LineSettings m_settings = kLineSettings;
    // The driver flags the open found, while the open changed them.
    std::optional<int> m_flagsFound;
};

}  // namespace q218
