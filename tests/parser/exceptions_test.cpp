// Message formatting of the parser's errors and the empty localizer.
#include "parser/localizer.h"
#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

TEST(FormulaExceptions, TemplatesTakeTheirParameters) {
  EXPECT_EQ(MTFormatDescription("MTDEFEXCEP_OpNameSyntaxConflict",
                                {{"itemName", "a,b"}, {"conflictItemName", ","}}),
            "Operator name 'a,b' conflicts with the syntax element character: ','.");
  EXPECT_EQ(MTFormatDescription("MTDEFEXCEP_VarNameSyntaxConflict",
                                {{"conflictItemName", "("}, {"itemName", "f("}}),
            "Variable name 'f('  conflicts with the syntax element character: '('");
  EXPECT_EQ(MTFormatDescription("MTEXCEP_OutOfMemory", {}), "Out of memory");
  EXPECT_EQ(MTFormatDescription("MTPARSINGEXCEP_InternalError", {{"pos", "3"}}), "Internal error");
}

TEST(FormulaExceptions, MissingParameterKeepsItsPlaceholder) {
  EXPECT_EQ(MTFormatDescription("MTDEFEXCEP_FuncNameOpConflict", {{"itemName", "f"}}),
            "Function name 'f' conflicts with the operator '%conflictItemName'");
}

TEST(FormulaExceptions, ValuesAreNotExpandedAgain) {
  EXPECT_EQ(MTFormatDescription("MTDEFEXCEP_VarNameDelimConflict",
                                {{"itemName", "%conflictItemName"}, {"conflictItemName", "+"}}),
            "Variable name '%conflictItemName' conflicts with the operator: '+'");
}

TEST(FormulaExceptions, IdentifierWithoutTemplate) {
  EXPECT_EQ(MTFormatDescription("MTDEFEXCEP_SyntaxArgDecConflict", {}),
            "Unknown exception: MTDEFEXCEP_SyntaxArgDecConflict");
  EXPECT_EQ(MTFormatDescription("mtdefexcep_opnamenull", {}),
            "Unknown exception: mtdefexcep_opnamenull");  // identifiers are case-sensitive
  EXPECT_NE(MTMessageTemplate("MTDEFEXCEP_PluginNotFound"), nullptr);
  EXPECT_NE(MTMessageTemplate("MTLOCEXCEP_InfoFileBadVersion"), nullptr);
}

TEST(FormulaExceptions, ThrownRecordCarriesItsCause) {
  const auto e = test::CaughtError([] { MTParser p; p.compileAndEvaluate("1 + q"); });
  EXPECT_EQ(e.id, "MTPARSINGEXCEP_UndefinedVar");
  EXPECT_EQ(e.param("itemName"), "q");
  EXPECT_EQ(e.param("pos"), "4");
  EXPECT_EQ(e.description, "Undefined variable: 'q'");
  EXPECT_EQ(e.sourceFile, "compiler.cpp");
  try {
    MTParser p;
    p.compileAndEvaluate("1 + q");
  } catch (const std::exception& ex) {
    EXPECT_STREQ(ex.what(), "Undefined variable: 'q'");
  }
}

TEST(FormulaExceptions, LocalizerIsEmpty) {
  const MTParserLocalizer& loc = MTParserLocalizer::getInstance();
  const auto e = test::CaughtError([&] { loc.getOpInfo("+"); });
  EXPECT_EQ(e.id, "MTDEFEXCEP_ItemNotFound");
  EXPECT_EQ(e.description, "Cannot find the specified item: id = +");
  EXPECT_EQ(test::CaughtError([&] { loc.getFuncInfo("sin"); }).id, "MTDEFEXCEP_ItemNotFound");
  EXPECT_EQ(test::CaughtError([&] { loc.getConstInfo("NaN"); }).id, "MTDEFEXCEP_ItemNotFound");
}

}  // namespace
}  // namespace ortavia
