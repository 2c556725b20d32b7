#pragma once
// The band order dialog: one list of colour roles per band of an image whose bands lack them,
// with a preview of the image in the chosen order. Roles are GDAL colour interpretation codes,
// entry 0 = band 1.
#include <QDialog>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/band_order.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace ortavia::ui {

class CPreviewWnd;
class Prompts;

class CSelectBandDlg : public QDialog {
  Q_OBJECT
 public:
  // `roles` is the proposal and receives the choice on OK (four entries); null or an empty path
  // make exec() end at once with Cancel.
  CSelectBandDlg(std::vector<int>* roles, int bandCount, const std::string& imagePath,
                 QWidget* parent = nullptr);
  ~CSelectBandDlg() override;

  int exec() override;
  // "Please select band N" goes through these; the dialog's own message boxes by default.
  void SetPrompts(Prompts* prompts);

  QComboBox* BandList(int band) const { return lists_[static_cast<std::size_t>(band - 1)]; }
  QCheckBox* ShowPreviewBox() const { return showPreview_; }
  QPushButton* UpdateButton() const { return update_; }
  CPreviewWnd* Preview() const { return preview_; }

  // OK: applies the lists to the roles; stays open on a band without a choice.
  void accept() override;
  // Update: applies the lists without closing, then refreshes the preview.
  void OnUpdate();
  // Reads the image (read-only) into a 512-pixel-wide picture in the current roles, or clears
  // the preview when the box is unchecked.
  void RefreshPreview();

 private:
  std::array<int, kBandLists> Selection() const;
  bool Apply();

  std::vector<int>* roles_;
  int bandCount_;
  std::string imagePath_;
  std::unique_ptr<Prompts> ownPrompts_;
  Prompts* prompts_ = nullptr;
  std::array<QComboBox*, kBandLists> lists_{};
  QCheckBox* showPreview_ = nullptr;
  QPushButton* update_ = nullptr;
  CPreviewWnd* preview_ = nullptr;
};

// The one call for a run: asks for the roles of the image's bands, proposing `roles`. The chosen
// four roles, or nothing when the operator cancelled.
std::optional<std::vector<int>> SelectBandOrder(QWidget* parent, const std::string& imagePath,
                                                int bandCount, std::vector<int> roles);

}  // namespace ortavia::ui
