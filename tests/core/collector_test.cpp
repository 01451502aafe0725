#include <cstring>
#include <string>
#include <vector>

#include "core/collector.hpp"
#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

#ifdef TALVEN_GC_STRESS
constexpr bool kStress = true;
#else
constexpr bool kStress = false;
#endif

// Overwrites the dead part of the native stack below the caller, so that
// stale copies of Values left there by earlier calls do not keep garbage
// alive through the conservative scan.
__attribute__((noinline)) void scrub_stack() {
  volatile char buffer[32768];
  for (size_t i = 0; i < sizeof buffer; ++i) buffer[i] = 0;
}

// Whether a node is still a live object of its header (a freed node has nil
// in its car).
bool on_free_list(uint32_t off) {
  Zones& z = rt().zones;
  for (uint32_t f = z.free_head; f != 0; f = word_payload(node_at(f).cdr))
    if (f == off) return true;
  return false;
}

// Makes a heap vector of the given elements, as the vector module lays it
// out: a 16-bit count, then the element words.
Value raw_vector(std::initializer_list<Value> elements) {
  uint32_t n = uint32_t(elements.size());
  uint32_t bytes = 2 + 4 * n;
  reserve_heap(bytes);
  uint8_t* p = heap_top_ptr();
  uint16_t count = uint16_t(n);
  std::memcpy(p, &count, 2);
  uint32_t i = 0;
  for (Value e : elements) std::memcpy(p + 2 + 4 * i++, &e.bits, 4);
  return alloc_indirect(bytes, Tag::Vector, Header::Vector);
}

Value global(const char* name) { return symbol_value(intern_static(name)); }
void set_global(const char* name, Value v) { set_symbol_value(intern_static(name), v); }

// Whether the chain's objects lie back to back from the heap start at even
// sizes, ending at the heap top; counts them.
bool heap_is_compact(uint32_t& objects) {
  Zones& z = rt().zones;
  Addr expect = z.heap_start;
  objects = 0;
  for (uint32_t n = z.chain_head; n != z.chain_tail; n = word_payload(node_at(n).car)) {
    if (node_at(n).cdr != expect) return false;
    uint32_t size = chain_object_size(n);
    if (size == 0) return false;
    expect += (size + 1) & ~1u;
    ++objects;
  }
  return z.heap_top == expect;
}

class Collector : public MachineTest {};

// A primitive that holds a fresh string only in a local variable while it
// allocates enough to collect many times (at every allocation in the stress
// build).
Value prim_keep_local(Value* rest) {
  Value s = make_string("held by a local");
  Value l = cons(make_fixnum(1), kNil);
  for (int i = 0; i < 300; ++i) {
    make_string("churn churn churn");
    cons(kNil, kNil);
    if (i % 50 == 0) collect();
  }
  if (std::strcmp(string_text(s), "held by a local") != 0 || car(l) != make_fixnum(1)) return kNil;
  return s;
}

TEST_F(Collector, AStringHeldByANativeLocalSurvivesACollectionInsideThePrimitive) {
  register_native("keep-local", &native_entry<prim_keep_local>, kArityRest, Tag::Primitive);
  Value r = call("keep-local");
  ASSERT_TRUE(r.is(Tag::String));
  EXPECT_STREQ(string_text(r), "held by a local");
}

__attribute__((noinline)) void make_garbage_strings(int n) {
  for (int i = 0; i < n; ++i) make_string("garbage that nobody keeps");
}

__attribute__((noinline)) void make_source_above_garbage(const std::string& text) {
  set_global("kept", kNil);
  for (int i = 0; i < 100; ++i) set_global("kept", cons(make_string("kept until the source exists"), global("kept")));
  set_global("source", make_string(text.c_str()));
  set_global("kept", kNil);
}

