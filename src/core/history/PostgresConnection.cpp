// The history database on a PostgreSQL server, shared by every station of a
// production line.
#include <libpq-fe.h>

#include <cstring>

#include "history/SqlConnection.h"

namespace spindle {

namespace {

// `?` placeholders become $1, $2, ... (no statement of ours has a `?` in a
// literal).
std::string Numbered(const std::string& sql) {
    std::string out;
    int n = 0;
    for (char c : sql) {
        if (c == '?') {
            out += '$' + std::to_string(++n);
        } else {
            out += c;
        }
    }
    return out;
}

SqlFailure Classify(const char* state) {
    if (state == nullptr) return SqlFailure::Other;
    if (std::strcmp(state, "25006") == 0 || std::strncmp(state, "42501", 5) == 0) return SqlFailure::ReadOnly;
    if (std::strcmp(state, "55P03") == 0 || std::strcmp(state, "57014") == 0 || std::strcmp(state, "40P01") == 0) {
        return SqlFailure::Locked;  // lock_not_available, the statement time-out, a deadlock
    }
    if (std::strncmp(state, "08", 2) == 0) return SqlFailure::CannotOpen;
    if (std::strcmp(state, "XX001") == 0 || std::strcmp(state, "XX002") == 0) return SqlFailure::Corrupt;
    return SqlFailure::Other;
}

std::string Trimmed(const char* text) {
    std::string s = text != nullptr ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

class CPostgresConnection final : public ISqlConnection {
public:
    explicit CPostgresConnection(PGconn* conn) : conn_(conn) {}
    ~CPostgresConnection() override { PQfinish(conn_); }

    std::optional<std::vector<SqlRow>> Run(const std::string& sql, const std::vector<SqlValue>& params,
                                           SqlError& error) override {
        std::vector<const char*> values;
        values.reserve(params.size());
        for (const SqlValue& p : params) values.push_back(p ? p->c_str() : nullptr);
        const std::string text = Numbered(sql);
        PGresult* result = PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()), nullptr,
                                        values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            error.failure = PQstatus(conn_) == CONNECTION_BAD
                                ? SqlFailure::CannotOpen
                                : Classify(PQresultErrorField(result, PG_DIAG_SQLSTATE));
            error.text = Trimmed(PQresultErrorMessage(result));
            if (error.text.empty()) error.text = Trimmed(PQerrorMessage(conn_));
            PQclear(result);
            return std::nullopt;
        }
        std::vector<SqlRow> rows;
        const int count = PQntuples(result);
        const int columns = PQnfields(result);
        rows.reserve(static_cast<std::size_t>(count));
        for (int r = 0; r < count; ++r) {
            SqlRow row(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                if (!PQgetisnull(result, r, c)) row[static_cast<std::size_t>(c)] = PQgetvalue(result, r, c);
            }
            rows.push_back(std::move(row));
        }
        PQclear(result);
        return rows;
    }
    const char* Engine() const override { return "postgresql"; }
    const char* BeginWrite() const override { return "BEGIN"; }

private:
    PGconn* conn_;
};

}  // namespace

std::unique_ptr<ISqlConnection> OpenPostgres(const std::string& conninfo, std::chrono::milliseconds busyTimeout,
                                             SqlError& error) {
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        error.failure = SqlFailure::CannotOpen;
        error.text = Trimmed(PQerrorMessage(conn));
        PQfinish(conn);
        return nullptr;
    }
    auto connection = std::make_unique<CPostgresConnection>(conn);
    // A lock held by another station for longer than this fails the
    // statement rather than holding the job's record up.
    const std::string timeout = "SET lock_timeout = " + std::to_string(busyTimeout.count());
    if (!connection->Run(timeout, {}, error) || !connection->Run("SET client_min_messages = warning", {}, error)) {
        return nullptr;
    }
    return connection;
}

}  // namespace spindle
