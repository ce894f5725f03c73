#pragma once
// CScannerSettingDlg: how the barcode scanner is connected, what completes a scan, and how
// the test records are written (one file per day or one per record, and what each holds).
//
// Opening loads the settings into the shared record (dropping any unsaved change). The option
// handlers change the shared record at once, so the scanner and the record writer follow them
// even after Cancel; OK takes every control and saves all the settings.
// The controls' object names are their numeric ids ("1087" ...); the buttons are "ok" and
// "cancel".

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/panel_config.h"
#include "platform/settings_store.h"
#include "scanner/scanner_setting.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace varnex2::dialogs {

class CUserMenuEdit;

class CScannerSettingDlg : public QDialog {
  Q_OBJECT

 public:
  // The serial ports' names in the station's order (the index is what nCOMNum counts).
  using PortLister = std::function<std::vector<std::string>()>;

  // Loads the settings from `store` into `live`, the screen-level group into `screen` and the
  // difference-mode gain into `diffModeGain` (creating missing values with their defaults),
  // and shows them. `ports` is asked at opening and whenever the connection boxes change.
  // Every reference must outlive the dialog.
  CScannerSettingDlg(scanner::SharedScannerSetting& live, platform::SettingsStore& store,
                     config::ScreenLevelSettings& screen, std::int32_t& diffModeGain, PortLister ports,
                     QWidget* parent = nullptr);

 private:
  void BuildControls();
  void FillControls(const scanner::ScannerSetting& s);
  void FillPorts();
  void OnConnectClicked(QCheckBox* clicked);
  void OnTriggerClicked(std::int32_t type);
  void OnFileTypeClicked(std::int32_t type);
  void OnOk();

  scanner::SharedScannerSetting& live_;
  platform::SettingsStore& store_;
  PortLister ports_;

  QCheckBox* usbKeyboard_ = nullptr;  // 1087
  QComboBox* hidMode_ = nullptr;      // 1086
  QCheckBox* usbSerial_ = nullptr;    // 1088
  QComboBox* port_ = nullptr;         // 1070
  QRadioButton* controlChar_ = nullptr;  // 1071
  std::array<QCheckBox*, 4> triggerFlags_{};  // 1089..1092
  QRadioButton* pattern_ = nullptr;       // 1072
  QLineEdit* triggerString_ = nullptr;    // 1093
  QRadioButton* fileDaily_ = nullptr;     // 1073
  QRadioButton* filePerRecord_ = nullptr;  // 1074
  CUserMenuEdit* filenameFormat_ = nullptr;  // 1067
  QCheckBox* counter_ = nullptr;          // 1066
  QLineEdit* counterNum_ = nullptr;       // 1094
  QCheckBox* productModel_ = nullptr;     // 1076
  QLineEdit* productModelText_ = nullptr;  // 1095
  QCheckBox* scannerResult_ = nullptr;    // 1078
  QCheckBox* testResult_ = nullptr;       // 1080
  QCheckBox* onlyPass_ = nullptr;         // 1081
  QCheckBox* onlyFail_ = nullptr;         // 1082
  QCheckBox* summary_ = nullptr;          // 1096
  QCheckBox* rawdata_ = nullptr;          // 1079
  QCheckBox* testTime_ = nullptr;         // 1083
  QCheckBox* additionalInfo_ = nullptr;   // 1084
  QPlainTextEdit* additionalText_ = nullptr;  // 1085
};

}  // namespace varnex2::dialogs
