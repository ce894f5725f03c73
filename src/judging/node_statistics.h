// NodeStatistics: the whole-area statistics — their settings, the four statistics
// labels, the statistics text of the last frame, and the figures of an area (max,
// min, average, spread) with the checks Evaluate runs on them.
//
// No lock of its own: NodeMap calls it under the map's lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "judging/node_cells.h"
#include "judging/node_types.h"

namespace varnex2::judging {

class NodeStatistics {
 public:
  NodeStatistics();

  const StatisticsSettings& Settings() const { return stats_; }
  StatisticsSettings& Settings() { return stats_; }

  // Max, min, average and (when spread is given) spread of an area's nodes; false
  // with the outputs untouched when the index names no area (0 is valid with no
  // areas: the whole map).
  bool Gather(const NodeCells& cells, int area, std::int32_t& max, std::int32_t& min, std::int32_t& average,
              std::int32_t* spread) const;

  // Evaluate's statistics step over the touch area: the text, the labels and the
  // two notification parameters (statusParam -1: not posted). Returns true when a
  // figure is out of its bound (touch NG). Allocates nothing.
  bool Check(const NodeCells& cells, int& titleParam, int& statusParam);

  const std::string& Text() const { return strStatistics; }

  // index 1..4; other indices are ignored (an empty label is returned).
  void SetLabel(int index, const std::string& text, bool shown, Rgb textColour, Rgb background);
  const GridLabel& Label(int index) const;

 private:
  void ShowLabel(int index, const char* text, Rgb colour);
  void HideLabel(int index);

  StatisticsSettings stats_;
  std::string strStatistics;
  std::array<GridLabel, 4> labels_;
};

}  // namespace varnex2::judging
