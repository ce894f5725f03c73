#include "judging/offline_judge.h"

#include <charconv>
#include <cstdio>

namespace varnex2::judging {

namespace {
void AppendInt(std::string& out, long long value) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}
}  // namespace

void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out += c;
    }
  }
  out += '"';
}

OfflineJudge::OfflineJudge(NodeMap& map, const config::PanelConfig& panel, const OfflineJudgeSettings& settings)
    : map_(map), panel_(panel), settings_(settings) {}

FrameVerdict OfflineJudge::JudgeFrame(const NodeFrame& frame) {
  std::lock_guard<std::recursive_mutex> lock(map_.Mutex());
  map_.SetCheckEnables(CheckEnable::ALL);
  map_.SetResultFlags(map_.ResultFlags() | ResultFlag::EVALUATION_SHOWN);
  map_.SetTouchThresholds(panel_.touchArea.nThresLower, panel_.touchArea.nThresUpper);
  if (panel_.keyArea.bEnable != 0) map_.SetKeyThresholds(panel_.keyArea.nThresLower, panel_.keyArea.nThresUpper);
  map_.Evaluate(frame);
  map_.SetAllNodeFlags(NodeFlag::SHORT_ANY, FlagOp::Clear);
  map_.MarkPinFault(0, 0, 0, 0);

  FrameVerdict result;
  result.verdict = map_.FixVerdict();
  std::int32_t max = -1, min = -1, average = -1;
  map_.GetStatisticsBrief(0, max, min, average);
  result.decision = DecideVerdictOutputs(result.verdict, map_.GetColorGridCounterPass(), map_.GetColorGridCounterFail(),
                                         average, settings_.triggerLevel, settings_.stableFrameCount,
                                         settings_.buzzerByte, settings_.connectType);
  result.decision.recordRequest =
      recordGate_.Admit(result.decision.recordRequest, result.verdict, average >= settings_.triggerLevel);
  if (result.decision.output == VerdictOutputs::On) output_ = true;
  if (result.decision.output == VerdictOutputs::Off) output_ = false;
  result.output = output_;
  return result;
}

void OfflineJudge::AppendJsonLine(int index, const FrameVerdict& v, std::string& out) const {
  std::lock_guard<std::recursive_mutex> lock(map_.Mutex());
  out += "{\"frame\":";
  AppendInt(out, index);
  out += ",\"verdict\":";
  AppendJsonString(out, v.verdict);
  out += ",\"result\":";
  AppendInt(out, map_.ResultFlags());
  out += ",\"statistics\":";
  AppendJsonString(out, map_.StatisticsText());
  out += ",\"pass\":";
  AppendInt(out, map_.GetColorGridCounterPass());
  out += ",\"fail\":";
  AppendInt(out, map_.GetColorGridCounterFail());
  out += v.output ? ",\"output\":1" : ",\"output\":0";
  out += v.decision.recordRequest ? ",\"record\":true" : ",\"record\":false";
  out += ",\"flags\":[";
  for (int row = 0; row < map_.Rows(); ++row) {
    if (row > 0) out += ',';
    out += '[';
    for (int col = 0; col < map_.Columns(); ++col) {
      if (col > 0) out += ',';
      AppendInt(out, map_.GetNodeFlags(col, row));
    }
    out += ']';
  }
  out += "]}\n";
}

}  // namespace varnex2::judging
