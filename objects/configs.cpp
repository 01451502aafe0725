// Configurations, the base classes of configured objects and their native
// records, naming, the constructor list and property search.
#include "objects/configs.hpp"

#include <new>
#include <string>

#include "core/args.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/frames.hpp"
#include "core/natives.hpp"
#include "data/printer.hpp"
#include "objects/internal.hpp"
#include "objects/objects.hpp"

namespace objects {
using namespace core;

namespace {

// Symbols this module names.
#define TALVEN_CONFIG_SYMBOLS(X)                                                                   \
  X(k_name, ":name") X(k_initargs, ":initargs") X(name, "name") X(configuration, "configuration") \
  X(standard_name, "standard-name") X(obj_page, "obj-page") X(page_parent, "page-parent")         \
  X(parent, "parent") X(owners_inited_p, "owners-inited?") X(init_owners, "init-owners")          \
  X(inherit_configuration_p, "inherit-configuration?") X(find_page_constructor, "find-page-constructor") \
  X(reverse, "reverse") X(config_creator, "config-creator") X(config_parent_creator, "config-parent-creator")

struct ConfigState : ModuleState {
#define TALVEN_X(field, text) Value field;
  TALVEN_CONFIG_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  Value persistence = kNil;  // the obj-persistence class
};

ConfigState& config_state() { return state_of<ConfigState>(kConfigsModule); }

// A symbol's value in the current object, nil when it has none.
Value value_of(Value sym) {
  Value v = lookup(sym);
  return v.is_no_value() ? kNil : v;
}
Value value_in(Value object, Value sym) {
  Value v = with_object(object, sym);
  return v.is_no_value() ? kNil : v;
}

Value nth_or_nil(Value list, int n) {
  for (; n > 0 && list.is_pair(); --n) list = cdr(list);
  return list.is_pair() ? car(list) : kNil;
}
Value nth_tail(Value list, int n) {
  for (; n > 0 && list.is_pair(); --n) list = cdr(list);
  return list.is_pair() || list.is_nil() ? list : kNil;
}

bool is_tag(Value v) { return v.is_symbol() || is_integer(v); }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

Value reversed(Value list) {
  Value out = kNil;
  for (; list.is_pair(); list = cdr(list)) out = cons(car(list), out);
  return out;
}

// The tail of a property list that begins with `key`, or nil.
Value plist_tail(Value plist, Value key) {
  for (Value p = plist; p.is_pair(); p = cdr(p)) {
    if (car(p) == key) return p;
    if (!cdr(p).is_pair()) break;
    p = cdr(p);
  }
  return kNil;
}

// The current object, which a native method runs with; error 2 when there
// is none.
Value self_object() {
  Value o = rt().current_object;
  if (!is_object(o)) error(Err::WrongType, kNil);
  return o;
}

}  // namespace

// ---- Configurations ---------------------------------------------------------------------

Value config_header(Value c) { return nth_or_nil(c, 0); }
Value config_properties(Value c) { return nth_or_nil(c, 1); }
Value config_children(Value c) { return nth_or_nil(c, 2); }

static Value header_type(Value h) { return h.is_pair() ? car(h) : kNil; }

Value header_name(Value h) {
  if (h == config_state().k_initargs) return kNil;
  if (is_tag(h)) return h;
  return nth_or_nil(h, 1);
}

// A tag header has no owner: nil rather than a look inside a non-list.
static Value header_owner(Value h) { return h.is_pair() ? nth_or_nil(h, 2) : kNil; }

// Replaces the n-th element of a configuration in place (n = 3: the pages,
// the rest of the list after the third element); error 2 with the
// configuration when it is too short.
static Value set_config_part(Value c, int n, Value v) {
  Value cell = c;
  for (int i = 0; i < (n == 3 ? 2 : n); ++i) {
    if (!cell.is_pair()) error(Err::WrongType, c);
    cell = cdr(cell);
  }
  if (!cell.is_pair()) error(Err::WrongType, c);
  if (n == 3)
    set_cdr(cell, v);
  else
    set_car(cell, v);
  return kNoValue;
}

// ---- Records -------------------------------------------------------------------------------

void StaticDataRecord::mark_values() { mark_value(name); }

void StaticDataRecord::setup_name(Value properties) {
  Value tail = plist_tail(properties, config_state().k_name);
  if (!tail.is_pair() || !cdr(tail).is_pair()) return;
  name = car(cdr(tail));
  assign(config_state().name, name);
}

void PersistentRecord::mark_values() {
  mark_value(name);
  mark_value(object);
  mark_value(constructors);
}

void PersistentRecord::setup_name(Value properties) {
  ConfigState& s = config_state();
  if (!value_of(s.name).is_nil()) return;
  Value o = self_object();
  Value n = kNil;
  Value tail = plist_tail(properties, s.k_name);
  if (tail.is_pair() && cdr(tail).is_pair()) n = car(cdr(tail));
  if (n.is_nil()) {
    // The object's own configuration names it, unless it is simply its
    // class's (a class's configuration is always its class's own).
    Value conf = value_of(s.configuration);
    if (!conf.is_nil() && is_instance(o) && conf != value_in(class_of(o), s.configuration))
      n = header_name(config_header(conf));
  }
  if (n.is_nil()) n = value_of(s.standard_name);
  name = n;
  assign(s.name, n);
}

void PersistentRecord::open() {
  name = value_of(config_state().name);
  object = self_object();
}

namespace {

// Finds the object's own configuration among the children of a
// configuration, as `find-self-config` does.
Value find_self_config(Value children) {
  ConfigState& s = config_state();
  Value c0 = value_of(s.config_creator);
  if (children == value_of(s.config_parent_creator)) return c0;
  if (!c0.is_nil())
    for (Value l = children; l.is_pair(); l = cdr(l))
      if (car(l) == c0) return c0;
  Value n = value_of(s.name);
  if (n.is_nil()) return kNil;
  for (Value l = children; l.is_pair(); l = cdr(l))
    if (config_header(car(l)) == n) return car(l);
  for (Value l = children; l.is_pair(); l = cdr(l))
    if (header_name(config_header(car(l))) == n) return car(l);
  return kNil;
}

// Dispatches a key and value into configuration q: a path key names a
// child (made when missing) and dispatches the rest of the path into it;
// any other key is pushed with its value on q's properties.
void dispatch(Value q, Value key, Value value) {
  while (key.is_pair()) {
    Value first = car(key);
    Value child = kNil;
    for (Value l = config_children(q); l.is_pair(); l = cdr(l))
      if (car(l).is_pair() && car(car(l)) == first) {
        child = car(l);
        break;
      }
    if (child.is_nil()) {
      child = cons(first, cons(kNil, cons(kNil, kNil)));
      set_config_part(q, 2, cons(child, config_children(q)));
    }
    Value rest = cdr(key);
    key = rest.is_pair() && cdr(rest).is_nil() ? car(rest) : rest;
    q = child;
    if (key.is_nil()) return;
  }
  set_config_part(q, 1, cons(key, cons(value, config_properties(q))));
}

// The constructor list under construction: pushed in step order and
// reversed at the end.
struct Builder {
  Value list = kNil;
  Value last = kNoValue;  // the configuration added last

