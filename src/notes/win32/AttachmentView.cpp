#include "notes/win32/AttachmentView.h"

#include "app/MessageService.h"
#include "app/win32/resource.h"
#include "notes/NotePaper.h"

#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <string>

namespace vp {

namespace {

constexpr int kColumnWidth = 100;

HICON missingFileIcon() {
    return static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MISSING_FILE), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

// Opened with no access rights, existing only: false when it cannot be
// opened; diskFile tells a file from a device, pipe or folder.
bool probeFile(const TextString& path, bool& diskFile) {
    const HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    diskFile = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return true;
}

std::wstring wide(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return out;
}

// The drag source: drops when the buttons held at the start are released,
// cancels on Escape. A COM object frees itself through Release, never through
// the interface's (non-virtual) destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class DropSource final : public IDropSource {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDropSource)) {
            *object = static_cast<IDropSource*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escapePressed, DWORD keys) override {
        if (escapePressed) return DRAGDROP_S_CANCEL;
        constexpr DWORD kButtons = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;
        if (!m_maskKnown) {
            m_mask = keys & kButtons;
            m_maskKnown = true;
        }
        return (keys & m_mask) == 0 ? DRAGDROP_S_DROP : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    ~DropSource() = default;
    ULONG m_references = 1;
    DWORD m_mask = 0;
    bool m_maskKnown = false;
};
#pragma GCC diagnostic pop

} // namespace

AttachmentView::~AttachmentView() { close(); }

bool AttachmentView::create(const Setup& setup, const NoteRect& at) {
    if (m_list) return true;
    m_setup = setup;
    m_list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_SMALLICON | LVS_SINGLESEL, at.left,
                             at.top, at.right - at.left, at.bottom - at.top, setup.owner,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(setup.controlId)),
                             GetModuleHandleA(nullptr), nullptr);
    m_large = ImageList_Create(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), ILC_COLOR32 | ILC_MASK, 1, 1);
    m_small =
        ImageList_Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), ILC_COLOR32 | ILC_MASK, 1, 1);
    const HICON missing = missingFileIcon();
    const bool made = m_list && m_large && m_small && ImageList_AddIcon(m_large, missing) >= 0 &&
                      ImageList_AddIcon(m_small, missing) >= 0;
    DestroyIcon(missing);
    if (!made) {
        close();
        return false;
    }
    ListView_SetImageList(m_list, m_large, LVSIL_NORMAL);
    ListView_SetImageList(m_list, m_small, LVSIL_SMALL);
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNA format{};
        format.mask = LVCF_WIDTH | LVCF_TEXT;
        format.cx = kColumnWidth;
        format.pszText = const_cast<char*>("");
        SendMessageA(m_list, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&format));
    }
    ListView_SetBkColor(m_list, setup.background);
    ListView_SetTextBkColor(m_list, setup.background);
    SetWindowSubclass(m_list, listProc, 0, reinterpret_cast<DWORD_PTR>(this));
    return true;
}

bool AttachmentView::setFile(const TextString& folder, const TextString& name) {
    if (folder.isEmpty()) return false;
    m_folder = folder;
    m_name = name;
    showItem();
    return true;
}

void AttachmentView::getFile(TextString& folder, TextString& name) const {
    folder = m_folder;
    name = m_name;
}

void AttachmentView::refresh() {
    if (m_list) showItem();
}

TextString AttachmentView::path() const { return (m_folder + "\\" + m_name).collapseSeparator('\\'); }

