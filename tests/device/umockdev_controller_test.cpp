// The controller's configuration checksum, T6 commands and touch messages seen by a host over the
// real libusb back-end against the simulated box's umockdev devices: everything is read through
// the object table and the message queue (T44/T5), as the station reads it.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "device/result_codes.h"
#include "platform/usb_port.h"
#include "sim/scenario.h"
#include "sim/sim_box.h"
#include "sim/umockdev_box.h"

namespace varnex2::device {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Message = std::vector<std::uint8_t>;

constexpr std::uint8_t kT6Reset = 0x80, kT6Calibrating = 0x10;
constexpr std::uint8_t kDetect = 0x80, kPress = 0x40, kRelease = 0x20, kMove = 0x10;

// The controller's 24-bit CRC from its definition: the bytes in pairs (low, high; an odd last
// byte paired with 0); per pair the sum is doubled, the pair added, and a bit carried out of the
// 24 folds back with the polynomial 0x80001B.
std::uint32_t Crc24(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t high = i + 1 < bytes.size() ? bytes[i + 1] : 0u;
    crc = (crc << 1) ^ (high << 8) ^ bytes[i];
    if (crc & 0x1000000u) crc ^= 0x80001Bu;
    crc &= 0xFFFFFFu;
  }
  return crc;
}

bool IsConfiguration(std::uint8_t type) {
  return type != kT5MessageProcessor && type != kT6CommandProcessor && type != kT37Diagnostic && type != kT38UserData &&
         type != kT44MessageCount;
}

std::uint32_t T6Checksum(const Message& m) { return m[2] | m[3] << 8 | static_cast<std::uint32_t>(m[4]) << 16; }

struct TouchMsg {
  std::uint8_t id = 0;
  std::uint8_t status = 0;
  int x = 0, y = 0;  // decoded for T9's ranges
  int area = 0;
  int amplitude = 0;
};

class UmockdevControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box = std::make_shared<sim::SimBox>();
    std::string error;
    testbed = sim::UmockdevBox::Create(box, &error);
    ASSERT_NE(testbed, nullptr) << error;
    port = platform::CreateLibusbPort();
    link = std::make_unique<ControllerLink>(*port);
    // Over the emulated usbfs an answer can take far longer than the box's 200 ms under load.
    link->SetAnswerTimeout(3s);
    ASSERT_EQ(link->OpenController(), 0);
    ASSERT_EQ(ReadInfoBlock(*link, Rec()), 0);
  }
  void TearDown() override {
    link.reset();
    port.reset();
    testbed.reset();
  }

  ControllerRecord& Rec() { return *link->Record(); }

  std::uint8_t Owner(std::uint8_t reportId) {
    const ReportIdEntry* e = ReportIdOwner(Rec(), reportId);
    return e ? e->type : 0;
  }

  int WriteByte(std::uint16_t address, std::uint8_t value) {
    const std::uint8_t b[1] = {value};
    return link->WriteRegisters(address, b);
  }
  int T6Command(int byte, std::uint8_t value) {
    return WriteByte(static_cast<std::uint16_t>(FindObject(Rec(), kT6CommandProcessor, 0) + byte), value);
  }

  // Reads the queue (T44's count, then T5 message by message) until `done` accepts what has been
  // collected or `limit` has passed; at least one round.
  std::vector<Message> Collect(const std::function<bool(const std::vector<Message>&)>& done,
                               std::chrono::milliseconds limit) {
    std::vector<Message> out;
    const auto deadline = Clock::now() + limit;
    for (;;) {
      int count = 0;
      const int r = ReadMessageCount(*link, Rec(), count);
      if (r != 0) {
        ADD_FAILURE() << "message count: " << r;
        return out;
      }
      for (int k = 0; k < count; ++k) {
        std::array<std::uint8_t, 64> m{};
        int length = 0;
        const int rm = ReadMessage(*link, Rec(), m, length);
        if (rm == kErrMessageInvalid) break;
        if (rm != 0) {
          ADD_FAILURE() << "message: " << rm;
          return out;
        }
        out.emplace_back(m.begin(), m.begin() + length);
      }
      if (done(out) || Clock::now() >= deadline) return out;
      std::this_thread::sleep_for(20ms);
    }
  }
  std::vector<Message> Drain() {
    return Collect([](const auto&) { return true; }, 0ms);
  }
  std::vector<Message> Of(const std::vector<Message>& all, std::uint8_t type) {
    std::vector<Message> out;
    for (const auto& m : all)
      if (Owner(m[0]) == type) out.push_back(m);
    return out;
  }
  // Until `n` messages of `type` have arrived (at most 5 s).
  std::vector<Message> CollectOf(std::uint8_t type, std::size_t n) {
    return Of(Collect([&](const auto& all) { return Of(all, type).size() >= n; }, 5s), type);
  }

  // REPORTALL, and the checksum of the T6 message it gives.
  std::uint32_t ReportAllChecksum() {
    EXPECT_EQ(T6Command(3, 1), 0);
    const auto t6 = CollectOf(kT6CommandProcessor, 1);
    EXPECT_EQ(t6.size(), 1u);
    return t6.empty() ? 0 : T6Checksum(t6[0]);
  }

  // The CRC over the configuration range read from the controller: from the start of the first
  // configuration object to the end of the last one, the other objects' bytes in it as zeros.
  std::uint32_t ExpectedChecksum() {
    std::size_t begin = 0x10000, end = 0;
    for (const ObjectEntry& e : Rec().objects) {
      if (!IsConfiguration(e.type)) continue;
      begin = std::min<std::size_t>(begin, e.start);
      end = std::max<std::size_t>(end, e.start + static_cast<std::size_t>(e.Size()) * e.Instances());
    }
    EXPECT_LT(begin, end);
    if (begin >= end) return 0;
    std::vector<std::uint8_t> bytes(end - begin);
    EXPECT_EQ(link->ReadRegisters(static_cast<std::uint16_t>(begin), bytes), 0);
    for (const ObjectEntry& e : Rec().objects) {
      if (IsConfiguration(e.type)) continue;
      const std::size_t from = std::max<std::size_t>(begin, e.start);
      const std::size_t to = std::min<std::size_t>(end, e.start + static_cast<std::size_t>(e.Size()) * e.Instances());
      for (std::size_t a = from; a < to; ++a) bytes[a - begin] = 0;
    }
    return Crc24(bytes);
  }

  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<sim::UmockdevBox> testbed;
  std::unique_ptr<platform::UsbPort> port;
  std::unique_ptr<ControllerLink> link;
};

TEST_F(UmockdevControllerTest, ReportAllCarriesTheCrcOfTheConfiguration) {
  // The test's CRC is the information block's: it reproduces the stored table checksum.
  const std::size_t tableEnd = kInfoBlockSize + kObjectEntrySize * Rec().objects.size();
  std::vector<std::uint8_t> table(tableEnd);
  ASSERT_EQ(link->ReadRegisters(0, table), 0);
  ASSERT_EQ(Crc24(table), Rec().storedChecksum);

  const std::uint32_t expected = ExpectedChecksum();
  ASSERT_NE(expected, 0u);
  // The power-up message carries it too.
  const auto powerUp = Of(Drain(), kT6CommandProcessor);
  ASSERT_EQ(powerUp.size(), 1u);
  EXPECT_EQ(powerUp[0][1], kT6Reset);
  EXPECT_EQ(T6Checksum(powerUp[0]), expected);

  ASSERT_EQ(T6Command(3, 1), 0);
  ASSERT_EQ(T6Command(3, 1), 0);
  const auto all = Collect(
      [&](const auto& m) { return Of(m, kT6CommandProcessor).size() >= 2 && Of(m, kT25SelfTest).size() >= 2; }, 5s);
  // Factory configuration: T6, then the self-test's last result, per request.
  std::vector<std::uint8_t> owners;
  for (const auto& m : all) owners.push_back(Owner(m[0]));
  EXPECT_EQ(owners, (std::vector<std::uint8_t>{kT6CommandProcessor, kT25SelfTest, kT6CommandProcessor, kT25SelfTest}));
  const auto t6 = Of(all, kT6CommandProcessor);
  ASSERT_EQ(t6.size(), 2u);
  for (const auto& m : t6) {
    EXPECT_EQ(m[1], 0);
    EXPECT_EQ(T6Checksum(m), expected);
  }
  for (const auto& m : Of(all, kT25SelfTest)) EXPECT_EQ(m[1], 0xFE);  // no test since power-up
}

