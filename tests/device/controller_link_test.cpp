// The controller link against a scripted port and a small controller model.

#include "device/controller_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

#include "device/box_ids.h"
#include "device/controller_ops.h"
#include "fake_controller.h"
#include "fake_usb_port.h"

namespace varnex2::device {
namespace {

using namespace std::chrono_literals;
using platform::TransferStatus;
using testing::FakeController;
using testing::FakeUsbPort;
using testing::Report;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link.SetLostCallback([this](int status) {
      lostStatus = status;
      ++lostCount;
    });
  }
  void Open() {
    ASSERT_EQ(link.OpenController(), 0);
    ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
  }

  FakeUsbPort port;
  FakeController box{port};
  ControllerLink link{port};
  std::atomic<int> lostStatus{-1};
  std::atomic<int> lostCount{0};
};

TEST_F(LinkTest, OpenResultCodes) {
  port.openResult = platform::kUsbErrorNotFound;
  EXPECT_EQ(link.OpenController(), kErrNoHandle);
  EXPECT_EQ(port.Count("init"), port.Count("exit"));
  port.openResult = 0;

  port.initResult = platform::kUsbErrorNoMem;
  EXPECT_EQ(link.OpenController(), platform::kUsbErrorNoMem);
  port.initResult = 0;

  port.descriptorResult = platform::kUsbErrorIo;
  EXPECT_EQ(link.OpenController(), platform::kUsbErrorIo);
  port.descriptorResult = 0;

  port.claimResult = platform::kUsbErrorBusy;
  EXPECT_EQ(link.OpenController(), platform::kUsbErrorBusy);
  EXPECT_FALSE(port.IsOpen());
  port.claimResult = 0;

  port.manufacturer = "atmel";  // differs only in letter case
  EXPECT_EQ(link.OpenController(), kErrNoAnswer);
  EXPECT_FALSE(link.HasHandle());
  EXPECT_FALSE(link.DeviceConnected());
  EXPECT_FALSE(port.IsOpen());
  port.manufacturer = "Atmel";

  port.product = "Atmel maXTouch Control ";
  EXPECT_EQ(link.OpenController(), kErrProductMismatch);
  EXPECT_FALSE(link.HasHandle());
  port.product = std::string(kControllerProduct);
  EXPECT_FALSE(link.EventThreadRunning());
  EXPECT_EQ(link.Record(), nullptr);
  // Every successful initialisation was paired with an exit (the failed one needs none).
  EXPECT_EQ(port.Count("init") - 1, port.Count("exit"));

  EXPECT_EQ(link.OpenController(), 0);
  EXPECT_TRUE(link.HasHandle());
  EXPECT_TRUE(link.DeviceConnected());
  EXPECT_TRUE(link.EventThreadRunning());
  ASSERT_NE(link.Record(), nullptr);
  EXPECT_TRUE(port.Submitted());
}

TEST_F(LinkTest, CloseAndReopenStartsANewReception) {
  Open();
  link.CloseController();
  EXPECT_FALSE(link.HasHandle());
  EXPECT_FALSE(link.EventThreadRunning());
  EXPECT_EQ(link.Record(), nullptr);
  EXPECT_EQ(port.Count("cancel"), 1);
  EXPECT_EQ(port.Count("free"), 1);
  EXPECT_EQ(port.Count("release"), 1);
  EXPECT_FALSE(port.IsOpen());
  std::vector<std::uint8_t> b(4);
  EXPECT_EQ(link.ReadRegisters(0, b), kErrNoHandle);

  Open();
  EXPECT_EQ(port.Count("alloc"), 2);
  EXPECT_TRUE(link.EventThreadRunning());
  // Opening an open link closes it first instead of leaking the handle.
  EXPECT_EQ(link.OpenController(), 0);
  EXPECT_EQ(port.Count("close"), 2);
}

