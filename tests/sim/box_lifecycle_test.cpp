// Reset, backup to the non-volatile store, unplug and replug of the simulated box.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "sim/sim_box.h"
#include "sim_host.h"

namespace varnex2::sim {
namespace {

using test::Host;
using namespace std::chrono_literals;

class TempStore {
 public:
  TempStore() {
    dir_ = std::filesystem::temp_directory_path() /
           ("varnex2_sim_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
  }
  ~TempStore() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path() const { return (dir_ / "state" / "box.nv").string(); }  // folder made on save

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
};

// Records presence changes and lets a test wait for one.
class PresenceLog {
 public:
  explicit PresenceLog(SimBox& box) : box_(box) {
    id_ = box.AddPresenceObserver([this](BoxFunction f, bool present, std::uint64_t) {
      std::lock_guard lk(m_);
      events_.emplace_back(f, present);
      cv_.notify_all();
    });
  }
  ~PresenceLog() { box_.RemovePresenceObserver(id_); }
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 5000ms) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, timeout, [&] { return events_.size() >= count; });
  }
  std::vector<std::pair<BoxFunction, bool>> Events() {
    std::lock_guard lk(m_);
    return events_;
  }

 private:
  SimBox& box_;
  int id_ = 0;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::pair<BoxFunction, bool>> events_;
};

TEST(SimBoxLifecycle, ResetDropsTheControllerAndBringsItBack) {
  SimBoxOptions o;
  o.resetDowntime = 100ms;
  SimBox box(o);
  PresenceLog log(box);
  Host host(box);
  const std::uint64_t before = host.Session();
  const std::uint16_t t38 = box.ObjectAddress(38);
  ASSERT_TRUE(host.Write(t38, {0xAB}));  // not backed up: lost by the reset

  host.Send({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(box.ObjectAddress(6) & 0xFF),
             static_cast<std::uint8_t>(box.ObjectAddress(6) >> 8), 0x01});
  EXPECT_FALSE(box.IsPresent(BoxFunction::Controller));
  EXPECT_TRUE(box.IsPresent(BoxFunction::Bridge));
  ControllerReport r{};
  EXPECT_EQ(box.PopControllerIn(before, r, 0us), InResult::NoDevice);
  EXPECT_EQ(box.ControllerOut(before, std::vector<std::uint8_t>{0x01, 0xE1}), OutResult::NoDevice);

  ASSERT_TRUE(log.WaitFor(2));
  const auto events = log.Events();
  EXPECT_EQ(events[0], std::make_pair(BoxFunction::Controller, false));
  EXPECT_EQ(events[1], std::make_pair(BoxFunction::Controller, true));
  EXPECT_EQ(box.ResetCount(), 1u);
  host.Resync();
  EXPECT_NE(host.Session(), before);
  std::vector<std::uint8_t> b;
  ASSERT_TRUE(host.Read(t38, 1, b));
  EXPECT_EQ(b[0], 0x00);
  // The controller announces its restart with a T6 message.
  ASSERT_TRUE(host.Read(box.ObjectAddress(44), 1, b));
  EXPECT_GE(b[0], 1);
  ASSERT_TRUE(host.Read(box.ObjectAddress(5), box.ObjectSize(5) - 1, b));
  EXPECT_EQ(b[0], box.ReportIdOf(6));
  EXPECT_EQ(b[1] & 0x80, 0x80);
}

TEST(SimBoxLifecycle, UnplugDuringResetDowntimeKeepsTheControllerAway) {
  SimBoxOptions o;
  o.resetDowntime = 50ms;
  SimBox box(o);
  PresenceLog log(box);
  Host host(box);
  ASSERT_TRUE(host.Send({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(box.ObjectAddress(6) & 0xFF),
                         static_cast<std::uint8_t>(box.ObjectAddress(6) >> 8), 0x01}));
  box.Unplug(BoxFunction::Controller);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(box.IsPresent(BoxFunction::Controller));
  box.Plug(BoxFunction::Controller);
  EXPECT_TRUE(box.IsPresent(BoxFunction::Controller));
}

