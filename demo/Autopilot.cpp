#include "Autopilot.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <cctype>
#include <cmath>
#include <regex>
#include <system_error>

#include "app/DeviceText.h"
#include "app/qt/QtUpdaterView.h"
#include "download/Messages.h"
#include "link/Identification.h"
#include "link/PortScan.h"
#include "sim/PtyServer.h"

namespace q218::demo {

namespace {

using namespace std::chrono_literals;

// How often the autopilot looks at the window and takes its next step.
constexpr auto kTickInterval = 50ms;
// A person's pause before a click, so that each state is on screen for a moment.
constexpr auto kClickPause = 250ms;

std::string Std(const QString& text) {
    return text.toStdString();
}

// "Looking for Q218 on COM 1." -> "looking-for-q218-on-com-1"
std::string Slug(std::string_view text) {
    constexpr std::size_t kMaxSlug = 40;
    std::string slug;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) != 0) {
            slug += static_cast<char>(std::tolower(u));
        } else if (!slug.empty() && slug.back() != '-') {
            slug += '-';
        }
        if (slug.size() >= kMaxSlug) {
            break;
        }
    }
    while (!slug.empty() && slug.back() == '-') {
        slug.pop_back();
    }
    return slug.empty() ? "empty" : slug;
}

}  // namespace

Autopilot::Autopilot(QtUpdaterView& window, const Main& logic, sim::PtyServer& device,
                     AutopilotSettings settings, std::FILE* out)
    : m_driver(window),
      m_logic(logic),
      m_device(device),
      m_settings(std::move(settings)),
      m_out(out) {
    m_elapsed.start();
    m_click.setSingleShot(true);
    m_tick.setInterval(kTickInterval);
    connect(&m_tick, &QTimer::timeout, this, [this] { Act(); });

    if (QLineEdit* text2 = m_driver.Box(TextBox::Text2)) {
        connect(text2, &QLineEdit::textChanged, this,
                [this](const QString& text) { OnMessage(text); });
    }
    if (m_driver.Fill() != nullptr && m_driver.Track() != nullptr) {
        m_driver.Fill()->installEventFilter(this);
        m_driver.Track()->installEventFilter(this);
    }

    if (!m_settings.shots.empty()) {
        std::error_code error;
        std::filesystem::create_directories(m_settings.shots, error);
        // Screenshots of an earlier run would mix with this one's; only our own names go.
        static const std::regex kOurShot(R"(\d\d-[a-z0-9-]+\.png)");
        for (const auto& entry : std::filesystem::directory_iterator(m_settings.shots, error)) {
            if (std::regex_match(entry.path().filename().string(), kOurShot)) {
                std::filesystem::remove(entry.path(), error);
            }
        }
    }
}

void Autopilot::Start() {
    if (!m_driver.Complete()) {
        Fail("the window lacks a control the autopilot drives");
        Leave();
        return;
    }
    Print("image line: \"" + m_driver.Text(TextBox::Text3) + "\"");
    Observe();
    m_tick.start();
    m_driver.CloseMessageBoxes([this](QMessageBox& box) { OnMessageBox(box); });
    m_driver.ArmWatchdog(m_settings.timeout, [this] {
        Fail("no end within " + std::to_string(m_settings.timeout.count()) + " s");
        Leave();
    });
}

bool Autopilot::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_driver.Fill() && event->type() == QEvent::Resize) {
        OnProgressResized();
    } else if (watched == m_driver.Track() && event->type() == QEvent::PaletteChange) {
        const QColor colour = m_driver.Track()->palette().color(QPalette::Window);
        Print("progress track: " + Std(colour.name()) +
              (colour == Qt::black ? " (black: the transfer begins)" : ""));
    }
    return QObject::eventFilter(watched, event);
}

void Autopilot::OnMessage(const QString& text) {
    // What changed before this message belongs before it in the transcript.
    Observe();
    Print("message line: \"" + Std(text) + "\"");
    Shoot(Slug(Std(text)));
}

void Autopilot::Observe() {
    if (!m_driver.Complete()) {
        return;
    }
    const std::array<std::string, 4> panels = m_driver.Panels();
    if (panels != m_shownPanels) {
        m_shownPanels = panels;
        std::string line = "status bar:";
        for (const std::string& panel : m_shownPanels) {
            line += " [" + panel + "]";
        }
        Print(line);
    }
    const auto state = [this](Button button) {
        return m_driver.Enabled(button) ? QStringLiteral("on") : QStringLiteral("off");
    };
    const QString buttons =
        QStringLiteral("OK %1, Update %2, Exit %3")
            .arg(state(Button::cmdOK), state(Button::cmdUpdate), state(Button::cmdExit));
    if (buttons != m_shownButtons) {
        m_shownButtons = buttons;
        Print("buttons: " + Std(buttons));
    }
}

void Autopilot::OnProgressResized() {
    const double progress = m_driver.Progress();
    if (progress < 0.0) {
        return;
    }
    const int percent = static_cast<int>(std::lround(100.0 * progress));
    const int decile = percent / 10 * 10;
    if (decile == m_shownDecile) {
        return;
    }
    m_shownDecile = decile;
    Print("progress: " + std::to_string(decile) + " %");
    if (decile == 50) {
        Shoot("progress-50");
    }
}

