#include "gui/prompts.h"

#include <QFileDialog>
#include <QMessageBox>

#include "gui/folder_memory.h"

namespace ortavia::ui {

namespace {
QString Title() { return QStringLiteral("Ortavia"); }
}  // namespace

bool QtPrompts::AskYesNo(const QString& text) {
  return QMessageBox::question(parent_, Title(), text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void QtPrompts::Inform(const QString& text) { QMessageBox::information(parent_, Title(), text); }

void QtPrompts::Warn(const QString& text) { QMessageBox::warning(parent_, Title(), text); }

void QtPrompts::Error(const QString& caption, const QString& text) {
  QMessageBox::critical(parent_, caption.isEmpty() ? Title() : caption, text);
}

void QtPrompts::Plain(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, caption.isEmpty() ? Title() : caption, text, QMessageBox::Ok, parent_);
  box.exec();
}

// Each file dialog opens in the folder last used for its kind of file, named by its caption.
QString QtPrompts::PickOpenFile(const QString& caption, const QString& filter) {
  const QString chosen = QFileDialog::getOpenFileName(parent_, caption, RememberedFolder(caption), filter);
  RememberFolder(caption, chosen);
  return chosen;
}

QStringList QtPrompts::PickOpenFiles(const QString& caption, const QString& filter) {
  const QStringList chosen = QFileDialog::getOpenFileNames(parent_, caption, RememberedFolder(caption), filter);
  RememberFolder(caption, chosen.value(0));
  return chosen;
}

QString QtPrompts::PickFolder(const QString& caption) {
  const QString chosen = QFileDialog::getExistingDirectory(parent_, caption, RememberedFolder(caption));
  RememberFolder(caption, chosen);
  return chosen;
}

QString Prompts::PickSaveFile(const QString& caption, const QString& filter) {
  return QFileDialog::getSaveFileName(nullptr, caption, QString(), filter);
}

QString QtPrompts::PickSaveFile(const QString& caption, const QString& filter) {
  const QString chosen = QFileDialog::getSaveFileName(parent_, caption, RememberedFolder(caption), filter);
  RememberFolder(caption, chosen);
  return chosen;
}

QString ScriptedPrompts::PickSaveFile(const QString& caption, const QString& filter) {
  shown_.push_back({Kind::SaveFile, caption});
  lastFilter_ = filter;
  if (files_.empty()) return {};
  const QString chosen = files_.front().value(0);
  files_.pop_front();
  return chosen;
}

std::optional<std::vector<int>> QtPrompts::SelectBandOrder(const QString& imagePath, int bandCount,
                                                          const std::vector<int>& roles) {
  if (!bandOrderDialog_) return std::nullopt;
  return bandOrderDialog_(parent_, imagePath, bandCount, roles);
}

std::optional<std::vector<int>> ScriptedPrompts::SelectBandOrder(const QString& imagePath, int,
                                                                const std::vector<int>&) {
  shown_.push_back({Kind::BandOrder, imagePath});
  if (bandOrders_.empty()) return std::nullopt;
  std::optional<std::vector<int>> chosen = bandOrders_.front();
  bandOrders_.pop_front();
  return chosen;
}

QString QtPrompts::PickFolderAt(const QString& caption, const QString& start) {
  const QString chosen =
      QFileDialog::getExistingDirectory(parent_, caption, start.isEmpty() ? RememberedFolder(caption) : start);
  RememberFolder(caption, chosen);
  return chosen;
}

bool ScriptedPrompts::AskYesNo(const QString& text) {
  shown_.push_back({Kind::Question, text});
  if (answers_.empty()) return false;
  const bool yes = answers_.front();
  answers_.pop_front();
  return yes;
}

void ScriptedPrompts::Inform(const QString& text) { shown_.push_back({Kind::Information, text}); }

void ScriptedPrompts::Warn(const QString& text) { shown_.push_back({Kind::Warning, text}); }

void ScriptedPrompts::Error(const QString& caption, const QString& text) {
  shown_.push_back({Kind::Error, text});
  captions_ << caption;
}

void ScriptedPrompts::Plain(const QString& caption, const QString& text) {
  shown_.push_back({Kind::Plain, text});
  captions_ << caption;
}

QString ScriptedPrompts::PickOpenFile(const QString& caption, const QString& filter) {
  shown_.push_back({Kind::OpenFile, caption});
  lastFilter_ = filter;
  if (files_.empty()) return {};
  QStringList chosen = files_.front();
  files_.pop_front();
  return chosen.value(0);
}

QStringList ScriptedPrompts::PickOpenFiles(const QString& caption, const QString& filter) {
  shown_.push_back({Kind::OpenFiles, caption});
  lastFilter_ = filter;
  if (files_.empty()) return {};
  QStringList chosen = files_.front();
  files_.pop_front();
  return chosen;
}

QString ScriptedPrompts::PickFolder(const QString& caption) {
  shown_.push_back({Kind::Folder, caption});
  if (folders_.empty()) return {};
  QString chosen = folders_.front();
  folders_.pop_front();
  return chosen;
}

QString ScriptedPrompts::PickFolderAt(const QString& caption, const QString& start) {
  lastFolderStart_ = start;
  return PickFolder(caption);
}

QStringList ScriptedPrompts::Texts(Kind kind) const {
  QStringList out;
  for (const auto& s : shown_)
    if (s.kind == kind) out << s.text;
  return out;
}

}  // namespace ortavia::ui