TEST(SimBoxLifecycle, BackupPersistsConfigurationAcrossBoxes) {
  TempStore store;
  SimBoxOptions o;
  o.storePath = store.Path();
  std::vector<std::uint8_t> window = {0x81, 1, 2, 20, 30, 0, 77, 255};
  std::vector<std::uint8_t> unsaved = {0x55, 0x66};
  {
    SimBox box(o);
    Host host(box);
    ASSERT_TRUE(host.Write(box.ObjectAddress(9), window));
    ASSERT_TRUE(host.Write(static_cast<std::uint16_t>(box.ObjectAddress(6) + 1), {0x55}));
    EXPECT_EQ(box.BackupCount(), 1u);
    ASSERT_TRUE(host.Write(box.ObjectAddress(38), unsaved));  // after the backup: not kept
  }
  SimBox again(o);
  Host host(again);
  EXPECT_TRUE(std::filesystem::exists(o.storePath));
  std::vector<std::uint8_t> b;
  ASSERT_TRUE(host.Read(again.ObjectAddress(9), window.size(), b));
  EXPECT_EQ(b, window);
  ASSERT_TRUE(host.Read(again.ObjectAddress(38), 2, b));
  EXPECT_EQ(b, (std::vector<std::uint8_t>{0, 0}));
}

TEST(SimBoxLifecycle, DamagedStoreFallsBackToFactoryConfiguration) {
  TempStore store;
  std::filesystem::create_directories(std::filesystem::path(store.Path()).parent_path());
  {
    std::ofstream f(store.Path());
    ASSERT_TRUE(f);
    f << "varnex2-sim-nv 1\nT 9 0 zz\nT 9 0 0102\nP 249 12\ngarbage\n";
  }
  SimBoxOptions o;
  o.storePath = store.Path();
  SimBox box(o);
  EXPECT_EQ(box.ReadMemory(box.ObjectAddress(9), 5), (std::vector<std::uint8_t>{0x81, 0, 0, 32, 52}));
  EXPECT_EQ(box.Bridge().configByte, 0x01);
}

TEST(SimBoxLifecycle, UnplugClearsPendingReportsAndFailsWaitingReaders) {
  SimBox box;
  Host host(box);
  host.Send({0x01, 0xE1});
  EXPECT_GT(box.PendingControllerIn(), 0u);
  const std::uint64_t s = host.Session();
  std::atomic<int> result{-1};
  std::thread reader([&] {
    ControllerReport r{};
    // Take everything queued, then block until the unplug.
    InResult res;
    while ((res = box.PopControllerIn(s, r, 10s)) == InResult::Report) {
    }
    result = static_cast<int>(res);
  });
  while (box.PendingControllerIn() > 0) std::this_thread::sleep_for(1ms);
  box.Unplug(BoxFunction::Controller);
  reader.join();
  EXPECT_EQ(result, static_cast<int>(InResult::NoDevice));
  EXPECT_EQ(box.PendingControllerIn(), 0u);
  box.Plug(BoxFunction::Controller);
  EXPECT_NE(box.Session(BoxFunction::Controller), s);
}

TEST(SimBoxLifecycle, StopTokenInterruptsAWaitingReader) {
  SimBox box;
  std::stop_source stop;
  std::atomic<int> result{-1};
  std::thread reader([&] {
    ControllerReport r{};
    result = static_cast<int>(box.PopControllerIn(box.Session(BoxFunction::Controller), r, 30s, stop.get_token()));
  });
  std::this_thread::sleep_for(20ms);
  stop.request_stop();
  reader.join();
  EXPECT_EQ(result, static_cast<int>(InResult::Interrupted));
}

TEST(SimBoxLifecycle, PacedDeliveryKeepsOrderAndCount) {
  SimBoxOptions o;
  o.paced = true;
  SimBox box(o);
  Host host(box);
  ASSERT_TRUE(host.WriteRequest(box.CommandAddress(), {0x20})[1] == 0x04);
  host.Send({0x01, 0xE1});
  ControllerReport r{};
  ASSERT_TRUE(host.Next(r));
  EXPECT_EQ(r[1], 0xE1);
  for (int page = 1; page <= 56; ++page) {
    ASSERT_TRUE(host.Next(r));
    ASSERT_EQ(r[1], page);
  }
}

}  // namespace
}  // namespace varnex2::sim
