// The open-file record, the reference-number table, byte and block I/O and
// the error mapping.
#include "storage/files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/errors.hpp"
#include "core/memory.hpp"
#include "storage/file_state.hpp"
#include "storage/paths.hpp"

namespace storage {
using namespace core;

// ---- The open-file record ---------------------------------------------------

OpenFile::OpenFile(OpenFile&& o) noexcept
    : fd(o.fd), writable(o.writable), lock(o.lock), device(o.device), inode(o.inode),
      path(std::move(o.path)), name(std::move(o.name)) {
  o.fd = -1;
  o.lock = FileLock::None;
}

OpenFile& OpenFile::operator=(OpenFile&& o) noexcept {
  if (this != &o) {
    close_file(*this);
    fd = o.fd;
    writable = o.writable;
    lock = o.lock;
    device = o.device;
    inode = o.inode;
    path = std::move(o.path);
    name = std::move(o.name);
    o.fd = -1;
    o.lock = FileLock::None;
  }
  return *this;
}

OpenFile::~OpenFile() { close_file(*this); }

bool close_file(OpenFile& f) {
  if (f.fd < 0) return true;
  // Closing the descriptor drops the lock with it.
  int r = ::close(f.fd);
  f.fd = -1;
  f.lock = FileLock::None;
  return r == 0 || errno == EINTR;
}

OpenFile open_posix(const std::string& path, OpenMode mode, FileLock lock, int& err) {
  OpenFile f;
  err = 0;
  if (path.empty()) {
    err = ENOENT;
    return f;
  }
  // Never blocks: O_NONBLOCK keeps a FIFO from waiting for a writer; the
  // file is refused below anyway unless it is a regular file. Truncation
  // waits until the lock is held.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (mode) {
    case OpenMode::Read: flags |= O_RDONLY; break;
    case OpenMode::ReadWrite: flags |= O_RDWR; break;
    case OpenMode::Create: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
  }
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    err = errno;
    return f;
  }
  f.fd = fd;
  f.writable = mode != OpenMode::Read;
  f.path = path;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    err = errno;
    close_file(f);
    return f;
  }
  if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    close_file(f);
    return f;
  }
  f.device = st.st_dev;
  f.inode = st.st_ino;
  int cleared = fcntl(fd, F_GETFL);
  if (cleared >= 0) fcntl(fd, F_SETFL, cleared & ~O_NONBLOCK);
  if (lock != FileLock::None) {
    int op = (lock == FileLock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int r;
    do r = flock(fd, op);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
      err = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
      close_file(f);
      return f;
    }
    f.lock = lock;
  }
  if (mode == OpenMode::Create && ftruncate(fd, 0) != 0) {
    err = errno;
    close_file(f);
  }
  return f;
}

OpenFile open_pathname(Value pathname, OpenMode mode, FileLock lock) {
  std::string text = pathname_text(pathname);
  int err = 0;
  OpenFile f = open_posix(posix_path(text), mode, lock, err);
  if (!f.is_open()) raise_errno(err, pathname);
  f.name = std::move(text);
  return f;
}

// ---- Byte and block I/O -------------------------------------------------------

int64_t read_bytes(const OpenFile& f, void* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(f.fd, static_cast<char*>(out) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return done > 0 ? int64_t(done) : -1;
    if (r == 0) break;
    done += size_t(r);
  }
  return int64_t(done);
}

bool write_bytes(const OpenFile& f, const void* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::write(f.fd, static_cast<const char*>(data) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (r == 0) errno = ENOSPC;
      return false;
    }
    done += size_t(r);
  }
  return true;
}

