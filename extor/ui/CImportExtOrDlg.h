#pragma once
// The exterior-orientation import window: a point file split into a grid ("Parsed Data"), the
// grid columns assigned to ID, X, Y, Z, Omega, Phi, Kappa through the header menus, the resulting
// table ("Imported Points") with its corrections, its text export, and Import into the project's
// orientations. The work is the engine's ExtOrImportModel; the window only shows it.
#include <QDialog>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "external/geo/orientation.h"
#include "extor/ext_or_import_model.h"

class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace ortavia::ui {

class ImportedPointsModel;
class ParsedDataModel;
class Prompts;

class CImportExtOrDlg : public QDialog {
  Q_OBJECT
 public:
  enum class Button { Browse, Reset, Clean, SelectAll, UnselectAll, SaveAs, Import, Cancel };
  // Answers a header menu: the chosen command, or 0 when the menu was dismissed.
  using MenuChooser = std::function<int(const std::vector<extor::MenuEntry>&)>;

  CImportExtOrDlg(std::map<std::string, geo::COrientation>* orientations, QWidget* parent = nullptr);
  ~CImportExtOrDlg() override;

  // Without orientations the dialog ends at once with Cancel.
  int exec() override;
  void SetPrompts(Prompts* prompts);
  void SetMenuChooser(MenuChooser chooser) { chooseMenu_ = std::move(chooser); }

  // The lines the main window logs after the dialog: files that could not be loaded (with the
  // reason) and the rows each Import skipped, by kind.
  const std::vector<std::string>& LogLines() const { return logLines_; }
  const extor::ExtOrImportModel& Model() const { return model_; }

  QPushButton* GetButton(Button b) const { return buttons_[static_cast<std::size_t>(b)]; }
  QLineEdit* PathEdit() const { return pathEdit_; }
  QLineEdit* CommentsEdit() const { return commentsEdit_; }
  QLineEdit* SeparatorsEdit() const { return separatorsEdit_; }
  QLineEdit* OutputSeparatorEdit() const { return outputSeparator_; }
  QTableView* ParsedView() const { return parsedView_; }
  QTableView* ImportedView() const { return importedView_; }
  QProgressBar* Progress() const { return progress_; }

  // --- commands ---
  void OnBrowse();
  // Reads the file into the grid again (after a box changed); a change while a load runs makes
  // that load start over once it ended.
  void LoadFile();
  void OnParsedHeaderClicked(int column);
  void OnImportedHeaderClicked(int column);
  void OnReset();
  void OnClean();
  // After the column assignment changed: the table, and the profile for the next use.
  void AssignmentChanged();
  void OnSelectAll();
  void OnUnselectAll();
  void OnSaveAs();
  void OnImport();

 private:
  void BuildLayout();
  void TableChanged();
  void ParsedChanged();
  std::vector<int> SelectedRows() const;
  RunContext ProgressContext();
  int ChooseFromMenu(const std::vector<extor::MenuEntry>& entries);

  std::map<std::string, geo::COrientation>* orientations_;
  extor::ExtOrImportModel model_;
  ParsedDataModel* parsedModel_ = nullptr;
  ImportedPointsModel* importedModel_ = nullptr;
  std::unique_ptr<Prompts> ownPrompts_;
  Prompts* prompts_ = nullptr;
  MenuChooser chooseMenu_;
  std::vector<std::string> logLines_;
  int clickedColumn_ = -1;
  bool loading_ = false;
  bool reloadPending_ = false;

  std::vector<QPushButton*> buttons_;
  QLineEdit* pathEdit_ = nullptr;
  QLineEdit* commentsEdit_ = nullptr;
  QLineEdit* separatorsEdit_ = nullptr;
  QLineEdit* outputSeparator_ = nullptr;
  QTableView* parsedView_ = nullptr;
  QTableView* importedView_ = nullptr;
  QProgressBar* progress_ = nullptr;
};

}  // namespace ortavia::ui
