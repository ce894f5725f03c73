#pragma once
// Shared by the station window tests: the application object and a recording
// stand-in for the station core.

#include <QApplication>

#include <string>
#include <vector>

#include "app/station_commands.h"

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
};

}  // namespace varnex2::app::testing_support
