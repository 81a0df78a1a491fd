#pragma once
// The Windows side of the application's start-up and shutdown: the windows
// (ApplicationShell) and the client's services, made once the folders are
// known (ApplicationServices).

#include "app/Application.h"
#include "protocol/ProtocolPorts.h"
#include "services/AddContact.h"

#include <windows.h>

#include <memory>

namespace vp {

class ClientServices;
class ContactListWindow;
class MainWindow;

class Win32Services final : public ApplicationServices, public AnnouncementPort, public ContactWindowPort {
public:
    Win32Services(Application& application, MainWindow& mainWindow);
    ~Win32Services() override;

    // Made by startContactModel, the first step that needs them.
    ClientServices* services() { return m_services.get(); }

    uint32_t startContactModel() override;
    void stopContactModel() override;
    void detachContactObservers() override;
    void startConnectionMonitor() override;
    void stopConnectionMonitor() override;
    void startListenerService() override;
    void openListeners() override;
    void closeListeners() override;
    void stopListenerService() override;
    void startServerRequestService() override;
    void stopServerRequestService() override;

private:
    // Until the announcement box exists, the server's text is a plain box.
    void showAnnouncement(const TextString& text) override;
    // The local add-contact page brings the contact list to the front.
    void showContact(ContactHandle handle) override;

    Application& m_application;
    MainWindow& m_mainWindow;
    std::unique_ptr<ClientServices> m_services;
};

class Win32Shell final : public ApplicationShell {
public:
    Win32Shell(Application& application, MainWindow& mainWindow, ContactListWindow& contacts,
               Win32Services& services, HINSTANCE instance);

    uint32_t findRunningInstanceAndActivate() override;
    void initializeUi() override;
    void uninitializeUi() override;
    uint32_t createMainWindow() override;
    bool mainWindowExists() override;
    uint32_t attachContactWindow() override;
    uint32_t confirmShutdown() override;
    void closeContactWindow() override;
    void unloadRichEdit() override;
    void tearDownMainWindow() override;
    void postQuit(uint32_t code) override;
    void clearMainWindow() override;
    uint32_t runMessageLoop() override;

private:
    Application& m_application;
    MainWindow& m_mainWindow;
    ContactListWindow& m_contacts;
    Win32Services& m_services;
    HINSTANCE m_instance;
    bool m_confirmOpen = false;
};

} // namespace vp
