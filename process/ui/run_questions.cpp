#include "process/ui/run_questions.h"

#include "gui/prompts.h"
#include "process/ui/CSelectionSkipOverwriteDlg.h"
#include "process/ui/CWarpSettingsDlg.h"

namespace ortavia::ui {

bool DialogRunQuestions::EditWarpSettings(WarpSettings& settings) {
  CWarpSettingsDlg dlg(settings, prompts_, parent_);
  if (dlg.exec() != QDialog::Accepted) return false;
  settings = dlg.Settings();
  return true;
}

bool DialogRunQuestions::ChooseBandRoles(const QString& imagePath, int bandCount, std::vector<int>& roles) {
  const std::optional<std::vector<int>> chosen = prompts_->SelectBandOrder(imagePath, bandCount, roles);
  if (!chosen) return false;
  roles = *chosen;
  return true;
}

int DialogRunQuestions::ChooseSkipOverwrite(const QStringList& presentOrthos) {
  CSelectionSkipOverwriteDlg dlg(presentOrthos, parent_);
  return dlg.exec();
}

bool ScriptedRunQuestions::EditWarpSettings(WarpSettings& settings) {
  asked << QStringLiteral("settings");
  settingsShown.push_back(settings);
  if (settings_.empty()) return false;
  const std::optional<WarpSettings> answer = settings_.front();
  settings_.pop_front();
  if (!answer) return false;
  settings = *answer;
  return true;
}

bool ScriptedRunQuestions::ChooseBandRoles(const QString&, int, std::vector<int>& roles) {
  asked << QStringLiteral("bands");
  bandProposals.push_back(roles);
  if (bands_.empty()) return false;
  const std::optional<std::vector<int>> answer = bands_.front();
  bands_.pop_front();
  if (!answer) return false;
  roles = *answer;
  return true;
}

int ScriptedRunQuestions::ChooseSkipOverwrite(const QStringList& presentOrthos) {
  asked << QStringLiteral("conditions");
  presentShown.push_back(presentOrthos);
  if (codes_.empty()) return 0;
  const int code = codes_.front();
  codes_.pop_front();
  return code;
}

}  // namespace ortavia::ui
