// The database engine against plain SQLite on the three per-customer
// operations of the record-by-record scan rules: a keyed lookup of a queue row
// (dynaset on a DISTINCTROW statement), adding a queue row (AddNew/Update on
// the table) and editing a call-log header's SystemRemark found by LogID
// (Edit/Update). Each side does 100,000 of them inside one transaction; the
// plain side uses statements prepared once by hand. The transaction is rolled
// back outside the timing, so every iteration sees the same files.
//
// Beside them, the cost of an ad-hoc statement, one the statement cache has
// not seen: the translation of the scan's statements, and SQLite's own
// preparation of the translated texts for scale (no target: both are paid
// once per statement shape).
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "contract/schema.h"
#include "core/clock.h"
#include "dbengine/dbengine.h"
#include "dbengine/sql/sqlite_functions.h"
#include "dbengine/sql/translator.h"
#include "directdb/sqlite_file.h"

namespace oskara::bench {
namespace {

using db::RecordsetType;

constexpr int kOperations = 100'000;
constexpr int kRows = 100'000;  // queue rows and call-log headers in the files
constexpr const char* kRemark = "Account 30 days overdue.";

std::string customerId(int n) {
  char id[16];
  std::snprintf(id, sizeof id, "C%06d", n);
  return id;
}

// A plain SQLite statement, prepared once.
class Prepared {
 public:
  Prepared(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("cannot prepare: ") + sqlite3_errmsg(db));
  }
  ~Prepared() { sqlite3_finalize(stmt_); }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

void check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void bindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// The files of the benchmark: a DT database whose queue and call log hold
// kRows rows each, opened once through the engine and once plainly.
class Fixture {
 public:
  static Fixture& instance() {
    static Fixture fixture;
    return fixture;
  }

  db::DatabasePtr engineDb;
  sqlite3* plainDb = nullptr;
  std::vector<int> order;  // 1..kRows shuffled: which row each operation touches
  std::vector<std::string> ids;  // customer id per row number (index 0 unused)
  DateTime today;
  DateTime timeOfDay;
  std::string todayText;
  std::string timeText;

 private:
  Fixture() : folder_("oskara-engine-bench") {
    files_ = contract::createDatabaseFiles(folder_.path());
    const DateTime now = currentClock().now();
    today = now.datePart();
    timeOfDay = now.timePart();
    todayText = today.toIso();
    timeText = timeOfDay.toIso();
    ids.push_back("");
    for (int n = 1; n <= kRows; ++n) ids.push_back(customerId(n));
    fill();
    order.resize(kOperations);
    std::mt19937 random(20261207);
    for (int i = 0; i < kOperations; ++i) order[static_cast<size_t>(i)] = 1 + static_cast<int>(random() % kRows);

    engineDb = db::Engine::instance().workspace(0).openDatabase(files_.dt.string());
    // The same settings the engine gives its connections: no mutex (one
    // thread uses the connection), a rollback journal, a 64 MiB page cache.
    check(nullptr,
          sqlite3_open_v2(files_.dt.c_str(), &plainDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr),
          "open");
    check(plainDb, sqlite3_exec(plainDb, "PRAGMA journal_mode=DELETE; PRAGMA cache_size=-65536", nullptr, nullptr, nullptr),
          "settings");
  }
  ~Fixture() {
    engineDb.reset();
    sqlite3_close(plainDb);
  }

  void fill() {
    directdb::SqliteFile dt(files_.dt);
    dt.exec("BEGIN");
    {
      Prepared queue(dt.handle(),
                     "INSERT INTO tblDTQueue (CustID, LogID, TransType, Remark, EntryDate, EntryTime) "
                     "VALUES (?1, ?2, 2, ?3, ?4, ?5)");
      Prepared header(dt.handle(), "INSERT INTO tblDtCallLogHeader (LogID, CustID) VALUES (?1, ?2)");
      for (int n = 1; n <= kRows; ++n) {
        bindText(queue.get(), 1, ids[static_cast<size_t>(n)]);
        sqlite3_bind_int(queue.get(), 2, n);
        bindText(queue.get(), 3, kRemark);
        bindText(queue.get(), 4, todayText);
        bindText(queue.get(), 5, timeText);
        check(dt.handle(), sqlite3_step(queue.get()), "fill queue");
        sqlite3_reset(queue.get());
        sqlite3_bind_int(header.get(), 1, n);
        bindText(header.get(), 2, ids[static_cast<size_t>(n)]);
        check(dt.handle(), sqlite3_step(header.get()), "fill call log");
        sqlite3_reset(header.get());
      }
    }
    dt.exec("COMMIT");
  }

