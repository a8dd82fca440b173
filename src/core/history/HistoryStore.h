#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/SqlConnection.h"

namespace spindle {

// Schema versions of the history database, oldest first: step N brings a
// database at version N-1 to version N. A database at a version above the
// last step was made by a newer Spindle and is not written to.
struct SchemaStep {
    const char* sqlite;
    const char* postgresql;  // null: the same text as for SQLite
};
const std::vector<std::vector<SchemaStep>>& HistorySchemaSteps();
int HistorySchemaVersion();  // the version this build writes

// Everything about a record that the recorder supplies besides the caller's.
struct HistoryStamp {
    std::string at;  // UTC time text
    std::string station;
    std::string operatorName;
    std::int64_t processId = 0;
};

// The history database: a record per job and per stored-values write. Every
// method reports a failure in `problem` (the operator's text: the store's
// location, what went wrong and the fix) and returns nothing.
class CHistoryStore {
public:
    struct Options {
        std::chrono::milliseconds busyTimeout{5000};
    };
    // `location`: an SQLite file path, or a PostgreSQL URL
    // ("postgresql://..." / "postgres://..."). Creates the database and
    // brings its schema up to this build's version.
    static std::unique_ptr<CHistoryStore> Open(const std::string& location, const Options& options,
                                               std::string& problem);
    // True for a location that names a PostgreSQL server.
    static bool IsServer(const std::string& location);

    std::optional<std::int64_t> Begin(const HistoryStart& start, const HistoryStamp& stamp, std::string& problem);
    bool Complete(std::int64_t id, const HistoryEnd& end, const std::string& endedAt, std::int64_t durationMs,
                  std::string& problem);
    std::optional<std::vector<HistoryRecord>> Query(const HistoryFilter& filter, std::string& problem);

    // The location as messages show it (a server's password left out).
    const std::string& ShownLocation() const { return shown_; }
    ISqlConnection& Connection() { return *db_; }

private:
    CHistoryStore(std::unique_ptr<ISqlConnection> db, std::string shown) : db_(std::move(db)), shown_(std::move(shown)) {}
    bool Migrate(std::string& problem);
    std::optional<std::vector<SqlRow>> Run(const std::string& sql, const std::vector<SqlValue>& params,
                                           std::string& problem);

    std::unique_ptr<ISqlConnection> db_;
    std::string shown_;
};

// The operator's text for a store problem at `shownLocation`.
std::string HistoryProblemText(const std::string& shownLocation, bool server, const SqlError& error);

}  // namespace spindle
