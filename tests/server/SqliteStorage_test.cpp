#include "storage/PasswordHash.h"
#include "storage/SqliteStorage.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>

namespace vp::server {
namespace {

std::vector<uint8_t> block(std::string_view bytes) {
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<std::vector<uint8_t>> blocksOf(const std::vector<StoredNote>& notes) {
    std::vector<std::vector<uint8_t>> blocks;
    for (const StoredNote& note : notes) blocks.push_back(note.block);
    return blocks;
}

std::string pragma(const std::filesystem::path& file, const char* name) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, (std::string("PRAGMA ") + name).c_str(), -1, &statement, nullptr);
    std::string value;
    if (sqlite3_step(statement) == SQLITE_ROW) value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

TEST(SqliteStorage, AccountsAndTheirPasswordHashes) {
    test::TempDir dir;
    auto storage = SqliteStorage::open((dir.native() / "accounts.db").string());
    ASSERT_TRUE(storage);

    const auto hash = hashPassword("open sesame");
    ASSERT_TRUE(hash);
    EXPECT_EQ(hash->find("open sesame"), std::string::npos);
    EXPECT_NE(*hash, *hashPassword("open sesame")) << "every hash has its own salt";

    EXPECT_EQ(storage->addUser("ann", *hash, {}), StorageResult::Done);
    EXPECT_EQ(storage->addUser("ann", "other", {}), StorageResult::Exists);
    // The key's case is the caller's: the storage compares bytes.
    EXPECT_EQ(storage->addUser("Ann", "x", {}), StorageResult::Done);
    EXPECT_TRUE(storage->userExists("ann"));
    EXPECT_FALSE(storage->userExists("bob"));
    EXPECT_EQ(storage->listUsers(), (std::vector<std::string>{"Ann", "ann"}));

    const auto stored = storage->passwordHash("ann");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(verifyPassword(*stored, "open sesame"));
    EXPECT_FALSE(verifyPassword(*stored, "open sesamE"));
    EXPECT_FALSE(verifyPassword("not a hash", "open sesame"));
    EXPECT_FALSE(storage->passwordHash("bob"));

    EXPECT_EQ(storage->setPasswordHash("bob", "x"), StorageResult::NotFound);
    EXPECT_EQ(storage->deleteUser("bob"), StorageResult::NotFound);
    EXPECT_EQ(storage->deleteUser("Ann"), StorageResult::Done);
    EXPECT_EQ(storage->listUsers(), (std::vector<std::string>{"ann"}));
}

TEST(SqliteStorage, NotesKeepTheirOrderQuotaAndOwner) {
    test::TempDir dir;
    const std::string file = (dir.native() / "notes.db").string();
    auto storage = SqliteStorage::open(file);
    ASSERT_TRUE(storage);
    ASSERT_EQ(storage->addUser("ann", "h", {}), StorageResult::Done);
    ASSERT_EQ(storage->addUser("bob", "h", {}), StorageResult::Done);

    const auto first = block(std::string_view("\x00\x01\xFF\x7F", 4));
    EXPECT_EQ(storage->storeNote("ann", first, 10), StorageResult::Done);
    EXPECT_EQ(storage->storeNote("ann", block("second"), 10), StorageResult::Done); // exactly at the quota
    EXPECT_EQ(storage->storeNote("ann", block("x"), 10), StorageResult::OverQuota);
    EXPECT_EQ(storage->storeNote("ann", {}, 10), StorageResult::Done);
    EXPECT_EQ(storage->storeNote("carl", block("x"), 10), StorageResult::NotFound);
    EXPECT_EQ(storage->storeNote("bob", block("bob's"), 10), StorageResult::Done);

    const auto listed = storage->notesFor("ann");
    EXPECT_EQ(blocksOf(listed), (std::vector<std::vector<uint8_t>>{first, block("second"), {}}));

    // A note left while the listed ones were being delivered stays, and so
    // does the other user's note whose id was slipped into the list.
    ASSERT_EQ(storage->storeNote("ann", block("late"), 100), StorageResult::Done);
    std::vector<int64_t> ids;
    for (const StoredNote& note : listed) ids.push_back(note.id);
    ids.push_back(storage->notesFor("bob").at(0).id);
    EXPECT_EQ(storage->deleteNotes("ann", ids), StorageResult::Done);

    storage.reset();
    storage = SqliteStorage::open(file);
    ASSERT_TRUE(storage);
    EXPECT_EQ(blocksOf(storage->notesFor("ann")), (std::vector<std::vector<uint8_t>>{block("late")}));
    EXPECT_EQ(blocksOf(storage->notesFor("bob")), (std::vector<std::vector<uint8_t>>{block("bob's")}));
    // A second delivery of ids already deleted must not hit a note left
    // since, even where the newest note's id came free.
    const std::vector<int64_t> lateIds = {storage->notesFor("ann").at(0).id};
    ASSERT_EQ(storage->deleteNotes("ann", lateIds), StorageResult::Done);
    ASSERT_EQ(storage->storeNote("ann", block("later"), 100), StorageResult::Done);
    ASSERT_EQ(storage->deleteNotes("ann", lateIds), StorageResult::Done);
    EXPECT_EQ(blocksOf(storage->notesFor("ann")), (std::vector<std::vector<uint8_t>>{block("later")}));
    EXPECT_EQ(pragma(file, "journal_mode"), "wal");
    EXPECT_EQ(pragma(file, "user_version"), "1");

    // A removed user takes its notes along, and a new account of the same
    // name starts with none.
    EXPECT_EQ(storage->deleteUser("ann"), StorageResult::Done);
    ASSERT_EQ(storage->addUser("ann", "h", {}), StorageResult::Done);
    EXPECT_TRUE(storage->notesFor("ann").empty());
}

TEST(SqliteStorage, NotesStoredFromManyThreadsAreAllKept) {
    test::TempDir dir;
    auto storage = SqliteStorage::open((dir.native() / "threads.db").string());
    ASSERT_TRUE(storage);
    ASSERT_EQ(storage->addUser("ann", "h", {}), StorageResult::Done);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&storage] {
            for (int i = 0; i < 25; ++i) EXPECT_EQ(storage->storeNote("ann", block("note"), 1000), StorageResult::Done);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(storage->notesFor("ann").size(), 100u);
}

TEST(SqliteStorage, RefusesFilesItCannotUse) {
    test::TempDir dir;
    test::writeBytes(dir.native() / "garbage.db", std::string(4096, 'x'));
    EXPECT_FALSE(SqliteStorage::open((dir.native() / "garbage.db").string()));
    EXPECT_FALSE(SqliteStorage::open((dir.native() / "no-such-folder" / "a.db").string()));

    const std::string newer = (dir.native() / "newer.db").string();
    ASSERT_TRUE(SqliteStorage::open(newer));
    sqlite3* db = nullptr;
    sqlite3_open(newer.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version=2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_FALSE(SqliteStorage::open(newer)) << "a file of a newer schema is left alone";
}

} // namespace
} // namespace vp::server
