#include "notes/win32/NotePaperWindow.h"

#include "app/MessageService.h"
#include "app/win32/WindowClass.h"
#include "app/win32/resource.h"
#include "foundation/RawFile.h"
#include "foundation/TcpSocket.h"
#include "notes/NoteRecord.h"
#include "protocol/NoteSending.h"
#include "settings/NoteOptions.h"

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <new>
#include <string>

namespace vp {

namespace {

// The socket of the note's network operation: set by the receiving (1024)
// or sending (1027) side, forgotten when it ends (1025, 1028), closed by
// Stop (1026, 1029).
constexpr UINT kReceivingStarted = 1024;
constexpr UINT kReceivingEnded = 1025;
constexpr UINT kCloseReceiving = 1026;
constexpr UINT kSendingStarted = 1027;
constexpr UINT kSendingEnded = 1028;
constexpr UINT kCloseSending = 1029;
constexpr UINT kRunOnWindowThread = WM_APP + 1;
// An RTF file larger than this is not read into a note (whose body holds at
// most 20480 characters).
constexpr uint64_t kLargestNoteFile = 8u << 20;

struct Paper {
    COLORREF activeTitle, inactiveTitle, paper, body, light, dark;
    int close, closePressed;
};
Paper g_paper;
HBRUSH g_paperBrush = nullptr;
HFONT g_statusFont = nullptr;
HFONT g_bodyFont = nullptr;
HACCEL g_accelerators = nullptr;
NotePaperHost* g_host = nullptr;

HFONT pointFont(const char* face, int points) {
    const HDC screen = GetDC(nullptr);
    const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

std::string windowText(HWND window) {
    if (!window) return {};
    std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool inside(const NoteRect& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

// The body's rich text in and out: from a buffer, and counted or copied.
struct StreamSource {
    const char* data;
    uint32_t size;
    uint32_t offset = 0;
};
DWORD CALLBACK streamIn(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
    auto* source = reinterpret_cast<StreamSource*>(cookie);
    const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(wanted), source->size - source->offset);
    std::copy_n(source->data + source->offset, count, buffer);
    source->offset += count;
    *given = static_cast<LONG>(count);
    return 0;
}
struct StreamTarget {
    ContentBuffer* content;  // null: only counted
    uint32_t count = 0;
    bool failed = false;
};
DWORD CALLBACK streamOut(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* taken) {
    auto* target = reinterpret_cast<StreamTarget*>(cookie);
    if (target->content && !target->content->write(buffer, static_cast<uint32_t>(size))) target->failed = true;
    target->count += static_cast<uint32_t>(size);
    *taken = size;
    return 0;
}

} // namespace

void NotePaperWindow::registerClass(HINSTANCE instance, NotePaperHost& host) {
    g_host = &host;
    g_paper = manyColours() ? Paper{RGB(90, 109, 167), RGB(110, 129, 187), RGB(140, 159, 217), RGB(140, 159, 217),
                                  RGB(170, 185, 227), RGB(0, 0, 127), IDI_CLOSE, IDI_CLOSE_PRESSED}
                          : Paper{RGB(0, 0, 180), RGB(128, 128, 128), RGB(192, 192, 192), RGB(192, 192, 192),
                                  RGB(255, 255, 255), RGB(0, 0, 0), IDI_CLOSE_8, IDI_CLOSE_8_PRESSED};
    if (!g_paperBrush) g_paperBrush = CreateSolidBrush(g_paper.paper);
    if (!g_statusFont) g_statusFont = pointFont("MS Sans Serif", 8);
    if (!g_bodyFont) g_bodyFont = pointFont("Courier New", 10);
    if (!g_accelerators) g_accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_NOTE_ACCELERATORS));
    registerWindowClass(instance, {kClassName, windowProc, CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
                                   LoadIconA(instance, MAKEINTRESOURCEA(IDI_NOTE)), g_paperBrush});
}

void NotePaperWindow::unregisterClass(HINSTANCE instance) {
    UnregisterClassA(kClassName, instance);
    g_host = nullptr;
}

NoteView* NotePaperWindow::make(NoteRecord& record) {
    auto* window = new (std::nothrow) NotePaperWindow(record);
    if (!window) return nullptr;
    if (window->create()) return window;
    delete window;
    return nullptr;
}

bool NotePaperWindow::create() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    m_window = CreateWindowExA(0, kClassName, "Note", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 185, 130, nullptr, nullptr,
                               instance, this);
    if (!m_window) {
        showSystemError(GetLastError());
        return false;
    }
    const DWORD readOnly = m_record.received ? ES_READONLY : 0;
    m_status = CreateWindowExA(0, "RichEdit", "", WS_CHILD | WS_VISIBLE | ES_READONLY, 0, 0, 0, 0, m_window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)), instance, nullptr);
    m_body = CreateWindowExA(0, "RichEdit", "",
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                                 ES_WANTRETURN | readOnly,
                             0, 0, 0, 0, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kBodyId)), instance,
                             nullptr);
    if (!m_status || !m_body) {
        showSystemError(GetLastError());
        DestroyWindow(m_window);
        return false;
    }
    SendMessageA(m_status, WM_SETFONT, reinterpret_cast<WPARAM>(g_statusFont), FALSE);
    SendMessageA(m_status, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(g_paper.paper));
    SendMessageA(m_body, WM_SETFONT, reinterpret_cast<WPARAM>(g_bodyFont), FALSE);
    SendMessageA(m_body, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(g_paper.body));
    SendMessageA(m_body, EM_EXLIMITTEXT, 0, kBodyCharacterLimit);
    SetWindowSubclass(m_body, childProc, 0, reinterpret_cast<DWORD_PTR>(this));
    SetWindowTextA(m_status, m_record.status.c_str());
    DragAcceptFiles(m_window, TRUE);

    // The record's place, kept inside the work area: the first note of the
    // cascade sits at the screen's corner and would be mostly outside.
    const NoteRect& at = m_record.rect;
    const int width = std::max<int>(at.right - at.left, kMinimumNoteWidth);
    const int height = std::max<int>(at.bottom - at.top, 56);
    RECT work{0, 0, width, height};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int left = std::max<int>(work.left, std::min<int>(at.left, work.right - width));
    const int top = std::max<int>(work.top + (m_record.headerShown ? kHeaderHeight : 0),
                                  std::min<int>(at.top, work.bottom - height));
    MoveWindow(m_window, left, top, width, height, FALSE);
    loadFromRecord();
    if (m_record.headerShown) showHeaderHere();
    layout();
    if (m_visible) {
        ShowWindow(m_window, SW_SHOWNORMAL);
        SetForegroundWindow(m_window);
        if (!m_record.received) SetFocus(m_body);
    }
    return true;
}

