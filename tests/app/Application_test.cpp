#include "app/Application.h"

#include "app/AppInfo.h"
#include "app/MessageService.h"
#include "foundation/ThreadLib.h"
#include "platform/MemoryRegistry.h"
#include "platform/Path.h"
#include "platform/System.h"

#include "support/ScriptedMessages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vp {
namespace {

using platform::MemoryRegistry;
using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryResult;
using test::ScopedMessageService;
using test::ScriptedMessages;
using test::TempDir;
using Log = std::vector<std::string>;

constexpr char kNotInstalled[] = "This application is not installed correctly.\nPlease re-install it and try again.";
constexpr char kOldWindows[] =
    "This application will only run properly under\nWindows 95 or Windows NT version 4.0 or later";
constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string text(const TextString& value) { return std::string(value.c_str(), value.length()); }

bool isFolder(const std::string& path) { return std::filesystem::is_directory(platform::toNativePath(path.c_str())); }

void putString(MemoryRegistry& registry, RegistryHive hive, const char* path, const char* name,
               const std::string& value, bool withNul) {
    RegistryKey key;
    ASSERT_EQ(registry.createKey(hive, path, key), RegistryResult::Success);
    const uint32_t count = static_cast<uint32_t>(value.size() + (withNul ? 1 : 0));
    ASSERT_EQ(key.setValue(name, platform::kRegString, value.c_str(), count), RegistryResult::Success);
}

bool keyExists(MemoryRegistry& registry, RegistryHive hive, const char* path) {
    RegistryKey key;
    return registry.openKey(hive, path, key) == RegistryResult::Success;
}

// A number a settings group stored; all bits set when there is none.
uint32_t storedNumber(MemoryRegistry& registry, RegistryHive hive, const char* group, const char* name) {
    const std::string path = std::string(kRegistryKeyPath) + "\\" + group;
    RegistryKey key;
    if (registry.openKey(hive, path.c_str(), key) != RegistryResult::Success) return 0xFFFFFFFF;
    uint32_t value = 0xFFFFFFFF;
    uint32_t type = 0;
    uint32_t count = 0;
    key.queryValue(name, type, &value, sizeof value, count);
    return value;
}

// The windows and the services, writing down each call.
class FakePorts final : public ApplicationShell, public ApplicationServices {
public:
    explicit FakePorts(Log& log) : m_log(log) {}

    uint32_t otherInstance = 0;
    uint32_t modelStarts = 1;
    uint32_t createsMainWindow = 1;
    uint32_t attaches = 1;
    uint32_t confirmAnswer = 1;
    // What the confirm box's check box holds when it closes; -1 leaves PromptOnExit alone.
    int checkBox = -1;
    uint32_t loopCode = 0;
    Application* application = nullptr;
    std::function<void()> duringLoop;
    uint32_t promptOnExitWhenClosing = 0xFFFFFFFF;
    uint32_t threadIdInLoop = 0;

    uint32_t findRunningInstanceAndActivate() override { return note("findInstance", otherInstance); }
    void initializeUi() override { note("ui.init"); }
    void uninitializeUi() override { note("ui.uninit"); }
    uint32_t createMainWindow() override {
        m_mainWindow = createsMainWindow != 0;
        return note("mainWindow.create", createsMainWindow);
    }
    bool mainWindowExists() override { return m_mainWindow; }
    uint32_t attachContactWindow() override { return note("contactWindow.attach", attaches); }
    uint32_t confirmShutdown() override {
        // The box stores its check box whichever button closes it.
        if (checkBox >= 0) application->generalOptions().SetInt(GeneralOptions::kPromptOnExit, checkBox);
        return note("confirm", confirmAnswer);
    }
    void closeContactWindow() override {
        promptOnExitWhenClosing = application->generalOptions().GetInt(GeneralOptions::kPromptOnExit);
        note("contactWindow.close");
    }
    void unloadRichEdit() override { note("richEdit.unload"); }
    void tearDownMainWindow() override { note("mainWindow.tearDown"); }
    void postQuit(uint32_t code) override { note("quit " + std::to_string(code)); }
    void clearMainWindow() override { note("mainWindow.clear"); }
    uint32_t runMessageLoop() override {
        note("loop");
        threadIdInLoop = ThreadLib::currentId();
        if (duringLoop) duringLoop();
        return loopCode;
    }

