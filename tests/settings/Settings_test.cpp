#include "settings/AwayOptions.h"
#include "settings/Endpoints.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"

#include "platform/FileRegistry.h"
#include "platform/MemoryRegistry.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vp {
namespace {

using platform::MemoryRegistry;
using platform::Registry;
using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryKeyHandle;
using platform::RegistryResult;

constexpr RegistryHive kUser = RegistryHive::CurrentUser;
constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
const char* const kBase = "\\Software\\Tarrow Systems\\Vellumpost\\";

std::string text(const TextString& value) { return std::string(value.c_str(), value.length()); }

// A store that writes down what the groups do with it (which key is opened,
// which value read or written, when a key is closed) and can refuse a hive.
class RecordingRegistry final : public Registry {
public:
    std::vector<std::string> log;
    bool refuseMachine = false;
    MemoryRegistry inner;

protected:
    RegistryResult createKeyAt(RegistryHive hive, const std::string& path,
                               std::unique_ptr<RegistryKeyHandle>& handle) override {
        log.push_back(hive == kUser ? "key user" : "key machine");
        if (refuseMachine && hive == kMachine) return RegistryResult::AccessDenied;
        RegistryKey key;
        const RegistryResult result = inner.createKey(hive, path.c_str(), key);
        if (result == RegistryResult::Success) handle = std::make_unique<Handle>(log, std::move(key));
        return result;
    }
    RegistryResult openKeyAt(RegistryHive, const std::string&, std::unique_ptr<RegistryKeyHandle>&) override {
        log.push_back("open");  // the groups always create-or-open
        return RegistryResult::Failed;
    }
    RegistryResult deleteKeyTreeAt(RegistryHive hive, const std::string& path) override {
        return inner.deleteKeyTree(hive, path.c_str());
    }

private:
    class Handle final : public RegistryKeyHandle {
    public:
        Handle(std::vector<std::string>& log, RegistryKey key) : m_log(log), m_key(std::move(key)) {}
        ~Handle() override { m_log.push_back("close"); }
        RegistryResult query(const char* name, uint32_t& type, void* buffer, uint32_t size,
                             uint32_t& count) override {
            m_log.push_back(std::string("get ") + name);
            return m_key.queryValue(name, type, buffer, size, count);
        }
        RegistryResult set(const char* name, uint32_t type, const void* bytes, uint32_t count) override {
            m_log.push_back(std::string("set ") + name);
            return m_key.setValue(name, type, bytes, count);
        }
        RegistryResult remove(const char* name) override { return m_key.deleteValue(name); }

    private:
        std::vector<std::string>& m_log;
        RegistryKey m_key;
    };
};

// The four groups over one store, their key paths set.
struct Groups {
    explicit Groups(Registry& registry, const char* base = kBase)
        : general(registry), note(registry), away(registry), sound(registry) {
        for (SettingsGroup* group : all()) group->SetKeyPath(base);
    }
    std::vector<SettingsGroup*> all() { return {&general, &note, &away, &sound}; }

