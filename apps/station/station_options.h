#pragma once
// The varnex2 command line.

#include <string>
#include <vector>

namespace varnex2::station {

enum class RunMode { Station, SelfTest, Recover, Help, Unknown };

struct StationOptions {
  RunMode mode = RunMode::Station;
  bool simulate = false;
  std::string scenario;  // built-in name or file; empty: the production scenario
  // Automated runs: close the window after this many seconds and print what was
  // judged (0: run until the operator closes the window).
  double quitAfterSeconds = 0;
  // Automated runs: the window is saved as a PNG here just before it closes.
  std::string screenshot;

  // `test`: --run starts the sequence at once without a window (report on stdout);
  // --fixture checks "使用测试治具进行测试".
  bool run = false;
  bool fixture = false;
  // `recover`: --switch=old|new performs that switch without a window.
  enum class Switch { None, Old, New } switchTo = Switch::None;

  // The tool modes that open no window.
  bool Unattended() const {
    return (mode == RunMode::SelfTest && run) || (mode == RunMode::Recover && switchTo != Switch::None);
  }
};

// Arguments without the program name. No argument: the station window; "test"
// or "recover": that tool. --simulate[=SCENARIO], --quit-after=SECONDS and the hidden
// --screenshot=FILE go with every mode; --run and --fixture only with "test",
// --switch=old|new only with "recover"; --help or -h anywhere: the usage text.
// Anything else gives mode Unknown.
StationOptions ParseStationOptions(const std::vector<std::string>& args);

// What `varnex2 --help` prints.
extern const char* const kUsageText;

}  // namespace varnex2::station
