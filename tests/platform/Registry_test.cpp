#include "platform/FileRegistry.h"
#include "platform/MemoryRegistry.h"
#include "platform/Registry.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vp::platform {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

constexpr RegistryHive kUser = RegistryHive::CurrentUser;
constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

// A key path of its own for each test, so that runs against the system
// registry never meet each other's keys.
std::string uniqueTestRoot() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return "Software\\VellumpostTest-" + std::to_string(stamp) + "-" + std::to_string(counter++);
}

std::string queryText(RegistryKey& key, const char* name, uint32_t& type) {
    char buffer[256];
    uint32_t count = 0;
    if (key.queryValue(name, type, buffer, sizeof buffer, count) != RegistryResult::Success) return "<none>";
    return std::string(buffer, count);
}

// ---------------------------------------------------------------------------
// The same behaviour from every store: the memory store, the file store and,
// in the Windows build, the system registry itself.

enum class StoreKind { Memory, File, System };

class RegistryStores : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        switch (GetParam()) {
        case StoreKind::Memory: m_owned = std::make_unique<MemoryRegistry>(); break;
        case StoreKind::File:
            m_owned = std::make_unique<FileRegistry>(m_dir.path("user.reg"), m_dir.path("machine.reg"));
            break;
        case StoreKind::System: break;
        }
    }

    void TearDown() override {
        store().deleteKeyTree(kUser, m_root.c_str());
        store().deleteKeyTree(kMachine, m_root.c_str());
    }

    Registry& store() { return m_owned ? *m_owned : systemRegistry(); }
    std::string path(const std::string& below) const { return m_root + "\\" + below; }

    TempDir m_dir;
    std::unique_ptr<Registry> m_owned;
    const std::string m_root = uniqueTestRoot();
};

// The system registry stored a NUL after a text whose next byte in memory
// happened to be one (every literal's and every TextString's is), so texts
// came back a byte longer than they were saved.
TEST_P(RegistryStores, ValuesComeBackWithTheirTypeAndExactBytes) {
    RegistryKey key;
    ASSERT_EQ(store().createKey(kUser, ("\\" + path("Group\\\\Leaf") + "\\").c_str(), key), RegistryResult::Success);
    ASSERT_TRUE(key.isOpen());
    const struct {
        const char* name;
        uint32_t type;
        std::string bytes;
    } values[] = {
        {"Text", kRegString, "hello"},  // exactly the 5 bytes given: no NUL added
        {"Counted", kRegString, std::string("ann\0", 4)},  // a text saved with its NUL keeps it
        {"Number", kRegDword, std::string("\x78\x56\x34\x12", 4)},
        {"Blob", kRegBinary, std::string("a\0b\0\xff", 5)},
        {"Lines", kRegMultiString, std::string("one\0two\0\0", 9)},
        {"Empty", kRegString, ""},
    };
    for (const auto& each : values) {
        const auto size = static_cast<uint32_t>(each.bytes.size());
        EXPECT_EQ(key.setValue(each.name, each.type, each.bytes.c_str(), size), RegistryResult::Success);
    }
    for (const auto& each : values) {
        uint32_t type = 0;
        EXPECT_EQ(queryText(key, each.name, type), each.bytes) << each.name;
        EXPECT_EQ(type, each.type) << each.name;
    }

    // Too small a buffer: MoreData with the size needed; no buffer: the size.
    char small[4];
    uint32_t type = 0;
    uint32_t count = 0;
    EXPECT_EQ(key.queryValue("Text", type, small, sizeof small, count), RegistryResult::MoreData);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(key.queryValue("Text", type, nullptr, 0, count), RegistryResult::Success);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(key.queryValue("Missing", type, small, sizeof small, count), RegistryResult::NotFound);

    // Overwriting replaces type and data; a deleted value is gone.
    EXPECT_EQ(key.setValue("Text", kRegDword, "\x78\x56", 2), RegistryResult::Success);
    EXPECT_EQ(queryText(key, "Text", type), std::string("\x78\x56", 2));
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(key.deleteValue("Text"), RegistryResult::Success);
    EXPECT_EQ(queryText(key, "Text", type), "<none>");
    EXPECT_EQ(key.deleteValue("Text"), RegistryResult::NotFound);

    // The parents were created on the way.
    RegistryKey parent;
    EXPECT_EQ(store().openKey(kUser, path("Group").c_str(), parent), RegistryResult::Success);

    // A closed key refuses everything.
    key.close();
    EXPECT_EQ(key.setValue("Text", kRegString, "x", 1), RegistryResult::Failed);
    EXPECT_EQ(key.queryValue("Lines", type, small, sizeof small, count), RegistryResult::Failed);
}

