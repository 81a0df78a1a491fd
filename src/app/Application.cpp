#include "app/Application.h"

#include "app/AppInfo.h"
#include "app/MessageService.h"
#include "foundation/TcpSocket.h"
#include "foundation/ThreadLib.h"
#include "platform/FileName.h"
#include "platform/System.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace vp {

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryResult;

constexpr char kOldWindowsText[] =
    "This application will only run properly under\nWindows 95 or Windows NT version 4.0 or later";
constexpr char kNotInstalledText[] = "This application is not installed correctly.\nPlease re-install it and try again.";
constexpr char kShellFoldersPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr uint32_t kValueBufferSize = 1024;
constexpr uint32_t kMinimumWindowsVersion = 4;
constexpr uint32_t kPauseBeforeServices = 1000;  // milliseconds

// Stands in until the user interface attaches its windows: no other
// instance, no main window, and a loop that ends at once.
class NoShell final : public ApplicationShell {
public:
    uint32_t findRunningInstanceAndActivate() override { return 0; }
    void initializeUi() override {}
    void uninitializeUi() override {}
    uint32_t createMainWindow() override { return 0; }
    bool mainWindowExists() override { return false; }
    uint32_t attachContactWindow() override { return 0; }
    uint32_t confirmShutdown() override { return 1; }
    void closeContactWindow() override {}
    void unloadRichEdit() override {}
    void tearDownMainWindow() override {}
    void postQuit(uint32_t) override {}
    void clearMainWindow() override {}
    uint32_t runMessageLoop() override { return 0; }
};

class NoServices final : public ApplicationServices {
public:
    uint32_t startContactModel() override { return 1; }
    void stopContactModel() override {}
    void detachContactObservers() override {}
    void startConnectionMonitor() override {}
    void stopConnectionMonitor() override {}
    void startListenerService() override {}
    void openListeners() override {}
    void closeListeners() override {}
    void stopListenerService() override {}
    void startServerRequestService() override {}
    void stopServerRequestService() override {}
};

NoShell g_noShell;
NoServices g_noServices;

// A string value as read: count bytes, of which a terminating NUL (and
// anything after an embedded one) is no part of the text.
TextString textOfValue(const char* buffer, uint32_t count) {
    uint32_t length = 0;
    while (length < count && buffer[length] != '\0') ++length;
    return TextString(buffer, length);
}

// Reads name from an open key into a 1024-byte buffer.
bool readString(RegistryKey& key, const char* name, TextString& text) {
    char buffer[kValueBufferSize] = {};
    uint32_t type = 0;
    uint32_t count = 0;
    if (key.queryValue(name, type, buffer, sizeof buffer, count) != RegistryResult::Success) return false;
    text = textOfValue(buffer, count);
    return true;
}

TextString collapsed(const TextString& path) { return path.collapseSeparator('\\'); }

TextString fromStd(const std::string& text) { return TextString(text.data(), static_cast<uint32_t>(text.size())); }

void fillEnvironment(ApplicationEnvironment& environment) {
    if (!environment.osMajorVersion) environment.osMajorVersion = platform::osMajorVersion;
    if (!environment.windowsFolder) environment.windowsFolder = platform::windowsFolder;
    if (!environment.loginUserName) environment.loginUserName = platform::loginUserName;
    if (!environment.createDirectory) environment.createDirectory = platform::createDirectory;
    if (!environment.sleepMilliseconds) environment.sleepMilliseconds = platform::sleepMilliseconds;
    if (!environment.netStartup) environment.netStartup = NetStartup;
    if (!environment.netCleanup) environment.netCleanup = NetCleanup;
}

} // namespace

Application::Application(platform::Registry& registry, ApplicationEnvironment environment)
    : m_registry(registry),
      m_environment(std::move(environment)),
      m_shell(&g_noShell),
      m_services(&g_noServices),
      m_generalOptions(registry),
      m_noteOptions(registry),
      m_awayOptions(registry),
      m_soundOptions(registry),
      m_registryKeyPath(kRegistryKeyPath),
      m_className(kClassName),
      m_displayName(kDisplayName),
      m_version(kVersion),
      m_buildDateText(kBuildDateText) {
    fillEnvironment(m_environment);
}

void Application::setShell(ApplicationShell* shell) { m_shell = shell ? shell : &g_noShell; }

void Application::setServices(ApplicationServices* services) { m_services = services ? services : &g_noServices; }

bool Application::readRootFolder(TextString& folder) {
    RegistryKey key;
    if (m_registry.openKey(RegistryHive::LocalMachine, kRegistryKeyPath, key) != RegistryResult::Success) {
        return false;
    }
    return readString(key, "RootFolder", folder);
}

TextString Application::readDesktopFolder() {
    TextString folder;
    RegistryKey key;
    if (m_registry.createKey(RegistryHive::CurrentUser, kShellFoldersPath, key) == RegistryResult::Success) {
        readString(key, "Desktop", folder);
    }
    return folder;
}

uint32_t Application::checkInstalled() {
    if (m_environment.osMajorVersion() < kMinimumWindowsVersion) {
        showInfo(kOldWindowsText);
        return 0;
    }
    TextString root;
    if (!readRootFolder(root)) {
        showInfo(kNotInstalledText);
        return 0;
    }
    return 1;
}