// A string made from the text of another heap string, by a reservation that
// collects and slides that string down: the text is read before it moves.
// Text outside the heap is read in place.
TEST_F(Collector, AStringMadeFromHeapTextSurvivesTheCollectionItCauses) {
  // Strings kept until the source is made, then dropped: they lie below it,
  // so the collection slides it down (in every build, the collect-always one
  // too).
  std::string long_text(3000, 'q');
  long_text += "end";
  make_source_above_garbage(long_text);
  scrub_stack();
  Zones& z = rt().zones;
  uint32_t before = node_of(global("source")).cdr;
  z.heap_budget = z.heap_top - z.heap_start;  // the next reservation collects
  uint32_t collections = z.collections;
  Value copy = make_string(string_text(global("source")), long_text.size());
  EXPECT_GT(z.collections, collections);
  EXPECT_LT(node_of(global("source")).cdr, before) << "the source moved down";
  EXPECT_EQ(std::string(string_text(copy)), long_text);
  EXPECT_EQ(std::string(string_text(global("source"))), long_text);
  static const char outside[] = "text outside the heap";
  EXPECT_STREQ(string_text(make_string(outside, sizeof outside - 1)), outside);
}

TEST_F(Collector, CompactionKeepsLiveObjectsInOrderAtEvenSizes) {
  set_global("a", make_string("first"));  // 6 bytes
  make_garbage_strings(200);
  set_global("b", make_real(2.5));  // 8
  make_garbage_strings(200);
  set_global("c", make_string("odd"));  // 4
  make_garbage_strings(200);
  set_global("d", raw_vector({make_fixnum(7), cons(make_string("inside"), kNil)}));  // 10
  scrub_stack();
  collect();
  Value a = global("a"), b = global("b"), c = global("c"), d = global("d");
  EXPECT_STREQ(string_text(a), "first");
  EXPECT_EQ(real_value(b), 2.5);
  EXPECT_STREQ(string_text(c), "odd");
  EXPECT_LT(node_of(a).cdr, node_of(b).cdr);
  EXPECT_LT(node_of(b).cdr, node_of(c).cdr);
  EXPECT_LT(node_of(c).cdr, node_of(d).cdr);
  Value inner;
  std::memcpy(&inner.bits, indirect_bytes(d) + 6, 4);
  EXPECT_STREQ(string_text(car(inner)), "inside");
  // The heap top is the heap start plus the even sizes of what the chain
  // still holds, and the chain is in ascending address order with no gap.
  uint32_t objects = 0;
  EXPECT_TRUE(heap_is_compact(objects));
  // Nearly all of the 600 garbage strings went (a stray stack word may keep
  // one or two).
  EXPECT_LT(objects, 40u);
}

TEST_F(Collector, PermanentNodesNeverReachTheFreeList) {
  Value eq = global("eq?");
  Value name = symbol_name(intern_static("eq?"));
  Value heap_name = symbol_name(intern_copy("a-name-read-at-run-time"));
  make_garbage_strings(100);
  collect();
  collect();
  Zones& z = rt().zones;
  for (uint32_t f = z.free_head; f != 0; f = word_payload(node_at(f).cdr)) {
    ASSERT_EQ(node_at(f).car & kPermanentBit, 0u);
    ASSERT_EQ(node_at(f).car, kNil.bits);
  }
  EXPECT_TRUE(node_of(eq).car & kPermanentBit);
  EXPECT_TRUE(node_of(name).car & kPermanentBit);
  EXPECT_FALSE(node_of(name).car & kMarkBit);
  EXPECT_STREQ(string_text(heap_name), "a-name-read-at-run-time");
  EXPECT_STREQ(symbol_text(intern_static("eq?")), "eq?");
}

TEST_F(Collector, APermanentListKeepsWhatSetCarGaveIt) {
  Value perm = cons(kNil, kNil);
  node_of(perm).car |= kPermanentBit;
  set_global("perm", perm);
  set_car(perm, cons(make_string("fresh"), kNil));
  scrub_stack();
  make_garbage_strings(100);
  collect();
  Value inner = car(global("perm"));
  ASSERT_TRUE(inner.is_pair());
  EXPECT_STREQ(string_text(car(inner)), "fresh");
  EXPECT_TRUE(node_of(perm).car & kPermanentBit);
}

