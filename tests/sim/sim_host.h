#pragma once
// A minimal report-level host for the simulated box: register reads and writes as the station
// sends them, answers checked by status byte.

#include <chrono>
#include <cstdint>
#include <vector>

#include "sim/sim_box.h"

namespace varnex2::sim::test {

class Host {
 public:
  explicit Host(SimBox& box) : box_(box), session_(box.Session(BoxFunction::Controller)) {}

  void Resync() { session_ = box_.Session(BoxFunction::Controller); }
  std::uint64_t Session() const { return session_; }

  bool Send(std::vector<std::uint8_t> request) { return box_.ControllerOut(session_, request) == OutResult::Ok; }
  bool Next(ControllerReport& out, std::chrono::milliseconds wait = std::chrono::milliseconds(1000)) {
    return box_.PopControllerIn(session_, out, wait) == InResult::Report;
  }

  // One register read request; returns the answer.
  ControllerReport ReadRequest(std::uint16_t address, std::uint8_t count) {
    Send({0x01, 0x51, 0x02, count, static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)});
    ControllerReport a{};
    Next(a);
    return a;
  }
  ControllerReport WriteRequest(std::uint16_t address, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> r = {0x01,
                                   0x51,
                                   static_cast<std::uint8_t>(data.size() + 2),
                                   0x00,
                                   static_cast<std::uint8_t>(address & 0xFF),
                                   static_cast<std::uint8_t>(address >> 8)};
    r.insert(r.end(), data.begin(), data.end());
    Send(r);
    ControllerReport a{};
    Next(a);
    return a;
  }

  // Whole reads and writes in chunks of 58 bytes; false on a bad status.
  bool Read(std::uint16_t address, std::size_t count, std::vector<std::uint8_t>& out) {
    out.clear();
    while (out.size() < count) {
      const auto n = static_cast<std::uint8_t>(std::min<std::size_t>(58, count - out.size()));
      ControllerReport a = ReadRequest(static_cast<std::uint16_t>(address + out.size()), n);
      if (a[1] != 0x00) return false;
      out.insert(out.end(), a.begin() + 3, a.begin() + 3 + n);
    }
    return true;
  }
  bool Write(std::uint16_t address, const std::vector<std::uint8_t>& data) {
    for (std::size_t off = 0; off < data.size(); off += 58) {
      const std::size_t n = std::min<std::size_t>(58, data.size() - off);
      std::vector<std::uint8_t> chunk(data.begin() + static_cast<std::ptrdiff_t>(off),
                                      data.begin() + static_cast<std::ptrdiff_t>(off + n));
      if (WriteRequest(static_cast<std::uint16_t>(address + off), chunk)[1] != 0x04) return false;
    }
    return true;
  }

 private:
  SimBox& box_;
  std::uint64_t session_;
};

}  // namespace varnex2::sim::test