TEST_F(UmockdevControllerTest, ChecksumFollowsConfigurationAndSurvivesBackupAndReset) {
  Drain();
  const std::uint32_t factory = ReportAllChecksum();
  ASSERT_NE(factory, 0u);

  // A configuration byte changes it.
  std::array<std::uint8_t, 1> t7{};
  ASSERT_EQ(ReadObject(*link, kT7Power, 0, t7), 0);
  const std::uint8_t t7Backed = t7[0] ^ 1;
  ASSERT_EQ(WriteObject(*link, kT7Power, 0, std::array<std::uint8_t, 1>{t7Backed}), 0);
  const std::uint32_t backed = ReportAllChecksum();
  EXPECT_NE(backed, factory);
  EXPECT_EQ(backed, ExpectedChecksum());

  // The user's data does not.
  std::vector<std::uint8_t> user(static_cast<std::size_t>(ObjectSize(Rec(), kT38UserData)), 0xA5);
  ASSERT_EQ(WriteObject(*link, kT38UserData, 0, user), 0);
  EXPECT_EQ(ReportAllChecksum(), backed);

  const std::uint64_t backups = box->BackupCount();
  ASSERT_TRUE(BackupSettings(*link));
  EXPECT_EQ(box->BackupCount(), backups + 1);

  // A change after the backup, and a backup request with the wrong key, are not kept.
  std::array<std::uint8_t, 1> t62{};
  ASSERT_EQ(ReadObject(*link, kT62NoiseSuppression, 0, t62), 0);
  const std::uint8_t t62Factory = t62[0];
  ASSERT_EQ(WriteObject(*link, kT62NoiseSuppression, 0, std::array<std::uint8_t, 1>{std::uint8_t(t62Factory ^ 1)}), 0);
  EXPECT_NE(ReportAllChecksum(), backed);
  ASSERT_EQ(T6Command(1, 0x54), 0);
  EXPECT_EQ(box->BackupCount(), backups + 1);

  // The reset: the controller leaves the bus, comes back and reports power-up with the backup's
  // checksum.
  const std::uint64_t resets = box->ResetCount();
  const auto t0 = Clock::now();
  ASSERT_EQ(ResetController(*link, Rec()), 0);
  const auto downtime = Clock::now() - t0;
  EXPECT_GE(downtime, box->Options().resetDowntime);
  EXPECT_EQ(box->ResetCount(), resets + 1);
  ASSERT_EQ(ReadInfoBlock(*link, Rec()), 0);
  const auto powerUp = CollectOf(kT6CommandProcessor, 1);
  ASSERT_EQ(powerUp.size(), 1u);
  EXPECT_EQ(powerUp[0][1], kT6Reset);
  EXPECT_EQ(T6Checksum(powerUp[0]), backed);
  EXPECT_EQ(ReportAllChecksum(), backed);

  ASSERT_EQ(ReadObject(*link, kT7Power, 0, t7), 0);
  EXPECT_EQ(t7[0], t7Backed);
  ASSERT_EQ(ReadObject(*link, kT62NoiseSuppression, 0, t62), 0);
  EXPECT_EQ(t62[0], t62Factory);
  EXPECT_EQ(ExpectedChecksum(), backed);
}