TEST_F(Collector, TheFreeListIsRebuiltInDescendingOrder) {
  make_garbage_strings(50);
  collect();
  Zones& z = rt().zones;
  uint32_t prev = 0xFFFFFFFF, n = 0;
  for (uint32_t f = z.free_head; f != 0; f = word_payload(node_at(f).cdr)) {
    ASSERT_LT(f, prev);
    prev = f;
    ++n;
  }
  EXPECT_EQ(n, z.list_count);
}

TEST_F(Collector, RootsOutsideTheStacksKeepTheirValues) {
  Runtime& r = rt();
  r.structure_table = cons(make_string("structure"), kNil);
  Value owned_sym = intern_static("owned-by-a-class");
  record(owned_sym).owner = cons(make_string("owner"), kNil).bits;
  {
    StackMark mark;
    push(make_string("on the lisp stack"));
    scrub_stack();
    make_garbage_strings(100);
    collect();
    EXPECT_STREQ(string_text(*mark.base()), "on the lisp stack");
  }
  EXPECT_STREQ(string_text(car(r.structure_table)), "structure");
  EXPECT_STREQ(string_text(car(Value(record(owned_sym).owner))), "owner");
}

// The collector visits only the slots that hold symbols: every symbol's
// value must still be kept, whether it was interned before or after earlier
// collections, landed past a collision, or wrapped past the table's end.
TEST_F(Collector, EverySymbolsValueSurvivesWhateverSlotItTook) {
  std::vector<Value> symbols;
  auto bind_batch = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      Value s = intern_copy("sym-" + std::to_string(i));
      set_symbol_value(s, make_string(("value " + std::to_string(i)).c_str()));
      symbols.push_back(s);
    }
  };
  bind_batch(0, 500);
  make_garbage_strings(200);
  collect();
  bind_batch(500, 1500);  // interned after a collection
  // "ab" and "b`" share a hash: the second lands past the first. Two names
  // hashing to the last slot: the second wraps to the start of the table.
  Zones& z = rt().zones;
  std::vector<std::string> extra = {"ab", "b`"};
  uint32_t seed = 12345;
  for (int i = 0, found = 0; found < 2 && i < 1000000; ++i) {
    std::string name(16, ' ');
    for (char& ch : name) {
      seed = seed * 1103515245u + 12345u;
      ch = char(1 + (seed >> 16) % 255);
    }
    if (symbol_hash(name) % z.symbol_slots == z.symbol_slots - 1) extra.push_back(name), ++found;
  }
  ASSERT_EQ(extra.size(), 4u);
  for (const std::string& name : extra) {
    Value s = intern_copy(name);
    set_symbol_value(s, make_string(("value " + std::to_string(symbols.size())).c_str()));
    symbols.push_back(s);
  }
  EXPECT_LT(symbols.back().payload() / 16, z.symbol_slots - 1) << "wrapped past the end";
  make_garbage_strings(200);
  collect();
  ASSERT_EQ(z.used_symbols.size(), z.symbol_slots - z.free_symbols);
  for (size_t i = 0; i < symbols.size(); ++i)
    ASSERT_EQ(std::string(string_text(symbol_value(symbols[i]))), "value " + std::to_string(i)) << i;
}

TEST_F(Collector, AHashTableMarksOneWordPerSymbolSlot) {
  Runtime& r = rt();
  uint32_t slots = r.zones.symbol_slots;
  Addr table = r.region.allocate(4 * slots);
  Value* words = reinterpret_cast<Value*>(r.region.ptr(table));
  for (uint32_t i = 0; i < slots; ++i) words[i] = kEndArgs;
  set_global("table", alloc_node(Tag::HashTable, make_header(Header::HashTable, 0), table));
  words[slots - 1] = cons(make_string("last slot"), kNil);
  scrub_stack();
  make_garbage_strings(100);
  collect();
  EXPECT_STREQ(string_text(car(words[slots - 1])), "last slot");
  EXPECT_EQ(r.region.block_size(table), 4 * slots);
  // Unreachable, the table gives its block back.
  set_global("table", kNil);
  scrub_stack();
  collect();
  EXPECT_EQ(r.region.block_size(table), 0u);
}