    GeneralOptions general;
    NoteOptions note;
    AwayOptions away;
    SoundOptions sound;
};

// ---------------------------------------------------------------------------
// The tables: ids, kinds, defaults, value names and hives.

struct IntDefault {
    uint32_t id;
    uint32_t value;
};
struct StringDefault {
    uint32_t id;
    std::string value;
};
struct Table {
    const char* name;
    std::function<SettingsGroup&(Groups&)> group;
    std::vector<IntDefault> ints;
    std::vector<StringDefault> strings;
    std::vector<std::string> machineValues;  // in load and save order
    std::vector<std::string> userValues;
};

std::vector<Table> tables() {
    const std::string search = endpoints::kPeopleSearchPage;
    return {
        {"GeneralOptions",
         [](Groups& g) -> SettingsGroup& { return g.general; },
         {{5, 0}, {6, 0}, {7, 0}, {14, 1}, {15, 1}, {16, 0}, {17, 0}, {18, 1}, {19, 1}, {20, 0}, {21, 1}, {22, 1},
          {23, 0}},
         {{0, search},
          {1, search},
          {2, endpoints::kServiceHomePage},
          {3, endpoints::kMakerHomePage},
          {8, std::string("http://") + endpoints::kWebHost + "/cgi-bin/vellumpost/svrlist.dll"},
          {9, ""},
          {10, endpoints::kDefaultServerHost},
          {11, ""},
          {12, ""},
          {13, ""}},
         {"FindOthersURL", "SearchURL", "SignupURL", "HomeURL", "ServerListURL", "InstalledVersion",
          "PreviousVersion", "ProxyConnect"},
         {"UserName", "ServerName", "UserPassword", "ReceiveFolder", "RecentFolder", "AutoConnect",
          "ShowLogoBoxAtStartUp", "ShowConnectBoxAtStartUp", "SavePassword", "AddUserNameToContactListOnConnect",
          "PromptOnExit", "AlwaysOnTop", "PromptOnAutoSleep", "PromptOnAutoWakeup", "EnablePrivacy"}},
        {"NoteOptions",
         [](Groups& g) -> SettingsGroup& { return g.note; },
         {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 1}, {7, 0}, {10, 0}},
         {{8, ""}},
         {},
         {"IncludeMsgInReply", "DeleteOnReply", "DeleteAfterSent", "PromptOnSent", "PromptOnDeletion",
          "PromptOnArrival", "ShowOnArrival", "AuthorizedNoteOnly", "NewNotesAvailable", "UnauthorizedList"}},
        {"AwayOptions",
         [](Groups& g) -> SettingsGroup& { return g.away; },
         {{2, 1}, {3, 0}, {4, 1}, {5, 0}, {6, 0}},
         {{0, "I'm not here right now,\r\nbut I've got your message."}},
         {},
         {"AutoReplyMsg", "AutoReplyAllowAttachments", "AutoReplyWithCustomMsg", "AutoReplyWithInclude",
          "AutoReplyAndDelete"}},
        {"SoundOptions",
         [](Groups& g) -> SettingsGroup& { return g.sound; },
         {{7, 0}, {8, 0}, {9, 0}, {10, 0}, {11, 0}, {12, 0}, {13, 0}},
         {{0, ""}, {1, ""}, {2, ""}, {3, ""}, {4, ""}, {5, ""}, {6, ""}},
         {"ConnectedSound", "DisconnectedSound", "ContactConnectedSound", "ContactDisconnectedSound",
          "NoteArrivedSound", "NoteSentSound", "SystemMessageArrivedSound", "PlayOnConnected", "PlayOnDisconnected",
          "PlayOnContactConnected", "PlayOnContactDisconnected", "PlayOnNoteArrived", "PlayOnNoteSent",
          "PlayOnSystemMessageArrived"},
         {}},
    };
}

void expectDefaults(SettingsGroup& group, const Table& table) {
    for (const IntDefault& value : table.ints) EXPECT_EQ(group.GetInt(value.id), value.value) << "id " << value.id;
    for (const StringDefault& value : table.strings) {
        EXPECT_EQ(text(group.GetString(value.id)), value.value) << "id " << value.id;
    }
}