TEST_F(LinkTest, RegisterRoundTripIsChunkedBy58) {
  Open();
  std::vector<std::uint8_t> data(150);
  std::iota(data.begin(), data.end(), 1);
  const std::uint16_t a = 0x1000;
  port.ClearRequests();
  ASSERT_EQ(link.WriteRegisters(a, data), 0);
  std::vector<Report> req = port.Requests();
  ASSERT_EQ(req.size(), 3u);
  const int sizes[] = {58, 58, 34};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(req[k][0], 0x01);
    EXPECT_EQ(req[k][1], 0x51);
    EXPECT_EQ(req[k][2], sizes[k] + 2);
    EXPECT_EQ(req[k][3], 0);
    EXPECT_EQ(req[k][4] | req[k][5] << 8, a + 58 * k);
    EXPECT_EQ(req[k][6], data[58 * k]);
    EXPECT_EQ(req[k][6 + sizes[k] - 1], data[58 * k + sizes[k] - 1]);
  }
  EXPECT_EQ(req[2][6 + 34], 0) << "request padded with zeros";
  port.ClearRequests();
  std::vector<std::uint8_t> back(150);
  ASSERT_EQ(link.ReadRegisters(a, back), 0);
  EXPECT_EQ(back, data);
  req = port.Requests();
  ASSERT_EQ(req.size(), 3u);
  EXPECT_EQ(req[2][2], 0x02);
  EXPECT_EQ(req[2][3], 34);
  EXPECT_EQ(req[2][4] | req[2][5] << 8, a + 116);
}

TEST_F(LinkTest, ChunkSizeFollowsTheDescriptor) {
  port.descriptor[7] = 8;
  Open();
  EXPECT_EQ(link.RegisterChunkSize(), 2u);
  link.CloseController();
  port.descriptor[7] = 0;  // implausible: the 64-byte report size applies
  ASSERT_EQ(link.OpenController(), 0);
  EXPECT_EQ(link.RegisterChunkSize(), 58u);
}

TEST_F(LinkTest, BadStatusesGive2AndLeaveTheDestination) {
  Open();
  box.readStatus = 1;
  std::vector<std::uint8_t> dest(10, 0xEE);
  EXPECT_EQ(link.ReadRegisters(0x1000, dest), kErrBadStatus);
  EXPECT_EQ(dest, std::vector<std::uint8_t>(10, 0xEE));
  box.readStatus = 0;
  const std::uint8_t one[1] = {1};
  EXPECT_EQ(link.WriteRegisters(0x0002, one), kErrBadStatus);  // read-only information block
  EXPECT_EQ(link.WriteRegisters(0x0002, one, true), 0);        // no answer awaited, none checked
}

TEST_F(LinkTest, ExchangeFailures) {
  Open();
  std::vector<std::uint8_t> b(4);
  box.answerRegisters = false;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(link.ReadRegisters(0x1000, b), kErrNoAnswer);
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, 200ms);
  EXPECT_LT(waited, 5s);
  box.answerRegisters = true;
  EXPECT_EQ(link.ReadRegisters(0x1000, b), 0) << "a time-out does not poison the next exchange";

  port.shortWriteBytes = 63;
  EXPECT_EQ(link.ReadRegisters(0x1000, b), kErrNoHandle);
  port.shortWriteBytes = -1;
  port.writeResult = platform::kUsbErrorTimeout;
  EXPECT_EQ(link.ReadRegisters(0x1000, b), platform::kUsbErrorTimeout);
  port.writeResult = 0;
  port.claimResult = platform::kUsbErrorNoDevice;
  EXPECT_EQ(link.ReadRegisters(0x1000, b), platform::kUsbErrorNoDevice);
  port.claimResult = 0;
}

TEST_F(LinkTest, ZeroReportsAreIgnoredAndTheTransferResubmitted) {
  Open();
  ASSERT_TRUE(port.WaitIdle());
  const int before = port.Count("submit");
  for (int i = 0; i < 5; ++i) port.QueueIn(Report{});
  ASSERT_TRUE(port.WaitIdle());
  EXPECT_EQ(port.Count("submit"), before + 5);
  EXPECT_EQ(lostCount, 0);
  // A stray zero report is not taken for an answer: the read gets the real one.
  box.memory[0x1000] = 0x5A;
  std::vector<std::uint8_t> b(1);
  port.QueueIn(Report{});
  ASSERT_EQ(link.ReadRegisters(0x1000, b), 0);
  EXPECT_EQ(b[0], 0x5A);
}

TEST_F(LinkTest, FrameOf56PagesIsAssembled) {
  Open();
  std::vector<std::uint16_t> frame(kMaxNodes, 0xFFFF);
  int x = 0, y = 0;
  port.ClearRequests();
  ASSERT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0);
  EXPECT_EQ(x, 32);
  EXPECT_EQ(y, 52);
  EXPECT_EQ(frame, box.frame);
  const std::vector<Report> req = port.Requests();
  ASSERT_EQ(req.size(), 3u);
  EXPECT_EQ(req[0][1], 0x51);  // mode byte at the command address (352 for 2.0 build 0xAB)
  EXPECT_EQ(req[0][4] | req[0][5] << 8, 352);
  EXPECT_EQ(req[0][6], 0x20);
  EXPECT_EQ(req[1][1], kCmdFrameStart);
  EXPECT_EQ(req[2][1], kCmdFrameEnd);
  // Register access still works after a frame.
  std::vector<std::uint8_t> b(2);
  EXPECT_EQ(link.ReadRegisters(0x1000, b), 0);
  // Again, with other values.
  for (auto& v : box.frame) v = static_cast<std::uint16_t>(v ^ 0x5555);
  ASSERT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0);
  EXPECT_EQ(frame, box.frame);
}

