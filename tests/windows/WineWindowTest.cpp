// q218-updater.exe from the Windows ZIP, under Wine on an X server of its own (Xvfb), driven
// as a person drives it: xdotool moves the pointer onto "OK" and, once the window has found
// the device and "&Update" is drawn enabled, onto "&Update", and at the end onto "Exit". The
// ports are the demo's: COM1 and COM2 silent pseudo-terminals, COM3 the simulated Q218, COM4
// missing. Afterwards the device's memory is compared word for word with the image, and the
// window as Wine drew it (saved as window-under-wine.png beside window-on-linux.png) with
// the window as it is laid out on Linux: the same client size, every visible control's
// frame drawn at the rectangle the Linux window gives it, and text drawn in the message and
// image lines.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QThread>
#include <QWidget>
#include <QtEndian>

#include <gtest/gtest.h>

#include "WineMachine.h"
#include "app/qt/ControlNames.h"
#include "app/qt/QtUpdaterView.h"
#include "support/DeviceChecks.h"
#include "support/ExpectedMemory.h"
#include "support/ImageInput.h"

namespace q218::test {
namespace {

using namespace std::chrono_literals;

const QString kFrameBuffers = QStringLiteral(Q218_TEST_OUTPUT "/xvfb");

// The screen as Xvfb keeps it in its frame-buffer file (-fbdir): an XWD image, a header of
// big-endian 32-bit fields, the colour map, then the pixels (32 bits each at depth 24).
QImage Screen() {
    QFile file(kFrameBuffers + "/Xvfb_screen0");
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray data = file.readAll();
    const auto field = [&data](int i) {
        return qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(data.constData()) + 4 * i);
    };
    const quint32 pixels = field(0) + 12 * field(19);  // header size + colour map entries
    QImage screen(reinterpret_cast<const uchar*>(data.constData()) + pixels, int(field(4)),
                  int(field(5)), int(field(12)), QImage::Format_RGB32);
    return screen.copy();
}

bool XdoTool(const QStringList& arguments, const QString& display, QByteArray* output = nullptr) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.start(Q218_XDOTOOL, arguments);
    const bool done = process.waitForFinished(90'000) && process.exitCode() == 0;
    if (output) {
        *output = process.readAllStandardOutput();
    }
    return done;
}

bool IsInk(QRgb p, QRgb background) {
    return std::abs(qRed(p) - qRed(background)) + std::abs(qGreen(p) - qGreen(background)) +
               std::abs(qBlue(p) - qBlue(background)) >
           48;
}

// How many pixels of `r` differ from the window's background.
int InkIn(const QImage& window, const QRect& r, QRgb background) {
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            ink += IsInk(window.pixel(x, y), background) ? 1 : 0;
        }
    }
    return ink;
}

// How much of a one-pixel ring around `r` (grown by `by`) differs from the window's
// background, as a share of its pixels.
double RingInk(const QImage& window, const QRect& r, int by, QRgb background) {
    const QRect ring = r.adjusted(-by, -by, by, by);
    int ink = 0;
    int all = 0;
    const auto visit = [&](int x, int y) {
        ink += IsInk(window.pixel(x, y), background) ? 1 : 0;
        ++all;
    };
    for (int x = ring.left(); x <= ring.right(); ++x) {
        visit(x, ring.top());
        visit(x, ring.bottom());
    }
    for (int y = ring.top() + 1; y < ring.bottom(); ++y) {
        visit(ring.left(), y);
        visit(ring.right(), y);
    }
    return double(ink) / all;
}

// The Linux window: its size and the rectangles of its visible controls.
void LayOutOnLinux(QtUpdaterView& linuxWindow, std::map<std::string, QRect>& controls) {
    linuxWindow.show();
    linuxWindow.grab().save(Q218_TEST_OUTPUT "/window-on-linux.png");
    for (const char* name : {control::Text2, control::Text3, control::cmdOK, control::cmdUpdate,
                             control::cmdExit, control::UpdateBarBG, control::StatusBar1}) {
        const auto* widget = linuxWindow.findChild<QWidget*>(name);
        ASSERT_TRUE(widget && widget->isVisible()) << name;
        controls[name] = widget->geometry();
    }
}

