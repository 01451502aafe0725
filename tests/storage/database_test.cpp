// Record databases through their primitives: exact file sizes, the 70 %
// rule, read-only files, corrupted files, the crash loops over value puts
// and compaction, and the guarded closing of every database.
#include "storage/databases.hpp"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "core/errors.hpp"
#include "core/module.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "data/state.hpp"
#include "core/bytes.hpp"
#include "storage/database.hpp"
#include "storage/resfile.hpp"
#include "tests/data/calls.hpp"
#include "tests/storage/crash_loop.hpp"
#include "tests/storage/handle_data.hpp"
#include "tests/storage/rsrc_files.hpp"

namespace core::testing {
namespace {
using namespace storage;
using rsrc_testing::file_sha;
using rsrc_testing::Scratch;
using rsrc_testing::slurp;
using rsrc_testing::spit;

// The map of a database as the layout gives it: the fixed part, 12 bytes
// per type, 26 per record, the names with their length bytes.
uint64_t map_length(uint64_t types, uint64_t records, uint64_t name_bytes) {
  return 34 + 4 + 12 * types + 26 * records + name_bytes;
}

class Databases : public NativeCallTest, public Scratch {
 protected:
  Value open(const std::string& file, int mode = 2) { return call("open-database", str(file.c_str()), fix(mode)); }
  std::string fresh(const std::string& name) {
    std::string file = path(name);
    call("create-database-subr", str(file.c_str()), str("CREA"), str("TYPE"));
    return file;
  }
  int32_t num(Value v) { return read_integer(v); }
  uint64_t size_of(const std::string& file) { return slurp(file).size(); }
  // The storage error number of a call, or -1 when it returns; a machine
  // error answers 1000 plus its number.
  template <typename F>
  int storage_error_in(F f) {
    int n = error_in(f);
    if (n >= 0 && rt().last_error.kind != kErrorKindStorage) return 1000 + n;
    return n;
  }
  void set_compaction(bool on) { set_symbol_value(find_symbol("Compact-Databases?"), on ? t() : kNil); }
  std::string listing(const std::string& file, int& code) {
    DbHandle h;
    code = open_database_path(file, true, h);
    // While this process writes the file through Lisp it holds the file's
    // lock: a second writable handle is refused, and the listing reads it.
    if (code != 0) code = open_database_path(file, false, h);
    std::string out;
    if (code == 0) code = list_database(*h.db, out);
    return out;
  }
};

TEST_F(Databases, NewDatabaseAndRoundTripSizes) {
  std::string file = fresh("new.db");
  std::vector<uint8_t> b = slurp(file);
  ASSERT_EQ(b.size(), 294u);
  EXPECT_EQ(load_be32(&b[0]), 256u);
  EXPECT_EQ(load_be32(&b[4]), 256u);
  EXPECT_EQ(load_be32(&b[8]), 0u);
  EXPECT_EQ(load_be32(&b[12]), 38u);
  EXPECT_EQ(std::string(b.begin() + 16, b.begin() + 24), "CREATYPE");
  EXPECT_EQ(b[128], 2);
  EXPECT_EQ(load_be32(&b[136]), 0xFFFFFFFFu);
  EXPECT_EQ(load_be32(&b[140]), 0u);
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 256, b.begin() + 272), std::vector<uint8_t>(b.begin(), b.begin() + 16));
  EXPECT_EQ(load_be32(&b[256 + 34]), 0xFFFFFFFFu);
  EXPECT_TRUE(call("database?", str(file.c_str())) == t());
  EXPECT_EQ(storage_error_in([&] { call("create-database-subr", str(file.c_str()), kNil, kNil); }), 6);
  EXPECT_EQ(text(rt().last_error.culprit), file);

  Value db = open(file);
  EXPECT_EQ(num(call("count-record-types", db)), 0);
  call("put-record-number", fix(40000), str("NUMB"), fix(1), db);
  call("put-record-number", fix(-5), str("NUMB"), fix(2), db);
  call("put-record-string", str("hello"), str("Txt1"), fix(100000), db);
  call("add-record", handle_with("named bytes"), str("DATA"), fix(-70000), str("a name"), db);
  EXPECT_EQ(num(call("get-record-number", str("NUMB"), fix(1), db)), 40000);
  EXPECT_EQ(num(call("get-record-number", str("NUMB"), fix(2), db)), -5);
  EXPECT_EQ(num(call("get-record-size", call("get-record", str("NUMB"), fix(1), db, kNil))), 4);
  EXPECT_EQ(num(call("get-record-size", call("get-record", str("NUMB"), fix(2), db, kNil))), 2);
  call("close-database", db, kNil);
  // Data: 4 + 2 + 6 + 11 bytes; three types, four records, one name of 6.
  EXPECT_EQ(size_of(file), 256 + 23 + map_length(3, 4, 7));

