#pragma once
// The window's serial port on QSerialPort. Received bytes reach Input only as the Qt event
// loop runs (every wait calls ProcessEvents); a vanished line closes the port at once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QSerialPort>

#include "link/PortNames.h"
#include "link/SerialLink.h"

namespace q218 {

// The line settings a Settings text stands for, e.g. "9600,n,8,1".
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Parses "baud,parity,data,stop" (parity n, e, o, m or s); nullopt when malformed.
std::optional<LineSettings> ParseLineSettings(std::string_view settings);

class QtSerialLink final : public SerialLink {
public:
    explicit QtSerialLink(PortNameMap portNames);
    ~QtSerialLink() override;
    QtSerialLink(const QtSerialLink&) = delete;
    QtSerialLink& operator=(const QtSerialLink&) = delete;

    bool PortOpen() const override;
    bool SetPortOpen(bool open) override;
    void SetCommPort(std::int16_t port) override;
    void SetInputLen(int length) override;
    void SetSettings(std::string_view settings) override;
    void Output(std::string_view bytes) override;
    std::string Input() override;
    int InBufferCount() const override;
    bool LineLost() const override;

private:
    void OnError(QSerialPort::SerialPortError error);

    PortNameMap m_portNames;
    QMetaObject::Connection m_errorConnection;
    QSerialPort m_port;
    std::int16_t m_commPort = 1;
    int m_inputLen = 0;
    LineSettings m_settings;
    bool m_lineLost = false;
};

}  // namespace q218
