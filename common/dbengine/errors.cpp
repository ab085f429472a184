#include "dbengine/errors.h"

namespace oskara::db {
namespace {

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

}  // namespace

Error fileNotFound(std::string_view path) {
  return Error(errc::kFileNotFound, "Could not find file " + quoted(path) + ".");
}

Error invalidPath(std::string_view path) {
  return Error(errc::kInvalidPath,
               quoted(path) + " is not a valid path. Make sure that the path name is spelled "
                              "correctly and that the folder it names can be reached.");
}

Error notADatabase(std::string_view path) {
  return Error(errc::kUnrecognizedFormat, "Unrecognized database format " + quoted(path) + ".");
}

Error cannotOpenFile(std::string_view path, std::string_view reason) {
  return Error(errc::kCannotOpenFile,
               "The database engine cannot open the file " + quoted(path) + ": " + std::string(reason) + ".");
}

Error fileInUse(std::string_view path) {
  return Error(errc::kFileInUse,
               "Could not use " + quoted(path) + "; the file is locked by another user.");
}

Error corrupt(std::string_view path) {
  return Error(errc::kCorrupt, "The database " + quoted(path) + " is damaged and cannot be read.");
}

Error diskError(std::string_view path, std::string_view reason) {
  return Error(errc::kDiskError,
               "Disk or network error on " + quoted(path) + ": " + std::string(reason) + ".");
}

Error itemNotFound(std::string_view what, std::string_view name) {
  return Error(errc::kItemNotFound,
               "Item not found in this collection: " + std::string(what) + " " + quoted(name) + ".");
}

Error tooFewParameters(int expected, std::string_view names) {
  return Error(errc::kTooFewParameters, "Too few parameters. Expected " + std::to_string(expected) +
                                            " (" + std::string(names) + ").");
}

Error noCurrentRecord() { return Error(errc::kNoCurrentRecord, "No current record."); }

Error updateWithoutEdit() {
  return Error(errc::kNoCurrentRecordUpdate, "Update or CancelUpdate without AddNew or Edit.");
}

Error readOnly(std::string_view object) {
  return Error(errc::kReadOnly,
               "Cannot update. Database or object is read-only: " + std::string(object) + ".");
}

Error tableLocked(std::string_view table, std::string_view user, std::string_view machine) {
  return Error(errc::kTableLocked, "Couldn't lock table " + quoted(table) +
                                       "; currently in use by user " + quoted(user) + " on machine " +
                                       quoted(machine) + ".");
}

Error notSupported(std::string_view operation) {
  return Error(errc::kNotSupported,
               "Operation is not supported for this type of object: " + std::string(operation) + ".");
}

Error notInTransaction() {
  return Error(errc::kNotInTransaction,
               "You tried to commit or rollback a transaction without first beginning a transaction.");
}

Error invalidOperation(std::string_view what) {
  return Error(errc::kInvalidOperation, "Invalid operation: " + std::string(what) + ".");
}

Error objectExists(std::string_view what, std::string_view name) {
  return Error(errc::kObjectExists,
               "The " + std::string(what) + " " + quoted(name) + " already exists.");
}

Error objectInvalid(std::string_view what) {
  return Error(errc::kObjectInvalid,
               "Object invalid or no longer set: the " + std::string(what) + " is closed.");
}

Error lockedByOther(std::string_view table) {
  return Error(errc::kCouldNotUpdateLocked,
               "Could not update " + quoted(table) + "; currently locked by another user.");
}

Error dataChanged(std::string_view table) {
  return Error(errc::kDataChanged, "The database engine stopped the process because you and another user are "
                                   "attempting to change the same data at the same time (a row of " +
                                       quoted(table) + ").");
}

Error cannotExecuteSelect(std::string_view statement) {
  return Error(errc::kCannotExecuteSelect, "Cannot execute a select query: " + quoted(statement) + ".");
}

Error typeMismatchInCriteria(std::string_view statement) {
  return Error(errc::kTypeMismatchCriteria,
               "Data type mismatch in criteria expression in statement " + quoted(statement) + ".");
}

Error engineFailure(std::string_view message, std::string_view statement) {
  std::string text = "The database engine failed: " + std::string(message);
  if (!statement.empty()) text += " (statement " + quoted(statement) + ")";
  return Error(errc::kReserved, text + ".");
}

Error duplicateKey(std::string_view table, std::string_view detail) {
  return Error(errc::kDuplicateKey,
               "The changes you requested to the table " + quoted(table) +
                   " were not successful because they would create duplicate values in the index or "
                   "primary key (" + std::string(detail) + ").");
}

Error requiredNull(std::string_view field) {
  return Error(errc::kRequiredNull, "The field " + quoted(field) + " cannot contain a Null value.");
}

Error numericOverflow(std::string_view field, std::string_view value) {
  return Error(errc::kNumericOverflow, "Numeric field overflow in field " + quoted(field) + ": " +
                                           std::string(value) + " does not fit.");
}

Error conversionError(std::string_view field, std::string_view value) {
  return Error(errc::kConversionError,
               "Data type conversion error: " + std::string(value) + " cannot be stored in field " +
                   quoted(field) + ".");
}

Error malformedDate(std::string_view table, std::string_view field, std::string_view key, std::string_view value) {
  return Error(errc::kConversionError,
               "Data type conversion error: field " + quoted(field) + " of table " + quoted(table) + " holds " +
                   std::string(value) + " in the row " + std::string(key) +
                   ", which is not a date (dates are stored as YYYY-MM-DD, YYYY-MM-DD HH:MM:SS or HH:MM:SS).");
}

Error fieldNotUpdatable(std::string_view field) {
  return Error(errc::kFieldNotUpdatable, "Field " + quoted(field) + " cannot be updated.");
}

Error validationRule(std::string_view table, std::string_view detail) {
  return Error(errc::kValidationRule, "One or more values are prohibited by a rule of table " +
                                          quoted(table) + " (" + std::string(detail) + ").");
}

}  // namespace oskara::db
