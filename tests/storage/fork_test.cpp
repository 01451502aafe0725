// The resource fork toolkit: the exact bytes it writes, the listings of real
// forks, wrappers, and a table of damaged files that must be refused
// without a read outside the file or a write to it.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <tuple>

#include "core/bytes.hpp"
#include "storage/resfile.hpp"
#include "tests/storage/rsrc_files.hpp"

namespace {
using namespace storage;
using namespace rsrc_testing;
using core::load_be16;
using core::load_be32;
using core::store_be16;
using core::store_be24;
using core::store_be32;

using Fork = ScratchDir;

std::span<const uint8_t> text(const char* s) { return {reinterpret_cast<const uint8_t*>(s), std::strlen(s)}; }

// Creates FILE and adds resources of (type, id, name, data); updates.
void build(const std::string& file, const std::vector<std::tuple<const char*, int, const char*, const char*>>& rows) {
  ASSERT_EQ(ResFile::create(file), 0);
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  std::vector<std::string> data;
  for (auto& [type, id, name, bytes] : rows) {
    std::string n = name;
    add_ref(f->map, fourcc(type), id, &n, uint32_t(data.size()));
    data.push_back(bytes);
  }
  ASSERT_EQ(f->update([&](const ForkRef& r, std::span<const uint8_t>& out) {
    out = text(data[r.handle].c_str());
    return true;
  }),
            0);
}

TEST_F(Fork, NewFileIsTheEmpty286ByteFork) {
  std::string file = path("empty.rsrc");
  ASSERT_EQ(ResFile::create(file, fourcc("rsrc"), fourcc("TLVN")), 0);
  std::vector<uint8_t> b = slurp(file);
  ASSERT_EQ(b.size(), 286u);
  EXPECT_EQ(load_be32(&b[0]), 256u);
  EXPECT_EQ(load_be32(&b[4]), 256u);
  EXPECT_EQ(load_be32(&b[8]), 0u);
  EXPECT_EQ(load_be32(&b[12]), 30u);
  EXPECT_EQ(b[48], 10);
  EXPECT_EQ(std::string(&b[49], &b[59]), "empty.rsrc");
  EXPECT_EQ(load_be32(&b[82]), fourcc("rsrc"));
  EXPECT_EQ(load_be32(&b[86]), fourcc("TLVN"));
  EXPECT_TRUE(std::equal(&b[0], &b[16], &b[256]));
  EXPECT_EQ(load_be16(&b[256 + 24]), 28u);
  EXPECT_EQ(load_be16(&b[256 + 26]), 30u);
  EXPECT_EQ(load_be16(&b[256 + 28]), 0xFFFFu);
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  EXPECT_TRUE(f->map.types.empty());
  // Creation never replaces a file.
  EXPECT_EQ(ResFile::create(file), kResExists);
  EXPECT_EQ(slurp(file), b);
}

TEST_F(Fork, GoldenBytesOfThreeResources) {
  std::string file = path("golden.rsrc");
  build(file, {{"TEST", 128, "name1", "Hello"}, {"TEST", 129, "name2", "World"}, {"test", 130, "name3", "How are you?"}});
  std::vector<uint8_t> b = slurp(file);
  ASSERT_EQ(b.size(), 390u);
  std::vector<uint8_t> want(256, 0);
  const uint8_t head[16] = {0, 0, 1, 0, 0, 0, 1, 0x22, 0, 0, 0, 0x22, 0, 0, 0, 0x64};
  std::copy(head, head + 16, want.begin());
  want[48] = 11;
  std::string name = "golden.rsrc";
  std::copy(name.begin(), name.end(), want.begin() + 49);
  const uint8_t rest[] = {
      // data area: 5 "Hello", 5 "World", 12 "How are you?"
      0, 0, 0, 5, 'H', 'e', 'l', 'l', 'o', 0, 0, 0, 5, 'W', 'o', 'r', 'l', 'd', 0, 0, 0, 12, 'H', 'o', 'w', ' ', 'a',
      'r', 'e', ' ', 'y', 'o', 'u', '?',
      // map: header copy, link, refnum, attributes, type-list and name-list offsets
      0, 0, 1, 0, 0, 0, 1, 0x22, 0, 0, 0, 0x22, 0, 0, 0, 0x64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0, 82,
      // type list: 2 types; TEST 2 refs at 18, test 1 ref at 42
      0, 1, 'T', 'E', 'S', 'T', 0, 1, 0, 18, 't', 'e', 's', 't', 0, 0, 0, 42,
      // references: id, name offset, attributes, data offset, handle slot
      0, 128, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 129, 0, 6, 0, 0, 0, 9, 0, 0, 0, 0, 0, 130, 0, 12, 0, 0, 0, 18, 0, 0, 0,
      0,
      // names
      5, 'n', 'a', 'm', 'e', '1', 5, 'n', 'a', 'm', 'e', '2', 5, 'n', 'a', 'm', 'e', '3'};
  want.insert(want.end(), rest, rest + sizeof rest);
  EXPECT_EQ(b, want);

  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  ASSERT_EQ(f->map.types.size(), 2u);
  EXPECT_EQ(f->map.types[0].refs.size(), 2u);
  EXPECT_EQ(f->map.types[1].refs.size(), 1u);
  ForkRef* r = find_ref(f->map, fourcc("test"), 130);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->name, "name3");
  std::vector<uint8_t> data;
  ASSERT_EQ(f->read_data(*r, data), 0);
  EXPECT_EQ(std::string(data.begin(), data.end()), "How are you?");
  EXPECT_EQ(find_ref(f->map, fourcc("TEST"), 129)->name, "name2");
}

