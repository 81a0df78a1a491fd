// The window-test driver: a console program in the same Wine prefix and
// display as Vellumpost.exe that finds the client's windows, drives them with
// messages and reads their texts and states back. One step per run:
//
//   vpdriver STEP [ARGS...]
//
// Every step waits (up to its time-out) for what it checks, prints one
// "ok - ..." or "not ok - ..." line and exits 0 or 1. Steps that make the
// client open a modal box post their message: a send would wait for the box.
//
// Windows are named by class and, optionally, title; "-" stands for any
// title. The client's main window is the class "Vellumpost".
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char kMainClass[] = "Vellumpost";
constexpr UINT kMainIconMessage = 1540;
constexpr UINT kNewNotesIconMessage = 1541;
constexpr DWORD kWaitMs = 15000;

// TEXT; its beginning for "TEXT*", a part of it for "*TEXT*".
bool matches(const std::string& seen, const std::string& wanted) {
    const bool open = !wanted.empty() && wanted.back() == '*';
    if (open && wanted.size() > 1 && wanted.front() == '*')
        return seen.find(wanted.substr(1, wanted.size() - 2)) != std::string::npos;
    if (open) return seen.rfind(wanted.substr(0, wanted.size() - 1), 0) == 0;
    return seen == wanted;
}

int report(bool ok, const std::string& what) {
    std::printf("%s - %s\n", ok ? "ok" : "not ok", what.c_str());
    std::fflush(stdout);
    return ok ? 0 : 1;
}

bool waitFor(const std::function<bool()>& condition, DWORD timeout = kWaitMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout) return false;
        Sleep(50);
    }
    return true;
}

const char* titleArg(const char* title) { return std::strcmp(title, "-") == 0 ? nullptr : title; }

HWND findVisible(const char* className, const char* title) {
    const HWND window = FindWindowA(className, titleArg(title));
    return window && IsWindowVisible(window) ? window : nullptr;
}

std::string textOf(HWND window);

