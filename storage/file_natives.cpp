// The file primitives: opening, reading and writing files, metadata, type
// and creator codes, directories, temporary files, the pathname functions.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/args.hpp"
#include "core/bytes.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/charsets.hpp"
#include "data/handles.hpp"
#include "data/lists.hpp"
#include "data/strings.hpp"
#include "storage/dates.hpp"
#include "storage/file_natives.hpp"
#include "storage/file_state.hpp"
#include "storage/paths.hpp"
#include "storage/settings.hpp"

namespace storage {
using namespace core;

// ---- Helpers shared with the other file modules ------------------------------

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

bool stat_pathname(Value pathname, struct stat& st) { return stat(posix_of(pathname).c_str(), &st) == 0; }

bool open_by_runtime(const struct stat& st) { return find_open_file(st.st_dev, st.st_ino) != 0; }

FileKind peek_kind(const OpenFile& f, std::string* type, std::string* creator) {
  uint8_t h[256];
  int64_t size = file_size(f);
  if (size < 256 || read_at(f, 0, h, sizeof h) != 256) return FileKind::Plain;
  ByteReader r(h, sizeof h);
  int64_t data_off = r.be32s(), map_off = r.be32s(), data_len = r.be32s(), map_len = r.be32s();
  bool offsets = r.ok() && data_off == 256 && map_off >= 256 && data_len >= 0 && map_len >= 0 &&
                 data_off + data_len <= map_off && map_off + map_len == size;
  if (!offsets) return FileKind::Plain;
  FileKind kind = h[128] == 0 ? FileKind::Resource : h[128] == 2 ? FileKind::Database : FileKind::Plain;
  int type_at = kind == FileKind::Resource ? 82 : 20, creator_at = kind == FileKind::Resource ? 86 : 16;
  if (kind != FileKind::Plain) {
    if (type) type->assign(reinterpret_cast<const char*>(h + type_at), 4);
    if (creator) creator->assign(reinterpret_cast<const char*>(h + creator_at), 4);
  }
  return kind;
}

std::string type_from_extension(std::string_view name) {
  size_t slash = name.find_last_of("\\/:");
  std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot == std::string_view::npos) return "TEXT";
  std::string ext;
  for (char c : base.substr(dot + 1, 3)) ext += char(std::tolower(uint8_t(c)));
  if (ext.compare(0, 2, "pi") == 0) return "PICT";
  if (ext.compare(0, 2, "mv") == 0 || ext.compare(0, 3, "mov") == 0) return "MooV";
  return "TEXT";
}

