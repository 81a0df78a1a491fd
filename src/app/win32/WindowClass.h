#pragma once
// What the client's window classes share: registration with the program's
// defaults, the window procedure's way to the object a window was made
// for, and the screen's colour depth.

#include <windows.h>

namespace vp {

struct WindowClass {
    const char* name = nullptr;
    WNDPROC procedure = nullptr;
    UINT style = 0;
    HICON icon = nullptr;       // large and small
    HBRUSH background = nullptr;
};

// Registers the class with the arrow cursor; registering a name again is no
// error. false when the class cannot be registered.
inline bool registerWindowClass(HINSTANCE instance, const WindowClass& windowClass) {
    WNDCLASSEXA registered{};
    registered.cbSize = sizeof registered;
    registered.style = windowClass.style;
    registered.lpfnWndProc = windowClass.procedure;
    registered.hInstance = instance;
    registered.hIcon = windowClass.icon;
    registered.hIconSm = windowClass.icon;
    registered.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    registered.hbrBackground = windowClass.background;
    registered.lpszClassName = windowClass.name;
    return RegisterClassExA(&registered) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The object a window was created for (CreateWindowExA's last argument),
// kept in the window's user data from WM_NCCREATE on; null before that.
template <typename T>
T* windowObject(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// More than 256 colours on the screen: the pictures and colours for many
// colours rather than for 8 bits.
inline bool manyColours() {
    const HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    return bits > 8;
}

} // namespace vp
