#pragma once
// The About box: product, version ("Ver. %s" with dots) and links to the maker.
#include <QDialog>

namespace ortavia::ui {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  // "Ver. 1.0.0.0" from the "1,0,0,0" version text.
  static QString VersionText(const QString& versionInfo);
};

}  // namespace ortavia::ui