// Lists, writes and reopens: a grown resource moves to the end of the data
// area; a shorter one is rewritten in place; removal drops an empty type;
// a longer name leaves the other names intact.
TEST_F(Fork, EditsSurviveReopening) {
  std::string file = path("edit.rsrc");
  build(file, {{"TEST", 128, "a", "12345"}, {"TEST", 129, "b", "xy"}, {"ONE ", 1, "", "solo"}});
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  ForkRef* grown = find_ref(f->map, fourcc("TEST"), 129);
  grown->attrs |= kResChanged;
  ASSERT_EQ(f->write_resource(*grown, text("a longer text")), 0);
  EXPECT_EQ(grown->data_offset, 9u + 6 + 8);  // behind the old data area
  ForkRef* shrunk = find_ref(f->map, fourcc("TEST"), 128);
  uint32_t at = shrunk->data_offset;
  shrunk->attrs |= kResChanged;
  ASSERT_EQ(f->write_resource(*shrunk, text("123")), 0);
  EXPECT_EQ(shrunk->data_offset, at);
  find_type(f->map, fourcc("ONE "))->refs.clear();
  shrunk->name = "a much longer name";
  f->map.attrs |= kMapChanged | kMapCompact;
  ASSERT_EQ(f->update([](const ForkRef&, std::span<const uint8_t>&) { return false; }), 0);
  f.reset();

  ASSERT_EQ(ResFile::open(file, f), 0);
  ASSERT_EQ(f->map.types.size(), 1u);
  std::string listing;
  ASSERT_EQ(list_fork(*f, listing), 0);
  EXPECT_EQ(listing,
            "type\tid\tname\tattrs\tlength\tsha256\n"
            "TEST\t128\ta much longer name\t0x00\t3\t" +
                sha256_hex(text("123")) + "\nTEST\t129\tb\t0x00\t13\t" + sha256_hex(text("a longer text")) + "\n");
  std::vector<uint8_t> b = slurp(file);
  EXPECT_TRUE(std::equal(&b[0], &b[16], &b[load_be32(&b[4])]));
  EXPECT_EQ(b.size(), uint64_t(load_be32(&b[4])) + load_be32(&b[12]));
}