TEST(SettingsGroups, AFreshStoreLoadsEveryDefaultAndIdsKeepToTheirKind) {
    MemoryRegistry registry;
    Groups groups(registry);
    for (const Table& table : tables()) {
        SCOPED_TRACE(table.name);
        SettingsGroup& group = table.group(groups);
        EXPECT_EQ(text(group.groupName()), table.name);
        expectDefaults(group, table);
        EXPECT_EQ(group.Load(), 1u);
        expectDefaults(group, table);

        // Ids that are no integer of the group read 0 and cannot be set;
        // the same for strings.
        for (uint32_t id = 0; id < 32; ++id) {
            bool isInt = false;
            bool isString = false;
            for (const IntDefault& value : table.ints) isInt = isInt || value.id == id;
            for (const StringDefault& value : table.strings) isString = isString || value.id == id;
            if (!isInt) {
                EXPECT_EQ(group.SetInt(id, 77), 0u) << "id " << id;
                EXPECT_EQ(group.GetInt(id), 0u) << "id " << id;
            }
            if (!isString) {
                EXPECT_EQ(group.SetString(id, "x"), 0u) << "id " << id;
                EXPECT_EQ(text(group.GetString(id)), "") << "id " << id;
            }
        }

        // Changed values go back with SetDefaults.
        for (const IntDefault& value : table.ints) EXPECT_EQ(group.SetInt(value.id, value.value + 5), 1u);
        for (const StringDefault& value : table.strings) EXPECT_EQ(group.SetString(value.id, "changed"), 1u);
        EXPECT_EQ(group.SetDefaults(), 1u);
        expectDefaults(group, table);
        EXPECT_EQ(group.Reserved1(42), 0u);
        EXPECT_EQ(group.Reserved2(42), 0u);
    }
}

TEST(SettingsGroups, AFirstSaveCreatesTheKeysWithEachValueInItsHive) {
    MemoryRegistry registry;
    Groups groups(registry);
    for (const Table& table : tables()) {
        SCOPED_TRACE(table.name);
        const std::string path = std::string("Software\\Tarrow Systems\\Vellumpost\\") + table.name;
        RegistryKey user;
        RegistryKey machine;
        EXPECT_EQ(registry.openKey(kUser, path.c_str(), user), RegistryResult::NotFound);
        EXPECT_EQ(registry.openKey(kMachine, path.c_str(), machine), RegistryResult::NotFound);

        EXPECT_EQ(table.group(groups).Save(), 1u);
        // A group with user values creates the user key; every group but the
        // sounds creates the machine key (the notes' stays empty).
        EXPECT_EQ(registry.openKey(kUser, path.c_str(), user) == RegistryResult::Success,
                  !table.userValues.empty());
        EXPECT_EQ(registry.openKey(kMachine, path.c_str(), machine) == RegistryResult::Success,
                  table.name != std::string("AwayOptions"));
        uint32_t type = 0;
        uint32_t count = 0;
        for (const std::string& name : table.machineValues) {
            EXPECT_EQ(machine.queryValue(name.c_str(), type, nullptr, 0, count), RegistryResult::Success) << name;
            EXPECT_NE(user.queryValue(name.c_str(), type, nullptr, 0, count), RegistryResult::Success) << name;
        }
        for (const std::string& name : table.userValues) {
            EXPECT_EQ(user.queryValue(name.c_str(), type, nullptr, 0, count), RegistryResult::Success) << name;
            EXPECT_NE(machine.queryValue(name.c_str(), type, nullptr, 0, count), RegistryResult::Success) << name;
        }
    }
}

TEST(SettingsGroups, LoadAndSaveOpenTheKeysAndHandleTheValuesInOrder) {
    for (const Table& table : tables()) {
        SCOPED_TRACE(table.name);
        // The order of the keys: the machine key first (the notes open it
        // for nothing but its existence), then the user key.
        const bool opensMachine = table.name != std::string("AwayOptions");
        const bool opensUser = !table.userValues.empty();
        for (const char* verb : {"set ", "get "}) {
            RecordingRegistry registry;
            Groups groups(registry);
            std::vector<std::string> expected;
            if (opensMachine) {
                expected.push_back("key machine");
                for (const std::string& name : table.machineValues) expected.push_back(verb + name);
                expected.push_back("close");
            }
            if (opensUser) {
                expected.push_back("key user");
                for (const std::string& name : table.userValues) expected.push_back(verb + name);
                expected.push_back("close");
            }
            SettingsGroup& group = table.group(groups);
            EXPECT_EQ(verb == std::string("set ") ? group.Save() : group.Load(), 1u);
            EXPECT_EQ(registry.log, expected);
        }
    }
}

