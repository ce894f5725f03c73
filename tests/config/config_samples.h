// Configurations and a second, independent model of the parameter file's element list, shared by
// the config tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "config/panel_config.h"
#include "config/parameter_file.h"

namespace varnex2::config::testing {

inline constexpr ProgramVersion kVersion{1, 3, 0, 26};
inline constexpr ControllerFacts kController{32, 52, 0x20};

using Element = std::pair<std::string, std::vector<int32_t>>;

// The 22 groups (and their rows) in file order, straight from the file's layout table.
inline std::vector<Element> ElementsOf(const PanelConfig& c, const ProgramVersion& v) {
  std::vector<Element> e;
  e.push_back({"VERSION", {v.nMajor, v.nMinor & 0xFF, v.nBuild, v.nRevision & 0xFF}});
  const AreaParams& t = c.touchArea;
  e.push_back({"PANEL", {t.nXOrigin, t.nYOrigin, t.nXSize, t.nYSize, t.nGain, t.nThresUpper, t.nThresLower}});
  const AreaParams& k = c.keyArea;
  e.push_back({"KEY", {k.nXOrigin, k.nYOrigin, k.nXSize, k.nYSize, k.nGain, k.bEnable, k.nThresUpper, k.nThresLower}});
  e.push_back({"CONFIG", {c.nUiColorMode, c.nLegacyTestMode}});
  std::vector<int32_t> marks;
  for (int i = 0; i < 12; ++i) {
    const UserMark& m = c.marks[static_cast<std::size_t>(i)];
    marks.insert(marks.end(), {i, m.nType, m.bEnable, m.nX, m.nY});
  }
  e.push_back({"MARK", marks});
  e.push_back({"TESTMODE", {static_cast<int32_t>(c.nTestModeFlags), 0}});
  const auto s = c.screen.ToArray();
  e.push_back({"PANELCTL", std::vector<int32_t>(s.begin(), s.end())});

  const auto add2d = [&](const char* shape, const char* row, const Int32Array2D& a) {
    e.push_back({shape, {a.Rows(), a.Cols()}});
    if (a.Rows() == 0 || a.Cols() == 0) return;
    for (int32_t r = 0; r < a.Rows(); ++r) {
      std::vector<int32_t> values;
      for (int32_t x = 0; x < a.Cols(); ++x) values.push_back(a(r, x));
      e.push_back({row, values});
    }
  };
  add2d("ADJACRNYARRYEXT", "ADJACRNYARRY", c.adjacentPercent);
  const SampleLimitSet& l = c.sampleLimits;
  const Int32Array3D& f = l.sampleFrames;
  e.push_back({"OFFSETMODERAWDATAARRYDIMS", {f.Pages(), f.Rows(), f.Cols()}});
  if (!f.Empty()) {
    for (int32_t p = 0; p < f.Pages(); ++p) {
      for (int32_t r = 0; r < f.Rows(); ++r) {
        std::vector<int32_t> values;
        for (int32_t x = 0; x < f.Cols(); ++x) values.push_back(f(p, r, x));
        e.push_back({"OFFSETMODERAWDATAARRY", values});
      }
    }
  }
  add2d("OFFSETMODERAWDATAAVGDIMS", "OFFSETMODERAWDATAAVG", l.rawAvg);
  add2d("OFFSETMODERAWDATAUPPERDIMS", "OFFSETMODERAWDATAUPPER", l.rawUpper);
  add2d("OFFSETMODERAWDATALOWERDIMS", "OFFSETMODERAWDATALOWER", l.rawLower);
  add2d("OFFSETMODESAMPLELISTDIMS", "OFFSETMODESAMPLELIST", l.sampleList);
  add2d("OFFSETMODEPARALISTDIMS", "OFFSETMODEPARALIST", l.paraList);
  e.push_back({"OFFSETMODEOTHERPARA", {l.nLimitMode, l.nPercentX100, l.nOffsetUpper, l.nOffsetLower}});
  return e;
}

// Every group filled: key area beside the touch area, marks, all three modes, sampled limits.
inline PanelConfig FullConfig() {
  PanelConfig c;
  c.touchArea = AreaParams{0, 0, 30, 52, 112, 1, 29000, 18000};
  c.keyArea = AreaParams{30, 4, 2, 8, 80, 1, 27000, 21000};
  c.nUiColorMode = 2;
  c.nLegacyTestMode = 1;
  for (int i = 0; i < 5; ++i) {
    UserMark& m = c.marks[static_cast<std::size_t>(i)];
    m.nType = i % 2 ? 2 : 1;
    m.bEnable = i != 3;
    m.nX = static_cast<uint8_t>(30 + i % 2);
    m.nY = static_cast<uint8_t>(4 + i);
  }
  c.nTestModeFlags = kTestModeThreshold | kTestModeSampleLimits | kTestModeAdjacent;
  c.screen.ScreenThresholdEnable = 1;
  c.screen.RawdataMax = 31000;
  c.screen.RawdataVariance = -7;
  const NodeExtents ext = ComputeNodeExtents(c.touchArea, c.keyArea);
  c.adjacentPercent = Int32Array2D(ext.nY, ext.nX, 2000);
  c.adjacentPercent(0, 0) = -1;
  c.adjacentPercent(51, 31) = 123456;

  SampleLimitSet& l = c.sampleLimits;
  l.sampleFrames = Int32Array3D(3, ext.nY, ext.nX);
  for (int32_t s = 0; s < 3; ++s)
    for (int32_t y = 0; y < ext.nY; ++y)
      for (int32_t x = 0; x < ext.nX; ++x) l.sampleFrames(s, y, x) = 24000 + 100 * s + y * 3 - x;
  l.rawAvg = Int32Array2D(ext.nY, ext.nX, 24100);
  l.rawUpper = Int32Array2D(ext.nY, ext.nX, 27112);
  l.rawLower = Int32Array2D(ext.nY, ext.nX, 21087);
  l.rawUpper(3, 4) = 0;
  l.rawLower(3, 4) = 0;
  l.sampleList = Int32Array2D(4, 9);
  for (int32_t r = 1; r < 4; ++r) {
    const int32_t row[9] = {r != 2, 24300, 23900, 24100, 95123, -1, -1, -1, -1};
    for (int32_t k = 0; k < 9; ++k) l.sampleList(r, k) = row[k];
  }
  l.paraList = Int32Array2D(3, 8, -1);
  l.paraList(0, 0) = 27112;
  l.nLimitMode = 1;
  l.nPercentX100 = 1250;
  l.nOffsetUpper = 1500;
  l.nOffsetLower = -3;
  return c;
}

// The station's demo panel: 32 X x 52 Y, threshold and adjacent-point modes with 15 %,
// screen-level statistics limits on.
inline PanelConfig ExamplePanelConfig() {
  PanelConfig c;
  c.touchArea = AreaParams{0, 0, 32, 52, 96, 1, 31000, 29000};
  c.keyArea = DefaultKeyArea();
  c.nTestModeFlags = kTestModeThreshold | kTestModeAdjacent;
  c.screen.ViewMode = 7;
  c.screen.ScreenThresholdEnable = 1;
  c.screen.RawdataMax = 31000;
  c.screen.RawdataMin = 29000;
  c.screen.RawdataRange = 1500;
  c.screen.RawdataRangeDiscardVariance = 300;
  c.adjacentPercent = Int32Array2D(52, 32, 1500);
  return c;
}

// The release whose files the station reads back; newer files are refused.
inline constexpr ProgramVersion kExampleVersion{1, 3, 0, 26};

}  // namespace varnex2::config::testing