// An owned native object that holds one Value and counts its deletions.
struct Holder : OwnedObject {
  Holder(Value v, int* count) : held(v), deaths(count) {}
  ~Holder() override { ++*deaths; }
  void mark_values() override { mark_value(held); }
  Value held;
  int* deaths;
};

__attribute__((noinline)) void make_owner(int* deaths) {
  Value s = make_string("held natively");
  set_global("box", box_owned(std::make_unique<Holder>(s, deaths)));
}

// Checks the owner while it is reachable; answers its node offset
// disguised, so that no word of the caller's frame keeps the box alive.
__attribute__((noinline)) uint32_t check_owner() {
  Value box = global("box");
  auto* h = static_cast<Holder*>(owned_object(box));
  EXPECT_NE(h, nullptr);
  if (h != nullptr) {
    EXPECT_STREQ(string_text(h->held), "held natively");
  }
  return box.payload() ^ 0x5A5A5A5Au;
}

TEST_F(Collector, AnOwnedObjectMarksItsValuesAndIsReleasedExactlyOnce) {
  int deaths = 0;
  make_owner(&deaths);
  scrub_stack();
  make_garbage_strings(100);
  collect();
  uint32_t disguised = check_owner();
  EXPECT_EQ(deaths, 0);
  set_global("box", kNil);
  scrub_stack();
  collect();
  EXPECT_EQ(deaths, 1);
  EXPECT_TRUE(on_free_list(disguised ^ 0x5A5A5A5Au));
  collect();
  collect();
  EXPECT_EQ(deaths, 1);
}

TEST_F(Collector, AnObjectOfUnknownSizeStopsTheCompactionWithoutMovingIt) {
  Zones& z = rt().zones;
  set_global("a", make_string("kept"));
  make_garbage_strings(20);
  Value b = make_string("bad header");
  set_global("b", b);
  make_garbage_strings(20);
  set_global("c", make_string("after"));
  Addr b_at = node_of(b).cdr;
  Addr c_at = node_of(global("c")).cdr;
  Addr top = z.heap_top;
  uint32_t saved = node_of(b).car;
  node_of(b).car = (saved & ~kTagMask) | (uint32_t(Header::Long) << 24);
  uint64_t faults = z.compaction_faults;
  collect();
  EXPECT_EQ(z.compaction_faults, faults + 1);
  EXPECT_EQ(node_of(b).cdr, b_at);
  EXPECT_EQ(node_of(global("c")).cdr, c_at);
  EXPECT_EQ(z.heap_top, top);
  EXPECT_STREQ(string_text(global("a")), "kept");
  EXPECT_STREQ(string_text(global("c")), "after");
  EXPECT_EQ(rt().error_message, "Wrong type in sweep_indirect");
  // Mended, the next collection compacts everything again.
  node_of(b).car = saved;
  collect();
  EXPECT_EQ(z.compaction_faults, faults + 1);
  uint32_t objects = 0;
  EXPECT_TRUE(heap_is_compact(objects));
  if (!kStress) {
    EXPECT_LT(z.heap_top, top);
  }
  EXPECT_STREQ(string_text(b), "bad header");
  EXPECT_STREQ(string_text(global("c")), "after");
}

TEST_F(Collector, ALoopThatAllocatesRunsInBoundedMemoryWithoutGrowth) {
  Zones& z = rt().zones;
  uint32_t nodes = z.node_count;
  // A live set of 1,000 cells, each given a fresh pair in turn, so that
  // the pair it held before dies.
  Value live = kNil;
  for (int i = 0; i < 1000; ++i) live = cons(kNil, live);
  set_global("live", live);
  const int rounds = kStress ? 20000 : 10000000;
  Value cursor = live;
  for (int i = 0; i < rounds; ++i) {
    set_car(cursor, cons(make_fixnum(i), kNil));
    cursor = cdr(cursor);
    if (cursor.is_nil()) cursor = global("live");
  }
  EXPECT_EQ(z.node_count, nodes);
  EXPECT_FALSE(z.growable);
  collect();
  EXPECT_LT(z.node_count - z.free_count, 4000u);
  EXPECT_EQ(car(car(global("live"))), make_fixnum(rounds - 1000));
}