TEST(ForkListing, CorpusForksListAsTheirReferences) {
  std::string dir = corpus_dir();
  if (dir.empty()) GTEST_SKIP() << "skipped: no corpus at " << corpus_place();
  for (const char* name :
       {"unicode.textClipping", "empty", "DiskCopy42", "Maelstrom_Sounds", "testfile", "mm_Candy.sounds"}) {
    std::string base = dir + "/rsrc/" + name;
    std::vector<uint8_t> want = slurp(base + ".listing.tsv");
    std::unique_ptr<ResFile> f;
    ASSERT_EQ(ResFile::open(base + ".rsrc", f), 0) << name;
    std::string got;
    ASSERT_EQ(list_fork(*f, got), 0) << name;
    EXPECT_EQ(got, std::string(want.begin(), want.end())) << name;
  }
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(dir + "/rsrc/mm_Candy.sounds.appledouble", f), 0);
  EXPECT_EQ(f->wrapper, Wrapper::AppleDouble);
  EXPECT_TRUE(f->read_only);
  std::string got;
  ASSERT_EQ(list_fork(*f, got), 0);
  std::vector<uint8_t> want = slurp(dir + "/rsrc/mm_Candy.sounds.listing.tsv");
  EXPECT_EQ(got, std::string(want.begin(), want.end()));
}

