#pragma once
// What the station core needs of its window. The station window implements it;
// tests implement it with a recording fake.
//
// Threads: Post and Send may be called from any thread. Every other member is
// called on the window thread only (the core wraps calls from worker threads in
// Send or Post).

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

namespace varnex2::station {

// Colours as 0x00BBGGRR values (the byte order the texts of the station use).
inline constexpr std::uint32_t kColourWhite = 0xFFFFFF;
inline constexpr std::uint32_t kColourGrey = 0x808080;
inline constexpr std::uint32_t kColourGreen = 0x008000;
inline constexpr std::uint32_t kColourDarkRed = 0x000080;
inline constexpr std::uint32_t kColourRed = 0x0000FF;

enum class MessageIcon { Information, Warning, Error };

class StationView {
 public:
  virtual ~StationView() = default;

  // A posted call: queued onto the window thread, returns at once.
  virtual void Post(std::function<void()> call) = 0;
  // A sent call: runs on the window thread and returns after it has run (true).
  // Runs directly when called on the window thread. Returns false without
  // having run it when `stop` is requested first or the window is closing, so
  // a sender never waits on a window that is itself waiting for the sender.
  virtual bool Send(std::function<void()> call, std::stop_token stop = {}) = 0;

  // Base title ("Varnex2 - 设备已连接", "Varnex2 - 设备未连接", "DBT_DEVTYP_OEM").
  virtual void SetTitle(const std::string& title) = 0;
  // Status-bar pane 0, 1 or 2 (the last pane); text centred in panes 0 and 1.
  virtual void SetStatusPane(int pane, const std::string& text, std::uint32_t textColour, std::uint32_t backColour) = 0;
  virtual void SetStatusPaneWidth(int pane, int width) = 0;
  // Enables or greys the first three top-level menus ("文件", "编辑", "工具").
  virtual void EnableTopMenus(bool enabled) = 0;
  // Repaints the node map now (the paint fixes and counts the verdict).
  virtual void RepaintGrid() = 0;
  // Modal message box with an empty caption; returns when the operator closed it.
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // The same with a caption ("COM InitPort Error"); the default drops the caption.
  virtual void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) {
    (void)caption;
    ShowMessage(text, icon);
  }
  // The beep of a written record (1000 Hz, 100 ms), or the error sound of a record
  // that could not be written.
  enum class Sound { RecordWritten, RecordFailed };
  virtual void PlaySound(Sound /*sound*/) {}
  // The test-record notice beside the status panes: a record that could not be
  // written (error, stays until the next record is written) or what was written.
  virtual void ShowRecordNotice(const std::string& /*text*/, bool /*error*/) {}
  // Ends the program with this exit code (after a fatal message).
  virtual void ExitProgram(int code) = 0;

  // The cycle's debugging trace (any thread). Silent unless the view switches it on;
  // the cycle only builds the text when it is.
  virtual bool CycleTraceEnabled() const { return false; }
  virtual void CycleTrace(const std::string& /*line*/) {}
};

}  // namespace varnex2::station
