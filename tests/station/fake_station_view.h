#pragma once
// A StationView for the core's tests: a "window thread" of its own that runs
// posted and sent calls in order, and a record of everything the core showed.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "station/station_view.h"
#include "judging/node_map.h"

namespace varnex2::station::testing {

struct Repaint {
  std::string verdict;
  int pass = 0;
  int fail = 0;
  std::string notice;
  bool noticeShown = false;
  int output = -1;     // the box's output when the repaint ran (-1: not observed)
  int shortNodes = 0;  // nodes carrying a short mark
};

struct Pane {
  int pane = 0;
  std::string text;
  std::uint32_t text_colour = 0;
  std::uint32_t back_colour = 0;
};

class FakeView final : public StationView {
 public:
  explicit FakeView(judging::NodeMap& grid) : grid_(grid) {
    thread_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
  }
  ~FakeView() override { Close(); }

  // Ends the window thread; later sends return false.
  void Close() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // Runs `call` on the window thread and waits for it (for the test's own use).
  void Run(const std::function<void()>& call) { Send(call); }

  // The box output read at every repaint.
  void SetOutputProbe(std::function<int()> probe) {
    std::lock_guard lock(record_);
    probe_ = std::move(probe);
  }

  void Post(std::function<void()> call) override {
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    Enqueue(job);
  }

  bool Send(std::function<void()> call, std::stop_token stop = {}) override {
    if (std::this_thread::get_id() == thread_.get_id()) {
      call();
      return true;
    }
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    job->sent = true;
    if (!Enqueue(job)) return false;
    std::unique_lock lock(mutex_);
    doneCv_.wait(lock, stop, [&] { return job->state == Job::Done || closing_; });
    if (job->state == Job::Pending) {
      job->state = Job::Cancelled;
      return false;
    }
    // Running: the call refers to the sender's data, so wait for it to end.
    doneCv_.wait(lock, [&] { return job->state == Job::Done; });
    return true;
  }

  void SetTitle(const std::string& title) override {
    std::lock_guard lock(record_);
    titles.push_back(title);
  }
  void SetStatusPane(int pane, const std::string& text, std::uint32_t textColour, std::uint32_t backColour) override {
    std::lock_guard lock(record_);
    panes.push_back({pane, text, textColour, backColour});
  }
  void SetStatusPaneWidth(int pane, int width) override {
    std::lock_guard lock(record_);
    paneWidths.emplace_back(pane, width);
  }
  void EnableTopMenus(bool enabled) override {
    std::lock_guard lock(record_);
    menus.push_back(enabled);
  }
  void RepaintGrid() override {
    if (const int delay = slowRepaintMs.exchange(0); delay > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    Repaint r;
    r.verdict = grid_.FixVerdict();
    r.pass = grid_.GetColorGridCounterPass();
    r.fail = grid_.GetColorGridCounterFail();
    {
      std::lock_guard lock(grid_.Mutex());
      r.notice = grid_.NoticeLabel().strText;
      r.noticeShown = grid_.NoticeLabel().bShown;
      const judging::NodeFrame flagsFrame = grid_.GetFlagsFrame();
      for (std::int32_t flags : flagsFrame.Data())
        if (flags & judging::NodeFlag::SHORT_ANY) ++r.shortNodes;
    }
    std::lock_guard lock(record_);
    if (probe_) r.output = probe_();
    repaints.push_back(r);
  }
  void ShowMessage(const std::string& text, MessageIcon) override {
    std::lock_guard lock(record_);
    messages.push_back(text);
  }
  void ExitProgram(int code) override {
    std::lock_guard lock(record_);
    exitCodes.push_back(code);
  }

  // Copies of the record (safe from the test thread).
  template <typename T>
  T Get(const T& field) {
    std::lock_guard lock(record_);
    return field;
  }
  std::size_t RepaintCount() {
    std::lock_guard lock(record_);
    return repaints.size();
  }

  // The next repaint takes this long (a window busy painting).
  std::atomic<int> slowRepaintMs{0};

  std::vector<std::string> titles;
  std::vector<Pane> panes;
  std::vector<std::pair<int, int>> paneWidths;
  std::vector<bool> menus;
  std::vector<Repaint> repaints;
  std::vector<std::string> messages;
  std::vector<int> exitCodes;

 private:
  struct Job {
    enum State { Pending, Running, Done, Cancelled };
    std::function<void()> call;
    bool sent = false;
    State state = Pending;
  };

  bool Enqueue(const std::shared_ptr<Job>& job) {
    {
      std::lock_guard lock(mutex_);
      if (closing_) return false;
      queue_.push_back(job);
    }
    cv_.notify_all();
    return true;
  }

  void Loop(std::stop_token) {
    for (;;) {
      std::shared_ptr<Job> job;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) break;
        job = queue_.front();
        queue_.pop_front();
        if (job->state == Job::Cancelled) continue;
        job->state = Job::Running;
      }
      job->call();
      {
        std::lock_guard lock(mutex_);
        job->state = Job::Done;
      }
      doneCv_.notify_all();
    }
    // Closing: nothing queued runs any more.
    std::lock_guard lock(mutex_);
    queue_.clear();
  }

  judging::NodeMap& grid_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable_any doneCv_;
  std::deque<std::shared_ptr<Job>> queue_;
  bool closing_ = false;
  std::mutex record_;
  std::function<int()> probe_;
  std::jthread thread_;
};

}  // namespace varnex2::station::testing
