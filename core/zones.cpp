// Zone sizing and layout, the allocators' slow paths, growth and the memory
// primitives.
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/alert.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

// Where the process stack started (the C library's own record).
extern "C" void* __libc_stack_end;

namespace core {

namespace {
constexpr uint32_t kGrowChunk = 5000;
// Never-used nodes linked at a time: 32 KB of the node zone.
constexpr uint32_t kFreshChunk = 4096;
// The least heap growth between two collections.
constexpr uint32_t kHeapBudget = 512u << 10;
// The least node growth between two collections: 1 MB of nodes.
constexpr uint32_t kNodeBudget = 128u << 10;
constexpr uint32_t kMaxNodeOffset = 0xFFFFF8;  // node offsets live in 24 bits
}  // namespace

static bool link_fresh(Zones& z, uint32_t most);

ZoneLayout size_zones(const MemoryPrefs& p, uint32_t preferred, uint64_t available) {
  ZoneLayout l;
  // A word outside its bounds cannot build a machine (a symbol table
  // without slots, a node zone too small to start): reported as memory
  // short by what the word lacks, at least 1 K.
  if (const MemoryWord* w = memory_word_out_of_bounds(p)) {
    uint32_t value = p.*w->field;
    uint64_t lacking = value < w->least ? uint64_t(w->least - value) * w->unit : 0;
    l.shortfall_kb = int64_t(std::max<uint64_t>(1, (lacking + 1023) / 1024));
    return l;
  }
  int64_t total = std::min<int64_t>(preferred, int64_t(available));
  l.symbol_slots = p.symbol_slots;
  l.lisp_words = p.lisp_words;
  l.prolog_words = p.prolog_words;
  l.nodes = p.nodes;
  l.stack_allowance = p.stack_allowance > 2000 ? p.stack_allowance - 2000 : 0;
  int64_t reserve = p.reserve;
  int64_t fixed = 16 * int64_t(p.symbol_slots) + 4 * int64_t(p.lisp_words) + 32 +
                  4 * int64_t(p.prolog_words);
  int64_t spare = total - reserve - fixed - 8 * int64_t(p.nodes) - int64_t(p.heap);
  if (spare < 0) {
    l.shortfall_kb = 1 - spare / 1024;
    return l;
  }
  int64_t nodes = int64_t(p.nodes) + (int64_t(p.node_percent) * spare) / 800;
  reserve += (spare * int64_t(p.reserve_percent)) / 100;
  // Node offsets are 24-bit: the zone cannot pass 2^21 nodes. Memory given
  // to nodes beyond that stays with the heap.
  nodes = std::min<int64_t>(nodes, kMaxNodeOffset / 8 - 1);
  int64_t block = total - reserve;
  int64_t heap = block - fixed - 8 * nodes;
  if (block <= 0 || heap < 0 || block > 0xFFFFFFF0LL) {
    // What the heap lacks; never less than 1 K, whatever the shares.
    l.shortfall_kb = std::max<int64_t>(1, heap < 0 ? 1 - heap / 1024 : 1);
    return l;
  }
  l.nodes = uint32_t(nodes);
  l.reserve = uint32_t(reserve);
  l.block_size = uint32_t(block);
  l.heap = uint32_t(heap);
  l.ok = true;
  return l;
}

uint64_t available_native_memory(uint32_t preferred, uint64_t handle_bytes) {
  uint64_t from_prefs = uint64_t(uint32_t(preferred - uint32_t(handle_bytes)));
  uint64_t avail = 0;
  // Read with the plain calls: a C++ stream would set up the library's
  // locales at every start-up for this one number.
  int fd = open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char text[4096];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n > 0) {
      text[n] = 0;
      if (const char* line = std::strstr(text, "MemAvailable:")) {
        const char* p = line + 13;
        while (*p == ' ') ++p;
        uint64_t kb = 0;
        while (*p >= '0' && *p <= '9' && kb < (uint64_t(1) << 50)) kb = kb * 10 + uint64_t(*p++ - '0');
        avail = kb * 1024;
      }
    }
  }
  if (avail == 0) avail = uint64_t(sysconf(_SC_AVPHYS_PAGES)) * uint64_t(sysconf(_SC_PAGESIZE));
  uint64_t from_system = avail > 1000000 ? avail - 1000000 : 0;
  return std::min(from_prefs, from_system);
}

