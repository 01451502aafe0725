// Menus: the Lisp class obj-menu, the tree of menu objects (the root menu,
// the menu bar, its menus, their items and submenus), the native menus
// built from it, and the dispatch of a chosen command to its item.
//
// As with windows, each opened instance's native part names a record by a
// generation-checked id, and records are looked up again after any Lisp
// call. Every child of a menu that has a native menu is one entry of it,
// in creation order, so an entry's position is the child's index.
#include "shell/menus.hpp"

#include <algorithm>
#include <string>

#include "core/args.hpp"
#include "core/collector.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/native_table.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/printer.hpp"
#include "media/frame.hpp"
#include "media/geometry.hpp"
#include "objects/objects.hpp"
#include "objects/records.hpp"
#include "shell/windows.hpp"

namespace shell {
using namespace core;
using platform::Handle;
using platform::WindowSystem;

namespace {

struct MenuRecord {
  Value instance = kNil, title = kNil, accelerator = kNil, before_menu = kNil;
  uint32_t parent = 0, first_child = 0, next_sibling = 0;
  media::Rgb16 color{0, 0, 0};
  Value color_slot = kNil;
  bool in_bar = false, font = false, item = false, popup = false, separator = false, apple = false;
  bool checked = false;
  uint16_t selection = 0;
  Handle native = 0;     // a menu's native menu
  uint32_t command = 0;  // an item's command id
};

class MenuObject : public objects::PersistentRecord {
 public:
  uint32_t id = 0;
  ~MenuObject() override;
  void enable() override;
  void disable() override;
  bool enabled() override;
  Value get_title() override;
  void set_title(Value text, int flag) override;
};

#define TALVEN_MENU_SYMBOLS(X)                                                                               \
  X(parent, "parent") X(title, "title") X(accelerator, "accelerator") X(before_menu, "before-menu")            \
  X(icon, "icon") X(checked_p, "checked?") X(item_p, "item?") X(popup_p, "popup?") X(separator_p, "separator?") \
  X(apple_p, "apple?") X(font_p, "font?") X(color, "color") X(color_slot, "color-slot") X(k_menu, ":menu")     \
  X(select, "select") X(update, "update") X(set_text_font, "set-text-font") X(name, "name")

struct MenusState : ModuleState {
#define TALVEN_X(field, text) Value field = kNil;
  TALVEN_MENU_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  Value menu_class = kNil;
  NativeTable<MenuRecord> menus;
  uint32_t root = 0, bar = 0;
  uint32_t next_command = 10000;  // never reused
};

MenusState& ms() { return state_of<MenusState>(kMenusModule); }

MenuRecord* menu(uint32_t id) { return id == 0 ? nullptr : ms().menus.find(id); }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

uint32_t menu_id_of(Value instance) {
  if (!objects::is_object(instance)) return 0;
  auto* m = dynamic_cast<MenuObject*>(owned_object(objects::field(instance, objects::kNativePart)));
  return m && menu(m->id) ? m->id : 0;
}

uint32_t self_menu() {
  Value o = rt().current_object;
  uint32_t id = menu_id_of(o);
  if (id == 0) error(Err::WrongType, objects::is_object(o) ? o : kNil);
  return id;
}

std::vector<uint32_t> menu_children(uint32_t id) {
  std::vector<uint32_t> out;
  MenuRecord* m = menu(id);
  for (uint32_t c = m ? m->first_child : 0; c != 0 && out.size() < 100000; c = menu(c) ? menu(c)->next_sibling : 0)
    out.push_back(c);
  return out;
}

// The entry of a child in its parent's native menu: its index.
std::optional<size_t> position_of(uint32_t id) {
  MenuRecord* m = menu(id);
  if (!m) return std::nullopt;
  MenuRecord* p = menu(m->parent);
  if (!p || !p->native) return std::nullopt;
  std::vector<uint32_t> kids = menu_children(m->parent);
  auto at = std::find(kids.begin(), kids.end(), id);
  if (at == kids.end()) return std::nullopt;
  return size_t(at - kids.begin());
}

std::string text_of(Value v) {
  if (v.is_nil()) return std::string();
  return data::value_text(v);
}

// The key of a (:menu "K") accelerator, optionally wrapped in one more list.
std::optional<std::string> menu_key(Value accel) {
  MenusState& s = ms();
  if (accel.is_pair() && car(accel).is_pair() && cdr(accel).is_nil()) accel = car(accel);
  if (!accel.is_pair() || car(accel) != s.k_menu || !cdr(accel).is_pair()) return std::nullopt;
  Value key = car(cdr(accel));
  if (!key.is(Tag::String)) return std::nullopt;
  return data::value_text(key);
}

std::string label_of(const MenuRecord& m) {
  std::string label = text_of(m.title);
  if (auto key = menu_key(m.accelerator)) {
    char buffer[600];
    std::snprintf(buffer, sizeof buffer, "%s%s", label.substr(0, 256).c_str(),
                  ("\tCtrl+" + key->substr(0, 64)).c_str());
    label = buffer;
  }
  // A '&' in a title is shown as it is, not taken as the mark of a key.
  std::string out;
  for (char c : label) {
    if (c == '&') out += '&';
    out += c;
  }
  return out;
}

WindowSystem::MenuItem native_item(const MenuRecord& m) {
  WindowSystem::MenuItem item;
  if (m.separator) {
    item.flags = WindowSystem::kMenuSeparator;
    return item;
  }
  item.text = label_of(m);
  item.id = m.command;
  item.submenu = m.item ? 0 : m.native;
  if (m.checked) item.flags |= WindowSystem::kMenuChecked;
  return item;
}

void redraw_bar() {
  WindowSystem* ws = media::window_system();
  if (ws) ws->draw_menu_bar(ws->desktop());
}

// ---- Opening ---------------------------------------------------------------------------

Value open_menu(Value*) {
  MenusState& s = ms();
  WindowSystem* ws = media::window_system();
  Value o = rt().current_object;
  if (!objects::is_object(o)) error(Err::WrongType, kNil);
  Value parent_value = objects::property_of(o, s.parent);
  uint32_t parent = 0;
  if (!parent_value.is_nil()) {
    parent = menu_id_of(parent_value);
    if (parent == 0) error(Err::WrongType, parent_value);
  }
  if (!menu(s.root)) s.root = 0, s.bar = 0;
  if (!menu(s.bar)) s.bar = 0;

  MenuRecord m;
  m.instance = o;
  m.parent = parent;
  m.title = objects::property_of(o, s.title);
  m.accelerator = objects::property_of(o, s.accelerator);
  m.before_menu = objects::property_of(o, s.before_menu);
  m.checked = objects::property_of(o, s.checked_p).truthy();
  m.font = objects::property_of(o, s.font_p).truthy();
  m.item = objects::property_of(o, s.item_p).truthy() && !m.font;
  m.popup = objects::property_of(o, s.popup_p).truthy();
  m.separator = objects::property_of(o, s.separator_p).truthy();
  m.apple = objects::property_of(o, s.apple_p).truthy();
  m.color_slot = objects::property_of(o, s.color_slot);
  Value c = objects::property_of(o, s.color);
  if (c.is_pair()) {
    int32_t k[3] = {0, 0, 0};
    Value at = c;
    for (int32_t& x : k) {
      if (!at.is_pair() || !is_integer(car(at))) break;
      x = std::clamp(read_integer(car(at)), 0, 65535);
      at = cdr(at);
    }
    m.color = {uint16_t(k[0]), uint16_t(k[1]), uint16_t(k[2])};
  }
  if (m.separator) m.title = make_string("-");
  bool becomes_bar = parent != 0 && parent == s.root && menu(s.root)->first_child == 0;
  if (parent == 0) {
    m.title = kNil;
  } else if (becomes_bar) {
    if (ws) {
      m.native = ws->create_menu();
      if (ws->menu_bar(ws->desktop()) != 0) {
        Handle old = ws->menu_bar(ws->desktop());
        ws->set_menu_bar(ws->desktop(), m.native);
        ws->destroy_menu(old);
        m.in_bar = true;
      }
    }
  } else {
    if (!m.item) {
      if (ws) m.native = ws->create_menu();
    } else {
      m.command = s.next_command++;
    }
  }
  uint32_t id = s.menus.add(std::move(m));
  if (id == 0) error(Err::NativeMemory, kNil);
  if (parent == 0) {
    s.root = id;
  } else {
    // The last child of its parent.
    std::vector<uint32_t> kids = menu_children(parent);
    if (kids.empty())
      menu(parent)->first_child = id;
    else
      menu(kids.back())->next_sibling = id;
    if (becomes_bar) s.bar = id;
  }
  // Its entry in the parent's native menu.
  MenuRecord* p = menu(parent);
  if (ws && p && p->native && !becomes_bar && parent != s.root) {
    MenuRecord& r = *menu(id);
    if (parent == s.bar) r.in_bar = true;
    ws->append_menu(p->native, native_item(r));
    if (parent == s.bar) redraw_bar();
  }
  return make_fixnum(int32_t(id));
}

Value construct_menu(Value* args) {
  uint32_t id = uint32_t(open_menu(args).fixnum());
  auto object = std::make_unique<MenuObject>();
  object->id = id;
  object->object = rt().current_object;
  return objects::box_record(std::move(object));
}

// Takes a menu and its children out of the tree and the native menus.
void close_menu(uint32_t id) {
  MenusState& s = ms();
  MenuRecord* m = menu(id);
  if (!m) return;
  for (uint32_t c : menu_children(id)) close_menu(c);
  m = menu(id);
  WindowSystem* ws = media::window_system();
  if (ws) {
    if (auto at = position_of(id)) ws->remove_menu_item(menu(m->parent)->native, *at);
    if (m->native && ws->menu_alive(m->native)) {
      if (ws->menu_bar(ws->desktop()) == m->native) ws->set_menu_bar(ws->desktop(), 0);
      ws->destroy_menu(m->native);
    }
    if (m->parent == s.bar) redraw_bar();
  }
  if (MenuRecord* p = menu(m->parent)) {
    if (p->first_child == id) {
      p->first_child = m->next_sibling;
    } else {
      for (uint32_t c : menu_children(m->parent))
        if (menu(c)->next_sibling == id) menu(c)->next_sibling = m->next_sibling;
    }
  }
  if (s.root == id) s.root = 0;
  if (s.bar == id) s.bar = 0;
  Value instance = m->instance;
  s.menus.remove(id);
  if (objects::is_object(instance)) {
    Value box = objects::field(instance, objects::kNativePart);
    if (auto* object = dynamic_cast<MenuObject*>(owned_object(box))) {
      object->id = 0;
      objects::set_field(instance, objects::kNativePart, kNil);
      release_owned(box);
    }
  }
}

// Rewrites a child's entry in its parent's native menu.
void refresh_entry(uint32_t id) {
  WindowSystem* ws = media::window_system();
  MenuRecord* m = menu(id);
  if (!ws || !m) return;
  auto at = position_of(id);
  if (!at) return;
  Handle parent = menu(m->parent)->native;
  auto old = ws->menu_item(parent, *at);
  WindowSystem::MenuItem item = native_item(*m);
  if (old) item.flags |= old->flags & WindowSystem::kMenuDisabled;
  ws->set_menu_item(parent, *at, item);
  if (m->parent == ms().bar) redraw_bar();
}

// ---- Methods --------------------------------------------------------------------------

Value m_close() {
  close_menu(self_menu());
  return kNoValue;
}
Value m_draw() {
  if (self_menu() == ms().bar) redraw_bar();
  return kNoValue;
}
Value m_get_icon() {
  self_menu();
  return make_fixnum(0);
}
Value m_nothing1(Value) {
  self_menu();
  return kNoValue;
}
Value m_nothing0() {
  self_menu();
  return kNoValue;
}
Value m_get_checked_p() { return boolean(menu(self_menu())->checked); }
void set_check(bool on) {
  uint32_t id = self_menu();
  menu(id)->checked = on;
  WindowSystem* ws = media::window_system();
  if (auto at = position_of(id); ws && at) ws->check_menu_item(menu(menu(id)->parent)->native, *at, on);
}
Value m_check() {
  set_check(true);
  return kNoValue;
}
Value m_uncheck() {
  set_check(false);
  return kNoValue;
}
Value m_get_visible_p() {
  self_menu();
  return rt().sym.t;
}
Value m_children(Value all) {
  uint32_t id = self_menu();
  std::vector<uint32_t> kids = menu_children(id);
  Value out = kNil;
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
    MenuRecord* c = menu(*it);
    if (all.is_nil() && !c->item && !c->in_bar) continue;
    out = cons(c->instance, out);
  }
  return out;
}
Value m_get_id() {
  uint32_t id = self_menu();
  MenuRecord* m = menu(id);
  if (!m->item) return make_fixnum(0);
  int32_t n = 0;
  for (uint32_t c : menu_children(m->parent)) {
    if (c == id) return make_fixnum(n);
    MenuRecord* r = menu(c);
    if (m->parent != ms().bar || r->item || r->in_bar) ++n;
  }
  return make_fixnum(0);
}

// The font names a font menu lists.
const std::vector<std::string>& font_names() {
  static const std::vector<std::string> names = {"Courier", "Geneva", "Helvetica", "Monaco", "Times"};
  return names;
}

Value m_add_font_items() {
  uint32_t id = self_menu();
  WindowSystem* ws = media::window_system();
  MenuRecord* m = menu(id);
  if (!ws || !m->native) return kNoValue;
  for (const std::string& name : font_names()) {
    WindowSystem::MenuItem item;
    for (char c : name) {
      if (c == '&') item.text += '&';
      item.text += c;
    }
    item.id = ms().next_command++;
    ws->append_menu(m->native, item);
  }
  return kNoValue;
}

template <Value MenuRecord::*F>
Value get_value() {
  return menu(self_menu())->*F;
}
template <Value MenuRecord::*F>
Value set_value(Value v) {
  uint32_t id = self_menu();
  menu(id)->*F = v;
  if constexpr (F == &MenuRecord::accelerator) refresh_entry(id);
  return kNoValue;
}
template <bool MenuRecord::*F>
Value get_mark() {
  return boolean(menu(self_menu())->*F);
}
template <bool MenuRecord::*F>
Value set_mark(Value v) {
  uint32_t id = self_menu();
  menu(id)->*F = v.truthy();
  return kNoValue;
}

Value m_update_menu_font(Value name) {
  uint32_t id = self_menu();
  std::string wanted = text_of(name);
  WindowSystem* ws = media::window_system();
  MenuRecord* m = menu(id);
  if (!ws || !m->native) return kNoValue;
  for (size_t i = 0; i < ws->menu_item_count(m->native); ++i) {
    auto item = ws->menu_item(m->native, i);
    std::string text;
    for (size_t k = 0; k < item->text.size(); ++k) {
      if (item->text[k] == '&' && k + 1 < item->text.size()) ++k;
      text += item->text[k];
    }
    ws->check_menu_item(m->native, i, text == wanted);
  }
  return kNoValue;
}

Value m_get_size() {
  self_menu();
  error(Err::NotAvailable, kNil);
}
Value m_get_selection() { return make_fixnum(menu(self_menu())->selection); }
Value m_set_selection(Value v) {
  menu(self_menu())->selection = uint16_t(arg_int(v));
  return kNoValue;
}

Value menu_name(uint32_t id) {
  Value instance = menu(id)->instance;
  auto* r = dynamic_cast<objects::StaticDataRecord*>(owned_object(objects::field(instance, objects::kNativePart)));
  if (r && !r->name.is_nil()) return r->name;
  Value v = objects::lookup_in(instance, ms().name);
  return v.is_no_value() ? kNil : v;
}
uint32_t child_named(uint32_t id, Value name) {
  for (uint32_t c : menu_children(id)) {
    Value n = menu_name(c);
    if (n == name || (is_integer(n) && is_integer(name) && read_integer(n) == read_integer(name))) return c;
  }
  return 0;
}
Value m_named(Value path) {
  uint32_t id = self_menu();
  if (path.is_nil()) return menu(id)->instance;
  if (!path.is_pair()) id = child_named(id, path);
  else
    for (Value p = path; p.is_pair() && id != 0; p = cdr(p)) id = child_named(id, car(p));
  return id ? menu(id)->instance : kNil;
}

Value m_get_color() { return colour_value(menu(self_menu())->color); }
Value m_set_color(Value v) {
  uint32_t id = self_menu();
  menu(id)->color = colour_arg(v);
  return kNoValue;
}

Value prim_hilite_menu(Value) { return kNoValue; }
Value prim_get_menubar_height() { return make_fixnum(0); }

const NativeRow kMenuNatives[] = {
    TV_PRIM("hilite-menu", prim_hilite_menu, "(hilite-menu X) no effect"),
    TV_PRIM("get-menubar-height", prim_get_menubar_height, "(get-menubar-height) 0"),
};

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<MenusState>(); }

