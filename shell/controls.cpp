// The standard controls: obj-button, obj-check-box, obj-choice,
// obj-caption, obj-edit-text and obj-picture, built natively on obj-window.
#include "shell/controls.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>

#include "core/args.hpp"
#include "core/collector.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "data/printer.hpp"
#include "media/geometry.hpp"
#include "media/pict.hpp"
#include "objects/objects.hpp"
#include "objects/records.hpp"
#include "shell/windows.hpp"
#include "storage/clipboard.hpp"
#include "storage/files.hpp"
#include "storage/fork.hpp"
#include "storage/resources.hpp"

namespace shell {
using namespace core;

// ---- Measuring text ---------------------------------------------------------------------------

int32_t width_of(std::string_view text) { return gfx::DC::text_width(text); }
int32_t line_height() { return gfx::FontMetrics::kHeight; }

std::vector<TextLine> wrap_text(std::string_view text, int32_t width) {
  std::vector<TextLine> lines;
  size_t start = 0;
  while (true) {
    size_t end = text.find(kLineEnd, start);
    if (end == std::string_view::npos) end = text.size();
    // One paragraph, broken between words while it is too wide.
    size_t at = start;
    while (width > 0 && end - at > 1 && width_of(text.substr(at, end - at)) > width) {
      size_t fit = at;  // the longest prefix that fits
      while (fit < end && width_of(text.substr(at, fit + 1 - at)) <= width) ++fit;
      size_t space = text.rfind(' ', fit);
      if (space != std::string_view::npos && space > at && space <= fit) {
        lines.push_back({at, space - at});
        at = space + 1;
      } else {
        fit = std::max(fit, at + 1);  // a word wider than the line: cut, one character at least
        lines.push_back({at, fit - at});
        at = fit;
      }
    }
    lines.push_back({at, end - at});
    if (end >= text.size()) break;
    start = end + 1;
  }
  return lines;
}

// ---- The editing model ------------------------------------------------------------------------

void EditModel::insert(std::string_view s) {
  std::string piece;
  for (char c : s)
    if ((c != kLineEnd && c != '\n') || multi_line) piece.push_back(c);
  size_t from = selection_start();
  text.replace(from, selection_end() - from, piece);
  caret = anchor = from + piece.size();
}

void EditModel::erase_back() {
  if (caret == anchor && caret > 0) anchor = caret - 1;
  insert("");
}

void EditModel::erase_forward() {
  if (caret == anchor && caret < text.size()) anchor = caret + 1;
  insert("");
}

void EditModel::select_all() {
  anchor = 0;
  caret = text.size();
}

void EditModel::select(size_t from, size_t to) {
  anchor = std::min(from, text.size());
  caret = std::min(to, text.size());
}

void EditModel::move_to(size_t index, bool extend) {
  caret = std::min(index, text.size());
  if (!extend) anchor = caret;
}

// Without shift, a selection collapses to its end in the direction of
// the arrow.
void EditModel::left(bool extend) {
  if (!extend && caret != anchor) return move_to(selection_start(), false);
  move_to(caret > 0 ? caret - 1 : 0, extend);
}

void EditModel::right(bool extend) {
  if (!extend && caret != anchor) return move_to(selection_end(), false);
  move_to(caret + 1, extend);
}

size_t EditModel::line_of(size_t index) const {
  std::vector<TextLine> all = lines();
  size_t n = 0;
  while (n + 1 < all.size() && all[n + 1].start <= index) ++n;
  return n;
}

size_t EditModel::index_at(size_t line, int32_t x) const {
  std::vector<TextLine> all = lines();
  const TextLine& l = all[std::min(line, all.size() - 1)];
  std::string_view t(text);
  // The character boundary nearest to x.
  size_t best = 0;
  while (best < l.length) {
    int32_t left = width_of(t.substr(l.start, best)), right = width_of(t.substr(l.start, best + 1));
    if (x < (left + right + 1) / 2) break;
    ++best;
  }
  return l.start + best;
}

void EditModel::up(bool extend) {
  size_t line = line_of(caret);
  if (line == 0) return move_to(0, extend);
  std::vector<TextLine> all = lines();
  int32_t x = width_of(std::string_view(text).substr(all[line].start, caret - all[line].start));
  move_to(index_at(line - 1, x), extend);
}

void EditModel::down(bool extend) {
  std::vector<TextLine> all = lines();
  size_t line = line_of(caret);
  if (line + 1 >= all.size()) return move_to(text.size(), extend);
  int32_t x = width_of(std::string_view(text).substr(all[line].start, caret - all[line].start));
  move_to(index_at(line + 1, x), extend);
}

void EditModel::home(bool extend) { move_to(lines()[line_of(caret)].start, extend); }

void EditModel::end(bool extend) {
  TextLine l = lines()[line_of(caret)];
  move_to(l.start + l.length, extend);
}

// ---- The controls' native halves --------------------------------------------------------------

namespace {

#define TALVEN_CONTROL_SYMBOLS(X)                                                                    \
  X(default_p, "default?") X(checked_p, "checked?") X(items, "items") X(content, "content")          \
  X(multi_line_p, "multi-line?") X(select, "select")

struct ControlsState : ModuleState {
#define TALVEN_X(field, text) Value field = kNil;
  TALVEN_CONTROL_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  uint32_t serial = 0;  // the creation order of controls, for Tab
};

ControlsState& cs() { return state_of<ControlsState>(kControlsModule); }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

Value property(Value name) { return objects::property_of(rt().current_object, name); }

std::string text_of_value(Value v) { return v.is(Tag::String) ? std::string(string_text(v)) : std::string(); }

// A string argument's text: error 2 with anything else.
std::string string_arg(Value v) { return std::string(arg_text(v)); }

gfx::Pixel colour(gfx::DC& dc, media::Rgb16 c) { return media::picture_color(dc.surface(), c.red, c.green, c.blue); }
gfx::Brush solid(gfx::DC& dc, uint32_t rgb) { return gfx::Brush::solid(dc.surface().map_color(rgb)); }

// The dotted ring around what has the keyboard.
void focus_ring(gfx::DC& dc, gfx::Rect r) {
  gfx::Pixel black = dc.surface().map_color(0);
  for (int32_t x = r.left; x < r.right; x += 2) {
    dc.set_pixel({x, r.top}, black);
    dc.set_pixel({x, r.bottom - 1}, black);
  }
  for (int32_t y = r.top; y < r.bottom; y += 2) {
    dc.set_pixel({r.left, y}, black);
    dc.set_pixel({r.right - 1, y}, black);
  }
}

// Text in the window's foreground colour, or grey when disabled.
void label(gfx::DC& dc, gfx::Pt at, std::string_view text, const WindowRecord& w) {
  dc.set_text_color(w.disabled ? dc.surface().map_color(0x808080) : colour(dc, w.foreground));
  dc.set_background(0, gfx::BackgroundMode::Transparent);
  dc.text(at, text);
}

// The native half every control shares: the mouse held on it, the order
// it was made in, and the drawing and input each kind replaces.
class Control : public WindowObject {
 public:
  uint32_t serial = 0;
  bool pressed = false;  // the mouse went down on it and is still held

