#include "config/cfg_std_line_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "config/expand_macros.h"

namespace marrowgate {
namespace {

TEST(ClassifyTest, BasicKinds) {
  CfgStdLineParser p;
  EXPECT_EQ(p.Classify(""), LK_TEXT);
  EXPECT_EQ(p.Classify("// a comment"), LK_COMMENT);
  EXPECT_EQ(p.Classify("//"), LK_COMMENT);
  EXPECT_EQ(p.Classify("UPDATE"), LK_TEXT);
  EXPECT_STREQ(p.PendingName(), "UPDATE");
  EXPECT_EQ(p.Classify("{"), LK_OPEN);
  EXPECT_STREQ(p.Name(), "UPDATE");
  EXPECT_EQ(p.Classify("{"), LK_OPEN);  // the pending name is kept
  EXPECT_STREQ(p.Name(), "UPDATE");
  EXPECT_EQ(p.Classify("}"), LK_CLOSE);
  p.Reset();
  EXPECT_EQ(p.Classify("{"), LK_OPEN);
  EXPECT_STREQ(p.Name(), "");
}

TEST(ClassifyTest, NameAndBraceOnOneLineOpenNothing) {
  CfgStdLineParser p;
  EXPECT_EQ(p.Classify("UPDATE {"), LK_TEXT);
  EXPECT_STREQ(p.PendingName(), "UPDATE {");
}

TEST(ClassifyTest, BraceMustStandAlone) {
  CfgStdLineParser p;
  EXPECT_EQ(p.Classify("{ // open"), LK_ERROR);
  EXPECT_EQ(p.Classify("{// open"), LK_OPEN);
  EXPECT_EQ(p.Classify("}}"), LK_ERROR);
  EXPECT_EQ(p.Classify("{x"), LK_ERROR);
}

TEST(ClassifyTest, Assignments) {
  CfgStdLineParser p;
  ASSERT_EQ(p.Classify("key = a=b"), LK_ASSIGN);
  EXPECT_STREQ(p.Name(), "key");
  EXPECT_STREQ(p.Value(), "a=b");
  ASSERT_EQ(p.Classify("key = a//b"), LK_ASSIGN);
  EXPECT_STREQ(p.Value(), "a");
  ASSERT_EQ(p.Classify("key ="), LK_ASSIGN);
  EXPECT_STREQ(p.Name(), "key");
  EXPECT_STREQ(p.Value(), "");
  ASSERT_EQ(p.Classify("key = // nothing"), LK_ASSIGN);
  EXPECT_STREQ(p.Value(), "");
}

TEST(ClassifyTest, DefineAndExpand) {
  CfgStdLineParser p;
  EXPECT_EQ(p.Classify("#define DIR data/update"), LK_DEFINE);
  EXPECT_STREQ(p.Name(), "DIR");
  EXPECT_STREQ(p.Value(), "data/update");
  ASSERT_EQ(p.Classify("szUpdateDir = $(DIR)/x"), LK_ASSIGN);
  EXPECT_STREQ(p.Value(), "data/update/x");
  EXPECT_EQ(p.Classify("#define DIR"), LK_DEFINE);  // replaced, now empty
  ASSERT_NE(p.FindMacro("DIR"), nullptr);
  EXPECT_EQ(*p.FindMacro("DIR"), "");
  EXPECT_EQ(p.Classify("#define"), LK_ERROR);
  EXPECT_EQ(p.Classify("#define A $(B)"), LK_ERROR);  // undefined reference
  EXPECT_EQ(p.Classify("#define ONE 1"), LK_DEFINE);
  EXPECT_EQ(p.Classify("#define TWO $(ONE)+$(ONE)"), LK_DEFINE);
  EXPECT_EQ(*p.FindMacro("TWO"), "1+1");
}

TEST(ClassifyTest, DollarForms) {
  CfgStdLineParser p;
  std::string out;
  EXPECT_TRUE(p.ExpandLine("cost $5 and $", &out));
  EXPECT_EQ(out, "cost $5 and $");
  EXPECT_TRUE(p.ExpandLine("$$(WIN32)x", &out));
  EXPECT_EQ(out, "$x");
  EXPECT_FALSE(p.ExpandLine("$(X)", &out));
  EXPECT_FALSE(p.ExpandLine("$(WIN32", &out));
  EXPECT_EQ(p.Classify("key = $(X)"), LK_ERROR);
}

TEST(ClassifyTest, ExpansionIsBounded) {
  CfgStdLineParser p;
  ASSERT_EQ(p.Classify("#define A " + std::string(2000, 'a')), LK_DEFINE);
  EXPECT_EQ(p.Classify("#define B $(A)$(A)"), LK_DEFINE);
  EXPECT_EQ(p.Classify("#define C $(B)$(B)"), LK_ERROR);  // beyond the line limit
  EXPECT_EQ(p.Classify(std::string(CfgStdLineParser::kMaxLineText + 1, 'x')), LK_ERROR);
}

TEST(ClassifyTest, IncludeNameIsTheRawRest) {
  CfgStdLineParser p;
  ASSERT_EQ(p.Classify("#include  inc/$(WIN32)a//b.txt "), LK_INCLUDE);
  EXPECT_STREQ(p.Name(), "inc/$(WIN32)a//b.txt");
  EXPECT_EQ(p.Classify("#include $(NOPE)"), LK_ERROR);  // must still expand
}

TEST(ConditionalTest, SingleNamesAndOperators) {
  CfgStdLineParser p;
  auto active = [&](const std::string& directive) {
    EXPECT_NE(p.Classify(directive), LK_ERROR) << directive;
    bool result = p.Classify("k = v") == LK_ASSIGN;
    p.Classify("#endif");
    return result;
  };
  EXPECT_TRUE(active("#ifdef WIN32"));
  EXPECT_FALSE(active("#ifndef WIN32"));
  EXPECT_FALSE(active("#ifdef LINUX"));
  p.Classify("#define A");
  p.Classify("#define B");
  EXPECT_TRUE(active("#ifdef && A B"));
  EXPECT_FALSE(active("#ifdef && A C"));
  EXPECT_TRUE(active("#ifdef &&"));
  EXPECT_FALSE(active("#ifdef ||"));
  EXPECT_TRUE(active("#ifndef &&"));
  EXPECT_FALSE(active("#ifndef ||"));
  EXPECT_TRUE(active("#ifdef || C\tA"));
  EXPECT_FALSE(active("#ifdef || C D"));
  EXPECT_TRUE(active("#ifndef && C D"));
  EXPECT_FALSE(active("#ifndef && C A"));
  EXPECT_TRUE(active("#ifndef || A C"));
  EXPECT_FALSE(active("#ifndef || A B"));
  EXPECT_FALSE(active("#ifdef A B"));  // one name, spaces included
}

TEST(ConditionalTest, ElseEndifAndNesting) {
  CfgStdLineParser p;
  EXPECT_EQ(p.Classify("#else"), LK_ERROR);
  EXPECT_EQ(p.Classify("#endif"), LK_ENDIF);
  EXPECT_EQ(p.Classify("#ifdef NOPE"), LK_IFDEF);
  EXPECT_EQ(p.Classify("k = $(UNDEFINED)"), LK_SKIPPED);  // not expanded while skipping
  EXPECT_EQ(p.Classify("// still a comment"), LK_COMMENT);
  EXPECT_EQ(p.Classify("#ifdef WIN32"), LK_IFDEF);  // dead: neither branch runs
  EXPECT_EQ(p.Classify("#else"), LK_ELSE);
  EXPECT_EQ(p.Classify("k = v"), LK_SKIPPED);
  EXPECT_EQ(p.Classify("#endif"), LK_ENDIF);
  EXPECT_EQ(p.Classify("#else"), LK_ELSE);
  EXPECT_EQ(p.Classify("k = v"), LK_ASSIGN);
  EXPECT_EQ(p.Classify("#endif"), LK_ENDIF);
  EXPECT_EQ(p.ConditionDepth(), 0u);
}

TEST(ConditionalTest, DeepNestingAndLongNames) {
  CfgStdLineParser p;
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(p.Classify("#ifdef WIN32"), LK_IFDEF);
  EXPECT_EQ(p.Classify("k = v"), LK_ASSIGN);
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(p.Classify("#endif"), LK_ENDIF);
  EXPECT_EQ(p.ConditionDepth(), 0u);

  const std::string longName(CfgStdLineParser::kMaxConditionName + 1, 'N');
  EXPECT_EQ(p.Classify("#ifdef || " + longName), LK_ERROR);
  EXPECT_EQ(p.ErrorCode(), -1);
  EXPECT_EQ(p.ConditionDepth(), 0u);
  // A word after the deciding one is not read.
  EXPECT_EQ(p.Classify("#ifdef || WIN32 " + longName), LK_IFDEF);
  // A single long name is the whole rest, not limited to the word buffer.
  EXPECT_EQ(p.Classify("#ifdef " + longName), LK_IFDEF);
}

TEST(ConditionalTest, ResetClearsConditionsButKeepsMacros) {
  CfgStdLineParser p;
  p.Classify("#define KEEP");
  p.Classify("#ifdef NOPE");
  p.Reset();
  EXPECT_EQ(p.ConditionDepth(), 0u);
  EXPECT_NE(p.FindMacro("KEEP"), nullptr);
}

// Records the events of ExpandMacros.
class RecordingSink : public MacroSink {
 public:
  bool Literal(std::string_view text) override {
    events += "L[" + std::string(text) + "]";
    return true;
  }
  bool Name(std::string_view name) override {
    events += "N[" + std::string(name) + "]";
    return true;
  }
  bool End() override {
    events += "E";
    return true;
  }
  std::string events;
};

TEST(ExpandMacrosTest, EventsInOrder) {
  RecordingSink sink;
  EXPECT_TRUE(ExpandMacros("a$(B)c$d$", sink));
  EXPECT_EQ(sink.events, "L[a]N[B]L[c]L[$d]L[$]E");
  RecordingSink open;
  EXPECT_FALSE(ExpandMacros("x$(Y", open));
}

}  // namespace
}  // namespace marrowgate
