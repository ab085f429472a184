// A full queue scan under every failure of a file operation it makes: each
// open, read, write, sync, truncate, lock and delete on the database files
// and their journals fails in turn. The scan then reports an error and the
// files read exactly as before; a fault that SQLite rides out leaves exactly
// what a clean scan leaves.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/testing/fault_env.h"
#include "demo_data.h"
#include "tormel/queue_engine.h"

namespace tormel {
namespace {

namespace fs = std::filesystem;
using oskara::FileOp;
using oskara::test_support::FaultEnv;

// Faults in the files SQLite reads and writes only: the lock-information file
// is not needed to scan (the database opens without it), so a failure there
// is no failure of the scan.
class DatabaseFaults : public FaultEnv {
 public:
  int open(const std::string& path, int flags, mode_t mode, int& fd) override {
    return EnvWrapper::open(path, flags, mode, fd);
  }
  int read(int fd, void* data, size_t size, off_t offset, size_t& done) override {
    return EnvWrapper::read(fd, data, size, offset, done);
  }
  int write(int fd, const void* data, size_t size, off_t offset) override {
    return EnvWrapper::write(fd, data, size, offset);
  }
  int lock(int fd, int command, struct flock& range) override { return EnvWrapper::lock(fd, command, range); }
};

// Every row of every table of the three files, and their integrity checks, as
// a fresh connection reads them (which first rolls back what a failed commit
// left in a journal).
using Contents = std::map<std::string, std::vector<std::string>>;

void readRows(sqlite3* db, const std::string& sql, std::vector<std::string>& rows) {
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row += (text ? reinterpret_cast<const char*>(text) : "NULL") + std::string("|");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
}

Contents contents(const fs::path& dir) {
  Contents all;
  for (const char* file : {"dt.db", "ar.db", "so.db"}) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((dir / file).c_str(), &db), SQLITE_OK);
    std::vector<std::string> tables;
    readRows(db, "PRAGMA integrity_check", all[std::string(file) + " integrity"]);
    readRows(db, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name", tables);
    for (std::string& table : tables) {
      table.pop_back();  // the separator
      readRows(db, "SELECT * FROM \"" + table + "\" ORDER BY rowid", all[std::string(file) + " " + table]);
    }
    sqlite3_close(db);
  }
  return all;
}

// The pristine files copied over the working ones, journals and lock files removed.
void restore(const fs::path& pristine, const fs::path& work) {
  fs::remove_all(work);
  fs::copy(pristine, work);
}

struct Outcome {
  bool ok = false;
  int32_t lErr = 0;
  std::string sError;
};

Outcome scan(const fs::path& dir) {
  Outcome outcome;
  QueueEngine engine;
  outcome.ok = engine.ProcessQueue((dir / "dt.db").string(), (dir / "ar.db").string(), (dir / "so.db").string(),
                                   outcome.lErr, outcome.sError);
  return outcome;
}

TEST(ScanFaults, EveryFailedFileOperationFailsTheScanAndLeavesTheFilesAsTheyWere) {
  oskara::FixedClock clock(oskara::DateTime::fromParts(2026, 12, 7, 10, 30, 0));
  oskara::ScopedClock scopedClock(clock);
  const fs::path root = fs::temp_directory_path() / ("tormel-faults-" + std::to_string(getpid()));
  fs::remove_all(root);
  const fs::path pristine = root / "pristine", work = root / "work";
  oskara::tool::createDemoDatabases(pristine, {.customers = 12, .seed = 3});
  const Contents before = contents(pristine);

  // A clean scan: what it leaves, and how many operations of each kind it makes.
  restore(pristine, work);
  std::map<FileOp, int> points;
  {
    DatabaseFaults counting;
    ASSERT_TRUE(scan(work).ok);
    for (FileOp op : {FileOp::Open, FileOp::Read, FileOp::Write, FileOp::Sync, FileOp::Truncate, FileOp::Lock,
                      FileOp::Delete})
      points[op] = counting.count(op);
  }
  const Contents scanned = contents(work);
  ASSERT_NE(scanned, before);
  ASSERT_GT(points[FileOp::Write], 0);
  ASSERT_GT(points[FileOp::Sync], 0);

  int failedScans = 0, riddenOut = 0;
  for (const auto& [op, count] : points) {
    for (int nth = 1; nth <= count; ++nth) {
      SCOPED_TRACE("operation " + std::to_string(static_cast<int>(op)) + " number " + std::to_string(nth));
      restore(pristine, work);
      Outcome outcome;
      {
        DatabaseFaults faults;
        faults.failNth(op, nth);
        outcome = scan(work);
        ASSERT_TRUE(faults.failed());
      }
      if (outcome.ok) {
        ++riddenOut;
        EXPECT_EQ(contents(work), scanned);
      } else {
        ++failedScans;
        EXPECT_NE(outcome.lErr, 0);
        EXPECT_FALSE(outcome.sError.empty());
        EXPECT_EQ(contents(work), before) << outcome.sError;
      }
    }
  }
  // Most failures stop the scan; SQLite rides out a few of them.
  EXPECT_GT(failedScans, riddenOut);
  fs::remove_all(root);
}

}  // namespace
}  // namespace tormel