  virtual bool focusable() const { return true; }
  virtual bool handles_mouse() const { return true; }
  // Draws the control at `box` (the DC's coordinates); runs no Lisp.
  virtual void draw(gfx::DC& dc, gfx::Rect box, const WindowRecord& w) = 0;
  // The mouse pressed, moved while held, released (own coordinates), and a
  // key. Each may send a message last, after which `this` may be gone.
  virtual void press(gfx::Pt, bool) {}
  virtual void track(gfx::Pt) {}
  virtual void release(gfx::Pt) {}
  virtual void key(int32_t, bool, bool) {}

  void set_title(Value text, int flag) override {
    WindowObject::set_title(text, flag);
    changed();
  }
  void enable() override {
    WindowObject::enable();
    changed();
  }
  void disable() override {
    WindowObject::disable();
    changed();
  }

  void changed() { invalidate_object(id); }
  bool focused() const { return windows_state().focus == id; }
  bool inside(gfx::Pt p) const {
    WindowRecord* w = record(id);
    return w && own_bounds(*w).contains(p);
  }
  std::string title() const {
    WindowRecord* w = record(id);
    return w ? text_of_value(w->title) : std::string();
  }
  // Tells the instance of a choice made; the last thing a handler does.
  void fire() { send_to(id, cs().select); }
};

Control* control_of(Value instance) {
  if (!objects::is_object(instance)) return nullptr;
  return dynamic_cast<Control*>(owned_object(objects::field(instance, objects::kNativePart)));
}

// The native half of `self` as a control of kind T; error 2 otherwise.
template <class T>
T& self_as() {
  self_id();
  Value o = rt().current_object;
  T* c = dynamic_cast<T*>(control_of(o));
  if (!c) error(Err::WrongType, o);
  return *c;
}

// ---- Push buttons ---------------------------------------------------------------------

// A control pressed by the mouse: `over` while the button is held over it,
// which is how it is drawn; what a release does is its own.
class PressedControl : public Control {
 public:
  bool over = false;

