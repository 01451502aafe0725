// An open resource fork on disk: its parsed map, reads of resource data on
// demand, and writes that go through one crash-safe commit each. This is
// the native half of the resource manager; the manager adds the chain of
// open files, the handles and the Lisp primitives.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/commit.hpp"
#include "storage/fork.hpp"
#include "storage/map_file.hpp"

namespace storage {

class ResFile {
 public:
  // Opens a fork, plain or wrapped, after rolling back an interrupted
  // commit. 0, or -36 (short header, differing header copy) or -37 (cannot
  // open, bad header or map). A file that fails is never modified.
  static int open(const std::string& path, std::unique_ptr<ResFile>& out);
  // The same on a descriptor opened by the caller, who keeps it (and must
  // keep it open while the ResFile lives); the caller rolls back first.
  static int attach(int fd, bool writable, const std::string& path, std::unique_ptr<ResFile>& out);
  // Creates a new, empty resource file: 0, -36, -37, -44, -48.
  static int create(const std::string& path, uint32_t type = 0, uint32_t creator = 0);
  ~ResFile();
  ResFile(const ResFile&) = delete;
  ResFile& operator=(const ResFile&) = delete;

  ForkMap map;
  std::string path;       // as given
  FileId id;              // recognises one file under two spellings
  bool read_only = false;  // opened for reading only, or wrapped: never written
  Wrapper wrapper = Wrapper::Plain;

  // Whether changes can reach the disk at all.
  bool writable() const { return !read_only && !(map.attrs & kMapReadOnly); }

  // The data of a reference: 0, or -36 when its stored length runs
  // outside the data area or the read fails. No data: empty.
  int read_data(const ForkRef& r, std::vector<uint8_t>& out) const;
  // The stored length of a reference's data: -1 when it has none.
  int stored_length(const ForkRef& r, int64_t& len) const;

  // The data to write for a changed reference; false when it has none.
  using DataOf = std::function<bool(const ForkRef&, std::span<const uint8_t>&)>;
  // Writes one changed resource; when its data moves, the header and the
  // map too. 0 or -34 (then the file and the map are as before).
  int write_resource(ForkRef& r, std::span<const uint8_t> data);
  // Writes every changed resource, the header and the map as one commit.
  // 0; -34 when writing failed (nothing changed); -36 when everything else
  // was written but a changed reference without data was left as it was
  // on disk (still marked changed).
  int update(const DataOf& data_of);

 private:
  ResFile() = default;
  struct Plan;
  int place(Plan& plan, ForkRef& r, std::span<const uint8_t> data);
  int run(Plan& plan, bool with_map);
  int fd_ = -1;
  bool owns_fd_ = false;
  uint64_t base_ = 0;  // where the fork starts in the file
  std::string canonical_;
};

// The listing of a fork for the inspector: a header line, then one line per
// resource in map order (see the README). The data reads fail with -36.
int list_fork(const ResFile& f, std::string& out);

}  // namespace storage
