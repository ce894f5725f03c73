// Panel changes and scenarios on the simulated box (see sim_box_impl.h): one scenario step applied
// now (presence, scanned codes, the panel, its faults and fingers, with an acquisition cycle
// before and after so that no touch is lost), the timeline thread that runs a scenario with its
// loops, and the SimBox panel calls built on the same steps.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim/sim_box_impl.h"

namespace varnex2::sim {

using namespace sim_box_detail;

// ---------------------------------------------------------------- scenario
void SimBox::Impl::Apply(const ScenarioAction& a) {
  switch (a.op) {
    case ScenarioOp::Unplug:
    case ScenarioOp::Plug: {
      const bool plug = a.op == ScenarioOp::Plug;
      for (BoxFunction f : {BoxFunction::Controller, BoxFunction::Bridge}) {
        const bool hit = a.target == ScenarioTarget::Both ||
                         (a.target == ScenarioTarget::Controller) == (f == BoxFunction::Controller);
        if (!hit) continue;
        if (plug)
          Plug(f);
        else
          Unplug(f);
      }
      return;
    }
    case ScenarioOp::Scan: {
      ScanObserver observer;
      {
        std::lock_guard sl(scanMutex);
        observer = scanObserver;
      }
      if (observer) observer(a.text);
      return;
    }
    case ScenarioOp::Loop:
      return;
    default:
      break;
  }
  std::lock_guard lk(mutex);
  ScanTouches();  // what the fingers did up to now, before the change
  PanelState& s = panel.MutableState();
  const PanelState defaults;
  switch (a.op) {
    case ScenarioOp::Place:
    case ScenarioOp::Remove: {
      s.placed = a.op == ScenarioOp::Place;
      s.level = a.hasLevel ? a.level : defaults.level;
      s.noise = a.hasNoise ? a.noise : defaults.noise;
      s.gradientX = a.hasGradientX ? a.gradientX : defaults.gradientX;
      s.gradientY = a.hasGradientY ? a.gradientY : defaults.gradientY;
      s.shorts.clear();
      s.nodeFaults.clear();
      s.touches.clear();
      s.sweepInterval = std::chrono::milliseconds(0);
      break;
    }
    case ScenarioOp::Short:
      s.shorts.push_back(LineShort{a.xLine, a.a, a.b});
      break;
    case ScenarioOp::NodeFault:
      s.nodeFaults.push_back(a.nodeFault);
      break;
    case ScenarioOp::ClearFaults:
      s.shorts.clear();
      s.nodeFaults.clear();
      s.powerFault = false;
      break;
    case ScenarioOp::Touch:
      s.touches.push_back(Touch{a.a, a.b, a.c});
      break;
    case ScenarioOp::Release:
      s.touches.clear();
      s.sweepInterval = std::chrono::milliseconds(0);
      break;
    case ScenarioOp::Sweep:
      s.sweepInterval = a.duration;
      s.sweepStart = Clock::now();
      break;
    case ScenarioOp::PowerFault:
      s.powerFault = a.flag;
      break;
    default:
      break;
  }
  ScanTouches();
}

void SimBox::Impl::RunScenario(const Scenario& scenario) {
  StopScenario();
  {
    std::lock_guard lk(mutex);
    panel.SetSeed(scenario.seed);
  }
  std::lock_guard tl(scenarioThreadMutex);
  scenarioRunning = true;
  scenarioThread = std::jthread([this, scenario](std::stop_token stop) {
    std::mutex m;
    std::condition_variable_any cv;
    auto base = Clock::now();
    bool again = true;
    while (again && !stop.stop_requested()) {
      again = false;
      for (const auto& step : scenario.steps) {
        {
          std::unique_lock lk(m);
          cv.wait_until(lk, stop, base + step.at, [] { return false; });
        }
        if (stop.stop_requested()) break;
        if (step.action.op == ScenarioOp::Loop) {
          base += step.at;
          again = true;
          break;
        }
        Apply(step.action);
      }
    }
    scenarioRunning = false;
  });
}

void SimBox::Impl::StopScenario() {
  std::lock_guard tl(scenarioThreadMutex);
  if (scenarioThread.joinable()) {
    scenarioThread.request_stop();
    scenarioThread.join();
  }
  scenarioRunning = false;
}

// ---------------------------------------------------------------- panel
PanelState SimBox::Panel() const {
  std::lock_guard lk(impl_->mutex);
  return impl_->panel.State();
}

void SimBox::SetPanel(const PanelState& state) {
  std::lock_guard lk(impl_->mutex);
  impl_->ScanTouches();
  impl_->panel.SetState(state);
  impl_->ScanTouches();
}

void SimBox::PlacePanel() {
  ScenarioAction a;
  a.op = ScenarioOp::Place;
  impl_->Apply(a);
}

void SimBox::RemovePanel() {
  ScenarioAction a;
  a.op = ScenarioOp::Remove;
  impl_->Apply(a);
}

void SimBox::AddShort(const LineShort& s) {
  std::lock_guard lk(impl_->mutex);
  impl_->panel.MutableState().shorts.push_back(s);
}

void SimBox::AddNodeFault(const NodeFault& f) {
  std::lock_guard lk(impl_->mutex);
  impl_->panel.MutableState().nodeFaults.push_back(f);
}

void SimBox::ClearFaults() {
  ScenarioAction a;
  a.op = ScenarioOp::ClearFaults;
  impl_->Apply(a);
}

void SimBox::SetTouches(std::vector<Touch> touches) {
  std::lock_guard lk(impl_->mutex);
  impl_->ScanTouches();
  impl_->panel.MutableState().touches = std::move(touches);
  impl_->ScanTouches();
}

void SimBox::SetPowerFault(bool on) {
  std::lock_guard lk(impl_->mutex);
  impl_->panel.MutableState().powerFault = on;
}

void SimBox::Apply(const ScenarioAction& action) { impl_->Apply(action); }
void SimBox::RunScenario(const Scenario& scenario) { impl_->RunScenario(scenario); }
void SimBox::StopScenario() { impl_->StopScenario(); }
bool SimBox::ScenarioRunning() const { return impl_->scenarioRunning; }

void SimBox::SetScanObserver(ScanObserver observer) {
  std::lock_guard sl(impl_->scanMutex);
  impl_->scanObserver = std::move(observer);
}

}  // namespace varnex2::sim