  db = open(file, 0);
  EXPECT_EQ(num(call("count-record-types", db)), 3);
  EXPECT_EQ(text(call("get-indexed-type", fix(2), db)), "DATA");
  EXPECT_EQ(text(call("get-indexed-type", fix(3), db)), "");
  EXPECT_EQ(num(call("count-records", str("NUMB"), db)), 2);
  EXPECT_EQ(num(call("count-records", str("NONE"), db)), 0);
  EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(100000), db)), "hello");
  Value r = call("get-record", str("DATA"), str("a name"), db, kNil);
  EXPECT_EQ(bytes_of(r), "named bytes");
  EXPECT_EQ(num(call("get-record-id", r)), -70000);
  EXPECT_EQ(text(call("get-record-name", r)), "a name");
  EXPECT_EQ(num(call("get-record-attributes", r)), 0x40);
  EXPECT_EQ(box_addr(call("home-database", r)), box_addr(db));
  EXPECT_EQ(box_addr(call("get-record", str("DATA"), fix(5), db, kNil)), 0u);
  EXPECT_EQ(box_addr(call("get-indexed-record", str("NUMB"), fix(-1), db, kNil)), 0u);
  EXPECT_EQ(num(call("get-record-id", call("get-indexed-record", str("NUMB"), fix(0), db, kNil))), 1);
  EXPECT_EQ(storage_error_in([&] { call("get-indexed-record", str("NUMB"), fix(2), db, kNil); }), 5);
  // With no-load the handle comes empty; loading fills it.
  Value lazy = call("get-indexed-record", str("NUMB"), fix(1), db, t());
  EXPECT_EQ(num(call("get-record-size", lazy)), 2);  // the stored size
  call("load-record", lazy);
  EXPECT_EQ(bytes_of(lazy), std::string("\xFF\xFB", 2));
  call("close-database", db, kNil);
  EXPECT_EQ(storage_error_in([&] { call("count-record-types", db); }), 4);
  EXPECT_EQ(storage_error_in([&] { call("get-record-id", r); }), 5);
}

