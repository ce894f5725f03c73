// KeySource on the evdev nodes of the desktop's keyboards: found and followed with libudev, read
// without grabbing (the desktop still gets every key), translated with libxkbcommon.

#include <fcntl.h>
#include <libudev.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/key_source.h"

namespace varnex2::platform {
namespace {

constexpr int kPollSliceMs = 250;
// Keyboards refused at open are tried again this often: access can come without a uevent (the
// session's ACL given back at a user switch, a group changed).
constexpr auto kRetryRefused = std::chrono::seconds(2);
// evdev codes are XKB keycodes minus 8 (the X11 convention the evdev keymaps follow).
constexpr xkb_keycode_t kXkbKeycodeOffset = 8;
constexpr std::size_t kEventsPerRead = 64;
constexpr const char* kEventNodePrefix = "/dev/input/event";
constexpr const char* kRuleFile = "70-varnex2-keyboards.rules";

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// The value of a shell assignment's right-hand side: quotes removed, an unquoted value ends at
// blanks or a comment.
std::string ShellValue(const std::string& text) {
  if (text.empty()) return "";
  const char quote = text[0];
  if (quote == '"' || quote == '\'') {
    const std::size_t end = text.find(quote, 1);
    return text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return text.substr(0, text.find_first_of(" \t#"));
}

std::map<std::string, std::string> ReadShellAssignments(const std::string& path) {
  std::map<std::string, std::string> values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line.erase(0, start);
    if (line.rfind("export ", 0) == 0) line.erase(0, 7);
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    values[line.substr(0, eq)] = ShellValue(line.substr(eq + 1));
  }
  return values;
}

bool IsKeyboardNode(udev_device* dev) {
  const char* keyboard = udev_device_get_property_value(dev, "ID_INPUT_KEYBOARD");
  const char* node = udev_device_get_devnode(dev);
  return keyboard != nullptr && std::strcmp(keyboard, "1") == 0 && node != nullptr &&
         std::strncmp(node, kEventNodePrefix, std::strlen(kEventNodePrefix)) == 0;
}

struct Keyboard {
  std::string devnode;
  int fd = -1;
  xkb_state* state = nullptr;  // own per device: a scanner's Shift is its own
  // Bytes of an input_event not yet complete (evdev hands whole records, other nodes may not).
  unsigned char partial[sizeof(input_event)] = {};
  std::size_t partialSize = 0;

  Keyboard() = default;
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;
  ~Keyboard() {
    if (state != nullptr) xkb_state_unref(state);
    if (fd >= 0) close(fd);
  }
};

class EvdevKeySource final : public KeySource {
 public:
  ~EvdevKeySource() override { Stop(); }

  bool Start(Handler handler) override {
    std::lock_guard lock(startStop_);
    if (thread_.joinable()) return false;
    udev_ = udev_new();
    if (udev_ == nullptr) return false;
    // The monitor listens before the enumeration: a keyboard plugged in between is not missed
    // (one seen twice is opened once).
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
      Release();
      return false;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
      Release();
      return false;
    }
    {
      std::lock_guard problemLock(problemMutex_);
      keymapProblem_.clear();
      refused_.clear();
    }
    LoadKeymap();
    OpenPresentKeyboards();
    handler_ = std::move(handler);
    stop_.store(false);
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() override {
    std::lock_guard lock(startStop_);
    if (!thread_.joinable()) return;
    stop_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = write(wakeFd_, &one, sizeof one);
    thread_.join();
    handler_ = nullptr;
    Release();
  }

  int KeyboardCount() const override { return count_.load(); }

  std::string Problem() const override {
    std::lock_guard lock(problemMutex_);
    std::string text = keymapProblem_;
    std::vector<std::string> denied;
    for (const auto& [node, error] : refused_) {
      if (error == EACCES || error == EPERM) {
        denied.push_back(node);
        continue;
      }
      if (!text.empty()) text += "; ";
      text += "cannot read the keyboard " + node + ": " + std::strerror(error);
    }
    if (!denied.empty()) {
      if (!text.empty()) text += "; ";
      text += denied.size() == 1 ? "no permission to read the keyboard " : "no permission to read the keyboards ";
      for (std::size_t i = 0; i < denied.size(); ++i) text += (i > 0 ? ", " : "") + denied[i];
      text += std::string(": add the station's user to the group \"input\" (then log in again) or install the udev rule ") +
              kRuleFile + " (then run \"udevadm trigger\" or restart)";
    }
    return text;
  }

