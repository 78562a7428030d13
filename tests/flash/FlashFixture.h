// What the q218-flash tests share: the simulated Q218 on a pseudo-terminal, what its memory and
// transcript show afterwards, and the program run as a child process to its end while a test
// watches its output and acts on it.

#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "sim/PtyServer.h"
#include "support/DeviceChecks.h"
#include "support/ExpectedMemory.h"
#include "support/ImageInput.h"

namespace q218::test {

// A pty served by a device holding `firmware`, or a silent pty for none; a pty not made fails
// the test.
inline std::unique_ptr<sim::PtyServer> Device(
    const std::optional<sim::PreviousFirmware>& firmware) {
    sim::PtyServer::Created created = sim::PtyServer::Create(firmware);
    EXPECT_TRUE(created.server) << created.error;
    return std::move(created.server);
}
inline std::unique_ptr<sim::PtyServer> Device(const sim::PreviousFirmware& firmware = {}) {
    return Device(std::optional(firmware));
}

// The SHA-256 of the image file as committed, read apart from the program.
inline QString ImageFileSha256() {
    QFile file(QStringLiteral(Q218_FIRMWARE_INPUT));
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("(unreadable)");
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
}

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
inline Ran Flash(const QStringList& arguments, const Watch& watch = {}) {
    QProcess flash;
    flash.setChildProcessModifier(watch.inChild);
    flash.start(watch.program, arguments);
    if (!flash.waitForStarted()) {
        ADD_FAILURE() << "could not start " << watch.program.toStdString();
        return {};
    }
    if (watch.closeOutput) {
        flash.closeReadChannel(QProcess::StandardOutput);
    }
    Ran ran;
    QElapsedTimer clock;
    clock.start();
    while (flash.state() != QProcess::NotRunning) {
        if (clock.hasExpired(std::chrono::milliseconds(watch.hungAfter).count())) {
            flash.kill();
            flash.waitForFinished();
            ADD_FAILURE() << "q218-flash hung: " << ran.err.toStdString() << ran.out.toStdString();
            ran.hung = true;
            return ran;
        }
        flash.waitForFinished(50);
        ran.err += flash.readAllStandardError();
        ran.out += watch.closeOutput ? QByteArray() : flash.readAllStandardOutput();
        if (watch.step) {
            watch.step(ran, flash);
        }
    }
    ran.err += flash.readAllStandardError();
    ran.out += watch.closeOutput ? QByteArray() : flash.readAllStandardOutput();
    EXPECT_EQ(flash.exitStatus(), QProcess::NormalExit);
    ran.exitCode = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
    return ran;
}

}  // namespace q218::test
