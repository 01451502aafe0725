// The machine every fuzz target runs its inputs on: a small one, rebuilt
// when its heap or nodes run low (nothing is collected between inputs).
// `setup` runs on each new machine (extra natives, a quiet error handler).
#pragma once
#include <memory>

#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace fuzzing {

inline core::Runtime& machine(void (*setup)() = nullptr) {
  static std::unique_ptr<core::Runtime> r;
  if (!r || r->zones.heap_end - r->zones.heap_top < (1u << 20) || r->zones.free_count < 20000) {
    r.reset();
    core::MemoryPrefs p = core::default_prefs();
    p.symbol_slots = 4096;
    p.nodes = 100000;
    p.heap = 8u << 20;
    p.reserve = 0;
    p.lisp_words = 16384;
    r = core::make_runtime(p, 32u << 20);
    if (setup != nullptr) setup();
  }
  return *r;
}

}  // namespace fuzzing
