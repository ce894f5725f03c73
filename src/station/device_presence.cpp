#include "station/device_presence.h"

#include <cstdio>

#include "judging/panel_layout.h"
#include "platform/interface_path.h"
#include "scanner/scanner_setting.h"
#include "station/station_texts.h"

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

DevicePresence::DevicePresence(WorkerSlots& slots, LinkSession& link, TestCycle& cycle, SetupCommands& commands,
                               PanelState& panel, ScannerRecords& scanner, judging::NodeMap& grid,
                               StationView& view, StationClock& clock, platform::SettingsStore& settings)
    : slots_(slots),
      link_(link),
      cycle_(cycle),
      commands_(commands),
      panel_(panel),
      scanner_(scanner),
      grid_(grid),
      view_(view),
      clock_(clock),
      settings_(settings) {}

void DevicePresence::SetKeyboardHookStarter(std::function<void()> start) {
  std::lock_guard lock(hooksMutex_);
  keyboardHookStarter_ = std::move(start);
}

void DevicePresence::SetScannerSettingsLoaded(Station::ScannerSettingsLoaded handler) {
  std::lock_guard lock(hooksMutex_);
  scannerSettingsLoaded_ = std::move(handler);
}

bool DevicePresence::OnWindow(const std::function<void()>& call, std::stop_token stop) {
  return view_.Send(call, stop);
}

bool DevicePresence::StartProc(SlotId slot, void (DevicePresence::*proc)(std::stop_token)) {
  return slots_.Start(slot, [this, proc](std::stop_token stop) { (this->*proc)(stop); });
}

void DevicePresence::StartReconnectLauncher() { StartProc(SlotId::Launcher, &DevicePresence::ReconnectLauncherProc); }

// ---- device-change handler and messages (window thread) ---------------------------------------

void DevicePresence::OnDeviceEvent(const platform::DeviceEvent& event) {
  if (slots_.ShuttingDown()) return;
  const platform::InterfacePathClass cls = platform::ClassifyInterfacePath(event.interfacePath);
  const bool arrival = event.kind == platform::DeviceEventKind::Arrival;
  if (cls.bridge) {
    if (device::CUSBChannel* channel = link_.Bridge()) {
      if (arrival) {
        channel->OpenBridge();
        channel->LoadConfigPage();
      } else {
        channel->CloseBridge();
      }
    }
  }
  if (cls.controllerMain && link_.Controller()) {
    if (!arrival) {
      link_.NoteLoss();
      view_.SetTitle(texts::kTitleDisconnected);
      StartReconnectLauncher();
    } else if (bool alreadyOpen = false; link_.OpenUnlessConnected(alreadyOpen) != 0) {
      link_.NoteLoss();
      view_.SetTitle(texts::kTitleDisconnected);
      StartReconnectLauncher();
    } else if (alreadyOpen) {
      // Already connected (a repeated arrival, or a reopen after the countdown): reopening
      // would close the link under the threads that use it, and stopping the test would leave
      // it stopped, since the connect slot is filled and nothing restarts it.
      bDeviceConnected_ = true;
      view_.SetTitle(texts::kTitleConnected);
      StartDeviceThreads();
    } else {
      StartAfterOpen();
    }
  }
  if (!arrival) {
    for (std::size_t i = 0; i < cls.otherMatched.size(); ++i) {
      if (!cls.otherMatched[i]) continue;
      view_.Post([owner = slots_.Owner(), this] {
        if (auto alive = owner.lock()) OnDevReplug();
      });
    }
  }
}

void DevicePresence::OnDevLost(int /*transferStatus*/) {
  link_.NoteLoss();
  bDeviceConnected_ = false;
  grid_.SetFrozen(true);
  StartProc(SlotId::DeviceLost, &DevicePresence::DeviceLostThreadProc);
  view_.SetTitle(texts::kTitleDisconnected);
}

void DevicePresence::OnDevReplug() {
  bDeviceConnected_ = false;
  link_.ClearConnected();
  view_.SetTitle(texts::kTitleDisconnected);
  grid_.SetNoticeLabel(texts::kCountdownFirst, true, kNoticeRed, kNoticeWhite);
  view_.RepaintGrid();
}

// ---- opening ----------------------------------------------------------------------------------

