#include "SlotEvents.h"

#include <QJsonDocument>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>

#include <mutex>
#include <thread>
#endif

#include "Interrupt.h"
#include "app/DeviceText.h"

namespace q218::flash {

namespace {

// Progress is read this often while the transfer runs: enough for a live view redrawn ten
// times a second, and the event loop wakes no more often than that for it.
constexpr std::chrono::milliseconds kPollInterval{100};

}  // namespace

SlotEvents::SlotEvents(std::FILE* stream, const std::string& port)
    : m_stream(stream), m_port(port) {
    m_poll.setInterval(kPollInterval);
    QObject::connect(&m_poll, &QTimer::timeout, [this] { Poll(); });
}

void SlotEvents::Emit(const char* event, QJsonObject fields) {
    fields.insert("event", QString::fromLatin1(event));
    fields.insert("schema", kEventSchema);
    const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
    // One write per line: a reader never sees half an event followed by another.
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_stream);
    std::fflush(m_stream);
}

void SlotEvents::ImageLoaded(const ImageTag& image) {
    Emit("started", {{"port", QString::fromStdString(m_port)}, {"image", ImageJson(image)}});
}

void SlotEvents::Identified(const DeviceInfo& device) {
    Emit("identified", {{"device", DeviceJson(device)}});
    m_poll.start();
}

void SlotEvents::SerialSettled(const std::string& serial, const std::string& source) {
    Emit("serial-settled",
         {{"serial", QString::fromStdString(serial)}, {"source", QString::fromStdString(source)}});
}

void SlotEvents::Poll() {
    if (m_run == nullptr) {
        return;
    }
    const DownloadResult& run = *m_run;
    if (run.resetSent && !m_resetSent) {
        m_resetSent = true;
        Emit("reset-sent");
    }
    if (run.handshakeDone && !m_handshakeDone) {
        m_handshakeDone = true;
        Emit("bootloader-answered", {{"framesTotal", run.framesTotal}});
    }
    const int frames = run.framesSent + run.framesResent;
    if (m_handshakeDone && frames != m_frames) {
        m_frames = frames;
        Emit("progress", {{"framesTotal", run.framesTotal},
                          {"framesSent", run.framesSent},
                          {"framesResent", run.framesResent}});
    }
    if (run.endSent && !m_endSent) {
        m_endSent = true;
        Emit("end-sent");
    }
}

void SlotEvents::Ended(const FlashReport& report, const QJsonObject& record) {
    m_run = &report.download;
    Poll();
    m_poll.stop();
    m_run = nullptr;
    Emit("ended", {{"record", record}});
}

struct DriverWatch::Reader {
    std::mutex mutex;
    bool watching = true;
};

DriverWatch::DriverWatch() {
#ifdef Q_OS_WIN
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE ||
        ::GetFileType(input) != FILE_TYPE_PIPE) {
        return;
    }
    m_reader = std::make_shared<Reader>();
    // The read cannot be taken back from another thread everywhere (Wine): the thread is left
    // blocked in it when the watch ends, and the process's end ends it.
    std::thread([input, reader = m_reader] {
        char bytes[256];
        DWORD count = 0;
        while (::ReadFile(input, bytes, sizeof bytes, &count, nullptr) && count > 0) {
        }
        const std::scoped_lock lock(reader->mutex);
        if (reader->watching) {
            RaiseInterrupt();
        }
    }).detach();
#elif defined(Q_OS_UNIX)
    struct stat input {};
    if (::fstat(STDIN_FILENO, &input) != 0 || !S_ISFIFO(input.st_mode)) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char bytes[256];
        const ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0) {
            m_notifier->setEnabled(false);
            // Through the signal watch, so that the run decides as it does for Ctrl+C.
            RaiseInterrupt();
        }
    });
#endif
}

DriverWatch::~DriverWatch() {
#ifdef Q_OS_WIN
    if (m_reader) {
        const std::scoped_lock lock(m_reader->mutex);
        m_reader->watching = false;
    }
#endif
}

}  // namespace q218::flash