void NotePaperWindow::loadFromRecord() {
    setAlwaysOnTop(m_record.alwaysOnTop != 0);
    m_visible = m_record.visible != 0;
    StreamSource source{m_record.content.data(), m_record.content.size()};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, streamIn};
    SendMessageA(m_body, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    // While the window exists the body holds the text.
    m_record.content.clear();
    if (m_record.attachmentName.isEmpty())
        m_attachment.close();
    else
        showAttachment(m_record.attachmentFolder, m_record.attachmentName);
    if (IsWindowVisible(m_window) != (m_visible ? TRUE : FALSE)) setVisible(m_visible);
}

uint32_t NotePaperWindow::pullStateHere() {
    m_record.alwaysOnTop = m_alwaysOnTop ? 1 : 0;
    m_record.visible = m_visible ? 1 : 0;
    m_record.headerShown = m_headerShown ? 1 : 0;
    if (m_name) m_record.peerName = notePeerName(windowText(m_name).c_str());
    RECT at;
    GetWindowRect(m_window, &at);
    m_record.rect = NoteRect{at.left, at.top + (m_headerShown ? kHeaderHeight : 0), at.right, at.bottom};
    if (m_attachment.hasFile()) {
        m_attachment.getFile(m_record.attachmentFolder, m_record.attachmentName);
    } else {
        m_record.attachmentFolder = TextString();
        m_record.attachmentName = TextString();
    }
    StreamTarget counted{nullptr};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&counted), 0, streamOut};
    SendMessageA(m_body, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    if (!m_record.content.allocate(counted.count)) return 0;
    StreamTarget copied{&m_record.content};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&copied);
    SendMessageA(m_body, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    return copied.failed ? 0 : 1;
}

void NotePaperWindow::setSendingHere(bool on) {
    m_sending = on;
    const bool editable = !on && !m_record.received;
    SendMessageA(m_body, EM_SETREADONLY, editable ? FALSE : TRUE, 0);
    SendMessageA(m_body, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(g_paper.body));
    if (m_name) SendMessageA(m_name, EM_SETREADONLY, editable ? FALSE : TRUE, 0);
    if (m_button) SetWindowTextA(m_button, on ? "Stop" : m_record.received ? "&Reply" : "&Send");
    m_attachment.enable(!on);
    if (!on) SetWindowTextA(m_status, m_record.status.c_str());
}

bool NotePaperWindow::showAttachment(const TextString& folder, const TextString& name) {
    AttachmentView::Setup setup;
    setup.owner = m_window;
    setup.background = g_paper.body;
    setup.controlId = kAttachmentId;
    setup.receiveFolder = [] { return g_host ? g_host->receiveFolder() : TextString(); };
    // The record takes the window's state, and with it the loss of the file.
    setup.removed = [this] {
        m_record.EnsureWindow();
        layout();
        InvalidateRect(m_window, nullptr, TRUE);
    };
    if (!m_attachment.create(setup, currentLayout().attachment)) return false;
    m_attachment.setFile(folder, name);
    layout();
    return true;
}