void AttachmentView::showItem() {
    bool diskFile = false;
    HICON icon = nullptr;
    if (probeFile(path(), diskFile) && diskFile) {
        char buffer[MAX_PATH] = "";
        std::strncpy(buffer, path().c_str(), sizeof buffer - 1);
        WORD index = 0;
        icon = ExtractAssociatedIconA(GetModuleHandleA(nullptr), buffer, &index);
    }
    if (!icon) icon = missingFileIcon();
    ImageList_ReplaceIcon(m_large, 0, icon);
    ImageList_ReplaceIcon(m_small, 0, icon);
    DestroyIcon(icon);

    std::string text = m_name.c_str();
    if (text.empty()) {
        const std::string full = path().c_str();
        text = full.substr(full.find_last_of('\\') + 1);
    }
    ListView_DeleteAllItems(m_list);
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.pszText = text.data();
    item.iImage = 0;
    SendMessageA(m_list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void AttachmentView::close() {
    if (m_list) {
        RemoveWindowSubclass(m_list, listProc, 0);
        DestroyWindow(m_list);
    }
    if (m_large) ImageList_Destroy(m_large);
    if (m_small) ImageList_Destroy(m_small);
    m_list = nullptr;
    m_large = nullptr;
    m_small = nullptr;
    m_folder = TextString();
    m_name = TextString();
}

void AttachmentView::remove() {
    close();
    if (m_setup.removed) m_setup.removed();
}

void AttachmentView::enable(bool enabled) {
    if (m_list) EnableWindow(m_list, enabled ? TRUE : FALSE);
}

void AttachmentView::place(const NoteRect& at) {
    if (m_list) MoveWindow(m_list, at.left, at.top, at.right - at.left, at.bottom - at.top, TRUE);
}

void AttachmentView::locate() {
    bool diskFile = false;
    if (probeFile(path(), diskFile) && diskFile) {
        showItem();
        ShellExecuteA(m_setup.owner, "open", m_folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    const HICON missing = missingFileIcon();
    ImageList_ReplaceIcon(m_large, 0, missing);
    ImageList_ReplaceIcon(m_small, 0, missing);
    DestroyIcon(missing);
    InvalidateRect(m_list, nullptr, TRUE);
    showMessage("The attached file is missing.\n", kMessageError);
}

void AttachmentView::open() { ShellExecuteA(m_setup.owner, "open", path().c_str(), nullptr, nullptr, SW_SHOWNORMAL); }

void AttachmentView::command(UINT id) {
    switch (id) {
    case IDM_ATTACHMENT_LOCATE:
        locate();
        break;
    case IDM_ATTACHMENT_OPEN:
        open();
        break;
    case IDM_ATTACHMENT_REMOVE:
        remove();
        break;
    case IDM_ATTACHMENT_RECEIVED_FOLDER:
        if (m_setup.receiveFolder)
            ShellExecuteA(m_setup.owner, "open", m_setup.receiveFolder().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        break;
    default:
        break;
    }
}

void AttachmentView::dragOut() {
    if (!m_list || ListView_GetSelectedCount(m_list) != 1) return;
    // The data object must come from the file's own folder with the file's
    // one-level item: asked of the drive root for a path several levels
    // deep, the shell names the first folder below the root instead, and a
    // move would take that whole folder away.
    IShellFolder* desktop = nullptr;
    IShellFolder* folder = nullptr;
    LPITEMIDLIST folderItem = nullptr;
    LPITEMIDLIST fileItem = nullptr;
    IDataObject* data = nullptr;
    std::wstring folderName = wide(m_folder.c_str());
    std::wstring fileName = wide(m_name.c_str());
    const bool found =
        SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
        SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, folderName.data(), nullptr, &folderItem, nullptr)) &&
        SUCCEEDED(desktop->BindToObject(folderItem, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder))) &&
        SUCCEEDED(folder->ParseDisplayName(nullptr, nullptr, fileName.data(), nullptr, &fileItem, nullptr));
    if (!found) {
        showMessage((TextString("Cannot continue drag and drop operation.  The attached file, located at '") +
                     m_folder + m_name + "', is missing.")
                        .c_str(),
                    kMessageError);
    } else if (SUCCEEDED(folder->GetUIObjectOf(m_list, 1, const_cast<LPCITEMIDLIST*>(&fileItem), IID_IDataObject,
                                              nullptr, reinterpret_cast<void**>(&data)))) {
        const bool fromReceived =
            attachmentMayMove(m_folder, m_setup.receiveFolder ? m_setup.receiveFolder() : TextString());
        auto* source = new DropSource();
        DWORD effect = DROPEFFECT_NONE;
        const HRESULT dropped =
            DoDragDrop(data, source, fromReceived ? DROPEFFECT_MOVE | DROPEFFECT_COPY : DROPEFFECT_COPY, &effect);
        source->Release();
        data->Release();
        data = nullptr;
        if (dropped == DRAGDROP_S_DROP && effect != DROPEFFECT_COPY) remove();
    }
    if (fileItem) CoTaskMemFree(fileItem);
    if (folderItem) CoTaskMemFree(folderItem);
    if (folder) folder->Release();
    if (desktop) desktop->Release();
}

// Right click: the strip's menu (to the note window, which hands its
// commands back here); double click: the file's folder; Delete: the file
// leaves the note (after the key's release, through the note window, since
// the strip goes with it).
LRESULT CALLBACK AttachmentView::listProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR data) {
    auto* self = reinterpret_cast<AttachmentView*>(data);
    switch (message) {
    case WM_RBUTTONUP: {
        const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
        if (!menu) return 0;
        const HMENU popup = GetSubMenu(menu, 1);
        SetMenuDefaultItem(popup, 0, TRUE);
        POINT at;
        GetCursorPos(&at);
        TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, self->m_setup.owner, nullptr);
        DestroyMenu(menu);
        return 0;
    }
    case WM_LBUTTONDBLCLK:
        self->locate();
        return 0;
    case WM_KEYUP:
        if (wParam == VK_DELETE) {
            PostMessageA(self->m_setup.owner, WM_COMMAND, IDM_ATTACHMENT_REMOVE, 0);
            return 0;
        }
        break;
    default:
        break;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

} // namespace vp
