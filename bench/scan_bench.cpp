// A full queue update: ProcessQueue with every rule on (queue reset
// included) on demo data, against a baseline in the same run that writes
// the same queue with a handful of set-based SQLite statements written by
// hand. Both must queue the same number of customers under every reason code,
// or the benchmark fails.
//
// Every measured run is a child process (this program again, told what to
// run), so that its peak resident memory is its own and runs do not mix. The
// child times the scan itself: opening the files, the scan's transaction and
// its commit; making the demo data, copying it and counting the queue are
// outside the timing. The demo data of each size is made once per run of this
// program and copied afresh for every measured run.
//
//   scan_bench [--sizes=100000,1000000] [benchmark options]
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "contract/options.h"
#include "core/clock.h"
#include "demo_data.h"
#include "directdb/sqlite_file.h"
#include "tormel/queue_engine.h"

namespace oskara::bench {
namespace {

namespace fs = std::filesystem;
using contract::optionName;
using contract::ScanOptions;
using directdb::SqliteFile;

constexpr int kReasons = 10;  // reason codes 1 to 10
using QueueCounts = std::array<int64_t, kReasons + 1>;  // by reason code; [0] for any other

// What one measured run reports.
struct RunResult {
  double seconds = 0;     // wall-clock time of the scan
  double cpuSeconds = 0;  // processor time of the scan (user and system)
  int64_t peakKiB = 0;    // peak resident memory of the child process
  QueueCounts counts{};
  uint64_t digest = 0;  // outcomeDigest
};

// --- the child: one scan, then its report on standard output ---------------

double cpuSecondsNow() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void check(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

// A plain SQLite statement with text parameters bound by name.
void run(sqlite3* db, const std::string& sql, const std::map<std::string, std::string>& text = {},
         const std::map<std::string, double>& numbers = {}) {
  sqlite3_stmt* stmt = nullptr;
  check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), "prepare " + sql);
  for (const auto& [name, value] : text) {
    if (int i = sqlite3_bind_parameter_index(stmt, name.c_str()))
      sqlite3_bind_text(stmt, i, value.c_str(), -1, SQLITE_TRANSIENT);
  }
  for (const auto& [name, value] : numbers) {
    if (int i = sqlite3_bind_parameter_index(stmt, name.c_str())) sqlite3_bind_double(stmt, i, value);
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  sqlite3_finalize(stmt);
  check(db, rc, "run " + sql);
}

double optionNumber(sqlite3* db, std::string_view field) {
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = "SELECT " + std::string(field) + " FROM tblDTOptions";
  check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), "read option");
  double value = 0;
  if (sqlite3_step(stmt) == SQLITE_ROW) value = sqlite3_column_double(stmt, 0);  // Null reads as 0
  sqlite3_finalize(stmt);
  return value;
}

// The total debt of the credit-limit and follow-up rules, and that of the ageing rules.
constexpr const char* kTotalDue =
    "(s.CurAmtDue+s.BalAge1+s.BalAge2+s.BalAge3+s.BalAge4-s.UnapplCredit+s.UnpaidFinch)";
constexpr const char* kAgedTotal =
    "(s.BalAge1+s.BalAge2+s.BalAge3+s.BalAge4-s.UnapplCredit+s.NewFinch+s.UnpaidFinch)";
// The first call-log header of a customer, as the engine's GetLogID finds it; 0 for none.
constexpr const char* kFirstLogId =
    "COALESCE((SELECT MIN(g.LogID) FROM tblDtCallLogHeader g WHERE g.CustID = %s), 0)";

std::string firstLogId(const std::string& custId) {
  char text[256];
  std::snprintf(text, sizeof text, kFirstLogId, custId.c_str());
  return text;
}

// The id the ageing rules link a queued customer to: the engine's UPDATE over
// the join of the queue with the call-log headers meets a customer's headers
// in LogID order, and the last one stays.
std::string lastLogId(const std::string& custId) {
  return "(SELECT MAX(g.LogID) FROM tblDtCallLogHeader g WHERE g.CustID = " + custId + ")";
}

// The baseline's page cache per database, the engine's own (PRAGMA
// cache_size in the engine's connection setup): 64 MiB for the DT file and
// as much for its AR link. Temporary tables live in memory.
constexpr const char* kCacheSize = "-65536";

