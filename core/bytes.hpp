// Byte order and bounded reading of outside data.
//
// Loads and stores of 16- and 32-bit words in either byte order, through
// memcpy so that no address needs to be aligned, and ByteReader: a cursor
// over a span that can never step past its end. Every parser of outside
// data (resource files, pictures, sounds, databases) reads through a
// ByteReader: a read that does not fit answers zero, moves the cursor to the
// end and sets the reader's `failed` flag, which stays set. A parser reads a
// whole structure, then checks `ok()` once and reports the damage.
//
// Formats laid out by offsets (the map of a resource file or a database)
// read fields where they lie with the `_at` reads, which leave the cursor
// alone; their offsets are 64-bit, so an offset plus a count read from
// damaged input can never wrap around to a place inside the buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace core {

inline uint16_t load_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t load_be24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
inline uint32_t load_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t load_le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t load_le32(const uint8_t* p) {
  return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
// Native byte order, unaligned.
inline uint16_t load_ne16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t load_ne32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline void store_be16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void store_be24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 16);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v);
}
inline void store_le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void store_ne16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void store_ne32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}
  ByteReader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}

  size_t size() const { return size_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  bool at_end() const { return pos_ == size_; }
  // No read has gone past the end.
  bool ok() const { return !failed_; }
  bool failed() const { return failed_; }
  // Whether n more bytes are there, without touching the flag.
  bool has(size_t n) const { return n <= size_ - pos_; }

  uint8_t u8() {
    const uint8_t* p = take(1);
    return p ? p[0] : 0;
  }
  int8_t s8() { return int8_t(u8()); }
  uint16_t be16() { return read<2>(load_be16); }
  uint32_t be24() { return read<3>(load_be24); }
  uint32_t be32() { return read<4>(load_be32); }
  uint16_t le16() { return read<2>(load_le16); }
  uint32_t le32() { return read<4>(load_le32); }
  int16_t be16s() { return int16_t(be16()); }
  int32_t be32s() { return int32_t(be32()); }
  int16_t le16s() { return int16_t(le16()); }
  int32_t le32s() { return int32_t(le32()); }

  // The next n bytes; an empty span (and the flag) when fewer are left.
  std::span<const uint8_t> bytes(size_t n) {
    const uint8_t* p = take(n);
    return p ? std::span<const uint8_t>(p, n) : std::span<const uint8_t>();
  }
  // Copies n bytes out; zeroes them when fewer are left.
  bool copy(void* out, size_t n) {
    const uint8_t* p = take(n);
    if (p) std::memcpy(out, p, n);
    else if (n) std::memset(out, 0, n);
    return p != nullptr;
  }
  // A length byte followed by that many bytes of text.
  std::string_view pstring() {
    size_t n = u8();
    std::span<const uint8_t> s = bytes(n);
    return {reinterpret_cast<const char*>(s.data()), s.size()};
  }
  void skip(size_t n) { take(n); }
  // Moves to an absolute position; past the end fails.
  void seek(size_t pos) {
    if (pos > size_) return fail();
    pos_ = pos;
  }
  // Whether [offset, offset + n) lies inside the span, without touching the flag.
  bool fits(uint64_t offset, uint64_t n) const { return offset <= size_ && n <= size_ - offset; }
  // Fields at an absolute offset, the cursor left where it is. A field
  // outside the span answers zero (an empty span) and fails the reader.
  uint8_t u8_at(uint64_t offset) { return read_at<1>(offset, [](const uint8_t* p) { return p[0]; }); }
  uint16_t be16_at(uint64_t offset) { return read_at<2>(offset, load_be16); }
  uint32_t be24_at(uint64_t offset) { return read_at<3>(offset, load_be24); }
  uint32_t be32_at(uint64_t offset) { return read_at<4>(offset, load_be32); }
  uint32_t le32_at(uint64_t offset) { return read_at<4>(offset, load_le32); }
  std::span<const uint8_t> bytes_at(uint64_t offset, uint64_t n) {
    if (failed_ || !fits(offset, n)) {
      fail();
      return {};
    }
    return {data_ + offset, size_t(n)};
  }

  // A reader over the next n bytes, which this one steps over. Reads of
  // the part never reach beyond it; when fewer than n bytes are left, the
  // part is empty and both readers have failed.
  ByteReader part(size_t n) {
    const uint8_t* p = take(n);
    ByteReader r;
    if (p) {
      r.data_ = p;
      r.size_ = n;
    } else {
      r.failed_ = true;
    }
    return r;
  }
  // A reader over [offset, offset + n) of the whole span, the cursor left
  // where it is. A range outside fails both.
  ByteReader at(size_t offset, size_t n) {
    ByteReader r;
    if (offset > size_ || n > size_ - offset) {
      fail();
      r.failed_ = true;
      return r;
    }
    r.data_ = data_ + offset;
    r.size_ = n;
    return r;
  }

 private:
  const uint8_t* take(size_t n) {
    if (failed_ || n > size_ - pos_) {
      fail();
      return nullptr;
    }
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  void fail() {
    failed_ = true;
    pos_ = size_;
  }
  template <size_t N, typename F>
  auto read(F load) -> decltype(load(nullptr)) {
    const uint8_t* p = take(N);
    return p ? load(p) : 0;
  }
  template <size_t N, typename F>
  auto read_at(uint64_t offset, F load) -> decltype(load(nullptr)) {
    if (failed_ || !fits(offset, N)) {
      fail();
      return 0;
    }
    return load(data_ + offset);
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace core
