#include "app/MessageService.h"

#include "app/AppInfo.h"
#include "platform/ErrorText.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace vp {

namespace {

// Writes each box to stderr. Nobody is there to read it, so a question is
// answered with its negative button: an unattended program never agrees to
// anything by itself.
class ConsoleMessageService final : public MessageService {
public:
    uint32_t showBox(const char* title, const char* text, std::uintptr_t, uint32_t flags) override {
        // One call per box, so that lines of boxes from two threads do not mix.
        std::fprintf(stderr, "%s: %s\n", title ? title : "", text ? text : "");
        return negativeAnswer(flags);
    }
};

ConsoleMessageService g_console;
std::atomic<MessageService*> g_installed{nullptr};
std::atomic<uint32_t> g_lastResult{0};

constexpr uint32_t kEveryBox = kMbSetForeground | kMbTopmost;

// The title of a kind. The longest is display name + " - GetLastError".
void composeTitle(char (&title)[64], uint32_t kind) {
    const char* suffix = "";
    if (kind == kMessageDebug) suffix = " Debug";
    if (kind == kMessageSystemError) suffix = " - GetLastError";
    std::snprintf(title, sizeof title, "%s%s", kDisplayName, suffix);
}

} // namespace

uint32_t MessageService::systemErrorText(uint32_t code, TextString& text) {
    text = TextString();
    try {
        std::string found;
        if (!platform::systemErrorText(code, found)) return 0;
        text = TextString(found.data(), static_cast<uint32_t>(found.size()));
    } catch (...) {
        return 0;
    }
    return text.isValid() && !text.isEmpty() ? 1 : 0;
}

MessageService* setMessageService(MessageService* service) { return g_installed.exchange(service); }

MessageService& messageService() {
    MessageService* installed = g_installed.load();
    return installed ? *installed : g_console;
}

MessageService& consoleMessageService() { return g_console; }

uint32_t showMessage(const char* text, uint32_t kind, std::uintptr_t owner, uint32_t flags) {
    if (!text) return 0;
    MessageService& service = messageService();
    uint32_t boxFlags = 0;
    TextString systemText;
    switch (kind) {
    case kMessageInformation: boxFlags = kMbOk | kMbIconInformation; break;
    case kMessageError: boxFlags = kMbOk | kMbIconHand; break;
    case kMessageDebug: boxFlags = kMbOk; break;
    case kMessageSystemError:
        // The pointer is the error code (the kind's calling convention).
        if (!service.systemErrorText(static_cast<uint32_t>(reinterpret_cast<std::uintptr_t>(text)), systemText)) {
            return 0;
        }
        text = systemText.c_str();
        boxFlags = kMbOk | kMbIconInformation;
        break;
    case kMessageQuestion: boxFlags = flags & 0xFFFF; break;
    default: return 0;
    }
    char title[64];
    composeTitle(title, kind);
    const std::uintptr_t boxOwner = kind == kMessageQuestion ? owner : kFocusedOwner;
    const uint32_t result = service.showBox(title, text, boxOwner, boxFlags | kEveryBox);
    g_lastResult.store(result);
    return result;
}

uint32_t showInfo(const char* text) { return showMessage(text, kMessageInformation); }

uint32_t showSystemError(uint32_t code) {
    return showMessage(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(code)), kMessageSystemError);
}

uint32_t ask(std::uintptr_t owner, const char* text, uint32_t flags) {
    return showMessage(text, kMessageQuestion, owner, flags | kMbIconQuestion);
}

uint32_t systemErrorText(TextString& text, uint32_t code) { return messageService().systemErrorText(code, text); }

uint32_t lastMessageResult() { return g_lastResult.load(); }

uint32_t negativeAnswer(uint32_t flags) {
    switch (flags & kMbButtonMask) {
    case kMbOk: return kIdOk;
    case kMbYesNo: return kIdNo;
    case kMbAbortRetryIgnore: return kIdAbort;
    default: return kIdCancel;  // every other set of buttons has Cancel
    }
}

} // namespace vp