// The native stack bounds of the calling thread, so that the recursion limit
// never lies below what the system actually gives.
static bool thread_stack(uintptr_t& low, uintptr_t& high) {
  // The main thread's stack from what the process started with and its
  // limit, without the library's reading of the whole memory map: the
  // frames of main all lie below where the process stack started.
  struct rlimit limit {};
  if (getpid() == gettid() && getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      __libc_stack_end != nullptr) {
    high = reinterpret_cast<uintptr_t>(__libc_stack_end);
    uint64_t size = limit.rlim_cur;
    low = high > size ? high - uintptr_t(size) : 0;
    return true;
  }
  pthread_attr_t attr;
  void* addr = nullptr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
  pthread_attr_getstack(&attr, &addr, &size);
  pthread_attr_destroy(&attr);
  low = reinterpret_cast<uintptr_t>(addr);
  high = low + size;
  return true;
}

void build_zones(Runtime& r, const ZoneLayout& l) {
  Zones& z = r.zones;
  // 16 bytes of slack let the symbol zone start on a multiple of 16.
  z.block = r.region.allocate(l.block_size + 16);
  if (z.block == 0) throw std::runtime_error("block");
  z.block_size = l.block_size;
  uint8_t* p = r.region.ptr(z.block);
  uint8_t* sym = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 15) & ~uintptr_t(15));
  z.symbols = sym;
  z.symbol_slots = l.symbol_slots;
  z.free_symbols = l.symbol_slots;
  // Empty records: name, value and owner 0, slot 0xFFFF, twin -1. Every
  // page of the zone is written now, whole records four at a time (fewer
  // instructions than storing the last two fields alone).
  Region::prefault(sym, 16 * uint64_t(l.symbol_slots));
  SymbolRecord four[4];
  for (SymbolRecord& e : four) e = SymbolRecord{0, 0, 0, 0xFFFF, -1};
  uint8_t* rec = sym;
  uint8_t* end = sym + 16 * uint64_t(l.symbol_slots & ~3u);
  for (; rec != end; rec += sizeof four) std::memcpy(rec, four, sizeof four);
  for (uint32_t i = l.symbol_slots & ~3u; i < l.symbol_slots; ++i, rec += 16) std::memcpy(rec, four, 16);
  z.lisp_stack = reinterpret_cast<Value*>(sym + 16 * uint64_t(l.symbol_slots));
  z.lisp_stack_end = z.lisp_stack + l.lisp_words;
  z.lisp_limit = l.lisp_words > 500 ? z.lisp_stack_end - 500 : z.lisp_stack;
  z.sp = z.lisp_stack;
  z.prolog_stack = z.lisp_stack_end;
  z.prolog_stack_end = z.prolog_stack + l.prolog_words;
  z.prolog_sp = l.prolog_words ? z.prolog_stack_end - 1 : z.prolog_stack;
  if (l.prolog_words) *z.prolog_sp = kEndArgs;
  uint8_t* nodes = reinterpret_cast<uint8_t*>(
      (reinterpret_cast<uintptr_t>(z.prolog_stack_end) + 7) & ~uintptr_t(7));
  z.node_base = nodes;
  Node* nil_node = reinterpret_cast<Node*>(nodes);
  nil_node->car = nil_node->cdr = 0xFFFFFFFFu;
  z.node_count = l.nodes;
  // Only the first chunk of nodes is linked now; the others are neither
  // read nor written until they are needed, so their pages stay untouched.
  z.free_head = 0;
  z.list_count = 0;
  z.free_count = l.nodes;
  z.fresh = l.nodes ? 8 : 0;
  link_fresh(z, kFreshChunk);
  uint8_t* heap = nodes + 8 * (uint64_t(l.nodes) + 1);
  z.heap_start = z.heap_top = r.region.addr(heap);
  z.heap_end = z.heap_start + l.heap;
  z.heap_budget = kHeapBudget;
  z.node_budget = kNodeBudget;
  z.reserve = l.reserve;
  z.stack_allowance = l.stack_allowance;

  char here;
  z.native_stack_base = reinterpret_cast<uintptr_t>(&here);
  uintptr_t limit = z.native_stack_base > l.stack_allowance ? z.native_stack_base - l.stack_allowance : 0;
  uintptr_t low = 0, high = 0;
  thread_stack(low, high);
  // The collector scans up to the top of the thread's stack: the frames of
  // whoever built this machine may hold its Values too.
  z.native_scan_top = high > z.native_stack_base ? high : z.native_stack_base;
  z.native_scan_low = low;
  // Keep a margin above the real end of the thread's stack for the error
  // report and the unwinding that follow an overflow.
  if (low != 0 && limit < low + (256u << 10)) limit = low + (256u << 10);
  z.native_stack_limit = limit;

  // The chain head: (nil . nil), never freed; it starts as head and tail.
  uint32_t head = z.free_head;
  Node& hn = *reinterpret_cast<Node*>(nodes + head);
  z.free_head = word_payload(hn.cdr);
  --z.list_count;
  --z.free_count;
  hn.car = kNil.bits;
  hn.cdr = kNil.bits;
  z.chain_head = z.chain_tail = head;
}

