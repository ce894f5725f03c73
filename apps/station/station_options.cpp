#include "station_options.h"

#include <charconv>
#include <cmath>

namespace varnex2::station {

namespace {

bool ParseSeconds(const std::string& text, double& out) {
  const char* end = text.data() + text.size();
  double value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value) || value <= 0 || value > 7 * 24 * 3600) {
    return false;
  }
  out = value;
  return true;
}

}  // namespace

const char* const kUsageText =
    "用法: varnex2 [--simulate[=场景]]\n"
    "      varnex2 test | recover\n"
    "      varnex2 --help\n"
    "\n"
    "  (无参数)             在 USB 测试盒上运行测试站 (每个用户同时只能运行一个)\n"
    "  --simulate[=场景]    在模拟测试盒上运行; 场景: production (默认), idle, faulty, unplug,\n"
    "                       finger, 或场景文件\n"
    "  test                 测试盒自检工具 (本版本尚未提供)\n"
    "  recover              固件切换工具 (本版本尚未提供)\n"
    "  --help, -h           显示本说明\n";

StationOptions ParseStationOptions(const std::vector<std::string>& args) {
  StationOptions options;
  bool stationOnly = false;  // an option that only the station window takes was given
  int modes = 0;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      StationOptions help;
      help.mode = RunMode::Help;
      return help;
    }
  }
  for (const std::string& arg : args) {
    if (arg == "--simulate") {
      options.simulate = true;
      stationOnly = true;
    } else if (arg.rfind("--simulate=", 0) == 0) {
      options.simulate = true;
      options.scenario = arg.substr(sizeof("--simulate=") - 1);
      stationOnly = true;
      if (options.scenario.empty()) options.mode = RunMode::Unknown;
    } else if (arg.rfind("--quit-after=", 0) == 0) {
      stationOnly = true;
      if (!ParseSeconds(arg.substr(sizeof("--quit-after=") - 1), options.quitAfterSeconds)) {
        options.mode = RunMode::Unknown;
      }
    } else if (arg.rfind("--screenshot=", 0) == 0) {
      stationOnly = true;
      options.screenshot = arg.substr(sizeof("--screenshot=") - 1);
      if (options.screenshot.empty()) options.mode = RunMode::Unknown;
    } else if (arg == "test" || arg == "recover") {
      ++modes;
      if (options.mode != RunMode::Unknown) options.mode = arg == "test" ? RunMode::SelfTest : RunMode::Recover;
    } else {
      options.mode = RunMode::Unknown;
    }
  }
  if (modes > 1 || (modes == 1 && stationOnly)) options.mode = RunMode::Unknown;
  return options;
}

}  // namespace varnex2::station
