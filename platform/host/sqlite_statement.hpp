#pragma once
// Thin RAII over the SQLite C API for the replica: a connection, its cached
// prepared statements and a transaction guard. Every failure throws
// SqliteError carrying SQLite's primary result code, so that the caller can
// tell a damaged file (SQLITE_CORRUPT, SQLITE_NOTADB) from other faults.
//
// Threads: none of these types locks; the owner serialises every use of one
// connection (and so of its statements).

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace cadrio::host::sqlite {

class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    /// The primary result code (extended codes reduced with & 0xff).
    int code() const noexcept { return code_; }
    bool meansDamagedFile() const noexcept { return code_ == SQLITE_CORRUPT || code_ == SQLITE_NOTADB; }

private:
    int code_;
};

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// Back to the first step with no bindings; called before each use.
    void reset();
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view bytes);  // as a BLOB: names need not be UTF-8
    Statement& bindText(int index, std::string_view text);
    Statement& bindNull(int index);
    Statement& bind(int index, const std::optional<std::int64_t>& value);

    /// True while a row is available.
    bool step();
    /// Runs to completion (statements without rows).
    void run();

    std::int64_t integer(int column) const;
    std::optional<std::int64_t> optionalInteger(int column) const;
    std::string bytes(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

class Connection {
public:
    /// Opens or creates `path`; throws SqliteError.
    explicit Connection(const std::string& path);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Runs `sql` (several statements allowed, no rows read).
    void execute(const char* sql);
    /// The cached statement for `sql`, reset and unbound. The reference stays
    /// valid for the connection's life; do not use one statement twice at once.
    Statement& statement(const char* sql);
    std::int64_t lastInsertRowid() const;
    int changes() const;

private:
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, std::unique_ptr<Statement>> statements_;
};

/// BEGIN IMMEDIATE on construction, ROLLBACK unless commit() was called.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Connection& connection_;
    bool done_ = false;
};

}  // namespace cadrio::host::sqlite
