// Evaluate must not touch the heap. This executable replaces the global
// allocation functions with counting ones, so it is kept apart from the others.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "judging/node_map.h"
#include "judging/node_map_fixtures.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void* CountedAlloc(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return CountedAlloc(size); }
void* operator new[](std::size_t size) { return CountedAlloc(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace varnex2::judging {
namespace {

struct CountingListener : NodeMapListener {
  int title = 0;
  int status = 0;
  void OnShowTitleStats(int) override { ++title; }
  void OnShowStatusStats(int) override { ++status; }
};

TEST(EvaluateAllocation, NoHeapUseAcrossManyFramesWithEverythingOn) {
  NodeMap map;
  CountingListener listener;
  map.SetListener(&listener);
  testing::JudgingStationMap(map);
  map.AddArea(28, 48, 4, 4, 1);
  map.MutableArea(1)->bEnabled = true;
  map.SetNodeFlags(48, 28, 51, 31, NodeFlag::MASK, 0, FlagOp::Set);
  map.SetNodeFlags(50, 30, 50, 30, NodeFlag::KEY, 0, FlagOp::Set);
  map.SetKeyThresholds(19000, 28000);

  // Frames built beforehand: passing, failing, zero nodes, extreme values.
  std::vector<NodeFrame> frames;
  for (int k = 0; k < 8; ++k) {
    NodeFrame f(kDefaultColumns, kDefaultRows);
    for (int c = 0; c < kDefaultColumns; ++c)
      for (int r = 0; r < kDefaultRows; ++r) f(c, r) = 22000 + ((c * 31 + r * 17 + k * 101) % (k % 2 ? 9000 : 900));
    if (k == 3) f(5, 5) = 0;
    if (k == 5) f(7, 7) = INT32_MIN;
    if (k == 6) f(9, 9) = INT32_MAX;
    frames.push_back(std::move(f));
  }
  map.Evaluate(frames[0]);  // warm-up

  // The counter itself works.
  g_allocations = 0;
  g_counting = true;
  auto* probe = new std::vector<int>(100);
  g_counting = false;
  delete probe;
  ASSERT_GE(g_allocations.load(), 1);

  g_allocations = 0;
  g_counting = true;
  for (int i = 0; i < 2000; ++i) {
    map.Evaluate(frames[static_cast<std::size_t>(i) % frames.size()]);
    map.MarkPinFault(i % 3, 1 + i % 3, i % 5 ? 3 : 0, i % 7 ? 0 : 4);
    map.FixVerdict();
  }
  g_counting = false;
  EXPECT_EQ(g_allocations.load(), 0);
  EXPECT_GT(listener.status, 0);
  EXPECT_FALSE(map.StatisticsText().empty());
}

}  // namespace
}  // namespace varnex2::judging
