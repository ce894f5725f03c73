// The simulated test box (see sim_box.h): the controller variants, the model's construction,
// bus presence and sessions (plug, unplug, the controller's reset downtime, presence observers)
// and read access to the controller's memory. The rest of the model lives in the other
// sim_box_*.cpp files by responsibility; SimBox::Impl itself is declared in sim_box_impl.h.

#include "sim/sim_box.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim/sim_box_impl.h"

namespace varnex2::sim {

using namespace sim_box_detail;

ControllerVariant ControllerVariant::Version10() {
  ControllerVariant v;
  v.version = 0x10;
  v.build = 0xAA;
  return v;
}
ControllerVariant ControllerVariant::Version11() {
  ControllerVariant v;
  v.version = 0x11;
  v.build = 0xAA;
  return v;
}
ControllerVariant ControllerVariant::Version12() {
  ControllerVariant v;
  v.version = 0x12;
  v.build = 0xAA;
  return v;
}
ControllerVariant ControllerVariant::Variant0B() {
  ControllerVariant v;
  v.variant = 0x0B;
  v.version = 0x20;
  v.build = 0x01;
  return v;
}
ControllerVariant ControllerVariant::OtherFamily() {
  ControllerVariant v;
  v.family = 0xA4;
  return v;
}

SimBox::Impl::Impl(const SimBoxOptions& o)
    : options(o),
      memory(o.variant),
      panel(o.variant.matrixX, o.variant.matrixY, o.seed),
      controllerIn(kControllerRingCapacity),
      bridgeIn(kBridgeRingCapacity),
      frameValues(kFrameValues),
      deltaValues(kFrameValues),
      diagValues(kFrameValues) {
  LoadNvStore(options.storePath, nv);
  for (int p = 0; p < 256; ++p) pages[static_cast<std::size_t>(p)] = FactoryPage(p);
  for (const auto& [page, bytes] : nv.pages) pages[static_cast<std::size_t>(page)] = bytes;
  wanted[0] = o.controllerPresent;
  wanted[1] = o.bridgePresent;
  std::lock_guard pl(presenceMutex);
  if (wanted[0]) AttachLocked(BoxFunction::Controller);
  if (wanted[1]) AttachLocked(BoxFunction::Bridge);
}

// ---------------------------------------------------------------- presence
// presenceMutex held.
std::uint64_t SimBox::Impl::AttachLocked(BoxFunction f) {
  std::lock_guard lk(mutex);
  std::lock_guard ql(queueMutex);
  std::uint64_t& session = f == BoxFunction::Controller ? controllerSession : bridgeSession;
  if (session != 0) return 0;
  if (f == BoxFunction::Controller) {
    PowerUpController();
    controllerIn.Clear();
    controllerInPacer = Pacer{};
  } else {
    outputBlock.fill(0);
    bridgeExpect = BridgeExpect::Command;
    bridgeIn.Clear();
    bridgeInPacer = Pacer{};
  }
  session = nextSession++;
  ++queueVersion;
  return session;
}

bool SimBox::Impl::DetachLocked(BoxFunction f) {
  {
    std::lock_guard lk(mutex);
    std::lock_guard ql(queueMutex);
    std::uint64_t& session = f == BoxFunction::Controller ? controllerSession : bridgeSession;
    if (session == 0) return false;
    session = 0;
    if (f == BoxFunction::Controller) {
      controllerIn.Clear();
      streaming = false;
    } else {
      bridgeIn.Clear();
    }
    ++queueVersion;
  }
  (f == BoxFunction::Controller ? controllerCv : bridgeCv).notify_all();
  return true;
}

void SimBox::Impl::NotifyPresence(BoxFunction f, bool present, std::uint64_t session) {
  std::lock_guard ol(observerMutex);
  for (auto& [id, observer] : observers) {
    if (observer) observer(f, present, session);
  }
}

void SimBox::Impl::Plug(BoxFunction f) {
  std::lock_guard pl(presenceMutex);
  wanted[Index(f)] = true;
  if (std::uint64_t s = AttachLocked(f)) NotifyPresence(f, true, s);
}

void SimBox::Impl::Unplug(BoxFunction f) {
  std::lock_guard pl(presenceMutex);
  wanted[Index(f)] = false;
  if (DetachLocked(f)) NotifyPresence(f, false, 0);
}

void SimBox::Impl::Reset() {
  {
    std::lock_guard pl(presenceMutex);
    ++resetCount;
    if (DetachLocked(BoxFunction::Controller)) NotifyPresence(BoxFunction::Controller, false, 0);
  }
  std::lock_guard tl(resetThreadMutex);
  if (resetThread.joinable()) {
    resetThread.request_stop();
    resetThread.join();
  }
  resetThread = std::jthread([this](std::stop_token stop) {
    std::mutex m;
    std::unique_lock lk(m);
    std::condition_variable_any cv;
    cv.wait_until(lk, stop, Clock::now() + options.resetDowntime, [] { return false; });
    if (stop.stop_requested()) return;
    std::lock_guard pl(presenceMutex);
    if (!wanted[0]) return;
    if (std::uint64_t s = AttachLocked(BoxFunction::Controller)) NotifyPresence(BoxFunction::Controller, true, s);
  });
}

SimBox::SimBox(const SimBoxOptions& options) : impl_(std::make_unique<Impl>(options)) {}

SimBox::~SimBox() {
  impl_->StopScenario();
  std::lock_guard tl(impl_->resetThreadMutex);
  if (impl_->resetThread.joinable()) {
    impl_->resetThread.request_stop();
    impl_->resetThread.join();
  }
}

const SimBoxOptions& SimBox::Options() const { return impl_->options; }

bool SimBox::IsPresent(BoxFunction function) const { return Session(function) != 0; }

std::uint64_t SimBox::Session(BoxFunction function) const {
  std::lock_guard ql(impl_->queueMutex);
  return function == BoxFunction::Controller ? impl_->controllerSession : impl_->bridgeSession;
}

void SimBox::Unplug(BoxFunction function) { impl_->Unplug(function); }
void SimBox::Plug(BoxFunction function) { impl_->Plug(function); }

int SimBox::AddPresenceObserver(PresenceObserver observer) {
  std::lock_guard ol(impl_->observerMutex);
  const int id = impl_->nextObserverId++;
  impl_->observers.emplace_back(id, std::move(observer));
  return id;
}

void SimBox::RemovePresenceObserver(int id) {
  std::lock_guard ol(impl_->observerMutex);
  auto& v = impl_->observers;
  v.erase(std::remove_if(v.begin(), v.end(), [id](const auto& p) { return p.first == id; }), v.end());
}

// ---------------------------------------------------------------- memory access
std::vector<std::uint8_t> SimBox::ReadMemory(std::uint16_t address, std::size_t count) const {
  std::lock_guard lk(impl_->mutex);
  const std::size_t size = impl_->memory.Size();
  if (address >= size) return {};
  count = std::min(count, size - address);
  const std::uint8_t* p = impl_->memory.At(address);
  return std::vector<std::uint8_t>(p, p + count);
}

std::uint16_t SimBox::ObjectAddress(std::uint8_t type, int instance) const {
  std::lock_guard lk(impl_->mutex);
  return impl_->memory.Address(type, instance);
}

std::size_t SimBox::ObjectSize(std::uint8_t type) const {
  std::lock_guard lk(impl_->mutex);
  const ObjectInfo* o = impl_->memory.Find(type);
  return o ? o->size : 0;
}

std::uint8_t SimBox::ReportIdOf(std::uint8_t type, int instance) const {
  std::lock_guard lk(impl_->mutex);
  const ObjectInfo* o = impl_->memory.Find(type);
  if (!o || o->firstReportId == 0 || instance < 0 || instance >= o->instances) return 0;
  return static_cast<std::uint8_t>(o->firstReportId + instance * o->reportIds);
}

std::uint16_t SimBox::CommandAddress() const { return CommandAddressFor(impl_->options.variant); }

std::uint64_t SimBox::ResetCount() const { return impl_->resetCount.load(); }

std::uint64_t SimBox::BackupCount() const {
  std::lock_guard lk(impl_->mutex);
  return impl_->backupCount;
}

const std::string& SimBox::StorePath() const { return impl_->options.storePath; }

}  // namespace varnex2::sim
