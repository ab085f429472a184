#include "dbengine/sql/errors.h"

#include <string>

namespace oskara::db::sql {
namespace {

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

Error syntaxError(int32_t number, std::string_view detail, std::string_view statement) {
  std::string kind;
  switch (number) {
    case errc::kSyntaxExpression: kind = "Syntax error in query expression"; break;
    case errc::kSyntaxFrom: kind = "Syntax error in FROM clause"; break;
    case errc::kSyntaxInsert: kind = "Syntax error in INSERT INTO statement"; break;
    case errc::kSyntaxUpdate: kind = "Syntax error in UPDATE statement"; break;
    case errc::kSyntaxSelect:
      kind = "The SELECT statement includes a reserved word or an argument name that is misspelled or missing, "
             "or the punctuation is incorrect";
      break;
    case errc::kSubqueryFields:
      kind = "A subquery that gives one value asks for more than one field; revise its SELECT to request only "
             "one field, or use it with EXISTS";
      break;
    case errc::kInvalidStatement:
      kind = "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'";
      break;
    default: kind = "Syntax error"; break;
  }
  std::string text = kind;
  if (!detail.empty()) text += " (" + std::string(detail) + ")";
  text += " in statement " + quoted(statement) + ".";
  return Error(number, text);
}

Error noSuchTable(std::string_view name) {
  return Error(errc::kNoSuchTable, "The database engine cannot find the input table or query " + quoted(name) +
                                       ". Make sure it exists and that its name is spelled correctly.");
}

Error ambiguousField(std::string_view name, std::string_view statement) {
  return Error(errc::kAmbiguousField, "The field name '" + std::string(name) +
                                          "' is ambiguous: more than one table in the FROM clause has a "
                                          "field of that name, in statement '" +
                                          std::string(statement) + "'.");
}

}  // namespace oskara::db::sql
