// The database primitives.
#include "storage/databases.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "core/args.hpp"
#include "core/blocks.hpp"
#include "core/bytes.hpp"
#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/native_table.hpp"
#include "core/natives.hpp"
#include "core/runtime.hpp"
#include "core/symbols.hpp"
#include "data/charsets.hpp"
#include "data/handles.hpp"
#include "data/state.hpp"
#include "data/strings.hpp"
#include "data/vectors.hpp"
#include "storage/database.hpp"
#include "storage/dates.hpp"
#include "storage/files.hpp"
#include "storage/map_handles.hpp"
#include "storage/paths.hpp"

namespace storage {
using namespace core;

namespace {

struct OpenDb {
  std::unique_ptr<DbFile> file;
  int refnum = 0;
  uint32_t id = 0;
};

struct DbState : ModuleState {
  NativeTable<std::unique_ptr<OpenDb>> table;
  std::vector<uint32_t> chain;  // ids, newest first
  uint32_t unique_type = 0;
  int64_t unique_next = 0;
  Value compact_flag;  // the symbol Compact-Databases?
};

DbState& database_state() { return state_of<DbState>(kDatabasesModule); }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

uint32_t now() { return uint32_t(int64_t(std::time(nullptr)) + kClockOffset); }

// ---- Errors --------------------------------------------------------------------

[[noreturn]] void raise(int code, Value culprit = kNil) {
  if (code == kDbWriteFailed) error(Err::DiskFull, culprit);
  storage_error(StorageErr(code), culprit);
}

inline void check(int code) {
  if (code != kDbOk) raise(code);
}

// ---- Databases ------------------------------------------------------------------

OpenDb* db_of(uint32_t id) {
  std::unique_ptr<OpenDb>* p = database_state().table.find(id);
  return p ? p->get() : nullptr;
}

Value database_box(const OpenDb& d) { return box_address(d.id, kBoxDatabase); }

// An open database: a database box whose database is still open (storage
// error 4 otherwise); anything but a database box is error 2.
OpenDb& db_arg(Value v) {
  if (!is_box(v, kBoxDatabase)) error(Err::WrongType, v);
  OpenDb* d = db_of(box_addr(v));
  if (!d) storage_error(StorageErr::NotOpen, kNil);
  return *d;
}

OpenDb& writable_db(Value v) {
  OpenDb& d = db_arg(v);
  if (!d.file->writable()) storage_error(StorageErr::ReadOnly, kNil);
  return d;
}

// ---- Handles ---------------------------------------------------------------------

// Written records may be purged again when their attributes say so.
void settle_handles(OpenDb& d) {
  for (ForkType& t : d.file->map.types)
    for (ForkRef& r : t.refs)
      if (r.loaded && !(r.attrs & kResChanged)) mark_purgeable(r.handle, r.attrs & kResPurgeable);
}

// Loads a record's data into its handle (made when it has none).
int load(OpenDb& d, uint32_t type, ForkRef& r, bool no_load) {
  if (!data::handle_live(r.handle)) {
    r.handle = data::new_handle(0);
    r.loaded = false;
    if (r.handle == 0) return kDbNoMemory;
    if (no_load) return kDbOk;
  } else if (has_data(r) || no_load) {
    return kDbOk;
  }
  if (!on_disk(r)) return kDbOk;  // nothing was ever written
  // The stored size is checked against the data area before the handle
  // is sized, and the bytes are read straight into it.
  if (!d.file->record_fits(r)) return kDbShortRead;
  if (!data::set_handle_size(r.handle, r.size)) return kDbNoMemory;
  if (r.size > 0) {
    uint8_t* p = rt().region.ptr(data::handle_memory(r.handle));
    if (int e = d.file->read_record_into(r, p)) {
      data::set_handle_size(r.handle, 0);
      return e;
    }
    if (is_text_type(type) && !(r.attrs & kRecConverted))
      for (uint32_t i = 0; i < r.size; ++i)
        if (uint8_t c = data::convert_char(data::Charset::MacToWindows, p[i])) p[i] = c;
  }
  r.loaded = true;
  mark_purgeable(r.handle, (r.attrs & kResPurgeable) && !(r.attrs & kResChanged));
  return kDbOk;
}

// ---- Records -----------------------------------------------------------------------

struct Found {
  OpenDb* db = nullptr;
  ForkType* type = nullptr;
  size_t index = 0;
  ForkRef& ref() const { return type->refs[index]; }
};

bool find_handle(uint32_t h, Found& out) {
  for (uint32_t id : database_state().chain) {
    OpenDb* d = db_of(id);
    if (find_handle_in(d->file->map, h, out.type, out.index)) {
      out.db = d;
      return true;
    }
  }
  return false;
}

Value record_box(uint32_t h) { return box_address(h, kBoxRecord); }

// The record a value stands for: storage error 5 unless it is a record box
// whose handle a record of an open database holds.
Found record_arg(Value v) {
  Found f;
  if (!is_box(v, kBoxRecord) || !find_handle(box_addr(v), f)) storage_error(StorageErr::NoRecord, kNil);
  return f;
}

Found writable_record(Value v) {
  Found f = record_arg(v);
  if (!f.db->file->writable()) storage_error(StorageErr::ReadOnly, kNil);
  return f;
}

// A four-character code of a file: padded with spaces.
uint32_t code_arg(Value v) {
  std::string s = v.is_nil() ? "" : data::text_of(v);
  s.resize(4, ' ');
  return load_be32(reinterpret_cast<const uint8_t*>(s.data()));
}

std::string name_arg(Value v) {
  if (v.is_nil()) return "";
  return data::text_of(v).substr(0, kMaxName);
}

size_t count_of(const ForkMap& m, uint32_t code) {
  for (const ForkType& t : m.types)
    if (t.code == code) return t.refs.size();
  return 0;
}

// The types that hold records, in map order.
std::vector<const ForkType*> live_types(const ForkMap& m) {
  std::vector<const ForkType*> out;
  for (const ForkType& t : m.types)
    if (!t.refs.empty()) out.push_back(&t);
  return out;
}

Value loaded_record(OpenDb& d, uint32_t type, ForkRef& r, bool no_load) {
  check(load(d, type, r, no_load));
  return record_box(r.handle);
}

void mark_changed(ForkMap& m, ForkRef& r) {
  r.time = now();
  r.attrs |= kResChanged | kRecConverted;
  // The handle's bytes become the record's data, kept until written: the
  // bytes it was loaded with, or those a program put into a handle fetched
  // without its data. A purged handle, or one fetched empty and left empty,
  // holds no data, and the bytes on disk stay.
  if (data::handle_live(r.handle)) {
    if (handle_purged(r.handle)) r.loaded = false;
    else if (!r.loaded && data::handle_size(r.handle) > 0) r.loaded = true;
  }
  mark_purgeable(r.handle, false);
  m.attrs |= kMapChanged;
}

// ---- Updating and closing ------------------------------------------------------------

bool compaction_allowed() {
  Value v = symbol_value(database_state().compact_flag);
  return v.truthy();
}

// Replaces the descriptor of a database that compaction renamed anew.
void take_fresh(OpenDb& d, OpenFile& fresh) {
  OpenFile* slot = refnum_file(d.refnum);
  fresh.name = slot->name;
  *slot = std::move(fresh);
  d.file->fd = slot->fd;
}

int update_db(OpenDb& d) {
  OpenFile fresh;
  bool swapped = false;
  int e = d.file->update(data_in_handle, compaction_allowed(), fresh, swapped);
  if (swapped) take_fresh(d, fresh);
  settle_handles(d);
  return e;
}

// Forgets an open database: its handles, its slot, its box id.
void forget(OpenDb& d) {
  DbState& s = database_state();
  std::erase(s.chain, d.id);
  dispose_handles(d.file->map);
  release_refnum(d.refnum);
  s.table.remove(d.id);
}

// ---- Value records ----------------------------------------------------------------------

// The bytes of the value record (type, id): error 2 with the ID when there
// is none. The handle may be purged afterwards.
std::vector<uint8_t> value_record(Value type, Value id, Value db) {
  OpenDb& d = db_arg(db);
  uint32_t code = type_arg(type);
  ForkRef* r = find_ref(d.file->map, code, arg_int(id));
  if (!r) error(Err::WrongType, id);
  check(load(d, code, *r, false));
  std::span<const uint8_t> b;
  if (!data_in_handle(*r, b)) b = {};
  std::vector<uint8_t> out(b.begin(), b.end());
  mark_purgeable(r->handle, true);
  return out;
}

// Stores the bytes as the value record (type, id), made when missing, then
// writes the database through and releases the record's handle.
void put_value_record(std::span<const uint8_t> bytes, Value type, Value id, Value db) {
  OpenDb& d = writable_db(db);
  uint32_t code = type_arg(type);
  int32_t n = arg_int(id);
  ForkRef* r = find_ref(d.file->map, code, n);
  uint32_t h = r ? r->handle : 0;
  if (!data::handle_live(h)) {
    h = data::new_handle(0);
    if (h == 0) storage_error(StorageErr::NoHandle, kNil);
    if (r) r->handle = h;
  }
  if (!data::set_handle_size(h, uint32_t(bytes.size()))) {
    if (!r) data::dispose_handle(h);
    storage_error(StorageErr::NoHandle, kNil);
  }
  if (!bytes.empty()) std::memcpy(rt().region.ptr(data::handle_memory(h)), bytes.data(), bytes.size());
  if (r) {
    r->loaded = true;
    mark_changed(d.file->map, *r);
  } else {
    std::string none;
    ForkRef& added = add_ref(d.file->map, code, n, &none, h);
    added.attrs = kResChanged | kRecConverted;
    added.data_offset = kDbNone;
    added.size = kDbNone;
    added.time = now();
    added.loaded = true;
  }
  check(update_db(d));
  Found f;
  if (find_handle(h, f) && !(f.ref().attrs & kResChanged)) {
    data::dispose_handle(h);
    f.ref().handle = 0;
    f.ref().loaded = false;
  }
}

// Only words that mean the same in every run cross a file: fixnums (and
// characters), nil, no-value and the no-object word.
bool immediate_word(uint32_t w) {
  Value v(w);
  if (w & 0xC0000000u) return false;
  return v.is_fixnum() || v == kNil || v == kNoValue || v == kNoObject;
}

// ---- Primitives ------------------------------------------------------------------------

Value prim_create_database(Value pathname, Value creator, Value type) {
  std::string path = posix_of(pathname);
  struct stat sb;
  if (lstat(path.c_str(), &sb) == 0) storage_error(StorageErr::CreateRefused, pathname);
  int e = create_file_atomic(path, new_database(code_arg(creator), code_arg(type)));
  if (e == -48) storage_error(StorageErr::CreateRefused, pathname);
  if (e != 0) raise_errno(e == -44 ? EACCES : errno ? errno : EIO, pathname);
  return kNoValue;
}

Value prim_create_database_in(Value pathname, Value creator, Value type) {
  std::string path = posix_of(pathname);
  struct stat sb;
  if (stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) storage_error(StorageErr::CreateRefused, pathname);
  for (uint32_t id : database_state().chain) {
    OpenDb* d = db_of(id);
    if (d->file->id == FileId{sb.st_dev, sb.st_ino}) raise_errno(EWOULDBLOCK, pathname);
  }
  if (recover_file(path) != 0) raise_errno(EIO, pathname);
  int err = 0;
  OpenFile f = open_posix(path, OpenMode::ReadWrite, FileLock::Exclusive, err);
  if (!f.is_open()) raise_errno(err, pathname);
  int64_t size = file_size(f);
  if (size < 0) raise_errno(errno, pathname);
  char buf[4096];
  std::string canonical = realpath(path.c_str(), buf) ? std::string(buf) : path;
  // One commit: the old bytes come back after a crash, and a longer file
  // is cut to the new database's size.
  Commit c(f.fd, FileId{f.device, f.inode}, canonical, uint64_t(size));
  c.write(0, new_database(code_arg(creator), code_arg(type)));
  c.resize(kDbEmptySize);
  if (c.apply() != 0) error(Err::DiskFull, pathname);
  return kNoValue;
}

Value prim_database_p(Value pathname) {
  std::string path = posix_of(pathname);
  int err = 0;
  OpenFile f = open_posix(path, OpenMode::Read, FileLock::None, err);
  if (!f.is_open()) return kNil;
  int64_t size = file_size(f);
  uint8_t head[kForkHeaderSize];
  if (size < int64_t(kForkHeaderSize) || read_at(f, 0, head, sizeof head) != int64_t(sizeof head)) return kNil;
  ForkHeader h;
  return boolean(parse_header(head, uint64_t(size), kDatabaseFork, h) == 0);
}

Value prim_open_database(Value pathname, Value mode) {
  std::string path = posix_of(pathname);
  int m = mode.is_nil() ? 0 : arg_int_in(mode, 0, 2);
  struct stat sb;
  if (stat(path.c_str(), &sb) == 0)
    for (uint32_t id : database_state().chain) {
      OpenDb* d = db_of(id);
      if (d->file->id == FileId{sb.st_dev, sb.st_ino}) return database_box(*d);
    }
  if (recover_file(path) != 0) storage_error(StorageErr::NotADatabase, kNil);
  // One writer at a time, across processes: a database opened for writing
  // holds an exclusive lock, and a second writer is refused here with
  // error 38 (mode 1 falls back to reading only when writing is not
  // permitted, never when the file is busy). Readers take no lock.
  int err = 0;
  OpenFile f = m == 0 ? open_posix(path, OpenMode::Read, FileLock::None, err)
                      : open_posix(path, OpenMode::ReadWrite, FileLock::Exclusive, err);
  if (!f.is_open() && m == 1 && err != ENOENT && err != EWOULDBLOCK)
    f = open_posix(path, OpenMode::Read, FileLock::None, err);
  if (!f.is_open()) raise_errno(err, pathname);
  f.name = pathname_text(pathname);
  std::unique_ptr<DbFile> file;
  if (int e = DbFile::attach(f.fd, f.writable, path, file)) {
    close_file(f);
    storage_error(StorageErr(e), kNil);
  }
  if (f.writable) unlink(DbFile::compaction_path(file->canonical).c_str());
  int refnum = take_refnum(f, FileUse::Database);
  if (refnum < 0) error(Err::TooManyFiles, kNil);
  auto d = std::make_unique<OpenDb>();
  OpenDb& open = *d;
  open.file = std::move(file);
  open.refnum = refnum;
  uint32_t id = database_state().table.add(std::move(d));
  if (id == 0) {
    release_refnum(refnum);
    error(Err::TooManyFiles, kNil);
  }
  open.id = id;
  database_state().chain.insert(database_state().chain.begin(), open.id);
  for (ForkType& t : open.file->map.types)
    for (ForkRef& r : t.refs)
      if (r.attrs & kResPreload)
        if (int e = load(open, t.code, r, false)) {
          forget(open);
          raise(e);
        }
  return database_box(open);
}

Value prim_close_database(Value db, Value discard) {
  OpenDb& d = db_arg(db);
  if (!discard.truthy()) check(update_db(d));
  forget(d);
  return kNoValue;
}

Value prim_compact_database(Value db) {
  OpenDb& d = writable_db(db);
  OpenFile fresh;
  int e = d.file->compact(data_in_handle, fresh);
  if (e == kDbOk) take_fresh(d, fresh);
  settle_handles(d);
  check(e);
  return kNoValue;
}

Value prim_update_database(Value db) {
  check(update_db(db_arg(db)));
  return kNoValue;
}

Value prim_home_database(Value record) { return database_box(*record_arg(record).db); }

Value prim_count_records(Value type, Value db) {
  return make_integer(int32_t(count_of(db_arg(db).file->map, type_arg(type))));
}

Value prim_count_record_types(Value db) { return make_integer(int32_t(live_types(db_arg(db).file->map).size())); }

Value prim_get_indexed_type(Value index, Value db) {
  auto types = live_types(db_arg(db).file->map);
  int32_t i = arg_int(index);
  if (i < 0 || size_t(i) >= types.size()) return make_string("");
  return type_value(types[size_t(i)]->code);
}

Value prim_get_indexed_record(Value type, Value index, Value db, Value no_load) {
  OpenDb& d = db_arg(db);
  uint32_t code = type_arg(type);
  int32_t i = arg_int(index);
  if (i < 0) return record_box(0);
  ForkType* t = find_type(d.file->map, code);
  if (!t || size_t(i) >= t->refs.size()) storage_error(StorageErr::NoRecord, kNil);
  return loaded_record(d, code, t->refs[size_t(i)], no_load.truthy());
}

Value prim_get_record(Value type, Value key, Value db, Value no_load) {
  OpenDb& d = db_arg(db);
  uint32_t code = type_arg(type);
  ForkRef* r = key.is(Tag::String) ? find_named(d.file->map, code, data::text_of(key))
                                   : find_ref(d.file->map, code, arg_int(key));
  if (!r) return record_box(0);
  return loaded_record(d, code, *r, no_load.truthy());
}

Value prim_load_record(Value record) {
  Found f = record_arg(record);
  check(load(*f.db, f.type->code, f.ref(), false));
  return kNoValue;
}

Value prim_write_record(Value record) {
  Found f = record_arg(record);
  DbFile& file = *f.db->file;
  int e = file.write_record(f.ref(), data_in_handle);
  settle_handles(*f.db);
  check(e);
  return kNoValue;
}

Value prim_release_record(Value record) {
  Found f = record_arg(record);
  release_entry(f.ref(), record);
  return kNoValue;
}

Value prim_detach_record(Value record) {
  Found f = record_arg(record);
  detach_entry(f.ref(), record);
  return kNoValue;
}

Value prim_unique_record_id(Value type, Value* dbs) {
  DbState& s = database_state();
  uint32_t code = type_arg(type);
  std::vector<OpenDb*> list;
  for (Value* p = dbs; !p->is_end(); ++p)
    if (!p->is_nil()) list.push_back(&db_arg(*p));
  if (code != s.unique_type) s.unique_next = 0;
  s.unique_type = code;
  // Until a whole pass finds the candidate free in every database.
  for (bool moved = true; moved;) {
    moved = false;
    for (OpenDb* d : list)
      while (find_ref(d->file->map, code, int32_t(s.unique_next))) {
        s.unique_next = s.unique_next >= INT32_MAX ? 0 : s.unique_next + 1;
        moved = true;
      }
  }
  int32_t id = int32_t(s.unique_next);
  s.unique_next = s.unique_next >= INT32_MAX ? 0 : s.unique_next + 1;
  return make_integer(id);
}

Value prim_get_record_id(Value record) { return make_integer(record_arg(record).ref().id); }

Value prim_get_record_name(Value record) {
  const ForkRef& r = record_arg(record).ref();
  return make_string(r.name.data(), r.named ? r.name.size() : 0);
}

int32_t record_size(const ForkRef& r) {
  if (data::handle_live(r.handle) && data::handle_size(r.handle) != 0) return int32_t(data::handle_size(r.handle));
  return int32_t(r.size);
}

Value prim_get_record_size(Value record) { return make_integer(record_size(record_arg(record).ref())); }
Value prim_get_record_time(Value record) { return make_integer(int32_t(record_arg(record).ref().time)); }
Value prim_get_record_attributes(Value record) { return make_integer(record_arg(record).ref().attrs); }

Value prim_set_record_info(Value record, Value id, Value name) {
  Found f = writable_record(record);
  int32_t n = arg_int(id);
  std::string text = name_arg(name);
  ForkRef& r = f.ref();
  r.id = n;
  r.named = !text.empty();
  r.name = text;
  f.db->file->map.attrs |= kMapChanged;
  return kNoValue;
}

Value prim_set_record_attributes(Value record, Value attrs) {
  Found f = writable_record(record);
  ForkRef& r = f.ref();
  r.attrs = uint8_t(arg_int(attrs));
  mark_purgeable(r.handle, (r.attrs & kResPurgeable) && !(r.attrs & kResChanged));
  f.db->file->map.attrs |= kMapChanged;
  return kNoValue;
}

Value prim_changed_record(Value record) {
  Found f = writable_record(record);
  mark_changed(f.db->file->map, f.ref());
  return kNoValue;
}

Value prim_add_record(Value handle, Value type, Value id, Value name, Value db) {
  // Only a plain handle becomes a record: one that is already a record or
  // a resource keeps its owner.
  uint32_t h = is_box(handle, kBoxHandle) && data::handle_live(box_addr(handle)) ? box_addr(handle) : 0;
  Found owner;
  if (h == 0 || find_handle(h, owner)) storage_error(StorageErr::AddRefused, kNil);
  OpenDb& d = writable_db(db);
  int32_t n = arg_int(id);
  std::string text = name_arg(name);
  ForkRef& r = add_ref(d.file->map, type_arg(type), n, &text, h);
  r.attrs = kResChanged | kRecConverted;
  r.data_offset = kDbNone;
  r.size = kDbNone;
  r.time = now();
  r.loaded = true;
  mark_purgeable(h, false);
  set_box_kind(handle, kBoxRecord);
  return kNoValue;
}

Value prim_remove_record(Value record) {
  Found f = writable_record(record);
  if (f.ref().attrs & kResProtected) storage_error(StorageErr::Protected, kNil);
  f.type->refs.erase(f.type->refs.begin() + long(f.index));
  f.db->file->map.attrs |= kMapChanged | kMapCompact;
  set_box_kind(record, kBoxHandle);
  return kNoValue;
}

Value prim_get_record_number(Value type, Value id, Value db) {
  std::vector<uint8_t> b = value_record(type, id, db);
  if (b.size() == 2) return make_integer(int16_t(load_be16(b.data())));
  if (b.size() == 4) return make_integer(int32_t(load_be32(b.data())));
  error(Err::WrongType, id);
}

Value prim_put_record_number(Value value, Value type, Value id, Value db) {
  int32_t n = arg_int(value);
  uint8_t b[4];
  size_t size = n >= -32768 && n <= 32767 ? 2 : 4;
  if (size == 2) store_be16(b, uint16_t(n));
  else store_be32(b, uint32_t(n));
  put_value_record({b, size}, type, id, db);
  return value;
}

Value prim_get_record_string(Value type, Value id, Value db) {
  std::vector<uint8_t> b = value_record(type, id, db);
  // Up to the first zero byte, never past the record.
  size_t n = size_t(std::find(b.begin(), b.end(), uint8_t(0)) - b.begin());
  return data::new_string(std::string_view(reinterpret_cast<const char*>(b.data()), n));
}

Value prim_put_record_string(Value value, Value type, Value id, Value db) {
  std::string text = data::text_of(value);
  std::vector<uint8_t> b(text.begin(), text.end());
  b.push_back(0);
  put_value_record(b, type, id, db);
  return value;
}

Value prim_get_record_vector(Value type, Value id, Value db) {
  std::vector<uint8_t> b = value_record(type, id, db);
  if (b.size() < 2) error(Err::WrongType, id);
  uint32_t n = load_le16(b.data());
  if (b.size() != vector_block_size(n) || n > data::kMaxVectorLength) error(Err::WrongType, id);
  for (uint32_t i = 0; i < n; ++i)
    if (!immediate_word(load_le32(&b[kVectorWordsAt + 4 * i]))) error(Err::WrongType, id);
  Value v = data::make_vector(n, kNil);
  for (uint32_t i = 0; i < n; ++i) data::set_vector_element(v, i, Value(load_le32(&b[kVectorWordsAt + 4 * i])));
  return v;
}

Value prim_put_record_vector(Value value, Value type, Value id, Value db) {
  uint32_t n = data::vector_length(value);
  std::vector<uint8_t> b(vector_block_size(n));
  store_le16(b.data(), uint16_t(n));
  for (uint32_t i = 0; i < n; ++i) {
    Value x = data::vector_element(value, i);
    if (!immediate_word(x.bits)) error(Err::WrongType, x);
    store_le32(&b[kVectorWordsAt + 4 * i], x.bits);
  }
  put_value_record(b, type, id, db);
  return value;
}

Value prim_get_record_array(Value type, Value id, Value db) {
  std::vector<uint8_t> b = value_record(type, id, db);
  if (b.size() < 4) error(Err::WrongType, id);
  uint32_t n = load_le16(b.data()), rank = load_le16(b.data() + 2);
  uint64_t size = uint64_t(array_words_at(rank)) + 4ull * n;
  if (b.size() != size || size > 65535) error(Err::WrongType, id);
  // The dimensions must name exactly the elements there are.
  uint64_t product = 1;
  for (uint32_t k = 0; k < rank; ++k) product = std::min<uint64_t>(product * load_le16(&b[4 + 2 * k]), 1ull << 32);
  if (product != n) error(Err::WrongType, id);
  for (uint32_t i = 0; i < n; ++i)
    if (!immediate_word(load_le32(&b[array_words_at(rank) + 4 * i]))) error(Err::WrongType, id);
  reserve_heap(uint32_t(size));
  uint8_t* p = heap_top_ptr();
  set_block_count(p, n);
  store_ne16(p + 2, uint16_t(rank));
  for (uint32_t k = 0; k < rank; ++k) store_ne16(p + 4 + 2 * k, load_le16(&b[4 + 2 * k]));
  for (uint32_t i = 0; i < n; ++i)
    set_block_word(p + array_words_at(rank), i, Value(load_le32(&b[array_words_at(rank) + 4 * i])));
  return alloc_indirect(uint32_t(size), Tag::Array, Header::Array);
}

Value prim_put_record_array(Value value, Value type, Value id, Value db) {
  arg_array(value);
  const uint8_t* a = indirect_bytes(value);
  uint32_t n = block_count(a), rank = array_rank_of(a);
  std::vector<uint8_t> b(array_block_size(n, rank));
  store_le16(b.data(), uint16_t(n));
  store_le16(b.data() + 2, uint16_t(rank));
  for (uint32_t k = 0; k < rank; ++k) store_le16(&b[4 + 2 * k], uint16_t(array_dimension_of(a, k)));
  for (uint32_t i = 0; i < n; ++i) {
    Value x = block_word(a + array_words_at(rank), i);
    if (!immediate_word(x.bits)) error(Err::WrongType, x);
    store_le32(&b[array_words_at(rank) + 4 * i], x.bits);
  }
  put_value_record(b, type, id, db);
  return value;
}

// "<record TYPE ID "NAME" HANDLE of size N>", or "<record disposed>".
void print_record(Value box, std::string& out) {
  Found f;
  if (!find_handle(box_addr(box), f)) {
    out = "<record disposed>";
    return;
  }
  const ForkRef& r = f.ref();
  std::string type = fourcc_text(f.type->code);
  std::string name = r.named ? r.name : "";
  char buf[64];
  out = "<record " + type;
  std::snprintf(buf, sizeof buf, " %ld \"", long(r.id));
  out += buf;
  out += name;
  std::snprintf(buf, sizeof buf, "\" %lx of size %ld>", (unsigned long)r.handle, long(record_size(r)));
  out += buf;
}

const NativeRow kDatabaseNatives[] = {
    TV_PRIM("create-database-subr", prim_create_database, "(create-database-subr PATHNAME CREATOR TYPE) creates a new file holding an empty database with those codes; no value; storage error 6 when the file exists"),
    TV_PRIM("create-database-in-subr", prim_create_database_in, "(create-database-in-subr PATHNAME CREATOR TYPE) writes an empty database with those codes over an existing file; no value; storage error 6 when the file does not exist"),
    TV_PRIM("database?", prim_database_p, "(database? PATHNAME) t when the file begins as a database does, otherwise nil"),
    TV_PRIM("open-database", prim_open_database, "(open-database PATHNAME MODE) opens the database (MODE as for file-open: 0 or nil reading only, 1 reading and writing or else reading only, 2 reading and writing), or finds it open; the database; storage error 1 when the file is no database, a file error when it cannot be opened"),
    TV_PRIM("close-database", prim_close_database, "(close-database DATABASE DISCARD?) writes the changes unless DISCARD? is true, then closes; no value"),
    TV_PRIM("compact-database", prim_compact_database, "(compact-database DATABASE) writes the database afresh without its unused space; no value; storage error 9 when the database is read-only"),
    TV_PRIM("update-database", prim_update_database, "(update-database DATABASE) writes the changed records and the map; no value"),
    TV_PRIM("home-database", prim_home_database, "(home-database RECORD) the open database holding the record; storage error 5 when it is no record of an open database"),
    TV_PRIM("count-records", prim_count_records, "(count-records TYPE DATABASE) the number of records of TYPE, 0 when there is none; storage error 4 when the database is not open"),
    TV_PRIM("count-record-types", prim_count_record_types, "(count-record-types DATABASE) the number of record types in the database"),
    TV_PRIM("get-indexed-type", prim_get_indexed_type, "(get-indexed-type INDEX DATABASE) the INDEX-th (from 0) record type as a 4-character string, \"\" when out of range"),
    TV_PRIM("get-indexed-record", prim_get_indexed_record, "(get-indexed-record TYPE INDEX DATABASE NO-LOAD?) the INDEX-th (from 0) record of TYPE, its data read unless NO-LOAD?; an empty record box for a negative INDEX; storage error 5 past the last"),
    TV_PRIM("get-record", prim_get_record, "(get-record TYPE ID-OR-NAME DATABASE NO-LOAD?) the record of TYPE with that ID or (a string) name, its data read unless NO-LOAD?; an empty record box when there is none"),
    TV_PRIM("load-record", prim_load_record, "(load-record RECORD) reads the record's data when it is not in memory; no value; storage error 5 when it is no record of an open database"),
    TV_PRIM("write-record", prim_write_record, "(write-record RECORD) writes the record's data when it is marked changed; no value; storage error 5 when it is no record of an open database"),
    TV_PRIM("release-record", prim_release_record, "(release-record RECORD) frees the record's data; the record keeps no handle; no value; storage error 5 when it is no record of an open database"),
    TV_PRIM("detach-record", prim_detach_record, "(detach-record RECORD) the record lets go of its data, which becomes a plain handle; no value; storage error 5 when it is no record of an open database"),
    TV_PRIM("unique-record-id", prim_unique_record_id, "(unique-record-id TYPE DATABASE...) an ID of TYPE that none of the databases uses (nil entries skipped)"),
    TV_PRIM("get-record-id", prim_get_record_id, "(get-record-id RECORD) the record's ID; storage error 5 when it is no record of an open database"),
    TV_PRIM("get-record-name", prim_get_record_name, "(get-record-name RECORD) the record's name, \"\" when it has none; storage error 5 when it is no record of an open database"),
    TV_PRIM("get-record-size", prim_get_record_size, "(get-record-size RECORD) the size in bytes of the record's data in memory, or else as stored; storage error 5 when it is no record of an open database"),
    TV_PRIM("get-record-time", prim_get_record_time, "(get-record-time RECORD) the record's last change in clock seconds; storage error 5 when it is no record of an open database"),
    TV_PRIM("get-record-attributes", prim_get_record_attributes, "(get-record-attributes RECORD) the record's attribute byte; storage error 5 when it is no record of an open database"),
    TV_PRIM("set-record-info", prim_set_record_info, "(set-record-info RECORD ID NAME) gives the record a new ID and NAME (nil or \"\" for none); no value; storage error 9 when the database is read-only"),
    TV_PRIM("set-record-attributes", prim_set_record_attributes, "(set-record-attributes RECORD ATTRIBUTES) sets the record's attribute byte; no value; storage error 9 when the database is read-only"),
    TV_PRIM("changed-record", prim_changed_record, "(changed-record RECORD) marks the record changed, to be written by update-database or write-record; no value; storage error 9 when the database is read-only"),
    TV_PRIM("add-record", prim_add_record, "(add-record HANDLE TYPE ID NAME DATABASE) makes HANDLE a new record of TYPE, ID and NAME; the value becomes a record; no value; storage error 7 when HANDLE is no free handle, storage error 9 when the database is read-only"),
    TV_PRIM("remove-record", prim_remove_record, "(remove-record RECORD) removes the record from its database; the value becomes a plain handle; no value; storage error 8 for a protected record, storage error 9 when the database is read-only"),
    TV_PRIM("get-record-number", prim_get_record_number, "(get-record-number TYPE ID DATABASE) the number a 2- or 4-byte record holds; error 2 with ID when the record is missing or of another size"),
    TV_PRIM("put-record-number", prim_put_record_number, "(put-record-number NUMBER TYPE ID DATABASE) stores NUMBER as the record TYPE ID (made when missing, 2 bytes when it fits) and writes the database; returns NUMBER"),
    TV_PRIM("get-record-string", prim_get_record_string, "(get-record-string TYPE ID DATABASE) the text a record holds, up to its first zero byte; error 2 with ID when the record is missing"),
    TV_PRIM("put-record-string", prim_put_record_string, "(put-record-string STRING TYPE ID DATABASE) stores STRING, zero-ended, as the record TYPE ID (made when missing) and writes the database; returns STRING"),
    TV_PRIM("get-record-vector", prim_get_record_vector, "(get-record-vector TYPE ID DATABASE) a new vector a record holds (fixnums, nil, no-value and no-object words); error 2 with ID when the record is missing or holds no vector"),
    TV_PRIM("put-record-vector", prim_put_record_vector, "(put-record-vector VECTOR TYPE ID DATABASE) stores VECTOR as the record TYPE ID (made when missing) and writes the database; returns VECTOR; error 2 with an element other than a fixnum, nil, no-value or no-object"),
    TV_PRIM("get-record-array", prim_get_record_array, "(get-record-array TYPE ID DATABASE) a new array a record holds (fixnums, nil, no-value and no-object words); error 2 with ID when the record is missing or holds no array"),
    TV_PRIM("put-record-array", prim_put_record_array, "(put-record-array ARRAY TYPE ID DATABASE) stores ARRAY as the record TYPE ID (made when missing) and writes the database; returns ARRAY; error 2 with an element other than a fixnum, nil, no-value or no-object"),
};

}  // namespace

size_t open_database_count() { return module_installed(kDatabasesModule) ? database_state().chain.size() : 0; }

int close_all_databases() {
  if (!module_installed(kDatabasesModule)) return 0;
  int failed = 0;
  while (!database_state().chain.empty()) {
    OpenDb* d = db_of(database_state().chain.front());
    std::string path = d->file->path;
    int e = kDbOk;
    // Each close on its own: whatever one database does, the next closes.
    try {
      e = update_db(*d);
    } catch (const Thrower&) {
      e = kDbWriteFailed;
    } catch (const std::exception&) {
      e = kDbWriteFailed;
    }
    if (e != kDbOk) {
      ++failed;
      std::string line = "talven: the database " + path + " could not be written; its last changes are lost";
      if (rt().write_error_line) rt().write_error_line(line);
      else std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (OpenDb* still = db_of(database_state().chain.front()); still == d) forget(*d);
  }
  return failed;
}

const Module kDatabasesModule{
    "databases",
    [](Runtime&) -> std::unique_ptr<ModuleState> { return std::make_unique<DbState>(); },
    [](Runtime& r) {
      register_natives(kDatabaseNatives);
      database_state().compact_flag = intern_static("Compact-Databases?", r.sym.t);
      r.box_ops[kBoxRecord].print = print_record;
    },
    nullptr,
    [](Runtime&) { close_all_databases(); },
};

}  // namespace storage
