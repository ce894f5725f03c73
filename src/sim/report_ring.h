#pragma once
// Fixed-capacity FIFO of reports with their ready times; allocated once, never grows.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnex2::sim {

template <typename Report>
class ReportRing {
 public:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    Report data{};
    Clock::time_point ready{};
  };

  explicit ReportRing(std::size_t capacity) : entries_(capacity ? capacity : 1) {}

  bool Empty() const { return count_ == 0; }
  std::size_t Size() const { return count_; }
  std::uint64_t Dropped() const { return dropped_; }

  // Appends a report; when full, the oldest one is dropped (the box's buffer overflows).
  Report& Push(Clock::time_point ready) {
    if (count_ == entries_.size()) {
      head_ = (head_ + 1) % entries_.size();
      --count_;
      ++dropped_;
    }
    Entry& e = entries_[(head_ + count_) % entries_.size()];
    ++count_;
    e.ready = ready;
    return e.data;
  }
  const Entry& Front() const { return entries_[head_]; }
  void Pop() {
    if (count_ == 0) return;
    head_ = (head_ + 1) % entries_.size();
    --count_;
  }
  void Clear() {
    head_ = 0;
    count_ = 0;
  }

 private:
  std::vector<Entry> entries_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace varnex2::sim