TEST_F(Collector, TheTestPrimitiveCollectsAndReportsLiveCounts) {
  uint64_t before = rt().zones.collections;
  Value r = call("test-collect");
  std::vector<int32_t> xs;
  for (; r.is_pair(); r = cdr(r)) xs.push_back(read_integer(car(r)));
  ASSERT_EQ(xs.size(), 5u);
  EXPECT_GT(rt().zones.collections, before);
  // Live and free nodes as the collection left them (the answer list took
  // a few more since).
  EXPECT_EQ(uint32_t(xs[0] + xs[1]), rt().zones.node_count);
  EXPECT_GT(xs[2], 0);
  EXPECT_EQ(uint32_t(xs[3]), rt().zones.heap_top - rt().zones.heap_start);
}

TEST_F(Collector, AFreshMachineBuiltInsideAnotherKeepsBothHeapsWhole) {
  Value outer = make_string("outer");
  set_global("outer", cons(outer, kNil));
  {
    auto inner = make_runtime(small_prefs(), 16u << 20);
    Value mine = make_string("inner");
    make_garbage_strings(100);
    collect();
    EXPECT_STREQ(string_text(mine), "inner");
    EXPECT_LT(heap_census().objects, 30u);
  }
  ASSERT_EQ(&rt(), machine_.get());
  make_garbage_strings(100);
  collect();
  EXPECT_STREQ(string_text(outer), "outer");
  EXPECT_STREQ(string_text(car(global("outer"))), "outer");
}

class BigCollector : public MachineTest {
 protected:
  MemoryPrefs prefs() override {
    MemoryPrefs p = small_prefs();
    p.nodes = 2100000;
    return p;
  }
  uint32_t preferred() override { return 64u << 20; }
};

TEST_F(BigCollector, DeepCarsAndLongCdrsAreMarkedWithoutNativeRecursion) {
  // A tree nested a million deep in its cars, and a list a million long.
  Value tree = make_string("leaf");
  Value list = kNil;
  {
    StressPause pause;
    for (int i = 0; i < 1000000; ++i) tree = cons(tree, kNil);
    for (int i = 0; i < 1000000; ++i) list = cons(make_fixnum(i), list);
  }
  make_garbage_strings(10);
  collect();
  EXPECT_GE(heap_census().live_nodes, 2000000u);
  Value t = tree;
  for (int i = 0; i < 1000000; ++i) t = car(t);
  EXPECT_STREQ(string_text(t), "leaf");
  EXPECT_EQ(car(list), make_fixnum(999999));
}

class MillionNodeZone : public MachineTest {
 protected:
  MemoryPrefs prefs() override {
    MemoryPrefs p = small_prefs();
    p.nodes = 1000000;
    p.heap = 4u << 20;
    return p;
  }
  uint32_t preferred() override { return 64u << 20; }
};

TEST_F(MillionNodeZone, ACollectionWithASmallLiveSetIsQuick) {
  // A live set of 1,000 pairs and 100 strings in a zone of a million nodes.
  Value live = kNil;
  for (int i = 0; i < 1000; ++i) live = cons(i % 10 == 0 ? make_string("live") : make_fixnum(i), live);
  uint64_t ns = rt().zones.collect_ns;
  const int rounds = 20;
  for (int i = 0; i < rounds; ++i) collect();
  double pause_ms = double(rt().zones.collect_ns - ns) / rounds / 1e6;
  RecordProperty("pause_ms", std::to_string(pause_ms));
  RecordProperty("collections_per_second", std::to_string(1000.0 / pause_ms));
  // Linear in the zone sizes: far below a tenth of a second even unoptimised.
  EXPECT_LT(pause_ms, 100.0);
  int n = 0;
  for (Value l = live; l.is_pair(); l = cdr(l)) ++n;
  EXPECT_EQ(n, 1000);
}

}  // namespace
}  // namespace core::testing
