// The collector: marking from the roots, heap compaction along the indirect
// chain, and the sweep that rebuilds the node free list.
#include "core/collector.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <csetjmp>
#include <cstring>

#include "core/alert.hpp"
#include "core/analysis.hpp"
#include "core/positions.hpp"
#include "core/blocks.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace core {

namespace {

// What a Value of each tag leads to, for marking and for the native-stack
// scan: nothing (immediates, symbols, natives, built-in syntax words), any
// node, or a node whose first word carries one particular header tag.
constexpr uint8_t kUntraced = 0;
constexpr uint8_t kAnyNode = 0xFF;

constexpr std::array<uint8_t, 64> kLeadsTo = [] {
  std::array<uint8_t, 64> t{};
  t[uint8_t(Tag::Real)] = uint8_t(Header::Real);
  t[uint8_t(Tag::Vector)] = uint8_t(Header::Vector);
  t[uint8_t(Tag::String)] = uint8_t(Header::String);
  t[uint8_t(Tag::Instance)] = uint8_t(Header::Instance);
  t[uint8_t(Tag::Class)] = uint8_t(Header::Class);
  t[uint8_t(Tag::HashTable)] = uint8_t(Header::HashTable);
  t[uint8_t(Tag::Long)] = uint8_t(Header::Long);
  t[uint8_t(Tag::Pointer)] = uint8_t(Header::Pointer);
  t[uint8_t(Tag::Record)] = uint8_t(Header::Record);
  t[uint8_t(Tag::ByteBlock)] = uint8_t(Header::ByteBlock);
  t[uint8_t(Tag::Array)] = uint8_t(Header::Array);
  for (Tag any : {Tag::Variable, Tag::Syntax, Tag::Lambda, Tag::Predicate, Tag::Lexical, Tag::Gamma,
                  Tag::Closed, Tag::LinkCache, Tag::VarCell, Tag::SyntaxGamma, Tag::ClosedSyntax,
                  Tag::SlotHandle, Tag::Pair})
    t[uint8_t(any)] = kAnyNode;
  return t;
}();

// Whether a payload names a real node: past the nil node, on an 8-byte
// boundary, inside the zone, and not among the never-used nodes (whose
// words are not yet nodes at all).
inline bool node_offset_ok(uint32_t off, const Zones& z) {
  return off >= 8 && (off & 7) == 0 && off <= 8 * z.node_count && (z.fresh == 0 || off < z.fresh);
}

// Pushes a Value whose tag leads to a node; the node is entered later.
inline void push_traced(Runtime& r, Value v) {
  if (kLeadsTo[v.tag_number()] == kUntraced) return;
  if (!node_offset_ok(v.payload(), r.zones)) return;
  r.mark_stack.push_back(v);
}

// Marks the elements of a vector or array block.
void mark_words(Runtime& r, const uint8_t* first, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) push_traced(r, block_word(first, i));
}

