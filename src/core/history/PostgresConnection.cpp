// The history database on a PostgreSQL server, shared by every station of a
// production line.
//
// libpq, and the thirty-odd libraries it brings (Kerberos, LDAP, TLS), is
// loaded the first time a PostgreSQL history is opened rather than at every
// start of the programs, most of which never use one: its header gives the
// types, dlopen the functions.
#include <dlfcn.h>
#include <libpq-fe.h>

#include <cstring>

#include "history/SqlConnection.h"

namespace spindle {

namespace {

#define SPINDLE_PQ_FUNCTIONS(X)                                                                      \
    X(PQconnectdb) X(PQfinish) X(PQstatus) X(PQerrorMessage) X(PQexecParams) X(PQresultStatus)      \
    X(PQresultErrorField) X(PQresultErrorMessage) X(PQclear) X(PQntuples) X(PQnfields) X(PQgetisnull) \
    X(PQgetvalue)

struct LibPq {
#define SPINDLE_PQ_MEMBER(name) decltype(&::name) name = nullptr;
    SPINDLE_PQ_FUNCTIONS(SPINDLE_PQ_MEMBER)
#undef SPINDLE_PQ_MEMBER
};

// The library's functions, or null with `problem` saying why not. Loaded
// once, and kept for the rest of the process.
const LibPq* LoadLibPq(std::string& problem) {
    struct Loaded {
        LibPq functions;
        std::string problem;
        bool ok = false;
    };
    static const Loaded loaded = [] {
        Loaded l;
        void* library = dlopen(SPINDLE_LIBPQ_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* why = dlerror();
            l.problem = std::string("the PostgreSQL client library (" SPINDLE_LIBPQ_SONAME ") cannot be loaded: ") +
                        (why != nullptr ? why : "not found");
            return l;
        }
#define SPINDLE_PQ_LOAD(name)                                                                         \
    l.functions.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name));                    \
    if (l.functions.name == nullptr) {                                                                \
        l.problem = "the PostgreSQL client library (" SPINDLE_LIBPQ_SONAME ") has no " #name;         \
        return l;                                                                                     \
    }
        SPINDLE_PQ_FUNCTIONS(SPINDLE_PQ_LOAD)
#undef SPINDLE_PQ_LOAD
        l.ok = true;
        return l;
    }();
    if (!loaded.ok) {
        problem = loaded.problem;
        return nullptr;
    }
    return &loaded.functions;
}

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
    CPostgresConnection(const LibPq& pq, PGconn* conn) : pq_(pq), conn_(conn) {}
    ~CPostgresConnection() override { pq_.PQfinish(conn_); }

    std::optional<std::vector<SqlRow>> Run(const std::string& sql, const std::vector<SqlValue>& params,
                                           SqlError& error) override {
        std::vector<const char*> values;
        values.reserve(params.size());
        for (const SqlValue& p : params) values.push_back(p ? p->c_str() : nullptr);
        const std::string text = Numbered(sql);
        PGresult* result = pq_.PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()), nullptr,
                                        values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = pq_.PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            error.failure = pq_.PQstatus(conn_) == CONNECTION_BAD
                                ? SqlFailure::CannotOpen
                                : Classify(pq_.PQresultErrorField(result, PG_DIAG_SQLSTATE));
            error.text = Trimmed(pq_.PQresultErrorMessage(result));
            if (error.text.empty()) error.text = Trimmed(pq_.PQerrorMessage(conn_));
            pq_.PQclear(result);
            return std::nullopt;
        }
        std::vector<SqlRow> rows;
        const int count = pq_.PQntuples(result);
        const int columns = pq_.PQnfields(result);
        rows.reserve(static_cast<std::size_t>(count));
        for (int r = 0; r < count; ++r) {
            SqlRow row(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                if (!pq_.PQgetisnull(result, r, c)) row[static_cast<std::size_t>(c)] = pq_.PQgetvalue(result, r, c);
            }
            rows.push_back(std::move(row));
        }
        pq_.PQclear(result);
        return rows;
    }
    const char* Engine() const override { return "postgresql"; }
    const char* BeginWrite() const override { return "BEGIN"; }

private:
    const LibPq& pq_;
    PGconn* conn_;
};

}  // namespace

std::unique_ptr<ISqlConnection> OpenPostgres(const std::string& conninfo, std::chrono::milliseconds busyTimeout,
                                             SqlError& error) {
    const LibPq* pq = LoadLibPq(error.text);
    if (pq == nullptr) {
        error.failure = SqlFailure::CannotOpen;
        return nullptr;
    }
    PGconn* conn = pq->PQconnectdb(conninfo.c_str());
    if (pq->PQstatus(conn) != CONNECTION_OK) {
        error.failure = SqlFailure::CannotOpen;
        error.text = Trimmed(pq->PQerrorMessage(conn));
        pq->PQfinish(conn);
        return nullptr;
    }
    auto connection = std::make_unique<CPostgresConnection>(*pq, conn);
    // A lock held by another station for longer than this fails the
    // statement rather than holding the job's record up. The server's
    // warnings (a ROLLBACK after a failed statement outside a transaction)
    // would go to the terminal: only errors come back, and they are reported.
    const std::string timeout = "SET lock_timeout = " + std::to_string(busyTimeout.count());
    if (!connection->Run(timeout, {}, error) || !connection->Run("SET client_min_messages = error", {}, error)) {
        return nullptr;
    }
    return connection;
}

}  // namespace spindle
