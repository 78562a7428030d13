#pragma once
// The technician's way through one update in the headless window. Header only: the tests that
// use it link the window logic themselves.

#include <functional>
#include <string>

#include "app/Main.h"
#include "support/FakeView.h"

namespace q218::test {

// Loads the window, clicks "OK", types `serial` when the updater asks for one, and clicks
// "&Update" once it is enabled, `beforeUpdate` first. What was done stays recorded when a wait
// that ends the program (Exit, the window's close) throws out of Update.
struct Technician {
    std::string serial = {};
    std::function<void()> beforeUpdate = {};
    bool askedForSerial = false;
    bool clickedUpdate = false;

    void Update(Main& main, FakeView& view) {
        main.Form_Load();
        main.cmdOK_Click();
        if (view.IsVisible(TextBox::Text4)) {
            view.SetText(TextBox::Text4, serial);
            main.Text4_KeyDown(kKeyEnter, 0);
            askedForSerial = true;
        }
        if (view.IsEnabled(Button::cmdUpdate)) {
            if (beforeUpdate) {
                beforeUpdate();
            }
            clickedUpdate = true;
            main.cmdUpdate_Click();
        }
    }
};

}  // namespace q218::test
