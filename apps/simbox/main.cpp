// varnex2-simbox: builds the umockdev testbed with the simulated box, runs a command under the
// umockdev preload against it, forwards the command's exit status and tears the testbed down.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sim/pty_scanner.h"
#include "sim/scenario.h"
#include "sim/sim_box.h"
#include "sim/umockdev_box.h"
#include "simbox_options.h"

extern char** environ;

namespace {

volatile sig_atomic_t g_child = 0;
constexpr const char* kPreload = "libumockdev-preload.so.0";

void ForwardSignal(int sig) {
  if (g_child > 0) kill(static_cast<pid_t>(g_child), sig);
}

bool LoadScenario(const std::string& spec, varnex2::sim::Scenario& out, std::string& error) {
  std::ifstream file(spec, std::ios::binary);
  if (!file) {
    if (varnex2::sim::BuiltinScenario(spec, out)) return true;
    error = "cannot read scenario file " + spec;
    return false;
  }
  std::string text;
  text.reserve(4096);
  char chunk[4096];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(file.gcount()));
    if (text.size() > varnex2::sim::kMaxScenarioBytes) {
      error = "scenario file too large: " + spec;
      return false;
    }
  }
  varnex2::sim::ScenarioError parseError;
  if (!varnex2::sim::ParseScenario(text, out, parseError)) {
    error = spec + ":" + std::to_string(parseError.line) + ": " + parseError.message;
    return false;
  }
  return true;
}

// The child's environment: ours (UMOCKDEV_DIR now included) with the preload in front. A child
// built with AddressSanitizer would refuse to start with another library preloaded ahead of its
// runtime; it is told that this order is intended.
std::vector<std::string> ChildEnvironment(const std::string& scannerPort) {
  std::vector<std::string> env;
  if (!scannerPort.empty()) env.push_back("VARNEX2_SIM_SCANNER_PORT=" + scannerPort);
  std::string preload = kPreload;
  std::string asanOptions = "verify_asan_link_order=0";
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (entry.rfind("LD_PRELOAD=", 0) == 0) {
      // Ours may be in there already (the box runs under it itself): keep it once, in front.
      std::string rest = entry.substr(sizeof("LD_PRELOAD=") - 1);
      for (std::size_t at; (at = rest.find(kPreload)) != std::string::npos;) rest.erase(at, std::strlen(kPreload));
      for (const char* part = rest.c_str(); *part != '\0';) {
        const char* end = std::strchr(part, ':');
        const std::string item(part, end != nullptr ? end : part + std::strlen(part));
        if (!item.empty()) preload += ":" + item;
        part = end != nullptr ? end + 1 : part + std::strlen(part);
      }
      continue;
    }
    if (entry.rfind("VARNEX2_SIMBOX_PRELOADED=", 0) == 0) continue;
    if (entry.rfind("VARNEX2_SIM_SCANNER_PORT=", 0) == 0) continue;
    if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
      const std::string rest = entry.substr(sizeof("ASAN_OPTIONS=") - 1);
      if (!rest.empty()) asanOptions = rest + ":" + asanOptions;
      continue;
    }
    env.push_back(std::move(entry));
  }
  env.push_back("LD_PRELOAD=" + preload);
  env.push_back("ASAN_OPTIONS=" + asanOptions);
  return env;
}

int RunChild(const std::vector<std::string>& command, const std::string& scannerPort) {
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::vector<std::string> env = ChildEnvironment(scannerPort);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data());
  if (rc != 0) {
    std::fprintf(stderr, "varnex2-simbox: cannot run %s: %s\n", argv[0], std::strerror(rc));
    return 127;
  }
  g_child = pid;
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, 0);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) {
      std::fprintf(stderr, "varnex2-simbox: waitpid: %s\n", std::strerror(errno));
      g_child = 0;
      return 1;
    }
  }
  g_child = 0;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// The testbed's own udev calls must see the testbed's /sys as the child does: a "remove"
