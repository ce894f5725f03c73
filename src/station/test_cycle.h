#pragma once
// The test thread and its cycle: acquire a frame, lay it out (difference mode against the
// reference frame), judge it, run the pin-fault self-test and mark its lines, repaint (the
// cycle's repaint fixes and counts the verdict), apply the verdict outputs and ask for a record.
// StopTestThread and ResumeTest bracket every change of set-up.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

#include "judging/node_map.h"
#include "judging/verdict_outputs.h"
#include "station/cycle_event.h"
#include "station/link_session.h"
#include "station/panel_state.h"
#include "station/procedure_mutex.h"
#include "station/scanner_records.h"
#include "station/station.h"
#include "station/station_clock.h"
#include "station/station_view.h"
#include "station/worker_slots.h"

namespace varnex2::station {

class TestCycle {
 public:
  // `answerWait` bounds StopTestThread's and ResumeTest's waits for the loop.
  TestCycle(WorkerSlots& slots, LinkSession& link, judging::NodeMap& grid, PanelState& panel,
            ScannerRecords& records, StationView& view, StationClock& clock, std::chrono::milliseconds answerWait);
  TestCycle(const TestCycle&) = delete;
  TestCycle& operator=(const TestCycle&) = delete;

  // Starts the test thread when its slot is empty.
  void StartTestThread();
  // 0, or -100 when the loop did not end within the bound (it ends after its current cycle).
  int StopTestThread();
  // Wakes an exchange a stopped loop may still wait in, waits (bounded) for that loop to end,
  // then starts the test thread; shows "超时！" or "未知错误！" and stays stopped otherwise.
  void ResumeTest();
  // bTestRunning: set by the loop, cleared by StopTestThread, the reconnect and shutdown.
  bool Running() const { return bTestRunning_.load(); }
  void MarkStopped() { SetRunning(false); }

  // The record request (WM_LOG_RESULT, wParam 0, lParam 2048), sent to the window thread.
  void SetLogResultHandler(Station::LogResultHandler handler);

 private:
  void SetRunning(bool running);
  void TestThreadProc(std::stop_token stop);
  void RunTestCycle(std::stop_token stop);
  // The cycle's steps, in order.
  void Acquire();
  judging::NodeFrame LayOut(int ny, int nx);
  void Judge(const judging::NodeFrame& frame);
  void SelfTest();
  void Repaint(std::stop_token stop);
  void ApplyVerdictOutputs(std::stop_token stop);
  void RequestRecord(std::stop_token stop);

  WorkerSlots& slots_;
  LinkSession& link_;
  judging::NodeMap& grid_;
  PanelState& panel_;
  ScannerRecords& records_;
  StationView& view_;
  StationClock& clock_;
  const std::chrono::milliseconds answerWait_;

  CycleEvent hCycleEvent_;
  std::atomic<bool> bTestRunning_{false};
  ProcedureMutex testThreadMutex_;  // held by a loop for its whole life
  std::mutex cycleLock_;            // held by a cycle from its first to its last step
  // Reference frame of difference mode, [Y line][X line] with kMaxLines per Y line, and the
  // raw frame; the cycle's own (cycleLock_).
  std::vector<std::int32_t> reference_;
  std::vector<std::uint16_t> rawBuffer_;
  // A loop StopTestThread gave up waiting for; ResumeTest waits for it to end.
  std::mutex lateLoopMutex_;
  std::shared_ptr<Worker> lateLoop_;
  judging::RecordGate recordGate_;  // the cycle's own (cycleLock_)
  std::mutex logMutex_;
  Station::LogResultHandler logResult_;
};

}  // namespace varnex2::station