    uint32_t startContactModel() override { return note("model.start", modelStarts); }
    void stopContactModel() override { note("model.stop"); }
    void detachContactObservers() override { note("model.detach"); }
    void startConnectionMonitor() override { note("monitor.start"); }
    void stopConnectionMonitor() override { note("monitor.stop"); }
    void startListenerService() override { note("listener.start"); }
    void openListeners() override { note("listener.open"); }
    void closeListeners() override { note("listener.close"); }
    void stopListenerService() override { note("listener.stop"); }
    void startServerRequestService() override { note("request.start"); }
    void stopServerRequestService() override { note("request.stop"); }

private:
    uint32_t note(const std::string& call, uint32_t result = 0) {
        m_log.push_back(call);
        return result;
    }

    Log& m_log;
    bool m_mainWindow = false;
};

class ApplicationTest : public ::testing::Test {
protected:
    ApplicationTest() : m_installed(m_boxes) {}

    // The installer's record, with the root ending in a backslash and the
    // NUL that a REG_SZ usually carries.
    void install() { installAt(m_dir.path("root") + "\\"); }
    void installAt(const std::string& root) {
        putString(m_registry, RegistryHive::LocalMachine, kRegistryKeyPath, "RootFolder", root, true);
    }
    void setDesktop(const std::string& folder) {
        putString(m_registry, RegistryHive::CurrentUser, kShellFolders, "Desktop", folder, true);
    }

    Application& make() {
        ApplicationEnvironment environment;
        environment.osMajorVersion = [this] { return m_osVersion; };
        environment.windowsFolder = [] { return std::string("C:\\WINDOWS"); };
        environment.loginUserName = [this] { return m_userName; };
        environment.createDirectory = [this](const char* path) {
            m_created.push_back(path);
            return platform::createDirectory(path);
        };
        environment.sleepMilliseconds = [this](uint32_t ms) { m_log.push_back("sleep " + std::to_string(ms)); };
        environment.netStartup = [this] {
            m_log.push_back("net.startup");
            return 1u;
        };
        environment.netCleanup = [this] {
            m_log.push_back("net.cleanup");
            return 1u;
        };
        m_application = std::make_unique<Application>(m_registry, std::move(environment));
        m_application->setShell(&m_shell);
        m_application->setServices(&m_shell);
        m_shell.application = m_application.get();
        return *m_application;
    }

    std::string user(const std::string& rest = "") const {
        return m_dir.path("root\\Users\\" + m_userName) + (rest.empty() ? "" : "\\" + rest);
    }

    TempDir m_dir;
    MemoryRegistry m_registry;
    ScriptedMessages m_boxes;
    ScopedMessageService m_installed;
    Log m_log;
    Log m_created;
    FakePorts m_shell{m_log};
    uint32_t m_osVersion = 5;
    std::string m_userName = "alice";
    std::unique_ptr<Application> m_application;
};

TEST_F(ApplicationTest, InitComposesSingleSeparatorFoldersUnderARootEndingInABackslash) {
    install();
    setDesktop("C:\\Documents and Settings\\alice\\Desktop");
    Application& application = make();
    ASSERT_EQ(application.checkInstalled(), 1u);
    ASSERT_EQ(application.init(), 1u);

    // The stored NUL is no part of the root folder.
    EXPECT_EQ(text(application.rootFolder()), m_dir.path("root") + "\\");
    EXPECT_EQ(text(application.userFolder()), user());
    EXPECT_EQ(text(application.notesFolder()), user("Notes"));
    EXPECT_EQ(text(application.contactsFolder()), user("Contacts"));
    EXPECT_EQ(text(application.helpFilePath()), m_dir.path("root\\Vellumpost.hlp"));
    EXPECT_EQ(text(application.desktopFolder()), "C:\\Documents and Settings\\alice\\Desktop");
    EXPECT_EQ(text(application.generalOptions().GetString(GeneralOptions::kReceiveFolder)), user("Attachments"));
    EXPECT_EQ(text(application.generalOptions().GetString(GeneralOptions::kRecentFolder)),
              "C:\\Documents and Settings\\alice\\Desktop");

    // A folder is made one level at a time: these exist only when every
    // parent was made first, from the top down.
    for (const char* folder : {"Notes", "Contacts", "Attachments"}) EXPECT_TRUE(isFolder(user(folder))) << folder;

    EXPECT_EQ(text(application.versionText()), "3.12");
    EXPECT_EQ(m_log, (Log{"ui.init"}));
    EXPECT_EQ(m_boxes.boxCount(), 0u);
}

TEST_F(ApplicationTest, UserNamesThatAreNoPlainFolderNameShareTheDefaultFolder) {
    install();
    const std::string defaultFolder = m_dir.path("root\\Users\\default");
    for (const char* name : {"", "..", ".", "..\\..\\outside", "a\\b", "a/b", "C:x", "tab\there"}) {
        SCOPED_TRACE(name);
        m_userName = name;
        Application& application = make();
        ASSERT_EQ(application.init(), 1u);
        EXPECT_EQ(text(application.userFolder()), defaultFolder);
        EXPECT_EQ(text(application.notesFolder()), defaultFolder + "\\Notes");
        EXPECT_EQ(text(application.contactsFolder()), defaultFolder + "\\Contacts");
    }
    EXPECT_TRUE(isFolder(defaultFolder + "\\Attachments"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.native() / "outside"));
    // Only "root" sits in the test folder: nothing was placed beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.native()), {}), 1);
}

TEST_F(ApplicationTest, AMissingInstallationStopsBeforeAnythingIsTouched) {
    // No key at all, then the key without the value, then a value too long
    // for the 1024-byte buffer, then a good one on a Windows that is too old.
    for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        if (step == 1) putString(m_registry, RegistryHive::LocalMachine, kRegistryKeyPath, "Other", "x", true);
        if (step == 2) installAt(std::string(1100, 'r'));
        if (step == 3) install();
        m_osVersion = step == 3 ? 3 : 4;
        Application& application = make();
        EXPECT_EQ(runApplication(application), 0u);
    }
    const std::vector<ScriptedMessages::Box> shown = m_boxes.boxes();
    ASSERT_EQ(shown.size(), 4u);
    for (const ScriptedMessages::Box& box : shown) {
        EXPECT_EQ(box.text, &box == &shown.back() ? kOldWindows : kNotInstalled);
        EXPECT_EQ(box.title, "Vellumpost");
        EXPECT_EQ(box.flags, kMbOk | kMbIconInformation | kMbSetForeground | kMbTopmost);
    }
    EXPECT_TRUE(m_log.empty());
    EXPECT_TRUE(m_created.empty());
    EXPECT_FALSE(keyExists(m_registry, RegistryHive::CurrentUser, "Software"));
}

