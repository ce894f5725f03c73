#pragma once
// What the station window's menus and handlers ask of the station core. The
// window holds a pointer to this interface (null before the core exists, and in
// the window's own tests); StationCommandsFor adapts the core to it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "config/legacy_import.h"
#include "config/panel_config.h"
#include "platform/settings_store.h"
#include "scanner/scanner_setting.h"
#include "service/gain_access.h"
#include "station/setup_prompts.h"

namespace varnex2::app {

class StationCommands {
 public:
  virtual ~StationCommands() = default;

  virtual bool DeviceConnected() const = 0;
  virtual std::string StatisticsText() const = 0;
  virtual std::uint32_t TestModeFlags() const = 0;
  virtual int DisplayStyle() const = 0;
  virtual bool DiffMode() const = 0;
  virtual std::uint8_t BuzzerByte() const = 0;

  virtual void ResetPanelConfig() = 0;
  virtual void SetDisplayStyle(int style) = 0;
  virtual void ToggleDiffMode() = 0;
  virtual void ToggleBuzzerEnable() = 0;
  virtual void ToggleBuzzerInvert() = 0;
  virtual void ToggleLineNumberBase() = 0;
  virtual void ToggleTestModeBit(std::uint32_t bit) = 0;
  // Stop the test cycle before a file dialog; resume it when the dialog is cancelled.
  virtual int StopTestThread() = 0;
  virtual void ResumeTest() = 0;
  // Called with the cycle stopped; they resume it themselves.
  virtual void LoadParameterFile(const std::filesystem::path& file) = 0;
  virtual void SaveParameterFile(const std::filesystem::path& file) = 0;
  // The frame capture: the text of the counts shown now (taken when the command
  // starts), and writing it once the operator has chosen the file.
  virtual std::string CaptureFrameText() const = 0;
  virtual void WriteFrameCapture(const std::filesystem::path& file, const std::string& text) = 0;

  // Set-up on the node map; the procedures stop and resume the test cycle themselves.
  virtual void AreaDefined(int area, station::SetupPrompts& prompts) = 0;
  virtual void EditAreaOfNode(int nArea, station::SetupPrompts& prompts) = 0;
  virtual void EditNodeLimits(int col, int row, station::SetupPrompts& prompts) = 0;
  virtual void EditNodePercent(int nArea, int col, int row, station::SetupPrompts& prompts) = 0;
  virtual void AdjacentWholeMap(station::SetupPrompts& prompts) = 0;
  virtual void AdjacentRegion(int col1, int row1, int col2, int row2, station::SetupPrompts& prompts) = 0;
  virtual void MarkNode(int oldFlags, int nArea, int col, int row) = 0;
  // The limit dialogs: the screen-level group, the sample limits, the placement trigger.
  virtual config::ScreenLevelSettings LoadScreenLevel() = 0;
  virtual void ApplyScreenLevel(const config::ScreenLevelSettings& group, bool confirmed) = 0;
  virtual config::PanelConfig PanelConfigCopy() const = 0;
  virtual void FinishSampleLimits(const config::SampleLimitSet* confirmed) = 0;
  virtual config::LegacyIniPart ImportLegacyIni(const config::LegacyIniFile& ini) = 0;  // 32800
  virtual void SetTriggerLevel(std::int32_t level) = 0;
  virtual void SetStableFrameCount(std::int32_t count) = 0;
  virtual platform::SettingsStore& Settings() = 0;
  // The About window: the information block's version and build bytes (false: none read).
  virtual bool FirmwareVersion(std::uint8_t& version, std::uint8_t& build) = 0;
  // The scanner: its live settings, its serial ports, the foreground key path.
  virtual scanner::SharedScannerSetting& ScannerSettings() = 0;
  virtual std::vector<std::string> ScannerPorts() = 0;
  virtual bool ForegroundKeyDown(int vk) = 0;
  virtual bool ForegroundChar(char32_t character) = 0;

  // The window is closing: stop every thread and close the links (bounded).
  virtual void Shutdown() = 0;

  // The gain dialogs' access to the test cycle and the controller (32806, 32837); null: the
  // commands are greyed.
  virtual service::GainAccess* Gain() { return nullptr; }
};

// Forwards every command to a core object with the same member names.
template <class Core>
class StationCommandsFor final : public StationCommands {
 public:
  explicit StationCommandsFor(Core& core) : core_(core) {}

