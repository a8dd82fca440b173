#include "history/HistoryRecorder.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/INIFileSupport.h"
#include "platform/Format.h"

namespace spindle {

std::string DefaultHistoryPath() {
    const std::string settings = SettingsFilePath();
    if (settings.empty()) return {};
    return (std::filesystem::path(settings).parent_path() / "Spindle-history.db").string();
}

std::string StationName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
    return name;
}

std::string OperatorName() {
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr) {
        return entry->pw_name;
    }
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') return user;
    return StrPrintf("uid %u", static_cast<unsigned>(geteuid()));
}

std::string UtcNowText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return StrPrintf("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                     utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
}

CHistoryRecorder::CHistoryRecorder(IClock& clock) : clock_(clock), wallClock_(UtcNowText) {}

CHistoryRecorder::~CHistoryRecorder() = default;

void CHistoryRecorder::SetLocation(const std::string& location) {
    std::lock_guard lock(mutex_);
    if (location == location_) return;
    location_ = location;
    store_.reset();
    failed_ = false;
}

std::string CHistoryRecorder::Location() const {
    std::lock_guard lock(mutex_);
    return location_.empty() ? DefaultHistoryPath() : location_;
}

void CHistoryRecorder::SetBackend(const std::string& backend) {
    std::lock_guard lock(mutex_);
    backend_ = backend;
}

void CHistoryRecorder::FailLocked(const std::string& problem) {
    failed_ = true;
    store_.reset();
    if (!problem_) problem_ = problem + "\n\nThis run's jobs and writes go on, but are not recorded.";
}

CHistoryStore* CHistoryRecorder::StoreLocked() {
    if (failed_ || location_ == "off") return nullptr;
    if (!store_) {
        const std::string where = location_.empty() ? DefaultHistoryPath() : location_;
        if (where.empty()) {
            FailLocked("The production record has no place: no settings folder was found (HOME is not set).\n\n"
                       "Set SPINDLE_CONFIG_DIR, or name the record with --history.");
            return nullptr;
        }
        std::string problem;
        store_ = CHistoryStore::Open(where, options_, problem);
        if (!store_) FailLocked(problem);
    }
    return store_.get();
}

std::int64_t CHistoryRecorder::Start(HistoryStart start) {
    std::lock_guard lock(mutex_);
    CHistoryStore* store = StoreLocked();
    if (store == nullptr) return 0;
    if (!backend_.empty()) start.backend = backend_;
    HistoryStamp stamp{wallClock_(), StationName(), OperatorName(), static_cast<std::int64_t>(getpid())};
    std::string problem;
    const auto id = store->Begin(start, stamp, problem);
    if (!id) {
        FailLocked(problem);
        return 0;
    }
    startedMs_[*id] = clock_.NowMs();
    return *id;
}

void CHistoryRecorder::Complete(std::int64_t id, const HistoryEnd& end) {
    if (id == 0) return;
    std::lock_guard lock(mutex_);
    const auto started = startedMs_.find(id);
    const std::int64_t duration =
        started == startedMs_.end() ? 0 : static_cast<std::int64_t>(clock_.NowMs() - started->second);
    if (started != startedMs_.end()) startedMs_.erase(started);
    CHistoryStore* store = StoreLocked();
    if (store == nullptr) return;
    std::string problem;
    if (!store->Complete(id, end, wallClock_(), duration, problem)) FailLocked(problem);
}

void CHistoryRecorder::BeginValueWrites(const HistoryStart& start, const RawSlots* asRead) {
    std::lock_guard lock(mutex_);
    if (values_.depth++ > 0) return;
    values_ = ValueWrites{};
    values_.depth = 1;
    values_.thread = std::this_thread::get_id();
    values_.start = start;
    values_.start.kind = HistoryKind::Values;
    if (asRead != nullptr) {
        // The list's slots are the Lantern's accessory slots for a Lantern.
        const bool accessory = start.family == 5;
        for (const auto& [slot, bytes] : *asRead) {
            values_.lastRead[{accessory, slot}] = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
        }
    }
}

void CHistoryRecorder::EndValueWrites(bool ok, const std::vector<std::string>& problems) {
    std::int64_t id = 0;
    HistoryEnd end;
    {
        std::lock_guard lock(mutex_);
        if (values_.depth == 0 || --values_.depth > 0) return;
        if (!values_.started) return;
        id = values_.id;
        end.problems = problems;
        bool allWritten = true;
        const bool serialArea = values_.start.family == 5;
        end.serialAfter = values_.start.serial;
        for (const SlotChange& change : values_.changes) {
            allWritten = allWritten && change.written;
            if (!change.written) end.problems.push_back(StrPrintf("write slot %d", change.slot));
            if (change.written && change.slot == 0 && change.accessory == serialArea) {
                std::string serial(change.after.begin(), change.after.end());
                serial = serial.substr(0, serial.find('\0'));
                end.serialAfter = serial;
            }
        }
        end.result = ok && allWritten ? HistoryResult::Worked : HistoryResult::Failed;
        end.slots = std::move(values_.changes);
        values_ = ValueWrites{};
    }
    Complete(id, end);
}

void CHistoryRecorder::SlotRead(bool accessory, std::uint8_t slot, const std::uint8_t* bytes) {
    std::lock_guard lock(mutex_);
    if (values_.depth == 0 || values_.thread != std::this_thread::get_id()) return;
    values_.lastRead[{accessory, slot}] = std::vector<std::uint8_t>(bytes, bytes + 15);
}

void CHistoryRecorder::SlotWriting(bool accessory, std::uint8_t slot, const std::uint8_t* bytes) {
    bool first = false;
    HistoryStart start;
    {
        std::lock_guard lock(mutex_);
        if (values_.depth == 0 || values_.thread != std::this_thread::get_id()) return;
        SlotChange change;
        change.accessory = accessory;
        change.slot = slot;
        const auto read = values_.lastRead.find({accessory, slot});
        if (read != values_.lastRead.end()) change.before = read->second;
        change.after.assign(bytes, bytes + 15);
        values_.changes.push_back(std::move(change));
        first = !values_.started;
        values_.started = true;
        start = values_.start;
    }
    // The record exists before the first byte is sent.
    if (first) {
        const std::int64_t id = Start(start);
        std::lock_guard lock(mutex_);
        values_.id = id;
    }
}

void CHistoryRecorder::SlotWritten(bool accessory, std::uint8_t slot, bool ok) {
    std::lock_guard lock(mutex_);
    if (values_.depth == 0 || values_.thread != std::this_thread::get_id()) return;
    for (auto it = values_.changes.rbegin(); it != values_.changes.rend(); ++it) {
        if (it->accessory == accessory && it->slot == slot) {
            it->written = ok;
            if (ok) values_.lastRead[{accessory, slot}] = it->after;
            break;
        }
    }
}

std::optional<std::string> CHistoryRecorder::TakeProblem() {
    std::lock_guard lock(mutex_);
    // Once taken, later problems stay quiet: `failed_` keeps the store shut.
    std::optional<std::string> problem = std::move(problem_);
    problem_.reset();
    return problem;
}

std::optional<std::vector<HistoryRecord>> CHistoryRecorder::Query(const HistoryFilter& filter, std::string& problem) {
    std::lock_guard lock(mutex_);
    if (location_ == "off") {
        problem = "The production record is switched off (History=off).";
        return std::nullopt;
    }
    if (!store_) {
        const std::string where = location_.empty() ? DefaultHistoryPath() : location_;
        store_ = CHistoryStore::Open(where, options_, problem);
        if (!store_) return std::nullopt;
    }
    return store_->Query(filter, problem);
}

}  // namespace spindle
