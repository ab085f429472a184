// Fuzz target: a Variant of each type made from the input, converted to every
// type, and the texts made of it.
//
// Input: the first byte picks the type (Empty, Null, Boolean, Integer, Long,
// Double, Date, String, Error, or the narrowest type of a 64-bit whole
// number, as values read from a database are made); the rest
// is the value: the bytes of the number (a Date's serial may be any double,
// as a date computed elsewhere may be), or the text.
//
// Besides crashes, the target stops when a conversion fails with a number
// other than 6, 13 or 94 or without a text, when a converted value leaves
// its type's range, or when a date's text does not read back as the date.
#include <cmath>
#include <cstdint>
#include <string>

#include "core/error.h"
#include "core/variant.h"
#include "fuzz_support.h"

namespace {

using namespace oskara;

using fuzz::bytesAs;

[[noreturn]] void fault(const std::string& what, const Variant& value) {
  fuzz::fault(what, value.debugString());
}

Variant valueOf(const uint8_t* data, size_t size) {
  const uint8_t kind = data[0] % 10;
  ++data;
  --size;
  switch (kind) {
    case 0: return Variant();
    case 1: return Variant::null();
    case 2: return Variant(size > 0 && (data[0] & 1) != 0);
    case 3: return Variant(bytesAs<int16_t>(data, size));
    case 4: return Variant(bytesAs<int32_t>(data, size));
    case 5: return Variant(bytesAs<double>(data, size));
    case 6: return Variant(DateTime{bytesAs<double>(data, size)});
    case 7: return Variant(std::string(reinterpret_cast<const char*>(data), size));
    case 8: return Variant::error(bytesAs<int32_t>(data, size));
    default: return Variant::fromInt64(bytesAs<int64_t>(data, size));
  }
}

constexpr VarType kTargets[] = {VarType::Empty,  VarType::Null, VarType::Integer, VarType::Long,
                                VarType::Double, VarType::Date, VarType::String,  VarType::Object,
                                VarType::Error,  VarType::Boolean};

void checkConverted(const Variant& from, const Variant& to, VarType target) {
  if (to.type() != target) fault("convertTo gave " + std::string(varTypeName(to.type())), from);
  if (const double* d = to.get<double>(); d && !std::isfinite(*d) && from.type() != VarType::Double)
    fault("a conversion made " + std::to_string(*d), from);
  if (const DateTime* date = to.get<DateTime>(); date && from.type() != VarType::Date) {
    if (!DateTime::isInRange(date->serial)) fault("a date beyond the range of dates", from);
    const std::string iso = date->toIso();
    const auto back = DateTime::parseIso(iso);
    if (!back || back->toIso() != iso) fault("the date's text " + iso + " does not read back", from);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Variant value = valueOf(data, size);
  (void)value.debugString();
  for (VarType target : kTargets) {
    try {
      checkConverted(value, value.convertTo(target), target);
    } catch (const Error& e) {
      const int32_t n = e.number();
      if ((n != runtime_error::kOverflow && n != runtime_error::kTypeMismatch &&
           n != runtime_error::kInvalidUseOfNull) ||
          e.text().empty())
        fault("a conversion failed with " + std::to_string(n) + ": " + e.text(), value);
    }
  }
  if (const DateTime* date = value.get<DateTime>()) {
    try {
      (void)date->parts();
      (void)date->toIso();
    } catch (const Error& e) {
      if (e.number() != runtime_error::kOverflow) fault("a date's parts failed with " + e.text(), value);
    }
  }
  if (const std::string* text = value.get<std::string>()) (void)DateTime::parseIso(*text);
  if (const double* d = value.get<double>()) (void)numberText(*d);
  return 0;
}
