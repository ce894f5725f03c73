#include "dialogs/dialog_prompts.h"

#include "dialogs/adjacent_dlg.h"
#include "dialogs/cell_para_setting_dlg.h"
#include "dialogs/group_setting.h"

namespace varnex2::dialogs {

namespace {

template <typename Dialog, typename Prompt>
bool Ask(QWidget* parent, Prompt& prompt) {
  Dialog dialog(prompt, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.ReadInto(prompt);
  return true;
}

}  // namespace

bool DialogPrompts::AskAreaParams(station::AreaPrompt& prompt) { return Ask<GroupSetting>(parent_, prompt); }

bool DialogPrompts::AskAdjacentPercent(station::AdjacentPrompt& prompt) {
  return Ask<CAdjacentDlg>(parent_, prompt);
}

bool DialogPrompts::AskCellLimits(station::CellLimitsPrompt& prompt) {
  return Ask<CCellParaSettingDlg>(parent_, prompt);
}

}  // namespace varnex2::dialogs
