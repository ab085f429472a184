// Dispatch: the late-bound object interface. Callers reach an automation
// object only through it: a member is called by name with a list of Variants
// in declaration order, by-reference arguments come back in that same list,
// and the class describes its members for tools and for the bus layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/variant.h"

namespace oskara {

// Declared type of a parameter or a result. The numbers are the runtime's type
// codes, so type information reads the same in every process and on the bus.
enum class DeclType : uint8_t {
  Integer = 2,   // 16-bit
  Long = 3,      // 32-bit
  Double = 5,
  Date = 7,
  String = 8,
  Object = 9,
  Boolean = 11,
  Variant = 12,  // any value; the callee gets the caller's value unconverted
  Void = 24,     // no result
};

std::string_view declTypeName(DeclType type);

struct ParamInfo {
  std::string name;       // as the class declares it ("lErr", "DT_UNCPath")
  DeclType type = DeclType::Variant;
  bool byRef = false;     // the callee's value is written back into the caller's argument
  bool optional = false;  // may be left out; the callee sees it as missing
};

struct MemberInfo {
  std::string name;               // spelling of the declaration; calls match it ignoring case
  std::vector<ParamInfo> params;  // in declaration order
  DeclType result = DeclType::Void;
  std::string help;               // help string for tools and people, may be empty
};

struct ClassInfo {
  std::string name;                 // class name, e.g. "QueueEngine"
  std::vector<MemberInfo> members;  // in interface order
  // Events the class raises (raiseEvent in class_registry.h): name, by-value
  // parameters and help, result Void. On the bus each is a signal of the
  // class's typed interface; the late-bound TypeInfo does not list them.
  std::vector<MemberInfo> events;

  // The member or event of that name, compared without regard to case; nullptr if none.
  const MemberInfo* findMember(std::string_view member) const;
  const MemberInfo* findEvent(std::string_view event) const;
};

// A late-bound automation object. Objects are shared through ObjectRef; an
// object ends, and its destructor runs its end-of-object code, with its last
// reference.
class Dispatch {
 public:
  virtual ~Dispatch() = default;

  // Calls `member` (any case) with `args` in declaration order. By-reference
  // arguments are written back into `args` when the call succeeds. Dispatch
  // failures raise the runtime's numbers (438, 449, 450, 6, 13); a failure of
  // the member itself propagates unchanged.
  virtual Variant invoke(std::string_view member, std::vector<Variant>& args) = 0;

  // The class's members; may raise when the description lives in another process.
  virtual const ClassInfo& typeInfo() const = 0;
};

// An argument left out in the middle of a list: the runtime's own marker, an
// Error value holding "parameter not found". Left-out trailing arguments are
// simply absent from the list.
Variant missingArgument();
bool isMissingArgument(const Variant& value);

// Failure numbers of the automation layer: the runtime's where it had one.
namespace automation_error {
inline constexpr int32_t kInvalidCall = 5;
inline constexpr int32_t kObjectNotSet = 91;  // a call on an empty object reference
inline constexpr int32_t kCannotCreateObject = 429;
inline constexpr int32_t kAutomationError = 440;
inline constexpr int32_t kMemberNotSupported = 438;
inline constexpr int32_t kArgumentNotOptional = 449;
inline constexpr int32_t kWrongArgumentCount = 450;
inline constexpr int32_t kServerUnavailable = 462;
inline constexpr int32_t kParamNotFound = static_cast<int32_t>(0x80020004);
}  // namespace automation_error

// Ready-made failures, each naming the member and the class.
Error memberNotSupported(std::string_view className, std::string_view member);
Error wrongArgumentCount(std::string_view className, std::string_view member, size_t given,
                         size_t declared);
Error argumentNotOptional(std::string_view className, std::string_view member,
                          std::string_view param);
Error cannotCreateObject(std::string_view progId, std::string_view reason = {});
Error serverUnavailable(std::string_view what);

// Case-insensitive comparison of member and class names (ASCII).
bool sameName(std::string_view a, std::string_view b);

}  // namespace oskara
