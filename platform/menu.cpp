// Menus: the table of menus, the menu bar row of a window, pop-up menu
// windows, and the modal tracking that lets the user choose an item.
#include <algorithm>

#include "platform/window_internal.hpp"

namespace platform {

using namespace chrome;

// Labels.

namespace chrome {
int32_t draw_label(gfx::DC& dc, Pt p, std::string_view label, gfx::Pixel color) {
  dc.set_text_color(color);
  dc.set_background(0, gfx::BackgroundMode::Transparent);
  int32_t x = p.x;
  for (size_t i = 0; i < label.size(); ++i) {
    bool underline = false;
    if (label[i] == '&' && i + 1 < label.size()) {
      ++i;
      underline = label[i] != '&';
    }
    dc.text({x, p.y}, label.substr(i, 1));
    if (underline)
      dc.fill_rect({x, p.y + gfx::FontMetrics::kAscent + 1, x + gfx::FontMetrics::kAdvance - 1, p.y + gfx::FontMetrics::kAscent + 2},
                   gfx::Brush::solid(color));
    x += gfx::FontMetrics::kAdvance;
  }
  return x - p.x;
}

int32_t label_width(std::string_view label) {
  int32_t n = 0;
  for (size_t i = 0; i < label.size(); ++i, ++n)
    if (label[i] == '&' && i + 1 < label.size()) ++i;
  return n * gfx::FontMetrics::kAdvance;
}

unsigned char label_key(std::string_view label) {
  for (size_t i = 0; i + 1 < label.size(); ++i)
    if (label[i] == '&') {
      if (label[i + 1] == '&') {
        ++i;
        continue;
      }
      unsigned char c = (unsigned char)label[i + 1];
      return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c;
    }
  return 0;
}

void draw_button(gfx::DC& dc, Rect r, std::string_view label, gfx::Pixel frame, gfx::Pixel text) {
  dc.frame_rect(r, gfx::Brush::solid(frame));
  int32_t w = label_width(label);
  draw_label(dc, {r.left + (r.width() - w) / 2, r.top + (r.height() - gfx::FontMetrics::kHeight) / 2}, label, text);
}
}  // namespace chrome

namespace {
// The label's two parts: before and after the first tab.
std::pair<std::string_view, std::string_view> split_label(std::string_view text) {
  size_t tab = text.find('\t');
  if (tab == std::string_view::npos) return {text, {}};
  return {text.substr(0, tab), text.substr(tab + 1)};
}

bool selectable(const WindowSystem::MenuItem& item) { return !(item.flags & WindowSystem::kMenuSeparator); }
bool choosable(const WindowSystem::MenuItem& item) {
  return !(item.flags & (WindowSystem::kMenuSeparator | WindowSystem::kMenuDisabled)) && !item.submenu;
}

constexpr int32_t kSeparatorHeight = 7, kCheckRoom = 18, kArrowRoom = 18, kMenuMinWidth = 64;

// A pop-up's size and its rows, relative to its top-left.
struct MenuLayout {
  int32_t width = kMenuMinWidth, height = 4;
  std::vector<Rect> rows;
};

MenuLayout layout_items(const std::vector<WindowSystem::MenuItem>& items) {
  MenuLayout out;
  int32_t left = 0, right = 0;
  for (auto& item : items) {
    auto [l, r] = split_label(item.text);
    left = std::max(left, label_width(l));
    right = std::max(right, label_width(r));
  }
  out.width = std::max(kMenuMinWidth, 2 + kCheckRoom + left + (right ? 16 + right : 0) + kArrowRoom + 2);
  int32_t y = 2;
  for (auto& item : items) {
    int32_t h = (item.flags & WindowSystem::kMenuSeparator) ? kSeparatorHeight : WindowSystem::kMenuItemHeight;
    out.rows.push_back({2, y, out.width - 2, y + h});
    y += h;
  }
  out.height = y + 2;
  return out;
}

// The rows as placed in a pop-up `height` high. When they do not all fit,
// a strip at the top and at the bottom holds an arrow each and the rows
// between begin with row `first`; a row not shown is an empty rectangle.
constexpr int32_t kArrowStrip = 8;
struct Placed {
  std::vector<Rect> rows;
  bool up = false, down = false;
};

Placed place(const MenuLayout& layout, size_t first, int32_t height) {
  Placed out;
  if (layout.height <= height || layout.rows.empty()) {
    out.rows = layout.rows;
    return out;
  }
  first = std::min(first, layout.rows.size() - 1);
  int32_t top = kArrowStrip, bottom = height - kArrowStrip;
  int32_t shift = top - layout.rows[first].top;
  for (const Rect& r : layout.rows) {
    Rect moved = gfx::offset(r, 0, shift);
    out.rows.push_back(moved.top >= top && moved.bottom <= bottom ? moved : Rect{});
  }
  out.up = first > 0;
  out.down = layout.rows.back().bottom + shift > bottom;
  return out;
}

void draw_arrow(gfx::DC& dc, Pt tip, bool up, gfx::Pixel color) {
  for (int32_t k = 0; k < 4; ++k) {
    int32_t y = up ? tip.y + k : tip.y - k;
    dc.fill_rect({tip.x - k, y, tip.x + k + 1, y + 1}, gfx::Brush::solid(color));
  }
}

void draw_item(gfx::DC& dc, gfx::Surface& s, Rect row, const WindowSystem::MenuItem& item, bool hot) {
  auto px = [&](uint32_t c) { return s.map_color(c); };
  if (item.flags & WindowSystem::kMenuSeparator) {
    int32_t y = row.top + row.height() / 2;
    dc.fill_rect({row.left + 2, y, row.right - 2, y + 1}, gfx::Brush::solid(px(kGreyText)));
    return;
  }
  if (hot) dc.fill_rect(row, gfx::Brush::solid(px(kHighlight)));
  gfx::Pixel text = px((item.flags & WindowSystem::kMenuDisabled) ? kGreyText : hot ? kHighlightText : kText);
  int32_t ty = row.top + (row.height() - gfx::FontMetrics::kHeight) / 2;
  auto [l, r] = split_label(item.text);
  draw_label(dc, {row.left + kCheckRoom, ty}, l, text);
  if (!r.empty()) draw_label(dc, {row.right - kArrowRoom - label_width(r), ty}, r, text);
  auto brush = gfx::Brush::solid(text);
  int32_t cy = row.top + row.height() / 2;
  if (item.flags & WindowSystem::kMenuChecked) {
    // A tick: down-right two pixels, then up-right four, two pixels thick.
    for (int32_t k = 0; k < 7; ++k) {
      int32_t x = row.left + 5 + k, y = k < 3 ? cy - 1 + k : cy + 1 - (k - 2);
      dc.fill_rect({x, y, x + 1, y + 2}, brush);
    }
  }
  if (item.submenu) {
    int32_t x = row.right - 10;
    for (int32_t k = 0; k < 4; ++k) dc.fill_rect({x + k, cy - 3 + k, x + k + 1, cy + 4 - k}, brush);
  }
}
}  // namespace

// The table.

WindowSystem::Menu* WindowSystem::find_menu(Handle h) const {
  uint32_t index = h & 0xFFFF;
  if ((h & 0xC0000000u) != 0x80000000u || index == 0 || index > menu_slots_.size()) return nullptr;
  const MenuSlot& s = menu_slots_[index - 1];
  if (!s.menu || s.generation != ((h >> 16) & 0x3FFF)) return nullptr;
  return s.menu.get();
}

bool WindowSystem::menu_alive(Handle m) const { return find_menu(m) != nullptr; }

Handle WindowSystem::create_menu() {
  uint32_t index;
  if (!menu_free_.empty()) {
    index = menu_free_.back();
    menu_free_.pop_back();
  } else {
    if (menu_slots_.size() >= 0xFFFE) return 0;
    index = uint32_t(menu_slots_.size());
    menu_slots_.emplace_back();
  }
  MenuSlot& s = menu_slots_[index];
  s.menu = std::make_unique<Menu>();
  s.menu->handle = 0x80000000u | (uint32_t(s.generation) << 16) | (index + 1);
  return s.menu->handle;
}

bool WindowSystem::destroy_menu(Handle h) {
  Menu* m = find_menu(h);
  if (!m) return false;
  std::vector<MenuItem> items = std::move(m->items);
  MenuSlot& s = menu_slots_[(h & 0xFFFF) - 1];
  s.menu.reset();
  if (++s.generation > 0x3FFF) s.generation = 1;  // the top bits mark menu handles
  menu_free_.push_back((h & 0xFFFF) - 1);
  for (auto& slot : slots_)
    if (slot.window && slot.window->menu_bar == h) set_menu_bar(slot.window->handle, 0);
  for (auto& item : items)
    if (item.submenu) destroy_menu(item.submenu);
  return true;
}

bool WindowSystem::menu_holds(Handle m, Handle inner, int depth) const {
  if (m == inner) return true;
  Menu* menu = find_menu(m);
  if (!menu || depth > 64) return depth > 64;
  for (auto& item : menu->items)
    if (item.submenu && menu_holds(item.submenu, inner, depth + 1)) return true;
  return false;
}

bool WindowSystem::insert_menu(Handle h, size_t position, const MenuItem& item) {
  Menu* m = find_menu(h);
  if (!m || position > m->items.size() || m->items.size() >= 0xFFFF) return false;
  if (item.submenu && (!find_menu(item.submenu) || menu_holds(item.submenu, h))) return false;
  m->items.insert(m->items.begin() + std::ptrdiff_t(position), item);
  bar_changed(h);
  return true;
}

bool WindowSystem::append_menu(Handle h, const MenuItem& item) {
  Menu* m = find_menu(h);
  return m && insert_menu(h, m->items.size(), item);
}

bool WindowSystem::set_menu_item(Handle h, size_t position, const MenuItem& item) {
  Menu* m = find_menu(h);
  if (!m || position >= m->items.size()) return false;
  if (item.submenu && item.submenu != m->items[position].submenu &&
      (!find_menu(item.submenu) || menu_holds(item.submenu, h)))
    return false;
  m->items[position] = item;
  bar_changed(h);
  return true;
}

bool WindowSystem::remove_menu_item(Handle h, size_t position) {
  Menu* m = find_menu(h);
  if (!m || position >= m->items.size()) return false;
  m->items.erase(m->items.begin() + std::ptrdiff_t(position));
  bar_changed(h);
  return true;
}

size_t WindowSystem::menu_item_count(Handle h) const {
  Menu* m = find_menu(h);
  return m ? m->items.size() : 0;
}

std::optional<WindowSystem::MenuItem> WindowSystem::menu_item(Handle h, size_t position) const {
  Menu* m = find_menu(h);
  if (!m || position >= m->items.size()) return std::nullopt;
  return m->items[position];
}

bool WindowSystem::check_menu_item(Handle h, size_t position, bool on) {
  Menu* m = find_menu(h);
  if (!m || position >= m->items.size()) return false;
  uint32_t& f = m->items[position].flags;
  f = on ? f | kMenuChecked : f & ~uint32_t(kMenuChecked);
  return true;
}

bool WindowSystem::enable_menu_item(Handle h, size_t position, bool on) {
  Menu* m = find_menu(h);
  if (!m || position >= m->items.size()) return false;
  uint32_t& f = m->items[position].flags;
  f = on ? f & ~uint32_t(kMenuDisabled) : f | kMenuDisabled;
  return true;
}

// The bar.

bool WindowSystem::set_menu_bar(Handle h, Handle menu) {
  Window* w = find(h);
  if (!w || (menu && !find_menu(menu))) return false;
  if (h != desktop_ && (w->parent != find(desktop_) || (w->style & kChild))) return false;
  if (w->menu_bar == menu) return true;
  Rect before = client_of(w);
  bool shown = visible(h);
  w->menu_bar = menu;
  w->bar_hot = -1;
  w->bar_rows_laid = bar_rows(w);
  w->frame_dirty = true;
  if (shown) {
    invalidate_screen(gfx::Region(screen_rect(w)));
    mark_dirty(screen_rect(w));
  }
  Rect after = client_of(w);
  if (before.height() != after.height()) send(h, msg::Size, 0, point_param({after.width(), after.height()}));
  return true;
}

Handle WindowSystem::menu_bar(Handle h) const {
  Window* w = find(h);
  return w ? w->menu_bar : 0;
}

void WindowSystem::draw_menu_bar(Handle h) {
  if (Window* w = find(h)) w->frame_dirty = true;
}

namespace {
// The titles of a bar laid out in rows `width` wide, from (0, 0): a title
// that would pass the right edge starts the next row, unless it is the
// first of its row.
std::vector<Rect> lay_out_titles(const std::vector<WindowSystem::MenuItem>& items, int32_t width) {
  std::vector<Rect> out;
  int32_t x = 2, row = 0;
  for (auto& item : items) {
    int32_t w = label_width(split_label(item.text).first) + 12;
    if (x > 2 && x + w > width - 2) {
      x = 2;
      ++row;
    }
    int32_t top = row * WindowSystem::kMenuBarHeight;
    out.push_back({x, top + 1, x + w, top + WindowSystem::kMenuBarHeight - 2});
    x += w;
  }
  return out;
}
}  // namespace

int32_t WindowSystem::bar_rows(const Window* w) const {
  if (!w->menu_bar) return 0;
  Menu* m = find_menu(w->menu_bar);
  if (!m || m->items.empty()) return 1;
  int32_t width = screen_rect(w).width() - 2 * frame_inset(w);
  std::vector<Rect> titles = lay_out_titles(m->items, width);
  // No more rows than leave the window a client area.
  int32_t rows = titles.back().top / kMenuBarHeight + 1;
  return std::clamp(rows, 1, std::max(1, (screen_rect(w).height() / 2) / kMenuBarHeight));
}

std::vector<Rect> WindowSystem::bar_titles(const Window* w) const {
  std::vector<Rect> out;
  Menu* m = find_menu(w->menu_bar);
  if (!m) return out;
  Rect bar = bar_rect(w);
  for (Rect r : lay_out_titles(m->items, bar.width())) {
    Rect on = gfx::offset(r, bar.left, bar.top);
    // Titles on rows the bar has no room for are not shown.
    if (on.bottom > bar.bottom) on = {};
    out.push_back(on);
  }
  return out;
}

void WindowSystem::bar_changed(Handle menu) {
  for (Slot& slot : slots_) {
    Window* w = slot.window.get();
    if (!w || w->menu_bar != menu) continue;
    w->frame_dirty = true;
    int32_t rows = bar_rows(w);
    if (rows == w->bar_rows_laid) continue;
    w->bar_rows_laid = rows;
    if (visible(w->handle)) {
      invalidate_screen(gfx::Region(screen_rect(w)));
      mark_dirty(screen_rect(w));
    }
    Rect c = client_of(w);
    send(w->handle, msg::Size, 0, point_param({c.width(), c.height()}));
  }
}

std::optional<Rect> WindowSystem::menu_title_rect(Handle h, size_t index) const {
  const Window* w = find(h);
  if (!w) return std::nullopt;
  std::vector<Rect> titles = bar_titles(w);
  if (index >= titles.size()) return std::nullopt;
  return titles[index];
}

std::optional<Rect> WindowSystem::open_menu_item_rect(Handle menu, size_t index) const {
  const Menu* m = find_menu(menu);
  const Window* desk = find(desktop_);
  if (!m || !desk || index >= m->items.size()) return std::nullopt;
  for (const Window* c : desk->children) {
    if (c->cls == nullptr || c->cls->name != "#menu" || property(c->handle, "#menu").value_or(0) != menu) continue;
    size_t first = size_t(property(c->handle, "#first").value_or(0));
    Placed rows = place(layout_items(m->items), first, client_rect(c->handle).height());
    if (rows.rows[index].empty()) return std::nullopt;
    return gfx::offset(rows.rows[index], screen_client(c->handle).left, screen_client(c->handle).top);
  }
  return std::nullopt;
}

void WindowSystem::draw_bar(Window* w, gfx::DC& dc) {
  Rect bar = bar_rect(w);
  dc.fill_rect(bar, gfx::Brush::solid(frame_.map_color(kFace)));
  dc.fill_rect({bar.left, bar.bottom - 1, bar.right, bar.bottom}, gfx::Brush::solid(frame_.map_color(kGreyText)));
  Menu* m = find_menu(w->menu_bar);
  if (!m) return;
  std::vector<Rect> titles = bar_titles(w);
  for (size_t i = 0; i < titles.size(); ++i) {
    const MenuItem& item = m->items[i];
    if (item.flags & kMenuSeparator) continue;
    bool hot = int(i) == w->bar_hot;
    if (hot) dc.fill_rect(titles[i], gfx::Brush::solid(frame_.map_color(kHighlight)));
    uint32_t color = (item.flags & kMenuDisabled) ? kGreyText : hot ? kHighlightText : kText;
    draw_label(dc, {titles[i].left + 6, titles[i].top + 2}, split_label(item.text).first, frame_.map_color(color));
  }
}

// Tracking: the open pop-ups from the outermost in, each a window of the
// "#menu" class showing a menu with one row highlighted.

struct WindowSystem::MenuTracker {
  MenuTracker(WindowSystem& w, Handle o) : ws(w), owner(o) {}
  WindowSystem& ws;
  Handle owner;
  Handle bar_window = 0;
  int bar_index = -1;
  struct Level {
    Handle menu = 0, window = 0;
    int hot = -1;
    size_t first = 0;  // the first row shown when not all fit
  };
  std::vector<Level> open;
  bool done = false;
  uint32_t chosen = 0;

