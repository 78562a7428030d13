// The main of the test programs that need Qt: the window's and the end-to-end tests need a
// QApplication, the QSerialPort tests an application object for their event notifiers. They
// run on Qt's offscreen platform unless the environment names another, so that no window
// appears on a developer's desktop, also when the build lists the tests (test discovery runs
// the program without the tests' environment). Qt also wants a private runtime folder: the
// build folder's, unless the environment names one.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", Q218_TEST_RUNTIME_DIR);
    }
    QApplication app(argc, argv);
    // Ending the program hides the window; the tests open many windows in one application.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