// uevent is built from the device's sysfs entry, which the real /sys does not have. So the
// box runs itself under the umockdev preload too (re-executed once, marked in the environment).
void RunUnderPreload(char** argv) {
  if (std::getenv("VARNEX2_SIMBOX_PRELOADED") != nullptr) return;
  std::string preload = kPreload;
  if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') preload += std::string(":") + old;
  std::string asanOptions = "verify_asan_link_order=0";
  if (const char* old = std::getenv("ASAN_OPTIONS"); old != nullptr && *old != '\0')
    asanOptions = std::string(old) + ":" + asanOptions;
  const std::string oldPreload = std::getenv("LD_PRELOAD") != nullptr ? std::getenv("LD_PRELOAD") : "";
  setenv("LD_PRELOAD", preload.c_str(), 1);
  setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
  setenv("VARNEX2_SIMBOX_PRELOADED", "1", 1);
  execv("/proc/self/exe", argv);
  // Not re-executed: go on as before; removals then reach no udev listener.
  std::fprintf(stderr, "varnex2-simbox: cannot re-run under the umockdev preload: %s\n", std::strerror(errno));
  if (oldPreload.empty())
    unsetenv("LD_PRELOAD");
  else
    setenv("LD_PRELOAD", oldPreload.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnex2;
  RunUnderPreload(argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  simbox::SimboxOptions options;
  std::string error;
  if (!simbox::ParseSimboxOptions(args, options, error)) {
    std::fprintf(stderr, "varnex2-simbox: %s\n%s", error.c_str(), simbox::SimboxUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(simbox::SimboxUsage(), stdout);
    return 0;
  }

  sim::Scenario scenario;
  if (!options.scenario.empty() && !LoadScenario(options.scenario, scenario, error)) {
    std::fprintf(stderr, "varnex2-simbox: %s\n", error.c_str());
    return 2;
  }

  sim::SimBoxOptions boxOptions;
  boxOptions.paced = options.paced;
  if (options.firmware == "1.0") boxOptions.variant = sim::ControllerVariant::Version10();
  if (options.firmware == "1.1") boxOptions.variant = sim::ControllerVariant::Version11();
  if (options.firmware == "1.2") boxOptions.variant = sim::ControllerVariant::Version12();
  auto box = std::make_shared<sim::SimBox>(boxOptions);
  auto testbed = sim::UmockdevBox::Create(box, &error);
  if (testbed == nullptr) {
    std::fprintf(stderr, "varnex2-simbox: cannot build the umockdev testbed: %s\n", error.c_str());
    return 1;
  }
  // Scenario "scan" steps come out of a serial scanner on a pseudo-terminal; the child finds its
  // port in VARNEX2_SIM_SCANNER_PORT.
  sim::PtyScanner scanner;
  if (scanner.Open() == 0) {
    box->SetScanObserver([&scanner](const std::string& code) { scanner.Send(code, ""); });
  }
  if (!options.scenario.empty()) box->RunScenario(scenario);

  struct sigaction sa {};
  sa.sa_handler = ForwardSignal;
  sigemptyset(&sa.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);

  const int status = RunChild(options.command, scanner.SlavePath());
  for (const int type : options.reportObjects) {
    const auto t = static_cast<std::uint8_t>(type);
    const std::vector<std::uint8_t> bytes = box->ObjectAddress(t) != 0
                                                ? box->ReadMemory(box->ObjectAddress(t), box->ObjectSize(t))
                                                : std::vector<std::uint8_t>{};
    std::printf("T%d=", type);
    for (std::size_t i = 0; i < bytes.size(); ++i) std::printf(i ? " %02X" : "%02X", bytes[i]);
    std::printf("\n");
  }
  if (!options.reportObjects.empty()) std::printf("backups=%llu\n", static_cast<unsigned long long>(box->BackupCount()));
  std::fflush(stdout);

  box->StopScenario();
  box->SetScanObserver(nullptr);
  scanner.Close();
  testbed.reset();
  box.reset();
  return status;
}
