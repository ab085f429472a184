// MethodTable: the declarative way to make a C++ class an automation object.
// A class lists its public members in interface order, each with its member
// function and its parameter names; the parameter types, by-value or
// by-reference passing and optionality are read from the function's
// signature:
//
//   T              by value, declared type from T
//   const T&       by value
//   T&             by reference: the callee's value is written back
//   std::optional<T>, std::optional<T>&   optional; missing reaches the callee as std::nullopt
//
// with T one of bool (Boolean), int16_t (Integer), int32_t (Long), double,
// DateTime (Date), std::string (String), ObjectRef (Object) or Variant (any
// value, passed unconverted). The result type follows the same mapping; void
// means no result (Empty).
//
//   class QueueEngine : public automation::DispatchObject<QueueEngine> {
//    public:
//     bool ProcessQueue(std::string dt, std::string ar, std::string so,
//                       int32_t& lErr, std::string& sError);
//     static const automation::MethodTable<QueueEngine>& methodTable() {
//       static const automation::MethodTable<QueueEngine> table("QueueEngine", {
//           automation::method("ProcessQueue", &QueueEngine::ProcessQueue,
//                              {"DT_UNCPath", "AR_UNCPath", "SO_UNCPath", "lErr", "sError"}),
//       });
//       return table;
//     }
//   };
//
// The table does the rest: names matched without regard to case, argument
// counts checked, each argument converted to its declared type, by-reference
// arguments converted back into the caller's variant type after the call.
//
// Events the class raises are declared in the same table, after the members,
// with their parameter types as template arguments, and raised with
// raiseEvent (class_registry.h); on the bus each is a signal of the class's
// typed interface:
//
//       static const automation::MethodTable<QueueEngine> table("QueueEngine", {
//           automation::method(...), ...
//       }, {
//           automation::event<std::string, int32_t>("Progress", {"rule", "queued"},
//                                                   "How far the scan has got."),
//       });
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "automation/dispatch.h"

