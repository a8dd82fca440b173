// The history database on SQLite: one file per user, written through WAL so
// readers never wait for a writer and several processes share it safely.
#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "history/SqlConnection.h"

namespace spindle {

namespace {

SqlFailure Classify(int code) {
    switch (code & 0xFF) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return SqlFailure::ReadOnly;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return SqlFailure::Locked;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return SqlFailure::Corrupt;
    case SQLITE_CANTOPEN:
        return SqlFailure::CannotOpen;
    default:
        return SqlFailure::Other;
    }
}

class CSqliteConnection final : public ISqlConnection {
public:
    explicit CSqliteConnection(sqlite3* db) : db_(db) {}
    ~CSqliteConnection() override { sqlite3_close_v2(db_); }

    std::optional<std::vector<SqlRow>> Run(const std::string& sql, const std::vector<SqlValue>& params,
                                           SqlError& error) override {
        sqlite3_stmt* statement = nullptr;
        int code = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
        if (code != SQLITE_OK) return Failed(code, error);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int at = static_cast<int>(i) + 1;
            code = params[i] ? sqlite3_bind_text(statement, at, params[i]->c_str(),
                                                 static_cast<int>(params[i]->size()), SQLITE_TRANSIENT)
                             : sqlite3_bind_null(statement, at);
            if (code != SQLITE_OK) {
                sqlite3_finalize(statement);
                return Failed(code, error);
            }
        }
        std::vector<SqlRow> rows;
        while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
            const int columns = sqlite3_column_count(statement);
            SqlRow row(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                const unsigned char* text = sqlite3_column_text(statement, c);
                if (text != nullptr) row[static_cast<std::size_t>(c)] = reinterpret_cast<const char*>(text);
            }
            rows.push_back(std::move(row));
        }
        sqlite3_finalize(statement);
        if (code != SQLITE_DONE) return Failed(code, error);
        return rows;
    }
    const char* Engine() const override { return "sqlite"; }
    const char* BeginWrite() const override { return "BEGIN IMMEDIATE"; }

private:
    std::nullopt_t Failed(int code, SqlError& error) {
        error.failure = Classify(sqlite3_extended_errcode(db_) != 0 ? sqlite3_extended_errcode(db_) : code);
        error.text = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    sqlite3* db_;
};

}  // namespace

std::unique_ptr<ISqlConnection> OpenSqlite(const std::string& path, std::chrono::milliseconds busyTimeout,
                                           SqlError& error) {
    const std::filesystem::path file(path);
    std::error_code ignored;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ignored);
    sqlite3* db = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) {
        error.failure = code == SQLITE_CANTOPEN ? SqlFailure::CannotOpen : Classify(code);
        error.text = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
        sqlite3_close_v2(db);
        return nullptr;
    }
    // SQLite opens a write-protected file for reading without a word; the
    // first write would fail, so it is reported now.
    if (sqlite3_db_readonly(db, "main") == 1) {
        error.failure = SqlFailure::ReadOnly;
        error.text = "the file is read-only";
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, static_cast<int>(busyTimeout.count()));
    auto connection = std::make_unique<CSqliteConnection>(db);
    // WAL: a commit is one append; NORMAL synchronous keeps every commit
    // through a process crash (only a power loss may lose the last ones).
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA foreign_keys=ON"}) {
        if (!connection->Run(pragma, {}, error)) return nullptr;
    }
    return connection;
}

}  // namespace spindle
