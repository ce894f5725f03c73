#pragma once
// The judging benchmarks' input: frames of a good panel with noise, as a capture file, and the
// panel configuration they are judged against.

#include <random>
#include <string>

#include "config/panel_config.h"

namespace varnex2::bench {

// `count` frames of the default 32 x 52 matrix around 29,600, noise deterministic for `seed`.
inline std::string FrameFile(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 60.0);
  std::string text;
  for (int f = 0; f < count; ++f) {
    if (f) text += "\r\n";
    for (int x = 0; x < 32; ++x) {
      for (int y = 0; y < 52; ++y) {
        if (y) text += ',';
        text += std::to_string(static_cast<int>(29600 + 8 * x + 5 * y + noise(rng)));
      }
      text += "\r\n";
    }
  }
  return text;
}

// Thresholds around those frames, adjacent-point mode at 15 %, the screen-level check on.
inline config::PanelConfig Panel() {
  config::PanelConfig panel;
  panel.touchArea.nThresUpper = 31000;
  panel.touchArea.nThresLower = 29000;
  panel.nTestModeFlags = config::kTestModeThreshold | config::kTestModeAdjacent;
  panel.adjacentPercent = config::Int32Array2D(52, 32, 1500);
  panel.screen.ScreenThresholdEnable = 1;
  return panel;
}

}  // namespace varnex2::bench
