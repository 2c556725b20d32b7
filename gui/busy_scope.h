#pragma once
// Busy mode, the wait cursor and the progress bar of one long command, ended together whatever
// way the command leaves (an early return included).
#include <QApplication>
#include <QProgressBar>

namespace ortavia::ui {

// Window: any window with SetBusy(bool) and a Progress() bar.
template <class Window>
class BusyScope {
 public:
  explicit BusyScope(Window& window) : window_(window) {
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
  Window& window_;
};

}  // namespace ortavia::ui
