#include "station/worker_slots.h"

namespace varnex2::station {

namespace {
std::size_t Index(SlotId slot) { return static_cast<std::size_t>(slot); }
}  // namespace

WorkerSlots::~WorkerSlots() {
  // A thread still running (possibly this one) cannot be joined here.
  std::lock_guard lock(mutex_);
  for (auto& w : workers_)
    if (w->thread.joinable()) w->thread.detach();
}

bool WorkerSlots::Start(SlotId slot, Body body) {
  std::lock_guard lock(mutex_);
  auto& s = slots_[Index(slot)];
  if (shuttingDown_ || s) return false;
  std::shared_ptr<void> owner = owner_.lock();
  if (!owner) return false;
  ReapLocked();
  auto worker = std::make_shared<Worker>();
  worker->thread =
      std::jthread([this, owner = std::move(owner), worker, body = std::move(body)](std::stop_token stop) mutable {
        body(stop);
        Finished(worker);
        // Last: the owner may be the final one, and its end ends these slots.
        body = nullptr;
        owner.reset();
      });
  s = worker;
  workers_.push_back(std::move(worker));
  return true;
}

void WorkerSlots::Finished(const std::shared_ptr<Worker>& worker) {
  {
    std::lock_guard lock(mutex_);
    worker->done = true;
  }
  workerDone_.notify_all();
}

void WorkerSlots::ReapLocked() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if ((*it)->done) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

std::shared_ptr<Worker> WorkerSlots::SlotWorker(SlotId slot) {
  std::lock_guard lock(mutex_);
  return slots_[Index(slot)];
}

void WorkerSlots::Empty(SlotId slot, const std::shared_ptr<Worker>& expected) {
  std::lock_guard lock(mutex_);
  auto& s = slots_[Index(slot)];
  if (!expected || s == expected) s.reset();
}

void WorkerSlots::EmptyAll() {
  std::lock_guard lock(mutex_);
  for (auto& s : slots_) s.reset();
}

void WorkerSlots::RequestStop(SlotId slot) {
  std::lock_guard lock(mutex_);
  if (auto& s = slots_[Index(slot)]) s->thread.request_stop();
}

WorkerSlots::WaitResult WorkerSlots::Wait(const std::shared_ptr<Worker>& worker, std::chrono::milliseconds timeout) {
  if (!worker) return WaitResult::Done;
  std::unique_lock lock(mutex_);
  if (worker->thread.get_id() == std::this_thread::get_id()) return WaitResult::Failed;
  return workerDone_.wait_for(lock, timeout, [&] { return worker->done; }) ? WaitResult::Done : WaitResult::TimedOut;
}

bool WorkerSlots::StopAndWait(SlotId slot, std::chrono::milliseconds timeout) {
  std::shared_ptr<Worker> worker = SlotWorker(slot);
  if (!worker) return true;
  worker->thread.request_stop();
  return Wait(worker, timeout) == WaitResult::Done;
}

void WorkerSlots::RequestStopAll() {
  std::lock_guard lock(mutex_);
  for (auto& w : workers_) w->thread.request_stop();
}

bool WorkerSlots::WaitAllEnded(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const std::vector<std::shared_ptr<Worker>> workers = workers_;
  workerDone_.wait_for(lock, timeout, [&] {
    for (auto& w : workers)
      if (!w->done) return false;
    return true;
  });
  ReapLocked();
  for (auto& s : slots_) s.reset();
  return workers_.empty();
}

}  // namespace varnex2::station
