#include "storage/store/clock.hpp"

#include <ctime>

namespace tarnwick::store {

std::int64_t now_millis() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (ts.tv_sec < 0) return 0;
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

}  // namespace tarnwick::store