  void finish(uint32_t id) {
    done = true;
    chosen = id;
  }

  Window* bar() { return ws.find(bar_window); }

  // The rows of pop-up k as shown, in frame coordinates.
  Placed placed(size_t k) {
    Menu* m = ws.find_menu(open[k].menu);
    Window* w = ws.find(open[k].window);
    if (!m || !w) return {};
    Rect s = ws.screen_rect(w);
    Placed p = place(layout_items(m->items), open[k].first, s.height());
    for (Rect& r : p.rows)
      if (!r.empty()) r = gfx::offset(r, s.left, s.top);
    return p;
  }

  void set_first(Level& level, size_t first) {
    if (level.first == first) return;
    level.first = first;
    ws.set_property(level.window, "#first", first);
    ws.invalidate(level.window, std::nullopt, false);
  }

  void set_hot(Level& level, int hot) {
    if (level.hot == hot) return;
    level.hot = hot;
    ws.set_property(level.window, "#hot", uint64_t(int64_t(hot)));
    ws.invalidate(level.window, std::nullopt, false);
    // A row lit by the keyboard is scrolled into view.
    size_t k = size_t(&level - open.data());
    for (size_t guard = 0; hot >= 0 && guard < 0x10000; ++guard) {
      Placed p = placed(k);
      if (size_t(hot) >= p.rows.size() || !p.rows[size_t(hot)].empty()) break;
      set_first(level, size_t(hot) < level.first ? size_t(hot) : level.first + 1);
    }
  }

