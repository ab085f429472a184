#include "automation/method_table.h"

#include <gtest/gtest.h>

#include <functional>

namespace oskara::automation {
namespace {

// A class exercising every kind of parameter the table supports.
class Probe : public DispatchObject<Probe> {
 public:
  bool Transfer(std::string account, int32_t amount, int32_t& lErr, std::string& sError) {
    account += "-changed";  // by value: never reaches the caller
    if (amount > 100) {
      lErr = amount * 1000;
      sError = "[Transfer]limit exceeded";
      return false;
    }
    return true;
  }
  int32_t Add(int32_t a, std::optional<int32_t> b) {
    lastB = b;
    return a + b.value_or(0);
  }
  std::string Describe(int16_t count, std::optional<bool>& prompt) {
    promptSeen = prompt;
    if (prompt) prompt = !*prompt;
    return std::to_string(count);
  }
  int16_t Narrow(int16_t value) const { return value; }
  Variant Echo(Variant value) { return value; }
  void Fail() { throw Error(3044, "Not a valid path.", "InitOptions"); }
  Variant Notify(ObjectRef target, std::string text) {
    std::vector<Variant> args{Variant(text)};
    return target->invoke("Echo", args);
  }

  static const MethodTable<Probe>& methodTable() {
    static const MethodTable<Probe> table(
        "Probe", {
                     method("Transfer", &Probe::Transfer, {"account", "amount", "lErr", "sError"},
                            "Moves an amount; reports failures in lErr and sError."),
                     method("Add", &Probe::Add, {"a", "b"}),
                     method("Describe", &Probe::Describe, {"count", "prompt"}),
                     method("Narrow", &Probe::Narrow, {"value"}),
                     method("Echo", &Probe::Echo, {"value"}),
                     method("Fail", &Probe::Fail),
                     method("Notify", &Probe::Notify, {"target", "text"}),
                 });
    return table;
  }