// Enters one node and everything it leads to. Pairs (and the function nodes
// laid out like them) are followed along their cdrs in this loop; cars and
// the contents of other nodes go to the work list.
void trace(Runtime& r, Value v) {
  Zones& z = r.zones;
  for (;;) {
    uint32_t off = v.payload();
    Node& n = node_at(off);
    if (n.car & kMarkBit) return;
    // Permanent nodes are entered too (once per collection, the mark bit
    // remembering the visit): a permanent list may have been given fresh
    // values by set-car! and set-cdr!.
    n.car |= kMarkBit;
    uint32_t w = n.car;
    switch (word_tag(w)) {
      case uint8_t(Header::Long):
      case uint8_t(Header::Real):
      case uint8_t(Header::String):
      case uint8_t(Header::ByteBlock):
        return;
      case uint8_t(Header::Vector): {
        // Elements are read only below the heap top, whatever the count
        // says (an object being filled may not have its count yet).
        if (n.cdr < z.heap_start || n.cdr + 2 > z.heap_top) return;
        const uint8_t* b = at_addr(n.cdr);
        mark_words(r, b + kVectorWordsAt,
                   std::min<uint32_t>(block_count(b), (z.heap_top - n.cdr - kVectorWordsAt) / 4));
        return;
      }
      case uint8_t(Header::Array): {
        if (n.cdr < z.heap_start || n.cdr + 4 > z.heap_top) return;
        const uint8_t* b = at_addr(n.cdr);
        uint32_t skip = array_words_at(array_rank_of(b));
        if (n.cdr + skip > z.heap_top) return;
        mark_words(r, b + skip, std::min<uint32_t>(block_count(b), (z.heap_top - n.cdr - skip) / 4));
        return;
      }
      case uint8_t(Header::HashTable): {
        if (n.cdr == 0) return;
        // One word per symbol slot, in a native block of the region.
        uint32_t words = z.symbol_slots;
        uint32_t size = r.region.block_size(n.cdr);
        if (size / 4 < words) words = size / 4;
        mark_words(r, at_addr(n.cdr), words);
        return;
      }
      case uint8_t(Header::Pointer):
        if (word_payload(w) == kBoxOwned && n.cdr != 0) {
          OwnedObject* o = owned_object(Value::make(Tag::Pointer, off));
          if (o != nullptr) o->mark_values();
        } else if (word_payload(w) < 16 && r.box_ops[word_payload(w)].mark != nullptr && n.cdr != 0) {
          r.box_ops[word_payload(w)].mark(Value::make(Tag::Pointer, off));
        }
        return;
      case uint8_t(Header::Record):
      case uint8_t(Header::Class):
      case uint8_t(Header::Instance):
        if (r.mark_object_record != nullptr) r.mark_object_record(Value::make(Tag::Pair, off));
        return;
      default: {
        push_traced(r, word_value(w));
        Value d(n.cdr);
        if (kLeadsTo[d.tag_number()] == kUntraced || !node_offset_ok(d.payload(), z)) return;
        v = d;
      }
    }
  }
}

void drain(Runtime& r) {
  while (!r.mark_stack.empty()) {
    Value v = r.mark_stack.back();
    r.mark_stack.pop_back();
    trace(r, v);
  }
}

// The conservative scan of the native stack, between the scanning frame and
// the top of the thread's stack. A 32-bit word at any 2-byte step counts
// when it looks like a Value of a traced tag whose node is in the zone and
// has the header that tag expects. Two more shapes are taken, because an
// optimising compiler may keep only what it derived from a Value across a
// call: a bare node offset (tag 0) on a 4-byte boundary, and a native
// pointer into the node zone on an 8-byte boundary. A stray word only keeps
// a node alive; the scan never writes to the stack.
using Word16 = uint16_t __attribute__((may_alias));
using Word64 = uint64_t __attribute__((may_alias));

__attribute__((noinline, no_sanitize("address"))) void scan_native_stack(Runtime& r) {
  Zones& z = r.zones;
  volatile uintptr_t here_mark = 0;
  uintptr_t from = reinterpret_cast<uintptr_t>(&here_mark) & ~uintptr_t(7);
  uintptr_t to = z.native_scan_top != 0 ? z.native_scan_top : z.native_stack_base;
  if (to <= from || from < z.native_scan_low) return;
  to &= ~uintptr_t(1);
  uintptr_t nodes_lo = reinterpret_cast<uintptr_t>(z.node_base) + 8;
  uintptr_t nodes_hi = reinterpret_cast<uintptr_t>(z.node_base) +
                      (z.fresh != 0 ? uint64_t(z.fresh) : 8 * (uint64_t(z.node_count) + 1));
  for (uintptr_t p = from; p + 4 <= to; p += 2) {
    uint32_t w = uint32_t(*reinterpret_cast<const Word16*>(p)) |
                 (uint32_t(*reinterpret_cast<const Word16*>(p + 2)) << 16);
    if ((p & 7) == 0 && p + 8 <= to) {
      uint64_t q = *reinterpret_cast<const Word64*>(p);
      if (q >= nodes_lo && q < nodes_hi) r.mark_stack.push_back(Value::make(Tag::Pair, uint32_t(q - (nodes_lo - 8)) & ~7u));
    }
    if (w & (kMarkBit | kPermanentBit)) continue;
    uint32_t off = word_payload(w);
    if (!node_offset_ok(off, z)) continue;
    unsigned tag = word_tag(w);
    uint8_t want = kLeadsTo[tag];
    if (want == kUntraced) {
      if (tag == 0 && (p & 3) == 0) r.mark_stack.push_back(Value::make(Tag::Pair, off));
      continue;
    }
    if (want != kAnyNode && word_tag(node_at(off).car) != want) continue;
    r.mark_stack.push_back(Value(w));
  }
}

