#include "app/win32/MainWindow.h"

#include "app/Application.h"
#include "app/MessageService.h"
#include "app/TrayState.h"
#include "app/win32/TrayIcon.h"
#include "app/win32/WindowClass.h"
#include "app/win32/resource.h"
#include "contacts/win32/ContactListWindow.h"
#include "notes/NoteRecord.h"
#include "platform/Sound.h"
#include "services/ClientServices.h"

#include <algorithm>
#include <new>

namespace vp {

namespace {

constexpr char kClassName[] = "Vellumpost";
constexpr UINT kTrackFlags = TPM_RIGHTALIGN | TPM_VERTICAL;  // 72
constexpr UINT kLogoTimer = 1;
constexpr UINT kLogoMilliseconds = 2000;
constexpr int kLogoWidth = 384;
constexpr int kLogoHeight = 255;

// The logo box: closes itself after two seconds when opened with a nonzero
// parameter, otherwise at a mouse button's release.
INT_PTR CALLBACK logoBoxProc(HWND box, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowPos(box, nullptr, 0, 0, kLogoWidth, kLogoHeight, SWP_NOMOVE | SWP_NOZORDER);
        MoveWindow(GetDlgItem(box, IDC_LOGO_PICTURE), 0, 0, kLogoWidth, kLogoHeight, FALSE);
        SetWindowLongPtrA(box, DWLP_USER, lParam);
        if (lParam) SetTimer(box, kLogoTimer, kLogoMilliseconds, nullptr);
        return TRUE;
    case WM_TIMER:
        KillTimer(box, kLogoTimer);
        EndDialog(box, 0);
        return TRUE;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        if (!GetWindowLongPtrA(box, DWLP_USER)) EndDialog(box, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

MainWindow::MainWindow(Application& application, ContactListWindow& contacts)
    : m_application(application), m_contacts(contacts) {}

MainWindow::~MainWindow() = default;

NoteStore& MainWindow::store() {
    if (!m_store)
        m_store = std::make_unique<NoteStore>(m_application.userFolder(), *this, &m_application.noteOptions());
    return *m_store;
}

uint32_t MainWindow::create(HINSTANCE instance, ClientServices& services) {
    if (m_created) return 0;
    m_created = true;
    m_instance = instance;
    m_services = &services;

    registerWindowClass(instance, {kClassName, windowProc, CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS,
                                   LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM)),
                                   static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))});
    // The window-creation step runs inside: the note windows, the contact
    // list window, the logo box.
    m_window = CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW | WS_MINIMIZE, 0, 0, 0, 0, nullptr,
                               nullptr, instance, this);
    if (!m_window) {
        m_created = false;
        return 0;
    }

    m_trayMenu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    addTrayIcon(m_window, LoadIconA(instance, MAKEINTRESOURCEA(IDI_DISCONNECTED)), kMainIconMessage,
                m_application.displayName());

    SessionKeeperSetup session;
    session.general = &m_application.generalOptions();
    session.sounds = &m_application.soundOptions();
    session.contacts = &services.contacts();
    session.monitor = &services.monitor();
    session.requests = &services.requests();
    session.listeners = &services.listeners();
    session.port = this;
    session.setConnectedFlag = [this](uint32_t connected) { m_application.setConnected(connected); };
    session.playSound = [](const char* path) { platform::playSoundFile(path); };
    m_session = std::make_unique<SessionKeeper>(session);
    m_session->setState(0, nullptr);

    store().StartNotes();
    return 1;
}

void MainWindow::teardown() {
    if (m_session) m_session->disconnect();
    if (m_window) {
        removeTrayIcon(m_window, kMainIconMessage);
        removeTrayIcon(m_window, kNewNotesIconMessage);
    }
    if (m_trayMenu) DestroyMenu(m_trayMenu);
    m_trayMenu = nullptr;
    if (m_store) m_store->StopNotes();
}

void MainWindow::clear() {
    m_created = false;
    m_window = nullptr;
    m_acceleratorTable = nullptr;
    m_acceleratorWindow = nullptr;
    m_modelessDialog = nullptr;
    m_session.reset();
    m_notes.clear();
}

uint32_t MainWindow::setModelessDialog(HWND dialog) {
    if (!m_created) return 0;
    m_modelessDialog = dialog;
    return 1;
}

uint32_t MainWindow::setAcceleratorWindow(HWND window) {
    if (!m_created) return 0;
    m_acceleratorWindow = window;
    return 1;
}

uint32_t MainWindow::setAcceleratorTable(HACCEL table) {
    if (!m_created) return 0;
    m_acceleratorTable = table;
    return 1;
}

