// Handles named through boxes: a disposed handle's box stays dead.
#include "data/handles.hpp"

#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

class HandlesTest : public NativeCallTest {};

TEST_F(HandlesTest, AStaleBoxDoesNotReachTheHandleThatReusedItsSlot) {
  uint32_t h = data::new_handle(8);
  Value old_box = data::box_handle(h);
  // Disposed from native code, so the box keeps its id.
  data::dispose_handle(h);
  uint32_t again = data::new_handle(16);
  ASSERT_NE(again, 0u);
  EXPECT_NE(again, h);
  EXPECT_FALSE(data::handle_live(h));
  EXPECT_EQ(data::handle_size(h), 0u);
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("get-handle-size", {old_box}); }, &culprit), 2);
  EXPECT_EQ(error_in([&] { callv("hlock", {old_box}); }), 2);
  EXPECT_EQ(error_in([&] { callv("dispose-handle", {old_box}); }), 2);
  // The new handle is untouched by all of that.
  Value new_box = data::box_handle(again);
  EXPECT_EQ(callv("get-handle-size", {new_box}).fixnum(), 16);
  // A pointer block whose handle was disposed is no pointer block.
  Addr p = data::new_pointer(4);
  uint32_t ph = data::pointer_handle(p);
  ASSERT_NE(ph, 0u);
  data::dispose_handle(ph);
  EXPECT_EQ(data::pointer_handle(p), 0u);
  data::dispose_handle(again);
}

}  // namespace
}  // namespace core::testing