namespace {

constexpr uint32_t kClockBias = uint32_t(kClockOffset);
// Seconds from 1601 to 1970, for the Windows file times of the information
// block.
constexpr int64_t kFileTimeEpoch = 11644473600LL;

Value integer(int64_t n) { return make_integer(int32_t(n)); }

// Clock seconds of a POSIX time, as the unsigned bit pattern in an integer.
Value clock_value(const struct timespec& t) { return make_integer(int32_t(uint32_t(int64_t(t.tv_sec) + kClockBias))); }
int64_t clock_to_unix(Value stamp) { return int64_t(uint32_t(read_integer(stamp))) - kClockBias; }

// The creation time: the birth time when the file system keeps one, else
// the modification time.
struct timespec birth_time(const std::string& path, const struct stat& st) {
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    return {sx.stx_btime.tv_sec, long(sx.stx_btime.tv_nsec)};
  return st.st_mtim;
}

uint64_t file_time(const struct timespec& t) {
  return uint64_t(int64_t(t.tv_sec) + kFileTimeEpoch) * 10000000u + uint64_t(t.tv_nsec / 100);
}
struct timespec from_file_time(uint64_t ft) {
  int64_t secs = int64_t(ft / 10000000u) - kFileTimeEpoch;
  return {time_t(secs), long((ft % 10000000u) * 100)};
}

OpenFile& file_arg(Value v) { return file_box(v); }

// Runs the errno mapping for a failed call on a file box.
[[noreturn]] void file_failure(Value culprit) { raise_errno(errno, culprit); }

// ---- Opening and closing --------------------------------------------------------

Value prim_flushvol(Value, Value) { return make_fixnum(0); }

Value prim_file_open(Value pathname, Value mode) {
  int m = mode.is_nil() ? 0 : arg_int(mode);
  std::string text = pathname_text(pathname);
  std::string path = posix_path(text);
  int err = 0;
  OpenFile f = open_posix(path, m == 0 ? OpenMode::Read : OpenMode::ReadWrite, FileLock::Shared, err);
  if (!f.is_open() && m == 1 && err != ENOENT) f = open_posix(path, OpenMode::Read, FileLock::Shared, err);
  if (!f.is_open()) raise_errno(err, pathname);
  f.name = text;
  int refnum = take_refnum(f, FileUse::Plain);
  if (refnum < 0) error(Err::TooManyFiles, kNil);
  return box_file(refnum);
}

Value prim_file_exists_p(Value pathname) {
  struct stat st;
  return boolean(stat_pathname(pathname, st) && !S_ISDIR(st.st_mode));
}

Value prim_file_close(Value box) {
  int refnum = file_box_refnum(box);
  if (!release_refnum(refnum)) file_failure(box);
  return kNoValue;
}

// ---- Positions and blocks -------------------------------------------------------

Value prim_file_get_pos(Value box) {
  int64_t pos = file_position(file_arg(box));
  if (pos < 0) file_failure(box);
  return integer(pos);
}

Value prim_file_set_pos(Value box, Value pos) {
  OpenFile& f = file_arg(box);
  int32_t p = arg_int(pos);
  errno = 0;
  if (!set_position(f, p)) raise_errno(errno, box);
  return integer(p);
}

Value prim_file_read_block(Value box, Value pointer, Value count) {
  OpenFile& f = file_arg(box);
  int32_t n = arg_int(count);
  if (n < 0) error(Err::WrongType, count);
  if (n == 0) return make_fixnum(0);
  uint8_t* p = data::writable_pointer_bytes(pointer, uint32_t(n));
  int64_t got = read_bytes(f, p, size_t(n));
  if (got < 0) file_failure(box);
  return integer(got);
}

Value prim_file_write_block(Value box, Value pointer, Value count) {
  OpenFile& f = file_arg(box);
  int32_t n = arg_int(count);
  if (n < 0) error(Err::WrongType, count);
  if (n == 0) return make_fixnum(0);
  const uint8_t* p = data::pointer_bytes(pointer, uint32_t(n));
  if (!f.writable || !write_bytes(f, p, size_t(n))) error(Err::DiskFull, kNil);
  return integer(n);
}

Value prim_file_eof_p(Value box) {
  OpenFile& f = file_arg(box);
  int64_t pos = file_position(f), size = file_size(f);
  if (pos < 0 || size < 0) file_failure(box);
  return boolean(pos >= size);
}

// The character functions of a file stream: the state is the file box.
Value prim_file_read_ch(Value box) {
  uint8_t c;
  int64_t got = read_bytes(file_arg(box), &c, 1);
  return make_fixnum(got == 1 ? c : 65535);
}

Value prim_file_write_ch(Value ch, Value box) {
  OpenFile& f = file_arg(box);
  uint8_t c = uint8_t(arg_int(ch));
  errno = 0;
  if (!f.writable) raise_errno(EBADF, kNil);
  if (!write_bytes(f, &c, 1)) raise_errno(errno, kNil);
  return ch;
}

// A file box, or a pathname opened for the extent of one call.
struct FileOrPath {
  OpenFile own;
  OpenFile* file;
  FileOrPath(Value v, OpenMode mode) {
    if (v.is(Tag::Pointer)) {
      file = &file_arg(v);
    } else {
      own = open_pathname(v, mode);
      file = &own;
    }
  }
};

Value prim_file_length(Value v) {
  FileOrPath f(v, OpenMode::Read);
  int64_t size = file_size(*f.file);
  if (size < 0) file_failure(v);
  return integer(size);
}

Value prim_file_set_length(Value v, Value length) {
  int32_t n = arg_int(length);
  FileOrPath f(v, OpenMode::ReadWrite);
  return boolean(f.file->writable && set_file_size(*f.file, n));
}

Value prim_file_read_only_p(Value box) { return boolean(!file_arg(box).writable); }

Value prim_flush_stream(Value) { return kNoValue; }

// ---- Times ------------------------------------------------------------------------

Value prim_file_creation_time(Value pathname) {
  std::string path = posix_of(pathname);
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return kNil;
  return clock_value(birth_time(path, st));
}

Value prim_file_modification_time(Value pathname) {
  struct stat st;
  if (!stat_pathname(pathname, st) || S_ISDIR(st.st_mode)) return kNil;
  return clock_value(st.st_mtim);
}

// Sets the access and modification times (UTIME_OMIT leaves one alone).
bool set_times(const std::string& path, struct timespec access, struct timespec modification) {
  struct timespec t[2] = {access, modification};
  return utimensat(AT_FDCWD, path.c_str(), t, 0) == 0;
}

Value prim_file_set_creation_time(Value pathname, Value stamp) {
  // A creation time cannot be set on this system: the store does not
  // happen, and the answer says so.
  int64_t secs = clock_to_unix(stamp);
  std::string path = posix_of(pathname);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return kNil;
  return boolean(birth_time(path, st).tv_sec == secs);
}

Value prim_file_set_modification_time(Value pathname, Value stamp) {
  int64_t secs = clock_to_unix(stamp);
  return boolean(set_times(posix_of(pathname), {0, UTIME_OMIT}, {time_t(secs), 0}));
}

// ---- Directories, removal, renaming -------------------------------------------------

Value prim_create_dir(Value pathname) { return boolean(mkdir(posix_of(pathname).c_str(), 0777) == 0); }

Value prim_remove_empty_dir(Value pathname) { return boolean(rmdir(posix_of(pathname).c_str()) == 0); }

Value prim_file_remove(Value pathname, Value quiet) {
  std::string path = posix_of(pathname);
  struct stat st;
  int err = 0;
  if (lstat(path.c_str(), &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else if (open_by_runtime(st)) {
    err = EWOULDBLOCK;  // the runtime has it open: busy
  } else if (unlink(path.c_str()) != 0) {
    err = errno;
  }
  if (err == 0) return rt().sym.t;
  if (quiet.is_nil()) raise_errno(err, pathname);
  return kNil;
}

// The part of a path text after its last backslash, or after its last colon.
size_t name_start(std::string_view text) {
  size_t b = text.find_last_of("\\/");
  if (b != std::string_view::npos) return b + 1;
  size_t c = text.rfind(':');
  return c == std::string_view::npos ? 0 : c + 1;
}

Value prim_file_rename(Value pathname, Value new_name) {
  std::string old_text = pathname_text(pathname);
  std::string name = pathname_text(new_name);
  std::string new_text = old_text.substr(0, name_start(old_text)) + name;
  if (new_text.size() > kMaxPathText) return kNil;
  std::string from = posix_path(old_text);
  struct stat src, dst;
  if (lstat(from.c_str(), &src) != 0 || open_by_runtime(src)) return kNil;
  // The target: its folder resolved, its name as written. A file that the
  // name already means, even in another case, is never replaced.
  size_t cut = name_start(new_text);
  std::string folder = cut == 0 ? std::string() : posix_path(new_text.substr(0, cut));
  std::string leaf = name_to_utf8(new_text.substr(cut));
  if (leaf.empty() || leaf.find('/') != std::string::npos) return kNil;
  std::string to = folder.empty() ? leaf : (folder.back() == '/' ? folder + leaf : folder + "/" + leaf);
  std::string meant = posix_path(new_text);
  if (lstat(meant.c_str(), &dst) == 0) {
    if (dst.st_dev != src.st_dev || dst.st_ino != src.st_ino) return kNil;
    // Only the case changes: the same file.
    return boolean(rename(from.c_str(), to.c_str()) == 0);
  }
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return rt().sym.t;
  if (errno != EINVAL && errno != ENOSYS) return kNil;
  // A file system without the no-replace rename: a hard link fails when
  // the target exists.
  if (link(from.c_str(), to.c_str()) != 0) return kNil;
  unlink(from.c_str());
  return rt().sym.t;
}

// ---- Type and creator ---------------------------------------------------------------

// The type (offset 0) or creator (offset 4) of a file, by peeking at it.
Value read_code(Value pathname, bool creator) {
  std::string text = pathname_text(pathname);
  std::string path = posix_path(text);
  int err = 0;
  OpenFile f = open_posix(path, OpenMode::Read, FileLock::None, err);
  std::string type = type_from_extension(text), maker = "????";
  if (f.is_open()) peek_kind(f, &type, &maker);
  return data::new_string(creator ? maker : type);
}

Value prim_file_get_type(Value pathname) { return read_code(pathname, false); }
Value prim_file_get_creator(Value pathname) { return read_code(pathname, true); }

// Four bytes of a code argument: a string's first four characters, padded
// with spaces.
std::string code_arg(Value v) {
  std::string s = data::text_of(v);
  s.resize(4, ' ');
  return s;
}

// Stores a type or creator in a resource file or database; nil for any
// other file, where nothing can be stored.
bool write_code(Value pathname, std::string_view code, bool creator) {
  std::string path = posix_of(pathname);
  int err = 0;
  OpenFile f = open_posix(path, OpenMode::ReadWrite, FileLock::Shared, err);
  if (!f.is_open()) return false;
  FileKind kind = peek_kind(f, nullptr, nullptr);
  if (kind == FileKind::Plain) return false;
  int at = kind == FileKind::Resource ? (creator ? 86 : 82) : (creator ? 16 : 20);
  return write_at(f, uint64_t(at), code.data(), 4);
}

Value prim_file_set_type(Value pathname, Value code) { return boolean(write_code(pathname, code_arg(code), false)); }
Value prim_file_set_creator(Value pathname, Value code) {
  return boolean(write_code(pathname, code_arg(code), true));
}

// ---- Visibility -------------------------------------------------------------------
// A file is hidden when its name starts with a dot or when it carries the
// attribute user.talven.hidden.

constexpr const char* kHiddenAttribute = "user.talven.hidden";

bool dot_name(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string_view leaf = slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
  return !leaf.empty() && leaf[0] == '.' && leaf != "." && leaf != "..";
}

Value prim_file_get_visible_p(Value pathname) {
  std::string path = posix_of(pathname);
  if (dot_name(path)) return kNil;
  char flag;
  return boolean(getxattr(path.c_str(), kHiddenAttribute, &flag, 1) < 0);
}

bool set_hidden(const std::string& path, bool hidden) {
  if (hidden) return setxattr(path.c_str(), kHiddenAttribute, "1", 1, 0) == 0;
  return removexattr(path.c_str(), kHiddenAttribute) == 0 || errno == ENODATA;
}

Value prim_file_set_visible_p(Value pathname, Value flag) {
  std::string path = posix_of(pathname);
  // A dot name stays hidden whatever the attribute says.
  if (flag.truthy() && dot_name(path)) return kNil;
  return boolean(set_hidden(path, flag.is_nil()));
}

// ---- Copying --------------------------------------------------------------------------

// Removes a temporary file unless it was kept.
struct TempGuard {
  std::string path;
  ~TempGuard() {
    if (!path.empty()) unlink(path.c_str());
  }
};

Value prim_copy_file(Value source, Value destination, Value progress) {
  OpenFile in = open_pathname(source, OpenMode::Read);
  std::string dest_text = pathname_text(destination);
  std::string dest = posix_path(dest_text);
  struct stat src_st, dst_st;
  if (fstat(in.fd, &src_st) != 0) raise_errno(errno, source);
  bool dest_exists = stat(dest.c_str(), &dst_st) == 0;
  if (dest_exists && dst_st.st_dev == src_st.st_dev && dst_st.st_ino == src_st.st_ino)
    return rt().sym.t;  // copying a file onto itself: nothing to do
  if (dest_exists && open_by_runtime(dst_st)) raise_errno(EWOULDBLOCK, destination);
  // The copy goes to a new file in the destination's folder, renamed over
  // the destination once complete.
  size_t slash = dest.rfind('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : dest.substr(0, slash));
  std::string temp = folder + "/.talven-copy-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back(0);
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) raise_errno(errno, destination);
  TempGuard guard{name.data()};
  OpenFile out;
  out.fd = fd;
  out.writable = true;
  size_t size = 512u << 10;
  std::unique_ptr<uint8_t[]> buffer;
  while (size > 0 && !(buffer.reset(new (std::nothrow) uint8_t[size]), buffer)) size /= 2;
  if (!buffer) error(Err::NativeMemory, kNil);
  for (;;) {
    int64_t n = read_bytes(in, buffer.get(), size);
    if (n < 0) raise_errno(errno, source);
    if (n == 0) break;
    if (!write_bytes(out, buffer.get(), size_t(n))) raise_errno(errno, destination);
    if (!progress.is_nil()) call_by_name(progress, {integer(n)});
  }
  fchmod(fd, src_st.st_mode & 0777);
  struct timespec times[2] = {src_st.st_atim, src_st.st_mtim};
  futimens(fd, times);
  if (fsync(fd) != 0) raise_errno(errno, destination);
  if (!close_file(out)) raise_errno(errno, destination);
  if (rename(name.data(), dest.c_str()) != 0) raise_errno(errno, destination);
  guard.path.clear();
  return rt().sym.t;
}

Value prim_volume_space(Value volume) {
  std::string text = pathname_text(volume);
  struct statvfs vs;
  if (statvfs(posix_path(text + "\\").c_str(), &vs) != 0) error(Err::WrongType, volume);
  uint64_t kb = uint64_t(vs.f_bavail) * uint64_t(vs.f_frsize) / 1024;
  return make_integer(int32_t(std::min<uint64_t>(kb, 0x7FFFFFFF)));
}

Value prim_erasable_p(Value pathname) {
  int err = 0;
  OpenFile f = open_posix(posix_of(pathname), OpenMode::ReadWrite, FileLock::Exclusive, err);
  return boolean(f.is_open());
}

Value prim_find_preference_folder() { return path_text_list(text_of_posix(config_dir(true))); }

// ---- File information -------------------------------------------------------------

constexpr uint32_t kInfoSize = 40;

Value prim_get_finder_info(Value pathname, Value pointer) {
  std::string type = data::text_of(prim_file_get_type(pathname));
  std::string creator = data::text_of(prim_file_get_creator(pathname));
  uint8_t* p = data::writable_pointer_bytes(pointer, 8);
  std::memcpy(p, type.data(), 4);
  std::memcpy(p + 4, creator.data(), 4);
  return pointer;
}

Value prim_set_finder_info(Value pathname, Value pointer) {
  const uint8_t* p = data::pointer_bytes(pointer, 8);
  std::string type(reinterpret_cast<const char*>(p), 4), creator(reinterpret_cast<const char*>(p + 4), 4);
  bool a = write_code(pathname, type, false);
  bool b = write_code(pathname, creator, true);
  return boolean(a && b);
}

Value prim_get_file_info(Value pathname) {
  std::string path = posix_of(pathname);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) raise_errno(errno, pathname);
  std::string type = data::text_of(prim_file_get_type(pathname));
  std::string creator = data::text_of(prim_file_get_creator(pathname));
  Addr block = data::new_pointer(kInfoSize);
  uint8_t* p = data::checked_bytes(kNil, block, kInfoSize);
  std::memset(p, 0, kInfoSize);
  std::memcpy(p, type.data(), 4);
  std::memcpy(p + 4, creator.data(), 4);
  uint64_t times[3] = {file_time(birth_time(path, st)), file_time(st.st_atim), file_time(st.st_mtim)};
  std::memcpy(p + 16, times, sizeof times);
  return data::box_pointer(block);
}

Value prim_set_file_info(Value pathname, Value block) {
  const uint8_t* p = data::pointer_bytes(block, kInfoSize);
  std::string type(reinterpret_cast<const char*>(p), 4), creator(reinterpret_cast<const char*>(p + 4), 4);
  uint64_t times[3];
  std::memcpy(times, p + 16, sizeof times);
  std::string path = posix_of(pathname);
  bool a = write_code(pathname, type, false);
  bool b = write_code(pathname, creator, true);
  bool c = set_times(path, from_file_time(times[1]), from_file_time(times[2]));
  (void)a, (void)b;  // stored where the file keeps codes; nothing else can
  return boolean(c);
}

Value prim_dispose_file_info(Value block) {
  Addr p = data::pointer_arg(block);
  if (p != 0) data::dispose_pointer(p);
  node_of(block).cdr = 0;
  return kNoValue;
}

Value prim_copy_file_info(Value source, Value destination) {
  std::string from = posix_of(source), to = posix_of(destination);
  struct stat st;
  if (stat(from.c_str(), &st) != 0) raise_errno(errno, destination);
  std::string type = data::text_of(prim_file_get_type(source));
  std::string creator = data::text_of(prim_file_get_creator(source));
  write_code(destination, type, false);
  write_code(destination, creator, true);
  return boolean(set_times(to, st.st_atim, st.st_mtim));
}

// ---- Pathname functions -------------------------------------------------------------

Value prim_talven_to_os(Value pathname) { return data::new_string(pathname_text(pathname)); }

Value prim_os_to_talven(Value text) { return path_text_list(data::text_of(text)); }

Value string_list(const std::vector<std::string>& parts, size_t from, size_t to) {
  Value list = kNil;
  StackMark mark;
  for (size_t i = to; i-- > from;) {
    push(list);
    Value s = data::new_string(parts[i]);
    list = cons(s, list);
  }
  return list;
}

Value prim_make_pathname(Value pathname) {
  std::string text = pathname_text(pathname);
  std::string drive;
  size_t i = 0;
  if (text.size() >= 2 && text[1] == ':') drive = text.substr(0, 2), i = 2;
  size_t cut = std::max(name_start(text), i);
  std::vector<std::string> dirs;
  for (size_t k = i; k < cut;) {
    size_t j = text.find_first_of("\\/", k);
    if (j == std::string::npos || j > cut) j = cut;
    if (j > k) dirs.push_back(text.substr(k, j - k));
    k = j + 1;
  }
  StackMark mark;
  Value d = data::new_string(drive);
  push(d);
  Value list = string_list(dirs, 0, dirs.size());
  push(list);
  Value name = data::new_string(text.substr(cut));
  push(name);
  Value tail = cons(name, kNil);
  push(tail);
  tail = cons(list, tail);
  return cons(d, tail);
}

bool texts_equal_folded(std::string_view a, std::string_view b) { return data::texts_equal(a, b, false, true); }

Value prim_pathname_equal_p(Value a, Value b) {
  std::string x = pathname_text(a), y = pathname_text(b);
  return boolean(texts_equal_folded(x, y));
}

Value prim_pathname_name(Value pathname) {
  std::vector<std::string> parts = split_path_text(pathname_text(pathname));
  return parts.empty() ? kNil : data::new_string(parts.back());
}

Value prim_pathname_directory(Value pathname) {
  std::vector<std::string> parts = split_path_text(pathname_text(pathname));
  return parts.empty() ? kNil : string_list(parts, 0, parts.size() - 1);
}

Value prim_pathname_inclusion(Value a, Value b) {
  std::string x = pathname_text(a), y = pathname_text(b);
  return boolean(y.size() >= x.size() && texts_equal_folded(x, std::string_view(y).substr(0, x.size())));
}

Value prim_pathname_volume(Value pathname) {
  Value p = pathname;
  for (int depth = 0; depth < 64; ++depth) {
    if (p.is(Tag::String) || p.is_nil()) return p;
    if (p.is_symbol()) {
      Value v = lookup(p);
      if (v.is_no_value()) error(Err::Unbound, p);
      p = v;
    } else if (p.is_pair()) {
      p = car(p);
    } else {
      break;
    }
  }
  error(Err::WrongType, pathname);
}

Value prim_resource_pathname_p(Value v) {
  return boolean(v.is(Tag::String) || v.is_fixnum() || v.is(Tag::Long) || v.is(Tag::Real));
}

// ---- Listing ----------------------------------------------------------------------

// Whether a name matches a pattern of * and ?, without regard to case;
// "*.*" matches every name, with or without a dot.
bool wildcard_match(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  auto fold = [](char c) { return data::map_char(data::CharTable::Upper, uint8_t(c)); };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++, mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1, n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Value list_dir(Value pathname, std::string_view pattern, bool directories) {
  std::string dir = posix_of(pathname);
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return kNil;
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string_view raw = e->d_name;
    if (raw == "." || raw == "..") continue;
    struct stat st;
    std::string full = (dir.empty() ? std::string(".") : dir) + "/" + std::string(raw);
    if (stat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode) != directories) continue;
    std::string name = name_from_utf8(raw);
    if (directories || wildcard_match(pattern, name)) names.push_back(std::move(name));
  }
  closedir(d);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    int c = data::collate(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  return string_list(names, 0, names.size());
}

Value prim_dir_files(Value pathname, Value pattern) {
  std::string p = pattern.is_nil() ? std::string() : data::text_of(pattern);
  if (p.empty()) p = "*.*";
  // A pattern with a folder in it lists that folder.
  size_t cut = p.find_last_of("\\/");
  if (cut != std::string::npos) {
    StackMark mark;
    Value sub = data::new_string(p.substr(0, cut));
    push(sub);
    Value both = cons(sub, kNil);
    push(both);
    both = cons(pathname, both);
    return list_dir(both, p.substr(cut + 1), false);
  }
  return list_dir(pathname, p, false);
}

Value prim_dir_subdirs(Value pathname) { return list_dir(pathname, "*", true); }

}  // namespace

// ---- Temporary files ----------------------------------------------------------------

std::string temp_dir() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env && env[0] == '/' ? env : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string dir = base + "/talven-" + std::to_string(getuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  // Only a folder of ours that nobody else can enter: not a link planted by
  // someone else, not a folder with wider rights.
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0)
    return {};
  return dir;
}