  void press(gfx::Pt, bool) override {
    over = true;
    changed();
  }
  void track(gfx::Pt p) override {
    if (inside(p) == over) return;
    over = !over;
    changed();
  }
};

class Button : public PressedControl {
 public:
  bool is_default = false;

  void draw(gfx::DC& dc, gfx::Rect box, const WindowRecord& w) override {
    int32_t state = (pressed && over ? 1 : 0) | (is_default ? 2 : 0) | (w.disabled ? 4 : 0);
    draw_button_face(dc, box, title(), state);
    if (focused()) focus_ring(dc, {box.left + 3, box.top + 3, box.right - 3, box.bottom - 3});
  }
  // Released over the button: chosen; dragged off first: nothing.
  void release(gfx::Pt p) override {
    bool chosen = over && inside(p);
    over = false;
    changed();
    if (chosen) fire();
  }
  void key(int32_t code, bool, bool) override {
    if (code == ' ' || code == '\r') fire();
  }
};

// ---- Check boxes ----------------------------------------------------------------------

class CheckBox : public PressedControl {
 public:
  bool checked = false;

  void draw(gfx::DC& dc, gfx::Rect box, const WindowRecord& w) override {
    int32_t top = box.top + (box.height() - 12) / 2;
    gfx::Rect square{box.left + 2, top, box.left + 14, top + 12};
    dc.fill_rect(square, solid(dc, pressed && over ? 0xC0C0C0 : 0xFFFFFF));
    dc.frame_rect(square, solid(dc, w.disabled ? 0x808080 : 0));
    if (checked) {
      dc.set_pen({gfx::PenStyle::Solid, 1, dc.surface().map_color(0)});
      dc.line({square.left + 2, square.top + 2}, {square.right - 3, square.bottom - 3}, true);
      dc.line({square.right - 3, square.top + 2}, {square.left + 2, square.bottom - 3}, true);
    }
    std::string t = title();
    int32_t ty = box.top + (box.height() - line_height()) / 2;
    label(dc, {box.left + 18, ty}, t, w);
    if (focused()) focus_ring(dc, {box.left + 16, ty - 1, box.left + 20 + width_of(t), ty + line_height() + 1});
  }
  void release(gfx::Pt p) override {
    bool chosen = over && inside(p);
    over = false;
    if (chosen) checked = !checked;
    changed();
    if (chosen) fire();
  }
  void key(int32_t code, bool, bool) override {
    if (code != ' ') return;
    checked = !checked;
    changed();
    fire();
  }
};

Value m_get_checked_p() { return boolean(self_as<CheckBox>().checked); }
Value m_set_checked_p(Value v) {
  CheckBox& c = self_as<CheckBox>();
  c.checked = v.truthy();
  c.changed();
  return kNoValue;
}

// ---- Choices: one of several ----------------------------------------------------------

// The items of a choice from a list of strings; error 2 with anything else
// (the element that is not a string, or the value that is not a list).
std::vector<std::string> items_arg(Value list) {
  std::vector<std::string> out;
  Value at = list;
  for (; at.is_pair(); at = cdr(at)) out.push_back(string_arg(car(at)));
  if (!at.is_nil()) error(Err::WrongType, list);
  return out;
}

class Choice : public Control {
 public:
  std::vector<std::string> items;
  int32_t selection = -1;  // -1: none chosen
  int32_t held = -1;       // the row the mouse went down on

  static int32_t row_height() { return line_height() + 4; }
  int32_t row_at(gfx::Pt p) const {
    if (!inside(p) || p.y < 0) return -1;
    int32_t row = p.y / row_height();
    return row < int32_t(items.size()) ? row : -1;
  }

