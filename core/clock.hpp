// The runtime's one clock: milliseconds since the machine started, as a
// 32-bit count that wraps after about 49.7 days.
//
// Everything that waits or measures (processes, effects, the splash
// sequence, `milliseconds`) reads it through clock_ms(). The reading goes
// through one replaceable function: the steady clock by default; tests
// install the stepped clock and move it by hand, and the window system may
// install a virtual clock of its own. Two readings are compared by their
// signed difference, never by < on the raw counts, so that a wrap between
// them changes nothing.
#pragma once
#include <cstdint>

#include "core/runtime.hpp"

namespace core {

using ClockFn = uint32_t (*)(Runtime&);

// The steady clock, counted from the runtime's clock origin (itself a
// reading of steady_origin_ms at start-up).
int64_t steady_origin_ms();
uint32_t steady_clock_ms(Runtime& r);
// The stepped clock: answers r.clock_stepped, which only set_stepped_clock
// and step_clock change.
uint32_t stepped_clock_ms(Runtime& r);

inline uint32_t clock_ms() {
  Runtime& r = rt();
  return r.clock(r);
}

// Installs a clock function and answers the previous one.
inline ClockFn set_clock(ClockFn fn) {
  ClockFn old = rt().clock;
  rt().clock = fn != nullptr ? fn : steady_clock_ms;
  return old;
}

// Switches to the stepped clock, reading `ms` until the next step.
inline void set_stepped_clock(uint32_t ms) {
  rt().clock_stepped = ms;
  set_clock(stepped_clock_ms);
}
inline void step_clock(uint32_t ms) { rt().clock_stepped += ms; }

// a - b for two readings, wrap-safe: positive when a is later.
inline int32_t clock_diff(uint32_t a, uint32_t b) { return int32_t(a - b); }

}  // namespace core
