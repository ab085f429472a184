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
    static const automation::MethodTable<Counter> table("Counter",
                                                        {automation::method("Next", &Counter::Next)});
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
  std::vector<std::string> asked;
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
