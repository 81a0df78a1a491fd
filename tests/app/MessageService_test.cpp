#include "app/MessageService.h"

#include "platform/ErrorText.h"

#include "support/ScriptedMessages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using test::ScopedMessageService;
using test::ScriptedMessages;

constexpr uint32_t kEveryBox = kMbSetForeground | kMbTopmost;
// A number no system has a text for.
constexpr uint32_t kUnknownCode = 123456789;

std::string text(const TextString& value) { return std::string(value.c_str(), value.length()); }

TEST(MessageService, EachKindHasItsTitleOwnerAndFlags) {
    ScriptedMessages boxes;
    ScopedMessageService installed(boxes);
    const std::uintptr_t owner = 0x1234;
    boxes.script({kIdYes});

    EXPECT_EQ(ask(owner, "Delete it?", kMbYesNo), kIdYes);
    EXPECT_EQ(lastMessageResult(), kIdYes);
    EXPECT_EQ(ask(kNoOwner, "Go on?", kMbOkCancel), kIdCancel);
    EXPECT_EQ(showMessage("info", kMessageInformation, owner, kMbYesNo), kIdOk);
    EXPECT_EQ(showMessage("error", kMessageError), kIdOk);
    EXPECT_EQ(showMessage("debug", kMessageDebug), kIdOk);
    EXPECT_EQ(showSystemError(2), kIdOk);
    // Only the low 16 bits of a question's flags reach the box.
    EXPECT_EQ(showMessage("question", kMessageQuestion, owner, 0x00FF0000 | kMbOkCancel | kMbIconHand), kIdCancel);
    EXPECT_EQ(showInfo("shorthand"), kIdOk);

    TextString systemText;
    ASSERT_EQ(systemErrorText(systemText, 2), 1u);
    const std::vector<ScriptedMessages::Box> shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 8u);
    struct Expected {
        const char* title;
        std::string text;
        std::uintptr_t owner;
        uint32_t flags;
    };
    const Expected expected[] = {
        {"Vellumpost", "Delete it?", owner, kMbYesNo | kMbIconQuestion | kEveryBox},
        // No owner stays no owner: it is not the focused window.
        {"Vellumpost", "Go on?", kNoOwner, kMbOkCancel | kMbIconQuestion | kEveryBox},
        // The owner and flags given with kinds 0-3 are not theirs to choose.
        {"Vellumpost", "info", kFocusedOwner, kMbOk | kMbIconInformation | kEveryBox},
        {"Vellumpost", "error", kFocusedOwner, kMbOk | kMbIconHand | kEveryBox},
        {"Vellumpost Debug", "debug", kFocusedOwner, kMbOk | kEveryBox},
        {"Vellumpost - GetLastError", text(systemText), kFocusedOwner, kMbOk | kMbIconInformation | kEveryBox},
        {"Vellumpost", "question", owner, kMbOkCancel | kMbIconHand | kEveryBox},
        {"Vellumpost", "shorthand", kFocusedOwner, kMbOk | kMbIconInformation | kEveryBox},
    };
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shown[i].title, expected[i].title);
        EXPECT_EQ(shown[i].text, expected[i].text);
        EXPECT_EQ(shown[i].owner, expected[i].owner);
        EXPECT_EQ(shown[i].flags, expected[i].flags);
    }
}

TEST(MessageService, NothingIsShownWithoutText) {
    ScriptedMessages boxes;
    ScopedMessageService installed(boxes);
    boxes.script({kIdOk});
    showInfo("before");
    ASSERT_EQ(lastMessageResult(), kIdOk);

    for (uint32_t kind : {kMessageInformation, kMessageError, kMessageDebug, kMessageQuestion}) {
        EXPECT_EQ(showMessage(nullptr, kind, 0, kMbYesNo), 0u) << kind;
    }
    EXPECT_EQ(ask(kNoOwner, nullptr, kMbYesNo), 0u);
    // Kind 3 carries the code in the text argument, so code 0 is "no text".
    EXPECT_EQ(showSystemError(0), 0u);
    // A code the system has no words for shows an empty box nowhere.
    EXPECT_EQ(showSystemError(kUnknownCode), 0u);
    // A kind that does not exist.
    EXPECT_EQ(showMessage("text", 4), 0u);
    EXPECT_EQ(boxes.boxCount(), 1u);
    // A box that was never shown leaves the last result alone.
    EXPECT_EQ(lastMessageResult(), kIdOk);
}

TEST(MessageService, TheConsoleServiceNeverAgreesByItself) {
    ScriptedMessages boxes;
    ScopedMessageService installed(boxes);
    {
        // The console service, installed for a moment over the scripted one.
        ScopedMessageService console(consoleMessageService());
        ASSERT_EQ(&messageService(), &consoleMessageService());
        testing::internal::CaptureStderr();
        EXPECT_EQ(ask(kNoOwner, "Create an account?", kMbYesNo), kIdNo);
        EXPECT_EQ(ask(kNoOwner, "Connect now?", kMbOkCancel), kIdCancel);
        EXPECT_EQ(showInfo("Your password has been changed."), kIdOk);
        const std::string written = testing::internal::GetCapturedStderr();
        EXPECT_EQ(written,
                  "Vellumpost: Create an account?\n"
                  "Vellumpost: Connect now?\n"
                  "Vellumpost: Your password has been changed.\n");
    }
    EXPECT_EQ(&messageService(), &boxes);
    EXPECT_EQ(boxes.boxCount(), 0u);

    MessageService* previous = setMessageService(nullptr);
    EXPECT_EQ(previous, &boxes);
    EXPECT_EQ(&messageService(), &consoleMessageService());
    setMessageService(previous);
}

TEST(MessageService, SystemErrorTexts) {
    TextString found;
    ASSERT_EQ(systemErrorText(found, 2), 1u);
    const std::string words = text(found);
    EXPECT_FALSE(words.empty());
    EXPECT_NE(words.back(), '\n');
    EXPECT_NE(words.back(), '\r');

    TextString none("left over");
    EXPECT_EQ(systemErrorText(none, kUnknownCode), 0u);
    EXPECT_TRUE(none.isEmpty());

    std::string platformText;
    EXPECT_FALSE(platform::systemErrorText(kUnknownCode, platformText));
    EXPECT_TRUE(platformText.empty());
#ifndef _WIN32
    // The socket layer reports errno as 10000 + errno; both name one error.
    std::string plain;
    std::string socket;
    ASSERT_TRUE(platform::systemErrorText(111, plain));
    ASSERT_TRUE(platform::systemErrorText(10111, socket));
    EXPECT_EQ(plain, socket);
#endif
}

} // namespace
} // namespace vp