void hold_instance_lock() {
  FileState& s = files_state();
  if (s.instance_lock >= 0) return;
  std::string dir = temp_dir();
  if (dir.empty()) return;
  std::string lock = dir + "/talven.lock";
  int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  s.instance_lock = fd;
  // With no other instance holding the folder, leftovers are nobody's.
  if (!s.temp_cleaned && flock(fd, LOCK_EX | LOCK_NB) == 0) {
    s.temp_cleaned = true;
    remove_temp_leftovers(dir);
  }
  // The only other holder of the exclusive lock is a start-up clean-up,
  // which ends soon: wait for it rather than run without the lock.
  while (flock(fd, LOCK_SH) != 0 && errno == EINTR) {
  }
}

void remove_temp_leftovers(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    std::string_view name = e->d_name;
    if (name.size() < 10 || name.substr(0, 6) != "talven" || name.substr(name.size() - 4) != ".tmp") continue;
    std::string path = dir + "/" + std::string(name);
    int err = 0;
    // A file some program still holds open under a lock is left alone.
    OpenFile f = open_posix(path, OpenMode::ReadWrite, FileLock::Exclusive, err);
    if (f.is_open()) unlink(path.c_str());
  }
  closedir(d);
}

Value create_file(Value pathname, Value creator, Value type, Value resource, Value visible, Value quiet) {
  if (pathname.is_nil()) {
    hold_instance_lock();
    std::string dir = temp_dir();
    if (dir.empty() || dir.size() >= 200) return kNil;
    for (int n = 1; n < 1000000; ++n) {
      std::string path = dir + "/talven" + std::to_string(n) + ".tmp";
      int err = 0;
      OpenFile f = open_posix(path, OpenMode::CreateNew, FileLock::None, err);
      if (!f.is_open()) {
        if (err == EEXIST) continue;
        return kNil;
      }
      close_file(f);
      Value list = path_text_list(text_of_posix(path));
      if (resource.truthy() && !write_empty_resource_file(path, code_arg(creator), code_arg(type), OpenMode::Create)) {
        unlink(path.c_str());
        return kNil;
      }
      if (!visible.truthy()) set_hidden(path, true);
      return list;
    }
    return kNil;
  }
  std::string text = pathname_text(pathname);
  std::string path = posix_path(text);
  // Creation never replaces: an existing file is error 33 (nil when quiet)
  // and keeps its bytes.
  if (resource.truthy()) {
    if (!write_empty_resource_file(path, code_arg(creator), code_arg(type), OpenMode::CreateNew)) {
      if (quiet.truthy()) return kNil;
      raise_errno(errno, pathname);
    }
  } else {
    int err = 0;
    OpenFile f = open_posix(path, OpenMode::CreateNew, FileLock::Exclusive, err);
    if (!f.is_open()) {
      if (quiet.truthy()) return kNil;
      raise_errno(err, pathname);
    }
  }
  if (!visible.truthy()) set_hidden(path, true);
  return pathname;
}