  void close_from(size_t k) {
    while (open.size() > k) {
      ws.destroy(open.back().window);
      open.pop_back();
    }
  }

  // Opens `menu` with its top-left at a frame point, or, when `beside` is
  // given, to the right of that rectangle (to its left when there is no
  // room), after the owner has had its init-menu-popup.
  bool open_menu(Handle menu, int position, Pt at, std::optional<Rect> beside) {
    if (owner) {
      ws.send(owner, msg::InitMenuPopup, menu, position);
      if (!ws.alive(owner)) {
        finish(0);
        return false;
      }
    }
    Menu* m = ws.find_menu(menu);
    if (!m || done) return false;
    MenuLayout layout = layout_items(m->items);
    Window* desk = ws.find(ws.desktop_);
    Rect area = gfx::offset(ws.client_of(desk), 0, 0);  // the desktop's client on the frame
    int32_t width = std::min(layout.width, area.width()), height = std::min(layout.height, area.height());
    if (beside) {
      at = {beside->right, beside->top - 2};
      if (at.x + width > area.right) at.x = beside->left - width;
    }
    at.x = std::clamp(at.x, area.left, std::max(area.left, area.right - width));
    at.y = std::clamp(at.y, area.top, std::max(area.top, area.bottom - height));
    Rect r{at.x - area.left, at.y - area.top, at.x - area.left + width, at.y - area.top + height};
    Handle win = ws.create({"#menu", "", kPopup | kVisible, kTopmost, r, 0, 0});
    if (!win) return false;
    ws.set_property(win, "#menu", menu);
    ws.set_property(win, "#hot", uint64_t(int64_t(-1)));
    open.push_back({menu, win, -1});
    return true;
  }