  TempFolder folder_;
  contract::DatabaseFiles files_;

 public:
  const contract::DatabaseFiles& files() const { return files_; }
};

// Times `body` (kOperations operations) inside one engine transaction.
template <class Body>
void inEngineTransaction(benchmark::State& state, Body body) {
  auto& engine = db::Engine::instance();
  for (auto _ : state) {
    engine.beginTrans();
    const int done = body();
    state.PauseTiming();
    engine.rollback();
    if (done != kOperations) state.SkipWithError("not every row was found");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}

template <class Body>
void inPlainTransaction(benchmark::State& state, Body body) {
  sqlite3* db = Fixture::instance().plainDb;
  for (auto _ : state) {
    check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
    const int done = body();
    state.PauseTiming();
    check(db, sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr), "rollback");
    if (done != kOperations) state.SkipWithError("not every row was found");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kOperations);
}

// --- keyed lookup: the queue row of a customer ------------------------------

void lookupEngine(benchmark::State& state) {
  Fixture& f = Fixture::instance();
  inEngineTransaction(state, [&] {
    int found = 0;
    for (int n : f.order) {
      auto rs = f.engineDb->openRecordset("SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue WHERE "
                                          "((tblDTQueue.CustID=\"" + f.ids[static_cast<size_t>(n)] + "\")); ",
                                          RecordsetType::Dynaset);
      if (!rs->eof() && rs->field("LogID").toInt32() == n) ++found;
      rs->close();
    }
    return found;
  });
}

// Every column of the row `stmt` stands on, as stored: what the engine's
// caller can read of the row it looked up.
void readRow(sqlite3_stmt* stmt) {
  for (int i = 0, n = sqlite3_column_count(stmt); i < n; ++i) {
    switch (sqlite3_column_type(stmt, i)) {
      case SQLITE_INTEGER: benchmark::DoNotOptimize(sqlite3_column_int64(stmt, i)); break;
      case SQLITE_FLOAT: benchmark::DoNotOptimize(sqlite3_column_double(stmt, i)); break;
      case SQLITE_NULL: break;
      default:
        benchmark::DoNotOptimize(sqlite3_column_text(stmt, i));
        benchmark::DoNotOptimize(sqlite3_column_bytes(stmt, i));
    }
  }
}

void lookupPlain(benchmark::State& state) {
  Fixture& f = Fixture::instance();
  Prepared select(f.plainDb,
                  "SELECT QueueID, CustID, TransType, Remark, EntryDate, EntryTime, LogID FROM tblDTQueue "
                  "WHERE CustID = ?1");
  inPlainTransaction(state, [&] {
    int found = 0;
    for (int n : f.order) {
      bindText(select.get(), 1, f.ids[static_cast<size_t>(n)]);
      if (sqlite3_step(select.get()) == SQLITE_ROW) {
        readRow(select.get());
        if (sqlite3_column_int(select.get(), 6) == n) ++found;
      }
      sqlite3_reset(select.get());
    }
    return found;
  });
}

// --- insert: a new queue row -------------------------------------------------

void insertEngine(benchmark::State& state) {
  Fixture& f = Fixture::instance();
  const Variant remark(kRemark);
  inEngineTransaction(state, [&] {
    int added = 0;
    for (int n : f.order) {
      auto rs = f.engineDb->openRecordset("tblDTQueue", RecordsetType::Dynaset);
      rs->addNew();
      rs->setField("CustID", f.ids[static_cast<size_t>(n)]);
      rs->setField("LogID", n);
      rs->setField("TransType", int16_t{1});
      rs->setField("Remark", remark);
      rs->setField("EntryDate", f.today);
      rs->setField("EntryTime", f.timeOfDay);
      rs->update();
      rs->close();
      ++added;
    }
    return added;
  });
}

void insertPlain(benchmark::State& state) {
  Fixture& f = Fixture::instance();
  Prepared insert(f.plainDb,
                  "INSERT INTO tblDTQueue (CustID, LogID, TransType, Remark, EntryDate, EntryTime) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  inPlainTransaction(state, [&] {
    int added = 0;
    for (int n : f.order) {
      sqlite3_stmt* s = insert.get();
      bindText(s, 1, f.ids[static_cast<size_t>(n)]);
      sqlite3_bind_int(s, 2, n);
      sqlite3_bind_int(s, 3, 1);
      sqlite3_bind_text(s, 4, kRemark, -1, SQLITE_STATIC);
      bindText(s, 5, f.todayText);
      bindText(s, 6, f.timeText);
      if (sqlite3_step(s) == SQLITE_DONE) ++added;
      sqlite3_reset(s);
    }
    return added;
  });
}

// --- edit: the SystemRemark of a call-log header by LogID ---------------------

void editEngine(benchmark::State& state) {
  Fixture& f = Fixture::instance();
  const Variant remark(kRemark);
  inEngineTransaction(state, [&] {
    int edited = 0;
    for (int n : f.order) {
      auto rs = f.engineDb->openRecordset(
          "select SystemRemark from tblDtCallLogHeader where LogID=" + numberText(int64_t{n}),
          RecordsetType::Dynaset);
      if (!rs->eof()) {
        rs->edit();
        rs->setField("SystemRemark", remark);
        rs->update();
        ++edited;
      }
      rs->close();
    }
    return edited;
  });
}

void editPlain(benchmark::State& state) {
  Fixture& f = Fixture::instance();
  Prepared update(f.plainDb, "UPDATE tblDtCallLogHeader SET SystemRemark = ?1 WHERE LogID = ?2");
  inPlainTransaction(state, [&] {
    int edited = 0;
    for (int n : f.order) {
      sqlite3_bind_text(update.get(), 1, kRemark, -1, SQLITE_STATIC);
      sqlite3_bind_int(update.get(), 2, n);
      if (sqlite3_step(update.get()) == SQLITE_DONE && sqlite3_changes(f.plainDb) == 1) ++edited;
      sqlite3_reset(update.get());
    }
    return edited;
  });
}

// --- translation: a statement the cache has not seen -------------------------

// The tables of the DT file and of its AR link (attached as "ar"), and the
// stored queries, for the translator; the connection also prepares the
// translations.
class BenchCatalog : public db::sql::Catalog {
 public:
  BenchCatalog() {
    const Fixture& f = Fixture::instance();
    check(nullptr, sqlite3_open_v2(f.files().dt.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr), "open");
    check(db_, sqlite3_exec(db_, ("ATTACH '" + f.files().ar.string() + "' AS ar").c_str(), nullptr, nullptr, nullptr),
          "attach");
    db::sql::registerDialectFunctions(db_);
    for (const char* schema : {"main", "ar"}) {
      Prepared tables(db_, (std::string("SELECT name FROM ") + schema + ".sqlite_master WHERE type = 'table'").c_str());
      while (sqlite3_step(tables.get()) == SQLITE_ROW) {
        db::sql::TableInfo info{schema, reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 0)), {}};
        Prepared columns(db_, ("SELECT name, upper(type) FROM pragma_table_info('" + info.table + "', '" + schema + "')").c_str());
        while (sqlite3_step(columns.get()) == SQLITE_ROW)
          info.columns.push_back({reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0)),
                                  reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 1))});
        tables_.push_back(std::move(info));
      }
    }
    Prepared queries(db_, "SELECT name, sql FROM sys_queries");
    while (sqlite3_step(queries.get()) == SQLITE_ROW)
      queries_.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(queries.get(), 0)),
                            reinterpret_cast<const char*>(sqlite3_column_text(queries.get(), 1)));
  }
  ~BenchCatalog() override { sqlite3_close(db_); }

  std::optional<db::sql::TableInfo> findTable(std::string_view name) const override {
    for (const auto& t : tables_)
      if (sqlite3_stricmp(t.table.c_str(), std::string(name).c_str()) == 0) return t;
    return std::nullopt;
  }
  std::optional<std::string> findQuery(std::string_view name) const override {
    for (const auto& [n, text] : queries_)
      if (sqlite3_stricmp(n.c_str(), std::string(name).c_str()) == 0) return text;
    return std::nullopt;
  }
  const std::string& queryText(size_t i) const { return queries_.at(i).second; }
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  std::vector<db::sql::TableInfo> tables_;
  std::vector<std::pair<std::string, std::string>> queries_;
};

