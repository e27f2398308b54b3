// A small RAII layer over SQLite's C API: a connection, prepared statements and a transaction
// guard. Every failure becomes one exception carrying SQLite's message and code, so that the
// callers never check a return value by hand. The only file that includes <sqlite3.h> is
// sqlite.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace pool::sql {

class Error : public std::runtime_error {
public:
    Error(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
    // SQLite's primary result code (the low byte of the extended one).
    [[nodiscard]] int Code() const { return code_ & 0xFF; }
    // The disk is full or would not take the write.
    [[nodiscard]] bool DiskFailed() const;
    [[nodiscard]] bool NotADatabase() const;
    // The database is damaged.
    [[nodiscard]] bool Damaged() const;

private:
    int code_;
};

enum class OpenMode { readWrite, create, memory };

class Database {
public:
    // Opens `path` (never through a symbolic link); `create` makes it when missing, `memory`
    // ignores `path` and opens a private database in memory.
    Database(const std::string& path, OpenMode mode);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs one or more statements that return no rows the caller needs.
    void Execute(const char* sql);
    // The single integer a statement such as "PRAGMA user_version" returns.
    [[nodiscard]] std::int64_t Integer(const char* sql);
    [[nodiscard]] std::string Text(const char* sql);
    [[nodiscard]] std::int64_t LastInsertedRow() const;
    // Waits up to `milliseconds` for another writer before a statement gives up.
    void WaitWhenBusy(int milliseconds);
    // A consistent copy of the whole database into a new file at `path`, in rollback-journal
    // mode so that it opens anywhere on its own.
    void CopyTo(const std::string& path);

    [[nodiscard]] sqlite3* Handle() const { return handle_; }
    // Throws `code` with the connection's message of it.
    [[noreturn]] void Fail(int code) const;

private:
    sqlite3* handle_ = nullptr;
};

class Statement {
public:
    Statement(Database& database, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters are numbered from 1, as SQLite numbers them.
    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, double value);
    Statement& Bind(int index, std::string_view text);
    Statement& BindOptional(int index, const std::optional<std::string>& text);
    Statement& BindOptional(int index, const std::optional<double>& value);
    Statement& BindBlob(int index, std::string_view bytes);
    Statement& BindNull(int index);

    // True while it yields a row; false once done. Resets itself at the end (or after a
    // failure), ready to run again with new values.
    [[nodiscard]] bool Step();
    // Runs a statement that yields no row.
    void Run();
    void Reset();

    // Columns are numbered from 0.
    [[nodiscard]] std::int64_t Integer(int column) const;
    [[nodiscard]] std::uint64_t Count(int column) const;
    [[nodiscard]] double Real(int column) const;
    [[nodiscard]] std::string Text(int column) const;
    [[nodiscard]] bool IsNull(int column) const;
    [[nodiscard]] std::optional<std::string> OptionalText(int column) const;
    [[nodiscard]] std::optional<double> OptionalReal(int column) const;

private:
    Database& database_;
    sqlite3_stmt* statement_ = nullptr;
};

// BEGIN IMMEDIATE (a writer takes the lock at once, so two writers queue rather than fail half
// way) or a plain BEGIN for a reader; rolled back unless committed.
class Transaction {
public:
    enum class Kind { write, read };
    Transaction(Database& database, Kind kind);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Commit();

private:
    Database& database_;
    bool open_ = true;
};

}  // namespace pool::sql
