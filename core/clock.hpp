// The runtime's one clock: milliseconds as a 32-bit count that wraps after
// about 49.7 days.
//
// Everything that waits or measures (processes, effects, the splash
// sequence, `milliseconds`, `sleep`, `random`'s discards) reads it through
// clock_ms() and waits on it through clock_wait(). Both go through
// functions the clock's owner installs: the steady clock from the
// machine's start by default; the stepped clock that tests move by hand;
// once a frame is open, the clock of its back-end, so that a headless run
// lives in virtual time, the same at every run. Two readings are compared
// by their signed difference, never by < on the raw counts, so that a wrap
// between them changes nothing.
#pragma once
#include <cstdint>

#include "core/runtime.hpp"

namespace core {

using ClockFn = uint32_t (*)(Runtime&);
using WaitFn = void (*)(Runtime&, uint32_t ms);

// The steady clock, counted from the runtime's clock origin (itself a
// reading of steady_origin_ms at start-up), and a real sleep on it.
int64_t steady_origin_ms();
uint32_t steady_clock_ms(Runtime& r);
void steady_wait(Runtime& r, uint32_t ms);
// The stepped clock: answers r.clock_stepped, which only set_stepped_clock
// and step_clock change; waiting on it steps it.
uint32_t stepped_clock_ms(Runtime& r);
void stepped_wait(Runtime& r, uint32_t ms);

inline uint32_t clock_ms() {
  Runtime& r = rt();
  return r.clock(r);
}

// Lets `ms` milliseconds pass on the clock (no events are handled).
inline void clock_wait(uint32_t ms) {
  Runtime& r = rt();
  r.clock_wait(r, ms);
}

// Installs a clock function and the way to wait on it (null: the steady
// clock; a clock given without a wait is waited on by sleeping); answers
// the previous clock.
inline ClockFn set_clock(ClockFn fn, WaitFn wait = nullptr) {
  Runtime& r = rt();
  ClockFn old = r.clock;
  r.clock = fn != nullptr ? fn : steady_clock_ms;
  r.clock_wait = wait != nullptr ? wait : steady_wait;
  return old;
}

// Switches to the stepped clock, reading `ms` until the next step.
inline void set_stepped_clock(uint32_t ms) {
  rt().clock_stepped = ms;
  set_clock(stepped_clock_ms, stepped_wait);
}
inline void step_clock(uint32_t ms) { rt().clock_stepped += ms; }

// a - b for two readings, wrap-safe: positive when a is later.
inline int32_t clock_diff(uint32_t a, uint32_t b) { return int32_t(a - b); }

}  // namespace core
