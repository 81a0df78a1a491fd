#include "app/win32/Win32MessageService.h"

#include "support/ScriptedMessages.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

namespace vp {
namespace {

using test::ScopedMessageService;

struct SeenBox {
    std::string text;
    bool topmost = false;
    bool found = false;
};

// Waits for the box titled "Vellumpost", reads it, and presses button.
SeenBox answerBox(WPARAM button) {
    SeenBox seen;
    for (int attempt = 0; attempt < 400 && !seen.found; ++attempt) {
        // A box becomes visible once its dialog is set up (text, topmost).
        HWND box = FindWindowA("#32770", "Vellumpost");
        if (!box || !IsWindowVisible(box)) {
            Sleep(25);
            continue;
        }
        char text[256] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        seen.text = text;
        // Shown comes a moment before activated, when the box goes on top.
        for (int wait = 0; wait < 40 && !seen.topmost; ++wait) {
            seen.topmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
            if (!seen.topmost) Sleep(25);
        }
        seen.found = true;
        PostMessageA(box, WM_COMMAND, button, 0);
    }
    return seen;
}

TEST(Win32MessageService, ShowsATopmostBoxAndReturnsThePressedButton) {
    Win32MessageService service;
    ScopedMessageService installed(service);

    SeenBox question;
    std::thread driver([&question] { question = answerBox(IDNO); });
    const uint32_t answer = ask(kNoOwner, "Delete this note?", kMbYesNo);
    driver.join();
    ASSERT_TRUE(question.found);
    EXPECT_EQ(answer, kIdNo);
    EXPECT_EQ(question.text, "Delete this note?");
    EXPECT_TRUE(question.topmost);

    // An information box belongs to the focused window (none here).
    SeenBox info;
    driver = std::thread([&info] { info = answerBox(IDOK); });
    EXPECT_EQ(showInfo("Your password has been changed."), kIdOk);
    driver.join();
    ASSERT_TRUE(info.found);
    EXPECT_EQ(info.text, "Your password has been changed.");
    EXPECT_TRUE(info.topmost);
}

} // namespace
} // namespace vp
