#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

TEST(RegionTest, BlocksAreAddressedByOffsetsAndReused) {
  Region g;
  Addr a = g.allocate(100);
  ASSERT_NE(a, 0u);
  EXPECT_GE(a, Region::kFirst);
  EXPECT_EQ(a % 8, 0u);
  EXPECT_EQ(g.block_size(a), 100u);
  EXPECT_EQ(g.block_containing(a + 10, 90), a);
  EXPECT_EQ(g.block_containing(a + 10, 91), 0u);
  EXPECT_TRUE(g.release(a));
  EXPECT_FALSE(g.release(a));  // a second release is refused
  EXPECT_EQ(g.block_containing(a, 1), 0u);
  Addr b = g.allocate(90);
  EXPECT_EQ(b, a);  // same size class reused
  EXPECT_EQ(g.ptr(b)[0], 0);
}

TEST(RegionTest, ABlockAboveTwoGigabytesKeepsItsFullOffset) {
  Region g;
  g.skip_to(0x90000000u);
  Addr a = g.allocate(64);
  ASSERT_NE(a, 0u);
  EXPECT_GE(a, 0x90000000u);
  g.ptr(a)[63] = 42;
  EXPECT_EQ(g.addr(g.ptr(a)), a);
  EXPECT_EQ(g.block_containing(a + 63, 1), a);
  EXPECT_EQ(g.ptr(a)[63], 42);
}

class Boxes : public MachineTest {};

TEST_F(Boxes, APointerBoxRoundTripsAHighAddress) {
  Region& g = rt().region;
  g.skip_to(0xA0000000u);
  Addr a = g.allocate(16);
  ASSERT_GE(a, 0xA0000000u);
  Value box = box_address(a, 1);
  EXPECT_TRUE(box.is(Tag::Pointer));
  for (int i = 0; i < 100; ++i) make_string("churn");
  collect();
  EXPECT_EQ(box_addr(box), a);
  EXPECT_EQ(box_kind(box), 1u);
  EXPECT_EQ(g.addr(g.ptr(box_addr(box))), a);
}

}  // namespace
}  // namespace core::testing
