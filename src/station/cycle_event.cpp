#include "station/cycle_event.h"

namespace varnex2::station {

void CycleEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void CycleEvent::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool CycleEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

}  // namespace varnex2::station