TEST_P(RegistryStores, OpeningForReadingNeedsTheKeyAndRefusesWrites) {
    RegistryKey key;
    EXPECT_EQ(store().openKey(kUser, path("Absent").c_str(), key), RegistryResult::NotFound);
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(store().createKey(kUser, "", key), RegistryResult::Failed);
    EXPECT_EQ(store().createKey(kUser, "\\\\", key), RegistryResult::Failed);

    RegistryKey writer;
    ASSERT_EQ(store().createKey(kUser, path("Present").c_str(), writer), RegistryResult::Success);
    ASSERT_EQ(writer.setValue("Name", kRegString, "ann", 3), RegistryResult::Success);

    RegistryKey reader;
    ASSERT_EQ(store().openKey(kUser, path("Present").c_str(), reader), RegistryResult::Success);
    uint32_t type = 0;
    EXPECT_EQ(queryText(reader, "Name", type), "ann");
    EXPECT_EQ(reader.setValue("Name", kRegString, "bob", 3), RegistryResult::AccessDenied);
    EXPECT_EQ(reader.deleteValue("Name"), RegistryResult::AccessDenied);
    EXPECT_EQ(queryText(writer, "Name", type), "ann");

    // A moved key hands its handle over.
    RegistryKey moved = std::move(reader);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(queryText(moved, "Name", type), "ann");
}

TEST_P(RegistryStores, KeyPathsAndValueNamesIgnoreCase) {
    RegistryKey key;
    ASSERT_EQ(store().createKey(kUser, path("Tarrow\\Options").c_str(), key), RegistryResult::Success);
    ASSERT_EQ(key.setValue("UserName", kRegString, "ann", 3), RegistryResult::Success);

    RegistryKey other;
    std::string shouted = path("TARROW\\options");
    ASSERT_EQ(store().openKey(kUser, shouted.c_str(), other), RegistryResult::Success);
    uint32_t type = 0;
    EXPECT_EQ(queryText(other, "USERNAME", type), "ann");

    // Another case names the same value: it is replaced, not added.
    RegistryKey writer;
    ASSERT_EQ(store().createKey(kUser, shouted.c_str(), writer), RegistryResult::Success);
    EXPECT_EQ(writer.setValue("username", kRegString, "bob", 3), RegistryResult::Success);
    EXPECT_EQ(queryText(key, "UserName", type), "bob");
    EXPECT_EQ(writer.deleteValue("USERNAME"), RegistryResult::Success);
    EXPECT_EQ(queryText(key, "UserName", type), "<none>");
}

TEST_P(RegistryStores, HivesAreSeparateAndTreesDeleteWhole) {
    RegistryKey user;
    ASSERT_EQ(store().createKey(kUser, path("A\\B\\C").c_str(), user), RegistryResult::Success);
    ASSERT_EQ(user.setValue("Where", kRegString, "user", 4), RegistryResult::Success);
    user.close();

    RegistryKey machine;
    EXPECT_EQ(store().openKey(kMachine, path("A\\B\\C").c_str(), machine), RegistryResult::NotFound);
    ASSERT_EQ(store().createKey(kMachine, path("A\\B\\C").c_str(), machine), RegistryResult::Success);
    uint32_t type = 0;
    EXPECT_EQ(queryText(machine, "Where", type), "<none>");
    machine.close();

    EXPECT_EQ(store().deleteKeyTree(kUser, path("A").c_str()), RegistryResult::Success);
    RegistryKey gone;
    EXPECT_EQ(store().openKey(kUser, path("A\\B\\C").c_str(), gone), RegistryResult::NotFound);
    EXPECT_EQ(store().openKey(kUser, path("A").c_str(), gone), RegistryResult::NotFound);
    EXPECT_EQ(store().deleteKeyTree(kUser, path("A").c_str()), RegistryResult::NotFound);
    EXPECT_EQ(store().openKey(kMachine, path("A\\B\\C").c_str(), gone), RegistryResult::Success);
    // A path that names no key below the hive would take the whole hive.
    EXPECT_EQ(store().deleteKeyTree(kUser, "\\"), RegistryResult::Failed);
}

