// Test support for the engine tests: a temporary folder, database files made
// and inspected with the plain SQLite API (the engine itself never creates a
// file), and the error number a call raises.
#pragma once

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

// The engine error number `f` raises; 0 when it returns normally. A failure
// that is not an oskara::Error fails the test.
int errorNumberOf(const std::function<void()>& f);

// The text of the error `f` raises; "" when it returns normally.
std::string errorTextOf(const std::function<void()>& f);

}  // namespace oskara::db::testing