void install(Runtime&) {
  MenusState& s = ms();
#define TALVEN_X(field, text) s.field = intern_static(text);
  TALVEN_MENU_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  register_natives(kMenuNatives);
  Value interface = symbol_value(intern_static("obj-interface"));
  Value c = objects::define_native_class("obj-menu", construct_menu, interface);
  s.menu_class = c;
  auto reg = [c](const char* name, NativeFn fn, uint32_t n, const char* doc) {
    objects::register_native_method(c, name, fn, n, doc);
  };
  reg("close", &native_entry<m_close>, 0, "(close) closes the menu, its native menu and its children; no value");
  reg("draw", &native_entry<m_draw>, 0, "(draw) draws the menu bar again when self is the menu bar; no value");
  reg("get-icon", &native_entry<m_get_icon>, 0, "(get-icon) 0: menus show no icon");
  reg("set-icon", &native_entry<m_nothing1>, 1, "(set-icon ICON) does nothing; no value");
  reg("get-checked?", &native_entry<m_get_checked_p>, 0, "(get-checked?) t when the item is checked, otherwise nil");
  reg("check", &native_entry<m_check>, 0, "(check) checks the item; no value");
  reg("uncheck", &native_entry<m_uncheck>, 0, "(uncheck) unchecks the item; no value");
  reg("capture-mouse", &native_entry<m_nothing0>, 0, "(capture-mouse) does nothing for a menu; no value");
  reg("release-mouse", &native_entry<m_nothing0>, 0, "(release-mouse) does nothing for a menu; no value");
  reg("get-visible?", &native_entry<m_get_visible_p>, 0, "(get-visible?) t");
  reg("children", &native_entry<m_children>, 1, "(children ALL?) the child menus and items in creation order; with ALL? nil only the items and the menus of the menu bar");
  reg("get-id", &native_entry<m_get_id>, 0, "(get-id) an item's position among its siblings, from 0; 0 for a menu");
  reg("add-apple-items", &native_entry<m_nothing0>, 0, "(add-apple-items) does nothing; no value");
  reg("add-font-items", &native_entry<m_add_font_items>, 0, "(add-font-items) appends an item for each installed font name to the menu; no value");
  reg("get-accelerator", &native_entry<get_value<&MenuRecord::accelerator>>, 0, "(get-accelerator) the item's keyboard shortcut, shown in its label");
  reg("set-accelerator", &native_entry<set_value<&MenuRecord::accelerator>>, 1, "(set-accelerator KEY) sets the item's keyboard shortcut and its label; no value");
  reg("get-before-menu", &native_entry<get_value<&MenuRecord::before_menu>>, 0, "(get-before-menu) the before-menu value of the menu");
  reg("set-before-menu", &native_entry<set_value<&MenuRecord::before_menu>>, 1, "(set-before-menu VALUE) sets the before-menu value; no value");
  reg("get-item?", &native_entry<get_mark<&MenuRecord::item>>, 0, "(get-item?) t for an item, nil for a menu");
  reg("set-item?", &native_entry<set_mark<&MenuRecord::item>>, 1, "(set-item? FLAG) sets the item mark; no value");
  reg("get-popup?", &native_entry<get_mark<&MenuRecord::popup>>, 0, "(get-popup?) t for a pop-up menu, otherwise nil");
  reg("set-popup?", &native_entry<set_mark<&MenuRecord::popup>>, 1, "(set-popup? FLAG) sets the pop-up mark; no value");
  reg("get-separator?", &native_entry<get_mark<&MenuRecord::separator>>, 0, "(get-separator?) t for a separator, otherwise nil");
  reg("set-separator?", &native_entry<set_mark<&MenuRecord::separator>>, 1, "(set-separator? FLAG) sets the separator mark; no value");
  reg("get-apple?", &native_entry<get_mark<&MenuRecord::apple>>, 0, "(get-apple?) the apple mark, t or nil");
  reg("set-apple?", &native_entry<set_mark<&MenuRecord::apple>>, 1, "(set-apple? FLAG) sets the apple mark; no value");
  reg("get-font?", &native_entry<get_mark<&MenuRecord::font>>, 0, "(get-font?) t for a font menu, otherwise nil");
  reg("set-font?", &native_entry<set_mark<&MenuRecord::font>>, 1, "(set-font? FLAG) sets the font-menu mark; no value");
  reg("update-menu-font", &native_entry<m_update_menu_font>, 1, "(update-menu-font NAME) checks the item labelled NAME and unchecks the others; no value");
  reg("get-size", &native_entry<m_get_size>, 0, "(get-size) not available for a menu: error 47 with nil");
  reg("get-selection", &native_entry<m_get_selection>, 0, "(get-selection) the menu's selection, a fixnum");
  reg("set-selection", &native_entry<m_set_selection>, 1, "(set-selection N) sets the menu's selection (16 bits); no value");
  reg("named", &native_entry<m_named>, 1, "(named PATH) self for nil; the child named by a symbol or integer; with a list, the descendant reached by naming one child at a time; nil when none matches");
  reg("get-color", &native_entry<m_get_color>, 0, "(get-color) the menu's colour as (RED GREEN BLUE), each 0 to 65535");
  reg("set-color", &native_entry<m_set_color>, 1, "(set-color COLOUR) sets the menu's colour; no value");
}