// Queues the customers of `candidates` (CustID, LogID; one row per customer)
// who are not in the queue yet and whose call-log id no other queue row
// carries, and copies the remark to their call-log headers: what the queue
// writer does for each customer of a record-by-record rule. The rows a rule
// adds are those above the queue's highest QueueID before it, so the remark
// reaches their headers through the primary key, without a pass over the
// queue.
void queueCandidates(sqlite3* db, const std::string& candidates, int code, const std::string& remark,
                     const std::map<std::string, std::string>& now) {
  std::map<std::string, std::string> text = now;
  text[":remark"] = remark;
  run(db, "DELETE FROM temp.mark");
  run(db, "INSERT INTO temp.mark SELECT COALESCE(MAX(QueueID), 0) FROM tblDTQueue");
  run(db,
      "INSERT INTO tblDTQueue (CustID, TransType, Remark, EntryDate, EntryTime, LogID) "
      "SELECT c.CustID, " + std::to_string(code) + ", :remark, :today, :time, c.LogID FROM (" + candidates +
          ") AS c "
          "WHERE NOT EXISTS (SELECT 1 FROM tblDTQueue q WHERE q.CustID = c.CustID) "
          "AND (c.LogID = 0 OR NOT EXISTS (SELECT 1 FROM tblDTQueue q WHERE q.LogID = c.LogID))",
      text);
  run(db,
      "UPDATE tblDtCallLogHeader SET SystemRemark = :remark WHERE LogID IN "
      "(SELECT LogID FROM tblDTQueue WHERE QueueID > (SELECT since FROM temp.mark) AND LogID <> 0)",
      text);
}

