// Opening, reading and writing one resource fork on disk.
#include "storage/resfile.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "core/bytes.hpp"

namespace storage {

ResFile::~ResFile() {
  if (owns_fd_ && fd_ >= 0) close(fd_);
}

int ResFile::open(const std::string& path, std::unique_ptr<ResFile>& out) {
  if (recover_file(path) != 0) return kResBadFile;
  // Non-blocking, so that a FIFO never waits for a writer; only regular
  // files pass.
  bool writable = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    writable = false;
  }
  if (fd < 0) return kResBadFile;
  int e = attach(fd, writable, path, out);
  if (e == 0) out->owns_fd_ = true;
  else close(fd);
  return e;
}

int ResFile::attach(int fd, bool writable, const std::string& path, std::unique_ptr<ResFile>& out) {
  std::unique_ptr<ResFile> f(new ResFile());
  f->path = path;
  f->fd_ = fd;
  f->read_only = !writable;
  uint64_t size = 0;
  if (!identify_file(fd, path, f->id, f->canonical_, size)) return kResBadFile;

  std::vector<uint8_t> head(size_t(std::min<uint64_t>(size, 4096)));
  if (!read_all(f->fd_, 0, head.data(), head.size())) return kResReadErr;
  ForkHeader h;
  uint64_t fork_size = size;
  int err = size < kForkHeaderSize ? kResReadErr : parse_header(head, size, kResourceFork, h);
  if (err) {
    ForkPlace place;
    if (!find_wrapped_fork(head, size, place)) return err;
    f->wrapper = place.wrapper;
    f->base_ = place.offset;
    f->read_only = true;
    fork_size = place.length;
    if (fork_size < kForkHeaderSize) return kResReadErr;
    std::vector<uint8_t> inner(kForkHeaderSize);
    if (!read_all(f->fd_, f->base_, inner.data(), inner.size())) return kResReadErr;
    if (int e = parse_header(inner, fork_size, kResourceFork, h)) return e;
  }
  if (int e = read_map(fd, f->base_, h, kResourceFork, f->map)) return e;
  out = std::move(f);
  return kResOk;
}

int ResFile::create(const std::string& path, uint32_t type, uint32_t creator) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return create_file_atomic(path, new_empty_fork(name, type, creator));
}

int ResFile::stored_length(const ForkRef& r, int64_t& len) const {
  len = -1;
  if (r.data_offset == kNoData) return kResOk;
  uint8_t b[4];
  if (uint64_t(r.data_offset) + 4 > map.header.data_length ||
      !read_all(fd_, base_ + map.header.data_offset + r.data_offset, b, 4))
    return kResReadErr;
  len = core::load_be32(b);
  return kResOk;
}

int ResFile::read_data(const ForkRef& r, std::vector<uint8_t>& out) const {
  out.clear();
  int64_t len = -1;
  if (int e = stored_length(r, len)) return e;
  if (len < 0) return kResOk;
  // The stored length is checked against the data area before anything is
  // allocated or read.
  if (uint64_t(r.data_offset) + 4 + uint64_t(len) > map.header.data_length) return kResReadErr;
  out.resize(size_t(len));
  if (!read_all(fd_, base_ + map.header.data_offset + r.data_offset + 4, out.data(), out.size())) {
    out.clear();
    return kResReadErr;
  }
  return kResOk;
}

struct ResFile::Plan {
  Commit commit;
  ForkHeader header;
  std::vector<std::pair<ForkRef*, uint32_t>> placed;  // reference and its new data offset
};

// Adds the writes of one resource's data to a plan: in place when it fits
// its old block, else at the end of the data area (where the map was).
int ResFile::place(Plan& plan, ForkRef& r, std::span<const uint8_t> data) {
  int64_t stored = -1;
  if (stored_length(r, stored) != 0) stored = -1;
  uint32_t offset = r.data_offset;
  ForkHeader& h = plan.header;
  if (stored < 0 || data.size() > uint64_t(stored)) {
    uint64_t at = uint64_t(h.map_offset) - h.data_offset;
    uint64_t length = at + 4 + data.size();
    if (at >= kNoData || length > kMaxDataArea) return kResWriteErr;
    offset = uint32_t(at);
    h.data_length = uint32_t(length);
    h.map_offset = uint32_t(h.data_offset + length);
  }
  std::vector<uint8_t> block(4 + data.size());
  core::store_be32(block.data(), uint32_t(data.size()));
  if (!data.empty()) std::copy(data.begin(), data.end(), block.begin() + 4);
  plan.commit.write(uint64_t(h.data_offset) + offset, std::move(block));
  plan.placed.push_back({&r, offset});
  return kResOk;
}

// Adds the header and the map (with the new data offsets) and commits.
int ResFile::run(Plan& plan, bool with_map) {
  if (with_map) {
    ForkMap next = map;  // the map as it will be on disk
    for (auto& [ref, offset] : plan.placed) counterpart(next, map, ref).data_offset = offset;
    if (int e = commit_map(plan.commit, next, plan.header, kResourceFork)) return e;
  }
  if (int e = plan.commit.apply()) return e;
  for (auto& [ref, offset] : plan.placed) {
    ref->data_offset = offset;
    ref->attrs &= uint8_t(~kResChanged);
  }
  map.header = plan.header;
  return kResOk;
}

int ResFile::write_resource(ForkRef& r, std::span<const uint8_t> data) {
  if (!(r.attrs & kResChanged) || !writable()) return kResOk;
  uint64_t size = uint64_t(map.header.map_offset) + map.header.map_length;
  Plan plan{Commit(fd_, id, canonical_, size), map.header, {}};
  if (int e = place(plan, r, data)) return e;
  bool moved = plan.header.map_offset != map.header.map_offset;
  if (int e = run(plan, moved)) return e;
  if (moved) map.attrs &= uint16_t(~kMapCompact);
  return kResOk;
}

int ResFile::update(const DataOf& data_of) {
  if (!writable() || !changes_pending(map)) return kResOk;
  uint64_t size = uint64_t(map.header.map_offset) + map.header.map_length;
  Plan plan{Commit(fd_, id, canonical_, size), map.header, {}};
  bool skipped = false;
  for (ForkType& t : map.types)
    for (ForkRef& r : t.refs) {
      if (!(r.attrs & kResChanged)) continue;
      std::span<const uint8_t> data;
      if (!data_of(r, data)) {
        skipped = true;
        continue;
      }
      if (int e = place(plan, r, data)) return e;
    }
  if (int e = run(plan, true)) return e;
  settle_map(map, map.header);
  return skipped ? kResReadErr : kResOk;
}

int list_fork(const ResFile& f, std::string& out) {
  return list_map(f.map, [&](const ForkRef& r, std::vector<uint8_t>& data) { return f.read_data(r, data); }, out);
}

}  // namespace storage
