#pragma once
// A mutex a procedure holds for its whole run, so that a second run of the same procedure
// waits for the first to end. Locking gives up when the caller's stop is requested (plain
// mutex and condition variable: the timed lock of std::timed_mutex is invisible to
// ThreadSanitizer).

#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace varnex2::station {

class ProcedureMutex {
 public:
  bool LockUnlessStopped(std::stop_token stop);
  void Unlock();

 private:
  std::mutex mutex_;
  std::condition_variable_any cv_;
  bool held_ = false;
};

// Holds a ProcedureMutex until the end of the scope when it could be locked.
class ProcedureLock {
 public:
  ProcedureLock(ProcedureMutex& mutex, std::stop_token stop) : mutex_(mutex), owned_(mutex.LockUnlessStopped(stop)) {}
  ~ProcedureLock() {
    if (owned_) mutex_.Unlock();
  }
  ProcedureLock(const ProcedureLock&) = delete;
  ProcedureLock& operator=(const ProcedureLock&) = delete;
  bool Owned() const { return owned_; }

 private:
  ProcedureMutex& mutex_;
  bool owned_;
};

}  // namespace varnex2::station