TEST_F(Databases, RecordEditsAndRefusals) {
  std::string file = fresh("edit.db");
  Value db = open(file);
  Value h = handle_with("abc");
  EXPECT_EQ(storage_error_in([&] { call("add-record", kNil, str("TEST"), fix(1), kNil, db); }), 7);
  call("add-record", h, str("TEST"), fix(1), str("one"), db);
  EXPECT_EQ(box_kind(h), kBoxRecord);
  EXPECT_EQ(num(call("get-handle-size", h)), 3);  // a record is its data's handle
  // A handle that is already a record is refused as a new record.
  EXPECT_EQ(storage_error_in([&] { call("add-record", h, str("TEST"), fix(2), kNil, db); }), 7);
  EXPECT_EQ(storage_error_in([&] { call("add-record", call("getresource", str("X"), fix(1)), str("TEST"), fix(2), kNil, db); }), 7);
  call("add-record", handle_with("defg"), str("TEST"), fix(2), kNil, db);
  call("add-record", handle_with("xyz"), str("OTHR"), fix(0), kNil, db);
  EXPECT_EQ(num(call("unique-record-id", str("TEST"), db)), 0);
  EXPECT_EQ(num(call("unique-record-id", str("TEST"), db)), 3);
  // Across databases the ID is free in every one of them.
  std::string other_file = fresh("other.db");
  Value other = open(other_file);
  call("put-record-number", fix(1), str("TEST"), fix(4), other);
  call("put-record-number", fix(1), str("TEST"), fix(6), other);
  call("put-record-number", fix(1), str("TEST"), fix(5), db);
  call("unique-record-id", str("ELSE"), db);
  EXPECT_EQ(num(call("unique-record-id", str("TEST"), db, kNil, other)), 0);
  EXPECT_EQ(num(call("unique-record-id", str("TEST"), db, kNil, other)), 3);
  EXPECT_EQ(num(call("unique-record-id", str("TEST"), db, kNil, other)), 7);
  call("close-database", other, kNil);

  call("set-record-info", h, fix(10), str("renamed"));
  EXPECT_EQ(num(call("get-record-id", h)), 10);
  call("set-record-attributes", h, fix(kResProtected));
  EXPECT_EQ(storage_error_in([&] { call("remove-record", h); }), 8);
  call("set-record-attributes", h, fix(0));
  Value gone = call("get-record", str("TEST"), fix(2), db, kNil);
  call("remove-record", gone);
  EXPECT_EQ(box_kind(gone), kBoxHandle);
  EXPECT_EQ(bytes_of(gone), "defg");
  Value detached = call("get-record", str("OTHR"), fix(0), db, kNil);
  call("detach-record", detached);
  EXPECT_EQ(box_kind(detached), kBoxHandle);
  call("update-database", db);
  call("close-database", db, kNil);

  db = open(file);
  EXPECT_EQ(num(call("count-records", str("TEST"), db)), 2);
  Value back = call("get-record", str("TEST"), str("renamed"), db, kNil);
  EXPECT_EQ(bytes_of(back), "abc");
  EXPECT_EQ(box_addr(call("get-record", str("TEST"), fix(2), db, kNil)), 0u);
  std::string printed = describe(back);
  char want[80];
  std::snprintf(want, sizeof want, "<record TEST 10 \"renamed\" %x of size 3>", box_addr(back));
  EXPECT_EQ(printed, want);
  call("release-record", back);
  EXPECT_EQ(box_addr(back), 0u);
  // A record whose handle was released loads again from the file.
  EXPECT_EQ(bytes_of(call("get-record", str("TEST"), fix(10), db, kNil)), "abc");
  call("close-database", db, kNil);
  EXPECT_EQ(describe(back), "<null record>");
}

TEST_F(Databases, SameFileUnderTwoNamesIsOneDatabase) {
  std::string file = fresh("same.db");
  Value a = open(file);
  std::string link = path("link.db");
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  EXPECT_EQ(box_addr(open(link)), box_addr(a));
  EXPECT_EQ(box_addr(open(dir + "/./same.db", 0)), box_addr(a));
  call("close-database", a, kNil);
  EXPECT_EQ(open_database_count(), 0u);
}

// A database filled, then grown record by record: the length each update
// leaves follows from the rule, computed here from the records alone.
TEST_F(Databases, SeventyPercentRule) {
  for (bool compaction : {true, false}) {
    std::string file = fresh(compaction ? "rule-on.db" : "rule-off.db");
    set_compaction(compaction);
    Value db = open(file);
    uint64_t stored[2] = {0, 0};
    bool written[2] = {false, false};
    uint64_t data_length = 0;
    int compactions = 0;
    std::string value[2];
    for (int step = 0; step < 16; ++step) {
      int i = step % 2;
      value[i] += char('a' + i);
      uint64_t size = value[i].size() + 1;
      uint64_t in_use = (written[0] ? stored[0] : 0) + (written[1] ? stored[1] : 0);
      bool compact = compaction && data_length * 7 / 10 > in_use;
      if (!compact && (!written[i] || size > stored[i])) data_length += size;
      stored[i] = size;
      written[i] = true;
      if (compact) {
        data_length = (written[0] ? stored[0] : 0) + (written[1] ? stored[1] : 0);
        ++compactions;
      }
      call("put-record-string", str(value[i].c_str()), str("Txt1"), fix(i + 1), db);
      ASSERT_EQ(size_of(file), 256 + data_length + map_length(1, written[1] ? 2 : 1, 0)) << step;
    }
    EXPECT_EQ(compactions > 0, compaction);
    call("close-database", db, kNil);
    db = open(file, 0);
    EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(1), db)), value[0]);
    EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(2), db)), value[1]);
    call("close-database", db, kNil);
  }
  set_compaction(true);
  // Explicit compaction packs the data area whatever the rule says.
  std::string file = fresh("explicit.db");
  set_compaction(false);
  Value db = open(file);
  call("put-record-string", str("x"), str("Txt1"), fix(1), db);
  call("put-record-string", str("yy"), str("Txt1"), fix(2), db);
  call("put-record-string", str("xxx"), str("Txt1"), fix(1), db);
  EXPECT_EQ(size_of(file), 256 + 2 + 3 + 4 + map_length(1, 2, 0));
  call("compact-database", db);
  EXPECT_EQ(size_of(file), 256 + 3 + 4 + map_length(1, 2, 0));
  EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(2), db)), "yy");
  call("close-database", db, kNil);
  set_compaction(true);
  // No temporary file stays behind.
  EXPECT_FALSE(std::filesystem::exists(DbFile::compaction_path(file)));

  // When the compacted file cannot be written, the update writes in place.
  file = fresh("fallback.db");
  db = open(file);
  for (const char* v : {"a", "b", "aa", "bb"}) call("put-record-string", str(v), str("Txt1"), fix(v[0] - 'a' + 1), db);
  EXPECT_EQ(size_of(file), 256 + 10 + map_length(1, 2, 0));
  set_write_fault(1, FaultMode::Fail);
  call("put-record-string", str("aaa"), str("Txt1"), fix(1), db);  // the rule fires
  clear_write_fault();
  EXPECT_EQ(size_of(file), 256 + 14 + map_length(1, 2, 0));
  EXPECT_FALSE(std::filesystem::exists(DbFile::compaction_path(file)));
  call("put-record-string", str("bbb"), str("Txt1"), fix(2), db);
  EXPECT_EQ(size_of(file), 256 + 8 + map_length(1, 2, 0));
  call("close-database", db, kNil);
}

