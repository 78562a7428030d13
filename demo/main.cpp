// q218-demo: the updater's own window, logic and QSerialPort link, wired to simulated serial
// ports instead of the machine's, so that anyone can watch a whole update without a device:
// COM1 and COM2 are pseudo-terminals where nothing answers, COM3 is the simulated Q218 on a
// pseudo-terminal, COM4 does not exist. With a display it opens the window for a person to
// drive; without one (or with --autopilot) it runs on Qt's offscreen platform and drives
// itself, printing a transcript and saving screenshots.

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    bool help = false;
};

constexpr const char* kUsage =
    "usage: q218-demo [--autopilot | --window] [--shots DIR] [--unpaced] [--serial DIGITS]\n"
    "                 [--timeout SECONDS] [--unplug-at-frame K]\n"
    "\n"
    "Runs the Q218 updater's window against a simulated Q218 on a pseudo-terminal (COM3);\n"
    "COM1 and COM2 are pseudo-terminals where nothing answers, COM4 does not exist.\n"
    "\n"
    "  --autopilot        drive the window without a person, on Qt's offscreen platform\n"
    "                     unless QT_QPA_PLATFORM says otherwise (the default without a\n"
    "                     display); exits 0 only when the device reports the new firmware\n"
    "  --window           open the window for a person even without DISPLAY set\n"
    "  --shots DIR        autopilot: save a PNG of the window at each state in DIR\n"
    "                     (default: demo-shots)\n"
    "  --unpaced          the simulated device answers at once instead of at 9600 baud\n"
    "  --serial DIGITS    the simulated device's serial number; \"\" or 999999 for none\n"
    "                     (the autopilot then types 654321)\n"
    "  --timeout SECONDS  autopilot: give up after this long (default 300)\n"
    "  --unplug-at-frame K\n"
    "                     the device's adapter is pulled out when frame K (counted from 0)\n"
    "                     begins to arrive: shows how a failed update ends\n";

std::optional<DemoOptions> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    DemoOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == "--autopilot") {
            options.mode = Mode::Autopilot;
        } else if (arg == "--window") {
            options.mode = Mode::Window;
        } else if (arg == "--unpaced") {
            options.paced = false;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--shots") {
            auto v = value();
            if (!v) {
                return std::nullopt;
            }
            options.shots = *v;
        } else if (arg == "--serial") {
            auto v = value();
            if (!v) {
                return std::nullopt;
            }
            const bool digits =
                v->size() == 6 && v->find_first_not_of("0123456789") == std::string::npos;
            if (!v->empty() && !digits) {
                error = "--serial takes six digits or \"\"";
                return std::nullopt;
            }
            options.serial = *v;
        } else if (arg == "--timeout" || arg == "--unplug-at-frame") {
            auto v = value();
            if (!v) {
                return std::nullopt;
            }
            char* end = nullptr;
            const long number = std::strtol(v->c_str(), &end, 10);
            const long least = arg == "--timeout" ? 1 : 0;
            if (v->empty() || *end != '\0' || number < least || number > 100000) {
                error = arg + " takes a whole number from " + std::to_string(least);
                return std::nullopt;
            }
            if (arg == "--timeout") {
                options.timeout = std::chrono::seconds(number);
            } else {
                options.unplugAtFrame = static_cast<int>(number);
            }
        } else {
            error = "unknown option " + arg;
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
    q218::TagFields fields{};
    q218::Tag_Read(image, fields);
    return fields[2];
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::optional<DemoOptions> parsed =
        ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!parsed) {
        std::fprintf(stderr, "q218-demo: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    const DemoOptions& options = *parsed;
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const bool autopilot =
        options.mode == Mode::Autopilot || (options.mode == Mode::FromDisplay && !HasDisplay());
    if (autopilot) {
        // Without a display Qt has nowhere to draw but its offscreen platform.
        setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
    }

    QApplication app(argc, argv);

    q218::sim::PreviousFirmware firmware{
        .serial = options.serial, .revision = kDeviceRevision, .date = kDeviceDate};
    std::unique_ptr<q218::demo::DemoPorts> ports =
        q218::demo::DemoPorts::Create(firmware, options.paced, error);
    if (!ports) {
        std::fprintf(stderr, "q218-demo: no pseudo-terminal: %s\n", error.c_str());
        return 1;
    }
    if (options.unplugAtFrame) {
        ports->Device().WithDevice([frame = *options.unplugAtFrame](q218::sim::SimulatedQ218& d) {
            d.UnplugAtFrame(frame);
        });
    }
    std::printf("q218-demo: the updater's serial ports in this demo:\n%s",
                ports->Describe().c_str());
    std::fflush(stdout);

    q218::QtSerialLink link(ports->Names());
    q218::SteadyClock clock;
    q218::QtUpdaterView view;
    q218::Main window(view, link, clock);
    view.SetEvents(&window);

    std::unique_ptr<q218::demo::Autopilot> pilot;
    if (autopilot) {
        const bool hasSerial = !options.serial.empty() && options.serial != "999999";
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
        // Watching from before the start-up, so that its first message is in the transcript.
        pilot = std::make_unique<q218::demo::Autopilot>(view, ports->Device(), std::move(settings),
                                                        stdout);
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