  // Which open pop-up and row a frame point is on, innermost first; the
  // row is -1 on a pop-up's border.
  std::optional<std::pair<size_t, int>> at(Pt p) {
    for (size_t k = open.size(); k-- > 0;) {
      Window* w = ws.find(open[k].window);
      if (!w) continue;
      Rect s = ws.screen_rect(w);
      if (!s.contains(p)) continue;
      Placed rows = placed(k);
      for (size_t i = 0; i < rows.rows.size(); ++i)
        if (rows.rows[i].contains(p)) return std::pair{k, int(i)};
      return std::pair{k, -1};
    }
    return std::nullopt;
  }

  int title_at(Pt p) {
    Window* w = bar();
    if (!w) return -1;
    std::vector<Rect> titles = ws.bar_titles(w);
    for (size_t i = 0; i < titles.size(); ++i)
      if (titles[i].contains(p)) return int(i);
    return -1;
  }

  std::optional<MenuItem> item(size_t k, int row) {
    if (k >= open.size() || row < 0) return std::nullopt;
    return ws.menu_item(open[k].menu, size_t(row));
  }

  // The row's submenu opened beside it, when it has one and is enabled.
  void open_submenu(size_t k, int row, bool highlight_first) {
    auto it = item(k, row);
    if (!it || !it->submenu || (it->flags & kMenuDisabled)) return;
    if (open.size() > k + 1 && open[k + 1].menu == it->submenu) return;
    close_from(k + 1);
    Placed rows = placed(k);
    if (size_t(row) >= rows.rows.size() || rows.rows[size_t(row)].empty()) return;
    if (open_menu(it->submenu, row, {}, rows.rows[size_t(row)]) && highlight_first) step(open.size() - 1, +1);
  }

