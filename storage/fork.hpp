// The on-disk toolkit of resource files: the header, the data area and the
// map, parsed into a structured model and written back byte for byte.
//
// A fork is a 256-byte header, a data area of length-prefixed blocks and a
// map (type list, reference lists, name list). The parser checks every
// offset and count against the map and data lengths in 64-bit arithmetic
// before it reads, so a damaged file is refused at open and never read
// outside its bytes. The serializer always writes the compact layout: the
// type list at 28, the reference lists in type order behind it, the names
// in reference order, empty types dropped.
//
// Databases reuse the header and the shape of the map with 32-bit fields;
// the variant is chosen by a ForkFormat (the kind byte and a MapLayout), and
// the header checks are shared by both.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace storage {

// Result codes of the resource manager, shared with the Lisp layer.
enum ResCode : int {
  kResOk = 0,
  kResWriteErr = -34,
  kResReadErr = -36,
  kResBadFile = -37,
  kResExists = -48,
  kResNotPermitted = -44,
  kResReadOnly = -61,
  kResMemFull = -108,
  kResNotFound = -192,
  kResNoFile = -193,
  kResAddFailed = -194,
  kResRemoveFailed = -196,
  kResAttrErr = -198,
};

constexpr uint32_t kForkHeaderSize = 256;
constexpr uint32_t kNoData = 0xFFFFFF;  // a resource without data yet
constexpr uint32_t kMaxDataArea = 0x1000000;  // 24-bit data offsets
constexpr uint32_t kMaxName = 255;
constexpr uint32_t kKindOffset = 128;

// Map attributes.
constexpr uint16_t kMapReadOnly = 0x0080;
constexpr uint16_t kMapCompact = 0x0040;
constexpr uint16_t kMapChanged = 0x0020;
// Resource attributes.
constexpr uint8_t kResPurgeable = 0x20;
constexpr uint8_t kResProtected = 0x08;
constexpr uint8_t kResPreload = 0x04;
constexpr uint8_t kResChanged = 0x02;

// Where the two variants of the map differ: the places and widths of its
// fields. Counts, offsets, IDs and name offsets are `word` bytes wide.
struct MapLayout {
  uint32_t header;        // bytes before the type list
  uint32_t attrs_at;      // the map attributes
  uint32_t type_off_at;   // the type-list offset field
  uint32_t name_off_at;   // the name-list offset field
  uint32_t word;          // 2 or 4
  uint32_t ref_size;      // one reference
  uint32_t ref_attrs_at;  // the attribute byte in a reference
  uint32_t ref_data_at;   // the data offset in a reference
  uint32_t data_width;    // its width
  uint32_t ref_size_at;   // the data size in a reference (0: data blocks carry a 4-byte length instead)
  uint32_t ref_time_at;   // the modification time, little-endian (0: none)
  uint32_t no_name;       // name offset of a reference without a name
  uint32_t no_data;       // data offset of a reference without data
  uint32_t type_entry() const { return 4 + 2 * word; }
  uint32_t none() const { return word == 2 ? 0xFFFF : 0xFFFFFFFF; }  // also the empty type count
};
inline constexpr MapLayout kResourceLayout{28, 22, 24, 26, 2, 12, 4, 5, 3, 0, 0, 0xFFFF, 0xFFFFFF};
inline constexpr MapLayout kDatabaseLayout{34, 24, 26, 30, 4, 26, 8, 10, 4, 14, 18, 0xFFFFFFFF, 0xFFFFFFFF};

struct ForkFormat {
  uint8_t kind;              // kind byte at offset 128: 0 resource file, 2 database
  const MapLayout* layout;
};
inline constexpr ForkFormat kResourceFork{0, &kResourceLayout};
inline constexpr ForkFormat kDatabaseFork{2, &kDatabaseLayout};

struct ForkHeader {
  uint32_t data_offset = kForkHeaderSize;
  uint32_t map_offset = kForkHeaderSize;
  uint32_t data_length = 0;
  uint32_t map_length = 0;
};

