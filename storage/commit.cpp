// The rollback journal, the counted writes and their test switches.
#include "storage/commit.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {

constexpr char kMagic[8] = {'T', 'V', 'R', 'J', 'N', 'L', '0', '1'};

uint64_t g_writes = 0;
uint64_t g_fault_at = 0;  // 0: no fault
FaultMode g_fault_mode = FaultMode::Fail;

bool env_set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && std::strcmp(v, "0") != 0;
}

bool no_fsync() {
  static const bool skip = env_set("TALVEN_NO_FSYNC");
  return skip;
}

// Counts one write; true when this one must fail. In exit mode the process
// ends here (after half of the bytes for a data write).
bool fault_now(int fd = -1, uint64_t offset = 0, const uint8_t* p = nullptr, size_t n = 0) {
  ++g_writes;
  if (g_fault_at == 0 || g_writes != g_fault_at) return false;
  if (g_fault_mode == FaultMode::Exit) {
    if (fd >= 0 && n > 1) (void)!pwrite(fd, p, n / 2, off_t(offset));
    _exit(75);
  }
  return true;
}

uint64_t fnv1a(const uint8_t* p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

void put64(std::vector<uint8_t>& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

bool get64(const std::vector<uint8_t>& b, size_t& at, uint64_t& v) {
  if (at > b.size() || b.size() - at < 8) return false;
  v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t(b[at + i]) << (8 * i);
  at += 8;
  return true;
}

std::string state_dir() {
  std::string dir;
  const char* x = std::getenv("XDG_STATE_HOME");
  if (x && *x == '/') {
    dir = x;
  } else {
    const char* home = std::getenv("HOME");
    dir = std::string(home && *home ? home : "/tmp") + "/.local/state";
  }
  return dir + "/talven";
}

// mkdir -p.
bool make_dirs(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i < dir.size() && dir[i] != '/') continue;
    std::string part = dir.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

void flush_dir(const std::string& dir) {
  if (no_fsync()) return;
  int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (d >= 0) {
    fsync(d);
    close(d);
  }
}

bool read_whole(const std::string& path, std::vector<uint8_t>& out) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && st.st_size >= 0 && st.st_size < (off_t(1) << 32);
  if (ok) {
    out.resize(size_t(st.st_size));
    ok = read_all(fd, 0, out.data(), out.size());
  }
  close(fd);
  return ok;
}

std::string canonical(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

struct Journal {
  FileId id;
  std::string path;
  uint64_t old_size = 0;
  struct Range {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  std::vector<Range> ranges;
};

std::vector<uint8_t> encode(const Journal& j) {
  std::vector<uint8_t> b(kMagic, kMagic + 8);
  put64(b, uint64_t(j.id.dev));
  put64(b, uint64_t(j.id.ino));
  put64(b, j.path.size());
  b.insert(b.end(), j.path.begin(), j.path.end());
  put64(b, j.old_size);
  put64(b, j.ranges.size());
  for (const auto& r : j.ranges) {
    put64(b, r.offset);
    put64(b, r.bytes.size());
    b.insert(b.end(), r.bytes.begin(), r.bytes.end());
  }
  put64(b, fnv1a(b.data(), b.size()));
  return b;
}

bool decode(const std::vector<uint8_t>& b, Journal& j) {
  if (b.size() < 16 || std::memcmp(b.data(), kMagic, 8) != 0) return false;
  size_t at = b.size() - 8;
  uint64_t sum = 0;
  if (!get64(b, at, sum) || sum != fnv1a(b.data(), b.size() - 8)) return false;
  size_t end = b.size() - 8;
  at = 8;
  uint64_t dev = 0, ino = 0, len = 0, count = 0;
  if (!get64(b, at, dev) || !get64(b, at, ino) || !get64(b, at, len) || len > end - at) return false;
  j.id = {dev_t(dev), ino_t(ino)};
  j.path.assign(reinterpret_cast<const char*>(&b[at]), size_t(len));
  at += size_t(len);
  if (!get64(b, at, j.old_size) || !get64(b, at, count)) return false;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t off = 0, n = 0;
    if (!get64(b, at, off) || !get64(b, at, n) || n > end - at) return false;
    j.ranges.push_back({off, std::vector<uint8_t>(b.begin() + long(at), b.begin() + long(at + n))});
    at += size_t(n);
  }
  return at == end;
}

// Puts the old bytes back and the old size; true when all of it is durable.
bool roll_back(int fd, const Journal& j) {
  for (const auto& r : j.ranges)
    if (!write_all(fd, r.offset, r.bytes.data(), r.bytes.size())) return false;
  return truncate_file(fd, j.old_size) && flush_file(fd);
}

}  // namespace

void set_write_fault(uint64_t nth, FaultMode mode) {
  g_writes = 0;
  g_fault_at = nth;
  g_fault_mode = mode;
}

void clear_write_fault() { g_fault_at = 0; }
uint64_t writes_done() { return g_writes; }

bool write_all(int fd, uint64_t offset, const uint8_t* p, size_t n) {
  if (fault_now(fd, offset, p, n)) return false;
  while (n > 0) {
    ssize_t k = pwrite(fd, p, n, off_t(offset));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= size_t(k);
    offset += uint64_t(k);
  }
  return true;
}

bool read_all(int fd, uint64_t offset, uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t k = pread(fd, p, n, off_t(offset));
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= size_t(k);
    offset += uint64_t(k);
  }
  return true;
}