  // Opens the bar's menu at `index` (a bar entry without a menu only
  // shows pressed).
  void open_title(int index, bool highlight_first) {
    Window* w = bar();
    if (!w) return finish(0);
    close_from(0);
    std::vector<Rect> titles = ws.bar_titles(w);
    if (index < 0 || size_t(index) >= titles.size()) return;
    bar_index = index;
    w->bar_hot = index;
    w->frame_dirty = true;
    auto it = ws.menu_item(w->menu_bar, size_t(index));
    if (it && it->submenu && !(it->flags & kMenuDisabled) &&
        open_menu(it->submenu, index, {titles[size_t(index)].left, titles[size_t(index)].bottom + 1}, std::nullopt) &&
        highlight_first)
      step(0, +1);
  }

  // The bar's next or previous title opened, going round (the bar may
  // have changed meanwhile, even emptied).
  void next_title(int direction) {
    Window* w = bar();
    size_t n = w ? ws.bar_titles(w).size() : 0;
    if (n == 0) return;
    size_t from = bar_index < 0 ? 0 : std::min(size_t(bar_index), n - 1);
    open_title(int((from + n + size_t(direction)) % n), true);
  }

  // Moves the highlight of pop-up k to the next selectable row.
  void step(size_t k, int direction) {
    if (k >= open.size()) return;
    size_t n = ws.menu_item_count(open[k].menu);
    if (n == 0) return;
    int hot = open[k].hot;
    for (size_t tries = 0; tries < n; ++tries) {
      hot = hot < 0 ? (direction > 0 ? 0 : int(n) - 1) : int((size_t(hot) + n + size_t(direction)) % n);
      if (auto it = item(k, hot); it && selectable(*it)) return set_hot(open[k], hot);
    }
  }

