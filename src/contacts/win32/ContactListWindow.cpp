#include "contacts/win32/ContactListWindow.h"

#include "app/Application.h"
#include "app/win32/WindowClass.h"
#include "app/win32/resource.h"

#include <commctrl.h>

namespace vp {

namespace {

constexpr int kStatusFirstPart = 100;

} // namespace

ContactListWindow::ContactListWindow(Application& application) : m_application(application) {}

ContactListWindow::~ContactListWindow() {
    if (m_window) DestroyWindow(m_window);
}

uint32_t ContactListWindow::create(HINSTANCE instance, HWND owner) {
    (void)owner;
    registerWindowClass(instance, {kClassName, windowProc, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
                                   LoadIconA(instance, MAKEINTRESOURCEA(IDI_DISCONNECTED)),
                                   reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1)});
    m_window = CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 220,
                               420, nullptr, nullptr, instance, this);
    if (!m_window) return 0;
    m_status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, m_window,
                               nullptr, instance, nullptr);
    int parts[2] = {kStatusFirstPart, -1};
    SendMessageA(m_status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    m_placement = std::make_unique<ContactPlacement>(platform::systemRegistry(),
                                                     static_cast<PlacementWindow&>(*this),
                                                     m_application.registryKeyPath());
    m_placement->loadPlacement();
    setConnected(0, m_application.awayOptions().GetInt(AwayOptions::kAwayMode) != 0, TextString());
    return 1;
}

void ContactListWindow::close() {
    if (!m_window) return;
    if (m_placement) m_placement->savePlacement();
    DestroyWindow(m_window);
    m_window = nullptr;
    m_status = nullptr;
}

void ContactListWindow::showAndActivate() {
    if (!m_window) return;
    if (IsIconic(m_window)) ShowWindow(m_window, SW_RESTORE);
    ShowWindow(m_window, SW_SHOW);
    SetForegroundWindow(m_window);
    SetActiveWindow(m_window);
}

void ContactListWindow::hideWindow() {
    if (m_window) ShowWindow(m_window, SW_HIDE);
}

bool ContactListWindow::fullyVisible() const {
    if (!m_window || !IsWindowVisible(m_window) || IsIconic(m_window)) return false;
    RECT box;
    GetWindowRect(m_window, &box);
    const LONG width = GetSystemMetrics(SM_CXMAXIMIZED);
    const LONG height = GetSystemMetrics(SM_CYMAXIMIZED);
    const POINT corners[] = {{box.left + 1, box.top + 1}, {box.right - 2, box.top + 1},
                             {box.left + 1, box.bottom - 2}, {box.right - 2, box.bottom - 2}};
    for (const POINT& corner : corners) {
        const bool outside = corner.x < 0 || corner.y < 0 || corner.x >= width || corner.y >= height;
        if (!outside && GetAncestor(WindowFromPoint(corner), GA_ROOT) != m_window) return false;
    }
    return true;
}

void ContactListWindow::resetPlacement() {
    if (m_placement) m_placement->resetPlacement();
}

void ContactListWindow::setConnected(uint32_t connected, bool away, const TextString& account) {
    if (!m_window) return;
    const char* state = connected ? (away ? "Away & Connected" : "Connected")
                                  : (away ? "Away & Disconnected" : "Disconnected");
    SendMessageA(m_status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(state));
    SendMessageA(m_status, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(connected ? account.c_str() : ""));
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(m_window, GWLP_HINSTANCE));
    const HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(connected ? IDI_CONNECTED : IDI_DISCONNECTED));
    SendMessageA(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

uint32_t ContactListWindow::update(Subject&, std::uintptr_t) { return 1; }

LRESULT CALLBACK ContactListWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = windowObject<ContactListWindow>(window, message, lParam);
    if (!self || !self->m_window) return DefWindowProcA(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT ContactListWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (m_status) SendMessageA(m_status, WM_SIZE, 0, 0);
        break;
    case WM_CLOSE:
        // Closing only hides it: the program ends through Exit.
        hideWindow();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE || (wParam & 0xFFF0) == SC_MAXIMIZE) m_placement->savePlacement();
        break;
    default:
        break;
    }
    return DefWindowProcA(m_window, message, wParam, lParam);
}

bool ContactListWindow::exists() const { return m_window != nullptr; }
bool ContactListWindow::isVisible() const { return m_window && IsWindowVisible(m_window); }
bool ContactListWindow::isMinimized() const { return m_window && IsIconic(m_window); }
bool ContactListWindow::isMaximized() const { return m_window && IsZoomed(m_window); }

WindowRect ContactListWindow::rect() const {
    RECT box{};
    if (m_window) GetWindowRect(m_window, &box);
    return WindowRect{box.left, box.top, box.right, box.bottom};
}

void ContactListWindow::moveTo(int32_t left, int32_t top, int32_t width, int32_t height) {
    MoveWindow(m_window, left, top, width, height, TRUE);
}

void ContactListWindow::resize(int32_t width, int32_t height) {
    SetWindowPos(m_window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ContactListWindow::setSizingBorder(bool on) {
    LONG_PTR style = GetWindowLongPtrA(m_window, GWL_STYLE);
    style = on ? (style | WS_THICKFRAME) : (style & ~static_cast<LONG_PTR>(WS_THICKFRAME));
    SetWindowLongPtrA(m_window, GWL_STYLE, style);
    SetWindowPos(m_window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

void ContactListWindow::clearMinMax() {
    const LONG_PTR style = GetWindowLongPtrA(m_window, GWL_STYLE);
    SetWindowLongPtrA(m_window, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_MINIMIZE | WS_MAXIMIZE));
}

void ContactListWindow::show(ShowMode mode) {
    switch (mode) {
    case ShowMode::Hide: ShowWindow(m_window, SW_HIDE); break;
    case ShowMode::Normal: ShowWindow(m_window, SW_SHOWNORMAL); break;
    case ShowMode::Maximized: ShowWindow(m_window, SW_SHOWMAXIMIZED); break;
    case ShowMode::Minimized: ShowWindow(m_window, SW_SHOWMINIMIZED); break;
    }
}

int32_t ContactListWindow::maximizedWidth() const { return GetSystemMetrics(SM_CXMAXIMIZED); }
int32_t ContactListWindow::maximizedHeight() const { return GetSystemMetrics(SM_CYMAXIMIZED); }

} // namespace vp
