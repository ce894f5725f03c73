#pragma once
// ControllerLink: the controller's USB report protocol — register reads and writes (command 0x51),
// frame streaming (0xE1 .. 56 pages .. 0xE2) and lost-device detection — over a UsbPort.
//
// Threads: the caller's thread runs the exchanges (at most one at a time: the link has no lock
// for them, its users take turns); the link's own event thread runs the port's event handling
// and OnControllerReport.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>

#include "device/controller_record.h"
#include "device/result_codes.h"
#include "platform/usb_port.h"

namespace varnex2::device {

inline constexpr std::size_t kControllerReportSize = 64;
inline constexpr std::size_t kFrameStreamBytes = 2 * kMaxNodes;  // 3328
inline constexpr int kFramePageCount = 56;
inline constexpr std::chrono::milliseconds kAnswerTimeout{200};
inline constexpr std::chrono::milliseconds kEventLoopTimeout{1000};
// How long an exchange polls for its answer before it sleeps on the response event.
inline constexpr std::chrono::microseconds kAnswerSpin{50};
inline constexpr int kAnswerSpinRetry = 32;

// Request command bytes (byte 1 of a request report).
inline constexpr std::uint8_t kCmdRegister = 0x51;
inline constexpr std::uint8_t kCmdFrameStart = 0xE1;
inline constexpr std::uint8_t kCmdFrameEnd = 0xE2;
inline constexpr std::uint8_t kWriteAnswerOk = 4;  // status byte of a successful register write

using ControllerReport = std::array<std::uint8_t, kControllerReportSize>;

// Register address the mode byte of a frame request goes to (0 for unknown controllers).
std::uint16_t FrameCommandAddress(const ControllerRecord& record);

// Stream offset and length of a frame page's payload; false for pages outside 1..56.
struct PagePlacement {
  std::size_t sourceOffset = 0;  // first payload byte in the report
  std::size_t streamOffset = 0;
  std::size_t length = 0;
};
bool FramePagePlacement(int page, PagePlacement& out);

class ControllerLink {
 public:
  // Called on the event thread when a transfer fails: the station posts WM_DEV_LOST (wParam 0,
  // lParam = status). Must return promptly and must not call back into the link.
  using LostCallback = std::function<void(int transferStatus)>;
  // Called on the event thread for every frame page (WM_DEV_PAGE: page number, page count).
  using PageCallback = std::function<void(int page, int pageCount)>;

  explicit ControllerLink(platform::UsbPort& port);
  ~ControllerLink();
  ControllerLink(const ControllerLink&) = delete;
  ControllerLink& operator=(const ControllerLink&) = delete;

  // Set both before OpenController; they are read by the event thread without a lock.
  void SetLostCallback(LostCallback callback) { lostCallback_ = std::move(callback); }
  void SetPageCallback(PageCallback callback) { pageCallback_ = std::move(callback); }
  // How long an exchange waits for its answer and an acquisition for its frame: 200 ms for the
  // box. Tests over an emulated bus, where each report costs a dozen thread hand-offs, widen it
  // so that they check the protocol and not the host's scheduling. Set between exchanges.
  void SetAnswerTimeout(std::chrono::milliseconds timeout) { answerTimeout_ = timeout; }

  // 0, -1 (no device), -100 (manufacturer differs), -101 (product differs) or a USB error code.
  // An open link is closed first.
  int OpenController(std::uint16_t vendorId, std::uint16_t productId, std::string_view manufacturer,
                     std::string_view product);
  int OpenController();  // the box's controller ids and strings
  void CloseController();

  // Sends one request (at most 64 bytes, zero-padded) and, unless noAnswer, waits up to 200 ms for
  // the answer report.
  int ExchangeReport(std::span<const std::uint8_t> request, ControllerReport& answer, bool noAnswer);
  // Any count, in chunks of (report size - 6) bytes.
  int ReadRegisters(std::uint16_t address, std::span<std::uint8_t> dest);
  int WriteRegisters(std::uint16_t address, std::span<const std::uint8_t> source, bool noAnswer = false);
  // One frame: the mode byte goes to the controller's command address, then the stream is
  // requested. dest receives X * Y values (X-major); cleared on failure.
  int AcquireFrame(const ControllerRecord& record, std::span<std::uint16_t> dest, int& x, int& y, std::uint8_t mode);

  // The IN transfer's completion (runs on the event thread; public for tests and fuzzing).
  void OnControllerReport(platform::TransferStatus status, std::span<const std::uint8_t> data);

  // The device record: present from the first successful open until close.
  ControllerRecord* Record() { return record_.get(); }
  bool HasHandle() const { return bHandle_.load(); }
  bool DeviceConnected() const { return bDeviceConnected_.load(); }
  // The station has seen the box go (another of its interfaces was removed): later exchanges
  // are refused with kErrNotConnected until the next successful open.
  void ClearDeviceConnected() { bDeviceConnected_ = false; }
  bool EventThreadRunning() const { return bEventRunning_.load(); }
  // Register payload per request: report size (bMaxPacketSize0, 64 when implausible) - 6.
  std::size_t RegisterChunkSize() const { return chunkSize_; }
  // Wakes a thread waiting for an answer (the reconnect routine does this before closing).
  void SignalResponseEvent();

  // Fault details of the last pin-fault self-test (line numbers from 1, 0 = none).
  struct PinFaultDetails {
    std::uint8_t kind = 0;
    std::uint8_t xLine = 0;
    std::uint8_t yLine = 0;
  };
  PinFaultDetails& PinFault() { return pinFault_; }

 private:
  int StartReception();
  void ControllerEventThread();
  void Teardown();
  void NotifyLost(int status);
  int SendFrameRequest(std::uint8_t command);

  platform::UsbPort& port_;
  LostCallback lostCallback_;
  PageCallback pageCallback_;
  std::chrono::milliseconds answerTimeout_ = kAnswerTimeout;

  std::atomic<bool> bHandle_{false};
  std::atomic<bool> bDeviceConnected_{false};
  platform::UsbDeviceDescriptor descriptor_{};
  std::size_t chunkSize_ = kControllerReportSize - 6;
  std::unique_ptr<ControllerRecord> record_;
  PinFaultDetails pinFault_;

  // Event thread and IN transfer.
  std::thread eventThread_;
  std::atomic<int> nEventStop_{0};
  std::atomic<bool> bEventRunning_{false};
  std::atomic<bool> bClosing_{false};
  bool bTransferAllocated_ = false;
  std::mutex transferMutex_;
  std::condition_variable transferIdle_;
  bool bInFlight_ = false;

  // Answer path (hResponseEvent).
  std::mutex responseMutex_;
  std::condition_variable responseCv_;
  // Written under responseMutex_; atomic so that a waiting exchange can poll it briefly.
  std::atomic<bool> bResponseSignalled_{false};
  // Whether polling for the last answer caught it (exchanges run on one thread at a time).
  bool bSpinHelps_ = true;
  int nSpinSkipped_ = 0;
  ControllerReport responseBuffer_{};

  // Frame path (hFrameDoneEvent). frameStream_ and bStreaming_ belong to the event thread.
  bool bStreaming_ = false;
  std::array<std::uint8_t, kFrameStreamBytes> frameStream_{};
  std::atomic<int> frameValueCount_{0};
  std::mutex frameMutex_;
  std::condition_variable frameCv_;
  bool bFrameDone_ = false;
  bool bEndRequestDue_ = false;  // page 1 arrived: the end request is to be sent
  std::array<std::uint8_t, kFrameStreamBytes> frameCopy_{};
};

}  // namespace varnex2::device
