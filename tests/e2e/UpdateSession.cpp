#include "UpdateSession.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace q218::test {

namespace {

using namespace std::chrono_literals;

// No whole update comes near this, so reaching it means a wait that does not end.
constexpr auto kHangLimit = 90s;

}  // namespace

UpdateSession::UpdateSession(const sim::PreviousFirmware& firmware) {
    sim::PtyServer::Created silent = sim::PtyServer::Create(std::nullopt);
    sim::PtyServer::Created device = sim::PtyServer::Create(firmware);
    if (!silent.server || !device.server) {
        m_error = silent.server ? device.error : silent.error;
        return;
    }
    m_silent = std::move(silent.server);
    m_device = std::move(device.server);

    PortNameMap names = [silent = m_silent->SlavePath(),
                         device = m_device->SlavePath()](std::int16_t port) -> std::string {
        switch (port) {
            case 2:
                return silent;
            case 3:
                return device;
            default:
                return "/nonexistent/q218-e2e-COM" + std::to_string(port);
        }
    };
    m_link = std::make_unique<QtSerialLink>(std::move(names));
    m_view = std::make_unique<QtUpdaterView>();
    m_main = std::make_unique<Main>(*m_view, *m_link, m_clock);
    m_view->SetEvents(m_main.get());

    // A technician reads each message box and closes it with its one button.
    m_boxCloser.setInterval(20ms);
    QObject::connect(&m_boxCloser, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->property("q218Read").toBool()) {
            return;
        }
        box->setProperty("q218Read", true);
        m_boxes.push_back(box->text().toStdString());
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    });
    m_boxCloser.start();

    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(kHangLimit);
    QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
        m_hung = true;
        // The title bar's close ends the program from any wait, as Exit does.
        m_view->close();
    });

    m_view->show();
    m_view->Dispatch([this] { m_main->Form_Load(); });
}

UpdateSession::~UpdateSession() {
    m_boxCloser.stop();
    m_watchdog.stop();
    m_main.reset();
    m_view.reset();
    m_link.reset();
}

Memory UpdateSession::ReadMemory() {
    return m_device->WithDevice([](sim::SimulatedQ218& d) {
        Memory memory;
        for (std::uint32_t a = 0; a < kProgramWords; ++a) {
            memory.words[a] = d.Word(a);
        }
        memory.config = d.Word(0x2007);
        return memory;
    });
}

QPushButton* UpdateSession::ButtonNamed(const char* name) const {
    return m_view->findChild<QPushButton*>(QString::fromLatin1(name));
}

bool UpdateSession::Click(const char* buttonName) {
    QPushButton* button = ButtonNamed(buttonName);
    if (button == nullptr || !button->isEnabled()) {
        return false;
    }
    m_watchdog.start();
    button->click();
    m_watchdog.stop();
    return true;
}

void UpdateSession::TypeSerialAndEnter(const std::string& text) {
    auto* box = m_view->findChild<QLineEdit*>(QStringLiteral("Text4"));
    QTest::keyClicks(box, QString::fromStdString(text));
    QTest::keyClick(box, Qt::Key_Return);
}

std::string UpdateSession::Message() const {
    return m_view->GetText(TextBox::Text2);
}

std::string UpdateSession::Panel(const char* key) const {
    return m_view->GetPanelText(key);
}

bool UpdateSession::Enabled(const char* buttonName) const {
    QPushButton* button = ButtonNamed(buttonName);
    return button != nullptr && button->isEnabled();
}

bool UpdateSession::SerialBoxShown() const {
    return m_view->IsVisible(TextBox::Text4);
}

double UpdateSession::Progress() const {
    auto* track = m_view->findChild<QLabel*>(QStringLiteral("UpdateBarBG"));
    auto* fill = m_view->findChild<QLabel*>(QStringLiteral("UpdateBarFG"));
    if (track == nullptr || fill == nullptr || track->width() == 0) {
        return -1.0;
    }
    return static_cast<double>(fill->width()) / track->width();
}

}  // namespace q218::test
