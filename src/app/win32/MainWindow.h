#pragma once
// The hidden main window: the one fixed target of other threads' messages
// and of a second instance, the owner of the tray icons and their menu, and
// the holder of the connection state (through the SessionKeeper) and of the
// slots the message loop consults.

#include "notes/NoteStore.h"
#include "notes/NoteView.h"
#include "notes/win32/NotePaperWindow.h"
#include "services/ServerRequest.h"
#include "services/ServerRequestService.h"
#include "services/SessionKeeper.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace vp {

class Application;
class ClientServices;
class ContactListWindow;

// Its messages.
inline constexpr UINT kShowContactsMessage = WM_USER;     // a second instance asks
inline constexpr UINT kRequestProgressMessage = 1075;     // wParam stage, lParam the request
inline constexpr UINT kConnectMessage = 1535;             // wParam mode, lParam owner
inline constexpr UINT kReconnectMessage = 1536;           // lParam owner
inline constexpr UINT kShowNoteMessage = 1537;            // lParam the note (sent)
inline constexpr UINT kDeleteNoteMessage = 1539;          // lParam the note
inline constexpr UINT kMainIconMessage = 1540;            // lParam the mouse message
inline constexpr UINT kNewNotesIconMessage = 1541;        // lParam the mouse message
inline constexpr UINT kConnectionDroppedMessage = 1542;   // lParam the dropped session's socket
inline constexpr UINT kNewNotesAvailableMessage = 1543;   // wParam the new-notes flag
inline constexpr UINT kAfterTrackMessage = 2053;

class MainWindow final : public NoteStorePort,
                         public NoteDesktopPort,
                         public ServerRequestProgressPort,
                         public SessionKeeperPort,
                         public ConnectBoxPort,
                         public NotePaperHost {
public:
    MainWindow(Application& application, ContactListWindow& contacts);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window (which creates the contact list window), the tray
    // icon and menu, the disconnected state and the note store. 0 when
    // already created or the window cannot be made.
    uint32_t create(HINSTANCE instance, ClientServices& services);
    // Disconnects, removes the tray icons and menu, saves the desktop notes
    // and releases the note store.
    void teardown();
    // Forgets the handles and flags.
    void clear();

    HWND handle() const { return m_created ? m_window : nullptr; }
    HWND modelessDialog() const { return m_created ? m_modelessDialog : nullptr; }
    HWND acceleratorWindow() const { return m_created ? m_acceleratorWindow : nullptr; }
    HACCEL acceleratorTable() const { return m_acceleratorTable; }
    uint32_t setModelessDialog(HWND dialog);
    uint32_t setAcceleratorWindow(HWND window);
    uint32_t setAcceleratorTable(HACCEL table);

    // Posts 1535 / 1536; 0 when the window does not exist.
    uint32_t postConnect(HWND owner, uint32_t mode);
    uint32_t postReconnect(HWND owner);
    // Sent by worker threads: the note is shown on the interface thread.
    void showNote(NoteRecord* note);

    SessionKeeper* session() { return m_session.get(); }
    // The note store, made on first use (after the folders are known).
    NoteStore& store();

    // The tray icons' state.
    void showState(bool away);
    void showNewNotes(uint32_t flag);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void command(uint32_t id);
    void mainIconMouse(UINT mouse);
    void newNote();
    void openNoteWindow(NoteRecord* note);

    // NoteStorePort (and NotePaperHost: open and delete).
    void openNote(NoteRecord* note) override;
    void deleteNote(NoteRecord* note) override;
    void setNewNotesAvailable(uint32_t available) override;
    void loadRichEdit() override;
    void unloadRichEdit() override;
    void registerNoteClass() override;
    void unregisterNoteClass() override;
    // NotePaperHost.
    void noteActivated(HWND window, HACCEL accelerators, bool active) override;
    bool connected() override;
    void connectNow() override;
    const ProtocolContext* protocol() override;
    NoteOptions& noteOptions() override;
    uint32_t hideNote(NoteRecord& note) override;
    void openHelp() override;
    TextString receiveFolder() override;
    TextString programTitle() override;
    TextString recentFolder() override;
    void setRecentFolder(const TextString& folder) override;
    // NoteDesktopPort: a received or downloaded note, from a worker.
    void showArrivedNote(std::unique_ptr<NoteRecord> note) override;
    void deleteNote(NoteRecord& note) override;
    // ServerRequestProgressPort: posted as 1075.
    void requestProgress(ServerRequest& request, uint32_t stage) override;
    // SessionKeeperPort.
    void showConnectionState(uint32_t connected) override;
    void loggedIn(const ServerRequest& request) override;
    void sessionLost() override;
    void postConnectionDropped(TcpSocket* connection) override;
    // ConnectBoxPort: the request service's start.
    void openConnectBox(uint32_t connectSilently) override;

    Application& m_application;
    ContactListWindow& m_contacts;
    ClientServices* m_services = nullptr;
    std::unique_ptr<SessionKeeper> m_session;
    std::unique_ptr<NoteStore> m_store;
    // Every note shown here lives until the program ends: a reception may go
    // on using a note after it was handed over.
    std::vector<std::unique_ptr<NoteRecord>> m_notes;
    bool m_created = false;
    HINSTANCE m_instance = nullptr;
    HWND m_window = nullptr;
    HMENU m_trayMenu = nullptr;
    HMODULE m_richEdit = nullptr;
    HACCEL m_acceleratorTable = nullptr;
    HWND m_acceleratorWindow = nullptr;
    HWND m_modelessDialog = nullptr;
};

} // namespace vp