// A MacBinary file around a fork: version 1 (no CRC), 2 (CRC) or 3
// (signature and CRC), with a data fork in front and a secondary header.
std::vector<uint8_t> mac_binary(const std::vector<uint8_t>& fork, int version, bool break_crc = false) {
  std::vector<uint8_t> h(128, 0);
  h[1] = 4;
  std::memcpy(&h[2], "Test", 4);
  std::memcpy(&h[65], "rsrcRSED", 8);
  const uint32_t data_len = 100, second = version >= 2 ? 20 : 0;
  store_be32(&h[83], data_len);
  store_be32(&h[87], uint32_t(fork.size()));
  if (version >= 2) {
    store_be16(&h[120], second);
    h[122] = version == 3 ? 130 : 129;
    h[123] = 129;
    if (version == 3) std::memcpy(&h[102], "mBIN", 4);
    uint16_t crc = 0;
    for (int i = 0; i < 124; ++i) {
      crc ^= uint16_t(h[size_t(i)] << 8);
      for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    store_be16(&h[124], break_crc ? crc ^ 1 : crc);
  }
  h.resize(128 + (second ? 128 : 0) + 128, 0x5A);  // secondary header and data fork, padded
  h.insert(h.end(), fork.begin(), fork.end());
  h.resize((h.size() + 127) & ~size_t(127), 0);
  return h;
}

TEST_F(Fork, MacBinaryWrappersListAsTheForkInside) {
  std::string file = path("inner.rsrc");
  build(file, {{"STR ", -1, "one", "text"}, {"snd ", 5, "", "\x01\x02"}});
  std::vector<uint8_t> inner = slurp(file);
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  std::string want;
  ASSERT_EQ(list_fork(*f, want), 0);
  for (int version : {1, 2, 3}) {
    std::string wrapped = path("wrapped.bin");
    spit(wrapped, mac_binary(inner, version));
    std::string sha = file_sha(wrapped);
    ASSERT_EQ(ResFile::open(wrapped, f), 0) << version;
    EXPECT_EQ(f->wrapper, Wrapper::MacBinary);
    EXPECT_FALSE(f->writable());
    std::string got;
    ASSERT_EQ(list_fork(*f, got), 0);
    EXPECT_EQ(got, want) << version;
    // Wrapped forks are read-only: an update writes nothing.
    f->map.attrs |= kMapChanged;
    EXPECT_EQ(f->update([](const ForkRef&, std::span<const uint8_t>&) { return false; }), 0);
    f.reset();
    EXPECT_EQ(file_sha(wrapped), sha);
  }
  spit(path("bad.bin"), mac_binary(inner, 3, true));
  EXPECT_EQ(ResFile::open(path("bad.bin"), f), kResBadFile);
}

// Damaged files: each gives its code, is read nowhere outside its bytes
// (the sanitizer builds check that) and is left byte for byte as it was.
TEST_F(Fork, DamagedFilesAreRefusedAndLeftAlone) {
  std::string good = path("good.rsrc");
  build(good, {{"TEST", 128, "name1", "Hello"}, {"TEST", 129, "name2", "World"}, {"test", 130, "name3", "How?"}});
  const std::vector<uint8_t> base = slurp(good);
  const uint32_t map = load_be32(&base[4]);
  const uint32_t types = map + 28, refs = types + 2 + 16;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    int open_code;
    int load_code;
  };
  auto set16 = [](uint32_t at, uint32_t v) { return [=](std::vector<uint8_t>& b) { store_be16(&b[at], v); }; };
  auto set32 = [](uint32_t at, uint32_t v) { return [=](std::vector<uint8_t>& b) { store_be32(&b[at], v); }; };
  const std::vector<Case> cases = {
      {"truncated by one byte", [](auto& b) { b.pop_back(); }, kResBadFile, 0},
      {"truncated inside the header", [](auto& b) { b.resize(100); }, kResReadErr, 0},
      {"one byte appended", [](auto& b) { b.push_back(0); }, kResBadFile, 0},
      {"kind byte of a database", [](auto& b) { b[128] = 2; }, kResBadFile, 0},
      {"data offset not 256", set32(0, 300), kResBadFile, 0},
      {"map offset outside", set32(4, 0x7FFFFF00), kResBadFile, 0},
      {"map offset inside the header", set32(4, 100), kResBadFile, 0},
      {"data length past the map", set32(8, 0x1000), kResBadFile, 0},
      {"data length negative", set32(8, 0xFFFFFFF0), kResBadFile, 0},
      {"map length outside", set32(12, 0xFFFFFFFF), kResBadFile, 0},
      {"header copy differs", [=](auto& b) { b[map + 3] ^= 1; }, kResReadErr, 0},
      {"type-list offset outside", set16(map + 24, 0xFFF0), kResBadFile, 0},
      {"type-list offset inside the map header", set16(map + 24, 4), kResBadFile, 0},
      {"name-list offset outside", set16(map + 26, 0xFFF0), kResBadFile, 0},
      {"type count 0x7FFF", set16(types, 0x7FFF), kResBadFile, 0},
      {"reference count outside", set16(types + 2 + 4, 0x7FFF), kResBadFile, 0},
      {"reference-list offset outside", set16(types + 2 + 6, 0xFFF0), kResBadFile, 0},
      {"two types sharing one reference list",
       [=](auto& b) { store_be16(&b[types + 2 + 8 + 6], load_be16(&b[types + 2 + 6])); }, kResBadFile, 0},
      {"name offset outside", set16(refs + 2, 0x7FF0), kResBadFile, 0},
      {"name length past the map", [=](auto& b) { b[b.size() - 6] = 200; }, kResBadFile, 0},
      {"data offset past the area", [=](auto& b) { store_be24(&b[refs + 5], 0x7FFF); }, kResBadFile, 0},
      {"data offset at the last 3 bytes", [=](auto& b) { store_be24(&b[refs + 5], load_be32(&b[8]) - 3); }, kResBadFile,
       0},
      {"data length past the area", set32(256, 0xFFFFFFF0), 0, kResReadErr},
      {"data length one too long", set32(256, 5 + 4 + 5 + 4 + 4 + 1), 0, kResReadErr},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = base;
    c.damage(bytes);
    std::string file = path("bad.rsrc");
    spit(file, bytes);
    std::string sha = file_sha(file);
    std::unique_ptr<ResFile> f;
    EXPECT_EQ(ResFile::open(file, f), c.open_code) << c.what;
    if (c.open_code == 0 && f) {
      std::vector<uint8_t> data;
      int worst = 0;
      for (const ForkType& t : f->map.types)
        for (const ForkRef& r : t.refs)
          if (int e = f->read_data(r, data)) worst = e;
      EXPECT_EQ(worst, c.load_code) << c.what;
      f.reset();
    }
    EXPECT_EQ(file_sha(file), sha) << c.what;
  }
  // The parser alone agrees on every prefix of a good fork.
  ForkMap m;
  for (size_t n = 0; n < base.size(); ++n)
    EXPECT_NE(parse_fork(std::span(base).first(n), kResourceFork, m), 0) << n;
  EXPECT_EQ(parse_fork(base, kResourceFork, m), 0);
}