std::vector<StoreKind> storeKinds() {
#ifdef _WIN32
    return {StoreKind::Memory, StoreKind::File, StoreKind::System};
#else
    // Here the system store is the file store in the user's own folder, which
    // a test must not touch; it is the File case in a temporary folder.
    return {StoreKind::Memory, StoreKind::File};
#endif
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryStores, ::testing::ValuesIn(storeKinds()),
                         [](const ::testing::TestParamInfo<StoreKind>& kind) {
                             return std::string(kind.param == StoreKind::Memory ? "Memory"
                                                : kind.param == StoreKind::File ? "File"
                                                                                : "System");
                         });

// ---------------------------------------------------------------------------
// The file store: its bytes, its saves and its damaged files.

// CRC-32 as zip computes it, bit by bit, to seal hand-made files.
uint32_t crc32Of(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

constexpr auto u32 = test::le32;

std::string counted(const std::string& text) { return u32(static_cast<uint32_t>(text.size())) + text; }

std::string sealed(const std::string& body) { return body + u32(crc32Of(body)); }

const std::string kMagicLine = "Vellumpost registry hive 1\n";

bool decodes(const std::string& bytes) {
    RegistryTree tree;
    return decodeHive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), tree);
}

class FileRegistryTest : public ::testing::Test {
protected:
    std::unique_ptr<FileRegistry> open() {
        return std::make_unique<FileRegistry>(m_dir.path("user.reg"), m_dir.path("machine.reg"));
    }
    std::filesystem::path native(const char* name) const { return m_dir.native() / name; }

    TempDir m_dir;
};

TEST_F(FileRegistryTest, WritesTheLiteralLayoutAndReadsItBack) {
    {
        auto store = open();
        RegistryKey key;
        ASSERT_EQ(store->createKey(kUser, "Software\\Vp", key), RegistryResult::Success);
        ASSERT_EQ(key.setValue("Z", kRegDword, "\x05\x00\x00\x00", 4), RegistryResult::Success);
        ASSERT_EQ(key.setValue("UserName", kRegString, "ann", 3), RegistryResult::Success);
    }
    // Parents first, values in name order, the string's 3 bytes and no NUL.
    const std::string expected = test::bytes(
        "Vellumpost registry hive 1\n"
        "\x02\x00\x00\x00"
        "\x08\x00\x00\x00" "Software" "\x00\x00\x00\x00"
        "\x0b\x00\x00\x00" "Software\\Vp" "\x02\x00\x00\x00"
        "\x08\x00\x00\x00" "UserName" "\x01\x00\x00\x00" "\x03\x00\x00\x00" "ann"
        "\x01\x00\x00\x00" "Z" "\x04\x00\x00\x00" "\x04\x00\x00\x00" "\x05\x00\x00\x00"
        "\x0a\x4a\x28\xad",
        110);
    EXPECT_EQ(readBytes(native("user.reg")), expected);
    // Nothing was written to the machine hive, so it has no file.
    EXPECT_FALSE(std::filesystem::exists(native("machine.reg")));
    EXPECT_FALSE(std::filesystem::exists(native("user.reg.tmp")));

    auto reopened = open();
    RegistryKey key;
    ASSERT_EQ(reopened->openKey(kUser, "SOFTWARE\\VP", key), RegistryResult::Success);
    uint32_t type = 0;
    EXPECT_EQ(queryText(key, "username", type), "ann");
    EXPECT_EQ(type, kRegString);
    EXPECT_EQ(queryText(key, "Z", type), std::string("\x05\x00\x00\x00", 4));
    RegistryKey empty;
    EXPECT_EQ(reopened->openKey(kUser, "Software", empty), RegistryResult::Success);
}