  // A row chosen by click or key: a submenu opens, an enabled item ends
  // the tracking with its id.
  void choose(size_t k, int row, bool by_keyboard) {
    auto it = item(k, row);
    if (!it) return;
    if (it->submenu) return open_submenu(k, row, by_keyboard);
    if (choosable(*it)) finish(it->id);
  }

  void mouse(const InputEvent& e) {
    auto where = at(e.at);
    if (e.kind == InputEvent::Kind::ButtonUp) {
      if (where && where->second >= 0) {
        choose(where->first, where->second, false);
      } else if (!where && bar() && bar_index >= 0 && title_at(e.at) == bar_index && open.empty()) {
        // A bar entry that is a command itself.
        auto it = ws.menu_item(bar()->menu_bar, size_t(bar_index));
        if (it && choosable(*it)) finish(it->id);
      }
      return;
    }
    if (where) {
      auto [k, row] = *where;
      if (row < 0) {
        // On the arrow strips of a pop-up too tall to show whole, a row on.
        Placed rows = placed(k);
        Rect s = ws.screen_rect(ws.find(open[k].window));
        if (rows.up && e.at.y < s.top + kArrowStrip) set_first(open[k], open[k].first - 1);
        if (rows.down && e.at.y >= s.bottom - kArrowStrip) set_first(open[k], open[k].first + 1);
        if (k + 1 == open.size()) set_hot(open[k], -1);
        return;
      }
      if (item(k, row) && selectable(*item(k, row))) {
        set_hot(open[k], row);
        if (item(k, row)->submenu) open_submenu(k, row, false);
        else close_from(k + 1);
      } else if (k + 1 == open.size()) {
        set_hot(open[k], -1);
      }
      return;
    }
    int title = title_at(e.at);
    if (title >= 0) {
      if (e.kind == InputEvent::Kind::ButtonDown && title == bar_index) return finish(0);
      if (title != bar_index) open_title(title, false);
      return;
    }
    if (e.kind == InputEvent::Kind::ButtonDown) return finish(0);
    if (!open.empty() && open.size() == 1) set_hot(open.back(), -1);
  }

