// Memory zones and allocation: the node allocator, the heap allocator with
// its indirect chain, zone sizing and growth.
//
// Nodes never move: a node-backed Value stays valid for as long as the node
// is reachable. Heap bytes move at every collection: never keep a raw
// pointer into the heap zone across anything that can allocate; keep the
// Value and derive the pointer again.
#pragma once
#include <cstring>

#include "core/errors.hpp"
#include "core/runtime.hpp"

namespace core {

// ---- Sizing -----------------------------------------------------------------

// Zone sizes computed from a memory description, before anything is built.
struct ZoneLayout {
  bool ok = false;
  int64_t shortfall_kb = 0;  // when !ok: the kilobytes to report
  uint32_t symbol_slots = 0, lisp_words = 0, prolog_words = 0, nodes = 0;
  uint32_t heap = 0, reserve = 0, stack_allowance = 0;
  uint32_t block_size = 0;
};

// The sizing rule: total = min(preferred, available), spare memory shared
// between nodes and the native reserve, the heap taking the rest.
// `available` is the native memory the machine may take (already reduced
// by what handles hold and by the safety margin).
ZoneLayout size_zones(const MemoryPrefs& prefs, uint32_t preferred, uint64_t available);

// Native memory available to the block: min(preferred - handle bytes,
// available virtual memory - 1,000,000), as unsigned numbers.
uint64_t available_native_memory(uint32_t preferred, uint64_t handle_bytes);

// Lays the zones out in the runtime's block (the block is allocated here).
void build_zones(Runtime& r, const ZoneLayout& layout);

// ---- Nodes ------------------------------------------------------------------

inline Node& node_at(uint32_t offset) {
  return *reinterpret_cast<Node*>(rt().zones.node_base + offset);
}
inline Node& node_of(Value v) { return node_at(v.payload()); }
inline uint8_t* at_addr(Addr a) { return rt().region.ptr(a); }

// Links never-used nodes or collects, and grows as needed, so that at least
// two nodes are on the free list; shows the out-of-memory alert when
// nothing helps.
void node_shortage();
// Links up to `most` never-used nodes onto the free list; false when there
// were none.
bool link_fresh_nodes(uint32_t most);

// Allocates a pair (car . cdr). The most called operation of the system.
inline Value cons(Value car, Value cdr) {
  Zones& z = rt().zones;
#ifdef TALVEN_GC_STRESS
  if (z.stress_pause == 0 || z.list_count < 2) node_shortage();
#else
  if (z.list_count < 2) node_shortage();
#endif
  uint32_t off = z.free_head;
  Node& n = node_at(off);
  z.free_head = word_payload(n.cdr);
  --z.list_count;
  --z.free_count;
  n.car = car.bits;
  n.cdr = cdr.bits;
  return Value::make(Tag::Pair, off);
}

// Allocates a node with raw words, answered as a Value of the given tag.
inline Value alloc_node(Tag tag, uint32_t car, uint32_t cdr) {
  Value v = cons(kNil, kNil);
  Node& n = node_of(v);
  n.car = car;
  n.cdr = cdr;
  return v.retag(tag);
}

// In the collect-always build, suspends the collection before every
// allocation for its extent (allocation still collects when memory runs
// out). Tests that build very large structures use it, since collecting at
// each of their allocations costs time quadratic in the structure.
class StressPause {
 public:
  StressPause() { ++rt().zones.stress_pause; }
  ~StressPause() { --rt().zones.stress_pause; }
  StressPause(const StressPause&) = delete;
  StressPause& operator=(const StressPause&) = delete;
};

// ---- Heap -------------------------------------------------------------------

// Guarantees that the next indirect allocation of n bytes fits and that at
// least two nodes are free; collects, grows, or shows the out-of-memory
// alert. Callers may then write the object's bytes at heap_top().
void reserve_heap(uint32_t n);
inline uint8_t* heap_top_ptr() { return at_addr(rt().zones.heap_top); }

// After reserve_heap(n): makes the bytes at the heap top an indirect object
// of n bytes (rounded up to even in the heap) with the header tag and the
// result tag. Never collects.
Value alloc_indirect(uint32_t n, Tag tag, Header header);

// Address of an indirect object's bytes (valid until the next allocation).
inline uint8_t* indirect_bytes(Value v) { return at_addr(node_of(v).cdr); }

// Slides the heap up by d bytes (chain addresses follow).
void move_heap_up(uint32_t d);
// Adds max(n, 5000) nodes taken from the heap; false unless growable and
// the heap has room.
bool grow_nodes(uint32_t n);
// A full collection.
void collect();

// ---- Lisp stack -------------------------------------------------------------

// Pushes a word on the Lisp stack; overflow is error 61, never a write past
// the zone.
[[noreturn]] void lisp_stack_overflow();
inline void push(Value v) {
  Zones& z = rt().zones;
  if (z.sp >= z.lisp_limit) lisp_stack_overflow();
  *z.sp++ = v;
}
// Pushes a word on the Prolog stack, which grows downward; overflow is
// error 61 as well.
inline void prolog_push(Value v) {
  Zones& z = rt().zones;
  if (z.prolog_sp <= z.prolog_stack) lisp_stack_overflow();
  *--z.prolog_sp = v;
}

// Restores the Lisp stack pointer when it goes out of scope.
class StackMark {
 public:
  StackMark() : saved_(rt().zones.sp) {}
  ~StackMark() { rt().zones.sp = saved_; }
  StackMark(const StackMark&) = delete;
  StackMark& operator=(const StackMark&) = delete;
  Value* base() const { return saved_; }