// Every visible top-level window of the class with the title ("-": any).
std::vector<HWND> findAllVisible(const char* className, const char* title) {
    struct Search {
        const char* className;
        const char* title;
        std::vector<HWND> found;
    } search{className, titleArg(title), {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            char name[256] = "";
            GetClassNameA(window, name, sizeof name);
            if (std::strcmp(name, s->className) != 0 || !IsWindowVisible(window)) return TRUE;
            if (s->title && textOf(window) != s->title) return TRUE;
            s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Whether a window of the class with the title shows the control.
bool showsControl(const char* className, const char* title, const char* control) {
    for (const HWND window : findAllVisible(className, title))
        if (IsWindowVisible(GetDlgItem(window, std::atoi(control)))) return true;
    return false;
}

std::string textOf(HWND window) {
    char buffer[4096] = "";
    SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// Every text of a dialog's static controls, joined by newlines: a message
// box keeps its text in one, our own boxes in several.
std::string staticTexts(HWND dialog) {
    std::string all;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = "";
        GetClassNameA(child, className, sizeof className);
        if (_stricmp(className, "Static") != 0) continue;
        // A picture's "text" is its resource id.
        const LONG type = GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK;
        if (type == SS_ICON || type == SS_BITMAP) continue;
        const std::string text = textOf(child);
        if (text.empty()) continue;
        if (!all.empty()) all += "\n";
        all += text;
    }
    return all;
}

// Memory inside the process that owns a window: messages whose parameters
// point at structures are not carried across processes.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, SIZE_T size) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
        if (m_process)
            m_memory = static_cast<char*>(VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                                         PAGE_READWRITE));
    }
    ~RemoteBuffer() {
        if (m_memory) VirtualFreeEx(m_process, m_memory, 0, MEM_RELEASE);
        if (m_process) CloseHandle(m_process);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    char* at(SIZE_T offset = 0) const { return m_memory ? m_memory + offset : nullptr; }
    // The memory stays with the other process (which frees it, or not).
    void leave() { m_memory = nullptr; }
    bool write(const void* from, SIZE_T size, SIZE_T offset = 0) {
        return m_memory && WriteProcessMemory(m_process, m_memory + offset, from, size, nullptr);
    }
    bool read(void* to, SIZE_T size, SIZE_T offset = 0) {
        return m_memory && ReadProcessMemory(m_process, m_memory + offset, to, size, nullptr);
    }

private:
    HANDLE m_process = nullptr;
    char* m_memory = nullptr;
};

// The tips of the icons shown in the notification area: each tray icon has a
// tooltip window of the desktop's process, read with buffers placed in that
// process.
std::vector<std::string> trayTips() {
    std::vector<HWND> tooltips;
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            char className[64] = "";
            GetClassNameA(window, className, sizeof className);
            if (std::strcmp(className, TOOLTIPS_CLASSA) == 0) reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&tooltips));
    std::vector<std::string> tips;
    constexpr SIZE_T kTextChars = 256;
    for (const HWND tooltip : tooltips) {
        RemoteBuffer remote(tooltip, sizeof(TTTOOLINFOA) + kTextChars);
        if (!remote.at()) continue;
        const int tools = static_cast<int>(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0));
        for (int i = 0; i < tools; ++i) {
            TTTOOLINFOA tool{};
            tool.cbSize = sizeof tool;
            remote.write(&tool, sizeof tool);
            if (!SendMessageA(tooltip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(remote.at()))) continue;
            remote.read(&tool, sizeof tool);
            // The desktop keeps the tooltips of removed icons, with no area.
            if (IsRectEmpty(&tool.rect)) continue;
            tool.lpszText = remote.at(sizeof tool);
            const char empty = '\0';
            remote.write(&empty, 1, sizeof tool);
            remote.write(&tool, sizeof tool);
            SendMessageA(tooltip, TTM_GETTEXTA, kTextChars, reinterpret_cast<LPARAM>(remote.at()));
            char text[kTextChars] = "";
            remote.read(text, kTextChars - 1, sizeof tool);
            if (text[0]) tips.emplace_back(text);
        }
    }
    return tips;
}

bool hasTip(const std::string& tip) {
    for (const std::string& each : trayTips())
        if (each == tip) return true;
    return false;
}

bool hasTipStarting(const std::string& prefix) {
    for (const std::string& each : trayTips())
        if (each.rfind(prefix, 0) == 0) return true;
    return false;
}

// A dialog box of the client's process ("#32770"), with the given title.
HWND findBox(const char* title) { return findVisible("#32770", title); }

HWND mainWindow() { return FindWindowA(kMainClass, kMainClass); }

// The status bar's part, read through a buffer in the client's process.
std::string statusPart(HWND bar, int part) {
    RemoteBuffer remote(bar, 512);
    if (!remote.at()) return {};
    const char empty = '\0';
    remote.write(&empty, 1);
    SendMessageA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote.at()));
    char text[512] = "";
    remote.read(text, sizeof text - 1);
    return text;
}

