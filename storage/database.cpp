// Opening, reading, writing and compacting one database on disk.
#include "storage/database.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/bytes.hpp"

namespace storage {

bool is_text_type(uint32_t code) {
  uint32_t three = code & 0xFFFFFF00u;
  return code == fourcc("TEXT") || code == fourcc("Text") || three == (fourcc("Txt ") & 0xFFFFFF00u) ||
         three == (fourcc("Tlv ") & 0xFFFFFF00u);
}

std::vector<uint8_t> new_database(uint32_t creator, uint32_t type) {
  std::vector<uint8_t> out(kForkHeaderSize, 0);
  core::store_be32(&out[16], creator);
  core::store_be32(&out[20], type);
  out[kKindOffset] = 2;
  // The reserved pairs: an offset of all ones and a size of zero each.
  for (int i = 0; i < 15; ++i) core::store_be32(&out[136 + 8 * i], kDbNone);
  ForkHeader h;
  ForkMap empty;
  std::vector<uint8_t> map;
  serialize_map(empty, h, map, kDatabaseFork);
  put_header_fields(out.data(), h);
  out.insert(out.end(), map.begin(), map.end());
  return out;
}

int DbFile::attach(int fd, bool writable, const std::string& path, std::unique_ptr<DbFile>& out) {
  std::unique_ptr<DbFile> f(new DbFile());
  f->fd = fd;
  f->read_only = !writable;
  f->path = path;
  uint64_t size = 0;
  if (!identify_file(fd, path, f->id, f->canonical, size)) return kDbNotDatabase;

  uint8_t head[kForkHeaderSize];
  if (size < kForkHeaderSize || !read_all(fd, 0, head, sizeof head)) return kDbShortRead;
  ForkHeader h;
  if (parse_header(head, size, kDatabaseFork, h) != 0) return kDbNotDatabase;
  if (int e = read_map(fd, 0, h, kDatabaseFork, f->map)) return e == kResMemFull ? kDbNoMemory : kDbNotDatabase;
  // The changed mark is a run-time state: nothing on disk is pending.
  for (ForkType& t : f->map.types)
    for (ForkRef& r : t.refs) r.attrs = uint8_t(r.attrs & ~kResChanged);
  std::memcpy(f->kept.data(), head + 128, 128);
  if (f->read_only) f->map.attrs |= kMapReadOnly;
  out = std::move(f);
  return kDbOk;
}

bool DbFile::record_fits(const ForkRef& r) const {
  return !on_disk(r) || uint64_t(r.data_offset) + r.size <= map.header.data_length;
}

int DbFile::read_record_into(const ForkRef& r, uint8_t* out) const {
  if (!on_disk(r) || r.size == 0) return kDbOk;
  if (!record_fits(r) || !read_all(fd, uint64_t(map.header.data_offset) + r.data_offset, out, r.size))
    return kDbShortRead;
  return kDbOk;
}

int DbFile::read_record(const ForkRef& r, std::vector<uint8_t>& out) const {
  out.clear();
  if (!on_disk(r)) return kDbOk;
  // Checked against the data area before anything is allocated or read.
  if (!record_fits(r)) return kDbShortRead;
  try {
    out.resize(r.size);
  } catch (const std::bad_alloc&) {
    return kDbNoMemory;
  }
  if (int e = read_record_into(r, out.data())) {
    out.clear();
    return e;
  }
  return kDbOk;
}

// After a successful write: the reference takes its new place and size,
// is no longer changed, and text written from memory is marked converted.
void DbFile::settle(const Placed& p) {
  p.ref->data_offset = p.offset;
  p.ref->size = p.size;
  p.ref->attrs = uint8_t(p.ref->attrs & ~kResChanged);
  if (p.text) p.ref->attrs |= kRecConverted;
}

// The placed references as they will be in `next`, a copy of the map.
void DbFile::settle_copies(ForkMap& next, const std::vector<Placed>& placed) const {
  for (const Placed& p : placed) {
    Placed q = p;
    q.ref = &counterpart(next, map, p.ref);
    settle(q);
  }
}

// The type that holds a reference of the map.
const ForkType& DbFile::type_of(const ForkRef& r) const {
  for (const ForkType& t : map.types)
    if (!t.refs.empty() && &r >= t.refs.data() && &r < t.refs.data() + t.refs.size()) return t;
  std::abort();
}

bool DbFile::shares_bytes(const ForkRef& r) const {
  if (!on_disk(r) || r.size == 0) return false;
  uint64_t lo = r.data_offset, hi = lo + r.size;
  for (const ForkType& t : map.types)
    for (const ForkRef& o : t.refs)
      if (&o != &r && on_disk(o) && o.size != 0 && o.data_offset < hi && lo < uint64_t(o.data_offset) + o.size)
        return true;
  return false;
}

// Writes the data of the given references (each in place when it fits its
// old bytes, else where the map was), the header and the map, as one commit.
int DbFile::commit(std::vector<std::pair<ForkRef*, std::span<const uint8_t>>> writes) {
  ForkHeader h = map.header;
  Commit c(fd, id, canonical, file_size());
  std::vector<Placed> placed;
  for (auto& [ref, data] : writes) {
    uint32_t offset = ref->data_offset;
    // A size never written compares below every size. Bytes that another
    // record also names are never overwritten.
    if (!on_disk(*ref) || data.size() > ref->size || shares_bytes(*ref)) {
      uint64_t at = uint64_t(h.map_offset) - h.data_offset;
      uint64_t length = at + data.size();
      if (length > kDbMaxExtent) return kDbWriteFailed;
      offset = uint32_t(at);
      h.data_length = uint32_t(length);
      h.map_offset = uint32_t(h.data_offset + length);
    }
    c.write(uint64_t(h.data_offset) + offset, std::vector<uint8_t>(data.begin(), data.end()));
    placed.push_back({ref, offset, uint32_t(data.size()), is_text_type(type_of(*ref).code)});
  }
  ForkMap next = map;  // the map as it will be on disk
  settle_copies(next, placed);
  if (commit_map(c, next, h, kDatabaseFork, kept) != 0 || c.apply() != 0) return kDbWriteFailed;
  for (const Placed& p : placed) settle(p);
  settle_map(map, h);
  return kDbOk;
}

int DbFile::write_record(ForkRef& r, const DataOf& data_of) {
  if (!(r.attrs & kResChanged) || !writable()) return kDbOk;
  std::span<const uint8_t> data;
  if (!data_of(r, data)) return kDbOk;
  return commit({{&r, data}});
}

int DbFile::update(const DataOf& data_of, bool compact_allowed, OpenFile& fresh, bool& swapped) {
  swapped = false;
  if (!writable() || !changes_pending(map)) return kDbOk;
  uint64_t in_use = 0;
  for (ForkType& t : map.types)
    for (ForkRef& r : t.refs)
      if (r.size != kDbNone) in_use += r.size;
  if (compact_allowed && uint64_t(map.header.data_length) * 7 / 10 > in_use) {
    // When no file can be made beside the database (a folder that is not
    // writable), the changes are written in place instead.
    int e = compact(data_of, fresh);
    swapped = e == kDbOk;
    if (e != kDbWriteFailed) return e;
  }
  std::vector<std::pair<ForkRef*, std::span<const uint8_t>>> writes;
  for (ForkType& t : map.types)
    for (ForkRef& r : t.refs) {
      std::span<const uint8_t> data;
      if ((r.attrs & kResChanged) && data_of(r, data)) writes.push_back({&r, data});
    }
  return commit(std::move(writes));
}

std::string DbFile::compaction_path(const std::string& canonical) { return canonical + ".talven-compact"; }

namespace {

void flush_folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d >= 0) {
    flush_file(d);
    close(d);
  }
}

}  // namespace

