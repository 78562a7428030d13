#include "FlashRun.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <chrono>
#include <cstdio>
#include <regex>

#include "Interrupt.h"
#include "app/Main.h"
#include "download/Messages.h"
#include "link/MonotonicClock.h"
#include "link/qt/QtSerialLink.h"

namespace q218::flash {

namespace {

// Between identification queries while --wait waits for the port and the device.
constexpr std::chrono::seconds kRetryInterval{1};

// Tag fields: marker, model, revision, date.
constexpr std::size_t kTagRevision = 2;
constexpr std::size_t kTagDate = 3;

DeviceFields PanelsOf(const UpdaterView& view) {
    return {view.GetPanelText(kPanelModel), view.GetPanelText(kPanelSerial),
            view.GetPanelText(kPanelRevision), view.GetPanelText(kPanelDate)};
}

std::string Describe(const DeviceFields& device) {
    return device.model + " " + (device.serial.empty() ? "(no serial number)" : device.serial) +
           " " + device.revision + " " + device.date;
}

QJsonValue ToJson(const std::optional<DeviceFields>& device) {
    if (!device) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"model", QString::fromStdString(device->model)},
                       {"serial", QString::fromStdString(device->serial)},
                       {"revision", QString::fromStdString(device->revision)},
                       {"date", QString::fromStdString(device->date)}};
}

// Why nothing answered on `path`. The identification query swallows a failed open, so the
// port is opened once more on its own (which sends nothing) to tell a missing port, one the
// account may not open and one another program holds from a port where nothing answered.
std::string WhyNoAnswer(const std::string& path, const std::string& port) {
    if (path.empty()) {
        return port + ": no such port (q218-flash --list shows the ports present).";
    }
    QSerialPort probe;
    probe.setPortName(QString::fromStdString(path));
    if (probe.open(QIODevice::ReadWrite)) {
        probe.close();
        return "No Q218 answered on " + port + ": the port opened, but nothing answered the " +
               "identification query as a Q218.";
    }
    const std::string reason = probe.errorString().toStdString();
    switch (probe.error()) {
        case QSerialPort::DeviceNotFoundError:
            return port + ": no such port (q218-flash --list shows the ports present).";
        case QSerialPort::PermissionError: {
            const QFileInfo file(QString::fromStdString(path));
            if (file.exists() && !(file.isReadable() && file.isWritable())) {
                return port + ": permission denied. Serial ports belong to the group dialout: " +
                       "sudo usermod -aG dialout \"$USER\", then log in again.";
            }
            return port + ": held by another program (" + reason + ").";
        }
        default:
            return port + ": cannot be opened (" + reason + ").";
    }
}

}  // namespace

QJsonObject FlashReport::ToJson() const {
    return QJsonObject{
        {"port", QString::fromStdString(port)},
        {"image", QJsonObject{{"revision", QString::fromStdString(imageRevision)},
                              {"date", QString::fromStdString(imageDate)}}},
        {"before", flash::ToJson(before)},
        {"after", flash::ToJson(after)},
        {"serialSource", serialSource.empty() ? QJsonValue(QJsonValue::Null)
                                              : QJsonValue(QString::fromStdString(serialSource))},
        {"framesSent", framesSent},
        {"framesResent", framesResent},
        {"seconds", seconds},
        {"result", QString::fromStdString(result)},
        {"exitCode", exitCode},
    };
}

PortTarget ResolvePort(const std::string& port) {
    static const std::regex windowName("COM([1-4])");
    std::smatch match;
    if (std::regex_match(port, match, windowName)) {
        const auto number = static_cast<std::int16_t>(std::stoi(match[1].str()));
        return {number, "COM " + match[1].str(), UpdaterPortNames()};
    }
    return {1, port, [port](std::int16_t n) { return n == 1 ? port : std::string(); }};
}