TEST_F(ApplicationTest, StoredFoldersReplaceTheDefaults) {
    install();
    const std::string stored = m_dir.path("root\\elsewhere\\received");
    putString(m_registry, RegistryHive::CurrentUser, "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions",
              "ReceiveFolder", stored, false);
    putString(m_registry, RegistryHive::CurrentUser, "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions",
              "RecentFolder", "D:\\recent", false);
    Application& application = make();
    ASSERT_EQ(application.init(), 1u);
    EXPECT_EQ(text(application.generalOptions().GetString(GeneralOptions::kReceiveFolder)), stored);
    EXPECT_EQ(text(application.generalOptions().GetString(GeneralOptions::kRecentFolder)), "D:\\recent");
    // The stored folder is the one made, not the default.
    EXPECT_TRUE(isFolder(stored));
    EXPECT_FALSE(std::filesystem::exists(platform::toNativePath(user("Attachments").c_str())));
    // No desktop folder recorded: empty, and the key is made for next time.
    EXPECT_TRUE(application.desktopFolder().isEmpty());
    EXPECT_TRUE(keyExists(m_registry, RegistryHive::CurrentUser, kShellFolders));
}

TEST_F(ApplicationTest, ExitAsksOnlyWhenTheUserAsksAndPromptOnExitIsSet) {
    install();
    Application& application = make();
    ASSERT_EQ(application.init(), 1u);
    ASSERT_EQ(application.createWindows(), 1u);
    m_log.clear();
    ASSERT_EQ(application.generalOptions().GetInt(GeneralOptions::kPromptOnExit), 1u);
    const Log goingDown{"contactWindow.close", "richEdit.unload", "mainWindow.tearDown", "quit 0"};

    // No: nothing after the box.
    m_shell.confirmAnswer = 0;
    EXPECT_EQ(application.exit(Application::kExitRequest), 1u);
    EXPECT_EQ(m_log, (Log{"confirm"}));

    // The end of the session never asks.
    m_log.clear();
    EXPECT_EQ(application.exit(Application::kExitSessionEnd), 1u);
    EXPECT_EQ(m_log, goingDown);

    // Yes with the check box cleared: stored before anything closes, and
    // the next request does not ask.
    m_log.clear();
    m_shell.confirmAnswer = 1;
    m_shell.checkBox = 0;
    EXPECT_EQ(application.exit(Application::kExitRequest), 1u);
    Log expected{"confirm"};
    expected.insert(expected.end(), goingDown.begin(), goingDown.end());
    EXPECT_EQ(m_log, expected);
    EXPECT_EQ(m_shell.promptOnExitWhenClosing, 0u);
    m_log.clear();
    EXPECT_EQ(application.exit(Application::kExitRequest), 1u);
    EXPECT_EQ(m_log, goingDown);
}

