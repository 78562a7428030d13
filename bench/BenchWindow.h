#pragma once
// The window benchmarks' set-up: Qt's offscreen platform unless the environment names
// another (so that `xvfb-run` with QT_QPA_PLATFORM=xcb measures under X), and a window shown
// and painted once before anything is measured.

#include <QApplication>
#include <QWidget>
#include <memory>

namespace q218::bench {

// The application, named after the program, without the benchmark's own arguments.
inline std::unique_ptr<QApplication> BenchApplication(char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int qtArgc = 1;
    return std::make_unique<QApplication>(qtArgc, argv);
}

inline void ShowAndPaint(QWidget& window) {
    window.show();
    QApplication::processEvents();
}

}  // namespace q218::bench