// The empty resource file: a 256-byte header and a 30-byte map.
bool write_empty_resource_file(const std::string& path, std::string_view creator, std::string_view type,
                               OpenMode mode) {
  uint8_t bytes[286] = {};
  auto put32 = [&](int at, uint32_t v) {
    bytes[at] = uint8_t(v >> 24), bytes[at + 1] = uint8_t(v >> 16), bytes[at + 2] = uint8_t(v >> 8), bytes[at + 3] = uint8_t(v);
  };
  put32(0, 256);
  put32(4, 256);
  put32(8, 0);
  put32(12, 30);
  size_t slash = path.rfind('/');
  std::string leaf = name_from_utf8(slash == std::string::npos ? path : path.substr(slash + 1));
  size_t len = std::min<size_t>(leaf.size(), 32);
  bytes[48] = uint8_t(len);
  std::memcpy(bytes + 49, leaf.data(), len);
  std::memcpy(bytes + 82, type.data(), std::min<size_t>(type.size(), 4));
  std::memcpy(bytes + 86, creator.data(), std::min<size_t>(creator.size(), 4));
  std::memcpy(bytes + 256, bytes, 16);  // the map's copy of the header
  bytes[256 + 24] = 0, bytes[256 + 25] = 28;
  bytes[256 + 26] = 0, bytes[256 + 27] = 30;
  bytes[256 + 28] = 0xFF, bytes[256 + 29] = 0xFF;
  int err = 0;
  OpenFile f = open_posix(path, mode, FileLock::Exclusive, err);
  if (!f.is_open()) {
    errno = err;
    return false;
  }
  return write_bytes(f, bytes, sizeof bytes) && close_file(f);
}

