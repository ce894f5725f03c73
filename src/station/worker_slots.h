#pragma once
// The station's worker threads: the six thread slots of the main window (a filled slot is not
// filled again until it is emptied), every started thread kept until it has ended, and the
// bounded end of them all at shutdown.
//
// Every worker holds a shared owner of the station's state (the owner given to SetOwner), so
// emptying a slot never joins and nothing a worker uses goes away under it.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace varnex2::station {

enum class SlotId : int { Connect, StartTest, Reconnect, Launcher, DeviceLost, Test };
inline constexpr int kSlotCount = 6;

// One worker thread. `done` is set (under the slots' lock) as the last thing the thread does,
// so a done worker can be joined at once.
struct Worker {
  std::jthread thread;
  bool done = false;
};

class WorkerSlots {
 public:
  using Body = std::function<void(std::stop_token)>;
  enum class WaitResult { Done, TimedOut, Failed };  // Failed: the caller is that worker

  WorkerSlots() = default;
  // Threads still running (Shutdown gave up on them, or this runs on the last of them) are
  // left to end by themselves.
  ~WorkerSlots();
  WorkerSlots(const WorkerSlots&) = delete;
  WorkerSlots& operator=(const WorkerSlots&) = delete;

  // The owner every worker keeps alive; set once, before the first Start.
  void SetOwner(std::weak_ptr<void> owner) { owner_ = std::move(owner); }
  // For calls posted to the window: they run only while the owner lives.
  const std::weak_ptr<void>& Owner() const { return owner_; }

  // Starts `body` in the slot unless the slot is filled, the owner is gone or shutdown has begun.
  bool Start(SlotId slot, Body body);
  std::shared_ptr<Worker> SlotWorker(SlotId slot);
  // Empties the slot (only when it still holds `expected`, if given); the thread runs on.
  void Empty(SlotId slot, const std::shared_ptr<Worker>& expected = nullptr);
  void EmptyAll();
  void RequestStop(SlotId slot);
  // Waits (real time, at most `timeout`) until the worker's procedure has returned.
  WaitResult Wait(const std::shared_ptr<Worker>& worker, std::chrono::milliseconds timeout);
  // Requests a stop of the slot's thread and waits for it as above; true when none runs.
  bool StopAndWait(SlotId slot, std::chrono::milliseconds timeout);

  // Refuses new workers from now on; false when shutdown had begun already.
  bool BeginShutdown() { return !shuttingDown_.exchange(true); }
  bool ShuttingDown() const { return shuttingDown_.load(); }
  void RequestStopAll();
  // Waits at most `timeout` for every worker to end and empties the slots; true when all ended.
  bool WaitAllEnded(std::chrono::milliseconds timeout);

 private:
  void Finished(const std::shared_ptr<Worker>& worker);
  void ReapLocked();

  std::weak_ptr<void> owner_;
  std::mutex mutex_;
  std::condition_variable workerDone_;
  std::array<std::shared_ptr<Worker>, kSlotCount> slots_;
  std::vector<std::shared_ptr<Worker>> workers_;  // every started thread until joined
  std::atomic<bool> shuttingDown_{false};
};

}  // namespace varnex2::station
