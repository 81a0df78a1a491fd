// Vellumpost.exe: the whole run of the client, from the installation check
// to the last saved file.

#include "app/Application.h"
#include "app/win32/MainWindow.h"
#include "app/win32/Win32MessageService.h"
#include "app/win32/Win32Shell.h"
#include "contacts/win32/ContactListWindow.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    vp::Win32MessageService boxes;
    vp::setMessageService(&boxes);
    // One Application for the run; the windows and services it starts
    // live as long.
    static vp::Application application;
    vp::ContactListWindow contacts(application);
    vp::MainWindow mainWindow(application, contacts);
    vp::Win32Services services(application, mainWindow);
    vp::Win32Shell shell(application, mainWindow, contacts, services, instance);
    application.setShell(&shell);
    application.setServices(&services);
    const int code = static_cast<int>(vp::runApplication(application));
    application.setShell(nullptr);
    application.setServices(nullptr);
    vp::setMessageService(nullptr);
    return code;
}
