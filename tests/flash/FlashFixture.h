// What the q218-flash tests share: the simulated Q218 on a pseudo-terminal, and the program
// run as a child process to its end while a test watches its output and acts on it.

#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "sim/PtyServer.h"

namespace q218::test {

// A pty served by a device holding `firmware`, or a silent pty for none; a pty not made fails
// the test.
std::unique_ptr<sim::PtyServer> Device(const std::optional<sim::PreviousFirmware>& firmware);
inline std::unique_ptr<sim::PtyServer> Device(const sim::PreviousFirmware& firmware = {}) {
    return Device(std::optional(firmware));
}

// The SHA-256 of the image file as committed, read apart from the program.
QString ImageFileSha256();

struct Ran {
    int exitCode = -1;  // also when the program did not start, hung or crashed
    QByteArray out;
    QByteArray err;
    bool hung = false;
};

struct Watch {
    QString program = Q218_FLASH;
    // Every run ends by itself well within this; a program still running has hung.
    std::chrono::seconds hungAfter = std::chrono::seconds(120);
    // As `| head -1` does once it has its line.
    bool closeOutput = false;
    std::function<void()> inChild = {};  // e.g. a resource limit
    // Sees both streams as they grow, to act on the device or the process mid-run.
    std::function<void(const Ran&, QProcess&)> step = {};
};

// Runs q218-flash (or `watch.program`) with `arguments` to its end.
Ran Flash(const QStringList& arguments, const Watch& watch = {});

}  // namespace q218::test
