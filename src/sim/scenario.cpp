#include "sim/scenario.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <limits>

namespace varnex2::sim {

namespace {

constexpr std::size_t kMaxLineLength = 4096;
constexpr std::size_t kMaxScanLength = 256;
constexpr int kMaxLine = 255;

struct Builtin {
  std::string_view name;
  std::string_view text;
};

constexpr Builtin kBuiltins[] = {
    {"production",
     "# Panels laid on the fixture and taken off every few seconds; the second and fourth are faulty.\n"
     "name production\n"
     "seed 7\n"
     "# Each panel's 7-digit label is scanned once its verdict is on display.\n"
     "0s    remove\n"
     "2s    place\n"
     "4s    scan 2600101\n"
     "6s    remove\n"
     "8s    place\n"
     "8s    short x 4 2\n"
     "10s   scan 2600102\n"
     "12s   remove\n"
     "14s   place level=29800\n"
     "16s   scan 2600103\n"
     "18s   remove\n"
     "20s   place\n"
     "20s   dead 10 20\n"
     "20s   low 3 7\n"
     "22s   scan 2600104\n"
     "24s   remove\n"
     "26s   loop\n"},
    {"idle", "# The box with an empty fixture; nothing happens.\nname idle\n0s remove\n"},
    {"faulty",
     "# A faulty panel stays on the fixture.\n"
     "name faulty\n"
     "0s place\n"
     "0s short y 12 3\n"
     "0s high 5 5\n"
     "0s low 20 40\n"
     "0s dead 31 51\n"},
    {"unplug",
     "# A good panel; the box is unplugged and plugged in again.\n"
     "name unplug\n"
     "0s  place\n"
     "5s  unplug\n"
     "8s  plug\n"
     "30s loop\n"},
    {"finger",
     "# A panel with a finger sweeping over every X line (for the finger test).\n"
     "name finger\n"
     "0s place\n"
     "0s sweep 300ms\n"},
    {"selftest",
     "# The box on its test fixture, for the box's self-test: reference values at the fixture's\n"
     "# levels (16500 rising to about 17100) and a finger that touches every X line along its\n"
     "# whole length in turn, each for 400 ms.\n"
     "name selftest\n"
     "0s place level=16500 gradx=10 grady=6 noise=40\n"
     "0s sweep 400ms\n"},
};

struct LineParser {
  std::string_view rest;

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

