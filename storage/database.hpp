// An open record database on disk: its parsed map, bounded reads of record
// data, and writes that never lose a record.
//
// A database is a fork in the database variant (kind byte 2, 32-bit map,
// sizes and times kept in the references). Every change of the live file
// (a record written, an update) is one commit of the rollback journal, so a
// crash leaves the old file or the new one. Compaction never moves bytes
// inside the live file: it writes the compacted database to a temporary
// file beside it, flushes it and renames it over the original.
//
// This is the native half; storage/db_natives.cpp adds the chain of open
// databases, the handles and the Lisp primitives.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/commit.hpp"
#include "storage/files.hpp"
#include "storage/fork.hpp"
#include "storage/map_file.hpp"

namespace storage {

// Result codes: 0, a storage error number (1 to 9), or kDbWriteFailed.
enum DbCode : int {
  kDbOk = 0,
  kDbNotDatabase = 1,
  kDbNoMemory = 2,
  kDbShortRead = 3,
  kDbNotOpen = 4,
  kDbNoRecord = 5,
  kDbCreate = 6,
  kDbAddRefused = 7,
  kDbProtected = 8,
  kDbReadOnly = 9,
  kDbWriteFailed = -34,  // a write failed or the disk is full: nothing changed
};

constexpr uint32_t kDbNone = 0xFFFFFFFF;      // no data offset, no size, no name
constexpr uint32_t kDbEmptySize = 294;         // a new database
constexpr uint8_t kRecConverted = 0x40;        // the data is in the Windows character set
// The largest data area or map this implementation writes: offsets are read
// back as signed 32-bit numbers.
constexpr uint64_t kDbMaxExtent = 0x7FFFFFFF;

// Records of these types carry text: "TEXT", "Text", "Txt?" and "Tlv?".
bool is_text_type(uint32_t code);
// The stored size of a reference as a count of bytes: 0 when never written.
inline uint64_t stored_size(const ForkRef& r) { return r.size == kDbNone ? 0 : r.size; }
// Whether the reference has bytes on disk.
inline bool on_disk(const ForkRef& r) { return r.data_offset != kDbNone && r.size != kDbNone; }

// The bytes of a new, empty database (294).
std::vector<uint8_t> new_database(uint32_t creator, uint32_t type);

class DbFile {
 public:
  // Reads the header and the map of an open descriptor (which the caller
  // keeps open, and rolled back first): 0, 1 (not a database), 2 (the map
  // cannot be held) or 3 (short header). Nothing is written.
  static int attach(int fd, bool writable, const std::string& path, std::unique_ptr<DbFile>& out);
  DbFile(const DbFile&) = delete;
  DbFile& operator=(const DbFile&) = delete;

  ForkMap map;                      // attributes include kMapReadOnly for a read-only open
  std::array<uint8_t, 128> kept{};  // header bytes 128 to 255, written back with every map
  std::string path;                 // as given
  std::string canonical;            // the real path: journals and compaction name it
  FileId id;
  int fd = -1;  // not owned
  bool read_only = false;

  bool writable() const { return !read_only && !(map.attrs & kMapReadOnly); }
  uint64_t file_size() const { return uint64_t(map.header.map_offset) + map.header.map_length; }

  // The stored bytes of a reference: 0 (empty when it has none) or 3 when
  // they run outside the data area or cannot be read.
  int read_record(const ForkRef& r, std::vector<uint8_t>& out) const;
  // The same into r.size bytes at out, which the caller has made room for
  // (after record_fits): 0 or 3.
  bool record_fits(const ForkRef& r) const;
  int read_record_into(const ForkRef& r, uint8_t* out) const;

  // The bytes in memory for a reference; false when it has none (then it
  // is never written, and its bytes on disk stay).
  using DataOf = std::function<bool(const ForkRef&, std::span<const uint8_t>&)>;

  // Writes one changed record with the header and the map, as one commit.
  // 0 (also when there is nothing to write) or kDbWriteFailed.
  int write_record(ForkRef& r, const DataOf& data_of);
  // Writes the changes: every changed record with data, then the map; or,
  // when compaction is allowed and less than seven tenths of the data
  // area is in use, compacts instead (and writes in place when compaction
  // cannot write its file). 0, 3 or kDbWriteFailed.
  // `swapped` is set when compaction replaced the file: fd and id then
  // name the new one, whose descriptor the caller now owns (in `fresh`).
  int update(const DataOf& data_of, bool compact_allowed, OpenFile& fresh, bool& swapped);
  // Compacts into a new file renamed over this one: 0, 3, 9 or
  // kDbWriteFailed (the live file untouched). On 0, `fresh` holds the new
  // descriptor (locked as the old one was); the caller closes the old one.
  int compact(const DataOf& data_of, OpenFile& fresh);

  // The path of the temporary file a compaction writes.
  static std::string compaction_path(const std::string& canonical);

 private:
  DbFile() = default;
  struct Placed {
    ForkRef* ref;
    uint32_t offset;
    uint32_t size;
    bool text;
  };
  bool shares_bytes(const ForkRef& r) const;
  const ForkType& type_of(const ForkRef& r) const;
  void settle_copies(ForkMap& next, const std::vector<Placed>& placed) const;
  int commit(std::vector<std::pair<ForkRef*, std::span<const uint8_t>>> writes);
  static void settle(const Placed& p);
};

// Opens a database file by POSIX path for inspection or for a program of
// its own: rolls back an interrupted commit first (only when writable is
// asked), removes a compaction's leftover, opens, reads. The descriptor
// lives in `file`.
struct DbHandle {
  OpenFile file;
  std::unique_ptr<DbFile> db;
};
int open_database_path(const std::string& path, bool writable, DbHandle& out);

// The listing of a database for the inspector: a header line, then one
// line per record in map order, as the resource inspector writes them
// (the ID in signed decimal). 3 when a record's data cannot be read.
int list_database(const DbFile& f, std::string& out);

}  // namespace storage