// Asked to end on the way out, so that Xvfb removes its own lock.
struct StopXvfb {
    QProcess& process;
    ~StopXvfb() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// Xvfb picks a free display itself and names it on its standard output once it listens
// (a number chosen here may be held, or left locked by a server killed earlier).
void StartXvfb(QProcess& xvfb, QString& display) {
    QDir().mkpath(kFrameBuffers);
    xvfb.start(Q218_XVFB,
               {"-displayfd", "1", "-screen", "0", "800x600x24", "-fbdir", kFrameBuffers});
    while (!xvfb.canReadLine() && xvfb.waitForReadyRead(30'000)) {
    }
    ASSERT_TRUE(xvfb.canReadLine())
        << "Xvfb named no display: " << xvfb.readAllStandardError().toStdString();
    display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();
}

// The window's client area on the screen.
void FindClientArea(const QString& display, QRect& client) {
    QByteArray found;
    ASSERT_TRUE(XdoTool({"search", "--sync", "--name", kWindowTitle}, display, &found));
    const QString id = QString::fromLatin1(found).split('\n').front();
    QByteArray geometry;
    ASSERT_TRUE(XdoTool({"getwindowgeometry", "--shell", id}, display, &geometry));
    QMap<QString, int> g;
    for (const QByteArray& line : geometry.split('\n')) {
        const QList<QByteArray> pair = line.split('=');
        if (pair.size() == 2) {
            g[QString::fromLatin1(pair[0])] = pair[1].toInt();
        }
    }
    // Wine maps the client area as the X window (no window manager: no frame around it).
    client = QRect(g["X"], g["Y"], g["WIDTH"], g["HEIGHT"]);
}

bool Click(const QString& display, const QRect& client, const QRect& rect) {
    const QPoint at = client.topLeft() + rect.center();
    return XdoTool(
        {"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()), "click", "1"},
        display);
}

QImage Drawn(const QRect& client, const QRect& rect) {
    return Screen().copy(QRect(client.topLeft() + rect.topLeft(), rect.size()));
}

// Every control framed on Linux is framed at the same rectangle under Wine: ink on its
// edge, the window's background two pixels outside it. (The message and image lines have
// no frame on either.) The corner of the client area is background.
void CheckTheFrames(const QImage& onLinux, const QImage& started,
                    const std::map<std::string, QRect>& controls) {
    for (const auto& [name, rect] : controls) {
        SCOPED_TRACE(name);
        if (RingInk(onLinux, rect, 0, onLinux.pixel(1, 1)) < 0.5) {
            continue;
        }
        EXPECT_GT(RingInk(started, rect, 0, started.pixel(1, 1)), 0.5);
        EXPECT_LT(RingInk(started, rect, 2, started.pixel(1, 1)), 0.2);
    }
}

// The message line and the image line draw their texts in the window's font: ink in both
// at the start ("Connect Q218 to serial port." and the image's tag), and at the end a
// message other than the first. (The pointer is drawn into the screen: some 30 pixels.)
void CheckTheTexts(const QImage& started, const QImage& finished,
                   const std::map<std::string, QRect>& controls) {
    for (const char* name : {control::Text2, control::Text3}) {
        EXPECT_GT(InkIn(started, controls.at(name), started.pixel(1, 1)), 100) << name;
    }
    const QRect text2 = controls.at(control::Text2);
    EXPECT_GT(InkIn(finished, text2, finished.pixel(1, 1)), 100);
    EXPECT_TRUE(finished.copy(text2) != started.copy(text2));
}

TEST(WineWindow, UpdatesTheDeviceClickedLikeAPersonInTheLinuxLayout) {
    std::string error;
    ASSERT_FALSE(WineMachine::Programs(error).isEmpty()) << error;
    const sim::PreviousFirmware old{.serial = "123456", .revision = "R04.5", .date = "2021-11-02"};
    std::unique_ptr<demo::DemoPorts> ports = demo::DemoPorts::Create(old, false, error);
    ASSERT_TRUE(ports) << error;
    sim::PtyServer& device = ports->Device();
    const Memory before = MemoryOf(device);

    QtUpdaterView linuxWindow;
    std::map<std::string, QRect> controls;
    ASSERT_NO_FATAL_FAILURE(LayOutOnLinux(linuxWindow, controls));

    QProcess xvfb;
    const StopXvfb stopXvfb{xvfb};
    QString display;
    ASSERT_NO_FATAL_FAILURE(StartXvfb(xvfb, display));
    // A prefix of its own, its desktop on this display.
    const QString prefix = QStringLiteral(Q218_TEST_OUTPUT "/wine-window");
    struct StopWine {
        QString prefix;
        ~StopWine() { WineMachine::Stop(prefix); }
    } stopWine{prefix};
    ASSERT_TRUE(WineMachine::Boot(prefix, display, error)) << error;
    ASSERT_TRUE(WineMachine::MapPorts(*ports, prefix, error)) << error;
    QProcess window;
    WineMachine::Start(window, prefix, "q218-updater.exe", {}, display);
    QRect client;
    ASSERT_NO_FATAL_FAILURE(FindClientArea(display, client));
    EXPECT_EQ(client.size(), linuxWindow.size());

    // Drawn once the Exit button's frame is.
    ASSERT_TRUE(WineMachine::WaitFor(20s, [&] {
        const QImage window = Screen().copy(client);
        return RingInk(window, controls[control::cmdExit], 0, window.pixel(1, 1)) > 0.5;
    }));
    const QImage started = Screen().copy(client);
    const QImage updateDisabled = Drawn(client, controls[control::cmdUpdate]);
    ASSERT_TRUE(Click(display, client, controls[control::cmdOK]));
    // COM1 and COM2 answer nothing within their settle delays, COM4 does not open, COM3 is
    // the device: "&Update" is drawn enabled once the window has found it there.
    EXPECT_TRUE(WineMachine::WaitFor(60s, [&] {
        return Drawn(client, controls[control::cmdUpdate]) != updateDisabled;
    })) << "\"&Update\" never became enabled";
    EXPECT_EQ(Count(device, sim::EntryKind::IdentifyQuery), 1);
    ASSERT_TRUE(Click(display, client, controls[control::cmdUpdate]));
    // The update ends with a fresh identification of the device.
    EXPECT_TRUE(WineMachine::WaitFor(120s, [&] {
        return Count(device, sim::EntryKind::IdentifyQuery) == 2;
    })) << "no identification after the update";
    QThread::sleep(4);  // the settle delay before the panels show the new revision
    const QImage finished = Screen().copy(client);
    finished.save(Q218_TEST_OUTPUT "/window-under-wine.png");
    EXPECT_TRUE(WineMachine::WaitFor(20s, [&] {
        Click(display, client, controls[control::cmdExit]);
        return window.waitForFinished(1000);
    })) << "Exit did not end the window";
    EXPECT_EQ(window.exitCode(), 0);

    ExpectTheImage(device, before, old.serial);

    const QImage onLinux = linuxWindow.grab().toImage();
    CheckTheFrames(onLinux, started, controls);
    CheckTheTexts(started, finished, controls);
}

}  // namespace
}  // namespace q218::test
