// One test cycle's judging of a frame without a controller, as the offline judge
// runs it: checks on, thresholds, Evaluate, SHORT marks cleared and no pin
// fault, the verdict fixed and counted, then the output and record decision.
#pragma once

#include <cstdint>
#include <string>

#include "config/panel_config.h"
#include "judging/node_map.h"
#include "judging/verdict_outputs.h"

namespace varnex2::judging {

struct OfflineJudgeSettings {
  std::int32_t triggerLevel = 28000;
  std::int32_t stableFrameCount = 3;
  std::uint8_t buzzerByte = kBuzzerEnable;
  int connectType = 255;
};

struct FrameVerdict {
  std::string verdict;
  VerdictOutputs decision;
  bool output = false;  // the box's output after this frame
};

class OfflineJudge {
 public:
  // The map must already hold the configuration (ApplyConfigToNodeMap).
  OfflineJudge(NodeMap& map, const config::PanelConfig& panel, const OfflineJudgeSettings& settings);

  FrameVerdict JudgeFrame(const NodeFrame& frame);

  // Appends the frame's JSON line (with its "\n"): frame index, verdict, result
  // word, statistics text, counters, output, record request and every node's
  // flags, one array per row.
  void AppendJsonLine(int index, const FrameVerdict& verdict, std::string& out) const;

  bool Output() const { return output_; }

 private:
  NodeMap& map_;
  const config::PanelConfig& panel_;
  OfflineJudgeSettings settings_;
  RecordGate recordGate_;
  bool output_ = false;  // the output starts off
};

// JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
void AppendJsonString(std::string& out, const std::string& text);

}  // namespace varnex2::judging
