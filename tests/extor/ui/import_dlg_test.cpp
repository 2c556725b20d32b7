// The exterior-orientation import window as the operator uses it: the boxes and their reloads,
// the header menus, the corrections, Save As, Import with its messages, and a file of 250,000
// lines shown through the table models.
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "extor/point_file_settings.h"
#include "extor/ui/CImportExtOrDlg.h"
#include "gui/prompts.h"
#include "support/test_env.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;
using B = CImportExtOrDlg::Button;
using K = ScriptedPrompts::Kind;

std::string WriteFile(const std::string& bytes, const std::string& name = "points.txt") {
  const fs::path p = ortavia::test::MakeTempDir("eo") / name;
  std::ofstream(p, std::ios::binary) << bytes;
  return p.string();
}

std::string ReadAll(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

QString Cell(QTableView* view, int row, int column) {
  return view->model()->index(row, column).data().toString();
}

class ImportDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    extor::StoreComments(extor::kDefaultComments);
    extor::StoreSeparators(extor::kDefaultSeparators);
    extor::StoreSourceColumns({0, 1, 2, 3, 4, 5, 6});
    orientations["img_1"] = geo::COrientation();
    orientations["img_2"] = geo::COrientation();
    orientations["img_3"] = geo::COrientation();
    dlg = std::make_unique<CImportExtOrDlg>(&orientations);
    dlg->SetPrompts(&prompts);
  }
  void Open(const std::string& content) {
    prompts.QueueFile(QString::fromStdString(WriteFile(content)));
    dlg->OnBrowse();
  }
  std::map<std::string, geo::COrientation> orientations;
  ScriptedPrompts prompts;
  std::unique_ptr<CImportExtOrDlg> dlg;
};

TEST_F(ImportDlgTest, OpensWithTheStoredSettingsAndTheSevenColumns) {
  EXPECT_EQ(dlg->windowTitle(), "Import External Orientation Parameters");
  EXPECT_EQ(dlg->CommentsEdit()->text(), "#%@+");
  EXPECT_EQ(dlg->SeparatorsEdit()->text(), ", ;");
  QStringList headers;
  for (int c = 0; c < dlg->ImportedView()->model()->columnCount(); ++c)
    headers << dlg->ImportedView()->model()->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(headers, (QStringList{"ID", "X", "Y", "Z", "Omega (Yaw)", "Phi (Pitch)", "Kappa (Heading)"}));
  CImportExtOrDlg none(nullptr);
  EXPECT_EQ(none.exec(), QDialog::Rejected);
}

TEST_F(ImportDlgTest, BrowseLoadsAndEveryBoxChangeReloads) {
  Open("# name x y z\r\nIMG_1|10|20|30|0.1|0.2|0.3\r\n img_2|11|21|31|0|0|0\r\n");
  EXPECT_EQ(dlg->PathEdit()->text().toStdString().substr(0, 1), "/");
  QTableView* parsed = dlg->ParsedView();
  ASSERT_EQ(parsed->model()->rowCount(), 2) << "comment line skipped, CR LF gives no rows";
  EXPECT_EQ(parsed->model()->columnCount(), 1) << "the bar is no default separator";
  EXPECT_EQ(parsed->model()->headerData(0, Qt::Horizontal).toString(), "Click..");

  dlg->SeparatorsEdit()->setText("|");
  EXPECT_EQ(parsed->model()->columnCount(), 7);
  EXPECT_EQ(Cell(parsed, 0, 0), "IMG_1");
  EXPECT_EQ(Cell(dlg->ImportedView(), 0, 0), "img_1") << "the table is in lower case";
  EXPECT_EQ(Cell(dlg->ImportedView(), 1, 0), " img_2") << "an indented line is data";
  EXPECT_EQ(extor::LoadPointFileSettings().separators, "|");

  dlg->CommentsEdit()->setText("I");
  ASSERT_EQ(parsed->model()->rowCount(), 2) << "IMG_1 is a comment now, the '#' line is data";
  EXPECT_EQ(Cell(parsed, 0, 0), "# name x y z");
  EXPECT_EQ(extor::LoadPointFileSettings().comments, "I");

  prompts.QueueFile(QString::fromStdString((fs::path(WriteFile("")).parent_path() / "missing.txt").string()));
  dlg->OnBrowse();
  EXPECT_EQ(prompts.Texts(K::Warning), QStringList{"Unable to open the selected file!"});
  ASSERT_EQ(dlg->LogLines().size(), 1u);
  EXPECT_EQ(dlg->LogLines()[0].rfind("Unable to open the selected file! /", 0), 0u) << dlg->LogLines()[0];
  EXPECT_NE(dlg->LogLines()[0].find("missing.txt: "), std::string::npos) << "the reason follows the file";
  EXPECT_EQ(parsed->model()->rowCount(), 0);
  EXPECT_EQ(parsed->model()->columnCount(), 0) << "the columns of the first file are gone";
}