// Spills the callee-saved registers into this frame before the scan, so
// that Values living only in registers are on the stack when it is read.
__attribute__((noinline)) void mark_native_stack(Runtime& r) {
  std::jmp_buf registers;
  __builtin_unwind_init();
  if (setjmp(registers) == 0) scan_native_stack(r);
  drain(r);
}

void mark_roots(Runtime& r) {
  Zones& z = r.zones;
  // 1. Symbol records: the value and the owner word (the slots in use only:
  // a large table is mostly empty).
  for (uint32_t i : z.used_symbols) {
    const auto& rec = *reinterpret_cast<const SymbolRecord*>(z.symbols + 16ull * i);
    if (rec.value != 0) push_traced(r, Value(rec.value));
    if (rec.owner != 0) push_traced(r, Value(rec.owner));
    if (r.mark_stack.size() > 4096) drain(r);
  }
  drain(r);
  // 2. The current object, the shared empty string, the structure table,
  // the exit a protected send holds pending, and the culprit of the last
  // error.
  push_traced(r, r.current_object);
  push_traced(r, r.empty_string);
  push_traced(r, r.structure_table);
  push_traced(r, r.pending_tag);
  push_traced(r, r.pending_value);
  push_traced(r, r.last_error.culprit);
  drain(r);
  // 3. The chain's head and tail are kept whatever holds them.
  node_at(z.chain_head).car |= kMarkBit;
  node_at(z.chain_tail).car |= kMarkBit;
  // 4. The native stack, conservatively.
  mark_native_stack(r);
  // 5. The Lisp stack, every word from the top down.
  for (Value* p = z.sp; p > z.lisp_stack;) {
    push_traced(r, *--p);
    if (r.mark_stack.size() > 4096) drain(r);
  }
  drain(r);
  // 6. Every module's own roots, in list order (the reader's tables, the
  // streams, running sorts, the object system's root class...).
  for (auto& m : r.modules) {
    if (m.module->mark_roots == nullptr) continue;
    m.module->mark_roots(r);
    drain(r);
  }
}

// The size of the object of a kept chain node by its header tag, or 0 when
// the header is not one that lives on the chain or the size runs past the
// heap top.
uint32_t object_size(Runtime& r, uint32_t off, Addr top) {
  Node& n = node_at(off);
  Addr a = n.cdr;
  if (a >= top) return 0;
  const uint8_t* b = at_addr(a);
  uint32_t room = top - a;
  uint32_t size = 0;
  switch (word_tag(n.car)) {
    case uint8_t(Header::Array):
      if (room < 4) return 0;
      size = array_block_size(block_count(b), array_rank_of(b));
      break;
    case uint8_t(Header::Vector):
      if (room < 2) return 0;
      size = vector_block_size(block_count(b));
      break;
    case uint8_t(Header::Real):
      size = 8;
      break;
    case uint8_t(Header::String): {
      const void* end = std::memchr(b, 0, room);
      if (end == nullptr) return 0;
      size = uint32_t(static_cast<const uint8_t*>(end) - b) + 1;
      break;
    }
    case uint8_t(Header::Record):
      size = 70;
      break;
    case uint8_t(Header::Class):
      size = 48;
      break;
    case uint8_t(Header::Instance):
      if (r.instance_size == nullptr) return 0;
      size = r.instance_size(Value::make(Tag::Instance, off));
      break;
    case uint8_t(Header::ByteBlock):
      if (room < 2) return 0;
      size = load_ne16(b);
      break;
    default:
      return 0;
  }
  return size <= room ? size : 0;
}

