// Parser and serializer of the resource fork layout, and the wrappers that
// carry forks from the classic platform.
#include "storage/fork.hpp"

#include <algorithm>
#include <cstring>

#include "core/bytes.hpp"

namespace storage {
using core::ByteReader;
using core::load_be32;
using core::store_be16;
using core::store_be32;

uint32_t fourcc(const char* s) {
  uint8_t b[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && s[i]; ++i) b[i] = uint8_t(s[i]);
  return load_be32(b);
}

std::string fourcc_text(uint32_t code) {
  uint8_t b[4];
  store_be32(b, code);
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

ForkRef* find_named(ForkMap& m, uint32_t code, const std::string& name) {
  if (ForkType* t = find_type(m, code))
    for (ForkRef& r : t->refs)
      if (r.named && r.name == name) return &r;
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

namespace {

// A big-endian field 2, 3 or 4 bytes wide.
uint32_t get_word(ByteReader& v, uint64_t at, uint32_t width) {
  if (width == 2) return v.be16_at(at);
  if (width == 3) return v.be24_at(at);
  return v.be32_at(at);
}

void put_word(uint8_t* p, uint32_t v, uint32_t width) {
  if (width == 2) store_be16(p, uint16_t(v));
  else if (width == 3) core::store_be24(p, v);
  else store_be32(p, v);
}

// The bytes of a reference's data in the data area: its stored length and
// the bytes themselves for resource files, the size kept in the map for
// databases.
uint64_t data_extent(const MapLayout& l, const ForkRef& r) { return l.ref_size_at ? uint64_t(r.size) : 4; }

}  // namespace

int parse_header(std::span<const uint8_t> head, uint64_t fork_size, const ForkFormat& f, ForkHeader& out) {
  if (head.size() < kForkHeaderSize) return kResReadErr;
  ByteReader v(head);
  ForkHeader h;
  h.data_offset = v.be32();
  h.map_offset = v.be32();
  h.data_length = v.be32();
  h.map_length = v.be32();
  uint32_t kind = v.u8_at(kKindOffset);
  // Real resource forks carry stray values in the kind byte; only the
  // database mark sets a file apart. A database must carry its mark.
  if (f.kind == 2 ? kind != 2 : kind == 2) return kResBadFile;
  if (h.data_offset != kForkHeaderSize || h.map_offset < kForkHeaderSize) return kResBadFile;
  // The fields are unsigned on disk; the original readers took them as
  // signed 32-bit numbers, so anything with the top bit set is refused.
  if (h.data_length > 0x7FFFFFFF || h.map_length > 0x7FFFFFFF || h.map_offset > 0x7FFFFFFF) return kResBadFile;
  if (uint64_t(h.data_offset) + h.data_length > h.map_offset) return kResBadFile;
  if (uint64_t(h.map_offset) + h.map_length != fork_size) return kResBadFile;
  if (h.map_length < f.layout->header + f.layout->word) return kResBadFile;
  out = h;
  return kResOk;
}

int parse_map(std::span<const uint8_t> map, const ForkHeader& h, const ForkFormat& f, ForkMap& out) {
  const MapLayout& l = *f.layout;
  if (map.size() != h.map_length || map.size() < l.header + l.word) return kResBadFile;
  ByteReader v(map);
  // The header copy: equal to the header, or all zero as some writers leave it.
  uint8_t want[16];
  put_header_fields(want, h);
  bool zero = true;
  for (int i = 0; i < 16; ++i) zero = zero && map[i] == 0;
  if (!zero && std::memcmp(want, map.data(), 16) != 0) return kResReadErr;

  ForkMap m;
  m.header = h;
  uint32_t attrs = v.be16_at(l.attrs_at);
  uint64_t type_off = get_word(v, l.type_off_at, l.word), name_off = get_word(v, l.name_off_at, l.word);
  m.attrs = uint16_t(attrs & ~(kMapCompact | kMapChanged));
  if (type_off < l.header || !v.fits(type_off, l.word) || name_off > map.size()) return kResBadFile;
  uint32_t count_word = get_word(v, type_off, l.word);
  uint64_t ntypes = count_word == l.none() ? 0 : uint64_t(count_word) + 1;
  if (!v.fits(type_off + l.word, ntypes * l.type_entry())) return kResBadFile;
  // Each type's reference list lies in the map, and no two of them share a
  // byte: a map whose types all name one list would otherwise list its
  // references once per type (a small file, an unbounded listing).
  std::vector<std::pair<uint64_t, uint64_t>> lists;
  for (uint64_t t = 0; t < ntypes; ++t) {
    uint64_t e = type_off + l.word + t * l.type_entry();
    uint32_t count = get_word(v, e + 4, l.word);
    uint64_t bytes = count == l.none() ? 0 : (uint64_t(count) + 1) * l.ref_size;
    uint64_t list = type_off + get_word(v, e + 4 + l.word, l.word);
    if (!v.fits(list, bytes)) return kResBadFile;
    if (bytes) lists.push_back({list, list + bytes});
  }
  std::sort(lists.begin(), lists.end());
  for (size_t i = 1; i < lists.size(); ++i)
    if (lists[i].first < lists[i - 1].second) return kResBadFile;
  m.types.resize(size_t(ntypes));
  for (uint64_t t = 0; t < ntypes; ++t) {
    uint64_t e = type_off + l.word + t * l.type_entry();
    ForkType& ty = m.types[size_t(t)];
    ty.code = v.be32_at(e);
    uint32_t count = get_word(v, e + 4, l.word);
    // A count word of all ones is a type left empty by a removal.
    uint64_t nrefs = count == l.none() ? 0 : uint64_t(count) + 1;
    uint64_t list = type_off + get_word(v, e + 4 + l.word, l.word);
    if (!v.fits(list, nrefs * l.ref_size)) return kResBadFile;
    ty.refs.resize(size_t(nrefs));
    for (uint64_t r = 0; r < nrefs; ++r) {
      uint64_t p = list + r * l.ref_size;
      ForkRef& ref = ty.refs[size_t(r)];
      uint32_t id = get_word(v, p, l.word);
      ref.id = l.word == 2 ? int32_t(int16_t(uint16_t(id))) : int32_t(id);
      ref.attrs = v.u8_at(p + l.ref_attrs_at);
      ref.data_offset = get_word(v, p + l.ref_data_at, l.data_width);
      if (l.ref_size_at) ref.size = get_word(v, p + l.ref_size_at, 4);
      if (l.ref_time_at) ref.time = v.le32_at(p + l.ref_time_at);
      bool sized = !l.ref_size_at || ref.size != 0xFFFFFFFF;
      if (ref.data_offset != l.no_data && sized &&
          !(uint64_t(ref.data_offset) + data_extent(l, ref) <= h.data_length))
        return kResBadFile;
      uint32_t noff = get_word(v, p + l.word, l.word);
      if (noff != l.no_name) {
        uint64_t at = name_off + noff;
        uint32_t len = v.u8_at(at);
        auto bytes = v.bytes_at(at + 1, len);
        if (!v.ok()) return kResBadFile;
        ref.named = true;
        ref.name.assign(reinterpret_cast<const char*>(bytes.data()), len);
      }
    }
  }
  // Every field read lay inside a range checked above.
  if (!v.ok()) return kResBadFile;
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
  ByteReader v(fork);
  if (uint64_t(r.data_offset) + 4 > h.data_length) return kResReadErr;
  uint32_t len = v.be32_at(at);
  if (!v.ok() || uint64_t(r.data_offset) + 4 + len > h.data_length) return kResReadErr;
  out = v.bytes_at(at + 4, len);
  return v.ok() ? kResOk : kResReadErr;
}

void put_header_fields(uint8_t* p, const ForkHeader& h) {
  store_be32(p, h.data_offset);
  store_be32(p + 4, h.map_offset);
  store_be32(p + 8, h.data_length);
  store_be32(p + 12, h.map_length);
}

int serialize_map(const ForkMap& m, ForkHeader& h, std::vector<uint8_t>& out, const ForkFormat& f) {
  const MapLayout& l = *f.layout;
  uint64_t ntypes = 0, nrefs = 0, names = 0;
  for (const ForkType& t : m.types) {
    if (t.refs.empty()) continue;
    ++ntypes;
    nrefs += t.refs.size();
    if (t.refs.size() - 1 >= l.none()) return kResWriteErr;
    for (const ForkRef& r : t.refs)
      if (r.named) names += 1 + std::min<uint64_t>(r.name.size(), kMaxName);
  }
  uint64_t type_list = l.header;
  uint64_t refs_at = type_list + l.word + ntypes * l.type_entry();
  uint64_t name_list = refs_at + nrefs * l.ref_size;
  // Reference-list offsets count from the type list, the name-list offset
  // from the map, name offsets from the name list: all of them one word.
  if (name_list >= l.none() || names >= l.none()) return kResWriteErr;
  uint64_t total = name_list + names;
  if (total > 0x7FFFFFFF || uint64_t(h.map_offset) + total > 0x7FFFFFFF) return kResWriteErr;
  out.assign(size_t(total), 0);
  h.map_length = uint32_t(total);
  uint8_t* p = out.data();
  put_header_fields(p, h);
  store_be16(p + l.attrs_at, uint16_t(m.attrs & ~(kMapCompact | kMapChanged)));
  put_word(p + l.type_off_at, uint32_t(type_list), l.word);
  put_word(p + l.name_off_at, uint32_t(name_list), l.word);
  put_word(p + type_list, ntypes == 0 ? l.none() : uint32_t(ntypes - 1), l.word);
  uint64_t entry = type_list + l.word, ref = refs_at, name = 0;
  for (const ForkType& t : m.types) {
    if (t.refs.empty()) continue;
    store_be32(p + entry, t.code);
    put_word(p + entry + 4, uint32_t(t.refs.size() - 1), l.word);
    put_word(p + entry + 4 + l.word, uint32_t(ref - type_list), l.word);
    entry += l.type_entry();
    for (const ForkRef& r : t.refs) {
      uint8_t* q = p + ref;
      put_word(q, uint32_t(r.id), l.word);
      if (r.named) {
        size_t len = std::min<size_t>(r.name.size(), kMaxName);
        put_word(q + l.word, uint32_t(name), l.word);
        p[name_list + name] = uint8_t(len);
        std::memcpy(p + name_list + name + 1, r.name.data(), len);
        name += 1 + len;
      } else {
        put_word(q + l.word, l.no_name, l.word);
      }
      // The changed mark is a run-time state: data on disk is never pending.
      q[l.ref_attrs_at] = uint8_t(r.attrs & ~kResChanged);
      if (l.data_width == 3 && r.data_offset > l.no_data) return kResWriteErr;
      put_word(q + l.ref_data_at, r.data_offset, l.data_width);
      if (l.ref_size_at) store_be32(q + l.ref_size_at, r.size);
      if (l.ref_time_at) core::store_le32(q + l.ref_time_at, r.time);
      ref += l.ref_size;  // the handle slot stays zero
    }
  }
  return kResOk;
}

std::vector<uint8_t> new_fork_header(const std::string& name, uint32_t type, uint32_t creator, uint8_t kind) {
  std::vector<uint8_t> h(kForkHeaderSize, 0);
  size_t len = std::min<size_t>(name.size(), 32);
  h[48] = uint8_t(len);
  std::memcpy(&h[49], name.data(), len);
  store_be32(&h[82], type);
  store_be32(&h[86], creator);
  h[kKindOffset] = kind;
  return h;
}

std::vector<uint8_t> new_empty_fork(const std::string& name, uint32_t type, uint32_t creator) {
  std::vector<uint8_t> out = new_fork_header(name, type, creator, 0);
  ForkHeader h;
  ForkMap m;
  std::vector<uint8_t> map;
  serialize_map(m, h, map, kResourceFork);
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
  ByteReader v(head);
  uint32_t magic = v.be32(), version = v.be32();
  if (!v.ok() || magic != 0x00051607 || version != 0x00020000) return false;
  uint32_t count = v.be16_at(24);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t e = 26 + uint64_t(i) * 12;
    uint32_t id = v.be32_at(e), off = v.be32_at(e + 4), len = v.be32_at(e + 8);
    if (!v.ok()) return false;
    if (id != 2) continue;
    if (uint64_t(off) + len > size) return false;
    out = {Wrapper::AppleDouble, off, len};
    return true;
  }
  return false;
}

bool mac_binary(std::span<const uint8_t> head, uint64_t size, ForkPlace& out) {
  if (head.size() < 128) return false;
  const uint8_t* p = head.data();  // 128 bytes and more
  if (p[0] != 0 || p[74] != 0 || p[1] < 1 || p[1] > 63) return false;
  bool v3 = std::memcmp(p + 102, "mBIN", 4) == 0;
  bool crc_ok = crc16_xmodem(p, 124) == core::load_be16(p + 124);
  if (v3 && !crc_ok) return false;
  if (!crc_ok) {
    // MacBinary I carries no CRC: its fixed zero bytes must be zero.
    if (p[82] != 0) return false;
    for (int i = 99; i < 128; ++i)
      if (p[i] != 0) return false;
  }
  uint32_t data_len = load_be32(p + 83), rsrc_len = load_be32(p + 87);
  uint32_t second = crc_ok ? core::load_be16(p + 120) : 0;
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
