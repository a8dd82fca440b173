#include "history/HistoryStore.h"
#include "history/HistoryText.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "history/Sha256.h"
#include "platform/Format.h"

namespace spindle {

namespace {

constexpr const char* kColumns =
    "id, kind, command, started_at, ended_at, station, operator, backend, process_id, device_index, family, "
    "serial_before, serial_after, chip, image_name, image_size, image_sha256, bytes_written, verified, result, "
    "problems, duration_ms, backup_path";


std::vector<std::uint8_t> Unhex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(digit(text[i]) * 16 + digit(text[i + 1])));
    }
    return bytes;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::int64_t Int(const SqlValue& value, std::int64_t fallback = 0) {
    if (!value || value->empty()) return fallback;
    try {
        return std::stoll(*value);
    } catch (...) {
        return fallback;
    }
}

std::string Text(const SqlValue& value) { return value ? *value : std::string(); }

SqlValue Num(std::int64_t value) { return std::to_string(value); }

HistoryKind KindOf(const std::string& text) {
    for (HistoryKind kind : {HistoryKind::Eeprom, HistoryKind::Fpga, HistoryKind::Download, HistoryKind::Values}) {
        if (text == HistoryKindText(kind)) return kind;
    }
    return HistoryKind::Eeprom;
}

HistoryResult ResultOf(const std::string& text) {
    if (text == "worked") return HistoryResult::Worked;
    if (text == "failed") return HistoryResult::Failed;
    return HistoryResult::Interrupted;
}

// A server URL with its password replaced, for messages: the one after the
// user name and a password= parameter alike.
std::string WithoutPassword(std::string location) {
    const std::size_t scheme = location.find("://");
    const std::size_t at = location.find('@');
    const std::size_t colon = scheme == std::string::npos ? scheme : location.find(':', scheme + 3);
    if (at != std::string::npos && colon < at) location.replace(colon + 1, at - colon - 1, "***");
    for (std::size_t p = location.find("password="); p != std::string::npos; p = location.find("password=", p + 1)) {
        if (p == 0 || (location[p - 1] != '?' && location[p - 1] != '&')) continue;
        const std::size_t value = p + 9;
        location.replace(value, std::min(location.find('&', value), location.size()) - value, "***");
    }
    return location;
}

}  // namespace

const char* HistoryKindText(HistoryKind kind) {
    switch (kind) {
    case HistoryKind::Eeprom: return "eeprom";
    case HistoryKind::Fpga: return "fpga";
    case HistoryKind::Download: return "download";
    case HistoryKind::Values: return "values";
    }
    return "eeprom";
}

const char* HistoryResultText(HistoryResult result) {
    switch (result) {
    case HistoryResult::Worked: return "worked";
    case HistoryResult::Failed: return "failed";
    case HistoryResult::Interrupted: return "interrupted";
    }
    return "interrupted";
}

const std::vector<std::vector<SchemaStep>>& HistorySchemaSteps() {
    static const std::vector<std::vector<SchemaStep>> steps = {
        // 1: a record per job, its problems one per line.
        {{"CREATE TABLE history_jobs (id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, "
          "command TEXT NOT NULL, started_at TEXT NOT NULL, ended_at TEXT, station TEXT NOT NULL, "
          "operator TEXT NOT NULL, backend TEXT NOT NULL, device_index INTEGER NOT NULL, family INTEGER NOT NULL, "
          "serial_before TEXT NOT NULL, serial_after TEXT, chip TEXT NOT NULL, image_name TEXT, image_size BIGINT, "
          "image_sha256 TEXT, bytes_written BIGINT NOT NULL DEFAULT 0, verified INTEGER NOT NULL DEFAULT 0, "
          "result TEXT NOT NULL, problems TEXT NOT NULL DEFAULT '', duration_ms BIGINT, backup_path TEXT)",
          "CREATE TABLE history_jobs (id BIGSERIAL PRIMARY KEY, kind TEXT NOT NULL, "
          "command TEXT NOT NULL, started_at TEXT NOT NULL, ended_at TEXT, station TEXT NOT NULL, "
          "operator TEXT NOT NULL, backend TEXT NOT NULL, device_index INTEGER NOT NULL, family INTEGER NOT NULL, "
          "serial_before TEXT NOT NULL, serial_after TEXT, chip TEXT NOT NULL, image_name TEXT, image_size BIGINT, "
          "image_sha256 TEXT, bytes_written BIGINT NOT NULL DEFAULT 0, verified INTEGER NOT NULL DEFAULT 0, "
          "result TEXT NOT NULL, problems TEXT NOT NULL DEFAULT '', duration_ms BIGINT, backup_path TEXT)"},
         {"CREATE INDEX history_jobs_serial_before ON history_jobs (serial_before)", nullptr}},
        // 2: the process that wrote a record (a record of a live process is
        // still running, not interrupted), each written slot's bytes, and
        // the indexes the usual questions need.
        {{"ALTER TABLE history_jobs ADD COLUMN process_id BIGINT NOT NULL DEFAULT 0", nullptr},
         {"CREATE TABLE history_slots (job_id BIGINT NOT NULL REFERENCES history_jobs (id), "
          "area TEXT NOT NULL, slot INTEGER NOT NULL, before_hex TEXT, after_hex TEXT NOT NULL, "
          "written INTEGER NOT NULL)",
          nullptr},
         {"CREATE INDEX history_slots_job ON history_slots (job_id)", nullptr},
         {"CREATE INDEX history_jobs_serial_after ON history_jobs (serial_after)", nullptr},
         {"CREATE INDEX history_jobs_image ON history_jobs (image_sha256)", nullptr},
         {"CREATE INDEX history_jobs_started ON history_jobs (started_at)", nullptr}},
    };
    return steps;
}