// ---- Slow paths ----------------------------------------------------------

static void out_of_memory() {
  if (show_alert(kAlertOutOfMemory) == 1) end_process(3);
  throw_toplevel();
}

// The collect-always build's allocation failure on demand (Zones::fail_after).
static inline void injected_failure(Zones& z) {
#ifdef TALVEN_GC_STRESS
  if (z.fail_after != 0 && --z.fail_after == 0) out_of_memory();
#else
  (void)z;
#endif
}

static bool link_fresh(Zones& z, uint32_t most) {
  if (z.fresh == 0) return false;
  uint32_t last = 8 * z.node_count;
  uint32_t k = std::min<uint32_t>(most, (last - z.fresh) / 8 + 1);
  // Linked in ascending order in front of what the list holds. Free links
  // carry the address tag, so that the collector never follows them as list
  // structure.
  uint32_t first = z.fresh;
  Region::prefault(&node_at(first), 8 * uint64_t(k));
  for (uint32_t i = 0; i < k; ++i) {
    Node& n = node_at(first + 8 * i);
    n.car = kNil.bits;
    n.cdr = Value::make(Tag::Address, i + 1 < k ? first + 8 * (i + 1) : z.free_head).bits;
  }
  z.free_head = first;
  z.list_count += k;
  z.fresh = first + 8 * k > last ? 0 : first + 8 * k;
  return true;
}

bool link_fresh_nodes(uint32_t most) { return link_fresh(rt().zones, most); }

// After a collection: the next one is due when the heap and the nodes in
// use have each grown to twice what survived (and by at least the minimum
// budgets), so that collections cost in proportion to the work done and the
// memory touched stays close to what the program holds.
static void renew_budgets(Zones& z, uint32_t wanted) {
  uint64_t held = uint64_t(z.heap_top - z.heap_start) + wanted;
  z.heap_budget = uint32_t(std::min<uint64_t>(0xFFFFFFFFu, std::max<uint64_t>(kHeapBudget, 2 * held)));
  uint64_t used = z.node_count - z.free_count;
  z.node_budget = uint32_t(std::min<uint64_t>(0xFFFFFFFFu, std::max<uint64_t>(kNodeBudget, 2 * used)));
}

void node_shortage() {
  Zones& z = rt().zones;
  injected_failure(z);
#ifdef TALVEN_GC_STRESS
  if (z.stress_pause != 0 && link_fresh_nodes(kFreshChunk) && z.list_count >= 2) return;
#else
  if (z.node_count - z.free_count < z.node_budget && link_fresh_nodes(kFreshChunk) && z.list_count >= 2) return;
#endif
  collect();
  renew_budgets(z, 0);
  if (z.list_count < 2) link_fresh_nodes(kFreshChunk);
  if (z.free_count < kGrowChunk) grow_nodes(1);
  if (z.list_count < 2) out_of_memory();
}