void DevicePresence::OpenAtStart() {
  if (link_.Open() != 0) {
    view_.SetTitle(texts::kTitleDisconnected);
    ShowDisconnected();
    return;
  }
  StartAfterOpen();
}

void DevicePresence::StartAfterOpen() {
  bDeviceConnected_ = true;
  view_.SetTitle(texts::kTitleConnected);
  clock_.Wait(kSettleWait);
  cycle_.StopTestThread();
  clock_.Wait(kSettleWait);
  StartDeviceThreads();
}

void DevicePresence::StartDeviceThreads() {
  if (!StartProc(SlotId::Connect, &DevicePresence::ConnectThreadProc)) return;
  std::function<void()> startHook;
  {
    std::lock_guard lock(hooksMutex_);
    startHook = keyboardHookStarter_;
  }
  scanner_.StartKeyboardHook();
  if (startHook) startHook();
  if (device::CUSBChannel* channel = link_.Bridge()) {
    channel->OpenBridge();
    channel->LoadConfigPage();
  }
}

void DevicePresence::ShowDisconnected(std::stop_token stop, std::optional<std::uint64_t> onlyGeneration) {
  grid_.SetFrozen(true);
  const bool shown = OnWindow(
      [this] {
        view_.SetStatusPane(0, texts::kPaneDisconnected, kColourWhite, kColourGrey);
        view_.SetStatusPane(2, texts::kPaneSystem, kColourWhite, kColourGrey);
      },
      stop);
  if (!link_.Close(onlyGeneration)) {
    // Reopened meanwhile by an arrival, whose start-up sets the connected look.
    grid_.SetFrozen(false);
    return;
  }
  bDeviceConnected_ = false;
  grid_.SetGridSize(0, 0);
  if (shown) OnWindow([this] { view_.RepaintGrid(); }, stop);
  grid_.SetFrozen(false);
  if (shown) OnWindow([this] { view_.EnableTopMenus(false); }, stop);
}

// ---- device initialisation ----------------------------------------------------------------

void DevicePresence::LoadConnectionSettings() {
  scanner::ScannerSetting setting;
  config::ScreenLevelSettings screen;
  std::int32_t diffModeGain = 0;
  scanner::LoadScannerSetting(settings_, setting, screen, diffModeGain);
  panel_.ScannerSettings().Set(setting);
  panel_.UpdateConfig([&](config::PanelConfig& p) { p.screen = screen; });
  grid_.SetStatisticsSettings(judging::ToStatisticsSettings(screen));
  Station::ScannerSettingsLoaded loaded;
  {
    std::lock_guard lock(hooksMutex_);
    loaded = scannerSettingsLoaded_;
  }
  if (loaded) loaded(setting);
}

bool DevicePresence::InitDevice(std::stop_token stop) {
  std::string message;
  const SetupCommands::ReadBack readBack = commands_.ReadBackPanel(message);
  // A controller that went away meanwhile is handled by the lost-device path.
  if (readBack == SetupCommands::ReadBack::NoDevice) return false;
  if (readBack == SetupCommands::ReadBack::Invalid) {
    const std::string text = message + texts::kExitSuffix;
    OnWindow(
        [this, text] {
          view_.ShowMessage(text, MessageIcon::Error);
          view_.ExitProgram(0);
        },
        stop);
    return false;
  }
  LoadConnectionSettings();
  // The serial scanner's port, opened at the first connection that finds it chosen.
  scanner_.OnConnected(stop);
  bool thresholdEnable = false;
  panel_.ReadConfig([&](const config::PanelConfig& p) { thresholdEnable = p.screen.ScreenThresholdEnable != 0; });
  OnWindow(
      [this, thresholdEnable] {
        view_.SetStatusPane(0, texts::kPaneConnected, kColourWhite, kColourGreen);
        view_.EnableTopMenus(true);
        view_.SetStatusPaneWidth(1, thresholdEnable ? 600 : 400);
      },
      stop);
  grid_.SetFrozen(false);
  OnWindow([this] { view_.RepaintGrid(); }, stop);
  return true;
}

// ---- worker procedures -----------------------------------------------------------------------

