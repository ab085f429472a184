#include "scan_files.h"

#include <filesystem>
#include <set>
#include <string_view>

#include "contract/options.h"
#include "contract/tables.h"
#include "core/error.h"
#include "core/text.h"
#include "dbengine/dbengine.h"
#include "dbengine/locations.h"
#include "dbengine/postgres/location.h"

namespace oskara::tool {
namespace {

namespace fs = std::filesystem;

db::DatabasePtr openDatabase(const std::string& path) {
  return db::Engine::instance().workspace(0).openDatabase(path);
}

std::string failureText() {
  const Error failure = currentFailure();
  return "[" + std::to_string(failure.number()) + "] " + failure.text();
}

std::string fileName(std::string_view role, const std::string& path) {
  return "the " + std::string(role) + " file '" + path + "'";
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  if (!ec) return same;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

// Whether DT's link `link` reads the database `given`: the same file, or the
// same schema of the same server database.
bool linkReads(const std::string& dt, const std::string& link, const std::string& given) {
  if (!db::isServerLocation(dt)) return sameFile(given, link);
  if (!db::isServerLocation(given)) return false;
  try {
    const db::postgres::ServerLocation target = db::postgres::parseServerLocation(given);
    std::string schema = db::postgres::sameDatabaseSchema(link);
    std::string database = db::postgres::parseServerLocation(dt).databaseKey;
    if (schema.empty()) {
      const db::postgres::ServerLocation linked = db::postgres::parseServerLocation(link);
      schema = linked.schema;
      database = linked.databaseKey;
    }
    return database == target.databaseKey && equalsIgnoreCase(schema, target.schema);
  } catch (const Error&) {
    return false;  // the update itself reports a malformed location
  }
}

// The closing of every database opened here, so that this process holds no
// slot in a lock-information file while the servers work on the files.
struct OpenDatabases {
  std::vector<db::DatabasePtr> all;
  ~OpenDatabases() {
    for (const db::DatabasePtr& database : all) {
      try {
        database->close();
      } catch (...) {
      }
    }
  }
};

}  // namespace

std::optional<std::string> scanStartFailure(const std::string& dt, const std::string& ar,
                                            const std::string& so) {
  if (dt.empty()) return "no DT file was given.";
  if (ar.empty()) return "no AR file was given.";
  OpenDatabases open;
  for (const auto& [role, path] : {std::pair{"DT", &dt}, {"AR", &ar}, {"SO", &so}}) {
    if (path->empty()) continue;
    try {
      open.all.push_back(openDatabase(*path));
    } catch (...) {
      return fileName(role, *path) + ": " + failureText();
    }
  }
  const std::string options = std::string(contract::kTblDTOptions) + " in " + fileName("DT", dt);
  try {
    db::RecordsetPtr rs = open.all.front()->openRecordset(contract::kTblDTOptions, db::RecordsetType::ForwardOnly);
    if (rs->eof()) return options + " has no record.";
    contract::ScanOptions loaded;
    for (const contract::OptionField& field : contract::kOptionFields) {
      try {
        contract::loadOption(loaded, field, rs->field(field.name));
      } catch (...) {
        return "the option " + std::string(field.name) + " of " + options + ": " + failureText();
      }
    }
  } catch (...) {
    return options + ": " + failureText();
  }
  return std::nullopt;
}

std::vector<std::string> linkWarnings(const std::string& dt, const std::string& ar, const std::string& so) {
  std::vector<std::string> warnings;
  OpenDatabases open;
  std::vector<db::Database::LinkTarget> links;
  try {
    open.all.push_back(openDatabase(dt));
    links = open.all.front()->linkTargets();
  } catch (...) {
    return warnings;  // the update itself reports it
  }
  std::set<std::string_view> warned;
  for (const db::Database::LinkTarget& link : links) {
    const bool toAr = equalsIgnoreCase(link.name, contract::kTblArCust) ||
                      equalsIgnoreCase(link.name, contract::kTblArCustHist);
    const bool toSo = equalsIgnoreCase(link.name, contract::kTblSoHeader);
    if (!toAr && !toSo) continue;
    const std::string_view role = toAr ? "AR" : "SO";
    const std::string& given = toAr ? ar : so;
    if (given.empty() || linkReads(dt, link.location, given) || !warned.insert(role).second) continue;
    warnings.push_back("Warning: the DT file's link " + link.name + " reads '" + link.location + "', not " +
                       fileName(role, given) + " given: the DT's links decide which " + std::string(role) +
                       " file the scan reads.");
  }
  return warnings;
}

}  // namespace oskara::tool
