#include "app/win32/Win32MessageService.h"

#include <windows.h>

namespace vp {

static_assert(kMbOk == MB_OK && kMbOkCancel == MB_OKCANCEL && kMbAbortRetryIgnore == MB_ABORTRETRYIGNORE &&
              kMbYesNo == MB_YESNO && kMbButtonMask == MB_TYPEMASK);
static_assert(kMbIconHand == MB_ICONHAND && kMbIconQuestion == MB_ICONQUESTION &&
              kMbIconInformation == MB_ICONINFORMATION);
static_assert(kMbSetForeground == MB_SETFOREGROUND && kMbTopmost == MB_TOPMOST);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdAbort == IDABORT && kIdYes == IDYES && kIdNo == IDNO);

namespace {

// Not every implementation of the Windows API honours MB_TOPMOST in
// MessageBox (Wine leaves it out), and a box shown from a worker thread must
// not open behind a note that stays on top. So while a topmost box is shown, a
// hook on the calling thread puts the first window activated there, the box,
// on top itself; where the system did it already this changes nothing.
class TopmostBoxHook {
public:
    TopmostBoxHook() : m_outer(t_current) {
        t_current = this;
        m_hook = SetWindowsHookExA(WH_CBT, &TopmostBoxHook::onEvent, nullptr, GetCurrentThreadId());
    }
    ~TopmostBoxHook() {
        if (m_hook) UnhookWindowsHookEx(m_hook);
        t_current = m_outer;
    }
    TopmostBoxHook(const TopmostBoxHook&) = delete;
    TopmostBoxHook& operator=(const TopmostBoxHook&) = delete;

private:
    static LRESULT CALLBACK onEvent(int code, WPARAM wParam, LPARAM lParam) {
        // A box shown while another one is open installs its own hook; the
        // innermost box is the one being activated.
        TopmostBoxHook* current = t_current;
        if (code == HCBT_ACTIVATE && current && current->m_pending) {
            current->m_pending = false;
            SetWindowPos(reinterpret_cast<HWND>(wParam), HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static thread_local TopmostBoxHook* t_current;

    TopmostBoxHook* m_outer;
    HHOOK m_hook = nullptr;
    bool m_pending = true;
};

thread_local TopmostBoxHook* TopmostBoxHook::t_current = nullptr;

} // namespace

uint32_t Win32MessageService::showBox(const char* title, const char* text, std::uintptr_t owner, uint32_t flags) {
    const HWND foreground = GetForegroundWindow();
    const HWND active = GetActiveWindow();
    const HWND ownerWindow = owner == kFocusedOwner ? GetFocus() : reinterpret_cast<HWND>(owner);
    int result = 0;
    if (flags & kMbTopmost) {
        TopmostBoxHook hook;
        result = MessageBoxA(ownerWindow, text, title, flags);
    } else {
        result = MessageBoxA(ownerWindow, text, title, flags);
    }
    if (foreground) SetForegroundWindow(foreground);
    if (active) SetActiveWindow(active);
    return result > 0 ? static_cast<uint32_t>(result) : 0;
}

} // namespace vp