int HistorySchemaVersion() { return static_cast<int>(HistorySchemaSteps().size()); }

bool CHistoryStore::IsServer(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::string HistoryProblemText(const std::string& shownLocation, bool server, const SqlError& error) {
    const char* what = server ? "The production record on the server" : "The production record";
    std::string fix;
    switch (error.failure) {
    case SqlFailure::CannotOpen:
        fix = server ? "Check that the server runs and accepts this station (address, user, password, database), "
                       "or name another with --history or the History setting."
                     : "Check that its folder exists and this user may write there, or name another with "
                       "--history or the History setting.";
        return StrPrintf("%s %s cannot be opened: %s.\n\n", what, shownLocation.c_str(), error.text.c_str()) + fix;
    case SqlFailure::ReadOnly:
        fix = server ? "Give this station's database user the right to write its tables."
                     : "Let this user write the file and its folder (chmod u+w), or name another with --history.";
        return StrPrintf("%s %s is read-only: %s.\n\n", what, shownLocation.c_str(), error.text.c_str()) + fix;
    case SqlFailure::Locked:
        return StrPrintf("%s %s is locked by another process: %s.\n\n", what, shownLocation.c_str(),
                         error.text.c_str()) +
               "Close the program that holds it (a database browser, a long query) and try again.";
    case SqlFailure::Corrupt:
        fix = server ? "Ask the server's administrator to restore it."
                     : "Move the file aside (keep it: sqlite3 FILE .recover saves what it can); Spindle starts a "
                       "new one.";
        return StrPrintf("%s %s is damaged: %s.\n\n", what, shownLocation.c_str(), error.text.c_str()) + fix;
    default:
        return StrPrintf("%s %s could not be written: %s.", what, shownLocation.c_str(), error.text.c_str());
    }
}

std::unique_ptr<CHistoryStore> CHistoryStore::Open(const std::string& location, const Options& options,
                                                   std::string& problem) {
    const bool server = IsServer(location);
    SqlError error;
    std::unique_ptr<ISqlConnection> db = server ? OpenPostgres(location, options.busyTimeout, error)
                                                : OpenSqlite(location, options.busyTimeout, error);
    const std::string shown = server ? WithoutPassword(location) : location;
    if (!db) {
        problem = HistoryProblemText(shown, server, error);
        return nullptr;
    }
    std::unique_ptr<CHistoryStore> store(new CHistoryStore(std::move(db), shown));
    if (!store->Migrate(problem)) return nullptr;
    return store;
}

std::optional<std::vector<SqlRow>> CHistoryStore::Run(const std::string& sql, const std::vector<SqlValue>& params,
                                                      std::string& problem) {
    SqlError error;
    auto rows = db_->Run(sql, params, error);
    if (!rows) {
        problem = HistoryProblemText(shown_, IsServer(shown_), error);
        SqlError ignored;
        db_->Run("ROLLBACK", {}, ignored);
    }
    return rows;
}

bool CHistoryStore::Migrate(std::string& problem) {
    const bool postgres = std::string(db_->Engine()) == "postgresql";
    if (!Run(db_->BeginWrite(), {}, problem)) return false;
    // Stations that start together take turns at bringing the schema up.
    if (postgres && !Run("SELECT pg_advisory_xact_lock(733101)", {}, problem)) return false;
    if (!Run("CREATE TABLE IF NOT EXISTS history_schema (version INTEGER NOT NULL)", {}, problem)) return false;
    const auto rows = Run("SELECT version FROM history_schema", {}, problem);
    if (!rows) return false;
    const int version = rows->empty() ? 0 : static_cast<int>(Int(rows->front().at(0)));
    if (version > HistorySchemaVersion()) {
        Run("ROLLBACK", {}, problem);
        problem = StrPrintf("The production record %s was made by a newer Spindle (schema %d; this one writes %d).\n\n"
                            "Use that Spindle, or name another record with --history.",
                            shown_.c_str(), version, HistorySchemaVersion());
        return false;
    }
    const auto& steps = HistorySchemaSteps();
    for (int step = version; step < HistorySchemaVersion(); ++step) {
        for (const SchemaStep& statement : steps[static_cast<std::size_t>(step)]) {
            const char* sql = postgres && statement.postgresql != nullptr ? statement.postgresql : statement.sqlite;
            if (!Run(sql, {}, problem)) return false;
        }
    }
    if (version != HistorySchemaVersion()) {
        const std::string update = rows->empty() ? "INSERT INTO history_schema (version) VALUES (?)"
                                                 : "UPDATE history_schema SET version = ?";
        if (!Run(update, {Num(HistorySchemaVersion())}, problem)) return false;
    }
    return Run("COMMIT", {}, problem).has_value();
}

std::optional<std::int64_t> CHistoryStore::Begin(const HistoryStart& start, const HistoryStamp& stamp,
                                                 std::string& problem) {
    SqlValue imageName, imageSize, imageSha;
    if (!start.imagePath.empty()) {
        const std::size_t slash = start.imagePath.find_last_of('/');
        imageName = slash == std::string::npos ? start.imagePath : start.imagePath.substr(slash + 1);
        if (const auto digest = start.image ? DigestBytes(*start.image) : DigestFile(start.imagePath)) {
            imageSize = Num(digest->size);
            imageSha = digest->sha256;
        }
    }
    const auto rows = Run(
        "INSERT INTO history_jobs (kind, command, started_at, station, operator, backend, process_id, device_index, "
        "family, serial_before, chip, image_name, image_size, image_sha256, result) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
        {HistoryKindText(start.kind), start.command, stamp.at, stamp.station, stamp.operatorName, start.backend,
         Num(stamp.processId), Num(start.deviceIndex), Num(start.family), start.serial, start.chip, imageName,
         imageSize, imageSha, HistoryResultText(HistoryResult::Interrupted)},
        problem);
    if (!rows || rows->empty()) return std::nullopt;
    return Int(rows->front().at(0));
}

bool CHistoryStore::Complete(std::int64_t id, const HistoryEnd& end, const std::string& endedAt,
                             std::int64_t durationMs, std::string& problem) {
    // The record and its slots change together or not at all; a record
    // without slots is one statement (on a server, a round trip instead of three).
    const bool together = !end.slots.empty();
    if (together && !Run(db_->BeginWrite(), {}, problem)) return false;
    if (!Run("UPDATE history_jobs SET ended_at = ?, serial_after = ?, bytes_written = ?, verified = ?, result = ?, "
             "problems = ?, duration_ms = ?, backup_path = ? WHERE id = ?",
             {endedAt, end.serialAfter, Num(end.bytesWritten), Num(end.verified ? 1 : 0), HistoryResultText(end.result),
              Join(end.problems), Num(durationMs),
              end.backupPath.empty() ? SqlValue() : SqlValue(end.backupPath), Num(id)},
             problem)) {
        return false;
    }
    for (const SlotChange& change : end.slots) {
        if (!Run("INSERT INTO history_slots (job_id, area, slot, before_hex, after_hex, written) "
                 "VALUES (?, ?, ?, ?, ?, ?)",
                 {Num(id), change.accessory ? "accessory" : "info", Num(change.slot),
                  change.before ? SqlValue(HexBytes(*change.before)) : SqlValue(), HexBytes(change.after),
                  Num(change.written ? 1 : 0)},
                 problem)) {
            return false;
        }
    }
    return !together || Run("COMMIT", {}, problem).has_value();
}

std::optional<std::vector<HistoryRecord>> CHistoryStore::Query(const HistoryFilter& filter, std::string& problem) {
    std::string where;
    std::vector<SqlValue> params;
    auto add = [&](const std::string& condition) { where += (where.empty() ? " WHERE " : " AND ") + condition; };
    if (!filter.serial.empty()) {
        add("(serial_before = ? OR serial_after = ?)");
        params.insert(params.end(), {filter.serial, filter.serial});
    }
    if (!filter.imageSha256.empty()) {
        std::string sha = filter.imageSha256;
        std::transform(sha.begin(), sha.end(), sha.begin(), [](unsigned char c) { return std::tolower(c); });
        if (sha.size() == 64) {
            add("image_sha256 = ?");
            params.push_back(sha);
        } else {
            add("substr(image_sha256, 1, ?) = ?");
            params.insert(params.end(), {Num(static_cast<std::int64_t>(sha.size())), sha});
        }
    }
    if (!filter.imageName.empty()) {
        add("image_name = ?");
        params.push_back(filter.imageName);
    }
    if (!filter.since.empty()) {
        add("started_at >= ?");
        params.push_back(filter.since);
    }
    if (filter.failedOnly) add("result <> 'worked'");
    if (filter.result) {
        add("result = ?");
        params.push_back(HistoryResultText(*filter.result));
    }
    std::string sql = std::string("SELECT ") + kColumns + " FROM history_jobs" + where;
    // Limited: the newest records, shown oldest first like the others.
    if (filter.limit > 0) {
        sql = "SELECT * FROM (" + sql + " ORDER BY id DESC LIMIT " + std::to_string(filter.limit) + ") AS newest";
    }
    sql += " ORDER BY id";
    const auto rows = Run(sql, params, problem);
    if (!rows) return std::nullopt;

    std::vector<HistoryRecord> records;
    records.reserve(rows->size());
    std::map<std::int64_t, std::size_t> byId;
    for (const SqlRow& row : *rows) {
        HistoryRecord r;
        std::size_t c = 0;
        r.id = Int(row[c++]);
        r.kind = KindOf(Text(row[c++]));
        r.command = Text(row[c++]);
        r.startedAt = Text(row[c++]);
        r.endedAt = Text(row[c++]);
        r.station = Text(row[c++]);
        r.operatorName = Text(row[c++]);
        r.backend = Text(row[c++]);
        r.processId = Int(row[c++]);
        r.deviceIndex = static_cast<std::uint32_t>(Int(row[c++]));
        r.family = static_cast<std::uint32_t>(Int(row[c++]));
        r.serialBefore = Text(row[c++]);
        r.serialAfter = Text(row[c++]);
        r.chip = Text(row[c++]);
        r.imageName = Text(row[c++]);
        r.imageSize = Int(row[c++], -1);
        r.imageSha256 = Text(row[c++]);
        r.bytesWritten = static_cast<std::uint32_t>(Int(row[c++]));
        r.verified = Int(row[c++]) != 0;
        r.result = ResultOf(Text(row[c++]));
        r.problems = Split(Text(row[c++]));
        r.durationMs = Int(row[c++], -1);
        r.backupPath = Text(row[c++]);
        byId[r.id] = records.size();
        records.push_back(std::move(r));
    }
    if (records.empty()) return records;
    // The slots of the records found: by their ids when they are few, by
    // the range of their ids when they are many (one query either way).
    std::string slotSql = "SELECT job_id, area, slot, before_hex, after_hex, written FROM history_slots WHERE ";
    std::vector<SqlValue> ids;
    if (records.size() <= 200) {
        slotSql += "job_id IN (";
        for (const HistoryRecord& r : records) {
            slotSql += ids.empty() ? "?" : ", ?";
            ids.push_back(Num(r.id));
        }
        slotSql += ")";
    } else {
        slotSql += "job_id >= ? AND job_id <= ?";
        ids = {Num(records.front().id), Num(records.back().id)};
    }
    const auto slots = Run(slotSql + " ORDER BY job_id, slot", ids, problem);
    if (!slots) return std::nullopt;
    for (const SqlRow& row : *slots) {
        const auto it = byId.find(Int(row[0]));
        if (it == byId.end()) continue;
        SlotChange change;
        change.accessory = Text(row[1]) == "accessory";
        change.slot = static_cast<int>(Int(row[2]));
        if (row[3]) change.before = Unhex(*row[3]);
        change.after = Unhex(Text(row[4]));
        change.written = Int(row[5]) != 0;
        records[it->second].slots.push_back(std::move(change));
    }
    return records;
}

}  // namespace spindle