TEST_F(LinkTest, SmallMatrixTakesTheFirstValues) {
  box.info[4] = 4;
  box.info[5] = 5;
  box.BuildInfoBlock();
  Open();
  std::vector<std::uint16_t> frame(20);
  int x = 0, y = 0;
  ASSERT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 8), 0);
  EXPECT_EQ(x * y, 20);
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), box.frame.begin()));
}

TEST_F(LinkTest, PagesBeforeTheStartAcknowledgementAreAnswers) {
  Open();
  std::vector<std::uint8_t> b(3);
  // Outside a frame transfer a report shaped like a frame page is the answer to the pending read
  // (its byte 1 is then read as the status).
  box.answerRegisters = false;
  Report page = FakeController::Page(std::vector<std::uint16_t>(1664, 0x0102), 1);
  page[1] = 0;  // status 0
  page[3] = 0xAB;
  port.onRequest = [&](const Report&) { port.QueueIn(page); };
  ASSERT_EQ(link.ReadRegisters(0x1000, b), 0);
  EXPECT_EQ(b[0], 0xAB);
  EXPECT_EQ(b[1], page[4]);
}

TEST_F(LinkTest, RefusedModeWriteSendsNoStartRequest) {
  box.info[0] = 0xA4;  // another family: the mode byte goes to address 0, which is read-only
  box.BuildInfoBlock();
  Open();
  EXPECT_EQ(FrameCommandAddress(*link.Record()), 0);
  std::vector<std::uint16_t> frame(kMaxNodes, 0x7777);
  int x = 0, y = 0;
  port.ClearRequests();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), kErrNoAnswer);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 200ms);
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](std::uint16_t v) { return v == 0; }));
  const std::vector<Report> req = port.Requests();
  ASSERT_EQ(req.size(), 1u);
  EXPECT_EQ(req[0][4] | req[0][5] << 8, 0);
}

TEST_F(LinkTest, FrameTimeoutZeroesTheDestination) {
  Open();
  box.streamFrames = false;
  std::vector<std::uint16_t> frame(kMaxNodes, 0x7777);
  int x = 0, y = 0;
  EXPECT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), kErrNoAnswer);
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](std::uint16_t v) { return v == 0; }));
  box.streamFrames = true;
  EXPECT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0);
  EXPECT_EQ(frame, box.frame);
}

// A widened answer time applies to register exchanges and frames alike.
TEST_F(LinkTest, WidenedAnswerTimeIsHonoured) {
  Open();
  link.SetAnswerTimeout(450ms);
  std::vector<std::uint8_t> b(4);
  box.answerRegisters = false;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(link.ReadRegisters(0x1000, b), kErrNoAnswer);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 450ms);
  box.answerRegisters = true;
  box.streamFrames = false;
  std::vector<std::uint16_t> frame(kMaxNodes);
  int x = 0, y = 0;
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), kErrNoAnswer);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 450ms);
}

TEST_F(LinkTest, MatrixBeyondTheBuffersIsRefused) {
  box.info[4] = 40;
  box.info[5] = 52;
  box.frame.assign(40 * 52, 1);
  box.BuildInfoBlock();
  ASSERT_EQ(link.OpenController(), 0);
  EXPECT_EQ(ReadInfoBlock(link, *link.Record()), kErrMatrixTooLarge);
  std::vector<std::uint16_t> frame(40 * 52, 9);
  int x = 0, y = 0;
  EXPECT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), kErrMatrixTooLarge);
  // A destination shorter than the matrix is refused, not overrun.
  box.info[4] = 32;
  box.BuildInfoBlock();
  ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
  std::vector<std::uint16_t> small(100);
  EXPECT_EQ(link.AcquireFrame(*link.Record(), small, x, y, 0x20), kErrNoMemory);
}

TEST_F(LinkTest, CancelledTransferPostsNothing) {
  Open();
  port.QueueStatus(TransferStatus::Cancelled);
  ASSERT_TRUE(port.WaitIdle());
  EXPECT_EQ(lostCount, 0);
  EXPECT_FALSE(port.Submitted()) << "a cancelled transfer is not resubmitted";
}

