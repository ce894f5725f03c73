#include "sim/touch_reports.h"

#include <algorithm>
#include <cmath>

#include "sim/controller_memory.h"

namespace varnex2::sim {

namespace {

constexpr int kSweepKey = -1;

// T9 configuration fields used here.
constexpr std::size_t kCtrl = 0, kXOrigin = 1, kYOrigin = 2, kXSize = 3, kYSize = 4, kNumTouch = 14;
constexpr std::size_t kXRange = 18, kYRange = 20;
constexpr int kDefaultRange = 1023;  // a range field of 0: 10-bit positions

struct Contact {
  double x = 0, y = 0;  // in nodes
  int area = 0;         // nodes of the window the touch covers
  int signal = 0;       // peak delta
};

struct Window {
  int xOrigin = 0, yOrigin = 0, xSize = 0, ySize = 0;
  bool Contains(int x, int y) const {
    return x >= xOrigin && x < xOrigin + xSize && y >= yOrigin && y < yOrigin + ySize;
  }
};

int Range(std::span<const std::uint8_t> obj, std::size_t at) {
  if (obj.size() < at + 2) return kDefaultRange;
  const int r = obj[at] | (obj[at + 1] << 8);
  return r == 0 ? kDefaultRange : std::min(r, 4095);
}

// Node position within the window -> reported position 0..range.
std::uint16_t Scale(double p, int origin, int size, int range) {
  if (size <= 1) return 0;
  const double v = std::round((p - origin) * range / (size - 1));
  return static_cast<std::uint16_t>(std::clamp(v, 0.0, static_cast<double>(range)));
}

// Positions travel as 12-bit fields; a range below 1024 fills their top 10 bits.
std::uint16_t Field12(std::uint16_t v, int range) { return range < 1024 ? static_cast<std::uint16_t>(v << 2) : v; }

TouchMessage Encode(std::uint8_t status, std::uint16_t x, std::uint16_t y, int xRange, int yRange, int area,
                    int amplitude) {
  const std::uint16_t fx = Field12(x, xRange);
  const std::uint16_t fy = Field12(y, yRange);
  return {status,
          static_cast<std::uint8_t>(fx >> 4),
          static_cast<std::uint8_t>(fy >> 4),
          static_cast<std::uint8_t>(((fx & 0x0F) << 4) | (fy & 0x0F)),
          static_cast<std::uint8_t>(std::clamp(area, 0, 255)),
          static_cast<std::uint8_t>(std::clamp(amplitude, 0, 255)),
          0};
}

}  // namespace

void TouchReporter::Reset() {
  for (auto& instance : slots_) instance.fill(Slot{});
  lastSweepStep_ = -1;
  sweepInterval_ = std::chrono::milliseconds(0);
}

void TouchReporter::Scan(ControllerMemory& memory, const PanelModel& panel, std::chrono::steady_clock::time_point now,
                         TouchMessageSink& sink) {
  const PanelState& s = panel.State();
  // The sweep steps passed since the last scan.
  std::int64_t first = 0, last = -1;
  if (s.sweepInterval.count() > 0 && panel.XLines() > 0 && now >= s.sweepStart) {
    if (s.sweepStart != sweepStart_ || s.sweepInterval != sweepInterval_) {
      sweepStart_ = s.sweepStart;
      sweepInterval_ = s.sweepInterval;
      lastSweepStep_ = -1;
    }
    last = (now - s.sweepStart) / s.sweepInterval;
    first = lastSweepStep_ < 0 ? last : std::min(lastSweepStep_ + 1, last);
    first = std::max(first, last - kMaxCatchUpCycles + 1);
    lastSweepStep_ = last;
  } else {
    lastSweepStep_ = -1;
    sweepInterval_ = std::chrono::milliseconds(0);
  }

  const ObjectInfo* t9 = memory.Find(kT9);
  if (!t9 || t9->firstReportId == 0) return;
  bool reporting = false;
  for (int i = 0; i < std::min<int>(t9->instances, kMaxInstances); ++i) {
    const auto obj = memory.Object(kT9, i);
    if ((obj[kCtrl] & (kTouchCtrlEnable | kTouchCtrlReport)) == (kTouchCtrlEnable | kTouchCtrlReport))
      reporting = true;
    else
      slots_[static_cast<std::size_t>(i)].fill(Slot{});  // silent while it does not report
  }
  if (!reporting) return;

  if (last < 0) {
    Cycle(memory, panel, -1, sink);
    return;
  }
  for (std::int64_t step = first; step <= last; ++step)
    Cycle(memory, panel, static_cast<int>(step % panel.XLines()), sink);
}

void TouchReporter::Cycle(ControllerMemory& memory, const PanelModel& panel, int sweepLine, TouchMessageSink& sink) {
  const ObjectInfo* t9 = memory.Find(kT9);
  const PanelState& s = panel.State();
  for (int i = 0; i < std::min<int>(t9->instances, kMaxInstances); ++i) {
    const auto obj = memory.Object(kT9, i);
    if (obj.size() <= kNumTouch) continue;
    if ((obj[kCtrl] & (kTouchCtrlEnable | kTouchCtrlReport)) != (kTouchCtrlEnable | kTouchCtrlReport)) continue;
    Window w;
    w.xOrigin = obj[kXOrigin];
    w.yOrigin = obj[kYOrigin];
    w.xSize = std::clamp(panel.XLines() - w.xOrigin, 0, static_cast<int>(obj[kXSize]));
    w.ySize = std::clamp(panel.YLines() - w.yOrigin, 0, static_cast<int>(obj[kYSize]));
    const int xRange = Range(obj, kXRange);
    const int yRange = Range(obj, kYRange);
    int maxTouches = std::min<int>(t9->reportIds, kMaxTouches);
    if (obj[kNumTouch] != 0) maxTouches = std::min<int>(maxTouches, obj[kNumTouch]);
    const auto firstId = static_cast<std::uint8_t>(t9->firstReportId + i * t9->reportIds);

    // The contact of a tracked finger in this window now, if it is there.
    auto contactOf = [&](int key, Contact& c) {
      if (key == kSweepKey) {
        if (sweepLine < w.xOrigin || sweepLine >= w.xOrigin + w.xSize || w.ySize == 0) return false;
        c.x = sweepLine;
        c.y = w.yOrigin + (w.ySize - 1) / 2.0;  // the whole line: its middle
        c.area = w.ySize;
        c.signal = kSweepStrength;
        return true;
      }
      if (key < 0 || static_cast<std::size_t>(key) >= s.touches.size()) return false;
      const Touch& t = s.touches[static_cast<std::size_t>(key)];
      if (t.strength <= 0 || !w.Contains(t.x, t.y)) return false;
      c.x = t.x;
      c.y = t.y;
      c.area = 0;
      for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) c.area += w.Contains(t.x + dx, t.y + dy) ? 1 : 0;
      }
      c.signal = t.strength;
      return true;
    };
    auto message = [&](std::uint8_t status, const Slot& slot, const Contact* c) {
      return Encode(status, slot.x, slot.y, xRange, yRange, c ? c->area : 0, c ? std::max(1, c->signal / 4) : 0);
    };

