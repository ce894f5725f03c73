// The output and record decision taken at the end of every test cycle, and the
// cycle's debug trace text. Pure functions: the caller reads the node map, the
// settings and the bridge byte, and carries the decision out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnex2::judging {

struct VerdictOutputs {
  enum OutputAction { On, Off, Leave };
  OutputAction output = Leave;
  // Send the record request (WM_LOG_RESULT, wParam 0, lParam 0x800) and empty
  // the keyboard scanner's accumulation buffer: once per panel verdict, on the
  // cycle whose repaint makes the verdict stable (its counter reaches the
  // stable-frame count). Asking at every cycle would write a record per frame
  // (thousands an hour) and empty a keyboard scan's buffer while it is typed.
  bool recordRequest = false;
  bool operator==(const VerdictOutputs&) const = default;
};

inline constexpr std::uint8_t kBuzzerEnable = 0x1;
inline constexpr std::uint8_t kBuzzerInvert = 0x2;

// verdict: the node map's verdict text; passCount/failCount: its counters;
// average: area 0's average (GetStatisticsBrief); connectType: the scanner's
// connection type (0 keyboard, 1 serial, 255 none).
VerdictOutputs DecideVerdictOutputs(std::string_view verdict, std::int32_t passCount, std::int32_t failCount,
                                    std::int32_t average, std::int32_t triggerLevel, std::int32_t stableFrameCount,
                                    std::uint8_t buzzerByte, int connectType);

// "\r\n  grid.nColorGridCounter_Pass = %d, grid.nColorGridCounter_Fail = %d, nOutputTriggerStableFrameCnt = %d"
std::string VerdictTraceText(std::int32_t passCount, std::int32_t failCount, std::int32_t stableFrameCount);

}  // namespace varnex2::judging
