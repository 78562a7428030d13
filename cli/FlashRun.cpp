#include "FlashRun.h"

#include <QDateTime>
#include <chrono>
#include <cstdio>

#include "Interrupt.h"
#include "app/DeviceText.h"
#include "app/Main.h"
#include "link/MonotonicClock.h"
#include "link/qt/QtSerialLink.h"

namespace q218::flash {

namespace {

// Between identification queries while --wait waits for the port and the device.
constexpr std::chrono::seconds kRetryInterval{1};

// One run, as its steps: load the image, connect, settle the serial number, update, verify.
// Each step returns whether the run goes on; a step that ends it has set the report.
class Run {
public:
    Run(const FlashOptions& options, ConsoleLines& lines, RunObserver* observer)
        : m_options(options),
          m_lines(lines),
          m_observer(observer),
          m_target(ResolvePort(options.port.toStdString())),
          m_view(lines),
          m_link(m_target.names),
          m_window(m_view, m_link, m_clock),
          m_signals([this](Signal signal) { OnSignal(signal); }) {
        m_report.port = m_target.windowName ? options.port.toStdString() : m_target.shown;
        m_report.timestamp =
            QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
        m_window.SetReplyLimit(options.timeout);
        lines.Follow(m_window.LastUpdate());
        if (m_observer != nullptr) {
            m_observer->Follow(m_window.LastUpdate());
        }
    }

    FlashReport Execute() {
        try {
            LoadImage();
            if (Connect() && !m_options.identify && !AlreadyCurrent() && SettleSerial() &&
                Update()) {
                Verify();
            }
        } catch (const ProgramEnded&) {
            Interrupted();
        }
        m_report.download = m_window.LastUpdate();
        m_report.serialWritten = m_window.SerialWritten();
        m_report.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        return m_report;
    }

private:
    // Ends the run: the outcome's row gives the exit code, the result and the reason, which
    // `observed` gives where the row leaves it to what the run saw.
    void End(Outcome outcome, std::string message = {}, Reason observed = Reason::None) {
        const OutcomeRow& row = RowOf(outcome);
        m_report.exitCode = row.exitCode;
        m_report.result = row.result;
        if (!message.empty()) {
            m_lines.Error(message);
        }
        m_report.failure = {row.reason.value_or(observed), std::move(message)};
    }

    void LoadImage() {
        m_window.Form_Load();
        m_report.image = m_window.Tag();
        if (m_observer != nullptr) {
            m_observer->ImageLoaded(m_report.image);
        }
        m_lines.Note("Firmware image: " + m_report.image.model + " " + m_report.image.revision +
                     " " + m_report.image.date);
        if (m_target.windowName) {
            const std::string path = m_target.names(m_target.number);
            if (path != m_report.port) {
                m_lines.Note("Warning: " + m_report.port + " is the window's name; it opens " +
                             path + " here.");
            }
        }
    }

    bool Connect() {
        while (true) {
            DeviceInfo device = m_window.Port_Connect(m_target.number, m_target.shown);
            m_lines.Verbose("identification reply \"" + VisibleAscii(device.reply) + "\"");
            if (device.IsQ218()) {
                m_report.before = device;
                if (m_observer != nullptr) {
                    m_observer->Identified(device);
                }
                break;
            }
            Failure why = NoDevice(device, m_report.port);
            if (!m_options.wait) {
                End(Outcome::NoDevice, std::move(why.message), why.reason);
                return false;
            }
            // Why nothing answered yet, once each time it changes: a port the account may
            // not open would otherwise be waited for without a word of its group.
            if (why.message != m_waitingFor) {
                m_waitingFor = why.message;
                m_lines.Note("Still waiting: " + why.message);
            }
            m_view.Wait(kRetryInterval);
        }
        const DeviceInfo& before = *m_report.before;
        // Printed before anything is written: with it a failed update can always be recovered.
        const std::string line = "Q218 on " + m_report.port + ": " + Describe(before) + ".";
        if (m_options.identify && !m_options.json) {
            std::printf("model: %s\nserial: %s\nrevision: %s\ndate: %s\n",
                        VisibleAscii(before.model).c_str(), VisibleAscii(before.serial).c_str(),
                        VisibleAscii(before.revision).c_str(), VisibleAscii(before.date).c_str());
        } else {
            m_lines.Note(line);
        }
        if (m_options.identify) {
            End(Outcome::Identified);
        }
        return true;
    }

    bool AlreadyCurrent() {
        const DeviceInfo& before = *m_report.before;
        // Only a complete reply of this run can say what the device has.
        if (!m_options.skipCurrent || !before.IsComplete() ||
            before.revision != m_report.image.revision || before.date != m_report.image.date) {
            return false;
        }
        m_lines.Note("Already current: the Q218 has " + VisibleAscii(before.revision) + " " +
                     VisibleAscii(before.date) + ". Nothing was written.");
        End(Outcome::AlreadyCurrent);
        return true;
    }

