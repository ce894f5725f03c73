#include "station/station_clock.h"

#include <condition_variable>
#include <mutex>

namespace varnex2::station {
namespace {

class ScaledClock final : public StationClock {
 public:
  explicit ScaledClock(int divisor) : divisor_(divisor < 1 ? 1 : divisor) {}

  bool Wait(std::chrono::milliseconds duration, std::stop_token stop) override {
    const auto scaled = std::chrono::duration_cast<std::chrono::microseconds>(duration) / divisor_;
    std::mutex mutex;
    std::condition_variable_any cv;
    std::unique_lock lock(mutex);
    // Returns true when the wait ended because stop was requested.
    const bool stopped = cv.wait_for(lock, stop, scaled, [] { return false; });
    return !stopped && !stop.stop_requested();
  }

 private:
  int divisor_;
};

}  // namespace

std::unique_ptr<StationClock> CreateRealClock() { return std::make_unique<ScaledClock>(1); }
std::unique_ptr<StationClock> CreateScaledClock(int divisor) { return std::make_unique<ScaledClock>(divisor); }

}  // namespace varnex2::station
