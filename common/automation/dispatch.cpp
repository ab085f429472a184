#include "automation/dispatch.h"

#include "core/text.h"

namespace oskara {

std::string_view declTypeName(DeclType type) {
  switch (type) {
    case DeclType::Integer: return "Integer";
    case DeclType::Long: return "Long";
    case DeclType::Double: return "Double";
    case DeclType::Date: return "Date";
    case DeclType::String: return "String";
    case DeclType::Object: return "Object";
    case DeclType::Boolean: return "Boolean";
    case DeclType::Variant: return "Variant";
    case DeclType::Void: return "Void";
  }
  return "Unknown";
}

bool sameName(std::string_view a, std::string_view b) { return equalsIgnoreCase(a, b); }

namespace {

const MemberInfo* findByName(const std::vector<MemberInfo>& list, std::string_view name) {
  for (const MemberInfo& m : list) {
    if (sameName(m.name, name)) return &m;
  }
  return nullptr;
}

}  // namespace

const MemberInfo* ClassInfo::findMember(std::string_view member) const {
  return findByName(members, member);
}

const MemberInfo* ClassInfo::findEvent(std::string_view event) const {
  return findByName(events, event);
}

Variant missingArgument() { return Variant::error(automation_error::kParamNotFound); }

bool isMissingArgument(const Variant& value) {
  const auto* e = value.get<Variant::ErrorValue>();
  return e != nullptr && e->code == automation_error::kParamNotFound;
}

namespace {

std::string qualified(std::string_view className, std::string_view member) {
  std::string text(className);
  text += '.';
  text += member;
  return text;
}

}  // namespace

Error memberNotSupported(std::string_view className, std::string_view member) {
  return Error(automation_error::kMemberNotSupported,
               "Object doesn't support this property or method: '" + std::string(member) +
                   "' is not a member of " + std::string(className) + ".");
}

Error wrongArgumentCount(std::string_view className, std::string_view member, size_t given,
                         size_t declared) {
  return Error(automation_error::kWrongArgumentCount,
               "Wrong number of arguments or invalid property assignment: " +
                   qualified(className, member) + " got " + std::to_string(given) +
                   " argument(s) for " + std::to_string(declared) + " parameter(s).");
}

Error argumentNotOptional(std::string_view className, std::string_view member,
                          std::string_view param) {
  return Error(automation_error::kArgumentNotOptional,
               "Argument not optional: '" + std::string(param) + "' of " +
                   qualified(className, member) + " must be given.");
}

Error cannotCreateObject(std::string_view progId, std::string_view reason) {
  std::string text = "Cannot create object '" + std::string(progId) + "'.";
  if (!reason.empty()) text += " " + std::string(reason);
  return Error(automation_error::kCannotCreateObject, std::move(text));
}

Error serverUnavailable(std::string_view what) {
  return Error(automation_error::kServerUnavailable,
               "The server of " + std::string(what) + " is not available: " +
                   "it has ended or cannot be reached.");
}

}  // namespace oskara
