#include "station/station.h"

#include "station/station_core.h"
#include "platform/memory_settings_store.h"
#include "station/station_texts.h"
#include "config/reg_edit_class.h"
#include "judging/node_map.h"

namespace varnex2::station {

namespace {

// How long Shutdown waits for the workers to end before it leaves them running
// (they keep the core alive; every wait of theirs is bounded).
constexpr std::chrono::milliseconds kShutdownWait{30000};

StationBackends Prepared(StationBackends b) {
  if (!b.clock) b.clock = CreateRealClock();
  if (!b.settings) b.settings = platform::CreateMemorySettingsStore();
  return b;
}

}  // namespace

// ---- CycleEvent ---------------------------------------------------------------------------

void CycleEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void CycleEvent::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool CycleEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

bool ProcedureMutex::LockUnlessStopped(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait(lock, stop, [this] { return !held_; })) return false;
  held_ = true;
  return true;
}

void ProcedureMutex::Unlock() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  cv_.notify_all();
}

// ---- StationCore: construction and workers ------------------------------------------------

StationCore::StationCore(StationBackends b)
    : backends(Prepared(std::move(b))), clock(*backends.clock),
      reference(static_cast<std::size_t>(judging::kMaxLines) * judging::kMaxLines, 0),
      rawBuffer(device::kMaxNodes, 0) {
  if (backends.usb) link = std::make_unique<device::ControllerLink>(*backends.usb);
  if (backends.hid) channel = std::make_unique<device::CUSBChannel>(*backends.hid);
}

StationCore::~StationCore() {
  // Only reached after Shutdown, or from the last worker when Shutdown gave up on
  // it: a thread still running (this one) cannot be joined here.
  std::lock_guard lock(workersMutex_);
  for (auto& w : workers_)
    if (w->thread.joinable()) w->thread.detach();
}

void StationCore::Attach() {
  if (!link) return;
  std::weak_ptr<StationCore> weak = weak_from_this();
  StationView* v = &view;
  link->SetLostCallback([weak, v](int status) {
    v->Post([weak, status] {
      if (auto core = weak.lock()) core->OnDevLost(status);
    });
  });
}

void StationCore::PostToWindow(std::function<void(StationCore&)> call) {
  std::weak_ptr<StationCore> weak = weak_from_this();
  view.Post([weak, call = std::move(call)] {
    if (auto core = weak.lock()) call(*core);
  });
}

bool StationCore::OnWindow(const std::function<void()>& call, std::stop_token stop) {
  return view.Send(call, stop);
}

bool StationCore::StartWorker(SlotId slot, Proc proc) {
  std::lock_guard lock(workersMutex_);
  auto& s = slots_[static_cast<std::size_t>(slot)];
  if (shuttingDown_ || s) return false;
  ReapLocked();
  auto worker = std::make_shared<Worker>();
  std::shared_ptr<StationCore> self = shared_from_this();
  worker->thread = std::jthread([self, worker, proc](std::stop_token stop) {
    (self.get()->*proc)(stop);
    self->WorkerFinished(worker);
  });
  s = worker;
  workers_.push_back(worker);
  return true;
}

void StationCore::WorkerFinished(const std::shared_ptr<Worker>& worker) {
  {
    std::lock_guard lock(workersMutex_);
    worker->done = true;
  }
  workerDone_.notify_all();
}

void StationCore::ReapLocked() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if ((*it)->done) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

std::shared_ptr<Worker> StationCore::SlotWorker(SlotId slot) {
  std::lock_guard lock(workersMutex_);
  return slots_[static_cast<std::size_t>(slot)];
}

void StationCore::EmptySlot(SlotId slot, const std::shared_ptr<Worker>& expected) {
  std::lock_guard lock(workersMutex_);
  auto& s = slots_[static_cast<std::size_t>(slot)];
  if (!expected || s == expected) s.reset();
}

void StationCore::EmptyAllSlots() {
  std::lock_guard lock(workersMutex_);
  for (auto& s : slots_) s.reset();
}

