#pragma once
// The clock behind the station's fixed waits (500 ms, 200 ms, the countdown,
// the 10 ms pauses). The product waits as asked; tests scale the waits down.

#include <chrono>
#include <memory>
#include <stop_token>

namespace varnex2::station {

class StationClock {
 public:
  virtual ~StationClock() = default;
  // Waits `duration`; returns early (false) when `stop` is requested.
  virtual bool Wait(std::chrono::milliseconds duration, std::stop_token stop = {}) = 0;
};

// Waits the real time.
std::unique_ptr<StationClock> CreateRealClock();
// Waits duration / divisor (at least 0), for tests.
std::unique_ptr<StationClock> CreateScaledClock(int divisor);

}  // namespace varnex2::station