    auto& slots = slots_[static_cast<std::size_t>(i)];
    // Touches that went or moved, in the order of their report ids.
    for (int k = 0; k < kMaxTouches; ++k) {
      Slot& slot = slots[static_cast<std::size_t>(k)];
      if (!slot.active) continue;
      Contact c;
      if (k >= maxTouches || !contactOf(slot.key, c)) {
        sink.Queue(static_cast<std::uint8_t>(firstId + k), message(kTouchRelease, slot, nullptr));
        slot = Slot{};
        continue;
      }
      const std::uint16_t x = Scale(c.x, w.xOrigin, w.xSize, xRange);
      const std::uint16_t y = Scale(c.y, w.yOrigin, w.ySize, yRange);
      if (x == slot.x && y == slot.y) continue;
      slot.x = x;
      slot.y = y;
      sink.Queue(static_cast<std::uint8_t>(firstId + k), message(kTouchDetect | kTouchMove, slot, &c));
    }
    // New touches take the lowest free report id; beyond the last one they are not reported.
    auto press = [&](int key) {
      for (const auto& slot : slots) {
        if (slot.active && slot.key == key) return;
      }
      Contact c;
      if (!contactOf(key, c)) return;
      for (int k = 0; k < maxTouches; ++k) {
        Slot& slot = slots[static_cast<std::size_t>(k)];
        if (slot.active) continue;
        slot.active = true;
        slot.key = key;
        slot.x = Scale(c.x, w.xOrigin, w.xSize, xRange);
        slot.y = Scale(c.y, w.yOrigin, w.ySize, yRange);
        sink.Queue(static_cast<std::uint8_t>(firstId + k), message(kTouchDetect | kTouchPress, slot, &c));
        return;
      }
    };
    for (std::size_t t = 0; t < s.touches.size(); ++t) press(static_cast<int>(t));
    if (sweepLine >= 0) press(kSweepKey);
  }
}

}  // namespace varnex2::sim
