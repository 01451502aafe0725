#include "core/clock.hpp"

#include <chrono>
#include <thread>

namespace core {

int64_t steady_origin_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t steady_clock_ms(Runtime& r) { return uint32_t(steady_origin_ms() - r.clock_origin_ms); }

void steady_wait(Runtime&, uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint32_t stepped_clock_ms(Runtime& r) { return r.clock_stepped; }

void stepped_wait(Runtime& r, uint32_t ms) { r.clock_stepped += ms; }

}  // namespace core