void NotePaperWindow::showHeaderHere() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!m_button) {
        // Made after the body, so that Tab goes body, button, name field.
        m_button = CreateWindowExA(0, "BUTTON", m_record.received ? "&Reply" : "&Send",
                                   WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, m_window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), instance, nullptr);
        m_name = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", m_record.peerName.c_str(),
                                 WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL | (m_record.received ? ES_READONLY : 0), 0,
                                 0, 0, 0, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNameId)),
                                 instance, nullptr);
        if (!m_button || !m_name) return;
        SendMessageA(m_button, WM_SETFONT, reinterpret_cast<WPARAM>(g_statusFont), FALSE);
        SendMessageA(m_name, WM_SETFONT, reinterpret_cast<WPARAM>(g_statusFont), FALSE);
        SendMessageA(m_name, EM_LIMITTEXT, kNameFieldLimit, 0);
        SetWindowSubclass(m_button, childProc, 0, reinterpret_cast<DWORD_PTR>(this));
        SetWindowSubclass(m_name, childProc, 0, reinterpret_cast<DWORD_PTR>(this));
    }
    SetWindowTextA(m_window, noteTitle(windowText(m_name).c_str()).c_str());
    if (m_headerShown) return;
    m_headerShown = true;
    RECT at;
    GetWindowRect(m_window, &at);
    MoveWindow(m_window, at.left, at.top - kHeaderHeight, at.right - at.left, at.bottom - at.top + kHeaderHeight, TRUE);
    ShowWindow(m_button, SW_SHOW);
    ShowWindow(m_name, SW_SHOW);
    layout();
}

void NotePaperWindow::hideHeader() {
    if (!m_headerShown) return;
    m_headerShown = false;
    ShowWindow(m_button, SW_HIDE);
    ShowWindow(m_name, SW_HIDE);
    RECT at;
    GetWindowRect(m_window, &at);
    MoveWindow(m_window, at.left, at.top + kHeaderHeight, at.right - at.left, at.bottom - at.top - kHeaderHeight, TRUE);
    layout();
}

void NotePaperWindow::toggleHeader() {
    if (m_headerShown)
        hideHeader();
    else
        showHeaderHere();
    InvalidateRect(m_window, nullptr, TRUE);
}

void NotePaperWindow::setVisible(bool visible) {
    m_visible = visible;
    ShowWindow(m_window, visible ? SW_SHOWNORMAL : SW_HIDE);
    if (visible) SetForegroundWindow(m_window);
}

