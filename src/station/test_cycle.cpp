// The test thread and its cycle: frame, layout, evaluation, self-test, repaint,
// verdict outputs.

#include <cstdlib>

#include "station/station_core.h"
#include "station/station_texts.h"
#include "device/controller_ops.h"
#include "judging/verdict_outputs.h"

namespace varnex2::station {

namespace {
constexpr std::chrono::milliseconds kRepaintPause{10};
constexpr int kRawStride = 52;  // raw values per X line
constexpr std::uint8_t kFrameMode = 0x20;
constexpr int kRecordLParam = 2048;
}  // namespace

void StationCore::StartTestThread() { StartWorker(SlotId::Test, &StationCore::TestThreadProc); }

int StationCore::StopTestThread() {
  std::shared_ptr<Worker> worker = SlotWorker(SlotId::Test);
  if (!worker) return 0;
  worker->thread.request_stop();
  // Waits until the loop has ended, not just until some cycle ended: a cycle
  // that ends just before the request would otherwise let the caller talk to
  // the controller while the next cycle starts.
  int result = 0;
  if (!WaitWorkerDone(worker, backends.cycleAnswerWait)) {
    hCycleEvent.Set();
    result = -100;
    std::lock_guard lock(lateLoopMutex);
    lateLoop = worker;
  }
  EmptySlot(SlotId::Test, worker);
  SetTestRunning(false);
  return result;
}

void StationCore::ResumeTest() {
  if (ShuttingDown()) return;
  // Wakes an exchange that may still wait for an answer; the next exchange
  // clears the event before it sends.
  if (link) link->SignalResponseEvent();
  std::shared_ptr<Worker> late;
  {
    std::lock_guard lock(lateLoopMutex);
    late = lateLoop;
  }
  // The loop a stop gave up on still holds the controller link until its cycle ends.
  switch (WaitWorker(late, backends.cycleAnswerWait)) {
    case WaitResult::Done: {
      std::lock_guard lock(lateLoopMutex);
      if (lateLoop == late) lateLoop.reset();
      break;
    }
    case WaitResult::TimedOut:
      view.ShowMessage(texts::kTimeout, MessageIcon::Warning);
      return;
    case WaitResult::Failed:
      view.ShowMessage(texts::kUnknownError, MessageIcon::Warning);
      return;
  }
  StartTestThread();
}

void StationCore::TestThreadProc(std::stop_token stop) {
  // A loop stopped late may still run: this one starts when it has ended.
  ProcedureLock lock(testThreadMutex, stop);
  if (!lock.Owned()) return;
  for (;;) {
    hCycleEvent.Reset();
    if (stop.stop_requested()) break;
    SetTestRunning(true);
    RunTestCycle(stop);
    hCycleEvent.Set();
    if (stop.stop_requested()) break;
  }
}

void StationCore::RunTestCycle(std::stop_token stop) {
  std::lock_guard cycle(cycleLock);

  config::AreaParams touch, key;
  {
    std::lock_guard lock(configMutex);
    touch = panel.touchArea;
    key = panel.keyArea;
  }
  int ny = 0, nx = 0;
  {
    std::lock_guard lock(grid.Mutex());
    ny = grid.Columns();
    nx = grid.Rows();
  }

  // 1-2: the frame; a failed acquisition leaves the buffer zero.
  judging::NodeFrame m(ny, nx);
  std::fill(rawBuffer.begin(), rawBuffer.end(), 0);
  if (link) {
    std::lock_guard turn(linkMutex);
    if (device::ControllerRecord* record = link->Record()) {
      int x = 0, y = 0;
      link->AcquireFrame(*record, rawBuffer, x, y, kFrameMode);
    }
  }

  // 3: the value checks and the evaluation-shown bit follow difference mode.
  const bool diff = bDiffMode.load();
  {
    std::lock_guard lock(grid.Mutex());
    const std::int32_t checks = judging::CheckEnable::ALL;
    const std::int32_t shown = judging::ResultFlag::EVALUATION_SHOWN;
    if (!diff) {
      grid.SetCheckEnables(grid.CheckEnables() | checks);
      grid.SetResultFlags(grid.ResultFlags() | shown);
    } else {
      grid.SetCheckEnables(grid.CheckEnables() & ~checks);
      grid.SetResultFlags(grid.ResultFlags() & ~shown);
    }
  }

  // 4: raw value y + 52 x; the reference follows every frame outside difference mode.
  for (int y = 0; y < ny; ++y) {
    for (int x = 0; x < nx; ++x) {
      const std::size_t source = static_cast<std::size_t>(y) + static_cast<std::size_t>(kRawStride) * x;
      const std::int32_t value = source < rawBuffer.size() ? rawBuffer[source] : 0;
      std::int32_t& ref = reference[static_cast<std::size_t>(y) * judging::kMaxLines + static_cast<std::size_t>(x)];
      if (!diff) {
        ref = value;
        m(y, x) = value;
      } else {
        m(y, x) = std::abs(ref - value);
      }
    }
  }

  // 5-7
  grid.SetTouchThresholds(touch.nThresLower, touch.nThresUpper);
  if (key.bEnable) grid.SetKeyThresholds(key.nThresLower, key.nThresUpper);
  grid.Evaluate(m);
  grid.SetAllNodeFlags(judging::NodeFlag::SHORT_ANY, judging::FlagOp::Clear);

  // 8-9: the pin-fault self-test marks its lines.
  int fault = 0;
  device::ControllerLink::PinFaultDetails details;
  if (link) {
    std::lock_guard turn(linkMutex);
    if (device::ControllerRecord* record = link->Record()) {
      fault = device::RunPinFaultTest(*link, *record, device::kPinFaultTestCommand);
      details = link->PinFault();
    }
  }
  grid.MarkPinFault(fault, details.kind, details.xLine, details.yLine);

  // 10
  {
    std::string stats = grid.StatisticsText();
    std::lock_guard lock(statsMutex);
    strStatistics = std::move(stats);
  }

  // 11: the repaint fixes and counts the verdict on the window thread.
  clock.Wait(kRepaintPause, stop);
  view.Send(
      [this] {
        grid.SetCountingPaint(true);
        view.RepaintGrid();
        grid.SetCountingPaint(false);
      },
      stop);

  // 12: outputs and the record request.
  std::int32_t max = 0, min = 0, average = 0;
  grid.GetStatisticsBrief(0, max, min, average);
  const std::int32_t pass = grid.GetColorGridCounterPass();
  const std::int32_t failCount = grid.GetColorGridCounterFail();
  const std::int32_t stable = nOutputTriggerStableFrameCnt.load();
  if (view.CycleTraceEnabled()) view.CycleTrace(judging::VerdictTraceText(pass, failCount, stable));
  const std::uint8_t buzzer = channel ? channel->GetConfigByte() : 0;
  const judging::VerdictOutputs outputs =
      judging::DecideVerdictOutputs(grid.GetVerdictText(), pass, failCount, average, nTriggerLevel.load(), stable,
                                    buzzer, scannerSetting.Get().nConnectType);
  if (channel && outputs.output != judging::VerdictOutputs::Leave)
    channel->SetOutputLevel(outputs.output == judging::VerdictOutputs::On ? 1 : 0);
  if (outputs.recordRequest) {
    view.Send(
        [this] {
          Station::LogResultHandler handler;
          {
            std::lock_guard lock(logMutex);
            handler = logResult;
          }
          if (handler) handler(std::string(), kRecordLParam);
        },
        stop);
  }
}

}  // namespace varnex2::station