  void SkipSpace() {
    while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
  }
  bool AtEnd() {
    SkipSpace();
    return rest.empty();
  }
  std::string_view Token() {
    SkipSpace();
    std::size_t n = 0;
    while (n < rest.size() && !IsSpace(rest[n])) ++n;
    std::string_view t = rest.substr(0, n);
    rest.remove_prefix(n);
    return t;
  }
  std::string_view Remainder() {
    SkipSpace();
    std::string_view r = rest;
    while (!r.empty() && IsSpace(r.back())) r.remove_suffix(1);
    rest = {};
    return r;
  }
};

bool ParseInt(std::string_view token, std::int64_t& out) {
  if (token.empty()) return false;
  if (token.front() == '+') token.remove_prefix(1);
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// "250ms", "2s", "1.5s", "+3s" (relative to the previous step).
bool ParseTime(std::string_view token, std::int64_t& ms, bool& relative) {
  relative = false;
  if (!token.empty() && token.front() == '+') {
    relative = true;
    token.remove_prefix(1);
  }
  std::int64_t scale = 0;
  if (token.size() > 2 && token.substr(token.size() - 2) == "ms") {
    scale = 1;
    token.remove_suffix(2);
  } else if (token.size() > 1 && token.back() == 's') {
    scale = 1000;
    token.remove_suffix(1);
  } else {
    return false;
  }
  std::string_view whole = token, frac;
  if (auto dot = token.find('.'); dot != std::string_view::npos) {
    whole = token.substr(0, dot);
    frac = token.substr(dot + 1);
    if (scale == 1 || frac.empty() || frac.size() > 3) return false;
  }
  if (whole.empty() || whole.size() > 12) return false;
  for (char c : whole) {
    if (c < '0' || c > '9') return false;
  }
  for (char c : frac) {
    if (c < '0' || c > '9') return false;
  }
  std::int64_t w = 0;
  if (!ParseInt(whole, w)) return false;
  std::int64_t f = 0;
  if (!frac.empty()) {
    ParseInt(frac, f);
    for (std::size_t i = frac.size(); i < 3; ++i) f *= 10;
  }
  ms = w * scale + f;
  return ms <= kMaxScenarioTimeMs;
}

class Parser {
 public:
  Parser(Scenario& out, ScenarioError& error) : out_(out), error_(error) {}

  bool Fail(int line, std::string message) {
    error_.line = line;
    error_.message = line > 0 ? "line " + std::to_string(line) + ": " + message : message;
    return false;
  }

  bool Number(LineParser& p, int line, const char* what, int lo, int hi, int& value) {
    std::string_view t = p.Token();
    std::int64_t v = 0;
    if (t.empty()) return Fail(line, std::string("missing ") + what);
    if (!ParseInt(t, v)) return Fail(line, std::string("bad ") + what + " '" + std::string(t) + "'");
    if (v < lo || v > hi) {
      return Fail(line, std::string(what) + " out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    }
    value = static_cast<int>(v);
    return true;
  }

  bool Parse(std::string_view text) {
    if (text.size() > kMaxScenarioBytes) return Fail(0, "scenario larger than 1 MiB");
    int lineNo = 0;
    std::int64_t lastTime = 0;
    bool looped = false;
    while (!text.empty()) {
      ++lineNo;
      std::size_t nl = text.find('\n');
      std::string_view line = text.substr(0, nl);
      text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
      if (line.size() > kMaxLineLength) return Fail(lineNo, "line too long");
      if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
      for (char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\r') || u == 0x7F) return Fail(lineNo, "control character in line");
      }
      LineParser p{line};
      if (p.AtEnd()) continue;
      std::string_view first = p.Token();
      if (first == "name") {
        std::string_view name = p.Token();
        if (name.empty() || !p.AtEnd()) return Fail(lineNo, "'name' takes one word");
        out_.name = std::string(name);
        continue;
      }
      if (first == "seed") {
        std::int64_t seed = 0;
        std::string_view t = p.Token();
        if (!ParseInt(t, seed) || seed < 0 || !p.AtEnd()) return Fail(lineNo, "'seed' takes one non-negative number");
        out_.seed = static_cast<std::uint64_t>(seed);
        continue;
      }
      if (looped) return Fail(lineNo, "nothing may follow 'loop'");
      std::int64_t ms = 0;
      bool relative = false;
      if (!ParseTime(first, ms, relative)) {
        return Fail(lineNo, "expected a time such as 500ms or 2s, found '" + std::string(first) + "'");
      }
      if (relative) ms += lastTime;
      if (ms > kMaxScenarioTimeMs) return Fail(lineNo, "time beyond 7 days");
      if (ms < lastTime) return Fail(lineNo, "time goes backwards");
      lastTime = ms;
      ScenarioStep step;
      step.at = std::chrono::milliseconds(ms);
      if (!Command(p, lineNo, step.action)) return false;
      if (step.action.op == ScenarioOp::Loop) {
        if (ms <= 0) return Fail(lineNo, "'loop' needs a time after 0");
        looped = true;
      }
      if (out_.steps.size() >= kMaxScenarioSteps) return Fail(lineNo, "too many steps");
      out_.steps.push_back(std::move(step));
    }
    return true;
  }

  bool Command(LineParser& p, int line, ScenarioAction& a) {
    std::string_view cmd = p.Token();
    if (cmd.empty()) return Fail(line, "missing command after the time");
    if (cmd == "place") {
      a.op = ScenarioOp::Place;
      while (!p.AtEnd()) {
        std::string_view t = p.Token();
        auto eq = t.find('=');
        if (eq == std::string_view::npos) return Fail(line, "expected key=value, found '" + std::string(t) + "'");
        std::string_view key = t.substr(0, eq);
        std::int64_t v = 0;
        if (!ParseInt(t.substr(eq + 1), v)) return Fail(line, "bad number in '" + std::string(t) + "'");
        if (key == "level" && v >= 0 && v <= 65535) {
          a.hasLevel = true;
          a.level = static_cast<int>(v);
        } else if (key == "noise" && v >= 0 && v <= 32767) {
          a.hasNoise = true;
          a.noise = static_cast<int>(v);
        } else if (key == "gradx" && v >= -1000 && v <= 1000) {
          a.hasGradientX = true;
          a.gradientX = static_cast<int>(v);
        } else if (key == "grady" && v >= -1000 && v <= 1000) {
          a.hasGradientY = true;
          a.gradientY = static_cast<int>(v);
        } else if (key == "level" || key == "noise" || key == "gradx" || key == "grady") {
          return Fail(line, "value of '" + std::string(key) + "' out of range");
        } else {
          return Fail(line, "unknown place parameter '" + std::string(key) + "'");
        }
      }
      return true;
    }
    if (cmd == "remove") {
      a.op = ScenarioOp::Remove;
    } else if (cmd == "short") {
      a.op = ScenarioOp::Short;
      std::string_view dir = p.Token();
      if (dir == "x")
        a.xLine = true;
      else if (dir == "y")
        a.xLine = false;
      else
        return Fail(line, "short needs 'x' or 'y'");
      if (!Number(p, line, "line", 0, kMaxLine, a.a) || !Number(p, line, "kind", 1, 3, a.b)) return false;
    } else if (cmd == "dead" || cmd == "high" || cmd == "low") {
      a.op = ScenarioOp::NodeFault;
      a.nodeFault.type = cmd == "dead" ? NodeFaultType::Dead : cmd == "high" ? NodeFaultType::High : NodeFaultType::Low;
      if (!Number(p, line, "x", 0, kMaxLine, a.nodeFault.x) || !Number(p, line, "y", 0, kMaxLine, a.nodeFault.y)) {
        return false;
      }
      if (cmd != "dead" && !p.AtEnd() && !Number(p, line, "value", 1, 65535, a.nodeFault.value)) return false;
    } else if (cmd == "clear-faults" || cmd == "clearfaults") {
      a.op = ScenarioOp::ClearFaults;
    } else if (cmd == "touch") {
      a.op = ScenarioOp::Touch;
      a.c = 400;
      if (!Number(p, line, "x", 0, kMaxLine, a.a) || !Number(p, line, "y", 0, kMaxLine, a.b)) return false;
      if (!p.AtEnd() && !Number(p, line, "strength", 1, 65535, a.c)) return false;
    } else if (cmd == "release") {
      a.op = ScenarioOp::Release;
    } else if (cmd == "sweep") {
      a.op = ScenarioOp::Sweep;
      std::int64_t ms = 0;
      bool rel = false;
      std::string_view t = p.Token();
      if (!ParseTime(t, ms, rel) || rel || ms <= 0) return Fail(line, "sweep needs an interval such as 300ms");
      a.duration = std::chrono::milliseconds(ms);
    } else if (cmd == "power-fault") {
      a.op = ScenarioOp::PowerFault;
      std::string_view v = p.Token();
      if (v == "on")
        a.flag = true;
      else if (v == "off")
        a.flag = false;
      else
        return Fail(line, "power-fault needs 'on' or 'off'");
    } else if (cmd == "unplug" || cmd == "plug") {
      a.op = cmd == "unplug" ? ScenarioOp::Unplug : ScenarioOp::Plug;
      if (!p.AtEnd()) {
        std::string_view t = p.Token();
        if (t == "both")
          a.target = ScenarioTarget::Both;
        else if (t == "controller")
          a.target = ScenarioTarget::Controller;
        else if (t == "bridge")
          a.target = ScenarioTarget::Bridge;
        else
          return Fail(line, "expected controller, bridge or both, found '" + std::string(t) + "'");
      }
    } else if (cmd == "scan") {
      a.op = ScenarioOp::Scan;
      std::string_view text = p.Remainder();
      // The scanner sends the code, then its suffix: CR LF unless the last word is
      // "suffix=crlf|cr|lf|tab|space|none".
      std::string suffix = "\r\n";
      {
        const std::size_t space = text.find_last_of(" \t");
        const std::string_view last = space == std::string_view::npos ? text : text.substr(space + 1);
        if (last.rfind("suffix=", 0) == 0) {
          const std::string_view name = last.substr(7);
          if (name == "crlf")
            suffix = "\r\n";
          else if (name == "cr")
            suffix = "\r";
          else if (name == "lf")
            suffix = "\n";
          else if (name == "tab")
            suffix = "\t";
          else if (name == "space")
            suffix = " ";
          else if (name == "none")
            suffix.clear();
          else
            return Fail(line, "unknown suffix '" + std::string(name) + "' (crlf, cr, lf, tab, space or none)");
          text = space == std::string_view::npos ? std::string_view() : text.substr(0, space);
          while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
        }
      }
      if (text.empty()) return Fail(line, "scan needs a code");
      if (text.size() > kMaxScanLength) return Fail(line, "scanned code longer than 256 characters");
      a.text = std::string(text) + suffix;
      return true;
    } else if (cmd == "loop") {
      a.op = ScenarioOp::Loop;
    } else {
      return Fail(line, "unknown command '" + std::string(cmd) + "'");
    }
    if (!p.AtEnd()) return Fail(line, "unexpected '" + std::string(p.Token()) + "'");
    return true;
  }

 private:
  Scenario& out_;
  ScenarioError& error_;
};

}  // namespace

bool ParseScenario(std::string_view text, Scenario& out, ScenarioError& error) {
  out = Scenario{};
  error = ScenarioError{};
  Parser parser(out, error);
  if (!parser.Parse(text)) {
    out = Scenario{};
    return false;
  }
  return true;
}

std::string_view BuiltinScenarioText(std::string_view name) {
  for (const auto& b : kBuiltins) {
    if (b.name == name) return b.text;
  }
  return {};
}

bool BuiltinScenario(std::string_view name, Scenario& out) {
  std::string_view text = BuiltinScenarioText(name);
  if (text.empty()) return false;
  ScenarioError error;
  return ParseScenario(text, out, error);
}

bool LoadScenario(const std::string& nameOrPath, Scenario& out, ScenarioError& error) {
  out = Scenario{};
  error = ScenarioError{};
  if (BuiltinScenario(nameOrPath, out)) return true;
  std::ifstream in(nameOrPath, std::ios::binary);
  if (!in) {
    error.message = "no built-in scenario and no readable file named '" + nameOrPath + "'";
    return false;
  }
  std::string text;
  text.resize(kMaxScenarioBytes + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    error.message = "cannot read '" + nameOrPath + "'";
    return false;
  }
  if (!ParseScenario(text, out, error)) {
    error.message = nameOrPath + ": " + error.message;
    return false;
  }
  if (out.name.empty()) out.name = nameOrPath;
  return true;
}

std::vector<std::string> BuiltinScenarioNames() {
  std::vector<std::string> names;
  for (const auto& b : kBuiltins) names.emplace_back(b.name);
  return names;
}

}  // namespace varnex2::sim