uint32_t MainWindow::postConnect(HWND owner, uint32_t mode) {
    if (!handle()) return 0;
    return PostMessageA(m_window, kConnectMessage, mode, reinterpret_cast<LPARAM>(owner)) ? 1 : 0;
}

uint32_t MainWindow::postReconnect(HWND owner) {
    if (!handle()) return 0;
    return PostMessageA(m_window, kReconnectMessage, 0, reinterpret_cast<LPARAM>(owner)) ? 1 : 0;
}

void MainWindow::showNote(NoteRecord* note) {
    if (handle()) SendMessageA(m_window, kShowNoteMessage, 0, reinterpret_cast<LPARAM>(note));
}

void MainWindow::showState(bool away) {
    GeneralOptions& general = m_application.generalOptions();
    const uint32_t connected = m_session ? m_session->connected() : 0;
    const TrayLook look = mainTrayLook(m_application.displayName(), away, connected != 0,
                                       general.GetString(GeneralOptions::kUserName),
                                       general.GetString(GeneralOptions::kServerName));
    modifyTrayIcon(m_window, LoadIconA(m_instance, MAKEINTRESOURCEA(look.icon)), kMainIconMessage, look.tip);
    if (m_trayMenu)
        CheckMenuItem(GetSubMenu(m_trayMenu, 0), IDM_ENABLE_AWAY, MF_BYCOMMAND | (away ? MF_CHECKED : MF_UNCHECKED));
}

void MainWindow::showNewNotes(uint32_t flag) {
    m_application.noteOptions().SetInt(NoteOptions::kNewNotesAvailable, flag);
    if (!flag) {
        removeTrayIcon(m_window, kNewNotesIconMessage);
        return;
    }
    const TextString tip = newNotesTip(m_application.displayName(), m_store ? m_store->NewNoteCount() : 0);
    const HICON icon = LoadIconA(m_instance, MAKEINTRESOURCEA(IDI_NEW_NOTES));
    // Modified when it is there, added when it is not.
    modifyTrayIcon(m_window, icon, kNewNotesIconMessage, tip);
    addTrayIcon(m_window, icon, kNewNotesIconMessage, tip);
}

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = windowObject<MainWindow>(window, message, lParam);
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    // Known before CreateWindowExA returns: the creation step needs it.
    if (message == WM_NCCREATE) self->m_window = window;
    return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        setNoteViewFactory(&NotePaperWindow::make);
        if (!m_contacts.create(m_instance, m_window)) {
            TextString reason;
            systemErrorText(reason, GetLastError());
            showInfo((TextString("Cannot create window.\nReason: ") + reason).c_str());
            m_application.exit(Application::kExitRequest);
            break;
        }
        if (m_application.generalOptions().GetInt(GeneralOptions::kShowLogoBoxAtStartUp)) {
            // Without an owner: ending a modal box activates its owner, and
            // Wine then shows this window, which is never to be seen.
            DialogBoxParamA(m_instance, MAKEINTRESOURCEA(manyColours() ? IDD_LOGO_BOX : IDD_LOGO_BOX_16), nullptr,
                            logoBoxProc, 5000);
        }
        break;
    case WM_CLOSE:
        // The window is never shown; another program asks it to close. The
        // exit may be declined, and the window must then stay.
        m_application.exit(Application::kExitRequest);
        return 0;
    case WM_ENDSESSION:
        m_application.exit(Application::kExitSessionEnd);
        if (wParam) {
            m_application.stopServices();
            m_application.cleanup();
        }
        return 0;
    case WM_COMMAND:
        command(LOWORD(wParam));
        break;
    case kShowContactsMessage:
        m_contacts.showAndActivate();
        return 0;
    case kRequestProgressMessage:
        if (m_session) m_session->loginProgress(*reinterpret_cast<ServerRequest*>(lParam), static_cast<uint32_t>(wParam));
        return 0;
    case kConnectMessage:
        // Until the connect box exists, a start that would show it does
        // nothing; connecting at once connects silently.
        if (wParam != 0 && m_session) m_session->connectSilently(*this);
        return 0;
    case kReconnectMessage:
        // Until the reconnect box exists: one silent attempt.
        if (m_session) m_session->connectSilently(*this);
        return 0;
    case kShowNoteMessage:
        openNoteWindow(reinterpret_cast<NoteRecord*>(lParam));
        return 0;
    case kDeleteNoteMessage: {
        auto* note = reinterpret_cast<NoteRecord*>(lParam);
        const auto found = std::find_if(m_notes.begin(), m_notes.end(), [note](const auto& kept) {
            return kept.get() == note;
        });
        if (found != m_notes.end()) m_notes.erase(found);
        return 0;
    }
    case kMainIconMessage:
        mainIconMouse(static_cast<UINT>(lParam));
        return 0;
    case kNewNotesIconMessage:
        if (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP) {
            if (m_store) m_store->ShowNewNotes();
            showNewNotes(0);
        }
        return 0;
    case kNewNotesAvailableMessage:
        showNewNotes(static_cast<uint32_t>(wParam));
        return 0;
    case kConnectionDroppedMessage:
        if (m_session) m_session->connectionDropped(reinterpret_cast<TcpSocket*>(lParam));
        return 0;
    default:
        break;
    }
    return DefWindowProcA(m_window, message, wParam, lParam);
}

