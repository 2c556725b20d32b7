#pragma once
// The main window's progress bar: paints its chunks itself and writes into the bar the time the
// work still needs, extrapolated from the time spent since the range was last set.
#include <QElapsedTimer>
#include <QFont>
#include <QProgressBar>
#include <QString>

namespace ortavia::ui {

class TProgressTimeToComplete : public QProgressBar {
  Q_OBJECT
 public:
  explicit TProgressTimeToComplete(QWidget* parent = nullptr);

  // A new piece of timed work: the range, the position at its start and the clock restarted.
  void Restart(int lo, int hi);
  // The clock of the timed work starts now.
  void RestartClock() { clock_.restart(); }

  void SetShowTimeRemaining(bool show) { showTimeRemaining_ = show; update(); }
  void SetIdleText(const QString& text) { idleText_ = text; update(); }
  void SetPrefix(const QString& prefix) { prefix_ = prefix; update(); }
  void SetBarColour(const QColor& colour) { barColour_ = colour; update(); }
  // One filled rectangle instead of chunks.
  void SetSmooth(bool smooth) { smooth_ = smooth; update(); }
  // Seconds since the timed work started; tests set it to get a known estimate.
  void SetElapsedOverride(double seconds) { elapsedOverride_ = seconds; update(); }

  double Fraction() const;
  // The text the bar shows now: the idle text up to 2 % done, else the estimate.
  QString CurrentText() const;
  // The estimate text for a number of seconds still needed.
  virtual QString FormatRemaining(double seconds) const;

  QString text() const override { return CurrentText(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double ElapsedSeconds() const;

  QElapsedTimer clock_;
  QFont font_;
  QFont verticalFont_;
  bool showTimeRemaining_ = true;
  QString idleText_;
  QString prefix_;
  QColor barColour_;
  double elapsedOverride_ = -1.0;
  bool smooth_ = false;
};

}  // namespace ortavia::ui
