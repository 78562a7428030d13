// The Qt window on the offscreen platform: the layout, focus order and initial state, the
// serial-number box, the buttons, the progress bar, the texts and panels, and the started
// window's picture (the message box and the waits are in QtUpdaterViewWaitTest.cpp).

#include <QApplication>
#include <QBitmap>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QtUpdaterViewFixture.h"
#include "app/Main.h"
#include "app/qt/QtUpdaterView.h"
#include "sim/FakeClock.h"
#include "sim/InMemoryLink.h"
#include "support/ImageInput.h"

namespace q218 {
namespace {

using test::QtUpdaterViewTest;

// What the layout must give a technician, whatever its numbers: every control whole inside a
// window that cannot be resized, named for a screen reader, no control hiding another (the
// serial-number box lies over the message line on purpose, and the fill over its track), the
// panels side by side in their order inside the status bar.
TEST_F(QtUpdaterViewTest, TheLayoutShowsEveryControlWholeAndApart) {
    EXPECT_EQ(view.minimumSize(), view.maximumSize());
    EXPECT_EQ(view.windowTitle(), "DORVANE Q218 Firmware Update");
    const char* const shown[] = {"Text2",   "Text3",       "cmdOK",     "cmdUpdate",
                                 "cmdExit", "UpdateBarBG", "StatusBar1"};
    const QRect client(QPoint(0, 0), view.size());
    for (const char* name : shown) {
        SCOPED_TRACE(name);
        auto* widget = Child<QWidget>(name);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(client.contains(InWindow(*widget))) << "cut off by the window's edge";
        EXPECT_GT(InWindow(*widget).height(), 10) << "too small to read or click";
        EXPECT_FALSE(widget->accessibleName().isEmpty());
        for (const char* other : shown) {
            if (other != name) {
                EXPECT_FALSE(InWindow(*widget).intersects(InWindow(*Child<QWidget>(other))))
                    << "overlaps " << other;
            }
        }
    }
    int left = InWindow(*Child<QWidget>("StatusBar1")).left();
    for (const char* key : {"mod", "ser", "rev", "dat"}) {
        SCOPED_TRACE(key);
        const QRect panel = InWindow(*Child<QWidget>(key));
        EXPECT_TRUE(InWindow(*Child<QWidget>("StatusBar1")).contains(panel));
        EXPECT_EQ(panel.left(), left) << "panels in order, edge to edge";
        left = panel.right() + 1;
    }
}

// The window as it opens: "&Update" refuses a click until the logic enables it, "OK" takes
// Enter, the serial-number box and the working text are hidden (so typing goes nowhere), the
// panels are empty, and the title bar shows the program's icon (compiled into the window, so a
// lost resource leaves it blank).
TEST_F(QtUpdaterViewTest, OpensWaitingForOK) {
    EXPECT_FALSE(view.windowIcon().pixmap(16, 16).isNull());
    QTest::mouseClick(Child<QPushButton>("cmdUpdate"), Qt::LeftButton);
    EXPECT_EQ(view.focusWidget(), Child<QPushButton>("cmdOK"));
    QTest::keyClick(view.focusWidget(), Qt::Key_Return);
    EXPECT_EQ(events.calls, std::vector<std::string>{"OK"});
    EXPECT_FALSE(view.IsVisible(TextBox::Text4));
    EXPECT_TRUE(Child<QLineEdit>("Text1")->isHidden());
    for (const char* key : {"mod", "ser", "rev", "dat"}) {
        EXPECT_EQ(view.GetPanelText(key), "") << key;
    }
    // The message and image lines still take typing, as the window always let them.
    for (const char* name : {"Text2", "Text3"}) {
        EXPECT_FALSE(Child<QLineEdit>(name)->isReadOnly()) << name;
    }
}

TEST_F(QtUpdaterViewTest, SerialBoxIsDrawnAboveTheMessageLine) {
    view.SetVisible(TextBox::Text4, true);
    // A point inside both: the right-hand end of the message line under the box.
    EXPECT_EQ(view.childAt(QPoint(150, 30)), Child<QLineEdit>("Text4"));
    view.SetVisible(TextBox::Text4, false);
    EXPECT_EQ(view.childAt(QPoint(150, 30)), Child<QLineEdit>("Text2"));
}

TEST_F(QtUpdaterViewTest, TabMovesThroughTheControlsInTheirDesignedOrder) {
    view.SetEnabled(Button::cmdUpdate, true);
    view.SetVisible(TextBox::Text4, true);
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    view.SetFocus(FocusTarget::cmdUpdate);

    // Labels and the status bar take no focus; the hidden Text1 is skipped.
    const std::vector<QString> expected = {"cmdOK", "Text2", "cmdExit",
                                           "Text3", "Text4", "cmdUpdate"};
    for (const auto& name : expected) {
        SCOPED_TRACE(name.toStdString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), name);
    }
}

TEST_F(QtUpdaterViewTest, DisabledAndHiddenControlsAreSkippedByTab) {
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    view.SetText(TextBox::Text3, "Q218  R04.6  2022-04-18");
    view.SetFocus(FocusTarget::cmdExit);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Text3");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "cmdOK");
    view.SetFocus(FocusTarget::cmdExit);
    view.SetEnabled(Button::cmdExit, false);  // as the transfer does: the focus falls to Text3
    EXPECT_FALSE(Child<QLineEdit>("Text3")->hasSelectedText());
}

TEST_F(QtUpdaterViewTest, SerialBoxTakesAtMostSixCharacters) {
    view.SetVisible(TextBox::Text4, true);
    view.SetText(TextBox::Text4, "");
    view.SetFocus(FocusTarget::Text4);
    QTest::keyClicks(Child<QLineEdit>("Text4"), "12345678");
    EXPECT_EQ(view.GetText(TextBox::Text4), "123456");

    view.SetText(TextBox::Text4, "9876543");
    EXPECT_EQ(view.GetText(TextBox::Text4), "987654");
}

TEST_F(QtUpdaterViewTest, KeysInTheSerialBoxReachTheHandlerWithNeutralCodes) {
    view.SetVisible(TextBox::Text4, true);
    view.SetText(TextBox::Text4, "");
    auto* text4 = Child<QLineEdit>("Text4");

    struct Row {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* call;
    };
    const Row rows[] = {
        {"Return", Qt::Key_Return, Qt::NoModifier, "Key 13 0"},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, "Key 13 0"},
        {"Shift+Return", Qt::Key_Return, Qt::ShiftModifier, "Key 13 1"},
        {"Ctrl+Return", Qt::Key_Return, Qt::ControlModifier, "Key 13 2"},
        {"digit 7", Qt::Key_7, Qt::NoModifier, "Key 55 0"},
        {"keypad 7", Qt::Key_7, Qt::KeypadModifier, "Key 103 0"},
        {"letter a", Qt::Key_A, Qt::NoModifier, "Key 65 0"},
        {"Backspace", Qt::Key_Backspace, Qt::NoModifier, "Key 8 0"},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, "Key 27 0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        events.calls.clear();
        QTest::keyClick(text4, row.key, row.modifiers);
        // A modifier key is a key of its own and reaches the handler first.
        ASSERT_FALSE(events.calls.empty());
        EXPECT_EQ(events.calls.back(), row.call);
    }
}

