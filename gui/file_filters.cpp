#include "gui/file_filters.h"

#include <QRegularExpression>
#include <QStringList>

#include "external/tools/folders.h"

namespace ortavia::ui {

QString CaseBlindFilter(const std::string& barFilter) {
  QStringList filters = QString::fromStdString(GT_MakeFilterPair(barFilter)).split(QStringLiteral(";;"));
  static const QRegularExpression patterns(QStringLiteral("\\(([^()]*)\\)$"));
  for (QString& filter : filters) {
    const QRegularExpressionMatch m = patterns.match(filter);
    if (!m.hasMatch()) continue;
    QStringList both;
    for (const QString& p : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      both << p;
      if (p.toUpper() != p) both << p.toUpper();
    }
    filter.replace(m.capturedStart(1), m.capturedLength(1), both.join(QLatin1Char(' ')));
  }
  return filters.join(QStringLiteral(";;"));
}

}  // namespace ortavia::ui
