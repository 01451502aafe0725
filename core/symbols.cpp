#include "core/symbols.hpp"

#include "core/args.hpp"
#include "core/eval.hpp"

#include <cstring>
#include <string>

#include "core/natives.hpp"

namespace core {

uint32_t symbol_hash(std::string_view text) {
  // h = 2h + c for each character, four characters a step.
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size(), i = 0;
  uint32_t h = 0;
  for (; i + 4 <= n; i += 4) h = 16 * h + 8u * s[i] + 4u * s[i + 1] + 2u * s[i + 2] + s[i + 3];
  for (; i < n; ++i) h = 2 * h + s[i];
  return h;
}

// A permanent string whose text lies in the runtime's text arena inside the
// region (static names are copied there once; the node is never freed).
static Value permanent_static_string(std::string_view text) {
  Runtime& r = rt();
  uint32_t need = uint32_t(text.size() + 1);
  if (need > r.text_arena_left) {
    uint32_t chunk = std::max<uint32_t>(need, 64u << 10);
    r.text_arena = r.region.allocate(chunk);
    if (r.text_arena == 0) error(Err::NativeMemory, kNil);
    r.text_arena_left = chunk;
  }
  Addr a = r.text_arena;
  std::memcpy(r.region.ptr(a), text.data(), text.size());
  r.region.ptr(a)[text.size()] = 0;
  r.text_arena += need;
  r.text_arena_left -= need;
  return alloc_node(Tag::String, kPermanentBit | make_header(Header::String, 0), a);
}

static Value permanent_heap_string(std::string_view text) {
  Value s = make_string(text.data(), text.size());
  node_of(s).car |= kPermanentBit;
  return s;
}

// Whether the record's name is the text. Most probes meet another name:
// the first byte settles those without measuring the name.
static inline bool same_name(const char* name, std::string_view text) {
  if (text.empty()) return name[0] == 0;
  return name[0] == text[0] && strnlen(name, text.size() + 1) == text.size() &&
         std::memcmp(name, text.data(), text.size()) == 0;
}

namespace {
// Where a name is in the table, or the empty slot where it would go.
struct Probe {
  uint32_t slot;
  bool found;
};
}  // namespace

static Probe probe(std::string_view text) {
  Zones& z = rt().zones;
  uint32_t n = z.symbol_slots;
  uint32_t p = symbol_hash(text) % n;
  // One slot always stays empty (intern refuses the last), so the probe ends.
  for (uint32_t probes = 0; probes < n; ++probes) {
    auto& rec = *reinterpret_cast<SymbolRecord*>(z.symbols + 16ull * p);
    if (rec.name == 0) return {p, false};
    if (same_name(string_text(Value(rec.name)), text)) return {p, true};
    p = p + 1 == n ? 0 : p + 1;
  }
  return {p, false};
}

// Interns at the place a probe found for the text.
static Value intern_at(Probe at, std::string_view text, Value initial, bool copy) {
  Zones& z = rt().zones;
  if (at.found) {
    auto& rec = *reinterpret_cast<SymbolRecord*>(z.symbols + 16ull * at.slot);
    if (Value(rec.value).is_no_value()) rec.value = initial.bits;
    return symbol_at(at.slot);
  }
  if (z.free_symbols <= 1) error(Err::SymbolTableFull, kNil);
  // Making the name may collect; the slot found stays empty meanwhile
  // (nothing else interns during the allocation).
  Value name = copy ? permanent_heap_string(text) : permanent_static_string(text);
  auto& rec = *reinterpret_cast<SymbolRecord*>(z.symbols + 16ull * at.slot);
  rec.name = name.bits;
  rec.value = initial.bits;
  --z.free_symbols;
  z.used_symbols.push_back(at.slot);
  return symbol_at(at.slot);
}

Value intern_static(std::string_view text, Value initial) { return intern_at(probe(text), text, initial, false); }
Value intern_copy(std::string_view text, Value initial) { return intern_at(probe(text), text, initial, true); }

Value find_symbol(std::string_view text) {
  Probe at = probe(text);
  return at.found ? symbol_at(at.slot) : kNil;
}

Value make_keyword(std::string_view name) {
  std::string text = ":";
  text += name;
  Value k = intern_copy(text, kNoValue);
  set_symbol_value(k, k);
  return k;
}

void intern_well_known(Runtime& r) {
#define TALVEN_X(field, text) r.sym.field = intern_static(text, kNoValue);
  TALVEN_WELL_KNOWN(TALVEN_X)
#undef TALVEN_X
  set_symbol_value(r.sym.message_kw, r.sym.message_kw);
  set_symbol_value(r.sym.Error_Module, kNil);
  set_symbol_value(r.sym.Error_Handler, kNil);
}

// ---- Natives ----------------------------------------------------------------

Value make_native(NativeFn fn, uint32_t code, Tag kind) {
  Runtime& r = rt();
  uint32_t index = uint32_t(r.natives.size());
  r.natives.push_back(fn);
  r.native_ops.push_back(0);
  r.native_inline.push_back(0);
  r.native_scoped.push_back(0);
  return alloc_node(kind, kPermanentBit | make_header(Header::Long, code), index);
}

uint32_t native_code(Value v) { return word_payload(node_of(v).car); }
NativeFn native_function(Value v) { return rt().natives[node_of(v).cdr]; }

void register_native(const char* name, NativeFn fn, uint32_t code, Tag kind, const char* doc) {
  std::string_view text(name);
  Probe at = probe(text);
  if (at.found && !symbol_value(symbol_at(at.slot)).is_no_value()) {
    // The first registration of a name wins; a second one is a slip in the
    // module tables, counted so that tests can see it.
    ++rt().duplicate_registrations;
    return;
  }
  // Making the native allocates a node, which may collect; nothing interns
  // meanwhile, so the place found stays right.
  intern_at(at, text, make_native(fn, code, kind), false);
  Runtime& r = rt();
  r.native_docs.push_back(NativeDoc{name, r.installing_module, code, kind, doc});
}

void set_fixnum_op(NativeFn fn, FixnumOp op) {
  Runtime& r = rt();
  for (size_t i = 0; i < r.natives.size(); ++i)
    if (r.natives[i] == fn) r.native_ops[i] = uint8_t(op);
}

void set_inline_op(NativeFn fn, InlineOp op) {
  Runtime& r = rt();
  for (size_t i = 0; i < r.natives.size(); ++i)
    if (r.natives[i] == fn) r.native_inline[i] = uint8_t(op);
}

void set_own_scope(NativeFn fn) {
  Runtime& r = rt();
  for (size_t i = 0; i < r.natives.size(); ++i)
    if (r.natives[i] == fn) r.native_scoped[i] = 1;
}

void register_natives(std::span<const NativeRow> rows) {
  for (const NativeRow& row : rows) register_native(row.name, row.fn, row.code, row.kind, row.doc);
}

// ---- Symbol primitives ------------------------------------------------------

static Value prim_symbol_to_value(Value s) {
  Value v = lookup(arg_symbol(s));
  if (v.is_no_value()) error(Err::Unbound, s);
  return v;
}

static Value prim_set(Value s, Value v) {
  assign(arg_symbol(s), v);
  return v;
}

static Value prim_bound_p(Value s) {
  if (s.is_symbol()) return lookup(s).is_no_value() ? kNil : rt().sym.t;
  if (s.is(Tag::Variable)) {
    Value* slot = variable_slot(s);
    return slot && !slot->is_no_value() ? rt().sym.t : kNil;
  }
  error(Err::WrongType, s);
}

static Value prim_unbound_p(Value s) { return prim_bound_p(s).truthy() ? kNil : rt().sym.t; }

static Value prim_find_symbol(Value x) {
  if (x.is_symbol()) return x;
  return find_symbol(describe(x));
}

// Calls the function on every symbol in table order; answers the symbols
// it accepted, the last visited first. Symbols interned by the function
// itself may or may not be visited.
static Value prim_mapatoms(Value fn) {
  Value result = kNil;
  uint32_t slots = rt().zones.symbol_slots;
  for (uint32_t i = 0; i < slots; ++i) {
    Value s = symbol_at(i);
    if (record(s).name == 0) continue;
    if (call_by_name(fn, {s}).truthy()) result = cons(s, result);
  }
  return result;
}

static const NativeRow kSymbolNatives[] = {
    TV_PRIM("symbol->value", prim_symbol_to_value, "(symbol->value SYMBOL) the value of SYMBOL as seen from the current object; error 6 when unbound"),
    TV_PRIM("set", prim_set, "(set SYMBOL VALUE) assigns VALUE to SYMBOL as seen from the current object; returns VALUE"),
    TV_PRIM("bound?", prim_bound_p, "(bound? X) t when the symbol or variable X has a value"),
    TV_PRIM("unbound?", prim_unbound_p, "(unbound? X) t when the symbol or variable X has no value"),
    TV_PRIM("find-symbol", prim_find_symbol, "(find-symbol X) the symbol named by X's text if it exists (a symbol itself); nil otherwise, nothing interned"),
    TV_PRIM2("mapatoms", prim_mapatoms, "(mapatoms F) applies F to every symbol; the list of those it found true, the last visited first"),
};

extern const Module kSymbolsModule{"symbols", nullptr, [](Runtime&) { register_natives(kSymbolNatives); }};

}  // namespace core
