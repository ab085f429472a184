// Application in one process: a scripted engine registered under the
// engine's identifier stands in for the engine server, and a recording
// presenter stands in for the message box.
#include "varrick/application.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "automation/class_registry.h"
#include "contract/classes.h"
#include "presenter/message_presenter.h"

namespace varrick {
namespace {

namespace contract = oskara::contract;
using oskara::ObjectRef;
using oskara::Variant;

const std::string kEngineClass(contract::kQueueEngineClass);
using oskara::automation::DispatchObject;
using oskara::automation::MethodTable;
using oskara::automation::method;

// What the next ProcessQueue does, and what the engines saw.
struct EngineScript {
  bool result = true;
  int32_t lErr = 0;
  std::string sError;
  std::optional<oskara::Error> raise;  // thrown instead of returning
};
EngineScript g_script;
struct Seen {
  std::string dt, ar, so;
  int32_t lErr;
  std::string sError;
};
std::vector<Seen> g_seen;
int g_enginesEnded = 0;

class ScriptedEngine : public DispatchObject<ScriptedEngine> {
 public:
  ~ScriptedEngine() override { ++g_enginesEnded; }
  bool ProcessQueue(std::string dt, std::string ar, std::string so, int32_t& lErr,
                    std::string& sError) {
    g_seen.push_back({dt, ar, so, lErr, sError});
    if (g_script.raise) throw *g_script.raise;
    if (!g_script.result) {
      lErr = g_script.lErr;
      sError = g_script.sError;
    }
    return g_script.result;
  }
  static const MethodTable<ScriptedEngine>& methodTable() {
    static const MethodTable<ScriptedEngine> table(
        contract::queue_engine::kClassName,
        {method(contract::queue_engine::kProcessQueue, &ScriptedEngine::ProcessQueue,
                {"DT_UNCPath", "AR_UNCPath", "SO_UNCPath", "lErr", "sError"})});
    return table;
  }
};

// An engine class whose objects lack ProcessQueue.
class MemberlessEngine : public DispatchObject<MemberlessEngine> {
 public:
  ~MemberlessEngine() override { ++g_enginesEnded; }
  void Other() {}
  static const MethodTable<MemberlessEngine>& methodTable() {
    static const MethodTable<MemberlessEngine> table(contract::queue_engine::kClassName,
                                                     {method("Other", &MemberlessEngine::Other)});
    return table;
  }
};

struct Outcome {
  Variant result;
  Variant lErr;
  Variant sError;
  Variant prompt;
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerApplication();
    oskara::registerClass<ScriptedEngine>(kEngineClass);
    g_script = {};
    g_seen.clear();
    g_enginesEnded = 0;
  }
  void TearDown() override {
    oskara::unregisterClass(kEngineClass);
    oskara::unregisterClass(contract::kApplicationClass);
  }

  // UpdateQueue called by name, as a client does; `prompt` left out when nullopt.
  Outcome update(std::optional<Variant> prompt, Variant lErr = int32_t{77},
                 Variant sError = "caller's text") {
    ObjectRef app = oskara::createObject(contract::kApplicationClass);
    std::vector<Variant> args{"/data/dt.db", "/data/ar.db", "", lErr, sError};
    if (prompt) args.push_back(*prompt);
    Outcome out;
    out.result = app->invoke(contract::application::kUpdateQueue, args);
    out.lErr = args[3];
    out.sError = args[4];
    if (prompt) out.prompt = args[5];
    return out;
  }

  void failScan(int32_t number, std::string text) {
    g_script.result = false;
    g_script.lErr = number;
    g_script.sError = std::move(text);
  }

  oskara::RecordingPresenter boxes_;
  oskara::ScopedPresenter presenter_{boxes_};
};

TEST_F(ApplicationTest, SuccessfulScanLeavesTheErrorPairAsPassed) {
  const Outcome out = update(Variant(true));
  EXPECT_EQ(out.result, Variant(""));
  EXPECT_EQ(out.lErr, Variant(int32_t{77}));
  EXPECT_EQ(out.sError, Variant("caller's text"));
  EXPECT_TRUE(boxes_.shown.empty());
  // The engine got the paths and a fresh error pair, not the caller's.
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].dt, "/data/dt.db");
  EXPECT_EQ(g_seen[0].ar, "/data/ar.db");
  EXPECT_EQ(g_seen[0].so, "");
  EXPECT_EQ(g_seen[0].lErr, 0);
  EXPECT_EQ(g_seen[0].sError, "");
  EXPECT_EQ(g_enginesEnded, 1);
}