// The first half of reserve_heap: whether n bytes fit without collecting.
static bool heap_room(Zones& z, uint32_t n) {
  injected_failure(z);
  if (z.list_count < 2) link_fresh_nodes(kFreshChunk);
#ifdef TALVEN_GC_STRESS
  return z.stress_pause != 0 && uint64_t(z.heap_top) + n <= z.heap_end && z.list_count >= 2;
#else
  return uint64_t(z.heap_top) + n <= std::min<uint64_t>(z.heap_end, uint64_t(z.heap_start) + z.heap_budget) &&
         z.list_count >= 2;
#endif
}

// The second half: collects, grows, or shows the out-of-memory alert.
static void make_heap_room(Zones& z, uint32_t n) {
  collect();
  renew_budgets(z, n);
  if (z.list_count < 2) link_fresh_nodes(kFreshChunk);
  if (z.free_count < kGrowChunk) grow_nodes(1);
  if (uint64_t(z.heap_top) + n <= z.heap_end && z.list_count >= 2) return;
  out_of_memory();
}

void reserve_heap(uint32_t n) {
  Zones& z = rt().zones;
  if (!heap_room(z, n)) make_heap_room(z, n);
}

Value alloc_indirect(uint32_t n, Tag tag, Header header) {
  Zones& z = rt().zones;
  uint32_t obj = z.chain_tail;
  // A fresh node becomes the new tail; reserve_heap left at least two free.
  uint32_t tail = z.free_head;
  Node& tn = node_at(tail);
  z.free_head = word_payload(tn.cdr);
  --z.list_count;
  --z.free_count;
  tn.car = 0;
  tn.cdr = 0;
  Node& on = node_at(obj);
  on.car = (on.car & kPermanentBit) | make_header(header, tail);
  on.cdr = z.heap_top;
  z.heap_top += (n + 1) & ~1u;
  z.chain_tail = tail;
  return Value::make(tag, obj);
}

void move_heap_up(uint32_t d) {
  Zones& z = rt().zones;
  std::memmove(at_addr(z.heap_start + d), at_addr(z.heap_start), z.heap_top - z.heap_start);
  z.heap_start += d;
  z.heap_top += d;
  for (uint32_t c = z.chain_head; c != z.chain_tail; c = word_payload(node_at(c).car)) node_at(c).cdr += d;
}

bool grow_nodes(uint32_t n) {
  Zones& z = rt().zones;
  if (!z.growable) return false;
  // New nodes go after the never-used ones, which are linked first.
  while (link_fresh_nodes(0xFFFFFFFFu)) {
  }
  uint32_t k = std::max(n, kGrowChunk);
  if (uint64_t(z.heap_end - z.heap_top) < 8ull * k) return false;
  if (8ull * (uint64_t(z.node_count) + 1 + k) > kMaxNodeOffset) return false;
  move_heap_up(8 * k);
  uint32_t first = 8 * (z.node_count + 1);
  for (uint32_t i = 0; i < k; ++i) {
    Node& nn = node_at(first + 8 * i);
    nn.car = kNil.bits;
    nn.cdr = Value::make(Tag::Address, i + 1 < k ? first + 8 * (i + 1) : 0).bits;
  }
  if (z.free_head == 0) {
    z.free_head = first;
  } else {
    uint32_t last = z.free_head;
    while (word_payload(node_at(last).cdr) != 0) last = word_payload(node_at(last).cdr);
    node_at(last).cdr = Value::make(Tag::Address, first).bits;
  }
  z.free_count += k;
  z.list_count += k;
  z.node_count += k;
  return true;
}

void lisp_stack_overflow() { error(Err::StackOverflow, kNil); }

// ---- Boxing ---------------------------------------------------------------

Value make_long(int32_t n) { return alloc_node(Tag::Long, make_header(Header::Long, 0), uint32_t(n)); }

int32_t read_integer(Value v) {
  if (v.is_fixnum()) return v.fixnum();
  if (v.is(Tag::Long)) return long_value(v);
  error(Err::WrongType, v);
}

Value make_real(double d) {
  reserve_heap(8);
  std::memcpy(heap_top_ptr(), &d, 8);
  return alloc_indirect(8, Tag::Real, Header::Real);
}

double read_double(Value v) {
  if (v.is_fixnum()) return v.fixnum();
  if (v.is(Tag::Long)) return long_value(v);
  if (v.is(Tag::Real)) return real_value(v);
  error(Err::WrongType, v);
}

