#include "pool/sqlite.h"

#include <sqlite3.h>

namespace pool::sql {
namespace {

std::string Message(sqlite3* handle, int code) {
    const char* text = handle != nullptr ? sqlite3_errmsg(handle) : nullptr;
    return text != nullptr ? text : sqlite3_errstr(code);
}

}  // namespace

bool Error::DiskFailed() const {
    const int code = Code();
    return code == SQLITE_FULL || code == SQLITE_IOERR;
}

bool Error::NotADatabase() const {
    return Code() == SQLITE_NOTADB;
}

bool Error::Damaged() const {
    return Code() == SQLITE_CORRUPT;
}

Database::Database(const std::string& path, OpenMode mode) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_PRIVATECACHE;
    if (mode == OpenMode::create) {
        flags |= SQLITE_OPEN_CREATE;
    }
    if (mode == OpenMode::memory) {
        flags |= SQLITE_OPEN_MEMORY | SQLITE_OPEN_CREATE;
    }
    const std::string name = mode == OpenMode::memory ? ":memory:" : path;
    const int code = sqlite3_open_v2(name.c_str(), &handle_, flags, nullptr);
    if (code != SQLITE_OK) {
        const std::string message = Message(handle_, code);
        sqlite3_close(handle_);
        handle_ = nullptr;
        throw Error(message, code);
    }
    sqlite3_extended_result_codes(handle_, 1);
}

Database::~Database() {
    sqlite3_close_v2(handle_);
}

void Database::Fail(int code) const {
    throw Error(Message(handle_, code), code);
}

void Database::Execute(const char* sql) {
    char* error = nullptr;
    const int code = sqlite3_exec(handle_, sql, nullptr, nullptr, &error);
    if (code != SQLITE_OK) {
        const std::string text = error != nullptr ? error : sqlite3_errstr(code);
        sqlite3_free(error);
        throw Error(text, code);
    }
}

std::int64_t Database::Integer(const char* sql) {
    Statement statement(*this, sql);
    const std::int64_t value = statement.Step() ? statement.Integer(0) : 0;
    statement.Reset();
    return value;
}

std::string Database::Text(const char* sql) {
    Statement statement(*this, sql);
    std::string value = statement.Step() ? statement.Text(0) : std::string();
    statement.Reset();
    return value;
}

std::int64_t Database::LastInsertedRow() const {
    return sqlite3_last_insert_rowid(handle_);
}

void Database::WaitWhenBusy(int milliseconds) {
    sqlite3_busy_timeout(handle_, milliseconds);
}

void Database::CopyTo(const std::string& path) {
    Database copy(path, OpenMode::create);
    sqlite3_backup* backup = sqlite3_backup_init(copy.handle_, "main", handle_, "main");
    if (backup == nullptr) {
        copy.Fail(sqlite3_errcode(copy.handle_));
    }
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
        copy.Fail(finished != SQLITE_OK ? finished : stepped);
    }
    copy.Execute("PRAGMA journal_mode = DELETE");
}

Statement::Statement(Database& database, std::string_view sql) : database_(database) {
    const int code = sqlite3_prepare_v3(database.Handle(), sql.data(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
    if (code != SQLITE_OK) {
        database.Fail(code);
    }
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

namespace {

void Check(Database& database, int code) {
    if (code != SQLITE_OK) {
        database.Fail(code);
    }
}

}  // namespace

Statement& Statement::Bind(int index, std::int64_t value) {
    Check(database_, sqlite3_bind_int64(statement_, index, value));
    return *this;
}

Statement& Statement::Bind(int index, double value) {
    Check(database_, sqlite3_bind_double(statement_, index, value));
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    Check(database_, sqlite3_bind_text64(statement_, index, text.data(), text.size(),
                                         SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

Statement& Statement::BindOptional(int index, const std::optional<std::string>& text) {
    return text ? Bind(index, std::string_view(*text)) : BindNull(index);
}

Statement& Statement::BindOptional(int index, const std::optional<double>& value) {
    return value ? Bind(index, *value) : BindNull(index);
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    Check(database_,
          sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::BindNull(int index) {
    Check(database_, sqlite3_bind_null(statement_, index));
    return *this;
}

bool Statement::Step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) {
        return true;
    }
    sqlite3_reset(statement_);
    if (code != SQLITE_DONE) {
        database_.Fail(code);
    }
    return false;
}

void Statement::Run() {
    while (Step()) {
    }
}

void Statement::Reset() {
    sqlite3_reset(statement_);
}

std::int64_t Statement::Integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::uint64_t Statement::Count(int column) const {
    const std::int64_t value = Integer(column);
    return value < 0 ? 0 : static_cast<std::uint64_t>(value);
}

double Statement::Real(int column) const {
    return sqlite3_column_double(statement_, column);
}

std::string Statement::Text(int column) const {
    const auto* text = sqlite3_column_blob(statement_, column);
    const int bytes = sqlite3_column_bytes(statement_, column);
    return text != nullptr
               ? std::string(static_cast<const char*>(text), static_cast<std::size_t>(bytes))
               : std::string();
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::optional<std::string> Statement::OptionalText(int column) const {
    return IsNull(column) ? std::nullopt : std::optional(Text(column));
}

std::optional<double> Statement::OptionalReal(int column) const {
    return IsNull(column) ? std::nullopt : std::optional(Real(column));
}

Transaction::Transaction(Database& database, Kind kind) : database_(database) {
    database_.Execute(kind == Kind::write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (open_) {
        // A failed statement may have ended the transaction already; then there is nothing
        // to roll back, and nothing to report.
        sqlite3_exec(database_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::Commit() {
    database_.Execute("COMMIT");
    open_ = false;
}

}  // namespace pool::sql
