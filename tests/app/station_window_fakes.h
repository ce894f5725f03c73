#pragma once
// Shared by the station window tests: the application object and a recording
// stand-in for the station core.

#include <QApplication>

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <memory>
#include <vector>

#include "app/station_commands.h"
#include "platform/memory_settings_store.h"

namespace varnex2::app::testing_support {

inline QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_station_window";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives for the whole run
  return *app;
}

// Keeps the state the window reads and records what it was asked to do.
class FakeStation final : public StationCommands {
 public:
  bool connected = false;
  std::string statistics = "MAX:9000 MIN:100";
  std::uint32_t modes = 0x1;
  int style = 0;
  bool diff = false;
  std::uint8_t buzzer = 0;
  std::string frame = "1,2,3\n";  // what a capture copies
  mutable std::vector<std::string> calls;

  bool DeviceConnected() const override { return connected; }
  std::string StatisticsText() const override { return statistics; }
  std::uint32_t TestModeFlags() const override { return modes; }
  int DisplayStyle() const override { return style; }
  bool DiffMode() const override { return diff; }
  std::uint8_t BuzzerByte() const override { return buzzer; }
  void ResetPanelConfig() override { calls.push_back("reset"); }
  void SetDisplayStyle(int s) override {
    style = s;
    calls.push_back("style " + std::to_string(s));
  }
  void ToggleDiffMode() override { diff = !diff; }
  void ToggleBuzzerEnable() override { buzzer ^= 0x1; }
  void ToggleBuzzerInvert() override { buzzer ^= 0x2; }
  void ToggleLineNumberBase() override { calls.push_back("base"); }
  void ToggleTestModeBit(std::uint32_t bit) override { modes ^= bit; }
  int StopTestThread() override {
    calls.push_back("stop");
    return 0;
  }
  void ResumeTest() override { calls.push_back("resume"); }
  void LoadParameterFile(const std::filesystem::path& f) override { calls.push_back("load " + f.string()); }
  void SaveParameterFile(const std::filesystem::path& f) override { calls.push_back("save " + f.string()); }
  std::string CaptureFrameText() const override {
    calls.push_back("snapshot");
    return frame;
  }
  void WriteFrameCapture(const std::filesystem::path& f, const std::string& text) override {
    calls.push_back("write " + f.string() + ": " + text);
  }
  void Shutdown() override { calls.push_back("shutdown"); }

  // The set-up procedures: recorded with their arguments.
  void AreaDefined(int area, station::SetupPrompts&) override { calls.push_back("area " + std::to_string(area)); }
  void EditAreaOfNode(int nArea, station::SetupPrompts&) override {
    calls.push_back("edit area " + std::to_string(nArea));
  }
  void EditNodeLimits(int col, int row, station::SetupPrompts&) override {
    calls.push_back("edit limits " + std::to_string(col) + "," + std::to_string(row));
  }
  void EditNodePercent(int nArea, int col, int row, station::SetupPrompts&) override {
    calls.push_back("edit percent " + std::to_string(nArea) + " " + std::to_string(col) + "," + std::to_string(row));
  }
  void AdjacentWholeMap(station::SetupPrompts&) override { calls.push_back("adjacent all"); }
  void AdjacentRegion(int col1, int row1, int col2, int row2, station::SetupPrompts&) override {
    calls.push_back("adjacent region " + std::to_string(col1) + "," + std::to_string(row1) + "-" +
                    std::to_string(col2) + "," + std::to_string(row2));
  }
  void MarkNode(int oldFlags, int nArea, int col, int row) override {
    calls.push_back("mark " + std::to_string(oldFlags) + " " + std::to_string(nArea) + " " + std::to_string(col) +
                    "," + std::to_string(row));
  }
  config::ScreenLevelSettings LoadScreenLevel() override { return screen; }
  void ApplyScreenLevel(const config::ScreenLevelSettings& group, bool confirmed) override {
    screen = group;
    calls.push_back(confirmed ? "screen ok" : "screen cancel");
  }
  config::PanelConfig PanelConfigCopy() const override { return panel; }
  void FinishSampleLimits(const config::SampleLimitSet* confirmed) override {
    calls.push_back(confirmed ? "samples ok" : "samples cancel");
  }
  config::LegacyIniPart ImportLegacyIni(const config::LegacyIniFile& ini) override {
    calls.push_back("legacy ini");
    return config::ReadLegacyIniPart(ini, config::PanelConfig{}, config::ControllerFacts{});
  }
  void SetTriggerLevel(std::int32_t level) override { calls.push_back("trigger " + std::to_string(level)); }
  void SetStableFrameCount(std::int32_t count) override { calls.push_back("stable " + std::to_string(count)); }
  platform::SettingsStore& Settings() override { return *store; }
  bool FirmwareVersion(std::uint8_t& version, std::uint8_t& build) override {
    if (!firmware) return false;
    version = firmware->first;
    build = firmware->second;
    return true;
  }
  std::optional<std::pair<std::uint8_t, std::uint8_t>> firmware;  // version and build bytes
  scanner::SharedScannerSetting& ScannerSettings() override { return scannerSetting; }
  std::vector<std::string> ScannerPorts() override { return ports; }
  bool ForegroundKeyDown(int vk) override {
    calls.push_back("key " + std::to_string(vk));
    return consumeKeys;
  }
  bool ForegroundChar(char32_t character) override {
    calls.push_back("char " + std::to_string(static_cast<std::uint32_t>(character)));
    return consumeKeys;
  }

  scanner::SharedScannerSetting scannerSetting;
  std::vector<std::string> ports{"ttyUSB0", "ttyUSB1"};
  bool consumeKeys = false;

  config::ScreenLevelSettings screen;
  config::PanelConfig panel;
  std::unique_ptr<platform::SettingsStore> store = platform::CreateMemorySettingsStore();

  // The gain dialogs' access: stop and resume are the station's, object access is recorded.
  class FakeGain final : public service::GainAccess {
   public:
    explicit FakeGain(FakeStation& station) : station_(station) {}
    int StopTestThread() override { return station_.StopTestThread(); }
    void ResumeTest() override { station_.ResumeTest(); }
    int ReadObject(std::uint8_t type, std::span<std::uint8_t>) override {
      station_.calls.push_back("read T" + std::to_string(type));
      return 0;
    }
    int WriteObject(std::uint8_t type, std::span<const std::uint8_t>) override {
      station_.calls.push_back("write T" + std::to_string(type));
      return 0;
    }
    bool BackupSettings() override {
      station_.calls.push_back("backup");
      return true;
    }
    int ResetController() override {
      station_.calls.push_back("reset");
      return 0;
    }

   private:
    FakeStation& station_;
  };
  FakeGain gain{*this};
  service::GainAccess* Gain() override { return &gain; }
};

}  // namespace varnex2::app::testing_support