  void draw(gfx::DC& dc, gfx::Rect box, const WindowRecord& w) override {
    gfx::Brush before = dc.brush();
    dc.set_pen({gfx::PenStyle::Solid, 1, dc.surface().map_color(w.disabled ? 0x808080 : 0)});
    for (size_t i = 0; i < items.size(); ++i) {
      int32_t top = box.top + int32_t(i) * row_height();
      if (top >= box.bottom) break;
      gfx::Rect circle{box.left + 2, top + 2, box.left + 14, top + 14};
      dc.set_brush(solid(dc, int32_t(i) == held && pressed ? 0xC0C0C0 : 0xFFFFFF));
      dc.ellipse(circle);
      if (int32_t(i) == selection) {
        dc.set_brush(solid(dc, 0));
        dc.ellipse({circle.left + 3, circle.top + 3, circle.right - 3, circle.bottom - 3});
      }
      label(dc, {box.left + 18, top + 2}, items[i], w);
      bool ring = int32_t(i) == (selection >= 0 ? selection : 0);
      if (focused() && ring)
        focus_ring(dc, {box.left + 16, top + 1, box.left + 20 + width_of(items[i]), top + row_height() - 1});
    }
    dc.set_brush(before);
  }
  void press(gfx::Pt p, bool) override {
    held = row_at(p);
    changed();
  }
  void release(gfx::Pt p) override {
    int32_t row = row_at(p);
    bool chosen = row >= 0 && row == held;
    held = -1;
    if (chosen) selection = row;
    changed();
    if (chosen) fire();
  }
  void key(int32_t code, bool, bool) override {
    if (items.empty()) return;
    int32_t last = int32_t(items.size()) - 1;
    int32_t to = selection;
    if (code == 28 || code == 30) to = std::max(selection - 1, 0);
    if (code == 29 || code == 31) to = std::min(selection + 1, last);
    if (code == 1 || code == 11) to = 0;
    if (code == 4 || code == 12) to = last;
    if (to == selection) return;
    selection = to;
    changed();
    fire();
  }

  Value get_content() override {
    ListBuilder b;
    for (const std::string& item : items) b.add(make_string(item.data(), item.size()));
    return b.finish();
  }
  void set_content(Value v) override {
    items = items_arg(v);
    if (selection >= int32_t(items.size())) selection = -1;
    changed();
  }
  Value get_selection() override { return selection < 0 ? kNil : make_fixnum(selection); }
  // nil chooses none; an index must name an item.
  void set_selection(Value v) override {
    selection = v.is_nil() ? -1 : int32_t(arg_index(v, uint32_t(items.size())));
    changed();
  }
};

// ---- Captions -------------------------------------------------------------------------

class Caption : public Control {
 public:
  std::string text;

  bool focusable() const override { return false; }
  bool handles_mouse() const override { return false; }
  void draw(gfx::DC& dc, gfx::Rect box, const WindowRecord& w) override {
    std::string_view t(text);
    int32_t y = box.top + 2;
    for (const TextLine& l : wrap_text(t, box.width() - 4)) {
      if (y >= box.bottom) break;
      label(dc, {box.left + 2, y}, t.substr(l.start, l.length), w);
      y += line_height();
    }
  }
  Value get_content() override { return make_string(text.data(), text.size()); }
  void set_content(Value v) override {
    text = string_arg(v);
    changed();
  }
};

// ---- Editable texts -------------------------------------------------------------------

// A selection argument: a list (start end) or one index for the caret;
// each index within the text, else error 2 with it.
std::pair<size_t, size_t> selection_arg(Value v, size_t length) {
  auto index = [length](Value i) { return size_t(arg_index(i, uint32_t(length) + 1)); };
  if (!v.is_pair()) {
    size_t at = index(v);
    return {at, at};
  }
  Value rest = cdr(v);
  if (!rest.is_pair() || !cdr(rest).is_nil()) error(Err::WrongType, v);
  return {index(car(v)), index(car(rest))};
}

// Text from the clipboard with its line ends (CR LF, LF) made ours.
std::string plain_lines(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' && !(i > 0 && s[i - 1] == '\r'))
      out.push_back(kLineEnd);
    else if (s[i] != '\n')
      out.push_back(s[i]);
  }
  return out;
}

class EditText : public Control {
 public:
  EditModel model;
  // The view: the first line shown and how far the text is scrolled left.
  size_t first_line = 0;
  int32_t scroll_x = 0;

  static constexpr int32_t kMargin = 3;

  gfx::Rect inner(gfx::Rect box) const {
    return {box.left + kMargin, box.top + kMargin, box.right - kMargin, box.bottom - kMargin};
  }
  gfx::Rect view() const {
    WindowRecord* w = record(id);
    return w ? inner(own_bounds(*w)) : gfx::Rect{};
  }
  size_t visible_lines() const { return size_t(std::max(view().height() / line_height(), 1)); }

  // Scrolls so that the caret shows.
  void show_caret() {
    std::vector<TextLine> lines = model.lines();
    size_t line = model.line_of(model.caret);
    size_t rows = visible_lines();
    if (line < first_line) first_line = line;
    if (line >= first_line + rows) first_line = line + 1 - rows;
    first_line = std::min(first_line, lines.size() - 1);
    int32_t x = width_of(std::string_view(model.text).substr(lines[line].start, model.caret - lines[line].start));
    int32_t width = std::max(view().width() - 1, 1);
    if (x < scroll_x) scroll_x = std::max(x - width / 3, 0);
    if (x >= scroll_x + width) scroll_x = x - width + width / 3;
  }
  void edited() {
    show_caret();
    changed();
  }