TEST_F(Databases, ReadOnlyDatabasesRefuseChanges) {
  std::string file = fresh("ro.db");
  Value db = open(file);
  call("put-record-string", str("kept"), str("TEXT"), fix(1), db);
  call("close-database", db, kNil);
  std::string sha = file_sha(file);
  db = open(file, 0);
  Value r = call("get-record", str("TEXT"), fix(1), db, kNil);
  EXPECT_EQ(num(call("get-record-attributes", r)) & 0x80, 0);
  EXPECT_EQ(storage_error_in([&] { call("changed-record", r); }), 9);
  EXPECT_EQ(storage_error_in([&] { call("set-record-attributes", r, fix(0)); }), 9);
  EXPECT_EQ(storage_error_in([&] { call("set-record-info", r, fix(3), kNil); }), 9);
  EXPECT_EQ(storage_error_in([&] { call("remove-record", r); }), 9);
  EXPECT_EQ(storage_error_in([&] { call("add-record", handle_with("x"), str("TEXT"), fix(2), kNil, db); }), 9);
  EXPECT_EQ(storage_error_in([&] { call("put-record-string", str("new"), str("TEXT"), fix(1), db); }), 9);
  EXPECT_EQ(storage_error_in([&] { call("compact-database", db); }), 9);
  call("write-record", r);
  call("update-database", db);
  call("close-database", db, kNil);
  EXPECT_EQ(file_sha(file), sha);
}

// A database as another writer may leave it: every record (type, ID)
// names the same bytes, the whole data area.
std::vector<uint8_t> database_sharing(const std::vector<std::pair<const char*, int>>& records, const std::string& data) {
  ForkMap m;
  for (auto& [type, id] : records) {
    ForkRef& r = add_ref(m, fourcc(type), id, nullptr, 0);
    r.attrs = 0;
    r.data_offset = 0;
    r.size = uint32_t(data.size());
  }
  ForkHeader h;
  h.data_length = uint32_t(data.size());
  h.map_offset = uint32_t(kForkHeaderSize + data.size());
  std::vector<uint8_t> map;
  EXPECT_EQ(serialize_map(m, h, map, kDatabaseFork), 0);
  std::vector<uint8_t> bytes = new_database(0, 0);
  bytes.resize(kForkHeaderSize);
  put_header_fields(bytes.data(), h);
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.insert(bytes.end(), map.begin(), map.end());
  return bytes;
}