// The scan rules in the engine's order, as set-based statements.
void baselineScan(const fs::path& dir) {
  sqlite3* db = nullptr;
  check(db, sqlite3_open_v2((dir / "dt.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), "open dt.db");
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
  run(db, "ATTACH DATABASE '" + (dir / "ar.db").string() + "' AS ar");
  run(db, "PRAGMA main.journal_mode=DELETE");
  run(db, std::string("PRAGMA main.cache_size=") + kCacheSize);
  run(db, std::string("PRAGMA ar.cache_size=") + kCacheSize);
  run(db, "PRAGMA temp_store=MEMORY");

  const DateTime clock = currentClock().now();
  const std::map<std::string, std::string> now{
      {":today", clock.datePart().toIso()}, {":time", clock.timePart().toIso()}, {":now", clock.toIso()}};
  const auto followUp1Days =
      static_cast<int64_t>(optionNumber(db, optionName(&ScanOptions::Chk_FollowUp1_x)));
  const auto followUp2Days =
      static_cast<int64_t>(optionNumber(db, optionName(&ScanOptions::Chk_FollowUp2_x)));
  const double nearLimitAmount = optionNumber(db, optionName(&ScanOptions::Chk_NearLimit_Amt));

  run(db, "BEGIN");
  run(db, "CREATE TEMP TABLE mark (since INTEGER)");
  run(db, "UPDATE tblDTOptions SET LastQueueProc = :now", now);
  // Queue reset.
  run(db, "UPDATE tblDtCallLogHeader SET SystemRemark = NULL WHERE LogID IN (SELECT LogID FROM tblDTQueue)");
  run(db, "DELETE FROM tblDTQueue");

  // Call-backs, broken promises, follow-ups. A follow-up rule's record-by-record
  // scan meets a customer's headers in LogID order and queues the first that
  // qualifies.
  queueCandidates(db,
                  "SELECT h.CustID AS CustID, " + firstLogId("h.CustID") +
                      " AS LogID FROM tblDtCallLogHeader h WHERE h.ToCallBack = 1 GROUP BY h.CustID",
                  9, "To call back the customer.", now);
  queueCandidates(db,
                  "SELECT h.CustID AS CustID, MIN(h.LogID) AS LogID FROM tblDtCallLogHeader h "
                  "JOIN ar.tblArCustHist s ON h.CustID = s.CustId WHERE " + std::string(kTotalDue) + " > 0 "
                  "AND h.PromisedPayDate IS NOT NULL AND h.PromisedPayDate < '" + now.at(":today") + "' "
                  "AND (s.LastPayDate IS NULL OR s.LastPayDate < h.LastConversationDate) "
                  "AND julianday('" + now.at(":today") + "') - julianday(date(h.LastConversationDate)) >= " +
                      std::to_string(followUp2Days) + " GROUP BY h.CustID",
                  8,
                  "Follow-Up since last call made more than " + numberText(followUp2Days) +
                      " days ago and payment was promised but not yet received.",
                  now);
  queueCandidates(db,
                  "SELECT h.CustID AS CustID, MIN(h.LogID) AS LogID FROM tblDtCallLogHeader h "
                  "JOIN ar.tblArCustHist s ON h.CustID = s.CustId WHERE " + std::string(kTotalDue) + " > 0 "
                  "AND COALESCE(h.LastConversationDate, '2099-01-01') > COALESCE(s.LastPayDate, '1968-01-01') "
                  "AND julianday('" + now.at(":today") + "') - "
                  "julianday(date(COALESCE(h.LastConversationDate, '1968-01-01'))) >= " +
                      std::to_string(followUp1Days) + " GROUP BY h.CustID",
                  7,
                  "Follow-Up since last call made more than " + numberText(followUp1Days) +
                      " days ago and no payment was received.",
                  now);

  // Overdue, oldest band first: one pass, each customer under the oldest
  // band it owes in. The ageing rules link every queued customer with a
  // call-log header to its last header and write no remark: the new rows
  // take that id as they are added (0 without a header), the follow-up rows
  // before them are linked again.
  run(db, "DELETE FROM temp.mark");
  run(db, "INSERT INTO temp.mark SELECT COALESCE(MAX(QueueID), 0) FROM tblDTQueue");
  run(db,
      "INSERT INTO tblDTQueue (CustID, TransType, Remark, EntryDate, EntryTime, LogID) "
      "SELECT s.CustId, CASE WHEN s.BalAge4 > 0 THEN 5 WHEN s.BalAge3 > 0 THEN 4 WHEN s.BalAge2 > 0 THEN 3 ELSE 2 END, "
      "CASE WHEN s.BalAge4 > 0 THEN 'Account 120 days overdue.' WHEN s.BalAge3 > 0 THEN 'Account 90 days overdue.' "
      "WHEN s.BalAge2 > 0 THEN 'Account 60 days overdue.' ELSE 'Account 30 days overdue.' END, :today, :time, "
      "COALESCE(" + lastLogId("s.CustId") + ", 0)"
          " FROM ar.tblArCust c JOIN ar.tblArCustHist s ON c.CustId = s.CustId "
          "WHERE " + kAgedTotal + " > 0 AND (s.BalAge4 > 0 OR s.BalAge3 > 0 OR s.BalAge2 > 0 OR s.BalAge1 > 0) "
          "AND c.CreditHold = 0 AND NOT EXISTS (SELECT 1 FROM tblDTQueue q WHERE q.CustID = s.CustId)",
      now);
  run(db,
      "UPDATE tblDTQueue SET LogID = " + lastLogId("tblDTQueue.CustID") +
          " WHERE QueueID <= (SELECT since FROM temp.mark) AND EXISTS "
          "(SELECT 1 FROM tblDtCallLogHeader g WHERE g.CustID = tblDTQueue.CustID)");

  // Credit limit, then credit hold.
  const std::string customers = "FROM ar.tblArCust c JOIN ar.tblArCustHist s ON c.CustId = s.CustId ";
  queueCandidates(db,
                  "SELECT s.CustId AS CustID, " + firstLogId("s.CustId") + " AS LogID " + customers + "WHERE " +
                      kTotalDue + " > c.CreditLimit AND c.CreditLimit > 0 AND c.CreditHold = 0",
                  1, "Account Over Credit Limit.", now);
  queueCandidates(db,
                  "SELECT s.CustId AS CustID, " + firstLogId("s.CustId") + " AS LogID " + customers + "WHERE " +
                      "c.CreditLimit - " + kTotalDue + " <= " + numberText(nearLimitAmount) + " AND " + kTotalDue +
                      " > 0 AND c.CreditLimit > 0 AND c.CreditHold = 0",
                  6, "Account approaching Credit Limit.", now);
  queueCandidates(db,
                  "SELECT c.CustId AS CustID, " + firstLogId("c.CustId") +
                      " AS LogID FROM ar.tblArCust c WHERE c.CreditHold = 1",
                  10, "Account on Credit Hold.", now);
  run(db, "DROP TABLE temp.mark");
  run(db, "COMMIT");
}

void engineScan(const fs::path& dir) {
  tormel::QueueEngine engine;
  int32_t error = 0;
  std::string text;
  if (!engine.ProcessQueue((dir / "dt.db").string(), (dir / "ar.db").string(), (dir / "so.db").string(), error,
                           text))
    throw std::runtime_error("ProcessQueue failed: " + std::to_string(error) + " " + text);
}

// A digest of what the scan wrote: every queue row (customer, reason code,
// remark, call-log id) and every call-log remark. The entry's date and time
// are left out, being the clock's.
uint64_t outcomeDigest(const fs::path& dt) {
  sqlite3* db = nullptr;
  check(db, sqlite3_open_v2(dt.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), "open dt.db");
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
  uint64_t digest = 14695981039346656037ull;  // FNV-1a
  auto add = [&](const unsigned char* text) {
    for (const unsigned char* c = text; c && *c; ++c) digest = (digest ^ *c) * 1099511628211ull;
    digest = (digest ^ (text ? 0x1f : 0x1e)) * 1099511628211ull;  // the end of a value; Null apart
  };
  for (const char* sql : {"SELECT CustID, TransType, Remark, LogID FROM tblDTQueue ORDER BY CustID",
                          "SELECT LogID, SystemRemark FROM tblDtCallLogHeader WHERE SystemRemark IS NOT NULL "
                          "ORDER BY LogID"}) {
    sqlite3_stmt* stmt = nullptr;
    check(db, sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), sql);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) add(sqlite3_column_text(stmt, i));
    }
    sqlite3_finalize(stmt);
    check(db, rc, sql);
  }
  return digest;
}