Value box_address(Addr a, uint32_t sub_kind) {
  return alloc_node(Tag::Pointer, make_header(Header::Pointer, sub_kind), a);
}

Value make_string(const char* text, size_t n) {
  if (n > 65534) error(Err::WrongType, make_integer(int32_t(n)));
  // Text lying in the heap zone itself (another string, a symbol's name)
  // may move when the reservation collects: it is copied aside first, only
  // then. Text anywhere else stays where it is.
  Runtime& r = rt();
  Zones& z = r.zones;
  std::string copy;
  if (!heap_room(z, uint32_t(n + 1))) {
    uintptr_t at = reinterpret_cast<uintptr_t>(text);
    if (at >= reinterpret_cast<uintptr_t>(r.region.ptr(z.heap_start)) &&
        at < reinterpret_cast<uintptr_t>(r.region.ptr(z.heap_end))) {
      copy.assign(text, n);
      text = copy.data();
    }
    make_heap_room(z, uint32_t(n + 1));
  }
  uint8_t* p = heap_top_ptr();
  std::memmove(p, text, n);
  p[n] = 0;
  return alloc_indirect(uint32_t(n + 1), Tag::String, Header::String);
}

// ---- Primitives -----------------------------------------------------------

static Value list_of(std::initializer_list<int64_t> xs) {
  Value out = kNil;
  std::vector<int64_t> v(xs);
  for (size_t i = v.size(); i-- > 0;) out = cons(make_integer(int32_t(v[i])), out);
  return out;
}

static Value prim_zone_addresses() {
  Zones& z = rt().zones;
  Region& g = rt().region;
  return list_of({g.addr(z.symbols), g.addr(z.lisp_stack), g.addr(z.node_base) + 8, z.heap_start,
                  g.addr(z.prolog_stack), 0, 0});
}

static Value prim_memory_growable_p() { return rt().zones.growable ? rt().sym.t : kNil; }

static Value prim_set_memory_growable_p(Value on) {
  rt().zones.growable = on.truthy() && !on.is_no_value();
  return kNoValue;
}

static Value prim_move_symbols(Value by) {
  Zones& z = rt().zones;
  int32_t d = read_integer(by);
  if (d < 0 || (d & 15) != 0 || z.symbols + 16ull * z.symbol_slots + d > reinterpret_cast<uint8_t*>(z.lisp_stack))
    error(Err::WrongType, by);
  std::memmove(z.symbols + d, z.symbols, 16ull * z.symbol_slots);
  z.symbols += d;
  return kNoValue;
}

static Value prim_move_ignored(Value) { return kNoValue; }

static Value prim_move_nodes(Value by) {
  Zones& z = rt().zones;
  int32_t d = read_integer(by);
  // The nodes may only move into room made above them: the caller must first
  // have moved the heap up by at least d.
  uint8_t* end = z.node_base + 8 * (uint64_t(z.node_count) + 1);
  if (d < 0 || (d & 7) != 0 || end + d > at_addr(z.heap_start)) error(Err::WrongType, by);
  std::memmove(z.node_base + 8 + d, z.node_base + 8, 8ull * z.node_count);
  // The nil node stays the node base: it moves with the others.
  Node nil = *reinterpret_cast<Node*>(z.node_base);
  z.node_base += d;
  *reinterpret_cast<Node*>(z.node_base) = nil;
  return kNoValue;
}

static Value prim_move_indirects(Value by) {
  Zones& z = rt().zones;
  int32_t d = read_integer(by);
  if (d < 0 || (d & 1) != 0 || uint64_t(z.heap_top) + d > z.heap_end) error(Err::WrongType, by);
  move_heap_up(uint32_t(d));
  return kNoValue;
}

static Value prim_grow_nodes(Value n) {
  int32_t k = read_integer(n);
  collect();
  return grow_nodes(k < 0 ? 0 : uint32_t(k)) ? rt().sym.t : kNil;
}

static Value prim_grow_heap(Value) { return kNil; }

static Value prim_space_subr() {
  Zones& z = rt().zones;
  return list_of({z.symbol_slots, z.lisp_stack_end - z.lisp_stack, z.prolog_stack_end - z.prolog_stack,
                  z.node_count, z.heap_end - z.heap_start, z.reserve, z.stack_allowance});
}

