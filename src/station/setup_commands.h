#pragma once
// The configuration commands: the panel configuration between the controller, the record and
// the node map (read-back, apply, reset, the user-data record), display style, difference
// mode, buzzer bits, line-number base, test-mode bits, parameter files and frame capture.
// Window thread; the commands that talk to the controller bracket themselves with
// StopTestThread and ResumeTest.

#include <cstdint>
#include <filesystem>
#include <string>

#include "config/legacy_import.h"
#include "config/panel_config.h"
#include "judging/node_map.h"
#include "platform/settings_store.h"
#include "station/link_session.h"
#include "station/panel_state.h"
#include "station/station_clock.h"
#include "station/station_view.h"
#include "station/test_cycle.h"

namespace varnex2::station {

class SetupCommands {
 public:
  SetupCommands(LinkSession& link, judging::NodeMap& grid, PanelState& panel, TestCycle& cycle, StationView& view,
                StationClock& clock, platform::SettingsStore& settings);
  SetupCommands(const SetupCommands&) = delete;
  SetupCommands& operator=(const SetupCommands&) = delete;

  // Reads the panel back from the controller as a connection does: areas, user-data record,
  // validation and the node map's layout (with the screen-level group held in memory).
  enum class ReadBack { Ok, Invalid, NoDevice };
  ReadBack ReadBackPanel(std::string& message);
  // Writes a validated configuration's areas to the controller and lays the node map out for
  // it (the caller brackets it and reads back afterwards).
  void ApplyPanelConfig(const config::PanelConfig& panel);

  void ResetPanelConfig();
  void SetDisplayStyle(int style);
  void ToggleDiffMode();
  void ToggleBuzzer(std::uint8_t bit);
  void ToggleLineNumberBase();
  void ToggleTestModeBit(std::uint32_t bit);
  void LoadParameterFile(const std::filesystem::path& file);
  void SaveParameterFile(const std::filesystem::path& file);
  void CaptureFrame(const std::filesystem::path& file);
  // The INI part of a legacy import (the sample-limit editor's command; the test thread stays
  // stopped): threshold adjustment, validation (its message shown on failure, nothing taken),
  // then the areas to the node map and the controller, the display style, the marks and the
  // user-data record, and the read-back. Returns what was decided.
  config::LegacyIniPart ImportLegacyIni(const config::LegacyIniFile& ini);

  // Writes marks, display style and legacy test mode to the controller's user-data record,
  // then backs the controller's settings up.
  void WriteUserDataRecord();
  // Reads the user-data record into the panel configuration (defaults when absent).
  void ReadUserDataRecord();

 private:
  config::ControllerFacts CurrentControllerFacts();

  LinkSession& link_;
  judging::NodeMap& grid_;
  PanelState& panel_;
  TestCycle& cycle_;
  StationView& view_;
  StationClock& clock_;
  platform::SettingsStore& settings_;
};

}  // namespace varnex2::station
