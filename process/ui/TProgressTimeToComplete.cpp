#include "process/ui/TProgressTimeToComplete.h"

#include <QPainter>
#include <QPaintEvent>

#include "process/progress_layout.h"
#include "process/remaining_time.h"

namespace ortavia::ui {

TProgressTimeToComplete::TProgressTimeToComplete(QWidget* parent) : QProgressBar(parent) {
  clock_.start();
  font_ = font();
  verticalFont_ = font_;
  barColour_ = palette().color(QPalette::Highlight);
  setTextVisible(true);
  setMinimumHeight(QFontMetrics(font_).height() + 6);
}

void TProgressTimeToComplete::Restart(int lo, int hi) {
  setRange(lo, std::max(lo, hi));
  setValue(lo);
  clock_.restart();
  update();
}

double TProgressTimeToComplete::ElapsedSeconds() const {
  return elapsedOverride_ >= 0.0 ? elapsedOverride_ : clock_.elapsed() / 1000.0;
}

double TProgressTimeToComplete::Fraction() const { return ProgressFraction(minimum(), maximum(), value()); }

QString TProgressTimeToComplete::FormatRemaining(double seconds) const {
  return QString::fromStdString(ortavia::FormatRemaining(seconds, showTimeRemaining_));
}

QString TProgressTimeToComplete::CurrentText() const {
  const double fraction = Fraction();
  if (fraction <= kMinEstimateFraction) return idleText_;
  const QString estimate = FormatRemaining(EstimateRemainingSeconds(ElapsedSeconds(), fraction));
  return prefix_.isEmpty() ? estimate : prefix_ + QLatin1Char(' ') + estimate;
}

void TProgressTimeToComplete::paintEvent(QPaintEvent*) {
  const QRect r = rect();
  const bool vertical = orientation() == Qt::Vertical;
  const int length = vertical ? r.height() : r.width();
  const double fraction = Fraction();
  const int filled = FilledLength(length, fraction);
  const QRect filledRect = vertical ? QRect(r.left(), r.bottom() + 1 - filled, r.width(), filled)
                                    : QRect(r.left(), r.top(), filled, r.height());

  // QWidget paints through a back buffer already, so frequent updates do not flicker.
  QPainter p(this);
  p.fillRect(r, palette().brush(QPalette::Window));
  // An outline, so that the empty bar still shows where it is; chunks paint over it.
  p.setPen(palette().color(QPalette::Mid));
  p.drawRect(r.adjusted(0, 0, -1, -1));
  p.setClipRect(r);
  if (smooth_) p.fillRect(filledRect, barColour_);
  for (const ProgressChunk& c : smooth_ ? std::vector<ProgressChunk>{} : ProgressChunks(length, fraction)) {
    const QRect chunk = vertical ? QRect(r.left(), r.bottom() + 1 - c.start - c.length, r.width(), c.length)
                                 : QRect(r.left() + c.start, r.top(), c.length, r.height());
    p.fillRect(chunk & r, barColour_);
  }

  const QString label = CurrentText();
  if (label.isEmpty()) return;
  const QRegion rest = QRegion(r).subtracted(QRegion(filledRect));
  auto drawText = [&](const QColor& colour, const QRegion& clip) {
    if (clip.isEmpty()) return;
    p.save();
    p.setClipRegion(clip);
    p.setPen(colour);
    if (vertical) {
      p.setFont(verticalFont_);
      const QFontMetrics fm(verticalFont_);
      const int tw = fm.horizontalAdvance(label), th = fm.height();
      const int x = (r.right() - th - r.left()) >> 1;
      const int y = r.bottom() - ((r.bottom() - tw - r.top()) >> 1);
      p.translate(x, y);
      p.rotate(-90);
      p.drawText(QRect(0, 0, tw, th), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, label);
    } else {
      p.setFont(font_);
      p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, label);
    }
    p.restore();
  };
  drawText(palette().color(QPalette::HighlightedText), QRegion(filledRect));
  drawText(palette().color(QPalette::WindowText), rest);
}

}  // namespace ortavia::ui
