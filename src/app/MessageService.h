#pragma once
// Every box the system shows goes through showMessage, so that all of them
// carry the product's title, come to the front and stay on top. The boxes
// themselves come from the installed MessageService: the Win32 UI installs
// its own; until then (and in the Linux programs) a console service writes
// each box to stderr and answers it as an unattended program must.

#include "foundation/TextString.h"

#include <cstdint>

namespace vp {

// Box flags, numbered as Windows numbers them.
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbOkCancel = 0x1;
constexpr uint32_t kMbAbortRetryIgnore = 0x2;
constexpr uint32_t kMbYesNo = 0x4;
constexpr uint32_t kMbButtonMask = 0xF;
constexpr uint32_t kMbIconHand = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr uint32_t kMbSetForeground = 0x10000;
constexpr uint32_t kMbTopmost = 0x40000;

// The buttons a box answers with.
constexpr uint32_t kIdOk = 1;
constexpr uint32_t kIdCancel = 2;
constexpr uint32_t kIdAbort = 3;
constexpr uint32_t kIdYes = 6;
constexpr uint32_t kIdNo = 7;

// The kinds of showMessage.
constexpr uint32_t kMessageInformation = 0;
constexpr uint32_t kMessageError = 1;
constexpr uint32_t kMessageDebug = 2;
constexpr uint32_t kMessageSystemError = 3;  // the text argument carries an error code
constexpr uint32_t kMessageQuestion = 6;

// Owners of a box: a window handle, none, or whichever window of the calling
// thread has the keyboard focus (resolved by the service that shows the box).
constexpr std::uintptr_t kNoOwner = 0;
constexpr std::uintptr_t kFocusedOwner = ~std::uintptr_t{0};

class MessageService {
public:
    virtual ~MessageService() = default;
    // Shows one box with exactly these flags and returns the button pressed,
    // 0 when no box could be shown.
    virtual uint32_t showBox(const char* title, const char* text, std::uintptr_t owner, uint32_t flags) = 0;
    // 1 and the system's text for code, or 0 (text empty) when it has none.
    virtual uint32_t systemErrorText(uint32_t code, TextString& text);
};

// Installs the service every box goes to (null: the console service) and
// returns the one installed before (null when it was the console service).
// An installed service must outlive every box shown through it.
MessageService* setMessageService(MessageService* service);
MessageService& messageService();
// The service in place until another is installed.
MessageService& consoleMessageService();

// Shows text as a box of kind (see above) and returns the button, or 0 when
// text is null, the kind is unknown, or a system error has no text. For kind
// 3 text is the error code itself; for kind 6 owner and the low 16 bits of
// flags are used, every other kind belongs to the focused window.
uint32_t showMessage(const char* text, uint32_t kind, std::uintptr_t owner = kNoOwner, uint32_t flags = 0);
uint32_t showInfo(const char* text);
// The system's text for code in a box titled "... - GetLastError"; nothing
// (0) when the system has no text or code is 0.
uint32_t showSystemError(uint32_t code);
// A question box (kind 6 with the question icon): kMbYesNo gives kIdYes or
// kIdNo, kMbOkCancel gives kIdOk or kIdCancel.
uint32_t ask(std::uintptr_t owner, const char* text, uint32_t flags);
// 1 and the system's text for code, or 0.
uint32_t systemErrorText(TextString& text, uint32_t code);

// The result of the last box shown by any thread.
uint32_t lastMessageResult();
// The button that declines a box with these flags (OK for a box that has
// only OK): what a program answers when nobody is there to agree.
uint32_t negativeAnswer(uint32_t flags);

} // namespace vp
