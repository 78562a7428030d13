#include "Autopilot.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <regex>
#include <system_error>
#include <vector>

#include "app/qt/QtUpdaterView.h"
#include "sim/PtyServer.h"

namespace q218::demo {

namespace {

using namespace std::chrono_literals;

// How often the autopilot looks at the window and takes its next step.
constexpr auto kTickInterval = 50ms;
// A person's pause before a click, so that each state is on screen for a moment.
constexpr auto kClickPause = 250ms;

constexpr std::string_view kMessageConnect = "Connect Q218 to serial port.";
constexpr std::string_view kMessageNotFound = "Q218 not found.";
constexpr std::string_view kMessageComplete = "Update complete!";

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

// The identification text with its control characters made visible.
std::string Visible(std::string_view text) {
    std::string shown;
    for (char c : text) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else {
            shown += c;
        }
    }
    return shown;
}

// The space-ended fields of an identification reply: serial, model, revision, date.
std::vector<std::string> SpaceEndedFields(std::string_view reply) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t space = reply.find(' '); space != std::string_view::npos;
         space = reply.find(' ', start)) {
        fields.emplace_back(reply.substr(start, space - start));
        start = space + 1;
    }
    return fields;
}

template <typename Widget>
Widget* Find(QWidget& window, const char* name) {
    return window.findChild<Widget*>(QString::fromLatin1(name));
}

}  // namespace

Autopilot::Autopilot(QtUpdaterView& window, sim::PtyServer& device, AutopilotSettings settings,
                     std::FILE* out)
    : m_window(window), m_device(device), m_settings(std::move(settings)), m_out(out) {
    m_elapsed.start();
    m_text2 = Find<QLineEdit>(window, "Text2");
    m_text4 = Find<QLineEdit>(window, "Text4");
    m_cmdOK = Find<QPushButton>(window, "cmdOK");
    m_cmdUpdate = Find<QPushButton>(window, "cmdUpdate");
    m_cmdExit = Find<QPushButton>(window, "cmdExit");
    m_track = Find<QLabel>(window, "UpdateBarBG");
    m_fill = Find<QLabel>(window, "UpdateBarFG");
    m_panels = {Find<QLabel>(window, "mod"), Find<QLabel>(window, "ser"),
                Find<QLabel>(window, "rev"), Find<QLabel>(window, "dat")};

    m_tick.setInterval(kTickInterval);
    connect(&m_tick, &QTimer::timeout, this, [this] { Act(); });
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        Fail("no end within " + std::to_string(m_settings.timeout.count()) + " s");
        Leave();
    });

    if (m_text2 != nullptr) {
        connect(m_text2, &QLineEdit::textChanged, this,
                [this](const QString& text) { OnMessage(text); });
    }
    if (m_fill != nullptr && m_track != nullptr) {
        m_fill->installEventFilter(this);
        m_track->installEventFilter(this);
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
    const bool complete = m_text2 != nullptr && m_text4 != nullptr && m_cmdOK != nullptr &&
                          m_cmdUpdate != nullptr && m_cmdExit != nullptr && m_track != nullptr &&
                          m_fill != nullptr &&
                          std::all_of(m_panels.begin(), m_panels.end(),
                                      [](const QLabel* panel) { return panel != nullptr; });
    if (!complete) {
        Fail("the window lacks a control the autopilot drives");
        Leave();
        return;
    }
    if (auto* text3 = Find<QLineEdit>(m_window, "Text3")) {
        Print("image line: \"" + Std(text3->text()) + "\"");
    }
    Observe();
    m_tick.start();
    m_deadline.start(m_settings.timeout);
}

bool Autopilot::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_fill && event->type() == QEvent::Resize) {
        OnProgressResized();
    } else if (watched == m_track && event->type() == QEvent::PaletteChange) {
        const QColor colour = m_track->palette().color(QPalette::Window);
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
    if (m_cmdOK == nullptr || m_panels[0] == nullptr) {
        return;
    }
    bool panelsChanged = false;
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        if (m_panels[i] != nullptr && m_panels[i]->text() != m_shownPanels[i]) {
            m_shownPanels[i] = m_panels[i]->text();
            panelsChanged = true;
        }
    }
    if (panelsChanged) {
        std::string line = "status bar:";
        for (const QString& panel : m_shownPanels) {
            line += " [" + Std(panel) + "]";
        }
        Print(line);
    }
    const auto state = [](const QPushButton* button) {
        return button->isEnabled() ? QStringLiteral("on") : QStringLiteral("off");
    };
    const QString buttons = QStringLiteral("OK %1, Update %2, Exit %3")
                                .arg(state(m_cmdOK), state(m_cmdUpdate), state(m_cmdExit));
    if (buttons != m_shownButtons) {
        m_shownButtons = buttons;
        Print("buttons: " + Std(buttons));
    }
}

