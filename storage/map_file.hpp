// What a resource file and a database do alike on disk: both are a header,
// a data area and a map of one of two layouts (see fork.hpp), opened on a
// descriptor, read map first, and changed by commits that write data, the
// header and a compact map together.
//
// ResFile and DbFile keep what sets them apart (wrappers and stored
// lengths for resource files; sizes, times and compaction for databases)
// and call these for the rest, so the two formats stay one code path where
// they are one format. Every change written through commit_map leaves the
// old file or the new one.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "storage/commit.hpp"
#include "storage/fork.hpp"

namespace storage {

// The identity of an open descriptor: false unless it is a regular file.
// `canonical` is the real path that journals name (path when it has none).
bool identify_file(int fd, const std::string& path, FileId& id, std::string& canonical, uint64_t& size);

// Reads and parses the map that header h places `base` bytes into the
// file: 0, kResMemFull when it cannot be held, kResBadFile when it cannot
// be read, or what parse_map answers.
int read_map(int fd, uint64_t base, const ForkHeader& h, const ForkFormat& f, ForkMap& out);

// Whether the map or any reference carries a change not yet on disk.
bool changes_pending(const ForkMap& m);

// The reference of `copy` (a copy of m) that stands where r stands in m.
ForkRef& counterpart(ForkMap& copy, const ForkMap& m, const ForkRef* r);

// Adds to a commit the map `next` as it will be on disk, compact, behind
// header h (whose map length it sets): the first 16 bytes of the header,
// `kept` at 128 when there is any, the map at h's map offset, and the new
// file size. kResWriteErr when serialize_map refuses the map.
int commit_map(Commit& c, const ForkMap& next, ForkHeader& h, const ForkFormat& f,
               std::span<const uint8_t> kept = {});

// After a commit of the whole map: the map takes the new header and the
// compact form the file now holds (empty types gone, nothing pending in it).
void settle_map(ForkMap& m, const ForkHeader& h);

// The listing of a map for the inspectors: a header line, then one line
// per entry in map order (type, signed decimal ID, name, attributes, data
// length, SHA-256 of the data). read(r, bytes) fetches the data; its first
// non-zero answer stops the listing and is answered.
using ReadEntry = std::function<int(const ForkRef&, std::vector<uint8_t>&)>;
int list_map(const ForkMap& m, const ReadEntry& read, std::string& out);
// Bytes as a listing writes them: 0x20 to 0x7E as they are but `\` as
// `\\`, every other byte as `\xNN`.
void append_escaped(std::string& out, const uint8_t* p, size_t n);

}  // namespace storage