// The database variant of the map: 32-bit counts, offsets and IDs, the
// data size and a little-endian time in each reference.
TEST(ForkLayouts, DatabaseMapsRoundTrip) {
  ForkMap empty;
  ForkHeader h;
  std::vector<uint8_t> out;
  ASSERT_EQ(serialize_map(empty, h, out, kDatabaseFork), 0);
  ASSERT_EQ(out.size(), 38u);
  EXPECT_EQ(load_be32(&out[26]), 34u);
  EXPECT_EQ(load_be32(&out[30]), 38u);
  EXPECT_EQ(load_be32(&out[34]), 0xFFFFFFFFu);

  ForkMap m;
  std::string name = "record";
  ForkRef& a = add_ref(m, fourcc("Txt1"), 100000, &name, 0);
  a.data_offset = 0;
  a.size = 10;
  a.time = 0x01020304;
  ForkRef& b = add_ref(m, fourcc("Txt1"), -70000, nullptr, 0);
  b.data_offset = 10;
  b.size = 5;
  add_ref(m, fourcc("Tlv "), 1, nullptr, 0);  // never written: no data, no size
  h.data_length = 15;
  h.map_offset = 256 + 15;
  ASSERT_EQ(serialize_map(m, h, out, kDatabaseFork), 0);
  EXPECT_EQ(out.size(), 34u + 4 + 2 * 12 + 3 * 26 + 7);
  EXPECT_EQ(out[34 + 4 + 24 + 18], 0x04);  // the time, lowest byte first
  ForkMap back;
  ASSERT_EQ(parse_map(out, h, kDatabaseFork, back), 0);
  ASSERT_EQ(back.types.size(), 2u);
  EXPECT_EQ(back.types[0].refs[0].id, 100000);
  EXPECT_EQ(back.types[0].refs[0].name, "record");
  EXPECT_EQ(back.types[0].refs[0].time, 0x01020304u);
  EXPECT_EQ(back.types[0].refs[1].id, -70000);
  EXPECT_EQ(back.types[0].refs[1].size, 5u);
  EXPECT_EQ(back.types[1].refs[0].size, 0xFFFFFFFFu);
  // A record whose size runs past the data area is refused.
  m.types[0].refs[1].size = 6;
  ASSERT_EQ(serialize_map(m, h, out, kDatabaseFork), 0);
  EXPECT_EQ(parse_map(out, h, kDatabaseFork, back), kResBadFile);
  // The kind byte tells the variants apart.
  std::vector<uint8_t> head = new_fork_header("db", 0, 0, 2);
  ForkHeader hh;
  hh.map_length = 38;
  put_header_fields(head.data(), hh);
  EXPECT_EQ(parse_header(head, 256 + 38, kDatabaseFork, hh), 0);
  EXPECT_EQ(parse_header(head, 256 + 38, kResourceFork, hh), kResBadFile);
}

// The limits of the format are refused when a map is written.
TEST(ForkLimits, OversizedMapsAreNotWritten) {
  ForkMap m;
  std::string name(300, 'n');
  for (int i = 0; i < 6000; ++i) add_ref(m, fourcc("BIG "), i, nullptr, 0);
  ForkHeader h;
  std::vector<uint8_t> out;
  EXPECT_EQ(serialize_map(m, h, out), kResWriteErr);  // reference lists past 64 KB
  ForkMap names;
  for (int i = 0; i < 300; ++i) add_ref(names, fourcc("NAME"), i, &name, 0);
  EXPECT_EQ(names.types[0].refs[0].name.size(), 255u);
  EXPECT_EQ(serialize_map(names, h, out), kResWriteErr);  // name list past 64 KB
  names.types[0].refs.resize(10);
  EXPECT_EQ(serialize_map(names, h, out), 0);
}

}  // namespace