// A chain object that cannot be sized: the alert, and the compaction stops
// where it is. Everything from here on keeps its place and stays alive, so
// that no byte is moved by a guessed size and the chain stays whole.
void stop_compaction(Runtime& r, uint32_t from) {
  Zones& z = r.zones;
  ++z.compaction_faults;
  uint32_t guard = z.node_count;
  for (uint32_t c = from; c != z.chain_tail && guard-- > 0; c = word_payload(node_at(c).car))
    node_at(c).car |= kMarkBit;
  r.error_message = "Wrong type in sweep_indirect";
  show_alert(kAlertInternal);
}

// Slides every kept object down to the compaction point in chain order and
// unlinks the dead ones. Moves only go downward and the chain is in address
// order, so each move reads bytes that no earlier move has overwritten.
void compact_heap(Runtime& r) {
  Zones& z = r.zones;
  Addr point = z.heap_start;
  Addr old_top = z.heap_top;
  uint32_t kept = 0;  // the last kept node; the head is always kept
  uint32_t guard = z.node_count + 1;
  uint32_t c = z.chain_head;
  while (c != z.chain_tail) {
    if (guard-- == 0 || !node_offset_ok(c, z)) {
      // A chain that does not reach its tail: keep everything, move nothing.
      stop_compaction(r, z.chain_head);
      return;
    }
    Node& n = node_at(c);
    uint32_t next = word_payload(n.car);
    if (c == z.chain_head || word_marked(n.car)) {
      uint32_t size = n.cdr >= point ? object_size(r, c, old_top) : 0;
      if (size == 0) {
        if (kept != 0) node_at(kept).car = (node_at(kept).car & ~kPayloadMask) | c;
        stop_compaction(r, c);
        return;
      }
      if (n.cdr != point) std::memmove(at_addr(point), at_addr(n.cdr), size);
      n.cdr = point;
      point += (size + 1) & ~1u;
      if (kept != 0) node_at(kept).car = (node_at(kept).car & ~kPayloadMask) | c;
      kept = c;
    }
    c = next;
  }
  if (kept != 0) node_at(kept).car = (node_at(kept).car & ~kPayloadMask) | z.chain_tail;
  z.heap_top = point;
}

// Frees every node with neither bit set (up to the never-used ones) and
// clears the mark bit of the others, releasing the native memory that dead hash tables and owned
// objects held. The free list is rebuilt from the first node to the last, each
// freed node pushed in front, so it ends in descending address order. Free
// links carry the address tag: a stale reference to a free node seen by the
// native-stack scan then keeps that one node, not the whole list behind it.
void sweep_nodes(Runtime& r) {
  Zones& z = r.zones;
  uint32_t head = 0, count = 0;
  uint32_t end = 8 * z.node_count;
  // Never-used nodes are free without being read.
  uint32_t last = z.fresh != 0 ? z.fresh - 8 : end;
  for (uint32_t off = 8; off <= last; off += 8) {
    Node& n = node_at(off);
    uint32_t w = n.car;
    if (w & (kMarkBit | kPermanentBit)) {
      n.car = w & ~kMarkBit;
      continue;
    }
    // A hash table's words are a native block that only its node names.
    if (word_tag(w) == uint8_t(Header::HashTable) && n.cdr != 0) r.region.release(n.cdr);
    if (word_tag(w) == uint8_t(Header::Pointer) && word_payload(w) == kBoxOwned && n.cdr != 0) {
      r.owned_objects.remove(n.cdr);
    } else if (word_tag(w) == uint8_t(Header::Pointer) && word_payload(w) < 16 && n.cdr != 0 &&
               r.box_ops[word_payload(w)].release != nullptr) {
      r.box_ops[word_payload(w)].release(Value::make(Tag::Pointer, off));
    }
    n.car = kNil.bits;
    n.cdr = Value::make(Tag::Address, head).bits;
    head = off;
    ++count;
  }
  // The never-used nodes stay as they are, untouched, counted free and
  // linked only when they are needed.
  z.free_head = head;
  z.list_count = count;
  z.free_count = count + (z.fresh != 0 ? (end - z.fresh) / 8 + 1 : 0);
}

}  // namespace