FlashReport RunFlash(const FlashOptions& options, ConsoleLines& lines) {
    const auto started = std::chrono::steady_clock::now();
    FlashReport report;
    report.port = options.port.toStdString();
    const PortTarget target = ResolvePort(report.port);

    ConsoleView view(lines);
    QtSerialLink link(target.names);
    SteadyClock clock;
    Main window(view, link, clock);

    // Before the reset command Ctrl+C ends the run at once: nothing has been written. From
    // then on until "Update complete!" the device is in its bootloader: the first Ctrl+C only
    // warns, a second aborts. Once the transfer has ended the device runs its new firmware,
    // and Ctrl+C ends the fresh identification at once.
    bool resetSent = false;
    int interrupts = 0;
    const auto inBootloader = [&] {
        return resetSent && view.GetText(TextBox::Text2) != kComplete;
    };
    InterruptWatch watch([&] {
        if (inBootloader() && interrupts++ == 0) {
            lines.Error(
                "Ctrl+C: the Q218 is in its bootloader now and will wait for a new update. "
                "The update goes on; press Ctrl+C again to abort it.");
            return;
        }
        view.EndProgram();
    });
    const auto finish = [&](int exitCode, std::string result) {
        report.exitCode = exitCode;
        report.result = std::move(result);
        report.framesSent = lines.Tally().Sent();
        report.framesResent = lines.Tally().Resent();
        report.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return report;
    };

    try {
        window.Form_Load();
        report.imageRevision = window.Tags()[kTagRevision];
        report.imageDate = window.Tags()[kTagDate];
        lines.Note("Firmware image: " + view.GetText(TextBox::Text3));

        while (true) {
            window.Port_Connect(target.number, target.shown);
            if (view.GetPanelText(kPanelModel) == kExpectedModel) {
                break;
            }
            if (!options.wait) {
                lines.Error(WhyNoAnswer(target.names(target.number), report.port));
                return finish(kExitNoDevice, "no-device");
            }
            view.Wait(kRetryInterval);
        }
        const DeviceFields before = PanelsOf(view);
        report.before = before;

        if (options.identify) {
            if (!options.json) {
                std::printf("model: %s\nserial: %s\nrevision: %s\ndate: %s\n", before.model.c_str(),
                            before.serial.c_str(), before.revision.c_str(), before.date.c_str());
            }
            return finish(kExitUpdated, "identified");
        }
        if (options.skipCurrent && before.revision == report.imageRevision &&
            before.date == report.imageDate) {
            lines.Note("Already current: the Q218 has " + before.revision + " " + before.date +
                       ". Nothing was written.");
            return finish(kExitUpdated, "already-current");
        }

        // The serial number, as the window settles it: the device's own, or the one typed
        // into the box (here given with --serial) and checked as a typed one.
        window.Serial_Settle();
        std::string expectedSerial = before.serial;
        if (view.IsVisible(TextBox::Text4)) {
            if (!options.serial) {
                lines.Error("The Q218 reports no usable serial number (\"" + before.serial +
                            "\"): give the number to write with --serial NNNNNN. Nothing was "
                            "written.");
                return finish(kExitNoSerial, "no-serial");
            }
            view.SetText(TextBox::Text4, *options.serial);
            window.Serial_Check();
            report.serialSource = "option";
            expectedSerial = *options.serial;
        } else {
            report.serialSource = "device";
            if (options.serial && *options.serial != before.serial) {
                lines.Note("The Q218 has its own serial number " + before.serial +
                           ", which it keeps; --serial " + *options.serial + " is not used.");
            }
        }
        if (!view.IsEnabled(Button::cmdUpdate)) {
            lines.Error("The serial number was not accepted. Nothing was written.");
            return finish(kExitFailed, "failed");
        }

        lines.Tally().Prepare(window.Image());
        resetSent = true;
        window.cmdUpdate_Click();
        switch (window.UpdateEnding().value_or(DownloadEnding::TransferFailed)) {
            case DownloadEnding::Finished:
                break;
            case DownloadEnding::ImageRejected:
                return finish(kExitRejected, "image-rejected");
            case DownloadEnding::TransferFailed:
                lines.Error(
                    "The update failed. The Q218 waits in its bootloader for a new update.");
                return finish(kExitFailed, "failed");
        }
        const DeviceFields after = PanelsOf(view);
        report.after = after;
        // Verified: the device now reports the image's firmware with the serial it had.
        if (after.model != kExpectedModel || after.serial != expectedSerial ||
            after.revision != report.imageRevision || after.date != report.imageDate) {
            lines.Error("Not verified: after the update the device reports \"" + Describe(after) +
                        "\", expected Q218 " + expectedSerial + " " + report.imageRevision + " " +
                        report.imageDate + ".");
            return finish(kExitNotVerified, "not-verified");
        }
        lines.Note("Verified: the Q218 reports " + after.revision + " " + after.date +
                   " with serial number " + after.serial + ".");
        return finish(kExitUpdated, "updated");
    } catch (const ProgramEnded&) {
        // Released without sending anything more.
        if (link.PortOpen()) {
            link.SetPortOpen(false);
        }
        if (!resetSent) {
            lines.Error("Interrupted: nothing was written.");
        } else if (inBootloader()) {
            lines.Error("Aborted: the Q218 waits in its bootloader for a new update.");
        } else {
            lines.Error(
                "Interrupted after \"Update complete!\": the new firmware is not verified.");
        }
        return finish(kExitInterrupted, "interrupted");
    }
}

int ListPorts() {
    // Read from the system's device lists only: no port is opened.
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const auto field = [](const QString& text) {
            return text.isEmpty() ? std::string("-") : text.toStdString();
        };
        const QString usb = info.hasVendorIdentifier() && info.hasProductIdentifier()
                                ? QStringLiteral("%1:%2")
                                      .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                      .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
                                : QString();
        std::printf("%s\t%s\t%s\t%s\t%s\n", field(info.systemLocation()).c_str(),
                    field(info.description()).c_str(), field(info.manufacturer()).c_str(),
                    field(usb).c_str(), field(info.serialNumber()).c_str());
    }
    return kExitUpdated;
}

}  // namespace q218::flash
