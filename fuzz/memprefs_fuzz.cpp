// libFuzzer target: arbitrary memory words, as a packed application's
// VPRF 256 holds them (nine big-endian words) and SIZE -1 its preferred
// size, then a machine started from them in-process. A description no
// machine can start with is refused as memory short; any machine that
// starts must intern, allocate and collect. A crash, a signal or an
// exception past the sizing is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/alert.hpp"
#include "core/bytes.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/symbols.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 40) return 0;
  core::ByteReader r(data, size);
  uint32_t w[9];
  for (uint32_t& word : w) word = r.be32();
  core::MemoryPrefs prefs{w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8]};
  // The preferred size as SIZE gives it, kept small enough to fuzz fast.
  uint32_t preferred = r.be32() % (48u << 20);
  std::unique_ptr<core::Runtime> machine;
  try {
    machine = core::make_runtime(prefs, preferred);
  } catch (const core::MemoryShortage&) {
    return 0;
  }
  core::Value list = core::kNil;
  for (int i = 0; i < 200; ++i) list = core::cons(core::intern_static("fuzz"), list);
  core::collect();
  return 0;
}
