#pragma once
// A scripted HidPort with a model of the bridge: page 249, the output block and the
// configuration bits, answering the command sequences the bridge understands.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "device/box_ids.h"
#include "platform/hid_port.h"

namespace varnex2::device::testing {

using HidReport = std::array<std::uint8_t, platform::kHidReportSize>;

class FakeHidPort : public platform::HidPort {
 public:
  std::vector<platform::HidDeviceInfo> devices;
  std::vector<std::string> unopenable;  // paths whose Open fails
  bool answers = true;                  // false: the bridge never answers
  std::array<std::uint8_t, 64> page249{};
  std::array<std::uint8_t, 64> output{};
  std::vector<HidReport> written;
  std::string openPath;
  int reads = 0;
  int opens = 0;

  void AddBridge(std::string path, std::u16string manufacturer = u"VarnexTestBox01",
                 std::u16string product = u"ZorvatBridgeV4") {
    devices.push_back(
        {std::move(path), kBridgeVendorId, kBridgeProductId, std::move(manufacturer), std::move(product), 0});
  }

  std::vector<platform::HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
    std::vector<platform::HidDeviceInfo> out;
    for (const auto& d : devices)
      if (d.vendorId == vendorId && d.productId == productId) out.push_back(d);
    return out;
  }
  int Open(const std::string& path) override {
    ++opens;
    for (const auto& p : unopenable)
      if (p == path) return -1;
    openPath = path;
    return 0;
  }
  bool IsOpen() const override { return !openPath.empty(); }
  int Write(std::span<const std::uint8_t, platform::kHidReportSize> report) override {
    if (openPath.empty()) return -1;
    HidReport r;
    std::copy(report.begin(), report.end(), r.begin());
    written.push_back(r);
    Model(r);
    return static_cast<int>(r.size());
  }
  int Read(std::span<std::uint8_t, platform::kHidReportSize> report, std::chrono::milliseconds timeout) override {
    ++reads;
    if (openPath.empty()) return -1;
    if (in_.empty()) {
      std::this_thread::sleep_for(timeout);
      return 0;
    }
    std::copy(in_.front().begin(), in_.front().end(), report.begin());
    in_.pop_front();
    return static_cast<int>(report.size());
  }
  void Close() override { openPath.clear(); }

 private:
  void Answer(const std::array<std::uint8_t, 64>& data) {
    if (!answers) return;
    HidReport r{};
    std::copy(data.begin(), data.end(), r.begin() + 1);
    in_.push_back(r);
  }
  void Model(const HidReport& r) {
    if (pending_ == 0) {
      if (r[1] != 0xAA || r[2] != 0x55) return;
      command_ = r[3];
      switch (command_) {
        case 0x20:
          pending_ = 2;
          break;
        case 0x21:
          pending_ = 1;
          break;
        case 0x24:
          Answer(output);
          break;
        case 0x25:
          pending_ = 1;
          break;
        case 0x40:
          if (r[4] == kBridgeConfigPage && std::equal(kBridgeSignature.begin(), kBridgeSignature.end(), r.begin() + 8))
            page249[0] = static_cast<std::uint8_t>((page249[0] & ~r[7]) | (r[6] & r[7]));
          break;
        default:
          break;
      }
      return;
    }
    --pending_;
    if (command_ == 0x21) {
      if (r[1] == kBridgeConfigPage) Answer(page249);
    } else if (command_ == 0x20) {
      if (pending_ == 1) {
        page_ = r[1];
      } else if (page_ == kBridgeConfigPage) {
        std::copy(r.begin() + 1, r.end(), page249.begin());
      }
    } else if (command_ == 0x25) {
      std::copy(r.begin() + 1, r.end(), output.begin());
      Answer(output);
    }
  }

  std::deque<HidReport> in_;
  int pending_ = 0;
  std::uint8_t command_ = 0;
  std::uint8_t page_ = 0;
};

}  // namespace varnex2::device::testing
