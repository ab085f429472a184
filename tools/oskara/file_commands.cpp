// db init, db demo, db copy and db check.
#include <CLI/CLI.hpp>
#include <array>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "commands.h"
#include "contract/schema.h"
#include "core/clock.h"
#include "core/error.h"
#include "dbengine/errors.h"
#include "dbengine/locations.h"
#include "database_check.h"
#include "database_copy.h"
#include "demo_data.h"

namespace oskara::tool {
namespace {


// A folder, or the DT, AR and SO locations one by one.
std::optional<contract::DatabaseLocations> locationsOf(const std::vector<std::string>& where) {
  if (where.size() == 1) return std::nullopt;
  if (where.size() != 3)
    throw Error(db::errc::kInvalidArgument,
                "Give a folder, or the DT, AR and SO databases (files or server locations): " +
                    std::to_string(where.size()) + " were given.");
  return contract::DatabaseLocations{where[0], where[1], where[2]};
}

std::string shownLocations(const contract::DatabaseLocations& l) {
  if (l.so.empty()) return db::shownLocation(l.dt) + " and " + db::shownLocation(l.ar);
  return db::shownLocation(l.dt) + ", " + db::shownLocation(l.ar) + " and " + db::shownLocation(l.so);
}

int runInit(const std::vector<std::string>& where) {
  if (const auto locations = locationsOf(where)) {
    NewDatabases::create(*locations, {})->finish();
    std::cout << "Created the empty databases " << shownLocations(*locations)
              << ": DT with options (every rule on), queue and call log, linked to AR; AR with customers and "
                 "aged balances; SO with sales orders.\n";
    return 0;
  }
  const std::filesystem::path dir = where[0];
  const contract::DatabaseFiles files = contract::createDatabaseFiles(dir);
  std::cout << "Created empty database files in " << dir.string() << ":\n"
            << "  " << files.dt.filename().string()
            << "  debt tracking: options (every rule on), queue, call log; links to "
            << files.ar.filename().string() << "\n"
            << "  " << files.ar.filename().string() << "  accounts receivable: customers, aged balances\n"
            << "  " << files.so.filename().string() << "  sales orders\n";
  return 0;
}

int runDemo(const std::vector<std::string>& where, const DemoOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  const auto locations = locationsOf(where);
  const DemoSummary summary =
      locations ? createDemoDatabases(*locations, options) : createDemoDatabases(std::filesystem::path(where[0]), options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::cout << "Demo data for " << options.customers << " customers (seed " << options.seed
            << ", dates up to " << currentClock().now().datePart().toIso() << ") in "
            << (locations ? shownLocations(*locations) : where[0]) << ":\n";
  const auto name = [&](contract::DatabaseKind kind) {
    const std::string& l = kind == contract::DatabaseKind::DT   ? summary.locations.dt
                           : kind == contract::DatabaseKind::AR ? summary.locations.ar
                                                                : summary.locations.so;
    return locations ? db::shownLocation(l) : std::filesystem::path(l).filename().string();
  };
  size_t tableWidth = 0, nameWidth = 0;
  for (const TableCount& t : summary.rowCounts) {
    tableWidth = std::max(tableWidth, t.table.size());
    nameWidth = std::max(nameWidth, name(t.database).size());
  }
  for (const TableCount& t : summary.rowCounts) {
    std::cout << "  " << std::left << std::setw(static_cast<int>(nameWidth)) << name(t.database) << ' '
              << std::setw(static_cast<int>(tableWidth)) << t.table << ' ' << std::right << std::setw(10)
              << t.rows << " rows\n";
  }
  std::cout << "Done in " << std::fixed << std::setprecision(1) << seconds << " s.\n";
  return 0;
}

contract::DatabaseLocations locationSet(const std::vector<std::string>& given) {
  return {given.at(0), given.at(1), given.size() > 2 ? given[2] : std::string()};
}

int runCopy(const std::vector<std::string>& from, const std::vector<std::string>& to) {
  const auto started = std::chrono::steady_clock::now();
  const contract::DatabaseLocations source = locationSet(from), destination = locationSet(to);
  const std::vector<CopiedTable> copied = copyDatabases(source, destination);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const auto name = [&](contract::DatabaseKind kind) {
    return db::shownLocation(kind == contract::DatabaseKind::DT   ? destination.dt
                             : kind == contract::DatabaseKind::AR ? destination.ar
                                                                  : destination.so);
  };
  std::cout << "Copied " << shownLocations(source) << " to " << shownLocations(destination)
            << "; the rows of every table counted in the destination:\n";
  size_t tableWidth = 0, nameWidth = 0;
  for (const CopiedTable& t : copied) {
    tableWidth = std::max(tableWidth, t.table.size());
    nameWidth = std::max(nameWidth, name(t.database).size());
  }
  for (const CopiedTable& t : copied) {
    std::cout << "  " << std::left << std::setw(static_cast<int>(nameWidth)) << name(t.database) << ' '
              << std::setw(static_cast<int>(tableWidth)) << t.table << ' ' << std::right << std::setw(10) << t.rows
              << " rows\n";
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
    auto where = std::make_shared<std::vector<std::string>>();
    CLI::App* init = db.add_subcommand(
        "init", "Create empty databases with one options record (every rule on): dt.db, ar.db and so.db in "
                "DIR, or the DT, AR and SO databases given one by one, as files or as schemas on a PostgreSQL "
                "server (postgresql://...?schema=NAME; missing schemas are made, schemas holding tables refused).");
    init->add_option("DIR | DT AR SO", *where, "Folder for the files (made when missing), or three databases")
        ->required()
        ->expected(1, 3);
    init->callback([&action, where] { action = [where] { return runInit(*where); }; });
  }
  {
    auto where = std::make_shared<std::vector<std::string>>();
    auto options = std::make_shared<DemoOptions>();
    CLI::App* demo = db.add_subcommand(
        "demo", "Create databases as db init does, filled with synthetic customers, balances, call logs and "
                "orders that a full scan queues under every reason.");
    demo->add_option("DIR | DT AR SO", *where, "Folder for the files (made when missing), or three databases")
        ->required()
        ->expected(1, 3);
    demo->add_option("--customers", options->customers, "Number of customers")
        ->capture_default_str()
        ->check(CLI::Range(int64_t{1}, int64_t{10'000'000}));
    demo->add_option("--seed", options->seed, "Seed of the generator; the same seed gives the same data")
        ->capture_default_str();
    demo->callback([&action, where, options] { action = [where, options] { return runDemo(*where, *options); }; });
  }
  {
    auto from = std::make_shared<std::vector<std::string>>();
    auto to = std::make_shared<std::vector<std::string>>();
    CLI::App* copy = db.add_subcommand(
        "copy",
        "Copy a set of databases, files or schemas on a PostgreSQL server, to new files or schemas (either "
        "kind to either): every table of DT, AR and SO with every row, the links and stored queries, DT's "
        "links rewritten to point to the destination's AR and SO. The destination must not hold the tables "
        "yet (missing schemas are made); it is written in one transaction per file or server database, so a "
        "failure leaves nothing of it. Prints the rows of each table, counted in the destination.");
    copy->add_option("--from", *from, "The source's DT, AR and optionally SO")->required()->expected(2, 3);
    copy->add_option("--to", *to, "The destination's DT, AR and SO (SO when the source has one)")
        ->required()
        ->expected(2, 3);
    copy->callback([&action, from, to] { action = [from, to] { return runCopy(*from, *to); }; });
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
