// The module list of the whole system, in start-up order. The order
// matters: the first registration of a name wins, and shutdown runs in
// reverse order.
#include <algorithm>

#include "core/module.hpp"
#include "core/natives.hpp"
#include "core/runtime.hpp"

namespace objects {
void register_object_natives();
}  // namespace objects
namespace data {
void register_list_natives();
void register_number_natives();
void register_handle_natives();
void register_stream_natives();
void register_reader_natives();
void register_printer_natives();
void register_string_natives();
void register_charset_natives();
void register_vector_natives();
void register_hash_table_natives();
void register_set_natives();
void register_format_natives();
}  // namespace data
namespace storage {
void register_date_natives();
}  // namespace storage
namespace process {
extern const core::Module kProcessModule;
}  // namespace process

namespace core {

void register_predicate_natives();
void register_zone_natives();
void register_collector_natives();
void register_symbol_natives();
void register_error_natives();
void register_eval_natives();

ModuleState* module_state(const Module& m) {
  for (auto& im : rt().modules)
    if (im.module == &m) return im.state.get();
  return nullptr;
}

bool module_installed(const Module& m) {
  const auto& list = rt().modules;
  return std::any_of(list.begin(), list.end(), [&](const InstalledModule& im) { return im.module == &m; });
}

void install_modules(Runtime& r, std::span<const Module* const> modules) {
  size_t first = r.modules.size();
  for (const Module* m : modules) {
    r.modules.push_back(InstalledModule{m, nullptr});
    if (m->make_state != nullptr) r.modules.back().state = m->make_state(r);
  }
  for (size_t i = first; i < r.modules.size(); ++i)
    if (r.modules[i].module->install != nullptr) r.modules[i].module->install(r);
}

void shutdown_modules(Runtime& r) {
  if (r.modules_shut_down) return;
  r.modules_shut_down = true;
  // One module failing to shut down never stops the others.
  for (auto it = r.modules.rbegin(); it != r.modules.rend(); ++it) {
    if (it->module->shutdown == nullptr) continue;
    try {
      it->module->shutdown(r);
    } catch (...) {
    }
  }
}

// The modules that exist as plain registration routines.
#define TALVEN_ROUTINE_MODULE(var, text, routine) \
  const Module var{text, nullptr, [](Runtime&) { routine(); }, nullptr, nullptr};

TALVEN_ROUTINE_MODULE(kPredicatesModule, "predicates", register_predicate_natives)
TALVEN_ROUTINE_MODULE(kZonesModule, "zones", register_zone_natives)
TALVEN_ROUTINE_MODULE(kCollectorModule, "collector", register_collector_natives)
TALVEN_ROUTINE_MODULE(kSymbolsModule, "symbols", register_symbol_natives)
TALVEN_ROUTINE_MODULE(kErrorsModule, "errors", register_error_natives)
TALVEN_ROUTINE_MODULE(kEvalModule, "eval", register_eval_natives)
TALVEN_ROUTINE_MODULE(kListsModule, "lists", data::register_list_natives)
TALVEN_ROUTINE_MODULE(kNumbersModule, "numbers", data::register_number_natives)
TALVEN_ROUTINE_MODULE(kHandlesModule, "handles", data::register_handle_natives)
TALVEN_ROUTINE_MODULE(kStreamsModule, "streams", data::register_stream_natives)
TALVEN_ROUTINE_MODULE(kReaderModule, "reader", data::register_reader_natives)
TALVEN_ROUTINE_MODULE(kPrinterModule, "printer", data::register_printer_natives)
TALVEN_ROUTINE_MODULE(kStringsModule, "strings", data::register_string_natives)
TALVEN_ROUTINE_MODULE(kCharsetsModule, "charsets", data::register_charset_natives)
TALVEN_ROUTINE_MODULE(kVectorsModule, "vectors", data::register_vector_natives)
TALVEN_ROUTINE_MODULE(kHashTablesModule, "hash-tables", data::register_hash_table_natives)
TALVEN_ROUTINE_MODULE(kSetsModule, "sets", data::register_set_natives)
TALVEN_ROUTINE_MODULE(kFormatModule, "format", data::register_format_natives)
TALVEN_ROUTINE_MODULE(kDatesModule, "dates", storage::register_date_natives)
TALVEN_ROUTINE_MODULE(kObjectsModule, "objects", objects::register_object_natives)

#undef TALVEN_ROUTINE_MODULE

std::span<const Module* const> default_modules() {
  // New modules add their descriptor here, after what they build on.
  static const Module* const list[] = {
      &kPredicatesModule, &kZonesModule,   &kCollectorModule,  &kSymbolsModule, &kErrorsModule,
      &kEvalModule,       &kListsModule,   &kNumbersModule,    &kHandlesModule, &kStreamsModule,
      &kReaderModule,     &kPrinterModule, &kStringsModule,    &kCharsetsModule, &kVectorsModule,
      &kHashTablesModule, &kSetsModule,    &kFormatModule,     &kDatesModule,   &kObjectsModule,
      &process::kProcessModule,
  };
  return list;
}

void register_all_modules() { install_modules(rt(), default_modules()); }

}  // namespace core