namespace oskara::automation {

namespace detail {

template <class T>
struct ValueTraits;  // only the automation types are allowed as parameters

template <>
struct ValueTraits<bool> {
  static constexpr DeclType kType = DeclType::Boolean;
};
template <>
struct ValueTraits<int16_t> {
  static constexpr DeclType kType = DeclType::Integer;
};
template <>
struct ValueTraits<int32_t> {
  static constexpr DeclType kType = DeclType::Long;
};
template <>
struct ValueTraits<double> {
  static constexpr DeclType kType = DeclType::Double;
};
template <>
struct ValueTraits<DateTime> {
  static constexpr DeclType kType = DeclType::Date;
};
template <>
struct ValueTraits<std::string> {
  static constexpr DeclType kType = DeclType::String;
};
template <>
struct ValueTraits<ObjectRef> {
  static constexpr DeclType kType = DeclType::Object;
};
template <>
struct ValueTraits<Variant> {
  static constexpr DeclType kType = DeclType::Variant;
};

template <class T>
struct OptionalOf {
  static constexpr bool kOptional = false;
  using Value = T;
};
template <class T>
struct OptionalOf<std::optional<T>> {
  static constexpr bool kOptional = true;
  using Value = T;
};

template <class Arg>
struct ParamTraits {
  using Stored = std::remove_cvref_t<Arg>;  // what the table holds for the call
  using Value = typename OptionalOf<Stored>::Value;
  static constexpr bool kOptional = OptionalOf<Stored>::kOptional;
  static constexpr bool kByRef =
      std::is_lvalue_reference_v<Arg> && !std::is_const_v<std::remove_reference_t<Arg>>;
  static constexpr DeclType kType = ValueTraits<Value>::kType;
};

template <class R>
constexpr DeclType resultType() {
  if constexpr (std::is_void_v<R>) {
    return DeclType::Void;
  } else {
    return ValueTraits<std::remove_cvref_t<R>>::kType;
  }
}

// Non-template steps of a call (method_table.cpp).
void checkArgumentCount(const std::string& className, const MemberInfo& member,
                        const std::vector<Variant>& args);
// The caller's argument converted to the declared type; failures name the argument.
Variant convertArgument(const Variant& arg, const std::string& className,
                        const MemberInfo& member, const ParamInfo& param);
// The callee's by-reference value converted back into the type the caller passed.
Variant convertBack(const Variant& callerArg, Variant calleeValue, const std::string& className,
                    const MemberInfo& member, const ParamInfo& param);
[[noreturn]] void throwArgumentNotOptional(const std::string& className, const MemberInfo& member,
                                           const ParamInfo& param);
Error badDeclaration(std::string_view member, size_t names, size_t params);

template <class T>
T valueOf(const Variant& converted) {
  if constexpr (std::is_same_v<T, Variant>) {
    return converted;
  } else {
    return *converted.get<T>();
  }
}

template <class Arg>
typename ParamTraits<Arg>::Stored bindArgument(std::vector<Variant>& args, size_t index,
                                               const std::string& className,
                                               const MemberInfo& member) {
  using P = ParamTraits<Arg>;
  const ParamInfo& param = member.params[index];
  if (index >= args.size() || isMissingArgument(args[index])) {
    if constexpr (P::kOptional) {
      return typename P::Stored{};
    } else {
      // The count check has already refused a list that is too short.
      throwArgumentNotOptional(className, member, param);
    }
  }
  Variant converted = convertArgument(args[index], className, member, param);
  return typename P::Stored{valueOf<typename P::Value>(converted)};
}

template <class Arg>
void collectWriteBack(const typename ParamTraits<Arg>::Stored& value,
                      const std::vector<Variant>& args, size_t index, const std::string& className,
                      const MemberInfo& member, std::vector<std::optional<Variant>>& updates) {
  using P = ParamTraits<Arg>;
  if constexpr (P::kByRef) {
    if (index >= args.size() || isMissingArgument(args[index])) return;
    Variant calleeValue;
    if constexpr (P::kOptional) {
      if (!value) return;
      calleeValue = Variant(*value);
    } else {
      calleeValue = Variant(value);
    }
    updates[index] =
        convertBack(args[index], std::move(calleeValue), className, member, member.params[index]);
  }
}

template <class R, class... A, class F, class C, size_t... I>
Variant call(F fn, C& self, std::vector<Variant>& args, const std::string& className,
             const MemberInfo& member, std::index_sequence<I...>) {
  // Braced initialisation binds the arguments left to right, so the first
  // argument that does not convert is the one reported.
  std::tuple<typename ParamTraits<A>::Stored...> values{
      bindArgument<A>(args, I, className, member)...};
  Variant result;
  if constexpr (std::is_void_v<R>) {
    std::invoke(fn, self, std::get<I>(values)...);
  } else {
    result = Variant(std::invoke(fn, self, std::get<I>(values)...));
  }
  // All write-backs are converted first, so a failing one leaves the caller's list intact.
  std::vector<std::optional<Variant>> updates(args.size());
  (collectWriteBack<A>(std::get<I>(values), args, I, className, member, updates), ...);
  for (size_t i = 0; i < updates.size(); ++i) {
    if (updates[i]) args[i] = std::move(*updates[i]);
  }
  return result;
}

}  // namespace detail

// One member of a class: its description and how to call it.
template <class C>
struct Method {
  MemberInfo info;
  std::function<Variant(C&, std::vector<Variant>&, const std::string& className,
                        const MemberInfo&)>
      call;
};

template <class C, class R, class... A, class F>
Method<C> makeMethod(std::string name, F fn, std::vector<std::string> paramNames,
                     std::string help) {
  if (paramNames.size() != sizeof...(A))
    throw detail::badDeclaration(name, paramNames.size(), sizeof...(A));
  Method<C> m;
  m.info.name = std::move(name);
  m.info.result = detail::resultType<R>();
  m.info.help = std::move(help);
  size_t i = 0;
  (m.info.params.push_back(ParamInfo{std::move(paramNames[i++]), detail::ParamTraits<A>::kType,
                                     detail::ParamTraits<A>::kByRef,
                                     detail::ParamTraits<A>::kOptional}),
   ...);
  m.call = [fn](C& self, std::vector<Variant>& args, const std::string& className,
                const MemberInfo& member) {
    return detail::call<R, A...>(fn, self, args, className, member,
                                 std::index_sequence_for<A...>{});
  };
  return m;
}

template <class C, class R, class... A>
Method<C> method(std::string_view name, R (C::*fn)(A...), std::vector<std::string> paramNames = {},
                 std::string help = {}) {
  return makeMethod<C, R, A...>(std::string(name), fn, std::move(paramNames), std::move(help));
}

template <class C, class R, class... A>
Method<C> method(std::string_view name, R (C::*fn)(A...) const,
                 std::vector<std::string> paramNames = {}, std::string help = {}) {
  return makeMethod<C, R, A...>(std::string(name), fn, std::move(paramNames), std::move(help));
}

// An event of a class: its parameters are by value, of the types above
// except ObjectRef (a signal goes to every listener, and no reference can be
// counted for listeners) and std::optional.
template <class... A>
MemberInfo event(std::string name, std::vector<std::string> paramNames, std::string help = {}) {
  static_assert((!std::is_same_v<A, ObjectRef> && ...), "an event cannot carry an object");
  if (paramNames.size() != sizeof...(A))
    throw detail::badDeclaration(name, paramNames.size(), sizeof...(A));
  MemberInfo info{std::move(name), {}, DeclType::Void, std::move(help)};
  size_t i = 0;
  (info.params.push_back(ParamInfo{std::move(paramNames[i++]), detail::ValueTraits<A>::kType}),
   ...);
  return info;
}

template <class C>
class MethodTable {
 public:
  MethodTable(std::string_view className, std::vector<Method<C>> methods,
              std::vector<MemberInfo> events = {})
      : methods_(std::move(methods)) {
    info_.name = std::string(className);
    for (const Method<C>& m : methods_) info_.members.push_back(m.info);
    info_.events = std::move(events);
  }

  const ClassInfo& info() const { return info_; }

  Variant invoke(C& self, std::string_view member, std::vector<Variant>& args) const {
    for (const Method<C>& m : methods_) {
      if (!sameName(m.info.name, member)) continue;
      detail::checkArgumentCount(info_.name, m.info, args);
      return m.call(self, args, info_.name, m.info);
    }
    throw memberNotSupported(info_.name, member);
  }

 private:
  // Constant after construction.
  std::vector<Method<C>> methods_;  // in interface order
  ClassInfo info_;                  // the members' descriptions, same order
};

// Base for classes that describe themselves with a static methodTable().
template <class Derived>
class DispatchObject : public Dispatch {
 public:
  Variant invoke(std::string_view member, std::vector<Variant>& args) override {
    return Derived::methodTable().invoke(static_cast<Derived&>(*this), member, args);
  }
  const ClassInfo& typeInfo() const override { return Derived::methodTable().info(); }
};

}  // namespace oskara::automation