 private:
  void Release() {
    keyboards_.clear();
    count_.store(0);
    if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
    keymap_ = nullptr;
    if (xkb_ != nullptr) xkb_context_unref(xkb_);
    xkb_ = nullptr;
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    if (udev_ != nullptr) udev_unref(udev_);
    udev_ = nullptr;
  }

  // Without a keymap the codes still flow, with no characters.
  void LoadKeymap() {
    const KeyboardLayout layout = UserKeyboardLayout();
    // The layout is chosen above; xkbcommon must not pick its own from the environment.
    xkb_ = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (xkb_ != nullptr) {
      xkb_rule_names names{};
      names.model = layout.model.empty() ? nullptr : layout.model.c_str();
      names.layout = layout.layout.c_str();
      names.variant = layout.variant.empty() ? nullptr : layout.variant.c_str();
      names.options = layout.options.empty() ? nullptr : layout.options.c_str();
      keymap_ = xkb_keymap_new_from_names(xkb_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    if (keymap_ == nullptr) {
      std::lock_guard lock(problemMutex_);
      keymapProblem_ = "the keyboard layout \"" + layout.layout +
                       "\" cannot be loaded (is xkb-data installed?): keys are read without their characters";
    }
  }

  void OpenPresentKeyboards() {
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (e == nullptr) return;
    udev_enumerate_add_match_subsystem(e, "input");
    udev_enumerate_add_match_property(e, "ID_INPUT_KEYBOARD", "1");
    if (udev_enumerate_scan_devices(e) == 0) {
      udev_list_entry* entry = nullptr;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
        if (dev == nullptr) continue;
        if (IsKeyboardNode(dev)) Open(udev_device_get_devnode(dev));
        udev_device_unref(dev);
      }
    }
    udev_enumerate_unref(e);
  }

  void Open(const std::string& devnode) {
    if (keyboards_.count(devnode) != 0) return;
    // Read-only and never EVIOCGRAB: the desktop keeps receiving the keys.
    const int fd = open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      std::lock_guard lock(problemMutex_);
      refused_[devnode] = error;
      return;
    }
    auto keyboard = std::make_unique<Keyboard>();
    keyboard->devnode = devnode;
    keyboard->fd = fd;
    if (keymap_ != nullptr) keyboard->state = xkb_state_new(keymap_);
    keyboards_[devnode] = std::move(keyboard);
    count_.store(static_cast<int>(keyboards_.size()));
    std::lock_guard lock(problemMutex_);
    refused_.erase(devnode);
  }

  void Forget(const std::string& devnode) {
    keyboards_.erase(devnode);
    count_.store(static_cast<int>(keyboards_.size()));
    std::lock_guard lock(problemMutex_);
    refused_.erase(devnode);
  }

  void Run() {
    const int monitorFd = udev_monitor_get_fd(monitor_);
    std::vector<pollfd> fds;
    std::vector<Keyboard*> polled;
    auto lastRetry = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      if (std::chrono::steady_clock::now() - lastRetry >= kRetryRefused) {
        RetryRefused();
        lastRetry = std::chrono::steady_clock::now();
      }
      fds.assign({{wakeFd_, POLLIN, 0}, {monitorFd, POLLIN, 0}});
      polled.clear();
      for (const auto& [node, keyboard] : keyboards_) {
        fds.push_back({keyboard->fd, POLLIN, 0});
        polled.push_back(keyboard.get());
      }
      const int rc = poll(fds.data(), fds.size(), kPollSliceMs);
      if (stop_.load()) break;
      if (rc <= 0) continue;
      // Keys first: a keyboard removed in this round may still hold keys typed before.
      std::vector<std::string> gone;
      for (std::size_t i = 0; i < polled.size(); ++i) {
        if (fds[i + 2].revents != 0 && !ReadKeys(*polled[i], fds[i + 2].revents)) gone.push_back(polled[i]->devnode);
      }
      for (const auto& node : gone) Forget(node);
      if ((fds[1].revents & POLLIN) != 0) HandleUevent();
    }
  }

  void RetryRefused() {
    std::vector<std::string> nodes;
    {
      std::lock_guard lock(problemMutex_);
      for (const auto& [node, error] : refused_) nodes.push_back(node);
    }
    for (const auto& node : nodes) Open(node);
  }

