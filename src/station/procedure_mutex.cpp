#include "station/procedure_mutex.h"

namespace varnex2::station {

bool ProcedureMutex::LockUnlessStopped(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait(lock, stop, [this] { return !held_; })) return false;
  held_ = true;
  return true;
}

void ProcedureMutex::Unlock() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  cv_.notify_all();
}

}  // namespace varnex2::station
