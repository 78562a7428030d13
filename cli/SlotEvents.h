#pragma once
// The event stream of one q218-flash run (--events): one JSON object a line on standard
// output, flushed at once, for a program that drives q218-flash (the station's parent, a
// factory GUI, a test rack). Every event is read from the logic's typed results: the
// identification, the settled serial number and the download's own account, never from the
// texts shown. docs/station.md lists the events; kEventSchema rises when one changes meaning.

#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

class QSocketNotifier;

#include "FlashReport.h"
#include "download/DownloadRun.h"
#include "image/FirmwareImage.h"
#include "link/Identification.h"

namespace q218::flash {

inline constexpr int kEventSchema = 1;

// What a run tells an observer as it goes; FlashRun calls it at the steps it already has.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // The run's account of the download, kept up to date by the logic while it runs.
    virtual void Follow(const DownloadResult& run) = 0;
    virtual void ImageLoaded(const ImageTag& image) = 0;
    // A Q218 answered the identification query before anything was written.
    virtual void Identified(const DeviceInfo& device) = 0;
    // The serial number the image now carries, and where it came from ("device", "option").
    virtual void SerialSettled(const std::string& serial, const std::string& source) = 0;
};

class SlotEvents final : public RunObserver {
public:
    // Events go to `stream`; `port` names the run in the first event.
    SlotEvents(std::FILE* stream, const std::string& port);

    void Follow(const DownloadResult& run) override { m_run = &run; }
    void ImageLoaded(const ImageTag& image) override;
    void Identified(const DeviceInfo& device) override;
    void SerialSettled(const std::string& serial, const std::string& source) override;
    // The last event: the run's record, as --json prints it (`record`, made from `report` by
    // ToJson once for every use). The run is over and its account gone: the steps not yet
    // reported are read from the report's copy.
    void Ended(const FlashReport& report, const QJsonObject& record);
    // Any other event of this stream's (the wait for a unit to leave uses it).
    void Emit(const char* event, QJsonObject fields = {});

private:
    // The download's steps are read from its account at most ten times a second while a
    // device is known: the logic's waits run the event loop, which runs this timer.
    void Poll();

    std::FILE* m_stream;
    std::string m_port;
    const DownloadResult* m_run = nullptr;
    QTimer m_poll;
    bool m_resetSent = false;
    bool m_handshakeDone = false;
    bool m_endSent = false;
    int m_frames = -1;
};

// The program that drives an --events run through a pipe on standard input going away (the
// station killed, a GUI crashed) acts as Ctrl+C: a run still waiting for a unit ends, one in
// the bootloader goes on to its end. Without it a station killed while its slots wait would
// leave them polling for ever. Standard input that is not a pipe is not watched. Windows has
// no notifier for a pipe: there a thread of the watch's own blocks reading it.
class DriverWatch final {
public:
    DriverWatch();
    ~DriverWatch();
    DriverWatch(const DriverWatch&) = delete;
    DriverWatch& operator=(const DriverWatch&) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Windows: whether the reading thread may still raise the interrupt (it outlives the
    // watch, blocked in its read, until the process ends).
    struct Reader;
    std::shared_ptr<Reader> m_reader;
};

}  // namespace q218::flash
