#include "app/win32/PlainNoteWindow.h"

#include "app/win32/WindowClass.h"
#include "notes/NoteRecord.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace vp {

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

TextString plainTextOf(const char* rtf, uint32_t length) {
    std::string text;
    // The depth of each open group, and the depth below which text is skipped.
    int depth = 0;
    int skipBelow = -1;
    for (uint32_t i = 0; i < length; ++i) {
        const char c = rtf[i];
        if (c == '{') {
            ++depth;
            // Destinations that hold no text of the note.
            const std::string_view after(rtf + i + 1, length - i - 1);
            if (skipBelow < 0 && (after.starts_with("\\*") || after.starts_with("\\fonttbl") ||
                                  after.starts_with("\\colortbl") || after.starts_with("\\stylesheet")))
                skipBelow = depth;
        } else if (c == '}') {
            if (depth == skipBelow) skipBelow = -1;
            --depth;
        } else if (c == '\\' && i + 1 < length) {
            const char next = rtf[i + 1];
            if (next == '\\' || next == '{' || next == '}') {
                if (skipBelow < 0) text += next;
                ++i;
            } else if (next == '\'' && i + 3 < length && hexValue(rtf[i + 2]) >= 0 && hexValue(rtf[i + 3]) >= 0) {
                if (skipBelow < 0) text += static_cast<char>(hexValue(rtf[i + 2]) * 16 + hexValue(rtf[i + 3]));
                i += 3;
            } else {
                uint32_t end = i + 1;
                while (end < length && std::isalpha(static_cast<unsigned char>(rtf[end]))) ++end;
                const std::string word(rtf + i + 1, end - i - 1);
                while (end < length && (rtf[end] == '-' || std::isdigit(static_cast<unsigned char>(rtf[end])))) ++end;
                if (end < length && rtf[end] == ' ') ++end;
                if (skipBelow < 0 && (word == "par" || word == "line")) text += "\r\n";
                i = end - 1;
            }
        } else if (c != '\r' && c != '\n' && skipBelow < 0 && depth > 0) {
            text += c;
        }
    }
    return TextString(text.c_str());
}

NoteView* PlainNoteWindow::make(NoteRecord& record) {
    auto* window = new PlainNoteWindow(record);
    if (window->create()) return window;
    delete window;
    return nullptr;
}

bool PlainNoteWindow::create() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    // The brush lives as long as the class, which is the whole run.
    static const HBRUSH paper = CreateSolidBrush(RGB(0xFF, 0xF3, 0xA0));
    registerWindowClass(instance, {kClassName, windowProc, 0, nullptr, paper});
    const TextString title = (m_record.received ? TextString("Note from ") : TextString("Note to ")) + m_record.peerName;
    const NoteRect& at = m_record.rect;
    const int width = at.right > at.left ? at.right - at.left : kWidth;
    const int height = at.bottom > at.top ? at.bottom - at.top : kHeight;
    // The record keeps its place; the window is moved into the work area,
    // where the first note of the cascade (at the screen's corner) would be
    // mostly outside.
    RECT work{0, 0, width, height};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int left = std::max<int>(work.left, std::min<int>(at.left, work.right - width));
    const int top = std::max<int>(work.top, std::min<int>(at.top, work.bottom - height));
    m_window = CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, left, top, width,
                               height, nullptr, nullptr, instance, this);
    if (!m_window) return false;
    m_text = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0, 0, 0,
                             0, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextId)), instance, nullptr);
    m_status = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, 0, 0, 0, m_window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusId)), instance, nullptr);
    const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SendMessageA(m_text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageA(m_status, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    RECT client;
    GetClientRect(m_window, &client);
    SendMessageA(m_window, WM_SIZE, 0, MAKELPARAM(client.right, client.bottom));
    refresh();
    return true;
}

void PlainNoteWindow::refresh() {
    const TextString text = plainTextOf(m_record.content.data(), m_record.content.size());
    SetWindowTextA(m_text, text.c_str());
    SetWindowTextA(m_status, m_record.status.c_str());
}

LRESULT CALLBACK PlainNoteWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = windowObject<PlainNoteWindow>(window, message, lParam);
    if (self && message == WM_SIZE && self->m_text) {
        const int width = LOWORD(lParam);
        const int height = HIWORD(lParam);
        MoveWindow(self->m_text, 0, 0, width, height > 20 ? height - 20 : 0, TRUE);
        MoveWindow(self->m_status, 4, height > 18 ? height - 18 : 0, width - 8, 16, TRUE);
        return 0;
    }
    if (self && message == WM_CLOSE) {
        self->hide();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PlainNoteWindow::setStatusText(const TextString& text) {
    m_record.status = text;
    if (m_status) SetWindowTextA(m_status, text.c_str());
}

TextString PlainNoteWindow::statusText() { return m_record.status; }

void PlainNoteWindow::labelStatus(const TextString& label) {
    const TextString timePart = statusTimePart(m_record.status);
    setStatusText(timePart.isEmpty() ? label + ": sometime ago." : label + ": " + timePart);
}

void PlainNoteWindow::setSending(uint32_t) {}
uint32_t PlainNoteWindow::pullState() {
    refresh();
    return 1;
}
uint32_t PlainNoteWindow::hasAttachment() { return m_record.attachmentName.isEmpty() ? 0 : 1; }
void PlainNoteWindow::resetAttachmentView() {}
void PlainNoteWindow::showHeader() {}

void PlainNoteWindow::show() {
    refresh();
    ShowWindow(m_window, SW_SHOWNORMAL);
    SetForegroundWindow(m_window);
}

void PlainNoteWindow::hide() { ShowWindow(m_window, SW_HIDE); }

void PlainNoteWindow::destroyWindow() {
    SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
    DestroyWindow(m_window);
    delete this;
}

void PlainNoteWindow::networkOperationStarted(TcpSocket&) {}
void PlainNoteWindow::networkOperationEnded() {}
void PlainNoteWindow::receivingStarted(TcpSocket&) {}
void PlainNoteWindow::receivingEnded() {}

} // namespace vp
