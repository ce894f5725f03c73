#include "simbox_options.h"

namespace varnex2::simbox {

const char* SimboxUsage() {
  return "usage: varnex2-simbox [--scenario FILE|NAME] [--paced] -- COMMAND [ARG...]\n"
         "Runs COMMAND against the simulated test box, emulated as USB devices (umockdev).\n"
         "Scenario scan steps arrive on a serial port whose path is in VARNEX2_SIM_SCANNER_PORT.\n"
         "The exit status is the command's.\n";
}

bool ParseSimboxOptions(const std::vector<std::string>& args, SimboxOptions& out, std::string& error) {
  out = {};
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--help" || a == "-h") {
      out.help = true;
      return true;
    }
    if (a == "--paced") {
      out.paced = true;
    } else if (a == "--scenario" || a.rfind("--scenario=", 0) == 0) {
      if (a == "--scenario") {
        if (i + 1 >= args.size()) {
          error = "--scenario needs a file or a scenario name";
          return false;
        }
        out.scenario = args[++i];
      } else {
        out.scenario = a.substr(sizeof("--scenario=") - 1);
      }
      if (out.scenario.empty()) {
        error = "--scenario needs a file or a scenario name";
        return false;
      }
    } else {
      error = "unknown option: " + a + " (the command follows \"--\")";
      return false;
    }
  }
  out.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (out.command.empty()) {
    error = "no command given";
    return false;
  }
  return true;
}

}  // namespace varnex2::simbox
