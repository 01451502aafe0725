// Device-independent bitmaps: reading the packed form through a bounded
// reader, and conversion to surfaces.
#include <cstring>

#include "platform/gfx/dc.hpp"

namespace gfx {

namespace {

// Reads little-endian fields from a byte span; never past its end.
class LittleReader {
 public:
  explicit LittleReader(std::span<const uint8_t> b) : bytes_(b) {}
  bool ok() const { return ok_; }
  size_t position() const { return at_; }
  uint32_t u32() { return uint32_t(take(4)); }
  uint16_t u16() { return uint16_t(take(2)); }
  uint8_t u8() { return uint8_t(take(1)); }
  bool skip(size_t n) {
    if (n > bytes_.size() - at_) return ok_ = false;
    at_ += n;
    return true;
  }
  std::span<const uint8_t> rest() const { return bytes_.subspan(at_); }

 private:
  uint64_t take(size_t n) {
    if (!ok_ || n > bytes_.size() - at_) {
      ok_ = false;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t(bytes_[at_ + i]) << (8 * i);
    at_ += n;
    return v;
  }
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace

bool Dib::valid() const {
  if (width <= 0 || height <= 0 || width > Surface::kMaxSide || height > Surface::kMaxSide) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;
  if (bits <= 8 && palette.empty()) return false;
  return data.size() >= stride() * size_t(height);
}

uint32_t Dib::color(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  const uint8_t* row = data.data() + stride() * size_t(top_down ? y : height - 1 - y);
  if (bits == 24) {
    const uint8_t* p = row + size_t(x) * 3;
    return rgb(p[2], p[1], p[0]);
  }
  unsigned index;
  if (bits == 8)
    index = row[x];
  else if (bits == 4)
    index = (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
  else
    index = (row[x / 8] >> (7 - (x & 7))) & 1;
  return index < palette.size() ? palette[index] : 0;
}

std::optional<Dib> parse_dib(std::span<const uint8_t> bytes) {
  LittleReader r(bytes);
  uint32_t header = r.u32();
  int32_t width = int32_t(r.u32());
  int32_t height = int32_t(r.u32());
  uint16_t planes = r.u16();
  uint16_t bits = r.u16();
  uint32_t compression = r.u32();
  r.u32();  // image size
  r.u32();  // resolution
  r.u32();
  uint32_t used = r.u32();
  r.u32();  // important colours
  if (!r.ok() || header < 40 || planes != 1 || compression != 0) return std::nullopt;
  if (!r.skip(header - 40)) return std::nullopt;
  Dib dib;
  dib.bits = bits;
  dib.width = width;
  if (height == INT32_MIN) return std::nullopt;
  dib.top_down = height < 0;
  dib.height = height < 0 ? -height : height;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return std::nullopt;
  if (dib.width <= 0 || dib.height <= 0 || dib.width > Surface::kMaxSide || dib.height > Surface::kMaxSide)
    return std::nullopt;
  if (bits <= 8) {
    uint32_t entries = used == 0 ? (1u << bits) : used;
    if (entries > 256) return std::nullopt;
    for (uint32_t i = 0; i < entries; ++i) {
      uint8_t b = r.u8(), g = r.u8(), red = r.u8();
      r.u8();
      dib.palette.push_back(rgb(red, g, b));
    }
    if (!r.ok()) return std::nullopt;
  }
  size_t need = dib.stride() * size_t(dib.height);
  auto rest = r.rest();
  if (rest.size() < need) return std::nullopt;
  dib.data.assign(rest.begin(), rest.begin() + ptrdiff_t(need));
  return dib;
}

Surface dib_surface(const Dib& dib) {
  if (!dib.valid()) return Surface();
  Surface s(dib.width, dib.height);
  for (int32_t y = 0; y < dib.height; ++y) {
    uint32_t* row = s.row32(y);
    for (int32_t x = 0; x < dib.width; ++x) row[x] = dib.color(x, y);
  }
  return s;
}

}  // namespace gfx
