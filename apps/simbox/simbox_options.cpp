#include "simbox_options.h"

#include <algorithm>
#include <charconv>

namespace varnex2::simbox {

const char* SimboxUsage() {
  return "usage: varnex2-simbox [--scenario FILE|NAME] [--paced] [--firmware=1.0|1.1|1.2|2.0]\n"
         "                      [--report-objects=TYPE[,TYPE...]] -- COMMAND [ARG...]\n"
         "Runs COMMAND against the simulated test box, emulated as USB devices (umockdev).\n"
         "--firmware chooses the controller's firmware version (default 2.0); --report-objects prints\n"
         "instance 0 of those configuration objects after COMMAND has ended (\"T9=81 00 ...\").\n"
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
    } else if (a.rfind("--firmware=", 0) == 0) {
      out.firmware = a.substr(sizeof("--firmware=") - 1);
      if (out.firmware != "1.0" && out.firmware != "1.1" && out.firmware != "1.2" && out.firmware != "2.0") {
        error = "--firmware takes 1.0, 1.1, 1.2 or 2.0";
        return false;
      }
    } else if (a.rfind("--report-objects=", 0) == 0) {
      const std::string list = a.substr(sizeof("--report-objects=") - 1);
      std::size_t at = 0;
      while (at <= list.size()) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, end - at);
        int type = 0;
        const auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), type);
        if (item.empty() || ec != std::errc() || ptr != item.data() + item.size() || type < 1 || type > 255) {
          error = "--report-objects takes object type numbers separated by commas";
          return false;
        }
        out.reportObjects.push_back(type);
        at = end + 1;
      }
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
