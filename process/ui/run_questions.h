#pragma once
// The dialogs Start asks before a run, behind one interface so that tests can script them: the
// warp settings, the band order of the first image and "Warp conditions".
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "process/warp_settings.h"

class QWidget;

namespace ortavia::ui {

class Prompts;

class RunQuestions {
 public:
  virtual ~RunQuestions() = default;
  // The warp settings dialog on `settings`; false = Cancel (settings untouched).
  virtual bool EditWarpSettings(WarpSettings& settings) = 0;
  // The band order dialog for the first image. roles holds a GDAL colour interpretation per band
  // (the proposal) and receives the choice; false = Cancel.
  virtual bool ChooseBandRoles(const QString& imagePath, int bandCount, std::vector<int>& roles) = 0;
  // "Warp conditions" for the orthos present (full paths): 100 skip, 200 overwrite, 0 cancel.
  virtual int ChooseSkipOverwrite(const QStringList& presentOrthos) = 0;
};

// The real dialogs, parented to the main window.
class DialogRunQuestions : public RunQuestions {
 public:
  DialogRunQuestions(QWidget* parent, Prompts* prompts) : parent_(parent), prompts_(prompts) {}
  // The band order dialog and the settings' messages go through these.
  void SetPrompts(Prompts* prompts) { prompts_ = prompts; }

  bool EditWarpSettings(WarpSettings& settings) override;
  bool ChooseBandRoles(const QString& imagePath, int bandCount, std::vector<int>& roles) override;
  int ChooseSkipOverwrite(const QStringList& presentOrthos) override;

 private:
  QWidget* parent_;
  Prompts* prompts_;
};

// Answers queued in advance; what was asked is recorded. An unqueued question is cancelled.
class ScriptedRunQuestions : public RunQuestions {
 public:
  void QueueSettings(std::optional<WarpSettings> answer) { settings_.push_back(answer); }
  void QueueBandRoles(std::optional<std::vector<int>> answer) { bands_.push_back(std::move(answer)); }
  void QueueSkipOverwrite(int code) { codes_.push_back(code); }

  bool EditWarpSettings(WarpSettings& settings) override;
  bool ChooseBandRoles(const QString& imagePath, int bandCount, std::vector<int>& roles) override;
  int ChooseSkipOverwrite(const QStringList& presentOrthos) override;

  // What the dialogs were opened with, in order.
  std::vector<WarpSettings> settingsShown;
  std::vector<std::vector<int>> bandProposals;
  std::vector<QStringList> presentShown;
  QStringList asked;  // "settings", "bands", "conditions"

 private:
  std::deque<std::optional<WarpSettings>> settings_;
  std::deque<std::optional<std::vector<int>>> bands_;
  std::deque<int> codes_;
};

}  // namespace ortavia::ui
