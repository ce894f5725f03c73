// The commands that change the set-up: reset and apply of the panel
// configuration, display style, difference mode, buzzer, line numbers, test
// modes, parameter files and frame capture.

#include "station/station_core.h"
#include "platform/memory_settings_store.h"
#include "station/station_texts.h"
#include "config/parameter_file.h"
#include "config/reg_edit_class.h"
#include "device/controller_ops.h"
#include "device/panel_areas.h"
#include "device/user_data_record.h"
#include "judging/frame_capture.h"
#include "judging/panel_layout.h"

#ifndef VARNEX2_VERSION_MAJOR
#define VARNEX2_VERSION_MAJOR 0
#define VARNEX2_VERSION_MINOR 0
#define VARNEX2_VERSION_PATCH 0
#define VARNEX2_VERSION_TWEAK 0
#endif

namespace varnex2::station {

namespace {

constexpr std::chrono::milliseconds kCommandPause{100};
const config::ProgramVersion kProgramVersion{VARNEX2_VERSION_MAJOR, VARNEX2_VERSION_MINOR, VARNEX2_VERSION_PATCH,
                                             VARNEX2_VERSION_TWEAK};

bool IsWholeDefaultMatrix(const config::AreaParams& a) {
  return a.nXOrigin == 0 && a.nYOrigin == 0 && a.nXSize == judging::kDefaultRows &&
         a.nYSize == judging::kDefaultColumns;
}


}  // namespace

// ---- the user-data record ---------------------------------------------------------------------

void StationCore::WriteUserDataRecord() {
  if (!link) return;
  device::UserDataRecord record;
  {
    std::lock_guard lock(configMutex);
    record.nUiColorMode = panel.nUiColorMode;
    record.nLegacyTestMode = panel.nLegacyTestMode;
    for (int k = 0; k < config::kUserMarkCount; ++k) {
      const auto bytes = panel.marks[static_cast<std::size_t>(k)].Pack();
      record.marks[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    }
  }
  std::lock_guard turn(linkMutex);
  if (device::WriteUserData(*link, record) == 0) device::BackupSettings(*link);
}

void StationCore::ReadUserDataRecord() {
  if (!link) return;
  device::UserDataRecord record;
  {
    std::lock_guard turn(linkMutex);
    if (device::ReadUserData(*link, record) != 0) record = device::UserDataRecord{};
  }
  std::lock_guard lock(configMutex);
  panel.nUiColorMode = record.nUiColorMode & 3;
  panel.nLegacyTestMode = record.nLegacyTestMode & 3;
  for (int k = 0; k < config::kUserMarkCount; ++k) {
    const std::uint16_t m = record.marks[static_cast<std::size_t>(k)];
    panel.marks[static_cast<std::size_t>(k)] =
        config::UserMark::Unpack({static_cast<std::uint8_t>(m & 0xFF), static_cast<std::uint8_t>(m >> 8)});
  }
}

// ---- reset and apply --------------------------------------------------------------------------

void StationCore::ResetPanelConfig() {
  StopTestThread();
  grid.ClearAreas();
  if (link) {
    std::lock_guard turn(linkMutex);
    device::ResetPanelAreas(*link);
  }
  grid.SetAllNodeFlags(judging::NodeFlag::TOUCH, judging::FlagOp::Set);
  grid.SetTouchThresholds(19000, 28000);
  config::NodeExtents extents;
  {
    std::lock_guard lock(configMutex);
    config::ResetPanelConfigRecord(panel);
    extents = config::ComputeNodeExtents(panel.touchArea, panel.keyArea);
  }
  grid.SetGridSize(extents.nY, extents.nX);
  grid.FillValues(0);
  grid.SetAllPercent(0);
  // Threshold mode only; difference mode is not part of the set-up and stays as it is.
  grid.SetTestModeFlags(judging::TestMode::THRESHOLD | (bDiffMode ? judging::TestMode::DIFFERENCE : 0));
  grid.SetDisplayStyle(judging::kStyleColour);
  WriteUserDataRecord();
  clock.Wait(kCommandPause);
  ResumeTest();
}

void StationCore::ApplyPanelConfig(const config::PanelConfig& p) {
  const config::AreaParams& touch = p.touchArea;
  const config::AreaParams& key = p.keyArea;
  // Node map: the default map with the areas of the configuration.
  {
    std::lock_guard lock(grid.Mutex());
    grid.SetGridSize(judging::kDefaultColumns, judging::kDefaultRows);
    grid.FillValues(0);
    grid.ClearAreas();
    if (!IsWholeDefaultMatrix(touch)) {
      grid.AddArea(touch.nXOrigin, touch.nYOrigin, touch.nXSize, touch.nYSize, 0);
      judging::CommitArea(grid, 0, true);
      grid.SetAreaThresholds(touch.nThresUpper, touch.nThresLower, 0);
    }
    if (key.bEnable) {
      grid.AddArea(key.nXOrigin, key.nYOrigin, key.nXSize, key.nYSize, 1);
      judging::CommitArea(grid, 1, true);
      grid.SetAreaThresholds(touch.nThresUpper, touch.nThresLower, 1);
    }
  }
  // Controller: limits, windows, backup.
  config::AreaParams touchOn = touch;
  touchOn.bEnable = 1;
  if (link) {
    std::lock_guard turn(linkMutex);
    device::WritePanelAreas(*link, ToAreaSettings(touchOn), ToAreaSettings(key));
  }
  // Node map again: touch nodes at the configuration's extents.
  const config::NodeExtents extents = config::ComputeNodeExtents(touchOn, key);
  {
    std::lock_guard lock(grid.Mutex());
    grid.SetAllNodeFlags(judging::NodeFlag::TOUCH, judging::FlagOp::Set);
    grid.SetTouchThresholds(touch.nThresLower, touch.nThresUpper);
    grid.SetGridSize(extents.nY, extents.nX);
    grid.FillValues(0);
  }
  ReadUserDataRecord();
  std::uint8_t style = 0;
  {
    std::lock_guard lock(configMutex);
    style = panel.nUiColorMode;
  }
  grid.SetDisplayStyle(style);
}

// ---- display and modes ------------------------------------------------------------------------

void StationCore::SetDisplayStyle(int style) {
  StopTestThread();
  grid.SetDisplayStyle(style);
  {
    std::lock_guard lock(configMutex);
    panel.nUiColorMode = static_cast<std::uint8_t>(style & 3);
  }
  WriteUserDataRecord();
  clock.Wait(kCommandPause);
  ResumeTest();
}

void StationCore::ToggleDiffMode() {
  std::lock_guard lock(grid.Mutex());
  const bool on = !bDiffMode.load();
  const std::int32_t flags = grid.TestModeFlags();
  if (on) {
    grid.SetDisplayStyle(judging::kStyleText);
    grid.SetTestModeFlags(flags | judging::TestMode::DIFFERENCE);
  } else {
    grid.SetDisplayStyle(judging::kStyleColour);
    grid.SetTestModeFlags(flags & ~judging::TestMode::DIFFERENCE);
  }
  bDiffMode = on;
}

void StationCore::ToggleBuzzer(std::uint8_t bit) {
  if (!channel) return;
  const std::uint8_t value = static_cast<std::uint8_t>(channel->GetConfigByte() ^ bit);
  channel->SetConfigByte(value);
  if (bit == 0x1)
    channel->SetBuzzerEnable(value);
  else
    channel->SetBuzzerInvert(value);
  channel->SaveConfigPage();
}

void StationCore::ToggleLineNumberBase() {
  grid.SetLineNumberBase(grid.LineNumberBase() == 1 ? 0 : 1);
  view.RepaintGrid();
}

void StationCore::ToggleTestModeBit(std::uint32_t bit) {
  std::lock_guard lock(grid.Mutex());
  grid.SetTestModeFlags(grid.TestModeFlags() ^ static_cast<std::int32_t>(bit));
}

// ---- parameter files --------------------------------------------------------------------------

void StationCore::SaveParameterFile(const std::filesystem::path& file) {
  StopTestThread();
  config::PanelConfig snapshot;
  {
    std::lock_guard lock(configMutex);
    snapshot = panel;
  }
  snapshot.adjacentPercent = judging::ToArray2D(grid.GetPercentArray());
  snapshot.nTestModeFlags = static_cast<std::uint32_t>(grid.TestModeFlags());
  snapshot.screen = judging::FromStatisticsSettings(grid.GetStatisticsSettings());
  std::string message;
  if (config::SaveParameterFile(file, snapshot, kProgramVersion, message) == config::ParameterFileStatus::kOk)
    view.ShowMessage(config::kMsgSaveSucceeded, MessageIcon::Information);
  else
    view.ShowMessage(message, MessageIcon::Warning);
  ResumeTest();
}

void StationCore::LoadParameterFile(const std::filesystem::path& file) {
  StopTestThread();
  config::PanelConfig current;
  {
    std::lock_guard lock(configMutex);
    current = panel;
  }
  config::ControllerFacts facts;
  std::unique_lock turn(linkMutex);
  if (link && link->Record()) {
    const device::ControllerRecord& record = *link->Record();
    facts.nMatrixXSize = record.MatrixX();
    facts.nMatrixYSize = record.MatrixY();
    facts.nFirmwareVersion = record.Version();
  }
  turn.unlock();
  config::PanelConfig loaded;
  std::string message;
  if (config::LoadParameterFile(file, current, facts, kProgramVersion, loaded, message) !=
      config::ParameterFileStatus::kOk) {
    view.ShowMessage(message, MessageIcon::Warning);
    ResumeTest();
    return;
  }

  // Marks and display fields into the controller's user-data record.
  {
    std::lock_guard lock(configMutex);
    panel.nUiColorMode = loaded.nUiColorMode;
    panel.nLegacyTestMode = loaded.nLegacyTestMode;
    panel.marks = loaded.marks;
  }
  WriteUserDataRecord();
  grid.SetAllPercent(0);
  ApplyPanelConfig(loaded);

  grid.SetTestModeFlags(static_cast<std::int32_t>(loaded.nTestModeFlags));
  config::SaveScreenThreshold(*backends.settings, loaded.screen);
  {
    std::lock_guard lock(configMutex);
    panel.touchArea = loaded.touchArea;
    panel.keyArea = loaded.keyArea;
    panel.nTestModeFlags = loaded.nTestModeFlags;
    panel.screen = loaded.screen;
    panel.adjacentPercent = loaded.adjacentPercent;
    panel.sampleLimits = loaded.sampleLimits;
  }
  grid.SetPercentArray(judging::ToNodeFrame(loaded.adjacentPercent));

  // What the controller now holds, laid out as at a connection.
  std::string readBackMessage;
  ReadBackPanel(readBackMessage);
  clock.Wait(kCommandPause);
  grid.SetUpperLimits(judging::ToNodeFrame(loaded.sampleLimits.rawUpper));
  grid.SetLowerLimits(judging::ToNodeFrame(loaded.sampleLimits.rawLower));

  view.ShowMessage(config::kMsgLoadSucceeded, MessageIcon::Information);
  ResumeTest();
}

// ---- frame capture ----------------------------------------------------------------------------

void StationCore::CaptureFrame(const std::filesystem::path& file) {
  const std::string text = judging::BuildCaptureText(grid);
  if (file.empty()) return;
  if (judging::AppendCaptureToFile(file.string(), text))
    view.ShowMessage(texts::kCaptureSaved, MessageIcon::Information);
}

}  // namespace varnex2::station