  void key(const InputEvent& e) {
    if (e.kind != InputEvent::Kind::KeyDown) return;
    size_t k = open.empty() ? 0 : open.size() - 1;
    switch (e.vk) {
      case 0x1B:  // Escape: one level back, out from the last
        if (open.size() > 1) return close_from(open.size() - 1);
        return finish(0);
      case 0x26: return step(k, -1);  // up
      case 0x28: return step(k, +1);  // down
      case 0x27:                      // right: into a submenu, else the next title
        if (!open.empty() && open[k].hot >= 0 && item(k, open[k].hot) && item(k, open[k].hot)->submenu)
          return open_submenu(k, open[k].hot, true);
        return next_title(+1);
      case 0x25:  // left: out of a submenu, else the title before
        if (open.size() > 1) return close_from(open.size() - 1);
        return next_title(-1);
      case 0x0D:
        if (!open.empty() && open[k].hot >= 0) return choose(k, open[k].hot, true);
        return;
      default:
        break;
    }
    // A letter or digit: the row whose label marks it.
    unsigned char c = e.vk >= 'A' && e.vk <= 'Z' ? uint8_t(e.vk + 32) : e.vk <= '9' && e.vk >= '0' ? uint8_t(e.vk) : 0;
    if (!c || open.empty()) return;
    for (size_t i = 0; i < ws.menu_item_count(open[k].menu); ++i)
      if (label_key(ws.menu_item(open[k].menu, i)->text) == c) {
        set_hot(open[k], int(i));
        return choose(k, int(i), true);
      }
  }

  // Whether what the tracking shows is still there.
  bool intact() {
    if ((bar_window && !bar()) || (owner && !ws.alive(owner))) return false;
    for (auto& level : open)
      if (!ws.alive(level.window) || !ws.menu_alive(level.menu)) return false;
    return true;
  }

