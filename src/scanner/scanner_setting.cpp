#include "scanner/scanner_setting.h"

#include <array>

#include "config/reg_edit_class.h"

namespace varnex2::scanner {
namespace {

// One stored field: a number (dword != null) or a text read into a buffer of `buffer` bytes.
struct Field {
  std::string_view key;
  std::string_view name;
  int32_t ScannerSetting::*dword = nullptr;
  std::string ScannerSetting::*text = nullptr;
  std::size_t buffer = 0;
};

constexpr Field Number(std::string_view key, std::string_view name, int32_t ScannerSetting::*member) {
  return Field{key, name, member, nullptr, 0};
}

constexpr Field Text(std::string_view key, std::string_view name, std::string ScannerSetting::*member,
                     std::size_t buffer) {
  return Field{key, name, nullptr, member, buffer};
}

// In the order the fields are loaded and saved.
constexpr std::array<Field, 21> kFields = {
    Number(kRegKeyConnect, "Type", &ScannerSetting::nConnectType),
    Number(kRegKeyConnect, "HIDMode", &ScannerSetting::nHIDMode),
    Number(kRegKeyConnect, "COMNum", &ScannerSetting::nCOMNum),
    Number(kRegKeyTrigger, "Type", &ScannerSetting::nTriggerType),
    Number(kRegKeyTrigger, "Flag", &ScannerSetting::nTriggerFlag),
    Text(kRegKeyTrigger, "TriggerString", &ScannerSetting::strTriggerString, kScannerTextBuffer),
    Number(kRegKeyFileRecoder, "Type", &ScannerSetting::nFileType),
    Text(kRegKeyFileRecoder, "FilenameFormatString", &ScannerSetting::strFilenameFormat, kScannerTextBuffer),
    Number(kRegKeyCounter, "Enable", &ScannerSetting::bCounter),
    Number(kRegKeyCounter, "CounterNum", &ScannerSetting::nCounterNum),
    Number(kRegKeyProductModel, "Enable", &ScannerSetting::bProductModel),
    Text(kRegKeyProductModel, "ProductModel", &ScannerSetting::strProductModel, kScannerTextBuffer),
    Number(kRegKeyAttribute, "ScannerResult", &ScannerSetting::bScannerResult),
    Number(kRegKeyAttribute, "TestResult", &ScannerSetting::bTestResult),
    Number(kRegKeyAttribute, "TestResultOnlyPass", &ScannerSetting::bTestResultOnlyPass),
    Number(kRegKeyAttribute, "TestResultOnlyFail", &ScannerSetting::bTestResultOnlyFail),
    Number(kRegKeyAttribute, "TestResultSummer", &ScannerSetting::bTestResultSummer),
    Number(kRegKeyAttribute, "TestRawdata", &ScannerSetting::bTestRawdata),
    Number(kRegKeyAttribute, "TestTime", &ScannerSetting::bTestTime),
    Number(kRegKeyAdditionalInfo, "Enable", &ScannerSetting::bAdditionalInfo),
    Text(kRegKeyAdditionalInfo, "AdditionalInfo", &ScannerSetting::strAdditionalInfo, kAdditionalInfoBuffer),
};

}  // namespace

void LoadScannerSetting(platform::SettingsStore& store, ScannerSetting& setting, config::ScreenLevelSettings& screen,
                        int32_t& nDiffModeGain) {
  config::CRegEditClass reg(store);
  const ScannerSetting defaults;
  for (const Field& f : kFields) {
    if (f.dword != nullptr) {
      config::LoadOrCreateDword(reg, f.key, f.name, setting.*f.dword, defaults.*f.dword);
    } else {
      config::LoadOrCreateString(reg, f.key, f.name, setting.*f.text, defaults.*f.text, f.buffer);
    }
  }
  config::LoadScreenThreshold(store, screen);
  config::LoadDiffModeGain(store, nDiffModeGain);
}

void SaveScannerSetting(platform::SettingsStore& store, const ScannerSetting& setting) {
  config::CRegEditClass reg(store);
  for (const Field& f : kFields) {
    if (f.dword != nullptr) {
      reg.WriteRegDword(f.key, f.name, setting.*f.dword);
    } else {
      reg.WriteRegString(f.key, f.name, setting.*f.text);
    }
  }
}

void SaveCounter(platform::SettingsStore& store, const ScannerSetting& setting) {
  config::CRegEditClass reg(store);
  reg.WriteRegDword(kRegKeyCounter, "CounterNum", setting.nCounterNum);
}

void SaveRecordCounter(platform::SettingsStore& store, ScannerSetting& setting) {
  setting.nCounterNum = static_cast<int32_t>(static_cast<uint32_t>(setting.nCounterNum) + 1u);
  SaveCounter(store, setting);
}

}  // namespace varnex2::scanner