// Text written on the classic desktop is converted once, as it is loaded;
// once written back from memory it carries the converted mark.
TEST_F(Databases, TextRecordsConvertOnce) {
  std::string file = path("mac.db");
  spit(file, database_sharing({{"TEXT", 1}, {"DATA", 1}}, "\x8E" "a\x8A"));  // e acute, a, a umlaut
  Value db = open(file);
  Value t1 = call("get-record", str("TEXT"), fix(1), db, kNil);
  EXPECT_EQ(bytes_of(t1), "\xE9" "a\xE4");
  EXPECT_EQ(bytes_of(call("get-record", str("DATA"), fix(1), db, kNil)), "\x8E" "a\x8A");
  call("changed-record", t1);
  EXPECT_EQ(num(call("get-record-attributes", t1)), 0x42);
  call("close-database", db, kNil);
  db = open(file);
  EXPECT_EQ(bytes_of(call("get-record", str("TEXT"), fix(1), db, kNil)), "\xE9" "a\xE4");
  call("close-database", db, kNil);
}

// Two records naming the same bytes (as files from elsewhere may): writing
// one never changes the other, and compaction gives each its own copy.
TEST_F(Databases, SharedBytesAreNeverOverwritten) {
  std::string file = path("shared.db");
  spit(file, database_sharing({{"DATA", 1}, {"DATA", 2}}, "hello"));
  set_compaction(false);
  Value db = open(file);
  Value one = call("get-record", str("DATA"), fix(1), db, kNil);
  std::memcpy(rt().region.ptr(data::handle_memory(box_addr(one))), "HELL", 4);
  data::set_handle_size(box_addr(one), 4);
  call("changed-record", one);
  call("write-record", one);
  EXPECT_EQ(size_of(file), 256 + 5 + 4 + map_length(1, 2, 0));
  call("close-database", db, kNil);
  db = open(file);
  EXPECT_EQ(bytes_of(call("get-record", str("DATA"), fix(1), db, kNil)), "HELL");
  EXPECT_EQ(bytes_of(call("get-record", str("DATA"), fix(2), db, kNil)), "hello");
  call("compact-database", db);
  EXPECT_EQ(size_of(file), 256 + 4 + 5 + map_length(1, 2, 0));
  call("close-database", db, kNil);
  set_compaction(true);
  int code = 0;
  std::string l = listing(file, code);
  EXPECT_NE(l.find("DATA\t2\t\t0x00\t5\t"), std::string::npos) << l;
}

TEST_F(Databases, ChangesWithoutDataAreNeverWrittenEmpty) {
  std::string file = fresh("nodata.db");
  Value db = open(file);
  call("put-record-string", str("precious"), str("Txt1"), fix(1), db);
  Value r = call("get-record", str("Txt1"), fix(1), db, kNil);
  call("set-record-attributes", r, fix(kResPurgeable | kRecConverted));
  call("changed-record", r);
  // Changed data is kept in memory however purgeable its record is.
  const data::HandleEntry* e = data::data_state().handles.find(box_addr(r));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->purgeable, 0u);
  call("release-record", r);
  call("update-database", db);
  EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(1), db)), "precious");
  // A record fetched without its data and marked changed keeps its bytes
  // on disk while the handle stays empty, and writes what a program put
  // into the handle.
  Value lazy = call("get-record", str("Txt1"), fix(1), db, t());
  call("release-record", lazy);
  lazy = call("get-record", str("Txt1"), fix(1), db, t());
  EXPECT_EQ(bytes_of(lazy), "");
  call("changed-record", lazy);
  call("update-database", db);
  EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(1), db)), "precious");
  lazy = call("get-record", str("Txt1"), fix(1), db, t());
  call("release-record", lazy);
  lazy = call("get-record", str("Txt1"), fix(1), db, t());
  data::set_handle_size(box_addr(lazy), 4);
  std::memcpy(rt().region.ptr(data::handle_memory(box_addr(lazy))), "new", 4);
  call("changed-record", lazy);
  call("update-database", db);
  EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(1), db)), "new");
  // A purged handle has lost its bytes: marking it changed writes nothing.
  Value purged = call("get-record", str("Txt1"), fix(1), db, kNil);
  data::set_handle_size(box_addr(purged), 0);
  call("hpurge", purged);
  call("changed-record", purged);
  call("update-database", db);
  EXPECT_EQ(text(call("get-record-string", str("Txt1"), fix(1), db)), "new");
  call("close-database", db, kNil);
}

