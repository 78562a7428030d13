// The updater: one window, the serial port under the updater's own port names, the clock of
// the settle delay, and the window logic. It reads no command line and no configuration.

#include <QApplication>

#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "link/MonotonicClock.h"
#include "link/PortNames.h"
#include "link/qt/QtSerialLink.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    q218::QtUpdaterView view;
    q218::QtSerialLink link(q218::UpdaterPortNames());
    q218::SteadyClock clock;
    q218::Main window(view, link, clock);
    view.SetEvents(&window);

    // The window is on screen while the start-up runs.
    view.show();
    view.Dispatch([&window] { window.Form_Load(); });
    const int exitCode = view.ProgramHasEnded() ? 0 : QApplication::exec();
    window.Form_Terminate();
    return exitCode;
}
