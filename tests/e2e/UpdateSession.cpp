#include "UpdateSession.h"

#include "support/DeviceMemory.h"

namespace q218::test {

namespace {

using namespace std::chrono_literals;

// No whole update comes near this, so reaching it means a wait that does not end.
constexpr auto kHangLimit = 90s;

}  // namespace

UpdateSession::UpdateSession(const sim::PreviousFirmware& firmware) {
    m_ports = demo::DemoPorts::Create(firmware, /*paced=*/false, m_error);
    if (!m_ports) {
        return;
    }
    m_link = std::make_unique<QtSerialLink>(m_ports->Names());
    m_view = std::make_unique<QtUpdaterView>();
    m_main = std::make_unique<Main>(*m_view, *m_link, m_clock);
    m_view->SetEvents(m_main.get());
    m_driver = std::make_unique<WindowDriver>(*m_view);
    m_driver->CloseMessageBoxes();

    m_view->show();
    m_view->Dispatch([this] { m_main->Form_Load(); });
}

UpdateSession::~UpdateSession() {
    m_driver.reset();
    m_main.reset();
    m_view.reset();
    m_link.reset();
}

Memory UpdateSession::ReadMemory() {
    return MemoryOf(Device());
}

bool UpdateSession::Click(Button button) {
    m_driver->ArmWatchdog(kHangLimit);
    const bool clicked = m_driver->Click(button);
    m_driver->DisarmWatchdog();
    return clicked;
}

}  // namespace q218::test
