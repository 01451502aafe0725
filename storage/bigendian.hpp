// Big-endian field codecs for the on-disk formats (resource files and
// databases), and a bounded view that refuses every read outside its bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace storage {

inline uint16_t get_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t get_be24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
inline uint32_t get_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void put_be16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void put_be24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 16);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Reads fields at absolute offsets of a byte span; every read checks its
// range in 64-bit arithmetic first and answers false when it does not fit.
class BeView {
 public:
  explicit BeView(std::span<const uint8_t> b) : b_(b) {}
  uint64_t size() const { return b_.size(); }
  bool fits(uint64_t off, uint64_t n) const { return off <= b_.size() && n <= b_.size() - off; }
  bool u8(uint64_t off, uint32_t& v) const {
    if (!fits(off, 1)) return false;
    v = b_[off];
    return true;
  }
  bool u16(uint64_t off, uint32_t& v) const {
    if (!fits(off, 2)) return false;
    v = get_be16(&b_[off]);
    return true;
  }
  bool u24(uint64_t off, uint32_t& v) const {
    if (!fits(off, 3)) return false;
    v = get_be24(&b_[off]);
    return true;
  }
  bool u32(uint64_t off, uint32_t& v) const {
    if (!fits(off, 4)) return false;
    v = get_be32(&b_[off]);
    return true;
  }
  // The n bytes at off, or an empty span when they do not fit.
  std::span<const uint8_t> bytes(uint64_t off, uint64_t n) const {
    if (!fits(off, n)) return {};
    return b_.subspan(size_t(off), size_t(n));
  }

 private:
  std::span<const uint8_t> b_;
};

}  // namespace storage