void Autopilot::Act() {
    // The driver reads and closes a message box on its own timer.
    if (QApplication::activeModalWidget() != nullptr) {
        return;
    }
    Observe();
    if (m_click.isActive()) {
        return;
    }
    switch (m_stage) {
        case Stage::Connect:
            if (m_driver.Enabled(Button::cmdOK)) {
                m_stage = Stage::Settle;
                Print("autopilot: clicks \"OK\"");
                ClickSoon(Button::cmdOK);
            }
            return;
        case Stage::Settle:
            // A scan that found nothing enables "OK" again, with the box hidden.
            if (m_logic.LastScan().Found() == nullptr && !m_logic.LastScan().ports.empty() &&
                m_driver.Enabled(Button::cmdOK) && !m_driver.SerialBoxShown()) {
                Fail("no Q218 answered on COM1 to COM4");
            } else if (m_driver.SerialBoxShown() && m_driver.Enabled(Button::cmdOK) &&
                       !m_typedSerial) {
                TypeSerial();
            } else if (m_driver.Enabled(Button::cmdUpdate)) {
                m_stage = Stage::Updating;
                Print("autopilot: clicks \"&Update\"");
                ClickSoon(Button::cmdUpdate);
            }
            return;
        case Stage::Updating:
            if (m_logic.LastUpdate().ending == DownloadEnding::Finished &&
                m_driver.Enabled(Button::cmdExit)) {
                Verify();
            }
            return;
        case Stage::Succeeded:
        case Stage::Failed:
            Leave();
            return;
    }
}

void Autopilot::OnMessageBox(QMessageBox& box) {
    const std::string text = Std(box.text());
    Print("message box: \"" + text + "\"");
    // The box is a window of its own; the screenshot shows it.
    if (!m_settings.shots.empty()) {
        const QString path = QString::fromStdString(
            (m_settings.shots / (QStringLiteral("%1-message-box.png")
                                     .arg(++m_shotNumber, 2, 10, QLatin1Char('0'))
                                     .toStdString()))
                .string());
        box.grab().save(path, "PNG");
    }
    Fail("the updater reported \"" + text + "\"");
    Print("autopilot: clicks \"OK\" in the message box");
}

void Autopilot::TypeSerial() {
    m_typedSerial = true;
    Print("autopilot: types " + m_settings.typedSerial + " and Enter into the serial-number box");
    m_driver.TypeSerialAndEnter(m_settings.typedSerial);
}

void Autopilot::Verify() {
    struct DeviceState {
        std::string identification;
        bool bricked = false;
    };
    const DeviceState device = m_device.WithDevice([](sim::SimulatedQ218& d) {
        return DeviceState{d.IdentificationText(), d.IsBricked()};
    });
    Print("device: answers \"" + Visible(device.identification) + "\"");
    // The updater's own parse: serial number, model, revision, date.
    ReplyFields fields{};
    const ReplyForm form = ParseReply(device.identification, fields);
    const auto& [serial, model, revision, date, fifth] = fields;
    if (device.bricked) {
        Fail("the device no longer starts its bootloader");
    } else if (form != ReplyForm::Fields || model != kExpectedModel ||
               revision != m_settings.expectedRevision || serial != m_settings.expectedSerial) {
        Fail("the device should report Q218 " + m_settings.expectedRevision +
             " with serial number " + m_settings.expectedSerial);
    } else if (m_driver.Panel(kPanelSerial) != serial ||
               m_driver.Panel(kPanelRevision) != revision) {
        Fail("the status bar does not show what the device reports");
    } else {
        m_stage = Stage::Succeeded;
        Print("autopilot: verified: the device reports revision " + revision +
              " with its serial number " + serial);
    }
    Shoot("finished");
}

void Autopilot::Fail(std::string_view why) {
    if (m_stage == Stage::Succeeded || m_stage == Stage::Failed) {
        return;
    }
    m_stage = Stage::Failed;
    Print("autopilot: FAILED: " + std::string(why));
}

// Once: Act stops calling it when the timer stops, and the watchdog is disarmed here.
void Autopilot::Leave() {
    m_tick.stop();
    m_driver.DisarmWatchdog();
    if (!m_settings.shots.empty()) {
        Print("screenshots: " + std::to_string(m_shotNumber) + " in " + m_settings.shots.string());
    }
    if (m_driver.Enabled(Button::cmdExit)) {
        Print("autopilot: clicks \"Exit\"");
        QTimer::singleShot(kClickPause, this, [this] { m_driver.Click(Button::cmdExit); });
    } else {
        // No enabled button can end the wait: the title bar's close does what Exit does.
        Print("autopilot: closes the window");
        QTimer::singleShot(kClickPause, this, [this] { m_driver.Window().close(); });
    }
}

void Autopilot::ClickSoon(Button button) {
    m_click.disconnect();
    // The handler runs inside the click, with the autopilot's timer still ticking in its
    // waits.
    connect(&m_click, &QTimer::timeout, this, [this, button] { m_driver.Click(button); });
    m_click.start(kClickPause);
}

void Autopilot::Shoot(std::string_view what) {
    if (m_settings.shots.empty()) {
        return;
    }
    const std::string name =
        QStringLiteral("%1-").arg(++m_shotNumber, 2, 10, QLatin1Char('0')).toStdString() +
        std::string(what) + ".png";
    const std::filesystem::path path = m_settings.shots / name;
    if (!m_driver.Window().grab().save(QString::fromStdString(path.string()), "PNG")) {
        Print("autopilot: could not save " + path.string());
    }
}

void Autopilot::Print(std::string_view text) {
    const double seconds = static_cast<double>(m_elapsed.elapsed()) / 1000.0;
    std::fprintf(m_out, "[%6.1f s] %.*s\n", seconds, static_cast<int>(text.size()), text.data());
    std::fflush(m_out);
}

}  // namespace q218::demo