TEST_F(QtUpdaterViewTest, EnterIsTheHandlersWhileOtherKeysAreTypedAsUsual) {
    view.SetVisible(TextBox::Text4, true);
    view.SetText(TextBox::Text4, "");
    auto* text4 = Child<QLineEdit>("Text4");
    bool returnPressed = false;
    QObject::connect(text4, &QLineEdit::returnPressed, [&] { returnPressed = true; });

    QTest::keyClicks(text4, "42");
    QTest::keyClick(text4, Qt::Key_Return);
    EXPECT_EQ(view.GetText(TextBox::Text4), "42");
    EXPECT_FALSE(returnPressed);
    EXPECT_EQ(events.calls, (std::vector<std::string>{"Key 52 0", "Key 50 0", "Key 13 0"}));
}

TEST_F(QtUpdaterViewTest, AltUClicksUpdateOnlyWhileItIsEnabled) {
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));

    // A button's accelerator clicks it the way a mouse click animates: pressed at once, the
    // click a moment later. A disabled button is not even pressed, so nothing can follow.
    auto* update = Child<QPushButton>("cmdUpdate");
    QTest::keyClick(&view, Qt::Key_U, Qt::AltModifier);
    EXPECT_FALSE(update->isDown());
    EXPECT_TRUE(events.calls.empty());

    view.SetEnabled(Button::cmdUpdate, true);
    QTest::keyClick(&view, Qt::Key_U, Qt::AltModifier);
    EXPECT_TRUE(update->isDown());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !events.calls.empty(); }, 2000));
    EXPECT_EQ(events.calls, std::vector<std::string>{"Update"});
}

