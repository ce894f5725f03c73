#pragma once
// An auto-reset event (hCycleEvent): set by the test loop at the end of every cycle.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace varnex2::station {

class CycleEvent {
 public:
  void Set();
  void Reset();
  // True when the event was signalled within `timeout` (and resets it).
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace varnex2::station
