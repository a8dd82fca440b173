// The production record: what a job's record keeps and how it is found
// again, the schema's migration, the problems named for the operator, and
// the recorder's value writes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <thread>

#include "history/HistoryBrowser.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "history/HistoryText.h"
#include "platform/VirtualClock.h"
#include "support/TempFolder.h"

namespace spindle {
namespace {

HistoryStart JobStart(const std::string& serial, const std::string& image = {}) {
    return {.command = "Program", .backend = "bench", .deviceIndex = 3, .family = 4, .serial = serial, .chip = "ezusb",
            .imagePath = image};
}

constexpr const char* kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

HistoryStamp Stamp(const std::string& at) { return {at, "station-1", "operator", 0}; }

std::string Write(const std::string& path, const std::string& bytes) { return test::WriteWholeFile(path, bytes), path; }

struct HistoryTest : ::testing::Test {
    test::TempFolder folder;
    std::string problem;
    VirtualClock clock;
    CHistoryRecorder recorder{clock};
};

// The same store on both engines: an SQLite file in the test's folder, or a
// schema of its own on the PostgreSQL server SPINDLE_TEST_POSTGRES names
// (ctest starts one; without it the PostgreSQL cases skip, or fail when
// SPINDLE_TEST_REQUIRE_POSTGRES is set).
struct HistoryStoreTest : HistoryTest, ::testing::WithParamInterface<std::string> {
    void SetUp() override {
        if (!Postgres()) return;
        const char* url = std::getenv("SPINDLE_TEST_POSTGRES");
        server = url != nullptr ? url : "";
        SqlError error{SqlFailure::CannotOpen, "SPINDLE_TEST_POSTGRES names no server"};
        if (!server.empty()) admin = OpenPostgres(server, std::chrono::seconds(5), error);
        if (admin) return;
        if (std::getenv("SPINDLE_TEST_REQUIRE_POSTGRES") != nullptr) FAIL() << "no PostgreSQL server: " << error.text;
        GTEST_SKIP() << "no PostgreSQL server to test on: " << error.text;
    }
    bool Postgres() const { return GetParam() == "postgresql"; }
    // The store called `name` in this test, made empty the first time.
    std::string Location(const std::string& name = "history") {
        if (!Postgres()) return folder.File(name + ".db");
        const std::string schema = "spindle_" + std::to_string(getpid()) + "_" + name;
        SqlError error;
        if (schemas.insert(schema).second) {
            EXPECT_TRUE(admin->Run("DROP SCHEMA IF EXISTS " + schema + " CASCADE", {}, error) &&
                        admin->Run("CREATE SCHEMA " + schema, {}, error))
                << error.text;
        }
        return server + (server.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
    }
    std::unique_ptr<CHistoryStore> Open(const std::string& name = "history") {
        std::string why;
        auto store = CHistoryStore::Open(Location(name), {}, why);
        EXPECT_TRUE(store) << why;
        return store;
    }
    std::string server;
    std::unique_ptr<ISqlConnection> admin;
    std::set<std::string> schemas;
};

INSTANTIATE_TEST_SUITE_P(Engines, HistoryStoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// What only a file can be: damaged, read-only, in a folder that cannot be.
using HistoryStoreFileTest = HistoryTest;

TEST_P(HistoryStoreTest, RecordsReadBackAndFilter) {
    const std::string image = Write(folder.File("fw.iic"), "abc");
    auto store = Open();
    const auto worked = store->Begin(JobStart("OSP1", image), Stamp("2026-11-30T10:00:00.000Z"), problem);
    // A job names the bytes it loaded, not what the file holds by the time its record starts.
    Write(image, "abcd");
    HistoryStart loaded = JobStart("OSP2", image);
    loaded.image = std::make_shared<const std::string>("abc");
    const auto failed = store->Begin(loaded, Stamp("2026-12-02T10:00:00.000Z"), problem);
    const auto killed = store->Begin(JobStart("OSP3"), Stamp("2026-12-03T10:00:00.000Z"), problem);
    ASSERT_TRUE(worked && failed && killed) << problem;
    const HistoryEnd end{.result = HistoryResult::Worked, .verified = true,
                         .slots = {{false, 0, std::vector<std::uint8_t>{'A', 0}, {'B', 0}, true},
                                   {true, 2, std::nullopt, {0xFF}, false}}};
    ASSERT_TRUE(store->Complete(*worked, end, "2026-11-30T10:00:01.000Z", 1000, problem)) << problem;
    const HistoryEnd bad{.problems = {"write the image", "read the image back"}};
    ASSERT_TRUE(store->Complete(*failed, bad, "2026-12-02T10:00:01.000Z", 5, problem)) << problem;

    const auto all = store->Query({}, problem);
    ASSERT_EQ(all->size(), 3u) << problem;
    const HistoryRecord& first = (*all)[0];
    EXPECT_EQ(first.imageName, "fw.iic");
    EXPECT_EQ(first.imageSize, 3);
    EXPECT_EQ(first.imageSha256, kAbcSha256);
    EXPECT_TRUE(first.verified);
    EXPECT_EQ(first.durationMs, 1000);
    ASSERT_EQ(first.slots.size(), 2u);
    EXPECT_EQ(SlotChangeText(first.slots[1]), "accessory 2: ?->ff (failed)");
    EXPECT_EQ((*all)[1].problems, bad.problems);
    EXPECT_TRUE((*all)[2].result == HistoryResult::Interrupted && (*all)[2].endedAt.empty());

    auto count = [&](HistoryFilter filter) { return store->Query(filter, problem)->size(); };
    EXPECT_EQ(count({.serial = "OSP2"}), 1u);
    EXPECT_EQ(count({.imageSha256 = "BA7816BF"}), 2u);
    EXPECT_EQ(count({.imageName = "fw.iic"}), 2u);
    EXPECT_EQ(count({.since = "2026-12-01"}), 2u);
    EXPECT_EQ(count({.failedOnly = true}), 2u);
    EXPECT_EQ(count({.limit = 1}), 1u);
}

TEST_P(HistoryStoreTest, TwoWritersAtOnceLoseNothing) {
    Open();  // the schema, once
    auto writer = [this, location = Location()] {
        std::string why;
        auto store = CHistoryStore::Open(location, {}, why);
        for (int i = 0; store && i < 40; ++i) {
            const auto id = store->Begin(JobStart("W"), Stamp("2026-12-01T00:00:00.000Z"), why);
            if (id) store->Complete(*id, {}, "2026-12-01T00:00:01.000Z", 1, why);
        }
    };
    std::thread a(writer), b(writer);
    a.join();
    b.join();
    EXPECT_EQ(Open()->Query({.serial = "W"}, problem)->size(), 80u) << problem;
}

TEST_P(HistoryStoreTest, MigratesFromTheFirstSchema) {
    {
        SqlError error;
        auto db = Postgres() ? OpenPostgres(Location("old"), std::chrono::milliseconds(100), error)
                             : OpenSqlite(Location("old"), std::chrono::milliseconds(100), error);
        ASSERT_TRUE(db) << error.text;
        for (const SchemaStep& step : HistorySchemaSteps()[0]) {
            const char* sql = Postgres() && step.postgresql != nullptr ? step.postgresql : step.sqlite;
            ASSERT_TRUE(db->Run(sql, {}, error)) << error.text;
        }
        for (const char* sql : {"CREATE TABLE history_schema (version INTEGER NOT NULL)",
                                "INSERT INTO history_schema VALUES (1)",
                                "INSERT INTO history_jobs (kind, command, started_at, station, operator, backend, "
                                "device_index, family, serial_before, chip, result) VALUES ('eeprom', 'Program', "
                                "'2026-01-01T00:00:00.000Z', 's', 'o', 'usb', 2, 4, 'OLD1', 'ezusb', 'worked')"}) {
            ASSERT_TRUE(db->Run(sql, {}, error)) << error.text;
        }
    }
    auto store = Open("old");
    const auto id = store->Begin(JobStart("NEW1"), Stamp("2026-12-01T00:00:00.000Z"), problem);
    const HistoryEnd end{.slots = {{false, 5, std::nullopt, {1}, true}}};
    ASSERT_TRUE(id && store->Complete(*id, end, "2026-12-01T00:00:01.000Z", 1, problem)) << problem;
    const auto records = store->Query({}, problem);
    ASSERT_EQ(records->size(), 2u);
    EXPECT_EQ((*records)[0].serialBefore, "OLD1");
    EXPECT_EQ((*records)[1].slots.size(), 1u);
}

TEST_P(HistoryStoreTest, ALockHeldTooLongIsNamed) {
    // Another process holds the write lock for longer than the store waits.
    auto holder = Open("locked");
    SqlError error;
    ASSERT_TRUE(holder->Connection().Run(holder->Connection().BeginWrite(), {}, error) &&
                (!Postgres() || holder->Connection().Run("LOCK TABLE history_jobs IN EXCLUSIVE MODE", {}, error)))
        << error.text;
    auto waiter = CHistoryStore::Open(Location("locked"), {std::chrono::milliseconds(20)}, problem);
    EXPECT_TRUE(!waiter || !waiter->Begin(JobStart("X"), Stamp("t"), problem));
    EXPECT_NE(problem.find("locked by another process"), std::string::npos) << problem;
}

TEST_F(HistoryStoreFileTest, ProblemsNameThePlaceAndTheFix) {
    const std::string corrupt = Write(folder.File("corrupt.db"), std::string(4096, 'x'));
    EXPECT_FALSE(CHistoryStore::Open(corrupt, {}, problem));
    EXPECT_NE(problem.find(corrupt + " is damaged"), std::string::npos) << problem;
    EXPECT_NE(problem.find("Move the file aside"), std::string::npos) << problem;
    // The recorder reports it once and keeps out for the rest of the run.
    recorder.SetLocation(corrupt);
    EXPECT_EQ(recorder.Start(JobStart("A")), 0);
    EXPECT_NE(recorder.TakeProblem().value_or("").find("not recorded"), std::string::npos);
    EXPECT_EQ(recorder.Start(JobStart("B")), 0);
    EXPECT_FALSE(recorder.TakeProblem());
    const std::string blocker = Write(folder.File("plain-file"), "x");
    EXPECT_FALSE(CHistoryStore::Open(blocker + "/history.db", {}, problem));
    EXPECT_NE(problem.find("cannot be opened"), std::string::npos) << problem;
    // A server that is not there: named without its password.
    EXPECT_FALSE(CHistoryStore::Open("postgresql://line:secret@/spindle?password=secret&host=" + folder.File("none"),
                                     {}, problem));
    EXPECT_NE(problem.find("on the server postgresql://line:***@/spindle"), std::string::npos) << problem;
    EXPECT_EQ(problem.find("secret"), std::string::npos) << problem;

    if (geteuid() != 0) {  // root writes a read-only file all the same
        CHistoryStore::Open(folder.File("ro.db"), {}, problem);
        chmod(folder.File("ro.db").c_str(), 0444);
        EXPECT_FALSE(CHistoryStore::Open(folder.File("ro.db"), {}, problem));
        EXPECT_NE(problem.find("is read-only"), std::string::npos) << problem;
    }
}

TEST_P(HistoryStoreTest, TheRecordersValueWritesKeepEachSlotBeforeAndAfter) {
    recorder.SetLocation(Location());
    const std::uint8_t oldSerial[15] = {'O', 'L', 'D'}, newSerial[15] = {'N', 'E', 'W'}, other[15] = {'7'};
    RawSlots asRead;
    asRead[3] = RawSlot{'3'};
    recorder.BeginValueWrites(JobStart("OLD"), &asRead);
    recorder.SlotRead(false, 0, oldSerial);
    recorder.SlotWriting(false, 0, newSerial);
    clock.Sleep(200);
    recorder.SlotWritten(false, 0, true);
    recorder.SlotWriting(false, 3, other);
    recorder.SlotWritten(false, 3, false);
    recorder.EndValueWrites(true, {});
    // A command that writes nothing leaves no record.
    recorder.BeginValueWrites(JobStart("NEW"), nullptr);
    recorder.EndValueWrites(true, {});
    const auto records = recorder.Query({}, problem);
    ASSERT_EQ(records->size(), 1u) << problem;
    const HistoryRecord& r = records->front();
    EXPECT_EQ(r.kind, HistoryKind::Values);
    EXPECT_EQ(r.serialAfter, "NEW");
    EXPECT_EQ(r.result, HistoryResult::Failed);
    EXPECT_EQ(r.problems, std::vector<std::string>{"write slot 3"});
    EXPECT_EQ(r.durationMs, 200);
    ASSERT_EQ(r.slots.size(), 2u);
    EXPECT_EQ(SlotChangeText(r.slots[1]).substr(0, 10), "info 3: 33");
}

// The operator's filters as typed, the table's rows and the CSV export.
TEST_F(HistoryStoreFileTest, TheBrowserFiltersAsTypedAndExportsWhatItShows) {
    const std::string image = Write(folder.File("fw.iic"), "abc");
    EXPECT_EQ(HistoryFilterFor({.image = image}, problem)->imageSha256, std::string(kAbcSha256));
    EXPECT_EQ(HistoryFilterFor({.image = "/elsewhere/fw2.iic"}, problem)->imageName, "fw2.iic");
    EXPECT_FALSE(HistoryFilterFor({.image = folder.File("")}, problem));
    EXPECT_NE(problem.find("not a regular file"), std::string::npos) << problem;
    EXPECT_EQ(HistoryFilterFor({.since = "2026-12-01 08:00Z"}, problem)->since, "2026-12-01T08:00");

    const std::string at = "2026-12-01T08:00:00.000Z";
    recorder.SetLocation(folder.File("h.db"));
    recorder.SetWallClock([at] { return at; });
    recorder.Complete(recorder.Start(JobStart("OSP1", image)),
                      {.result = HistoryResult::Worked, .serialAfter = "OSP9", .verified = true});
    recorder.Complete(recorder.Start(JobStart("OSP2")), {.problems = {"write the image", "read it back"}});
    recorder.Start(JobStart("OSP3"));
    CHistoryBrowser browser(recorder);
    ASSERT_TRUE(browser.Show(*HistoryFilterFor({.result = HistoryResult::Failed}, problem), problem)) << problem;
    ASSERT_EQ(browser.Records().size(), 1u);
    EXPECT_EQ(browser.Row(0), (std::vector<std::string>{"2", at, "eeprom", "Program", "Ezusb-3", "OSP2", "-", "",
                                                        "failed", "write the image; read it back", StationName(),
                                                        OperatorName()}));
    ASSERT_TRUE(browser.Show({}, problem));
    EXPECT_EQ(browser.Cell(0, 5) + " " + browser.Cell(0, 6) + " " + browser.Cell(0, 8),
              "OSP1->OSP9 fw.iic ba7816bf8f01 worked, verified");

    ASSERT_TRUE(browser.ExportCsv(folder.File("out.csv"), problem)) << problem;
    const std::string csv = test::ReadWholeFile(folder.File("out.csv"));
    EXPECT_NE(csv.find(",failed,write the image; read it back,"), std::string::npos) << csv;
    EXPECT_FALSE(browser.ExportCsv(folder.File("no/such/folder/out.csv"), problem));
    EXPECT_NE(problem.find("no/such/folder/out.csv"), std::string::npos) << problem;
}

}  // namespace
}  // namespace spindle
