// The Qt window on the offscreen platform: the modal message box, handlers that end the
// program from inside a nested wait, closing the window, and how its idle waits sleep.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QtUpdaterViewFixture.h"

namespace q218 {
namespace {

using test::QtUpdaterViewTest;

TEST_F(QtUpdaterViewTest, MessageBoxIsModalWithOneOkAndTheProgramsTitle) {
    QString title;
    QString text;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        for (auto* button : box->buttons()) {
            buttons << button->text();
        }
        box->button(QMessageBox::Ok)->click();
    });
    view.ShowMessageBox("Update Error.");
    EXPECT_EQ(title, "DORVANE Q218 Firmware Update");
    EXPECT_EQ(text, "Update Error.");
    EXPECT_EQ(buttons, QStringList{"OK"});
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(QtUpdaterViewTest, ExitDuringANestedWaitUnwindsTheWaitingHandler) {
    int polls = 0;
    bool waitReturned = false;
    events.onOK = [&] {
        view.SetEnabled(Button::cmdOK, false);
        // A wait that only the end of the program can leave.
        while (polls < 100000) {
            ++polls;
            view.ProcessEvents();
        }
        waitReturned = true;
    };
    QTimer::singleShot(20, [&] { Child<QPushButton>("cmdExit")->click(); });
    Child<QPushButton>("cmdOK")->click();

    EXPECT_EQ(events.calls, (std::vector<std::string>{"OK", "Exit"}));
    EXPECT_LT(polls, 100000);
    EXPECT_FALSE(waitReturned);
    EXPECT_TRUE(view.ProgramHasEnded());
    EXPECT_TRUE(view.isHidden());

    // No further window event runs.
    Child<QPushButton>("cmdOK")->click();
    EXPECT_EQ(events.calls.size(), 2U);
}

TEST_F(QtUpdaterViewTest, ClosingByTheTitleBarEndsAWaitThatNoButtonCanEnd) {
    bool unwound = false;
    events.onUpdate = [&] {
        view.SetEnabled(Button::cmdExit, false);
        view.SetEnabled(Button::cmdOK, false);
        view.SetEnabled(Button::cmdUpdate, false);
        try {
            for (int polls = 0; polls < 100000; ++polls) {
                view.ProcessEvents();
            }
        } catch (const ProgramEnded&) {
            unwound = true;
            throw;
        }
    };
    view.SetEnabled(Button::cmdUpdate, true);
    QTimer::singleShot(20, [&] { view.close(); });
    Child<QPushButton>("cmdUpdate")->click();

    EXPECT_TRUE(unwound);
    EXPECT_EQ(events.calls, (std::vector<std::string>{"Update", "Exit"}));
    EXPECT_TRUE(view.ProgramHasEnded());
    EXPECT_FALSE(view.isVisible());
}

TEST_F(QtUpdaterViewTest, ClosingWhileIdleEndsTheProgramLikeExit) {
    EXPECT_TRUE(view.close());
    EXPECT_EQ(events.calls, std::vector<std::string>{"Exit"});
    EXPECT_TRUE(view.ProgramHasEnded());
}

TEST_F(QtUpdaterViewTest, IdleWaitsSleepUntilAnEventOrTheirLimit) {
    using namespace std::chrono_literals;
    // Posted work runs in the first call.
    bool posted = false;
    QTimer::singleShot(0, [&] { posted = true; });
    view.ProcessEvents();
    EXPECT_TRUE(posted);

    // No periodic wake-up: a spinning wait would poll millions of times in 200 ms, one with
    // a 10 ms tick about twenty; one that sleeps until the timer's event polls once or twice.
    bool fired = false;
    QTimer::singleShot(200, Qt::PreciseTimer, [&] { fired = true; });
    int polls = 0;
    while (!fired) {
        view.ProcessEvents();
        ++polls;
    }
    EXPECT_LE(polls, 5);

    // A bounded wait with nothing to do sleeps to its limit, and a zero limit not at all.
    const auto start = std::chrono::steady_clock::now();
    const auto limit = 100ms;
    int bounded = 0;
    for (auto waited = 0ns; waited < limit; waited = std::chrono::steady_clock::now() - start) {
        view.ProcessEventsFor(limit - waited);
        ++bounded;
    }
    EXPECT_LE(bounded, 5);
    const auto zeroStart = std::chrono::steady_clock::now();
    view.ProcessEventsFor(0ns);
    EXPECT_LT(std::chrono::steady_clock::now() - zeroStart, 20ms);
}

}  // namespace
}  // namespace q218
