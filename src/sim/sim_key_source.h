#pragma once
// SimKeySource: a keyboard-wedge barcode scanner as the station's key source
// sees it. Type() turns a code (with its suffix) into the key presses and
// releases a scanner with a US layout sends, delivered on the source's own
// thread like a real keyboard's.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/key_source.h"

namespace varnex2::sim {

// The key strokes that type `text` on a US layout: each character becomes its key's
// press (carrying the character) and release, wrapped in Left Shift for the shifted
// ones; CR is Enter, LF is Ctrl+J, TAB is Tab. Characters a US keyboard cannot type are
// skipped.
std::vector<platform::KeyEvent> KeyStrokesOf(std::string_view text);

class SimKeySource final : public platform::KeySource {
 public:
  SimKeySource() = default;
  ~SimKeySource() override;

  bool Start(Handler handler) override;
  void Stop() override;
  int KeyboardCount() const override;
  std::string Problem() const override { return {}; }

  // Queues the strokes of `text`; false when the source is not started.
  bool Type(std::string_view text);
  // Waits (at most `timeoutMs`) until every queued stroke has been handled.
  bool WaitIdle(int timeoutMs);

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<platform::KeyEvent> queue_;
  Handler handler_;
  bool running_ = false;
  bool busy_ = false;
  std::thread thread_;
};

}  // namespace varnex2::sim
