// The simulated box's report queues (see sim_box_impl.h): the entry points the adapters call to
// move reports in and out of both functions, the session checks that make stale handles fail
// with NoDevice, and the pacing that lets at most one report per interval through in each
// direction on a fixed steady-clock schedule (unpaced, reports move at once).

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sim/sim_box_impl.h"

namespace varnex2::sim {

using namespace sim_box_detail;

// ---------------------------------------------------------------- queues and pacing
Clock::time_point SimBox::Impl::ReserveSlot(Pacer& pacer) {
  std::lock_guard ql(queueMutex);
  const auto now = Clock::now();
  Clock::time_point slot = now;
  if (pacer.started) slot = std::max(now, pacer.last + options.reportInterval);
  pacer.last = slot;
  pacer.started = true;
  return slot;
}

bool SimBox::Impl::SpinForChange(std::unique_lock<std::mutex>& lk, std::uint64_t seen, Clock::time_point until,
                                 const std::stop_token& stop) {
  lk.unlock();
  bool changed = false;
  while (!(changed = queueVersion.load() != seen) && !stop.stop_requested() && Clock::now() < until)
    std::this_thread::yield();
  lk.lock();
  return changed;
}

template <typename Ring, typename Report>
InResult SimBox::Impl::Pop(Ring& ring, const std::uint64_t& sessionVar, Pacer& pacer, std::condition_variable_any& cv,
                           std::uint64_t session, Report& out, std::chrono::microseconds wait, std::stop_token stop) {
  const auto deadline = Clock::now() + std::max(wait, std::chrono::microseconds(0));
  std::unique_lock lk(queueMutex);
  for (;;) {
    if (session == 0 || session != sessionVar) return InResult::NoDevice;
    if (stop.stop_requested()) return InResult::Interrupted;
    const auto now = Clock::now();
    Clock::time_point wakeAt = deadline;
    if (!ring.Empty()) {
      Clock::time_point due = ring.Front().ready;
      if (options.paced && pacer.started) due = std::max(due, pacer.last + options.reportInterval);
      if (due <= now) {
        out = ring.Front().data;
        ring.Pop();
        if (options.paced) {
          // Keep the fixed schedule unless the reader fell behind by a whole slot.
          pacer.last = now - due < options.reportInterval ? due : now;
          pacer.started = true;
        }
        return InResult::Report;
      }
      wakeAt = std::min(due, deadline);
    }
    if (now >= deadline) return InResult::Timeout;
    const std::uint64_t seen = queueVersion.load();
    // Paced, no answer can come out before the next report slot: the poll would
    // only burn the reader's CPU.
    if (ring.Empty() && !options.paced && SpinForChange(lk, seen, std::min(deadline, now + kReaderSpin), stop))
      continue;
    cv.wait_until(lk, stop, wakeAt, [&] { return queueVersion.load() != seen; });
  }
}

OutResult SimBox::ControllerOut(std::uint64_t session, std::span<const std::uint8_t> report) {
  if (report.size() > kControllerReportSize) return OutResult::InvalidParam;
  if (session == 0 || session != Session(BoxFunction::Controller)) return OutResult::NoDevice;
  if (impl_->options.paced) std::this_thread::sleep_until(impl_->ReserveSlot(impl_->controllerOutPacer));
  ControllerReport r{};
  std::copy(report.begin(), report.end(), r.begin());
  bool reset = false;
  {
    std::lock_guard lk(impl_->mutex);
    {
      std::lock_guard ql(impl_->queueMutex);
      if (session != impl_->controllerSession) return OutResult::NoDevice;
    }
    impl_->HandleControllerReport(r, reset);
  }
  impl_->controllerCv.notify_all();
  if (reset) impl_->Reset();
  return OutResult::Ok;
}

InResult SimBox::PopControllerIn(std::uint64_t session, ControllerReport& out, std::chrono::microseconds wait,
                                 std::stop_token stop) {
  return impl_->Pop(impl_->controllerIn, impl_->controllerSession, impl_->controllerInPacer, impl_->controllerCv,
                    session, out, wait, std::move(stop));
}

std::size_t SimBox::PendingControllerIn() const {
  std::lock_guard ql(impl_->queueMutex);
  return impl_->controllerIn.Size();
}

OutResult SimBox::BridgeWrite(std::uint64_t session, std::span<const std::uint8_t, kBridgeReportSize> report) {
  if (session == 0 || session != Session(BoxFunction::Bridge)) return OutResult::NoDevice;
  if (impl_->options.paced) std::this_thread::sleep_until(impl_->ReserveSlot(impl_->bridgeOutPacer));
  {
    std::lock_guard lk(impl_->mutex);
    {
      std::lock_guard ql(impl_->queueMutex);
      if (session != impl_->bridgeSession) return OutResult::NoDevice;
    }
    impl_->HandleBridgeReport(report.data());
  }
  impl_->bridgeCv.notify_all();
  return OutResult::Ok;
}

InResult SimBox::BridgeRead(std::uint64_t session, BridgeReport& out, std::chrono::microseconds wait,
                            std::stop_token stop) {
  return impl_->Pop(impl_->bridgeIn, impl_->bridgeSession, impl_->bridgeInPacer, impl_->bridgeCv, session, out, wait,
                    std::move(stop));
}

}  // namespace varnex2::sim
