// Methods and message sending: names as seen from the current object,
// definitions in classes, single-owner names, overrides, `send`, applying
// an object, and the native sends.
//
// A message is a symbol evaluated with the receiver current. Lookup reads
// the object's overrides (usually none), then the one entry of its class's
// table at the symbol's index, then the symbol's own value cell. A name
// defined by a single class (its owner) costs no index: the definition sits
// in the symbol's value cell and is seen only from objects that descend
// from the owner; a second class defining it moves it into tables.
#include <algorithm>
#include <string>
#include <string_view>

#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/predicates.hpp"
#include "objects/internal.hpp"
#include "objects/objects.hpp"

namespace objects {

using namespace core;

namespace {

bool owned_by_class(const SymbolRecord& rec) { return word_tag(rec.owner) == unsigned(Tag::Class); }

// The value of a plain Value slot of an instance read straight from its
// record, or the end marker when the slot needs the general path (a class,
// a link, a typed or packed slot, no room in an older instance).
inline Value plain_slot(Value o, const uint8_t* record_bytes, Value handle) {
  Value pos = car(handle);
  if (!o.is(Tag::Instance) || !pos.is_fixnum() || (pos.payload() & 0xFF) != 0) return kEndArgs;
  const uint8_t* desc = indirect_bytes(cdr(handle));
  if (load32(desc + kDLink) != 0) return kEndArgs;
  uint32_t off = pos.payload() >> 8;
  if (off + 4 > load32(record_bytes + kRecordSize)) return kEndArgs;
  return Value(load32(record_bytes + off));
}

// Lookup without the overrides (`overriden`), after them (lookup_in).
[[gnu::always_inline]] inline Value lookup_past_overrides(Value o, Value sym) {
  const SymbolRecord& rec = record(sym);
  if (owned_by_class(rec)) return descends(class_of(o), Value(rec.owner)) ? Value(rec.value) : kNoValue;
  if (rec.slot != kNoIndex) {
    const uint8_t* p = indirect_bytes(o);
    Value e = table_entry(table_of(Value(load32(p + kClassOf))), rec.slot);
    if (!e.is_end()) {
      if (!e.is(Tag::SlotHandle)) return e;
      if (handle_allocated(e)) {
        Value v = plain_slot(o, p, e);
        return v.is_end() ? read_slot_value(o, e) : v;
      }
    }
  }
  return Value(rec.value);
}

Value global_lookup(Value sym) {
  const SymbolRecord& rec = record(sym);
  return owned_by_class(rec) ? kNoValue : Value(rec.value);
}

}  // namespace

Value lookup_in(Value o, Value sym) {
  if (!is_object(o)) return global_lookup(sym);
  for (Value l = field(o, kOverrides); l.is_pair(); l = cdr(l)) {
    Value pair = car(l);
    if (pair.is_pair() && car(pair) == sym) return cdr(pair);
  }
  return lookup_past_overrides(o, sym);
}

static void assign_in(Value o, Value sym, Value v) {
  SymbolRecord& rec = record(sym);
  if (is_object(o) && !owned_by_class(rec) && rec.slot != kNoIndex) {
    Value cls = class_of(o);
    Value e = table_entry(table_of(cls), rec.slot);
    if (!e.is_end()) {
      // A method or class-level value is replaced in the object's class
      // only: nothing is pushed down, and every instance sees it.
      if (!e.is(Tag::SlotHandle)) return table_store(cls, rec.slot, v);
      if (handle_allocated(e)) return assign_slot(o, e, v);
    }
  }
  set_symbol_value(sym, v);
}

// ---- Definitions -----------------------------------------------------------------------

namespace {

// Mode 1: a name new to this part of the tree; mode 3: a redefinition,
// reaching the classes that still hold the old value.
void push_down(Value x, uint32_t index, Value v, int mode, Value old) {
  check_native_stack();
  Value e = table_entry(table_of(x), index);
  bool method = !e.is_end() && !e.is(Tag::SlotHandle);
  if (mode == 1 && method) return;  // x keeps its own or its first inherited definition
  if (mode == 3 && (!method || e != old)) return;  // x overrides it
  table_store(x, index, v);
  for (Value l = field(x, kSubs); l.is_pair(); l = cdr(l)) push_down(car(l), index, v, mode, old);
}

}  // namespace

void define_in_class(Value x, Value sym, Value v) {
  SymbolRecord& rec = record(sym);
  if (rec.owner == x.bits) return set_symbol_value(sym, v);
  if (rec.owner == 0 && Value(rec.value).is_no_value()) {
    set_symbol_value(sym, v);
    record(sym).owner = x.bits;
    return;
  }
  uint32_t index = ensure_index(sym);
  Value e = table_entry(table_of(x), index);
  if (!e.is_end() && !e.is(Tag::SlotHandle)) {
    table_store(x, index, v);
    for (Value l = field(x, kSubs); l.is_pair(); l = cdr(l)) push_down(car(l), index, v, 3, e);
    return;
  }
  push_down(x, index, v, 1, kNil);
}

void move_into_tables(Value sym) {
  SymbolRecord& rec = record(sym);
  Value owner(rec.owner);
  Value v(rec.value);
  ensure_index(sym);
  record(sym).owner = kEndArgs.bits;
  define_in_class(owner, sym, v);
  set_symbol_value(sym, kNoValue);
}

void prepare_name(Value o, Value sym, int flag) {
  const SymbolRecord& rec = record(sym);
  if (is_object(o) && !(flag == 1 && rec.owner == 0 && Value(rec.value).is_no_value())) ensure_index(sym);
  if (owned_by_class(record(sym))) {
    if (flag == 1 && record(sym).owner == o.bits) return;
    move_into_tables(sym);
  }
}

// The class a definition made in an object goes to: the object itself when
// it is a class, the instance's class otherwise.
static Value definition_class(Value o) { return is_class(o) ? o : class_of(o); }

static void define_hook(Value o, Value sym, Value v) {
  if (!is_object(o)) o = kNoObject;
  prepare_name(o, sym, 1);
  if (is_object(o))
    define_in_class(definition_class(o), sym, v);
  else
    set_symbol_value(sym, v);
  // The class-update hook: a persistent class defined under its own name
  // by the application.
  const ObjectSymbols& s = os().sym;
  if (is_class(v) && class_name(v) == sym && !truth(symbol_value(s.System_p)) &&
      object_inherits(v, s.obj_persistence)) {
    Value update = rt().sym.update_classes;
    if (!global_lookup(update).is_no_value()) call_by_name(update, {v});
  }
}

// ---- Sending -------------------------------------------------------------------------------

// The object an operation makes current: a class or instance, or else the
// no-object word.
static Value receiver_of(Value o) { return is_object(o) ? o : kNoObject; }

// `send`: in mode 1 the object and argument forms are evaluated in the
// caller's context; in mode 0 the object element is evaluated and the
// arguments are values; in mode 2 everything is a value. The message form
// is evaluated with the receiver current.
static Value send_syntax(Value forms, int mode) {
  if (!forms.is_pair()) error(Err::WrongType, forms);
  Value object = car(forms);
  if (mode != int(Mode::Vector)) object = eval(object);
  Value rest = cdr(forms);
  Value message = rest.is_pair() ? car(rest) : kNil;
  Value args = rest.is_pair() ? cdr(rest) : kNil;
  if (mode == int(Mode::Forms)) {
    StackMark mark;
    Value* values = rt().zones.sp;
    size_t n = 0;
    for (; args.is_pair(); args = cdr(args), ++n) push(eval(car(args)));
    args = kNil;
    for (size_t i = n; i > 0; --i) args = cons(values[i - 1], args);
  }
  SelfFrame frame(receiver_of(object));
  Value fn = eval(message);
  return apply(fn, args, nullptr, Mode::Values, message);
}

// Applying an object: each form (or value) evaluated with the object
// current; the last value, or no-value when there are none.
static Value apply_object(Value object, Value list, const Value* vec, int mode, Value) {
  SelfFrame frame(object);
  Value result = kNoValue;
  if (mode == int(Mode::Vector)) {
    for (; !vec->is_end(); ++vec) result = eval(*vec);
  } else {
    for (; list.is_pair(); list = cdr(list)) result = eval(car(list));
  }
  return result;
}

Value native_send(Value receiver, Value message, const Value* args) {
  if (receiver.is_symbol()) {
    Value v = lookup(receiver);
    if (v.is_no_value()) error(Err::Unbound, receiver);
    receiver = v;
  }
  SelfFrame frame(receiver_of(receiver));
  Value fn = message;
  if (message.is_symbol()) {
    // The same descent test as evaluation: a single-owner method is never
    // run with a receiver outside its owner's tree.
    fn = lookup(message);
    if (fn.is_no_value()) return kNoValue;
  }
  return apply_vector(fn, args, message);
}

Value protected_send(Value receiver, Value message, const Value* args) {
  Runtime& r = rt();
  try {
    return native_send(receiver, message, args);
  } catch (const Thrower& t) {
    // The first exit stopped in a dispatch is the one re-raised after it.
    if (r.pending_tag.is_no_value()) {
      r.pending_tag = t.tag;
      r.pending_value = t.value;
    }
    return kNoValue;
  }
}

Value with_object(Value object, Value sym) {
  SelfFrame frame(receiver_of(object));
  return lookup(sym);
}

namespace {
// The entries in registration order, with an open-addressed index on their
// class and name (a later runtime registers the same methods again).
struct MethodDocs {
  std::vector<MethodDoc> list;
  std::vector<uint32_t> slots;  // 1 + position in list; 0 is free

