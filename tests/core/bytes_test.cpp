// Byte order and the bounded reader.
#include "core/bytes.hpp"

#include <gtest/gtest.h>

#include <vector>

using namespace core;

TEST(Bytes, LoadsAndStoresInBothOrders) {
  uint8_t b[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(load_be16(b), 0x1234);
  EXPECT_EQ(load_le16(b), 0x3412);
  EXPECT_EQ(load_be24(b), 0x123456u);
  EXPECT_EQ(load_be32(b), 0x12345678u);
  EXPECT_EQ(load_le32(b), 0x78563412u);
  // High bits do not sign-extend through int promotion.
  uint8_t h[4] = {0xFF, 0xFE, 0x80, 0x01};
  EXPECT_EQ(load_be32(h), 0xFFFE8001u);
  EXPECT_EQ(load_le32(h), 0x0180FEFFu);
  uint8_t out[4] = {};
  store_be32(out, 0xA1B2C3D4);
  EXPECT_EQ(load_be32(out), 0xA1B2C3D4u);
  EXPECT_EQ(load_le32(out), 0xD4C3B2A1u);
  store_le16(out, 0xBEEF);
  EXPECT_EQ(out[0], 0xEF);
  EXPECT_EQ(load_be16(out), 0xEFBE);
  store_ne32(out + 0, 0x01020304);
  EXPECT_EQ(load_ne32(out), 0x01020304u);
}

TEST(ByteReader, ReadsInSequence) {
  const uint8_t b[] = {0x01, 0xFF, 0xFE, 0x00, 0x00, 0x01, 0x00, 0x03, 'a', 'b', 'c', 0x34, 0x12};
  ByteReader r(b, sizeof b);
  EXPECT_EQ(r.u8(), 1);
  EXPECT_EQ(r.be16s(), -2);
  EXPECT_EQ(r.be32(), 0x00000100u);
  EXPECT_EQ(r.pstring(), "abc");
  EXPECT_EQ(r.le16(), 0x1234);
  EXPECT_TRUE(r.at_end());
  EXPECT_TRUE(r.ok());
}

TEST(ByteReader, ReadsPastTheEndFailAndStayFailed) {
  const uint8_t b[] = {1, 2, 3};
  ByteReader r(b, sizeof b);
  EXPECT_EQ(r.be16(), 0x0102);
  EXPECT_EQ(r.be32(), 0u);  // one byte left: nothing is read
  EXPECT_TRUE(r.failed());
  EXPECT_TRUE(r.at_end());
  // The flag is sticky: later reads answer zero even where bytes would fit.
  r.seek(0);
  EXPECT_EQ(r.u8(), 0);
  EXPECT_FALSE(r.ok());

  ByteReader s(b, sizeof b);
  EXPECT_TRUE(s.bytes(4).empty());
  EXPECT_TRUE(s.failed());

  // A length byte that claims more than is there.
  const uint8_t p[] = {200, 'x'};
  ByteReader t(p, sizeof p);
  EXPECT_TRUE(t.pstring().empty());
  EXPECT_TRUE(t.failed());

  // Huge counts do not wrap around the bound.
  ByteReader u(b, sizeof b);
  u.skip(1);
  u.skip(SIZE_MAX);
  EXPECT_TRUE(u.failed());
  ByteReader v(b, sizeof b);
  EXPECT_TRUE(v.at(2, SIZE_MAX).failed());
  EXPECT_TRUE(v.failed());

  // An empty reader fails at the first read.
  ByteReader e;
  EXPECT_EQ(e.u8(), 0);
  EXPECT_TRUE(e.failed());

  uint8_t out[4] = {9, 9, 9, 9};
  ByteReader w(b, sizeof b);
  EXPECT_FALSE(w.copy(out, 4));
  EXPECT_EQ(load_be32(out), 0u);
}

TEST(ByteReader, PartsAreBoundedByTheirLength) {
  std::vector<uint8_t> b = {0, 0, 0, 2, 0xAA, 0xBB, 0xCC};
  ByteReader r(b);
  uint32_t n = r.be32();
  ByteReader part = r.part(n);
  EXPECT_EQ(part.u8(), 0xAA);
  EXPECT_EQ(part.u8(), 0xBB);
  EXPECT_EQ(part.u8(), 0);  // 0xCC is outside the part
  EXPECT_TRUE(part.failed());
  EXPECT_TRUE(r.ok());  // the outer reader is not concerned
  EXPECT_EQ(r.u8(), 0xCC);

  ByteReader o(b);
  ByteReader tail = o.at(4, 3);
  EXPECT_EQ(tail.be24(), 0xAABBCCu);
  EXPECT_EQ(o.pos(), 0u);
  ByteReader over = o.part(8);
  EXPECT_TRUE(over.failed());
  EXPECT_TRUE(o.failed());
  EXPECT_EQ(over.size(), 0u);
}

// Fields at absolute offsets: the cursor stays, a field that does not fit
// answers zero and fails the reader, and offsets near 2^64 never wrap into
// the buffer.
TEST(ByteReader, ReadsAtOffsetsAreBoundedIn64Bits) {
  const uint8_t b[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  ByteReader r(b, sizeof b);
  r.skip(1);
  EXPECT_EQ(r.be24_at(2), 0x56789Au);
  EXPECT_EQ(r.le32_at(0), 0x78563412u);
  EXPECT_EQ(r.u8_at(4), 0x9A);
  EXPECT_EQ(r.bytes_at(5, 0).size(), 0u);
  EXPECT_EQ(r.pos(), 1u);
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.fits(1, 4));
  EXPECT_FALSE(r.fits(2, 4));
  EXPECT_FALSE(r.fits(UINT64_MAX, 2));
  EXPECT_EQ(r.be32_at(2), 0u);
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.be16_at(0), 0u);  // sticky
  ByteReader s(b, sizeof b);
  EXPECT_TRUE(s.bytes_at(1, UINT64_MAX).empty());
  EXPECT_TRUE(s.failed());
  ByteReader t(b, sizeof b);
  EXPECT_EQ(t.be16_at(UINT64_MAX - 1), 0u);
  EXPECT_TRUE(t.failed());
}
