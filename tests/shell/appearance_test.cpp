// A CURS resource converted to a platform cursor: what each pixel shows
// for the four combinations of image and mask bits, at 16 and 32 pixels,
// with everything outside the resource's 16 x 16 transparent.
#include <gtest/gtest.h>

#include <vector>

#include "shell/appearance.hpp"

namespace {

// Row 0: image 1 mask 1 (black), image 0 mask 1 (white), image 0 mask 0
// (the screen), image 1 mask 0 (the screen inverted), in pixels 0 to 3.
std::vector<uint8_t> curs() {
  std::vector<uint8_t> c(68, 0);
  c[0] = 0b10010000;        // image row 0: pixels 0 and 3
  c[32] = 0b11000000;       // mask row 0: pixels 0 and 1
  c[64] = 0, c[65] = 3;     // hot spot: vertical 3
  c[66] = 0, c[67] = 2;     // horizontal 2
  return c;
}

bool bit(const std::vector<uint8_t>& plane, size_t row_bytes, int x, int y) {
  return (plane[size_t(y) * row_bytes + size_t(x / 8)] >> (7 - x % 8)) & 1;
}

TEST(CursorFromCurs, EachPixelFollowsTheAndXorRuleAtBothSizes) {
  for (int size : {16, 32}) {
    auto c = shell::cursor_from_curs(curs(), size);
    ASSERT_TRUE(c) << size;
    ASSERT_TRUE(c->valid());
    EXPECT_EQ(c->width, size);
    EXPECT_EQ(c->hot.x, 2);
    EXPECT_EQ(c->hot.y, 3);
    size_t row = c->row_bytes();
    struct Expect {
      int x, y;
      bool and_bit, xor_bit;
    };
    const Expect cases[] = {
        {0, 0, false, false},  // black
        {1, 0, false, true},   // white
        {2, 0, true, false},   // the screen unchanged
        {3, 0, true, true},    // the screen inverted
        {15, 15, true, false},
    };
    for (const Expect& e : cases) {
      EXPECT_EQ(bit(c->and_mask, row, e.x, e.y), e.and_bit) << size << " " << e.x;
      EXPECT_EQ(bit(c->xor_mask, row, e.x, e.y), e.xor_bit) << size << " " << e.x;
    }
    if (size == 32)
      for (auto [x, y] : {std::pair{16, 0}, {31, 0}, {0, 16}, {31, 31}}) {
        EXPECT_TRUE(bit(c->and_mask, row, x, y)) << x << "," << y;
        EXPECT_FALSE(bit(c->xor_mask, row, x, y)) << x << "," << y;
      }
  }
  EXPECT_FALSE(shell::cursor_from_curs(std::vector<uint8_t>(67, 0), 16));
  EXPECT_FALSE(shell::cursor_from_curs(curs(), 24));
}

}  // namespace