TEST_F(FileRegistryTest, ValuesSetToWhatTheyHoldAreNotWrittenAgain) {
    // A settings save sets every value of its group; only real changes may
    // cost a rewrite of the hive file. The file is removed behind the store's
    // back to see whether it is written again.
    auto store = open();
    RegistryKey key;
    ASSERT_EQ(store->createKey(kUser, "Software\\Vp", key), RegistryResult::Success);
    ASSERT_EQ(key.setValue("Name", kRegString, "ann", 3), RegistryResult::Success);
    std::filesystem::remove(native("user.reg"));
    EXPECT_EQ(key.setValue("Name", kRegString, "ann", 3), RegistryResult::Success);
    EXPECT_FALSE(std::filesystem::exists(native("user.reg")));
    // Another type is a change, and so are other bytes.
    EXPECT_EQ(key.setValue("Name", kRegBinary, "ann", 3), RegistryResult::Success);
    EXPECT_TRUE(std::filesystem::exists(native("user.reg")));
    std::filesystem::remove(native("user.reg"));
    EXPECT_EQ(key.setValue("Name", kRegBinary, "anne", 4), RegistryResult::Success);
    EXPECT_TRUE(std::filesystem::exists(native("user.reg")));
}

TEST_F(FileRegistryTest, AFailedSaveLeavesTheOldFileWhole) {
    {
        auto store = open();
        RegistryKey key;
        ASSERT_EQ(store->createKey(kMachine, "Software\\Vp", key), RegistryResult::Success);
        ASSERT_EQ(key.setValue("Kept", kRegString, "old", 3), RegistryResult::Success);
    }
    const std::string before = readBytes(native("machine.reg"));

    // A directory where the temporary file goes makes every save fail, as a
    // full disk or a crash half-way would.
    std::filesystem::create_directory(native("machine.reg.tmp"));
    auto store = open();
    RegistryKey key;
    ASSERT_EQ(store->createKey(kMachine, "Software\\Vp", key), RegistryResult::Success);
    EXPECT_EQ(key.setValue("Kept", kRegString, "new", 3), RegistryResult::Failed);
    RegistryKey fresh;
    EXPECT_EQ(store->createKey(kMachine, "Software\\Other", fresh), RegistryResult::Failed);
    EXPECT_EQ(readBytes(native("machine.reg")), before);
    // The store went back to what the file holds.
    uint32_t type = 0;
    EXPECT_EQ(queryText(key, "Kept", type), "old");
    EXPECT_EQ(store->openKey(kMachine, "Software\\Other", fresh), RegistryResult::NotFound);
    {
        auto other = open();
        RegistryKey check;
        ASSERT_EQ(other->openKey(kMachine, "Software\\Vp", check), RegistryResult::Success);
        EXPECT_EQ(queryText(check, "Kept", type), "old");
    }

    // A leftover temporary file (a crash after writing it) is simply replaced.
    std::filesystem::remove(native("machine.reg.tmp"));
    writeBytes(native("machine.reg.tmp"), "half a hive");
    EXPECT_EQ(key.setValue("Kept", kRegString, "new", 3), RegistryResult::Success);
    EXPECT_FALSE(std::filesystem::exists(native("machine.reg.tmp")));
    RegistryKey reread;
    auto reopened = open();
    ASSERT_EQ(reopened->openKey(kMachine, "Software\\Vp", reread), RegistryResult::Success);
    EXPECT_EQ(queryText(reread, "Kept", type), "new");
}

TEST_F(FileRegistryTest, ADamagedFileReadsEmptyAndIsKeptAside) {
    std::string whole;
    {
        auto store = open();
        RegistryKey key;
        ASSERT_EQ(store->createKey(kUser, "Software\\Vp", key), RegistryResult::Success);
        ASSERT_EQ(key.setValue("UserName", kRegString, "ann", 3), RegistryResult::Success);
        whole = readBytes(native("user.reg"));
    }
    // Every way decoding refuses a file is the decoding test's; here the
    // store's answer to a refused file.
    for (const std::string& bytes : {whole.substr(0, whole.size() - 1), whole + "x"}) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        std::filesystem::remove(native("user.reg.bad"));
        writeBytes(native("user.reg"), bytes);
        auto store = open();
        RegistryKey key;
        EXPECT_EQ(store->openKey(kUser, "Software\\Vp", key), RegistryResult::NotFound);
        // Reading alone changes nothing on disk.
        EXPECT_EQ(readBytes(native("user.reg")), bytes);
        EXPECT_FALSE(std::filesystem::exists(native("user.reg.bad")));

        // The first change keeps the damaged file aside, then saves.
        ASSERT_EQ(store->createKey(kUser, "Software\\New", key), RegistryResult::Success);
        EXPECT_EQ(readBytes(native("user.reg.bad")), bytes);
        auto reopened = open();
        RegistryKey reread;
        EXPECT_EQ(reopened->openKey(kUser, "Software\\New", reread), RegistryResult::Success);
    }
}