TextString Application::composeUserFolder() const {
    // The login name becomes a folder name. Windows gives no name with a
    // separator or ".." in it, but one that had them must not put the user's
    // data outside the root folder: it shares the default folder instead.
    if (!m_loginUserName.isEmpty() && platform::isPlainName(m_loginUserName.c_str())) {
        return collapsed(m_rootFolder + "\\Users\\" + m_loginUserName + "\\");
    }
    return collapsed(m_rootFolder + "\\Users\\default\\");
}

void Application::createFolders(const TextString& path) {
    // CreateDirectory makes one level, so each parent is made first; the
    // levels that exist already fail, which is expected.
    const char* text = path.c_str();
    if (!*text) return;
    for (uint32_t i = 0; text[i] != '\0'; ++i) {
        if (text[i] != '\\') continue;
        const TextString parent(text, i + 1);
        m_environment.createDirectory(parent.c_str());
    }
    m_environment.createDirectory(text);
}

uint32_t Application::init() {
    m_connected.store(0);

    m_rootFolder = TextString();
    readRootFolder(m_rootFolder);
    m_registryKeyPath = kRegistryKeyPath;

    m_buildDateText = kBuildDateText;
    m_version = kVersion;
    char versionText[32];
    const double tenths = m_version * 10.0;
    std::snprintf(versionText, sizeof versionText, tenths != std::floor(tenths) ? "%.2lf" : "%.1lf", m_version);
    m_versionText = versionText;
    m_running = 0;
    m_windowsCreated = 0;
    m_servicesStarted = 0;
    m_className = kClassName;
    m_displayName = kDisplayName;
    m_helpFilePath = collapsed(m_rootFolder + "\\" + m_className + ".hlp");

    m_desktopFolder = readDesktopFolder();
    m_windowsFolder = fromStd(m_environment.windowsFolder());
    m_loginUserName = fromStd(m_environment.loginUserName());

    m_userFolder = composeUserFolder();
    m_contactsFolder = collapsed(m_userFolder + "\\Contacts\\");
    m_notesFolder = collapsed(m_userFolder + "\\Notes\\");

    // Defaults that the stored values, loaded below, replace.
    m_generalOptions.SetString(GeneralOptions::kReceiveFolder, collapsed(m_userFolder + "\\Attachments\\"));
    m_generalOptions.SetString(GeneralOptions::kRecentFolder, m_desktopFolder);

    createFolders(m_userFolder);
    createFolders(m_contactsFolder);
    createFolders(m_notesFolder);

    m_shell->initializeUi();

    SettingsGroup* const groups[] = {&m_generalOptions, &m_noteOptions, &m_awayOptions, &m_soundOptions};
    for (SettingsGroup* group : groups) {
        group->SetKeyPath(kSettingsBaseKey);
        group->Load();
    }
    createFolders(m_generalOptions.GetString(GeneralOptions::kReceiveFolder));

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return 1;
}

uint32_t Application::createWindows() {
    m_windowsCreated = 0;
    // Each step needs the one before: no main window without the model's
    // service, no attachment without the contact window it creates.
    if (m_services->startContactModel() && m_shell->createMainWindow() && m_shell->attachContactWindow()) {
        m_windowsCreated = 1;
        m_running = 1;
        return 1;
    }
    // The quit message is posted now, so the loop ends as soon as it starts.
    if (m_shell->mainWindowExists()) exit(kExitRequest);
    return 0;
}

uint32_t Application::startServices() {
    if (m_servicesStarted) return 1;
    m_environment.netStartup();
    m_environment.sleepMilliseconds(kPauseBeforeServices);
    m_services->startConnectionMonitor();
    m_services->startListenerService();
    m_services->openListeners();
    m_services->startServerRequestService();
    m_servicesStarted = 1;
    return 1;
}

uint32_t Application::stopServices() {
    if (!m_servicesStarted) return 1;
    m_services->stopServerRequestService();
    m_services->closeListeners();
    m_services->stopListenerService();
    m_services->stopConnectionMonitor();
    m_environment.netCleanup();
    m_servicesStarted = 0;
    return 1;
}

uint32_t Application::exit(uint32_t reason) {
    if (reason == kExitRequest && m_generalOptions.GetInt(GeneralOptions::kPromptOnExit)) {
        if (!m_shell->confirmShutdown()) return 1;
    }
    m_shell->closeContactWindow();
    m_shell->unloadRichEdit();
    m_shell->tearDownMainWindow();
    m_shell->postQuit(0);
    return 1;
}

uint32_t Application::cleanup() {
    if (!m_running) return 1;
    m_generalOptions.Save();
    m_noteOptions.Save();
    m_awayOptions.Save();
    m_soundOptions.Save();
    m_running = 0;
    m_connected.store(0);
    m_services->detachContactObservers();
    m_shell->clearMainWindow();
    m_services->stopContactModel();
    m_shell->uninitializeUi();
    return 1;
}

uint32_t runApplication(Application& application) {
    if (!application.checkInstalled()) return 0;
    // A second copy for the same user brings the first one forward and ends
    // before it touches any file or setting.
    if (application.shell().findRunningInstanceAndActivate()) return 0;
    application.init();
    ThreadLib::init();
    // After a failure the quit message is posted already and the loop ends
    // at once, so the way down below is the same in both cases.
    application.createWindows();
    application.startServices();
    const uint32_t code = application.shell().runMessageLoop();
    application.stopServices();
    application.cleanup();
    ThreadLib::shutdown();
    return code;
}

} // namespace vp
