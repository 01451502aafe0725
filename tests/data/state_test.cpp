// The data modules' roots live in their module state and survive
// collections through the module's root marking.
#include "core/collector.hpp"
#include "data/state.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

class DataStateTest : public NativeCallTest {};

TEST_F(DataStateTest, ReaderTablesAndStreamRootsAreRoots) {
  data::DataState& d = data::data_state();
  Value saved_macro = d.reader_macros['('], saved_dispatch = d.reader_dispatch['#'];
  d.reader_macros['('] = cons(make_string("macro"), kNil);
  d.reader_dispatch['#'] = make_string("dispatch");
  Value saved_root = d.roots[data::kOutFunction];
  d.roots[data::kOutFunction] = make_string("stream root");
  for (int i = 0; i < 200; ++i) make_string("garbage between the roots");
  collect();
  collect();
  EXPECT_STREQ(string_text(car(d.reader_macros['('])), "macro");
  EXPECT_STREQ(string_text(d.reader_dispatch['#']), "dispatch");
  EXPECT_STREQ(string_text(d.roots[data::kOutFunction]), "stream root");
  d.reader_macros['('] = saved_macro;
  d.reader_dispatch['#'] = saved_dispatch;
  d.roots[data::kOutFunction] = saved_root;
}

}  // namespace
}  // namespace core::testing
