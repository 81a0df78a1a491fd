#pragma once
// A plain window for a note until the note window proper exists: the note's
// text (read out of its rich text), who it is from or for, and its status
// line. Closing it hides it; the note stays with the main window.

#include "notes/NoteView.h"

#include <windows.h>

namespace vp {

class PlainNoteWindow final : public NoteView {
public:
    // Makes the window for record (the note view factory).
    static NoteView* make(NoteRecord& record);
    static constexpr const char* kClassName = "Vellumpost PlainNote";
    // Control ids, for the window tests.
    static constexpr int kTextId = 1001;
    static constexpr int kStatusId = 1002;

    void setStatusText(const TextString& text) override;
    TextString statusText() override;
    void labelStatus(const TextString& label) override;
    void setSending(uint32_t on) override;
    uint32_t pullState() override;
    uint32_t hasAttachment() override;
    void resetAttachmentView() override;
    void showHeader() override;
    void show() override;
    void hide() override;
    void destroyWindow() override;
    void networkOperationStarted(TcpSocket& socket) override;
    void networkOperationEnded() override;
    void receivingStarted(TcpSocket& socket) override;
    void receivingEnded() override;

private:
    explicit PlainNoteWindow(NoteRecord& record) : m_record(record) {}
    bool create();
    void refresh();
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    NoteRecord& m_record;
    HWND m_window = nullptr;
    HWND m_text = nullptr;
    HWND m_status = nullptr;
};

// The text of a rich-text body: groups of destinations skipped, "\par" and
// "\line" as line breaks, "\'hh" as its byte, every other control word
// dropped.
TextString plainTextOf(const char* rtf, uint32_t length);

} // namespace vp