 private:
  Value* saved_;
};

// Checks the native stack against its limit: error 61 when recursion has
// gone too deep. Native recursions (evaluator, printer, equal?, reader)
// call it on entry.
// The native stack pointer. Read from the register where we can: a local
// whose address is taken would need a slot of its own in every frame that
// checks, and there is one such frame per Lisp call.
[[gnu::always_inline]] inline uintptr_t native_stack_pointer() {
#if defined(__x86_64__)
  uintptr_t sp;
  asm volatile("mov %%rsp, %0" : "=r"(sp));
  return sp;
#elif defined(__aarch64__)
  uintptr_t sp;
  asm volatile("mov %0, sp" : "=r"(sp));
  return sp;
#else
  char here;
  return reinterpret_cast<uintptr_t>(&here);
#endif
}

inline void check_native_stack() {
  if (native_stack_pointer() < rt().zones.native_stack_limit) lisp_stack_overflow();
}

// ---- Boxing -----------------------------------------------------------------

// The single integer conversion: a fixnum when it fits, else a long.
// The fixnum case is inlined everywhere; the long is boxed out of line.
Value make_long(int32_t n);
[[gnu::always_inline]] inline Value make_integer(int32_t n) {
  if (fits_fixnum(n)) [[likely]]
    return make_fixnum(n);
  return make_long(n);
}
inline bool is_integer(Value v) { return v.is_fixnum() || v.is(Tag::Long); }
// A fixnum or long as a native integer; error 2 with the value otherwise.
int32_t read_integer(Value v);
inline int32_t long_value(Value v) { return int32_t(node_of(v).cdr); }

Value make_real(double d);
inline double real_value(Value v) {
  double d;
  std::memcpy(&d, indirect_bytes(v), 8);
  return d;
}
// A fixnum, long or real as a double; error 2 otherwise.
double read_double(Value v);

// Pointer boxes: the address is a region offset (or a table id); the
// sub-kind is the header's payload. The sub-kinds, with the names the
// printer gives them:
#define TALVEN_BOX_KINDS(X)                                                                    \
  X(Plain, 0, "pointer") X(Memory, 1, "memory pointer") X(Handle, 2, "handle")                \
  X(Resource, 3, "resource") X(Owned, 4, "cpp object") X(Frame, 5, "frame pointer")           \
  X(File, 6, "file") X(Text, 7, "text") X(Port, 8, "port") X(Offscreen, 9, "offscreen")       \
  X(Picture, 10, "picture") X(Region, 11, "region") X(Database, 12, "database")               \
  X(Record, 13, "record") X(Process, 14, "process") X(DragInfo, 15, "drag-info")
enum BoxKind : uint32_t {
#define TALVEN_X(name, num, text) kBox##name = num,
  TALVEN_BOX_KINDS(TALVEN_X)
#undef TALVEN_X
};
// The printed name of a sub-kind (its low four bits).
inline const char* box_kind_name(uint32_t kind) {
  static const char* const names[] = {
#define TALVEN_X(name, num, text) text,
      TALVEN_BOX_KINDS(TALVEN_X)
#undef TALVEN_X
  };
  return names[kind & 15];
}
Value box_address(Addr a, uint32_t sub_kind = 0);
inline Addr box_addr(Value v) { return node_of(v).cdr; }
inline uint32_t box_kind(Value v) { return word_payload(node_of(v).car); }

// ---- Strings ----------------------------------------------------------------

// A heap string holding a copy of n bytes of text (zero-terminated).
Value make_string(const char* text, size_t n);
inline Value make_string(const char* text) { return make_string(text, std::strlen(text)); }
// The text of a string (valid until the next allocation).
inline const char* string_text(Value s) {
  return reinterpret_cast<const char*>(at_addr(node_of(s).cdr));
}

// ---- Lists ------------------------------------------------------------------

inline Value car(Value v) { return word_value(node_of(v).car); }
inline Value cdr(Value v) { return Value(node_of(v).cdr); }
inline void set_car(Value v, Value x) {
  Node& n = node_of(v);
  n.car = (n.car & kPermanentBit) | x.bits;
}
inline void set_cdr(Value v, Value x) { node_of(v).cdr = x.bits; }

// Builds a new list front to back: the one list builder of every module.
// Both words stay in this object on the native stack, where the collector
// sees them.
struct ListBuilder {
  Value head = kNil;
  Value tail = kNil;
  void add(Value x) {
    Value p = cons(x, kNil);
    if (tail.is_nil())
      head = p;
    else
      set_cdr(tail, p);
    tail = p;
  }
  // Ends the list with `rest` and answers it.
  Value finish(Value rest = kNil) {
    if (tail.is_nil()) return rest;
    set_cdr(tail, rest);
    return head;
  }
};

extern const Module kZonesModule;

}  // namespace core