void MainWindow::command(uint32_t id) {
    AwayOptions& away = m_application.awayOptions();
    switch (id) {
    case IDM_HELP:
        WinHelpA(m_window, m_application.helpFilePath().c_str(), HELP_FINDER, 0);
        break;
    case IDM_NEW_NOTE:
        newNote();
        break;
    case IDM_RESET_PLACEMENT:
        m_contacts.resetPlacement();
        break;
    case IDM_SHOW:
        m_contacts.showAndActivate();
        break;
    case IDM_HIDE:
        m_contacts.hideWindow();
        break;
    case IDM_ENABLE_AWAY: {
        // Until the away box exists, away mode is switched here with the
        // saved automatic reply.
        const bool nowAway = away.GetInt(AwayOptions::kAwayMode) == 0;
        away.SetInt(AwayOptions::kAwayMode, nowAway ? 1 : 0);
        showState(nowAway);
        GeneralOptions& general = m_application.generalOptions();
        m_contacts.setConnected(m_session ? m_session->connected() : 0, nowAway,
                                general.GetString(GeneralOptions::kUserName) + "@" +
                                    general.GetString(GeneralOptions::kServerName));
        break;
    }
    case IDM_CHANGE_PASSWORD:
        showInfo("The password box is not part of this version yet.");
        break;
    case IDM_OPTIONS:
        showInfo("The options are not part of this version yet.");
        break;
    case IDM_CONNECT:
        if (m_session) m_session->connectSilently(*this);
        break;
    case IDM_DISCONNECT:
        if (m_session) m_session->disconnect();
        break;
    case IDM_EXIT:
        m_application.exit(Application::kExitRequest);
        break;
    default:
        break;
    }
}

void MainWindow::mainIconMouse(UINT mouse) {
    if (mouse == WM_LBUTTONUP) {
        if (m_contacts.fullyVisible())
            m_contacts.hideWindow();
        else
            m_contacts.showAndActivate();
        return;
    }
    if (mouse != WM_RBUTTONUP || !m_trayMenu) return;
    const HMENU popup = GetSubMenu(m_trayMenu, 0);
    HBITMAP bitmaps[3] = {};
    if (manyColours()) {
        const UINT items[3] = {IDM_CONNECT, IDM_DISCONNECT, IDM_EXIT};
        const UINT pictures[3] = {IDB_CONNECT, IDB_DISCONNECT, IDB_EXIT};
        for (int i = 0; i < 3; ++i) {
            bitmaps[i] = LoadBitmapA(m_instance, MAKEINTRESOURCEA(pictures[i]));
            SetMenuItemBitmaps(popup, items[i], MF_BYCOMMAND, bitmaps[i], bitmaps[i]);
        }
    }
    const bool connected = m_session && m_session->connected();
    EnableMenuItem(popup, IDM_CONNECT, MF_BYCOMMAND | (connected ? MF_GRAYED : MF_ENABLED));
    EnableMenuItem(popup, IDM_DISCONNECT, MF_BYCOMMAND | (connected ? MF_ENABLED : MF_GRAYED));
    SetForegroundWindow(m_window);
    POINT at;
    GetCursorPos(&at);
    TrackPopupMenu(popup, kTrackFlags, at.x, at.y, 0, m_window, nullptr);
    PostMessageA(m_window, kAfterTrackMessage, 0, 0);
    for (const HBITMAP bitmap : bitmaps)
        if (bitmap) DeleteObject(bitmap);
}

void MainWindow::newNote() {
    auto* note = new (std::nothrow) NoteRecord();
    if (!note) {
        showInfo("Sorry.  Cannot create a new note.\nPossible reason: not enough memory.");
        return;
    }
    showNote(note);
}