TEST_F(Databases, ValueRecordsHoldOnlyImmediateWords) {
  std::string file = fresh("values.db");
  Value db = open(file);
  Value v = call("vector", fix(1), fix(-2), kNil, fix('a'));
  call("put-record-vector", v, str("VECT"), fix(1), db);
  EXPECT_EQ(bytes_of(call("get-record", str("VECT"), fix(1), db, kNil)).size(), 2u + 4 * 4);
  EXPECT_EQ(text(call("vector->list", call("get-record-vector", str("VECT"), fix(1), db))), "(1 -2 () 97)");
  EXPECT_EQ(storage_error_in([&] { call("put-record-vector", call("vector", str("heap")), str("VECT"), fix(2), db); }), 1002);
  EXPECT_EQ(storage_error_in([&] { call("put-record-vector", call("vector", t()), str("VECT"), fix(2), db); }), 1002);
  Value a = call("make-array", fix(2), fix(3));
  call("array-set!", a, fix(7), fix(1), fix(2));
  call("put-record-array", a, str("ARRY"), fix(1), db);
  EXPECT_EQ(bytes_of(call("get-record", str("ARRY"), fix(1), db, kNil)).size(), 4u + 2 * 2 + 4 * 6);
  EXPECT_EQ(num(call("array-ref", call("get-record-array", str("ARRY"), fix(1), db), fix(1), fix(2))), 7);

  // Damaged value records: counts past the record, node words, dimensions
  // that do not name the elements, a string without its zero.
  auto put_raw = [&](const char* type, int id, std::string bytes) {
    call("add-record", handle_with(bytes), str(type), fix(id), kNil, db);
  };
  std::string node(6, '\0');
  node[0] = 1;
  uint32_t pair = Value::make(Tag::Pair, 8).bits;
  std::memcpy(&node[2], &pair, 4);
  put_raw("VECT", 10, std::string("\x05\x00\x01\x00\x00\x02", 6));  // 5 elements in 4 bytes
  put_raw("VECT", 11, node);
  put_raw("VECT", 12, std::string("\x01", 1));
  put_raw("ARRY", 10, std::string("\x02\x00\x01\x00\x03\x00", 6) + std::string(8, '\0'));  // dimension 3, 2 elements
  put_raw("ARRY", 11, std::string("\xFF\xFF\x01\x00", 4));
  put_raw("STRG", 1, "no zero here");
  put_raw("NUMB", 1, "333");
  for (int id : {10, 11, 12}) {
    EXPECT_EQ(storage_error_in([&] { call("get-record-vector", str("VECT"), fix(id), db); }), 1002) << id;
    EXPECT_EQ(text(rt().last_error.culprit), std::to_string(id));
  }
  for (int id : {10, 11}) EXPECT_EQ(storage_error_in([&] { call("get-record-array", str("ARRY"), fix(id), db); }), 1002);
  EXPECT_EQ(text(call("get-record-string", str("STRG"), fix(1), db)), "no zero here");
  EXPECT_EQ(storage_error_in([&] { call("get-record-number", str("NUMB"), fix(1), db); }), 1002);
  EXPECT_EQ(storage_error_in([&] { call("get-record-number", str("NUMB"), fix(2), db); }), 1002);
  call("close-database", db, kNil);
}