void mark_roots(Runtime&) {
  MenusState& s = ms();
  mark_value(s.menu_class);
  s.menus.for_each([](uint32_t, MenuRecord& m) {
    mark_value(m.instance);
    mark_value(m.title);
    mark_value(m.accelerator);
    mark_value(m.before_menu);
    mark_value(m.color_slot);
  });
}

}  // namespace

const Module kMenusModule{"menus", make_state, install, mark_roots, nullptr};

// ---- The native part ----------------------------------------------------------------------

MenuObject::~MenuObject() {
  if (id == 0 || g_runtime == nullptr || !module_installed(kMenusModule)) return;
  MenuRecord* m = menu(id);
  if (!m) return;
  // Released without a close: the native menu goes, the children stay
  // (their parent is gone) until they are closed themselves.
  for (uint32_t c : menu_children(id))
    if (MenuRecord* r = menu(c)) r->parent = 0;
  WindowSystem* ws = media::window_system();
  if (ws && m->native && ws->menu_alive(m->native)) {
    if (ws->menu_bar(ws->desktop()) == m->native) ws->set_menu_bar(ws->desktop(), 0);
    ws->destroy_menu(m->native);
  }
  if (MenuRecord* p = menu(m->parent)) {
    if (p->first_child == id) p->first_child = m->next_sibling;
    for (uint32_t c : menu_children(m->parent))
      if (menu(c)->next_sibling == id) menu(c)->next_sibling = m->next_sibling;
  }
  if (ms().root == id) ms().root = 0;
  if (ms().bar == id) ms().bar = 0;
  ms().menus.remove(id);
}

