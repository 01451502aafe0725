// The ordered list of registration routines run at start-up. The order
// matters: the first registration of a name wins.
#include "core/natives.hpp"

namespace objects {
void register_object_natives();
}  // namespace objects

namespace core {

void register_predicate_natives();
void register_zone_natives();
void register_symbol_natives();
void register_error_natives();
void register_eval_natives();

void register_all_modules() {
  register_predicate_natives();
  register_zone_natives();
  register_symbol_natives();
  register_error_natives();
  register_eval_natives();
  objects::register_object_natives();
}

}  // namespace core
