// db check: everything in a set of database files that would make a queue
// update fail or decide wrongly, found without changing anything: missing
// tables and fields, declared types other than the files' own, the DT's
// links and stored query, the options record, and every row whose value its
// field's type cannot hold (a malformed date, a number out of range, text in
// a number field). The row rules are the CHECK constraints of new files
// (contract/schema.h), so the check finds in older files what new ones refuse.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace oskara::tool {

struct CheckFinding {
  std::filesystem::path file;
  std::string where;    // "tblDtCallLogHeader.LastConversationDate, LogID = 17", a table, a link
  std::string problem;  // what is wrong, with the value
};

struct CheckReport {
  std::vector<CheckFinding> problems;
  std::vector<CheckFinding> notes;  // worth knowing, not wrong: tables made without the constraints
};

CheckReport checkDatabases(const std::filesystem::path& dt, const std::filesystem::path& ar,
                           const std::optional<std::filesystem::path>& so);

}  // namespace oskara::tool
