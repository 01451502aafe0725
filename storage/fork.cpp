// Parser and serializer of the resource fork layout, and the wrappers that
// carry forks from the classic platform.
#include "storage/fork.hpp"

#include <algorithm>
#include <cstring>

#include "storage/bigendian.hpp"

namespace storage {

uint32_t fourcc(const char* s) {
  uint8_t b[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && s[i]; ++i) b[i] = uint8_t(s[i]);
  return get_be32(b);
}

std::string fourcc_text(uint32_t code) {
  uint8_t b[4];
  put_be32(b, code);
  return std::string(reinterpret_cast<const char*>(b), 4);
}

ForkType* find_type(ForkMap& m, uint32_t code) {
  for (ForkType& t : m.types)
    if (t.code == code) return &t;
  return nullptr;
}

ForkRef* find_ref(ForkMap& m, uint32_t code, int32_t id) {
  if (ForkType* t = find_type(m, code))
    for (ForkRef& r : t->refs)
      if (r.id == id) return &r;
  return nullptr;
}

ForkRef& add_ref(ForkMap& m, uint32_t code, int32_t id, const std::string* name, uint32_t handle) {
  ForkType* t = find_type(m, code);
  if (!t) {
    m.types.push_back({code, {}});
    t = &m.types.back();
  }
  ForkRef r;
  r.id = id;
  r.named = name && !name->empty();
  if (r.named) r.name = name->substr(0, kMaxName);
  r.attrs = kResChanged;
  r.handle = handle;
  t->refs.push_back(std::move(r));
  m.attrs |= kMapChanged;
  return t->refs.back();
}

int parse_header(std::span<const uint8_t> head, uint64_t fork_size, const ForkFormat& f, ForkHeader& out) {
  if (head.size() < kForkHeaderSize) return kResReadErr;
  BeView v(head);
  ForkHeader h;
  uint32_t kind = 0;
  v.u32(0, h.data_offset);
  v.u32(4, h.map_offset);
  v.u32(8, h.data_length);
  v.u32(12, h.map_length);
  v.u8(kKindOffset, kind);
  // Real resource forks carry stray values in the kind byte; only the
  // database mark sets a file apart. A database must carry its mark.
  if (f.kind == 2 ? kind != 2 : kind == 2) return kResBadFile;
  if (h.data_offset != kForkHeaderSize || h.map_offset < kForkHeaderSize) return kResBadFile;
  // The fields are unsigned on disk; the original readers took them as
  // signed 32-bit numbers, so anything with the top bit set is refused.
  if (h.data_length > 0x7FFFFFFF || h.map_length > 0x7FFFFFFF || h.map_offset > 0x7FFFFFFF) return kResBadFile;
  if (uint64_t(h.data_offset) + h.data_length > h.map_offset) return kResBadFile;
  if (uint64_t(h.map_offset) + h.map_length != fork_size) return kResBadFile;
  if (h.map_length < kMapHeaderSize + 2) return kResBadFile;
  out = h;
  return kResOk;
}

int parse_map(std::span<const uint8_t> map, const ForkHeader& h, const ForkFormat& f, ForkMap& out) {
  if (f.wide) return kResBadFile;  // the database map has its own reader
  if (map.size() != h.map_length) return kResBadFile;
  BeView v(map);
  // The header copy: equal to the header, or all zero as some writers leave it.
  uint8_t want[16];
  put_header_fields(want, h);
  bool zero = true;
  for (int i = 0; i < 16; ++i) zero = zero && map[i] == 0;
  if (!zero && std::memcmp(want, map.data(), 16) != 0) return kResReadErr;

  ForkMap m;
  m.header = h;
  uint32_t attrs = 0, type_off = 0, name_off = 0, count_word = 0;
  v.u16(22, attrs);
  v.u16(24, type_off);
  v.u16(26, name_off);
  m.attrs = uint16_t(attrs & ~(kMapCompact | kMapChanged));
  if (type_off < kMapHeaderSize || !v.u16(type_off, count_word)) return kResBadFile;
  if (name_off > map.size()) return kResBadFile;
  uint64_t ntypes = count_word == 0xFFFF ? 0 : uint64_t(count_word) + 1;
  if (!v.fits(uint64_t(type_off) + 2, ntypes * kTypeEntrySize)) return kResBadFile;
  m.types.resize(size_t(ntypes));
  for (uint64_t t = 0; t < ntypes; ++t) {
    uint64_t e = uint64_t(type_off) + 2 + t * kTypeEntrySize;
    uint32_t code = 0, count = 0, ref_off = 0;
    v.u32(e, code);
    v.u16(e + 4, count);
    v.u16(e + 6, ref_off);
    ForkType& ty = m.types[size_t(t)];
    ty.code = code;
    // A count word of 0xFFFF is a type left empty by a removal.
    uint64_t nrefs = count == 0xFFFF ? 0 : uint64_t(count) + 1;
    uint64_t list = uint64_t(type_off) + ref_off;
    if (!v.fits(list, nrefs * kRefSize)) return kResBadFile;
    ty.refs.resize(size_t(nrefs));
    for (uint64_t r = 0; r < nrefs; ++r) {
      uint64_t p = list + r * kRefSize;
      uint32_t id = 0, noff = 0, ra = 0, doff = 0;
      v.u16(p, id);
      v.u16(p + 2, noff);
      v.u8(p + 4, ra);
      v.u24(p + 5, doff);
      ForkRef& ref = ty.refs[size_t(r)];
      ref.id = int16_t(uint16_t(id));
      ref.attrs = uint8_t(ra);
      ref.data_offset = doff;
      if (doff != kNoData && !(uint64_t(doff) + 4 <= h.data_length)) return kResBadFile;
      if (noff != kNoName) {
        uint32_t len = 0;
        uint64_t at = uint64_t(name_off) + noff;
        if (!v.u8(at, len)) return kResBadFile;
        auto bytes = v.bytes(at + 1, len);
        if (bytes.size() != len) return kResBadFile;
        ref.named = true;
        ref.name.assign(reinterpret_cast<const char*>(bytes.data()), len);
      }
    }
  }
  out = std::move(m);
  return kResOk;
}

int parse_fork(std::span<const uint8_t> fork, const ForkFormat& f, ForkMap& out) {
  ForkHeader h;
  if (fork.size() < kForkHeaderSize) return kResReadErr;
  if (int e = parse_header(fork.first(kForkHeaderSize), fork.size(), f, h)) return e;
  return parse_map(fork.subspan(h.map_offset, h.map_length), h, f, out);
}

int fork_data(std::span<const uint8_t> fork, const ForkMap& m, const ForkRef& r, std::span<const uint8_t>& out) {
  out = {};
  if (r.data_offset == kNoData) return kResOk;
  const ForkHeader& h = m.header;
  uint64_t at = uint64_t(h.data_offset) + r.data_offset;
  BeView v(fork);
  uint32_t len = 0;
  if (uint64_t(r.data_offset) + 4 > h.data_length || !v.u32(at, len)) return kResReadErr;
  if (uint64_t(r.data_offset) + 4 + len > h.data_length) return kResReadErr;
  out = v.bytes(at + 4, len);
  return out.size() == len ? kResOk : kResReadErr;
}

uint64_t map_size(const ForkMap& m) {
  uint64_t n = kMapHeaderSize + 2;
  for (const ForkType& t : m.types) {
    if (t.refs.empty()) continue;
    n += kTypeEntrySize + kRefSize * uint64_t(t.refs.size());
    for (const ForkRef& r : t.refs)
      if (r.named) n += 1 + std::min<uint64_t>(r.name.size(), kMaxName);
  }
  return n;
}

void put_header_fields(uint8_t* p, const ForkHeader& h) {
  put_be32(p, h.data_offset);
  put_be32(p + 4, h.map_offset);
  put_be32(p + 8, h.data_length);
  put_be32(p + 12, h.map_length);
}

int serialize_map(const ForkMap& m, ForkHeader& h, std::vector<uint8_t>& out) {
  uint64_t ntypes = 0, nrefs = 0, names = 0;
  for (const ForkType& t : m.types) {
    if (t.refs.empty()) continue;
    ++ntypes;
    nrefs += t.refs.size();
    if (t.refs.size() > 0x10000) return kResWriteErr;
    for (const ForkRef& r : t.refs)
      if (r.named) names += 1 + std::min<uint64_t>(r.name.size(), kMaxName);
  }
  uint64_t type_list = kMapHeaderSize;
  uint64_t refs_at = type_list + 2 + ntypes * kTypeEntrySize;
  uint64_t name_list = refs_at + nrefs * kRefSize;
  // Reference-list offsets count from the type list and the name-list
  // offset from the map: both are 16-bit, and so are the name offsets.
  if (name_list > 0xFFFF || names > 0xFFFF) return kResWriteErr;
  uint64_t total = name_list + names;
  out.assign(size_t(total), 0);
  h.map_length = uint32_t(total);
  uint8_t* p = out.data();
  put_header_fields(p, h);
  put_be16(p + 22, m.attrs & ~(kMapCompact | kMapChanged));
  put_be16(p + 24, uint32_t(type_list));
  put_be16(p + 26, uint32_t(name_list));
  put_be16(p + type_list, ntypes == 0 ? 0xFFFF : uint32_t(ntypes - 1));
  uint64_t entry = type_list + 2, ref = refs_at, name = 0;
  for (const ForkType& t : m.types) {
    if (t.refs.empty()) continue;
    put_be32(p + entry, t.code);
    put_be16(p + entry + 4, uint32_t(t.refs.size() - 1));
    put_be16(p + entry + 6, uint32_t(ref - type_list));
    entry += kTypeEntrySize;
    for (const ForkRef& r : t.refs) {
      put_be16(p + ref, uint16_t(r.id));
      if (r.named) {
        size_t len = std::min<size_t>(r.name.size(), kMaxName);
        put_be16(p + ref + 2, uint32_t(name));
        p[name_list + name] = uint8_t(len);
        std::memcpy(p + name_list + name + 1, r.name.data(), len);
        name += 1 + len;
      } else {
        put_be16(p + ref + 2, kNoName);
      }
      // The changed mark is a run-time state: data on disk is never pending.
      p[ref + 4] = uint8_t(r.attrs & ~kResChanged);
      if (r.data_offset != kNoData && r.data_offset >= kNoData) return kResWriteErr;
      put_be24(p + ref + 5, r.data_offset);
      ref += kRefSize;  // the handle slot stays zero
    }
  }
  return kResOk;
}

std::vector<uint8_t> new_fork_header(const std::string& name, uint32_t type, uint32_t creator, uint8_t kind) {
  std::vector<uint8_t> h(kForkHeaderSize, 0);
  size_t len = std::min<size_t>(name.size(), 32);
  h[48] = uint8_t(len);
  std::memcpy(&h[49], name.data(), len);
  put_be32(&h[82], type);
  put_be32(&h[86], creator);
  h[kKindOffset] = kind;
  return h;
}

std::vector<uint8_t> new_empty_fork(const std::string& name, uint32_t type, uint32_t creator) {
  std::vector<uint8_t> out = new_fork_header(name, type, creator, 0);
  ForkHeader h;
  ForkMap m;
  std::vector<uint8_t> map;
  serialize_map(m, h, map);
  put_header_fields(out.data(), h);
  out.insert(out.end(), map.begin(), map.end());
  return out;
}

namespace {

uint16_t crc16_xmodem(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

bool apple_double(std::span<const uint8_t> head, uint64_t size, ForkPlace& out) {
  BeView v(head);
  uint32_t magic = 0, version = 0, count = 0;
  if (!v.u32(0, magic) || magic != 0x00051607 || !v.u32(4, version) || version != 0x00020000) return false;
  if (!v.u16(24, count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = 0, off = 0, len = 0;
    uint64_t e = 26 + uint64_t(i) * 12;
    if (!v.u32(e, id) || !v.u32(e + 4, off) || !v.u32(e + 8, len)) return false;
    if (id != 2) continue;
    if (uint64_t(off) + len > size) return false;
    out = {Wrapper::AppleDouble, off, len};
    return true;
  }
  return false;
}

bool mac_binary(std::span<const uint8_t> head, uint64_t size, ForkPlace& out) {
  if (head.size() < 128) return false;
  const uint8_t* p = head.data();
  if (p[0] != 0 || p[74] != 0 || p[1] < 1 || p[1] > 63) return false;
  bool v3 = std::memcmp(p + 102, "mBIN", 4) == 0;
  bool crc_ok = crc16_xmodem(p, 124) == get_be16(p + 124);
  if (v3 && !crc_ok) return false;
  if (!crc_ok) {
    // MacBinary I carries no CRC: its fixed zero bytes must be zero.
    if (p[82] != 0) return false;
    for (int i = 99; i < 128; ++i)
      if (p[i] != 0) return false;
  }
  uint32_t data_len = get_be32(p + 83), rsrc_len = get_be32(p + 87);
  uint32_t second = crc_ok ? get_be16(p + 120) : 0;
  auto pad = [](uint64_t n) { return (n + 127) & ~uint64_t(127); };
  uint64_t at = 128 + pad(second) + pad(data_len);
  if (at > size || rsrc_len > size - at) return false;
  out = {Wrapper::MacBinary, at, rsrc_len};
  return true;
}

}  // namespace

bool find_wrapped_fork(std::span<const uint8_t> head, uint64_t file_size, ForkPlace& out) {
  return apple_double(head, file_size, out) || mac_binary(head, file_size, out);
}

}  // namespace storage
