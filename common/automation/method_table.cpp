#include "automation/method_table.h"

namespace oskara::automation::detail {
namespace {

std::optional<VarType> varTypeOf(DeclType type) {
  switch (type) {
    case DeclType::Integer: return VarType::Integer;
    case DeclType::Long: return VarType::Long;
    case DeclType::Double: return VarType::Double;
    case DeclType::Date: return VarType::Date;
    case DeclType::String: return VarType::String;
    case DeclType::Object: return VarType::Object;
    case DeclType::Boolean: return VarType::Boolean;
    case DeclType::Variant:
    case DeclType::Void: return std::nullopt;
  }
  return std::nullopt;
}

// A conversion failure restated for one argument, in terms of the declared
// type. Null reaching a typed parameter is a type mismatch at the call
// boundary, as the runtime reports it, not the "invalid use of Null" of a
// conversion inside code.
Error argumentFailure(const Error& cause, const Variant& value, VarType target,
                      const std::string& className, const MemberInfo& member,
                      const ParamInfo& param) {
  const std::string where =
      " in argument '" + param.name + "' of " + className + "." + member.name + ": ";
  const std::string typeName(varTypeName(target));
  if (cause.number() == runtime_error::kOverflow) {
    return Error(runtime_error::kOverflow,
                 "Overflow" + where + value.debugString() + " does not fit in " + typeName + ".");
  }
  if (cause.number() == runtime_error::kTypeMismatch ||
      cause.number() == runtime_error::kInvalidUseOfNull) {
    return Error(runtime_error::kTypeMismatch, "Type mismatch" + where + "cannot convert " +
                                                   value.debugString() + " to " + typeName + ".");
  }
  return Error(cause.number(), cause.text() + where.substr(0, where.size() - 2) + ".");
}

}  // namespace

void checkArgumentCount(const std::string& className, const MemberInfo& member,
                        const std::vector<Variant>& args) {
  const size_t declared = member.params.size();
  bool fits = args.size() <= declared;
  for (size_t i = args.size(); fits && i < declared; ++i) fits = member.params[i].optional;
  if (!fits) throw wrongArgumentCount(className, member.name, args.size(), declared);
}

Variant convertArgument(const Variant& arg, const std::string& className, const MemberInfo& member,
                        const ParamInfo& param) {
  std::optional<VarType> target = varTypeOf(param.type);
  if (!target) return arg;
  try {
    return arg.convertTo(*target);
  } catch (const Error& e) {
    throw argumentFailure(e, arg, *target, className, member, param);
  }
}

Variant convertBack(const Variant& callerArg, Variant calleeValue, const std::string& className,
                    const MemberInfo& member, const ParamInfo& param) {
  // A caller's variant that held nothing takes the callee's value and type;
  // a typed one keeps its type, as a typed variable of the caller would.
  if (param.type == DeclType::Variant || callerArg.isEmpty() || callerArg.isNull())
    return calleeValue;
  try {
    return calleeValue.convertTo(callerArg.type());
  } catch (const Error& e) {
    throw argumentFailure(e, calleeValue, callerArg.type(), className, member, param);
  }
}

void throwArgumentNotOptional(const std::string& className, const MemberInfo& member,
                              const ParamInfo& param) {
  throw argumentNotOptional(className, member.name, param.name);
}

Error badDeclaration(std::string_view member, size_t names, size_t params) {
  return Error(automation_error::kInvalidCall,
               "Invalid method declaration: '" + std::string(member) + "' names " +
                   std::to_string(names) + " parameter(s) but its function takes " +
                   std::to_string(params) + ".");
}

}  // namespace oskara::automation::detail
