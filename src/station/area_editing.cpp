#include "station/area_editing.h"

#include <cstdio>
#include <vector>

#include "config/reg_edit_class.h"
#include "device/controller_ops.h"
#include "device/controller_record.h"
#include "device/panel_areas.h"
#include "judging/panel_layout.h"
#include "scanner/scanner_setting.h"
#include "station/area_settings.h"
#include "station/station_texts.h"

namespace varnex2::station {

namespace {

using judging::NodeFlag::KEY;
using judging::NodeFlag::MASK;
using judging::NodeFlag::TOUCH;

constexpr std::chrono::milliseconds kMarkPause{100};
constexpr std::uint16_t kDefaultUpper = 28000;
constexpr std::uint16_t kDefaultLower = 19000;
constexpr int kPaneVerdict = 1;

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

std::string BriefText(const judging::NodeMap& grid, int area) {
  std::int32_t max = 0, min = 0, average = 0;
  grid.GetStatisticsBrief(area, max, min, average);
  return Format(texts::kAreaBriefFormat, max, min, average);
}

std::string FullText(const judging::NodeMap& grid, int area) {
  std::int32_t max = 0, min = 0, average = 0, spread = 0;
  grid.GetStatistics(area, max, min, average, spread);
  return Format(texts::kAreaStatisticsFormat, max, min, average, static_cast<double>(spread));
}

// The controller's window of an area, switched on.
device::WindowFields ToWindow(const config::AreaParams& a) { return device::ToWindow(ToAreaSettings(a), true); }

// The prompt's values on an area (gain 8 bits, thresholds 16 bits, as the record holds them).
void TakeValues(config::AreaParams& area, const AreaPrompt& prompt) {
  area.nThresUpper = static_cast<std::uint16_t>(prompt.upper);
  area.nThresLower = static_cast<std::uint16_t>(prompt.lower);
  area.nGain = static_cast<std::uint8_t>(prompt.gain);
}

// The node map's rectangle of an area as origin and size in X and Y lines.
bool AreaRect(const judging::NodeMap& grid, int index, config::AreaParams& area) {
  int xStart = 0, yStart = 0, xCount = 0, yCount = 0;
  if (!grid.GetAreaRect(index, xStart, yStart, xCount, yCount)) return false;
  area.nXOrigin = xStart;
  area.nYOrigin = yStart;
  area.nXSize = xCount;
  area.nYSize = yCount;
  return true;
}

}  // namespace

AreaEditing::AreaEditing(LinkSession& link, judging::NodeMap& grid, PanelState& panel, TestCycle& cycle,
                         StationView& view, StationClock& clock, SetupCommands& commands,
                         platform::SettingsStore& settings)
    : link_(link),
      grid_(grid),
      panel_(panel),
      cycle_(cycle),
      view_(view),
      clock_(clock),
      commands_(commands),
      settings_(settings) {}

// ---- controller and record --------------------------------------------------------------------

AreaEditing::Facts AreaEditing::ControllerFacts() {
  Facts facts;
  auto turn = link_.Lock();
  device::ControllerLink* link = link_.Controller();
  if (link && link->Record()) {
    const device::ControllerRecord& record = *link->Record();
    facts.matrixX = record.MatrixX();
    facts.matrixY = record.MatrixY();
    facts.version = record.Version();
  }
  return facts;
}

void AreaEditing::ReadAreasBack() {
  device::ControllerLink* link = link_.Controller();
  if (!link) return;
  device::AreaSettings touch, key;
  int rc = 0;
  {
    auto turn = link_.Lock();
    rc = device::ReadPanelAreas(*link, touch, key);
  }
  if (rc != 0) return;
  panel_.UpdateConfig([&](config::PanelConfig& p) {
    p.touchArea = ToAreaParams(touch);
    p.keyArea = ToAreaParams(key);
  });
}

bool AreaEditing::Validate(const config::AreaParams& touch, const config::AreaParams& key) {
  const Facts facts = ControllerFacts();
  const config::ValidationResult valid =
      config::ValidatePanelConfig(touch, key, facts.matrixX, facts.matrixY, facts.version);
  if (valid.nCode == config::kValidOk) return true;
  view_.ShowMessage(valid.strMessage, MessageIcon::Warning);
  return false;
}

void AreaEditing::WriteTouch(const config::AreaParams& touch) {
  device::ControllerLink* link = link_.Controller();
  if (!link) return;
  auto turn = link_.Lock();
  device::WriteTouchWindow(*link, ToWindow(touch));
  device::WriteSignalLimits(*link, device::kT9Touchscreen, touch.nThresUpper, touch.nThresLower);
  device::BackupSettings(*link);
}

void AreaEditing::WriteKey(const config::AreaParams& key) {
  device::ControllerLink* link = link_.Controller();
  if (!link) return;
  auto turn = link_.Lock();
  device::WriteKeyWindow(*link, ToWindow(key));
  device::WriteSignalLimits(*link, device::kT15KeyArray, key.nThresUpper, key.nThresLower);
  device::BackupSettings(*link);
}

void AreaEditing::ReapplyUserData() {
  commands_.ReadUserDataRecord();
  const config::PanelConfig snapshot = panel_.Config();
  std::lock_guard lock(grid_.Mutex());
  grid_.SetDisplayStyle(snapshot.nUiColorMode);
  judging::DrawUserMarks(grid_, snapshot);
}

void AreaEditing::SetTestModeBit(std::int32_t bit) {
  std::lock_guard lock(grid_.Mutex());
  grid_.SetTestModeFlags(grid_.TestModeFlags() | bit);
}

// ---- areas ------------------------------------------------------------------------------------

void AreaEditing::AreaDefined(int area, SetupPrompts& prompts) {
  if (area != 1 && area != 2) return;
  const int index = area - 1;
  cycle_.StopTestThread();
  ReadAreasBack();
  config::PanelConfig current = panel_.Config();
  config::AreaParams& edited = index == 0 ? current.touchArea : current.keyArea;
  if (index == 1 && (edited.nThresUpper == 0 || edited.nThresLower == 0 || edited.nThresUpper < edited.nThresLower)) {
    edited.nThresUpper = kDefaultUpper;
    edited.nThresLower = kDefaultLower;
  }

  AreaPrompt prompt;
  prompt.scope = index;
  prompt.info = BriefText(grid_, 0);
  prompt.upper = edited.nThresUpper;
  prompt.lower = edited.nThresLower;
  prompt.gain = edited.nGain;
  if (!prompts.AskAreaParams(prompt)) {
    judging::CommitArea(grid_, index, false);
  } else {
    TakeValues(edited, prompt);
    edited.bEnable = 1;
    AreaRect(grid_, index, edited);
    if (!Validate(current.touchArea, current.keyArea)) {
      judging::CommitArea(grid_, index, false);
      cycle_.ResumeTest();
      return;
    }
    panel_.UpdateConfig([&](config::PanelConfig& p) { (index == 0 ? p.touchArea : p.keyArea) = edited; });
    if (index == 0) {
      WriteTouch(edited);
      grid_.SetTouchThresholds(edited.nThresLower, edited.nThresUpper);
      grid_.SetAreaThresholds(edited.nThresUpper, edited.nThresLower, 0);
    } else {
      WriteKey(edited);
      const config::NodeExtents extents = config::ComputeNodeExtents(current.touchArea, edited);
      std::lock_guard lock(grid_.Mutex());
      grid_.SetKeyThresholds(edited.nThresLower, edited.nThresUpper);
      grid_.SetAreaThresholds(edited.nThresUpper, edited.nThresLower, 1);
      grid_.SetGridSize(extents.nY, extents.nX);
      grid_.FillValues(0);
      grid_.SetAllPercent(0);
      grid_.SetNodeFlags(edited.nYOrigin, edited.nXOrigin, edited.nYOrigin + edited.nYSize - 1,
                         edited.nXOrigin + edited.nXSize - 1, MASK, MASK, judging::FlagOp::Set);
    }
  }
  ReapplyUserData();
  cycle_.ResumeTest();
}

void AreaEditing::EditAreaOfNode(int nArea, SetupPrompts& prompts) {
  if (nArea < -1 || nArea > 1) return;
  if (grid_.AreaCount() > 0 && nArea < 0) return;
  cycle_.StopTestThread();
  ReadAreasBack();
  config::PanelConfig current = panel_.Config();
  const int index = nArea < 0 ? 0 : nArea;
  config::AreaParams& edited = index == 0 ? current.touchArea : current.keyArea;

  AreaPrompt prompt;
  prompt.scope = nArea;
  prompt.info = FullText(grid_, index);
  prompt.upper = edited.nThresUpper;
  prompt.lower = edited.nThresLower;
  prompt.gain = edited.nGain;
  if (prompts.AskAreaParams(prompt)) {
    TakeValues(edited, prompt);
    edited.bEnable = 1;
    // With no area on the map the touch window keeps the rectangle the controller holds.
    if (nArea >= 0) AreaRect(grid_, index, edited);
    if (!Validate(current.touchArea, current.keyArea)) {
      judging::CommitArea(grid_, index, false);
    } else {
      panel_.UpdateConfig([&](config::PanelConfig& p) { (index == 0 ? p.touchArea : p.keyArea) = edited; });
      if (index == 0) {
        WriteTouch(edited);
        // The judging takes the new thresholds at once, as after drawing the area.
        grid_.SetTouchThresholds(edited.nThresLower, edited.nThresUpper);
        if (nArea == 0) grid_.SetAreaThresholds(edited.nThresUpper, edited.nThresLower, 0);
      } else {
        WriteKey(edited);
        grid_.SetKeyThresholds(edited.nThresLower, edited.nThresUpper);
        grid_.SetAreaThresholds(edited.nThresUpper, edited.nThresLower, 1);
      }
    }
  }
  cycle_.ResumeTest();
}

// ---- a node's own limits ----------------------------------------------------------------------

void AreaEditing::EditNodeLimits(int col, int row, SetupPrompts& prompts) {
  if (col < 0 || row < 0 || col >= grid_.Columns() || row >= grid_.Rows()) return;
  cycle_.StopTestThread();
  const config::SampleLimitSet limits = panel_.Config().sampleLimits;
  const auto covers = [&](const config::Int32Array2D& a) { return col < a.Rows() && row < a.Cols(); };
  const bool recordCovers = covers(limits.rawUpper) && covers(limits.rawLower);
  judging::NodeFrame upper, lower;
  {
    std::lock_guard lock(grid_.Mutex());
    upper = grid_.UpperLimits();
    lower = grid_.LowerLimits();
  }
  if (!upper.InRange(col, row)) upper = judging::NodeFrame(grid_.Columns(), grid_.Rows());
  if (!lower.InRange(col, row)) lower = judging::NodeFrame(grid_.Columns(), grid_.Rows());

  CellLimitsPrompt prompt;
  prompt.y = col;
  prompt.x = row;
  // The record's arrays when they reach the node; otherwise what the map judges with.
  prompt.upper = recordCovers ? limits.rawUpper(col, row) : upper(col, row);
  prompt.lower = recordCovers ? limits.rawLower(col, row) : lower(col, row);
  prompt.average = covers(limits.rawAvg) ? limits.rawAvg(col, row) : 0;
  if (prompts.AskCellLimits(prompt)) {
    upper(col, row) = prompt.upper;
    lower(col, row) = prompt.lower;
    {
      std::lock_guard lock(grid_.Mutex());
      grid_.SetUpperLimits(upper);
      grid_.SetLowerLimits(lower);
    }
    panel_.UpdateConfig([&](config::PanelConfig& p) {
      if (recordCovers) {
        p.sampleLimits.rawUpper(col, row) = prompt.upper;
        p.sampleLimits.rawLower(col, row) = prompt.lower;
      } else {
        // The record takes the map's limits whole, so that a saved file holds what is judged.
        p.sampleLimits.rawUpper = judging::ToArray2D(upper);
        p.sampleLimits.rawLower = judging::ToArray2D(lower);
      }
    });
  }
  cycle_.ResumeTest();
}

// ---- adjacent-point percentages ---------------------------------------------------------------

void AreaEditing::EditNodePercent(int nArea, int col, int row, SetupPrompts& prompts) {
  if (grid_.AreaCount() > 0 && nArea < 0) return;
  if (col < 0 || row < 0 || col >= grid_.Columns() || row >= grid_.Rows()) return;
  AdjacentPrompt prompt;
  prompt.scope = 0;
  prompt.y0 = prompt.y1 = col;
  prompt.x0 = prompt.x1 = row;
  prompt.lineBase = grid_.LineNumberBase();
  prompt.percent = grid_.GetNodePercent(col, row) / 100;
  if (prompts.AskAdjacentPercent(prompt)) grid_.SetNodePercent(col, row, prompt.percent * 100.0);
}

void AreaEditing::AdjacentWholeMap(SetupPrompts& prompts) {
  const config::AreaParams touch = panel_.Config().touchArea;
  AdjacentPrompt prompt;
  prompt.scope = 1;
  prompt.y0 = touch.nYOrigin;
  prompt.x0 = touch.nXOrigin;
  prompt.y1 = touch.nYOrigin + touch.nYSize - 1;
  prompt.x1 = touch.nXOrigin + touch.nXSize - 1;
  prompt.lineBase = grid_.LineNumberBase();
  if (!prompts.AskAdjacentPercent(prompt)) return;
  SetTestModeBit(judging::TestMode::ADJACENT);
  grid_.SetAllPercent(prompt.percent * 100.0);
}

void AreaEditing::AdjacentRegion(judging::NodePos start, judging::NodePos end, SetupPrompts& prompts) {
  AdjacentPrompt prompt;
  prompt.scope = 2;
  prompt.y0 = start.col;
  prompt.x0 = start.row;
  prompt.y1 = end.col;
  prompt.x1 = end.row;
  prompt.lineBase = grid_.LineNumberBase();
  if (!prompts.AskAdjacentPercent(prompt)) return;
  SetTestModeBit(judging::TestMode::ADJACENT);
  grid_.SetPercentInRect(start.col, start.row, end.col, end.row, prompt.percent * 100.0, 0);
}

// ---- user marks -------------------------------------------------------------------------------

void AreaEditing::MarkNode(int oldFlags, int nArea, int col, int row) {
  // Only a node that is exactly TOUCH, KEY or MASK was flipped (a ZERO node never is).
  const int low = oldFlags & 0xF;
  if (low != TOUCH && low != KEY && low != MASK) return;
  if (col < 0 || row < 0 || col >= 64 || row >= 32) return;
  cycle_.StopTestThread();
  bool full = false;
  panel_.UpdateConfig([&](config::PanelConfig& p) {
    for (config::UserMark& mark : p.marks) {
      if (mark.bEnable && mark.nX == row && mark.nY == col) {
        mark.bEnable = 0;
        return;
      }
    }
    for (config::UserMark& mark : p.marks) {
      if (!mark.bEnable) {
        mark.nX = static_cast<std::uint8_t>(row);
        mark.nY = static_cast<std::uint8_t>(col);
        mark.bEnable = 1;
        mark.nType = nArea == 1 ? 1 : 2;
        return;
      }
    }
    full = true;
  });
  if (full) {
    grid_.SetNodeFlags(col, row, col, row, nArea == 1 ? MASK : TOUCH, 0, judging::FlagOp::Set);
    view_.RepaintGrid();
    view_.ShowMessage(texts::kMarksUsedUp, MessageIcon::Warning);
  }
  commands_.WriteUserDataRecord();
  clock_.Wait(kMarkPause);
  cycle_.ResumeTest();
}

// ---- screen-level group -----------------------------------------------------------------------

config::ScreenLevelSettings AreaEditing::LoadScreenLevel() {
  scanner::ScannerSetting setting;
  config::ScreenLevelSettings screen;
  std::int32_t diffModeGain = 0;
  scanner::LoadScannerSetting(settings_, setting, screen, diffModeGain);
  panel_.ScannerSettings().Set(setting);
  panel_.UpdateConfig([&](config::PanelConfig& p) { p.screen = screen; });
  return screen;
}

void AreaEditing::ApplyScreenLevel(config::ScreenLevelSettings group, bool confirmed) {
  group.ScreenThresholdEnable = confirmed ? 1 : 0;
  config::CRegEditClass(settings_).WriteRegDword(config::kRegKeyScreenThreshold, "ScreenThresholdEnable",
                                                 group.ScreenThresholdEnable);
  panel_.UpdateConfig([&](config::PanelConfig& p) { p.screen = group; });
  grid_.SetStatisticsSettings(judging::ToStatisticsSettings(group));
  view_.SetStatusPaneWidth(kPaneVerdict, (group.ViewMode & 0x4) != 0 ? 600 : 400);
}

}  // namespace varnex2::station
