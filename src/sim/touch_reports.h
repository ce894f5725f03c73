#pragma once
// Touch reporting of the simulated controller: the fingers on the panel become the messages of
// the touch-screen object (T9) instances, one report id per tracked touch.

#include <array>
#include <chrono>
#include <cstdint>
#include <span>

#include "sim/panel_model.h"

namespace varnex2::sim {

class ControllerMemory;

// T9 message: status, X high bits, Y high bits, low bits of both, area, amplitude, vector.
inline constexpr std::size_t kTouchMessageBytes = 7;
using TouchMessage = std::array<std::uint8_t, kTouchMessageBytes>;

// T9 status bits.
inline constexpr std::uint8_t kTouchDetect = 0x80;
inline constexpr std::uint8_t kTouchPress = 0x40;
inline constexpr std::uint8_t kTouchRelease = 0x20;
inline constexpr std::uint8_t kTouchMove = 0x10;

// T9 control byte: ENABLE and RPTEN must both be set for an instance to report.
inline constexpr std::uint8_t kTouchCtrlEnable = 0x01;
inline constexpr std::uint8_t kTouchCtrlReport = 0x02;

// Where the reporter's messages go (the controller's message queue).
class TouchMessageSink {
 public:
  virtual ~TouchMessageSink() = default;
  virtual void Queue(std::uint8_t reportId, const TouchMessage& message) = 0;
};

// Tracks the touches of every T9 instance between acquisition cycles and queues a message for
// each touch that appears (DETECT|PRESS), moves (DETECT|MOVE) or goes (RELEASE). Allocates
// nothing.
class TouchReporter {
 public:
  static constexpr int kMaxTouches = 10;   // report ids per T9 instance
  static constexpr int kMaxInstances = 2;  // T9 instances tracked
  // A reader that stays away longer than this many sweep steps gets only the latest of them;
  // the older messages would have fallen out of the message queue anyway.
  static constexpr std::int64_t kMaxCatchUpCycles = 64;

  // Forgets every touch without a message (power-up, reset, leaving the bus).
  void Reset();

  // One or more acquisition cycles up to `now`: the cycles of sweep steps passed since the last
  // call (at most kMaxCatchUpCycles), then the present state.
  void Scan(ControllerMemory& memory, const PanelModel& panel, std::chrono::steady_clock::time_point now,
            TouchMessageSink& sink);

 private:
  struct Slot {
    bool active = false;
    int key = 0;  // index of the touch in the panel state, or kSweepKey
    std::uint16_t x = 0, y = 0;
  };
  void Cycle(ControllerMemory& memory, const PanelModel& panel, int sweepLine, TouchMessageSink& sink);

  std::array<std::array<Slot, kMaxTouches>, kMaxInstances> slots_{};
  std::int64_t lastSweepStep_ = -1;
  std::chrono::steady_clock::time_point sweepStart_{};
  std::chrono::milliseconds sweepInterval_{0};
};

}  // namespace varnex2::sim
