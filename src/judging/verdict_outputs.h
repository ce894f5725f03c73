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
  // A record is due (WM_LOG_RESULT, wParam 0, lParam 0x800, then the keyboard
  // scanner's buffer emptied): a scanner is configured, a product is present and
  // its PASS or FAIL has been shown on at least the stable-frame count of
  // repaints. RecordGate lets it through once per product and verdict.
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

// Lets a due record through once per product and verdict: asking at every cycle would
// write a record per frame (thousands an hour) and empty a keyboard scan's buffer while
// it is being typed. A verdict other than the one last let through (the panel turned
// from PASS to FAIL) is let through again; an empty fixture forgets the last one.
class RecordGate {
 public:
  bool Admit(bool due, std::string_view verdict, bool productPresent);

 private:
  std::string admitted_;
};

// "\r\n  grid.nColorGridCounter_Pass = %d, grid.nColorGridCounter_Fail = %d, nOutputTriggerStableFrameCnt = %d"
std::string VerdictTraceText(std::int32_t passCount, std::int32_t failCount, std::int32_t stableFrameCount);

}  // namespace varnex2::judging