// Damaged files each give their storage error, never a crash, and are
// never written.
TEST_F(Databases, CorruptedFilesAreRefused) {
  std::string good = fresh("good.db");
  Value db = open(good);
  call("put-record-string", str("one"), str("Txt1"), fix(1), db);
  call("add-record", handle_with("two"), str("Txt1"), fix(2), str("second"), db);
  call("close-database", db, kNil);
  const std::vector<uint8_t> base = slurp(good);
  uint32_t map_at = load_be32(&base[4]);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    int error;
  };
  const uint32_t list = map_at + 34;  // the type list
  std::vector<Case> cases = {
      {"short header", [](auto& b) { b.resize(200); }, 3},
      {"empty file", [](auto& b) { b.clear(); }, 3},
      {"kind byte of a resource file", [](auto& b) { b[128] = 0; }, 1},
      {"data offset", [](auto& b) { store_be32(&b[0], 255); }, 1},
      {"map offset past the end", [](auto& b) { store_be32(&b[4], 0x7FFFFFF0); }, 1},
      {"map length", [](auto& b) { store_be32(&b[12], load_be32(&b[12]) + 1); }, 1},
      {"data running into the map", [](auto& b) { store_be32(&b[8], load_be32(&b[8]) + 1); }, 1},
      {"negative length", [](auto& b) { store_be32(&b[8], 0x80000000u); }, 1},
      {"header copy", [&](auto& b) { b[map_at + 3] ^= 1; }, 1},
      {"type list offset", [&](auto& b) { store_be32(&b[map_at + 26], 0xFFFFFFF0u); }, 1},
      {"name list offset", [&](auto& b) { store_be32(&b[map_at + 30], 0x7FFFFFFFu); }, 1},
      {"type count", [&](auto& b) { store_be32(&b[list], 0x10000000u); }, 1},
      {"record count", [&](auto& b) { store_be32(&b[list + 8], 0x7FFFFFFFu); }, 1},
      {"reference list offset", [&](auto& b) { store_be32(&b[list + 12], 0xFFFFFF00u); }, 1},
      {"data offset of a record", [&](auto& b) { store_be32(&b[list + 16 + 10], 0x7FFFFFF0u); }, 1},
      {"data size of a record", [&](auto& b) { store_be32(&b[list + 16 + 14], 0x7FFFFFF0u); }, 1},
      {"name offset", [&](auto& b) { store_be32(&b[list + 16 + 26 + 4], 0x00FFFFFFu); }, 1},
      {"name length", [&](auto& b) { b[b.size() - 7] = 200; }, 1},
  };
  std::string file = path("bad.db");
  for (const Case& c : cases) {
    std::vector<uint8_t> b = base;
    c.damage(b);
    spit(file, b);
    std::string sha = file_sha(file);
    EXPECT_EQ(storage_error_in([&] { open(file); }), c.error) << c.what;
    EXPECT_EQ(file_sha(file), sha) << c.what;
    EXPECT_EQ(open_database_count(), 0u) << c.what;
  }
  // A resource file is no database, and a database no resource file.
  std::string rsrc = path("res.rsrc");
  ASSERT_EQ(ResFile::create(rsrc), 0);
  EXPECT_TRUE(call("database?", str(rsrc.c_str())) == kNil);
  EXPECT_EQ(storage_error_in([&] { open(rsrc); }), 1);
  EXPECT_EQ(num(call("openresfile", str(good.c_str()))), -1);
  // Every prefix of a good database is refused the same way.
  for (size_t n = 0; n < base.size(); n += 7) {
    spit(file, std::vector<uint8_t>(base.begin(), base.begin() + long(n)));
    int e = storage_error_in([&] { open(file); });
    EXPECT_TRUE(e == 1 || e == 3) << n;
  }
  // A record whose size says it was never written loads nothing.
  std::vector<uint8_t> b = base;
  store_be32(&b[list + 16 + 14], 0xFFFFFFFFu);
  spit(file, b);
  db = open(file, 0);
  Value r = call("get-record", str("Txt1"), fix(1), db, kNil);
  EXPECT_EQ(bytes_of(r), "");
  EXPECT_EQ(num(call("get-record-size", r)), -1);
  call("close-database", db, kNil);
}

TEST_F(Databases, CreateInTruncatesAndFailuresRollBack) {
  std::string file = path("long.bin");
  spit(file, std::vector<uint8_t>(5000, 'z'));
  call("create-database-in-subr", str(file.c_str()), str("ab"), str("cd"));
  std::vector<uint8_t> b = slurp(file);
  ASSERT_EQ(b.size(), 294u);
  EXPECT_EQ(std::string(b.begin() + 16, b.begin() + 24), "ab  cd  ");
  EXPECT_EQ(storage_error_in([&] { call("create-database-in-subr", str(path("none").c_str()), kNil, kNil); }), 6);

  // A write that fails is error 46; the file keeps its old state and the
  // change stays pending.
  Value db = open(file);
  call("put-record-string", str("first"), str("Txt1"), fix(1), db);
  std::string sha = file_sha(file);
  Value r = call("get-record", str("Txt1"), fix(1), db, kNil);
  data::set_handle_size(box_addr(r), 30);
  call("changed-record", r);
  set_write_fault(1, FaultMode::Fail);
  EXPECT_EQ(storage_error_in([&] { call("write-record", r); }), 1046);
  set_write_fault(1, FaultMode::Fail);
  EXPECT_EQ(storage_error_in([&] { call("put-record-string", str("second, longer"), str("Txt1"), fix(1), db); }), 1046);
  set_write_fault(2, FaultMode::Fail);
  EXPECT_EQ(storage_error_in([&] { call("compact-database", db); }), 1046);
  clear_write_fault();
  EXPECT_EQ(file_sha(file), sha);
  EXPECT_EQ(num(call("get-record-attributes", r)) & kResChanged, kResChanged);
  // Closing keeps a database whose changes cannot be written open.
  set_write_fault(1, FaultMode::Fail);
  EXPECT_EQ(storage_error_in([&] { call("close-database", db, kNil); }), 1046);
  clear_write_fault();
  EXPECT_EQ(open_database_count(), 1u);
  call("close-database", db, kNil);
  EXPECT_EQ(open_database_count(), 0u);
}

