// Files: the open-file record, the table of reference numbers that plain
// files and resource files share, byte and block I/O, and the error mapping
// of the file layer.
//
// Every open file of the runtime sits in one slot of a 256-slot table; its
// reference number is the slot index plus one (1 to 256). A slot carries a
// generation that grows each time the slot is released, so a file box or
// any other name made of (reference number, generation) that outlives its
// file is recognised as stale (error 2) and never reaches a later file that
// took the same slot or the same descriptor.
//
// Every open file holds a non-blocking advisory lock (flock) on its
// descriptor: shared for ordinary use, exclusive for a writer that needs the
// file alone. A lock that cannot be had is error 38 (file busy).
//
// Pathnames reach the operating system only through storage/paths.hpp.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/errors.hpp"
#include "core/module.hpp"
#include "core/value.hpp"

namespace storage {

// ---- The open-file record ---------------------------------------------------

enum class FileLock : uint8_t { None, Shared, Exclusive };

// What a slot of the table is used for.
enum class FileUse : uint8_t { Free, Plain, Resource, Database };

// An open file. Owned by whoever opened it until it is entered in the table,
// by the table afterwards. Moving leaves the source closed.
struct OpenFile {
  int fd = -1;
  bool writable = false;
  FileLock lock = FileLock::None;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path;  // the POSIX path it was opened by (UTF-8)
  std::string name;  // the pathname's text as Lisp wrote it (code page 1252)

  OpenFile() = default;
  OpenFile(OpenFile&& o) noexcept;
  OpenFile& operator=(OpenFile&& o) noexcept;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile();  // closes the descriptor when still open
  bool is_open() const { return fd >= 0; }
};

// How a file is opened.
enum class OpenMode : uint8_t {
  Read,       // an existing file, reading only
  ReadWrite,  // an existing file, reading and writing
  Create,     // created or truncated, reading and writing
  CreateNew,  // created, failing when it exists, reading and writing
};

// Opens a POSIX path and takes the lock. On failure the record is closed and
// `err` holds the errno (EWOULDBLOCK when the lock was refused).
OpenFile open_posix(const std::string& path, OpenMode mode, FileLock lock, int& err);
// Opens the file a Lisp pathname names (resolved through the boundary);
// a failure raises the error mapping with the pathname.
OpenFile open_pathname(core::Value pathname, OpenMode mode, FileLock lock = FileLock::Shared);
// Closes: releases the lock and the descriptor; false (with errno) when
// close reported an error.
bool close_file(OpenFile& file);

// ---- Byte and block I/O -------------------------------------------------------
// All of these retry interrupted calls and partial transfers.

// Reads up to n bytes at the current position; answers the count read (0 at
// the end), or -1 with errno.
int64_t read_bytes(const OpenFile& f, void* out, size_t n);
// Writes all n bytes at the current position; false with errno on a short
// write (ENOSPC when the disk is full).
bool write_bytes(const OpenFile& f, const void* data, size_t n);
// The same at an absolute offset, leaving the position alone.
int64_t read_at(const OpenFile& f, uint64_t offset, void* out, size_t n);
bool write_at(const OpenFile& f, uint64_t offset, const void* data, size_t n);
int64_t file_position(const OpenFile& f);
// Moves to an absolute position; false with errno.
bool set_position(const OpenFile& f, int64_t pos);
int64_t file_size(const OpenFile& f);  // -1 with errno
bool set_file_size(const OpenFile& f, int64_t size);

// What a file's header says it is, by its first 256 bytes: the offsets of a
// resource header (data at 256, map at 256 or later, lengths not negative,
// the data before the map, the map ending the file) and the kind byte at
// offset 128 (0 a resource file, 2 a database). With `type` and `creator`
// given, a resource file's or database's codes are copied there. Peeking
// never opens the file as a resource file.
enum class FileKind : uint8_t { Plain, Resource, Database };
FileKind peek_kind(const OpenFile& f, std::string* type, std::string* creator);

// ---- Reference numbers ------------------------------------------------------

constexpr int kRefnumSlots = 256;

// Enters an open file in the table: the allocation starts at a rotating
// cursor and takes the first free slot. Answers the reference number, or -1
// when all 256 are taken (the file then stays with the caller, still open).
int take_refnum(OpenFile& file, FileUse use);
// Closes the file of a reference number and frees its slot (1 to 256; other
// numbers and free slots are ignored). Answers false when close failed.
bool release_refnum(int refnum);
// The file behind a reference number, nullptr when the slot is free.
OpenFile* refnum_file(int refnum);
FileUse refnum_use(int refnum);
// The slot's generation: changes every time the slot is released.
uint32_t refnum_generation(int refnum);
// The reference number of an open file of that use (FileUse::Free: any use)
// on the same device and inode, or 0.
int find_open_file(dev_t device, ino_t inode, FileUse use = FileUse::Free);
// Closes every file in the table (shutdown).
void release_all_refnums();

// File boxes: the `pointer` values (sub-kind 6, "file") that Lisp code holds
// for a plain open file. The box names reference number and generation.
constexpr uint32_t kFileBoxKind = 6;
core::Value box_file(int refnum);
// The reference number of a live file box; error 2 with the box for any
// other value, including a box whose file was closed.
int file_box_refnum(core::Value box);
inline OpenFile& file_box(core::Value box) { return *refnum_file(file_box_refnum(box)); }

// ---- Errors -------------------------------------------------------------------

// Raises the Lisp error of an errno: 2 -> 31 with the pathname, 17 -> 33
// with the pathname, 24 and 23 -> 32 with nil, 28 and the quota error -> 46
// with the pathname, a refused lock -> 38 with the pathname, a read-only
// file system -> 45 with the pathname, anything else -> 36 with the number
// (-1 when there is none).
[[noreturn]] void raise_errno(int err, core::Value pathname);

// ---- Module -------------------------------------------------------------------

// The file layer's module: its state, its primitives and variables, and the
// closing of every file at shutdown.
extern const core::Module kFilesModule;
void register_file_natives();

}  // namespace storage
