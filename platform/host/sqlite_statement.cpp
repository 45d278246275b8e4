#include "platform/host/sqlite_statement.hpp"

namespace cadrio::host::sqlite {
namespace {

[[noreturn]] void fail(sqlite3* db, int code, std::string_view what) {
    std::string message(what);
    message += ": ";
    message += db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw SqliteError(code & 0xff, message);
}

void check(sqlite3* db, int code, std::string_view what) {
    if (code != SQLITE_OK) fail(db, code, what);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    check(db_, sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                  &statement_, nullptr),
          "prepare");
}

Statement::~Statement() { sqlite3_finalize(statement_); }

void Statement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

Statement& Statement::bind(int index, std::int64_t value) {
    check(db_, sqlite3_bind_int64(statement_, index, value), "bind");
    return *this;
}

Statement& Statement::bind(int index, std::string_view bytes) {
    // A zero-length BLOB must not bind as NULL: the columns are NOT NULL.
    static const char empty = 0;
    check(db_,
          sqlite3_bind_blob64(statement_, index, bytes.empty() ? &empty : bytes.data(), bytes.size(),
                              SQLITE_TRANSIENT),
          "bind");
    return *this;
}

Statement& Statement::bindText(int index, std::string_view text) {
    check(db_, sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8),
          "bind");
    return *this;
}

Statement& Statement::bindNull(int index) {
    check(db_, sqlite3_bind_null(statement_, index), "bind");
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::int64_t>& value) {
    return value ? bind(index, *value) : bindNull(index);
}

bool Statement::step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) return true;
    if (code == SQLITE_DONE) return false;
    fail(db_, code, "step");
}

void Statement::run() {
    while (step()) {
    }
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::optional<std::int64_t> Statement::optionalInteger(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return integer(column);
}

std::string Statement::bytes(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    if (!data || size <= 0) return {};
    return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

Connection::Connection(const std::string& path) {
    const int code = sqlite3_open_v2(path.c_str(), &db_,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(code & 0xff, "open: " + message);
    }
    sqlite3_extended_result_codes(db_, 0);
    sqlite3_busy_timeout(db_, 5000);
}

Connection::~Connection() {
    statements_.clear();
    sqlite3_close(db_);
}

void Connection::execute(const char* sql) { check(db_, sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), sql); }

Statement& Connection::statement(const char* sql) {
    auto [it, inserted] = statements_.try_emplace(sql);
    if (inserted) {
        try {
            it->second = std::make_unique<Statement>(db_, sql);
        } catch (...) {
            statements_.erase(it);
            throw;
        }
    }
    it->second->reset();
    return *it->second;
}

std::int64_t Connection::lastInsertRowid() const { return sqlite3_last_insert_rowid(db_); }

int Connection::changes() const { return sqlite3_changes(db_); }

Transaction::Transaction(Connection& connection) : connection_(connection) { connection_.execute("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (done_) return;
    try {
        connection_.execute("ROLLBACK");
    } catch (...) {
        // The transaction is gone already (SQLite rolled it back itself).
    }
}

void Transaction::commit() {
    connection_.execute("COMMIT");
    done_ = true;
}

}  // namespace cadrio::host::sqlite