std::string readRegistry(const char* hive, const char* key, const char* value) {
    const HKEY root = std::strcmp(hive, "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY opened;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return "<no key>";
    BYTE data[1024] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    const LONG result = RegQueryValueExA(opened, value, nullptr, &type, data, &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS) return "<no value>";
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
    return std::string(reinterpret_cast<char*>(data), strnlen(reinterpret_cast<char*>(data), size));
}

HWND openMenu() {
    HWND menu = nullptr;
    waitFor([&] { return (menu = findVisible("#32768", "-")) != nullptr; });
    return menu;
}

// A menu is readable only inside its process: the probe library, hooked
// into the menu's thread, writes its items into shared memory when the
// menu's window gets the probe's message.
std::string menuItems(HWND menu) {
    constexpr char kMappingName[] = "VellumpostDriverProbe";
    constexpr DWORD kMappingSize = 4096;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string library = path;
    library = library.substr(0, library.find_last_of("\\/") + 1) + "vpprobe.dll";
    const HMODULE probe = LoadLibraryA(library.c_str());
    const auto hook = probe ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(probe, "vpProbeHook"))) : nullptr;
    if (!hook) return "<no probe at " + library + ">";
    const HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kMappingSize, kMappingName);
    auto* shared = mapping ? static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kMappingSize)) : nullptr;
    std::string items = "<the probe did not answer>";
    const HHOOK hooked = SetWindowsHookExA(WH_CALLWNDPROC, hook, probe, GetWindowThreadProcessId(menu, nullptr));
    if (shared && hooked) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(menu, RegisterWindowMessageA(kMappingName), 0, 0, SMTO_ABORTIFHUNG, 5000, &result) &&
            shared[0])
            items.assign(shared, strnlen(shared, kMappingSize));
    }
    if (hooked) UnhookWindowsHookEx(hooked);
    if (shared) UnmapViewOfFile(shared);
    if (mapping) CloseHandle(mapping);
    FreeLibrary(probe);
    return items;
}

// A window of this program that takes files dragged onto it the way a
// folder of the shell would: it tells the source which of the offered
// effects it takes (move when offered and wanted, else copy) and keeps the
// first file's path. (COM objects end through Release, not the destructor.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class FileDropTarget final : public IDropTarget {
public:
    explicit FileDropTarget(bool wantMove) : m_wantMove(wantMove) {}
    std::string dropped, offered;
    DWORD taken = DROPEFFECT_NONE;
    bool done = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (id == IID_IUnknown || id == IID_IDropTarget) {
            *object = static_cast<IDropTarget*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
        choose(effect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
        choose(effect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        choose(effect);
        FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (SUCCEEDED(data->GetData(&format, &medium))) {
            const auto drop = static_cast<HDROP>(medium.hGlobal);
            char path[MAX_PATH] = "";
            if (DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) == 1) DragQueryFileA(drop, 0, path, sizeof path);
            dropped = path;
            ReleaseStgMedium(&medium);
        }
        taken = *effect;
        done = true;
        return S_OK;
    }

private:
    void choose(DWORD* effect) {
        offered = std::string(*effect & DROPEFFECT_COPY ? "copy" : "") + (*effect & DROPEFFECT_MOVE ? "+move" : "");
        *effect = m_wantMove && (*effect & DROPEFFECT_MOVE) ? DROPEFFECT_MOVE : *effect & DROPEFFECT_COPY;
    }
    bool m_wantMove;
};
#pragma GCC diagnostic pop

const char* effectName(DWORD effect) {
    return effect == DROPEFFECT_MOVE ? "move" : effect == DROPEFFECT_COPY ? "copy" : "none";
}

struct Step {
    const char* name;
    int arguments;  // the least
    const char* usage;
    std::function<int(char**)> run;
};

int postTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const std::string& what) {
    return report(window && PostMessageA(window, message, wParam, lParam), what);
}