static Value prim_free_space_subr() {
  Zones& z = rt().zones;
  char here;
  auto stack_now = reinterpret_cast<uintptr_t>(&here);
  int64_t native_free = stack_now > z.native_stack_limit ? int64_t(stack_now - z.native_stack_limit) : 0;
  uint64_t avail = available_native_memory(kDefaultPreferred, rt().region.live_bytes());
  return list_of({z.free_symbols, std::max<int64_t>(0, z.lisp_limit - z.sp), z.prolog_sp - z.prolog_stack,
                  z.free_count, z.heap_end - z.heap_top, int64_t(std::min<uint64_t>(z.reserve, avail)),
                  native_free});
}

static Value prim_space_size_subr() { return list_of({16, 4, 4, 8, 1, 1, 1}); }

// The memory window belongs to the window system; until it exists these
// are accepted and do nothing.
static Value prim_memory_window_0() { return kNoValue; }
static Value prim_find_zone(Value) { return make_fixnum(6); }
static Value prim_setup_memory_window(Value, Value, Value) { return kNoValue; }

static const NativeRow kZoneNatives[] = {
    TV_PRIM2("zone-addresses", prim_zone_addresses, "(zone-addresses) the start addresses of the symbol zone, Lisp stack, node zone, heap and Prolog stack, then two zeros"),
    TV_PRIM2("memory-growable?", prim_memory_growable_p, "(memory-growable?) t when the node zone may grow (after a collection that leaves few free nodes, or by grow-nodes)"),
    TV_PRIM2("set-memory-growable?", prim_set_memory_growable_p, "(set-memory-growable? FLAG) lets the node zone grow (true FLAG) or not; no value"),
    TV_PRIM2("move-symbols", prim_move_symbols, "(move-symbols BYTES) slides the symbol zone up by BYTES (a multiple of 16, into room made above it); no value"),
    TV_PRIM2("move-lisp-stack", prim_move_ignored, "(move-lisp-stack BYTES) accepted and ignored; no value"),
    TV_PRIM2("move-prolog-stack", prim_move_ignored, "(move-prolog-stack BYTES) accepted and ignored; no value"),
    TV_PRIM2("move-nodes", prim_move_nodes, "(move-nodes BYTES) slides the node zone up by BYTES (a multiple of 8, into room made above it); no value"),
    TV_PRIM2("move-indirects", prim_move_indirects, "(move-indirects BYTES) slides the heap up by BYTES (even, within the zone); no value"),
    TV_PRIM2("grow-nodes", prim_grow_nodes, "(grow-nodes N) collects, then adds N nodes (5000 at the least) when memory is growable; t when they were added, else nil"),
    TV_PRIM2("grow-heap", prim_grow_heap, "(grow-heap BYTES) always nil: the heap cannot grow"),
    TV_PRIM2("space-subr", prim_space_subr, "(space-subr) the sizes of the seven zones: symbol slots, Lisp stack words, Prolog stack words, nodes, heap bytes, native reserve, native stack"),
    TV_PRIM2("free-space-subr", prim_free_space_subr, "(free-space-subr) the free amounts of the seven zones, in the order of space-subr"),
    TV_PRIM2("space-size-subr", prim_space_size_subr, "(space-size-subr) the size in bytes of a unit of each zone: (16 4 4 8 1 1 1)"),
    TV_PRIM2("update-memory", prim_memory_window_0, "(update-memory) would redraw the memory window; does nothing yet; no value"),
    TV_PRIM2("paint-memory", prim_memory_window_0, "(paint-memory) would repaint the memory window; does nothing yet; no value"),
    TV_PRIM2("find-zone", prim_find_zone, "(find-zone POINT) the zone number under POINT in the memory window; 6 (none) while there is no memory window"),
    TV_PRIM2("setup-memory-window", prim_setup_memory_window, "(setup-memory-window WINDOW POINT1 POINT2) would place the memory window's bars; does nothing yet; no value"),
};

extern const Module kZonesModule{"zones", nullptr, [](Runtime&) { register_natives(kZoneNatives); }};

}  // namespace core
