// Test support for the engine tests: a temporary folder, database files made
// and inspected with the plain SQLite API (the engine itself never creates a
// file), the same on PostgreSQL for the tests that run on both backends, and
// the error number a call raises.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace oskara::db::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();  // removes the folder with everything in it
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Creates the database file `path` and runs `sql` (several statements) on it.
void makeDatabase(const std::string& path, const std::string& sql);

// Runs `sql` on an existing file through a connection of its own.
void runSql(const std::string& path, const std::string& sql);

// Rows of a query, each value as text ("NULL" for Null).
std::vector<std::vector<std::string>> queryRows(const std::string& path, const std::string& sql);

enum class Backend { SQLite, PostgreSQL };

// The databases of one test, by short name ("dt", "ar"): files NAME.db in a
// temporary folder, or schemas of the PostgreSQL cluster that
// scripts/with-postgres started for the tests, each test's own. SQL is given
// in SQLite's form; on PostgreSQL its column types become the server's
// (TEXT COLLATE NOCASE citext, DATETIME timestamp, DOUBLE float8) and what
// query() reads is written as a file stores it (a date alone without its
// midnight, a time alone without day zero, Yes/No as 1/0).
class TestDatabases {
 public:
  explicit TestDatabases(Backend backend);

  Backend backend() const { return backend_; }
  std::string location(const std::string& name) const;
  // How sys_links of another of these databases names this one.
  std::string link(const std::string& name) const;
  void make(const std::string& name, const std::string& sql);  // creates it and runs `sql`
  void run(const std::string& name, const std::string& sql);   // on a connection of its own
  std::vector<std::vector<std::string>> query(const std::string& name, const std::string& sql);

 private:
  Backend backend_;
  TempFolder folder_;
  std::string prefix_;  // of the schema names
};

// Whether the tests' PostgreSQL cluster runs (scripts/with-postgres).
bool postgresAvailable();

// A test suite over both backends: its PostgreSQL instances are skipped when
// no cluster runs.
class BothBackends : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::PostgreSQL && !postgresAvailable())
      GTEST_SKIP() << "no PostgreSQL cluster (run under scripts/with-postgres)";
  }
  TestDatabases databases{GetParam()};
};

std::string backendName(const ::testing::TestParamInfo<Backend>& info);

#define OSKARA_ON_BOTH_BACKENDS(suite) \
  INSTANTIATE_TEST_SUITE_P(Backends, suite, \
                           ::testing::Values(::oskara::db::testing::Backend::SQLite, \
                                             ::oskara::db::testing::Backend::PostgreSQL), \
                           ::oskara::db::testing::backendName)

// The engine error number `f` raises; 0 when it returns normally. A failure
// that is not an oskara::Error fails the test.
int errorNumberOf(const std::function<void()>& f);

// The text of the error `f` raises; "" when it returns normally.
std::string errorTextOf(const std::function<void()>& f);

}  // namespace oskara::db::testing
