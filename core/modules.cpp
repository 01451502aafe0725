// The ordered list of registration routines run at start-up. The order
// matters: the first registration of a name wins.
#include "core/natives.hpp"

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
void register_process_natives();
}  // namespace process

namespace core {

void register_predicate_natives();
void register_zone_natives();
void register_collector_natives();
void register_symbol_natives();
void register_error_natives();
void register_eval_natives();

void register_all_modules() {
  register_predicate_natives();
  register_zone_natives();
  register_collector_natives();
  register_symbol_natives();
  register_error_natives();
  register_eval_natives();
  data::register_list_natives();
  data::register_number_natives();
  data::register_handle_natives();
  data::register_stream_natives();
  data::register_reader_natives();
  data::register_printer_natives();
  data::register_string_natives();
  data::register_charset_natives();
  data::register_vector_natives();
  data::register_hash_table_natives();
  data::register_set_natives();
  data::register_format_natives();
  storage::register_date_natives();
  objects::register_object_natives();
  process::register_process_natives();
}

}  // namespace core
