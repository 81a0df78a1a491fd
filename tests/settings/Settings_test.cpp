#include "settings/AwayOptions.h"
#include "settings/GeneralOptions.h"
#include "settings/NoteOptions.h"
#include "settings/SoundOptions.h"

#include "platform/FileRegistry.h"
#include "platform/MemoryRegistry.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
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

// A store whose machine hive stays empty and takes no change, as for a user
// without the rights to write it.
class NoMachineHive final : public MemoryRegistry {
protected:
    void loadHive(RegistryHive hive, platform::RegistryTree& tree) override {
        if (hive == kMachine) tree.clear();
    }
    bool persistHive(RegistryHive hive, const platform::RegistryTree&) override { return hive != kMachine; }
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

// Every id a group answers to, as "id:number/text" in id order.
std::string contents(SettingsGroup& group) {
    std::string all;
    for (uint32_t id = 0; id < 32; ++id) {
        all += std::to_string(id) + ":" + std::to_string(group.GetInt(id)) + "/" + text(group.GetString(id)) + " ";
    }
    return all;
}

// Where each group's values are kept: the names in each hive's key (null: the
// group has no key there), which other versions read by these names.
struct StoredLayout {
    const char* name;
    const char* machineValues;
    const char* userValues;
};

const StoredLayout kLayouts[] = {
    {"GeneralOptions",
     "FindOthersURL SearchURL SignupURL HomeURL ServerListURL InstalledVersion PreviousVersion ProxyConnect",
     "UserName ServerName UserPassword ReceiveFolder RecentFolder AutoConnect ShowLogoBoxAtStartUp "
     "ShowConnectBoxAtStartUp SavePassword AddUserNameToContactListOnConnect PromptOnExit AlwaysOnTop "
     "PromptOnAutoSleep PromptOnAutoWakeup EnablePrivacy"},
    // The notes open the machine key for nothing but its existence.
    {"NoteOptions", "",
     "IncludeMsgInReply DeleteOnReply DeleteAfterSent PromptOnSent PromptOnDeletion PromptOnArrival ShowOnArrival "
     "AuthorizedNoteOnly NewNotesAvailable UnauthorizedList"},
    {"AwayOptions", nullptr,
     "AutoReplyMsg AutoReplyAllowAttachments AutoReplyWithCustomMsg AutoReplyWithInclude AutoReplyAndDelete"},
    {"SoundOptions",
     "ConnectedSound DisconnectedSound ContactConnectedSound ContactDisconnectedSound NoteArrivedSound NoteSentSound "
     "SystemMessageArrivedSound PlayOnConnected PlayOnDisconnected PlayOnContactConnected PlayOnContactDisconnected "
     "PlayOnNoteArrived PlayOnNoteSent PlayOnSystemMessageArrived",
     nullptr},
};

// Each value named in names is in key (which must exist) and not in other.
void expectValuesIn(const char* names, RegistryKey& key, RegistryKey& other) {
    std::istringstream words(names);
    uint32_t type = 0;
    uint32_t count = 0;
    for (std::string name; words >> name;) {
        EXPECT_EQ(key.queryValue(name.c_str(), type, nullptr, 0, count), RegistryResult::Success) << name;
        EXPECT_NE(other.queryValue(name.c_str(), type, nullptr, 0, count), RegistryResult::Success) << name;
    }
}

TEST(SettingsGroups, IdsKeepToTheirKindAndEverySavedValueLoadsBackFromItsHive) {
    MemoryRegistry registry;
    Groups groups(registry);
    std::vector<SettingsGroup*> all = groups.all();
    for (size_t g = 0; g < all.size(); ++g) {
        SettingsGroup& group = *all[g];
        const StoredLayout& layout = kLayouts[g];
        SCOPED_TRACE(layout.name);
        EXPECT_EQ(text(group.groupName()), layout.name);
        // A fresh store has nothing to give: every default stays.
        const std::string defaults = contents(group);
        EXPECT_EQ(group.Load(), 1u);
        EXPECT_EQ(contents(group), defaults);

        // An id is an integer, a string or neither; a refused set changes nothing.
        for (uint32_t id = 0; id < 32; ++id) {
            const std::string mine = "v" + std::to_string(id);
            const uint32_t isInteger = group.SetInt(id, 1000 + id);
            const uint32_t isString = group.SetString(id, mine.c_str());
            EXPECT_EQ(group.GetInt(id), isInteger ? 1000 + id : 0u) << id;
            EXPECT_EQ(text(group.GetString(id)), isString ? mine : "") << id;
        }
        const std::string changed = contents(group);

        EXPECT_EQ(group.Save(), 1u);
        const std::string path = std::string("Software\\Tarrow Systems\\Vellumpost\\") + layout.name;
        RegistryKey user;
        RegistryKey machine;
        EXPECT_EQ(registry.openKey(kUser, path.c_str(), user) == RegistryResult::Success, layout.userValues != nullptr);
        EXPECT_EQ(registry.openKey(kMachine, path.c_str(), machine) == RegistryResult::Success,
                  layout.machineValues != nullptr);
        if (layout.userValues) expectValuesIn(layout.userValues, user, machine);
        if (layout.machineValues) expectValuesIn(layout.machineValues, machine, user);

        EXPECT_EQ(group.SetDefaults(), 1u);
        EXPECT_EQ(contents(group), defaults);
        EXPECT_EQ(group.Load(), 1u);
        if (&group == &groups.away) {
            // Away mode lives in memory only: the save did not keep it.
            EXPECT_EQ(groups.away.GetInt(AwayOptions::kAwayMode), 0u);
            groups.away.SetInt(AwayOptions::kAwayMode, 1000 + AwayOptions::kAwayMode);
        }
        EXPECT_EQ(contents(group), changed);
        EXPECT_EQ(group.Reserved1(42) + group.Reserved2(42), 0u);
    }
    // The reply other users see while away.
    EXPECT_EQ(text(AwayOptions(registry).GetString(AwayOptions::kAutoReplyMsg)),
              "I'm not here right now,\r\nbut I've got your message.");
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
    options.SetString(GeneralOptions::kReceiveFolder, "C:\\old");

    putString(registry, kUser, general, "UserName", std::string(2000, 'u'));     // longer than its 1024
    putString(registry, kUser, general, "ServerName", std::string(1024, 's'));   // fits exactly
    putString(registry, kUser, general, "ReceiveFolder", "");                     // an empty text is a text
    putString(registry, kMachine, general, "HomeURL", std::string("http://h/\0\0", 11));  // as regedit writes it
    putString(registry, kUser, general, "AutoConnect", "1");                     // a string for a number
    putBytes(registry, general, "PromptOnExit", platform::kRegDword, "\x01\x00");  // 2 bytes
    putBytes(registry, general, "AlwaysOnTop", platform::kRegDword, std::string(8, '\x01'));
    putBytes(registry, general, "UserPassword", platform::kRegDword, std::string("\x01\x00\x00\x00", 4));
    putBytes(registry, general, "EnablePrivacy", platform::kRegDword, std::string("\x01\x00\x00\x00", 4));
    putBytes(registry, general, "RecentFolder", platform::kRegBinary, "C:\\x");  // the wrong type

    EXPECT_EQ(options.Load(), 1u);
    EXPECT_EQ(text(options.GetString(GeneralOptions::kUserName)), "keep");
    EXPECT_EQ(text(options.GetString(GeneralOptions::kServerName)), std::string(1024, 's'));
    EXPECT_EQ(text(options.GetString(GeneralOptions::kReceiveFolder)), "");
    EXPECT_EQ(text(options.GetString(GeneralOptions::kHomeURL)), "http://h/");
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

TEST(SettingsGroups, KeyPathsAndResults) {
    NoMachineHive registry;
    GeneralOptions general(registry);
    EXPECT_EQ(text(general.keyPath()), "");
    EXPECT_EQ(general.Load(), 0u);
    EXPECT_EQ(general.Save(), 0u);
    EXPECT_EQ(general.SetKeyPath(""), 0u);
    EXPECT_EQ(general.SetKeyPath("\\\\"), 0u);
    EXPECT_EQ(text(general.keyPath()), "");
    EXPECT_EQ(general.SetKeyPath("\\\\Software\\Tarrow Systems\\\\Vellumpost\\"), 1u);
    EXPECT_EQ(text(general.keyPath()), "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions");

    // Without the machine hive the user values still load and save, but
    // the result says that not every key opened.
    putString(registry, kUser, "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions", "UserName", "ann");
    general.SetString(GeneralOptions::kFindOthersURL, "kept");
    EXPECT_EQ(general.Load(), 0u);
    EXPECT_EQ(text(general.GetString(GeneralOptions::kUserName)), "ann");
    EXPECT_EQ(text(general.GetString(GeneralOptions::kFindOthersURL)), "kept");
    general.SetString(GeneralOptions::kUserName, "bob");
    EXPECT_EQ(general.Save(), 0u);
    RegistryKey key;
    ASSERT_EQ(registry.openKey(kUser, "Software\\Tarrow Systems\\Vellumpost\\GeneralOptions", key),
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

// A save used to write a hive out whole once per value it changed.
TEST(SettingsGroups, ASaveWritesEachChangedHiveOnceAndKeepsWhatAWriteRefused) {
    struct CountingStore final : MemoryRegistry {
        uint32_t writes = 0;
        bool persistHive(RegistryHive, const platform::RegistryTree&) override { return ++writes != 0; }
    } counting;
    GeneralOptions general(counting);
    general.SetKeyPath(kBase);
    general.Save();  // creates both keys
    counting.writes = 0;
    for (uint32_t id = 0; id < 32; ++id) general.SetInt(id, 7), general.SetString(id, "changed");
    EXPECT_EQ(general.Save(), 1u);
    EXPECT_EQ(counting.writes, 2u);

    // A refused write drops the batch's changes: the store reads back its file.
    test::TempDir dir;
    platform::FileRegistry files(dir.path("user.reg"), dir.path("machine.reg"));
    GeneralOptions stored(files);
    stored.SetKeyPath(kBase);
    stored.Save();
    std::filesystem::create_directory(dir.native() / "user.reg.tmp");
    stored.SetString(GeneralOptions::kUserName, "lost");
    EXPECT_EQ(stored.Save(), 1u);
    EXPECT_EQ(stored.Load(), 1u);
    EXPECT_EQ(text(stored.GetString(GeneralOptions::kUserName)), "");
}

} // namespace
} // namespace vp
