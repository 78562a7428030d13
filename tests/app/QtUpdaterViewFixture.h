// The Qt window on the offscreen platform, shown, with a stand-in for the window logic.

#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/qt/QtUpdaterView.h"

// Named, not anonymous: the test files that share the fixture must share its type.
namespace q218::test {

// Stands in for the window logic: records each event, and runs an optional action for it.
class RecordingEvents final : public WindowEvents {
public:
    void cmdOK_Click() override { Run("OK", onOK); }
    void cmdUpdate_Click() override { Run("Update", onUpdate); }
    void cmdExit_Click() override {
        calls.emplace_back("Exit");
        throw ProgramEnded{};
    }
    void Text4_KeyDown(std::int16_t keyCode, int shift) override {
        calls.push_back("Key " + std::to_string(keyCode) + " " + std::to_string(shift));
    }

    std::vector<std::string> calls;
    std::function<void()> onOK;
    std::function<void()> onUpdate;

private:
    void Run(const char* name, const std::function<void()>& action) {
        calls.emplace_back(name);
        if (action) {
            action();
        }
    }
};

class QtUpdaterViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.SetEvents(&events);
        view.show();
    }

    template <typename T>
    T* Child(const char* name) {
        auto* child = view.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    QRect InWindow(const QWidget& widget) const {
        return QRect(widget.mapTo(&view, QPoint(0, 0)), widget.size());
    }

    RecordingEvents events;
    QtUpdaterView view;
};

}  // namespace q218::test
