#pragma once
// Owners of the SQLite connection and its prepared statements, and the
// scoped helpers the storage uses around them: a statement use that resets
// the statement however the use ends, and a write transaction that rolls
// back unless it was committed. Not thread-safe; SqliteStorage serialises.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace vp::server::sqlite {

class Database {
public:
    Database() = default;
    explicit Database(sqlite3* handle) : m_handle(handle) {}
    ~Database() { reset(); }
    Database(Database&& other) noexcept : m_handle(other.release()) {}
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    sqlite3* get() const { return m_handle; }
    sqlite3* release();
    void reset();
    // The last error of this connection, for log lines.
    std::string errorText() const;

private:
    sqlite3* m_handle = nullptr;
};

class Statement {
public:
    Statement() = default;
    explicit Statement(sqlite3_stmt* handle) : m_handle(handle) {}
    ~Statement() { reset(); }
    Statement(Statement&& other) noexcept : m_handle(other.release()) {}
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const { return m_handle; }
    sqlite3_stmt* release();
    void reset();

private:
    sqlite3_stmt* m_handle = nullptr;
};

// One run of a prepared statement. Binds borrow the caller's bytes, which
// must live until the use ends; the end resets the statement and drops its
// bindings, so a statement is never left half-run inside a transaction.
class StatementUse {
public:
    explicit StatementUse(const Statement& statement) : m_statement(statement.get()) {}
    ~StatementUse();
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

    // Each returns the SQLite result code of the bind.
    int bind(int index, std::string_view text);
    int bind(int index, std::span<const uint8_t> blob);
    int bind(int index, int64_t value);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    int64_t columnInt(int column) const;
    std::string columnText(int column) const;
    std::span<const uint8_t> columnBlob(int column) const;

private:
    sqlite3_stmt* m_statement;
};

} // namespace vp::server::sqlite