void MenuObject::enable() {
  MenuRecord* m = menu(id);
  if (!m) error(Err::WrongType, object);
  WindowSystem* ws = media::window_system();
  if (auto at = position_of(id); ws && at) ws->enable_menu_item(menu(m->parent)->native, *at, true);
  if (m->parent == ms().bar) redraw_bar();
}

void MenuObject::disable() {
  MenuRecord* m = menu(id);
  if (!m) error(Err::WrongType, object);
  WindowSystem* ws = media::window_system();
  if (auto at = position_of(id); ws && at) ws->enable_menu_item(menu(m->parent)->native, *at, false);
  if (m->parent == ms().bar) redraw_bar();
}

bool MenuObject::enabled() {
  MenuRecord* m = menu(id);
  WindowSystem* ws = media::window_system();
  auto at = position_of(id);
  if (!m || !ws || !at) return m != nullptr;
  auto item = ws->menu_item(menu(m->parent)->native, *at);
  return item && !(item->flags & WindowSystem::kMenuDisabled);
}

Value MenuObject::get_title() {
  MenuRecord* m = menu(id);
  if (!m) error(Err::WrongType, object);
  return m->title;
}

void MenuObject::set_title(Value text, int) {
  MenuRecord* m = menu(id);
  if (!m) error(Err::WrongType, object);
  m->title = text;
  refresh_entry(id);
}