  bool DeviceConnected() const override { return core_.DeviceConnected(); }
  std::string StatisticsText() const override { return core_.StatisticsText(); }
  std::uint32_t TestModeFlags() const override { return core_.TestModeFlags(); }
  int DisplayStyle() const override { return core_.DisplayStyle(); }
  bool DiffMode() const override { return core_.DiffMode(); }
  std::uint8_t BuzzerByte() const override { return core_.BuzzerByte(); }

  void ResetPanelConfig() override { core_.ResetPanelConfig(); }
  void SetDisplayStyle(int style) override { core_.SetDisplayStyle(style); }
  void ToggleDiffMode() override { core_.ToggleDiffMode(); }
  void ToggleBuzzerEnable() override { core_.ToggleBuzzerEnable(); }
  void ToggleBuzzerInvert() override { core_.ToggleBuzzerInvert(); }
  void ToggleLineNumberBase() override { core_.ToggleLineNumberBase(); }
  void ToggleTestModeBit(std::uint32_t bit) override { core_.ToggleTestModeBit(bit); }
  int StopTestThread() override { return core_.StopTestThread(); }
  void ResumeTest() override { core_.ResumeTest(); }
  void LoadParameterFile(const std::filesystem::path& file) override { core_.LoadParameterFile(file); }
  void SaveParameterFile(const std::filesystem::path& file) override { core_.SaveParameterFile(file); }
  std::string CaptureFrameText() const override { return core_.CaptureFrameText(); }
  void WriteFrameCapture(const std::filesystem::path& file, const std::string& text) override {
    core_.WriteFrameCapture(file, text);
  }
  void AreaDefined(int area, station::SetupPrompts& prompts) override { core_.AreaDefined(area, prompts); }
  void EditAreaOfNode(int nArea, station::SetupPrompts& prompts) override { core_.EditAreaOfNode(nArea, prompts); }
  void EditNodeLimits(int col, int row, station::SetupPrompts& prompts) override {
    core_.EditNodeLimits(col, row, prompts);
  }
  void EditNodePercent(int nArea, int col, int row, station::SetupPrompts& prompts) override {
    core_.EditNodePercent(nArea, col, row, prompts);
  }
  void AdjacentWholeMap(station::SetupPrompts& prompts) override { core_.AdjacentWholeMap(prompts); }
  void AdjacentRegion(int col1, int row1, int col2, int row2, station::SetupPrompts& prompts) override {
    core_.AdjacentRegion(col1, row1, col2, row2, prompts);
  }
  void MarkNode(int oldFlags, int nArea, int col, int row) override { core_.MarkNode(oldFlags, nArea, col, row); }
  config::ScreenLevelSettings LoadScreenLevel() override { return core_.LoadScreenLevel(); }
  void ApplyScreenLevel(const config::ScreenLevelSettings& group, bool confirmed) override {
    core_.ApplyScreenLevel(group, confirmed);
  }
  config::PanelConfig PanelConfigCopy() const override { return core_.PanelConfigCopy(); }
  void FinishSampleLimits(const config::SampleLimitSet* confirmed) override { core_.FinishSampleLimits(confirmed); }
  config::LegacyIniPart ImportLegacyIni(const config::LegacyIniFile& ini) override {
    return core_.ImportLegacyIni(ini);
  }
  void SetTriggerLevel(std::int32_t level) override { core_.SetTriggerLevel(level); }
  void SetStableFrameCount(std::int32_t count) override { core_.SetStableFrameCount(count); }
  platform::SettingsStore& Settings() override { return core_.Settings(); }
  bool FirmwareVersion(std::uint8_t& version, std::uint8_t& build) override {
    return core_.FirmwareVersion(version, build);
  }
  scanner::SharedScannerSetting& ScannerSettings() override { return core_.ScannerSettings(); }
  std::vector<std::string> ScannerPorts() override { return core_.ScannerPorts(); }
  bool ForegroundKeyDown(int vk) override { return core_.ForegroundKeyDown(vk); }
  bool ForegroundChar(char32_t character) override { return core_.ForegroundChar(character); }
  void Shutdown() override { core_.Shutdown(); }
  service::GainAccess* Gain() override { return &gain_; }

 private:
  Core& core_;
  service::GainAccessFor<Core> gain_{core_};
};

}  // namespace varnex2::app