void MainWindow::openNoteWindow(NoteRecord* note) {
    if (!note) return;
    const bool kept = std::any_of(m_notes.begin(), m_notes.end(), [note](const auto& held) {
        return held.get() == note;
    });
    if (!kept) m_notes.emplace_back(note);
    if (note->EnsureWindow() && note->window()) note->window()->show();
}

void MainWindow::openNote(NoteRecord* note) { showNote(note); }

void MainWindow::deleteNote(NoteRecord* note) {
    if (handle()) SendMessageA(m_window, kDeleteNoteMessage, 0, reinterpret_cast<LPARAM>(note));
}

// The note store calls from the reception's worker too: the icon is changed
// on this window's thread.
void MainWindow::setNewNotesAvailable(uint32_t available) {
    if (handle()) PostMessageA(m_window, kNewNotesAvailableMessage, available, 0);
}

void MainWindow::showArrivedNote(std::unique_ptr<NoteRecord> note) { showNote(note.release()); }

void MainWindow::deleteNote(NoteRecord& note) { deleteNote(&note); }

void MainWindow::loadRichEdit() {
    if (!m_richEdit) m_richEdit = LoadLibraryA("RICHED32.DLL");
}

void MainWindow::unloadRichEdit() {
    if (m_richEdit) FreeLibrary(m_richEdit);
    m_richEdit = nullptr;
}

void MainWindow::registerNoteClass() { NotePaperWindow::registerClass(m_instance, *this); }

void MainWindow::unregisterNoteClass() { NotePaperWindow::unregisterClass(m_instance); }

// The active note's keys: its accelerators, and the dialog keys (Tab between
// its fields).
void MainWindow::noteActivated(HWND window, HACCEL accelerators, bool active) {
    if (active) {
        setAcceleratorWindow(window);
        setAcceleratorTable(accelerators);
        setModelessDialog(window);
        return;
    }
    if (m_acceleratorWindow == window) {
        setAcceleratorWindow(nullptr);
        setAcceleratorTable(nullptr);
    }
    if (m_modelessDialog == window) setModelessDialog(nullptr);
}

bool MainWindow::connected() { return m_session && m_session->connected(); }

// Until the connect box exists, a connection asked for connects silently.
void MainWindow::connectNow() { postConnect(nullptr, 1); }

const ProtocolContext* MainWindow::protocol() { return m_services ? &m_services->protocol() : nullptr; }

NoteOptions& MainWindow::noteOptions() { return m_application.noteOptions(); }

uint32_t MainWindow::hideNote(NoteRecord& note) { return store().AppendToHiddenNotes(note); }

void MainWindow::openHelp() { WinHelpA(m_window, m_application.helpFilePath().c_str(), HELP_FINDER, 0); }

TextString MainWindow::receiveFolder() {
    return m_application.generalOptions().GetString(GeneralOptions::kReceiveFolder);
}

TextString MainWindow::programTitle() { return m_application.displayName(); }

TextString MainWindow::recentFolder() {
    return m_application.generalOptions().GetString(GeneralOptions::kRecentFolder);
}

void MainWindow::setRecentFolder(const TextString& folder) {
    m_application.generalOptions().SetString(GeneralOptions::kRecentFolder, folder);
}

void MainWindow::requestProgress(ServerRequest& request, uint32_t stage) {
    PostMessageA(m_window, kRequestProgressMessage, stage, reinterpret_cast<LPARAM>(&request));
}

void MainWindow::showConnectionState(uint32_t connected) {
    const bool away = m_application.awayOptions().GetInt(AwayOptions::kAwayMode) != 0;
    GeneralOptions& general = m_application.generalOptions();
    m_contacts.setConnected(connected, away,
                            general.GetString(GeneralOptions::kUserName) + "@" +
                                general.GetString(GeneralOptions::kServerName));
    showState(away);
    if (!connected || !m_services) return;
    // The contact list fetches the notes left on the server, quietly.
    auto* download = new (std::nothrow) ServerRequest();
    if (!download) return;
    download->type = kNoteDownLoadRequest;
    uint32_t identity = 0;
    if (!m_services->requests().postBackground(download, identity)) delete download;
}

void MainWindow::loggedIn(const ServerRequest&) {}

void MainWindow::sessionLost() { postReconnect(m_contacts.handle()); }

void MainWindow::postConnectionDropped(TcpSocket* connection) {
    PostMessageA(m_window, kConnectionDroppedMessage, 0, reinterpret_cast<LPARAM>(connection));
}

void MainWindow::openConnectBox(uint32_t connectSilently) { postConnect(nullptr, connectSilently ? 1 : 0); }

} // namespace vp
