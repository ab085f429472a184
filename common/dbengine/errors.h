// The database engine's error numbers and the texts that go with them. Each
// factory returns the oskara::Error to throw; its text names the object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.h"
#include "dbengine/sql/errors.h"

namespace oskara::db {

namespace errc {
inline constexpr int32_t kReserved = sql::errc::kReserved;  // a failure of the store with no closer number
inline constexpr int32_t kInvalidArgument = 3001;
inline constexpr int32_t kCannotUpdateObject = 3003;   // unused placeholder for completeness
inline constexpr int32_t kObjectExists = 3012;
inline constexpr int32_t kNoCurrentRecordUpdate = 3020;  // Update without AddNew or Edit
inline constexpr int32_t kNoCurrentRecord = 3021;
inline constexpr int32_t kDuplicateKey = 3022;
inline constexpr int32_t kFileNotFound = 3024;
inline constexpr int32_t kReadOnly = 3027;
inline constexpr int32_t kNotInTransaction = 3034;
inline constexpr int32_t kDiskError = 3043;
inline constexpr int32_t kInvalidPath = 3044;
inline constexpr int32_t kFileInUse = 3045;
inline constexpr int32_t kCorrupt = 3049;
inline constexpr int32_t kCannotOpenFile = 3051;
inline constexpr int32_t kTooFewParameters = 3061;
inline constexpr int32_t kCannotExecuteSelect = 3065;
// The translator's numbers (dbengine/sql/errors.h).
inline constexpr int32_t kSyntaxExpression = sql::errc::kSyntaxExpression;
inline constexpr int32_t kNoSuchTable = sql::errc::kNoSuchTable;
inline constexpr int32_t kAmbiguousField = sql::errc::kAmbiguousField;
inline constexpr int32_t kInvalidStatement = sql::errc::kInvalidStatement;
inline constexpr int32_t kSyntaxFrom = sql::errc::kSyntaxFrom;
inline constexpr int32_t kSyntaxInsert = sql::errc::kSyntaxInsert;
inline constexpr int32_t kSyntaxUpdate = sql::errc::kSyntaxUpdate;
inline constexpr int32_t kFieldNotUpdatable = 3164;
inline constexpr int32_t kDataChanged = 3197;
inline constexpr int32_t kCouldNotUpdateLocked = 3218;
inline constexpr int32_t kInvalidOperation = 3219;
inline constexpr int32_t kNotSupported = 3251;
inline constexpr int32_t kTableLocked = 3262;
inline constexpr int32_t kItemNotFound = 3265;
inline constexpr int32_t kRequiredNull = 3314;
inline constexpr int32_t kValidationRule = 3317;
inline constexpr int32_t kUnrecognizedFormat = 3343;
inline constexpr int32_t kObjectInvalid = 3420;
inline constexpr int32_t kNumericOverflow = 3349;
inline constexpr int32_t kConversionError = 3421;
inline constexpr int32_t kTypeMismatchCriteria = 3464;
}  // namespace errc

// Opening files.
Error fileNotFound(std::string_view path);
Error invalidPath(std::string_view path);
Error notADatabase(std::string_view path);
Error cannotOpenFile(std::string_view path, std::string_view reason);
Error fileInUse(std::string_view path);
Error corrupt(std::string_view path);
Error diskError(std::string_view path, std::string_view reason);

// Objects and collections.
using sql::noSuchTable;
Error itemNotFound(std::string_view what, std::string_view name);  // what: "field", "parameter", "query"
Error tooFewParameters(int expected, std::string_view names);
Error noCurrentRecord();
Error updateWithoutEdit();
Error readOnly(std::string_view object);
Error tableLocked(std::string_view table, std::string_view user, std::string_view machine);
Error notSupported(std::string_view operation);
Error notInTransaction();
Error invalidOperation(std::string_view what);
Error objectExists(std::string_view what, std::string_view name);
Error objectInvalid(std::string_view what);  // a closed record set, query or database
Error lockedByOther(std::string_view table);  // a write that waited in vain for another user
Error dataChanged(std::string_view table);    // an edited row another user changed or deleted meanwhile

// Statements. `statement` is the dialect text as given.
using sql::syntaxError;
Error cannotExecuteSelect(std::string_view statement);
Error typeMismatchInCriteria(std::string_view statement);
// A failure of the store that has no number of its own: its message and the statement.
Error engineFailure(std::string_view message, std::string_view statement);

// Values.
Error duplicateKey(std::string_view table, std::string_view detail);
Error requiredNull(std::string_view field);
// `field` as the failure names it: "table.field" where the table is known;
// `value` as Variant::debugString shows it.
Error numericOverflow(std::string_view field, std::string_view value);
Error conversionError(std::string_view field, std::string_view value);
// A date field holding what is not a date as the files store one
// (DateTime::parseStored); `key` names the row ("LogID = 17").
Error malformedDate(std::string_view table, std::string_view field, std::string_view key, std::string_view value);
Error fieldNotUpdatable(std::string_view field);
Error validationRule(std::string_view table, std::string_view detail);

}  // namespace oskara::db
