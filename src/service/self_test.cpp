#include "service/self_test.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <vector>

#include "device/controller_ops.h"
#include "device/controller_record.h"
#include "device/result_codes.h"

namespace varnex2::service {

namespace {

using namespace std::chrono_literals;
using judging::NodeFlag::PASS;

struct StepTexts {
  const char* title;
  const char* passed;
  const char* failed;
};

constexpr std::array<StepTexts, kSelfTestSteps> kSteps = {{
    {"1.USB测试（测试USB是否能够联通）\r\n", "1.USB测试:通过\r\n\r\n", "1.USB测试:失败\r\n\r\n"},
    {"2.IC基本数据读取测试（判断是否IC焊接正常，IC的基本参数是否正确）\r\n", "2.IC基本数据读取测试:通过\r\n\r\n",
     "2.IC基本数据读取测试:失败\r\n\r\n"},
    {"3.IC寄存器读写测试（判断IC的客户自定义寄存器读写是否正常）\r\n", "3.IC寄存器读写测试:通过\r\n\r\n",
     "3.IC寄存器读写测试:失败\r\n\r\n"},
    {"4.电源测试（测试IC电源是否正常）\r\n", "4.电源测试:通过\r\n\r\n", "4.电源测试:失败\r\n\r\n"},
    {"5.短路测试（测试IC焊接是否短路）\r\n", "5.短路测试:通过\r\n\r\n", "5.短路测试:失败\r\n\r\n"},
    {"6.rawdata读取测试（判断所有rawdata是否在范围内）\r\n", "6.rawdata读取测试:通过\r\n\r\n",
     "6.rawdata读取测试:失败\r\n\r\n"},
    {"7.信号变化读取（手指触摸，看所有的格子能否通过）\r\n", "7.信号变化读取:通过\r\n\r\n", "7.信号变化读取:失败\r\n\r\n"},
}};

constexpr const char* kHintHead = "维修建议按检查优先顺序排列如下：\r\n";
constexpr const char* kHintBonding = "请检查核心板U1邦定是否正常。";
constexpr const char* kHintSoldering = "请检查核心板U4贴在主板上四边焊接是否正常。";

// The standard configuration written once the user register passes: T9 instance 0 (a 32 x 52
// touch window) and T7.
constexpr std::array<std::uint8_t, 36> kStandardT9 = {0x81, 0,  0,  32,   52,   0,    32,   255, 1, 0, 10, 15,
                                                      1,    0x41, 10, 20, 30, 20, 0xFF, 0x0F, 0xFF, 0x0F, 5, 246,
                                                      5,    5,    0,  0,  0,  0,  32,   20,   51,   53,   0, 1};
constexpr std::array<std::uint8_t, 4> kStandardT7 = {255, 255, 255, 0x03};

constexpr std::int32_t kRawLow = 14000;
constexpr std::int32_t kRawHigh = 18000;
constexpr std::int32_t kRawHighFixture = 19000;
constexpr std::int32_t kTouchedBelow = -10;
constexpr std::uint8_t kReferenceCommand = 0x11;
constexpr std::uint8_t kDeltaMode = 8;

std::string Hint(int n, const char* text) { return "->" + std::to_string(n) + "：" + text + "\r\n"; }

class Sequence {
 public:
  Sequence(ToolConnection& connection, judging::NodeMap& map, SelfTestView& view, const SelfTestOptions& options,
           std::stop_token stop)
      : c_(connection), map_(map), view_(view), options_(options), stop_(std::move(stop)) {}

