#pragma once
// A Windows machine under Wine for the end-to-end tests: the programs of the Windows ZIP
// unpacked into a folder of their own, the demo's ports (DemoPorts) as COM1 to COM4 of the
// Wine prefix, and the Windows programs started under Wine with the two helpers that let
// Wine 8.0 carry QSerialPort's serial I/O over a pseudo-terminal (wine-pty/).
//
// The mapping is the prefix's drive links: dosdevices/comN -> the port's path
// (COM4 -> a path that does not exist). Wine reads the link at every open, so each test maps
// its own ports; tests of one prefix run one at a time.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <string>

#include "demo/DemoPorts.h"

namespace q218::test {

class WineMachine {
public:
    // The folder holding the unpacked programs (made on first use); empty, with the reason in
    // `error`, when the ZIP cannot be unpacked.
    static QString Programs(std::string& error);

    // Starts the Wine prefix at `prefix` (made on first use) with its desktop on X display
    // `display`, or with none when empty, and keeps its server running until Stop. Wine's
    // desktop stays on the display of the prefix's first program: a window on another display
    // needs a prefix of its own. The prefix gets Wine's own fonts, as Windows has its own.
    static bool Boot(const QString& prefix, const QString& display, std::string& error);
    static void Stop(const QString& prefix);

    // Points COM1 to COM4 of `prefix` at `ports`; false with `error` set on failure.
    static bool MapPorts(const demo::DemoPorts& ports, const QString& prefix, std::string& error);

    // Starts `program` (e.g. "q218-flash.exe") of the unpacked ZIP under Wine in `prefix` with
    // `arguments`, on X display `display` (none when empty).
    static void Start(QProcess& process, const QString& prefix, const QString& program,
                      const QStringList& arguments, const QString& display = {});

    // Waits for `process` to end; a program still running after `limit` hangs: it is killed
    // and false returned.
    static bool Ended(QProcess& process, std::chrono::seconds limit);

    // Asks `done` until it holds, `pause` between two asks (none: 200 ms asleep); false once
    // `limit` has passed. A QProcess learns what its child did only inside its own waits, so
    // a `done` or a `pause` that asks about one waits on it.
    static bool WaitFor(std::chrono::seconds limit, const std::function<bool()>& done,
                        const std::function<void()>& pause = {});
};

}  // namespace q218::test