// ---- Dispatch ---------------------------------------------------------------------------

bool menu_command(uint32_t command) {
  MenusState& s = ms();
  if (command == 0) return false;
  WindowSystem* ws = media::window_system();
  std::vector<uint32_t> todo{s.root};
  for (size_t i = 0; i < todo.size() && i < 1000000; ++i) {
    MenuRecord* m = menu(todo[i]);
    if (!m) continue;
    if (m->item && m->command == command) {
      release_mouse();
      media::callback_send(m->instance, s.select, {kNil});
      return true;
    }
    if (m->font && m->native && ws) {
      for (size_t k = 0; k < ws->menu_item_count(m->native); ++k) {
        auto item = ws->menu_item(m->native, k);
        if (!item || item->id != command) continue;
        std::string text;
        for (size_t j = 0; j < item->text.size(); ++j) {
          if (item->text[j] == '&' && j + 1 < item->text.size()) ++j;
          text += item->text[j];
        }
        if (text.size() > 32) text.resize(32);
        Value focus = instance_of(windows_state().focus);
        if (!focus.is_nil()) media::callback_send(focus, s.set_text_font, {make_string(text.data(), text.size())});
        return true;
      }
    }
    for (uint32_t c : menu_children(todo[i])) todo.push_back(c);
  }
  return false;
}

