// Device presence: the device-change handler, connection and device
// initialisation, the lost-device and reconnect routines.

#include <cstdio>

#include "station/station_core.h"
#include "platform/memory_settings_store.h"
#include "station/station_texts.h"
#include "config/reg_edit_class.h"
#include "device/controller_ops.h"
#include "device/panel_areas.h"
#include "judging/panel_layout.h"
#include "platform/interface_path.h"

namespace varnex2::station {

namespace {

constexpr std::chrono::milliseconds kSettleWait{500};
constexpr std::chrono::milliseconds kProcStartWait{200};
constexpr std::chrono::milliseconds kCountdownStep{1000};
constexpr std::chrono::milliseconds kWorkerEndWait{5000};
constexpr int kCountdownFrom = 14;

constexpr judging::Rgb kNoticeRed = judging::MakeRgb(255, 0, 0);
constexpr judging::Rgb kNoticeWhite = judging::MakeRgb(255, 255, 255);


}  // namespace

// ---- device-change handler (window thread) ------------------------------------------------

void StationCore::OnDeviceEvent(const platform::DeviceEvent& event) {
  if (ShuttingDown()) return;
  const platform::InterfacePathClass cls = platform::ClassifyInterfacePath(event.interfacePath);
  const bool arrival = event.kind == platform::DeviceEventKind::Arrival;
  if (cls.bridge && channel) {
    if (arrival) {
      channel->OpenBridge();
      channel->LoadConfigPage();
    } else {
      channel->CloseBridge();
    }
  }
  if (cls.controllerMain && link) {
    if (!arrival) {
      NoteLoss();
      view.SetTitle(texts::kTitleDisconnected);
      StartWorker(SlotId::Launcher, &StationCore::ReconnectLauncherProc);
    } else if (bool alreadyOpen = false; OpenLinkUnlessConnected(alreadyOpen) != 0) {
      NoteLoss();
      view.SetTitle(texts::kTitleDisconnected);
      StartWorker(SlotId::Launcher, &StationCore::ReconnectLauncherProc);
    } else if (alreadyOpen) {
      // Already connected (a repeated arrival, or a reopen after the countdown):
      // reopening would close the link under the threads that use it, and stopping
      // the test would leave it stopped, since the connect slot is filled and
      // nothing restarts it.
      bDeviceConnected = true;
      view.SetTitle(texts::kTitleConnected);
      StartDeviceThreads();
    } else {
      StartAfterOpen();
    }
  }
  if (!arrival) {
    for (std::size_t i = 0; i < cls.otherMatched.size(); ++i)
      if (cls.otherMatched[i]) PostToWindow([](StationCore& core) { core.OnDevReplug(); });
  }
}

void StationCore::OnDevLost(int /*transferStatus*/) {
  NoteLoss();
  bDeviceConnected = false;
  grid.SetFrozen(true);
  StartWorker(SlotId::DeviceLost, &StationCore::DeviceLostThreadProc);
  view.SetTitle(texts::kTitleDisconnected);
}

void StationCore::OnDevReplug() {
  bDeviceConnected = false;
  if (link) link->ClearDeviceConnected();
  view.SetTitle(texts::kTitleDisconnected);
  grid.SetNoticeLabel(texts::kCountdownFirst, true, kNoticeRed, kNoticeWhite);
  view.RepaintGrid();
}

// ---- opening ----------------------------------------------------------------------------------

int StationCore::OpenLink() {
  if (!link) return device::kErrNoHandle;
  std::lock_guard lock(linkMutex);
  const int r = link->OpenController();
  if (r == 0) ++linkGeneration;
  return r;
}

bool StationCore::CloseLink(std::optional<std::uint64_t> onlyGeneration) {
  if (!link) return true;
  std::lock_guard lock(linkMutex);
  if (onlyGeneration && *onlyGeneration != linkGeneration) return false;
  link->CloseController();
  return true;
}

int StationCore::OpenLinkUnlessConnected(bool& alreadyOpen) {
  alreadyOpen = false;
  if (!link) return device::kErrNoHandle;
  std::lock_guard lock(linkMutex);
  if (link->HasHandle() && link->DeviceConnected()) {
    alreadyOpen = true;
    return 0;
  }
  return OpenLink();
}

std::uint64_t StationCore::LinkGeneration() {
  std::lock_guard lock(linkMutex);
  return linkGeneration;
}

bool StationCore::LinkConnected() {
  if (!link) return false;
  std::lock_guard lock(linkMutex);
  return link->HasHandle() && link->DeviceConnected();
}

void StationCore::OpenAtStart() {
  if (OpenLink() != 0) {
    view.SetTitle(texts::kTitleDisconnected);
    ShowDisconnected();
    return;
  }
  StartAfterOpen();
}

void StationCore::StartAfterOpen() {
  bDeviceConnected = true;
  view.SetTitle(texts::kTitleConnected);
  clock.Wait(kSettleWait);
  StopTestThread();
  clock.Wait(kSettleWait);
  StartDeviceThreads();
}

void StationCore::StartDeviceThreads() {
  if (!StartWorker(SlotId::Connect, &StationCore::ConnectThreadProc)) return;
  std::function<void()> startHook;
  {
    std::lock_guard lock(logMutex);
    startHook = keyboardHookStarter;
  }
  if (startHook) startHook();
  if (channel) {
    channel->OpenBridge();
    channel->LoadConfigPage();
  }
}

void StationCore::ShowDisconnected(std::stop_token stop, std::optional<std::uint64_t> onlyGeneration) {
  grid.SetFrozen(true);
  const bool shown = OnWindow(
      [this] {
        view.SetStatusPane(0, texts::kPaneDisconnected, kColourWhite, kColourGrey);
        view.SetStatusPane(2, texts::kPaneSystem, kColourWhite, kColourGrey);
      },
      stop);
  if (!CloseLink(onlyGeneration)) {
    // Reopened meanwhile by an arrival, whose start-up sets the connected look.
    grid.SetFrozen(false);
    return;
  }
  bDeviceConnected = false;
  grid.SetGridSize(0, 0);
  if (shown) OnWindow([this] { view.RepaintGrid(); }, stop);
  grid.SetFrozen(false);
  if (shown) OnWindow([this] { view.EnableTopMenus(false); }, stop);
}

// ---- device initialisation ----------------------------------------------------------------

namespace {
// A failure of the link itself (the controller went away), as opposed to an answer.
bool IsLinkFailure(int rc) { return rc < 0 || rc == device::kErrNotConnected; }
}  // namespace

StationCore::ReadBack StationCore::ReadBackPanel(std::string& message) {
  if (!link) return ReadBack::NoDevice;
  std::unique_lock turn(linkMutex);
  if (!link->Record()) return ReadBack::NoDevice;
  device::ControllerRecord& record = *link->Record();
  if (IsLinkFailure(device::ReadInfoBlock(*link, record))) return ReadBack::NoDevice;
  device::AreaSettings touchRead, keyRead;
  if (IsLinkFailure(device::ReadPanelAreas(*link, touchRead, keyRead))) return ReadBack::NoDevice;
  config::AreaParams touch = ToAreaParams(touchRead);
  config::AreaParams key = ToAreaParams(keyRead);
  const config::ValidationResult valid =
      config::ValidatePanelConfig(touch, key, record.MatrixX(), record.MatrixY(), record.Version());
  if (valid.nCode != config::kValidOk) {
    message = valid.strMessage;
    return ReadBack::Invalid;
  }
  {
    std::lock_guard lock(configMutex);
    panel.touchArea = touch;
    panel.keyArea = key;
  }
  ReadUserDataRecord();
  turn.unlock();
  // The screen-level group as held in memory: a connection loads it from the settings
  // afterwards, together with the scanner settings.
  config::PanelConfig snapshot;
  {
    std::lock_guard lock(configMutex);
    snapshot = panel;
  }
  {
    std::lock_guard lock(grid.Mutex());
    judging::LayOutAreas(grid, snapshot);
    judging::DrawUserMarks(grid, snapshot);
    grid.SetDisplayStyle(snapshot.nUiColorMode);
    grid.SetStatisticsSettings(judging::ToStatisticsSettings(snapshot.screen));
  }
  return ReadBack::Ok;
}

bool StationCore::InitDevice(std::stop_token stop) {
  std::string message;
  const ReadBack readBack = ReadBackPanel(message);
  // A controller that went away meanwhile is handled by the lost-device path.
  if (readBack == ReadBack::NoDevice) return false;
  if (readBack == ReadBack::Invalid) {
    const std::string text = message + texts::kExitSuffix;
    OnWindow(
        [this, text] {
          view.ShowMessage(text, MessageIcon::Error);
          view.ExitProgram(0);
        },
        stop);
    return false;
  }
  // Scanner settings (with the screen-level group and the diff-mode gain).
  {
    scanner::ScannerSetting setting;
    config::ScreenLevelSettings screen;
    std::int32_t diffModeGain = 0;
    // The scanner subtree, then the screen-level group, then the difference-mode gain.
    scanner::LoadScannerSetting(*backends.settings, setting, screen, diffModeGain);
    scannerSetting.Set(setting);
    {
      std::lock_guard lock(configMutex);
      panel.screen = screen;
    }
    grid.SetStatisticsSettings(judging::ToStatisticsSettings(screen));
    Station::ScannerSettingsLoaded loaded;
    {
      std::lock_guard lock(logMutex);
      loaded = scannerSettingsLoaded;
    }
    if (loaded) loaded(setting);
  }

  bool thresholdEnable = false;
  {
    std::lock_guard lock(configMutex);
    thresholdEnable = panel.screen.ScreenThresholdEnable != 0;
  }
  OnWindow(
      [this, thresholdEnable] {
        view.SetStatusPane(0, texts::kPaneConnected, kColourWhite, kColourGreen);
        view.EnableTopMenus(true);
        view.SetStatusPaneWidth(1, thresholdEnable ? 600 : 400);
      },
      stop);
  grid.SetFrozen(false);
  OnWindow([this] { view.RepaintGrid(); }, stop);
  return true;
}

// ---- worker procedures -----------------------------------------------------------------------

void StationCore::ConnectThreadProc(std::stop_token stop) {
  ProcedureLock lock(connectMutex, stop);
  if (!lock.Owned()) return;
  if (!clock.Wait(kProcStartWait, stop)) return;
  if (!InitDevice(stop) || stop.stop_requested()) return;
  StartWorker(SlotId::StartTest, &StationCore::StartTestThreadProc);
}

void StationCore::StartTestThreadProc(std::stop_token stop) {
  ProcedureLock lock(startTestMutex, stop);
  if (!lock.Owned()) return;
  grid.SetNoticeLabel(std::string(), false, kNoticeRed, kNoticeWhite);
  OnWindow([this] { view.RepaintGrid(); }, stop);
  if (!stop.stop_requested()) StartTestThread();
}

void StationCore::RequestReconnect(SlotId /*from*/) {
  RequestStop(SlotId::Test);
  StartWorker(SlotId::Reconnect, &StationCore::ReconnectThreadProc);
}

void StationCore::DeviceLostThreadProc(std::stop_token stop) {
  ProcedureLock lock(deviceLostMutex, stop);
  if (!lock.Owned()) return;
  RequestReconnect(SlotId::DeviceLost);
}

void StationCore::ReconnectLauncherProc(std::stop_token stop) {
  ProcedureLock lock(launcherMutex, stop);
  if (!lock.Owned()) return;
  RequestReconnect(SlotId::Launcher);
}

void StationCore::ReconnectThreadProc(std::stop_token stop) {
  ProcedureLock lock(reconnectMutex, stop);
  if (!lock.Owned()) return;
  if (!clock.Wait(kProcStartWait, stop)) return;
  // An unplug is seen twice (the removal and the failed transfer); the second request
  // can start this procedure again after the first has reconnected. Counting down
  // again would disconnect a box that works.
  if (LinkGeneration() != lostGeneration.load()) return;

  // The controller link is closed below: first let the threads that use it end
  // (each of their waits is bounded).
  RequestStop(SlotId::Connect);
  RequestStop(SlotId::StartTest);
  StopAndWait(SlotId::Connect, kWorkerEndWait);
  StopAndWait(SlotId::StartTest, kWorkerEndWait);
  StopAndWait(SlotId::Test, kWorkerEndWait);
  SetTestRunning(false);

  grid.SetNoticeLabel(texts::kCountdownFirst, true, kNoticeRed, kNoticeWhite);
  OnWindow([this] { view.RepaintGrid(); }, stop);
  ShowDisconnected(stop);
  if (link) link->SignalResponseEvent();
  EmptyAllSlots();

  char text[64];
  for (int n = kCountdownFrom; n >= 0; --n) {
    if (!clock.Wait(kCountdownStep, stop)) return;
    std::snprintf(text, sizeof text, texts::kCountdownFormat, n);
    grid.SetNoticeLabel(text, true, kNoticeRed, kNoticeWhite);
    OnWindow([this] { view.RepaintGrid(); }, stop);
  }
  if (!clock.Wait(kCountdownStep, stop)) return;
  grid.SetNoticeLabel(texts::kReplug, true, kNoticeRed, kNoticeWhite);
  OnWindow([this] { view.RepaintGrid(); }, stop);

  if (LinkConnected()) {
    // An arrival during the countdown has reconnected already: reopening would
    // close the link under the threads it started. Its start-up hid the notice
    // before the countdown showed it again; the instruction is stale now.
    bDeviceConnected = true;
    grid.SetNoticeLabel(std::string(), false, kNoticeRed, kNoticeWhite);
    OnWindow([this] {
      view.SetTitle(texts::kTitleConnected);
      view.RepaintGrid();
    }, stop);
    StartDeviceThreads();
    return;
  }
  const std::uint64_t generation = LinkGeneration();
  if (OpenLink() != 0) {
    // An arrival may have opened the link since this failed attempt (the box was
    // plugged back just now): its own start-up owns the connection then.
    if (LinkGeneration() != generation) return;
    OnWindow([this] { view.SetTitle(texts::kTitleDisconnected); }, stop);
    ShowDisconnected(stop, generation);
    // The bridge is opened again by its next arrival.
    if (channel) channel->CloseBridge();
    return;
  }
  bDeviceConnected = true;
  OnWindow([this] { view.SetTitle(texts::kTitleConnected); }, stop);
  StartDeviceThreads();
}

}  // namespace varnex2::station
