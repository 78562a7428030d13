// q218-demo: the updater's own window, logic and QSerialPort link, wired to simulated serial
// ports instead of the machine's, so that anyone can watch a whole update without a device:
// COM1 and COM2 are pseudo-terminals where nothing answers, COM3 is the simulated Q218 on a
// pseudo-terminal, COM4 does not exist. With a display it opens the window for a person to
// drive; without one (or with --autopilot) it runs on Qt's offscreen platform and drives
// itself, printing a transcript and saving screenshots.

#include <QApplication>
#include <QCommandLineParser>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "Autopilot.h"
#include "DemoPorts.h"
#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "image/FirmwareImage.h"
#include "link/MonotonicClock.h"
#include "link/qt/QtSerialLink.h"

namespace {

using namespace std::chrono_literals;

// The previous firmware of the demo device.
constexpr const char* kDeviceSerial = "123456";
constexpr const char* kDeviceRevision = "R04.5";
constexpr const char* kDeviceDate = "2021-11-02";
// What the autopilot types when the device has no serial number.
constexpr const char* kTypedSerial = "654321";

enum class Mode { FromDisplay, Window, Autopilot };

struct DemoOptions {
    Mode mode = Mode::FromDisplay;
    std::string shots;
    bool paced = true;
    std::string serial = kDeviceSerial;
    std::chrono::seconds timeout = 300s;
    std::optional<int> unplugAtFrame;
};

struct DemoParser {
    QCommandLineParser parser;
    QCommandLineOption help{{"h", "help"}, "Show this help."};
    QCommandLineOption autopilot{
        "autopilot",
        "Drive the window without a person, on Qt's offscreen platform unless "
        "QT_QPA_PLATFORM says otherwise (the default without a display); exits 0 "
        "only when the device reports the new firmware."};
    QCommandLineOption window{"window", "Open the window for a person even without DISPLAY set."};
    QCommandLineOption shots{"shots",
                             "Autopilot: save a PNG of the window at each state in DIR (default: "
                             "demo-shots).",
                             "DIR"};
    QCommandLineOption unpaced{"unpaced",
                               "The simulated device answers at once instead of at 9600 baud."};
    QCommandLineOption serial{"serial",
                              "The simulated device's serial number; \"\" or 999999 for none "
                              "(the autopilot then types 654321).",
                              "DIGITS"};
    QCommandLineOption timeout{"timeout", "Autopilot: give up after this long (default 300).",
                               "SECONDS"};
    QCommandLineOption unplugAtFrame{"unplug-at-frame",
                                     "The device's adapter is pulled out when frame K (counted "
                                     "from 0) begins to arrive: shows how a failed update ends.",
                                     "K"};