QueueCounts countQueue(const fs::path& dt) {
  QueueCounts counts{};
  SqliteFile file(dt);
  for (const auto& row : file.query("SELECT TransType, Count(*) FROM tblDTQueue GROUP BY TransType")) {
    const int code = row[0].isNull() ? 0 : row[0].toInt32();
    counts[code >= 1 && code <= kReasons ? static_cast<size_t>(code) : 0] += row[1].toInt32();
  }
  return counts;
}

// Runs one scan in this process and prints "ok seconds cpu peak count1..count10 other digest".
int childMain(const std::string& what, const fs::path& dir) {
  try {
    const double cpuBefore = cpuSecondsNow();
    const auto start = std::chrono::steady_clock::now();
    if (what == "engine") {
      engineScan(dir);
    } else if (what == "baseline") {
      baselineScan(dir);
    } else {
      throw std::runtime_error("unknown scan " + what);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double cpu = cpuSecondsNow() - cpuBefore;
    const int64_t peak = peakMemoryKiB();
    const QueueCounts counts = countQueue(dir / "dt.db");
    const uint64_t digest = outcomeDigest(dir / "dt.db");
    std::printf("ok %.6f %.6f %lld", elapsed.count(), cpu, static_cast<long long>(peak));
    for (int code = 1; code <= kReasons; ++code) std::printf(" %lld", static_cast<long long>(counts[static_cast<size_t>(code)]));
    std::printf(" %lld %llx\n", static_cast<long long>(counts[0]), static_cast<unsigned long long>(digest));
    return 0;
  } catch (const std::exception& e) {
    std::printf("error %s\n", e.what());
    return 1;
  }
}

// --- the parent: demo data, child processes, comparison ---------------------

// Demo data of one size, made at its first use and kept for this run.
class DemoCache {
 public:
  const fs::path& files(int64_t customers) {
    auto it = folders_.find(customers);
    if (it == folders_.end()) {
      auto folder = std::make_unique<TempFolder>("oskara-scan-demo-" + std::to_string(customers));
      tool::createDemoDatabases(folder->path(), {.customers = customers, .seed = 1});
      // Every rule on, the queue reset included; the amounts and day counts stay the demo's.
      SqliteFile dt(folder->path() / "dt.db");
      std::string set;
      for (bool ScanOptions::*option :
           {&ScanOptions::Chk_ResetQueue, &ScanOptions::Chk_FollowUp3, &ScanOptions::Chk_FollowUp2,
            &ScanOptions::Chk_FollowUp1, &ScanOptions::Chk_120Days, &ScanOptions::Chk_90Days,
            &ScanOptions::Chk_60Days, &ScanOptions::Chk_30Days, &ScanOptions::Chk_OverLimit,
            &ScanOptions::Chk_NearLimit, &ScanOptions::Chk_CreditHold})
        set += (set.empty() ? "" : ", ") + std::string(optionName(option)) + " = 1";
      dt.exec("UPDATE tblDTOptions SET " + set);
      it = folders_.emplace(customers, std::move(folder)).first;
    }
    return it->second->path();
  }

 private:
  std::map<int64_t, std::unique_ptr<TempFolder>> folders_;
};

DemoCache& demoCache() {
  static DemoCache cache;
  return cache;
}

// Copies the demo files into `to`, replacing what a previous run left there.
void freshCopy(const fs::path& from, const fs::path& to) {
  for (const char* name : {"dt.db", "ar.db", "so.db"})
    fs::copy_file(from / name, to / name, fs::copy_options::overwrite_existing);
  for (const auto& entry : fs::directory_iterator(to)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("-lock") || name.ends_with("-journal")) fs::remove(entry.path());
  }
}

