#include "storage/SqliteStorage.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

namespace vp::server {

namespace {

// Version 1: the accounts with their profile, and the notes left for them.
// AUTOINCREMENT keeps a note id from ever being given twice, so a delivery
// that deletes the ids it listed can never hit a note left after it.
constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE accounts (
    key           TEXT PRIMARY KEY NOT NULL,
    password_hash TEXT NOT NULL,
    first_name    TEXT NOT NULL DEFAULT '',
    last_name     TEXT NOT NULL DEFAULT '',
    email         TEXT NOT NULL DEFAULT '',
    comment       TEXT NOT NULL DEFAULT '',
    interests     TEXT NOT NULL DEFAULT '',
    languages     TEXT NOT NULL DEFAULT '',
    city          TEXT NOT NULL DEFAULT '',
    state         TEXT NOT NULL DEFAULT '',
    country       TEXT NOT NULL DEFAULT '',
    home_page     TEXT NOT NULL DEFAULT '',
    show_flags    TEXT NOT NULL DEFAULT '',
    created       INTEGER NOT NULL
) WITHOUT ROWID;
CREATE TABLE notes (
    id       INTEGER PRIMARY KEY AUTOINCREMENT,
    user_key TEXT NOT NULL REFERENCES accounts(key),
    block    BLOB NOT NULL,
    size     INTEGER NOT NULL,
    created  INTEGER NOT NULL
);
CREATE INDEX notes_by_user ON notes(user_key, id);
)sql";

int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The database holds password hashes: a new file is made readable by its
// owner alone before SQLite opens it (the log files take its mode).
void createPrivately(const std::string& path) {
    // An empty name and ":memory:" are SQLite's own databases, not files.
    if (path.empty() || path == ":memory:")
        return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

class SqliteStorage::WriteTransaction {
public:
    // IMMEDIATE takes the write lock at the start, so the checks made inside
    // the transaction still hold when it commits.
    explicit WriteTransaction(SqliteStorage& storage) : m_storage(storage) {
        sqlite::StatementUse begin(storage.m_begin);
        m_open = storage.runToEnd(begin, "begin a transaction");
    }
    ~WriteTransaction() {
        if (m_open) {
            sqlite::StatementUse rollback(m_storage.m_rollback);
            m_storage.runToEnd(rollback, "roll back");
        }
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool open() const { return m_open; }
    bool commit() {
        sqlite::StatementUse commit(m_storage.m_commit);
        if (!m_storage.runToEnd(commit, "commit"))
            return false; // the destructor rolls back what is left
        m_open = false;
        return true;
    }

private:
    SqliteStorage& m_storage;
    bool m_open = false;
};

std::unique_ptr<SqliteStorage> SqliteStorage::open(const std::string& path, std::chrono::milliseconds busyTimeout) {
    createPrivately(path);
    sqlite3* handle = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &handle,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite::Database database(handle); // owns the handle even when the open failed
    if (opened != SQLITE_OK) {
        spdlog::error("storage: cannot open the database {}: {}", path, database.errorText());
        return nullptr;
    }
    sqlite3_extended_result_codes(handle, 1);
    sqlite3_busy_timeout(handle, static_cast<int>(busyTimeout.count()));

    std::unique_ptr<SqliteStorage> storage(new SqliteStorage(std::move(database)));
    // WAL lets the admin command write while the server reads; FULL syncs
    // the log at every commit, which is what makes a stored note durable.
    sqlite::Statement journalMode;
    if (!storage->prepare({{&journalMode, "PRAGMA journal_mode=WAL"}}))
        return nullptr;
    {
        sqlite::StatementUse use(journalMode);
        if (use.step() != SQLITE_ROW) {
            storage->logError("set up the write-ahead log");
            return nullptr;
        }
        // A file system without shared memory keeps the old journal: the
        // data is as safe, but the admin command waits for the server.
        if (use.columnText(0) != "wal")
            spdlog::warn("storage: {} keeps the {} journal, not a write-ahead log", path, use.columnText(0));
    }
    if (!storage->execute("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;", "set up the connection") ||
        !storage->prepareTransactionStatements())
        return nullptr;

    WriteTransaction transaction(*storage);
    if (!transaction.open())
        return nullptr;
    sqlite::Statement versionQuery;
    if (!storage->prepare({{&versionQuery, "PRAGMA user_version"}}))
        return nullptr;
    int64_t version = 0;
    {
        sqlite::StatementUse use(versionQuery);
        if (use.step() != SQLITE_ROW) {
            storage->logError("read the schema version");
            return nullptr;
        }
        version = use.columnInt(0);
    }
    if (version > kSchemaVersion) {
        spdlog::error("storage: the database {} has schema version {}, newer than this server's {}; "
                      "run the newer server or restore a backup",
                      path, version, kSchemaVersion);
        return nullptr;
    }
    // Each step of the migration runs in this one transaction, so a file is
    // either wholly at the new version or untouched.
    if (version < 1 && !storage->execute(kSchemaV1, "create the schema"))
        return nullptr;
    if (version < kSchemaVersion &&
        !storage->execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(), "set the schema version"))
        return nullptr;
    if (!transaction.commit())
        return nullptr;
    if (version < kSchemaVersion)
        spdlog::info("storage: {} brought from schema version {} to {}", path, version, kSchemaVersion);
    if (!storage->prepareTableStatements())
        return nullptr;
    return storage;
}

SqliteStorage::SqliteStorage(sqlite::Database database) : m_database(std::move(database)) {}

bool SqliteStorage::prepare(std::initializer_list<std::pair<sqlite::Statement*, const char*>> statements) {
    for (const auto& [statement, sql] : statements) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(m_database.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
            logError("prepare a statement");
            return false;
        }
        *statement = sqlite::Statement(raw);
    }
    return true;
}

bool SqliteStorage::prepareTransactionStatements() {
    return prepare({{&m_begin, "BEGIN IMMEDIATE"}, {&m_commit, "COMMIT"}, {&m_rollback, "ROLLBACK"}});
}

// Prepared once the schema is in place, because they name its tables.
bool SqliteStorage::prepareTableStatements() {
    return prepare({
        {&m_insertAccount,
         "INSERT INTO accounts (key, password_hash, first_name, last_name, email, comment, interests, languages,"
         " city, state, country, home_page, show_flags, created) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"},
        {&m_deleteAccount, "DELETE FROM accounts WHERE key = ?"},
        {&m_deleteAllNotes, "DELETE FROM notes WHERE user_key = ?"},
        {&m_updateHash, "UPDATE accounts SET password_hash = ? WHERE key = ?"},
        {&m_selectHash, "SELECT password_hash FROM accounts WHERE key = ?"},
        {&m_selectKeys, "SELECT key FROM accounts ORDER BY key"},
        {&m_selectSearchable,
         "SELECT key, first_name, last_name, email, comment, interests, languages, city, state, country, home_page,"
         " show_flags FROM accounts WHERE substr(show_flags, 1, 1) = '1' ORDER BY key"},
        {&m_sumNoteSizes, "SELECT COALESCE(SUM(size), 0) FROM notes WHERE user_key = ?"},
        {&m_insertNote, "INSERT INTO notes (user_key, block, size, created) VALUES (?,?,?,?)"},
        {&m_selectNotes, "SELECT id, size, block FROM notes WHERE user_key = ? ORDER BY id"},
        {&m_deleteNote, "DELETE FROM notes WHERE id = ? AND user_key = ?"},
    });
}

void SqliteStorage::logError(const char* what) const {
    spdlog::error("storage: cannot {}: {}", what, m_database.errorText());
}

bool SqliteStorage::execute(const char* sql, const char* what) {
    char* message = nullptr;
    if (sqlite3_exec(m_database.get(), sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    spdlog::error("storage: cannot {}: {}", what, message ? message : m_database.errorText());
    sqlite3_free(message);
    return false;
}

bool SqliteStorage::runToEnd(sqlite::StatementUse& use, const char* what) {
    int result = use.step();
    while (result == SQLITE_ROW)
        result = use.step();
    if (result == SQLITE_DONE)
        return true;
    logError(what);
    return false;
}

StorageResult SqliteStorage::addUser(std::string_view key, std::string_view passwordHash,
                                     const AccountProfile& profile) {
    std::lock_guard lock(m_mutex);
    sqlite::StatementUse insert(m_insertAccount);
    const std::string_view texts[] = {key,
                                      passwordHash,
                                      profile.firstName,
                                      profile.lastName,
                                      profile.email,
                                      profile.comment,
                                      profile.interests,
                                      profile.languages,
                                      profile.city,
                                      profile.state,
                                      profile.country,
                                      profile.homePage,
                                      profile.showFlags};
    int index = 1;
    for (std::string_view text : texts)
        insert.bind(index++, text);
    insert.bind(index, unixNow());
    const int result = insert.step();
    if (result == SQLITE_DONE)
        return StorageResult::Done;
    if (result == SQLITE_CONSTRAINT_PRIMARYKEY)
        return StorageResult::Exists;
    logError("add a user");
    return StorageResult::Failed;
}

StorageResult SqliteStorage::deleteUser(std::string_view key) {
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(*this);
    if (!transaction.open())
        return StorageResult::Failed;
    {
        sqlite::StatementUse notes(m_deleteAllNotes);
        notes.bind(1, key);
        if (!runToEnd(notes, "delete a user's notes"))
            return StorageResult::Failed;
    }
    sqlite::StatementUse account(m_deleteAccount);
    account.bind(1, key);
    if (!runToEnd(account, "delete a user"))
        return StorageResult::Failed;
    if (sqlite3_changes(m_database.get()) == 0)
        return StorageResult::NotFound; // rolled back: nothing was deleted
    return transaction.commit() ? StorageResult::Done : StorageResult::Failed;
}

StorageResult SqliteStorage::setPasswordHash(std::string_view key, std::string_view passwordHash) {
    std::lock_guard lock(m_mutex);
    sqlite::StatementUse update(m_updateHash);
    update.bind(1, passwordHash);
    update.bind(2, key);
    if (!runToEnd(update, "change a password"))
        return StorageResult::Failed;
    return sqlite3_changes(m_database.get()) ? StorageResult::Done : StorageResult::NotFound;
}

std::optional<std::string> SqliteStorage::passwordHash(std::string_view key) {
    std::lock_guard lock(m_mutex);
    sqlite::StatementUse select(m_selectHash);
    select.bind(1, key);
    const int result = select.step();
    if (result == SQLITE_ROW)
        return select.columnText(0);
    if (result != SQLITE_DONE)
        logError("read a password hash");
    return std::nullopt;
}

bool SqliteStorage::userExists(std::string_view key) {
    return passwordHash(key).has_value();
}

std::vector<std::string> SqliteStorage::listUsers() {
    std::lock_guard lock(m_mutex);
    sqlite::StatementUse select(m_selectKeys);
    std::vector<std::string> keys;
    int result = select.step();
    for (; result == SQLITE_ROW; result = select.step())
        keys.push_back(select.columnText(0));
    if (result != SQLITE_DONE) {
        logError("list the users");
        return {};
    }
    return keys;
}

std::vector<AccountEntry> SqliteStorage::searchableAccounts(const std::function<bool(const AccountEntry&)>& match,
                                                          std::size_t limit) {
    std::lock_guard lock(m_mutex);
    sqlite::StatementUse select(m_selectSearchable);
    std::vector<AccountEntry> found;
    int result = select.step();
    // Rows are read one at a time and only the matching ones kept.
    for (; result == SQLITE_ROW && found.size() < limit; result = select.step()) {
        AccountEntry entry;
        entry.key = select.columnText(0);
        AccountProfile& profile = entry.profile;
        std::string* const columns[] = {&profile.firstName, &profile.lastName, &profile.email,   &profile.comment,
                                        &profile.interests, &profile.languages, &profile.city,   &profile.state,
                                        &profile.country,   &profile.homePage,  &profile.showFlags};
        int column = 1;
        for (std::string* text : columns) *text = select.columnText(column++);
        if (match(entry)) found.push_back(std::move(entry));
    }
    if (result != SQLITE_DONE && result != SQLITE_ROW) {
        logError("search the users");
        return {};
    }
    return found;
}

StorageResult SqliteStorage::storeNote(std::string_view key, std::span<const uint8_t> block, uint64_t quotaBytes) {
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(*this);
    if (!transaction.open())
        return StorageResult::Failed;
    {
        sqlite::StatementUse account(m_selectHash);
        account.bind(1, key);
        const int result = account.step();
        if (result == SQLITE_DONE)
            return StorageResult::NotFound;
        if (result != SQLITE_ROW) {
            logError("look up a note's receiver");
            return StorageResult::Failed;
        }
    }
    uint64_t used = 0;
    {
        sqlite::StatementUse sum(m_sumNoteSizes);
        sum.bind(1, key);
        if (sum.step() != SQLITE_ROW) {
            logError("sum a user's notes");
            return StorageResult::Failed;
        }
        used = static_cast<uint64_t>(sum.columnInt(0));
    }
    // Written so that neither side can wrap around.
    if (block.size() > quotaBytes || used > quotaBytes - block.size())
        return StorageResult::OverQuota;
    sqlite::StatementUse insert(m_insertNote);
    insert.bind(1, key);
    insert.bind(2, block);
    insert.bind(3, static_cast<int64_t>(block.size()));
    insert.bind(4, unixNow());
    if (!runToEnd(insert, "store a note"))
        return StorageResult::Failed;
    return transaction.commit() ? StorageResult::Done : StorageResult::Failed;
}

std::vector<StoredNote> SqliteStorage::notesFor(std::string_view key, uint64_t maxBytes) {
    std::lock_guard lock(m_mutex);
    sqlite::StatementUse select(m_selectNotes);
    select.bind(1, key);
    std::vector<StoredNote> notes;
    uint64_t taken = 0;
    int result = select.step();
    for (; result == SQLITE_ROW; result = select.step()) {
        // The size column is read first, so that a block that does not fit
        // is never loaded.
        const auto size = static_cast<uint64_t>(select.columnInt(1));
        if (size > maxBytes - taken) {
            result = SQLITE_DONE;
            break;
        }
        taken += size;
        const auto block = select.columnBlob(2);
        notes.push_back(StoredNote{select.columnInt(0), std::vector<uint8_t>(block.begin(), block.end())});
    }
    if (result != SQLITE_DONE) {
        logError("read a user's notes");
        return {};
    }
    return notes;
}

StorageResult SqliteStorage::deleteNotes(std::string_view key, std::span<const int64_t> ids) {
    std::lock_guard lock(m_mutex);
    WriteTransaction transaction(*this);
    if (!transaction.open())
        return StorageResult::Failed;
    for (const int64_t id : ids) {
        // The user's key in the condition is what keeps a session from
        // deleting notes that were left for someone else.
        sqlite::StatementUse remove(m_deleteNote);
        remove.bind(1, id);
        remove.bind(2, key);
        if (!runToEnd(remove, "delete a delivered note"))
            return StorageResult::Failed;
    }
    return transaction.commit() ? StorageResult::Done : StorageResult::Failed;
}

} // namespace vp::server
