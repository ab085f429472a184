#include "database_check.h"

#include <algorithm>
#include <string_view>

#include "contract/options.h"
#include "contract/schema.h"
#include "contract/tables.h"
#include "core/error.h"
#include "core/text.h"
#include "dbengine/dbengine.h"
#include "directdb/sqlite_file.h"
#include "scan_files.h"

namespace oskara::tool {
namespace {

namespace fs = std::filesystem;
using contract::DatabaseKind;
using contract::FieldKind;
using directdb::SqliteFile;

std::string upperWord(std::string_view declared) {
  std::string word;
  for (char c : declared) {
    if (c == ' ' || c == '(') break;
    word += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return word;
}

std::string_view whatKindHolds(FieldKind kind) {
  switch (kind) {
    case FieldKind::Text: return "is not text";
    case FieldKind::Short: return "is not a whole number from -32768 to 32767";
    case FieldKind::Long: return "is not a whole number from -2147483648 to 2147483647";
    case FieldKind::Double: return "is not a number";
    case FieldKind::Boolean: return "is not a yes/no value (a whole number, 0 for No)";
    case FieldKind::Date: return "is not a date (YYYY-MM-DD, YYYY-MM-DD HH:MM:SS or HH:MM:SS)";
  }
  return {};
}

class Checker {
 public:
  CheckReport report;

  void problem(const fs::path& file, std::string where, std::string text) {
    report.problems.push_back({file, std::move(where), std::move(text)});
  }

  // The tables of `kind` in `file`, field by field and row by row.
  void checkFile(const fs::path& file, DatabaseKind kind) {
    std::optional<SqliteFile> db;
    try {
      db.emplace(file);
      db->query("SELECT count(*) FROM sqlite_schema");  // a file that is no database fails here
    } catch (const Error& e) {
      return problem(file, "", e.text());
    }
    for (const contract::TableDef& table : contract::tableDefs(kind)) checkTable(*db, table);
  }

  // What a queue update would meet before its rules run: the files opening,
  // the options loading, the DT's links naming the files given and opening,
  // and its stored query translating with its parameter and fields.
  void checkScanStart(const fs::path& dt, const fs::path& ar, const std::optional<fs::path>& so) {
    const std::string soPath = so ? so->string() : std::string();
    if (auto failure = scanStartFailure(dt.string(), ar.string(), soPath)) problem(dt, "", *failure);
    for (const std::string& warning : linkWarnings(dt.string(), ar.string(), soPath)) problem(dt, "", warning);
    db::DatabasePtr database;
    try {
      database = db::Engine::instance().workspace(0).openDatabase(dt.string());
    } catch (const Error& e) {
      return problem(dt, "", e.text());
    }
    for (std::string_view link : {contract::kTblArCust, contract::kTblArCustHist}) {
      try {
        database->openRecordset("SELECT * FROM " + std::string(link) + " WHERE False", db::RecordsetType::ForwardOnly)
            ->close();
      } catch (const Error& e) {
        problem(dt, std::string(link), e.text());
      }
    }
    const std::string query(contract::kQryDtFollowUp2b);
    try {
      const auto names = database->queryDefNames();
      if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return equalsIgnoreCase(n, query); }))
        return problem(dt, query, "the stored query is missing from sys_queries");
      const std::string parameter(contract::optionName(&contract::ScanOptions::Chk_FollowUp2_x));
      const auto parameters = database->queryDef(query)->parameterNames();
      const bool declared = std::any_of(parameters.begin(), parameters.end(),
                                        [&](const std::string& p) { return equalsIgnoreCase(p, parameter); });
      if (!declared) problem(dt, query, "the stored query has no parameter " + parameter);
      db::QueryDefPtr probe = database->createQueryDef("", "SELECT CustId, LogID FROM " + query + " WHERE False");
      if (declared) probe->setParameter(parameter, Variant(int16_t{0}));
      probe->openRecordset(db::RecordsetType::ForwardOnly)->close();
    } catch (const Error& e) {
      problem(dt, query, e.text());
    }
  }

 private:
  void checkTable(SqliteFile& db, const contract::TableDef& table) {
    const fs::path& file = db.path();
    const std::string name(table.name);
    auto created = db.query("SELECT name, sql FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE",
                            {table.name});
    if (created.empty()) return problem(file, name, "the table is missing");
    const std::string actual = created[0][0].toString();
    if (created[0][1].toString().find("CHECK") == std::string::npos)
      report.notes.push_back({file, actual, "made without the constraints that keep wrong values out"});

    // Declared fields, and the key that names a row: the one-field primary key, else the rowid.
    auto info = db.query("SELECT name, type, pk FROM pragma_table_info(?1)", {actual});
    std::string key = "rowid";
    if (std::count_if(info.begin(), info.end(), [](const auto& r) { return r[2].toInt32() > 0; }) == 1)
      key = std::find_if(info.begin(), info.end(), [](const auto& r) { return r[2].toInt32() > 0; })->at(0).toString();

    for (const contract::FieldDef& field : table.fields) {
      auto column = std::find_if(info.begin(), info.end(),
                                 [&](const auto& r) { return equalsIgnoreCase(r[0].toString(), field.name); });
      const std::string where = actual + "." + std::string(field.name);
      if (column == info.end()) {
        problem(file, where, "the field is missing");
        continue;
      }
      const std::string declared = upperWord((*column)[1].toString());
      const std::string expected = upperWord(contract::sqliteType(field.kind));
      if (declared != expected) {
        problem(file, where, "declared " + (declared.empty() ? std::string("without a type") : declared) +
                                 ", where the files declare " + expected);
        continue;
      }
      const std::string fieldName = (*column)[0].toString();
      const std::string check = contract::sqliteFieldCheck("\"" + fieldName + "\"", field.kind);
      const std::string keyName = key == "rowid" ? key : "\"" + key + "\"";
      for (const auto& row : db.query("SELECT " + keyName + ", \"" + fieldName + "\" FROM \"" + actual +
                                      "\" WHERE NOT (" + check + ") ORDER BY 1")) {
        problem(file, where + ", " + key + " = " + row[0].debugString(),
                row[1].debugString() + " " + std::string(whatKindHolds(field.kind)));
      }
    }
  }
};

}  // namespace

CheckReport checkDatabases(const fs::path& dt, const fs::path& ar, const std::optional<fs::path>& so) {
  Checker checker;
  checker.checkFile(dt, DatabaseKind::DT);
  checker.checkFile(ar, DatabaseKind::AR);
  if (so) checker.checkFile(*so, DatabaseKind::SO);
  checker.checkScanStart(dt, ar, so);
  return std::move(checker.report);
}

}  // namespace oskara::tool
