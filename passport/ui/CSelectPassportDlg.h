#pragma once
// The passport dialog: lists the passport database, shows the selected passport's parameter table,
// imports passport files and hands the chosen passport to the main window. The formula selector,
// the syntax button and the distortion curve are built but stay hidden.
#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "external/geo/camera_passport.h"
#include "model/cad_drawing.h"
#include "passport/distortion_formula.h"
#include "passport/passport_table.h"

class QComboBox;
class QFrame;
class QPushButton;
class QTableWidget;

namespace ortavia::ui {

class CadView;
class Prompts;

class CSelectPassportDlg : public QDialog {
  Q_OBJECT
 public:
  // prompts: the operator's side of every message (not owned; the dialog's own when null).
  explicit CSelectPassportDlg(Prompts* prompts = nullptr, QWidget* parent = nullptr);
  ~CSelectPassportDlg() override;

  // After OK: the chosen passport (never null) and its file's real path.
  const geo::CCameraPassport* Passport() const { return passport_.get(); }
  const std::string& SelectedPath() const { return selectedPath_; }

  // --- commands ---
  int RefreshPassportList();
  void LoadSelectedPassport();
  void SelectPassport();
  void ImportPassport();
  void UpdateDistortionPreview();
  void OnFormulaSyntax();

  // --- what the window shows ---
  const std::vector<std::string>& PassportList() const { return passportList_; }
  const passport::PassportTable& TableRows() const { return table_; }
  const std::string& SubstitutedFormula() const { return substituted_; }
  const CadDrawing& PreviewDrawing() const { return previewDrawing_; }
  CadHandle CurveEntity() const { return curve_; }
  MTParser* Parser() { return formulas_.Parser(); }
  QComboBox* PassportCombo() const { return combo_; }
  QTableWidget* Table() const { return tableWidget_; }
  QPushButton* ImportButton() const { return importButton_; }
  QPushButton* SelectButton() const { return selectButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QPushButton* FormulaSyntaxButton() const { return syntaxButton_; }
  QComboBox* CurveSelector() const { return curveSelector_; }
  QFrame* PreviewHost() const { return previewHost_; }
  CadView* Preview() const { return preview_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildTable();
  void ShowPassportValues();
  void PaintTable();
  void FitColumns();
  bool CreateFormulaParser();
  void CreatePreview();
  void OpenListedPassport(int position);

  std::unique_ptr<Prompts> ownPrompts_;
  Prompts* prompts_;
  std::vector<std::string> passportList_;
  std::unique_ptr<geo::CCameraPassport> passport_;
  std::string selectedPath_;
  passport::PassportTable table_;
  passport::FormulaParser formulas_;
  std::string substituted_;
  CadDrawing previewDrawing_;
  CadHandle curve_ = 0;

  QComboBox* combo_ = nullptr;
  QTableWidget* tableWidget_ = nullptr;
  QPushButton* importButton_ = nullptr;
  QPushButton* selectButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPushButton* syntaxButton_ = nullptr;
  QComboBox* curveSelector_ = nullptr;
  QFrame* previewHost_ = nullptr;
  CadView* preview_ = nullptr;
};

}  // namespace ortavia::ui
