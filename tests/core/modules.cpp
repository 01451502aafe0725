// The core's unit tests run on a machine of the core alone: this is their
// module list, in place of the program's (app/modules.cpp).
#include "core/natives.hpp"

namespace core {

void register_predicate_natives();
void register_zone_natives();
void register_collector_natives();
void register_symbol_natives();
void register_error_natives();
void register_eval_natives();

static void register_all_modules() {
  register_predicate_natives();
  register_zone_natives();
  register_collector_natives();
  register_symbol_natives();
  register_error_natives();
  register_eval_natives();
}

std::unique_ptr<Runtime> make_runtime(const MemoryPrefs& prefs, uint32_t preferred) {
  return make_runtime(prefs, preferred, register_all_modules);
}

}  // namespace core