namespace {

Value prim_talven_file_create(Value pathname, Value creator, Value type, Value resource, Value visible, Value quiet) {
  return create_file(pathname, creator, type, resource, visible, quiet);
}

}  // namespace

// ---- Registration ---------------------------------------------------------------------

namespace {

// The unavailable primitives, with the counts they are called with.
template <int N>
Value not_available(Value*) {
  error(Err::NotAvailable, kNil);
}
#define TV_NOT_AVAILABLE(name, count, family, ...) \
  ::core::NativeRow { name, &not_available<count>, uint32_t(count) | (family), ::core::Tag::Primitive __VA_OPT__(, ) __VA_ARGS__ }

const NativeRow kFileNatives[] = {
    TV_PRIM("flushvol", prim_flushvol, "(flushvol VOLUME ANY) does nothing; returns 0"),
    TV_PRIM("file-open", prim_file_open, "(file-open PATHNAME MODE) opens an existing file: MODE 0 or nil for reading only, 2 for reading and writing, 1 for reading and writing or else reading only; the open file; a file error with PATHNAME on failure, error 32 when too many are open"),
    TV_PRIM("file-exists?", prim_file_exists_p, "(file-exists? PATHNAME) t when PATHNAME names an existing file that is not a directory, otherwise nil"),
    TV_PRIM("file-close", prim_file_close, "(file-close FILE) closes an open file; no value; a file error on failure"),
    TV_PRIM("file-get-pos", prim_file_get_pos, "(file-get-pos FILE) the position of an open file, in bytes from its start"),
    TV_PRIM("file-set-pos", prim_file_set_pos, "(file-set-pos FILE POSITION) moves an open file to POSITION from its start; returns POSITION; a file error when it cannot"),
    TV_PRIM("file-read-block", prim_file_read_block, "(file-read-block FILE POINTER COUNT) reads up to COUNT bytes into POINTER's memory; the number read; error 2 with a negative COUNT or a block shorter than COUNT"),
    TV_PRIM("file-write-block", prim_file_write_block, "(file-write-block FILE POINTER COUNT) writes COUNT bytes of POINTER's memory; returns COUNT; error 46 when the file is read-only or the write falls short"),
    TV_PRIM("file-eof?", prim_file_eof_p, "(file-eof? FILE) t when an open file's position is at or past its end, otherwise nil"),
    TV_PRIM2("file-read-ch", prim_file_read_ch, "(file-read-ch FILE) a file stream's character function: the next byte, or 65535 at the end"),
    TV_PRIM2("file-write-ch", prim_file_write_ch, "(file-write-ch BYTE FILE) a file stream's character function: writes BYTE; returns it; a file error when the file is read-only or the write fails"),
    TV_PRIM("file-length", prim_file_length, "(file-length FILE-OR-PATHNAME) the size in bytes of an open file, or of the file a pathname names (opened for reading and closed again)"),
    TV_PRIM("file-set-length", prim_file_set_length, "(file-set-length FILE-OR-PATHNAME LENGTH) cuts or extends the file to LENGTH bytes; t, or nil when it cannot"),
    TV_PRIM("file-read-only?", prim_file_read_only_p, "(file-read-only? FILE) t when the open file was opened for reading only, otherwise nil"),
    TV_PRIM("flush-stream", prim_flush_stream, "(flush-stream FILE) does nothing (writes are not buffered); no value"),
    TV_PRIM("file-creation-time", prim_file_creation_time, "(file-creation-time PATHNAME) the file's creation time in clock seconds (its last write where the system keeps none); nil for a missing file or a directory"),
    TV_PRIM("file-modification-time", prim_file_modification_time, "(file-modification-time PATHNAME) the file's last write time in clock seconds; nil for a missing file or a directory"),
    TV_PRIM("file-set-creation-time", prim_file_set_creation_time, "(file-set-creation-time PATHNAME SECONDS) creation times cannot be set here: t when the file's already is SECONDS, otherwise nil"),
    TV_PRIM("file-set-modification-time", prim_file_set_modification_time, "(file-set-modification-time PATHNAME SECONDS) sets the file's last write time to clock SECONDS; t, or nil when it cannot"),
    TV_PRIM("create-dir", prim_create_dir, "(create-dir PATHNAME) makes the directory; t, or nil when it cannot (it exists, or its parent does not)"),
    TV_PRIM("remove-empty-dir", prim_remove_empty_dir, "(remove-empty-dir PATHNAME) removes the directory when empty; t, or nil when it cannot"),
    TV_PRIM("file-remove", prim_file_remove, "(file-remove PATHNAME QUIET) removes the file (not a directory, nor one the runtime has open); t; on failure nil when QUIET is true, otherwise the file error with PATHNAME"),
    TV_PRIM("file-rename", prim_file_rename, "(file-rename PATHNAME NEW-NAME) gives the file NEW-NAME in its own directory, never replacing another file; t, or nil when it cannot"),
    TV_PRIM("file-get-type", prim_file_get_type, "(file-get-type PATHNAME) the file's 4-character type code, read from the file when it keeps one, otherwise derived from its name"),
    TV_PRIM("file-get-creator", prim_file_get_creator, "(file-get-creator PATHNAME) the file's 4-character creator code, read from the file when it keeps one, otherwise ????"),
    TV_PRIM("file-set-type", prim_file_set_type, "(file-set-type PATHNAME CODE) stores CODE's first four characters (padded with spaces) as the type, for files that keep one; t, or nil when nothing was stored"),
    TV_PRIM("file-set-creator", prim_file_set_creator, "(file-set-creator PATHNAME CODE) stores CODE's first four characters (padded with spaces) as the creator, for files that keep one; t, or nil when nothing was stored"),
    TV_PRIM("file-get-visible?", prim_file_get_visible_p, "(file-get-visible? PATHNAME) nil when the file is hidden (a dot name or the hidden mark), otherwise t"),
    TV_PRIM("file-set-visible?", prim_file_set_visible_p, "(file-set-visible? PATHNAME FLAG) clears the file's hidden mark when FLAG is true, sets it when nil; t, or nil when it cannot (a dot name stays hidden)"),
    TV_PRIM("copy-file", prim_copy_file, "(copy-file SOURCE DESTINATION PROGRESS) copies the file's data, mode and times over DESTINATION, calling PROGRESS (unless nil) with each chunk's byte count; t; a file error with the culprit path"),
    TV_PRIM("volume-space", prim_volume_space, "(volume-space VOLUME) the free space of the volume holding VOLUME's path, in kilobytes; error 2 when it cannot be asked"),
    TV_PRIM("erasable?", prim_erasable_p, "(erasable? PATHNAME) t when the file can be opened for reading and writing with no one else sharing it, otherwise nil"),
    TV_PRIM2("find-preference-folder", prim_find_preference_folder, "(find-preference-folder) the user's settings folder as a pathname list"),
    TV_PRIM2("talven-file-create", prim_talven_file_create, "(talven-file-create PATHNAME CREATOR TYPE RESOURCE? VISIBLE? QUIET?) creates an empty file (a resource file when RESOURCE?), hidden unless VISIBLE?; a nil PATHNAME makes a new temporary file; the pathname; on failure nil when QUIET?, otherwise the file or resource error"),
    TV_PRIM2("get-finder-info", prim_get_finder_info, "(get-finder-info PATHNAME POINTER) writes the file's type then creator (8 bytes) into POINTER's memory; returns POINTER"),
    TV_PRIM2("set-finder-info", prim_set_finder_info, "(set-finder-info PATHNAME POINTER) stores the type and creator held in POINTER's first 8 bytes; t when both were stored, otherwise nil"),
    TV_PRIM2("copy-file-info", prim_copy_file_info, "(copy-file-info SOURCE DESTINATION) copies the type, creator and times of SOURCE to DESTINATION; t when the times were set, otherwise nil; a file error when SOURCE is missing"),
    TV_PRIM2("get-file-info", prim_get_file_info, "(get-file-info PATHNAME) a new 40-byte pointer block: type, creator, then the creation, access and write times; a file error when the file is missing"),
    TV_PRIM2("set-file-info", prim_set_file_info, "(set-file-info PATHNAME BLOCK) stores the type, creator and access and write times of a get-file-info block; t when the times were set, otherwise nil"),
    TV_PRIM2("dispose-file-info", prim_dispose_file_info, "(dispose-file-info BLOCK) frees a get-file-info block and clears the box's address; no value"),
    TV_NOT_AVAILABLE("open-rf", 3, kAritySecond, "(open-rf A1 A2 A3) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("fsread", 3, kAritySecond, "(fsread A1 A2 A3) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("fswrite", 3, kAritySecond, "(fswrite A1 A2 A3) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("getfpos", 1, kAritySecond, "(getfpos A1) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("setfpos", 3, kAritySecond, "(setfpos A1 A2 A3) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("seteof", 2, kAritySecond, "(seteof A1 A2) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("fsclose", 1, kAritySecond, "(fsclose A1) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("get-drive-name", 1, 0, "(get-drive-name A1) not available here: error 47 with nil"),
    TV_NOT_AVAILABLE("online", 0, 0, "(online) not available here: error 47 with nil"),
    TV_PRIM("parse-pathname", prim_talven_to_os, "(parse-pathname PATHNAME) the path a pathname (string, list or symbol of one) stands for, as a string"),
    TV_PRIM("talven->os", prim_talven_to_os, "(talven->os PATHNAME) the path a pathname (string, list or symbol of one) stands for, as a string"),
    TV_PRIM("os->talven", prim_os_to_talven, "(os->talven STRING) the pathname list of a path string"),
    TV_PRIM("make-pathname", prim_make_pathname, "(make-pathname PATHNAME) the list (DRIVE (DIRECTORY...) NAME) of the pathname's path, DRIVE \"\" without one"),
    TV_PRIM("pathname=?", prim_pathname_equal_p, "(pathname=? PATHNAME1 PATHNAME2) t when both stand for the same path text, case ignored, otherwise nil"),
    TV_PRIM("pathname-name", prim_pathname_name, "(pathname-name PATHNAME) the last component of the path, nil when it has none"),
    TV_PRIM("pathname-directory", prim_pathname_directory, "(pathname-directory PATHNAME) the list of the path's components but the last, nil when it has none"),
    TV_PRIM("pathname-inclusion", prim_pathname_inclusion, "(pathname-inclusion PATHNAME1 PATHNAME2) t when PATHNAME2's path begins with PATHNAME1's, case ignored, otherwise nil"),
    TV_PRIM("pathname-volume", prim_pathname_volume, "(pathname-volume PATHNAME) the first string (or nil) reached by following first elements and symbols' values; error 6 with an unbound symbol, error 2 with anything else"),
    TV_PRIM("resource-pathname?", prim_resource_pathname_p, "(resource-pathname? VALUE) t for a string, an integer or a real, otherwise nil"),
    TV_PRIM("dir-files", prim_dir_files, "(dir-files PATHNAME PATTERN) the names of the files (not directories) in that directory matching PATTERN (\"*.*\" when nil or empty; a pattern naming a folder lists that folder of the directory); nil when the directory cannot be read"),
    TV_PRIM("dir-subdirs", prim_dir_subdirs, "(dir-subdirs PATHNAME) the names of the directory's subdirectories, without . and ..; nil when it cannot be read"),
    TV_PRIM("add-program-group", prim_add_program_group, "(add-program-group NAME) makes a folder NAME in the user's applications menu; t, or nil when it cannot"),
    TV_PRIM("add-program-item", prim_add_program_item, "(add-program-item TARGET GROUP NAME) puts a launcher NAME for the program TARGET in the menu folder GROUP; t, or nil when it cannot"),
    TV_PRIM2("talven-choose-file", prim_talven_choose_file, "(talven-choose-file CALLBACK TYPES A3 A4 TITLE DESCRIPTIONS PATTERNS A8) the open-file dialog: CALLBACK is called with the chosen pathname, unless its type is not in TYPES (nil for any), which an alert says; A3, A4 and A8 are ignored; no value"),
    TV_PRIM2("talven-choose-new-file", prim_talven_choose_new_file, "(talven-choose-new-file CALLBACK TITLE DEFAULT-NAME DESCRIPTIONS PATTERNS) the save-file dialog: CALLBACK is called with the chosen pathname; no value"),
    TV_PRIM2("talven-choose-directory", prim_talven_choose_directory, "(talven-choose-directory CALLBACK) the folder dialog: CALLBACK is called with the chosen folder's pathname; no value"),
    TV_PRIM2("set-open-directory", prim_set_open_directory, "(set-open-directory PATHNAME) the directory the next file dialog opens in; no value"),
};

}  // namespace

void register_file_natives() {
  // The temporary folder, its lock and the clean-up of what dead runs left
  // there wait for the first temporary file: most runs never make one.
  register_natives(kFileNatives);
  // The runtime's folders.
  std::string exe = executable_dir_text();
  Value dir = path_text_list(exe);
  set_symbol_value(intern_static("talven-dir"), dir);
  StackMark mark;
  push(dir);
  Value appl = data::new_string("Appl");
  push(appl);
  Value tail = cons(appl, kNil);
  push(tail);
  set_symbol_value(intern_static("appl-dir"), cons(dir, tail));
  set_symbol_value(intern_static("system-dir"), path_text_list(text_of_posix(config_dir())));
}

}  // namespace storage
