#include "judging/legacy_limits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "judging/panel_layout.h"

namespace varnex2::judging {

namespace {

// A display value truncated to an integer, held within 32 bits.
std::int32_t Truncated(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(std::trunc(v), kMin, kMax));
}

// The upper set's value 5 and the lower set's value 4 are the map's colour range.
constexpr std::size_t kUpperRangeValue = 5;
constexpr std::size_t kLowerRangeValue = 4;

}  // namespace

config::LegacyLimitControls LimitControlsOf(const config::SampleLimitSet& set) {
  config::LegacyLimitControls c;
  c.bPercentChecked = set.nLimitMode == 0;
  c.bOffsetChecked = set.nLimitMode == 1;
  char text[64];
  std::snprintf(text, sizeof text, "%g", set.nPercentX100 / 100.0);
  c.strPercent = text;
  c.strOffsetLower = std::to_string(set.nOffsetLower);
  c.strOffsetUpper = std::to_string(set.nOffsetUpper);
  return c;
}

void ImportLegacyCompanion(NodeMap& map, SampleLimitEditor& editor, config::LegacyCompanion& companion,
                           const config::LegacyLimitControls& controls, config::TextLanguage language) {
  {
    std::lock_guard lock(map.Mutex());
    map.SetTestModeFlags(map.TestModeFlags() | TestMode::LIMITS);
    std::int32_t low = map.LegacySampleLow();
    std::int32_t high = map.LegacySampleHigh();
    if (companion.upperDisplay) high = Truncated((*companion.upperDisplay)[kUpperRangeValue]);
    if (companion.lowerDisplay) low = Truncated((*companion.lowerDisplay)[kLowerRangeValue]);
    map.SetLegacySampleRange(low, high);
    if (companion.rawUpper) map.SetUpperLimits(ToNodeFrame(*companion.rawUpper));
    if (companion.rawLower) map.SetLowerLimits(ToNodeFrame(*companion.rawLower));
  }
  if (companion.rawAvg) ShowArrayOnMap(map, *companion.rawAvg);

  config::SampleLimitSet set = editor.Data();
  config::ConvertLegacyCompanion(companion, set, language);
  set.nLimitMode = controls.bPercentChecked ? 0 : 1;
  set.nPercentX100 = PercentTextToX100(controls.strPercent);
  set.nOffsetLower = config::LenientDecimal(controls.strOffsetLower);
  set.nOffsetUpper = config::LenientDecimal(controls.strOffsetUpper);
  editor.Reset(set);
}

}  // namespace varnex2::judging