  // Reads what is there and reports its keys; false when the keyboard is gone (unplugged:
  // ENODEV/EIO, end of file, or a hang-up or error with nothing left to read). A node that stays
  // ready without giving anything is dropped rather than polled in a busy loop.
  bool ReadKeys(Keyboard& keyboard, short revents) {
    if ((revents & POLLNVAL) != 0) return false;
    unsigned char buffer[kEventsPerRead * sizeof(input_event)];
    std::memcpy(buffer, keyboard.partial, keyboard.partialSize);
    const ssize_t n = read(keyboard.fd, buffer + keyboard.partialSize, sizeof buffer - keyboard.partialSize);
    if (n < 0 && errno == EINTR) return true;
    if (n < 0) return errno == EAGAIN && (revents & (POLLHUP | POLLERR)) == 0;
    if (n == 0) return false;
    const std::size_t total = keyboard.partialSize + static_cast<std::size_t>(n);
    const std::size_t whole = total - total % sizeof(input_event);
    for (std::size_t at = 0; at < whole; at += sizeof(input_event)) {
      input_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      if (event.type == EV_KEY && event.value >= 0 && event.value <= 2) Report(keyboard, event);
    }
    keyboard.partialSize = total - whole;
    std::memcpy(keyboard.partial, buffer + whole, keyboard.partialSize);
    return true;
  }

  void Report(Keyboard& keyboard, const input_event& event) {
    KeyEvent key;
    key.code = event.code;
    key.action = static_cast<KeyEvent::Action>(event.value);
    key.device = keyboard.devnode;
    if (keyboard.state != nullptr) {
      const xkb_keycode_t keycode = event.code + kXkbKeycodeOffset;
      // The character is the one the modifiers held before this key gave (Shift itself gives
      // none); a repeat changes no state.
      if (key.action != KeyEvent::Action::Release) key.character = xkb_state_key_get_utf32(keyboard.state, keycode);
      if (key.action == KeyEvent::Action::Press) xkb_state_update_key(keyboard.state, keycode, XKB_KEY_DOWN);
      if (key.action == KeyEvent::Action::Release) xkb_state_update_key(keyboard.state, keycode, XKB_KEY_UP);
    }
    try {
      if (handler_) handler_(key);
    } catch (...) {
      // The handler's fault must not end the reading of every keyboard.
    }
  }

  void HandleUevent() {
    udev_device* dev = udev_monitor_receive_device(monitor_);
    if (dev == nullptr) return;
    const char* action = udev_device_get_action(dev);
    const char* node = udev_device_get_devnode(dev);
    if (action != nullptr && node != nullptr) {
      // "change" also comes after the rules were applied again (udevadm trigger): a keyboard
      // refused so far may be readable now.
      if ((std::strcmp(action, "add") == 0 || std::strcmp(action, "change") == 0) && IsKeyboardNode(dev)) {
        Open(node);
      } else if (std::strcmp(action, "remove") == 0) {
        Forget(node);
      }
    }
    udev_device_unref(dev);
  }

  std::mutex startStop_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int wakeFd_ = -1;
  xkb_context* xkb_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  Handler handler_;
  // devnode → keyboard (reading thread only once started)
  std::map<std::string, std::unique_ptr<Keyboard>> keyboards_;

  mutable std::mutex problemMutex_;
  std::string keymapProblem_;
  std::map<std::string, int> refused_;  // devnode → errno of its open
};

}  // namespace

KeyboardLayout UserKeyboardLayout(const std::string& defaultsFile) {
  KeyboardLayout names;
  names.layout = EnvOrEmpty("XKB_DEFAULT_LAYOUT");
  if (!names.layout.empty()) {
    names.model = EnvOrEmpty("XKB_DEFAULT_MODEL");
    names.variant = EnvOrEmpty("XKB_DEFAULT_VARIANT");
    names.options = EnvOrEmpty("XKB_DEFAULT_OPTIONS");
    return names;
  }
  auto values = ReadShellAssignments(defaultsFile);
  names.layout = values["XKBLAYOUT"];
  if (!names.layout.empty()) {
    names.model = values["XKBMODEL"];
    names.variant = values["XKBVARIANT"];
    names.options = values["XKBOPTIONS"];
    return names;
  }
  names.layout = "us";
  return names;
}

std::unique_ptr<KeySource> CreateEvdevKeySource() { return std::make_unique<EvdevKeySource>(); }

}  // namespace varnex2::platform
