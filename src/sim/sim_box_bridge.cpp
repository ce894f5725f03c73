// The simulated bridge (see sim_box_impl.h): its command frames (write and read a page, read and
// write the output block, SetConfigBits on the signed configuration page), the pages kept in the
// store with their factory contents, and the bridge state reported by SimBox::Bridge().

#include <algorithm>

#include "sim/sim_box_impl.h"

namespace varnex2::sim {

namespace sim_box_detail {

std::array<std::uint8_t, 64> FactoryPage(int page) {
  std::array<std::uint8_t, 64> p{};
  if (page == kBridgeConfigPage) {
    p[0] = 0x01;  // buzzer enabled, not inverted
    for (int i = 1; i <= 34; ++i) p[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x10 + i);
  }
  return p;
}

}  // namespace sim_box_detail

using namespace sim_box_detail;

// ---------------------------------------------------------------- bridge model
// mutex held.
BridgeReport& SimBox::Impl::PushBridge() {
  BridgeReport& r = bridgeIn.Push(Clock::now());
  r.fill(0);
  return r;
}

void SimBox::Impl::HandleBridgeReport(const std::uint8_t* r) {
  std::lock_guard ql(queueMutex);
  switch (bridgeExpect) {
    case BridgeExpect::Command:
      if (r[1] != 0xAA || r[2] != 0x55) return;
      switch (r[3]) {
        case 0x20:
          bridgeExpect = BridgeExpect::WritePageNumber;
          break;
        case 0x21:
          bridgeExpect = BridgeExpect::ReadPageNumber;
          break;
        case 0x24: {
          BridgeReport& out = PushBridge();
          std::copy(outputBlock.begin(), outputBlock.end(), out.begin() + 1);
          ++queueVersion;
          break;
        }
        case 0x25:
          bridgeExpect = BridgeExpect::OutputData;
          break;
        case 0x40:
          SetConfigBits(r);
          break;
        default:
          break;
      }
      return;
    case BridgeExpect::WritePageNumber:
      bridgePage = r[1];
      bridgeExpect = BridgeExpect::WritePageData;
      return;
    case BridgeExpect::WritePageData: {
      auto& page = pages[bridgePage];
      bridgeExpect = BridgeExpect::Command;
      if (std::equal(page.begin(), page.end(), r + 1)) return;
      std::copy_n(r + 1, 64, page.begin());
      nv.pages[bridgePage] = page;
      SaveStore();
      return;
    }
    case BridgeExpect::ReadPageNumber: {
      const auto& page = pages[r[1]];
      const std::size_t length = std::min<std::size_t>(r[2], 64);
      BridgeReport& out = PushBridge();
      std::copy_n(page.begin(), length, out.begin() + 1);
      ++queueVersion;
      bridgeExpect = BridgeExpect::Command;
      return;
    }
    case BridgeExpect::OutputData: {
      std::copy_n(r + 1, 64, outputBlock.begin());
      ++outputWrites;
      BridgeReport& ack = PushBridge();
      ack[1] = 0xAA;
      ack[2] = 0x55;
      ack[3] = 0x25;
      ++queueVersion;
      bridgeExpect = BridgeExpect::Command;
      return;
    }
  }
}

void SimBox::Impl::SetConfigBits(const std::uint8_t* r) {
  const std::uint8_t pageNo = r[4];
  const std::uint8_t byte = r[5];
  const std::uint8_t value = r[6];
  const std::uint8_t mask = r[7];
  const bool signed_ = std::equal(kBridgeConfigSignature.begin(), kBridgeConfigSignature.end(), r + 8,
                                  [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
  if (!signed_ || pageNo != kBridgeConfigPage || byte >= 64) {
    ++rejectedConfigBits;
    return;
  }
  auto& page = pages[pageNo];
  const auto updated = static_cast<std::uint8_t>((page[byte] & ~mask) | (value & mask));
  if (updated == page[byte]) return;
  page[byte] = updated;
  nv.pages[pageNo] = page;
  SaveStore();
}

// ---------------------------------------------------------------- bridge state
BridgeState SimBox::Bridge() const {
  std::lock_guard lk(impl_->mutex);
  BridgeState s;
  s.configByte = impl_->pages[kBridgeConfigPage][0];
  s.outputLevel = impl_->outputBlock[8];
  s.buzzerEnabled = (s.configByte & 0x01) != 0;
  s.buzzerInverted = (s.configByte & 0x02) != 0;
  s.buzzerSounding = s.buzzerEnabled && ((s.outputLevel != 0) != s.buzzerInverted);
  s.outputWrites = impl_->outputWrites;
  s.rejectedConfigBits = impl_->rejectedConfigBits;
  return s;
}

std::array<std::uint8_t, 64> SimBox::BridgePage(std::uint8_t page) const {
  std::lock_guard lk(impl_->mutex);
  return impl_->pages[page];
}

std::array<std::uint8_t, 64> SimBox::OutputBlock() const {
  std::lock_guard lk(impl_->mutex);
  return impl_->outputBlock;
}

}  // namespace varnex2::sim
