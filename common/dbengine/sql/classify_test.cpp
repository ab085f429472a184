// How a text handed to the engine is read: statements of each kind, names,
// and what is neither. (The tool's tests cover the forms users type.)
#include "dbengine/sql/classify.h"

#include <gtest/gtest.h>

namespace oskara::db::sql {
namespace {

TEST(ClassifyText, ReadsTheKindOfStatementFromItsTokens) {
  EXPECT_EQ(classifyText("select*from tblDTQueue").kind, TextKind::Select);  // no blank after the keyword
  EXPECT_EQ(classifyText(" ((SELECT 1))").kind, TextKind::Select);
  EXPECT_EQ(classifyText("TRANSFORM Sum(x) SELECT a FROM t PIVOT b").kind, TextKind::Select);
  // A semicolon inside a bracketed parameter name does not end the declaration.
  EXPECT_EQ(classifyText("PARAMETERS [a;b] Short; UPDATE t SET x = [a;b]").kind, TextKind::Update);
  EXPECT_EQ(classifyText("insert into t values (1)").kind, TextKind::Insert);
  EXPECT_EQ(classifyText("DELETE DISTINCTROW t.* FROM t;").kind, TextKind::Delete);
}

TEST(ClassifyText, TellsNamesFromWhatIsNeither) {
  EXPECT_EQ(classifyText("Kundenübersicht;").name, "Kundenübersicht");
  EXPECT_EQ(classifyText(" [Customer List] ").name, "Customer List");
  EXPECT_EQ(classifyText("Selected").kind, TextKind::Name);
  for (const char* text : {"Customer List", "(tblDTQueue)", "PARAMETERS x Short", "tbl's", "#1/1/68", "[]", "", "SELEKT a FROM t"}) {
    EXPECT_EQ(classifyText(text).kind, TextKind::Other) << text;
  }
}

}  // namespace
}  // namespace oskara::db::sql
