#include "link/qt/QtSerialLink.h"

#include <QFileInfo>
#include <algorithm>
#include <utility>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

namespace q218 {

namespace {

// QSerialPort's read buffer grows without limit by default, and USB virtual ports ignore
// the baud rate: a misbehaving device could fill memory at pseudo-terminal speed. A reply
// is about 30 characters and a 9600-baud line carries at most 1,920 in the longest settle
// delay; 64 KiB holds that many times over. Once it is full QSerialPort stops reading, the
// rest waits in the driver (which drops what it cannot hold), and the updater reads on as
// it empties the buffer.
constexpr qint64 kReadBufferBytes = 64 * 1024;

void ApplySettings(QSerialPort& port, const LineSettings& settings) {
    port.setBaudRate(settings.baudRate);
    switch (settings.parity) {
        case Parity::None:
            port.setParity(QSerialPort::NoParity);
            break;
        case Parity::Even:
            port.setParity(QSerialPort::EvenParity);
            break;
        case Parity::Odd:
            port.setParity(QSerialPort::OddParity);
            break;
    }
    // QSerialPort's data bits are the count itself, Data5 to Data8.
    port.setDataBits(static_cast<QSerialPort::DataBits>(std::clamp(settings.dataBits, 5, 8)));
    port.setStopBits(settings.stopBits == StopBits::Two ? QSerialPort::TwoStop
                                                        : QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

// Tells a missing port, one the account may not open and one another program holds apart.
// Qt reports a port locked by another program (its lock file, or TIOCEXCL) as a permission
// error too: a port the account can read and write is held, not forbidden.
OpenError OpenErrorOf(const QSerialPort& port, const std::string& path) {
    OpenError error{OpenFailure::Other, path, port.errorString().toStdString()};
    switch (port.error()) {
        case QSerialPort::DeviceNotFoundError:
            error.failure = OpenFailure::NoSuchPort;
            break;
        case QSerialPort::PermissionError: {
            // Qt also says so when it cannot make its lock file, e.g. for a name too long
            // for one: a port that is not there is missing, whatever Qt calls it.
            const QFileInfo file(QString::fromStdString(path));
            if (!file.exists()) {
                error.failure = OpenFailure::NoSuchPort;
                break;
            }
            const bool forbidden = !(file.isReadable() && file.isWritable());
            error.failure = forbidden ? OpenFailure::PermissionDenied : OpenFailure::Busy;
            break;
        }
        default:
            break;
    }
    return error;
}

#ifdef __linux__
// USB serial adapters hold received bytes for up to their latency timer (16 ms by default)
// before passing them on; the download waits for ~370 one-character acknowledgements, so
// the timer would add seconds. Linux offers low-latency mode per port (ASYNC_LOW_LATENCY);
// a pty or a built-in UART without it refuses the request and stays as it is. Returns the
// flags found when it changed them, so that the close can put them back.
std::optional<int> RequestLowLatency(int handle) {
    serial_struct info{};
    if (::ioctl(handle, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) {
        return std::nullopt;
    }
    const int found = info.flags;
    info.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(handle, TIOCSSERIAL, &info) != 0) {
        return std::nullopt;
    }
    return found;
}

// Best effort: a port whose device vanished refuses it, and there is nothing left to restore.
void RestoreFlags(int handle, int flags) {
    serial_struct info{};
    if (::ioctl(handle, TIOCGSERIAL, &info) == 0) {
        info.flags = flags;
        ::ioctl(handle, TIOCSSERIAL, &info);
    }
}
#else
// Windows sets an adapter's latency timer in its driver's properties and macOS has no such
// request: the link leaves the port's settings alone there. The handle's type is taken as it
// comes: QSerialPort::Handle is declared private in Qt 6.4 (a HANDLE on Windows).
std::optional<int> RequestLowLatency(auto /*handle*/) {
    return std::nullopt;
}
void RestoreFlags(auto /*handle*/, int /*flags*/) {}
#endif

// Another run of ours may hold the same device under another name (a symlink, /dev/serial/
// by-id): Qt's lock file is named after the path given, and TIOCEXCL does not stop root. An
// advisory lock on the open device itself (its inode, whatever the path) does; the lock
// goes with the descriptor when the port closes or the program ends.
#ifdef Q_OS_UNIX
bool LockDevice(int handle) {
    return ::flock(handle, LOCK_EX | LOCK_NB) == 0;
}
#else
// Windows opens a COM port for one program at a time by itself.
bool LockDevice(auto /*handle*/) {
    return true;
}
#endif

}  // namespace

QtSerialLink::QtSerialLink(PortNameMap portNames) : m_portNames(std::move(portNames)) {
    m_port.setReadBufferSize(kReadBufferBytes);
    m_errorConnection =
        QObject::connect(&m_port, &QSerialPort::errorOccurred,
                         [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialLink::~QtSerialLink() {
    // The handler must not run while the port is being destroyed.
    QObject::disconnect(m_errorConnection);
    if (m_port.isOpen()) {
        ClosePort();
    }
}

QtSerialLink::PortCall::PortCall(QtSerialLink& link) : m_link(link) {
    ++m_link.m_callDepth;
}

QtSerialLink::PortCall::~PortCall() {
    if (--m_link.m_callDepth == 0 && m_link.m_closeDue) {
        m_link.m_closeDue = false;
        if (m_link.m_port.isOpen()) {
            m_link.ClosePort();
        }
    }
}

void QtSerialLink::ClosePort() {
    const PortCall call(*this);
    // Output only queues; QSerialPort's close drops what is still queued. Whatever the
    // updater wrote before closing was meant for the device, unless the line is gone: a
    // write into a dead line only fails again.
    if (!m_lineLost && m_port.bytesToWrite() > 0) {
        m_port.flush();
    }
    if (m_flagsFound) {
        RestoreFlags(m_port.handle(), *m_flagsFound);
        m_flagsFound.reset();
    }
    m_port.close();
}

bool QtSerialLink::PortOpen() const {
    return m_port.isOpen();
}

OpenResult QtSerialLink::SetPortOpen(bool open) {
    if (m_port.isOpen()) {
        // Closing drops whatever was received and not read.
        ClosePort();
    }
    if (!open) {
        return {};
    }

    const std::string name = m_portNames ? m_portNames(m_commPort) : std::string();
    const OpenResult missing{OpenError{OpenFailure::NoSuchPort, name, {}}};
    if (name.empty()) {
        return missing;
    }
    m_port.setPortName(QString::fromStdString(name));
    ApplySettings(m_port, m_settings);
    const PortCall call(*this);
    if (!m_port.open(QIODevice::ReadWrite)) {
        return {OpenErrorOf(m_port, name)};
    }
    if (!LockDevice(m_port.handle())) {
        // Released untouched: nothing read, nothing flushed, no settings changed back.
        m_port.close();
        return {OpenError{OpenFailure::Busy, name, "another program holds a lock on the device"}};
    }
    m_lineLost = false;
    m_flagsFound = RequestLowLatency(m_port.handle());
    // Bytes the OS took in before this open belong to no query of ours. A line that went
    // meanwhile fails the clear: the port is then lost already and closes with this call.
    m_port.clear();
    return m_lineLost ? missing : OpenResult{};
}

void QtSerialLink::SetCommPort(std::int16_t port) {
    if (!m_port.isOpen()) {
        m_commPort = port;
    }
}

void QtSerialLink::SetInputLen(int length) {
    m_inputLen = length < 0 ? 0 : length;
}

void QtSerialLink::SetSettings(const LineSettings& settings) {
    m_settings = settings;
}

void QtSerialLink::Output(std::string_view bytes) {
    if (!m_port.isOpen()) {
        return;
    }
    // Queued: QSerialPort writes everything queued, in order, in one system call when the
    // event loop next runs (its write notifier), and every wait of the updater that follows
    // an Output runs it (ProcessEvents, ProcessEventsFor, a message box's loop). A frame
    // goes out in one write instead of one write and one flush per byte.
    const PortCall call(*this);
    m_port.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string QtSerialLink::Input() {
    if (!m_port.isOpen()) {
        return {};
    }
    // A full read buffer makes QSerialPort stop reading from the driver; Qt reads on once a
    // read empties the buffer (QIODevice then calls readData, which starts reading again).
    const PortCall call(*this);
    std::string taken;
    if (m_inputLen == 1) {
        // The download reads one character at a time, junk before ENQ included: no
        // allocation per character.
        char one = 0;
        if (m_port.getChar(&one)) {
            taken.assign(1, one);
        }
    } else {
        const QByteArray data = m_inputLen == 0 ? m_port.readAll() : m_port.read(m_inputLen);
        taken.assign(data.constData(), static_cast<std::size_t>(data.size()));
    }
    return taken;
}

int QtSerialLink::InBufferCount() const {
    return m_port.isOpen() ? static_cast<int>(m_port.bytesAvailable()) : 0;
}

int QtSerialLink::OutBufferCount() const {
    return m_port.isOpen() ? static_cast<int>(m_port.bytesToWrite()) : 0;
}

bool QtSerialLink::LineLost() const {
    return m_lineLost;
}

void QtSerialLink::OnError(QSerialPort::SerialPortError error) {
    // When the device vanishes, QSerialPort reports read or resource errors for as long as
    // the port stays open, in a storm that keeps a core busy: close at the first one. A write
    // that fails is the same lost line. On Windows any error of the port's own I/O ends all
    // of it (Qt starts no new wait or read after a failed one), and a pulled adapter is
    // reported as access denied (a permission error) or a general failure (unknown) as often
    // as a removal: a port that reports anything but these three harmless errors is a lost
    // line too. The line is marked lost before the close, so that the close sends nothing more
    // into it.
    const bool harmless = error == QSerialPort::NoError || error == QSerialPort::TimeoutError ||
                          error == QSerialPort::NotOpenError;
    if (harmless || !m_port.isOpen()) {
        return;
    }
    m_lineLost = true;
    // Raised from inside one of our own calls into the port (a flush, a close, a clear, a
    // write or a read): closing under it would pull the port out from under QSerialPort and
    // come back here from the close's own errors. The outermost call closes on its way out.
    if (m_callDepth > 0) {
        m_closeDue = true;
        return;
    }
    ClosePort();
}

}  // namespace q218