// ---------------------------------------------------------------------------
// Loading what does not fit, ids and results.

void putString(Registry& registry, RegistryHive hive, const char* path, const char* name, const std::string& value) {
    RegistryKey key;
    ASSERT_EQ(registry.createKey(hive, path, key), RegistryResult::Success);
    ASSERT_EQ(key.setValue(name, platform::kRegString, value.data(), static_cast<uint32_t>(value.size())),
              RegistryResult::Success);
}

void putBytes(Registry& registry, const char* path, const char* name, uint32_t type, const std::string& value) {
    RegistryKey key;
    ASSERT_EQ(registry.createKey(kUser, path, key), RegistryResult::Success);
    ASSERT_EQ(key.setValue(name, type, value.data(), static_cast<uint32_t>(value.size())), RegistryResult::Success);
}

TEST(SettingsGroups, LoadKeepsTheValueWhenTheStoredOneDoesNotFit) {
    MemoryRegistry registry;
    Groups groups(registry);
    const char* general = "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions";
    const char* note = "Software\\Tarrow Systems\\Vellumpost\\NoteOptions";
    GeneralOptions& options = groups.general;
    options.SetString(GeneralOptions::kUserName, "keep");
    options.SetString(GeneralOptions::kUserPassword, "secret");
    options.SetInt(GeneralOptions::kAutoConnect, 7);
    options.SetInt(GeneralOptions::kPromptOnExit, 7);
    options.SetInt(GeneralOptions::kAlwaysOnTop, 7);

    putString(registry, kUser, general, "UserName", std::string(2000, 'u'));     // longer than its 1024
    putString(registry, kUser, general, "ServerName", std::string(1024, 's'));   // fits exactly
    putString(registry, kUser, general, "AutoConnect", "1");                     // a string for a number
    putBytes(registry, general, "PromptOnExit", platform::kRegDword, "\x01\x00");  // 2 bytes
    putBytes(registry, general, "AlwaysOnTop", platform::kRegDword, std::string(8, '\x01'));
    putBytes(registry, general, "UserPassword", platform::kRegDword, std::string("\x01\x00\x00\x00", 4));
    putBytes(registry, general, "EnablePrivacy", platform::kRegDword, std::string("\x01\x00\x00\x00", 4));
    putBytes(registry, general, "RecentFolder", platform::kRegBinary, "C:\\x");  // the wrong type

    EXPECT_EQ(options.Load(), 1u);
    EXPECT_EQ(text(options.GetString(GeneralOptions::kUserName)), "keep");
    EXPECT_EQ(text(options.GetString(GeneralOptions::kServerName)), std::string(1024, 's'));
    EXPECT_EQ(options.GetInt(GeneralOptions::kAutoConnect), 7u);
    EXPECT_EQ(options.GetInt(GeneralOptions::kPromptOnExit), 7u);
    EXPECT_EQ(options.GetInt(GeneralOptions::kAlwaysOnTop), 7u);
    EXPECT_EQ(text(options.GetString(GeneralOptions::kUserPassword)), "secret");
    EXPECT_EQ(options.GetInt(GeneralOptions::kEnablePrivacy), 1u);
    EXPECT_EQ(text(options.GetString(GeneralOptions::kRecentFolder)), "");

    // The refused-senders log reads up to 10240 bytes.
    putString(registry, kUser, note, "UnauthorizedList", std::string(10240, 'n'));
    EXPECT_EQ(groups.note.Load(), 1u);
    EXPECT_EQ(groups.note.GetString(NoteOptions::kUnauthorizedList).length(), 10240u);
    putString(registry, kUser, note, "UnauthorizedList", std::string(10241, 'm'));
    EXPECT_EQ(groups.note.Load(), 1u);
    EXPECT_EQ(text(groups.note.GetString(NoteOptions::kUnauthorizedList)), std::string(10240, 'n'));
}

