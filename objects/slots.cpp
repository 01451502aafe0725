// Slots: descriptors and handles with copy-on-write, `defslot` and its
// options, layout, instances, typed storage, links and the slot primitives.
//
// A descriptor is shared by the handles of a class and of the subclasses
// that inherited the slot, until one class changes an option: that class
// then gets its own copy (its owner), and a new handle on it that keeps the
// old handle's position, so instances already made stay valid.
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "objects/internal.hpp"
#include "objects/objects.hpp"

namespace objects {

using namespace core;

namespace {

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

bool laid_out(Value cls) { return load32(indirect_bytes(cls) + kLaidOut) != 0; }

// ---- Options ------------------------------------------------------------------------

struct Option {
  Value ObjectSymbols::*keyword;
  uint32_t offset;
  bool flag;       // stored as 0 or 1, reads back t or nil
  bool evaluated;  // the value in `defslot` is evaluated
};

const Option kOptions[] = {
    {&ObjectSymbols::k_default, kDDefault, false, true},
    {&ObjectSymbols::k_initform, kDInitform, false, false},
    {&ObjectSymbols::k_initialize_p, kDInitialize, false, true},
    {&ObjectSymbols::k_linker, kDLinker, false, false},
    {&ObjectSymbols::k_type, kDType, false, false},
    {&ObjectSymbols::k_reader, kDReader, false, false},
    {&ObjectSymbols::k_writer, kDWriter, false, false},
    {&ObjectSymbols::k_chooser, kDChooser, false, false},
    {&ObjectSymbols::k_info, kDInfo, false, false},
    {&ObjectSymbols::k_allocate_p, kDAllocate, true, true},
    {&ObjectSymbols::k_link_p, kDLink, true, true},
    {&ObjectSymbols::k_list_p, kDList, true, true},
    {&ObjectSymbols::k_editable_p, kDEditable, true, true},
    {&ObjectSymbols::k_invalidate_p, kDInvalidate, true, true},
};

const Option& option_for(Value keyword) {
  for (const Option& o : kOptions)
    if (os().sym.*o.keyword == keyword) return o;
  error(Err::WrongType, keyword);
}

const Option& option_at(uint32_t offset) {
  for (const Option& o : kOptions)
    if (o.offset == offset) return o;
  error(Err::WrongType, kNil);
}

Value option_value(Value desc, const Option& o) {
  if (o.flag) return boolean(desc_flag(desc, o.offset) != 0);
  return field(desc, o.offset);
}

// The value an option would read back once set to v.
Value stored_form(const Option& o, Value v) { return o.flag ? boolean(truth(v)) : v; }

void set_option_value(Value desc, const Option& o, Value v) {
  if (o.flag)
    set_desc_flag(desc, o.offset, truth(v));
  else
    set_field(desc, o.offset, v);
}

// ---- Descriptors and handles -------------------------------------------------------------

Value make_descriptor(Value name, Value owner) {
  reserve_heap(kDescriptorBytes);
  Value d = alloc_indirect(kDescriptorBytes, Tag::Record, Header::Record);
  uint8_t* p = indirect_bytes(d);
  std::memset(p, 0, kDescriptorBytes);
  for (uint32_t off = 0; off < kDKind; off += 4) store32(p + off, kNil.bits);
  store32(p + kDName, name.bits);
  store32(p + kDClassValue, kEndArgs.bits);
  store32(p + kDDefault, kNoValue.bits);
  store32(p + kDInitform, kNoValue.bits);
  store32(p + kDOwner, owner.bits);
  p[kDKind] = kKindUnset;
  store32(p + kDAllocate, 1);
  return d;
}

// Gives class x its own copy of a handle's descriptor; the new handle keeps
// the old one's position.
Value copy_on_write(Value x, uint32_t index, Value handle) {
  Value old = handle_descriptor(handle);
  reserve_heap(kDescriptorBytes);
  Value copy = alloc_indirect(kDescriptorBytes, Tag::Record, Header::Record);
  std::memcpy(indirect_bytes(copy), indirect_bytes(old), kDescriptorBytes);
  set_field(copy, kDOwner, x);
  Value h = alloc_node(Tag::SlotHandle, node_of(handle).car, copy.bits);
  table_store(x, index, h);
  return h;
}

Value own_handle(Value x, uint32_t index, Value handle) {
  if (field(handle_descriptor(handle), kDOwner) == x) return handle;
  return copy_on_write(x, index, handle);
}

// Sets one option of slot `name` in class x and in the subclasses that did
// not set their own (their value still equals the one the top call saw).
void set_option(Value x, Value name, const Option& o, Value v, bool top, Value top_old, Value parent) {
  check_native_stack();
  uint32_t index = symbol_slot(name);
  Value h = table_entry(table_of(x), index);
  Value old = top_old;
  if (h.is(Tag::SlotHandle)) {
    Value cur = option_value(handle_descriptor(h), o);
    bool shared = !top && handle_descriptor(h) == handle_descriptor(parent);
    if (top) old = cur;
    if (!shared) {
      if (!top && cur != top_old) return;  // the subclass has its own setting
      if (laid_out(x) && (o.offset == kDAllocate || o.offset == kDType) && stored_form(o, v) != cur)
        error(Err::LayoutOptionChanged, os().sym.*o.keyword);
      h = own_handle(x, index, h);
      set_option_value(handle_descriptor(h), o, v);
    }
    // A descriptor shared with the parent is already set; its subclasses
    // may still need the value.
  } else {
    if (laid_out(x)) error(Err::SlotInLaidOutClass, name);
    Value desc = top ? make_descriptor(name, x) : handle_descriptor(parent);
    h = alloc_node(Tag::SlotHandle, kNil.bits, desc.bits);
    table_store(x, index, h);
    if (top) old = option_value(desc, o);
    set_option_value(desc, o, v);
  }
  for (Value l = field(x, kSubs); l.is_pair(); l = cdr(l)) set_option(car(l), name, o, v, false, old, h);
}

// Stores a slot's default as the class-level value of x, and of the
// subclasses whose class-level value still equals x's old one.
void class_level_store(Value x, uint32_t index, Value v, bool top, Value old, Value parent_desc) {
  check_native_stack();
  Value h = table_entry(table_of(x), index);
  if (!h.is(Tag::SlotHandle)) return;
  Value desc = handle_descriptor(h);
  Value cur = field(desc, kDClassValue);
  if (!top && desc == parent_desc) {
    cur = old;  // shared with the parent: already set
  } else {
    if (!top && cur != old) return;
    if (!cur.is_end()) h = own_handle(x, index, h);
    desc = handle_descriptor(h);
    set_field(desc, kDClassValue, v);
  }
  for (Value l = field(x, kSubs); l.is_pair(); l = cdr(l)) class_level_store(car(l), index, v, false, cur, desc);
}

// Gives a slot name its table index and moves a single-owner definition of
// it into tables: slot names are always held in tables.
void prepare_slot_name(Value name) {
  if (!name.is_symbol()) error(Err::WrongType, name);
  ensure_index(name);
  if (word_tag(record(name).owner) == unsigned(Tag::Class)) move_into_tables(name);
  record(name).owner = kEndArgs.bits;
}

Value current_class(Value culprit) {
  Value o = rt().current_object;
  if (!is_class(o)) error(Err::WrongType, is_object(o) ? o : culprit);
  return o;
}

// ---- Layout and typed storage --------------------------------------------------------------

Kind kind_of_type(Value type) {
  const ObjectSymbols& s = os().sym;
  if (type == s.boolean) return kKindBoolean;
  if (type == s.byte) return kKindByte;
  if (type == s.word) return kKindWord;
  return kKindValue;
}

uint32_t kind_width(Kind k) { return k == kKindValue ? 4 : k == kKindWord ? 2 : 1; }

// Gives every allocated slot of a class a position. A slot that already has
// one of its kind keeps it (a class laid out again after `reset-inited`);
// the others go after the end, in four passes by kind, each from the
// highest table index down. Booleans share bytes, most significant bit
// first, eight to a byte.
void lay_out(Value x) {
  uint32_t offset = std::max<uint32_t>(load16(indirect_bytes(x) + kInstanceSize), kSlotStart);
  Value last = kNil;  // the handle positioned just before
  for (Kind kind : {kKindValue, kKindWord, kKindByte, kKindBoolean}) {
    for (uint32_t i = table_count(table_of(x)); i > 0; --i) {
      Value e = table_entry(table_of(x), i - 1);
      if (!e.is(Tag::SlotHandle) || !handle_allocated(e)) continue;
      Value desc = handle_descriptor(e);
      Kind k = kind_of_type(field(desc, kDType));
      if (k != kind) continue;
      indirect_bytes(desc)[kDKind] = k;
      if (has_position(e) && code_kind(position_code(e)) == k) continue;
      Value pos;
      if (k == kKindBoolean && last.is(Tag::SlotHandle) && code_kind(position_code(last)) == kKindBoolean &&
          position_code(last) != 1) {
        pos = make_position(position_offset(last), uint8_t(position_code(last) >> 1));
      } else {
        uint8_t code = k == kKindValue ? 0 : k == kKindWord ? kWordCode : k == kKindByte ? kByteCode : 0x80;
        pos = make_position(offset, code);
        offset += kind_width(k);
      }
      if (offset > kMaxInstanceSize) error(Err::WrongType, field(desc, kDName));
      set_car(e, pos);
      last = e;
    }
  }
  store16(indirect_bytes(x) + kInstanceSize, uint16_t(offset));
  store32(indirect_bytes(x) + kLaidOut, 1);
}

// The place of a slot in an instance, or null when this instance has no
// room for it (it was made before the slot was laid out).
uint8_t* slot_place(Value inst, Value h, Kind& k) {
  if (!has_position(h)) return nullptr;
  uint32_t off = position_offset(h);
  k = code_kind(position_code(h));
  if (off + kind_width(k) > instance_size(inst)) return nullptr;
  return indirect_bytes(inst) + off;
}

Value slot_load(Value o, Value h) {
  Value desc = handle_descriptor(h);
  if (is_class(o)) {
    Value v = field(desc, kDClassValue);
    return v.is_end() ? kNoValue : v;
  }
  Kind k;
  const uint8_t* p = slot_place(o, h, k);
  if (!p) return field(desc, kDDefault);
  switch (k) {
    case kKindValue: return Value(load32(p));
    case kKindBoolean: return boolean((*p & position_code(h)) != 0);
    case kKindByte: return make_fixnum(int8_t(*p));
    default: return make_fixnum(int16_t(load16(p)));
  }
}

// The typed store: a word slot keeps the low 16 bits of an integer, a byte
// slot the low 8 bits (anything but a fixnum or long is error 2), a
// boolean slot one bit.
void slot_store(Value o, Value h, Value v) {
  if (is_class(o)) {
    Value name = field(handle_descriptor(h), kDName);
    h = own_handle(o, symbol_slot(name), h);
    set_field(handle_descriptor(h), kDClassValue, v);
    return;
  }
  Kind k;
  uint8_t* p = slot_place(o, h, k);
  if (!p) error(Err::WrongType, field(handle_descriptor(h), kDName));
  switch (k) {
    case kKindValue: store32(p, v.bits); return;
    case kKindBoolean:
      if (truth(v))
        *p |= position_code(h);
      else
        *p &= uint8_t(~position_code(h));
      return;
    case kKindByte: *p = uint8_t(read_integer(v)); return;
    default: store16(p, uint16_t(read_integer(v))); return;
  }
}

// A linker or reader as written: a symbol is called by name, a form is
// evaluated to the function.
Value call_option(Value option, std::initializer_list<Value> args) {
  if (!option.is_symbol()) option = eval(option);
  return call_by_name(option, args);
}

bool is_linked(Value h) { return desc_flag(handle_descriptor(h), kDLink) != 0; }
Value linker_of(Value h) { return field(handle_descriptor(h), kDLinker); }

Value make_instance_record(Value cls) {
  uint32_t size = load16(indirect_bytes(cls) + kInstanceSize);
  reserve_heap(size);
  Value inst = alloc_indirect(size, Tag::Instance, Header::Instance);
  uint8_t* p = indirect_bytes(inst);
  init_object_record(p, size, cls);
  store32(p + kRecordSize, size);
  return inst;
}

}  // namespace

// ---- Shared with the other modules ---------------------------------------------------

Value find_handle(Value cls, Value name) {
  if (!name.is_symbol()) return kNil;
  Value e = class_entry(cls, name);
  return e.is(Tag::SlotHandle) ? e : kNil;
}

Value current_handle(Value name) {
  Value o = rt().current_object;
  if (!is_object(o)) error(Err::WrongType, name);
  Value h = find_handle(class_of(o), name);
  if (h.is_nil()) error(Err::WrongType, name);
  return h;
}

Value read_slot_value(Value o, Value h) {
  Value v = slot_load(o, h);
  if (!is_linked(h)) return v;
  Value name = field(handle_descriptor(h), kDName);
  Value linker = linker_of(h);
  if (!linker.is_nil()) {
    if (v.is(Tag::LinkCache)) return cdr(v);
    Value target = call_option(linker, {v});
    Value cell = alloc_node(Tag::LinkCache, v.bits, target.bits);
    // The linker ran Lisp code: find the slot again before storing.
    Value again = find_handle(class_of(o), name);
    if (again.is(Tag::SlotHandle)) slot_store(o, again, cell);
    return target;
  }
  if (is_object(v)) return v;
  Value target = call_by_name(os().sym.find_link, {v, name});
  // A link that does not resolve yet keeps its key, to be tried again.
  if (target.is_nil()) return target;
  Value again = find_handle(class_of(o), name);
  if (again.is(Tag::SlotHandle)) slot_store(o, again, target);
  return target;
}

void assign_slot(Value o, Value h, Value v) {
  if (!is_linked(h) || linker_of(h).is_nil()) return slot_store(o, h, v);
  Value cur = slot_load(o, h);
  if (cur.is(Tag::LinkCache))
    set_cdr(cur, v);
  else
    slot_store(o, h, alloc_node(Tag::LinkCache, kNoValue.bits, v.bits));
}

Value make_instance(Value cls) {
  checked_class(cls);
  if (!laid_out(cls)) lay_out(cls);
  Value inst = make_instance_record(cls);
  // Defaults, from the highest index down. A byte or word slot whose
  // default is not an integer starts at 0.
  for (uint32_t i = table_count(table_of(cls)); i > 0; --i) {
    Value e = table_entry(table_of(cls), i - 1);
    if (!e.is(Tag::SlotHandle) || !handle_allocated(e) || !has_position(e)) continue;
    Value d = field(handle_descriptor(e), kDDefault);
    Kind k = code_kind(position_code(e));
    if ((k == kKindByte || k == kKindWord) && !is_integer(d)) continue;
    slot_store(inst, e, d);
  }
  return inst;
}

Value defslot(Value forms) {
  Value name = forms.is_pair() ? car(forms) : kNil;
  if (!name.is_symbol() || name.is_nil()) error(Err::WrongType, name);
  Value x = current_class(name);
  prepare_slot_name(name);
  const ObjectSymbols& s = os().sym;
  bool any = false;
  for (Value l = cdr(forms); l.is_pair(); l = cdr(l)) {
    Value key = car(l);
    const Option& o = option_for(key);
    if (!cdr(l).is_pair()) error(Err::WrongType, key);
    l = cdr(l);
    Value v = o.evaluated ? eval(car(l)) : car(l);
    set_option(x, name, o, v, true, kNil, kNil);
    any = true;
  }
  Value h = find_handle(x, name);
  if (!any && h.is_nil()) {
    set_option(x, name, option_for(s.k_default), kNoValue, true, kNil, kNil);
    h = find_handle(x, name);
  }
  if (handle_allocated(h)) {
    Value d = field(handle_descriptor(h), kDDefault);
    class_level_store(x, symbol_slot(name), d, true, kNil, kNil);
  }
  if (name == s.configuration) {
    Value file = symbol_value(s.Load_File);
    assign(s.config_pathname, file.is_no_value() ? kNil : file);
    if (truth(lookup(s.auto_initialize_p))) {
      if (!field(x, kNativePart).is_nil()) call_by_name(s.close, {});
      call_by_name(s.initialize, {});
    }
  }
  return name;
}

// ---- Slot primitives ---------------------------------------------------------------------

namespace {

Value prim_make_instance(Value cls) { return make_instance(cls); }

Value prim_set_slot_field(Value name, Value keyword, Value v) {
  Value x = current_class(name);
  const Option& o = option_for(keyword);
  if (o.evaluated) v = eval(v);
  prepare_slot_name(name);
  set_option(x, name, o, v, true, kNil, kNil);
  return kNoValue;
}

Value prim_slot_exists_p(Value name) {
  Value o = rt().current_object;
  return boolean(is_object(o) && find_handle(class_of(o), name).is(Tag::SlotHandle));
}

template <uint32_t Offset>
Value prim_slot_field(Value name) {
  return option_value(handle_descriptor(current_handle(name)), option_at(Offset));
}

Value prim_slot_name(Value name) { return field(handle_descriptor(current_handle(name)), kDName); }

Value slot_initial_value(Value h) {
  Value desc = handle_descriptor(h);
  Value form = field(desc, kDInitform);
  if (form.is_no_value()) return field(desc, kDDefault);
  return eval(form);
}

Value prim_slot_initial_value(Value name) { return slot_initial_value(current_handle(name)); }

// The reference a slot holds: for a slot with a linker the key of its link
// cell; otherwise the stored value with each object replaced by its name.
Value reference_of(Value o, Value h) {
  Value v = slot_load(o, h);
  if (!linker_of(h).is_nil()) return v.is(Tag::LinkCache) ? car(v) : v;
  Value name_sym = rt().sym.name;
  if (desc_flag(handle_descriptor(h), kDList) == 0) return is_object(v) ? with_object(v, name_sym) : v;
  StackMark mark;
  Value* items = rt().zones.sp;
  size_t n = 0;
  for (Value l = v; l.is_pair(); l = cdr(l), ++n) push(car(l));
  for (size_t i = 0; i < n; ++i)
    if (is_object(items[i])) items[i] = with_object(items[i], name_sym);
  Value out = kNil;
  for (size_t i = n; i > 0; --i) out = cons(items[i - 1], out);
  return out;
}

Value read_slot(Value name, bool reference) {
  Value h = current_handle(name);
  Value reader = eval(field(handle_descriptor(h), kDReader));
  if (!reader.is_nil()) return apply_vector(reader, &kEndArgs, name);
  if (reference && is_linked(h)) return reference_of(rt().current_object, h);
  Value v = lookup(name);
  if (v.is_no_value()) error(Err::Unbound, name);
  return v;
}

Value prim_read_slot(Value name) { return read_slot(name, false); }
Value prim_read_slot_ref(Value name) { return read_slot(name, true); }

Value write_slot(Value name, Value v) {
  Value h = current_handle(name);
  Value writer = eval(field(handle_descriptor(h), kDWriter));
  if (writer.is_nil()) {
    if (is_linked(h))
      slot_store(rt().current_object, h, v);
    else
      assign(name, v);
  } else {
    call_by_name(writer, {v});
  }
  h = current_handle(name);
  if (desc_flag(handle_descriptor(h), kDInvalidate)) call_by_name(os().sym.invalidate, {});
  return v;
}

Value prim_write_slot(Value name, Value v) { return write_slot(name, v); }

// The keyword twin of a name (`x` and `:x`), paired on first use.
Value keyword_twin(Value name) {
  SymbolRecord& rec = record(name);
  if (rec.twin >= 0) return symbol_at(uint32_t(rec.twin));
  Value k = make_keyword(symbol_text(name));
  if (symbol_index(k) <= 0x7FFF && symbol_index(name) <= 0x7FFF) {
    record(name).twin = int16_t(symbol_index(k));
    record(k).twin = int16_t(symbol_index(name));
  }
  return k;
}

}  // namespace

Value initialisation_value(Value o, Value h) {
  Value key = keyword_twin(field(handle_descriptor(h), kDName));
  Value configs = os().init_lists ? os().init_lists(o) : kNil;
  for (; configs.is_pair(); configs = cdr(configs)) {
    // A configuration's properties are its second element.
    Value c = car(configs);
    Value plist = c.is_pair() && cdr(c).is_pair() ? car(cdr(c)) : kNil;
    for (Value p = plist; p.is_pair() && cdr(p).is_pair(); p = cdr(cdr(p)))
      if (car(p) == key) return car(cdr(p));
  }
  return slot_initial_value(h);
}

namespace {

// Initialises the slots whose initialize? field is `which` (t or :write):
// each gets the value its keyword twin has in the first of the object's
// initialisation property lists that has it, or its initial value.
Value initialize_slots(Value which, bool write) {
  Value o = rt().current_object;
  if (!is_object(o) || field(o, kNativePart).is_nil()) error(Err::WrongType, is_object(o) ? o : kNil);
  Value cls = class_of(o);
  for (uint32_t i = table_count(table_of(cls)); i > 0; --i) {
    Value h = table_entry(table_of(cls), i - 1);
    if (!h.is(Tag::SlotHandle) || field(handle_descriptor(h), kDInitialize) != which) continue;
    Value name = field(handle_descriptor(h), kDName);
    Value v = initialisation_value(o, h);
    if (write) {
      write_slot(name, v);
    } else {
      h = current_handle(name);
      if (is_linked(h))
        slot_store(o, h, v);
      else
        assign(name, v);
    }
  }
  return kNoValue;
}

Value prim_initialize_setable_slots() { return initialize_slots(rt().sym.t, false); }
Value prim_initialize_writable_slots() { return initialize_slots(os().sym.k_write, true); }

Value prim_get_reference(Value name) { return reference_of(rt().current_object, current_handle(name)); }

Value prim_set_reference_x(Value name, Value v) {
  slot_store(rt().current_object, current_handle(name), v);
  return v;
}

Value prim_reset_link(Value name) {
  Value o = rt().current_object;
  Value ref = reference_of(o, current_handle(name));
  slot_store(o, current_handle(name), ref);
  return kNoValue;
}

Value prim_linked_p(Value name) {
  Value h = current_handle(name);
  Value v = slot_load(rt().current_object, h);
  if (!linker_of(h).is_nil()) return boolean(v.is(Tag::LinkCache));
  if (desc_flag(handle_descriptor(h), kDList)) {
    for (; v.is_pair(); v = cdr(v))
      if (!is_object(car(v))) return kNil;
    return boolean(v.is_nil());
  }
  return boolean(is_object(v));
}

}  // namespace

void register_slot_natives() {
  rt().hooks.defslot = defslot;
  static const NativeRow rows[] = {
      TV_PRIM("make-instance", prim_make_instance, "(make-instance CLASS) a new instance of CLASS (laying the class out on first use), its allocated slots at their defaults"),
      TV_PRIM2("set-slot-field", prim_set_slot_field, "(set-slot-field SLOT OPTION VALUE) sets one defslot OPTION (:default, :initform, :reader, ...) of SLOT in the current class; no value"),
      TV_PRIM2("slot-exists?", prim_slot_exists_p, "(slot-exists? NAME) t when the current object's class has a slot NAME"),
      TV_PRIM2("slot-name", prim_slot_name, "(slot-name SLOT) the name field of SLOT of the current object's class"),
      TV_PRIM2("slot-default", prim_slot_field<kDDefault>, "(slot-default SLOT) the :default of SLOT of the current object's class"),
      TV_PRIM2("slot-initform", prim_slot_field<kDInitform>, "(slot-initform SLOT) the :initform of SLOT of the current object's class, unevaluated"),
      TV_PRIM2("slot-initialize?", prim_slot_field<kDInitialize>, "(slot-initialize? SLOT) the :initialize? of SLOT of the current object's class (t, :write or nil)"),
      TV_PRIM2("slot-linker", prim_slot_field<kDLinker>, "(slot-linker SLOT) the :linker of SLOT of the current object's class"),
      TV_PRIM2("slot-type", prim_slot_field<kDType>, "(slot-type SLOT) the :type of SLOT of the current object's class"),
      TV_PRIM2("slot-reader", prim_slot_field<kDReader>, "(slot-reader SLOT) the :reader of SLOT of the current object's class"),
      TV_PRIM2("slot-writer", prim_slot_field<kDWriter>, "(slot-writer SLOT) the :writer of SLOT of the current object's class"),
      TV_PRIM2("slot-chooser", prim_slot_field<kDChooser>, "(slot-chooser SLOT) the :chooser of SLOT of the current object's class"),
      TV_PRIM2("slot-info", prim_slot_field<kDInfo>, "(slot-info SLOT) the :info of SLOT of the current object's class"),
      TV_PRIM2("slot-allocate?", prim_slot_field<kDAllocate>, "(slot-allocate? SLOT) t when SLOT of the current object's class is allocated in each instance"),
      TV_PRIM2("slot-link?", prim_slot_field<kDLink>, "(slot-link? SLOT) t when SLOT of the current object's class is a link"),
      TV_PRIM2("slot-list?", prim_slot_field<kDList>, "(slot-list? SLOT) t when SLOT of the current object's class holds a list"),
      TV_PRIM2("slot-editable?", prim_slot_field<kDEditable>, "(slot-editable? SLOT) t when SLOT of the current object's class is editable"),
      TV_PRIM2("slot-invalidate?", prim_slot_field<kDInvalidate>, "(slot-invalidate? SLOT) t when writing SLOT of the current object's class calls invalidate"),
      TV_PRIM2("slot-initial-value", prim_slot_initial_value, "(slot-initial-value SLOT) SLOT's :initform evaluated, or its :default when there is no initform"),
      TV_PRIM2("read-slot", prim_read_slot, "(read-slot SLOT) the value of SLOT in the current object, through its :reader when it has one"),
      TV_PRIM2("read-slot-ref", prim_read_slot_ref, "(read-slot-ref SLOT) as read-slot, but a linked slot without reader gives its reference, not its target"),
      TV_PRIM2("write-slot", prim_write_slot, "(write-slot SLOT VALUE) stores VALUE in SLOT of the current object, through its :writer when it has one, then invalidate when so marked; returns VALUE"),
      TV_PRIM2("initialize-setable-slots", prim_initialize_setable_slots, "(initialize-setable-slots) assigns each slot marked :initialize? t of the current (opened) object its initialisation argument or initial value; no value"),
      TV_PRIM2("initialize-writable-slots", prim_initialize_writable_slots, "(initialize-writable-slots) writes each slot marked :initialize? :write of the current (opened) object as write-slot does; no value"),
      TV_PRIM("get-reference", prim_get_reference, "(get-reference SLOT) the reference stored in SLOT of the current object: a link's key, or the value with objects replaced by their names"),
      TV_PRIM("set-reference!", prim_set_reference_x, "(set-reference! SLOT VALUE) stores VALUE in SLOT of the current object as it is, without the linker; returns VALUE"),
      TV_PRIM("reset-link", prim_reset_link, "(reset-link SLOT) stores the reference of SLOT of the current object back in it, dropping a resolved target; no value"),
      TV_PRIM("linked?", prim_linked_p, "(linked? SLOT) t when the target of SLOT of the current object is resolved (an object, or objects for a list)"),
  };
  register_natives(rows);
}

}  // namespace objects
