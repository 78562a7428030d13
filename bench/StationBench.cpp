// q218-flash with several ports against the single-port run of the same build: simulated
// Q218s on pseudo-terminals paced like 9600 baud, one q218-flash process per slot. Prints the
// whole run's time for 1, 2, 4, 8 and 16 slots beside the single-port time, the station's own
// CPU per active slot (parent and slot processes; the simulators run in this program and are
// not counted), the largest process's memory, the CPU of idle slots waiting for a unit, and a
// fault mix beside healthy slots. Measures only; asserts nothing.
// Usage: q218-bench-station [most-slots]

#include <signal.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "WireCount.h"
#include "sim/PtyServer.h"

namespace {

using namespace q218;
using namespace q218::bench;

struct Usage {
    double cpu = 0.0;  // seconds, user and system, of every waited-for descendant
    long maxRssKb = 0;
};

Usage ChildrenUsage() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return {static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6,
            usage.ru_maxrss};
}

struct Ran {
    double wall = 0.0;
    double cpu = 0.0;
    long maxRssKb = 0;
    std::map<std::string, QJsonObject> records;  // by port
};

// Runs q218-flash with `arguments` and a log to its end; `step` sees its output as it grows.
Ran Flash(QStringList arguments,
          const std::function<void(const QByteArray&, QProcess&)>& step = {}) {
    QTemporaryDir dir;
    const QString log = dir.filePath("records.jsonl");
    arguments << "--log" << log;
    const Usage before = ChildrenUsage();
    QElapsedTimer clock;
    QProcess flash;
    QByteArray out;
    clock.start();
    flash.start(Q218_FLASH, arguments);
    flash.waitForStarted();
    while (flash.state() != QProcess::NotRunning) {
        flash.waitForFinished(50);
        out += flash.readAllStandardOutput();
        if (step) {
            step(out, flash);
        }
    }
    Ran ran;
    ran.wall = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
    const Usage after = ChildrenUsage();
    ran.cpu = after.cpu - before.cpu;
    ran.maxRssKb = after.maxRssKb;
    QFile file(log);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            if (!record.isEmpty()) {
                ran.records[record["port"].toString().toStdString()] = record;
            }
        }
    }
    return ran;
}

std::vector<std::unique_ptr<sim::PtyServer>> Devices(int count, bool answering = true) {
    std::vector<std::unique_ptr<sim::PtyServer>> devices;
    for (int i = 0; i < count; ++i) {
        if (answering) {
            devices.push_back(PacedDevice(std::chrono::microseconds(1000)));
        } else {
            devices.push_back(std::move(sim::PtyServer::Create(std::nullopt).server));
        }
        if (!devices.back()) {
            std::exit(1);
        }
    }
    return devices;
}

QStringList Ports(const std::vector<std::unique_ptr<sim::PtyServer>>& devices) {
    QStringList ports;
    for (const auto& device : devices) {
        ports << QString::fromStdString(device->SlavePath());
    }
    return ports;
}

int Updated(const Ran& ran) {
    int updated = 0;
    for (const auto& [port, record] : ran.records) {
        updated += record["result"].toString() == "updated" ? 1 : 0;
    }
    return updated;
}

// Slots from 1 to `most`, doubling: time against the single-port run, CPU, memory. Returns
// the mean seconds of a slot's record with 8 healthy slots.
double MeasureScaling(int most, const Ran& single) {
    double allHealthy8 = 0.0;
    for (int count = 1; count <= most; count *= 2) {
        const auto devices = Devices(count);
        // One port is the single-port run itself; from two on, the parent and a process a slot.
        const Ran ran = Flash(Ports(devices));
        char what[96];
        std::snprintf(what, sizeof what, "station: %2d slots (%2d updated), time / single", count,
                      Updated(ran));
        char target[16];
        std::snprintf(target, sizeof target, "<= %.2fx", count <= 8 ? 1.10 : 1.25);
        Row(what, Fixed(ran.wall / single.wall, "x", 3), target);
        std::snprintf(what, sizeof what, "station: %2d slots, own CPU per active slot", count);
        Row(what, Fixed(100.0 * ran.cpu / (ran.wall * count), "% core", 2), "<= 1 %");
        std::snprintf(what, sizeof what, "station: %2d slots, largest process (max RSS)", count);
        Row(what, Fixed(static_cast<double>(ran.maxRssKb) / 1024.0, "MB", 1), "<= 15 MB");
        if (count == 8) {
            double sum = 0.0;
            for (const auto& [port, record] : ran.records) {
                sum += record["seconds"].toDouble();
            }
            allHealthy8 = sum / static_cast<double>(std::max<std::size_t>(ran.records.size(), 1));
        }
    }
    return allHealthy8;
}

