// The updater: one window, the serial port under the updater's own port names, the clock of
// the settle delay, and the window logic. It reads no command line and no configuration.

#include <QApplication>
#include <QIcon>

#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "link/MonotonicClock.h"
#include "link/PortNames.h"
#include "link/qt/QtSerialLink.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    q218::QtUpdaterView view;
    // The desktop's icon in each size drawn (packaging/icons), so Alt+Tab scales none up.
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/q218-updater-%1.png").arg(size));
    }
    view.setWindowIcon(icon);
    // Wayland desktops ignore that and take the icon of the desktop entry named here.
    QGuiApplication::setDesktopFileName(QStringLiteral("q218-updater"));
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
