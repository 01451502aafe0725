// Handles named through boxes: a disposed handle's box stays dead; raw
// memory access from Lisp stays inside what Lisp was handed.
#include "data/handles.hpp"

#include "core/memory.hpp"
#include "data/strings.hpp"
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

using RawMemory = NativeCallTest;

// The runtime's own memory (the node zone, the heap, symbol names, native
// blocks it allocated for itself) is never written by mref's siblings; the
// zones may be read, nothing else outside handles and pointers.
TEST_F(RawMemory, WritesReachOnlyBlocksHandedToLisp) {
  Value car_sym = sym("car");
  Value primitive = symbol_value(car_sym);
  Addr name_text = node_of(symbol_name(car_sym)).cdr;  // a permanent text outside the zones
  Addr nodes = rt().region.addr(rt().zones.node_base) + 8;
  Addr own = rt().region.allocate(64);  // a block the runtime keeps for itself
  Value p = callv("new-ptr", {make_fixnum(16)});
  auto fix = [](int32_t i) { return make_fixnum(i); };
  for (Addr a : {name_text, nodes, rt().zones.heap_start, own}) {
    Value where = box_address(a);
    EXPECT_EQ(error_in([&] { callv("mset", {fix(1), fix(0), where, fix(0)}); }), 2);
    EXPECT_EQ(error_in([&] { callv("mset", {fix(-4), fix(-1), where, fix(0)}); }), 2);
    EXPECT_EQ(error_in([&] { callv("block-move", {p, where, fix(8)}); }), 2);
    EXPECT_EQ(error_in([&] { callv("put-string", {data::new_string("xyz"), where}); }), 2);
    EXPECT_EQ(error_in([&] { callv("ibm->mac", {where, kNil, fix(4)}); }), 2);
    // A handle stream whose data pointer is that memory writes nothing.
    Value stream = callv("new-handle-struct", {fix(0), fix(8), where, kNil});
    EXPECT_EQ(error_in([&] { callv("handle-putc", {fix(65), stream}); }), 2);
  }
  // The zones read; the runtime's other blocks do not.
  EXPECT_TRUE(is_integer(callv("mref", {fix(4), box_address(nodes), fix(0)})));
  callv("block-move", {box_address(nodes), p, fix(16)});
  EXPECT_EQ(error_in([&] { callv("mref", {fix(1), box_address(name_text), fix(0)}); }), 2);
  EXPECT_EQ(error_in([&] { callv("mref", {fix(1), box_address(own), fix(0)}); }), 2);
  // Nothing was overwritten.
  EXPECT_STREQ(symbol_text(car_sym), "car");
  EXPECT_EQ(symbol_value(car_sym), primitive);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(at_addr(own)), 4), std::string(4, '\0'));
  // The blocks handed to Lisp take writes.
  EXPECT_EQ(callv("mset", {fix(1), fix(9), p, fix(15)}), fix(9));
  Value h = callv("new-handle", {fix(8)});
  Value a = callv("hlock", {h});
  callv("block-move", {p, a, fix(8)});
  EXPECT_EQ(callv("equal-block?", {p, a, fix(8)}), rt().sym.t);
  rt().region.release(own);
}

}  // namespace
}  // namespace core::testing
