#pragma once
// KeySource: the keyboards of the whole desktop, read without taking them away
// from it (a keyboard-wedge barcode scanner is one of them). Every key press,
// auto-repeat and release reaches the handler with the key's evdev code and the
// character the user's keyboard layout gives it at that moment.
//
// Threads: Start and Stop on one thread; the handler runs on the source's own
// reading thread, never after Stop has returned.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace varnex2::platform {

struct KeyEvent {
  enum class Action { Release = 0, Press = 1, Repeat = 2 };
  std::uint16_t code = 0;  // evdev key code (KEY_A = 30, KEY_ENTER = 28, ...)
  Action action = Action::Press;
  // The character the layout gives this key with the device's current
  // modifiers (Shift, Caps Lock, Num Lock...), as a Unicode code point; 0 when
  // it gives none (modifiers, function keys, releases).
  char32_t character = 0;
  std::string device;  // the device node it came from, e.g. "/dev/input/event3"
};

class KeySource {
 public:
  using Handler = std::function<void(const KeyEvent& key)>;
  virtual ~KeySource() = default;

  // Starts reading every keyboard present now and every one plugged in later.
  // Returns true when reading has started, even with no keyboard readable yet
  // (one may be plugged in); false when the source cannot work at all.
  virtual bool Start(Handler handler) = 0;
  // Stops reading; returns within a bounded time. Safe to call twice.
  virtual void Stop() = 0;
  // How many keyboards are being read now.
  virtual int KeyboardCount() const = 0;
  // Why keyboards that exist cannot be read (e.g. no permission on
  // /dev/input/event3), in one line for the operator; empty when none is refused.
  virtual std::string Problem() const = 0;
};

// The desktop's keyboards through evdev (never grabbed) and libxkbcommon.
std::unique_ptr<KeySource> CreateEvdevKeySource();

// The keyboard layout keys are translated with, as XKB rule names (empty: the rules' default).
struct KeyboardLayout {
  std::string model;
  std::string layout;
  std::string variant;
  std::string options;
};

// The user's layout: XKB_DEFAULT_LAYOUT (with XKB_DEFAULT_MODEL/VARIANT/OPTIONS) when set, else
// XKBLAYOUT (with XKBMODEL/XKBVARIANT/XKBOPTIONS) from `defaultsFile` (the system's
// /etc/default/keyboard) when it names one, else "us".
KeyboardLayout UserKeyboardLayout(const std::string& defaultsFile = "/etc/default/keyboard");

}  // namespace varnex2::platform