  size_t index_at(gfx::Pt p) const {
    gfx::Rect v = view();
    int32_t row = (p.y - v.top) / line_height();
    if (p.y < v.top) row = -1;
    int32_t line = int32_t(first_line) + row;
    if (line < 0) return 0;
    return model.index_at(size_t(line), p.x - v.left + scroll_x);
  }

  void draw(gfx::DC& dc, gfx::Rect box, const WindowRecord& w) override {
    dc.fill_rect(box, solid(dc, 0xFFFFFF));
    dc.frame_rect(box, solid(dc, w.disabled ? 0x808080 : 0));
    gfx::Rect in = inner(box);
    if (in.empty()) return;
    std::optional<gfx::Region> saved = dc.clip();
    gfx::Region clip(in);
    if (saved) clip = gfx::intersect(clip, *saved);
    dc.set_clip(clip);
    std::string_view t(model.text);
    std::vector<TextLine> lines = model.lines();
    size_t from = model.selection_start(), to = model.selection_end();
    size_t caret_line = model.line_of(model.caret);
    for (size_t i = first_line; i < lines.size(); ++i) {
      int32_t y = in.top + int32_t(i - first_line) * line_height();
      if (y >= in.bottom) break;
      const TextLine& l = lines[i];
      int32_t x = in.left - scroll_x;
      label(dc, {x, y}, t.substr(l.start, l.length), w);
      // The selection inverted while the text has the focus; a selected
      // line end shows as a cell's width.
      size_t a = std::max(from, l.start), b = std::min(to, l.start + l.length);
      int32_t left = x + width_of(t.substr(l.start, a - l.start));
      int32_t right = x + width_of(t.substr(l.start, std::max(a, b) - l.start));
      if (to > l.start + l.length && from <= l.start + l.length && i + 1 < lines.size())
        right += gfx::FontMetrics::kAdvance;
      if (from != to && right > left && focused()) dc.invert_rect({left, y, right, y + line_height()});
      if (from == to && focused() && i == caret_line) {
        int32_t cx = x + width_of(t.substr(l.start, model.caret - l.start));
        dc.fill_rect({cx, y, cx + 1, y + line_height()}, solid(dc, 0));
      }
    }
    dc.set_clip(saved);
  }

  void press(gfx::Pt p, bool shift) override {
    size_t at = index_at(p);
    model.caret = at;
    if (!shift) model.anchor = at;
    edited();
  }
  void track(gfx::Pt p) override {
    size_t at = index_at(p);
    if (at == model.caret) return;
    model.caret = at;
    edited();
  }

  void cut() {
    copy();
    clear();
  }
  void copy() {
    if (model.caret != model.anchor) storage::put_clipboard_text(model.selected());
  }
  void paste() {
    std::string s;
    if (!storage::clipboard_text(s)) return;
    model.insert(plain_lines(s));
    edited();
  }
  void clear() {
    if (model.caret == model.anchor) return;
    model.insert("");
    edited();
  }
  void select_all() {
    model.select_all();
    edited();
  }

  void key(int32_t code, bool shift, bool control) override {
    if (control) {
      switch (code) {
        case 24: return cut();
        case 3: return copy();
        case 22: return paste();
        case 1: return select_all();
        default: break;
      }
    }
    switch (code) {
      case 8: model.erase_back(); break;
      case 127: model.erase_forward(); break;
      case 28: model.left(shift); break;
      case 29: model.right(shift); break;
      case 30: model.up(shift); break;
      case 31: model.down(shift); break;
      case 1: model.home(shift); break;
      case 4: model.end(shift); break;
      case 11:
      case 12:
        for (size_t i = 0; i < visible_lines(); ++i) code == 11 ? model.up(shift) : model.down(shift);
        break;
      case '\r':
        if (!model.multi_line) {
          fire();
          return;
        }
        model.insert(std::string_view(&kLineEnd, 1));
        break;
      default:
        if (code < 32 || code > 255) return;
        {
          char c = char(code);
          model.insert(std::string_view(&c, 1));
        }
    }
    edited();
  }

