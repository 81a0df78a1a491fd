#include "storage/SqliteHandle.h"

#include <sqlite3.h>

namespace vp::server::sqlite {

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        reset();
        m_handle = other.release();
    }
    return *this;
}

sqlite3* Database::release() {
    sqlite3* handle = m_handle;
    m_handle = nullptr;
    return handle;
}

void Database::reset() {
    // The statements are finalised before their connection (members are
    // declared after it); close_v2 would still close once they were.
    if (m_handle)
        sqlite3_close_v2(m_handle);
    m_handle = nullptr;
}

std::string Database::errorText() const {
    if (!m_handle)
        return "no database";
    return std::string(sqlite3_errmsg(m_handle)) + " (" + std::to_string(sqlite3_extended_errcode(m_handle)) + ")";
}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        reset();
        m_handle = other.release();
    }
    return *this;
}

sqlite3_stmt* Statement::release() {
    sqlite3_stmt* handle = m_handle;
    m_handle = nullptr;
    return handle;
}

void Statement::reset() {
    if (m_handle)
        sqlite3_finalize(m_handle);
    m_handle = nullptr;
}

StatementUse::~StatementUse() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

int StatementUse::bind(int index, std::string_view text) {
    // A null pointer would bind SQL NULL; an empty text stays a text.
    return sqlite3_bind_text(m_statement, index, text.data() ? text.data() : "", static_cast<int>(text.size()),
                             SQLITE_STATIC);
}

int StatementUse::bind(int index, std::span<const uint8_t> blob) {
    if (blob.empty())
        return sqlite3_bind_zeroblob(m_statement, index, 0);
    return sqlite3_bind_blob64(m_statement, index, blob.data(), blob.size(), SQLITE_STATIC);
}

int StatementUse::bind(int index, int64_t value) {
    return sqlite3_bind_int64(m_statement, index, value);
}

int StatementUse::step() {
    return sqlite3_step(m_statement);
}

int64_t StatementUse::columnInt(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::string StatementUse::columnText(int column) const {
    const auto* text = sqlite3_column_text(m_statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(m_statement, column)))
                : std::string();
}

std::span<const uint8_t> StatementUse::columnBlob(int column) const {
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return data ? std::span<const uint8_t>(data, static_cast<size_t>(size)) : std::span<const uint8_t>();
}

} // namespace vp::server::sqlite