// Only pushes: the marking operations that call this run inside a drain
// (an instance's slots, an owned object's Values), and draining again from
// there would nest one native frame per object met. The drain that is
// running, or the next one of mark_roots, enters what was pushed.
void mark_value(Value v) {
  Runtime& r = rt();
  if (!r.collecting) return;
  push_traced(r, v);
}

bool node_marked(Value v) { return node_offset_ok(v.payload(), rt().zones) && word_marked(node_of(v).car); }

void collect() {
  Runtime& r = rt();
  if (r.collecting) return;
  // Whatever way the collection ends, it can be run again.
  struct Reentry {
    Runtime& r;
    ~Reentry() {
      r.collecting = false;
      if (r.hooks.collecting) r.hooks.collecting(false);
    }
  } reentry{r};
  r.collecting = true;
  if (r.hooks.collecting) r.hooks.collecting(true);
  auto started = std::chrono::steady_clock::now();
  r.mark_stack.clear();
  mark_roots(r);
  // Analysed bodies are kept while their functions live: marking them may
  // reach more functions, until none is left.
  if (r.analyses) {
    r.analyses->begin_marking();
    while (r.analyses->mark_live()) drain(r);
    r.analyses->forget_dead();
  }
  if (r.positions) r.positions->forget_dead();
  compact_heap(r);
  sweep_nodes(r);
  ++r.zones.collections;
  r.zones.collect_ns +=
      uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count());
}

HeapCensus heap_census() {
  Zones& z = rt().zones;
  uint32_t objects = 0;
  for (uint32_t c = z.chain_head; c != z.chain_tail && objects <= z.node_count; c = word_payload(node_at(c).car))
    ++objects;
  return HeapCensus{z.node_count - z.free_count, z.free_count, objects, z.heap_top - z.heap_start};
}

Value box_owned(std::unique_ptr<OwnedObject> object) {
  Runtime& r = rt();
  // The box first, so that a collection it triggers cannot see a half-made
  // owner; then the object takes its slot.
  Value box = alloc_node(Tag::Pointer, make_header(Header::Pointer, kBoxOwned), 0);
  node_of(box).cdr = r.owned_objects.add(std::move(object));
  return box;
}

OwnedObject* owned_object(Value box) {
  if (!box.is(Tag::Pointer) || !node_offset_ok(box.payload(), rt().zones)) return nullptr;
  Node& n = node_of(box);
  if (word_tag(n.car) != uint8_t(Header::Pointer) || word_payload(n.car) != kBoxOwned || n.cdr == 0) return nullptr;
  auto* entry = rt().owned_objects.find(n.cdr);
  return entry != nullptr ? entry->get() : nullptr;
}

void release_owned(Value box) {
  if (owned_object(box) == nullptr) return;
  Node& n = node_of(box);
  rt().owned_objects.remove(n.cdr);
  n.cdr = 0;
}

// ---- Test primitive ---------------------------------------------------------

// (test-collect): collects, then answers (live-nodes free-nodes objects
// heap-bytes collections) as integers.
static Value prim_test_collect() {
  collect();
  HeapCensus c = heap_census();
  uint64_t n = rt().zones.collections;
  Value out = cons(make_integer(int32_t(n & 0x7FFFFFFF)), kNil);
  out = cons(make_integer(int32_t(c.heap_bytes)), out);
  out = cons(make_integer(int32_t(c.objects)), out);
  out = cons(make_integer(int32_t(c.free_nodes)), out);
  return cons(make_integer(int32_t(c.live_nodes)), out);
}

static const NativeRow kCollectorNatives[] = {
    TV_PRIM("test-collect", prim_test_collect, "(test-collect) collects now; (LIVE-NODES FREE-NODES OBJECTS HEAP-BYTES COLLECTIONS) after it"),
};

uint32_t chain_object_size(uint32_t node_offset) {
  return object_size(rt(), node_offset, rt().zones.heap_top);
}

extern const Module kCollectorModule{"collector", nullptr, [](Runtime&) { register_natives(kCollectorNatives); }};

}  // namespace core