TEST(SettingsGroups, IdsReachOnlyTheirOwnValues) {
    MemoryRegistry registry;
    Groups groups(registry);
    EXPECT_EQ(groups.general.GetInt(4), 0u);
    EXPECT_EQ(groups.away.GetInt(1), 0u);

    EXPECT_EQ(groups.general.SetString(8, "http://elsewhere/list"), 1u);
    EXPECT_EQ(text(groups.general.GetString(GeneralOptions::kServerListURL)), "http://elsewhere/list");

    groups.general.SetString(GeneralOptions::kUserName, "ann");
    EXPECT_EQ(groups.general.SetInt(GeneralOptions::kUserName, 5), 0u);
    EXPECT_EQ(text(groups.general.GetString(GeneralOptions::kUserName)), "ann");

    // Away mode lives in memory only: a save does not keep it.
    EXPECT_EQ(groups.away.SetInt(AwayOptions::kAwayMode, 1), 1u);
    EXPECT_EQ(groups.away.GetInt(AwayOptions::kAwayMode), 1u);
    EXPECT_EQ(groups.away.Save(), 1u);
    AwayOptions reloaded(registry);
    reloaded.SetKeyPath(kBase);
    EXPECT_EQ(reloaded.Load(), 1u);
    EXPECT_EQ(reloaded.GetInt(AwayOptions::kAwayMode), 0u);
}

TEST(SettingsGroups, KeyPathsAndResults) {
    RecordingRegistry registry;
    GeneralOptions general(registry);
    EXPECT_EQ(text(general.keyPath()), "");
    EXPECT_EQ(general.Load(), 0u);
    EXPECT_EQ(general.Save(), 0u);
    EXPECT_TRUE(registry.log.empty());
    EXPECT_EQ(general.SetKeyPath(""), 0u);
    EXPECT_EQ(general.SetKeyPath("\\\\"), 0u);
    EXPECT_EQ(text(general.keyPath()), "");
    EXPECT_EQ(general.SetKeyPath("\\\\Software\\Tarrow Systems\\\\Vellumpost\\"), 1u);
    EXPECT_EQ(text(general.keyPath()), "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions");

    // Without the machine hive the user values still load and save, but
    // the result says that not every key opened.
    putString(registry.inner, kUser, "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions", "UserName", "ann");
    registry.refuseMachine = true;
    general.SetString(GeneralOptions::kFindOthersURL, "kept");
    EXPECT_EQ(general.Load(), 0u);
    EXPECT_EQ(text(general.GetString(GeneralOptions::kUserName)), "ann");
    EXPECT_EQ(text(general.GetString(GeneralOptions::kFindOthersURL)), "kept");
    general.SetString(GeneralOptions::kUserName, "bob");
    EXPECT_EQ(general.Save(), 0u);
    RegistryKey key;
    ASSERT_EQ(registry.inner.openKey(kUser, "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions", key),
              RegistryResult::Success);
    char buffer[8];
    uint32_t type = 0;
    uint32_t count = 0;
    ASSERT_EQ(key.queryValue("UserName", type, buffer, sizeof buffer, count), RegistryResult::Success);
    EXPECT_EQ(std::string(buffer, count), "bob");

    SoundOptions sound(registry);
    sound.SetKeyPath(kBase);
    EXPECT_EQ(sound.Load(), 0u);
    AwayOptions away(registry);
    away.SetKeyPath(kBase);
    EXPECT_EQ(away.Load(), 1u);
}

// ---------------------------------------------------------------------------
// Strings in the real store: the system registry in the Windows build, the
// file store here.

TEST(SettingsGroups, ASavedStringComesBackWithItsLengthAndNoNul) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string root = "Software\\VellumpostTest-" + std::to_string(stamp);
    const std::string path = root + "\\GeneralOptions";
#ifdef _WIN32
    Registry& registry = platform::systemRegistry();
#else
    test::TempDir dir;
    platform::FileRegistry registry(dir.path("user.reg"), dir.path("machine.reg"));