TEST_F(QtUpdaterViewTest, EnterClicksTheFocusedButtonOnceAndNeverByAutoRepeat) {
    view.SetEnabled(Button::cmdUpdate, true);
    const std::tuple<const char*, Qt::Key, bool, const char*> rows[] = {
        {"cmdOK", Qt::Key_Return, false, "OK"},    {"cmdUpdate", Qt::Key_Enter, false, "Update"},
        {"cmdUpdate", Qt::Key_Return, true, ""},   {"Text2", Qt::Key_Return, false, ""},
        {"Text3", Qt::Key_Enter, false, ""},       {"cmdOK", Qt::Key_Escape, false, ""},
        {"cmdExit", Qt::Key_Return, false, "Exit"}};  // last: it ends the program
    for (const auto& [focus, key, autoRepeat, click] : rows) {
        SCOPED_TRACE(std::string(focus) + " " + std::to_string(key) + (autoRepeat ? " held" : ""));
        events.calls.clear();
        Child<QWidget>(focus)->setFocus();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(view.focusWidget(), &press);
        EXPECT_EQ(events.calls, std::vector<std::string>(*click != '\0' ? 1 : 0, click));
    }
}

// Each Button the logic names is the control the technician clicks: enabling cmdUpdate
// lets "&Update" reach its own handler, and disabling a button keeps its clicks away.
TEST_F(QtUpdaterViewTest, EachButtonTheLogicEnablesReachesItsOwnHandler) {
    const std::pair<Button, const char*> rows[] = {{Button::cmdOK, "cmdOK"},
                                                   {Button::cmdUpdate, "cmdUpdate"}};
    const char* const handler[] = {"OK", "Update"};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [button, name] = rows[i];
        SCOPED_TRACE(name);
        events.calls.clear();
        view.SetEnabled(button, true);
        QTest::mouseClick(Child<QPushButton>(name), Qt::LeftButton);
        view.SetEnabled(button, false);
        QTest::mouseClick(Child<QPushButton>(name), Qt::LeftButton);
        EXPECT_EQ(events.calls, std::vector<std::string>{handler[i]});
    }
}

