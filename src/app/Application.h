#pragma once
// The one Application object of a run: it checks the installation, builds
// the folders and settings, and starts and stops the windows and the network
// services in a fixed order. Every other part reaches the shared state through
// it.
//
// The windows and the services come in through two ports declared here
// (ApplicationShell, ApplicationServices), so the order of start-up and
// shutdown is decided, and tested, without them. The operating system comes
// in through ApplicationEnvironment and a registry.

#include "foundation/TextString.h"
#include "platform/Registry.h"
#include "settings/AwayOptions.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace vp {

// The windows, as start-up and shutdown need them. Results 1 / 0.
class ApplicationShell {
public:
    virtual ~ApplicationShell() = default;
    // Looks for a top-level window of class kClassName (any title). When there
    // is one, posts it WM_USER (1024) with both parameters 0, so that it brings
    // its contact list to the front, and returns 1.
    virtual uint32_t findRunningInstanceAndActivate() = 0;
    // Common controls and OLE; and OLE's release.
    virtual void initializeUi() = 0;
    virtual void uninitializeUi() = 0;
    // Creates the main window (which creates the contact list window).
    virtual uint32_t createMainWindow() = 0;
    virtual bool mainWindowExists() = 0;
    // Attaches the contact list window as an observer of the contact model.
    virtual uint32_t attachContactWindow() = 0;
    // The ConfirmShutdownBox: 1 for Yes; 0 for No or when one is open
    // already. The box stores its check box into PromptOnExit either way.
    virtual uint32_t confirmShutdown() = 0;
    // Closes the contact list window (saving its placement).
    virtual void closeContactWindow() = 0;
    // Unloads the rich edit library of the note windows.
    virtual void unloadRichEdit() = 0;
    // Disconnects, removes the tray icons and menu, saves the desktop notes
    // and releases the note store.
    virtual void tearDownMainWindow() = 0;
    // Posts the quit message that ends the message loop with code.
    virtual void postQuit(uint32_t code) = 0;
    // Forgets the main window's handles and flags.
    virtual void clearMainWindow() = 0;
    // Runs the loop until the quit message; its code.
    virtual uint32_t runMessageLoop() = 0;
};

// The contact model's own service and the network services.
class ApplicationServices {
public:
    virtual ~ApplicationServices() = default;
    // 1 when the contact model's service runs.
    virtual uint32_t startContactModel() = 0;
    virtual void stopContactModel() = 0;
    // Detaches every observer of the contact model.
    virtual void detachContactObservers() = 0;
    virtual void startConnectionMonitor() = 0;
    virtual void stopConnectionMonitor() = 0;
    // The listener service, and its two listeners (peer and local HTTP).
    virtual void startListenerService() = 0;
    virtual void openListeners() = 0;
    virtual void closeListeners() = 0;
    virtual void stopListenerService() = 0;
    // Its start may offer to create an account, then connects or opens the
    // connect box.
    virtual void startServerRequestService() = 0;
    virtual void stopServerRequestService() = 0;
};

// What start-up asks of the operating system. An empty member stands for the
// platform's own (platform/System.h, and NetStartup / NetCleanup).
struct ApplicationEnvironment {
    std::function<uint32_t()> osMajorVersion;
    std::function<std::string()> windowsFolder;
    std::function<std::string()> loginUserName;
    std::function<bool(const char* path)> createDirectory;
    std::function<void(uint32_t milliseconds)> sleepMilliseconds;
    std::function<uint32_t()> netStartup;
    std::function<uint32_t()> netCleanup;
};

class Application {
public:
    // The reasons of exit.
    static constexpr uint32_t kExitSessionEnd = 1;  // log-off or shutdown: never prompts
    static constexpr uint32_t kExitRequest = 2;     // the user or a failure: prompts when PromptOnExit is set

