#include "station/setup_commands.h"

#include "config/parameter_file.h"
#include "config/reg_edit_class.h"
#include "device/controller_ops.h"
#include "device/panel_areas.h"
#include "device/user_data_record.h"
#include "judging/frame_capture.h"
#include "judging/panel_layout.h"
#include "station/area_settings.h"
#include "station/station_texts.h"

#ifndef VARNEX2_VERSION_MAJOR
#define VARNEX2_VERSION_MAJOR 0
#define VARNEX2_VERSION_MINOR 0
#define VARNEX2_VERSION_PATCH 0
#define VARNEX2_VERSION_TWEAK 0
#endif

namespace varnex2::station {

namespace {

constexpr std::chrono::milliseconds kCommandPause{100};
constexpr std::chrono::milliseconds kImportSettle{200};
const config::ProgramVersion kProgramVersion{VARNEX2_VERSION_MAJOR, VARNEX2_VERSION_MINOR, VARNEX2_VERSION_PATCH,
                                             VARNEX2_VERSION_TWEAK};

bool IsWholeDefaultMatrix(const config::AreaParams& a) {
  return a.nXOrigin == 0 && a.nYOrigin == 0 && a.nXSize == judging::kDefaultRows &&
         a.nYSize == judging::kDefaultColumns;
}

// A failure of the link itself (the controller went away), as opposed to an answer.
bool IsLinkFailure(int rc) { return rc < 0 || rc == device::kErrNotConnected; }

}  // namespace

SetupCommands::SetupCommands(LinkSession& link, judging::NodeMap& grid, PanelState& panel, TestCycle& cycle,
                             StationView& view, StationClock& clock, platform::SettingsStore& settings)
    : link_(link), grid_(grid), panel_(panel), cycle_(cycle), view_(view), clock_(clock), settings_(settings) {}

// ---- the user-data record ---------------------------------------------------------------------

void SetupCommands::WriteUserDataRecord() {
  device::ControllerLink* link = link_.Controller();
  if (!link) return;
  device::UserDataRecord record;
  panel_.ReadConfig([&](const config::PanelConfig& p) {
    record.nUiColorMode = p.nUiColorMode;
    record.nLegacyTestMode = p.nLegacyTestMode;
    for (int k = 0; k < config::kUserMarkCount; ++k) {
      const auto bytes = p.marks[static_cast<std::size_t>(k)].Pack();
      record.marks[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    }
  });
  auto turn = link_.Lock();
  if (device::WriteUserData(*link, record) == 0) device::BackupSettings(*link);
}

void SetupCommands::ReadUserDataRecord() {
  device::ControllerLink* link = link_.Controller();
  if (!link) return;
  device::UserDataRecord record;
  {
    auto turn = link_.Lock();
    if (device::ReadUserData(*link, record) != 0) record = device::UserDataRecord{};
  }
  panel_.UpdateConfig([&](config::PanelConfig& p) {
    p.nUiColorMode = record.nUiColorMode & 3;
    p.nLegacyTestMode = record.nLegacyTestMode & 3;
    for (int k = 0; k < config::kUserMarkCount; ++k) {
      const std::uint16_t m = record.marks[static_cast<std::size_t>(k)];
      p.marks[static_cast<std::size_t>(k)] =
          config::UserMark::Unpack({static_cast<std::uint8_t>(m & 0xFF), static_cast<std::uint8_t>(m >> 8)});
    }
  });
}

// ---- read-back, reset and apply ---------------------------------------------------------------

SetupCommands::ReadBack SetupCommands::ReadBackPanel(std::string& message) {
  device::ControllerLink* link = link_.Controller();
  if (!link) return ReadBack::NoDevice;
  {
    auto turn = link_.Lock();
    if (!link->Record()) return ReadBack::NoDevice;
    device::ControllerRecord& record = *link->Record();
    if (IsLinkFailure(device::ReadInfoBlock(*link, record))) return ReadBack::NoDevice;
    device::AreaSettings touchRead, keyRead;
    if (IsLinkFailure(device::ReadPanelAreas(*link, touchRead, keyRead))) return ReadBack::NoDevice;
    const config::AreaParams touch = ToAreaParams(touchRead);
    const config::AreaParams key = ToAreaParams(keyRead);
    const config::ValidationResult valid =
        config::ValidatePanelConfig(touch, key, record.MatrixX(), record.MatrixY(), record.Version());
    if (valid.nCode != config::kValidOk) {
      message = valid.strMessage;
      return ReadBack::Invalid;
    }
    panel_.UpdateConfig([&](config::PanelConfig& p) {
      p.touchArea = touch;
      p.keyArea = key;
    });
    ReadUserDataRecord();
  }
  const config::PanelConfig snapshot = panel_.Config();
  {
    std::lock_guard lock(grid_.Mutex());
    judging::LayOutAreas(grid_, snapshot);
    judging::DrawUserMarks(grid_, snapshot);
    grid_.SetDisplayStyle(snapshot.nUiColorMode);
    grid_.SetStatisticsSettings(judging::ToStatisticsSettings(snapshot.screen));
  }
  return ReadBack::Ok;
}

void SetupCommands::ResetPanelConfig() {
  cycle_.StopTestThread();
  grid_.ClearAreas();
  if (device::ControllerLink* link = link_.Controller()) {
    auto turn = link_.Lock();
    device::ResetPanelAreas(*link);
  }
  grid_.SetAllNodeFlags(judging::NodeFlag::TOUCH, judging::FlagOp::Set);
  grid_.SetTouchThresholds(19000, 28000);
  config::NodeExtents extents;
  panel_.UpdateConfig([&](config::PanelConfig& p) {
    config::ResetPanelConfigRecord(p);
    extents = config::ComputeNodeExtents(p.touchArea, p.keyArea);
  });
  grid_.SetGridSize(extents.nY, extents.nX);
  grid_.FillValues(0);
  grid_.SetAllPercent(0);
  // Threshold mode only; difference mode is not part of the set-up and stays as it is.
  grid_.SetTestModeFlags(judging::TestMode::THRESHOLD | (panel_.DiffMode() ? judging::TestMode::DIFFERENCE : 0));
  grid_.SetDisplayStyle(judging::kStyleColour);
  WriteUserDataRecord();
  clock_.Wait(kCommandPause);
  cycle_.ResumeTest();
}

void SetupCommands::ApplyPanelConfig(const config::PanelConfig& p) {
  const config::AreaParams& touch = p.touchArea;
  const config::AreaParams& key = p.keyArea;
  // Node map: the default map with the areas of the configuration.
  {
    std::lock_guard lock(grid_.Mutex());
    grid_.SetGridSize(judging::kDefaultColumns, judging::kDefaultRows);
    grid_.FillValues(0);
    grid_.ClearAreas();
    if (!IsWholeDefaultMatrix(touch)) {
      grid_.AddArea(touch.nXOrigin, touch.nYOrigin, touch.nXSize, touch.nYSize, 0);
      judging::CommitArea(grid_, 0, true);
      grid_.SetAreaThresholds(touch.nThresUpper, touch.nThresLower, 0);
    }
    if (key.bEnable) {
      grid_.AddArea(key.nXOrigin, key.nYOrigin, key.nXSize, key.nYSize, 1);
      judging::CommitArea(grid_, 1, true);
      grid_.SetAreaThresholds(touch.nThresUpper, touch.nThresLower, 1);
    }
  }
  // Controller: limits, windows, backup.
  config::AreaParams touchOn = touch;
  touchOn.bEnable = 1;
  if (device::ControllerLink* link = link_.Controller()) {
    auto turn = link_.Lock();
    device::WritePanelAreas(*link, ToAreaSettings(touchOn), ToAreaSettings(key));
  }
  // Node map again: touch nodes at the configuration's extents.
  const config::NodeExtents extents = config::ComputeNodeExtents(touchOn, key);
  {
    std::lock_guard lock(grid_.Mutex());
    grid_.SetAllNodeFlags(judging::NodeFlag::TOUCH, judging::FlagOp::Set);
    grid_.SetTouchThresholds(touch.nThresLower, touch.nThresUpper);
    grid_.SetGridSize(extents.nY, extents.nX);
    grid_.FillValues(0);
  }
  ReadUserDataRecord();
  std::uint8_t style = 0;
  panel_.ReadConfig([&](const config::PanelConfig& c) { style = c.nUiColorMode; });
  grid_.SetDisplayStyle(style);
}

// ---- display and modes ------------------------------------------------------------------------

void SetupCommands::SetDisplayStyle(int style) {
  cycle_.StopTestThread();
  grid_.SetDisplayStyle(style);
  panel_.UpdateConfig([&](config::PanelConfig& p) { p.nUiColorMode = static_cast<std::uint8_t>(style & 3); });
  WriteUserDataRecord();
  clock_.Wait(kCommandPause);
  cycle_.ResumeTest();
}

void SetupCommands::ToggleDiffMode() {
  std::lock_guard lock(grid_.Mutex());
  const bool on = !panel_.DiffMode();
  const std::int32_t flags = grid_.TestModeFlags();
  if (on) {
    grid_.SetDisplayStyle(judging::kStyleText);
    grid_.SetTestModeFlags(flags | judging::TestMode::DIFFERENCE);
  } else {
    grid_.SetDisplayStyle(judging::kStyleColour);
    grid_.SetTestModeFlags(flags & ~judging::TestMode::DIFFERENCE);
  }
  panel_.SetDiffMode(on);
}

void SetupCommands::ToggleBuzzer(std::uint8_t bit) {
  device::CUSBChannel* channel = link_.Bridge();
  if (!channel) return;
  const std::uint8_t value = static_cast<std::uint8_t>(channel->GetConfigByte() ^ bit);
  channel->SetConfigByte(value);
  if (bit == 0x1)
    channel->SetBuzzerEnable(value);
  else
    channel->SetBuzzerInvert(value);
  channel->SaveConfigPage();
}

void SetupCommands::ToggleLineNumberBase() {
  grid_.SetLineNumberBase(grid_.LineNumberBase() == 1 ? 0 : 1);
  view_.RepaintGrid();
}

void SetupCommands::ToggleTestModeBit(std::uint32_t bit) {
  std::lock_guard lock(grid_.Mutex());
  grid_.SetTestModeFlags(grid_.TestModeFlags() ^ static_cast<std::int32_t>(bit));
}

// ---- parameter files --------------------------------------------------------------------------

void SetupCommands::SaveParameterFile(const std::filesystem::path& file) {
  cycle_.StopTestThread();
  config::PanelConfig snapshot = panel_.Config();
  snapshot.adjacentPercent = judging::ToArray2D(grid_.GetPercentArray());
  snapshot.nTestModeFlags = static_cast<std::uint32_t>(grid_.TestModeFlags());
  snapshot.screen = judging::FromStatisticsSettings(grid_.GetStatisticsSettings());
  std::string message;
  if (config::SaveParameterFile(file, snapshot, kProgramVersion, message) == config::ParameterFileStatus::kOk)
    view_.ShowMessage(config::kMsgSaveSucceeded, MessageIcon::Information);
  else
    view_.ShowMessage(message, MessageIcon::Warning);
  cycle_.ResumeTest();
}

config::ControllerFacts SetupCommands::CurrentControllerFacts() {
  config::ControllerFacts facts;
  auto turn = link_.Lock();
  device::ControllerLink* link = link_.Controller();
  if (link && link->Record()) {
    const device::ControllerRecord& record = *link->Record();
    facts.nMatrixXSize = record.MatrixX();
    facts.nMatrixYSize = record.MatrixY();
    facts.nFirmwareVersion = record.Version();
  }
  return facts;
}

void SetupCommands::LoadParameterFile(const std::filesystem::path& file) {
  cycle_.StopTestThread();
  const config::PanelConfig current = panel_.Config();
  const config::ControllerFacts facts = CurrentControllerFacts();
  config::PanelConfig loaded;
  std::string message;
  if (config::LoadParameterFile(file, current, facts, kProgramVersion, loaded, message) !=
      config::ParameterFileStatus::kOk) {
    view_.ShowMessage(message, MessageIcon::Warning);
    cycle_.ResumeTest();
    return;
  }

  // Marks and display fields into the controller's user-data record.
  panel_.UpdateConfig([&](config::PanelConfig& p) {
    p.nUiColorMode = loaded.nUiColorMode;
    p.nLegacyTestMode = loaded.nLegacyTestMode;
    p.marks = loaded.marks;
  });
  WriteUserDataRecord();
  grid_.SetAllPercent(0);
  ApplyPanelConfig(loaded);

  grid_.SetTestModeFlags(static_cast<std::int32_t>(loaded.nTestModeFlags));
  config::SaveScreenThreshold(settings_, loaded.screen);
  panel_.UpdateConfig([&](config::PanelConfig& p) {
    p.touchArea = loaded.touchArea;
    p.keyArea = loaded.keyArea;
    p.nTestModeFlags = loaded.nTestModeFlags;
    p.screen = loaded.screen;
    p.adjacentPercent = loaded.adjacentPercent;
    p.sampleLimits = loaded.sampleLimits;
  });
  grid_.SetPercentArray(judging::ToNodeFrame(loaded.adjacentPercent));

  // What the controller now holds, laid out as at a connection.
  std::string readBackMessage;
  ReadBackPanel(readBackMessage);
  clock_.Wait(kCommandPause);
  grid_.SetUpperLimits(judging::ToNodeFrame(loaded.sampleLimits.rawUpper));
  grid_.SetLowerLimits(judging::ToNodeFrame(loaded.sampleLimits.rawLower));

  view_.ShowMessage(config::kMsgLoadSucceeded, MessageIcon::Information);
  cycle_.ResumeTest();
}

// ---- legacy import ----------------------------------------------------------------------------

config::LegacyIniPart SetupCommands::ImportLegacyIni(const config::LegacyIniFile& ini) {
  cycle_.StopTestThread();
  const config::LegacyIniPart part = config::ReadLegacyIniPart(ini, panel_.Config(), CurrentControllerFacts());
  if (!part.Valid()) {
    view_.ShowMessage(part.validation.strMessage, MessageIcon::Warning);
    return part;
  }
  // Areas: node map, controller writes, node map at the new extents, user-data record read back.
  config::PanelConfig candidate = panel_.Config();
  candidate.touchArea = part.touch;
  candidate.keyArea = part.key;
  ApplyPanelConfig(candidate);
  panel_.UpdateConfig([&](config::PanelConfig& p) {
    p.touchArea = part.touch;
    p.keyArea = part.key;
  });
  // Display style, legacy test mode and marks, written back to the controller's record.
  panel_.UpdateConfig([&](config::PanelConfig& p) { config::TakeLegacyIniPart(part, p); });
  grid_.SetDisplayStyle(part.nUiColorMode);
  WriteUserDataRecord();
  clock_.Wait(kImportSettle);
  std::string readBackMessage;
  ReadBackPanel(readBackMessage);
  clock_.Wait(kCommandPause);
  return part;
}

// ---- frame capture ----------------------------------------------------------------------------

void SetupCommands::CaptureFrame(const std::filesystem::path& file) {
  const std::string text = judging::BuildCaptureText(grid_);
  if (file.empty()) return;
  if (judging::AppendCaptureToFile(file.string(), text))
    view_.ShowMessage(texts::kCaptureSaved, MessageIcon::Information);
}

}  // namespace varnex2::station