TEST_F(QtUpdaterViewTest, ProgressFillSpansTheFractionOfTheTrack) {
    auto* track = Child<QLabel>("UpdateBarBG");
    auto* fill = Child<QLabel>("UpdateBarFG");
    struct Row {
        const char* name;
        float fraction;
        int width;
    };
    const Row rows[] = {
        {"full", 1.0F, 192},
        {"empty", 0.0F, 0},
        {"half", 0.5F, 96},
        {"one line of 368", 1.0F / 368.0F, 1},
        {"above 1 stays on the track", 1.5F, 192},
        {"below 0 shows nothing", -0.25F, 0},
        {"not a number shows nothing", std::nanf(""), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        view.SetProgress(row.fraction);
        EXPECT_EQ(fill->width(), row.width);
        EXPECT_EQ(fill->geometry().topLeft(), track->geometry().topLeft());
        EXPECT_EQ(fill->height(), track->height());
    }
    view.SetProgress(0.5F);
    // The fill is drawn above the track.
    EXPECT_EQ(view.childAt(QPoint(20, 110)), fill);
    EXPECT_EQ(fill->palette().color(QPalette::Window), QColor(0, 192, 0));
    EXPECT_EQ(track->palette().color(QPalette::Window), view.palette().color(QPalette::Button));

    view.SetProgressBackground(kBlack);
    EXPECT_EQ(track->palette().color(QPalette::Window), QColor(0, 0, 0));
}

TEST_F(QtUpdaterViewTest, TextsAndPanelsKeepEveryByteValue) {
    // The download keeps the device's reply characters in Text1, BEL and NUL among them.
    const std::string bytes[] = {std::string("\x07"), std::string(1, '\0'), "T",
                                 std::string("\xE9\xFF")};
    for (const auto& text : bytes) {
        SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(text[0])));
        view.SetText(TextBox::Text1, text);
        EXPECT_EQ(view.GetText(TextBox::Text1), text);
    }
    view.SetPanelText("ser", "123456");
    view.SetPanelText("mod", "Q218");
    EXPECT_EQ(view.GetPanelText("ser"), "123456");
    EXPECT_EQ(view.GetPanelText("mod"), "Q218");
    EXPECT_EQ(view.GetPanelText("rev"), "");
    // Panels are addressed by key only; an unknown key reaches none of them.
    view.SetPanelText("Mod", "x");
    EXPECT_EQ(view.GetPanelText("mod"), "Q218");
    EXPECT_EQ(view.GetPanelText("Mod"), "");
}

TEST_F(QtUpdaterViewTest, DeviceFieldsShowLiterallyOnOneLineInPlace) {
    const std::string rows[] = {"<h1><b>123456</b>", "<img\tsrc=:/q218-updater.png>",
                                "1234\n5678\n9012", std::string(3000, 'W')};
    for (const char* key : {"mod", "ser", "rev", "dat"}) {
        auto* panel = Child<QLabel>(key);
        for (const std::string& text : rows) {
            SCOPED_TRACE(key + text.substr(0, 30));
            view.SetPanelText(key, text);
            EXPECT_EQ(view.GetPanelText(key), text);
            const QImage drawn = panel->grab(panel->rect().adjusted(1, 1, -1, -1)).toImage();
            const QRect ink =
                QRegion(QBitmap::fromImage(drawn, Qt::ThresholdDither)).boundingRect();
            EXPECT_GE(ink.right(), drawn.width() - 8);  // literal text is wider than a panel
            EXPECT_LE(ink.height(), panel->fontMetrics().height());  // and one line high
            EXPECT_EQ(panel->size(), QSize(70, 25));
            EXPECT_EQ(view.size(), QSize(294, 162));
        }
    }
}

// The started window as drawn. The picture is also kept as window.png in the working folder,
// for a person to compare with the control table.
TEST(QtUpdaterViewStarted, DrawsTheStartedWindowsLook) {
    sim::FakeClock clock;
    sim::InMemoryLink link;
    QtUpdaterView view;
    Main window(view, link, clock);
    view.SetEvents(&window);
    view.show();
    view.Dispatch([&window] { window.Form_Load(); });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(view.GetText(TextBox::Text2), "Connect Q218 to serial port.");
    EXPECT_EQ(view.GetText(TextBox::Text3), test::InputTag().VersionLine());

    const QImage shot = view.grab().toImage();
    shot.save(QStringLiteral("window.png"));
    const QColor face = view.palette().color(QPalette::Button);
    // The message line is flat: no border line at its top-left corner.
    EXPECT_EQ(shot.pixelColor(8, 24), face);
    // The track has a single-line border and no fill is visible at the start.
    EXPECT_NE(shot.pixelColor(8, 104), face);
    EXPECT_EQ(shot.pixelColor(9, 113), face);
    // The hidden serial-number box draws nothing above the message line's right-hand end.
    EXPECT_EQ(shot.pixelColor(190, 20), view.palette().color(QPalette::Window));

    view.SetProgress(1.0F);
    const QImage full = view.grab().toImage();
    EXPECT_EQ(full.pixelColor(9, 113), QColor(0, 192, 0));
    EXPECT_EQ(full.pixelColor(198, 113), QColor(0, 192, 0));
}

}  // namespace
}  // namespace q218