void DevicePresence::ConnectThreadProc(std::stop_token stop) {
  ProcedureLock lock(connectMutex_, stop);
  if (!lock.Owned()) return;
  if (!clock_.Wait(kProcStartWait, stop)) return;
  if (!InitDevice(stop) || stop.stop_requested()) return;
  StartProc(SlotId::StartTest, &DevicePresence::StartTestThreadProc);
}

void DevicePresence::StartTestThreadProc(std::stop_token stop) {
  ProcedureLock lock(startTestMutex_, stop);
  if (!lock.Owned()) return;
  grid_.SetNoticeLabel(std::string(), false, kNoticeRed, kNoticeWhite);
  OnWindow([this] { view_.RepaintGrid(); }, stop);
  if (!stop.stop_requested()) cycle_.StartTestThread();
}

void DevicePresence::RequestReconnect() {
  slots_.RequestStop(SlotId::Test);
  StartProc(SlotId::Reconnect, &DevicePresence::ReconnectThreadProc);
}

void DevicePresence::DeviceLostThreadProc(std::stop_token stop) {
  ProcedureLock lock(deviceLostMutex_, stop);
  if (!lock.Owned()) return;
  RequestReconnect();
}

void DevicePresence::ReconnectLauncherProc(std::stop_token stop) {
  ProcedureLock lock(launcherMutex_, stop);
  if (!lock.Owned()) return;
  RequestReconnect();
}

void DevicePresence::ShowNotice(const std::string& text, std::stop_token stop) {
  grid_.SetNoticeLabel(text, true, kNoticeRed, kNoticeWhite);
  OnWindow([this] { view_.RepaintGrid(); }, stop);
}

void DevicePresence::ReconnectThreadProc(std::stop_token stop) {
  ProcedureLock lock(reconnectMutex_, stop);
  if (!lock.Owned()) return;
  if (!clock_.Wait(kProcStartWait, stop)) return;
  // An unplug is seen twice (the removal and the failed transfer); the second request can
  // start this procedure again after the first has reconnected. Counting down again would
  // disconnect a box that works.
  if (!link_.LossIsCurrent()) return;

  // The controller link is closed below: first let the threads that use it end (each of
  // their waits is bounded).
  slots_.RequestStop(SlotId::Connect);
  slots_.RequestStop(SlotId::StartTest);
  slots_.StopAndWait(SlotId::Connect, kWorkerEndWait);
  slots_.StopAndWait(SlotId::StartTest, kWorkerEndWait);
  slots_.StopAndWait(SlotId::Test, kWorkerEndWait);
  cycle_.MarkStopped();

  ShowNotice(texts::kCountdownFirst, stop);
  ShowDisconnected(stop);
  link_.SignalResponse();
  slots_.EmptyAll();

  char text[64];
  for (int n = kCountdownFrom; n >= 0; --n) {
    if (!clock_.Wait(kCountdownStep, stop)) return;
    std::snprintf(text, sizeof text, texts::kCountdownFormat, n);
    ShowNotice(text, stop);
  }
  if (!clock_.Wait(kCountdownStep, stop)) return;
  ShowNotice(texts::kReplug, stop);

  if (link_.Connected()) {
    // An arrival during the countdown has reconnected already: reopening would close the link
    // under the threads it started. Its start-up hid the notice before the countdown showed it
    // again; the instruction is stale now.
    bDeviceConnected_ = true;
    grid_.SetNoticeLabel(std::string(), false, kNoticeRed, kNoticeWhite);
    OnWindow(
        [this] {
          view_.SetTitle(texts::kTitleConnected);
          view_.RepaintGrid();
        },
        stop);
    StartDeviceThreads();
    return;
  }
  const std::uint64_t generation = link_.Generation();
  if (link_.Open() != 0) {
    // An arrival may have opened the link since this failed attempt (the box was plugged back
    // just now): its own start-up owns the connection then.
    if (link_.Generation() != generation) return;
    OnWindow([this] { view_.SetTitle(texts::kTitleDisconnected); }, stop);
    ShowDisconnected(stop, generation);
    // The bridge is opened again by its next arrival.
    link_.CloseBridge();
    return;
  }
  bDeviceConnected_ = true;
  OnWindow([this] { view_.SetTitle(texts::kTitleConnected); }, stop);
  StartDeviceThreads();
}

}  // namespace varnex2::station