// close_all_databases closes every database even when one cannot be written.
TEST_F(Databases, CloseAllIsGuardedPerDatabase) {
  std::string a = fresh("a.db"), b = fresh("b.db"), c = fresh("c.db");
  Value da = open(a), db = open(b), dc = open(c, 0);
  call("add-record", handle_with("A"), str("DATA"), fix(1), kNil, da);
  call("add-record", handle_with("B"), str("DATA"), fix(1), kNil, db);
  rt().write_error_line = [](const std::string&) {};
  // The newest writable database (b) is closed first, and fails.
  set_write_fault(1, FaultMode::Fail);
  EXPECT_EQ(close_all_databases(), 1);
  clear_write_fault();
  EXPECT_EQ(open_database_count(), 0u);
  EXPECT_EQ(close_all_databases(), 0);
  int code = 0;
  EXPECT_NE(listing(a, code).find("DATA\t1\t\t0x40\t1\t"), std::string::npos);
  EXPECT_EQ(listing(b, code).find("DATA"), std::string::npos);
  (void)dc;

  // The orderly shutdown writes and closes what is still open.
  Value again = open(b);
  call("add-record", handle_with("late"), str("DATA"), fix(2), kNil, again);
  shutdown_modules(rt());
  EXPECT_NE(listing(b, code).find("DATA\t2\t\t0x40\t4\t"), std::string::npos);
}

// The crash loops: a child dies at the n-th write of a put of a longer
// string, and of a compaction; every reopened database opens and holds the
// old or the new value, the other record untouched.
TEST_F(Databases, CrashLoops) {
  std::string pristine = fresh("base.db");
  set_compaction(false);
  Value db = open(pristine);
  call("put-record-string", str("short"), str("Txt1"), fix(1), db);
  call("put-record-string", str("the other record"), str("Txt1"), fix(2), db);
  call("put-record-string", str("short, then longer"), str("Txt1"), fix(1), db);
  call("close-database", db, kNil);
  set_compaction(true);
  std::string file = path("crash.db");
  auto sequence = [&](std::vector<std::string>* states) {
    int code = 0;
    set_compaction(false);
    Value d = open(file);
    call("put-record-string", str("a value a good deal longer than any before it"), str("Txt1"), fix(1), d);
    if (states) states->push_back(listing(file, code));
    call("compact-database", d);
    if (states) states->push_back(listing(file, code));
    call("put-record-string", str("tiny"), str("Txt1"), fix(2), d);
    call("close-database", d, kNil);
    if (states) states->push_back(listing(file, code));
  };
  spit(file, slurp(pristine));
  int code = 0;
  std::vector<std::string> states{listing(file, code)};
  sequence(&states);
  set_compaction(true);
  rsrc_testing::kill_at_every_write({
      .restore = [&] { spit(file, slurp(pristine)); },
      .run =
          [&] {
            sequence(nullptr);
            return true;
          },
      .state = [&](int& c) { return listing(file, c); },
      .states = states,
      .distinct = 3,  // compaction changes the layout, not the listing
      .after_death =
          [&](uint64_t) {
            Value d = open(file, 0);
            std::string one = text(call("get-record-string", str("Txt1"), fix(1), d));
            std::string two = text(call("get-record-string", str("Txt1"), fix(2), d));
            call("close-database", d, kNil);
            EXPECT_TRUE(one == "short, then longer" || one == "a value a good deal longer than any before it") << one;
            EXPECT_TRUE(two == "the other record" || two == "tiny") << two;
            EXPECT_FALSE(std::filesystem::exists(DbFile::compaction_path(file)));
          },
      .most_writes = 100,
  });
}

}  // namespace
}  // namespace core::testing
