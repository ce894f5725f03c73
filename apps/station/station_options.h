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
};

// Arguments without the program name. No argument: the station window; "test"
// or "recover": that tool; --simulate[=SCENARIO] and the hidden --quit-after=SECONDS
// (with the hidden --screenshot=FILE) go with the station window; --help or -h
// anywhere: the usage text. Anything else gives mode Unknown.
StationOptions ParseStationOptions(const std::vector<std::string>& args);

// What `varnex2 --help` prints.
extern const char* const kUsageText;

}  // namespace varnex2::station
