#include "station/station.h"

#include "station/station_core.h"
#include "device/controller_link.h"
#include "device/controller_record.h"
#include "judging/frame_capture.h"
#include "judging/node_map.h"
#include "station/station_texts.h"

namespace varnex2::station {

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

void Station::StartTestThread() { impl_->core->cycle.StartTestThread(); }
int Station::StopTestThread() { return impl_->core->cycle.StopTestThread(); }
void Station::ResumeTest() { impl_->core->cycle.ResumeTest(); }
bool Station::TestRunning() const { return impl_->core->cycle.Running(); }

void Station::OnDeviceEvent(const platform::DeviceEvent& event) { impl_->core->presence.OnDeviceEvent(event); }
void Station::OnDevLost(int transferStatus) { impl_->core->presence.OnDevLost(transferStatus); }
void Station::OnDevReplug() { impl_->core->presence.OnDevReplug(); }
bool Station::DeviceConnected() const { return impl_->core->presence.Connected(); }

void Station::ResetPanelConfig() { impl_->core->commands.ResetPanelConfig(); }
void Station::SetDisplayStyle(int style) { impl_->core->commands.SetDisplayStyle(style); }
int Station::DisplayStyle() const { return impl_->core->grid.GetDisplayStyle(); }
void Station::ToggleDiffMode() { impl_->core->commands.ToggleDiffMode(); }
bool Station::DiffMode() const { return impl_->core->panel.DiffMode(); }
void Station::ToggleBuzzerEnable() { impl_->core->commands.ToggleBuzzer(0x1); }
void Station::ToggleBuzzerInvert() { impl_->core->commands.ToggleBuzzer(0x2); }
std::uint8_t Station::BuzzerByte() const { return impl_->core->link.BridgeConfigByte(); }
void Station::ToggleLineNumberBase() { impl_->core->commands.ToggleLineNumberBase(); }
void Station::ToggleTestModeBit(std::uint32_t bit) { impl_->core->commands.ToggleTestModeBit(bit); }
std::uint32_t Station::TestModeFlags() const { return static_cast<std::uint32_t>(impl_->core->grid.TestModeFlags()); }
void Station::LoadParameterFile(const std::filesystem::path& file) { impl_->core->commands.LoadParameterFile(file); }
void Station::SaveParameterFile(const std::filesystem::path& file) { impl_->core->commands.SaveParameterFile(file); }
void Station::CaptureFrame(const std::filesystem::path& file) { impl_->core->commands.CaptureFrame(file); }
void Station::AreaDefined(int area, SetupPrompts& prompts) { impl_->core->editing.AreaDefined(area, prompts); }
void Station::EditAreaOfNode(int nArea, SetupPrompts& prompts) { impl_->core->editing.EditAreaOfNode(nArea, prompts); }
void Station::EditNodeLimits(int col, int row, SetupPrompts& prompts) {
  impl_->core->editing.EditNodeLimits(col, row, prompts);
}
void Station::EditNodePercent(int nArea, int col, int row, SetupPrompts& prompts) {
  impl_->core->editing.EditNodePercent(nArea, col, row, prompts);
}
void Station::AdjacentWholeMap(SetupPrompts& prompts) { impl_->core->editing.AdjacentWholeMap(prompts); }
void Station::AdjacentRegion(int col1, int row1, int col2, int row2, SetupPrompts& prompts) {
  impl_->core->editing.AdjacentRegion({col1, row1}, {col2, row2}, prompts);
}
void Station::MarkNode(int oldFlags, int nArea, int col, int row) {
  impl_->core->editing.MarkNode(oldFlags, nArea, col, row);
}
config::ScreenLevelSettings Station::LoadScreenLevel() { return impl_->core->editing.LoadScreenLevel(); }
void Station::ApplyScreenLevel(const config::ScreenLevelSettings& group, bool confirmed) {
  impl_->core->editing.ApplyScreenLevel(group, confirmed);
}
config::LegacyIniPart Station::ImportLegacyIni(const config::LegacyIniFile& ini) {
  return impl_->core->commands.ImportLegacyIni(ini);
}
void Station::FinishSampleLimits(const config::SampleLimitSet* confirmed) {
  StationCore& core = *impl_->core;
  if (confirmed != nullptr) core.panel.UpdateConfig([&](config::PanelConfig& p) { p.sampleLimits = *confirmed; });
  {
    std::lock_guard lock(core.grid.Mutex());
    const std::int32_t flags = core.grid.TestModeFlags();
    core.grid.SetTestModeFlags(confirmed != nullptr ? (flags | judging::TestMode::LIMITS)
                                                    : ((flags & ~judging::TestMode::LIMITS) | judging::TestMode::THRESHOLD));
  }
  core.cycle.ResumeTest();
}
platform::SettingsStore& Station::Settings() { return impl_->core->Settings(); }

std::string Station::CaptureFrameText() const {
  // Counts and flags of one and the same frame.
  std::lock_guard lock(Model().Mutex());
  return judging::BuildCaptureText(Model());
}
void Station::WriteFrameCapture(const std::filesystem::path& file, const std::string& text) {
  if (file.empty()) return;
  if (judging::AppendCaptureToFile(file.string(), text))
    impl_->core->view.ShowMessage(texts::kCaptureSaved, MessageIcon::Information);
}

device::ControllerLink* Station::Controller() { return impl_->core->link.Controller(); }
std::unique_lock<std::recursive_mutex> Station::LockController() { return impl_->core->link.Lock(); }
device::CUSBChannel* Station::Bridge() { return impl_->core->link.Bridge(); }
bool Station::FirmwareVersion(std::uint8_t& version, std::uint8_t& build) {
  device::ControllerLink* link = Controller();
  if (link == nullptr) return false;
  auto turn = LockController();
  const device::ControllerRecord* record = link->Record();
  if (record == nullptr) return false;
  version = record->Version();
  build = record->Build();
  return true;
}
void Station::ApplyPanelConfig(const config::PanelConfig& panel) { impl_->core->commands.ApplyPanelConfig(panel); }
std::string Station::ReadBackPanel() {
  std::string message;
  return impl_->core->commands.ReadBackPanel(message) == SetupCommands::ReadBack::Invalid ? message : std::string();
}

config::PanelConfig Station::PanelConfigCopy() const { return impl_->core->panel.Config(); }
void Station::UpdatePanelConfig(const std::function<void(config::PanelConfig&)>& change) {
  impl_->core->panel.UpdateConfig(change);
}

std::string Station::StatisticsText() const { return impl_->core->panel.StatisticsText(); }
std::int32_t Station::TriggerLevel() const { return impl_->core->panel.TriggerLevel(); }
std::int32_t Station::StableFrameCount() const { return impl_->core->panel.StableFrameCount(); }
void Station::SetTriggerLevel(std::int32_t level) { impl_->core->panel.SetTriggerLevel(level); }
void Station::SetStableFrameCount(std::int32_t count) { impl_->core->panel.SetStableFrameCount(count); }

void Station::SetKeyboardHookStarter(std::function<void()> start) {
  impl_->core->presence.SetKeyboardHookStarter(std::move(start));
}
void Station::SetScannerSettingsLoaded(ScannerSettingsLoaded handler) {
  impl_->core->presence.SetScannerSettingsLoaded(std::move(handler));
}
scanner::SharedScannerSetting& Station::ScannerSettings() { return impl_->core->panel.ScannerSettings(); }
std::vector<std::string> Station::ScannerPorts() { return impl_->core->scanner.AvailablePorts(); }
bool Station::ForegroundKeyDown(int vk) { return impl_->core->scanner.OnForegroundKeyDown(vk); }
bool Station::ForegroundChar(char32_t character) { return impl_->core->scanner.OnForegroundChar(character); }
void Station::OnScannerData(const std::string& scanned) { impl_->core->scanner.OnScannerData(scanned); }
void Station::SetLogResultHandler(LogResultHandler handler) {
  impl_->core->cycle.SetLogResultHandler(std::move(handler));
}

}  // namespace varnex2::station
