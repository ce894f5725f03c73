#pragma once
// Command line of varnex2-simbox.

#include <string>
#include <vector>

namespace varnex2::simbox {

struct SimboxOptions {
  std::string scenario;  // a file, or the name of a built-in scenario; empty: none
  bool paced = false;    // one report per millisecond, like the real endpoints
  bool help = false;
  // The controller's firmware: "1.0", "1.1", "1.2" or "2.0" (the default).
  std::string firmware;
  // Object types whose instance 0 is printed on stdout after the command ("T9=81 00 ...").
  std::vector<int> reportObjects;
  std::vector<std::string> command;  // what runs against the box
};

// Parses argv[1..]. False with `error` filled on a malformed line.
bool ParseSimboxOptions(const std::vector<std::string>& args, SimboxOptions& out, std::string& error);

const char* SimboxUsage();

}  // namespace varnex2::simbox