void NotePaperWindow::setAlwaysOnTop(bool onTop) {
    m_alwaysOnTop = onTop;
    SetWindowPos(m_window, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

NotePaperLayout NotePaperWindow::currentLayout() const {
    RECT client;
    GetClientRect(m_window, &client);
    return notePaperLayout(client.right, client.bottom, m_headerShown, m_attachment.hasFile());
}

void NotePaperWindow::layout() {
    const NotePaperLayout parts = currentLayout();
    auto place = [](HWND control, const NoteRect& r) {
        if (control) MoveWindow(control, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    };
    place(m_body, parts.body);
    place(m_status, parts.status);
    place(m_button, parts.button);
    place(m_name, parts.nameField);
    m_attachment.place(parts.attachment);
}

void NotePaperWindow::paint() {
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(m_window, &ps);
    RECT client;
    GetClientRect(m_window, &client);
    const int w = client.right;
    const int h = client.bottom;
    const NotePaperLayout parts = currentLayout();
    FillRect(dc, &client, g_paperBrush);
    auto line = [dc](COLORREF colour, int width, int x1, int y1, int x2, int y2) {
        const HPEN pen = CreatePen(PS_SOLID, width, colour);
        const HGDIOBJ old = SelectObject(dc, pen);
        MoveToEx(dc, x1, y1, nullptr);
        LineTo(dc, x2, y2);
        SelectObject(dc, old);
        DeleteObject(pen);
    };
    // Bevels: light along the left and top, dark along the right and bottom.
    for (int i = 0; i < 3; ++i) {
        line(g_paper.light, 1, i, 0, i, h);
        line(g_paper.light, 1, 0, i, w, i);
    }
    for (int i = 1; i <= 2; ++i) {
        line(g_paper.dark, 1, w - i, 0, w - i, h);
        line(g_paper.dark, 1, 0, h - i, w, h - i);
    }
    RECT title{2, 2, w - 2, kTitleHeight};
    const HBRUSH titleBrush = CreateSolidBrush(m_active ? g_paper.activeTitle : g_paper.inactiveTitle);
    FillRect(dc, &title, titleBrush);
    DeleteObject(titleBrush);

    const HINSTANCE instance = GetModuleHandleA(nullptr);
    auto icon = [&](int id, const NoteRect& at) {
        const HICON picture = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
        DrawIconEx(dc, at.left, at.top, picture, 16, 16, 0, nullptr, DI_NORMAL);
        DestroyIcon(picture);
    };
    const bool togglePressed = m_drag == Drag::HeaderToggle && m_pressed;
    icon(m_headerShown ? (togglePressed ? IDI_HEADER_SHOWN_PRESSED : IDI_HEADER_SHOWN)
                       : (togglePressed ? IDI_HEADER_HIDDEN_PRESSED : IDI_HEADER_HIDDEN),
         parts.headerToggleIcon);
    icon(m_drag == Drag::CloseBox && m_pressed ? g_paper.closePressed : g_paper.close, parts.closeBox);
    // The grip: three short diagonals in the corner.
    for (int d = 4; d <= 12; d += 4) line(g_paper.dark, 1, w - 3 - d, h - 3, w - 3, h - 3 - d);
    if (m_headerShown) {
        line(g_paper.dark, 1, 3, parts.headerHeight + 22, w - 3, parts.headerHeight + 22);
        line(g_paper.dark, 1, 3, h - 20, w - 3, h - 20);
    }
    EndPaint(m_window, &ps);
}

NotePaperState NotePaperWindow::state() const {
    return NotePaperState{m_record.received != 0, m_sending, m_activeSocket != nullptr,
                          m_record.loadTransferring() != 0};
}

void NotePaperWindow::pressButton() {
    switch (buttonAction(state())) {
    case ButtonAction::StopTransfer:
        m_record.storeTransferring(0);
        break;
    case ButtonAction::CloseSendSocket:
        handle(kCloseSending, 0, 0);
        break;
    case ButtonAction::CloseReceiveSocket:
        handle(kCloseReceiving, 0, 0);
        break;
    case ButtonAction::Reply:
        reply();
        break;
    case ButtonAction::Send:
        send();
        break;
    }
}

void NotePaperWindow::reply() {
    pullStateHere();
    auto* note = new (std::nothrow) NoteRecord();
    if (!note) {
        showMessage(kNoReplyMemoryText, kMessageError);
        return;
    }
    NoteOptions& options = g_host->noteOptions();
    if (options.GetInt(NoteOptions::kIncludeMsgInReply) == 1)
        note->ComposeReply(m_record);
    else
        note->Center(m_record);
    g_host->openNote(note);
    if (options.GetInt(NoteOptions::kDeleteOnReply) == 1) {
        // The last use of this window: the deletion destroys it.
        g_host->deleteNote(&m_record);
        return;
    }
    labelStatus("Replied");
}

void NotePaperWindow::send() {
    TextString fileError;
    uint64_t fileSize = 0;
    const bool attached = m_attachment.hasFile();
    if (attached) {
        TextString folder;
        TextString name;
        m_attachment.getFile(folder, name);
        const TextString path = folder + name;
        const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            systemErrorText(fileError, GetLastError());
            if (fileError.isEmpty()) fileError = "unknown error";
        } else {
            LARGE_INTEGER size{};
            GetFileSizeEx(file, &size);
            fileSize = static_cast<uint64_t>(size.QuadPart);
            CloseHandle(file);
        }
    }
    const SendCheck check = sendCheck(attached, fileError, fileSize, g_host->connected(), windowText(m_name).c_str());
    if (check.askConnect) {
        if (ask(reinterpret_cast<std::uintptr_t>(m_window), check.text.c_str(), kMbOkCancel) == kIdOk)
            g_host->connectNow();
        return;
    }
    if (check.refused()) {
        showMessage(check.text.c_str(), kMessageError);
        return;
    }
    if (const ProtocolContext* protocol = g_host->protocol()) Send(m_record, *protocol);
}

void NotePaperWindow::deleteWithConfirmation() {
    const auto owner = reinterpret_cast<std::uintptr_t>(m_window);
    switch (deleteAction(state())) {
    case DeleteAction::Beep:
        MessageBeep(0);
        return;
    case DeleteAction::RefuseTransfer:
        showMessage(kTransferDeleteText, kMessageError);
        return;
    case DeleteAction::OfferHide:
        if (ask(owner, kDeliveryHideQuestion, kMbOkCancel) == kIdOk) setVisible(false);
        return;
    case DeleteAction::AskDelete:
        if (ask(owner, kDeleteQuestion, kMbOkCancel) != kIdOk) return;
        setVisible(false);
        g_host->deleteNote(&m_record);
        return;
    }
}

void NotePaperWindow::closeBoxReleased() {
    const bool prompt = g_host->noteOptions().GetInt(NoteOptions::kPromptOnDeletion) == 1;
    switch (closeAction(state(), prompt)) {
    case CloseAction::RefuseTransfer:
        showMessage(kTransferDeleteText, kMessageError);
        return;
    case CloseAction::RefuseDelivery:
        showMessage(kDeliveryCloseText, kMessageError);
        return;
    case CloseAction::Beep:
        MessageBeep(0);
        return;
    case CloseAction::AskDestroy:
        if (ask(reinterpret_cast<std::uintptr_t>(m_window), kCloseBoxQuestion, kMbOkCancel) != kIdOk) return;
        setVisible(false);
        g_host->deleteNote(&m_record);
        return;
    case CloseAction::Destroy:
        g_host->deleteNote(&m_record);
        return;
    }
}

void NotePaperWindow::command(int id) {
    NoteOptions& options = g_host->noteOptions();
    switch (id) {
    case kButtonId:
        pressButton();
        break;
    case IDM_NOTE_SEND:
        if (!m_record.received) pressButton();
        break;
    case IDM_NOTE_REPLY:
        if (m_record.received) pressButton();
        break;
    case IDM_NOTE_ESCAPE:
        deleteWithConfirmation();
        break;
    case IDM_NOTE_DELETE:
        g_host->deleteNote(&m_record);
        break;
    case IDM_NOTE_HIDE:
        pullStateHere();
        if (g_host->hideNote(m_record))
            g_host->deleteNote(&m_record);
        else
            showMessage(kCannotHideText, kMessageError);
        break;
    case IDM_NOTE_ALWAYS_ON_TOP:
        setAlwaysOnTop(!m_alwaysOnTop);
        break;
    case IDM_NOTE_REPLY_WITH_INCLUDE:
        options.SetInt(NoteOptions::kIncludeMsgInReply, options.GetInt(NoteOptions::kIncludeMsgInReply) == 1 ? 0 : 1);
        break;
    case IDM_NOTE_OPTIONS:
        showInfo("The options are not part of this version yet.");
        break;
    case IDM_HELP:
        g_host->openHelp();
        break;
    case IDM_ATTACHMENT_LOCATE:
    case IDM_ATTACHMENT_OPEN:
    case IDM_ATTACHMENT_REMOVE:
    case IDM_ATTACHMENT_RECEIVED_FOLDER:
        m_attachment.command(static_cast<UINT>(id));
        break;
    case IDM_NOTE_SAVE_AS:
        saveAs();
        break;
    case IDM_NOTE_OPEN:
        open();
        break;
    case IDM_NOTE_UNDO:
        SendMessageA(m_body, EM_UNDO, 0, 0);
        break;
    case IDM_NOTE_CUT:
        SendMessageA(m_body, WM_CUT, 0, 0);
        break;
    case IDM_NOTE_COPY:
        SendMessageA(m_body, WM_COPY, 0, 0);
        break;
    case IDM_NOTE_PASTE:
        SendMessageA(m_body, WM_PASTE, 0, 0);
        break;
    case IDM_NOTE_SELECT_ALL: {
        CHARRANGE all{0, -1};
        SendMessageA(m_body, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
        break;
    }
    default:
        break;
    }
}

void NotePaperWindow::mouseDown(POINT at) {
    const NotePaperLayout parts = currentLayout();
    if (inside(parts.closeBox, at))
        m_drag = Drag::CloseBox;
    else if (inside(parts.grip, at))
        m_drag = Drag::Resize;
    else if (inside(parts.title, at))
        m_drag = Drag::Move;
    else if (inside(parts.headerToggle, at) && !m_sending)
        m_drag = Drag::HeaderToggle;
    else
        return;
    m_pressed = true;
    m_last = at;
    ClientToScreen(m_window, &m_last);
    RECT window;
    GetWindowRect(m_window, &window);
    m_sizeAtPress = SIZE{window.right - window.left, window.bottom - window.top};
    SetCapture(m_window);
    InvalidateRect(m_window, nullptr, FALSE);
}

void NotePaperWindow::mouseMove(POINT at) {
    if (m_drag == Drag::None) return;
    POINT screen = at;
    ClientToScreen(m_window, &screen);
    RECT window;
    GetWindowRect(m_window, &window);
    if (m_drag == Drag::Move) {
        SetWindowPos(m_window, nullptr, window.left + screen.x - m_last.x, window.top + screen.y - m_last.y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        m_last = screen;
    } else if (m_drag == Drag::Resize) {
        const NoteSize wanted{m_sizeAtPress.cx + screen.x - m_last.x, m_sizeAtPress.cy + screen.y - m_last.y};
        const NoteSize size = limitNoteSize(wanted, m_headerShown ? kHeaderHeight : 0,
                                            {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
        SetWindowPos(m_window, nullptr, 0, 0, size.width, size.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        const NotePaperLayout parts = currentLayout();
        const bool over = inside(m_drag == Drag::CloseBox ? parts.closeBox : parts.headerToggle, at);
        if (over != m_pressed) {
            m_pressed = over;
            InvalidateRect(m_window, nullptr, FALSE);
        }
    }
}

void NotePaperWindow::mouseUp(POINT at) {
    const Drag ended = m_drag;
    m_drag = Drag::None;
    m_pressed = false;
    ReleaseCapture();
    InvalidateRect(m_window, nullptr, FALSE);
    const NotePaperLayout parts = currentLayout();
    if (ended == Drag::HeaderToggle && inside(parts.headerToggle, at)) toggleHeader();
    // The last use of this window when the note goes.
    if (ended == Drag::CloseBox && inside(parts.closeBox, at)) closeBoxReleased();
}

void NotePaperWindow::dropFiles(HDROP drop) {
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    char path[MAX_PATH] = "";
    if (count >= 1) DragQueryFileA(drop, 0, path, sizeof path);
    DragFinish(drop);
    if (count == 0) return;
    bool opened = false;
    bool diskFile = false;
    DWORD error = 0;
    if (count == 1) {
        const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
        } else {
            opened = true;
            diskFile = GetFileType(file) == FILE_TYPE_DISK;
            if (!diskFile) error = GetLastError();
            CloseHandle(file);
        }
    }
    TextString reason;
    switch (dropResult(count, opened, diskFile, m_record.received != 0)) {
    case DropResult::TooMany:
        showMessage(kTooManyFilesText, kMessageError);
        return;
    case DropResult::NotOpened:
        systemErrorText(reason, error);
        showMessage((TextString(kCannotDropObjectText) + reason).c_str(), kMessageError);
        return;
    case DropResult::NotDiskFile:
        systemErrorText(reason, error);
        showMessage((TextString(kCannotDropFileText) + reason).c_str(), kMessageError);
        return;
    case DropResult::ReplyWithFile: {
        auto* note = new (std::nothrow) NoteRecord();
        if (!note) {
            showMessage(kNoReplyMemoryText, kMessageError);
            return;
        }
        pullStateHere();
        if (g_host->noteOptions().GetInt(NoteOptions::kIncludeMsgInReply) == 1)
            note->ComposeReply(m_record);
        else
            note->Center(m_record);
        note->SetAttachment(path);
        g_host->openNote(note);
        return;
    }
    case DropResult::Attach: {
        const std::string full = path;
        const size_t slash = full.find_last_of('\\');
        const TextString folder(full.substr(0, slash + 1).c_str());
        const TextString name(full.substr(slash + 1).c_str());
        if (m_attachment.hasFile())
            m_attachment.setFile(folder, name);
        else
            showAttachment(folder, name);
        // One pixel wider and back: everything is laid out again.
        RECT at;
        GetWindowRect(m_window, &at);
        MoveWindow(m_window, at.left, at.top, at.right - at.left + 1, at.bottom - at.top, TRUE);
        MoveWindow(m_window, at.left, at.top, at.right - at.left, at.bottom - at.top, TRUE);
        if (!m_headerShown) showHeaderHere();
        return;
    }
    }
}

TextString NotePaperWindow::pickFile(bool saving) {
    char path[MAX_PATH] = "";
    const TextString title = g_host->programTitle() + (saving ? " Save As" : " Open");
    const TextString folder = g_host->recentFolder();
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_window;
    dialog.lpstrFilter = "RichText Files (*.rtf)\0*.rtf\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrInitialDir = folder.isEmpty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = "rtf";
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | (saving ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(saving ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog))) return TextString();
    const std::string chosen = path;
    g_host->setRecentFolder(chosen.substr(0, chosen.find_last_of('\\') + 1).c_str());
    return TextString(path);
}

void NotePaperWindow::saveAs() {
    if (GetWindowTextLengthA(m_body) == 0) {
        showInfo(kEmptyNoteText);
        return;
    }
    pullStateHere();
    const TextString path = pickFile(true);
    if (path.isEmpty()) return;
    bool written = false;
    {
        RawFile file(path, RawFile::kWrite);
        written = file.IsOpen() && file.Write(m_record.content.data(), m_record.content.size()) &&
                  file.lastWritten() == m_record.content.size() && file.flush();
    }
    m_record.content.clear();
    showInfo((TextString(written ? "This note has been saved to '" : "An error has occurred while saving to '") + path +
              "'")
                 .c_str());
}

void NotePaperWindow::open() {
    if (GetWindowTextLengthA(m_body) != 0 &&
        ask(reinterpret_cast<std::uintptr_t>(m_window), kOverwriteQuestion, kMbOkCancel) != kIdOk)
        return;
    pullStateHere();
    const TextString path = pickFile(false);
    if (path.isEmpty()) return;
    RawFile file(path, RawFile::kRead);
    const uint64_t size = file.IsOpen() ? file.Size() : 0;
    DWORD error = file.IsOpen() ? 0 : GetLastError();
    bool read = false;
    if (file.IsOpen() && size <= kLargestNoteFile && m_record.content.allocate(static_cast<uint32_t>(size))) {
        read = file.Read(m_record.content.data(), static_cast<uint32_t>(size)) && file.lastRead() == size;
        if (!read) error = GetLastError();
    } else if (file.IsOpen()) {
        error = size > kLargestNoteFile ? ERROR_FILE_TOO_LARGE : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (read) {
        loadFromRecord();
        showInfo(kFileLoadedText);
        return;
    }
    TextString reason;
    systemErrorText(reason, error);
    showMessage((TextString("An error has occurred while loading from '") + path + "'\n\n" + reason).c_str(),
                kMessageError);
}

void NotePaperWindow::activated(bool active) {
    m_active = active;
    if (g_host) g_host->noteActivated(m_window, g_accelerators, active);
    if (active) SetFocus(m_body);
    RECT title{0, 0, 0, kTitleHeight};
    GetClientRect(m_window, &title);
    title.bottom = kTitleHeight;
    InvalidateRect(m_window, &title, FALSE);
}

void NotePaperWindow::onWindowThread(const std::function<void()>& work) {
    if (GetWindowThreadProcessId(m_window, nullptr) == GetCurrentThreadId())
        work();
    else
        SendMessageA(m_window, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&work));
}

LRESULT CALLBACK NotePaperWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = windowObject<NotePaperWindow>(window, message, lParam);
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCCREATE) self->m_window = window;
    // handle() may end with the window destroyed and self deleted.
    return self->handle(message, wParam, lParam);
}

// The button, the name field and the body: Esc asks before the note goes
// (not the dialog keys' Cancel, which would delete it at once); Enter in the
// name field moves to the body, on the button presses it.
LRESULT CALLBACK NotePaperWindow::childProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR data) {
    auto* self = reinterpret_cast<NotePaperWindow*>(data);
    const bool body = child == self->m_body;
    switch (message) {
    case WM_GETDLGCODE:
        if (lParam && (wParam == VK_ESCAPE || (wParam == VK_RETURN && !body)))
            return DLGC_WANTMESSAGE | DefSubclassProc(child, message, wParam, lParam);
        break;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            PostMessageA(self->m_window, WM_COMMAND, IDM_NOTE_ESCAPE, 0);
            return 0;
        }
        if (wParam == VK_RETURN && child == self->m_name) {
            SetFocus(self->m_body);
            return 0;
        }
        if (wParam == VK_RETURN && child == self->m_button) {
            PostMessageA(self->m_window, WM_COMMAND, kButtonId, 0);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == VK_ESCAPE || (wParam == VK_RETURN && !body)) return 0;
        break;
    case WM_RBUTTONUP:
        if (body) {
            const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_RICHEDIT_MENU));
            if (!menu) return 0;
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ClientToScreen(child, &at);
            TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, self->m_window,
                           nullptr);
            DestroyMenu(menu);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(child, childProc, 0);
        break;
    default:
        break;
    }
    return DefSubclassProc(child, message, wParam, lParam);
}