    explicit Application(platform::Registry& registry = platform::systemRegistry(),
                         ApplicationEnvironment environment = {});
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The ports; null puts back one that has no windows and no services.
    // Attach them before checkInstalled.
    void setShell(ApplicationShell* shell);
    void setServices(ApplicationServices* services);
    ApplicationShell& shell() { return *m_shell; }
    ApplicationServices& services() { return *m_services; }

    // 1 when the program may start: a recent enough Windows and an installation
    // recorded in the registry. Otherwise a box says what is wrong.
    uint32_t checkInstalled();
    // Constants, folders (created on disk) and settings; 1.
    uint32_t init();
    // The contact model's service, the main window and the contact window's
    // attachment; 1 when all exist (running then 1).
    uint32_t createWindows();
    // Start and stop the network services, each only once; 1.
    uint32_t startServices();
    uint32_t stopServices();
    // Takes the windows down and posts the quit message, unless the user
    // declines the confirm box (reason 2 with PromptOnExit set); 1.
    uint32_t exit(uint32_t reason);
    // Saves the settings and releases what start-up took, once; 1.
    uint32_t cleanup();

    const TextString& rootFolder() const { return m_rootFolder; }
    const TextString& registryKeyPath() const { return m_registryKeyPath; }
    uint32_t running() const { return m_running; }
    const TextString& className() const { return m_className; }
    const TextString& displayName() const { return m_displayName; }
    const TextString& windowsFolder() const { return m_windowsFolder; }
    const TextString& loginUserName() const { return m_loginUserName; }
    const TextString& userFolder() const { return m_userFolder; }
    const TextString& desktopFolder() const { return m_desktopFolder; }
    const TextString& notesFolder() const { return m_notesFolder; }
    const TextString& contactsFolder() const { return m_contactsFolder; }
    const TextString& helpFilePath() const { return m_helpFilePath; }
    // Set by the main window's connection state, read by menus and services
    // on their own threads.
    uint32_t connected() const { return m_connected.load(); }
    void setConnected(uint32_t value) { m_connected.store(value ? 1 : 0); }
    double version() const { return m_version; }
    const TextString& versionText() const { return m_versionText; }
    const TextString& buildDateText() const { return m_buildDateText; }
    uint32_t windowsCreated() const { return m_windowsCreated; }
    uint32_t servicesStarted() const { return m_servicesStarted; }

    GeneralOptions& generalOptions() { return m_generalOptions; }
    NoteOptions& noteOptions() { return m_noteOptions; }
    AwayOptions& awayOptions() { return m_awayOptions; }
    SoundOptions& soundOptions() { return m_soundOptions; }

private:
    // The installation's "RootFolder"; false when it cannot be read.
    bool readRootFolder(TextString& folder);
    TextString readDesktopFolder();
    // Makes path and every missing parent, ignoring failures.
    void createFolders(const TextString& path);
    TextString composeUserFolder() const;

    platform::Registry& m_registry;
    ApplicationEnvironment m_environment;
    ApplicationShell* m_shell;
    ApplicationServices* m_services;

    GeneralOptions m_generalOptions;
    NoteOptions m_noteOptions;
    AwayOptions m_awayOptions;
    SoundOptions m_soundOptions;
    TextString m_rootFolder;
    TextString m_registryKeyPath;
    uint32_t m_running = 0;
    TextString m_className;
    TextString m_displayName;
    TextString m_windowsFolder;
    TextString m_loginUserName;
    TextString m_userFolder;
    TextString m_desktopFolder;
    TextString m_notesFolder;
    TextString m_contactsFolder;
    TextString m_helpFilePath;
    std::atomic<uint32_t> m_connected{0};
    double m_version = 0;
    TextString m_versionText;
    TextString m_buildDateText;
    uint32_t m_windowsCreated = 0;
    uint32_t m_servicesStarted = 0;
};

// The whole run, as the entry point performs it: installation check, single
// instance, init, thread library, windows, services, message loop, and the
// way back. The message loop's code, or 0 when start-up stops early.
uint32_t runApplication(Application& application);

} // namespace vp
