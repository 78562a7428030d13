#include "WineMachine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

namespace q218::test {

QString WineMachine::Programs(std::string& error) {
    static const QString folder = [&]() -> QString {
        const QString target = QStringLiteral(Q218_TEST_OUTPUT "/unpacked");
        QDir(target).removeRecursively();
        QProcess unzip;
        unzip.start("unzip", {"-q", Q218_WINDOWS_ZIP, "-d", target});
        if (!unzip.waitForFinished(120'000) || unzip.exitCode() != 0) {
            error =
                "cannot unpack " Q218_WINDOWS_ZIP ": " + unzip.readAllStandardError().toStdString();
            return {};
        }
        const QStringList top = QDir(target).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        return top.size() == 1 ? target + "/" + top.front() + "/bin" : QString();
    }();
    if (folder.isEmpty() && error.empty()) {
        error = "the ZIP holds no single folder with bin/";
    }
    return folder;
}

namespace {

QProcessEnvironment WineEnvironment(const QString& prefix, const QString& display) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Nothing of Qt or MinGW on Wine's paths: the unpacked folder must be enough.
    environment.remove("WINEPATH");
    environment.remove("WINEDLLPATH");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("WINEPREFIX", prefix);
    environment.insert("WINEDEBUG", "-all");
    // No offer to install Wine's .NET and HTML engines into a new prefix.
    environment.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
    if (display.isEmpty()) {
        environment.remove("DISPLAY");
    } else {
        environment.insert("DISPLAY", display);
    }
    return environment;
}

int RunWine(const QString& prefix, const QString& display, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(WineEnvironment(prefix, display));
    process.start(Q218_WINE, arguments);
    return process.waitForFinished(120'000) ? process.exitCode() : -1;
}

}  // namespace

bool WineMachine::Boot(const QString& prefix, const QString& display, std::string& error) {
    // The server first, persistent, so that the desktop the first program starts stays. It
    // outlives this test: what it prints goes nowhere rather than into the output of whichever
    // test runs then.
    QProcess server;
    server.setProcessEnvironment(WineEnvironment(prefix, display));
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(Q218_WINESERVER, {"-p"});
    server.waitForFinished();
    if (RunWine(prefix, display, {"cmd", "/c", "exit"}) != 0) {
        error = "Wine does not start in " + prefix.toStdString();
        return false;
    }
    // Windows comes with "MS Sans Serif", the window's font; a new prefix has no font of its
    // own, and Qt would draw with the first family it lists (a mathematics font whose lines
    // are too tall for the window's text boxes, which then show nothing).
    const QDir fonts(QStringLiteral(Q218_WINE_FONTS));
    const QString target = prefix + "/drive_c/windows/Fonts/";
    for (const QString& name : fonts.entryList(QDir::Files)) {
        if (!QFile::exists(target + name) && !QFile::copy(fonts.filePath(name), target + name)) {
            error = "cannot copy " + name.toStdString() + " into " + target.toStdString();
            return false;
        }
    }
    return true;
}

void WineMachine::Stop(const QString& prefix) {
    QProcess server;
    server.setProcessEnvironment(WineEnvironment(prefix, {}));
    server.start(Q218_WINESERVER, {"-k"});
    server.waitForFinished();
}

bool WineMachine::MapPorts(const demo::DemoPorts& ports, const QString& prefix,
                           std::string& error) {
    const QString dosdevices = prefix + "/dosdevices/";
    const PortNameMap names = ports.Names();
    for (std::int16_t n = 1; n <= 4; ++n) {
        const QString link = dosdevices + QStringLiteral("com%1").arg(n);
        QFile::remove(link);
        if (!QFile::link(QString::fromStdString(names(n)), link)) {
            error = "cannot link " + link.toStdString();
            return false;
        }
    }
    return true;
}

void WineMachine::Start(QProcess& process, const QString& prefix, const QString& program,
                        const QStringList& arguments, const QString& display) {
    std::string error;
    QProcessEnvironment environment = WineEnvironment(prefix, display);
    environment.insert("LD_PRELOAD", Q218_WINE_PTY);
    process.setProcessEnvironment(environment);
    process.start(Q218_WINE, QStringList{Q218_WINDOWS_BUILD "/q218-hook-launch.exe",
                                         Programs(error) + "/" + program} +
                                 arguments);
}

bool WineMachine::Ended(QProcess& process, std::chrono::seconds limit) {
    // Each ask waits up to 100 ms for the end: nothing to pause for between them.
    const auto finished = [&process] { return process.waitForFinished(100); };
    if (WaitFor(limit, finished, [] {})) {
        return true;
    }
    process.kill();
    process.waitForFinished();
    return false;
}

bool WineMachine::WaitFor(std::chrono::seconds limit, const std::function<bool()>& done,
                          const std::function<void()>& pause) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(std::chrono::milliseconds(limit).count())) {
            return false;
        }
        if (pause) {
            pause();
        } else {
            QThread::msleep(200);
        }
    }
    return true;
}

}  // namespace q218::test