  SelfTestResult Run() {
    view_.SetButtons(false, true);
    view_.ClearReport();
    view_.Append(ReportPiece::TimeHeader, Header());
    using StepFn = bool (Sequence::*)();
    constexpr std::array<StepFn, kSelfTestSteps> steps = {&Sequence::Usb,      &Sequence::BasicData, &Sequence::Register,
                                                          &Sequence::Power,    &Sequence::Shorts,    &Sequence::RawData,
                                                          &Sequence::Finger};
    for (int i = 0; i < kSelfTestSteps; ++i) {
      if (stop_.stop_requested()) return Aborted(i + 1);
      step_ = i + 1;
      view_.Append(ReportPiece::StepTitle, kSteps[static_cast<std::size_t>(i)].title);
      const bool ok = (this->*steps[static_cast<std::size_t>(i)])();
      if (aborted_) {
        HideVerdict();
        return Aborted(step_);
      }
      if (!ok) {
        view_.Append(ReportPiece::StepFailed, kSteps[static_cast<std::size_t>(i)].failed);
        if (!accessFailure_) {
          view_.Append(ReportPiece::Hints, hints_);
          view_.SetButtons(true, false);
        }
        HideVerdict();
        return {SelfTestOutcome::Failed, step_, code_, accessFailure_};
      }
      view_.Append(ReportPiece::StepPassed, kSteps[static_cast<std::size_t>(i)].passed);
      HideVerdict();
    }
    Sleep(1000ms);
    view_.SetButtons(true, false);
    view_.Append(ReportPiece::Release, kReleaseText);
    return {SelfTestOutcome::Passed, kSelfTestSteps, 0, false};
  }

 private:
  SelfTestResult Aborted(int step) const { return {SelfTestOutcome::Aborted, step, 0, false}; }

