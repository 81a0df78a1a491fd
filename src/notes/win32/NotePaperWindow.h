#pragma once
// The note on the desktop: a borderless paper-coloured window, drawn by
// itself (title strip with the close box, header toggle, resize grip), with
// a rich-text body, a status line and, when shown, the header strip with the
// Send/Reply button and the name field. It shows and edits one NoteRecord;
// what each action does in each state comes from notes/NotePaper.h.
//
// Threads that send or receive the note call its NoteView operations; they
// run on the window's own thread.

#include "notes/NotePaper.h"
#include "notes/win32/AttachmentView.h"
#include "notes/NoteView.h"

#include <windows.h>
#include <shellapi.h>

#include <functional>

namespace vp {

class NoteOptions;
class TcpSocket;
struct ProtocolContext;

// What the note windows need of the program around them (the main window).
class NotePaperHost {
public:
    virtual ~NotePaperHost() = default;
    // Shows a note: the host takes it over (message 1537).
    virtual void openNote(NoteRecord* note) = 0;
    // Deletes a note with its window (message 1539).
    virtual void deleteNote(NoteRecord* note) = 0;
    // A note window became active (its accelerators and dialog keys apply)
    // or inactive.
    virtual void noteActivated(HWND window, HACCEL accelerators, bool active) = 0;
    virtual bool connected() = 0;
    // The user asked to connect before sending.
    virtual void connectNow() = 0;
    // What a send needs; null before the services run.
    virtual const ProtocolContext* protocol() = 0;
    virtual NoteOptions& noteOptions() = 0;
    // Puts the note into the hidden notes: 1 when it is there.
    virtual uint32_t hideNote(NoteRecord& note) = 0;
    virtual void openHelp() = 0;
    // The folder of received attachments.
    virtual TextString receiveFolder() = 0;
    // The program's title, and where Open and Save As start (and remember).
    virtual TextString programTitle() = 0;
    virtual TextString recentFolder() = 0;
    virtual void setRecentFolder(const TextString& folder) = 0;
};

class NotePaperWindow final : public NoteView {
public:
    static constexpr const char* kClassName = "NotePaper";
    // Control ids, for the window tests.
    static constexpr int kStatusId = 1001;
    static constexpr int kBodyId = 1002;
    static constexpr int kButtonId = 1003;
    static constexpr int kNameId = 1004;
    static constexpr int kAttachmentId = 1005;

    // At the notes' start and end: the class, its colours and accelerators.
    static void registerClass(HINSTANCE instance, NotePaperHost& host);
    static void unregisterClass(HINSTANCE instance);
    // The note view factory: the window for record, shown; null when it
    // cannot be made (the user was told).
    static NoteView* make(NoteRecord& record);

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
    explicit NotePaperWindow(NoteRecord& record) : m_record(record) {}
    ~NotePaperWindow() = default;
    bool create();
    void loadFromRecord();
    uint32_t pullStateHere();
    void setSendingHere(bool on);
    void showHeaderHere();
    void hideHeader();
    void setVisible(bool visible);
    void setAlwaysOnTop(bool onTop);
    void layout();
    void paint();
    NotePaperState state() const;
    NotePaperLayout currentLayout() const;

    void pressButton();
    void reply();
    void send();
    void deleteWithConfirmation();
    void closeBoxReleased();
    void command(int id);
    void mouseDown(POINT at);
    void mouseMove(POINT at);
    void mouseUp(POINT at);
    void toggleHeader();
    void activated(bool active);
    void dropFiles(HDROP drop);
    void saveAs();
    void open();
    // The file the user picks in a save or open dialog; empty when none.
    TextString pickFile(bool saving);
    bool showAttachment(const TextString& folder, const TextString& name);

    // Runs work on the window's thread, waiting for it.
    void onWindowThread(const std::function<void()>& work);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK childProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR data);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    NoteRecord& m_record;
    HWND m_window = nullptr;
    HWND m_status = nullptr;
    HWND m_body = nullptr;
    HWND m_button = nullptr;
    HWND m_name = nullptr;
    AttachmentView m_attachment;
    bool m_headerShown = false;
    bool m_visible = true;
    bool m_alwaysOnTop = false;
    bool m_sending = false;
    bool m_active = false;
    TcpSocket* m_activeSocket = nullptr;
    enum class Drag { None, Move, Resize, CloseBox, HeaderToggle } m_drag = Drag::None;
    bool m_pressed = false;
    POINT m_last{};        // the pointer on the screen when it last moved the window or was pressed
    SIZE m_sizeAtPress{};  // a resize keeps the pointer's distance from the corner
};

} // namespace vp