// Runs `what` on the files in `dir` in a child process and reads its report.
RunResult runChild(const std::string& what, const fs::path& dir) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    const std::string run = "--scan-child=" + what, folder = "--scan-dir=" + dir.string();
    execl("/proc/self/exe", "scan_bench", run.c_str(), folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string report;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);

  std::istringstream fields(report);
  std::string word;
  fields >> word;
  if (word != "ok" || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(what + " scan failed: " + (report.empty() ? "no report" : report));
  RunResult result;
  fields >> result.seconds >> result.cpuSeconds >> result.peakKiB;
  for (int code = 1; code <= kReasons; ++code) fields >> result.counts[static_cast<size_t>(code)];
  fields >> result.counts[0] >> std::hex >> result.digest;
  return result;
}

std::string countsText(const QueueCounts& counts) {
  std::string text;
  for (int code = 1; code <= kReasons; ++code)
    text += (code > 1 ? " " : "") + std::to_string(code) + ":" + std::to_string(counts[static_cast<size_t>(code)]);
  if (counts[0]) text += " other:" + std::to_string(counts[0]);
  return text;
}

// The last run of each side per size, for the summary and the check.
struct Measured {
  RunResult last;
  // The least over the iterations: on a shared machine the other work only
  // ever adds to a run's time.
  double seconds = 0, cpuSeconds = 0;
  int64_t peakKiB = 0;                  // the largest of the iterations
};
std::map<std::pair<int64_t, std::string>, Measured> g_measured;
bool g_mismatch = false;

