#pragma once
// The set-up procedures started on the node map: an area drawn or double-clicked (its
// thresholds and gain into the record, the controller and the map), the adjacent-point
// percentages of a node, a rectangle or the whole map, a node's own sample limits, the
// user marks, and the screen-level group after its dialog. Window thread; the procedures
// that change the configuration stop the test cycle first and resume it last, so that no
// frame is judged half-way through a change. The operator's answers come from a
// SetupPrompts the caller passes in.

#include <cstdint>
#include <string>

#include "config/panel_config.h"
#include "judging/node_map.h"
#include "platform/settings_store.h"
#include "station/link_session.h"
#include "station/panel_state.h"
#include "station/setup_commands.h"
#include "station/setup_prompts.h"
#include "station/station_clock.h"
#include "station/station_view.h"
#include "station/test_cycle.h"

namespace varnex2::station {

class AreaEditing {
 public:
  AreaEditing(LinkSession& link, judging::NodeMap& grid, PanelState& panel, TestCycle& cycle, StationView& view,
              StationClock& clock, SetupCommands& commands, platform::SettingsStore& settings);
  AreaEditing(const AreaEditing&) = delete;
  AreaEditing& operator=(const AreaEditing&) = delete;

  // An area drag ended with a new or redrawn area: 1 the touch area, 2 the key area.
  void AreaDefined(int area, SetupPrompts& prompts);
  // A double click in threshold mode on a node of area nArea (0 touch, 1 key, -1 none).
  void EditAreaOfNode(int nArea, SetupPrompts& prompts);
  // A double click in sample-limit mode: the node's own upper and lower limit.
  void EditNodeLimits(int col, int row, SetupPrompts& prompts);
  // A double click in adjacent-point mode: the node's percentage.
  void EditNodePercent(int nArea, int col, int row, SetupPrompts& prompts);
  // One percentage for every node of the map, shown with the touch area's lines.
  void AdjacentWholeMap(SetupPrompts& prompts);
  // One percentage for the selected rectangle (corners in drag order).
  void AdjacentRegion(judging::NodePos start, judging::NodePos end, SetupPrompts& prompts);
  // Ctrl+double click: the node's flags were flipped by the map; add or remove its mark.
  // oldFlags is the node's flag byte before the flip, nArea its area (-1 none).
  void MarkNode(int oldFlags, int nArea, int col, int row);

  // The screen-level group for its dialog: loaded as a connection loads it.
  config::ScreenLevelSettings LoadScreenLevel();
  // After the dialog: the check on (confirmed) or off, the group into the record and the map,
  // and the width of the statistics pane.
  void ApplyScreenLevel(config::ScreenLevelSettings group, bool confirmed);

 private:
  struct Facts {
    std::int32_t matrixX = 32;
    std::int32_t matrixY = 52;
    std::uint8_t version = 0x20;
  };
  Facts ControllerFacts();
  // Both areas and their limits as the controller holds them, into the record (kept as they
  // are when no controller answers).
  void ReadAreasBack();
  // The validator's verdict on the two areas; shows its text and returns false on a refusal.
  bool Validate(const config::AreaParams& touch, const config::AreaParams& key);
  void WriteTouch(const config::AreaParams& touch);
  void WriteKey(const config::AreaParams& key);
  // Marks, display style and the map after an area dialog: as the controller now holds them.
  void ReapplyUserData();
  void SetTestModeBit(std::int32_t bit);

  LinkSession& link_;
  judging::NodeMap& grid_;
  PanelState& panel_;
  TestCycle& cycle_;
  StationView& view_;
  StationClock& clock_;
  SetupCommands& commands_;
  platform::SettingsStore& settings_;
};

}  // namespace varnex2::station