void StationCore::RequestStop(SlotId slot) {
  std::lock_guard lock(workersMutex_);
  if (auto& s = slots_[static_cast<std::size_t>(slot)]) s->thread.request_stop();
}

StationCore::WaitResult StationCore::WaitWorker(const std::shared_ptr<Worker>& worker,
                                                std::chrono::milliseconds timeout) {
  if (!worker) return WaitResult::Done;
  std::unique_lock lock(workersMutex_);
  if (worker->thread.get_id() == std::this_thread::get_id()) return WaitResult::Failed;
  return workerDone_.wait_for(lock, timeout, [&] { return worker->done; }) ? WaitResult::Done
                                                                            : WaitResult::TimedOut;
}

bool StationCore::StopAndWait(SlotId slot, std::chrono::milliseconds timeout) {
  std::shared_ptr<Worker> worker = SlotWorker(slot);
  if (!worker) return true;
  worker->thread.request_stop();
  return WaitWorkerDone(worker, timeout);
}

void StationCore::Initialise() {
  std::int32_t trigger = 28000, stable = 3;
  config::LoadOutputSetting(*backends.settings, trigger, stable);
  nTriggerLevel = trigger;
  nOutputTriggerStableFrameCnt = stable;

  view.RepaintGrid();
  if (backends.monitor) {
    std::weak_ptr<StationCore> weak = weak_from_this();
    StationView* v = &view;
    const int rc = backends.monitor->Start([weak, v](const platform::DeviceEvent& event) {
      v->Post([weak, event] {
        if (auto core = weak.lock()) core->OnDeviceEvent(event);
      });
    });
    if (rc != 0)
      view.ShowMessage(texts::kRegisterFailed, MessageIcon::Warning);
    else
      monitorStarted_ = true;
  }
  OpenAtStart();
}

void StationCore::Shutdown() {
  if (shuttingDown_.exchange(true)) return;
  if (backends.monitor && monitorStarted_) backends.monitor->Stop();
  std::vector<std::shared_ptr<Worker>> workers;
  {
    std::lock_guard lock(workersMutex_);
    for (auto& w : workers_) w->thread.request_stop();
    workers = workers_;
  }
  if (link) link->SignalResponseEvent();
  {
    std::unique_lock lock(workersMutex_);
    workerDone_.wait_for(lock, kShutdownWait, [&] {
      for (auto& w : workers)
        if (!w->done) return false;
      return true;
    });
    ReapLocked();
    for (auto& s : slots_) s.reset();
  }
  SetTestRunning(false);
  bool allEnded = false;
  {
    std::lock_guard lock(workersMutex_);
    allEnded = workers_.empty();
  }
  // A worker that did not end in time still uses the links: leave them to it.
  if (allEnded) {
    CloseLink();
    if (channel) channel->CloseBridge();
  }
  bDeviceConnected = false;
}

// ---- Station --------------------------------------------------------------------------------

struct Station::Impl {
  std::shared_ptr<StationCore> core;
};

Station::Station(StationBackends backends) : impl_(std::make_unique<Impl>()) {
  impl_->core = std::make_shared<StationCore>(std::move(backends));
  impl_->core->Attach();
}

Station::Station(StationView& view, StationBackends backends) : Station(std::move(backends)) { AttachView(view); }

void Station::AttachView(StationView& view) { impl_->core->view.Attach(&view); }
judging::NodeMap& Station::Model() { return impl_->core->grid; }
const judging::NodeMap& Station::Model() const { return impl_->core->grid; }

Station::~Station() { Shutdown(); }

void Station::Initialise() { impl_->core->Initialise(); }
void Station::Shutdown() { impl_->core->Shutdown(); }

void Station::StartTestThread() { impl_->core->StartTestThread(); }
int Station::StopTestThread() { return impl_->core->StopTestThread(); }
void Station::ResumeTest() { impl_->core->ResumeTest(); }
bool Station::TestRunning() const { return impl_->core->bTestRunning.load(); }