  std::string Header() const {
    std::tm t{};
    if (options_.now) {
      t = options_.now();
    } else {
      const std::time_t now = std::time(nullptr);
      localtime_r(&now, &t);
    }
    char text[128];
    std::snprintf(text, sizeof text, "[此次样品测试时间是: %04d年%02d月%02d日 - %02d时%02d分%02d秒]\r\n\r\n",
                  t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
  }

  void Sleep(std::chrono::milliseconds d) const {
    if (options_.sleep) {
      options_.sleep(d);
    } else {
      std::this_thread::sleep_for(d);
    }
  }

  void HideVerdict() {
    map_.SetResultFlags(map_.ResultFlags() & ~judging::ResultFlag::EVALUATION_SHOWN);
    view_.Repaint();
  }

  bool Fail(int code, bool accessFailure) {
    code_ = code;
    accessFailure_ = accessFailure;
    if (!accessFailure) hints_ = RepairHints(step_, shortLine_);
    return false;
  }

  // 1: the controller's USB function answers.
  bool Usb() {
    const int r = c_.OpenLink();
    return r == 0 || Fail(r, false);
  }

  // 2: the information block of the box's controller: family 0xA2, variant 0x00 or 0x0B, 32 x 52.
  bool BasicData() {
    const int r = c_.ReadInfo();
    if (r != 0) return Fail(r, false);
    const device::ControllerRecord* record = c_.Record();
    if (record == nullptr) return Fail(device::kErrNoHandle, false);
    const bool ok = record->FamilyId() == 0xA2 && (record->VariantId() == 0x00 || record->VariantId() == 0x0B) &&
                    record->MatrixX() == 32 && record->MatrixY() == 52;
    if (!ok) return Fail(0, false);
    // The map follows the box tested now, also when the window opened without one.
    if (map_.Columns() != record->MatrixY() || map_.Rows() != record->MatrixX()) {
      map_.SetGridSize(record->MatrixY(), record->MatrixX());
    }
    return true;
  }

  // 3: the user-data object T38 takes the pattern 0, 1, 2, ... and gives it back. Its previous
  // bytes (the station's marks and display style) are put back whatever the comparison gave.
  bool Register() {
    auto turn = c_.Lock();
    device::ControllerLink& link = c_.Link();
    const device::ControllerRecord* record = c_.Record();
    const int n = record ? device::ObjectSize(*record, device::kT38UserData) : 0;
    if (n <= 0) return Fail(0, false);  // no user register to test
    std::vector<std::uint8_t> saved(static_cast<std::size_t>(n), 0);
    int r = device::ReadObject(link, device::kT38UserData, 0, saved);
    if (r != 0) return Fail(r, true);
    std::vector<std::uint8_t> pattern(saved.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> back(saved.size(), 0);
    r = device::WriteObject(link, device::kT38UserData, 0, pattern);
    if (r == 0) r = device::ReadObject(link, device::kT38UserData, 0, back);
    const int restored = device::WriteObject(link, device::kT38UserData, 0, saved);
    if (r != 0) return Fail(r, true);
    if (back != pattern) return Fail(0, false);
    if (restored != 0) return Fail(restored, true);
    // The standard configuration; its writes are not judged (the later steps would show a box
    // that does not take it).
    (void)device::WriteObject(link, device::kT9Touchscreen, 0, kStandardT9);
    (void)device::WriteObject(link, device::kT7Power, 0, kStandardT7);
    return true;
  }

  bool PinFaultTest(std::uint8_t command) {
    auto turn = c_.Lock();
    const device::ControllerRecord* record = c_.Record();
    if (record == nullptr) return Fail(device::kErrNoHandle, false);
    const int r = device::RunPinFaultTest(c_.Link(), *record, command);
    if (r == 0) return true;
    if (command == device::kPinFaultTestCommand) {
      const auto& fault = c_.Link().PinFault();
      shortLine_ = ShortHintLine(fault.kind, fault.xLine, fault.yLine);
    }
    return Fail(r, false);
  }

  // 4: the controller's supply test.
  bool Power() { return PinFaultTest(1); }

  // 5: the pin-fault test for shorts.
  bool Shorts() { return PinFaultTest(device::kPinFaultTestCommand); }

  // 6: one frame of reference values, all within 14000 .. 18000 (19000 with the fixture).
  bool RawData() {
    std::vector<std::int16_t> values(device::kMaxNodes, 0);
    int x = 0, y = 0, r = 0;
    {
      auto turn = c_.Lock();
      const device::ControllerRecord* record = c_.Record();
      r = record ? device::ReadDiagnosticFrame(c_.Link(), *record, values, x, y, kReferenceCommand)
                 : device::kErrNoHandle;
    }
    if (r != 0) return Fail(r, true);
    map_.SetTouchThresholds(kRawLow, kRawHigh);
    map_.Evaluate(ToFrame(values, x, y, false));
    std::int32_t max = 0, min = 0, average = 0;
    map_.GetStatisticsBrief(0, max, min, average);
    const std::int32_t upper = options_.fixture ? kRawHighFixture : kRawHigh;
    char text[160];
    std::snprintf(text, sizeof text, "最大值=%d,最小值=%d,平均值=%d，允许范围%d~%d \r\n", max, min, average, kRawLow,
                  upper);
    view_.Append(ReportPiece::Hints, text);
    if (max > upper || min < kRawLow) return Fail(0, false);
    return true;
  }

  // 7: every node touched once (a signal change below -10) passes; the operator ends the step by
  // touching every node, or by aborting.
  bool Finger() {
    map_.SetAllNodeFlags(0, judging::FlagOp::Set);
    std::vector<std::uint16_t> raw(device::kMaxNodes, 0);
    for (;;) {
      int x = 0, y = 0, r = 0;
      {
        auto turn = c_.Lock();
        const device::ControllerRecord* record = c_.Record();
        r = record ? c_.Link().AcquireFrame(*record, raw, x, y, kDeltaMode) : device::kErrNoHandle;
      }
      if (r != 0) return Fail(r, true);
      std::vector<std::int16_t> values(raw.size());
      std::transform(raw.begin(), raw.end(), values.begin(), [](std::uint16_t v) { return static_cast<std::int16_t>(v); });
      const judging::NodeFrame frame = ToFrame(values, x, y, true);
      map_.SetTouchThresholds(-500, 500);
      map_.Evaluate(frame);
      HideVerdict();
      if (AllPassed()) return true;
      Sleep(200ms);
      if (stop_.stop_requested()) {
        aborted_ = true;
        return false;
      }
    }
  }

  // The frame as the map holds it ([Y line][X line]); the finger test marks touched nodes PASS.
  judging::NodeFrame ToFrame(const std::vector<std::int16_t>& values, int x, int y, bool markTouched) {
    judging::NodeFrame frame(std::max(y, 0), std::max(x, 0));
    for (int xi = 0; xi < x; ++xi) {
      for (int yi = 0; yi < y; ++yi) {
        const std::size_t at = static_cast<std::size_t>(xi) * static_cast<std::size_t>(y) + static_cast<std::size_t>(yi);
        const std::int32_t v = at < values.size() ? values[at] : 0;
        frame(yi, xi) = v;
        if (markTouched && v < kTouchedBelow) map_.SetNodeFlags(yi, xi, yi, xi, PASS, 0, judging::FlagOp::Set);
      }
    }
    return frame;
  }

  bool AllPassed() const {
    const judging::NodeFrame flags = map_.GetFlagsFrame();
    if (flags.Empty()) return false;
    return std::all_of(flags.Data().begin(), flags.Data().end(), [](std::int32_t f) { return f == PASS; });
  }

  ToolConnection& c_;
  judging::NodeMap& map_;
  SelfTestView& view_;
  const SelfTestOptions& options_;
  std::stop_token stop_;
  int step_ = 0;
  int code_ = 0;
  bool accessFailure_ = false;
  bool aborted_ = false;
  std::string hints_;
  std::string shortLine_ = "\r\n";
};

}  // namespace

PieceFormat FormatOf(ReportPiece piece) {
  switch (piece) {
    case ReportPiece::TimeHeader:
      return {false, 200, 0, 0, 155};
    case ReportPiece::StepTitle:
      return {true, 200, 100, 100, 200};
    case ReportPiece::StepPassed:
      return {true, 200, 100, 200, 100};
    case ReportPiece::StepFailed:
      return {true, 200, 255, 100, 100};
    case ReportPiece::Hints:
      return {false, 200, 0, 0, 0};
    case ReportPiece::Release:
      return {true, 400, 100, 155, 100};
    case ReportPiece::Abort:
      return {true, 400, 155, 100, 100};
  }
  return {};
}

std::string ShortHintLine(std::uint8_t kind, std::uint8_t xValue, std::uint8_t yValue) {
  std::string where;
  char part[32];
  if (xValue != 0) {
    std::snprintf(part, sizeof part, "X=%d", xValue - 1);
    where += part;
  }
  if (yValue != 0) {
    std::snprintf(part, sizeof part, "Y=%d", yValue - 1);
    where += part;
  }
  std::string line;
  if (kind == 2) line = "->1：请检查 " + where + " 提示的短路点，请顺着H1或者H2查找【对地短路】";
  if (kind == 3) line = "->1：请检查 " + where + " 提示的短路点，请顺着H1或者H2查找【信号间短路】";
  return line + "\r\n";
}

std::string RepairHints(int step, const std::string& shortLine) {
  std::string text = kHintHead;
  switch (step) {
    case 1:
      text += Hint(1, "请检查USB数据线是否连接好。");
      text += Hint(2, "请检查USB座子是否焊接好(元件P1)。");
      text += Hint(3, "请检查USB数据相关TVS(靠近USB的6PIN IC),R1,R2电阻是否焊接好。");
      text += Hint(4, "请检查USB电源相关F1保险丝,R6是否正常导通。");
      text += Hint(5, "请检查D1（SS14）二极管极性是否正确。");
      text += Hint(6, "请检查底板的三路电源供电是否都是3.3V（U1,U2,U3）。");
      text += Hint(7, "请检查核心板的晶振是否起振(Y1)。");
      text += Hint(8, "请检查核心板的晶振匹配电容是否正确(C18,C19)。");
      break;
    case 2:
    case 3:
      text += Hint(1, kHintBonding);
      text += Hint(2, kHintSoldering);
      break;
    case 4:
      text += Hint(1, "请检查底板的三路电源供电是否都是3.3V（U1,U2,U3）。");
      text += Hint(2, kHintBonding);
      text += Hint(3, kHintSoldering);
      text += Hint(4, "请检查U1,U2,U3相关旁路电容是否有短路情况。");
      break;
    case 5:
      text += shortLine;
      text += Hint(2, kHintBonding);
      text += Hint(3, kHintSoldering);
      break;
    case 6:
      text += Hint(1, kHintBonding);
      text += Hint(2, kHintSoldering);
      text += Hint(3, "请重新插拔一次USB再试。");
      break;
    default:
      return {};
  }
  return text;
}

SelfTestResult RunSelfTest(ToolConnection& connection, judging::NodeMap& map, SelfTestView& view,
                           const SelfTestOptions& options, std::stop_token stop) {
  return Sequence(connection, map, view, options, std::move(stop)).Run();
}

// ---- worker ----------------------------------------------------------------------------------

struct SelfTestWorker::Run {
  std::stop_source stop;  // exists before the thread, so that an abort is never lost
  std::thread thread;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

SelfTestWorker::SelfTestWorker(ToolConnection& connection, judging::NodeMap& map, SelfTestView& view)
    : connection_(connection), map_(map), view_(view) {}

SelfTestWorker::~SelfTestWorker() {
  std::shared_ptr<Run> run;
  {
    std::lock_guard lock(mutex_);
    run = run_;
  }
  if (run) {
    run->stop.request_stop();
    if (run->thread.joinable()) run->thread.join();
  }
}

bool SelfTestWorker::Start(const SelfTestOptions& options, std::chrono::milliseconds previousWait) {
  if (!WaitFinished(previousWait)) return false;
  auto run = std::make_shared<Run>();
  {
    std::lock_guard lock(mutex_);
    if (run_ && run_->thread.joinable()) run_->thread.join();  // finished: joins at once
    run_ = run;
  }
  run->thread = std::thread([this, run, options] {
    const SelfTestResult result = RunSelfTest(connection_, map_, view_, options, run->stop.get_token());
    {
      std::lock_guard lock(mutex_);
      last_ = result;
    }
    std::lock_guard lock(run->mutex);
    run->finished = true;
    run->done.notify_all();
  });
  return true;
}

void SelfTestWorker::RequestAbort() {
  std::lock_guard lock(mutex_);
  if (run_) run_->stop.request_stop();
}

bool SelfTestWorker::WaitFinished(std::chrono::milliseconds wait) {
  std::shared_ptr<Run> run;
  {
    std::lock_guard lock(mutex_);
    run = run_;
  }
  if (!run) return true;
  std::unique_lock lock(run->mutex);
  return run->done.wait_for(lock, wait, [&] { return run->finished; });
}

bool SelfTestWorker::Running() const {
  std::lock_guard lock(mutex_);
  if (!run_) return false;
  std::lock_guard runLock(run_->mutex);
  return !run_->finished;
}

SelfTestResult SelfTestWorker::LastResult() const {
  std::lock_guard lock(mutex_);
  return last_;
}

}  // namespace varnex2::service

namespace varnex2::service {

namespace {

// The report as plain text: every piece as the window shows it, CR LF as one line break.
class PlainReport final : public SelfTestView {
 public:
  explicit PlainReport(std::FILE* out) : out_(out) {}
  void ClearReport() override {}
  void Append(ReportPiece, const std::string& text) override {
    std::lock_guard lock(mutex_);
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      plain += text[i];
    }
    std::fputs(plain.c_str(), out_);
    std::fflush(out_);
  }
  void SetButtons(bool, bool) override {}
  void Repaint() override {}

 private:
  std::FILE* out_;
  std::mutex mutex_;
};

}  // namespace

int RunSelfTestUnattended(ToolConnection& connection, const SelfTestOptions& options,
                          std::chrono::milliseconds limit, std::FILE* out) {
  judging::NodeMap map;
  if (connection.Open() == 0 && connection.Record() != nullptr) {
    map.SetGridSize(connection.Record()->MatrixY(), connection.Record()->MatrixX());
  } else {
    map.SetGridSize(0, 0);
  }
  PlainReport report(out);
  SelfTestWorker worker(connection, map, report);
  worker.Start(options);
  const bool bounded = limit.count() > 0;
  if (!worker.WaitFinished(bounded ? limit : std::chrono::hours(24 * 365))) {
    worker.RequestAbort();
    report.Append(ReportPiece::Abort, kAbortText);
    // The step in progress runs to its end (each controller call is bounded).
    worker.WaitFinished(std::chrono::seconds(30));
    return kSelfTestExitTimedOut;
  }
  return worker.LastResult().outcome == SelfTestOutcome::Passed ? kSelfTestExitPassed : kSelfTestExitFailed;
}

}  // namespace varnex2::service