const std::vector<Step>& steps() {
    static const std::vector<Step> all = {
        {"window", 2, "CLASS TITLE: a visible window", [](char** a) {
             return report(waitFor([&] { return findVisible(a[0], a[1]) != nullptr; }),
                           std::string("window ") + a[0] + " \"" + a[1] + "\" is shown");
         }},
        {"hidden", 2, "CLASS TITLE: the window is gone or hidden", [](char** a) {
             return report(waitFor([&] { return findVisible(a[0], a[1]) == nullptr; }),
                           std::string("window ") + a[0] + " \"" + a[1] + "\" is not shown");
         }},
        {"foreground", 2, "CLASS TITLE: the window is the active one", [](char** a) {
             return report(waitFor([&] {
                               const HWND window = findVisible(a[0], a[1]);
                               return window && GetForegroundWindow() == window;
                           }),
                           std::string("window ") + a[0] + " \"" + a[1] + "\" is in the foreground");
         }},
        {"text", 4, "CLASS TITLE CONTROL TEXT: a control's text (0: the window's own; TEXT* a beginning)",
         [](char** a) {
             std::string seen;
             // Any of the windows so named will do.
             const bool ok = waitFor([&] {
                 seen = "<no window>";
                 for (const HWND window : findAllVisible(a[0], a[1])) {
                     const int control = std::atoi(a[2]);
                     const HWND target = control ? GetDlgItem(window, control) : window;
                     seen = target ? textOf(target) : "<no control>";
                     if (matches(seen, a[3])) return true;
                 }
                 return false;
             });
             return report(ok, std::string("control ") + a[2] + " of " + a[0] + " reads \"" + a[3] + "\"" +
                                   (ok ? "" : " (it reads \"" + seen + "\")"));
         }},
        {"status", 4, "CLASS TITLE PART TEXT: a part of the window's status bar", [](char** a) {
             std::string seen;
             const bool ok = waitFor([&] {
                 const HWND window = findVisible(a[0], a[1]);
                 const HWND bar = window ? FindWindowExA(window, nullptr, STATUSCLASSNAMEA, nullptr) : nullptr;
                 seen = bar ? statusPart(bar, std::atoi(a[2])) : "<no status bar>";
                 return seen == a[3];
             });
             return report(ok, std::string("status part ") + a[2] + " of " + a[0] + " reads \"" + a[3] + "\"" +
                                   (ok ? "" : " (it reads \"" + seen + "\")"));
         }},
        {"set-text", 4, "CLASS TITLE CONTROL TEXT: a control's text is set (once the window shows it)",
         [](char** a) {
             HWND control = nullptr;
             waitFor([&] {
                 const HWND window = findVisible(a[0], a[1]);
                 control = window ? GetDlgItem(window, std::atoi(a[2])) : nullptr;
                 return control != nullptr;
             });
             return report(control && SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3])),
                           std::string("control ") + a[2] + " of " + a[0] + " set to \"" + a[3] + "\"");
         }},
        {"box", 3, "TITLE TEXT BUTTON: a box with this text (TEXT* a beginning), answered with the button's id",
         [](char** a) {
             HWND box = nullptr;
             std::string seen;
             const bool found = waitFor([&] {
                 box = findBox(a[0]);
                 seen = box ? staticTexts(box) : "<no box>";
                 return matches(seen, a[1]);
             });
             if (!found)
                 return report(false, std::string("box \"") + a[0] + "\" says \"" + a[1] + "\" (it says \"" + seen + "\")");
             PostMessageA(box, WM_COMMAND, MAKEWPARAM(std::atoi(a[2]), BN_CLICKED), 0);
             return report(waitFor([&] { return !IsWindow(box); }),
                           std::string("box \"") + a[0] + "\" answered with " + a[2]);
         }},
        {"key", 4, "CLASS TITLE CONTROL KEY: a key (a virtual-key number) pressed in a control", [](char** a) {
             const HWND window = findVisible(a[0], a[1]);
             const HWND control = window ? GetDlgItem(window, std::atoi(a[2])) : nullptr;
             const WPARAM key = std::strtoul(a[3], nullptr, 0);
             const bool posted = control && PostMessageA(control, WM_KEYDOWN, key, 1) &&
                                 PostMessageA(control, WM_KEYUP, key, 0xC0000001);
             return report(posted, std::string("key ") + a[3] + " pressed in control " + a[2] + " of " + a[0]);
         }},
        {"control", 3, "CLASS TITLE CONTROL: a window has this control, shown", [](char** a) {
             return report(waitFor([&] { return showsControl(a[0], a[1], a[2]); }),
                           std::string("window ") + a[0] + " \"" + a[1] + "\" shows control " + a[2]);
         }},
        {"no-control", 3, "CLASS TITLE CONTROL: no window so named shows this control", [](char** a) {
             return report(waitFor([&] { return !showsControl(a[0], a[1], a[2]); }),
                           std::string("no window ") + a[0] + " \"" + a[1] + "\" shows control " + a[2]);
         }},
        // The DROPFILES block is built in the window's process, where the
        // window's DragQueryFile reads it and DragFinish lets it go.
        {"drop", 3, "CLASS TITLE PATH...: files dropped onto the window", [](char** a) {
             const HWND window = findVisible(a[0], a[1]);
             if (!window) return report(false, std::string("window ") + a[0] + " \"" + a[1] + "\" to drop onto");
             std::string block(sizeof(DROPFILES), '\0');
             int files = 0;
             for (int i = 2; a[i]; ++i, ++files) block.append(a[i]).push_back('\0');
             block.push_back('\0');
             DROPFILES header{};
             header.pFiles = sizeof(DROPFILES);
             std::memcpy(block.data(), &header, sizeof header);
             RemoteBuffer remote(window, block.size());
             const bool written = remote.write(block.data(), block.size());
             const bool posted =
                 written && PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote.at()), 0);
             if (posted) remote.leave();
             return report(posted, std::to_string(files) + " file(s) dropped onto " + a[0]);
         }},
        {"no-box", 1, "TITLE: no box with this title is open", [](char** a) {
             Sleep(500);
             return report(findBox(a[0]) == nullptr, std::string("no box \"") + a[0] + "\" is open");
         }},
        {"command", 1, "ID: the main window runs a command", [](char** a) {
             return postTo(mainWindow(), WM_COMMAND, std::atoi(a[0]), 0, std::string("command ") + a[0] + " posted");
         }},
        {"post", 3, "CLASS TITLE MESSAGE [WPARAM LPARAM]: a message posted to a window (the topmost so named)",
         [](char** a) {
             const WPARAM wParam = a[3] ? std::strtoul(a[3], nullptr, 0) : 0;
             const LPARAM lParam = a[3] && a[4] ? std::strtol(a[4], nullptr, 0) : 0;
             return postTo(FindWindowA(a[0], titleArg(a[1])), std::strtoul(a[2], nullptr, 0), wParam, lParam,
                           std::string("message ") + a[2] + " posted to " + a[0]);
         }},
        {"tip", 1, "TEXT: a tray icon shows this tip", [](char** a) {
             const bool ok = waitFor([&] { return hasTip(a[0]); });
             std::string seen;
             if (!ok)
                 for (const std::string& tip : trayTips()) seen += " \"" + tip + "\"";
             return report(ok, std::string("a tray icon's tip is \"") + a[0] + "\"" + (ok ? "" : " (tips:" + seen + ")"));
         }},
        {"no-tip", 1, "PREFIX: no tray icon's tip starts so", [](char** a) {
             return report(waitFor([&] { return !hasTipStarting(a[0]); }),
                           std::string("no tray icon's tip starts with \"") + a[0] + "\"");
         }},
        {"tray-click", 2, "main|new BUTTON: a click (left|right) on a tray icon", [](char** a) {
             const UINT icon = std::strcmp(a[0], "new") == 0 ? kNewNotesIconMessage : kMainIconMessage;
             const LPARAM mouse = std::strcmp(a[1], "right") == 0 ? WM_RBUTTONUP : WM_LBUTTONUP;
             return postTo(mainWindow(), icon, icon, mouse, std::string("tray icon ") + a[0] + " clicked " + a[1]);
         }},
        {"menu", 2, "TEXT STATE [TEXT STATE...]: the open menu's items (STATE: -, grey, check)", [](char** a) {
             const HWND menu = openMenu();
             if (!menu) return report(false, "the tray menu opens");
             const std::string items = menuItems(menu);
             int failed = 0;
             for (int i = 0; a[i] && a[i + 1]; i += 2) {
                 const std::string line = std::string(a[i]) + "\t" + a[i + 1] + "\n";
                 failed += report(items.find(line) != std::string::npos,
                                  std::string("the menu's \"") + a[i] + "\" is " + a[i + 1]);
             }
             if (failed) std::printf("the menu:\n%s", items.c_str());
             PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 1);
             return failed ? 1 : 0;
         }},
        {"menu-key", 1, "KEY: a mnemonic typed into the open menu, which runs its item and closes", [](char** a) {
             const HWND menu = openMenu();
             if (!menu) return report(false, "the tray menu opens");
             PostMessageA(menu, WM_CHAR, static_cast<unsigned char>(a[0][0]), 1);
             return report(waitFor([] { return findVisible("#32768", "-") == nullptr; }),
                           std::string("'") + a[0] + "' typed into the menu closes it");
         }},
        {"registry", 4, "HKCU|HKLM KEY VALUE DATA: a registry value (a number for a DWORD)", [](char** a) {
             const std::string seen = readRegistry(a[0], a[1], a[2]);
             return report(seen == a[3], std::string(a[2]) + " is \"" + a[3] + "\"" +
                                             (seen == a[3] ? "" : " (it is \"" + seen + "\")"));
         }},
        {"file", 2, "PATH TEXT: a file that holds the text", [](char** a) {
             std::string content;
             if (FILE* file = std::fopen(a[0], "rb")) {
                 char chunk[4096];
                 size_t got;
                 while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && content.size() < (1u << 24))
                     content.append(chunk, got);
                 std::fclose(file);
             }
             return report(content.find(a[1]) != std::string::npos,
                           std::string(a[0]) + " holds \"" + a[1] + "\"");
         }},
        {"rect", 2, "CLASS TITLE [CONTROL]: print the screen rectangle of the window or control",
         [](char** a) {
             HWND window = nullptr;
             waitFor([&] { return (window = findVisible(a[0], a[1])) != nullptr; });
             if (window && a[2]) window = GetDlgItem(window, std::atoi(a[2]));
             RECT at{};
             if (!window || !GetWindowRect(window, &at)) return report(false, std::string("window ") + a[0] + " found");
             std::printf("%ld %ld %ld %ld\n", at.left, at.top, at.right, at.bottom);
             return 0;
         }},
        {"drop-target", 3, "X Y copy|move: a window at X Y that takes one file dragged onto it, then ends",
         [](char** a) {
             OleInitialize(nullptr);
             FileDropTarget target(std::strcmp(a[2], "move") == 0);
             const HWND window =
                 CreateWindowExA(WS_EX_TOPMOST, "Static", "vpdriver drop target", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                 std::atoi(a[0]), std::atoi(a[1]), 160, 120, nullptr, nullptr, nullptr, nullptr);
             if (!window || FAILED(RegisterDragDrop(window, &target)))
                 return report(false, "the drop target is registered");
             std::printf("ready\n");
             std::fflush(stdout);
             const DWORD start = GetTickCount();
             MSG message;
             while (!target.done && GetTickCount() - start < 2 * kWaitMs) {
                 while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
                 MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
             }
             RevokeDragDrop(window);
             DestroyWindow(window);
             OleUninitialize();
             return report(target.done, "dropped \"" + target.dropped + "\", offered " + target.offered + ", took " +
                                            effectName(target.taken));
         }},
        {"tips", 0, ": print every tray tip", [](char**) {
             for (const std::string& tip : trayTips()) std::printf("%s\n", tip.c_str());
             return 0;
         }},
    };
    return all;
}

int usage() {
    std::fprintf(stderr, "usage: vpdriver STEP [ARGS...]\n");
    for (const Step& step : steps()) std::fprintf(stderr, "  %s %s\n", step.name, step.usage);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    for (const Step& step : steps()) {
        if (std::strcmp(step.name, argv[1]) != 0) continue;
        if (argc - 2 < step.arguments) return usage();
        // argv ends with a null, which optional arguments look for.
        return step.run(argv + 2);
    }
    return usage();
}