    DemoParser() {
        parser.setApplicationDescription(
            "Runs the Q218 updater's window against a simulated Q218 on a pseudo-terminal "
            "(COM3);\nCOM1 and COM2 are pseudo-terminals where nothing answers, COM4 does not "
            "exist.");
        parser.addOptions(
            {help, autopilot, window, shots, unpaced, serial, timeout, unplugAtFrame});
    }
};

// A whole number of at least `least`, or nothing.
std::optional<int> WholeNumber(const QString& text, int least) {
    constexpr int kMost = 100000;
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok && number >= least && number <= kMost ? std::optional(number) : std::nullopt;
}

std::optional<DemoOptions> ReadOptions(const DemoParser& p, std::string& error) {
    const QCommandLineParser& parser = p.parser;
    DemoOptions options;
    if (parser.isSet(p.autopilot)) {
        options.mode = Mode::Autopilot;
    } else if (parser.isSet(p.window)) {
        options.mode = Mode::Window;
    }
    options.paced = !parser.isSet(p.unpaced);
    options.shots = parser.value(p.shots).toStdString();
    if (parser.isSet(p.serial)) {
        options.serial = parser.value(p.serial).toStdString();
        if (!options.serial.empty() && !q218::IsUsableDeviceSerial(options.serial)) {
            error = "--serial takes six digits or \"\"";
            return std::nullopt;
        }
    }
    if (parser.isSet(p.timeout)) {
        const std::optional<int> seconds = WholeNumber(parser.value(p.timeout), 1);
        if (!seconds) {
            error = "--timeout takes a whole number from 1";
            return std::nullopt;
        }
        options.timeout = std::chrono::seconds(*seconds);
    }
    if (parser.isSet(p.unplugAtFrame)) {
        options.unplugAtFrame = WholeNumber(parser.value(p.unplugAtFrame), 0);
        if (!options.unplugAtFrame) {
            error = "--unplug-at-frame takes a whole number from 0";
            return std::nullopt;
        }
    }
    return options;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

// The revision the image the updater carries names in its tag line.
std::string ImageRevision() {
    q218::FirmwareImage image = q218::Image_Build();
    return q218::Tag_Read(image).fields[2];
}

// The options, or the exit status after the usage text (for --help, 0) or the error and the
// usage text (2) have been printed.
std::variant<DemoOptions, int> OptionsOrExit(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    DemoParser demoParser;
    std::string error;
    const bool parsed = demoParser.parser.parse(arguments);
    if (!parsed) {
        error = demoParser.parser.errorText().toStdString();
    }
    const std::optional<DemoOptions> read =
        parsed ? ReadOptions(demoParser, error) : std::optional<DemoOptions>();
    if (read && !demoParser.parser.isSet(demoParser.help)) {
        return *read;
    }
    // An application object, without a window, names the program in the usage text.
    QCoreApplication named(argc, argv);
    const std::string help = demoParser.parser.helpText().toStdString();
    if (!read) {
        std::fprintf(stderr, "q218-demo: %s\n%s", error.c_str(), help.c_str());
        return 2;
    }
    std::fputs(help.c_str(), stdout);
    return 0;
}

// The simulated ports, the device on COM3 with the fault the options ask for; null, with the
// reason printed, when the system gives no pseudo-terminal.
std::unique_ptr<q218::demo::DemoPorts> StartPorts(const DemoOptions& options) {
    q218::sim::PreviousFirmware firmware{
        .serial = options.serial, .revision = kDeviceRevision, .date = kDeviceDate};
    std::string error;
    std::unique_ptr<q218::demo::DemoPorts> ports =
        q218::demo::DemoPorts::Create(firmware, options.paced, error);
    if (!ports) {
        std::fprintf(stderr, "q218-demo: no pseudo-terminal: %s\n", error.c_str());
        return nullptr;
    }
    if (options.unplugAtFrame) {
        ports->Device().WithDevice([frame = *options.unplugAtFrame](q218::sim::SimulatedQ218& d) {
            d.UnplugAtFrame(frame);
        });
    }
    std::printf("q218-demo: the updater's serial ports in this demo:\n%s",
                ports->Describe().c_str());
    std::fflush(stdout);
    return ports;
}

// The autopilot, watching from before the start-up, so that its first message is in the
// transcript.
std::unique_ptr<q218::demo::Autopilot> StartAutopilot(const DemoOptions& options,
                                                      q218::QtUpdaterView& view, q218::Main& window,
                                                      q218::demo::DemoPorts& ports) {
    const bool hasSerial = q218::KeepsDeviceSerial(options.serial);
    q218::demo::AutopilotSettings settings{
        .shots = options.shots.empty() ? std::filesystem::path("demo-shots")
                                       : std::filesystem::path(options.shots),
        .typedSerial = kTypedSerial,
        .expectedSerial = hasSerial ? options.serial : kTypedSerial,
        .expectedRevision = ImageRevision(),
        .timeout = options.timeout,
    };
    std::printf("q218-demo: autopilot on the %s platform; screenshots go to %s\n",
                QApplication::platformName().toStdString().c_str(),
                std::filesystem::absolute(settings.shots).string().c_str());
    std::fflush(stdout);
    return std::make_unique<q218::demo::Autopilot>(view, window, ports.Device(),
                                                   std::move(settings), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::variant<DemoOptions, int> read = OptionsOrExit(argc, argv);
    if (const int* exitCode = std::get_if<int>(&read)) {
        return *exitCode;
    }
    const DemoOptions& options = std::get<DemoOptions>(read);
    const bool autopilot =
        options.mode == Mode::Autopilot || (options.mode == Mode::FromDisplay && !HasDisplay());
    if (autopilot) {
        // Without a display Qt has nowhere to draw but its offscreen platform.
        setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
    }

    QApplication app(argc, argv);
    const std::unique_ptr<q218::demo::DemoPorts> ports = StartPorts(options);
    if (!ports) {
        return 1;
    }
    q218::QtSerialLink link(ports->Names());
    q218::SteadyClock clock;
    q218::QtUpdaterView view;
    q218::Main window(view, link, clock);
    view.SetEvents(&window);

    std::unique_ptr<q218::demo::Autopilot> pilot;
    if (autopilot) {
        pilot = StartAutopilot(options, view, window, *ports);
    } else {
        std::printf("q218-demo: click \"OK\" to look for the Q218, then \"&Update\".\n");
        std::fflush(stdout);
    }

    view.show();
    view.Dispatch([&window] { window.Form_Load(); });
    if (pilot) {
        pilot->Start();
    }
    const int exitCode = view.ProgramHasEnded() ? 0 : QApplication::exec();
    window.Form_Terminate();
    return pilot ? pilot->ExitCode() : exitCode;
}