// Statements of the scan rules, one of each kind: lookups, an ageing rule's
// INSERT ... SELECT and UPDATE over a join, a credit-limit and a follow-up
// rule's SELECT (the stored query is added from the file).
std::vector<std::string> scanStatements(const BenchCatalog& catalog) {
  return {
      "SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue WHERE ((tblDTQueue.CustID=\"C000123\")); ",
      "select SystemRemark from tblDtCallLogHeader where LogID=42",
      "INSERT INTO tblDTQueue ( CustID, TransType, Remark, EntryDate, EntryTime ) SELECT DISTINCTROW "
      "tblArCustHist.CustId,  2 AS Expr1, \"Account 30 days overdue.\" AS Expr2, Date() AS Expr3, Time() AS Expr4 "
      "FROM (tblArCust INNER JOIN tblArCustHist ON tblArCust.CustId = tblArCustHist.CustId) LEFT JOIN tblDTQueue "
      "ON tblArCustHist.CustId = tblDTQueue.CustID WHERE "
      "((([BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[NewFinch]+[UnpaidFinch])>0) AND "
      "(tblArCustHist.BalAge1>0) AND (tblArCust.CreditHold=False) AND (tblDTQueue.CustID Is Null)); ",
      "UPDATE DISTINCTROW tblDTQueue INNER JOIN tblDtCallLogHeader ON tblDTQueue.CustID = "
      "tblDtCallLogHeader.CustID SET tblDTQueue.LogID = [tblDtCallLogHeader].[LogID]; ",
      "SELECT DISTINCTROW tblArCustHist.CustId, [CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit] "
      "+[UnpaidFinch] AS TotalDue, tblArCust.CreditLimit FROM tblArCust INNER JOIN tblArCustHist ON "
      "tblArCust.CustId = tblArCustHist.CustId WHERE ((([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]"
      "-[UnapplCredit] +[UnpaidFinch])>[CreditLimit]) AND (tblArCust.CreditLimit>0) AND "
      "(tblArCust.CreditHold=False)); ",
      "SELECT DISTINCTROW tblDtCallLogHeader.CustID, tblDtCallLogHeader.LogID FROM tblDtCallLogHeader INNER JOIN "
      "tblArCustHist ON tblDtCallLogHeader.CustID = tblArCustHist.CustId WHERE "
      "((([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4] -[UnapplCredit]+[UnpaidFinch])>0) AND "
      "((IIf(IIf(IsNull([LastConversationDate]), #01/1/2099#,[LastConversationDate]) > "
      "IIf(IsNull([LastPayDate]), #01/1/68#, [LastPayDate]), True, False)) = True) AND "
      "((DateDiff(\"d\", IIf(IsNull([LastConversationDate]), #01/1/68#, [LastConversationDate]), Date())) >= 30)); ",
      catalog.queryText(0),
  };
}

