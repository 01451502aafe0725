// The handle table, pointer blocks and the raw memory primitives.
#include "data/handles.hpp"

#include <cstring>
#include <fstream>
#include <string>

#include "core/args.hpp"
#include "core/bytes.hpp"
#include "core/natives.hpp"
#include "data/state.hpp"

namespace data {
using namespace core;

namespace {

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// The machine's available memory minus the safety margin.
uint64_t system_available() {
  std::ifstream info("/proc/meminfo");
  std::string key, unit;
  uint64_t kb = 0;
  while (info >> key >> kb >> unit)
    if (key == "MemAvailable:") return kb * 1024 > 1000000 ? kb * 1024 - 1000000 : 0;
  return uint64_t(1) << 30;
}

HandleEntry* entry(uint32_t h) { return data_state().handles.find(h); }

// Throws away the blocks of purgeable, unlocked handles.
void purge() {
  DataState& d = data_state();
  d.handles.for_each([&](uint32_t, HandleEntry& e) {
    if (e.size > 0 && e.purgeable && e.locks == 0 && e.memory != 0) {
      rt().region.release(e.memory);
      d.handle_bytes -= e.size;
      e.memory = 0;
      e.size = 0;
    }
  });
}

}  // namespace

uint64_t space_available() {
  uint64_t held = data_state().handle_bytes;
  uint64_t from_prefs = held < kDefaultPreferred ? kDefaultPreferred - held : 0;
  return std::min(from_prefs, system_available());
}

uint32_t new_handle(uint32_t n) {
  if (space_available() <= n) purge();
  // Blocks beyond the space available are refused rather than taken from
  // the machine without limit.
  if (n > 0 && space_available() < n) return 0;
  HandleEntry e;
  if (n > 0) {
    e.memory = rt().region.allocate(n);
    if (e.memory == 0) return 0;
    e.size = n;
  }
  uint32_t h = data_state().handles.add(e);
  if (h == 0) {
    if (e.memory != 0) rt().region.release(e.memory);
    return 0;
  }
  data_state().handle_bytes += n;
  return h;
}

bool handle_live(uint32_t h) { return entry(h) != nullptr; }

void dispose_handle(uint32_t h) {
  HandleEntry* e = entry(h);
  if (e == nullptr) return;
  if (e->memory != 0) {
    rt().region.release(e->memory);
    data_state().handle_bytes -= e->size;
  }
  data_state().handles.remove(h);
}

bool set_handle_size(uint32_t h, uint32_t n) {
  HandleEntry* e = entry(h);
  if (e == nullptr) return false;
  uint32_t old = e->size;
  if (n == 0) {
    if (e->memory != 0) rt().region.release(e->memory);
    data_state().handle_bytes -= old;
    e->memory = 0;
    e->size = 0;
    return true;
  }
  if (n > old && space_available() < n - old) return false;
  Addr a = rt().region.allocate(n);
  if (a == 0) return false;
  e = entry(h);
  if (e->memory != 0) {
    std::memcpy(rt().region.ptr(a), rt().region.ptr(e->memory), std::min(old, n));
    rt().region.release(e->memory);
  }
  e->memory = a;
  e->size = n;
  data_state().handle_bytes += n;
  data_state().handle_bytes -= old;
  return true;
}

uint32_t handle_size(uint32_t h) {
  HandleEntry* e = entry(h);
  return e == nullptr ? 0 : e->size;
}

Addr handle_memory(uint32_t h) {
  HandleEntry* e = entry(h);
  return e == nullptr ? 0 : e->memory;
}

Addr lock_handle(uint32_t h) {
  HandleEntry* e = entry(h);
  if (e == nullptr) error(Err::WrongType, make_integer(int32_t(h)));
  if (e->memory == 0) error(Err::EmptyHandle, kNil);
  ++e->locks;
  return e->memory;
}

void unlock_handle(uint32_t h) {
  HandleEntry* e = entry(h);
  if (e != nullptr && e->locks > 0) --e->locks;
}

Addr new_pointer(uint32_t n) {
  if (n > 0xFFFFFFF0u) error(Err::NativeMemory, kNil);
  uint32_t h = new_handle(n + 4);
  if (h == 0) error(Err::NativeMemory, kNil);
  Addr a = lock_handle(h);
  std::memcpy(rt().region.ptr(a), &h, 4);
  return a + 4;
}

uint32_t pointer_handle(Addr p) {
  if (p < Region::kFirst + 4) return 0;
  Addr block = p - 4;
  if (rt().region.block_size(block) == 0) return 0;
  uint32_t h;
  std::memcpy(&h, rt().region.ptr(block), 4);
  HandleEntry* e = entry(h);
  return e != nullptr && e->memory == block ? h : 0;
}

void dispose_pointer(Addr p) {
  uint32_t h = pointer_handle(p);
  if (h != 0) dispose_handle(h);
}

namespace {

// Whether [a, a + n) lies inside the block of a live handle (pointer blocks
// are handles too). The handle last found is tried first: raw access runs
// in loops over one block.
bool inside_handle_block(Addr a, uint32_t n) {
  if (a == 0 || uint64_t(a) + n > Region::kReserve) return false;
  Addr block = rt().region.block_containing(a, n);
  if (block == 0) return false;
  DataState& d = data_state();
  HandleEntry* last = entry(d.last_block_handle);
  if (last != nullptr && last->memory == block) return true;
  bool found = false;
  d.handles.for_each([&](uint32_t id, HandleEntry& e) {
    if (!found && e.memory == block) {
      d.last_block_handle = id;
      found = true;
    }
  });
  return found;
}

// Whether [a, a + n) lies inside the Lisp block, the zones that
// `zone-addresses` names.
bool inside_lisp_block(Addr a, uint32_t n) {
  const Zones& z = rt().zones;
  return a >= z.block && uint64_t(a) + n <= uint64_t(z.block) + z.block_size;
}

}  // namespace

uint8_t* checked_bytes(Value culprit, Addr a, uint32_t n) {
  if (n == 0) n = 1;
  if (a == 0 || uint64_t(a) + n > Region::kReserve || rt().region.block_containing(a, n) == 0)
    error(Err::WrongType, culprit);
  return rt().region.ptr(a);
}

const uint8_t* readable_bytes(Value culprit, Addr a, uint32_t n) {
  if (n == 0) n = 1;
  if (!inside_handle_block(a, n) && !inside_lisp_block(a, n)) error(Err::WrongType, culprit);
  return rt().region.ptr(a);
}

uint8_t* writable_bytes(Value culprit, Addr a, uint32_t n) {
  if (n == 0) n = 1;
  if (!inside_handle_block(a, n)) error(Err::WrongType, culprit);
  return rt().region.ptr(a);
}

void release_all_handles() {
  DataState& d = data_state();
  d.handles.for_each([](uint32_t, HandleEntry& e) {
    if (e.memory != 0) rt().region.release(e.memory);
  });
  d.handles.clear();
  d.handle_bytes = 0;
}

// ---- Boxes ------------------------------------------------------------------

Value box_handle(uint32_t h) { return box_address(h, kBoxHandle); }
Value box_pointer(Addr p) { return box_address(p, kBoxMemory); }

uint32_t handle_arg(Value box) {
  // A resource or record box holds the handle of its data.
  if (!box.is(Tag::Pointer) || (box_kind(box) != kBoxHandle && box_kind(box) != kBoxResource && box_kind(box) != kBoxRecord))
    error(Err::WrongType, box);
  data_state().handles.get(box_addr(box), box);
  return box_addr(box);
}

Addr address_arg(Value box) {
  if (box_kind(arg_pointer(box)) == kBoxHandle || box_kind(box) == kBoxResource || box_kind(box) == kBoxRecord)
    error(Err::WrongType, box);
  return box_addr(box);
}

Addr pointer_arg(Value box) {
  if (!box.is(Tag::Pointer) || box_kind(box) != kBoxMemory || pointer_handle(box_addr(box)) == 0)
    error(Err::WrongType, box);
  return box_addr(box);
}

// ---- Primitives -----------------------------------------------------------------

namespace {

// The address plus the sum of the offsets of a rest vector.
Addr offset_address(Value box, Value* offsets) {
  uint32_t a = address_arg(box);
  for (; !offsets->is_end(); ++offsets) a += uint32_t(read_integer(*offsets));
  return a;
}

}  // namespace

static Value prim_new_ptr(Value size) { return box_pointer(new_pointer(arg_count(size))); }

static Value prim_dispose_ptr(Value box) {
  Addr p = pointer_arg(box);
  dispose_pointer(p);
  node_of(box).cdr = 0;
  return kNoValue;
}

static Value prim_add_ptr(Value box, Value* offsets) { return box_address(offset_address(box, offsets)); }

static Value prim_mref(Value kind, Value box, Value* offsets) {
  Addr a = offset_address(box, offsets);
  int32_t k = read_integer(kind);
  uint32_t width = k == 1 ? 1 : (k == 4 || k == -4) ? 4 : 2;
  if (k != 1 && k != 2 && k != 3 && k != 4 && k != -2 && k != -3 && k != -4) error(Err::WrongType, kind);
  const uint8_t* p = readable_bytes(box, a, width);
  switch (k) {
    case 1: return make_fixnum(p[0]);
    case 2: return make_fixnum(load_ne16(p));
    case 3: return make_fixnum(int16_t(load_ne16(p)));
    case 4: return make_integer(int32_t(load_ne32(p)));
    case -2: return make_fixnum(load_be16(p));
    case -3: return make_fixnum(int16_t(load_be16(p)));
    default: return make_integer(int32_t(load_be32(p)));
  }
}

static Value prim_mset(Value kind, Value value, Value box, Value* offsets) {
  Addr a = offset_address(box, offsets);
  int32_t k = read_integer(kind);
  if (k != 1 && k != 2 && k != 4 && k != -2 && k != -4) error(Err::WrongType, kind);
  if (!is_integer(value)) error(Err::WrongType, kind);
  uint32_t v = uint32_t(read_integer(value));
  uint32_t width = k == 1 ? 1 : (k == 4 || k == -4) ? 4 : 2;
  uint8_t* p = writable_bytes(box, a, width);
  switch (k) {
    case 1: p[0] = uint8_t(v); break;
    case 2: store_ne16(p, uint16_t(v)); break;
    case 4: store_ne32(p, v); break;
    case -2: store_be16(p, uint16_t(v)); break;
    default: store_be32(p, v); break;
  }
  return value;
}

static Value prim_equal_block_p(Value a, Value b, Value count) {
  uint32_t n = arg_count(count);
  if (n == 0) return rt().sym.t;
  const uint8_t* p = readable_bytes(a, address_arg(a), n);
  const uint8_t* q = readable_bytes(b, address_arg(b), n);
  return boolean(std::memcmp(p, q, n) == 0);
}

static Value prim_new_handle(Value size) { return box_handle(new_handle(arg_count(size))); }

static Value prim_copy_handle(Value box) {
  uint32_t h = handle_arg(box);
  uint32_t n = handle_size(h);
  uint32_t copy = new_handle(n);
  if (copy != 0 && n > 0) std::memcpy(rt().region.ptr(handle_memory(copy)), rt().region.ptr(handle_memory(h)), n);
  return box_handle(copy);
}

static Value prim_dispose_handle(Value box) {
  dispose_handle(handle_arg(box));
  node_of(box).cdr = 0;
  return kNoValue;
}

static Value prim_get_handle_size(Value box) { return make_integer(int32_t(handle_size(handle_arg(box)))); }

static Value prim_set_handle_size(Value box, Value size) {
  if (!set_handle_size(handle_arg(box), arg_count(size))) error(Err::NativeMemory, kNil);
  return kNoValue;
}

static Value prim_hlock(Value box) { return box_address(lock_handle(handle_arg(box))); }
static Value prim_hunlock(Value box) {
  unlock_handle(handle_arg(box));
  return kNoValue;
}
static Value prim_hpurge(Value box) {
  entry(handle_arg(box))->purgeable = 1;
  return kNoValue;
}
static Value prim_hnopurge(Value box) {
  entry(handle_arg(box))->purgeable = 0;
  return kNoValue;
}

static Value prim_block_move(Value from, Value to, Value count) {
  uint32_t n = arg_count(count);
  if (n == 0) return kNoValue;
  const uint8_t* p = readable_bytes(from, address_arg(from), n);
  uint8_t* q = writable_bytes(to, address_arg(to), n);
  std::memmove(q, p, n);
  return kNoValue;
}

static Value available_value() {
  uint64_t n = space_available();
  return make_integer(int32_t(std::min<uint64_t>(n, INT32_MAX)));
}

static Value prim_compact_memory(Value size) {
  if (space_available() <= arg_count(size)) purge();
  return available_value();
}

static Value prim_not_available(Value, Value) { error(Err::NotAvailable, kNil); }
static Value prim_space_available_p(Value size) { return boolean(space_available() > arg_count(size)); }
static Value prim_null_ptr() { return box_address(0); }
static Value prim_null_ptr_p(Value box) {
  return boolean(box_addr(arg_pointer(box)) == 0);
}
static Value prim_ptr_equal_p(Value a, Value b) {
  return boolean(box_addr(arg_pointer(a)) == box_addr(arg_pointer(b)));
}
static Value prim_number_to_pointer(Value n) { return box_address(uint32_t(read_integer(n))); }
static Value prim_pointer_to_number(Value box) {
  return make_integer(int32_t(box_addr(arg_pointer(box))));
}

static const NativeRow kHandleNatives[] = {
    TV_PRIM("new-ptr", prim_new_ptr, "(new-ptr SIZE) a new fixed block of SIZE bytes, as a memory pointer"),
    TV_PRIM("dispose-ptr", prim_dispose_ptr, "(dispose-ptr POINTER) frees the block of a memory pointer and empties the box; no value"),
    TV_PRIM("add-ptr", prim_add_ptr, "(add-ptr POINTER OFFSET...) a pointer to POINTER's address plus the sum of the offsets"),
    TV_PRIM("mref", prim_mref, "(mref KIND POINTER OFFSET...) the number at the address plus offsets: KIND 1 byte, 2 / 3 unsigned / signed 16 bits, 4 32 bits, negative for big-endian"),
    TV_PRIM("mset", prim_mset, "(mset KIND VALUE POINTER OFFSET...) stores the integer VALUE at the address plus offsets (KIND 1, 2, 4, -2 or -4 as for mref); returns VALUE"),
    TV_PRIM("equal-block?", prim_equal_block_p, "(equal-block? POINTER1 POINTER2 COUNT) t when the COUNT bytes at the two addresses are equal"),
    TV_PRIM("copy-handle", prim_copy_handle, "(copy-handle HANDLE) a new handle holding a copy of HANDLE's bytes (an empty box when memory is short)"),
    TV_PRIM("new-handle", prim_new_handle, "(new-handle SIZE) a new relocatable block of SIZE bytes, as a handle (an empty box when memory is short)"),
    TV_PRIM("dispose-handle", prim_dispose_handle, "(dispose-handle HANDLE) frees the handle's block and empties the box; no value"),
    TV_PRIM("get-handle-size", prim_get_handle_size, "(get-handle-size HANDLE) the size of HANDLE's block in bytes (0 once purged)"),
    TV_PRIM("set-handle-size", prim_set_handle_size, "(set-handle-size HANDLE SIZE) resizes HANDLE's block, keeping its bytes; error 9 when memory is short; no value"),
    TV_PRIM("reallocate-handle", prim_set_handle_size, "(reallocate-handle HANDLE SIZE) the same as set-handle-size"),
    TV_PRIM("hlock", prim_hlock, "(hlock HANDLE) locks HANDLE and returns the address of its bytes as a pointer (error 60 when empty)"),
    TV_PRIM("hunlock", prim_hunlock, "(hunlock HANDLE) undoes one hlock; no value"),
    TV_PRIM("hpurge", prim_hpurge, "(hpurge HANDLE) lets HANDLE's block be thrown away when memory is short (while unlocked); no value"),
    TV_PRIM("hnopurge", prim_hnopurge, "(hnopurge HANDLE) keeps HANDLE's block from being purged; no value"),
    TV_PRIM("block-move", prim_block_move, "(block-move FROM TO COUNT) copies COUNT bytes from pointer FROM to pointer TO, overlap allowed; no value"),
    TV_PRIM("compact-memory", prim_compact_memory, "(compact-memory SIZE) purges purgeable handles when no more than SIZE bytes are free; the bytes available"),
    TV_PRIM("hgetstate", prim_not_available, "(hgetstate HANDLE) not available: error 47"),
    TV_PRIM("hsetstate", prim_not_available, "(hsetstate HANDLE STATE) not available: error 47"),
    TV_PRIM("space-available?", prim_space_available_p, "(space-available? SIZE) t when more than SIZE bytes are available for new blocks"),
    TV_PRIM("null-ptr", prim_null_ptr, "(null-ptr) a pointer to no address"),
    TV_PRIM("null-ptr?", prim_null_ptr_p, "(null-ptr? POINTER) t when POINTER holds no address"),
    TV_PRIM("ptr-equal?", prim_ptr_equal_p, "(ptr-equal? POINTER1 POINTER2) t when the two pointers hold the same address"),
    TV_PRIM("number->pointer", prim_number_to_pointer, "(number->pointer N) a pointer to the address N"),
    TV_PRIM("pointer->number", prim_pointer_to_number, "(pointer->number POINTER) the address a pointer holds, as an integer"),
};

// `with` releases the pointer blocks and handles it was given.
static void release_box(Value box) {
  if (!box.is(Tag::Pointer)) return;
  if (box_kind(box) == kBoxMemory) dispose_pointer(box_addr(box));
  else if (box_kind(box) == kBoxHandle) dispose_handle(box_addr(box));
  else return;
  node_of(box).cdr = 0;
}

static void install_module(core::Runtime&) {
  register_natives(kHandleNatives);
  rt().hooks.release_box = release_box;
}

extern const core::Module kHandlesModule{"handles", nullptr, install_module};

}  // namespace data
