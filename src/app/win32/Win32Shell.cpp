#include "app/win32/Win32Shell.h"

#include "app/MessageService.h"
#include "app/win32/MainWindow.h"
#include "app/win32/resource.h"
#include "contacts/win32/ContactListWindow.h"
#include "services/ClientServices.h"

#include <commctrl.h>
#include <ole2.h>

namespace vp {

namespace {

// The confirm-shutdown box: both buttons keep the check box in
// PromptOnExit; Yes ends it with 1, No with 0.
INT_PTR CALLBACK confirmShutdownProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* general = reinterpret_cast<GeneralOptions*>(GetWindowLongPtrA(box, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(box, DWLP_USER, lParam);
        general = reinterpret_cast<GeneralOptions*>(lParam);
        CheckDlgButton(box, IDC_PROMPT_IN_FUTURE,
                       general->GetInt(GeneralOptions::kPromptOnExit) ? BST_CHECKED : BST_UNCHECKED);
        SetFocus(GetDlgItem(box, IDOK));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            general->SetInt(GeneralOptions::kPromptOnExit, IsDlgButtonChecked(box, IDC_PROMPT_IN_FUTURE) ? 1 : 0);
            EndDialog(box, LOWORD(wParam) == IDOK ? 1 : 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

Win32Services::Win32Services(Application& application, MainWindow& mainWindow)
    : m_application(application), m_mainWindow(mainWindow) {}

Win32Services::~Win32Services() = default;

uint32_t Win32Services::startContactModel() {
    if (!m_services) {
        ClientServicesSetup setup;
        setup.userFolder = m_application.userFolder();
        setup.receiveFolder = m_application.generalOptions().GetString(GeneralOptions::kReceiveFolder);
        setup.general = &m_application.generalOptions();
        setup.noteOptions = &m_application.noteOptions();
        setup.away = &m_application.awayOptions();
        setup.sounds = &m_application.soundOptions();
        setup.desktop = &m_mainWindow;
        setup.store = &m_mainWindow.store();
        setup.connectBox = &m_mainWindow;
        setup.announcements = this;
        setup.contactWindow = this;
        setup.saveSettings = [this] {
            m_application.generalOptions().Save();
            m_application.noteOptions().Save();
            m_application.awayOptions().Save();
            m_application.soundOptions().Save();
        };
        setup.connected = [this] { return m_application.connected(); };
        m_services = std::make_unique<ClientServices>(setup);
    }
    return m_services->startContactModel();
}

void Win32Services::stopContactModel() {
    if (m_services) m_services->stopContactModel();
}
void Win32Services::detachContactObservers() {
    if (m_services) m_services->detachContactObservers();
}
void Win32Services::startConnectionMonitor() { m_services->startConnectionMonitor(); }
void Win32Services::stopConnectionMonitor() { m_services->stopConnectionMonitor(); }
void Win32Services::startListenerService() { m_services->startListenerService(); }
void Win32Services::openListeners() { m_services->openListeners(); }
void Win32Services::closeListeners() { m_services->closeListeners(); }
void Win32Services::stopListenerService() { m_services->stopListenerService(); }
void Win32Services::startServerRequestService() { m_services->startServerRequestService(); }
void Win32Services::stopServerRequestService() { m_services->stopServerRequestService(); }

void Win32Services::showAnnouncement(const TextString& text) { showInfo(text.c_str()); }

void Win32Services::showContact(ContactHandle) {
    if (m_mainWindow.handle()) PostMessageA(m_mainWindow.handle(), kShowContactsMessage, 0, 0);
}

Win32Shell::Win32Shell(Application& application, MainWindow& mainWindow, ContactListWindow& contacts,
                       Win32Services& services, HINSTANCE instance)
    : m_application(application),
      m_mainWindow(mainWindow),
      m_contacts(contacts),
      m_services(services),
      m_instance(instance) {}

uint32_t Win32Shell::findRunningInstanceAndActivate() {
    const HWND running = FindWindowA(m_application.className().c_str(), nullptr);
    if (!running) return 0;
    PostMessageA(running, WM_USER, 0, 0);
    return 1;
}

void Win32Shell::initializeUi() {
    InitCommonControls();
    OleInitialize(nullptr);
}

void Win32Shell::uninitializeUi() { OleUninitialize(); }

uint32_t Win32Shell::createMainWindow() {
    ClientServices* services = m_services.services();
    return services ? m_mainWindow.create(m_instance, *services) : 0;
}

bool Win32Shell::mainWindowExists() { return m_mainWindow.handle() != nullptr; }

uint32_t Win32Shell::attachContactWindow() {
    ClientServices* services = m_services.services();
    return services && services->contacts().subject().attach(&m_contacts) ? 1 : 0;
}

uint32_t Win32Shell::confirmShutdown() {
    if (m_confirmOpen) return 0;
    m_confirmOpen = true;
    const INT_PTR answer = DialogBoxParamA(m_instance, MAKEINTRESOURCEA(IDD_CONFIRM_SHUTDOWN), m_mainWindow.handle(),
                                           confirmShutdownProc,
                                           reinterpret_cast<LPARAM>(&m_application.generalOptions()));
    m_confirmOpen = false;
    return answer == 1 ? 1 : 0;
}

void Win32Shell::closeContactWindow() { m_contacts.close(); }
void Win32Shell::unloadRichEdit() {}
void Win32Shell::tearDownMainWindow() { m_mainWindow.teardown(); }
void Win32Shell::postQuit(uint32_t code) { PostQuitMessage(static_cast<int>(code)); }
void Win32Shell::clearMainWindow() { m_mainWindow.clear(); }

uint32_t Win32Shell::runMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) == 1) {
        const HWND dialog = m_mainWindow.modelessDialog();
        if (dialog && IsDialogMessageA(dialog, &message)) continue;
        const HWND acceleratorWindow = m_mainWindow.acceleratorWindow();
        if (acceleratorWindow && m_mainWindow.acceleratorTable() &&
            TranslateAcceleratorA(acceleratorWindow, m_mainWindow.acceleratorTable(), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<uint32_t>(message.wParam);
}

} // namespace vp
