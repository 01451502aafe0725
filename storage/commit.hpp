// Crash-safe changes of files written in place: a commit gathers the
// writes and the final size of one change, saves the bytes it will
// overwrite and the old size in a rollback journal under the user's state
// directory ($XDG_STATE_HOME/talven/), makes the journal durable, writes,
// makes the file durable and drops the journal. A crash at any point
// leaves the old file (journal present, rolled back at the next open) or
// the new one (journal gone).
//
// Test switches: set_write_fault makes the n-th write of the process fail,
// or exit the process after writing half of it; TALVEN_NO_FSYNC=1 skips
// the flushes for the test suite's speed.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <sys/types.h>
#include <vector>

namespace storage {

// The identity of an open file: equal for two spellings of one file.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId&) const = default;
};

class Commit {
 public:
  // fd is open for reading and writing on the file whose canonical path is
  // path; old_size is its size now.
  Commit(int fd, FileId id, std::string path, uint64_t old_size)
      : fd_(fd), id_(id), path_(std::move(path)), old_size_(old_size), new_size_(old_size) {}
  void write(uint64_t offset, std::vector<uint8_t> bytes);
  // The file's size after the commit (writes past it are cut).
  void resize(uint64_t size) { new_size_ = size; }
  // 0, or -34 when a write failed; then the file is back in its old state
  // (or, if even that failed, the journal stays for the next open).
  int apply();

 private:
  struct Piece {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  int fd_;
  FileId id_;
  std::string path_;
  uint64_t old_size_, new_size_;
  std::vector<Piece> writes_;
};

// The journal path of a file, in the state directory.
std::string journal_path(FileId id);
// Before a file is read: rolls it back from a valid journal, drops a torn
// one. 0, or -37 when a valid journal exists and the file cannot be
// restored (it is then left alone, journal and all).
int recover_file(const std::string& path);

// The committed state of a file, for readers that must not write it (the
// inspectors): an anonymous memory file holding the file's bytes with a
// pending rollback applied, or -1 with the reason in `why` when the file
// cannot be read. `pending` says whether there was one to apply. The file
// itself is left alone.
int committed_view(const std::string& path, bool& pending, std::string& why);

// The test switches.
enum class FaultMode { Fail, Exit };
void set_write_fault(uint64_t nth, FaultMode mode);
void clear_write_fault();
// Writes counted since the process started (or the last set_write_fault).
uint64_t writes_done();

// One counted, fault-checked write of all n bytes at offset: false on failure.
bool write_all(int fd, uint64_t offset, const uint8_t* p, size_t n);
// Counted truncation and a flush that the test switch may skip.
bool truncate_file(int fd, uint64_t size);
bool flush_file(int fd);
// Reads all n bytes at offset: false on a short read.
bool read_all(int fd, uint64_t offset, uint8_t* p, size_t n);

// Creates a file holding bytes, atomically: never a half-written file; -48
// when it exists, -44 when not permitted, -37 for any other failure.
int create_file_atomic(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace storage
