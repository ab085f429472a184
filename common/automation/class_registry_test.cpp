#include "automation/class_registry.h"

#include <gtest/gtest.h>

#include "automation/method_table.h"

namespace oskara {
namespace {

int g_ended = 0;  // end-of-object runs of Counter

class Counter : public automation::DispatchObject<Counter> {
 public:
  ~Counter() override { ++g_ended; }
  int32_t Next() { return ++value_; }
  static const automation::MethodTable<Counter>& methodTable() {
    static const automation::MethodTable<Counter> table(
        "Counter", {automation::method("Next", &Counter::Next)},
        {automation::event<int32_t>("Counted", {"value"})});
    return table;
  }

 private:
  int32_t value_ = 0;
};

// Stands in for the bus: records what it was asked for.
class FakeActivator : public ObjectActivator {
 public:
  ObjectRef activate(std::string_view progId) override {
    asked.emplace_back(progId);
    if (progId == "Remote.Counter") return std::make_shared<Counter>();
    throw cannotCreateObject(progId, "Activation failed.");
  }
  void raiseEvent(const Dispatch&, const MemberInfo& event,
                  const std::vector<Variant>& args) override {
    raised.emplace_back(event.name, args);
  }
  std::vector<std::string> asked;
  std::vector<std::pair<std::string, std::vector<Variant>>> raised;
};

class ClassRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { registerClass<Counter>("Test.Counter"); }
  void TearDown() override {
    unregisterClass("Test.Counter");
    setObjectActivator(nullptr);
  }
};

int32_t next(const ObjectRef& object) {
  std::vector<Variant> none;
  return object->invoke("Next", none).toInt32();
}

TEST_F(ClassRegistryTest, CreatesRegisteredClassesByIdentifier) {
  ObjectRef a = createObject("Test.Counter");
  ObjectRef b = createObject("test.COUNTER");  // identifiers ignore case
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);  // every creation is a new object
  EXPECT_EQ(next(a), 1);
  EXPECT_EQ(next(a), 2);
  EXPECT_EQ(next(b), 1);
  EXPECT_EQ(servedClassInfo("Test.Counter")->name, "Counter");
  EXPECT_EQ(servedClassInfo("Nope.Nothing"), nullptr);
}

TEST_F(ClassRegistryTest, UnknownIdentifierIsError429) {
  try {
    createObject("Tormel.Missing");
    FAIL() << "created an object of an unregistered class";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 429);
    EXPECT_NE(e.text().find("Cannot create object 'Tormel.Missing'."), std::string::npos);
  }
  EXPECT_THROW(createLocalObject("Tormel.Missing"), Error);
}

TEST_F(ClassRegistryTest, ClassesServedElsewhereComeFromTheActivator) {
  FakeActivator activator;
  setObjectActivator(&activator);
  ObjectRef remote = createObject("Remote.Counter");
  EXPECT_EQ(next(remote), 1);
  // A class served here never goes to the activator.
  createObject("Test.Counter");
  EXPECT_EQ(activator.asked, std::vector<std::string>{"Remote.Counter"});
  // createLocalObject never asks it either.
  EXPECT_THROW(createLocalObject("Remote.Counter"), Error);
  EXPECT_EQ(activator.asked.size(), 1u);
  try {
    createObject("Remote.Broken");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 429);
  }
}

TEST_F(ClassRegistryTest, EventsReachTheActivatorOnlyWhenTheyFitTheirDeclaration) {
  FakeActivator activator;
  setObjectActivator(&activator);
  ObjectRef counter = createObject("Test.Counter");
  EXPECT_EQ(servedProgIdOf("Counter"), "Test.Counter");
  EXPECT_EQ(servedProgIdOf("Stranger"), "");

  raiseEvent(*counter, "counted", {"5"});  // any case; converted to the declared Long
  const std::vector<std::pair<std::string, std::vector<Variant>>> expected{
      {"Counted", {Variant(int32_t{5})}}};
  EXPECT_EQ(activator.raised, expected);
  const auto number = [&](std::string_view event, std::vector<Variant> args) {
    try {
      raiseEvent(*counter, event, std::move(args));
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(number("Vanished", {}), 438);
  EXPECT_EQ(number("Counted", {}), 450);
  EXPECT_EQ(number("Counted", {"five"}), 13);
  EXPECT_EQ(activator.raised.size(), 1u);
}

TEST_F(ClassRegistryTest, ObjectEndsWithItsLastReference) {
  const size_t before = liveLocalObjects();
  const int endedBefore = g_ended;
  ObjectRef first = createObject("Test.Counter");
  ObjectRef second = first;
  EXPECT_EQ(liveLocalObjects(), before + 1);
  first.reset();
  EXPECT_EQ(g_ended, endedBefore);
  second.reset();
  EXPECT_EQ(g_ended, endedBefore + 1);
  EXPECT_EQ(liveLocalObjects(), before);
}

}  // namespace
}  // namespace oskara
