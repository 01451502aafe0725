#include "core/runtime.hpp"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "core/alert.hpp"
#include "core/analysis.hpp"
#include "core/clock.hpp"
#include "core/frames.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/positions.hpp"
#include "core/symbols.hpp"

namespace core {

Runtime* g_runtime = nullptr;

MemoryPrefs default_prefs() {
  MemoryPrefs p{};
  p.symbol_slots = 32768;
  p.lisp_words = 1u << 20;  // 4 MB of Lisp stack
  p.prolog_words = 64u << 10;
  p.nodes = 500000;
  p.heap = 4u << 20;
  p.reserve = 8u << 20;
  p.stack_allowance = 7u << 20;
  p.node_percent = 0;
  p.reserve_percent = 0;
  return p;
}

std::span<const MemoryWord> memory_words() {
#define TALVEN_MEMORY_WORD_ROW(field, name, unit, least, most) {&MemoryPrefs::field, name, unit, least, most},
  static const MemoryWord kWords[] = {TALVEN_MEMORY_WORDS(TALVEN_MEMORY_WORD_ROW)};
#undef TALVEN_MEMORY_WORD_ROW
  return kWords;
}

const MemoryWord* memory_word_out_of_bounds(const MemoryPrefs& p) {
  for (const MemoryWord& w : memory_words())
    if (p.*w.field < w.least || p.*w.field > w.most) return &w;
  return nullptr;
}

static MemoryShortage memory_shortage(int64_t kb) {
  const std::string param = std::to_string(kb);
  return MemoryShortage(substitute_alert(alert_template(kAlertNoMemory, 0)->text, {&param, 1}), kb);
}

Runtime::Runtime(const MemoryPrefs& prefs, uint32_t preferred) {
  ZoneLayout layout = size_zones(prefs, preferred, available_native_memory(preferred, region.live_bytes()));
  if (!layout.ok) throw memory_shortage(layout.shortfall_kb);
  clock = steady_clock_ms;
  clock_wait = steady_wait;
  clock_origin_ms = steady_origin_ms();
  last_poll_ms = uint32_t(-101);  // the first implicit poll is due at once
  previous = g_runtime;
  g_runtime = this;
  try {
    build_zones(*this, layout);
  } catch (const std::runtime_error&) {
    g_runtime = previous;
    throw memory_shortage(layout.block_size / 1024);
  }
  // Room for the natives the standard modules register (about a thousand),
  // so that their tables are not copied again and again as they grow.
  natives.reserve(2048);
  native_ops.reserve(2048);
  native_inline.reserve(2048);
  native_scoped.reserve(2048);
  native_docs.reserve(2048);
  intern_well_known(*this);
  empty_string = make_string("", 0);
  node_of(empty_string).car |= kPermanentBit;
  set_symbol_value(sym.t, sym.t);
  // The start-up sentinel: the environment of the top level, without slots.
  sentinel = new EnvFrame();
  sentinel->make_current();
  analyses = std::make_unique<AnalysisTable>();
  positions = std::make_unique<SourcePositions>();
}

Runtime::~Runtime() {
  Runtime* saved = g_runtime;
  g_runtime = this;
  shutdown_modules(*this);
  modules.clear();
  delete sentinel;
  g_runtime = saved == this ? previous : saved;
}

std::unique_ptr<Runtime> make_runtime(const MemoryPrefs& prefs, uint32_t preferred,
                                      std::span<const Module* const> modules) {
  auto r = std::make_unique<Runtime>(prefs, preferred);
  install_modules(*r, modules);
  return r;
}

}  // namespace core
