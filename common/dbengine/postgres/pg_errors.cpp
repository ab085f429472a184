#include "dbengine/postgres/pg_errors.h"

#include <string>

#include "dbengine/errors.h"

namespace oskara::db::postgres {
namespace {

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

std::string field(const PGresult* result, int code) {
  const char* value = PQresultErrorField(result, code);
  return value ? value : "";
}

std::string_view firstOf(std::string_view a, std::string_view b) { return a.empty() ? b : a; }

}  // namespace

Error schemaNotFound(const ServerLocation& location) {
  return Error(errc::kFileNotFound, "Could not find the schema " + quoted(location.schema) + " of " +
                                        quoted(location.shown) + ": its database has no such schema.");
}

Error connectionLost(const ServerLocation& location, std::string_view reason) {
  return diskError(location.shown, scrubbed(serverReason(reason), location));
}

Error resultFailure(const PGresult* result, const FailureContext& context, const ServerLocation& location) {
  const std::string state = field(result, PG_DIAG_SQLSTATE);
  std::string message = field(result, PG_DIAG_MESSAGE_PRIMARY);
  if (message.empty()) message = serverReason(PQresultErrorMessage(result));
  const std::string detail = field(result, PG_DIAG_MESSAGE_DETAIL);
  message = scrubbed(message, location);
  const std::string withDetail = detail.empty() ? message : message + "; " + scrubbed(detail, location);
  const std::string_view object = firstOf(context.table, firstOf(context.file, context.statement));
  const std::string_view cls = std::string_view(state).substr(0, 2);

  if (state == "23505") return duplicateKey(object, withDetail);
  if (state == "23502") {
    const std::string column = field(result, PG_DIAG_COLUMN_NAME);
    return requiredNull(column.empty() ? object : std::string_view(column));
  }
  if (cls == "23") return validationRule(object, withDetail);
  if (state == "42501" || state == "25006") return readOnly(object);
  if (state == "55P03" || state == "40P01" || state == "40001") return lockedByOther(object);
  if (state == "42P01") return noSuchTable(firstOf(context.table, message));
  // A written value that its column cannot hold, as the files' field checks
  // report it: beyond the type's range, or not of the type (a malformed date).
  if (context.write && (state == "22003" || state == "22008"))
    return Error(state == "22003" ? errc::kNumericOverflow : errc::kConversionError,
                 std::string(state == "22003" ? "Numeric field overflow" : "Data type conversion error") +
                     " writing to " + quoted(object) + ": " + withDetail + ".");
  if (context.write && (state == "22P02" || state == "22007"))
    return Error(errc::kConversionError, "Data type conversion error writing to " + quoted(object) + ": " +
                                             withDetail + ".");
  if (state == "22P02" || state == "22003" || state == "42804" || state == "42883" || state == "22007" ||
      state == "22008")
    return Error(errc::kTypeMismatchCriteria, typeMismatchInCriteria(context.statement).text() + " (" +
                                                  withDetail + ")");
  if (cls == "08" || cls == "53" || cls == "57" || cls == "58")
    return diskError(firstOf(context.file, location.shown), withDetail);
  return engineFailure(withDetail, context.statement.empty() ? context.table : context.statement);
}

}  // namespace oskara::db::postgres
