#include "device/controller_link.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "device/box_ids.h"

namespace varnex2::device {

using platform::TransferStatus;

namespace {

constexpr std::chrono::milliseconds kCancelWait{1500};

bool AllZero(const ControllerReport& r) {
  return std::all_of(r.begin(), r.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

std::uint16_t FrameCommandAddress(const ControllerRecord& record) {
  if (record.FamilyId() != 0xA2) return 0;
  struct Row {
    std::uint8_t variant, version, build;
    std::uint16_t address;
  };
  static constexpr Row kTable[] = {
      {0x00, 0x10, 0xAA, 298}, {0x00, 0x11, 0xAA, 316}, {0x00, 0x12, 0xAA, 328},
      {0x00, 0x20, 0xAB, 352}, {0x0B, 0x20, 0x01, 352},
  };
  for (const Row& row : kTable) {
    if (row.variant == record.VariantId() && row.version == record.Version() && row.build == record.Build())
      return row.address;
  }
  return 0;
}

bool FramePagePlacement(int page, PagePlacement& out) {
  if (page == 1) {
    out = {5, 0, 59};
  } else if (page >= 2 && page <= 55) {
    out = {4, 59 + 60 * static_cast<std::size_t>(page - 2), 60};
  } else if (page == 56) {
    out = {4, 3299, 29};
  } else {
    return false;
  }
  return true;
}

ControllerLink::ControllerLink(platform::UsbPort& port) : port_(port) {}

ControllerLink::~ControllerLink() {
  CloseController();
  if (eventThread_.joinable()) eventThread_.join();
}

int ControllerLink::OpenController() {
  return OpenController(kControllerVendorId, kControllerProductId, kControllerManufacturer, kControllerProduct);
}

int ControllerLink::OpenController(std::uint16_t vendorId, std::uint16_t productId, std::string_view manufacturer,
                                   std::string_view product) {
  if (bHandle_) CloseController();
  int r = port_.Init();
  if (r != 0) return r;
  if (port_.Open(vendorId, productId) != 0) {
    port_.Exit();
    return kErrNoHandle;
  }
  r = port_.GetDeviceDescriptor(descriptor_);
  if (r != 0) {
    port_.Close();
    port_.Exit();
    return r;
  }
  const std::size_t reportSize = descriptor_[7];
  chunkSize_ = (reportSize > 6 && reportSize <= kControllerReportSize ? reportSize : kControllerReportSize) - 6;
  r = port_.ClaimInterface(kControllerInterface);
  if (r != 0) {
    port_.Close();
    port_.Exit();
    return r;
  }
  bHandle_ = true;
  bDeviceConnected_ = true;

  std::string text;
  if (port_.GetStringDescriptorAscii(1, text) < 0 || text != manufacturer) {
    Teardown();
    return kErrNoAnswer;
  }
  text.clear();
  if (port_.GetStringDescriptorAscii(2, text) < 0 || text != product) {
    Teardown();
    return kErrProductMismatch;
  }
  StartReception();
  return kOk;
}

void ControllerLink::Teardown() {
  port_.ReleaseInterface(kControllerInterface);
  port_.Close();
  port_.Exit();
  bHandle_ = false;
  bDeviceConnected_ = false;
}

int ControllerLink::StartReception() {
  if (bEventRunning_) return kErrReceptionBusy;
  if (eventThread_.joinable()) eventThread_.join();  // ended by itself after a loss
  if (!bTransferAllocated_) {
    const int r = port_.AllocInTransfer(
        kControllerInEndpoint, kControllerReportSize,
        [this](TransferStatus status, std::span<const std::uint8_t> data) { OnControllerReport(status, data); });
    if (r != 0) return kErrReceptionBusy;
    bTransferAllocated_ = true;
  }
  bStreaming_ = false;
  {
    std::lock_guard lock(transferMutex_);
    bInFlight_ = true;
  }
  if (port_.SubmitInTransfer() != 0) {
    std::lock_guard lock(transferMutex_);
    bInFlight_ = false;
  }
  nEventStop_ = 0;
  bEventRunning_ = true;
  eventThread_ = std::thread([this] { ControllerEventThread(); });
  if (!record_) record_ = std::make_unique<ControllerRecord>();
  return kOk;
}

void ControllerLink::ControllerEventThread() {
  while (nEventStop_.load() == 0) {
    if (port_.HandleEvents(kEventLoopTimeout) < 0) {
      // Event handling is broken: without it no answer can ever arrive, so report the loss.
      if (nEventStop_.exchange(2) == 0 && !bClosing_) NotifyLost(static_cast<int>(TransferStatus::Error));
      break;
    }
  }
  bEventRunning_ = false;
}

void ControllerLink::NotifyLost(int status) {
  bDeviceConnected_ = false;
  if (lostCallback_) lostCallback_(status);
}

void ControllerLink::CloseController() {
  if (!bHandle_) return;
  if (bEventRunning_) {
    // Under the transfer lock: a completion running now either has resubmitted already (and is
    // cancelled below) or sees bClosing_ and lets the transfer rest.
    std::unique_lock lock(transferMutex_);
    bClosing_ = true;
    if (bInFlight_) {
      lock.unlock();
      port_.CancelInTransfer();
      lock.lock();
      transferIdle_.wait_for(lock, kCancelWait, [this] { return !bInFlight_; });
    }
  }
  bClosing_ = true;
  nEventStop_ = 2;
  port_.InterruptEventHandling();
  if (eventThread_.joinable()) {
    if (eventThread_.get_id() == std::this_thread::get_id())
      eventThread_.detach();  // closing from a callback: the loop ends after it returns
    else
      eventThread_.join();
  }
  if (bTransferAllocated_) {
    port_.FreeInTransfer();
    bTransferAllocated_ = false;
  }
  Teardown();
  record_.reset();
  bStreaming_ = false;
  bClosing_ = false;
}

void ControllerLink::SignalResponseEvent() {
  std::lock_guard lock(responseMutex_);
  bResponseSignalled_ = true;
  responseCv_.notify_all();
}

void ControllerLink::OnControllerReport(TransferStatus status, std::span<const std::uint8_t> data) {
  if (status == TransferStatus::Cancelled) {
    std::lock_guard lock(transferMutex_);
    bInFlight_ = false;
    if (bClosing_) nEventStop_ = 2;
    transferIdle_.notify_all();
    return;
  }
  if (status != TransferStatus::Completed) {
    {
      std::lock_guard lock(transferMutex_);
      bInFlight_ = false;
      transferIdle_.notify_all();
    }
    nEventStop_ = 2;
    if (!bClosing_) NotifyLost(static_cast<int>(status));
    return;
  }

  ControllerReport report{};  // a short transfer reads as zero-padded
  if (!data.empty()) std::memcpy(report.data(), data.data(), std::min(data.size(), report.size()));
  if (!AllZero(report)) {
    bool frameEnded = false;
    if (report[0] == 0x01 && report[1] == kCmdFrameStart && !bStreaming_) {
      bStreaming_ = true;
    } else if (report[0] == 0x01 && report[1] == kCmdFrameEnd && bStreaming_) {
      bStreaming_ = false;
      frameEnded = true;
    } else if (report[0] == 0x02 && report[2] == kFramePageCount && bStreaming_) {
      const int page = report[1];
      if (pageCallback_) pageCallback_(page, kFramePageCount);
      PagePlacement place;
      if (FramePagePlacement(page, place))
        std::memcpy(frameStream_.data() + place.streamOffset, report.data() + place.sourceOffset, place.length);
      const std::size_t bytes = 2 * static_cast<std::size_t>(std::clamp(frameValueCount_.load(), 0, kMaxNodes));
      std::lock_guard lock(frameMutex_);
      std::memcpy(frameCopy_.data(), frameStream_.data(), bytes);
      std::memset(frameCopy_.data() + bytes, 0, frameCopy_.size() - bytes);
      if (page == 1) {
        // The end request goes out from the waiting thread: a synchronous transfer must not be
        // started inside a completion callback.
        bEndRequestDue_ = true;
        frameCv_.notify_all();
      }
    }
    if (!bStreaming_) {
      std::lock_guard lock(responseMutex_);
      responseBuffer_ = report;
      bResponseSignalled_ = true;
      responseCv_.notify_all();
    }
    // The end acknowledgement also lands in the response buffer (above). Only then is the waiting
    // thread released, so that its next exchange, which resets the response event, cannot take the
    // acknowledgement for its answer.
    if (frameEnded) {
      std::lock_guard lock(frameMutex_);
      bFrameDone_ = true;
      frameCv_.notify_all();
    }
  }
  bool failed = false;
  int submitted = 0;
  {
    std::lock_guard lock(transferMutex_);
    if (bClosing_) {
      nEventStop_ = 2;
    } else if (nEventStop_.load() == 0 && (submitted = port_.SubmitInTransfer()) == 0) {
      return;
    } else {
      failed = nEventStop_.load() == 0;
    }
    bInFlight_ = false;
    transferIdle_.notify_all();
  }
  // Without a pending IN transfer nothing more can arrive: the device is as good as lost.
  const TransferStatus lostStatus =
      submitted == platform::kUsbErrorNoDevice ? TransferStatus::NoDevice : TransferStatus::Error;
  if (failed && nEventStop_.exchange(2) == 0) NotifyLost(static_cast<int>(lostStatus));
}

int ControllerLink::ExchangeReport(std::span<const std::uint8_t> request, ControllerReport& answer, bool noAnswer) {
  if (!bHandle_) return kErrNoHandle;
  if (!bDeviceConnected_) return kErrNotConnected;
  int r = port_.ClaimInterface(kControllerInterface);
  if (r != 0) return r;
  {
    std::lock_guard lock(responseMutex_);
    bResponseSignalled_ = false;
  }
  ControllerReport out{};
  if (!request.empty()) std::memcpy(out.data(), request.data(), std::min(request.size(), out.size()));
  int transferred = 0;
  r = port_.InterruptWrite(kControllerOutEndpoint, out, transferred, answerTimeout_);
  if (r != 0) return r;
  if (transferred < static_cast<int>(kControllerReportSize)) return kErrNoHandle;

  // An answer that arrives within microseconds (an in-process box) is polled for briefly
  // before sleeping, which saves the wake-up of a sleeping thread per exchange. Where answers
  // take a report slot (a real bus) polling only burns CPU: it stops once it has missed, and
  // is tried again every kAnswerSpinRetry exchanges in case the port has become fast.
  if (!noAnswer && (bSpinHelps_ || ++nSpinSkipped_ >= kAnswerSpinRetry)) {
    nSpinSkipped_ = 0;
    const auto spinUntil = std::chrono::steady_clock::now() + kAnswerSpin;
    while (!bResponseSignalled_.load() && std::chrono::steady_clock::now() < spinUntil) std::this_thread::yield();
    bSpinHelps_ = bResponseSignalled_.load();
  }
  std::unique_lock lock(responseMutex_);
  if (noAnswer) {
    responseBuffer_.fill(0);
    bResponseSignalled_ = true;
    responseCv_.notify_all();
    return kOk;
  }
  if (!responseCv_.wait_for(lock, answerTimeout_, [this] { return bResponseSignalled_.load(); })) {
    bResponseSignalled_ = true;
    return kErrNoAnswer;
  }
  bResponseSignalled_ = false;  // auto-reset
  answer = responseBuffer_;
  return kOk;
}

int ControllerLink::ReadRegisters(std::uint16_t address, std::span<std::uint8_t> dest) {
  std::size_t done = 0;
  while (done < dest.size()) {
    const std::size_t count = std::min(dest.size() - done, chunkSize_);
    const std::uint16_t at = static_cast<std::uint16_t>(address + done);
    const std::uint8_t request[6] = {0x01,
                                     kCmdRegister,
                                     0x02,
                                     static_cast<std::uint8_t>(count),
                                     static_cast<std::uint8_t>(at & 0xFF),
                                     static_cast<std::uint8_t>(at >> 8)};
    ControllerReport answer{};
    const int r = ExchangeReport(request, answer, false);
    if (r != 0) return r;
    if (answer[1] != 0) return kErrBadStatus;
    std::memcpy(dest.data() + done, answer.data() + 3, count);
    done += count;
  }
  return kOk;
}

int ControllerLink::WriteRegisters(std::uint16_t address, std::span<const std::uint8_t> source, bool noAnswer) {
  std::size_t done = 0;
  while (done < source.size()) {
    const std::size_t count = std::min(source.size() - done, chunkSize_);
    const std::uint16_t at = static_cast<std::uint16_t>(address + done);
    ControllerReport request{};
    request[0] = 0x01;
    request[1] = kCmdRegister;
    request[2] = static_cast<std::uint8_t>(count + 2);
    request[3] = 0x00;
    request[4] = static_cast<std::uint8_t>(at & 0xFF);
    request[5] = static_cast<std::uint8_t>(at >> 8);
    std::memcpy(request.data() + 6, source.data() + done, count);
    ControllerReport answer{};
    const int r = ExchangeReport(request, answer, noAnswer);
    if (r != 0) return r;
    if (!noAnswer && answer[1] != kWriteAnswerOk) return kErrBadStatus;
    done += count;
  }
  return kOk;
}

int ControllerLink::SendFrameRequest(std::uint8_t command) {
  const std::uint8_t request[2] = {0x01, command};
  ControllerReport unused{};
  return ExchangeReport(request, unused, true);
}

int ControllerLink::AcquireFrame(const ControllerRecord& record, std::span<std::uint16_t> dest, int& x, int& y,
                                 std::uint8_t mode) {
  bool endPending = false;
  {
    std::lock_guard lock(frameMutex_);
    bFrameDone_ = false;
    endPending = bEndRequestDue_;
    bEndRequestDue_ = false;
  }
  // A first page that came after the previous wait gave up still needs its end request.
  if (endPending) SendFrameRequest(kCmdFrameEnd);

  x = record.MatrixX();
  y = record.MatrixY();
  const int nodes = x * y;
  if (nodes > kMaxNodes) {
    std::fill(dest.begin(), dest.end(), 0);
    return kErrMatrixTooLarge;
  }
  if (dest.size() < static_cast<std::size_t>(nodes)) {
    std::fill(dest.begin(), dest.end(), 0);
    return kErrNoMemory;
  }
  frameValueCount_ = nodes;

  const std::uint8_t modeByte[1] = {mode};
  if (WriteRegisters(FrameCommandAddress(record), modeByte, false) == 0) SendFrameRequest(kCmdFrameStart);

  const auto deadline = std::chrono::steady_clock::now() + answerTimeout_;
  std::unique_lock lock(frameMutex_);
  while (!bFrameDone_) {
    if (bEndRequestDue_) {
      bEndRequestDue_ = false;
      lock.unlock();
      SendFrameRequest(kCmdFrameEnd);
      lock.lock();
      continue;
    }
    if (frameCv_.wait_until(lock, deadline) == std::cv_status::timeout && !bFrameDone_ && !bEndRequestDue_) {
      bFrameDone_ = true;  // signalled on the way out, reset by the next acquisition
      lock.unlock();
      std::fill(dest.begin(), dest.end(), 0);
      return kErrNoAnswer;
    }
  }
  bFrameDone_ = false;
  for (int i = 0; i < nodes; ++i)
    dest[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(frameCopy_[2 * i] | (frameCopy_[2 * i + 1] << 8));
  return kOk;
}

}  // namespace varnex2::device
