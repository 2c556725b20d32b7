#include <gtest/gtest.h>

#include <QTreeWidget>
#include <map>
#include <string>

#include "gui/prompts.h"
#include "parser/ui/CIndexDlg.h"
#include "passport/distortion_formula.h"

namespace ortavia::ui {
namespace {
using K = ScriptedPrompts::Kind;

QStringList Column(const QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

ShowPlainMessage PlainTo(ScriptedPrompts& prompts) {
  return [&prompts](const QString& caption, const QString& text) { prompts.Plain(caption, text); };
}

class IndexDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(formulas.Create().has_value());
    dlg = std::make_unique<CIndexDlg>(formulas.Parser(), PlainTo(prompts));
  }
  passport::FormulaParser formulas;
  ScriptedPrompts prompts;
  std::unique_ptr<CIndexDlg> dlg;
};

TEST_F(IndexDlgTest, ListsEveryItemOfThePassportParserInDefinitionOrder) {
  EXPECT_EQ(dlg->windowTitle(), "Dialog");
  EXPECT_EQ(dlg->Operators()->topLevelItemCount(), 17);
  EXPECT_EQ(dlg->Functions()->topLevelItemCount(), 32);
  EXPECT_EQ(Column(dlg->Constants(), 0), (QStringList{"NaN", "pi", "e"}));
  EXPECT_EQ(Column(dlg->Constants(), 1), (QStringList{"NaN", "3.1415926", "2.7182818"}));
  std::map<QString, int> variants;
  for (const QString& s : Column(dlg->Functions(), 0)) ++variants[s];
  EXPECT_EQ(variants["min"], 3);
  EXPECT_EQ(variants["max"], 3);
  EXPECT_EQ(variants["rand"], 2);
  EXPECT_EQ(variants["sqrt"], 1);
  for (QTreeWidget* list : {dlg->Operators(), dlg->Functions(), dlg->Constants()})
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      EXPECT_EQ(list->topLevelItem(i)->data(0, Qt::UserRole).toInt(), i) << "the row keeps its position";
  QStringList headers;
  for (QTreeWidget* list : {dlg->Operators(), dlg->Functions(), dlg->Constants()})
    for (int c = 0; c < list->columnCount(); ++c) headers << list->headerItem()->text(c) + ":" + QString::number(list->columnWidth(c));
  EXPECT_EQ(headers, (QStringList{"Symbol:100", "Usage:180", "Description:320", "Symbol:100", "Usage:180",
                                  "Description:320", "Symbol:120", "Description:200"}));
}

TEST_F(IndexDlgTest, DoubleClickOnAFunctionShowsItsHelpWithoutIcon) {
  const QStringList symbols = Column(dlg->Functions(), 0);
  const int row = symbols.indexOf("sqrt");
  ASSERT_GE(row, 0);
  QTreeWidgetItem* item = dlg->Functions()->topLevelItem(row);
  emit dlg->Functions()->itemDoubleClicked(item, 0);
  ASSERT_EQ(prompts.Texts(K::Plain).size(), 1);
  EXPECT_EQ(prompts.Captions(), QStringList{"sqrt"});
  EXPECT_EQ(prompts.Texts(K::Plain).front(), "Description \n\r\tSquare root\n\rPrototype\r\tsqrt(x)");

  emit dlg->Operators()->itemDoubleClicked(dlg->Operators()->topLevelItem(0), 0);
  EXPECT_EQ(prompts.Log().size(), 1u) << "the operator list has no double-click action";
}

TEST(IndexDlgWithoutParser, ShowsEmptyLists) {
  ScriptedPrompts prompts;
  CIndexDlg dlg(nullptr, PlainTo(prompts));
  EXPECT_EQ(dlg.Operators()->topLevelItemCount(), 0);
  dlg.ShowFunctionHelp(nullptr);
  EXPECT_TRUE(prompts.Log().empty());
}

}  // namespace
}  // namespace ortavia::ui