int DbFile::compact(const DataOf& data_of, OpenFile& fresh) {
  if (!writable()) return kDbReadOnly;
  // The order of the new data area: records unchanged on disk first, by
  // their old offsets (a record goes before every larger offset, and
  // before an equal one unless that one is empty); then the records whose
  // bytes come from memory, in the reverse of the order the walk met them.
  struct Item {
    ForkRef* ref;
    bool text;
    std::span<const uint8_t> data;
  };
  std::vector<Item> front, back;
  for (ForkType& t : map.types)
    for (ForkRef& r : t.refs) {
      Item it{&r, is_text_type(t.code), {}};
      bool in_memory = (r.attrs & kResChanged) || !on_disk(r) ? data_of(r, it.data) : false;
      if (in_memory) {
        back.insert(back.begin(), it);
      } else if (on_disk(r)) {
        auto at = std::find_if(front.begin(), front.end(), [&](const Item& o) {
          return o.ref->data_offset > r.data_offset || (o.ref->data_offset == r.data_offset && o.ref->size != 0);
        });
        front.insert(at, it);
      }
      // A record with neither bytes on disk nor in memory keeps none.
    }

  uint8_t head[kForkHeaderSize];
  if (!read_all(fd, 0, head, sizeof head)) return kDbShortRead;
  std::memcpy(head + 128, kept.data(), kept.size());

  std::string tmp = compaction_path(canonical);
  struct stat st;
  mode_t mode = fstat(fd, &st) == 0 ? (st.st_mode & 07777) : 0644;
  unlink(tmp.c_str());
  int err = 0;
  // Locked from its creation, so that no other writer takes the file
  // between the rename and this process adopting it.
  OpenFile out = open_posix(tmp, OpenMode::CreateNew, FileLock::Exclusive, err);
  if (!out.is_open()) return kDbWriteFailed;
  fchmod(out.fd, mode);
  auto fail = [&](int code) {
    close_file(out);
    unlink(tmp.c_str());
    return code;
  };

  std::vector<Placed> placed;
  uint64_t running = 0;
  std::vector<uint8_t> bytes;
  for (Item& it : front) {
    if (int e = read_record(*it.ref, bytes)) return fail(e);
    if (running + bytes.size() > kDbMaxExtent) return fail(kDbWriteFailed);
    if (!write_all(out.fd, kForkHeaderSize + running, bytes.data(), bytes.size())) return fail(kDbWriteFailed);
    placed.push_back({it.ref, uint32_t(running), uint32_t(bytes.size()), false});
    running += bytes.size();
  }
  for (Item& it : back) {
    if (running + it.data.size() > kDbMaxExtent) return fail(kDbWriteFailed);
    if (!write_all(out.fd, kForkHeaderSize + running, it.data.data(), it.data.size())) return fail(kDbWriteFailed);
    placed.push_back({it.ref, uint32_t(running), uint32_t(it.data.size()), it.text});
    running += it.data.size();
  }

  ForkMap next = map;
  ForkHeader h;
  h.data_length = uint32_t(running);
  h.map_offset = uint32_t(kForkHeaderSize + running);
  settle_copies(next, placed);
  std::vector<uint8_t> map_bytes;
  if (serialize_map(next, h, map_bytes, kDatabaseFork) != 0) return fail(kDbWriteFailed);
  put_header_fields(head, h);
  if (!write_all(out.fd, 0, head, sizeof head) ||
      !write_all(out.fd, h.map_offset, map_bytes.data(), map_bytes.size()) || !flush_file(out.fd))
    return fail(kDbWriteFailed);
  if (rename(tmp.c_str(), canonical.c_str()) != 0) return fail(kDbWriteFailed);
  flush_folder_of(canonical);

  for (const Placed& p : placed) settle(p);
  settle_map(map, h);
  out.path = path;
  fd = out.fd;
  id = {out.device, out.inode};
  fresh = std::move(out);
  return kDbOk;
}

int open_database_path(const std::string& path, bool writable, DbHandle& out) {
  if (writable && recover_file(path) != 0) return kDbNotDatabase;
  int err = 0;
  OpenFile f = writable ? open_posix(path, OpenMode::ReadWrite, FileLock::Exclusive, err)
                        : open_posix(path, OpenMode::Read, FileLock::None, err);
  if (!f.is_open()) return kDbNotDatabase;
  std::unique_ptr<DbFile> db;
  if (int e = DbFile::attach(f.fd, writable, path, db)) return e;
  if (writable) unlink(DbFile::compaction_path(db->canonical).c_str());
  out.file = std::move(f);
  out.db = std::move(db);
  return kDbOk;
}

int list_database(const DbFile& f, std::string& out) {
  return list_map(f.map, [&](const ForkRef& r, std::vector<uint8_t>& data) { return f.read_record(r, data); }, out);
}

}  // namespace storage