void Autopilot::OnProgressResized() {
    const int track = m_track->width();
    if (track <= 0) {
        return;
    }
    const int percent = static_cast<int>(std::lround(100.0 * m_fill->width() / track));
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
    if (m_leaving) {
        return;
    }
    if (QApplication::activeModalWidget() != nullptr) {
        HandleMessageBox();
        return;
    }
    Observe();
    if (m_clickPending) {
        return;
    }
    if (m_finished) {
        Leave();
        return;
    }
    const std::string message = Std(m_text2->text());
    if (!m_clickedOK) {
        if (m_cmdOK->isEnabled() && message == kMessageConnect) {
            m_clickedOK = true;
            Print("autopilot: clicks \"OK\"");
            ClickSoon(m_cmdOK);
        }
        return;
    }
    if (message == kMessageNotFound) {
        Fail("no Q218 answered on COM1 to COM4");
        return;
    }
    if (m_text4->isVisible() && m_cmdOK->isEnabled() && !m_typedSerial) {
        TypeSerial();
        return;
    }
    if (!m_clickedUpdate) {
        if (m_cmdUpdate->isEnabled()) {
            m_clickedUpdate = true;
            Print("autopilot: clicks \"&Update\"");
            ClickSoon(m_cmdUpdate);
        }
        return;
    }
    if (message == kMessageComplete && m_cmdExit->isEnabled()) {
        Verify();
    }
}

void Autopilot::HandleMessageBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->property("q218AutopilotSeen").toBool()) {
        return;
    }
    box->setProperty("q218AutopilotSeen", true);
    const std::string text = Std(box->text());
    Print("message box: \"" + text + "\"");
    // The box is a window of its own; the screenshot shows it.
    if (!m_settings.shots.empty()) {
        const QString path = QString::fromStdString(
            (m_settings.shots / (QStringLiteral("%1-message-box.png")
                                     .arg(++m_shotNumber, 2, 10, QLatin1Char('0'))
                                     .toStdString()))
                .string());
        box->grab().save(path, "PNG");
    }
    Fail("the updater reported \"" + text + "\"");
    Print("autopilot: clicks \"OK\" in the message box");
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->click();
    } else {
        box->accept();
    }
}

void Autopilot::TypeSerial() {
    m_typedSerial = true;
    Print("autopilot: types " + m_settings.typedSerial + " and Enter into the serial-number box");
    // Key by key, as a keyboard delivers them: the window sees each key before the box.
    for (char digit : m_settings.typedSerial) {
        const int key = Qt::Key_0 + (digit - '0');
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar::fromLatin1(digit)));
        QCoreApplication::sendEvent(m_text4, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier,
                          QString(QChar::fromLatin1(digit)));
        QCoreApplication::sendEvent(m_text4, &release);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(m_text4, &enter);
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
    const std::vector<std::string> fields = SpaceEndedFields(device.identification);
    const auto field = [&fields](std::size_t i) { return i < fields.size() ? fields[i] : ""; };
    if (device.bricked) {
        Fail("the device no longer starts its bootloader");
    } else if (field(1) != "Q218" || field(2) != m_settings.expectedRevision ||
               field(0) != m_settings.expectedSerial) {
        Fail("the device should report Q218 " + m_settings.expectedRevision +
             " with serial number " + m_settings.expectedSerial);
    } else if (Std(m_panels[1]->text()) != field(0) || Std(m_panels[2]->text()) != field(2)) {
        Fail("the status bar does not show what the device reports");
    } else {
        m_finished = true;
        m_succeeded = true;
        Print("autopilot: verified: the device reports revision " + field(2) +
              " with its serial number " + field(0));
    }
    Shoot("finished");
}

void Autopilot::Fail(std::string_view why) {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_succeeded = false;
    Print("autopilot: FAILED: " + std::string(why));
}

void Autopilot::Leave() {
    if (m_leaving) {
        return;
    }
    m_leaving = true;
    m_tick.stop();
    m_deadline.stop();
    if (!m_settings.shots.empty()) {
        Print("screenshots: " + std::to_string(m_shotNumber) + " in " + m_settings.shots.string());
    }
    if (m_cmdExit != nullptr && m_cmdExit->isEnabled()) {
        Print("autopilot: clicks \"Exit\"");
        QTimer::singleShot(kClickPause, this, [this] { m_cmdExit->click(); });
    } else {
        // No enabled button can end the wait: the title bar's close does what Exit does.
        Print("autopilot: closes the window");
        QTimer::singleShot(kClickPause, this, [this] { m_window.close(); });
    }
}

void Autopilot::ClickSoon(QPushButton* button) {
    m_clickPending = true;
    QTimer::singleShot(kClickPause, this, [this, button] {
        m_clickPending = false;
        // The handler runs inside this call, with the autopilot's timer still ticking in
        // its waits.
        button->click();
    });
}

void Autopilot::Shoot(std::string_view what) {
    if (m_settings.shots.empty()) {
        return;
    }
    const std::string name =
        QStringLiteral("%1-").arg(++m_shotNumber, 2, 10, QLatin1Char('0')).toStdString() +
        std::string(what) + ".png";
    const std::filesystem::path path = m_settings.shots / name;
    if (!m_window.grab().save(QString::fromStdString(path.string()), "PNG")) {
        Print("autopilot: could not save " + path.string());
    }
}

void Autopilot::Print(std::string_view text) {
    const double seconds = static_cast<double>(m_elapsed.elapsed()) / 1000.0;
    std::fprintf(m_out, "[%6.1f s] %.*s\n", seconds, static_cast<int>(text.size()), text.data());
    std::fflush(m_out);
}

}  // namespace q218::demo
