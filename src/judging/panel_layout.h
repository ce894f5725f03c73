// Laying a panel configuration out on the node map, as the station does when the
// controller connects: size, areas, key-area masking, marks, test modes,
// percentages, sample limits, the screen-level group and the thresholds.
#pragma once

#include "config/panel_config.h"
#include "judging/node_map.h"

namespace varnex2::judging {

// Stamps nGroup = index over the area's rectangle, recolours, then sets the
// area's enabled flag. Nothing for an index naming no area.
void CommitArea(NodeMap& map, int index, bool enabled);

// Size and areas: the default 52 x 32 map resized to the configuration's node
// extents and blanked; area 0 unless the touch window is the whole default
// matrix; area 1 with every key node MASK when keys are enabled. Both areas get
// the touch thresholds as their colour range.
void LayOutAreas(NodeMap& map, const config::PanelConfig& panel);

// Draws the enabled marks that lie inside the map: type 1 makes the node KEY,
// type 2 makes it MASK.
void DrawUserMarks(NodeMap& map, const config::PanelConfig& panel);

// Everything: LayOutAreas, DrawUserMarks, the test-mode word, the percentages
// (all 0, then the configuration's array where it overlaps), the sample limits
// when their shape equals the map's, the screen-level group, the display style
// and the touch and key thresholds.
void ApplyConfigToNodeMap(NodeMap& map, const config::PanelConfig& panel);

// Converts between the configuration's [Y][X] arrays and the map's [col][row]
// frames (columns are Y lines, rows X lines).
NodeFrame ToNodeFrame(const config::Int32Array2D& array);
config::Int32Array2D ToArray2D(const NodeFrame& frame);

// The screen-level group as the node map holds it.
StatisticsSettings ToStatisticsSettings(const config::ScreenLevelSettings& screen);
// The reverse: the screen-level group as the node map holds it (to save it).
config::ScreenLevelSettings FromStatisticsSettings(const StatisticsSettings& statistics);

}  // namespace varnex2::judging
