#include "tools/thread_mailbox.h"

namespace varnex2::tools {

ThreadMailbox::ThreadMailbox(QObject* owner, int intervalMs) : QObject(owner) {
  timer_.setInterval(intervalMs);
  connect(&timer_, &QTimer::timeout, this, &ThreadMailbox::RunPending);
  timer_.start();
}

void ThreadMailbox::Post(std::function<void()> call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

void ThreadMailbox::RunPending() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard lock(mutex_);
    calls.swap(calls_);
  }
  // A call may open a modal box that runs the event loop: later calls wait for the next tick.
  for (auto& call : calls) call();
}

}  // namespace varnex2::tools