  Value get_content() override { return make_string(model.text.data(), model.text.size()); }
  void set_content(Value v) override {
    std::string s = string_arg(v);
    model.text.clear();
    model.caret = model.anchor = 0;
    model.insert(s);
    model.caret = model.anchor = 0;
    first_line = 0, scroll_x = 0;
    changed();
  }
  Value get_selection() override {
    Value end = make_fixnum(int32_t(model.selection_end()));
    return cons(make_fixnum(int32_t(model.selection_start())), cons(end, kNil));
  }
  void set_selection(Value v) override {
    auto [from, to] = selection_arg(v, model.text.size());
    model.select(from, to);
    edited();
  }
};

template <void (EditText::*F)()>
Value m_edit() {
  (self_as<EditText>().*F)();
  return kNoValue;
}

// ---- Pictures -------------------------------------------------------------------------

class Picture : public Control {
 public:
  Value handle = kNil;          // a handle box holding the picture
  int32_t resource = 0;         // or a PICT resource id (0: none)
  std::vector<uint8_t> loaded;  // or the picture of a file

  bool focusable() const override { return false; }
  bool handles_mouse() const override { return false; }
  void mark_values() override {
    WindowObject::mark_values();
    mark_value(handle);
  }
  void draw(gfx::DC& dc, gfx::Rect box, const WindowRecord&) override {
    if (!handle.is_nil()) {
      media::draw_picture_handle(dc, handle, box);
    } else if (resource != 0) {
      std::vector<uint8_t> bytes;
      if (storage::resource_bytes(storage::fourcc("PICT"), resource, bytes)) media::draw_picture(dc, bytes, box);
    } else if (!loaded.empty()) {
      media::draw_picture(dc, loaded, box);
    }
  }
  Value get_content() override { return resource != 0 ? make_fixnum(resource) : handle; }
  // A PICT resource id, a handle holding a picture, or nil for none.
  void set_content(Value v) override {
    Value h = kNil;
    int32_t number = 0;
    if (is_integer(v)) {
      std::vector<uint8_t> bytes;
      number = read_integer(v);
      if (number == 0 || !storage::resource_bytes(storage::fourcc("PICT"), number, bytes)) error(Err::WrongType, v);
    } else if (!v.is_nil()) {
      data::handle_arg(v);
      h = v;
    }
    handle = h, resource = number;
    loaded.clear();
    changed();
  }
  // A picture file (its 512-byte header skipped) or a bitmap; error 2 with
  // the pathname for a file that holds neither.
  void load_from_pathname(Value path) override {
    constexpr int64_t kLargest = 64 << 20;
    storage::OpenFile f = storage::open_pathname(path, storage::OpenMode::Read);
    int64_t size = storage::file_size(f);
    std::vector<uint8_t> bytes;
    if (size > 0 && size <= kLargest) {
      bytes.resize(size_t(size));
      int64_t got = storage::read_bytes(f, bytes.data(), bytes.size());
      bytes.resize(got > 0 ? size_t(got) : 0);
    }
    storage::close_file(f);
    std::span<const uint8_t> pic = media::strip_file_header(bytes);
    if (!media::picture_frame(pic)) error(Err::WrongType, path);
    loaded.assign(pic.begin(), pic.end());
    handle = kNil, resource = 0;
    changed();
  }
};

// ---- The methods every control shares -------------------------------------------------------

gfx::Pt point_of(Value a, Value b) {
  if (a.is_pair()) return media::point_value(a);
  return {arg_int(a), arg_int(b)};
}

bool enabled_control(Control& c) {
  WindowRecord* w = record(c.id);
  return w && !w->disabled;
}

uint32_t keys() {
  platform::WindowSystem* ws = media::window_system();
  return ws ? ws->keys() : 0;
}

Value m_paint() {
  Control& c = self_as<Control>();
  gfx::DC* dc = nullptr;
  gfx::Pt origin;
  if (!paint_target(c.id, dc, origin)) return kNoValue;
  WindowRecord& w = *record(c.id);
  c.draw(*dc, gfx::offset(own_bounds(w), origin.x, origin.y), w);
  return kNoValue;
}

Value m_mouse_down(Value a, Value b) {
  gfx::Pt p = point_of(a, b);
  Control* c = &self_as<Control>();
  if (!enabled_control(*c)) return kNoValue;
  if (c->focusable() && !c->focused()) {
    set_focus(c->id);
    c = &self_as<Control>();  // the focus messages ran Lisp
  }
  c->pressed = true;
  c->press(p, keys() & platform::kShift);
  return kNoValue;
}

Value m_mouse_move(Value a, Value b) {
  gfx::Pt p = point_of(a, b);
  Control& c = self_as<Control>();
  if (c.pressed) c.track(p);
  return kNoValue;
}

Value m_mouse_drag(Value a, Value b, Value, Value) { return m_mouse_move(a, b); }

Value m_mouse_up(Value a, Value b) {
  gfx::Pt p = point_of(a, b);
  Control& c = self_as<Control>();
  if (!c.pressed) return kNoValue;
  c.pressed = false;
  c.release(p);
  return kNoValue;
}

Value m_key_down(Value code) {
  int32_t k = arg_int(code);
  Control& c = self_as<Control>();
  if (!enabled_control(c)) return kNoValue;
  uint32_t held = keys();
  c.key(k, held & platform::kShift, held & platform::kControl);
  return kNoValue;
}

Value m_focus_changed() {
  self_as<Control>().changed();
  return kNoValue;
}

Value m_get_handles_mouse_p() { return boolean(self_as<Control>().handles_mouse()); }

Value m_get_default_p() { return boolean(self_as<Button>().is_default); }
Value m_set_default_p(Value v) {
  Button& b = self_as<Button>();
  b.is_default = v.truthy();
  b.changed();
  return kNoValue;
}

// ---- Construction -----------------------------------------------------------------------------

// The native constructor of a control class: the native half made and set
// up from the instance's properties before the window record is opened, so
// that a bad property leaves nothing half made.
template <class T>
Value construct(Value*) {
  std::unique_ptr<T> c;
  try {
    c = std::make_unique<T>();
  } catch (const std::bad_alloc&) {
    error(Err::NativeMemory, kNil);
  }
  ControlsState& s = cs();
  if constexpr (std::is_same_v<T, Button>) c->is_default = property(s.default_p).truthy();
  if constexpr (std::is_same_v<T, CheckBox>) c->checked = property(s.checked_p).truthy();
  if constexpr (std::is_same_v<T, Choice>) {
    c->items = items_arg(property(s.items));
    Value chosen = property(s.content);
    if (!chosen.is_nil()) c->selection = int32_t(arg_index(chosen, uint32_t(c->items.size())));
  }
  if constexpr (std::is_same_v<T, Caption>) {
    Value text = property(s.content);
    if (!text.is_nil()) c->text = string_arg(text);
  }
  if constexpr (std::is_same_v<T, EditText>) {
    c->model.multi_line = property(s.multi_line_p).truthy();
    Value text = property(s.content);
    if (!text.is_nil()) c->model.insert(string_arg(text));
    c->model.caret = c->model.anchor = 0;
  }
  c->serial = ++s.serial;
  T* made = c.get();
  Value box = construct_window_with(std::move(c));
  // A caption with no content shows its title.
  if constexpr (std::is_same_v<T, Caption>)
    if (made->text.empty()) made->text = made->title();
  (void)made;
  return box;
}

// ---- Registration -----------------------------------------------------------------------------

struct MethodRow {
  const char* name;
  NativeFn fn;
  uint32_t count;
  const char* doc;
};

// The methods of every control class.
const MethodRow kControlMethods[] = {
    {"paint", &native_entry<m_paint>, 0, "(paint) draws the control in the plain look of the window chrome; no value"},
    {"mouse-down-system", &native_entry<m_mouse_down>, 2, "(mouse-down-system V H) presses a button, toggles a check box, picks a choice's item or puts an edit text's caret at the point; no value"},
    {"mouse-move-system", &native_entry<m_mouse_move>, 2, "(mouse-move-system V H) the mouse moved over the control with no button held; no value"},
    {"mouse-drag-system", &native_entry<m_mouse_drag>, 4, "(mouse-drag-system V H V0 H0) a pressed button shows whether the mouse is still over it; an edit text extends its selection; no value"},
    {"mouse-up-system", &native_entry<m_mouse_up>, 2, "(mouse-up-system V H) a button released over itself sends itself select (once, with no arguments); no value"},
    {"key-down", &native_entry<m_key_down>, 1, "(key-down KEY) Space or Return press a button or toggle a check box, the arrows move a choice, an edit text edits (arrows, shift+arrows, Home, End, page keys, Backspace, Delete, Ctrl-X/C/V/A); no value"},
    {"activate-focus", &native_entry<m_focus_changed>, 0, "(activate-focus) the control took the focus and is drawn again with its focus mark; no value"},
    {"deactivate-focus", &native_entry<m_focus_changed>, 0, "(deactivate-focus) the control lost the focus and is drawn again; no value"},
    {"get-handles-mouse?", &native_entry<m_get_handles_mouse_p>, 0, "(get-handles-mouse?) t for the controls that take the mouse (all but a caption and a picture)"},
};

// The methods of one kind of control.
const MethodRow kButtonMethods[] = {
    // (get-default?) and (set-default? FLAG): the thick border of the default button.
    {"get-default?", &native_entry<m_get_default_p>, 0, "(get-default?) t when the button has the thick border of the default button"},
    {"set-default?", &native_entry<m_set_default_p>, 1, "(set-default? FLAG) gives the button the default button's thick border, or takes it away; FLAG"},
};
const MethodRow kCheckBoxMethods[] = {
    // (get-checked?) and (set-checked? FLAG): whether the box is checked.
    {"get-checked?", &native_entry<m_get_checked_p>, 0, "(get-checked?) t when the check box is checked"},
    {"set-checked?", &native_entry<m_set_checked_p>, 1, "(set-checked? FLAG) checks the box or clears it and draws it again; FLAG"},
};
const MethodRow kEditTextMethods[] = {
    // The selection through the clipboard: cut, copy, paste, clear, select-all.
    {"cut", &native_entry<m_edit<&EditText::cut>>, 0, "(cut) the selected text to the clipboard, and out of the edit text; no value"},
    {"copy", &native_entry<m_edit<&EditText::copy>>, 0, "(copy) the selected text to the clipboard; no value"},
    {"paste", &native_entry<m_edit<&EditText::paste>>, 0, "(paste) the clipboard's text in place of the selection, its line ends as carriage returns; no value"},
    {"clear", &native_entry<m_edit<&EditText::clear>>, 0, "(clear) removes the selected text; no value"},
    {"select-all", &native_entry<m_edit<&EditText::select_all>>, 0, "(select-all) selects the whole text; no value"},
};

Value define(const char* name, NativeFn constructor, std::span<const MethodRow> own) {
  Value cls = objects::define_native_class(name, constructor, windows_state().window_class);
  for (const MethodRow& m : kControlMethods) objects::register_native_method(cls, m.name, m.fn, m.count, m.doc);
  for (const MethodRow& m : own) objects::register_native_method(cls, m.name, m.fn, m.count, m.doc);
  return cls;
}

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<ControlsState>(); }