LRESULT NotePaperWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        layout();
        InvalidateRect(m_window, nullptr, FALSE);
        return 0;
    case WM_ACTIVATE:
        activated(LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case WM_LBUTTONDOWN:
        mouseDown(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_MOUSEMOVE:
        mouseMove(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_LBUTTONUP:
        mouseUp(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_LBUTTONDBLCLK: {
        const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (inside(currentLayout().title, at) && !inside(currentLayout().closeBox, at)) {
            const int moved = m_headerShown ? kHeaderHeight : -kHeaderHeight;
            toggleHeader();
            POINT cursor;
            GetCursorPos(&cursor);
            SetCursorPos(cursor.x, cursor.y - moved);
        }
        return 0;
    }
    case WM_SETCURSOR: {
        POINT at;
        GetCursorPos(&at);
        ScreenToClient(m_window, &at);
        if (LOWORD(lParam) == HTCLIENT && inside(currentLayout().grip, at)) {
            SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32642)));  // IDC_SIZENWSE
            return TRUE;
        }
        break;
    }
    case WM_RBUTTONUP: {
        const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_PAPER_MENU));
        if (!menu) return 0;
        const HMENU popup = GetSubMenu(menu, 0);
        CheckMenuItem(popup, IDM_NOTE_ALWAYS_ON_TOP, MF_BYCOMMAND | (m_alwaysOnTop ? MF_CHECKED : MF_UNCHECKED));
        const bool include = g_host->noteOptions().GetInt(NoteOptions::kIncludeMsgInReply) == 1;
        CheckMenuItem(popup, IDM_NOTE_REPLY_WITH_INCLUDE, MF_BYCOMMAND | (include ? MF_CHECKED : MF_UNCHECKED));
        POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(m_window, &at);
        TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_window, nullptr);
        DestroyMenu(menu);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kNameId && HIWORD(wParam) == EN_CHANGE) {
            SetWindowTextA(m_window, noteTitle(windowText(m_name).c_str()).c_str());
            return 0;
        }
        if (lParam && LOWORD(wParam) != kButtonId) break;
        command(LOWORD(wParam));
        return 0;
    case WM_DROPFILES:
        dropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto* notice = reinterpret_cast<const NMHDR*>(lParam);
        if (notice->idFrom == kAttachmentId && notice->code == LVN_BEGINDRAG) m_attachment.dragOut();
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            deleteWithConfirmation();
            return 0;
        }
        break;
    case WM_CLOSE:
        deleteWithConfirmation();
        return 0;
    case kReceivingStarted:
    case kSendingStarted:
        m_activeSocket = reinterpret_cast<TcpSocket*>(lParam);
        return 0;
    case kReceivingEnded:
        // The file has its place in the received folder only now.
        if (!m_record.attachmentName.isEmpty() && !m_record.attachmentFolder.isEmpty())
            showAttachment(m_record.attachmentFolder, m_record.attachmentName);
        m_activeSocket = nullptr;
        return 0;
    case kSendingEnded:
        m_activeSocket = nullptr;
        return 0;
    case kCloseReceiving:
    case kCloseSending:
        if (m_activeSocket) m_activeSocket->Close();
        m_activeSocket = nullptr;
        return 0;
    case kRunOnWindowThread:
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    default:
        break;
    }
    return DefWindowProcA(m_window, message, wParam, lParam);
}

