#include "app/win32/TrayIcon.h"

#include "app/TrayState.h"

#include <shellapi.h>

#include <cstring>

namespace vp {

namespace {

// The original layout of the structure: what every shell takes.
NOTIFYICONDATAA iconData(HWND window, uint32_t identifier) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = identifier;
    return data;
}

void setTip(NOTIFYICONDATAA& data, const TextString& tip) {
    if (tip.isEmpty()) return;
    std::strncpy(data.szTip, tip.c_str(), kTrayTipLength);
    data.szTip[kTrayTipLength] = '\0';
    data.uFlags |= NIF_TIP;
}

} // namespace

bool addTrayIcon(HWND window, HICON icon, uint32_t identifier, const TextString& tip) {
    NOTIFYICONDATAA data = iconData(window, identifier);
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = identifier;
    data.hIcon = icon;
    setTip(data, tip);
    return Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
}

bool modifyTrayIcon(HWND window, HICON icon, uint32_t identifier, const TextString& tip) {
    NOTIFYICONDATAA data = iconData(window, identifier);
    if (icon) {
        data.uFlags |= NIF_ICON;
        data.hIcon = icon;
    }
    setTip(data, tip);
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool removeTrayIcon(HWND window, uint32_t identifier) {
    NOTIFYICONDATAA data = iconData(window, identifier);
    return Shell_NotifyIconA(NIM_DELETE, &data) != FALSE;
}

} // namespace vp
