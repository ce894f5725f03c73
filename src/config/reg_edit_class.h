#pragma once
// The station's access to its persistent settings: four operations that return 0 on success
// and 1 on failure and trace failures on standard output, the load-or-create rule (a value that
// cannot be read takes its default, which is written back), and the named settings groups.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/panel_config.h"
#include "platform/settings_store.h"

namespace varnex2::config {

inline constexpr std::string_view kRegRoot = "Software\\Varnx2";
inline constexpr std::string_view kRegKeyScreenThreshold = "Software\\Varnx2\\ScreenThreshold";
inline constexpr std::string_view kRegKeyOutPutSetting = "Software\\Varnx2\\OutPutSetting";
inline constexpr std::string_view kRegKeyDiffMode = "Software\\Varnx2\\DiffMode";

// Diagnostics written to standard output (each followed by a newline).
inline constexpr const char* kMsgRegCreateFailed = "创建注册表失败";
inline constexpr const char* kMsgRegOpenFailed = "打开注册表失败";
inline constexpr const char* kMsgRegReadKeyFailed = "读取注册表中KEY 失败";

inline constexpr int32_t kDefaultTriggerLevel = 28000;
inline constexpr int32_t kDefaultStableFrameCnt = 3;
inline constexpr int32_t kDefaultDiffModeGain = 4;

// Holds no state of its own; create it where it is needed.
class CRegEditClass {
 public:
  explicit CRegEditClass(platform::SettingsStore& store) : store_(store) {}

  // Creates the key as needed and sets the number. Failure: "创建注册表失败", 1.
  int WriteRegDword(std::string_view key, std::string_view name, int32_t value);
  // Missing key: "打开注册表失败", 1. Missing value or not a number: "读取注册表中KEY 失败", 1.
  // `value` keeps its content on every failure.
  int ReadRegDword(std::string_view key, std::string_view name, int32_t& value);
  // Creates the key as needed and sets the text. Failure: 1, no diagnostic.
  int WriteRegString(std::string_view key, std::string_view name, std::string_view text);
  // Reads into a buffer of `bufferSize` bytes, so texts of at most bufferSize - 1 bytes fit
  // (room for the terminating zero). Missing key: "打开注册表失败", 1. Missing value, not a
  // text, or too long: 1, no diagnostic. `text` keeps its content on every failure.
  int ReadRegString(std::string_view key, std::string_view name, std::string& text, std::size_t bufferSize);

 private:
  platform::SettingsStore& store_;
};

// Load-or-create: `value` becomes `fallback`, then the stored value if it can be read;
// otherwise the fallback is written back. Returns true when the stored value was taken.
bool LoadOrCreateDword(CRegEditClass& reg, std::string_view key, std::string_view name, int32_t& value,
                       int32_t fallback);
bool LoadOrCreateString(CRegEditClass& reg, std::string_view key, std::string_view name, std::string& value,
                        std::string_view fallback, std::size_t bufferSize);

// "OutPutSetting": "Trigger" (28000) then "StableFrameCnt" (3).
void LoadOutputSetting(platform::SettingsStore& store, int32_t& nTriggerLevel, int32_t& nOutputTriggerStableFrameCnt);
void SaveOutputSetting(platform::SettingsStore& store, int32_t nTriggerLevel, int32_t nOutputTriggerStableFrameCnt);

// "ScreenThreshold": loaded from "ScreenThresholdEnable" to "ViewMode" (each missing value takes
// the default of ScreenLevelSettings); saved as all twelve in "PANELCTL" order, "ViewMode" first.
void LoadScreenThreshold(platform::SettingsStore& store, ScreenLevelSettings& screen);
void SaveScreenThreshold(platform::SettingsStore& store, const ScreenLevelSettings& screen);

// "DiffMode"/"Gain" (4): read at every connection; nothing depends on it.
void LoadDiffModeGain(platform::SettingsStore& store, int32_t& nDiffModeGain);

}  // namespace varnex2::config