TEST_F(ImportDlgTest, HeaderMenusAssignColumnsAndCorrectThem) {
  dlg->SeparatorsEdit()->setText(";");
  Open("img_1;10;20;30;180;200;-90\n");
  std::vector<std::vector<extor::MenuEntry>> shown;
  int answer = 0;
  dlg->SetMenuChooser([&](const std::vector<extor::MenuEntry>& entries) {
    shown.push_back(entries);
    return answer;
  });
  // "-> X" on column 4 of the grid.
  answer = 10001;
  dlg->OnParsedHeaderClicked(4);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].front().caption, "-> ID");
  EXPECT_EQ(Cell(dlg->ImportedView(), 0, 1), "180");
  dlg->GetButton(B::Reset)->click();
  EXPECT_EQ(Cell(dlg->ImportedView(), 0, 1), "10");

  struct Case {
    int column, command;
    QString cell;
  };
  for (const Case& c : {Case{4, 10010, "3.141593"}, Case{5, 10011, "3.141593"}, Case{6, 10009, ""},
                        Case{1, 10007, "-10.000"}}) {
    answer = c.command;
    dlg->OnImportedHeaderClicked(c.column);
    EXPECT_EQ(Cell(dlg->ImportedView(), 0, c.column), c.cell) << c.column;
  }
  const std::size_t menus = shown.size();
  dlg->OnImportedHeaderClicked(0);
  EXPECT_EQ(shown.size(), menus) << "the ID column has no menu";

  dlg->GetButton(B::Clean)->click();
  EXPECT_EQ(Cell(dlg->ImportedView(), 0, 0), "");
  EXPECT_EQ(Cell(dlg->ImportedView(), 0, 4), "180") << "Clean keeps the angles' sources";
}

TEST_F(ImportDlgTest, TheColumnAssignmentComesBackAtTheNextUse) {
  dlg->SeparatorsEdit()->setText(";");
  int answer = 0;
  dlg->SetMenuChooser([&](const std::vector<extor::MenuEntry>&) { return answer; });
  answer = 10001;  // "-> X" from column 4
  dlg->OnParsedHeaderClicked(4);
  answer = 10004;  // "-> Omega (Yaw)" from column 1
  dlg->OnParsedHeaderClicked(1);
  dlg->reject();

  CImportExtOrDlg next(&orientations);
  next.SetPrompts(&prompts);
  prompts.QueueFile(QString::fromStdString(WriteFile("img_1;10;20;30;180;200;-90\n")));
  next.OnBrowse();
  EXPECT_EQ(Cell(next.ImportedView(), 0, 1), "180") << "X from column 4";
  EXPECT_EQ(Cell(next.ImportedView(), 0, 4), "10") << "Omega from column 1";
  EXPECT_EQ(Cell(next.ImportedView(), 0, 2), "20") << "Y as before";
}