TEST_F(UmockdevControllerTest, CalibrateReportsCalibratingThenDone) {
  Drain();
  ASSERT_EQ(T6Command(2, 1), 0);
  const auto t6 = CollectOf(kT6CommandProcessor, 2);
  ASSERT_EQ(t6.size(), 2u);
  EXPECT_EQ(t6[0][1] & kT6Calibrating, kT6Calibrating);
  EXPECT_EQ(t6[1][1] & kT6Calibrating, 0);
  EXPECT_NE(T6Checksum(t6[0]), 0u);
  EXPECT_EQ(T6Checksum(t6[1]), T6Checksum(t6[0]));
  // Nothing more follows.
  EXPECT_TRUE(Drain().empty());
}

TEST_F(UmockdevControllerTest, TouchesReportedOnTheTouchedNodesOnlyWithReportingOn) {
  Drain();
  const std::uint16_t t9 = FindObject(Rec(), kT9Touchscreen, 0);
  ASSERT_NE(t9, 0);
  std::uint8_t firstId = 0;
  for (std::size_t id = 1; id < Rec().reportIds.size() && firstId == 0; ++id)
    if (Rec().reportIds[id].type == kT9Touchscreen && Rec().reportIds[id].instance == 0)
      firstId = static_cast<std::uint8_t>(id);
  ASSERT_NE(firstId, 0);

  // Factory control byte 0x81: a finger gives no message.
  std::array<std::uint8_t, 22> cfg{};
  ASSERT_EQ(ReadObject(*link, kT9Touchscreen, 0, cfg), 0);
  EXPECT_EQ(cfg[0], 0x81);
  box->SetTouches({{5, 10, 400}});
  EXPECT_TRUE(Of(Collect([](const auto&) { return false; }, 300ms), kT9Touchscreen).empty());
  box->SetTouches({});
  EXPECT_TRUE(Drain().empty());

  // Reporting on; X range 2047 (12-bit positions), Y range 0 (1023, 10-bit positions).
  ASSERT_EQ(WriteByte(t9, 0x83), 0);
  const std::array<std::uint8_t, 4> ranges = {0xFF, 0x07, 0, 0};
  ASSERT_EQ(link->WriteRegisters(static_cast<std::uint16_t>(t9 + 18), ranges), 0);
  ASSERT_EQ(ReadObject(*link, kT9Touchscreen, 0, cfg), 0);
  const int xOrigin = cfg[1], yOrigin = cfg[2], xSize = cfg[3], ySize = cfg[4];
  const auto range = [&](std::size_t at) {
    const int r = cfg[at] | cfg[at + 1] << 8;
    return r == 0 ? 1023 : r;
  };
  const int xRange = range(18), yRange = range(20);
  ASSERT_EQ(xRange, 2047);
  ASSERT_EQ(yRange, 1023);
  ASSERT_GT(xSize, 1);
  ASSERT_GT(ySize, 1);
  const auto position = [](double node, int origin, int size, int range) {
    return static_cast<int>(std::lround((node - origin) * range / (size - 1)));
  };
  const auto touches = [&](const std::vector<Message>& all) {
    std::vector<TouchMsg> out;
    for (const auto& m : Of(all, kT9Touchscreen)) {
      TouchMsg t;
      t.id = m[0];
      t.status = m[1];
      t.x = m[2] << 4 | m[4] >> 4;
      t.y = m[3] << 4 | (m[4] & 0x0F);
      if (xRange < 1024) t.x >>= 2;
      if (yRange < 1024) t.y >>= 2;
      t.area = m[5];
      t.amplitude = m[6];
      out.push_back(t);
    }
    return out;
  };
  const auto collectTouches = [&](std::size_t n, std::chrono::milliseconds limit) {
    return touches(Collect([&](const auto& all) { return touches(all).size() >= n; }, limit));
  };

  // One finger: press, move, release, each on its node.
  box->SetTouches({{5, 10, 400}});
  auto t = collectTouches(1, 5s);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].id, firstId);
  EXPECT_EQ(t[0].status, kDetect | kPress);
  EXPECT_EQ(t[0].x, position(5, xOrigin, xSize, xRange));
  EXPECT_EQ(t[0].y, position(10, yOrigin, ySize, yRange));
  EXPECT_EQ(t[0].area, 9);
  EXPECT_GT(t[0].amplitude, 0);
  box->SetTouches({{6, 12, 400}});
  t = collectTouches(1, 5s);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].id, firstId);
  EXPECT_EQ(t[0].status, kDetect | kMove);
  EXPECT_EQ(t[0].x, position(6, xOrigin, xSize, xRange));
  EXPECT_EQ(t[0].y, position(12, yOrigin, ySize, yRange));
  box->SetTouches({});
  t = collectTouches(1, 5s);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].id, firstId);
  EXPECT_EQ(t[0].status, kRelease);
  EXPECT_EQ(t[0].x, position(6, xOrigin, xSize, xRange));

  // The sweep: pressed on the first X line, moved line by line to the last, at the middle of
  // the Y range, released where it was.
  sim::ScenarioAction sweep;
  sweep.op = sim::ScenarioOp::Sweep;
  sweep.duration = 40ms;
  const auto t0 = Clock::now();
  box->Apply(sweep);
  const int lastX = position(xOrigin + xSize - 1, xOrigin, xSize, xRange);
  const auto atLast = [&](const TouchMsg& m) { return m.x == lastX; };
  t = touches(Collect(
      [&](const auto& all) {
        const auto s = touches(all);
        return std::any_of(s.begin(), s.end(), atLast);
      },
      10s));
  sim::ScenarioAction release;
  release.op = sim::ScenarioOp::Release;
  box->Apply(release);
  // What came after the last line (the sweep starting over) belongs with the release.
  const auto last = std::find_if(t.begin(), t.end(), atLast);
  std::vector<TouchMsg> end(last == t.end() ? t.end() : last + 1, t.end());
  t.erase(last == t.end() ? t.end() : last + 1, t.end());
  while (end.empty() || end.back().status != kRelease) {
    const auto more = collectTouches(1, 5s);
    if (more.empty()) break;
    end.insert(end.end(), more.begin(), more.end());
  }
  const auto sweepTime = Clock::now() - t0;
  ASSERT_EQ(t.size(), static_cast<std::size_t>(xSize));
  for (int i = 0; i < xSize; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(t[i].id, firstId);
    EXPECT_EQ(t[i].status, i == 0 ? kDetect | kPress : kDetect | kMove);
    EXPECT_EQ(t[i].x, position(xOrigin + i, xOrigin, xSize, xRange));
    EXPECT_EQ(t[i].y, position(yOrigin + (ySize - 1) / 2.0, yOrigin, ySize, yRange));
    EXPECT_EQ(t[i].area, ySize);
    EXPECT_GT(t[i].amplitude, 0);
  }
  // Between the last line and the release the sweep may have started over: moves only.
  ASSERT_FALSE(end.empty());
  EXPECT_EQ(end.back().status, kRelease);
  EXPECT_EQ(end.back().id, firstId);
  const TouchMsg& before = end.size() > 1 ? end[end.size() - 2] : t.back();
  EXPECT_EQ(end.back().x, before.x);
  for (std::size_t i = 0; i + 1 < end.size(); ++i) EXPECT_EQ(end[i].status, kDetect | kMove) << i;
  std::printf("sweep of %d lines at 40 ms read in %lld ms\n", xSize,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(sweepTime).count()));
}

}  // namespace
}  // namespace varnex2::device
