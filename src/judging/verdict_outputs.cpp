#include "judging/verdict_outputs.h"

#include <algorithm>
#include <cstdio>

namespace varnex2::judging {

VerdictOutputs DecideVerdictOutputs(std::string_view verdict, std::int32_t passCount, std::int32_t failCount,
                                    std::int32_t average, std::int32_t triggerLevel, std::int32_t stableFrameCount,
                                    std::uint8_t buzzerByte, int connectType) {
  VerdictOutputs out;
  // No product on the fixture: output off, nothing recorded.
  if (average < triggerLevel) {
    out.output = VerdictOutputs::Off;
    return out;
  }
  const bool enable = (buzzerByte & kBuzzerEnable) != 0;
  const bool invert = (buzzerByte & kBuzzerInvert) != 0;
  const bool scanner = connectType == 0 || connectType == 1;
  if (verdict == "PASS") {
    if (enable && invert)
      out.output = (failCount == 0 && passCount >= stableFrameCount) ? VerdictOutputs::On : VerdictOutputs::Leave;
    else
      out.output = VerdictOutputs::Off;
    out.recordRequest = scanner && passCount >= stableFrameCount;
  } else if (verdict == "FAIL") {
    if (enable && !invert)
      out.output = (passCount == 0 && failCount >= stableFrameCount) ? VerdictOutputs::On : VerdictOutputs::Leave;
    else
      out.output = VerdictOutputs::Off;
    out.recordRequest = scanner && failCount >= stableFrameCount;
  }
  return out;
}

bool RecordGate::Admit(bool due, std::string_view verdict, bool productPresent) {
  if (!productPresent) {
    admitted_.clear();
    return false;
  }
  if (!due || verdict == admitted_) return false;
  admitted_ = std::string(verdict);
  return true;
}

std::string VerdictTraceText(std::int32_t passCount, std::int32_t failCount, std::int32_t stableFrameCount) {
  char text[160];
  const int n =
      std::snprintf(text, sizeof text,
                    "\r\n  grid.nColorGridCounter_Pass = %d, grid.nColorGridCounter_Fail = %d, "
                    "nOutputTriggerStableFrameCnt = %d",
                    static_cast<int>(passCount), static_cast<int>(failCount), static_cast<int>(stableFrameCount));
  if (n <= 0) return {};
  return std::string(text, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1));
}

}  // namespace varnex2::judging
