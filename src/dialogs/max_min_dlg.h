#pragma once
// CMaxMinDlg: the screen-level limits of the touch area (largest and smallest value,
// amplitude, flatness and the amplitude below which flatness is not judged), their switches
// and the three display switches of the screen statistics.
//
// The dialog edits the caller's group in place: a click on a limit's check box, on "显示区域"
// or on "程序标题栏" changes the group at once; OK takes every field and writes each to the
// settings store. It never touches ScreenThresholdEnable, which the caller sets after closing.

#include <QDialog>

#include <array>
#include <cstddef>
#include <cstdint>

#include "config/panel_config.h"
#include "platform/settings_store.h"

class QCheckBox;
class QLineEdit;

namespace varnex2::dialogs {

class CMaxMinDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::size_t kLimitCount = 5;

  // Shows `group` as the caller loaded it; `group` and `store` must outlive the dialog.
  CMaxMinDlg(config::ScreenLevelSettings& group, platform::SettingsStore& store, QWidget* parent = nullptr);

 private:
  struct LimitRow {
    QCheckBox* box = nullptr;
    QLineEdit* edit = nullptr;
  };

  void OnOk();

  config::ScreenLevelSettings& group_;
  platform::SettingsStore& store_;
  std::array<LimitRow, kLimitCount> limits_{};
  QCheckBox* viewArea_ = nullptr;
  QCheckBox* viewTitle_ = nullptr;
  QCheckBox* viewStatus_ = nullptr;
};

}  // namespace varnex2::dialogs
