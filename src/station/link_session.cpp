#include "station/link_session.h"

#include "device/result_codes.h"

namespace varnex2::station {

LinkSession::LinkSession(platform::UsbPort* usb, platform::HidPort* hid) {
  if (usb) link_ = std::make_unique<device::ControllerLink>(*usb);
  if (hid) channel_ = std::make_unique<device::CUSBChannel>(*hid);
}

void LinkSession::SetLostCallback(device::ControllerLink::LostCallback callback) {
  if (link_) link_->SetLostCallback(std::move(callback));
}

int LinkSession::OpenLocked() {
  const int r = link_->OpenController();
  if (r == 0) ++generation_;
  return r;
}

int LinkSession::Open() {
  if (!link_) return device::kErrNoHandle;
  std::lock_guard lock(mutex_);
  return OpenLocked();
}

int LinkSession::OpenUnlessConnected(bool& alreadyOpen) {
  alreadyOpen = false;
  if (!link_) return device::kErrNoHandle;
  std::lock_guard lock(mutex_);
  if (link_->HasHandle() && link_->DeviceConnected()) {
    alreadyOpen = true;
    return 0;
  }
  return OpenLocked();
}

bool LinkSession::Close(std::optional<std::uint64_t> onlyGeneration) {
  if (!link_) return true;
  std::lock_guard lock(mutex_);
  if (onlyGeneration && *onlyGeneration != generation_) return false;
  link_->CloseController();
  return true;
}

bool LinkSession::Connected() {
  if (!link_) return false;
  std::lock_guard lock(mutex_);
  return link_->HasHandle() && link_->DeviceConnected();
}

std::uint64_t LinkSession::Generation() {
  std::lock_guard lock(mutex_);
  return generation_;
}

void LinkSession::SignalResponse() {
  if (link_) link_->SignalResponseEvent();
}

void LinkSession::ClearConnected() {
  if (link_) link_->ClearDeviceConnected();
}

std::uint8_t LinkSession::BridgeConfigByte() { return channel_ ? channel_->GetConfigByte() : 0; }

void LinkSession::CloseBridge() {
  if (channel_) channel_->CloseBridge();
}

}  // namespace varnex2::station
