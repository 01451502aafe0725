// Classes: class records, member tables and table indexes, inheritance by
// copy-down, native classes, the class primitives and the collector's view
// of the object system's records.
#include <algorithm>

#include "core/collector.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/predicates.hpp"
#include "data/state.hpp"
#include "objects/internal.hpp"
#include "objects/objects.hpp"

namespace objects {

using namespace core;

// ---- Checks ------------------------------------------------------------------------

Value checked_class(Value x) {
  if (!is_class(x)) error(Err::WrongType, x);
  return x;
}

Value checked_object(Value x) {
  if (!is_object(x)) error(Err::WrongType, x);
  return x;
}

// ---- Member tables -----------------------------------------------------------------

// A new table of n entries, all absent.
static Value make_table(uint32_t n) {
  uint32_t bytes = 2 + 4 * n;
  reserve_heap(bytes);
  uint8_t* p = heap_top_ptr();
  store16(p, uint16_t(n));
  for (uint32_t i = 0; i < n; ++i) store32(p + 2 + 4 * i, kEndArgs.bits);
  return alloc_indirect(bytes, Tag::Vector, Header::Vector);
}

uint32_t ensure_index(Value sym) {
  SymbolRecord& rec = record(sym);
  if (rec.slot != kNoIndex) return rec.slot;
  ObjectState& s = os();
  // Growth adds 25 entries past the index: keep every index where that
  // still fits a vector block.
  if (s.table_size + 25 > kMaxTableEntries) error(Err::WrongType, sym);
  rec.slot = uint16_t(s.table_size++);
  return rec.slot;
}

void table_store(Value cls, uint32_t index, Value v) {
  Value table = table_of(cls);
  uint32_t n = table_count(table);
  if (index >= n) {
    uint32_t grown = std::min(index + 25, kMaxTableEntries);
    Value bigger = make_table(grown);
    table = table_of(cls);  // the old table moved if the allocation collected
    std::memcpy(indirect_bytes(bigger) + 2, indirect_bytes(table) + 2, 4 * n);
    set_field(cls, kTable, bigger);
    store16(indirect_bytes(cls) + kEntryCount, uint16_t(grown));
    table = bigger;
  }
  set_table_entry(table, index, v);
}

// ---- Making classes ------------------------------------------------------------------

bool descends(Value cls, Value k) {
  if (cls == k) return true;
  for (Value g = field(cls, kGenealogy); g.is_pair(); g = cdr(g))
    if (car(g) == k) return true;
  return false;
}

// Whether a class has an ancestor (or is one) named `obj-root`.
static bool descends_from_root_name(Value cls) {
  Value root_name = os().sym.obj_root;
  for (Value g = field(cls, kGenealogy); g.is_pair(); g = cdr(g))
    if (class_name(car(g)) == root_name) return true;
  return false;
}

// Appends x to the list in a field of a record (a fresh last pair).
static void append_to_field(Value record, uint32_t offset, Value x) {
  Value cell = cons(x, kNil);
  Value list = field(record, offset);
  if (!list.is_pair()) {
    set_field(record, offset, cell);
    return;
  }
  while (cdr(list).is_pair()) list = cdr(list);
  set_cdr(list, cell);
}

// Makes S a direct superclass of X (at the end), with copy-down of S's
// entries into the places X has not filled yet.
static void add_superclass(Value x, Value s) {
  // A class made again under the same name replaces its older version in
  // the superclass's subclass list.
  Value name = class_name(x);
  Value prev = kNil;
  for (Value l = field(s, kSubs); l.is_pair(); prev = l, l = cdr(l)) {
    if (class_name(car(l)) == name) {
      if (prev.is_nil())
        set_field(s, kSubs, cdr(l));
      else
        set_cdr(prev, cdr(l));
      break;
    }
  }
  append_to_field(s, kSubs, x);
  append_to_field(x, kSupers, s);

  // Genealogy: a copy of X's, followed by S's (shared).
  Value copy = field(s, kGenealogy);
  {
    StackMark mark;
    Value* items = rt().zones.sp;
    size_t n = 0;
    for (Value g = field(x, kGenealogy); g.is_pair(); g = cdr(g), ++n) push(car(g));
    for (size_t i = n; i > 0; --i) copy = cons(items[i - 1], copy);
  }
  set_field(x, kGenealogy, copy);

  store32(indirect_bytes(x) + kConstructor, load32(indirect_bytes(s) + kConstructor));

  // Copy-down. Each class has its own handle for each slot, so that each
  // class has its own positions; the descriptor is shared.
  uint32_t n = table_count(table_of(s));
  for (uint32_t i = 0; i < n; ++i) {
    Value e = table_entry(table_of(s), i);
    if (e.is_end() || !table_entry(table_of(x), i).is_end()) continue;
    if (e.is(Tag::SlotHandle)) e = alloc_node(Tag::SlotHandle, kNil.bits, handle_descriptor(e).bits);
    table_store(x, i, e);
  }
}

Value make_class(Value name, const Value* supers, bool implicit_root) {
  if (!name.is_symbol()) error(Err::WrongType, name);
  for (const Value* s = supers; !s->is_end(); ++s) checked_class(*s);
  ObjectState& st = os();
  uint32_t entries = std::max<uint32_t>(200, st.table_size);
  uint32_t table_bytes = 2 + 4 * entries;
  // Both records fit before either is built: nothing is left half made.
  reserve_heap(table_bytes + kClassBytes);
  Value table = make_table(entries);
  Value cls = alloc_indirect(kClassBytes, Tag::Class, Header::Class);
  uint8_t* p = indirect_bytes(cls);
  init_object_record(p, kClassBytes, cls);
  store32(p + kName, name.bits);
  store32(p + kTable, table.bits);
  store32(p + kSupers, kNil.bits);
  store32(p + kSubs, kNil.bits);
  store32(p + kGenealogy, kNil.bits);
  store16(p + kEntryCount, uint16_t(entries));
  store32(p + kUnited, 1);
  Value genealogy = cons(cls, kNil);
  set_field(cls, kGenealogy, genealogy);

  for (const Value* s = supers; !s->is_end(); ++s) add_superclass(cls, *s);
  if (implicit_root && is_class(st.root) && !descends_from_root_name(cls)) add_superclass(cls, st.root);
  if (truth(symbol_value(st.sym.System_p))) {
    Value list = symbol_value(st.sym.System_Classes);
    if (list.is_no_value()) list = kNil;
    set_symbol_value(st.sym.System_Classes, cons(cls, list));
  }
  return cls;
}

Value class_name(Value cls) { return field(cls, kName); }

bool is_mixin(Value cls) { return !descends_from_root_name(cls); }

// The root class's native constructor. The native record it makes belongs
// to the module that opens objects; until that module is present an
// opened object has no record to make.
static Value root_constructor(Value*) { return kNil; }

Value define_native_class(const char* name, NativeFn constructor, Value supers) {
  ObjectState& st = os();
  Value sym = intern_static(name);
  StackMark mark;
  Value* list = rt().zones.sp;
  if (is_class(supers)) {
    push(supers);
  } else if (supers.is_nil()) {
    if (!st.no_implicit_root) push(checked_class(st.root));
  } else {
    for (Value l = supers; l.is_pair(); l = cdr(l)) push(car(l));
  }
  st.no_implicit_root = false;
  push(kEndArgs);
  Value cls = make_class(sym, list, false);
  uint32_t index = 0;
  if (constructor) {
    index = uint32_t(rt().natives.size()) + 1;
    rt().natives.push_back(constructor);
  }
  store32(indirect_bytes(cls) + kConstructor, index);
  assign(sym, cls);
  return cls;
}

// ---- The type predicates' class branches -----------------------------------------------

bool object_inherits(Value x, Value type) {
  if (!is_object(x)) return false;
  Value cls = class_of(x);
  if (is_class(type)) return descends(cls, type);
  if (!type.is_symbol()) return false;
  for (Value g = field(cls, kGenealogy); g.is_pair(); g = cdr(g))
    if (class_name(car(g)) == type) return true;
  return false;
}

// ---- The collector ----------------------------------------------------------------------

void mark_roots(Runtime&, void (*mark)(Value)) { mark(os().root); }

void mark_record(Value node, void (*mark)(Value)) {
  Node& n = node_of(node);
  const uint8_t* p = at_addr(n.cdr);
  switch (Header(word_tag(n.car))) {
    case Header::Class:
      for (uint32_t off : {kClassOf, kNativePart, kOverrides, kName, kTable, kSupers, kSubs, kGenealogy})
        mark(Value(load32(p + off)));
      return;
    case Header::Record:
      for (uint32_t off = 0; off < kDKind; off += 4) mark(Value(load32(p + off)));
      return;
    case Header::Instance: {
      for (uint32_t off : {kClassOf, kNativePart, kOverrides}) mark(Value(load32(p + off)));
      // The Value slots, found through the class's table; only positions
      // inside this instance's own size (an older instance may be smaller
      // than its class's present layout).
      uint32_t size = load32(p + kRecordSize);
      Value cls = Value(load32(p + kClassOf));
      Value table = table_of(cls);
      uint32_t count = table_count(table);
      for (uint32_t i = 0; i < count; ++i) {
        Value e = table_entry(table, i);
        if (!e.is(Tag::SlotHandle) || !has_position(e) || position_code(e) != 0) continue;
        uint32_t off = position_offset(e);
        if (off + 4 <= size) mark(Value(load32(p + off)));
      }
      return;
    }
    default:
      return;
  }
}

uint32_t instance_size(Value instance) { return load32(indirect_bytes(instance) + kRecordSize); }

// ---- Primitives --------------------------------------------------------------------------

static Value boolean(bool b) { return b ? rt().sym.t : kNil; }

static Value prim_new_class(Value name, Value* supers) { return make_class(name, supers, true); }
static Value prim_new_mixin(Value name, Value* supers) { return make_class(name, supers, false); }
static Value prim_object_p(Value x) { return boolean(is_object(x)); }
static Value prim_class_p(Value x) { return boolean(x.is(Tag::Class)); }
static Value prim_instance_p(Value x) { return boolean(x.is(Tag::Instance)); }
static Value prim_ascendants(Value c) { return field(checked_class(c), kSupers); }
static Value prim_descendants(Value c) { return field(checked_class(c), kSubs); }
static Value prim_genealogy(Value c) { return field(checked_class(c), kGenealogy); }
static Value prim_class_name(Value c) { return class_name(checked_class(c)); }
static Value prim_object_class(Value x) { return class_of(checked_object(x)); }

static Value prim_object_slots(Value x) {
  Value cls = class_of(checked_object(x));
  Value result = kNil;
  for (uint32_t i = table_count(table_of(cls)); i > 0; --i) {
    Value e = table_entry(table_of(cls), i - 1);
    if (e.is(Tag::SlotHandle)) result = cons(field(handle_descriptor(e), kDName), result);
  }
  return result;
}

static Value prim_superclass(Value x) {
  Value supers = field(class_of(checked_object(x)), kSupers);
  if (!supers.is_pair()) return kNil;
  while (cdr(supers).is_pair()) supers = cdr(supers);
  return car(supers);
}

static Value prim_class_table_size(Value c) {
  return make_fixnum(table_count(table_of(checked_class(c))));
}
static Value prim_class_united_p(Value c) {
  return boolean(load32(indirect_bytes(checked_class(c)) + kUnited) != 0);
}

// Clears the laid-out flag. Instances made before keep their size and
// their slots' positions: the next layout only appends.
static Value prim_reset_inited(Value c) {
  store32(indirect_bytes(checked_class(c)) + kLaidOut, 0);
  return kNoValue;
}

static Value prim_remove_class(Value c) {
  checked_class(c);
  for (Value s = field(c, kSupers); s.is_pair(); s = cdr(s)) {
    Value sup = car(s);
    Value prev = kNil;
    for (Value l = field(sup, kSubs); l.is_pair(); prev = l, l = cdr(l)) {
      if (car(l) != c) continue;
      if (prev.is_nil())
        set_field(sup, kSubs, cdr(l));
      else
        set_cdr(prev, cdr(l));
      break;
    }
  }
  return kNoValue;
}

static Value prim_unite_class(Value name, Value* supers) {
  if (!name.is_symbol()) error(Err::WrongType, name);
  Value cls = lookup(name);
  if (!is_class(cls)) error(Err::WrongType, name);
  ObjectState& st = os();
  if (st.unite_skip_check) {
    st.unite_skip_check = false;
  } else if (!supers->is_end()) {
    Value have = field(cls, kSupers);
    for (const Value* s = supers; !s->is_end(); ++s, have = cdr(have))
      if (!have.is_pair() || car(have) != *s) error(Err::WrongType, *s);
    if (have.is_pair()) error(Err::WrongType, have);
  }
  store32(indirect_bytes(cls) + kUnited, 1);
  return cls;
}

static Value prim_object_opened_p() {
  Value o = rt().current_object;
  return boolean(is_object(o) && !field(o, kNativePart).is_nil());
}

static void intern_symbols(Runtime& r) {
  ObjectSymbols& s = os().sym;
  Value t = r.sym.t;
  (void)t;
#define U(text) intern_static(text)
#define T(text) intern_static(text, t)
#define N(text) intern_static(text, kNil)
#define K(text) make_keyword(std::string_view(text).substr(1))
#define TALVEN_X(field, text, init) s.field = init(text);
  TALVEN_OBJECT_SYMBOLS(TALVEN_X)
#undef TALVEN_X
#undef U
#undef T
#undef N
#undef K
}

static void install_module(core::Runtime&) {
  Runtime& r = rt();
  intern_symbols(r);
  // The marking hooks are installed with the collector's marking of a
  // Value (objects.hpp); the size needs none.
  r.instance_size = instance_size;
  r.mark_object_record = [](Value n) { mark_record(n, core::mark_value); };
  r.hooks.class_of = [](Value x) { return class_of(x); };
  r.hooks.inherits = object_inherits;
  // The printer names classes and mixins through this module.
  if (module_installed(data::kDataModule))
    data::data_state().class_name = [](Value cls, bool& mixin) {
      mixin = is_mixin(cls);
      return class_name(cls);
    };
  static const NativeRow rows[] = {
      TV_PRIM("new-class", prim_new_class, "(new-class NAME SUPERCLASS...) a new class under NAME inheriting from the superclasses in order, with obj-root last unless inherited already"),
      TV_PRIM("new-mixin", prim_new_mixin, "(new-mixin NAME SUPERCLASS...) a new class as new-class makes, without the implicit obj-root"),
      TV_PRIM("object?", prim_object_p, "(object? X) t for a class or an instance"),
      TV_PRIM("class?", prim_class_p, "(class? X) t for a class"),
      TV_PRIM("instance?", prim_instance_p, "(instance? X) t for an instance"),
      TV_PRIM("ascendants", prim_ascendants, "(ascendants CLASS) the list of CLASS's direct superclasses (the class's own list, not a copy)"),
      TV_PRIM("descendants", prim_descendants, "(descendants CLASS) the list of CLASS's direct subclasses (the class's own list)"),
      TV_PRIM2("genealogy", prim_genealogy, "(genealogy CLASS) CLASS followed by the genealogies of its superclasses (the class's own list)"),
      TV_PRIM2("class-name", prim_class_name, "(class-name CLASS) the name of CLASS"),
      TV_PRIM2("object-class", prim_object_class, "(object-class OBJECT) the class of OBJECT (a class made by new-class is its own)"),
      TV_PRIM2("object-slots", prim_object_slots, "(object-slots OBJECT) a new list of the slot names of OBJECT's class, in table order"),
      TV_PRIM2("superclass", prim_superclass, "(superclass OBJECT) the last direct superclass of OBJECT's class; nil when none"),
      TV_PRIM2("class-table-size", prim_class_table_size, "(class-table-size CLASS) the number of entries of CLASS's member table"),
      TV_PRIM2("class-united?", prim_class_united_p, "(class-united? CLASS) t when CLASS is marked united (made, or checked by unite-class)"),
      TV_PRIM2("reset-inited", prim_reset_inited, "(reset-inited CLASS) lets the next make-instance lay CLASS out again, so slots may be added; no value"),
      TV_PRIM2("remove-class", prim_remove_class, "(remove-class CLASS) takes CLASS out of its superclasses' subclass lists; no value"),
      TV_PRIM_CODE("unite-class", prim_unite_class, kAritySecond, "(unite-class NAME SUPERCLASS...) checks that the class NAME has exactly these direct superclasses (error 2 otherwise), marks it united and returns it"),
      TV_PRIM2("object-opened?", prim_object_opened_p, "(object-opened?) t when the current object has its native part (it is opened)"),
  };
  register_natives(rows);
  register_slot_natives();
  register_method_natives();
  // The root class, first of all classes.
  os().root = define_native_class("obj-root", root_constructor, kNil);
}

extern const core::Module kObjectsModule{
    "objects", [](Runtime&) -> std::unique_ptr<ModuleState> { return std::make_unique<ObjectState>(); },
    install_module, [](Runtime& r) { mark_roots(r, core::mark_value); }, nullptr};

}  // namespace objects
