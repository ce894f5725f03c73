#include "sim/panel_model.h"

#include <algorithm>
#include <cstdlib>

namespace varnex2::sim {

namespace {

constexpr int kHighDefault = 65000;
constexpr int kLowDefault = 4000;

std::uint16_t Clamp16(int v) { return static_cast<std::uint16_t>(std::clamp(v, 0, 65535)); }

}  // namespace

PanelModel::PanelModel(int xLines, int yLines, std::uint64_t seed)
    : x_(std::max(0, xLines)), y_(std::max(0, yLines)), rng_(seed ? seed : 1) {}

void PanelModel::SetState(const PanelState& state) { state_ = state; }

int PanelModel::Noise(int amplitude) {
  // xorshift64*: cheap and deterministic.
  rng_ ^= rng_ >> 12;
  rng_ ^= rng_ << 25;
  rng_ ^= rng_ >> 27;
  const std::uint64_t r = rng_ * 0x2545F4914F6CDD1DULL;
  if (amplitude <= 0) return 0;
  const std::uint64_t span = static_cast<std::uint64_t>(amplitude) * 2 + 1;
  return static_cast<int>((r >> 32) % span) - amplitude;
}

const NodeFault* PanelModel::FaultAt(int x, int y) const {
  for (const auto& f : state_.nodeFaults) {
    if (f.x == x && f.y == y) return &f;
  }
  return nullptr;
}

const LineShort* PanelModel::FirstShort() const { return state_.shorts.empty() ? nullptr : &state_.shorts.front(); }

int PanelModel::BaseValue(int x, int y) const {
  int v = (state_.placed ? state_.level : state_.emptyLevel) + state_.gradientX * x + state_.gradientY * y;
  for (const auto& s : state_.shorts) {
    if ((s.xLine && s.line == x) || (!s.xLine && s.line == y)) {
      if (s.kind == 1)
        v = 65535;  // pulled to the supply
      else if (s.kind == 2)
        v = 0;  // pulled to ground
      else
        v /= 2;  // coupled to a neighbour
    }
  }
  if (const NodeFault* f = FaultAt(x, y)) {
    switch (f->type) {
      case NodeFaultType::Dead:
        v = 0;
        break;
      case NodeFaultType::High:
        v = f->value ? f->value : kHighDefault;
        break;
      case NodeFaultType::Low:
        v = f->value ? f->value : kLowDefault;
        break;
    }
  }
  return v;
}

int PanelModel::TouchEffect(int x, int y, std::chrono::steady_clock::time_point now) const {
  int effect = 0;
  for (const auto& t : state_.touches) {
    const int dx = std::abs(x - t.x);
    const int dy = std::abs(y - t.y);
    if (dx == 0 && dy == 0)
      effect += t.strength;
    else if (dx <= 1 && dy <= 1)
      effect += t.strength / 2;
  }
  if (state_.sweepInterval.count() > 0 && x_ > 0 && now >= state_.sweepStart) {
    const auto step = (now - state_.sweepStart) / state_.sweepInterval;
    if (static_cast<int>(step % x_) == x) effect += kSweepStrength;
  }
  return effect;
}

void PanelModel::RawFrame(std::span<std::uint16_t> out, std::chrono::steady_clock::time_point now) {
  const bool touched = !state_.touches.empty() || state_.sweepInterval.count() > 0;
  std::size_t i = 0;
  for (int x = 0; x < x_; ++x) {
    for (int y = 0; y < y_; ++y, ++i) {
      if (i >= out.size()) return;
      int v = BaseValue(x, y);
      if (v != 0) {
        v += Noise(state_.noise);
        if (touched) v -= TouchEffect(x, y, now);
      }
      out[i] = Clamp16(v);
    }
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(std::min(i, out.size())), out.end(), 0);
}

void PanelModel::ReferenceFrame(std::span<std::uint16_t> out) const {
  std::size_t i = 0;
  for (int x = 0; x < x_; ++x) {
    for (int y = 0; y < y_; ++y, ++i) {
      if (i >= out.size()) return;
      out[i] = Clamp16(BaseValue(x, y));
    }
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(std::min(i, out.size())), out.end(), 0);
}

void PanelModel::DeltaFrame(std::span<std::int16_t> out, std::chrono::steady_clock::time_point now) {
  const bool touched = !state_.touches.empty() || state_.sweepInterval.count() > 0;
  std::size_t i = 0;
  for (int x = 0; x < x_; ++x) {
    for (int y = 0; y < y_; ++y, ++i) {
      if (i >= out.size()) return;
      int v = 0;
      if (BaseValue(x, y) != 0) {
        v = Noise(state_.deltaNoise);
        if (touched) v -= TouchEffect(x, y, now);
      }
      out[i] = static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
    }
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(std::min(i, out.size())), out.end(), 0);
}

}  // namespace varnex2::sim
