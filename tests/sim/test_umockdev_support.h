#pragma once
// Shared set-up of the umockdev tests: a SimBox behind an umockdev testbed in this process.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "sim/sim_box.h"
#include "sim/umockdev_box.h"

namespace varnex2::sim::testing {

inline std::unique_ptr<UmockdevBox> MakeTestbed(const std::shared_ptr<SimBox>& box) {
  std::string error;
  auto testbed = UmockdevBox::Create(box, &error);
  EXPECT_NE(testbed, nullptr) << error;
  return testbed;
}

// A queue filled by callbacks on another thread, drained with a bounded wait.
template <typename T>
class WaitQueue {
 public:
  void Push(T value) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(value));
    }
    cv_.notify_all();
  }
  bool Pop(T& out, std::chrono::milliseconds wait = std::chrono::milliseconds(2000)) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, wait, [&] { return !items_.empty(); })) return false;
    out = std::move(items_.front());
    items_.pop_front();
    return true;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex_);
    return items_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<T> items_;
};

}  // namespace varnex2::sim::testing