void NotePaperWindow::setStatusText(const TextString& text) {
    onWindowThread([&] {
        m_record.status = text;
        SetWindowTextA(m_status, text.c_str());
    });
}

TextString NotePaperWindow::statusText() {
    TextString text;
    onWindowThread([&] { text = windowText(m_status).c_str(); });
    return text;
}

void NotePaperWindow::labelStatus(const TextString& label) {
    const TextString time = statusTimePart(statusText());
    setStatusText(time.isEmpty() ? label + ": sometime ago." : label + ": " + time);
}

void NotePaperWindow::setSending(uint32_t on) {
    onWindowThread([&] { setSendingHere(on != 0); });
}

uint32_t NotePaperWindow::pullState() {
    uint32_t pulled = 0;
    onWindowThread([&] { pulled = pullStateHere(); });
    return pulled;
}

uint32_t NotePaperWindow::hasAttachment() {
    uint32_t has = 0;
    onWindowThread([&] { has = m_attachment.hasFile() ? 1 : 0; });
    return has;
}

void NotePaperWindow::resetAttachmentView() {
    onWindowThread([&] { m_attachment.refresh(); });
}

void NotePaperWindow::showHeader() {
    onWindowThread([&] { showHeaderHere(); });
}

void NotePaperWindow::show() {
    onWindowThread([&] { setVisible(true); });
}

void NotePaperWindow::hide() {
    onWindowThread([&] { setVisible(false); });
}

void NotePaperWindow::destroyWindow() {
    onWindowThread([&] {
        // Messages that still come while the window goes find no object.
        SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        RemoveWindowSubclass(m_body, childProc, 0);
        if (m_button) RemoveWindowSubclass(m_button, childProc, 0);
        if (m_name) RemoveWindowSubclass(m_name, childProc, 0);
        m_attachment.close();
        if (m_active && g_host) g_host->noteActivated(m_window, nullptr, false);
        DestroyWindow(m_window);
    });
    delete this;
}

void NotePaperWindow::networkOperationStarted(TcpSocket& socket) {
    SendMessageA(m_window, kSendingStarted, 0, reinterpret_cast<LPARAM>(&socket));
}

void NotePaperWindow::networkOperationEnded() { SendMessageA(m_window, kSendingEnded, 0, 0); }

void NotePaperWindow::receivingStarted(TcpSocket& socket) {
    SendMessageA(m_window, kReceivingStarted, 0, reinterpret_cast<LPARAM>(&socket));
}

void NotePaperWindow::receivingEnded() { SendMessageA(m_window, kReceivingEnded, 0, 0); }

} // namespace vp
