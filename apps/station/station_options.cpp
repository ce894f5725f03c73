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
    "      varnex2 test [--run [--fixture] [--quit-after=秒]]\n"
    "      varnex2 recover [--switch=old|new]\n"
    "      varnex2 --help\n"
    "\n"
    "  (无参数)             在 USB 测试盒上运行测试站 (每个用户同时只能运行一个)\n"
    "  --simulate[=场景]    在模拟测试盒上运行; 场景: production (默认), idle, faulty, unplug,\n"
    "                       finger, selftest (test 的默认), 或场景文件\n"
    "  test                 测试盒自检工具 (窗口)\n"
    "    --run              不开窗口, 立即运行七个测试步骤, 报告输出到标准输出;\n"
    "                       退出码 0 通过, 1 某步失败, 3 --quit-after 时间到 (第 7 步等待手指)\n"
    "    --fixture          使用测试治具进行测试 (原始值上限 19000)\n"
    "  recover              固件切换工具 (窗口)\n"
    "    --switch=old|new   不开窗口, 执行一次切换为老版本/新版本并输出结果;\n"
    "                       退出码 0 成功, 1 写入失败, 2 未找到设备或此固件版本不允许切换为老版本\n"
    "  --quit-after=秒      到时关闭窗口 (自动运行)\n"
    "  --help, -h           显示本说明\n";

StationOptions ParseStationOptions(const std::vector<std::string>& args) {
  StationOptions options;
  bool testOnly = false;     // --run or --fixture
  bool recoverOnly = false;  // --switch=
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
    } else if (arg.rfind("--simulate=", 0) == 0) {
      options.simulate = true;
      options.scenario = arg.substr(sizeof("--simulate=") - 1);
      if (options.scenario.empty()) options.mode = RunMode::Unknown;
    } else if (arg.rfind("--quit-after=", 0) == 0) {
      if (!ParseSeconds(arg.substr(sizeof("--quit-after=") - 1), options.quitAfterSeconds)) {
        options.mode = RunMode::Unknown;
      }
    } else if (arg.rfind("--screenshot=", 0) == 0) {
      options.screenshot = arg.substr(sizeof("--screenshot=") - 1);
      if (options.screenshot.empty()) options.mode = RunMode::Unknown;
    } else if (arg == "--run") {
      options.run = testOnly = true;
    } else if (arg == "--fixture") {
      options.fixture = testOnly = true;
    } else if (arg == "--switch=old" || arg == "--switch=new") {
      if (options.switchTo != StationOptions::Switch::None) options.mode = RunMode::Unknown;
      options.switchTo = arg == "--switch=old" ? StationOptions::Switch::Old : StationOptions::Switch::New;
      recoverOnly = true;
    } else if (arg == "test" || arg == "recover") {
      ++modes;
      if (options.mode != RunMode::Unknown) options.mode = arg == "test" ? RunMode::SelfTest : RunMode::Recover;
    } else {
      options.mode = RunMode::Unknown;
    }
  }
  if (modes > 1) options.mode = RunMode::Unknown;
  if (testOnly && options.mode != RunMode::SelfTest) options.mode = RunMode::Unknown;
  if (recoverOnly && options.mode != RunMode::Recover) options.mode = RunMode::Unknown;
  return options;
}

}  // namespace varnex2::station