TEST_F(ApplicationTest, FailedScanWithoutPromptGivesTheEngineFailureFormAndNoBox) {
  failScan(-2147220504, "Error at InitOptions.");
  const std::string expected =
      "-1Error in Queue Engine Object !\r\n[-2147220504] Error at InitOptions.";
  for (const std::optional<Variant>& prompt :
       {std::optional<Variant>(), std::optional<Variant>(Variant(false)),
        std::optional<Variant>(oskara::missingArgument())}) {
    const Outcome out = update(prompt);
    EXPECT_EQ(out.result, Variant(expected));
    EXPECT_EQ(out.lErr, Variant(int32_t{-2147220504}));
    EXPECT_EQ(out.sError, Variant("Error at InitOptions."));
  }
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(g_enginesEnded, 3);
}

TEST_F(ApplicationTest, FailedScanWithPromptShowsTheBoxAndReturnsTheSameResult) {
  failScan(3078, "[ProcessQueue]Table 'tblArCustHist' not found.");
  const Outcome out = update(Variant(true));
  EXPECT_EQ(out.result, Variant("-1Error in Queue Engine Object !\r\n[ 3078] [ProcessQueue]Table "
                                "'tblArCustHist' not found."));
  EXPECT_EQ(out.lErr, Variant(int32_t{3078}));
  EXPECT_EQ(out.prompt, Variant(true));  // written back unchanged
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text,
            "Error in Queue Engine Object !\r\n 3078 - [ProcessQueue]Table 'tblArCustHist' not "
            "found.");
  EXPECT_EQ(boxes_.shown[0].title, "Oskara");
  EXPECT_EQ(boxes_.shown[0].style, 16);
  EXPECT_EQ(g_enginesEnded, 1);
}

TEST_F(ApplicationTest, PromptIsConvertedLikeAnyBooleanArgument) {
  failScan(1, "x");
  update(Variant(int32_t{-1}));
  update(Variant("True"));
  update(Variant(int16_t{0}));
  EXPECT_EQ(boxes_.shown.size(), 2u);
}

TEST_F(ApplicationTest, EngineNumberZeroStillGivesTheBlankAndTheDigit) {
  failScan(0, "");
  EXPECT_EQ(update(std::nullopt).result, Variant("-1Error in Queue Engine Object !\r\n[ 0] "));
}

TEST_F(ApplicationTest, UnregisteredEngineTakesTheFailurePathWithoutABox) {
  oskara::unregisterClass(kEngineClass);
  const Outcome out = update(Variant(true));
  const std::string text = out.sError.toString();
  EXPECT_EQ(out.lErr, Variant(int32_t{429}));
  EXPECT_NE(text.find(kEngineClass), std::string::npos) << text;
  EXPECT_EQ(out.result, Variant("-1[ 429] " + text));
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(ApplicationTest, FailureRaisedThroughTheCallIsTrappedAndTheEngineReleased) {
  const std::string unavailable = "The server of " + kEngineClass + " is not available.";
  g_script.raise = oskara::Error(462, unavailable);
  const Outcome out = update(Variant(true));
  EXPECT_EQ(out.result, Variant("-1[ 462] " + unavailable));
  EXPECT_EQ(out.lErr, Variant(int32_t{462}));
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(g_enginesEnded, 1);

  oskara::registerClass<MemberlessEngine>(kEngineClass);
  const Outcome missing = update(std::nullopt);
  EXPECT_EQ(missing.lErr, Variant(int32_t{438}));
  EXPECT_TRUE(missing.result.toString().starts_with("-1[ 438] ")) << missing.result.toString();
  EXPECT_EQ(g_enginesEnded, 2);
  EXPECT_EQ(oskara::liveLocalObjects(), 0u);
}

TEST_F(ApplicationTest, ErrorPairComesBackInTheCallersTypes) {
  failScan(-2147220386, "Missing Options record.");
  const Outcome out = update(std::nullopt, Variant("0"), Variant());
  EXPECT_EQ(out.lErr, Variant("-2147220386"));  // the caller passed text
  EXPECT_EQ(out.sError, Variant("Missing Options record."));
}

TEST_F(ApplicationTest, DescribesUpdateQueueForToolsAndPeople) {
  const oskara::ClassInfo& info = Application::methodTable().info();
  const oskara::MemberInfo* member = info.findMember("updatequeue");
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(member->help,
            "Activates the Queue Processing Engine, returns \"-1\" at start of string if it fails, "
            "followed by the error messages.");
  ASSERT_EQ(member->params.size(), 6u);
  EXPECT_TRUE(member->params[3].byRef);
  EXPECT_TRUE(member->params[4].byRef);
  EXPECT_TRUE(member->params[5].byRef);
  EXPECT_TRUE(member->params[5].optional);
  EXPECT_FALSE(member->params[0].byRef);
  EXPECT_EQ(member->result, oskara::DeclType::String);
}

}  // namespace
}  // namespace varrick
