// The reading and writing that resource files and databases share.
#include "storage/map_file.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/bytes.hpp"
#include "storage/sha256.hpp"

namespace storage {

bool identify_file(int fd, const std::string& path, FileId& id, std::string& canonical, uint64_t& size) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id = {st.st_dev, st.st_ino};
  char buf[PATH_MAX];
  canonical = realpath(path.c_str(), buf) ? std::string(buf) : path;
  size = uint64_t(st.st_size);
  return true;
}

int read_map(int fd, uint64_t base, const ForkHeader& h, const ForkFormat& f, ForkMap& out) {
  std::vector<uint8_t> map;
  try {
    map.resize(h.map_length);
  } catch (const std::bad_alloc&) {
    return kResMemFull;
  }
  if (!read_all(fd, base + h.map_offset, map.data(), map.size())) return kResBadFile;
  return parse_map(map, h, f, out);
}

bool changes_pending(const ForkMap& m) {
  if (m.attrs & kMapChanged) return true;
  for (const ForkType& t : m.types)
    for (const ForkRef& r : t.refs)
      if (r.attrs & kResChanged) return true;
  return false;
}

ForkRef& counterpart(ForkMap& copy, const ForkMap& m, const ForkRef* r) {
  for (size_t t = 0; t < m.types.size(); ++t) {
    const std::vector<ForkRef>& refs = m.types[t].refs;
    if (!refs.empty() && r >= refs.data() && r < refs.data() + refs.size())
      return copy.types[t].refs[size_t(r - refs.data())];
  }
  std::abort();  // r is not a reference of m
}

int commit_map(Commit& c, const ForkMap& next, ForkHeader& h, const ForkFormat& f, std::span<const uint8_t> kept) {
  std::vector<uint8_t> bytes;
  if (int e = serialize_map(next, h, bytes, f)) return e;
  std::vector<uint8_t> head(16);
  put_header_fields(head.data(), h);
  c.write(0, std::move(head));
  if (!kept.empty()) c.write(128, std::vector<uint8_t>(kept.begin(), kept.end()));
  c.write(h.map_offset, std::move(bytes));
  c.resize(uint64_t(h.map_offset) + h.map_length);
  return kResOk;
}

void settle_map(ForkMap& m, const ForkHeader& h) {
  m.header = h;
  std::erase_if(m.types, [](const ForkType& t) { return t.refs.empty(); });
  m.attrs = uint16_t(m.attrs & ~(kMapChanged | kMapCompact));
}

void append_escaped(std::string& out, const uint8_t* p, size_t n) {
  static const char* hex = "0123456789abcdef";
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = p[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c <= 0x7E) {
      out += char(c);
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
}

int list_map(const ForkMap& m, const ReadEntry& read, std::string& out) {
  out = "type\tid\tname\tattrs\tlength\tsha256\n";
  std::vector<uint8_t> data;
  for (const ForkType& t : m.types)
    for (const ForkRef& r : t.refs) {
      if (int e = read(r, data)) return e;
      uint8_t code[4];
      core::store_be32(code, t.code);
      append_escaped(out, code, 4);
      char buf[64];
      std::snprintf(buf, sizeof buf, "\t%ld\t", long(r.id));
      out += buf;
      append_escaped(out, reinterpret_cast<const uint8_t*>(r.name.data()), r.name.size());
      std::snprintf(buf, sizeof buf, "\t0x%02x\t%zu\t", unsigned(r.attrs), data.size());
      out += buf;
      out += sha256_hex(data);
      out += '\n';
    }
  return kResOk;
}

}  // namespace storage