bool truncate_file(int fd, uint64_t size) {
  if (fault_now()) return false;
  return ftruncate(fd, off_t(size)) == 0;
}

bool flush_file(int fd) { return no_fsync() || fdatasync(fd) == 0; }

std::string journal_path(FileId id) {
  char name[64];
  std::snprintf(name, sizeof name, "/rollback-%llx-%llx.journal", (unsigned long long)id.dev,
                (unsigned long long)id.ino);
  return state_dir() + name;
}

void Commit::write(uint64_t offset, std::vector<uint8_t> bytes) {
  if (!bytes.empty()) writes_.push_back({offset, std::move(bytes)});
}

int Commit::apply() {
  Journal j;
  j.id = id_;
  j.path = path_;
  j.old_size = old_size_;
  uint64_t end = old_size_;
  for (const Piece& w : writes_) {
    end = std::max<uint64_t>(end, w.offset + w.bytes.size());
    if (w.offset >= old_size_) continue;
    size_t n = size_t(std::min<uint64_t>(w.bytes.size(), old_size_ - w.offset));
    Journal::Range r{w.offset, std::vector<uint8_t>(n)};
    if (!read_all(fd_, w.offset, r.bytes.data(), n)) return -34;
    j.ranges.push_back(std::move(r));
  }
  if (new_size_ < old_size_) {
    // The cut tail is saved too.
    Journal::Range r{new_size_, std::vector<uint8_t>(size_t(old_size_ - new_size_))};
    if (!read_all(fd_, new_size_, r.bytes.data(), r.bytes.size())) return -34;
    j.ranges.push_back(std::move(r));
  }

  // The journal is durable under its final name before the file changes.
  std::string dir = state_dir(), path = journal_path(id_), tmp = path + ".new";
  if (!make_dirs(dir)) return -34;
  std::vector<uint8_t> bytes = encode(j);
  int jf = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (jf < 0) return -34;
  bool ok = write_all(jf, 0, bytes.data(), bytes.size()) && flush_file(jf);
  close(jf);
  if (!ok || fault_now() || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return -34;
  }
  flush_dir(dir);

  ok = true;
  for (const Piece& w : writes_)
    if (ok) ok = write_all(fd_, w.offset, w.bytes.data(), w.bytes.size());
  if (ok && end != new_size_) ok = truncate_file(fd_, new_size_);
  if (ok) ok = flush_file(fd_);
  if (ok && !fault_now()) {
    unlink(path.c_str());
    flush_dir(dir);
    return 0;
  }
  // Undo now; if even that fails, the journal undoes it at the next open.
  if (roll_back(fd_, j)) unlink(path.c_str());
  return -34;
}