void scan(benchmark::State& state, const std::string& what) {
  const int64_t customers = state.range(0);
  const fs::path& demo = demoCache().files(customers);
  TempFolder work("oskara-scan-run");
  Measured measured;
  int runs = 0;
  for (auto _ : state) {
    freshCopy(demo, work.path());
    RunResult result;
    try {
      result = runChild(what, work.path());
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
    state.SetIterationTime(result.seconds);
    measured.seconds = runs == 0 ? result.seconds : std::min(measured.seconds, result.seconds);
    measured.cpuSeconds = runs == 0 ? result.cpuSeconds : std::min(measured.cpuSeconds, result.cpuSeconds);
    measured.peakKiB = std::max(measured.peakKiB, result.peakKiB);
    measured.last = result;
    ++runs;
  }
  if (runs == 0) return;
  state.counters["cpu_s"] = measured.cpuSeconds;
  state.counters["peak_MiB"] = static_cast<double>(measured.peakKiB) / 1024.0;
  int64_t queued = 0;
  for (int64_t count : measured.last.counts) queued += count;
  state.counters["queued"] = static_cast<double>(queued);
  g_measured[{customers, what}] = measured;

  // The same queue from both, by reason code.
  const std::string other = what == "engine" ? "baseline" : "engine";
  auto theirs = g_measured.find({customers, other});
  if (theirs != g_measured.end() && theirs->second.last.counts != measured.last.counts) {
    g_mismatch = true;
    const std::string message = "queue differs by reason code: " + what + " " + countsText(measured.last.counts) +
                                "; " + other + " " + countsText(theirs->second.last.counts);
    state.SkipWithError(message.c_str());
  } else if (theirs != g_measured.end() && theirs->second.last.digest != measured.last.digest) {
    g_mismatch = true;
    state.SkipWithError("the same counts by reason code, but other customers, call-log ids or remarks");
  }
}

void printSummary() {
  std::printf("\n%-10s %10s %10s %10s %10s %8s %8s %12s %12s\n", "customers", "engine s", "cpu s", "baseline s",
              "cpu s", "ratio", "cpu", "engine MiB", "baseline MiB");
  std::set<int64_t> sizes;
  for (const auto& [key, measured] : g_measured) sizes.insert(key.first);
  for (int64_t size : sizes) {
    auto engine = g_measured.find({size, "engine"});
    auto baseline = g_measured.find({size, "baseline"});
    if (engine == g_measured.end() || baseline == g_measured.end()) continue;
    const Measured& e = engine->second;
    const Measured& b = baseline->second;
    std::printf("%-10lld %10.2f %10.2f %10.2f %10.2f %8.2f %8.2f %12.1f %12.1f\n", static_cast<long long>(size),
                e.seconds, e.cpuSeconds, b.seconds, b.cpuSeconds, e.seconds / b.seconds,
                e.cpuSeconds / b.cpuSeconds, static_cast<double>(e.peakKiB) / 1024.0,
                static_cast<double>(b.peakKiB) / 1024.0);
    std::printf("           queue by reason code: %s\n", countsText(e.last.counts).c_str());
  }
  if (g_mismatch) std::printf("The engine and the baseline queued different customers: see the errors above.\n");
  std::fflush(stdout);
}

}  // namespace
}  // namespace oskara::bench

int main(int argc, char** argv) {
  using namespace oskara::bench;
  std::string child;
  std::filesystem::path dir;
  std::vector<int64_t> sizes{100'000, 1'000'000};
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with("--scan-child=")) {
      child = arg.substr(13);
    } else if (arg.starts_with("--scan-dir=")) {
      dir = arg.substr(11);
    } else if (arg.starts_with("--sizes=")) {
      sizes.clear();
      std::istringstream list{std::string(arg.substr(8))};
      for (std::string size; std::getline(list, size, ',');) {
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), n);
        if (ec != std::errc() || end != size.data() + size.size() || n <= 0) {
          std::fprintf(stderr, "scan_bench: --sizes takes customer counts separated by commas, such as "
                               "--sizes=100000,1000000; \"%s\" is not a positive whole number.\n", size.c_str());
          return 2;
        }
        sizes.push_back(n);
      }
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (!child.empty()) return childMain(child, dir);
  if (sizes.empty()) {
    std::fprintf(stderr, "scan_bench: --sizes names no customer count.\n");
    return 2;
  }

  std::vector<Comparison> comparisons;
  for (int64_t size : sizes) {
    for (const char* what : {"engine", "baseline"}) {
      benchmark::RegisterBenchmark((std::string("scan/") + what).c_str(),
                                   [what = std::string(what)](benchmark::State& state) { scan(state, what); })
          ->Arg(size)
          ->Unit(benchmark::kSecond)
          ->UseManualTime()
          ->Iterations(size >= 1'000'000 ? 1 : 3);
    }
    const std::string arg = "/" + std::to_string(size);
    comparisons.push_back(
        {"scan " + std::to_string(size) + ": engine / baseline", "scan/engine" + arg, "scan/baseline" + arg});
  }
  ComparingReporter reporter(std::move(comparisons), 2.0);
  int restCount = static_cast<int>(rest.size());
  const int status = runBenchmarks(restCount, rest.data(), reporter);
  printSummary();
  return status != 0 ? status : (g_mismatch ? 1 : 0);
}