  std::optional<int32_t> lastB = -1;
  std::optional<bool> promptSeen;
};

Error errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

Variant call(Dispatch& object, std::string_view member, std::vector<Variant> args) {
  return object.invoke(member, args);
}

TEST(MethodTableByReference, LongAndStringComeBackToTheCaller) {
  Probe probe;
  std::vector<Variant> args{"ACC1", int32_t{250}, int32_t{0}, ""};
  EXPECT_EQ(probe.invoke("Transfer", args), Variant(false));
  EXPECT_EQ(args[0], Variant("ACC1"));  // by value stays as passed
  EXPECT_EQ(args[2], Variant(int32_t{250000}));
  EXPECT_EQ(args[3], Variant("[Transfer]limit exceeded"));

  // A successful call writes the callee's values too (here the unchanged ones).
  std::vector<Variant> ok{"ACC1", int32_t{5}, int32_t{7}, "before"};
  EXPECT_EQ(probe.invoke("Transfer", ok), Variant(true));
  EXPECT_EQ(ok[2], Variant(int32_t{7}));
  EXPECT_EQ(ok[3], Variant("before"));
}

TEST(MethodTableByReference, ValuesAreConvertedBackIntoTheCallersType) {
  Probe probe;
  // A String variable for a Long parameter gets the number as text; an Empty
  // variant takes the callee's type.
  std::vector<Variant> args{"ACC1", int32_t{101}, "0", Variant()};
  probe.invoke("Transfer", args);
  EXPECT_EQ(args[2], Variant("101000"));
  EXPECT_EQ(args[3], Variant("[Transfer]limit exceeded"));

  // An Integer variable cannot take 101000: overflow names the argument and the
  // caller's list is left as it was.
  std::vector<Variant> narrow{"ACC1", int32_t{101}, int16_t{0}, "x"};
  Error e = errorOf([&] { probe.invoke("Transfer", narrow); });
  EXPECT_EQ(e.number(), 6);
  EXPECT_NE(e.text().find("'lErr'"), std::string::npos) << e.text();
  EXPECT_EQ(narrow[2], Variant(int16_t{0}));
  EXPECT_EQ(narrow[3], Variant("x"));
}

TEST(MethodTableOptional, MissingArgumentsReachTheCalleeAsMissing) {
  Probe probe;
  EXPECT_EQ(call(probe, "Add", {int32_t{2}}), Variant(int32_t{2}));
  EXPECT_EQ(probe.lastB, std::nullopt);
  EXPECT_EQ(call(probe, "Add", {int32_t{2}, missingArgument()}), Variant(int32_t{2}));
  EXPECT_EQ(probe.lastB, std::nullopt);
  EXPECT_EQ(call(probe, "Add", {int32_t{2}, int32_t{0}}), Variant(int32_t{2}));
  EXPECT_EQ(probe.lastB, 0);

  // An optional by-reference argument: absent stays absent, present comes back.
  std::vector<Variant> without{int16_t{3}};
  EXPECT_EQ(probe.invoke("Describe", without), Variant("3"));
  EXPECT_EQ(probe.promptSeen, std::nullopt);
  EXPECT_EQ(without.size(), 1u);
  std::vector<Variant> with{int16_t{3}, true};
  probe.invoke("Describe", with);
  EXPECT_EQ(probe.promptSeen, true);
  EXPECT_EQ(with[1], Variant(false));
}

TEST(MethodTableConversion, ArgumentsTakeTheDeclaredType) {
  Probe probe;
  EXPECT_EQ(call(probe, "Add", {"5", " 6"}), Variant(int32_t{11}));
  EXPECT_EQ(call(probe, "Narrow", {2.5}), Variant(int16_t{2}));  // half to even
  EXPECT_EQ(call(probe, "Narrow", {3.5}), Variant(int16_t{4}));
  EXPECT_EQ(call(probe, "Narrow", {true}), Variant(int16_t{-1}));
  EXPECT_EQ(call(probe, "Echo", {Variant::null()}), Variant::null());  // Variant: unconverted

  Error overflow = errorOf([&] { call(probe, "Narrow", {int32_t{40000}}); });
  EXPECT_EQ(overflow.number(), 6);
  EXPECT_NE(overflow.text().find("'value'"), std::string::npos) << overflow.text();
}

TEST(MethodTableConversion, MismatchNamesTheArgumentAndTheMember) {
  Probe probe;
  Error e = errorOf([&] { call(probe, "Add", {int32_t{1}, "twelve"}); });
  EXPECT_EQ(e.number(), 13);
  EXPECT_NE(e.text().find("'b'"), std::string::npos) << e.text();
  EXPECT_NE(e.text().find("Probe.Add"), std::string::npos) << e.text();
  // The text speaks of the declared type, not of a conversion step on the way.
  Error narrow = errorOf([&] { call(probe, "Narrow", {"five"}); });
  EXPECT_NE(narrow.text().find("\"five\" to Integer"), std::string::npos) << narrow.text();
  // Null for a typed parameter is a mismatch at the call boundary.
  EXPECT_EQ(errorOf([&] { call(probe, "Add", {Variant::null()}); }).number(), 13);
}

TEST(MethodTableDispatch, DispatchFailuresCarryTheRuntimeNumbers) {
  Probe probe;
  Error unknown = errorOf([&] { call(probe, "Subtract", {}); });
  EXPECT_EQ(unknown.number(), 438);
  EXPECT_NE(unknown.text().find("Subtract"), std::string::npos);
  EXPECT_NE(unknown.text().find("Probe"), std::string::npos);

  EXPECT_EQ(errorOf([&] { call(probe, "Add", {1, 2, 3}); }).number(), 450);  // too many
  EXPECT_EQ(errorOf([&] { call(probe, "Add", {}); }).number(), 450);         // required left out
  Error notOptional = errorOf([&] { call(probe, "Add", {missingArgument(), 2}); });
  EXPECT_EQ(notOptional.number(), 449);
  EXPECT_NE(notOptional.text().find("'a'"), std::string::npos);
}

TEST(MethodTableDispatch, NamesMatchWithoutRegardToCase) {
  Probe probe;
  EXPECT_EQ(call(probe, "aDD", {1, 2}), Variant(int32_t{3}));
  EXPECT_EQ(call(probe, "NARROW", {int16_t{9}}), Variant(int16_t{9}));
}

TEST(MethodTableDispatch, CalleeFailuresPropagateUnchanged) {
  Probe probe;
  Error e = errorOf([&] { call(probe, "Fail", {}); });
  EXPECT_EQ(e.number(), 3044);
  EXPECT_EQ(e.text(), "Not a valid path.");
  EXPECT_EQ(e.source(), "InitOptions");
}

TEST(MethodTableDispatch, ObjectArgumentsAreCalledBackByName) {
  Probe probe;
  auto target = std::make_shared<Probe>();
  EXPECT_EQ(call(probe, "Notify", {ObjectRef(target), "hello"}), Variant("hello"));
  // Empty is an unset reference; anything else is no object.
  EXPECT_EQ(errorOf([&] { call(probe, "Notify", {int32_t{1}, "x"}); }).number(), 13);
}

TEST(MethodTableTypeInfo, DescribesMembersInInterfaceOrder) {
  Probe probe;
  const ClassInfo& info = probe.typeInfo();
  EXPECT_EQ(info.name, "Probe");
  ASSERT_EQ(info.members.size(), 7u);
  EXPECT_EQ(info.members[0].name, "Transfer");
  EXPECT_EQ(info.members[6].name, "Notify");

  const MemberInfo& transfer = info.members[0];
  EXPECT_EQ(transfer.result, DeclType::Boolean);
  EXPECT_EQ(transfer.help, "Moves an amount; reports failures in lErr and sError.");
  ASSERT_EQ(transfer.params.size(), 4u);
  EXPECT_EQ(transfer.params[0].type, DeclType::String);
  EXPECT_FALSE(transfer.params[0].byRef);
  EXPECT_EQ(transfer.params[2].name, "lErr");
  EXPECT_EQ(transfer.params[2].type, DeclType::Long);
  EXPECT_TRUE(transfer.params[2].byRef);

  const MemberInfo* describe = info.findMember("describe");
  ASSERT_NE(describe, nullptr);
  EXPECT_TRUE(describe->params[1].optional);
  EXPECT_TRUE(describe->params[1].byRef);
  EXPECT_EQ(info.findMember("Fail")->result, DeclType::Void);
  EXPECT_EQ(info.findMember("Echo")->params[0].type, DeclType::Variant);
}

TEST(MethodTableTypeInfo, ParameterNamesMustMatchTheFunction) {
  Error e = errorOf([] { method("Add", &Probe::Add, {"a"}); });
  EXPECT_EQ(e.number(), 5);
  EXPECT_NE(e.text().find("Add"), std::string::npos);
}

}  // namespace
}  // namespace oskara::automation