int64_t read_at(const OpenFile& f, uint64_t offset, void* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(f.fd, static_cast<char*>(out) + done, n - done, off_t(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return done > 0 ? int64_t(done) : -1;
    if (r == 0) break;
    done += size_t(r);
  }
  return int64_t(done);
}

bool write_at(const OpenFile& f, uint64_t offset, const void* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(f.fd, static_cast<const char*>(data) + done, n - done, off_t(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (r == 0) errno = ENOSPC;
      return false;
    }
    done += size_t(r);
  }
  return true;
}

int64_t file_position(const OpenFile& f) { return lseek(f.fd, 0, SEEK_CUR); }

bool set_position(const OpenFile& f, int64_t pos) {
  if (pos < 0) {
    errno = EINVAL;
    return false;
  }
  return lseek(f.fd, off_t(pos), SEEK_SET) == off_t(pos);
}

int64_t file_size(const OpenFile& f) {
  struct stat st;
  if (fstat(f.fd, &st) != 0) return -1;
  return st.st_size;
}

bool set_file_size(const OpenFile& f, int64_t size) {
  if (size < 0) {
    errno = EINVAL;
    return false;
  }
  int r;
  do r = ftruncate(f.fd, off_t(size));
  while (r != 0 && errno == EINTR);
  return r == 0;
}

// ---- Reference numbers ------------------------------------------------------

namespace {

constexpr uint32_t kGenerationMask = 0xFFFFFF;  // what a file box can carry

RefSlot* slot_of(int refnum) {
  FileState& st = files_state();
  if (refnum < 1 || size_t(refnum) > st.slots.size()) return nullptr;
  RefSlot& s = st.slots[size_t(refnum - 1)];
  return s.use == FileUse::Free ? nullptr : &s;
}

}  // namespace

int take_refnum(OpenFile& file, FileUse use) {
  FileState& st = files_state();
  if (st.slots.empty()) st.slots.resize(kRefnumSlots);
  for (int n = 0; n < kRefnumSlots; ++n) {
    int i = (st.cursor + n) % kRefnumSlots;
    RefSlot& s = st.slots[size_t(i)];
    if (s.use != FileUse::Free) continue;
    s.file = std::move(file);
    s.use = use == FileUse::Free ? FileUse::Plain : use;
    st.cursor = (i + 1) % kRefnumSlots;
    return i + 1;
  }
  return -1;
}

bool release_refnum(int refnum) {
  RefSlot* s = slot_of(refnum);
  if (s == nullptr) return true;
  bool ok = close_file(s->file);
  s->file = OpenFile();
  s->use = FileUse::Free;
  s->generation = (s->generation + 1) & kGenerationMask;
  if (s->generation == 0) s->generation = 1;
  return ok;
}

OpenFile* refnum_file(int refnum) {
  RefSlot* s = slot_of(refnum);
  return s ? &s->file : nullptr;
}

FileUse refnum_use(int refnum) {
  RefSlot* s = slot_of(refnum);
  return s ? s->use : FileUse::Free;
}

uint32_t refnum_generation(int refnum) {
  if (refnum < 1 || refnum > kRefnumSlots) return 0;
  const FileState& st = files_state();
  // A slot not made yet is a fresh one, of the first generation.
  return size_t(refnum) <= st.slots.size() ? st.slots[size_t(refnum - 1)].generation : 1;
}

int find_open_file(dev_t device, ino_t inode, FileUse use) {
  FileState& st = files_state();
  for (size_t i = 0; i < st.slots.size(); ++i) {
    const RefSlot& s = st.slots[i];
    if (s.use == FileUse::Free || (use != FileUse::Free && s.use != use)) continue;
    if (s.file.device == device && s.file.inode == inode) return int(i) + 1;
  }
  return 0;
}

void release_all_refnums() {
  for (int r = 1; r <= kRefnumSlots; ++r) release_refnum(r);
}

Value box_file(int refnum) {
  uint32_t generation = refnum_generation(refnum);
  return box_address((generation << 8) | uint32_t(refnum - 1), kFileBoxKind);
}

int file_box_refnum(Value box) {
  if (box.is(Tag::Pointer) && box_kind(box) == kFileBoxKind) {
    uint32_t word = box_addr(box);
    int refnum = int(word & 0xFF) + 1;
    if (slot_of(refnum) != nullptr && refnum_generation(refnum) == word >> 8) return refnum;
  }
  error(Err::WrongType, box);
}

// ---- Errors -------------------------------------------------------------------

void raise_errno(int err, Value pathname) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: error(Err::FileNotFound, pathname);
    case EEXIST: error(Err::FileExists, pathname);
    case EMFILE:
    case ENFILE: error(Err::TooManyFiles, kNil);
    case ENOSPC:
    case EFBIG:
    case EDQUOT: error(Err::DiskFull, pathname);
    case EWOULDBLOCK: error(Err::FileBusy, pathname);
    case EROFS: error(Err::VolumeLocked, pathname);
    case 0: error(Err::FileSystem, make_fixnum(-1));
    default: error(Err::FileSystem, make_integer(err));
  }
}

// ---- State --------------------------------------------------------------------

FileState::FileState() = default;
FileState::~FileState() {
  for (RefSlot& s : slots) close_file(s.file);
  if (instance_lock >= 0) ::close(instance_lock);
}

namespace {

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<FileState>(); }

void install(Runtime&) { register_file_natives(); }

void shutdown(Runtime&) {
  release_all_refnums();
  FileState& s = files_state();
  if (s.instance_lock >= 0) ::close(s.instance_lock);
  s.instance_lock = -1;
}

}  // namespace

const Module kFilesModule{"files", make_state, install, nullptr, shutdown};

FileState& files_state() { return state_of<FileState>(kFilesModule); }

}  // namespace storage
