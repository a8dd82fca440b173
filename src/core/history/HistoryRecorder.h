#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "history/HistoryRecord.h"
#include "history/HistoryStore.h"
#include "platform/Clock.h"
#include "platform/SlotJournal.h"
#include "protocol/RawSlots.h"

namespace spindle {

// The history database file of this user: "Spindle-history.db" in the
// settings folder (empty when there is none).
std::string DefaultHistoryPath();
// This machine's name and the login name of the user running the program.
std::string StationName();
std::string OperatorName();
// The time now as UTC text, "2026-12-08T21:32:06.123Z".
std::string UtcNowText();

// Writes the production record for the main frame: a record when a job
// starts, completed when it ends, and a record for the slot writes a
// command makes. Safe to call from the workers. The store is opened at the
// first record; once it fails, the problem is kept to be shown once and
// nothing more is recorded in this run, so a broken store never holds a job
// up twice.
class CHistoryRecorder final : public ISlotJournal {
public:
    explicit CHistoryRecorder(IClock& clock);
    ~CHistoryRecorder() override;

    // A file path or a server URL; empty: DefaultHistoryPath(). "off"
    // records nothing.
    void SetLocation(const std::string& location);
    std::string Location() const;
    void SetBackend(const std::string& backend);
    void SetStoreOptions(const CHistoryStore::Options& options) { options_ = options; }
    // The wall clock the records' times come from (tests fix it).
    void SetWallClock(std::function<std::string()> now) { wallClock_ = std::move(now); }

    // A job starts: its record, written now. 0 when it was not recorded.
    std::int64_t Start(HistoryStart start);
    // The job ended (any thread). Nothing for id 0.
    void Complete(std::int64_t id, const HistoryEnd& end);

    // Slot writes the calling thread makes between these two go into one
    // "values" record, started at the first write (a command that writes
    // nothing leaves no record). `asRead` gives the bytes the slots held
    // when the operator's list was read, for slots the command writes
    // without reading them again. Calls nest; the outermost pair counts.
    void BeginValueWrites(const HistoryStart& start, const RawSlots* asRead);
    void EndValueWrites(bool ok, const std::vector<std::string>& problems);

    // The first problem met with the store, once; nullopt afterwards.
    std::optional<std::string> TakeProblem();

    // Reads records (opens the store when needed). `problem` says why not.
    std::optional<std::vector<HistoryRecord>> Query(const HistoryFilter& filter, std::string& problem);

    // ISlotJournal
    void SlotRead(bool accessory, std::uint8_t slot, const std::uint8_t* bytes) override;
    void SlotWriting(bool accessory, std::uint8_t slot, const std::uint8_t* bytes) override;
    void SlotWritten(bool accessory, std::uint8_t slot, bool ok) override;

private:
    CHistoryStore* StoreLocked();
    void FailLocked(const std::string& problem);

    IClock& clock_;
    mutable std::mutex mutex_;
    std::string location_;
    std::string backend_;
    CHistoryStore::Options options_;
    std::function<std::string()> wallClock_;
    std::unique_ptr<CHistoryStore> store_;
    bool failed_ = false;
    std::optional<std::string> problem_;
    std::map<std::int64_t, std::uint64_t> startedMs_;

    // The value-write record of the thread that began it.
    struct ValueWrites {
        int depth = 0;
        std::thread::id thread;
        HistoryStart start;
        std::int64_t id = 0;
        bool started = false;
        std::map<std::pair<bool, int>, std::vector<std::uint8_t>> lastRead;
        std::vector<SlotChange> changes;
    };
    ValueWrites values_;
};

}  // namespace spindle