void MeasureIdle() {
    // Idle: four slots of the station waiting for a unit on ports where nothing answers.
    {
        const auto silent = Devices(4, false);
        const Ran idle = Flash(
            QStringList{"--station"} + Ports(silent),
            [start = WallNow()](const QByteArray&, QProcess& flash) {
                if ((WallNow() - start).count() > 20.0 && flash.state() == QProcess::Running) {
                    ::kill(static_cast<pid_t>(flash.processId()), SIGTERM);
                }
            });
        Row("station: 4 idle slots waiting 20 s, CPU per slot",
            Fixed(100.0 * idle.cpu / (idle.wall * 4), "% core", 3), "near 0");
    }
}

void MeasureFaults(double allHealthy8) {
    // Faults beside healthy slots: 8 slots, one pulled at frame 150, one silent bootloader
    // under --timeout 2, one BEL storm, one killed with SIGKILL mid-transfer.
    const auto devices = Devices(8);
    devices[1]->WithDevice([](sim::SimulatedQ218& d) { d.UnplugAtFrame(150); });
    devices[2]->WithDevice([](sim::SimulatedQ218& d) { d.SilentFromFrame(20); });
    devices[3]->WithDevice([](sim::SimulatedQ218& d) {
        d.BelAfterFrame(0, 4);
        d.BelAfterFrame(200, 6);
    });
    const std::string killed = devices[4]->SlavePath();
    const QByteArray killMark =
        "[" + QFileInfo(QString::fromStdString(killed)).fileName().toUtf8() + "] progress 30 %";
    bool done = false;
    const Ran faults = Flash(
        QStringList{"--timeout", "2"} + Ports(devices),
        [&](const QByteArray& out, QProcess& flash) {
            if (done || !out.contains(killMark)) {
                return;
            }
            QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(flash.processId()));
            children.open(QIODevice::ReadOnly);
            for (const QByteArray& pid : children.readAll().split(' ')) {
                QFile command("/proc/" + pid.trimmed() + "/cmdline");
                if (command.open(QIODevice::ReadOnly) &&
                    command.readAll().contains(QByteArray::fromStdString(killed))) {
                    done = ::kill(pid.trimmed().toInt(), SIGKILL) == 0;
                }
            }
        });
    double worst = 0.0;
    for (const std::size_t healthy : {0U, 5U, 6U, 7U}) {
        const double seconds =
            faults.records.at(devices[healthy]->SlavePath())["seconds"].toDouble();
        worst = std::max(worst, seconds / allHealthy8);
    }
    Row("station: fault mix, records written (of 8)",
        Fixed(static_cast<double>(faults.records.size()), "", 0), "8");
    Row("station: fault mix, healthy slots updated (of 5 with the storm)",
        Fixed(Updated(faults), "", 0), "5");
    Row("station: fault mix, slowest healthy slot / all-healthy mean", Fixed(worst, "x", 3),
        "<= 1.05x");
    for (const std::size_t faulty : {1U, 2U, 4U}) {
        const QJsonObject record = faults.records.at(devices[faulty]->SlavePath());
        Row("station: fault mix, slot " + std::to_string(faulty) + " reason",
            record["reason"].toString().toStdString(), "named");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int most = CountArgument(argc, argv, 16, 1);
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);

    // The single-port run: today's q218-flash, no parent.
    const auto one = Devices(1);
    const Ran single = Flash(Ports(one));
    Row("station: single-port run (q218-flash PORT)", Fixed(single.wall, "s", 1), "-");
    const double allHealthy8 = MeasureScaling(most, single);
    MeasureIdle();
    MeasureFaults(allHealthy8);
    return 0;
}
