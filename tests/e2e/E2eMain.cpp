// The end-to-end tests run the real window: a QApplication, on Qt's offscreen platform unless
// the environment names another, so that no window appears on a developer's desktop.

#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
