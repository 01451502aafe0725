#include "core/clock.hpp"

#include <chrono>

namespace core {

int64_t steady_origin_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t steady_clock_ms(Runtime& r) { return uint32_t(steady_origin_ms() - r.clock_origin_ms); }

uint32_t stepped_clock_ms(Runtime& r) { return r.clock_stepped; }

}  // namespace core
