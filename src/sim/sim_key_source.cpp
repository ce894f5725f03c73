#include "sim/sim_key_source.h"

#include <chrono>
#include <cstring>

namespace varnex2::sim {

namespace {

using platform::KeyEvent;

constexpr std::uint16_t kKeyEnter = 28;
constexpr std::uint16_t kKeyTab = 15;
constexpr std::uint16_t kKeySpace = 57;
constexpr std::uint16_t kKeyLeftShift = 42;
constexpr std::uint16_t kKeyLeftCtrl = 29;
constexpr std::uint16_t kKeyJ = 36;
constexpr const char* kDevice = "simulated scanner";

struct Stroke {
  std::uint16_t code = 0;
  bool shift = false;
};

// evdev codes of the letter keys, 'a' to 'z'.
constexpr std::uint16_t kLetters[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                        49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
// The digit row, '0' then '1' to '9'.
constexpr std::uint16_t kDigits[10] = {11, 2, 3, 4, 5, 6, 7, 8, 9, 10};

bool StrokeOf(char c, Stroke& s) {
  if (c >= 'a' && c <= 'z') {
    s = {kLetters[c - 'a'], false};
    return true;
  }
  if (c >= 'A' && c <= 'Z') {
    s = {kLetters[c - 'A'], true};
    return true;
  }
  if (c >= '0' && c <= '9') {
    s = {kDigits[c - '0'], false};
    return true;
  }
  static constexpr struct {
    char c;
    std::uint16_t code;
    bool shift;
  } kOthers[] = {
      {' ', kKeySpace, false}, {'-', 12, false}, {'_', 12, true},  {'=', 13, false}, {'+', 13, true},
      {'[', 26, false},        {'{', 26, true},  {']', 27, false}, {'}', 27, true},  {';', 39, false},
      {':', 39, true},         {'\'', 40, false}, {'"', 40, true}, {'`', 41, false}, {'~', 41, true},
      {'\\', 43, false},       {'|', 43, true},  {',', 51, false}, {'<', 51, true},  {'.', 52, false},
      {'>', 52, true},         {'/', 53, false}, {'?', 53, true},  {'!', 2, true},   {'@', 3, true},
      {'#', 4, true},          {'$', 5, true},   {'%', 6, true},   {'^', 7, true},   {'&', 8, true},
      {'*', 9, true},          {'(', 10, true},  {')', 11, true},
  };
  for (const auto& o : kOthers) {
    if (o.c == c) {
      s = {o.code, o.shift};
      return true;
    }
  }
  return false;
}

KeyEvent Event(std::uint16_t code, KeyEvent::Action action, char32_t character = 0) {
  KeyEvent e;
  e.code = code;
  e.action = action;
  e.character = action == KeyEvent::Action::Release ? 0 : character;
  e.device = kDevice;
  return e;
}

void Press(std::vector<KeyEvent>& out, std::uint16_t code, char32_t character) {
  out.push_back(Event(code, KeyEvent::Action::Press, character));
  out.push_back(Event(code, KeyEvent::Action::Release));
}

}  // namespace

std::vector<KeyEvent> KeyStrokesOf(std::string_view text) {
  std::vector<KeyEvent> out;
  for (const char c : text) {
    if (c == '\r') {
      Press(out, kKeyEnter, U'\r');
    } else if (c == '\n') {
      out.push_back(Event(kKeyLeftCtrl, KeyEvent::Action::Press));
      Press(out, kKeyJ, U'\n');
      out.push_back(Event(kKeyLeftCtrl, KeyEvent::Action::Release));
    } else if (c == '\t') {
      Press(out, kKeyTab, U'\t');
    } else if (Stroke s; StrokeOf(c, s)) {
      if (s.shift) out.push_back(Event(kKeyLeftShift, KeyEvent::Action::Press));
      Press(out, s.code, static_cast<char32_t>(static_cast<unsigned char>(c)));
      if (s.shift) out.push_back(Event(kKeyLeftShift, KeyEvent::Action::Release));
    }
  }
  return out;
}

SimKeySource::~SimKeySource() { Stop(); }

bool SimKeySource::Start(Handler handler) {
  std::lock_guard lock(mutex_);
  if (running_) return false;
  handler_ = std::move(handler);
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void SimKeySource::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    running_ = false;
    queue_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  handler_ = nullptr;
}

int SimKeySource::KeyboardCount() const {
  std::lock_guard lock(mutex_);
  return running_ ? 1 : 0;
}

bool SimKeySource::Type(std::string_view text) {
  const std::vector<KeyEvent> strokes = KeyStrokesOf(text);
  {
    std::lock_guard lock(mutex_);
    if (!running_) return false;
    queue_.insert(queue_.end(), strokes.begin(), strokes.end());
  }
  changed_.notify_all();
  return true;
}

bool SimKeySource::WaitIdle(int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !running_ || (queue_.empty() && !busy_); });
}

void SimKeySource::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !running_ || !queue_.empty(); });
    if (!running_) return;
    const KeyEvent event = queue_.front();
    queue_.pop_front();
    busy_ = true;
    Handler handler = handler_;
    lock.unlock();
    if (handler) handler(event);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace varnex2::sim
