// The companion data of an imported legacy parameter set, handed to the node map and the
// sample-limit editor: the sample-limit mode on, the legacy colour range, the per-node limits,
// the base array on display, the editor's set converted from the companion files, and the
// editor's four parameters read from its controls. Shared by the station's dialog and the
// offline judge.
#pragma once

#include "config/legacy_import.h"
#include "judging/node_map.h"
#include "judging/sample_limits.h"

namespace varnex2::judging {

// The controls as the editor shows a set (percent mode ticked for mode 0, "%g" and "%d" texts).
config::LegacyLimitControls LimitControlsOf(const config::SampleLimitSet& set);

// `controls`: the editor's controls as they stand after the INI part. Problems found while
// converting are added to `companion.problems`.
void ImportLegacyCompanion(NodeMap& map, SampleLimitEditor& editor, config::LegacyCompanion& companion,
                           const config::LegacyLimitControls& controls,
                           config::TextLanguage language = config::TextLanguage::kChinese);

}  // namespace varnex2::judging