constexpr int kTranslations = 10'000;  // rounds over the statements per iteration

void translateEngine(benchmark::State& state) {
  static const BenchCatalog catalog;
  const std::vector<std::string> statements = scanStatements(catalog);
  for (auto _ : state) {
    for (int i = 0; i < kTranslations; ++i) {
      for (const std::string& text : statements) benchmark::DoNotOptimize(db::sql::translate(text, catalog));
    }
  }
  state.SetItemsProcessed(state.iterations() * kTranslations * static_cast<int64_t>(statements.size()));
}

void translatePlain(benchmark::State& state) {
  static const BenchCatalog catalog;
  std::vector<std::string> translated;
  for (const std::string& text : scanStatements(catalog)) translated.push_back(db::sql::translate(text, catalog).sql);
  for (auto _ : state) {
    for (int i = 0; i < kTranslations; ++i) {
      for (const std::string& text : translated) {
        sqlite3_stmt* stmt = nullptr;
        check(catalog.handle(), sqlite3_prepare_v2(catalog.handle(), text.c_str(), -1, &stmt, nullptr), "prepare");
        sqlite3_finalize(stmt);
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kTranslations * static_cast<int64_t>(translated.size()));
}

void registerAll() {
  Fixture::instance();  // the files are made before anything is timed
  struct Pair {
    const char* name;
    void (*engine)(benchmark::State&);
    void (*plain)(benchmark::State&);
  };
  for (const Pair& p : {Pair{"lookup", lookupEngine, lookupPlain}, Pair{"insert", insertEngine, insertPlain},
                        Pair{"edit", editEngine, editPlain},
                        Pair{"translate", translateEngine, translatePlain}}) {
    for (auto [side, fn] : {std::pair{"engine", p.engine}, std::pair{"plain", p.plain}}) {
      benchmark::RegisterBenchmark((std::string(p.name) + "/" + side).c_str(), fn)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(2.0);
    }
  }
}

}  // namespace
}  // namespace oskara::bench

int main(int argc, char** argv) {
  using oskara::bench::Comparison;
  oskara::bench::registerAll();
  oskara::bench::ComparingReporter reporter(
      {
          Comparison{"lookup: engine / plain", "lookup/engine", "lookup/plain", 1.3},
          Comparison{"insert: engine / plain", "insert/engine", "insert/plain", 1.2},
          Comparison{"edit: engine / plain", "edit/engine", "edit/plain", 1.5},
      },
      1.5, oskara::bench::Basis::CpuTime);
  return oskara::bench::runBenchmarks(argc, argv, reporter);
}
