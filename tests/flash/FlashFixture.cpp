#include "FlashFixture.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

namespace q218::test {

std::unique_ptr<sim::PtyServer> Device(const std::optional<sim::PreviousFirmware>& firmware) {
    sim::PtyServer::Created created = sim::PtyServer::Create(firmware);
    EXPECT_TRUE(created.server) << created.error;
    return std::move(created.server);
}

QString ImageFileSha256() {
    QFile file(QStringLiteral(Q218_FIRMWARE_INPUT));
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("(unreadable)");
    }
    return QString::fromLatin1(
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
}

Ran Flash(const QStringList& arguments, const Watch& watch) {
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