void Station::OnDeviceEvent(const platform::DeviceEvent& event) { impl_->core->OnDeviceEvent(event); }
void Station::OnDevLost(int transferStatus) { impl_->core->OnDevLost(transferStatus); }
void Station::OnDevReplug() { impl_->core->OnDevReplug(); }
bool Station::DeviceConnected() const { return impl_->core->bDeviceConnected.load(); }

void Station::ResetPanelConfig() { impl_->core->ResetPanelConfig(); }
void Station::SetDisplayStyle(int style) { impl_->core->SetDisplayStyle(style); }
int Station::DisplayStyle() const { return impl_->core->grid.GetDisplayStyle(); }
void Station::ToggleDiffMode() { impl_->core->ToggleDiffMode(); }
bool Station::DiffMode() const { return impl_->core->bDiffMode.load(); }
void Station::ToggleBuzzerEnable() { impl_->core->ToggleBuzzer(0x1); }
void Station::ToggleBuzzerInvert() { impl_->core->ToggleBuzzer(0x2); }
std::uint8_t Station::BuzzerByte() const {
  return impl_->core->channel ? impl_->core->channel->GetConfigByte() : 0;
}
void Station::ToggleLineNumberBase() { impl_->core->ToggleLineNumberBase(); }
void Station::ToggleTestModeBit(std::uint32_t bit) { impl_->core->ToggleTestModeBit(bit); }
std::uint32_t Station::TestModeFlags() const {
  return static_cast<std::uint32_t>(impl_->core->grid.TestModeFlags());
}
void Station::LoadParameterFile(const std::filesystem::path& file) { impl_->core->LoadParameterFile(file); }
void Station::SaveParameterFile(const std::filesystem::path& file) { impl_->core->SaveParameterFile(file); }
void Station::CaptureFrame(const std::filesystem::path& file) { impl_->core->CaptureFrame(file); }

device::ControllerLink* Station::Controller() { return impl_->core->link.get(); }
std::unique_lock<std::recursive_mutex> Station::LockController() {
  return std::unique_lock<std::recursive_mutex>(impl_->core->linkMutex);
}
device::CUSBChannel* Station::Bridge() { return impl_->core->channel.get(); }
void Station::ApplyPanelConfig(const config::PanelConfig& panel) { impl_->core->ApplyPanelConfig(panel); }
std::string Station::ReadBackPanel() {
  std::string message;
  return impl_->core->ReadBackPanel(message) == StationCore::ReadBack::Invalid ? message : std::string();
}

config::PanelConfig Station::PanelConfigCopy() const {
  std::lock_guard lock(impl_->core->configMutex);
  return impl_->core->panel;
}

void Station::UpdatePanelConfig(const std::function<void(config::PanelConfig&)>& change) {
  std::lock_guard lock(impl_->core->configMutex);
  change(impl_->core->panel);
}

std::string Station::StatisticsText() const {
  std::lock_guard lock(impl_->core->statsMutex);
  return impl_->core->strStatistics;
}
std::int32_t Station::TriggerLevel() const { return impl_->core->nTriggerLevel.load(); }
std::int32_t Station::StableFrameCount() const { return impl_->core->nOutputTriggerStableFrameCnt.load(); }
void Station::SetTriggerLevel(std::int32_t level) { impl_->core->nTriggerLevel = level; }
void Station::SetStableFrameCount(std::int32_t count) { impl_->core->nOutputTriggerStableFrameCnt = count; }

void Station::SetKeyboardHookStarter(std::function<void()> start) {
  std::lock_guard lock(impl_->core->logMutex);
  impl_->core->keyboardHookStarter = std::move(start);
}

void Station::SetScannerSettingsLoaded(ScannerSettingsLoaded handler) {
  std::lock_guard lock(impl_->core->logMutex);
  impl_->core->scannerSettingsLoaded = std::move(handler);
}

scanner::SharedScannerSetting& Station::ScannerSettings() { return impl_->core->scannerSetting; }

void Station::SetLogResultHandler(LogResultHandler handler) {
  std::lock_guard lock(impl_->core->logMutex);
  impl_->core->logResult = std::move(handler);
}

}  // namespace varnex2::station
