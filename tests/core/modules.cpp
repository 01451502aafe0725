// The core's unit tests run on a machine of the core alone: this is their
// module list, in place of the program's (app/modules.cpp).
#include "core/collector.hpp"
#include "core/eval.hpp"
#include "core/module.hpp"
#include "core/predicates.hpp"
#include "core/runtime.hpp"

namespace core {

std::span<const Module* const> default_modules() {
  static const Module* const list[] = {
      &kPredicatesModule, &kZonesModule, &kCollectorModule, &kSymbolsModule, &kErrorsModule, &kEvalModule,
  };
  return list;
}

std::unique_ptr<Runtime> make_runtime(const MemoryPrefs& prefs, uint32_t preferred) {
  return make_runtime(prefs, preferred, default_modules());
}

}  // namespace core
