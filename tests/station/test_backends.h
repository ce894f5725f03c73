#pragma once
// Back-ends for the station's tests that wrap the simulated box's and the memory store: a
// controller port that can keep the self-test from answering, and a settings store that
// records what is read.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/forwarding_usb_port.h"
#include "platform/settings_store.h"
#include "platform/usb_port.h"

namespace varnex2::station::testing {

// Passes everything through; while `silent` is set, the self-test command written to the
// self-test object (register `commandAddress`) is replaced by 0, so the controller runs no test
// and sends no result.
class SelfTestGate final : public device::testing::ForwardingUsbPort {
 public:
  SelfTestGate(std::unique_ptr<platform::UsbPort> inner, std::uint16_t commandAddress)
      : ForwardingUsbPort(std::move(inner)), commandAddress_(commandAddress) {}

  std::atomic<bool> silent{false};
  std::atomic<int> silenced{0};  // self-test commands kept from the controller

  int InterruptWrite(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds timeout) override {
    std::vector<std::uint8_t> copy(data.begin(), data.end());
    Filter(copy);
    return Inner().InterruptWrite(endpoint, copy, transferred, timeout);
  }
  int InterruptWriteAsync(std::uint8_t endpoint, std::span<const std::uint8_t> data) override {
    std::vector<std::uint8_t> copy(data.begin(), data.end());
    Filter(copy);
    return Inner().InterruptWriteAsync(endpoint, copy);
  }

 private:
  // A register write request: 0x01, 0x51, count + 2, 0, address low, address high, data.
  void Filter(std::vector<std::uint8_t>& r) {
    if (!silent || r.size() < 7 || r[1] != 0x51 || r[2] != 3) return;
    if ((r[4] | (r[5] << 8)) != commandAddress_ || r[6] == 0) return;
    r[6] = 0;
    ++silenced;
  }

  std::uint16_t commandAddress_;
};

// Passes everything through and records every read as "key|name".
class RecordingSettingsStore final : public platform::SettingsStore {
 public:
  explicit RecordingSettingsStore(std::unique_ptr<platform::SettingsStore> inner) : inner_(std::move(inner)) {}

  std::vector<std::string> Reads() {
    std::lock_guard lock(mutex_);
    return reads_;
  }
  void ClearReads() {
    std::lock_guard lock(mutex_);
    reads_.clear();
  }

  platform::SettingsStatus GetDword(std::string_view key, std::string_view name, std::int32_t& value) override {
    Record(key, name);
    return inner_->GetDword(key, name, value);
  }
  platform::SettingsStatus SetDword(std::string_view key, std::string_view name, std::int32_t value) override {
    return inner_->SetDword(key, name, value);
  }
  platform::SettingsStatus GetString(std::string_view key, std::string_view name, std::string& value,
                                     std::size_t maxBytes) override {
    Record(key, name);
    return inner_->GetString(key, name, value, maxBytes);
  }
  platform::SettingsStatus SetString(std::string_view key, std::string_view name, std::string_view value) override {
    return inner_->SetString(key, name, value);
  }
  platform::SettingsStatus DeleteValue(std::string_view key, std::string_view name) override {
    return inner_->DeleteValue(key, name);
  }

 private:
  void Record(std::string_view key, std::string_view name) {
    std::lock_guard lock(mutex_);
    reads_.push_back(std::string(key) + "|" + std::string(name));
  }

  std::unique_ptr<platform::SettingsStore> inner_;
  std::mutex mutex_;
  std::vector<std::string> reads_;
};

}  // namespace varnex2::station::testing