void menu_opening(platform::Handle native) {
  MenusState& s = ms();
  uint32_t found = 0;
  s.menus.for_each([&](uint32_t id, MenuRecord& m) {
    if (m.native == native && native != 0) found = id;
  });
  if (MenuRecord* m = menu(found)) media::callback_send(m->instance, s.update);
}

Value popup_select(Value menu_value, gfx::Pt at_system) {
  uint32_t id = menu_id_of(menu_value);
  if (id == 0) error(Err::WrongType, menu_value);
  WindowSystem* ws = media::window_system();
  MenuRecord* m = menu(id);
  if (!ws || !m->native) return kNil;
  gfx::Rect area = ws->screen_client(ws->desktop());
  uint32_t chosen = ws->track_popup(m->native, {area.left + at_system.x, area.top + at_system.y}, ws->desktop());
  if (chosen == 0) return kNil;
  for (uint32_t c : menu_children(id))
    if (MenuRecord* r = menu(c); r && r->command == chosen) return r->instance;
  // An item of a submenu.
  std::vector<uint32_t> todo = menu_children(id);
  for (size_t i = 0; i < todo.size() && i < 100000; ++i) {
    MenuRecord* r = menu(todo[i]);
    if (!r) continue;
    if (r->item && r->command == chosen) return r->instance;
    for (uint32_t c : menu_children(todo[i])) todo.push_back(c);
  }
  return kNil;
}

}  // namespace shell
