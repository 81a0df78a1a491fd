#pragma once
// The storage in one SQLite database file. Write-ahead log with a full
// sync at every commit, so that a change reported done survives a kill or
// a power loss; a busy time-out, so that the admin command and the running
// server can share the file. Every SQLite error is logged and reported as
// Failed (or an empty answer); nothing is thrown.

#include "storage/SqliteHandle.h"
#include "storage/Storage.h"

#include <chrono>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace vp::server {

class SqliteStorage final : public Storage {
public:
    // The schema this build writes; PRAGMA user_version holds the one a
    // database file has, and open() brings an older file up to it.
    static constexpr int kSchemaVersion = 1;

    // Opens (or creates, readable by its owner only) the database and
    // brings its schema up to date; nullptr (logged) when that fails or the
    // file was written by a newer server.
    static std::unique_ptr<SqliteStorage> open(const std::string& path,
                                               std::chrono::milliseconds busyTimeout = std::chrono::seconds(5));

    StorageResult addUser(std::string_view key, std::string_view passwordHash,
                          const AccountProfile& profile) override;
    StorageResult deleteUser(std::string_view key) override;
    StorageResult setPasswordHash(std::string_view key, std::string_view passwordHash) override;
    std::optional<std::string> passwordHash(std::string_view key) override;
    bool userExists(std::string_view key) override;
    std::vector<std::string> listUsers() override;
    std::vector<AccountEntry> searchableAccounts(const std::function<bool(const AccountEntry&)>& match,
                                                 std::size_t limit) override;

    StorageResult storeNote(std::string_view key, std::span<const uint8_t> block, uint64_t quotaBytes) override;
    std::vector<StoredNote> notesFor(std::string_view key, uint64_t maxBytes = UINT64_MAX) override;
    StorageResult deleteNotes(std::string_view key, std::span<const int64_t> ids) override;

private:
    explicit SqliteStorage(sqlite::Database database);

    bool prepare(std::initializer_list<std::pair<sqlite::Statement*, const char*>> statements);
    bool prepareTransactionStatements();
    bool prepareTableStatements();
    // Logs the connection's last error for the named operation.
    void logError(const char* what) const;
    bool execute(const char* sql, const char* what);
    // Statement run to completion; false (logged) on an error.
    bool runToEnd(sqlite::StatementUse& use, const char* what);

    std::mutex m_mutex;
    // The connection first: the statements are finalised before it closes.
    sqlite::Database m_database;
    sqlite::Statement m_begin;
    sqlite::Statement m_commit;
    sqlite::Statement m_rollback;
    sqlite::Statement m_insertAccount;
    sqlite::Statement m_deleteAccount;
    sqlite::Statement m_deleteAllNotes;
    sqlite::Statement m_updateHash;
    sqlite::Statement m_selectHash;
    sqlite::Statement m_selectKeys;
    sqlite::Statement m_selectSearchable;
    sqlite::Statement m_sumNoteSizes;
    sqlite::Statement m_insertNote;
    sqlite::Statement m_selectNotes;
    sqlite::Statement m_deleteNote;

    class WriteTransaction;
};

} // namespace vp::server
