// The driver's probe inside the client's process: a menu is readable only
// by the process that made it, so the driver hooks the client's interface
// thread with this library, and the hook, asked by a registered message sent
// to the open menu's window, writes the menu's items into shared memory.
//
// One line per item: its text, a tab, and "grey", "check", "grey check" or
// "-" for a plain one.
#include <windows.h>

namespace {

constexpr char kMappingName[] = "VellumpostDriverProbe";
constexpr DWORD kMappingSize = 4096;

void append(char* out, DWORD& used, const char* text) {
    while (*text && used + 1 < kMappingSize) out[used++] = *text++;
    out[used] = '\0';
}

void describeMenu(HWND menuWindow) {
    const HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
    const HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kMappingName);
    if (!mapping) return;
    if (auto* out = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kMappingSize))) {
        DWORD used = 0;
        out[0] = '\0';
        const int count = GetMenuItemCount(menu);
        for (int i = 0; i < count; ++i) {
            char text[128] = "";
            GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
            const UINT state = GetMenuState(menu, i, MF_BYPOSITION);
            if (state & MF_SEPARATOR) continue;
            const bool grey = (state & MF_GRAYED) != 0;
            const bool checked = (state & MF_CHECKED) != 0;
            append(out, used, text);
            append(out, used, grey && checked ? "\tgrey check\n" : grey ? "\tgrey\n" : checked ? "\tcheck\n" : "\t-\n");
        }
        UnmapViewOfFile(out);
    }
    CloseHandle(mapping);
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK vpProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT ask = RegisterWindowMessageA(kMappingName);
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent && sent->message == ask) describeMenu(sent->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