    // The serial number, as the window settles it: the device's own, or the one typed into
    // the box (here given with --serial) and checked as a typed one.
    bool SettleSerial() {
        const DeviceInfo& before = *m_report.before;
        m_window.Serial_Settle();
        if (m_view.IsVisible(TextBox::Text4)) {
            if (!m_options.serial) {
                End(Outcome::NoSerial, "No serial number on the device (it reports \"" +
                                           VisibleAscii(before.serial) +
                                           "\"): give one with --serial NNNNNN. Nothing was "
                                           "written.");
                return false;
            }
            if (IsValidSerialEntry(*m_options.serial)) {
                m_view.SetText(TextBox::Text4, *m_options.serial);
                m_window.Serial_Check();
            } else {
                // 000000: only a device's own number can be that; it is being restored.
                m_window.Serial_Restore(*m_options.serial);
            }
            m_report.serialSource = "option";
        } else {
            m_report.serialSource = "device";
            if (m_options.serial && *m_options.serial != before.serial) {
                m_lines.Note("The Q218 keeps its own serial number " + VisibleAscii(before.serial) +
                             "; --serial " + *m_options.serial + " is not used.");
            }
        }
        // Serial_Settle and Serial_Check write the number into the image or refuse it.
        if (m_window.SerialWritten().empty()) {
            End(Outcome::SerialRefused, "The serial number was not accepted. Nothing was written.");
            return false;
        }
        if (m_observer != nullptr) {
            m_observer->SerialSettled(m_window.SerialWritten(), m_report.serialSource);
        }
        return true;
    }

    bool Update() {
        m_window.cmdUpdate_Click();
        const DownloadResult& run = m_window.LastUpdate();
        if (run.ending == DownloadEnding::Finished) {
            return true;
        }
        if (run.ending == DownloadEnding::ImageRejected) {
            End(Outcome::ImageRejected, "The image was rejected. Nothing was written.");
            return false;
        }
        const Failure why = TransferFailure(run);
        End(Outcome::TransferFailed,
            "The update failed: " + why.message + " after " + std::to_string(run.framesSent) +
                " of " + std::to_string(run.framesTotal) + " frames. " + AfterAbort(),
            why.reason);
        return false;
    }

    void Verify() {
        const DeviceInfo& after = m_window.LastUpdate().after;
        m_report.after = after;
        m_lines.Verbose("identification reply \"" + VisibleAscii(after.reply) + "\"");
        const ImageTag& image = m_report.image;
        const std::string& serial = m_window.SerialWritten();
        if (!after.IsComplete()) {
            End(Outcome::NotVerified,
                "Not verified: after \"Update complete!\" " + WhatCameBack(after) + ".");
            return;
        }
        if (after.serial != serial || after.revision != image.revision ||
            after.date != image.date) {
            End(Outcome::NotVerified, "Not verified: after the update the Q218 reports " +
                                          Describe(after) + "; expected serial number " + serial +
                                          ", revision " + image.revision + ", date " + image.date +
                                          ".");
            return;
        }
        m_lines.Note("Verified: the Q218 reports " + VisibleAscii(after.revision) + " " +
                     VisibleAscii(after.date) + " with serial number " +
                     VisibleAscii(after.serial) + ".");
        End(Outcome::Updated);
    }

    // What an ended transfer left on the device, as far as this run saw it.
    std::string AfterAbort() const {
        const DownloadResult& run = m_window.LastUpdate();
        if (!run.resetSent) {
            return "Nothing was written.";
        }
        const std::string recover =
            " To recover: " + RecoveryCommand(m_report.port, m_window.SerialWritten()) + ".";
        if (!run.handshakeDone) {
            return "The reset command was sent, but the bootloader never answered; the Q218 may "
                   "be waiting in its bootloader." +
                   recover;
        }
        return "The Q218 waits in its bootloader for a new update." + recover;
    }

    void Interrupted() {
        // Released without sending anything more.
        if (m_link.PortOpen()) {
            m_link.SetPortOpen(false);
        }
        const DownloadResult& run = m_window.LastUpdate();
        std::string message;
        if (!run.resetSent) {
            message = "Interrupted: nothing was written.";
        } else if (run.InBootloader()) {
            message = "Aborted after " + std::to_string(run.framesSent) + " of " +
                      std::to_string(run.framesTotal) + " frames. " + AfterAbort();
        } else {
            message = "Interrupted after \"Update complete!\": the new firmware is not verified.";
        }
        End(m_terminated ? Outcome::Terminated : Outcome::Interrupted, message);
    }

    // Before the reset command Ctrl+C ends the run at once: nothing has been written. From
    // then until the end bytes the device is in its bootloader: the first Ctrl+C only warns,
    // a second aborts, SIGTERM aborts at once. Once the transfer has ended the device runs
    // its new firmware, and either ends the fresh identification at once. A dropped session
    // stops nothing: the update runs to its end without a terminal.
    void OnSignal(Signal signal) {
        if (signal == Signal::HangUp) {
            m_lines.DropTerminal();
            return;
        }
        const DownloadResult& run = m_window.LastUpdate();
        if (signal == Signal::Interrupt && run.InBootloader() && m_interrupts++ == 0) {
            m_lines.Error(
                "Ctrl+C: the Q218 is in its bootloader now and will wait for a new update. "
                "The update goes on; press Ctrl+C again to abort it.");
            return;
        }
        m_terminated = m_terminated || signal == Signal::Terminate;
        m_view.EndProgram();
    }

    const FlashOptions& m_options;
    ConsoleLines& m_lines;
    RunObserver* m_observer;
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    FlashReport m_report;
    PortTarget m_target;
    ConsoleView m_view;
    QtSerialLink m_link;
    SteadyClock m_clock;
    Main m_window;
    SignalWatch m_signals;
    std::string m_waitingFor;  // the last reason --wait printed
    int m_interrupts = 0;
    bool m_terminated = false;
};

}  // namespace

FlashReport RunFlash(const FlashOptions& options, ConsoleLines& lines, RunObserver* observer) {
    Run run(options, lines, observer);
    return run.Execute();
}

}  // namespace q218::flash
