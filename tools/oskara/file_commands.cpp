// db init, db demo and db check.
#include <CLI/CLI.hpp>
#include <array>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>

#include "commands.h"
#include "contract/schema.h"
#include "core/clock.h"
#include "database_check.h"
#include "demo_data.h"

namespace oskara::tool {
namespace {


int runInit(const std::filesystem::path& dir) {
  const contract::DatabaseFiles files = contract::createDatabaseFiles(dir);
  std::cout << "Created empty database files in " << dir.string() << ":\n"
            << "  " << files.dt.filename().string()
            << "  debt tracking: options (every rule on), queue, call log; links to "
            << files.ar.filename().string() << "\n"
            << "  " << files.ar.filename().string() << "  accounts receivable: customers, aged balances\n"
            << "  " << files.so.filename().string() << "  sales orders\n";
  return 0;
}

int runDemo(const std::filesystem::path& dir, const DemoOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  const DemoSummary summary = createDemoDatabases(dir, options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::cout << "Demo data for " << options.customers << " customers (seed " << options.seed
            << ", dates up to " << currentClock().now().datePart().toIso() << ") in " << dir.string()
            << ":\n";
  size_t tableWidth = 0;
  for (const TableCount& t : summary.rowCounts) tableWidth = std::max(tableWidth, t.table.size());
  for (const TableCount& t : summary.rowCounts) {
    std::cout << "  " << std::left << std::setw(6) << t.file.filename().string() << ' '
              << std::setw(static_cast<int>(tableWidth)) << t.table << ' ' << std::right << std::setw(10)
              << t.rows << " rows\n";
  }
  std::cout << "Done in " << std::fixed << std::setprecision(1) << seconds << " s.\n";
  return 0;
}

int runCheck(const std::string& dt, const std::string& ar, const std::string& so) {
  const CheckReport report = checkDatabases(dt, ar, so.empty() ? std::nullopt : std::optional<std::filesystem::path>(so));
  auto line = [](const CheckFinding& f) {
    return f.file.string() + ": " + (f.where.empty() ? "" : f.where + ": ") + f.problem;
  };
  for (const CheckFinding& f : report.problems) std::cout << line(f) << '\n';
  for (const CheckFinding& f : report.notes) std::cout << "note: " << line(f) << '\n';
  const size_t n = report.problems.size();
  if (n == 0) {
    std::cout << "No problems found.\n";
    return 0;
  }
  std::cout << n << (n == 1 ? " problem" : " problems") << " found.\n";
  return 1;
}

}  // namespace

void addFileCommands(CLI::App& db, Action& action) {
  {
    auto dir = std::make_shared<std::string>();
    CLI::App* init = db.add_subcommand(
        "init", "Create empty dt.db, ar.db and so.db in DIR, with one options record (every rule on).");
    init->add_option("DIR", *dir, "Folder for the files (made when missing)")->required();
    init->callback([&action, dir] { action = [dir] { return runInit(*dir); }; });
  }
  {
    auto dir = std::make_shared<std::string>();
    auto options = std::make_shared<DemoOptions>();
    CLI::App* demo = db.add_subcommand(
        "demo", "Create dt.db, ar.db and so.db in DIR filled with synthetic customers, balances, "
                "call logs and orders that a full scan queues under every reason.");
    demo->add_option("DIR", *dir, "Folder for the files (made when missing)")->required();
    demo->add_option("--customers", options->customers, "Number of customers")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{10'000'000}));
    demo->add_option("--seed", options->seed, "Seed of the generator; the same seed gives the same data")
        ->capture_default_str();
    demo->callback([&action, dir, options] { action = [dir, options] { return runDemo(*dir, *options); }; });
  }
  {
    auto paths = std::make_shared<std::array<std::string, 3>>();
    CLI::App* check = db.add_subcommand(
        "check",
        "Check the files for what would make a queue update fail or decide wrongly, changing nothing: "
        "every table and field with its declared type, the DT's links and stored query, the options "
        "record, and every row whose value its field cannot hold (a malformed date, a number out of "
        "range, text in a number field). Lists each problem with its file, table, field, key and "
        "value; exit status 1 when there is any. Notes, which are no problems, name tables made "
        "without the constraints that keep such values out (files made before those constraints).");
    check->add_option("DT", (*paths)[0], "Debt-tracking database file")->required();
    check->add_option("AR", (*paths)[1], "Accounts-receivable database file")->required();
    check->add_option("SO", (*paths)[2], "Sales-order database file");
    check->callback([&action, paths] {
      action = [paths] { return runCheck((*paths)[0], (*paths)[1], (*paths)[2]); };
    });
  }
}

}  // namespace oskara::tool