TEST_F(ImportDlgTest, SaveAsWritesTheSelectedRowsWithTheOutputSeparator) {
  Open("img_1 1 2 3 0 0 0\nimg_2 4 5 6 0 0 0\nimg_3 7 8 9 0 0 0\n");
  dlg->GetButton(B::SaveAs)->click();
  EXPECT_EQ(prompts.Texts(K::Information), QStringList{"Make a selection"});
  dlg->ImportedView()->selectRow(0);
  dlg->ImportedView()->selectionModel()->select(dlg->ImportedView()->model()->index(2, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
  dlg->OutputSeparatorEdit()->setText(";,");
  EXPECT_EQ(dlg->OutputSeparatorEdit()->text(), ";");
  const std::string out = (fs::path(WriteFile("")).parent_path() / "table.txt").string();
  prompts.QueueFile(QString::fromStdString(out));
  dlg->GetButton(B::SaveAs)->click();
  EXPECT_EQ(ReadAll(out), "img_1;1;2;3;0;0;0\nimg_3;7;8;9;0;0;0\n");
}

TEST_F(ImportDlgTest, ImportWritesTheMatchingOrientationsAndCloses) {
  Open("img_1 1000 2000 300 0 0 0\nC:\\photos\\IMG_2.TIF 1100 2100 310 0 0 1.5\nimg_3 x 1 1 0 0 0\nother 1 1 1 0 0 0\n");
  dlg->GetButton(B::Import)->click();
  EXPECT_EQ(prompts.Texts(K::Information), QStringList{"Make a selection"});
  dlg->GetButton(B::SelectAll)->click();
  EXPECT_EQ(dlg->ImportedView()->selectionModel()->selectedRows().size(), 4);
  dlg->GetButton(B::UnselectAll)->click();
  EXPECT_TRUE(dlg->ImportedView()->selectionModel()->selectedRows().isEmpty());
  dlg->GetButton(B::SelectAll)->click();
  dlg->GetButton(B::Import)->click();
  EXPECT_EQ(prompts.Texts(K::Information).last(), "2 External Orientations successfully added.");
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(orientations["img_1"].N.x(), 1000.0);
  EXPECT_EQ(orientations["img_2"].N.z(), 310.0);
  EXPECT_EQ(orientations["img_3"].N.x(), 0.0) << "its X is no number";
  EXPECT_EQ(dlg->LogLines(), std::vector<std::string>{"1 rows skipped: a coordinate or an angle is not a number"});
  EXPECT_EQ(dlg->Progress()->value(), dlg->Progress()->minimum());
}

TEST_F(ImportDlgTest, ImportMatchingNothingStaysOpenWithoutAMessage) {
  Open("nobody 1 2 3 0 0 0\n");
  dlg->GetButton(B::SelectAll)->click();
  dlg->GetButton(B::Import)->click();
  EXPECT_TRUE(prompts.Texts(K::Information).isEmpty());
  EXPECT_NE(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(orientations["img_1"].N.x(), 0.0);
}

TEST_F(ImportDlgTest, AQuarterMillionLinesLoadAndScrollThroughTheModels) {
  std::string text;
  text.reserve(250000 * 48);
  char line[96];
  for (int i = 0; i < 250000; ++i) {
    std::snprintf(line, sizeof line, "img_%d %d.5 %d.25 300 0.01 0.02 0.03\n", i, 1000 + i, 2000 + i);
    text += line;
  }
  const std::string path = WriteFile(text, "big.txt");
  // A box is typed into while the file loads: the load starts over with the new text.
  bool typed = false;
  QTimer::singleShot(0, [&] {
    typed = true;
    dlg->CommentsEdit()->setText("#");
  });
  prompts.QueueFile(QString::fromStdString(path));
  dlg->OnBrowse();
  EXPECT_TRUE(typed) << "window messages were not dispatched during the load";
  EXPECT_EQ(dlg->Model().Comments(), "#");
  QTableView* table = dlg->ImportedView();
  ASSERT_EQ(table->model()->rowCount(), 250000);
  ASSERT_EQ(dlg->ParsedView()->model()->rowCount(), 250000);
  dlg->show();
  table->scrollToBottom();
  QApplication::processEvents();
  const int last = table->rowAt(table->viewport()->height() - 2);
  EXPECT_EQ(last, 249999);
  EXPECT_EQ(Cell(table, last, 0), "img_249999");
  EXPECT_EQ(Cell(table, last, 1), "250999.5");
}

}  // namespace
}  // namespace ortavia::ui::test
