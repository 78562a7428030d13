#include "link/qt/QtSerialLink.h"

#include <charconv>
#include <utility>
#include <vector>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace q218 {

namespace {

// USB serial adapters hold received bytes for up to their latency timer (16 ms by default)
// before passing them on; the download waits for ~370 one-character acknowledgements, so
// the timer would add seconds. Best effort: a pty or a built-in UART does not support it.
void RequestLowLatency([[maybe_unused]] auto handle) {
#ifdef __linux__
    serial_struct info{};
    if (::ioctl(handle, TIOCGSERIAL, &info) == 0) {
        info.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(handle, TIOCSSERIAL, &info);
    }
#endif
}

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t comma = text.find(','); comma != std::string_view::npos;
         comma = text.find(',')) {
        parts.push_back(text.substr(0, comma));
        text.remove_prefix(comma + 1);
    }
    parts.push_back(text);
    return parts;
}

std::optional<int> WholeNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::string_view settings) {
    const std::vector<std::string_view> parts = SplitAtCommas(settings);
    if (parts.size() != 4 || parts[1].size() != 1) {
        return std::nullopt;
    }
    LineSettings line;
    const std::optional<int> baud = WholeNumber(parts[0]);
    const std::optional<int> data = WholeNumber(parts[2]);
    if (!baud || !data || *data < 5 || *data > 8) {
        return std::nullopt;
    }
    line.baudRate = *baud;
    line.dataBits = static_cast<QSerialPort::DataBits>(*data);

    switch (parts[1][0]) {
        case 'n':
        case 'N':
            line.parity = QSerialPort::NoParity;
            break;
        case 'e':
        case 'E':
            line.parity = QSerialPort::EvenParity;
            break;
        case 'o':
        case 'O':
            line.parity = QSerialPort::OddParity;
            break;
        case 'm':
        case 'M':
            line.parity = QSerialPort::MarkParity;
            break;
        case 's':
        case 'S':
            line.parity = QSerialPort::SpaceParity;
            break;
        default:
            return std::nullopt;
    }

    if (parts[3] == "1") {
        line.stopBits = QSerialPort::OneStop;
    } else if (parts[3] == "1.5") {
        line.stopBits = QSerialPort::OneAndHalfStop;
    } else if (parts[3] == "2") {
        line.stopBits = QSerialPort::TwoStop;
    } else {
        return std::nullopt;
    }
    return line;
}

QtSerialLink::QtSerialLink(PortNameMap portNames) : m_portNames(std::move(portNames)) {
    m_errorConnection =
        QObject::connect(&m_port, &QSerialPort::errorOccurred,
                         [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialLink::~QtSerialLink() {
    // The handler must not run while the port is being destroyed.
    QObject::disconnect(m_errorConnection);
    if (m_port.isOpen()) {
        m_port.close();
    }
}

bool QtSerialLink::PortOpen() const {
    return m_port.isOpen();
}

bool QtSerialLink::SetPortOpen(bool open) {
    if (m_port.isOpen()) {
        // Closing drops whatever was received and not read.
        m_port.close();
    }
    if (!open) {
        return true;
    }

    const std::string name = m_portNames ? m_portNames(m_commPort) : std::string();
    if (name.empty()) {
        return false;
    }
    m_port.setPortName(QString::fromStdString(name));
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        return false;
    }
    RequestLowLatency(m_port.handle());
    // Bytes the OS took in before this open belong to no query of ours.
    m_port.clear();
    m_lineLost = false;
    return true;
}

void QtSerialLink::SetCommPort(std::int16_t port) {
    if (!m_port.isOpen()) {
        m_commPort = port;
    }
}

void QtSerialLink::SetInputLen(int length) {
    m_inputLen = length < 0 ? 0 : length;
}

void QtSerialLink::SetSettings(std::string_view settings) {
    // A malformed text keeps the previous settings; the updater only ever passes
    // kLineSettings.
    if (const std::optional<LineSettings> parsed = ParseLineSettings(settings)) {
        m_settings = *parsed;
    }
}

void QtSerialLink::Output(std::string_view bytes) {
    if (!m_port.isOpen()) {
        return;
    }
    m_port.write(bytes.data(), static_cast<qint64>(bytes.size()));
    // QSerialPort otherwise writes only when the event loop next runs.
    m_port.flush();
}

std::string QtSerialLink::Input() {
    if (!m_port.isOpen()) {
        return {};
    }
    const QByteArray data = m_inputLen == 0 ? m_port.readAll() : m_port.read(m_inputLen);
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

int QtSerialLink::InBufferCount() const {
    return m_port.isOpen() ? static_cast<int>(m_port.bytesAvailable()) : 0;
}

bool QtSerialLink::LineLost() const {
    return m_lineLost;
}

void QtSerialLink::OnError(QSerialPort::SerialPortError error) {
    // When the device vanishes, QSerialPort reports read or resource errors for as long as
    // the port stays open, in a storm that keeps a core busy: close at the first one.
    const bool lineGone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                          error == QSerialPort::WriteError;
    if (lineGone && m_port.isOpen()) {
        m_port.close();
        m_lineLost = true;
    }
}

}  // namespace q218
