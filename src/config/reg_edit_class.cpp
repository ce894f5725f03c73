#include "config/reg_edit_class.h"

#include <array>
#include <cstdio>
#include <utility>

namespace varnex2::config {
namespace {

using platform::SettingsStatus;

void Trace(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// The screen-level members in "PANELCTL" order, matching kScreenLevelValueNames.
constexpr std::array<int32_t ScreenLevelSettings::*, ScreenLevelSettings::kCount> kScreenMembers = {
    &ScreenLevelSettings::ViewMode,
    &ScreenLevelSettings::ScreenThresholdEnable,
    &ScreenLevelSettings::RawdataMax,
    &ScreenLevelSettings::RawdataMaxEnable,
    &ScreenLevelSettings::RawdataMin,
    &ScreenLevelSettings::RawdataMinEnable,
    &ScreenLevelSettings::RawdataRange,
    &ScreenLevelSettings::RawdataRangeEnable,
    &ScreenLevelSettings::RawdataVariance,
    &ScreenLevelSettings::RawdataVarianceEnable,
    &ScreenLevelSettings::RawdataRangeDiscardVariance,
    &ScreenLevelSettings::RawdataRangeDiscardVarianceEnable,
};

}  // namespace

int CRegEditClass::WriteRegDword(std::string_view key, std::string_view name, int32_t value) {
  if (store_.SetDword(key, name, value) != SettingsStatus::Ok) {
    Trace(kMsgRegCreateFailed);
    return 1;
  }
  return 0;
}

int CRegEditClass::ReadRegDword(std::string_view key, std::string_view name, int32_t& value) {
  int32_t read = 0;
  switch (store_.GetDword(key, name, read)) {
    case SettingsStatus::Ok:
      value = read;
      return 0;
    case SettingsStatus::NoKey:
      Trace(kMsgRegOpenFailed);
      return 1;
    default:
      Trace(kMsgRegReadKeyFailed);
      return 1;
  }
}

int CRegEditClass::WriteRegString(std::string_view key, std::string_view name, std::string_view text) {
  return store_.SetString(key, name, text) == SettingsStatus::Ok ? 0 : 1;
}

int CRegEditClass::ReadRegString(std::string_view key, std::string_view name, std::string& text,
                                 std::size_t bufferSize) {
  std::string read;
  const std::size_t maxBytes = bufferSize == 0 ? 0 : bufferSize - 1;
  const SettingsStatus status = store_.GetString(key, name, read, maxBytes);
  if (status == SettingsStatus::NoKey) {
    Trace(kMsgRegOpenFailed);
    return 1;
  }
  // A zero-sized buffer holds nothing, not even the empty text's terminator.
  if (status != SettingsStatus::Ok || bufferSize == 0) return 1;
  text = std::move(read);
  return 0;
}

bool LoadOrCreateDword(CRegEditClass& reg, std::string_view key, std::string_view name, int32_t& value,
                       int32_t fallback) {
  value = fallback;
  if (reg.ReadRegDword(key, name, value) == 0) return true;
  reg.WriteRegDword(key, name, value);
  return false;
}

bool LoadOrCreateString(CRegEditClass& reg, std::string_view key, std::string_view name, std::string& value,
                        std::string_view fallback, std::size_t bufferSize) {
  value = std::string(fallback);
  if (reg.ReadRegString(key, name, value, bufferSize) == 0) return true;
  reg.WriteRegString(key, name, value);
  return false;
}

void LoadOutputSetting(platform::SettingsStore& store, int32_t& nTriggerLevel, int32_t& nOutputTriggerStableFrameCnt) {
  CRegEditClass reg(store);
  LoadOrCreateDword(reg, kRegKeyOutPutSetting, "Trigger", nTriggerLevel, kDefaultTriggerLevel);
  LoadOrCreateDword(reg, kRegKeyOutPutSetting, "StableFrameCnt", nOutputTriggerStableFrameCnt, kDefaultStableFrameCnt);
}

void SaveOutputSetting(platform::SettingsStore& store, int32_t nTriggerLevel, int32_t nOutputTriggerStableFrameCnt) {
  CRegEditClass reg(store);
  reg.WriteRegDword(kRegKeyOutPutSetting, "Trigger", nTriggerLevel);
  reg.WriteRegDword(kRegKeyOutPutSetting, "StableFrameCnt", nOutputTriggerStableFrameCnt);
}

void LoadScreenThreshold(platform::SettingsStore& store, ScreenLevelSettings& screen) {
  CRegEditClass reg(store);
  const ScreenLevelSettings defaults;
  // "ScreenThresholdEnable" first and "ViewMode" last: the "PANELCTL" order turned by one.
  for (std::size_t k = 1; k <= ScreenLevelSettings::kCount; ++k) {
    const std::size_t i = k % ScreenLevelSettings::kCount;
    LoadOrCreateDword(reg, kRegKeyScreenThreshold, kScreenLevelValueNames[i], screen.*kScreenMembers[i],
                      defaults.*kScreenMembers[i]);
  }
}

void SaveScreenThreshold(platform::SettingsStore& store, const ScreenLevelSettings& screen) {
  CRegEditClass reg(store);
  for (std::size_t i = 0; i < ScreenLevelSettings::kCount; ++i) {
    reg.WriteRegDword(kRegKeyScreenThreshold, kScreenLevelValueNames[i], screen.*kScreenMembers[i]);
  }
}

void LoadDiffModeGain(platform::SettingsStore& store, int32_t& nDiffModeGain) {
  CRegEditClass reg(store);
  LoadOrCreateDword(reg, kRegKeyDiffMode, "Gain", nDiffModeGain, kDefaultDiffModeGain);
}

}  // namespace varnex2::config
