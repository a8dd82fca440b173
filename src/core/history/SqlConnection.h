#pragma once
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace spindle {

// A value bound to or read from a statement: text, or SQL NULL.
using SqlValue = std::optional<std::string>;
using SqlRow = std::vector<SqlValue>;

// Why a statement failed, in the terms the operator's fix depends on.
enum class SqlFailure { None, CannotOpen, ReadOnly, Locked, Corrupt, Other };

struct SqlError {
    SqlFailure failure = SqlFailure::None;
    std::string text;  // the engine's own words
};

// One connection to the history database. Statements use `?` for their
// parameters on every engine. Every value travels as text (integers in
// decimal), which both engines convert by the column's type.
class ISqlConnection {
public:
    virtual ~ISqlConnection() = default;
    // Runs one statement; its rows, or nullopt with `error` set.
    virtual std::optional<std::vector<SqlRow>> Run(const std::string& sql, const std::vector<SqlValue>& params,
                                                   SqlError& error) = 0;
    // "sqlite" or "postgresql": picks the statements that differ.
    virtual const char* Engine() const = 0;
    // BEGIN that takes the write lock at once (SQLite's IMMEDIATE), so two
    // writers never deadlock on upgrading a read lock.
    virtual const char* BeginWrite() const = 0;
};

// Opens (and creates, with its folder) an SQLite database file in WAL mode.
// `busyTimeout`: how long a statement waits for another process's lock.
std::unique_ptr<ISqlConnection> OpenSqlite(const std::string& path, std::chrono::milliseconds busyTimeout,
                                           SqlError& error);
// Connects to a PostgreSQL server ("postgresql://..." or a key=value text).
std::unique_ptr<ISqlConnection> OpenPostgres(const std::string& conninfo, std::chrono::milliseconds busyTimeout,
                                             SqlError& error);

}  // namespace spindle
