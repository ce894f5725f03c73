#pragma once
// ThreadMailbox: calls from worker and monitor threads onto a window's thread. Post() queues the
// call under a standard mutex; a timer of the window's thread runs what has been queued. No Qt
// object is touched off its thread, and every hand-over is one the thread checker can see.

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <mutex>

namespace varnex2::tools {

class ThreadMailbox : public QObject {
 public:
  // `owner` (the window) lives on the thread that runs the calls; the mailbox is its child.
  explicit ThreadMailbox(QObject* owner, int intervalMs = 20);

  // Any thread.
  void Post(std::function<void()> call);
  // The owner's thread: runs every queued call in order (the timer does this by itself).
  void RunPending();

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  QTimer timer_;
};

}  // namespace varnex2::tools
