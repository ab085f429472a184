#include "tormel/globals.h"

namespace tormel {

bool g_bInTrans = false;

oskara::Variant NullToEmpty(const oskara::Variant& value) {
  try {
    return value.isNull() ? oskara::Variant("") : value;
  } catch (...) {
    return oskara::Variant("");
  }
}

oskara::Variant EmptyToNull(const oskara::Variant& value) {
  try {
    const std::string* text = value.get<std::string>();
    return text && text->empty() ? oskara::Variant::null() : value;
  } catch (...) {
    return oskara::Variant::null();
  }
}

}  // namespace tormel
