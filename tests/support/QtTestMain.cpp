// The main of the test programs that need Qt: the window's and the end-to-end tests need a
// QApplication, the QSerialPort tests an application object for their event notifiers. They
// run on Qt's offscreen platform unless the environment names another, so that no window
// appears on a developer's desktop, also when the build lists the tests (test discovery runs
// the program without the tests' environment).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // Ending the program hides the window; the tests open many windows in one application.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