  // The method's name with the class name's length and last letter: enough
  // to spread a few hundred entries.
  static size_t hash(std::string_view cls, std::string_view name) {
    size_t h = cls.size() * 131 + (cls.empty() ? 0 : uint8_t(cls.back()));
    for (char c : name) h = h * 31 + uint8_t(c);
    return h;
  }
  // The slot holding the pair, or the free slot where it would go.
  uint32_t& slot(std::string_view cls, std::string_view name) {
    size_t mask = slots.size() - 1;
    for (size_t i = hash(cls, name) & mask;; i = (i + 1) & mask) {
      uint32_t& s = slots[i];
      if (s == 0) return s;
      const MethodDoc& e = list[s - 1];
      if (e.cls == cls && std::string_view(e.name) == name) return s;
    }
  }
  void add(MethodDoc&& d) {
    if (slots.size() < 2 * (list.size() + 1)) {
      if (list.empty()) list.reserve(512);
      slots.assign(slots.empty() ? 1024 : 2 * slots.size(), 0);
      for (size_t i = 0; i < list.size(); ++i) slot(list[i].cls, list[i].name) = uint32_t(i + 1);
    }
    uint32_t& s = slot(d.cls, d.name);
    if (s != 0) {
      list[s - 1] = std::move(d);
      return;
    }
    list.push_back(std::move(d));
    s = uint32_t(list.size());
  }
};
MethodDocs& method_docs() {
  static MethodDocs docs;
  return docs;
}
}  // namespace

void register_native_method(Value cls, const char* name, NativeFn fn, uint32_t count, const char* doc) {
  checked_class(cls);
  if (count > 8) error(Err::WrongType, make_fixnum(int32_t(count)));
  Value sym = intern_static(name);
  Value prim = make_native(fn, kAritySecond | count, Tag::Primitive);
  prepare_name(cls, sym, 1);
  define_in_class(cls, sym, prim);
  Value cname = class_name(cls);
  method_docs().add(MethodDoc{cname.is_symbol() ? symbol_text(cname) : "", rt().installing_module, name, count, doc});
}

const std::vector<MethodDoc>& native_method_docs() { return method_docs().list; }

// ---- Primitives ------------------------------------------------------------------------------

namespace {

Value prim_self() { return rt().current_object; }

Value prim_new_method(Value name, Value v) {
  if (!name.is_symbol()) error(Err::WrongType, name);
  define_hook(rt().current_object, name, v);
  return v;
}

Value prim_add_override(Value name, Value v) {
  Value o = rt().current_object;
  if (!is_object(o)) error(Err::WrongType, name);
  Value pair = cons(name, v);
  Value list = cons(pair, field(o, kOverrides));
  set_field(o, kOverrides, list);
  // From now on every name may be shadowed somewhere: the evaluator asks
  // the lookup hook for all of them.
  rt().hooks.overrides_used = true;
  return kNoValue;
}

Value prim_remove_override(Value name) {
  Value o = rt().current_object;
  if (!is_object(o)) error(Err::WrongType, name);
  Value prev = kNil;
  for (Value l = field(o, kOverrides); l.is_pair(); prev = l, l = cdr(l)) {
    Value pair = car(l);
    if (!pair.is_pair() || car(pair) != name) continue;
    if (prev.is_nil())
      set_field(o, kOverrides, cdr(l));
    else
      set_cdr(prev, cdr(l));
    break;
  }
  return kNoValue;
}

Value sp_overriden(Value forms) {
  Value name = forms.is_pair() ? car(forms) : kNil;
  if (!name.is_symbol()) error(Err::WrongType, name);
  Value o = rt().current_object;
  Value v = is_object(o) ? lookup_past_overrides(o, name) : global_lookup(name);
  if (v.is_no_value()) error(Err::Unbound, name);
  return v;
}

// `bind-properties`: a property is a slot's initialisation value.
Value property(Value o, Value name) {
  if (!is_object(o)) error(Err::WrongType, name);
  Value h = find_handle(class_of(o), name);
  if (h.is_nil()) error(Err::WrongType, name);
  return initialisation_value(o, h);
}

}  // namespace

void register_method_natives() {
  EvalHooks& h = rt().hooks;
  h.lookup = lookup_in;
  h.assign = assign_in;
  h.define = define_hook;
  h.apply_object = apply_object;
  h.send = native_send;
  h.send_syntax = send_syntax;
  h.property = property;
  static const NativeRow rows[] = {
      TV_PRIM("self", prim_self, "(self) the current object; the no-object word outside any object"),
      TV_PRIM2("new-method", prim_new_method, "(new-method NAME VALUE) defines NAME as VALUE in the current object's class, as define does; returns VALUE"),
      TV_PRIM2("add-override", prim_add_override, "(add-override NAME VALUE) makes NAME mean VALUE in the current object alone, ahead of its class; no value"),
      TV_PRIM2("remove-override", prim_remove_override, "(remove-override NAME) removes the latest override of NAME from the current object; no value"),
      TV_SPECIAL2("overriden", sp_overriden, "(overriden NAME) the value of NAME (not evaluated) in the current object, its overrides skipped"),
  };
  register_natives(rows);
}

}  // namespace objects
