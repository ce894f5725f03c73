#include "station/station_core.h"

#include "config/reg_edit_class.h"
#include "platform/memory_settings_store.h"
#include "station/station_texts.h"

namespace varnex2::station {

namespace {

// How long Shutdown waits for the workers to end before it leaves them running (they keep
// the core alive; every wait of theirs is bounded).
constexpr std::chrono::milliseconds kShutdownWait{30000};

StationBackends Prepared(StationBackends b) {
  if (!b.clock) b.clock = CreateRealClock();
  if (!b.settings) b.settings = platform::CreateMemorySettingsStore();
  return b;
}

ScannerRecords::Parts ScannerParts(StationBackends& b) {
  ScannerRecords::Parts parts;
  parts.keys = std::move(b.keys);
  parts.serial = std::move(b.serial);
  parts.files.directory = b.recordsDirectory;
  parts.files.encoding = scanner::LoadRecordEncoding(*b.settings);
  return parts;
}

}  // namespace

StationCore::StationCore(StationBackends b)
    : backends_(Prepared(std::move(b))),
      scanner(grid, panel, view, *backends_.settings, ScannerParts(backends_)),
      link(backends_.usb.get(), backends_.hid.get()),
      cycle(slots, link, grid, panel, scanner, view, *backends_.clock, backends_.cycleAnswerWait),
      commands(link, grid, panel, cycle, view, *backends_.clock, *backends_.settings),
      editing(link, grid, panel, cycle, view, *backends_.clock, commands, *backends_.settings),
      presence(slots, link, cycle, commands, panel, scanner, grid, view, *backends_.clock, *backends_.settings) {}

void StationCore::Attach() {
  slots.SetOwner(weak_from_this());
  std::weak_ptr<StationCore> weak = weak_from_this();
  StationView* v = &view;
  link.SetLostCallback([weak, v](int status) {
    v->Post([weak, status] {
      if (auto core = weak.lock()) core->presence.OnDevLost(status);
    });
  });
}

void StationCore::Initialise() {
  std::int32_t trigger = 28000, stable = 3;
  config::LoadOutputSetting(*backends_.settings, trigger, stable);
  panel.SetTriggerLevel(trigger);
  panel.SetStableFrameCount(stable);

  view.RepaintGrid();
  if (backends_.monitor) {
    std::weak_ptr<StationCore> weak = weak_from_this();
    StationView* v = &view;
    const int rc = backends_.monitor->Start([weak, v](const platform::DeviceEvent& event) {
      v->Post([weak, event] {
        if (auto core = weak.lock()) core->presence.OnDeviceEvent(event);
      });
    });
    if (rc != 0)
      view.ShowMessage(texts::kRegisterFailed, MessageIcon::Warning);
    else
      monitorStarted_ = true;
  }
  presence.OpenAtStart();
}

void StationCore::Shutdown() {
  if (!slots.BeginShutdown()) return;
  if (backends_.monitor && monitorStarted_) backends_.monitor->Stop();
  // The scanner's threads first: a scan waiting for the window gives up, no new one comes.
  scanner.Shutdown();
  slots.RequestStopAll();
  link.SignalResponse();
  const bool allEnded = slots.WaitAllEnded(kShutdownWait);
  cycle.MarkStopped();
  // A worker that did not end in time still uses the links: leave them to it.
  if (allEnded) {
    link.Close();
    link.CloseBridge();
  }
  presence.MarkDisconnected();
}

}  // namespace varnex2::station
