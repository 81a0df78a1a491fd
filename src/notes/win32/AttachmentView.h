#pragma once
// The note window's attachment strip: a one-item list with the file's icon
// and name, from which the user opens the file or its folder, removes it
// from the note, or drags it out (moved when it came with a received note,
// copied otherwise).

#include "foundation/TextString.h"
#include "notes/NoteList.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>

namespace vp {

class AttachmentView {
public:
    struct Setup {
        HWND owner = nullptr;
        COLORREF background = 0;
        int controlId = 0;
        // The folder of received attachments.
        std::function<TextString()> receiveFolder;
        // The file left the note (its record must take the window's state).
        std::function<void()> removed;
    };

    AttachmentView() = default;
    ~AttachmentView();
    AttachmentView(const AttachmentView&) = delete;
    AttachmentView& operator=(const AttachmentView&) = delete;

    // The strip, made when there is none. false (and no strip) on failure.
    bool create(const Setup& setup, const NoteRect& place);
    // Shows the file; false when the folder is empty.
    bool setFile(const TextString& folder, const TextString& name);
    void getFile(TextString& folder, TextString& name) const;
    // Shows the item again (after a failed send).
    void refresh();
    bool hasFile() const { return m_list != nullptr; }
    // The strip goes and the note loses its file.
    void remove();
    // Destroys the strip without telling the note (the record has no file).
    void close();
    void enable(bool enabled);
    void place(const NoteRect& at);
    HWND handle() const { return m_list; }
    // The list reported the start of a drag.
    void dragOut();
    // A command of the strip's menu (the note window receives them).
    void command(UINT id);

private:
    void showItem();
    void locate();
    void open();
    TextString path() const;
    static LRESULT CALLBACK listProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR data);

    Setup m_setup;
    HWND m_list = nullptr;
    HIMAGELIST m_large = nullptr;
    HIMAGELIST m_small = nullptr;
    TextString m_folder;
    TextString m_name;
};

} // namespace vp
