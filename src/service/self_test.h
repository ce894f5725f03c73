#pragma once
// The test box's self-test: seven steps in order (USB, information block, user register,
// power, shorts, reference values, finger), each written into a report with its result. The
// first failure ends the run, with repair hints naming parts of the box's board; a run that
// passes every step ends with the release message.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "judging/node_map.h"
#include "service/tool_connection.h"

namespace varnex2::service {

// The pieces of the report, each with its own text format.
enum class ReportPiece { TimeHeader, StepTitle, StepPassed, StepFailed, Hints, Release, Abort };

struct PieceFormat {
  bool bold = false;
  int twips = 200;  // character height in twentieths of a point
  int red = 0, green = 0, blue = 0;
};
inline constexpr const char* kReportFace = "Arial";
PieceFormat FormatOf(ReportPiece piece);

inline constexpr int kSelfTestSteps = 7;
inline constexpr const char* kAbortText = "\r\n\r\n强制取消测试！\r\n\r\n";
inline constexpr const char* kReleaseText = "\r\n\r\n此块板子是好的，可以出货！\r\n\r\n";

// The first repair hint of the short-circuit step, built from the pin-fault report (kind 2 or
// 3 and the line values X and Y, each the line's position + 1, 0 for none), "\r\n" appended.
std::string ShortHintLine(std::uint8_t kind, std::uint8_t xValue, std::uint8_t yValue);

// The whole hint list of a failing step (1 to 6; step 5 with its first line).
std::string RepairHints(int step, const std::string& shortLine = {});

// What a run tells its window; called on the worker's thread.
class SelfTestView {
 public:
  virtual ~SelfTestView() = default;
  virtual void ClearReport() = 0;
  virtual void Append(ReportPiece piece, const std::string& text) = 0;
  virtual void SetButtons(bool startEnabled, bool abortEnabled) = 0;
  // The node map changed (its verdict is hidden); repaint it.
  virtual void Repaint() = 0;
};

enum class SelfTestOutcome { Passed, Failed, Aborted };

struct SelfTestResult {
  SelfTestOutcome outcome = SelfTestOutcome::Failed;
  int step = 0;  // the failing step (1..7), or the step an abort was honoured in
  int code = 0;  // the failing operation's result code, 0 for a judged failure
  // A failing object access (step 3), frame read (step 6) or frame acquisition (step 7):
  // no hints, the buttons stay as during the run.
  bool accessFailure = false;
};

struct SelfTestOptions {
  bool fixture = false;  // "使用测试治具进行测试": raw values up to 19000 instead of 18000
  // The sequence's pauses (1000 ms before the release message, 200 ms per finger-test
  // round); tests shorten them. Empty: real time.
  std::function<void(std::chrono::milliseconds)> sleep;
  // The local time of the report's header. Empty: the clock.
  std::function<std::tm()> now;
};

// One run of the seven steps on the caller's thread. Every controller call is made under the
// connection's lock. An abort requested through `stop` is honoured between steps and in every
// round of the finger test; a step in progress runs to its end.
SelfTestResult RunSelfTest(ToolConnection& connection, judging::NodeMap& map, SelfTestView& view,
                           const SelfTestOptions& options, std::stop_token stop);

// The worker thread of the self-test window: one run at a time.
class SelfTestWorker {
 public:
  SelfTestWorker(ToolConnection& connection, judging::NodeMap& map, SelfTestView& view);
  ~SelfTestWorker();  // requests an abort and joins
  SelfTestWorker(const SelfTestWorker&) = delete;
  SelfTestWorker& operator=(const SelfTestWorker&) = delete;

  // Starts a run. A run still ending after an abort is waited for first (its steps are
  // bounded); false when it has not ended within `previousWait`.
  bool Start(const SelfTestOptions& options,
             std::chrono::milliseconds previousWait = std::chrono::milliseconds(15000));
  void RequestAbort();
  // Waits at most `wait` for the run to end; true when no run is going.
  bool WaitFinished(std::chrono::milliseconds wait);
  bool Running() const;
  // The result of the last run that ended.
  SelfTestResult LastResult() const;

 private:
  struct Run;
  ToolConnection& connection_;
  judging::NodeMap& map_;
  SelfTestView& view_;
  std::shared_ptr<Run> run_;
  mutable std::mutex mutex_;
  SelfTestResult last_;
};

}  // namespace varnex2::service

namespace varnex2::service {

inline constexpr int kSelfTestExitPassed = 0;
inline constexpr int kSelfTestExitFailed = 1;
inline constexpr int kSelfTestExitTimedOut = 3;

// `varnex2 test --run`: one run on the connection's box, its report on `out` as plain text
// (the window's texts and line breaks, LF for CR LF). 0 after the release message, 1 after a
// failed step, 3 when `limit` (zero: none) ended the run first; the abort message is printed
// then.
int RunSelfTestUnattended(ToolConnection& connection, const SelfTestOptions& options,
                          std::chrono::milliseconds limit, std::FILE* out);

}  // namespace varnex2::service
