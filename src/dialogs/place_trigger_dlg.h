#pragma once
// CPlaceTriggerDlg: the placement threshold (the touch area's average at which a product
// counts as placed) and the number of frames a verdict must hold before the output acts.

#include <QDialog>

#include <cstdint>

#include "platform/settings_store.h"

class QLineEdit;
class QPlainTextEdit;

namespace varnex2::dialogs {

class CPlaceTriggerDlg : public QDialog {
  Q_OBJECT

 public:
  // Shows `statisticsText` as given (it does not follow later frames) and loads "Trigger"
  // and "StableFrameCnt" from `store`, creating them with their defaults when missing.
  // `store` must outlive the dialog.
  CPlaceTriggerDlg(const QString& statisticsText, platform::SettingsStore& store, QWidget* parent = nullptr);

  // The values loaded at opening, or those stored by OK.
  std::int32_t TriggerLevel() const { return triggerLevel_; }
  std::int32_t StableFrameCount() const { return stableFrameCount_; }

 private:
  void OnOk();

  platform::SettingsStore& store_;
  QPlainTextEdit* statistics_ = nullptr;
  QLineEdit* triggerEdit_ = nullptr;
  QLineEdit* framesEdit_ = nullptr;
  std::int32_t triggerLevel_ = 0;
  std::int32_t stableFrameCount_ = 0;
};

}  // namespace varnex2::dialogs
