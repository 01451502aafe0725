// Fuzz target for record databases: parse header and map, read every
// record, check that the map the serializer writes parses back to the same
// model; then open the file through the primitives, read every record as a
// record and as each kind of value record, compact a copy and check that
// every record kept its bytes. Every input must end in a result code or a
// Lisp error; a crash, a sanitizer report or a read outside the input is a
// finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/symbols.hpp"
#include "core/memory.hpp"
#include "fuzz/machine.hpp"
#include "storage/database.hpp"
#include "storage/databases.hpp"

namespace {
using namespace core;
using namespace storage;

bool same(const ForkMap& a, const ForkMap& b) {
  std::vector<const ForkType*> ta;
  for (const ForkType& t : a.types)
    if (!t.refs.empty()) ta.push_back(&t);
  if (ta.size() != b.types.size()) return false;
  for (size_t i = 0; i < ta.size(); ++i) {
    const ForkType& y = b.types[i];
    if (ta[i]->code != y.code || ta[i]->refs.size() != y.refs.size()) return false;
    for (size_t j = 0; j < y.refs.size(); ++j) {
      const ForkRef &p = ta[i]->refs[j], &q = y.refs[j];
      if (p.id != q.id || p.named != q.named || p.name != q.name || p.data_offset != q.data_offset ||
          p.size != q.size || p.time != q.time || (p.attrs & ~kResChanged) != q.attrs)
        return false;
    }
  }
  return true;
}

std::string scratch_dir() {
  static std::string dir;
  if (dir.empty()) {
    char tmpl[] = "/tmp/talven-dbfuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    dir = tmpl;
    std::atexit([] { std::filesystem::remove_all(dir); });
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    setenv("TALVEN_NO_FSYNC", "1", 1);
  }
  return dir;
}

Value call(const char* name, std::initializer_list<Value> args) {
  Value f = symbol_value(find_symbol(name));
  return call_by_name(f, args);
}

// Every record through the primitives: loaded, and read as a string, a
// number, a vector and an array (each may refuse with a Lisp error).
void read_all_records(Value db) {
  int32_t types = read_integer(call("count-record-types", {db}));
  for (int32_t t = 0; t < types; ++t) {
    Value type = call("get-indexed-type", {make_integer(t), db});
    int32_t n = read_integer(call("count-records", {type, db}));
    for (int32_t i = 0; i < n && i < 64; ++i) {
      try {
        Value r = call("get-indexed-record", {type, make_integer(i), db, kNil});
        Value id = call("get-record-id", {r});
        call("get-record-size", {r});
        for (const char* reader : {"get-record-string", "get-record-number", "get-record-vector", "get-record-array"}) {
          try {
            call(reader, {type, id, db});
          } catch (const Thrower&) {
          }
        }
      } catch (const Thrower&) {
      }
    }
  }
}

std::vector<std::string> digests(const std::string& path) {
  DbHandle h;
  std::string listing;
  if (open_database_path(path, false, h) != 0 || list_database(*h.db, listing) != 0) return {"unreadable"};
  // Compaction moves the bytes, never changes a record.
  std::vector<std::string> out;
  size_t at = 0;
  while (at < listing.size()) {
    size_t end = listing.find('\n', at);
    out.push_back(listing.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  int fd = memfd_create("db", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != ssize_t(size)) {
    close(fd);
    return 0;
  }
  std::unique_ptr<DbFile> f;
  int e = DbFile::attach(fd, false, "fuzz.db", f);
  if (e == 0) {
    std::vector<uint8_t> bytes;
    for (const ForkType& t : f->map.types)
      for (const ForkRef& r : t.refs) f->read_record(r, bytes);
    std::string listing;
    list_database(*f, listing);
    ForkHeader h = f->map.header;
    std::vector<uint8_t> map;
    if (serialize_map(f->map, h, map, kDatabaseFork) == 0) {
      ForkMap back;
      if (parse_map(map, h, kDatabaseFork, back) != 0 || !same(f->map, back)) std::abort();
    }
  }
  f.reset();
  close(fd);
  if (e != 0) return 0;

  std::string path = scratch_dir() + "/input.db";
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
  RuntimeScope scope(fuzzing::machine());
  Value text = make_string(path.c_str());
  try {
    Value db = call("open-database", {text, make_integer(0)});
    read_all_records(db);
    call("close-database", {db, kNil});
  } catch (const Thrower&) {
  }
  std::vector<std::string> before = digests(path);
  try {
    Value db = call("open-database", {text, make_integer(2)});
    call("compact-database", {db});
    call("close-database", {db, kNil});
    if (digests(path) != before) std::abort();
  } catch (const Thrower&) {
  }
  close_all_databases();
  unlink(path.c_str());
  return 0;
}
