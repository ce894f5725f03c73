#include "app/station.h"

#include "judging/node_map.h"

namespace varnex2::app {

struct Station::Impl {
  Impl(StationView& v, judging::NodeMap& g, StationBackends b) : view(v), grid(g), backends(std::move(b)) {}
  StationView& view;
  judging::NodeMap& grid;
  StationBackends backends;
  LogResultHandler logResult;
};

Station::Station(StationView& view, judging::NodeMap& grid, StationBackends backends)
    : impl_(std::make_unique<Impl>(view, grid, std::move(backends))) {}
Station::~Station() { Shutdown(); }

void Station::Initialise() {}
void Station::Shutdown() {}
void Station::StartTestThread() {}
int Station::StopTestThread() { return 0; }
void Station::ResumeTest() {}
bool Station::TestRunning() const { return false; }
void Station::OnDeviceEvent(const platform::DeviceEvent&) {}
void Station::OnDevLost(int) {}
void Station::OnDevReplug() {}
bool Station::DeviceConnected() const { return false; }
void Station::ResetPanelConfig() {}
void Station::SetDisplayStyle(int) {}
int Station::DisplayStyle() const { return 0; }
void Station::ToggleDiffMode() {}
bool Station::DiffMode() const { return false; }
void Station::ToggleBuzzerEnable() {}
void Station::ToggleBuzzerInvert() {}
std::uint8_t Station::BuzzerByte() const { return 0; }
void Station::ToggleLineNumberBase() {}
void Station::ToggleTestModeBit(std::uint32_t) {}
std::uint32_t Station::TestModeFlags() const { return 1; }
void Station::LoadParameterFile(const std::filesystem::path&) {}
void Station::SaveParameterFile(const std::filesystem::path&) {}
void Station::CaptureFrame(const std::filesystem::path&) {}
std::string Station::StatisticsText() const { return {}; }
std::int32_t Station::TriggerLevel() const { return 28000; }
std::int32_t Station::StableFrameCount() const { return 3; }
void Station::SetLogResultHandler(LogResultHandler handler) { impl_->logResult = std::move(handler); }

}  // namespace varnex2::app