struct ForkRef {
  int32_t id = 0;
  bool named = false;
  std::string name;  // the name bytes, at most 255
  uint8_t attrs = 0;
  uint32_t data_offset = kNoData;  // from the start of the data area (the layout's no_data: none)
  uint32_t size = 0xFFFFFFFF;      // databases: the data size kept in the reference
  uint32_t time = 0;               // databases: the modification time
  uint32_t handle = 0;             // the loaded handle at run time; never read from disk
  bool loaded = false;             // the handle holds the data (run time)
};

struct ForkType {
  uint32_t code = 0;  // the four bytes in reading order, first byte highest
  std::vector<ForkRef> refs;
};

struct ForkMap {
  ForkHeader header;
  uint16_t attrs = 0;
  std::vector<ForkType> types;
};

// Model edits shared by the resource manager and the tests.
ForkType* find_type(ForkMap& m, uint32_t code);
ForkRef* find_ref(ForkMap& m, uint32_t code, int32_t id);
// The first reference of that type with that name.
ForkRef* find_named(ForkMap& m, uint32_t code, const std::string& name);
// Appends a new reference (changed, no data yet) to its type's list, the
// type to the type list when it is new; marks the map changed. Names are
// cut to 255 bytes.
ForkRef& add_ref(ForkMap& m, uint32_t code, int32_t id, const std::string* name, uint32_t handle);

// A four-character code from its bytes and back.
uint32_t fourcc(const char* s);
std::string fourcc_text(uint32_t code);

// Checks the first 256 bytes of a fork against its size: 0, or -37 when a
// field is out of place or the kind byte names the other variant.
int parse_header(std::span<const uint8_t> head, uint64_t fork_size, const ForkFormat& f, ForkHeader& out);
// Parses the map bytes read at the header's map offset: 0, -36 when the
// map's copy of the header differs (an all-zero copy is accepted), -37
// when an offset, count or name runs outside the map, or a data offset
// outside the data area.
int parse_map(std::span<const uint8_t> map, const ForkHeader& h, const ForkFormat& f, ForkMap& out);
// Both, on a whole fork held in memory.
int parse_fork(std::span<const uint8_t> fork, const ForkFormat& f, ForkMap& out);
// The data of a resource in a whole fork held in memory: 0, or -36 when
// its stored length runs outside the data area (no data: an empty span).
int fork_data(std::span<const uint8_t> fork, const ForkMap& m, const ForkRef& r, std::span<const uint8_t>& out);

// The map in file order, compact. Fills the header copy from h after
// setting h.map_length. 0, or -34 when the map exceeds the reach of the
// layout's offsets or would end the file past the reach of signed 32-bit
// offsets.
int serialize_map(const ForkMap& m, ForkHeader& h, std::vector<uint8_t>& out, const ForkFormat& f = kResourceFork);
// The first 16 bytes of the header.
void put_header_fields(uint8_t* p, const ForkHeader& h);
// The 256-byte header of a new, empty fork: name cut to 32 bytes.
std::vector<uint8_t> new_fork_header(const std::string& name, uint32_t type, uint32_t creator, uint8_t kind);
// A whole new empty fork (286 bytes for a resource file).
std::vector<uint8_t> new_empty_fork(const std::string& name, uint32_t type, uint32_t creator);

// Where the fork lies inside a file: a plain fork, the resource fork entry
// of an AppleDouble file (version 2), or the resource fork of a MacBinary
// file (I, II, III; the header CRC is checked where there is one).
enum class Wrapper { Plain, AppleDouble, MacBinary };
struct ForkPlace {
  Wrapper wrapper = Wrapper::Plain;
  uint64_t offset = 0;
  uint64_t length = 0;
};
// Looks at the first bytes of a file (at least 128 for MacBinary, 26 plus
// 12 per entry for AppleDouble; pass what there is) and its size. False
// when the file is not a known wrapper (then it may be a plain fork).
bool find_wrapped_fork(std::span<const uint8_t> head, uint64_t file_size, ForkPlace& out);

}  // namespace storage
