#pragma once
// The barcode scanner's and the record file's settings, kept under
// "Software\Varnx2\ScannerSetting" and its subkeys, and the operations that load and save them.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "config/panel_config.h"
#include "platform/settings_store.h"

namespace varnex2::scanner {

inline constexpr std::string_view kRegKeyScannerSetting = "Software\\Varnx2\\ScannerSetting";
inline constexpr std::string_view kRegKeyConnect = "Software\\Varnx2\\ScannerSetting\\Connect";
inline constexpr std::string_view kRegKeyTrigger = "Software\\Varnx2\\ScannerSetting\\Trigger";
inline constexpr std::string_view kRegKeyFileRecoder = "Software\\Varnx2\\ScannerSetting\\FileRecoder";
inline constexpr std::string_view kRegKeyAttribute = "Software\\Varnx2\\ScannerSetting\\FileRecoder\\Attribute";
inline constexpr std::string_view kRegKeyCounter = "Software\\Varnx2\\ScannerSetting\\FileRecoder\\Attribute\\Counter";
inline constexpr std::string_view kRegKeyProductModel =
    "Software\\Varnx2\\ScannerSetting\\FileRecoder\\Attribute\\ProductModel";
inline constexpr std::string_view kRegKeyAdditionalInfo =
    "Software\\Varnx2\\ScannerSetting\\FileRecoder\\Attribute\\AdditionalInfo";

// Text limits in bytes (UTF-8), and the read buffers that hold them with their terminator.
inline constexpr std::size_t kScannerTextMaxBytes = 254;      // pattern, file-name format, model
inline constexpr std::size_t kAdditionalInfoMaxBytes = 1023;  // custom information
inline constexpr std::size_t kScannerTextBuffer = kScannerTextMaxBytes + 1;
inline constexpr std::size_t kAdditionalInfoBuffer = kAdditionalInfoMaxBytes + 1;

// nConnectType
inline constexpr int32_t kConnectUsbKeyboard = 0;
inline constexpr int32_t kConnectUsbSerial = 1;
inline constexpr int32_t kConnectNone = 255;
// nHIDMode
inline constexpr int32_t kHidModeGlobalHook = 0;  // "键盘侦测"
inline constexpr int32_t kHidModeForeground = 1;  // "程序置顶有效"
// nTriggerType
inline constexpr int32_t kTriggerControlChar = 0;
inline constexpr int32_t kTriggerPattern = 0x8000;
// nTriggerFlag bits
inline constexpr int32_t kTriggerFlagCrLf = 0x1;
inline constexpr int32_t kTriggerFlagCr = 0x2;
inline constexpr int32_t kTriggerFlagTab = 0x4;
inline constexpr int32_t kTriggerFlagSpace = 0x8;
// nFileType
inline constexpr int32_t kFileDaily = 0;      // one appended file per day
inline constexpr int32_t kFilePerRecord = 1;  // one file per record, named by strFilenameFormat

inline constexpr const char* kDefaultTriggerString = "\\d{7}";
inline constexpr const char* kDefaultFilenameFormat = "{测试计数}.{产品型号} 时间{测试时间} 结果{测试结果}";
inline constexpr const char* kDefaultProductModel = "TP-NEW888";
// Five lines joined by CR LF.
inline constexpr const char* kDefaultAdditionalInfo =
    "提示：本产品测试完成后，请送品质部门进行二次检验！\r\n"
    "操作员：\r\n"
    "工号：9527\r\n"
    "班次：996\r\n"
    "拉线：Line 233";

// Every number is a 32-bit value as stored; the b fields are 0 or non-zero.
struct ScannerSetting {
  int32_t nConnectType = kConnectUsbKeyboard;
  int32_t nHIDMode = kHidModeGlobalHook;
  int32_t nCOMNum = 0;
  int32_t nTriggerType = kTriggerPattern;
  int32_t nTriggerFlag = kTriggerFlagCrLf;
  std::string strTriggerString = kDefaultTriggerString;
  int32_t nFileType = kFilePerRecord;
  std::string strFilenameFormat = kDefaultFilenameFormat;
  int32_t bCounter = 1;
  int32_t nCounterNum = 0;
  int32_t bProductModel = 1;
  std::string strProductModel = kDefaultProductModel;
  int32_t bScannerResult = 1;
  int32_t bTestResult = 1;
  int32_t bTestResultOnlyPass = 1;
  int32_t bTestResultOnlyFail = 0;
  int32_t bTestResultSummer = 1;
  int32_t bTestRawdata = 1;
  int32_t bTestTime = 1;
  int32_t bAdditionalInfo = 1;
  std::string strAdditionalInfo = kDefaultAdditionalInfo;

  friend bool operator==(const ScannerSetting&, const ScannerSetting&) = default;
};

// Loads, each by load-or-create (a missing, mistyped or too long value takes its default, which
// is written back): the 21 scanner values in the order of the record's fields, then
// "ScreenThreshold" into `screen`, then "DiffMode"/"Gain" into `nDiffModeGain`.
void LoadScannerSetting(platform::SettingsStore& store, ScannerSetting& setting, config::ScreenLevelSettings& screen,
                        int32_t& nDiffModeGain);
// Writes the 21 values in the order of the record's fields.
void SaveScannerSetting(platform::SettingsStore& store, const ScannerSetting& setting);
// Writes "CounterNum" alone.
void SaveCounter(platform::SettingsStore& store, const ScannerSetting& setting);
// After a written record: the counter goes up by one (wrapping like the 32-bit value it is) and
// is saved alone.
void SaveRecordCounter(platform::SettingsStore& store, ScannerSetting& setting);

// The process-wide record, shared by the window thread (dialog, loads) and the scanner's
// threads. Its texts cannot be read safely while another thread assigns them, so readers take
// a copy at every use and writers replace or change the record under the lock.
class SharedScannerSetting {
 public:
  ScannerSetting Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return setting_;
  }
  void Set(const ScannerSetting& setting) {
    std::lock_guard<std::mutex> lock(mutex_);
    setting_ = setting;
  }
  // Runs `change` on the record under the lock (keep it short; no waits inside).
  template <class F>
  void Update(F&& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(setting_);
  }

 private:
  mutable std::mutex mutex_;
  ScannerSetting setting_;
};

}  // namespace varnex2::scanner