class LinkLostTest : public LinkTest, public ::testing::WithParamInterface<TransferStatus> {};

TEST_P(LinkLostTest, FailedTransferReportsALostDevice) {
  Open();
  port.QueueStatus(GetParam());
  for (int i = 0; i < 1000 && link.EventThreadRunning(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(link.EventThreadRunning());
  EXPECT_EQ(lostCount, 1);
  EXPECT_EQ(lostStatus, static_cast<int>(GetParam()));
  EXPECT_FALSE(port.Submitted());
  std::vector<std::uint8_t> b(1);
  EXPECT_EQ(link.ReadRegisters(0x1000, b), kErrNotConnected);
  EXPECT_TRUE(link.HasHandle()) << "the handle stays until CloseController";
  link.CloseController();
  EXPECT_EQ(lostCount, 1);
  Open();  // a reconnect after the loss
  EXPECT_TRUE(link.EventThreadRunning());
}

INSTANTIATE_TEST_SUITE_P(Statuses, LinkLostTest,
                         ::testing::Values(TransferStatus::Error, TransferStatus::TimedOut, TransferStatus::Stall,
                                           TransferStatus::NoDevice, TransferStatus::Overflow));

TEST_F(LinkTest, FailedResubmissionIsALoss) {
  Open();
  port.resubmitResult = platform::kUsbErrorNoDevice;
  port.QueueIn(Report{});
  for (int i = 0; i < 1000 && link.EventThreadRunning(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(link.EventThreadRunning());
  EXPECT_EQ(lostCount, 1);
  EXPECT_EQ(lostStatus, static_cast<int>(TransferStatus::NoDevice));
}

TEST_F(LinkTest, CloseWithoutAPendingTransferDoesNotWaitOutTheEventLoop) {
  port.submitResult = platform::kUsbErrorIo;  // the first IN transfer never goes out
  link.OpenController();
  ASSERT_TRUE(link.EventThreadRunning());
  const auto start = std::chrono::steady_clock::now();
  link.CloseController();
  // The event loop waits up to kEventLoopTimeout per call; closing interrupts it.
  EXPECT_LT(std::chrono::steady_clock::now() - start, device::kEventLoopTimeout / 2);
  EXPECT_FALSE(link.EventThreadRunning());
}

TEST_F(LinkTest, BrokenEventHandlingIsALoss) {
  port.handleEventsResult = platform::kUsbErrorIo;
  ASSERT_EQ(link.OpenController(), 0);
  for (int i = 0; i < 1000 && link.EventThreadRunning(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(link.EventThreadRunning());
  EXPECT_EQ(lostCount, 1);
  link.CloseController();
  EXPECT_EQ(lostCount, 1);
}

TEST_F(LinkTest, ShortInTransferReadsZeroPadded) {
  Open();
  box.answerRegisters = false;
  Report answer{0x01, 0x00, 0x02, 0x11, 0x22, 0x33};
  port.onRequest = [&](const Report&) { port.QueueShortIn(answer, 4); };
  std::vector<std::uint8_t> b(2);
  ASSERT_EQ(link.ReadRegisters(0x1000, b), 0);
  EXPECT_EQ(b[0], 0x11);
  EXPECT_EQ(b[1], 0x00);
}

TEST_F(LinkTest, PageCallbackSeesEveryPage) {
  std::atomic<int> pages{0};
  std::atomic<int> last{0};
  link.SetPageCallback([&](int page, int count) {
    ++pages;
    last = page;
    EXPECT_EQ(count, 56);
  });
  Open();
  std::vector<std::uint16_t> frame(kMaxNodes);
  int x = 0, y = 0;
  ASSERT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0);
  EXPECT_EQ(pages, 56);
  EXPECT_EQ(last, 56);
}

TEST(FramePages, PlacementCoversTheStreamOnce) {
  std::vector<int> hits(kFrameStreamBytes, 0);
  for (int p = 1; p <= 56; ++p) {
    PagePlacement place;
    ASSERT_TRUE(FramePagePlacement(p, place));
    EXPECT_LE(place.sourceOffset + place.length, 64u);
    for (std::size_t i = 0; i < place.length; ++i) ++hits[place.streamOffset + i];
  }
  EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](int h) { return h == 1; }));
  PagePlacement place;
  EXPECT_FALSE(FramePagePlacement(0, place));
  EXPECT_FALSE(FramePagePlacement(57, place));
}

}  // namespace
}  // namespace varnex2::device