TEST_F(FileRegistryTest, DecodingChecksEveryLengthAndRecord) {
    RegistryTree tree;
    bool created = false;
    ASSERT_EQ(tree.createKey("Software\\Vp", created), RegistryResult::Success);
    ASSERT_EQ(tree.setValue("Software\\Vp", "List", kRegString, "a\r\nb", 4), RegistryResult::Success);
    ASSERT_EQ(tree.setValue("Software\\Vp", "On", kRegDword, "\x01\x00\x00\x00", 4), RegistryResult::Success);
    const std::string whole = encodeHive(tree);
    EXPECT_TRUE(decodes(whole));
    // Every shorter file, and every single changed byte, is refused whole.
    for (size_t size = 0; size < whole.size(); ++size) EXPECT_FALSE(decodes(whole.substr(0, size))) << size;
    for (size_t at = 0; at < whole.size(); ++at) {
        std::string changed = whole;
        changed[at] ^= 0x01;
        EXPECT_FALSE(decodes(changed)) << at;
    }

    // Files whose CRC is right but whose content was not written by us:
    // lengths and counts beyond what the file holds are refused before
    // anything is allocated for them.
    const std::string key = counted("Software");
    const std::string huge = u32(0xFFFFFFF0u);
    const std::string cases[] = {
        kMagicLine + u32(0x7FFFFFFF) + key + u32(0),                                  // key count
        kMagicLine + u32(1) + huge + "Software" + u32(0),                             // path length
        kMagicLine + u32(1) + key + u32(0x7FFFFFFF),                                  // value count
        kMagicLine + u32(1) + key + u32(1) + huge + "N" + u32(1) + counted("x"),      // name length
        kMagicLine + u32(1) + key + u32(1) + counted("N") + u32(1) + huge + "x",      // data length
        kMagicLine + u32(2) + key + u32(0) + counted("SOFTWARE") + u32(0),            // a key twice
        kMagicLine + u32(2) + counted("A\\B") + u32(0) + counted("A") + u32(0),       // child before parent
        kMagicLine + u32(1) + counted("\\Software") + u32(0),                         // not normalized
        kMagicLine + u32(1) + counted(std::string("Soft\0ware", 9)) + u32(0),         // a NUL in a name
        kMagicLine + u32(1) + key + u32(2) + counted("N") + u32(1) + counted("x") + counted("n") + u32(1) +
            counted("y"),                                                             // a value twice
        kMagicLine + u32(2) + key + u32(0),                                           // fewer keys than counted
        "Vellumpost registry hive 2\n" + u32(1) + key + u32(0),                       // another format
    };
    for (const std::string& body : cases) EXPECT_FALSE(decodes(sealed(body))) << ::testing::PrintToString(body);
    // The same shape, well formed, is accepted: the cases above fail for
    // the reason given.
    EXPECT_TRUE(decodes(sealed(kMagicLine + u32(2) + key + u32(0) + counted("Software\\X") + u32(1) + counted("N") +
                               u32(1) + counted("x"))));
}

TEST_F(FileRegistryTest, ConcurrentWritersAllReachTheFile) {
    // Four threads write eight values each; every one is in the file.
    const auto name = [](int value) { return "v" + std::to_string(value); };
    {
        auto store = open();
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&store, &name, t] {
                RegistryKey key;
                ASSERT_EQ(store->createKey(kUser, "Software\\Vp", key), RegistryResult::Success);
                for (int i = t * 8; i < t * 8 + 8; ++i) {
                    const std::string value = name(i);
                    EXPECT_EQ(key.setValue(value.c_str(), kRegString, value.data(), static_cast<uint32_t>(value.size())),
                              RegistryResult::Success);
                }
            });
        }
        for (auto& thread : threads) thread.join();
    }
    auto reopened = open();
    RegistryKey key;
    ASSERT_EQ(reopened->openKey(kUser, "Software\\Vp", key), RegistryResult::Success);
    uint32_t type = 0;
    for (int i = 0; i < 32; ++i) EXPECT_EQ(queryText(key, name(i).c_str(), type), name(i));
}

} // namespace
} // namespace vp::platform
