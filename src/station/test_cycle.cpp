#include "station/test_cycle.h"

#include <algorithm>
#include <cstdlib>

#include "device/controller_ops.h"
#include "judging/verdict_outputs.h"
#include "station/station_texts.h"

namespace varnex2::station {

namespace {
constexpr std::chrono::milliseconds kRepaintPause{10};
constexpr int kRawStride = 52;  // raw values per X line
constexpr std::uint8_t kFrameMode = 0x20;
constexpr int kRecordLParam = 2048;
}  // namespace

TestCycle::TestCycle(WorkerSlots& slots, LinkSession& link, judging::NodeMap& grid, PanelState& panel,
                     ScannerRecords& records, StationView& view, StationClock& clock,
                     std::chrono::milliseconds answerWait)
    : slots_(slots),
      link_(link),
      grid_(grid),
      panel_(panel),
      records_(records),
      view_(view),
      clock_(clock),
      answerWait_(answerWait),
      reference_(static_cast<std::size_t>(judging::kMaxLines) * judging::kMaxLines, 0),
      rawBuffer_(device::kMaxNodes, 0) {}

void TestCycle::SetRunning(bool running) {
  bTestRunning_ = running;
  grid_.SetTestRunning(running);
}

void TestCycle::SetLogResultHandler(Station::LogResultHandler handler) {
  std::lock_guard lock(logMutex_);
  logResult_ = std::move(handler);
}

// ---- start, stop, resume ----------------------------------------------------------------------

void TestCycle::StartTestThread() {
  slots_.Start(SlotId::Test, [this](std::stop_token stop) { TestThreadProc(stop); });
}

int TestCycle::StopTestThread() {
  std::shared_ptr<Worker> worker = slots_.SlotWorker(SlotId::Test);
  if (!worker) return 0;
  worker->thread.request_stop();
  // Waits until the loop has ended, not just until some cycle ended: a cycle that ends just
  // before the request would otherwise let the caller talk to the controller while the next
  // cycle starts.
  int result = 0;
  if (slots_.Wait(worker, answerWait_) != WorkerSlots::WaitResult::Done) {
    hCycleEvent_.Set();
    result = -100;
    std::lock_guard lock(lateLoopMutex_);
    lateLoop_ = worker;
  }
  slots_.Empty(SlotId::Test, worker);
  SetRunning(false);
  return result;
}

void TestCycle::ResumeTest() {
  if (slots_.ShuttingDown()) return;
  // Wakes an exchange that may still wait for an answer; the next exchange clears the event
  // before it sends.
  link_.SignalResponse();
  std::shared_ptr<Worker> late;
  {
    std::lock_guard lock(lateLoopMutex_);
    late = lateLoop_;
  }
  // The loop a stop gave up on still holds the controller link until its cycle ends.
  switch (slots_.Wait(late, answerWait_)) {
    case WorkerSlots::WaitResult::Done: {
      std::lock_guard lock(lateLoopMutex_);
      if (lateLoop_ == late) lateLoop_.reset();
      break;
    }
    case WorkerSlots::WaitResult::TimedOut:
      view_.ShowMessage(texts::kTimeout, MessageIcon::Warning);
      return;
    case WorkerSlots::WaitResult::Failed:
      view_.ShowMessage(texts::kUnknownError, MessageIcon::Warning);
      return;
  }
  StartTestThread();
}

// ---- the loop and the cycle -------------------------------------------------------------------

void TestCycle::TestThreadProc(std::stop_token stop) {
  // A loop stopped late may still run: this one starts when it has ended.
  ProcedureLock lock(testThreadMutex_, stop);
  if (!lock.Owned()) return;
  for (;;) {
    hCycleEvent_.Reset();
    if (stop.stop_requested()) break;
    SetRunning(true);
    RunTestCycle(stop);
    hCycleEvent_.Set();
    if (stop.stop_requested()) break;
  }
}

void TestCycle::RunTestCycle(std::stop_token stop) {
  std::lock_guard cycle(cycleLock_);
  int ny = 0, nx = 0;
  {
    std::lock_guard lock(grid_.Mutex());
    ny = grid_.Columns();
    nx = grid_.Rows();
  }
  Acquire();
  const judging::NodeFrame frame = LayOut(ny, nx);
  Judge(frame);
  SelfTest();
  Repaint(stop);
  ApplyVerdictOutputs(stop);
}

// The frame; a failed acquisition leaves the buffer zero.
void TestCycle::Acquire() {
  std::fill(rawBuffer_.begin(), rawBuffer_.end(), 0);
  auto turn = link_.Lock();
  device::ControllerLink* link = link_.Controller();
  if (!link) return;
  if (device::ControllerRecord* record = link->Record()) {
    int x = 0, y = 0;
    link->AcquireFrame(*record, rawBuffer_, x, y, kFrameMode);
  }
}

// The node matrix [Y line][X line] from raw value y + 52 x. Outside difference mode the value
// checks and the evaluation-shown bit are on and the reference follows every frame; in
// difference mode the matrix holds the distance to the reference.
judging::NodeFrame TestCycle::LayOut(int ny, int nx) {
  const bool diff = panel_.DiffMode();
  {
    std::lock_guard lock(grid_.Mutex());
    const std::int32_t checks = judging::CheckEnable::ALL;
    const std::int32_t shown = judging::ResultFlag::EVALUATION_SHOWN;
    if (!diff) {
      grid_.SetCheckEnables(grid_.CheckEnables() | checks);
      grid_.SetResultFlags(grid_.ResultFlags() | shown);
    } else {
      grid_.SetCheckEnables(grid_.CheckEnables() & ~checks);
      grid_.SetResultFlags(grid_.ResultFlags() & ~shown);
    }
  }
  judging::NodeFrame m(ny, nx);
  for (int y = 0; y < ny; ++y) {
    for (int x = 0; x < nx; ++x) {
      const std::size_t source = static_cast<std::size_t>(y) + static_cast<std::size_t>(kRawStride) * x;
      const std::int32_t value = source < rawBuffer_.size() ? rawBuffer_[source] : 0;
      std::int32_t& ref = reference_[static_cast<std::size_t>(y) * judging::kMaxLines + static_cast<std::size_t>(x)];
      if (!diff) {
        ref = value;
        m(y, x) = value;
      } else {
        m(y, x) = std::abs(ref - value);
      }
    }
  }
  return m;
}

// Thresholds of the configuration, the evaluation, and the short marks of the last cycle cleared.
void TestCycle::Judge(const judging::NodeFrame& frame) {
  config::AreaParams touch, key;
  panel_.Areas(touch, key);
  grid_.SetTouchThresholds(touch.nThresLower, touch.nThresUpper);
  if (key.bEnable) grid_.SetKeyThresholds(key.nThresLower, key.nThresUpper);
  grid_.Evaluate(frame);
  grid_.SetAllNodeFlags(judging::NodeFlag::SHORT_ANY, judging::FlagOp::Clear);
}

// The pin-fault self-test marks its lines. Without an answer the details are what the last
// answer left, so a fault stays marked.
void TestCycle::SelfTest() {
  int fault = 0;
  device::ControllerLink::PinFaultDetails details;
  {
    auto turn = link_.Lock();
    device::ControllerLink* link = link_.Controller();
    if (link) {
      if (device::ControllerRecord* record = link->Record()) {
        fault = device::RunPinFaultTest(*link, *record, device::kPinFaultTestCommand);
        details = link->PinFault();
      }
    }
  }
  grid_.MarkPinFault(fault, details.kind, details.xLine, details.yLine);
  // The record's brief names the last reported short.
  records_.SetShortPositions(details.xLine, details.yLine);
}

// The statistics copy, then the repaint on the window thread: the one paint that fixes and
// counts the verdict while the cycle runs.
void TestCycle::Repaint(std::stop_token stop) {
  panel_.SetStatisticsText(grid_.StatisticsText());
  clock_.Wait(kRepaintPause, stop);
  view_.Send(
      [this] {
        grid_.SetCountingPaint(true);
        view_.RepaintGrid();
        grid_.SetCountingPaint(false);
      },
      stop);
}

// The output decision on the bridge from the counted verdict, and the record request.
void TestCycle::ApplyVerdictOutputs(std::stop_token stop) {
  std::int32_t max = 0, min = 0, average = 0;
  grid_.GetStatisticsBrief(0, max, min, average);
  const std::int32_t pass = grid_.GetColorGridCounterPass();
  const std::int32_t failCount = grid_.GetColorGridCounterFail();
  const std::int32_t stable = panel_.StableFrameCount();
  if (view_.CycleTraceEnabled()) view_.CycleTrace(judging::VerdictTraceText(pass, failCount, stable));
  device::CUSBChannel* channel = link_.Bridge();
  const std::uint8_t buzzer = channel ? channel->GetConfigByte() : 0;
  const judging::VerdictOutputs outputs =
      judging::DecideVerdictOutputs(grid_.GetVerdictText(), pass, failCount, average, panel_.TriggerLevel(), stable,
                                    buzzer, panel_.ScannerSettings().Get().nConnectType);
  if (channel && outputs.output != judging::VerdictOutputs::Leave)
    channel->SetOutputLevel(outputs.output == judging::VerdictOutputs::On ? 1 : 0);
  if (recordGate_.Admit(outputs.recordRequest, grid_.GetVerdictText(), average >= panel_.TriggerLevel()))
    RequestRecord(stop);
}

void TestCycle::RequestRecord(std::stop_token stop) {
  view_.Send(
      [this] {
        Station::LogResultHandler handler;
        {
          std::lock_guard lock(logMutex_);
          handler = logResult_;
        }
        // The record for the verdict on display, then the keyboard scanner's buffer emptied.
        records_.OnCycleRecordRequest();
        if (handler) handler(std::string(), kRecordLParam);
      },
      stop);
}

}  // namespace varnex2::station
