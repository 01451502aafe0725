// The resource manager and its Lisp primitives.
#include "storage/resources.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/bytes.hpp"
#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "core/runtime.hpp"
#include "data/handles.hpp"
#include "data/state.hpp"
#include "data/strings.hpp"
#include "storage/files.hpp"
#include "storage/map_handles.hpp"
#include "storage/paths.hpp"
#include "storage/resfile.hpp"

namespace storage {
using namespace core;

namespace {

// An open resource file: its map and reads on the descriptor of its slot
// in the reference-number table that plain files share.
struct OpenRes {
  std::unique_ptr<ResFile> file;
  int refnum = 0;
};

struct ResState : ModuleState {
  std::vector<std::unique_ptr<OpenRes>> chain;  // newest first
  int current = 0;
  int error = 0;
  bool load = true;
  bool types_changed = true;
  std::vector<std::pair<uint32_t, int32_t>> types;  // (code, resources over all files)
  uint32_t unique_type = 0;
  int32_t unique_next = 128;
};

ResState& resource_state() { return state_of<ResState>(kResourcesModule); }

int set_error(int code) {
  resource_state().error = code;
  return code;
}

// ---- Files ------------------------------------------------------------------

OpenRes* file_of(int refnum) {
  for (auto& f : resource_state().chain)
    if (f->refnum == refnum) return f.get();
  return nullptr;
}

OpenRes* current_file() { return resource_state().current ? file_of(resource_state().current) : nullptr; }

// The files from the current one towards the oldest.
std::vector<OpenRes*> search_order() {
  std::vector<OpenRes*> out;
  auto& chain = resource_state().chain;
  size_t i = 0;
  while (i < chain.size() && chain[i]->refnum != resource_state().current) ++i;
  for (; i < chain.size(); ++i) out.push_back(chain[i].get());
  return out;
}

// ---- Handles ------------------------------------------------------------------

// Reads a reference's data into its handle (made when it has none).
int load(OpenRes& f, ForkRef& r) {
  std::vector<uint8_t> bytes;
  if (int e = f.file->read_data(r, bytes)) return e;
  bool fresh = !data::handle_live(r.handle);
  uint32_t h = fresh ? data::new_handle(0) : r.handle;
  if (h == 0) return kResMemFull;
  if (!data::set_handle_size(h, uint32_t(bytes.size()))) {
    if (fresh) data::dispose_handle(h);
    return kResMemFull;
  }
  if (!bytes.empty()) std::memcpy(rt().region.ptr(data::handle_memory(h)), bytes.data(), bytes.size());
  r.handle = h;
  r.loaded = true;
  mark_purgeable(h, (r.attrs & kResPurgeable) && !(r.attrs & kResChanged));
  return kResOk;
}

// Loading as a lookup does it: a missing handle is made, loaded when the
// load flag is on and left empty otherwise; a purged one is reloaded while
// the flag is on.
int fetch(OpenRes& f, ForkRef& r) {
  if (has_data(r)) return kResOk;
  if (resource_state().load) return load(f, r);
  if (!data::handle_live(r.handle)) {
    r.handle = data::new_handle(0);
    r.loaded = false;
    if (r.handle == 0) return kResMemFull;
  }
  return kResOk;
}

struct Found {
  OpenRes* file = nullptr;
  ForkType* type = nullptr;
  size_t index = 0;
  ForkRef& ref() const { return type->refs[index]; }
};

bool find_handle(uint32_t h, Found& out) {
  for (auto& f : resource_state().chain)
    if (find_handle_in(f->file->map, h, out.type, out.index)) {
      out.file = f.get();
      return true;
    }
  return false;
}

// ---- Values -----------------------------------------------------------------

Value resource_box(uint32_t h) { return box_address(h, kResourceBox); }

// The resource a value stands for: a resource box whose handle a reference
// of an open file holds. -192 otherwise.
bool resource_arg(Value v, Found& out) {
  if (!is_box(v, kResourceBox) || !find_handle(box_addr(v), out)) {
    set_error(kResNotFound);
    return false;
  }
  return true;
}

// The handle of a handle or resource box, 0 for anything else.
uint32_t any_handle(Value v) {
  if ((is_box(v, kBoxHandle) || is_box(v, kResourceBox)) && data::handle_live(box_addr(v))) return box_addr(v);
  return 0;
}

bool integer_arg(Value v, int32_t& out) {
  if (!is_integer(v)) return false;
  out = read_integer(v);
  return true;
}

// A Lisp pathname as a POSIX path, through the file layer's boundary.
std::string os_path(Value v) { return posix_of(v); }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// The Lisp error of a non-zero code, for the primitives that raise.
void raise(int code) { raise_resource_error(code, kNoValue); }

// ---- Opening and closing ---------------------------------------------------------

void preload(OpenRes& f) {
  for (ForkType& t : f.file->map.types)
    for (ForkRef& r : t.refs)
      if (r.attrs & kResPreload) load(f, r);
}

int update_file(OpenRes& f) {
  int e = f.file->update(data_in_handle);
  resource_state().types_changed = true;
  return e;
}

}  // namespace

int find_resource_file(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  int n = find_open_file(st.st_dev, st.st_ino, FileUse::Resource);
  return n > 0 && file_of(n) ? n : 0;
}

int open_resource_file(const std::string& path) {
  set_error(kResOk);
  if (int n = find_resource_file(path)) return n;
  if (recover_file(path) != 0) {
    set_error(kResBadFile);
    return -1;
  }
  int err = 0;
  // A resource file open for writing holds an exclusive lock: one writer
  // across processes. A file another process writes (or one this user
  // may not write) opens for reading only, so that a second instance of
  // an application still reads its own file; its writes are refused.
  OpenFile of = open_posix(path, OpenMode::ReadWrite, FileLock::Exclusive, err);
  if (!of.is_open()) of = open_posix(path, OpenMode::Read, FileLock::None, err);
  if (!of.is_open()) {
    set_error(kResBadFile);
    return -1;
  }
  std::unique_ptr<ResFile> file;
  if (int e = ResFile::attach(of.fd, of.writable, path, file)) {
    close_file(of);
    set_error(e);
    return -1;
  }
  int refnum = take_refnum(of, FileUse::Resource);
  if (refnum < 0) {
    file.reset();
    close_file(of);
    set_error(kResBadFile);
    return -1;
  }
  auto f = std::make_unique<OpenRes>();
  f->file = std::move(file);
  f->refnum = refnum;
  OpenRes& open = *f;
  resource_state().chain.insert(resource_state().chain.begin(), std::move(f));
  preload(open);
  resource_state().current = refnum;
  resource_state().types_changed = true;
  set_error(kResOk);
  return refnum;
}

int close_resource_file(int refnum) {
  set_error(kResOk);
  auto& chain = resource_state().chain;
  auto it = std::find_if(chain.begin(), chain.end(), [&](auto& f) { return f->refnum == refnum; });
  if (it == chain.end()) return set_error(kResNoFile);
  int e = update_file(**it);
  std::unique_ptr<OpenRes> f = std::move(*it);
  it = chain.erase(it);
  if (resource_state().current == refnum) resource_state().current = it == chain.end() ? 0 : (*it)->refnum;
  dispose_handles(f->file->map);
  f.reset();
  release_refnum(refnum);
  resource_state().types_changed = true;
  return set_error(e);
}

int resource_error() { return resource_state().error; }

void raise_resource_error(int code, Value value) {
  if (code == 0) return;
  Err number = Err::FileSystem;
  if (code == -49 || code == -47) number = Err::FileBusy;
  else if (code == -48) number = Err::FileExists;
  else if (code == -46 || code == -44 || code == -35) number = Err::VolumeLocked;
  else if (code == -43) number = Err::FileNotFound;
  else if (code == -34 || code == -33) number = Err::DiskFull;
  Value own = number == Err::FileSystem ? make_integer(code) : kNil;
  error(number, value == kNoValue ? own : value);
}

namespace {

ForkRef* lookup(uint32_t type, int32_t id, OpenRes** where, bool current_only) {
  for (OpenRes* f : search_order()) {
    if (ForkRef* r = find_ref(f->file->map, type, id)) {
      *where = f;
      return r;
    }
    if (current_only) break;
  }
  return nullptr;
}

std::vector<uint8_t> bytes_of_handle(uint32_t h) {
  auto s = handle_bytes(h);
  return {s.begin(), s.end()};
}

}  // namespace

bool resource_bytes(uint32_t type, int32_t id, std::vector<uint8_t>& out) {
  OpenRes* f = nullptr;
  ForkRef* r = lookup(type, id, &f, false);
  if (!r) {
    set_error(kResNotFound);
    return false;
  }
  if (has_data(*r)) {
    out = bytes_of_handle(r->handle);
    return true;
  }
  return set_error(f->file->read_data(*r, out)) == 0;
}

bool indexed_string(int32_t id, int32_t n, std::string& out) {
  std::vector<uint8_t> b;
  if (!resource_bytes(fourcc("STR#"), id, b)) return false;
  ByteReader v(b);
  uint32_t count = v.be16();
  if (!v.ok() || n < 1 || uint32_t(n) > count) return false;
  for (int32_t i = 1;; ++i) {
    std::string_view s = v.pstring();
    if (!v.ok()) return false;
    if (i == n) {
      out.assign(s);
      return true;
    }
  }
}

bool string_resource(int32_t id, std::string& out) {
  std::vector<uint8_t> b;
  if (!resource_bytes(fourcc("STR "), id, b) || b.empty()) return false;
  size_t len = std::min<size_t>(b[0], b.size() - 1);
  out.assign(b.begin() + 1, b.begin() + 1 + long(len));
  return true;
}

bool pattern(int32_t id, int32_t n, uint8_t out[8]) {
  if (id == 0) {
    if (n == 1) std::memset(out, 0xFF, 8);
    else if (n == 4) for (int i = 0; i < 8; ++i) out[i] = i % 2 ? 0x55 : 0xAA;
    else if (n == 20) std::memset(out, 0, 8);
    else return false;
    return true;
  }
  std::vector<uint8_t> b;
  if (!resource_bytes(fourcc("PAT#"), id, b)) return false;
  ByteReader v(b);
  uint32_t count = v.be16();
  if (!v.ok() || n < 1 || uint32_t(n) > count) return false;
  auto p = v.bytes_at(2 + 8 * (uint64_t(n) - 1), 8);
  if (!v.ok()) return false;
  std::memcpy(out, p.data(), 8);
  return true;
}

namespace {

// ---- Primitives -------------------------------------------------------------------

Value prim_openresfile(Value path) { return make_integer(open_resource_file(os_path(path))); }

Value prim_closeresfile(Value refnum) {
  int32_t n = 0;
  int e = integer_arg(refnum, n) ? close_resource_file(n) : set_error(kResNoFile);
  raise(e);
  return kNoValue;
}

Value prim_reserror() { return make_integer(resource_state().error); }
Value prim_curresfile() { return make_integer(resource_state().current); }

Value prim_homeresfile(Value res) {
  Found f;
  if (!resource_arg(res, f)) return make_integer(-1);
  set_error(kResOk);
  return make_integer(f.file->refnum);
}

Value prim_useresfile(Value refnum) {
  int32_t n = 0;
  if (!integer_arg(refnum, n) || (n != 0 && !file_of(n))) {
    set_error(kResNoFile);
    return kNoValue;
  }
  resource_state().current = n;
  set_error(kResOk);
  return kNoValue;
}

Value prim_setresload(Value flag) {
  resource_state().load = flag != kNil;
  set_error(kResOk);
  return kNoValue;
}

const std::vector<std::pair<uint32_t, int32_t>>& types_table() {
  ResState& s = resource_state();
  if (s.types_changed) {
    s.types.clear();
    s.types.reserve(25);
    for (auto& f : s.chain)
      for (ForkType& t : f->file->map.types) {
        auto it = std::find_if(s.types.begin(), s.types.end(), [&](auto& e) { return e.first == t.code; });
        if (it == s.types.end()) s.types.push_back({t.code, int32_t(t.refs.size())});
        else it->second += int32_t(t.refs.size());
      }
    s.types_changed = false;
  }
  return s.types;
}

Value prim_countresources(Value type) {
  uint32_t code = type_arg(type);
  set_error(kResOk);
  for (auto& [c, n] : types_table())
    if (c == code) return make_integer(n);
  return make_integer(0);
}

Value found_value(OpenRes& f, ForkRef& r) {
  if (int e = fetch(f, r)) {
    set_error(e);
    return resource_box(0);
  }
  set_error(kResOk);
  return resource_box(r.handle);
}

Value prim_getindresource(Value type, Value index) {
  uint32_t code = type_arg(type);
  int32_t i = 0;
  if (!integer_arg(index, i) || i < 1) {
    set_error(kResOk);
    return resource_box(0);
  }
  for (auto& f : resource_state().chain)
    if (ForkType* t = find_type(f->file->map, code)) {
      if (uint32_t(i) <= t->refs.size()) return found_value(*f, t->refs[size_t(i - 1)]);
      i -= int32_t(t->refs.size());
    }
  set_error(kResNotFound);
  return resource_box(0);
}

Value get_resource(Value type, Value key, bool current_only) {
  uint32_t code = type_arg(type);
  bool by_name = key.is(Tag::String);
  std::string name = by_name ? data::text_of(key) : "";
  int32_t id = 0;
  if (!by_name && !integer_arg(key, id)) error(Err::WrongType, key);
  for (OpenRes* f : search_order()) {
    ForkRef* r = by_name ? find_named(f->file->map, code, name) : find_ref(f->file->map, code, id);
    if (r) return found_value(*f, *r);
    if (current_only) break;
  }
  set_error(kResNotFound);
  return resource_box(0);
}

Value prim_getresource(Value type, Value key) { return get_resource(type, key, false); }
Value prim_get1resource(Value type, Value key) { return get_resource(type, key, true); }
Value prim_getpicture(Value id) { return get_resource(make_string("PICT"), id, false); }

Value prim_loadresource(Value res) {
  Found f;
  if (!is_box(res, kResourceBox) || !find_handle(box_addr(res), f)) {
    set_error(kResNotFound);
    return kNoValue;
  }
  ForkRef& r = f.ref();
  int e = kResOk;
  // A purged handle is reloaded only while the load flag is on; one that
  // was never loaded is loaded regardless.
  if (!has_data(r) && (r.loaded ? resource_state().load : true)) e = load(*f.file, r);
  set_error(e);
  return kNoValue;
}

// A resource lets go of its handle: disposed of (released) or kept as a
// plain handle (detached).
Value let_go(Value res, bool dispose) {
  Found f;
  if (!resource_arg(res, f)) return kNoValue;
  ForkRef& r = f.ref();
  // The only copy of changed data is never thrown away.
  if (r.attrs & kResChanged) {
    set_error(kResAttrErr);
    return kNoValue;
  }
  if (dispose) release_entry(r, res);
  else detach_entry(r, res);
  set_error(kResOk);
  return kNoValue;
}

Value prim_releaseresource(Value res) { return let_go(res, true); }
Value prim_detachresource(Value res) { return let_go(res, false); }

bool id_used(uint32_t code, int32_t id) {
  for (auto& f : resource_state().chain)
    if (find_ref(f->file->map, code, id)) return true;
  return false;
}

Value prim_uniqueid(Value type) {
  ResState& s = resource_state();
  uint32_t code = type_arg(type);
  if (code != s.unique_type) s.unique_next = 128;
  s.unique_type = code;
  // IDs stay positive: past 32767 the search starts again at 128. A type
  // holds far fewer resources than there are IDs, so one turn finds one.
  for (int turn = 0; turn < 0x8000 && id_used(code, s.unique_next); ++turn)
    s.unique_next = s.unique_next >= 32767 ? 128 : s.unique_next + 1;
  int32_t id = s.unique_next;
  s.unique_next = id >= 32767 ? 128 : id + 1;
  set_error(kResOk);
  return make_integer(id);
}

Value prim_getresid(Value res) {
  Found f;
  if (!resource_arg(res, f)) return kNil;
  set_error(kResOk);
  return make_integer(f.ref().id);
}

Value prim_getresname(Value res) {
  Found f;
  if (!resource_arg(res, f)) return make_string("");
  set_error(kResOk);
  const ForkRef& r = f.ref();
  return make_string(r.name.data(), r.named ? r.name.size() : 0);
}

Value prim_getresattrs(Value res) {
  Found f;
  if (!resource_arg(res, f)) return kNil;
  set_error(kResOk);
  return make_integer(f.ref().attrs);
}

Value prim_sizeresource(Value res) {
  Found f;
  if (!resource_arg(res, f)) return make_integer(-1);
  ForkRef& r = f.ref();
  set_error(kResOk);
  if (data::handle_live(r.handle) && data::handle_size(r.handle) != 0) return make_integer(int32_t(data::handle_size(r.handle)));
  int64_t len = -1;
  if (int e = f.file->file->stored_length(r, len)) set_error(e);
  return make_integer(int32_t(len));
}

// Edits of a file opened for reading only are refused before they are made.
bool editable(const Found& f, int code) {
  if (f.file->file->read_only) {
    set_error(code);
    return false;
  }
  return true;
}

Value prim_setresinfo(Value res, Value id, Value name) {
  Found f;
  if (!resource_arg(res, f) || !editable(f, kResReadOnly)) return kNoValue;
  ForkRef& r = f.ref();
  if (r.attrs & kResProtected) {
    set_error(kResAttrErr);
    return kNoValue;
  }
  int32_t n = 0;
  if (!integer_arg(id, n) || n < -32768 || n > 32767) error(Err::WrongType, id);
  std::string text = name == kNil ? "" : data::text_of(name);
  r.id = n;
  r.named = !text.empty();
  r.name = text.substr(0, kMaxName);
  f.file->file->map.attrs |= kMapChanged;
  set_error(kResOk);
  return kNoValue;
}

Value prim_setresattrs(Value res, Value attrs) {
  Found f;
  if (!resource_arg(res, f) || !editable(f, kResReadOnly)) return kNoValue;
  int32_t a = 0;
  if (!integer_arg(attrs, a)) error(Err::WrongType, attrs);
  ForkRef& r = f.ref();
  r.attrs = uint8_t(a);
  // Changed data stays in memory until it is written.
  mark_purgeable(r.handle, (r.attrs & kResPurgeable) && !(r.attrs & kResChanged));
  f.file->file->map.attrs |= kMapChanged;
  set_error(kResOk);
  return kNoValue;
}

Value prim_changedresource(Value res) {
  Found f;
  if (!resource_arg(res, f) || !editable(f, kResReadOnly)) return kNoValue;
  ForkRef& r = f.ref();
  r.attrs = uint8_t((r.attrs | kResChanged) & ~kResPurgeable);
  mark_purgeable(r.handle, false);
  f.file->file->map.attrs |= kMapChanged;
  set_error(kResOk);
  return kNoValue;
}

// Whether the map, with one more reference of that name, can still be written.
bool room_for(const ForkMap& m, uint32_t code, size_t name_len) {
  uint64_t types = 0, refs = 1, names = name_len ? name_len + 1 : 0;
  bool have = false;
  for (const ForkType& t : m.types) {
    types += 1;
    refs += t.refs.size();
    have = have || t.code == code;
    for (const ForkRef& r : t.refs)
      if (r.named) names += 1 + r.name.size();
  }
  if (!have) types += 1;
  const MapLayout& l = kResourceLayout;
  return l.header + l.word + types * l.type_entry() + refs * l.ref_size < l.none() && names < l.none();
}

Value prim_addresource(Value handle, Value type, Value id, Value name) {
  OpenRes* f = current_file();
  uint32_t h = is_box(handle, kBoxHandle) && data::handle_live(box_addr(handle)) ? box_addr(handle) : 0;
  Found owner;
  int32_t n = 0;
  if (!integer_arg(id, n) || n < -32768 || n > 32767) error(Err::WrongType, id);
  std::string text = name == kNil ? "" : data::text_of(name).substr(0, kMaxName);
  uint32_t code = type_arg(type);
  // A handle has one owner: one resource of one file, whatever its type.
  if (!f || h == 0 || find_handle(h, owner) || f->file->read_only || data::handle_size(h) > kMaxDataArea - 4 ||
      !room_for(f->file->map, code, text.size()))
    raise(set_error(kResAddFailed));
  ForkRef& r = add_ref(f->file->map, code, n, &text, h);
  r.loaded = true;
  mark_purgeable(h, false);
  set_box_kind(handle, kResourceBox);
  resource_state().types_changed = true;
  set_error(kResOk);
  return kNoValue;
}

Value prim_rmveresource(Value res) {
  Found f;
  if (!is_box(res, kResourceBox) || !find_handle(box_addr(res), f) || f.file->refnum != resource_state().current ||
      (f.ref().attrs & kResProtected) || f.file->file->read_only)
    raise(set_error(kResRemoveFailed));
  f.type->refs.erase(f.type->refs.begin() + long(f.index));
  f.file->file->map.attrs |= kMapChanged | kMapCompact;
  set_box_kind(res, kBoxHandle);
  resource_state().types_changed = true;
  set_error(kResOk);
  return kNoValue;
}

Value prim_updateresfile(Value refnum) {
  int32_t n = 0;
  OpenRes* f = integer_arg(refnum, n) ? file_of(n) : nullptr;
  raise(set_error(f ? update_file(*f) : kResNoFile));
  return kNoValue;
}

Value prim_writeresource(Value res) {
  Found f;
  if (!is_box(res, kResourceBox) || !find_handle(box_addr(res), f)) raise(set_error(kResNotFound));
  ForkRef& r = f.ref();
  int e = kResOk;
  if ((r.attrs & kResChanged) && f.file->file->writable()) {
    std::span<const uint8_t> bytes;
    e = data_in_handle(r, bytes) ? f.file->file->write_resource(r, bytes) : kResReadErr;
  }
  raise(set_error(e));
  return kNoValue;
}

Value prim_getresfileattrs(Value refnum) {
  int32_t n = 0;
  OpenRes* f = integer_arg(refnum, n) ? file_of(n) : nullptr;
  if (!f) {
    set_error(kResNoFile);
    return make_integer(0);
  }
  set_error(kResOk);
  return make_integer(f->file->map.attrs);
}

Value prim_setresfileattrs(Value refnum, Value attrs) {
  int32_t n = 0, a = 0;
  OpenRes* f = integer_arg(refnum, n) ? file_of(n) : nullptr;
  if (!f) {
    set_error(kResNoFile);
    return kNoValue;
  }
  if (!integer_arg(attrs, a)) error(Err::WrongType, attrs);
  f->file->map.attrs = uint16_t(a);
  set_error(kResOk);
  return kNoValue;
}

Value prim_count1types() {
  OpenRes* f = current_file();
  set_error(kResOk);
  return make_integer(f ? int32_t(f->file->map.types.size()) : 0);
}

Value prim_get1indtype(Value index) {
  OpenRes* f = current_file();
  int32_t i = 0;
  if (!f || !integer_arg(index, i) || i < 1 || size_t(i) > f->file->map.types.size()) {
    set_error(kResNotFound);
    return make_string("");
  }
  set_error(kResOk);
  return type_value(f->file->map.types[size_t(i - 1)].code);
}

Value prim_count1resources(Value type) {
  OpenRes* f = current_file();
  set_error(kResOk);
  ForkType* t = f ? find_type(f->file->map, type_arg(type)) : nullptr;
  return make_integer(t ? int32_t(t->refs.size()) : 0);
}

Value prim_get1indresource(Value type, Value index) {
  OpenRes* f = current_file();
  uint32_t code = type_arg(type);
  int32_t i = 0;
  if (!integer_arg(index, i) || i < 1) {
    set_error(kResOk);
    return resource_box(0);
  }
  ForkType* t = f ? find_type(f->file->map, code) : nullptr;
  if (!t || size_t(i) > t->refs.size()) {
    set_error(kResNotFound);
    return resource_box(0);
  }
  return found_value(*f, t->refs[size_t(i - 1)]);
}

// ---- String lists and help indexes --------------------------------------------------

Value prim_get_strings_count(Value h) {
  return make_integer(int32_t(ByteReader(handle_bytes(any_handle(h))).be16()));
}

Value prim_get_ind_string(Value id, Value index) {
  int32_t n = 0, i = 0;
  std::string s;
  if (integer_arg(id, n) && integer_arg(index, i) && indexed_string(n, i, s)) return make_string(s.data(), s.size());
  return make_string("");
}

Value prim_get_nb_string(Value id) {
  int32_t n = 0;
  std::vector<uint8_t> b;
  uint32_t count = 0;
  if (integer_arg(id, n) && resource_bytes(fourcc("STR#"), n, b)) count = ByteReader(b).be16();
  return make_integer(int32_t(count));
}

// The size of the help-index entry at `at`, 0 when it does not fit.
uint64_t help_entry(ByteReader& v, uint64_t at) {
  if (!v.fits(at + 4, 1)) return 0;
  uint32_t len = v.u8_at(at + 4);
  uint64_t size = 4 + ((uint64_t(len) + 2) & ~uint64_t(1));
  return v.fits(at, std::min<uint64_t>(size, 5 + len)) ? size : 0;
}

Value prim_help_get_offset(Value h, Value n) {
  ByteReader v(handle_bytes(any_handle(h)));
  int32_t count = 0;
  if (!integer_arg(n, count)) error(Err::WrongType, n);
  uint64_t at = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint64_t size = help_entry(v, at);
    if (size == 0) break;
    at += size;
  }
  return make_integer(int32_t(at));
}

Value prim_help_get_no(Value h, Value offset) {
  ByteReader v(handle_bytes(any_handle(h)));
  int32_t left = 0;
  if (!integer_arg(offset, left)) error(Err::WrongType, offset);
  int32_t n = 0;
  uint64_t at = 0;
  int64_t rest = left;
  while (rest > 0) {
    uint64_t size = help_entry(v, at);
    if (size == 0) break;
    ++n;
    at += size;
    rest -= int64_t(size);
  }
  return make_integer(n);
}

Value prim_help_get_all_name(Value h) {
  std::vector<uint8_t> bytes = bytes_of_handle(any_handle(h));
  ByteReader v(bytes);
  std::vector<std::string> names;
  for (uint64_t at = 0;;) {
    uint64_t size = help_entry(v, at);
    if (size == 0) break;
    uint32_t len = v.u8_at(at + 4);
    auto s = v.bytes_at(at + 5, len);
    names.emplace_back(s.begin(), s.end());
    at += size;
  }
  Value list = kNil;
  for (size_t i = names.size(); i-- > 0;) list = cons(make_string(names[i].data(), names[i].size()), list);
  return list;
}

Value prim_openrf_p(Value path) { return boolean(find_resource_file(os_path(path)) != 0); }

Value prim_resource_fork_exists_p(Value path) {
  std::string p = os_path(path);
  if (find_resource_file(p) != 0) return rt().sym.t;
  std::unique_ptr<ResFile> f;
  return boolean(ResFile::open(p, f) == 0);
}

const NativeRow kResourceNatives[] = {
    TV_PRIM("openresfile", prim_openresfile, "(openresfile PATHNAME) opens the resource file and makes it current; its reference number (the same for a file already open), or -1 when it cannot (reserror tells the outcome)"),
    TV_PRIM("closeresfile", prim_closeresfile, "(closeresfile REFNUM) writes the file's changes, then closes it; no value; a file error on failure, reserror holding its code"),
    TV_PRIM("reserror", prim_reserror, "(reserror) the result code of the last resource call, 0 for success"),
    TV_PRIM("curresfile", prim_curresfile, "(curresfile) the reference number of the current resource file, 0 when none"),
    TV_PRIM("homeresfile", prim_homeresfile, "(homeresfile RESOURCE) the reference number of the file holding RESOURCE, -1 when none does"),
    TV_PRIM("useresfile", prim_useresfile, "(useresfile REFNUM) makes that open file current, 0 none; no value; reserror tells the outcome"),
    TV_PRIM("setresload", prim_setresload, "(setresload FLAG) whether purged resource data is read again when asked for; no value"),
    TV_PRIM("countresources", prim_countresources, "(countresources TYPE) the number of resources of TYPE (a string's first four characters) in all open files"),
    TV_PRIM("getindresource", prim_getindresource, "(getindresource TYPE INDEX) the INDEX-th (from 1) resource of TYPE over all open files; an empty resource box (reserror -192) when there is none"),
    TV_PRIM("getresource", prim_getresource, "(getresource TYPE ID-OR-NAME) the resource of TYPE with that ID or name, searched from the current file down; an empty resource box (reserror -192) when there is none; error 2 with a key neither integer nor string"),
    TV_PRIM("getpicture", prim_getpicture, "(getpicture ID) the PICT resource ID, as getresource"),
    TV_PRIM("loadresource", prim_loadresource, "(loadresource RESOURCE) reads the resource's data when it is not in memory; no value; reserror tells the outcome"),
    TV_PRIM("releaseresource", prim_releaseresource, "(releaseresource RESOURCE) frees the resource's data; the resource keeps no handle; no value"),
    TV_PRIM("detachresource", prim_detachresource, "(detachresource RESOURCE) the resource lets go of its data, which becomes a plain handle; no value"),
    TV_PRIM("uniqueid", prim_uniqueid, "(uniqueid TYPE) an ID from 128 to 32767 that no open file uses for TYPE"),
    TV_PRIM("unique1id", prim_uniqueid, "(unique1id TYPE) an ID from 128 to 32767 that no open file uses for TYPE"),
    TV_PRIM("getresid", prim_getresid, "(getresid RESOURCE) the resource's ID, nil when it is no resource"),
    TV_PRIM("getresname", prim_getresname, "(getresname RESOURCE) the resource's name, \"\" when it has none or is no resource"),
    TV_PRIM("getresattrs", prim_getresattrs, "(getresattrs RESOURCE) the resource's attribute byte, nil when it is no resource"),
    TV_PRIM("sizeresource", prim_sizeresource, "(sizeresource RESOURCE) the size in bytes of the resource's data, -1 when it is no resource"),
    TV_PRIM("setresinfo", prim_setresinfo, "(setresinfo RESOURCE ID NAME) gives the resource a new ID and NAME (nil for none); no value; reserror tells the outcome; error 2 with an ID outside 16 bits"),
    TV_PRIM("setresattrs", prim_setresattrs, "(setresattrs RESOURCE ATTRIBUTES) sets the resource's attribute byte; no value; reserror tells the outcome"),
    TV_PRIM("changedresource", prim_changedresource, "(changedresource RESOURCE) marks the resource changed, to be written by updateresfile or writeresource; no value; reserror tells the outcome"),
    TV_PRIM("addresource", prim_addresource, "(addresource HANDLE TYPE ID NAME) makes HANDLE a resource of TYPE, ID and NAME in the current file; the value becomes a resource; no value; a file error when it cannot be added"),
    TV_PRIM("rmveresource", prim_rmveresource, "(rmveresource RESOURCE) removes the resource from the current file; the value becomes a plain handle; no value; a file error when it cannot be removed"),
    TV_PRIM("updateresfile", prim_updateresfile, "(updateresfile REFNUM) writes the file's changed resources and map; no value; a file error on failure, reserror holding its code"),
    TV_PRIM("writeresource", prim_writeresource, "(writeresource RESOURCE) writes the resource's data when it is marked changed; no value; a file error on failure, reserror holding its code"),
    TV_PRIM("getresfileattrs", prim_getresfileattrs, "(getresfileattrs REFNUM) the attributes of the file's map, 0 when it is not open"),
    TV_PRIM("setresfileattrs", prim_setresfileattrs, "(setresfileattrs REFNUM ATTRIBUTES) sets the attributes of the file's map; no value; reserror tells the outcome"),
    TV_PRIM("count1types", prim_count1types, "(count1types) the number of resource types in the current file"),
    TV_PRIM("get1indtype", prim_get1indtype, "(get1indtype INDEX) the INDEX-th (from 1) type of the current file as a 4-character string, \"\" when there is none"),
    TV_PRIM("count1resources", prim_count1resources, "(count1resources TYPE) the number of resources of TYPE in the current file"),
    TV_PRIM("get1indresource", prim_get1indresource, "(get1indresource TYPE INDEX) the INDEX-th (from 1) resource of TYPE in the current file; an empty resource box (reserror -192) when there is none"),
    TV_PRIM("get1resource", prim_get1resource, "(get1resource TYPE ID-OR-NAME) the resource of TYPE with that ID or name in the current file only; an empty resource box (reserror -192) when there is none"),
    TV_PRIM("get-strings-count", prim_get_strings_count, "(get-strings-count HANDLE) the first 16-bit word of the handle's data: the count of a string list"),
    TV_PRIM2("get-ind-string", prim_get_ind_string, "(get-ind-string ID INDEX) the INDEX-th (from 1) string of the STR# resource ID, \"\" when absent"),
    TV_PRIM("get-nb-string", prim_get_nb_string, "(get-nb-string ID) the number of strings of the STR# resource ID, 0 when absent"),
    TV_PRIM2("help-get-offset", prim_help_get_offset, "(help-get-offset HANDLE N) the byte offset of the entry after the first N entries of a help index"),
    TV_PRIM2("help-get-no", prim_help_get_no, "(help-get-no HANDLE OFFSET) the number of help index entries that start before byte OFFSET"),
    TV_PRIM2("help-get-all-name", prim_help_get_all_name, "(help-get-all-name HANDLE) the list of the names of all entries of a help index"),
    TV_PRIM2("openrf?", prim_openrf_p, "(openrf? PATHNAME) t when the file is open as a resource file, otherwise nil"),
    TV_PRIM2("resource-fork-exists?", prim_resource_fork_exists_p, "(resource-fork-exists? PATHNAME) t when the file is open, or opens, as a resource file, otherwise nil"),
};

bool format_string(int32_t id, int32_t index, std::string& out) {
  return index == 0 ? string_resource(id, out) : indexed_string(id, index, out);
}

}  // namespace

Value find_resource(uint32_t type, int32_t id) {
  for (OpenRes* f : search_order())
    if (ForkRef* r = find_ref(f->file->map, type, id)) return found_value(*f, *r);
  set_error(kResNotFound);
  return resource_box(0);
}

void release_resource(Value res) { let_go(res, true); }

const Module kResourcesModule{
    "resources",
    [](Runtime&) -> std::unique_ptr<ModuleState> { return std::make_unique<ResState>(); },
    [](Runtime& r) {
      register_natives(kResourceNatives);
      r.string_resource = format_string;
    },
    nullptr,
    [](Runtime&) {
      // Every open file is closed, newest first, its changes written.
      while (!resource_state().chain.empty()) close_resource_file(resource_state().chain.front()->refnum);
    },
};

}  // namespace storage