TEST_F(ApplicationTest, CreateWindowsStopsAtTheFirstFailure) {
    install();
    Application& application = make();
    application.init();
    application.generalOptions().SetInt(GeneralOptions::kPromptOnExit, 0);

    // The model's service did not start: no window is made, nothing to exit.
    m_shell.modelStarts = 0;
    m_log.clear();
    EXPECT_EQ(application.createWindows(), 0u);
    EXPECT_EQ(m_log, (Log{"model.start"}));

    // The main window exists but the contact window could not be attached:
    // the program goes down through exit.
    m_shell.modelStarts = 1;
    m_shell.attaches = 0;
    m_log.clear();
    EXPECT_EQ(application.createWindows(), 0u);
    EXPECT_EQ(m_log, (Log{"model.start", "mainWindow.create", "contactWindow.attach", "contactWindow.close",
                          "richEdit.unload", "mainWindow.tearDown", "quit 0"}));
    EXPECT_EQ(application.windowsCreated(), 0u);
    EXPECT_EQ(application.running(), 0u);
}

TEST_F(ApplicationTest, ARunGoesUpAndDownInOrderAndSavesTheSettings) {
    install();
    Application& application = make();
    m_shell.loopCode = 7;
    m_shell.duringLoop = [&application] {
        application.setConnected(1);
        application.generalOptions().SetInt(GeneralOptions::kAlwaysOnTop, 1);
        application.noteOptions().SetInt(NoteOptions::kDeleteOnReply, 1);
        application.awayOptions().SetInt(AwayOptions::kAutoReplyWithCustomMsg, 1);
        application.soundOptions().SetInt(SoundOptions::kPlayOnNoteSent, 1);
    };
    EXPECT_EQ(runApplication(application), 7u);
    EXPECT_EQ(m_log, (Log{"findInstance", "ui.init", "model.start", "mainWindow.create", "contactWindow.attach",
                          "net.startup", "sleep 1000", "monitor.start", "listener.start", "listener.open",
                          "request.start", "loop", "request.stop", "listener.close", "listener.stop",
                          "monitor.stop", "net.cleanup", "model.detach", "mainWindow.clear", "model.stop",
                          "ui.uninit"}));
    // The loop ran on a thread of the thread library, which is gone again.
    EXPECT_NE(m_shell.threadIdInLoop, 0u);
    EXPECT_EQ(ThreadLib::currentId(), 0u);
    EXPECT_EQ(application.running(), 0u);
    EXPECT_EQ(application.connected(), 0u);
    const RegistryHive user = RegistryHive::CurrentUser;
    EXPECT_EQ(storedNumber(m_registry, user, "GeneralOptions", "AlwaysOnTop"), 1u);
    EXPECT_EQ(storedNumber(m_registry, user, "NoteOptions", "DeleteOnReply"), 1u);
    EXPECT_EQ(storedNumber(m_registry, user, "AwayOptions", "AutoReplyWithCustomMsg"), 1u);
    EXPECT_EQ(storedNumber(m_registry, RegistryHive::LocalMachine, "SoundOptions", "PlayOnNoteSent"), 1u);
}

TEST_F(ApplicationTest, AtTheEndOfTheSessionTheWayDownRunsInsideTheLoopOnly) {
    install();
    Application& application = make();
    // Windows is ending: the main window runs exit(1), stopServices and
    // cleanup before it answers; after the loop they find nothing to do, as a
    // second start finds the services running.
    m_shell.duringLoop = [&application] {
        application.startServices();
        application.exit(Application::kExitSessionEnd);
        application.stopServices();
        application.cleanup();
    };
    EXPECT_EQ(runApplication(application), 0u);
    EXPECT_NE(std::find(m_log.begin(), m_log.end(), "quit 0"), m_log.end());
    Log calls = m_log;
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(std::adjacent_find(calls.begin(), calls.end()), calls.end()) << "a step ran twice";
}

TEST_F(ApplicationTest, ASecondInstanceOnlyWakesTheFirst) {
    install();
    m_shell.otherInstance = 1;
    Application& application = make();
    EXPECT_EQ(runApplication(application), 0u);
    EXPECT_EQ(m_log, (Log{"findInstance"}));
    EXPECT_TRUE(m_created.empty());
    EXPECT_FALSE(std::filesystem::exists(m_dir.native() / "root"));
    EXPECT_FALSE(keyExists(m_registry, RegistryHive::CurrentUser, "Software"));
    EXPECT_FALSE(keyExists(m_registry, RegistryHive::LocalMachine,
                           "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions"));
    EXPECT_EQ(m_boxes.boxCount(), 0u);
}

} // namespace
} // namespace vp