  void run() {
    InputEvent e;
    WindowSystem::ModalWaits waits;
    if (owner)
      waits.idle = [&] { ws.send(owner, msg::EnterIdle, 2, int64_t(open.empty() ? 0 : open.back().window)); };
    waits.still = [&] { return intact(); };
    while (!done) {
      if (!intact() || !ws.modal_input(e, waits)) return finish(0);
      if (e.kind == InputEvent::Kind::KeyDown || e.kind == InputEvent::Kind::KeyUp) key(e);
      else if (e.button <= 1 || e.kind == InputEvent::Kind::MouseMove) mouse(e);  // left or right
      else if (e.kind == InputEvent::Kind::ButtonDown && !at(e.at)) finish(0);     // another button outside
    }
  }
};

int64_t menu_window_proc(WindowSystem& ws, const Message& m) {
  if (m.message != msg::Paint) return m.message == msg::MouseActivate ? kMaNoActivate : WindowSystem::default_proc(ws, m);
  PaintScope paint(ws, m.window);
  WindowDC& dc = paint.dc();
  gfx::Surface& s = dc.dc.surface();
  Rect r = ws.client_rect(m.window);
  dc.dc.fill_rect(dc.client(r), gfx::Brush::solid(s.map_color(kFace)));
  dc.dc.frame_rect(dc.client(r), gfx::Brush::solid(s.map_color(kFrame)));
  Handle menu = Handle(ws.property(m.window, "#menu").value_or(0));
  int hot = int(int64_t(ws.property(m.window, "#hot").value_or(uint64_t(-1))));
  std::vector<WindowSystem::MenuItem> items;
  for (size_t i = 0; i < ws.menu_item_count(menu); ++i) items.push_back(*ws.menu_item(menu, i));
  size_t first = size_t(ws.property(m.window, "#first").value_or(0));
  Placed rows = place(layout_items(items), first, r.height());
  for (size_t i = 0; i < items.size(); ++i)
    if (!rows.rows[i].empty()) draw_item(dc.dc, s, dc.client(rows.rows[i]), items[i], int(i) == hot);
  gfx::Pixel arrow = s.map_color(kText);
  if (rows.up) draw_arrow(dc.dc, dc.client(Pt{r.width() / 2, 2}), true, arrow);
  if (rows.down) draw_arrow(dc.dc, dc.client(Pt{r.width() / 2, r.height() - 3}), false, arrow);
  return 0;
}

uint32_t WindowSystem::track_popup(Handle menu, Pt at, Handle owner, bool post_command) {
  if (menu_depth_ > 0 || !find_menu(menu)) return 0;
  release_capture();
  uint32_t chosen;
  {
    ++menu_depth_;
    MenuTracker t(*this, find(owner) ? owner : 0);
    AtExit done{[&] {
      t.close_from(0);
      --menu_depth_;
    }};
    t.open_menu(menu, 0, at, std::nullopt);
    if (!t.open.empty()) t.run();
    chosen = t.chosen;
  }
  update_all();
  if (chosen && post_command && alive(owner)) post(owner, msg::Command, chosen, 0);
  return chosen;
}

uint32_t WindowSystem::track_menu_bar(Handle h, int index, bool by_keyboard) {
  Window* w = find(h);
  if (menu_depth_ > 0 || !w || !find_menu(w->menu_bar) || index < 0 || size_t(index) >= menu_item_count(w->menu_bar))
    return 0;
  release_capture();
  uint32_t chosen;
  {
    ++menu_depth_;
    MenuTracker t(*this, h);
    AtExit done{[&] {
      t.close_from(0);
      --menu_depth_;
      if (Window* bar = find(h)) {
        bar->bar_hot = -1;
        bar->frame_dirty = true;
      }
    }};
    t.bar_window = h;
    t.open_title(index, by_keyboard);
    t.run();
    chosen = t.chosen;
  }
  update_all();
  if (chosen && alive(h)) post(h, msg::Command, chosen, 0);
  return chosen;
}

}  // namespace platform
