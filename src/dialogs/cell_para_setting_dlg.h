#pragma once
// CCellParaSettingDlg: one node's own upper and lower limit (sample-limit mode), with the
// node's sampled average shown beside them. OK only; Esc closes without changes.

#include <QDialog>

#include <cstdint>

#include "station/setup_prompts.h"

class QLineEdit;

namespace varnex2::dialogs {

class CCellParaSettingDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CCellParaSettingDlg(const station::CellLimitsPrompt& prompt, QWidget* parent = nullptr);

  // The limits taken by OK (the initial ones before that).
  std::int32_t Upper() const { return upper_; }
  std::int32_t Lower() const { return lower_; }
  // Copies the limits into `prompt`.
  void ReadInto(station::CellLimitsPrompt& prompt) const;

 private:
  void OnOk();

  QLineEdit* upperEdit_ = nullptr;
  QLineEdit* averageEdit_ = nullptr;
  QLineEdit* lowerEdit_ = nullptr;
  std::int32_t upper_ = 0;
  std::int32_t lower_ = 0;
};

}  // namespace varnex2::dialogs
