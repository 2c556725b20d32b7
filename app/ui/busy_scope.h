#pragma once
// Busy mode, the wait cursor and the progress bar of one long command, ended together whatever
// way the command leaves (an early return included).
#include <QApplication>
#include <QProgressBar>

#include "app/ui/COrtaviaDlg.h"

namespace ortavia::ui {

class BusyScope {
 public:
  explicit BusyScope(COrtaviaDlg& window) : window_(window) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    window_.SetBusy(true);
  }
  ~BusyScope() {
    window_.Progress()->setValue(window_.Progress()->minimum());
    window_.SetBusy(false);
    QApplication::restoreOverrideCursor();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  COrtaviaDlg& window_;
};

}  // namespace ortavia::ui
