#include "dbengine/sql/function_catalog.h"

#include "core/text.h"
#include "dbengine/sql/enum_table.h"

namespace oskara::db::sql {
namespace {

using R = FunctionResult;
using F = FunctionForm;

// Every Function once, in the order of the enum (checked below).
constexpr DialectFunction kFunctions[] = {
    // Special forms.
    {Function::IIf, "IIf", 3, 3, R::Unknown, F::IIf},
    {Function::IsNull, "IsNull", 1, 1, R::Boolean, F::IsNull},
    {Function::Nz, "Nz", 1, 2, R::FirstArgument, F::Nz},
    // Aggregates.
    {Function::Count, "Count", 1, 1, R::Number, F::Aggregate},
    {Function::Sum, "Sum", 1, 1, R::Number, F::Aggregate},
    {Function::Avg, "Avg", 1, 1, R::Number, F::Aggregate},
    {Function::Min, "Min", 1, 1, R::FirstArgument, F::Aggregate},
    {Function::Max, "Max", 1, 1, R::FirstArgument, F::Aggregate},
    {Function::First, "First", 1, 1, R::FirstArgument, F::Aggregate},
    {Function::Last, "Last", 1, 1, R::FirstArgument, F::Aggregate},
    // Clock.
    {Function::Date, "Date", 0, 0, R::Date, F::Call},
    {Function::Time, "Time", 0, 0, R::Date, F::Call},
    {Function::Now, "Now", 0, 0, R::Date, F::Call},
    // Dates.
    {Function::DateDiff, "DateDiff", 3, 5, R::Number, F::Call},
    {Function::DateAdd, "DateAdd", 3, 3, R::Date, F::Call},
    {Function::DatePart, "DatePart", 2, 4, R::Number, F::Call},
    {Function::DateSerial, "DateSerial", 3, 3, R::Date, F::Call},
    {Function::TimeSerial, "TimeSerial", 3, 3, R::Date, F::Call},
    {Function::DateValue, "DateValue", 1, 1, R::Date, F::Call},
    {Function::TimeValue, "TimeValue", 1, 1, R::Date, F::Call},
    {Function::Year, "Year", 1, 1, R::Number, F::Call},
    {Function::Month, "Month", 1, 1, R::Number, F::Call},
    {Function::Day, "Day", 1, 1, R::Number, F::Call},
    {Function::Hour, "Hour", 1, 1, R::Number, F::Call},
    {Function::Minute, "Minute", 1, 1, R::Number, F::Call},
    {Function::Second, "Second", 1, 1, R::Number, F::Call},
    {Function::Weekday, "Weekday", 1, 2, R::Number, F::Call},
    // Text.
    {Function::Len, "Len", 1, 1, R::Number, F::Call},
    {Function::Left, "Left", 2, 2, R::Text, F::Call},
    {Function::Right, "Right", 2, 2, R::Text, F::Call},
    {Function::Mid, "Mid", 2, 3, R::Text, F::Call},
    {Function::UCase, "UCase", 1, 1, R::Text, F::Call},
    {Function::LCase, "LCase", 1, 1, R::Text, F::Call},
    {Function::Trim, "Trim", 1, 1, R::Text, F::Call},
    {Function::LTrim, "LTrim", 1, 1, R::Text, F::Call},
    {Function::RTrim, "RTrim", 1, 1, R::Text, F::Call},
    {Function::InStr, "InStr", 2, 4, R::Number, F::Call},
    {Function::Space, "Space", 1, 1, R::Text, F::Call},
    {Function::String, "String", 2, 2, R::Text, F::Call},
    {Function::Replace, "Replace", 3, 6, R::Text, F::Call},
    // Numbers.
    {Function::Abs, "Abs", 1, 1, R::Number, F::Call},
    {Function::Int, "Int", 1, 1, R::Number, F::Call},
    {Function::Fix, "Fix", 1, 1, R::Number, F::Call},
    {Function::Sgn, "Sgn", 1, 1, R::Number, F::Call},
    {Function::Round, "Round", 1, 2, R::Number, F::Call},
    {Function::Sqr, "Sqr", 1, 1, R::Number, F::Call},
    {Function::Val, "Val", 1, 1, R::Number, F::Call},
    // Conversions.
    {Function::CStr, "CStr", 1, 1, R::Text, F::Call},
    {Function::CInt, "CInt", 1, 1, R::Number, F::Call},
    {Function::CLng, "CLng", 1, 1, R::Number, F::Call},
    {Function::CDbl, "CDbl", 1, 1, R::Number, F::Call},
    {Function::CSng, "CSng", 1, 1, R::Number, F::Call},
    {Function::CCur, "CCur", 1, 1, R::Number, F::Call},
    {Function::CDate, "CDate", 1, 1, R::Date, F::Call},
    {Function::CVDate, "CVDate", 1, 1, R::Date, F::Call},
    {Function::CBool, "CBool", 1, 1, R::Boolean, F::Call},
    {Function::StrComp, "StrComp", 2, 3, R::Number, F::Call},
};

static_assert(inEnumOrder<&DialectFunction::function>(kFunctions, kFunctionCount),
              "kFunctions lists every Function, in the order of the enum");

}  // namespace

const DialectFunction* findDialectFunction(std::string_view name) {
  for (const DialectFunction& f : kFunctions) {
    if (equalsIgnoreCase(f.name, name)) return &f;
  }
  return nullptr;
}

}  // namespace oskara::db::sql
