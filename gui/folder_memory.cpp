#include "gui/folder_memory.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "external/tools/profile.h"

namespace ortavia::ui {

namespace {

// Profile keys are plain words: "Select DEM" is kept under "Select_DEM".
std::string KeyOf(const QString& kind) {
  static const QRegularExpression notWord(QStringLiteral("[^A-Za-z0-9]+"));
  return QString(kind).replace(notWord, QStringLiteral("_")).toStdString();
}

}  // namespace

QString RememberedFolder(const QString& kind) {
  const QString folder = QString::fromStdString(GT_GetUserProfileString(kFoldersSection, KeyOf(kind), ""));
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void RememberFolder(const QString& kind, const QString& chosen) {
  if (chosen.isEmpty()) return;
  const QFileInfo info(chosen);
  const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
  GT_WriteUserProfileString(kFoldersSection, KeyOf(kind).c_str(), QDir::cleanPath(folder).toStdString().c_str());
}

QByteArray StoredLayout(const QString& key) {
  const std::string text = GT_GetUserProfileString(kLayoutSection, KeyOf(key), "");
  return QByteArray::fromBase64(QByteArray::fromStdString(text));
}

void StoreLayout(const QString& key, const QByteArray& state) {
  GT_WriteUserProfileString(kLayoutSection, KeyOf(key).c_str(), state.toBase64().toStdString().c_str());
}

}  // namespace ortavia::ui
