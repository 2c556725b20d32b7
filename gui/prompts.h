#pragma once
// How a window's command flow talks to the operator: questions, notices, warnings and file or
// folder choices. The windows use QtPrompts; tests hand in ScriptedPrompts with the answers ready.
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QWidget;

namespace ortavia::ui {

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Yes/No question with the question icon; true = Yes.
  virtual bool AskYesNo(const QString& text) = 0;
  // Notice with the information icon.
  virtual void Inform(const QString& text) = 0;
  // Failure the operator must see, with the warning icon.
  virtual void Warn(const QString& text) = 0;
  // Error box (critical icon) under its own caption.
  virtual void Error(const QString& caption, const QString& text) = 0;
  // Message without icon; an empty caption gives the application's.
  virtual void Plain(const QString& caption, const QString& text) = 0;
  // One existing file; filter in Qt's form ("Desc (*.a *.b);;..."). Empty = cancelled.
  virtual QString PickOpenFile(const QString& caption, const QString& filter) = 0;
  // Several existing files; empty = cancelled.
  virtual QStringList PickOpenFiles(const QString& caption, const QString& filter) = 0;
  // An existing folder; empty = cancelled.
  virtual QString PickFolder(const QString& caption) = 0;
  // A file to write (the dialog asks before an existing one is replaced); empty = cancelled.
  virtual QString PickSaveFile(const QString& caption, const QString& filter);
  // The band order dialog (CSelectBandDlg) for an image whose bands lack colour roles, proposing
  // `roles`: the four chosen roles, or nothing when cancelled.
  virtual std::optional<std::vector<int>> SelectBandOrder(const QString& imagePath, int bandCount,
                                                          const std::vector<int>& roles) = 0;
  // An existing folder, the dialog opening at `start`; empty = cancelled.
  virtual QString PickFolderAt(const QString& caption, const QString& start) {
    (void)start;
    return PickFolder(caption);
  }
};

// The application's band order dialog: the four chosen roles, or nothing when cancelled.
using BandOrderDialog = std::function<std::optional<std::vector<int>>(
    QWidget* parent, const QString& imagePath, int bandCount, const std::vector<int>& roles)>;

// Message boxes and file dialogs parented to a window. Without a band order dialog, a band order
// question is answered as cancelled.
class QtPrompts : public Prompts {
 public:
  explicit QtPrompts(QWidget* parent, BandOrderDialog bandOrderDialog = {})
      : parent_(parent), bandOrderDialog_(std::move(bandOrderDialog)) {}
  bool AskYesNo(const QString& text) override;
  void Inform(const QString& text) override;
  void Warn(const QString& text) override;
  void Error(const QString& caption, const QString& text) override;
  void Plain(const QString& caption, const QString& text) override;
  QString PickOpenFile(const QString& caption, const QString& filter) override;
  QStringList PickOpenFiles(const QString& caption, const QString& filter) override;
  QString PickFolder(const QString& caption) override;
  QString PickSaveFile(const QString& caption, const QString& filter) override;
  std::optional<std::vector<int>> SelectBandOrder(const QString& imagePath, int bandCount,
                                                  const std::vector<int>& roles) override;
  QString PickFolderAt(const QString& caption, const QString& start) override;

 private:
  QWidget* parent_;
  BandOrderDialog bandOrderDialog_;
};

// Answers queued in advance; everything asked or shown is recorded. An unqueued question is
// answered No and an unqueued file choice is cancelled, so a missing answer cannot loop forever.
class ScriptedPrompts : public Prompts {
 public:
  enum class Kind {
    Question, Information, Warning, OpenFile, OpenFiles, Folder, BandOrder, SaveFile, Error, Plain
  };
  struct Shown {
    Kind kind;
    QString text;  // the message, or the caption of a file choice
  };

  void QueueYesNo(bool yes) { answers_.push_back(yes); }
  void QueueFile(const QString& path) { files_.push_back(QStringList{path}); }
  void QueueFiles(const QStringList& paths) { files_.push_back(paths); }
  void QueueFolder(const QString& path) { folders_.push_back(path); }
  // Nothing = the band order dialog is cancelled.
  void QueueBandOrder(std::optional<std::vector<int>> roles) { bandOrders_.push_back(std::move(roles)); }

  bool AskYesNo(const QString& text) override;
  void Inform(const QString& text) override;
  void Warn(const QString& text) override;
  void Error(const QString& caption, const QString& text) override;
  void Plain(const QString& caption, const QString& text) override;
  QString PickOpenFile(const QString& caption, const QString& filter) override;
  QStringList PickOpenFiles(const QString& caption, const QString& filter) override;
  QString PickFolder(const QString& caption) override;
  // Takes the next queued file (QueueFile).
  QString PickSaveFile(const QString& caption, const QString& filter) override;
  // Records the image path; an unqueued band order is cancelled.
  std::optional<std::vector<int>> SelectBandOrder(const QString& imagePath, int bandCount,
                                                  const std::vector<int>& roles) override;
  QString PickFolderAt(const QString& caption, const QString& start) override;

  const std::vector<Shown>& Log() const { return shown_; }
  // Where the last folder choice opened.
  QString LastFolderStart() const { return lastFolderStart_; }
  // Captions of the error and plain boxes, in the order shown.
  QStringList Captions() const { return captions_; }
  // Texts shown with one icon, in order.
  QStringList Texts(Kind kind) const;
  QString LastFilter() const { return lastFilter_; }
  void Clear() {
    shown_.clear();
    captions_.clear();
  }

 private:
  std::deque<bool> answers_;
  std::deque<QStringList> files_;
  std::deque<QString> folders_;
  std::deque<std::optional<std::vector<int>>> bandOrders_;
  std::vector<Shown> shown_;
  QStringList captions_;
  QString lastFilter_;
  QString lastFolderStart_;
};

}  // namespace ortavia::ui
