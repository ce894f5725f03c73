#pragma once
// A node-map widget together with a model of its own, for tests and benchmarks
// that need no station around the widget.

#include "judging/node_map.h"
#include "judging/node_map_fixtures.h"
#include "judging/widget/color_grid.h"

namespace varnex2::judging::testing {

// Holds the model; listed first among the bases so it is built before the widget and
// destroyed after it.
struct ModelHolder {
  NodeMap ownModel;
};

class ModelGrid : private ModelHolder, public CColorGrid {
 public:
  explicit ModelGrid(QWidget* parent = nullptr) : CColorGrid(ownModel, parent) {}
};

// The station's picture (node_map_fixtures.h) on a widget's model.
inline void StationMap(CColorGrid& grid, std::int32_t modes) { StationMap(grid.Model(), modes); }

}  // namespace varnex2::judging::testing
