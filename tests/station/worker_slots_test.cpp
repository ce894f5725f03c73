// The station's worker slots and link session on their own.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "device/result_codes.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"
#include "station/link_session.h"
#include "station/worker_slots.h"

namespace varnex2::station {
namespace {

using namespace std::chrono_literals;

// A gate workers wait at until the test opens it (or their stop is requested).
class Gate {
 public:
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    cv_.notify_all();
  }
  // True when opened, false when stopped; a wait that ignores stops passes {} as the token.
  bool Pass(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    return cv_.wait(lock, stop, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any cv_;
  bool open_ = false;
};

struct Owner {
  WorkerSlots slots;
};

std::shared_ptr<Owner> MakeOwner() {
  auto owner = std::make_shared<Owner>();
  owner->slots.SetOwner(owner);
  return owner;
}

TEST(WorkerSlots, AFilledSlotIsNotFilledAgainUntilEmptied) {
  auto owner = MakeOwner();
  WorkerSlots& slots = owner->slots;
  std::atomic<int> runs{0};
  ASSERT_TRUE(slots.Start(SlotId::Connect, [&](std::stop_token) { ++runs; }));
  std::shared_ptr<Worker> first = slots.SlotWorker(SlotId::Connect);
  ASSERT_EQ(slots.Wait(first, 5s), WorkerSlots::WaitResult::Done);
  EXPECT_FALSE(slots.Start(SlotId::Connect, [&](std::stop_token) { ++runs; })) << "ended, but still in its slot";
  EXPECT_TRUE(slots.Start(SlotId::StartTest, [&](std::stop_token) { ++runs; })) << "another slot";
  slots.Empty(SlotId::Connect, std::make_shared<Worker>());
  EXPECT_EQ(slots.SlotWorker(SlotId::Connect), first) << "emptied only when it holds the expected worker";
  slots.Empty(SlotId::Connect, first);
  EXPECT_TRUE(slots.Start(SlotId::Connect, [&](std::stop_token) { ++runs; }));
  EXPECT_TRUE(slots.WaitAllEnded(5s));
  EXPECT_EQ(runs.load(), 3);
  EXPECT_EQ(slots.SlotWorker(SlotId::Connect), nullptr);
}

TEST(WorkerSlots, WaitsAreBoundedAndAWorkerCannotWaitForItself) {
  auto owner = MakeOwner();
  WorkerSlots& slots = owner->slots;
  Gate gate;
  std::atomic<int> own{-1};
  ASSERT_TRUE(slots.Start(SlotId::Test, [&](std::stop_token) {
    own = static_cast<int>(slots.Wait(slots.SlotWorker(SlotId::Test), 5s));
    gate.Pass({});
  }));
  std::shared_ptr<Worker> worker = slots.SlotWorker(SlotId::Test);
  EXPECT_EQ(slots.Wait(worker, 50ms), WorkerSlots::WaitResult::TimedOut);
  EXPECT_FALSE(slots.StopAndWait(SlotId::Test, 50ms)) << "the worker ignores its stop";
  gate.Open();
  EXPECT_EQ(slots.Wait(worker, 5s), WorkerSlots::WaitResult::Done);
  EXPECT_EQ(own.load(), static_cast<int>(WorkerSlots::WaitResult::Failed));
  EXPECT_EQ(slots.Wait(nullptr, 0ms), WorkerSlots::WaitResult::Done);
}

TEST(WorkerSlots, ShutdownStopsWorkersAndRefusesNewOnes) {
  auto owner = MakeOwner();
  WorkerSlots& slots = owner->slots;
  Gate never;
  std::atomic<int> stopped{0};
  for (SlotId slot : {SlotId::Connect, SlotId::Reconnect, SlotId::Test})
    ASSERT_TRUE(slots.Start(slot, [&](std::stop_token stop) {
      if (!never.Pass(stop)) ++stopped;
    }));
  EXPECT_TRUE(slots.BeginShutdown());
  EXPECT_FALSE(slots.BeginShutdown());
  EXPECT_FALSE(slots.Start(SlotId::Launcher, [](std::stop_token) {}));
  slots.RequestStopAll();
  EXPECT_TRUE(slots.WaitAllEnded(5s));
  EXPECT_EQ(stopped.load(), 3);
  EXPECT_EQ(slots.SlotWorker(SlotId::Test), nullptr);
}

TEST(WorkerSlots, ShutdownGivesUpOnAWorkerThatDoesNotEnd) {
  auto owner = MakeOwner();
  Gate gate;
  ASSERT_TRUE(owner->slots.Start(SlotId::Test, [&](std::stop_token) { gate.Pass({}); }));
  owner->slots.BeginShutdown();
  owner->slots.RequestStopAll();
  EXPECT_FALSE(owner->slots.WaitAllEnded(50ms));
  gate.Open();
  EXPECT_TRUE(owner->slots.WaitAllEnded(5s));
}

TEST(WorkerSlots, AWorkerKeepsItsOwnerAliveAndMayEndIt) {
  auto owner = MakeOwner();
  std::weak_ptr<Owner> weak = owner;
  Gate gate;
  ASSERT_TRUE(owner->slots.Start(SlotId::Reconnect, [&](std::stop_token) { gate.Pass({}); }));
  owner.reset();
  EXPECT_FALSE(weak.expired()) << "the running worker owns it";
  // The worker's end releases the last owner: the slots end on that worker's own thread.
  gate.Open();
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!weak.expired() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(weak.expired());
}

TEST(WorkerSlots, NoWorkerWithoutAnOwner) {
  WorkerSlots slots;
  EXPECT_FALSE(slots.Start(SlotId::Connect, [](std::stop_token) {}));
  {
    auto gone = std::make_shared<int>(0);
    slots.SetOwner(gone);
  }
  EXPECT_FALSE(slots.Start(SlotId::Connect, [](std::stop_token) {}));
}

TEST(LinkSession, GenerationsTellAStaleCloseAndAStaleLoss) {
  auto box = std::make_shared<sim::SimBox>();
  auto usb = sim::CreateSimUsbPort(box);
  LinkSession link(usb.get(), nullptr);
  EXPECT_EQ(link.Bridge(), nullptr);
  EXPECT_EQ(link.BridgeConfigByte(), 0);
  EXPECT_FALSE(link.Connected());
  ASSERT_EQ(link.Open(), 0);
  EXPECT_TRUE(link.Connected());
  const std::uint64_t first = link.Generation();
  link.NoteLoss();
  EXPECT_TRUE(link.LossIsCurrent());
  bool alreadyOpen = false;
  ASSERT_EQ(link.OpenUnlessConnected(alreadyOpen), 0);
  EXPECT_TRUE(alreadyOpen);
  EXPECT_EQ(link.Generation(), first) << "not reopened";
  // Replugged elsewhere: the link counts as closed and the next arrival reopens it.
  link.ClearConnected();
  EXPECT_FALSE(link.Connected());
  ASSERT_EQ(link.OpenUnlessConnected(alreadyOpen), 0);
  EXPECT_FALSE(alreadyOpen);
  EXPECT_EQ(link.Generation(), first + 1);
  EXPECT_FALSE(link.LossIsCurrent()) << "the loss was dealt with by the reopen";
  EXPECT_FALSE(link.Close(first)) << "a close for an older generation leaves the link open";
  EXPECT_TRUE(link.Connected());
  EXPECT_TRUE(link.Close(first + 1));
  EXPECT_FALSE(link.Connected());
}

TEST(LinkSession, WithoutAControllerNothingOpens) {
  LinkSession link(nullptr, nullptr);
  EXPECT_EQ(link.Controller(), nullptr);
  EXPECT_EQ(link.Open(), device::kErrNoHandle);
  bool alreadyOpen = true;
  EXPECT_EQ(link.OpenUnlessConnected(alreadyOpen), device::kErrNoHandle);
  EXPECT_FALSE(alreadyOpen);
  EXPECT_TRUE(link.Close());
  link.SignalResponse();
  link.ClearConnected();
  link.CloseBridge();
}

}  // namespace
}  // namespace varnex2::station