void install(Runtime&) {
  ControlsState& s = cs();
#define TALVEN_X(field, text) s.field = intern_static(text);
  TALVEN_CONTROL_SYMBOLS(TALVEN_X)
#undef TALVEN_X
  // get-content, set-content, get-selection, set-selection and
  // load-from-pathname are obj-window's, reaching each kind's own.
  define("obj-button", &construct<Button>, kButtonMethods);
  define("obj-check-box", &construct<CheckBox>, kCheckBoxMethods);
  define("obj-choice", &construct<Choice>, {});
  define("obj-caption", &construct<Caption>, {});
  define("obj-edit-text", &construct<EditText>, kEditTextMethods);
  define("obj-picture", &construct<Picture>, {});
}

// Controls in the tree of `top` that can take the focus, in creation order.
std::vector<Control*> focus_chain(uint32_t top) {
  std::vector<Control*> out;
  std::vector<uint32_t> todo{top};
  for (size_t i = 0; i < todo.size() && i < 100000; ++i) {
    WindowRecord* w = record(todo[i]);
    if (!w || (!w->shown && todo[i] != top)) continue;  // hidden: nor its children
    Control* c = control_of(w->instance);
    if (c && c->focusable() && !w->disabled) out.push_back(c);
    for (uint32_t k : children_of(todo[i])) todo.push_back(k);
  }
  std::sort(out.begin(), out.end(), [](Control* a, Control* b) { return a->serial < b->serial; });
  return out;
}

}  // namespace

bool is_control(uint32_t id) {
  WindowRecord* w = record(id);
  return w && control_of(w->instance) != nullptr;
}

bool focus_next_control(bool backward) {
  if (!module_installed(kControlsModule) || !module_installed(kWindowsModule)) return false;
  uint32_t focus = windows_state().focus;
  if (!record(focus)) return false;
  std::vector<Control*> chain = focus_chain(top_of(focus));
  if (chain.empty()) return false;
  auto at = std::find_if(chain.begin(), chain.end(), [focus](Control* c) { return c->id == focus; });
  size_t n = chain.size(), next;
  if (at == chain.end())
    next = backward ? n - 1 : 0;
  else
    next = (size_t(at - chain.begin()) + (backward ? n - 1 : 1)) % n;
  set_focus(chain[next]->id);
  return true;
}

const Module kControlsModule{"controls", make_state, install, nullptr, nullptr};

}  // namespace shell