int recover_file(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  FileId id{st.st_dev, st.st_ino};
  std::string jpath = journal_path(id), unnamed = jpath + ".new";
  bool journal = access(jpath.c_str(), F_OK) == 0;
  if (!journal && access(unnamed.c_str(), F_OK) != 0) return 0;
  // A journal belongs to whoever holds the file's exclusive lock: a writer
  // of another process may be in the middle of a commit, its journal still
  // being written. Only a file no one writes is rolled back, under the
  // lock, and a torn journal dropped.
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return 0;
  }
  // A journal still being written when its writer died never got its name,
  // and the file was not touched after it: it goes.
  if (fd >= 0) unlink(unnamed.c_str());
  if (!journal) {
    if (fd >= 0) close(fd);
    return 0;
  }
  std::vector<uint8_t> bytes;
  Journal j;
  bool valid = read_whole(jpath, bytes) && decode(bytes, j) && j.id == id;
  if (fd < 0) return valid && j.path == canonical(path) ? -37 : 0;
  bool ok = true;
  if (!valid || j.path != canonical(path)) {
    // A torn journal was never followed by a write to its file; one for
    // another file that once had this inode is stale.
    if (!valid) unlink(jpath.c_str());
  } else if ((ok = roll_back(fd, j))) {
    unlink(jpath.c_str());
  }
  close(fd);
  return ok ? 0 : -37;
}

int committed_view(const std::string& path, bool& pending, std::string& why) {
  pending = false;
  int src = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st;
  if (src < 0) {
    why = std::strerror(errno);
    return -1;
  }
  if (fstat(src, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= (off_t(1) << 32)) {
    why = "not a regular file";
    close(src);
    return -1;
  }
  std::vector<uint8_t> bytes(size_t(st.st_size));
  bool ok = read_all(src, 0, bytes.data(), bytes.size());
  close(src);
  if (!ok) {
    why = "cannot be read whole";
    return -1;
  }
  // A valid journal of this file holds the state a reopen would roll back
  // to: the committed one. Applied here, in memory only.
  FileId id{st.st_dev, st.st_ino};
  std::vector<uint8_t> jbytes;
  Journal j;
  auto fits = [&] {
    uint64_t limit = uint64_t(1) << 32;
    for (const auto& r : j.ranges)
      if (r.offset > limit || r.bytes.size() > limit - r.offset) return false;
    return j.old_size < limit;
  };
  if (read_whole(journal_path(id), jbytes) && decode(jbytes, j) && j.id == id && j.path == canonical(path) && fits()) {
    for (const auto& r : j.ranges) {
      if (r.offset + r.bytes.size() > bytes.size()) bytes.resize(size_t(r.offset + r.bytes.size()));
      std::copy(r.bytes.begin(), r.bytes.end(), bytes.begin() + std::ptrdiff_t(r.offset));
    }
    bytes.resize(size_t(j.old_size));
    pending = true;
  }
  int view = memfd_create("talven-view", MFD_CLOEXEC);
  if (view < 0) {
    why = std::strerror(errno);
    return -1;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(view, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      why = "no memory for a view of it";
      close(view);
      return -1;
    }
    done += size_t(n);
  }
  return view;
}

int create_file_atomic(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (access(path.c_str(), F_OK) == 0) return -48;
  std::string tmp = path + ".talven-new";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EPERM || errno == EACCES ? -44 : -37;
  bool ok = write_all(fd, 0, bytes.data(), bytes.size()) && flush_file(fd);
  close(fd);
  if (!ok) {
    unlink(tmp.c_str());
    return -36;
  }
  // link() refuses an existing name, so a file made meanwhile is not replaced.
  int rc = link(tmp.c_str(), path.c_str());
  int err = errno;
  unlink(tmp.c_str());
  if (rc != 0) return err == EEXIST ? -48 : err == EPERM || err == EACCES ? -44 : -37;
  size_t slash = path.rfind('/');
  flush_dir(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
  return 0;
}

}  // namespace storage