#endif
    {
        GeneralOptions general(registry);
        ASSERT_EQ(general.SetKeyPath(root.c_str()), 1u);
        general.SetString(GeneralOptions::kUserName, "ann");
        general.SetString(GeneralOptions::kUserPassword, "");
        general.SetString(GeneralOptions::kReceiveFolder, "C:\\Received Files");
        EXPECT_EQ(general.Save(), 1u);

        RegistryKey key;
        ASSERT_EQ(registry.openKey(kUser, path.c_str(), key), RegistryResult::Success);
        char buffer[64];
        uint32_t type = 0;
        uint32_t count = 0;
        ASSERT_EQ(key.queryValue("UserName", type, buffer, sizeof buffer, count), RegistryResult::Success);
        EXPECT_EQ(type, platform::kRegString);
        EXPECT_EQ(count, 3u);
        EXPECT_EQ(std::string(buffer, count), "ann");
        ASSERT_EQ(key.queryValue("UserPassword", type, buffer, sizeof buffer, count), RegistryResult::Success);
        EXPECT_EQ(count, 0u);

        GeneralOptions reloaded(registry);
        reloaded.SetKeyPath(root.c_str());
        reloaded.SetString(GeneralOptions::kUserName, "something longer");
        reloaded.SetString(GeneralOptions::kUserPassword, "x");
        EXPECT_EQ(reloaded.Load(), 1u);
        EXPECT_EQ(reloaded.GetString(GeneralOptions::kUserName).length(), 3u);
        EXPECT_EQ(text(reloaded.GetString(GeneralOptions::kUserName)), "ann");
        EXPECT_EQ(reloaded.GetString(GeneralOptions::kUserPassword).length(), 0u);
        EXPECT_EQ(text(reloaded.GetString(GeneralOptions::kReceiveFolder)), "C:\\Received Files");
    }
#ifdef _WIN32
    EXPECT_EQ(registry.deleteKeyTree(kUser, root.c_str()), RegistryResult::Success);
    EXPECT_EQ(registry.deleteKeyTree(kMachine, root.c_str()), RegistryResult::Success);
#else
    // The file holds the name, the type, the length 3 and the three bytes,
    // and the next value (the empty password, length 0) follows at once.
    const std::string file = test::readBytes(dir.native() / "user.reg");
    static const char kRecords[] =
        "\x08\x00\x00\x00" "UserName" "\x01\x00\x00\x00" "\x03\x00\x00\x00" "ann"
        "\x0c\x00\x00\x00" "UserPassword" "\x01\x00\x00\x00" "\x00\x00\x00\x00";
    const std::string records = test::bytes(kRecords, sizeof kRecords - 1);
    EXPECT_NE(file.find(records), std::string::npos);
#endif
}

// ---------------------------------------------------------------------------

TEST(SettingsGroups, ConcurrentGetsSetsLoadsAndSavesStayWhole) {
    MemoryRegistry registry;
    GeneralOptions general(registry);
    general.SetKeyPath(kBase);
    constexpr int kThreads = 4;
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string mine(300, static_cast<char>('a' + t));
            for (int i = 0; i < 200; ++i) {
                general.SetString(GeneralOptions::kUserName, TextString(mine.data(), 300));
                general.SetInt(GeneralOptions::kInstalledVersion, static_cast<uint32_t>(t));
                const std::string seen = text(general.GetString(GeneralOptions::kUserName));
                // Whole: one thread's text, never a mix or a part.
                if (seen.size() != 300 || seen.find_first_not_of(seen[0]) != std::string::npos) ++torn;
                if (i % 40 == 0) {
                    general.Save();
                } else if (i % 20 == 0) {
                    general.Load();
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(torn, 0);
    EXPECT_LT(general.GetInt(GeneralOptions::kInstalledVersion), static_cast<uint32_t>(kThreads));
}

} // namespace
} // namespace vp