  void push(Value c) {
    list = cons(c, list);
    last = c;
  }
  // Adds the configuration of x (the object or a class), setting up its
  // owners first when x has not.
  void add(Value x) {
    ConfigState& s = config_state();
    Value conf = value_in(x, s.configuration);
    if (conf.is_nil() || conf == last) return;
    if (value_in(x, s.owners_inited_p).is_nil()) {
      Value args[3] = {conf, x, kEndArgs};
      native_send(x, s.init_owners, args);
    }
    push(conf);
  }
};

// The last direct superclass of a class, or nil.
Value superclass_of(Value cls) {
  Value last = kNil;
  for (Value l = field(cls, kSupers); l.is_pair(); l = cdr(l)) last = car(l);
  return is_class(last) ? last : kNil;
}

}  // namespace

void PersistentRecord::setup_constructor(Value properties) {
  ConfigState& s = config_state();
  Value o = self_object();
  Builder b;
  // 1. The initialisation arguments, as a configuration of their own.
  if (properties.is_pair()) {
    Value q = cons(s.k_initargs, cons(kNil, cons(kNil, kNil)));
    for (Value p = properties; p.is_pair() && cdr(p).is_pair(); p = cdr(cdr(p))) dispatch(q, car(p), car(cdr(p)));
    b.push(q);
  }
  // 2. The object's own configurations among its parent's.
  Value parent = value_of(s.parent);
  if (!object_inherits(o, s.obj_page) && !parent.is_nil()) {
    if (!is_object(parent) || field(parent, kNativePart).is_nil()) error(Err::WrongType, parent);
    Value page_parent = value_of(s.page_parent);
    Value configs;
    if (page_parent.is_nil()) {
      configs = persistent_record_of(parent).constructors;
    } else {
      Value args[2] = {page_parent, kEndArgs};
      Value r = native_send(parent, s.find_page_constructor, args);
      if (!r.is_pair() && !r.is_nil()) error(Err::WrongType, r);
      configs = r.is_pair() ? cdr(r) : kNil;
    }
    for (; configs.is_pair(); configs = cdr(configs)) {
      Value found = find_self_config(config_children(car(configs)));
      if (!found.is_nil()) b.push(found);
    }
  }
  // 3. The instance's own configuration, unless it is its class's.
  if (is_instance(o)) {
    if (value_of(s.configuration) == value_in(class_of(o), s.configuration))
      assign(s.configuration, kNil);
    else
      b.add(o);
  }
  // 4. The class configurations, as inherit-configuration? says.
  Value cls = is_class(o) ? o : class_of(o);
  Value mode = value_of(s.inherit_configuration_p);
  if (mode.is_nil()) {
    b.add(cls);
  } else {
    Value chain = kNil;  // from the topmost ancestor below obj-persistence down
    for (Value c = cls; is_class(c) && c != s.persistence; c = superclass_of(c)) chain = cons(c, chain);
    if (mode != s.reverse) chain = reversed(chain);
    for (; chain.is_pair(); chain = cdr(chain)) b.add(car(chain));
  }
  // 5. In step order.
  constructors = reversed(b.list);
}

Value box_record(std::unique_ptr<StaticDataRecord> record) { return box_owned(std::move(record)); }

StaticDataRecord& record_of(Value object) {
  if (!is_object(object)) error(Err::WrongType, object);
  auto* r = dynamic_cast<StaticDataRecord*>(owned_object(field(object, kNativePart)));
  if (r == nullptr) error(Err::WrongType, object);
  return *r;
}

PersistentRecord& persistent_record_of(Value object) {
  auto* r = dynamic_cast<PersistentRecord*>(&record_of(object));
  if (r == nullptr) error(Err::WrongType, object);
  return *r;
}

namespace {

// ---- Native constructors ------------------------------------------------------------------

template <typename R>
Value construct(Value*) {
  std::unique_ptr<R> r;
  try {
    r = std::make_unique<R>();
  } catch (const std::bad_alloc&) {
    error(Err::NativeMemory, kNil);
  }
  return box_record(std::move(r));
}

// Opens an object: its class's native constructor makes the record, which
// becomes the native part. A class without a constructor, or one that
// makes no record, leaves the object unopened.
void link_object(Value o) {
  if (!field(o, kNativePart).is_nil()) return;
  Value cls = is_class(o) ? o : class_of(o);
  uint32_t index = load32(indirect_bytes(cls) + kConstructor);
  if (index == 0 || index > rt().natives.size()) return;
  Value args[1] = {kEndArgs};
  Value box = rt().natives[index - 1](args);
  auto* r = dynamic_cast<PersistentRecord*>(owned_object(box));
  if (owned_object(box) == nullptr) return;
  set_field(o, kNativePart, box);
  if (r != nullptr) r->object = o;
}

}  // namespace

// A name's keyword twin in an object's constructor list: its value, or
// no-value when no configuration gives it.
Value constructor_property(Value o, Value s) {
  Value key = make_keyword(symbol_text(s));
  auto* r = dynamic_cast<PersistentRecord*>(owned_object(field(o, kNativePart)));
  for (Value l = r != nullptr ? r->constructors : kNil; l.is_pair(); l = cdr(l)) {
    Value tail = plist_tail(config_properties(car(l)), key);
    if (tail.is_pair() && cdr(tail).is_pair()) return car(cdr(tail));
  }
  return kNoValue;
}

Value property_of(Value o, Value s) {
  if (!is_object(o) || !s.is_symbol()) return kNil;
  Value v = constructor_property(o, s);
  if (!v.is_no_value()) return v;
  Value h = find_handle(is_class(o) ? o : class_of(o), s);
  if (h.is_nil()) return kNil;
  v = read_slot_value(o, h);
  return v.is_no_value() ? kNil : v;
}

namespace {

// ---- Primitives --------------------------------------------------------------------------

Value prim_tag_p(Value x) { return boolean(is_tag(x)); }
Value prim_header_type(Value h) { return header_type(h); }
Value prim_header_name(Value h) { return header_name(h); }
Value prim_header_owner(Value h) { return header_owner(h); }
Value prim_config_header(Value c) { return config_header(c); }
Value prim_config_properties(Value c) { return config_properties(c); }
Value prim_config_children(Value c) { return config_children(c); }
Value prim_config_pages(Value c) { return nth_tail(c, 3); }
Value prim_config_type(Value c) { return header_type(config_header(c)); }
Value prim_config_name(Value c) { return header_name(config_header(c)); }
Value prim_config_owner(Value c) { return header_owner(config_header(c)); }
Value prim_set_config_header(Value c, Value v) { return set_config_part(c, 0, v); }
Value prim_set_config_properties(Value c, Value v) { return set_config_part(c, 1, v); }
Value prim_set_config_children(Value c, Value v) { return set_config_part(c, 2, v); }
Value prim_set_config_pages(Value c, Value v) { return set_config_part(c, 3, v); }

// ---- Native methods ------------------------------------------------------------------------

Value m_get_name() { return lookup(config_state().name); }

Value m_set_name(Value v) {
  Value o = self_object();
  assign(config_state().name, v);
  if (!field(o, kNativePart).is_nil()) record_of(o).name = v;
  return v;
}

Value m_setup_name(Value plist) {
  record_of(self_object()).setup_name(plist);
  return kNoValue;
}

template <void (PersistentRecord::*Op)()>
Value m_op() {
  (persistent_record_of(self_object()).*Op)();
  return kNoValue;
}

Value m_enabled_p() { return boolean(persistent_record_of(self_object()).enabled()); }
Value m_get_title() { return persistent_record_of(self_object()).get_title(); }

// The title text: the string of a string list for (id . index), when the
// list has a non-empty one there; else the argument as text.
Value m_set_title(Value x) {
  PersistentRecord& r = persistent_record_of(self_object());
  std::string text;
  bool found = false;
  if (x.is_pair() && is_integer(car(x)) && is_integer(cdr(x)) && rt().string_resource != nullptr) {
    found = rt().string_resource(read_integer(car(x)), read_integer(cdr(x)), text) && !text.empty();
  }
  if (!found) text = data::value_text(x);
  if (text.size() > 65534) text.resize(65534);
  r.set_title(make_string(text.data(), uint32_t(text.size())), 1);
  return kNoValue;
}

Value m_get_constructor() { return persistent_record_of(self_object()).constructors; }

Value m_set_constructor(Value list) {
  persistent_record_of(self_object()).constructors = list;
  return list;
}

Value m_link_object() {
  link_object(self_object());
  return kNoValue;
}

// Frees the record and kills its box: a later use of the object is error 2,
// and the collector's sweep finds nothing left to release.
Value m_close_link() {
  Value o = self_object();
  record_of(o);
  Value box = field(o, kNativePart);
  set_field(o, kNativePart, kNil);
  release_owned(box);
  return kNoValue;
}

Value m_search_property(Value s) {
  Value o = self_object();
  persistent_record_of(o);
  if (!s.is_symbol()) error(Err::WrongType, s);
  Value h = find_handle(is_class(o) ? o : class_of(o), s);
  if (!h.is_nil()) return initialisation_value(o, h);
  return constructor_property(o, s);
}

Value m_search_constructor(Value key) {
  for (Value l = persistent_record_of(self_object()).constructors; l.is_pair(); l = cdr(l)) {
    Value tail = plist_tail(config_properties(car(l)), key);
    if (tail.is_pair()) return tail;
  }
  return kNil;
}

Value m_find_self_config(Value children) {
  persistent_record_of(self_object());
  return find_self_config(children);
}

Value m_setup_constructor(Value plist) {
  persistent_record_of(self_object()).setup_constructor(plist);
  return kNoValue;
}

// The constructor list of an opened object, for the slot initialisers.
Value constructor_list(Value o) {
  if (!is_object(o)) return kNil;
  auto* r = dynamic_cast<PersistentRecord*>(owned_object(field(o, kNativePart)));
  return r != nullptr ? r->constructors : kNil;
}

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<ConfigState>(); }

void install(Runtime&) {
  ConfigState& s = config_state();
#define TALVEN_X(field, text) s.field = intern_static(text);
  TALVEN_CONFIG_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  static const NativeRow rows[] = {
      TV_PRIM("tag?", prim_tag_p, "(tag? X) t when X is a symbol or an integer (a configuration tag)"),
      TV_PRIM("header-type", prim_header_type, "(header-type HEADER) the type of a configuration header: the first element of a list header, else nil"),
      TV_PRIM("header-name", prim_header_name, "(header-name HEADER) the name of a configuration header: a tag itself, nil for :initargs, else the second element"),
      TV_PRIM("header-owner", prim_header_owner, "(header-owner HEADER) the owner of a configuration header: the third element of a list header, else nil"),
      TV_PRIM("config-header", prim_config_header, "(config-header CONFIG) the header of a configuration (its first element); nil for nil"),
      TV_PRIM("config-properties", prim_config_properties, "(config-properties CONFIG) the property list of a configuration (its second element); nil for nil"),
      TV_PRIM("config-children", prim_config_children, "(config-children CONFIG) the child configurations (the third element); nil for nil"),
      TV_PRIM("config-pages", prim_config_pages, "(config-pages CONFIG) the page configurations (the list after the third element); nil for nil"),
      TV_PRIM("config-type", prim_config_type, "(config-type CONFIG) the type of the configuration's header"),
      TV_PRIM("config-name", prim_config_name, "(config-name CONFIG) the name of the configuration's header"),
      TV_PRIM("config-owner", prim_config_owner, "(config-owner CONFIG) the owner of the configuration's header"),
      TV_PRIM("set-config-header", prim_set_config_header, "(set-config-header CONFIG HEADER) replaces the header of CONFIG in place; no value"),
      TV_PRIM("set-config-properties", prim_set_config_properties, "(set-config-properties CONFIG PLIST) replaces the property list of CONFIG in place; no value"),
      TV_PRIM("set-config-children", prim_set_config_children, "(set-config-children CONFIG LIST) replaces the child configurations of CONFIG in place; no value"),
      TV_PRIM("set-config-pages", prim_set_config_pages, "(set-config-pages CONFIG LIST) replaces the page configurations of CONFIG in place; no value"),
  };
  register_natives(rows);

  Value root = os().root;
  Value data = define_native_class("obj-static-data", construct<StaticDataRecord>, root);
  Value persistence = define_native_class("obj-persistence", construct<PersistentRecord>, data);
  define_native_class("obj-interface", construct<PersistentRecord>, persistence);
  s.persistence = persistence;

  register_native_method(data, "get-name", &native_entry<m_get_name>, 0, "(get-name) the value of name in the object");
  register_native_method(data, "set-name", &native_entry<m_set_name>, 1, "(set-name NAME) assigns name in the object, and stores it in its native record when opened; returns NAME");
  register_native_method(data, "setup-name", &native_entry<m_setup_name>, 1, "(setup-name PLIST) names the object, unless named already: :name of PLIST, else its own configuration's name, else standard-name; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "open", &native_entry<m_op<&PersistentRecord::open>>, 0, "(open) records the object and its name in its native record; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "show", &native_entry<m_op<&PersistentRecord::show>>, 0, "(show) shows the object (a window with its native window); nothing for a plain persistent object; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "hide", &native_entry<m_op<&PersistentRecord::hide>>, 0, "(hide) hides the object (a window is deactivated first); nothing for a plain persistent object; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "enable", &native_entry<m_op<&PersistentRecord::enable>>, 0, "(enable) enables the object (a window with its native window); nothing for a plain persistent object; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "disable", &native_entry<m_op<&PersistentRecord::disable>>, 0, "(disable) disables the object (a window with its native window); nothing for a plain persistent object; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "hilite", &native_entry<m_op<&PersistentRecord::hilite>>, 0, "(hilite) highlights the object, for the classes that can; nothing for a plain persistent object or window; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "dehilite", &native_entry<m_op<&PersistentRecord::dehilite>>, 0, "(dehilite) ends the object's highlight, for the classes that can; nothing for a plain persistent object or window; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "enabled?", &native_entry<m_enabled_p>, 0, "(enabled?) t when the object is enabled (a plain persistent object always is), otherwise nil; error 2 with the object when it is not opened");
  register_native_method(persistence, "get-title", &native_entry<m_get_title>, 0, "(get-title) the object's title (a window's as last set), nil for a plain persistent object; error 2 with the object when it is not opened");
  register_native_method(persistence, "set-title", &native_entry<m_set_title>, 1, "(set-title TITLE) the title from a (STR#-ID . INDEX) pair's non-empty string, else TITLE as text; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "get-constructor", &native_entry<m_get_constructor>, 0, "(get-constructor) the object's constructor list of configurations; error 2 with the object when it is not opened");
  register_native_method(persistence, "set-constructor", &native_entry<m_set_constructor>, 1, "(set-constructor LIST) sets the object's constructor list; returns LIST; error 2 with the object when it is not opened");
  register_native_method(persistence, "link-object", &native_entry<m_link_object>, 0, "(link-object) opens the object's native part, made by its class's native constructor, unless it is open; no value");
  register_native_method(persistence, "close-link", &native_entry<m_close_link>, 0, "(close-link) frees the object's native record; its native part becomes nil; no value; error 2 with the object when it is not opened");
  register_native_method(persistence, "search-property", &native_entry<m_search_property>, 1, "(search-property SLOT) the initialisation value of SLOT: its keyword in the first configuration of the constructor list that has it, else the slot's initial value; error 2 when SLOT is no symbol or the object is not opened");
  register_native_method(persistence, "search-constructor", &native_entry<m_search_constructor>, 1, "(search-constructor KEY) the property list tail beginning with KEY in the first configuration of the constructor list that has it, otherwise nil; error 2 with the object when it is not opened");
  register_native_method(persistence, "find-self-config", &native_entry<m_find_self_config>, 1, "(find-self-config CHILDREN) the object's own configuration among CHILDREN: its config-creator, else the first child whose header or header name is the object's name; nil when none; error 2 with the object when it is not opened");
  register_native_method(persistence, "setup-constructor", &native_entry<m_setup_constructor>, 1, "(setup-constructor PLIST) builds the object's constructor list: PLIST's configuration, the parent's, its own and its classes'; no value; error 2 with the object when it is not opened");

  os().init_lists = constructor_list;
}

void mark_roots(Runtime&) { mark_value(config_state().persistence); }

}  // namespace

const Module kConfigsModule{"configurations", make_state, install, mark_roots, nullptr};

}  // namespace objects
