#include "platform/window_internal.hpp"

#include <algorithm>

namespace platform {

namespace {
using namespace chrome;
constexpr Tick kDoubleClickTime = 500;
constexpr int32_t kDoubleClickSlop = 4;

// Window rectangles stay within a range where no sum of coordinates can
// overflow, whatever a caller asks for.
Rect sane(Rect r) {
  constexpr int32_t kFar = 1 << 20;
  r = {std::clamp(r.left, -kFar, kFar), std::clamp(r.top, -kFar, kFar), std::clamp(r.right, -kFar, kFar),
       std::clamp(r.bottom, -kFar, kFar)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

uint32_t button_message(uint8_t button, bool down) {
  uint32_t base = button == 0 ? msg::LButtonDown : button == 1 ? msg::RButtonDown : msg::MButtonDown;
  return down ? base : base + 1;
}
}  // namespace

WindowSystem::WindowSystem(Backend& backend, Pt frame_size) : backend_(backend) {
  if (frame_size.x <= 0 || frame_size.y <= 0) frame_size = backend.screen_size();
  frame_size.x = std::clamp(frame_size.x, 1, gfx::Surface::kMaxSide);
  frame_size.y = std::clamp(frame_size.y, 1, gfx::Surface::kMaxSide);
  // An 8-bit screen gets an 8-bit frame; its palette is its owner's to set.
  frame_ = gfx::Surface(frame_size.x, frame_size.y,
                        backend.screen_depth() == 8 ? gfx::Format::Index8 : gfx::Format::XRGB8888);
  custom_colors_.fill(0xFFFFFF);
  // The system's own classes, registered first so that no other takes
  // their names.
  for (WindowClass c : {WindowClass{"#desktop", nullptr, 0, kDesktop}, WindowClass{"#menu", menu_window_proc, 0, std::nullopt},
                        WindowClass{"#alert", nullptr, 0, std::nullopt}, WindowClass{"#color", nullptr, 0, std::nullopt}}) {
    std::string name = c.name;
    classes_.emplace(name, std::move(c));
  }
  auto d = std::make_unique<Window>();
  d->cls = &classes_.at("#desktop");
  d->style = kVisible;
  d->rect = frame_.bounds();
  desktop_ = alloc(std::move(d));
  invalidate(desktop_, std::nullopt, true);
}

WindowSystem::~WindowSystem() = default;

Handle WindowSystem::alloc(std::unique_ptr<Window> win) {
  uint32_t index;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    if (slots_.size() >= 0xFFFE) return 0;
    index = uint32_t(slots_.size());
    slots_.emplace_back();
  }
  Slot& s = slots_[index];
  win->handle = (uint32_t(s.generation) << 16) | (index + 1);
  s.window = std::move(win);
  return s.window->handle;
}

WindowSystem::Window* WindowSystem::find(Handle h) const {
  uint32_t index = (h & 0xFFFF);
  if (index == 0 || index > slots_.size() || (h & 0x80000000u)) return nullptr;
  const Slot& s = slots_[index - 1];
  if (!s.window || s.generation != (h >> 16)) return nullptr;
  return s.window.get();
}

bool WindowSystem::register_class(WindowClass c) {
  if (c.name.empty() || classes_.count(c.name)) return false;
  std::string name = c.name;
  classes_.emplace(name, std::move(c));
  return true;
}

// A top-level window goes behind the topmost ones unless it is topmost
// itself; an owned window stays in front of its owner.
namespace {
int layer(const WindowSystem::Window* w) {
  return (w->ex_style & kTopmost) ? 3 : (w->ex_style & kFloating) ? 2 : (w->ex_style & kBackmost) ? 0 : 1;
}
}  // namespace

void WindowSystem::z_insert(Window* parent, Window* w, Window* behind) {
  auto& list = parent->children;
  list.erase(std::remove(list.begin(), list.end(), w), list.end());
  // The front of its layer, or right behind `behind` if that lies in it.
  auto at = list.begin();
  while (at != list.end() && layer(*at) > layer(w)) ++at;
  if (behind != nullptr) {
    auto b = std::find(list.begin(), list.end(), behind);
    if (b != list.end() && layer(*b) == layer(w)) at = b + 1;
    else if (b == list.end() || layer(*b) < layer(w))
      while (at != list.end() && layer(*at) == layer(w)) ++at;  // the back of its layer
  }
  list.insert(at, w);
  // Owned windows come along in front of their owner.
  std::vector<Window*> owned;
  for (Window* c : list)
    if (c != w && c->owner == w->handle) owned.push_back(c);
  for (Window* o : owned) z_insert(parent, o);
}

Handle WindowSystem::create(const CreateParams& p) {
  auto cls = classes_.find(p.class_name);
  if (cls == classes_.end()) return 0;
  Window* parent = find(p.parent ? p.parent : desktop_);
  if (!parent || parent->destroying) return 0;
  if ((p.style & kChild) && !p.parent) return 0;
  auto win = std::make_unique<Window>();
  win->cls = &cls->second;
  win->title = p.title;
  win->style = p.style & ~kVisible;
  win->ex_style = p.ex_style;
  win->rect = sane(p.rect);
  win->parent = parent;
  if (Window* o = find(p.owner)) win->owner = top_level(o)->handle;
  Window* w = win.get();
  Handle h = alloc(std::move(win));
  if (!h) return 0;
  if (!(p.style & kChild)) {
    for (Handle m : modals_)
      if (m != h) ++w->modal_count;
  }
  z_insert(parent, w);
  if (send(h, msg::Create) == -1) {
    destroy(h);
    return 0;
  }
  if (!alive(h)) return 0;
  Rect c = client_of(w);
  send(h, msg::Size, 0, point_param({c.width(), c.height()}));
  if (alive(h) && (p.style & kVisible)) show(h, true);
  return alive(h) ? h : 0;
}

void WindowSystem::destroy_tree(Window* w) {
  w->destroying = true;
  Handle h = w->handle;
  send(h, msg::Destroy);
  // Children as they are after the procedure ran.
  while (Window* c = find(h) ? (w->children.empty() ? nullptr : w->children.front()) : nullptr) {
    if (c->destroying) break;
    destroy_tree(c);
  }
}

bool WindowSystem::destroy(Handle h) {
  Window* w = find(h);
  if (!w || w == find(desktop_) || w->destroying) return false;
  std::optional<Rect> uncovered;
  if (visible(h)) uncovered = screen_rect(w);
  // Owned windows go first.
  std::vector<Handle> owned;
  for (auto& s : slots_)
    if (s.window && s.window->owner == h) owned.push_back(s.window->handle);
  for (Handle o : owned) destroy(o);
  if (!(w = find(h))) return true;
  destroy_tree(w);
  // Release everything the tree held, children before parents.
  std::vector<Window*> all{w};
  for (size_t i = 0; i < all.size(); ++i)
    for (Window* c : all[i]->children) all.push_back(c);
  auto& siblings = w->parent->children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), w), siblings.end());
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    Handle gone = (*it)->handle;
    if (capture_ == gone) capture_ = 0;
    if (focus_ == gone) focus_ = 0;
    if (active_ == gone) active_ = 0;
    std::erase_if(timers_, [&](const Timer& t) { return t.window == gone; });
    std::erase_if(posted_, [&](const Message& m) { return m.window == gone; });
    std::erase(modals_, gone);
    Slot& s = slots_[(gone & 0xFFFF) - 1];
    s.window.reset();
    if (++s.generation > 0x7FFF) s.generation = 1;  // the top bit marks menu and cursor handles
    free_.push_back((gone & 0xFFFF) - 1);
  }
  if (uncovered) {
    invalidate_screen(gfx::Region(*uncovered));
    mark_dirty(*uncovered);
  }
  return true;
}

Handle WindowSystem::parent(Handle h) const {
  Window* w = find(h);
  return w && w->parent && w->parent->handle != desktop_ ? w->parent->handle : 0;
}
Handle WindowSystem::owner(Handle h) const {
  Window* w = find(h);
  return w ? w->owner : 0;
}
std::vector<Handle> WindowSystem::children(Handle h) const {
  std::vector<Handle> out;
  if (Window* w = find(h))
    for (Window* c : w->children) out.push_back(c->handle);
  return out;
}
uint32_t WindowSystem::style(Handle h) const {
  Window* w = find(h);
  return w ? w->style | (enabled(h) ? 0u : uint32_t(kDisabled)) : 0u;
}
uint32_t WindowSystem::ex_style(Handle h) const {
  Window* w = find(h);
  return w ? w->ex_style : 0;
}
std::string WindowSystem::title(Handle h) const {
  Window* w = find(h);
  return w ? w->title : std::string();
}
void WindowSystem::set_title(Handle h, std::string_view t) {
  if (Window* w = find(h)) {
    w->title = t;
    w->frame_dirty = true;
  }
}

Rect WindowSystem::client_of(const Window* w) const {
  Rect r{0, 0, w->rect.width(), w->rect.height()};
  int32_t inset = frame_inset(w);
  r = {r.left + inset, r.top + inset, r.right - inset, r.bottom - inset};
  if ((w->style & kCaption) == kCaption) r.top += kCaptionHeight;
  if (w->menu_bar) r.top += bar_rows(w) * kMenuBarHeight;
  if (w->style & kVScroll) r.right -= kScrollBarWidth;
  if (w->style & kHScroll) r.bottom -= kScrollBarWidth;
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

Rect WindowSystem::screen_rect(const Window* w) const {
  Rect r = w->rect;
  for (const Window* p = w->parent; p; p = p->parent) {
    Rect c = client_of(p);
    r = gfx::offset(r, p->rect.left + c.left, p->rect.top + c.top);
  }
  return r;
}

Rect WindowSystem::window_rect(Handle h) const {
  Window* w = find(h);
  return w ? w->rect : Rect{};
}
Rect WindowSystem::client_rect(Handle h) const {
  Window* w = find(h);
  if (!w) return {};
  Rect c = client_of(w);
  return {0, 0, c.width(), c.height()};
}
Rect WindowSystem::screen_client(Handle h) const {
  Window* w = find(h);
  if (!w) return {};
  Rect s = screen_rect(w), c = client_of(w);
  return gfx::offset(c, s.left, s.top);
}

bool WindowSystem::visible(Handle h) const {
  for (Window* w = find(h); w; w = w->parent)
    if (!(w->style & kVisible)) return false;
  return find(h) != nullptr;
}

// What of a window shows on the frame: its rectangle within every
// ancestor's client area, less the windows in front of it and of its
// ancestors, and less its own children when only the client counts.
gfx::Region WindowSystem::visible_region(const Window* w, bool client_only) const {
  if (!visible(w->handle)) return {};
  Rect s = screen_rect(w);
  Rect area = s;
  if (client_only) {
    Rect c = client_of(w);
    area = gfx::offset(c, s.left, s.top);
  }
  for (const Window* p = w->parent; p; p = p->parent) {
    Rect ps = screen_rect(p), pc = client_of(p);
    area = gfx::intersect(area, gfx::offset(pc, ps.left, ps.top));
  }
  gfx::Region r(area);
  if (r.empty()) return r;
  for (const Window* c = w; c->parent; c = c->parent) {
    for (const Window* sib : c->parent->children) {
      if (sib == c) break;
      if (sib->style & kVisible) r = gfx::subtract(r, gfx::Region(screen_rect(sib)));
    }
  }
  if (client_only)
    for (const Window* ch : w->children)
      if (ch->style & kVisible) r = gfx::subtract(r, gfx::Region(screen_rect(ch)));
  return r;
}

void WindowSystem::invalidate_screen(const gfx::Region& area) {
  if (area.empty()) return;
  std::vector<Window*> todo{find(desktop_)};
  while (!todo.empty()) {
    Window* w = todo.back();
    todo.pop_back();
    if (!(w->style & kVisible)) continue;
    Rect s = screen_rect(w);
    if (!area.intersects(s)) continue;
    if (w->handle != desktop_) w->frame_dirty = true;
    Rect c = client_of(w);
    gfx::Region part = gfx::intersect(area, visible_region(w, true));
    if (!part.empty()) {
      part.offset(-(s.left + c.left), -(s.top + c.top));
      w->update = gfx::unite(w->update, part);
      w->erase = true;
    }
    for (Window* ch : w->children) todo.push_back(ch);
  }
}

bool WindowSystem::move(Handle h, Rect r) {
  Window* w = find(h);
  if (!w || h == desktop_) return false;
  r = sane(r);
  send(h, msg::PosChanging);
  if (!(w = find(h))) return false;
  bool shown = visible(h);
  Rect before = screen_rect(w);
  Rect old = w->rect;
  w->rect = r;
  if (shown) {
    invalidate_screen(gfx::unite(gfx::Region(before), gfx::Region(screen_rect(w))));
    mark_dirty(before);
  }
  send(h, msg::PosChanged);
  if (!(w = find(h))) return true;
  if (old.left != r.left || old.top != r.top) send(h, msg::Move, 0, point_param({r.left, r.top}));
  if (old.width() != r.width() || old.height() != r.height()) {
    Rect c = client_of(w);
    send(h, msg::Size, 0, point_param({c.width(), c.height()}));
  }
  return true;
}

bool WindowSystem::show(Handle h, bool on) {
  Window* w = find(h);
  if (!w || h == desktop_) return false;
  bool was = w->style & kVisible;
  if (was == on) return was;
  send(h, msg::ShowWindow, on);
  if (!(w = find(h))) return was;
  if (on) {
    w->style |= kVisible;
    invalidate_screen(gfx::Region(screen_rect(w)));
  } else {
    Rect s = screen_rect(w);
    w->style &= ~kVisible;
    invalidate_screen(gfx::Region(s));
    mark_dirty(s);
    if (focus_ && is_descendant(focus_, h)) focus_ = 0;
    if (capture_ && is_descendant(capture_, h)) capture_ = 0;
  }
  return was;
}

void WindowSystem::bring_to_top(Handle h) { reorder(h, nullptr); }

bool WindowSystem::place_behind(Handle h, Handle sibling) {
  Window* w = find(h);
  Window* s = sibling ? find(sibling) : nullptr;
  if (!w || !w->parent || (sibling && (!s || s->parent != w->parent || s == w))) return false;
  // At the back: behind the last sibling of its layer.
  if (!s)
    for (Window* c : w->parent->children)
      if (c != w && layer(c) == layer(w)) s = c;
  reorder(h, s ? s : w);
  return true;
}

void WindowSystem::reorder(Handle h, Window* behind) {
  Window* w = find(h);
  if (!w || !w->parent) return;
  std::vector<Window*> before = w->parent->children;
  z_insert(w->parent, w, behind == w ? nullptr : behind);
  if (before == w->parent->children) return;
  if (visible(h)) invalidate_screen(gfx::Region(screen_rect(w)));
  for (Window* c : w->parent->children)
    if (c->owner == h && (c->style & kVisible)) invalidate_screen(gfx::Region(screen_rect(c)));
}

bool WindowSystem::set_property(Handle h, const std::string& name, uint64_t value) {
  Window* w = find(h);
  if (!w) return false;
  w->properties[name] = value;
  return true;
}
std::optional<uint64_t> WindowSystem::property(Handle h, const std::string& name) const {
  Window* w = find(h);
  if (!w) return std::nullopt;
  auto it = w->properties.find(name);
  if (it == w->properties.end()) return std::nullopt;
  return it->second;
}
bool WindowSystem::remove_property(Handle h, const std::string& name) {
  Window* w = find(h);
  return w && w->properties.erase(name) > 0;
}

Handle WindowSystem::window_at(Pt p) const {
  Window* w = find(desktop_);
  for (;;) {
    Rect s = screen_rect(w), c = client_of(w);
    if (!gfx::offset(c, s.left, s.top).contains(p)) return w->handle;
    Window* hit = nullptr;
    for (Window* ch : w->children)
      if ((ch->style & kVisible) && screen_rect(ch).contains(p)) {
        hit = ch;
        break;
      }
    if (!hit) return w->handle;
    w = hit;
  }
}

bool WindowSystem::set_window_proc(Handle h, WindowProc proc) {
  Window* w = find(h);
  if (!w) return false;
  w->proc = proc ? std::make_shared<WindowProc>(std::move(proc)) : nullptr;
  return true;
}

WindowSystem::Window* WindowSystem::top_level(Window* w) const {
  Window* d = find(desktop_);
  while (w && w->parent && w->parent != d) w = w->parent;
  return w;
}

bool WindowSystem::is_descendant(Handle h, Handle ancestor) const {
  for (Window* w = find(h); w; w = w->parent)
    if (w->handle == ancestor) return true;
  return false;
}

// Messages.

int64_t WindowSystem::send(Handle h, uint32_t message, uint64_t wparam, int64_t lparam) {
  Window* w = find(h);
  if (!w) return 0;
  Message m{h, message, wparam, lparam, backend_.now(), cursor_, current_keys_};
  // The class outlives the window, and a window's own procedure is held
  // here while it runs, so a procedure that destroys its own window
  // returns through live code.
  if (std::shared_ptr<WindowProc> own = w->proc) return (*own)(*this, m);
  const WindowClass* cls = w->cls;
  return cls->proc ? cls->proc(*this, m) : default_proc(*this, m);
}

bool WindowSystem::post(Handle h, uint32_t message, uint64_t wparam, int64_t lparam) {
  if (h && !find(h)) return false;
  posted_.push_back({h, message, wparam, lparam, backend_.now(), cursor_, current_keys_});
  return true;
}

void WindowSystem::post_quit(int code) {
  quit_ = true;
  quit_code_ = code;
}

int64_t WindowSystem::default_proc(WindowSystem& ws, const Message& m) {
  switch (m.message) {
    case msg::Close:
      // A window closes; the desktop, being the frame, ends the run.
      if (m.window == ws.desktop_) ws.post_quit(0);
      else ws.destroy(m.window);
      return 0;
    case msg::EraseBackground: {
      Window* w = ws.find(m.window);
      if (!w || !w->cls->background) return 0;
      WindowDC dc = ws.window_dc(m.window);
      if (w->painting) {
        gfx::Region clip = w->update;
        clip.offset(dc.origin.x, dc.origin.y);
        if (dc.dc.clip()) clip = gfx::intersect(clip, *dc.dc.clip());
        dc.dc.set_clip(clip);
      }
      dc.dc.fill_rect(dc.client(ws.client_rect(m.window)),
                      gfx::Brush::solid(ws.frame_.map_color(*w->cls->background)));
      return 1;
    }
    case msg::Paint:
      PaintScope{ws, m.window};
      return 0;
    case msg::MouseActivate:
      return kMaActivate;
    case msg::NcLButtonDown:
      return ws.nc_button_down(m);
    case msg::KeyUp:
    case msg::SysKeyUp: {
      // Alt pressed and let go with nothing between opens the menu bar, as
      // F10 does.
      if (m.wparam != 0x12 || !ws.alt_alone_) return 0;
      ws.alt_alone_ = false;
      Window* w = ws.find(m.window);
      while (w && !w->menu_bar) w = w->parent;
      if (!w) w = ws.find(ws.desktop_);
      if (w && w->menu_bar && ws.modals_.empty() && ws.menu_item_count(w->menu_bar) > 0)
        ws.track_menu_bar(w->handle, 0, true);
      return 0;
    }
    case msg::SysKeyDown:
    case msg::SysChar: {
      // F10, or Alt with the key of a title, opens the menu bar of the
      // window or of the nearest window above it with one, else the
      // desktop's.
      Window* w = ws.find(m.window);
      while (w && !w->menu_bar) w = w->parent;
      if (!w || !ws.modals_.empty()) return 0;
      if (m.message == msg::SysKeyDown) {
        if (m.wparam == 0x79) ws.track_menu_bar(w->handle, 0, true);
        return 0;
      }
      unsigned char key = uint8_t(m.wparam);
      if (key >= 'A' && key <= 'Z') key = uint8_t(key + 32);
      for (size_t i = 0; i < ws.menu_item_count(w->menu_bar); ++i)
        if (chrome::label_key(ws.menu_item(w->menu_bar, i)->text) == key) {
          ws.track_menu_bar(w->handle, int(i), true);
          break;
        }
      return 0;
    }
    default:
      return 0;
  }
}

bool WindowSystem::matches(const Message& m, Handle window, std::span<const Range> ranges) const {
  if (window && !is_descendant(m.window, window)) return false;
  if (ranges.empty()) return true;
  for (const Range& r : ranges)
    if (m.message >= r.first && m.message <= r.last) return true;
  return false;
}

// Input waits in the queue as the back-end gave it; which window it goes
// to (capture, the window under the point, the focus) is settled as it is
// taken, so that what the previous message did (capture, activation, a
// modal loop reading the input itself) counts.
void WindowSystem::queue_input(const InputEvent& given) {
  // Points from the host are held where arithmetic on them cannot overflow.
  InputEvent e = given;
  e.at = {std::clamp(e.at.x, -(1 << 20), 1 << 20), std::clamp(e.at.y, -(1 << 20), 1 << 20)};
  latest_keys_ = e.keys;
  if (e.kind != InputEvent::Kind::KeyDown && e.kind != InputEvent::Kind::KeyUp && e.kind != InputEvent::Kind::Close)
    latest_pointer_ = e.at;
  if (e.kind == InputEvent::Kind::Close) {
    // The host's window is the frame: the desktop hears that it is to close.
    posted_.push_back({desktop_, msg::Close, 0, 0, e.time, cursor_, e.keys});
    return;
  }
  if (e.kind == InputEvent::Kind::MouseMove && !input_.empty() && input_.back().kind == InputEvent::Kind::MouseMove) {
    input_.back() = e;  // moves coalesce
    return;
  }
  input_.push_back(e);
}

bool WindowSystem::resolve(const InputEvent& e, Message& m) const {
  m = {};
  m.time = e.time;
  m.keys = e.keys;
  if (e.kind == InputEvent::Kind::KeyDown || e.kind == InputEvent::Kind::KeyUp) {
    Handle target = focus_ ? focus_ : active_;
    if (!find(target)) return false;
    bool down = e.kind == InputEvent::Kind::KeyDown;
    bool sys = ((e.keys & kAlt) && !(e.keys & kControl)) || e.vk == 0x79;  // F10 is a system key
    m.window = target;
    m.message = sys ? (down ? msg::SysKeyDown : msg::SysKeyUp) : (down ? msg::KeyDown : msg::KeyUp);
    m.wparam = e.vk;
    m.lparam = 1 | (int64_t(e.extended) << 24) | (int64_t(sys && (e.keys & kAlt)) << 29) | (down ? 0 : (3ll << 30));
    m.at = cursor_;
    // The host's own character for this key, carried for translate.
    if (down && !e.text.empty()) m.host_char = uint16_t(0x100 | (unsigned char)e.text[0]);
    return true;
  }
  Handle target = capture_;
  uint32_t hit = kHtClient;
  if (!find(target)) {
    target = window_at(e.at);
    hit = hit_test(target, e.at);
    const Window* top = top_level(find(target));
    if (e.kind != InputEvent::Kind::MouseMove && top && top->modal_count > 0 && !(find(target)->style & kDisabled)) {
      // A button over a window that a modal window holds goes to the
      // desktop, whose owner tells the modal window that it was pressed
      // outside.
      target = desktop_;
      hit = kHtClient;
    } else if (!enabled(target)) {
      return false;
    }
  }
  bool client = hit == kHtClient;
  Rect sc = screen_client(target);
  Pt local = client ? Pt{e.at.x - sc.left, e.at.y - sc.top} : e.at;
  m.window = target;
  m.at = e.at;
  m.lparam = point_param(local);
  m.wparam = client ? e.keys : hit;
  if (e.kind == InputEvent::Kind::MouseMove) {
    m.message = client ? msg::MouseMove : msg::NcMouseMove;
    return true;
  }
  bool down = e.kind == InputEvent::Kind::ButtonDown;
  m.message = button_message(e.button, down);
  if (!client) {
    if (e.button != 0) return false;
    m.message = down ? msg::NcLButtonDown : msg::NcLButtonUp;
  } else if (down) {
    Window* w = find(target);
    if ((w->cls->style & kDoubleClicks) && last_click_.window == target && last_click_.message == m.message &&
        Tick(e.time - last_click_.time) <= kDoubleClickTime && std::abs(e.at.x - last_click_.at.x) <= kDoubleClickSlop &&
        std::abs(e.at.y - last_click_.at.y) <= kDoubleClickSlop)
      m.message += 2;
  }
  return true;
}

bool WindowSystem::take_input(Message& out, Handle window, std::span<const Range> ranges, bool remove) {
  bool unfiltered = !window && ranges.empty();
  for (size_t i = 0; i < input_.size();) {
    Message m;
    if (!resolve(input_[i], m)) {
      // Input for no window (a disabled one, no focus) is dropped by the
      // loop that takes everything; a filtered look passes it by.
      if (remove && unfiltered) input_.erase(input_.begin() + std::ptrdiff_t(i));
      else ++i;
      continue;
    }
    if (!matches(m, window, ranges)) {
      ++i;
      continue;
    }
    if (!remove) {
      out = m;
      return true;
    }
    InputEvent e = input_[i];
    input_.erase(input_.begin() + std::ptrdiff_t(i));
    current_keys_ = m.keys;
    current_time_ = m.time;
    if (e.kind != InputEvent::Kind::KeyDown && e.kind != InputEvent::Kind::KeyUp) cursor_ = e.at;
    if (e.kind == InputEvent::Kind::KeyDown) alt_alone_ = e.vk == 0x12;
    if (e.kind == InputEvent::Kind::ButtonDown) alt_alone_ = false;
    if (e.kind == InputEvent::Kind::ButtonDown) {
      // A double click ends a series, and so does a press elsewhere.
      if (m.message == msg::LButtonDblClk || m.message == msg::RButtonDblClk || m.message == msg::MButtonDblClk ||
          m.message == msg::NcLButtonDown)
        last_click_ = {};
      else
        last_click_ = {m.window, m.message, e.time, e.at};
      // A press on an inactive top-level window asks it whether to activate;
      // a floating one comes to the front of its layer and leaves the
      // activation where it is.
      Window* top = capture_ ? nullptr : top_level(find(m.window));
      if (top && (top->ex_style & kFloating)) {
        bring_to_top(top->handle);
      } else if (top && top->handle != desktop_ && top->handle != active_) {
        int64_t r = send(m.window, msg::MouseActivate, top->handle, m.message);
        if (r == kMaActivate || r == kMaActivateAndEat) activate(top->handle, kClickActive);
        if (r == kMaActivateAndEat || r == kMaNoActivateAndEat) {
          i = 0;
          continue;
        }
      }
      if (!find(m.window)) {
        i = 0;
        continue;
      }
    }
    out = m;
    return true;
  }
  return false;
}

void WindowSystem::pump_input() {
  std::vector<InputEvent> events;
  backend_.poll(events);
  for (const InputEvent& e : events) queue_input(e);
}

uint32_t WindowSystem::keys_now() {
  pump_input();
  return latest_keys_;
}

Pt WindowSystem::pointer_now() {
  pump_input();
  return latest_pointer_;
}

bool WindowSystem::next_event(InputEvent& e) {
  pump_input();
  if (input_.empty()) return false;
  e = std::move(input_.front());
  input_.pop_front();
  current_keys_ = e.keys;
  current_time_ = e.time;
  if (e.kind != InputEvent::Kind::KeyDown && e.kind != InputEvent::Kind::KeyUp) cursor_ = e.at;
  if (e.kind == InputEvent::Kind::ButtonDown) last_click_ = {};
  return true;
}

void WindowSystem::wait_idle(Tick max_ms) {
  flush();
  pump_input();
  if (!input_.empty() || !posted_.empty() || quit_) return;
  Tick now = backend_.now(), wait = max_ms;
  for (const Timer& t : timers_) wait = std::min<Tick>(wait, Tick(std::max(int32_t(t.due - now), 0)));
  if (wait > 0) backend_.wait_input(wait);
}

bool WindowSystem::modal_wait(Tick max_ms) {
  // Timers keep running while the user drags or chooses.
  Message m;
  Range timers{msg::Timer, msg::Timer};
  for (int n = 0; n < 64 && peek(m, 0, std::span(&timers, 1)); ++n) dispatch(m);
  flush();
  pump_input();
  if (!input_.empty()) return true;
  if (quit_ || backend_.input_exhausted()) return false;
  backend_.wait_input(max_ms);
  return true;
}

bool WindowSystem::modal_pause(ModalWaits& waits) {
  update_all();
  if (waits.idle && !waits.idle_told) {
    waits.idle_told = true;
    waits.idle();
    return !waits.still || waits.still();
  }
  return modal_wait(waits.interval ? waits.interval() : 50);
}

bool WindowSystem::modal_input(InputEvent& e, ModalWaits& waits) {
  while (!next_event(e))
    if (!modal_pause(waits)) return false;
  waits.idle_told = false;
  return true;
}

bool WindowSystem::modal_message(Message& m, ModalWaits& waits) {
  while (!peek(m))
    if (!modal_pause(waits)) return false;
  waits.idle_told = false;
  if (m.message == msg::Quit) {
    post_quit(int(m.wparam));
    return false;
  }
  return true;
}

bool WindowSystem::peek(Message& out, Handle window, std::span<const Range> ranges, bool remove) {
  pump_input();
  if (quit_ && !window) {
    bool wanted = ranges.empty();
    for (const Range& r : ranges) wanted |= msg::Quit >= r.first && msg::Quit <= r.last;
    if (wanted) {
      out = {0, msg::Quit, uint64_t(quit_code_), 0, backend_.now(), cursor_, current_keys_};
      if (remove) quit_ = false;
      return true;
    }
  }
  for (auto it = posted_.begin(); it != posted_.end(); ++it)
    if (matches(*it, window, ranges)) {
      out = *it;
      if (remove) posted_.erase(it);
      return true;
    }
  if (take_input(out, window, ranges, remove)) return true;
  // A paint for the first window, parents before children, front to back.
  std::vector<Window*> todo{find(desktop_)};
  for (size_t i = 0; i < todo.size(); ++i) {
    Window* w = todo[i];
    if (!(w->style & kVisible)) continue;
    Message m{w->handle, msg::Paint, 0, 0, backend_.now(), cursor_, current_keys_};
    if (!w->update.empty() && matches(m, window, ranges)) {
      out = m;
      return true;
    }
    for (Window* c : w->children) todo.push_back(c);
  }
  Tick now = backend_.now();
  for (Timer& t : timers_) {
    Message m{t.window, msg::Timer, t.id, 0, now, cursor_, current_keys_};
    if (tick_reached(now, t.due) && matches(m, window, ranges)) {
      out = m;
      if (remove) t.due = now + t.interval;
      return true;
    }
  }
  return false;
}

int64_t WindowSystem::dispatch(const Message& m) {
  if (m.message != msg::Paint) return send(m.window, m.message, m.wparam, m.lparam);
  flush_frames();
  int64_t r = send(m.window, m.message, m.wparam, m.lparam);
  validate_if_unpainted(m.window);
  return r;
}

// Key translation.

namespace {
char shifted_digit(int d) { return ")!@#$%^&*("[d]; }
std::optional<unsigned char> key_char(uint16_t vk, uint32_t keys, bool caps) {
  bool shift = keys & kShift, ctrl = keys & kControl;
  if (vk >= 'A' && vk <= 'Z') {
    if (ctrl) return (unsigned char)(vk - 'A' + 1);
    return (unsigned char)((shift != caps) ? vk : vk + 32);
  }
  if (ctrl) return std::nullopt;
  if (vk >= '0' && vk <= '9') return (unsigned char)(shift ? shifted_digit(vk - '0') : vk);
  if (vk >= 0x60 && vk <= 0x69) return (unsigned char)('0' + vk - 0x60);
  switch (vk) {
    case 0x08: return '\b';
    case 0x09: return '\t';
    case 0x0D: return '\r';
    case 0x1B: return 0x1B;
    case 0x20: return ' ';
    case 0x6A: return '*';
    case 0x6B: return '+';
    case 0x6D: return '-';
    case 0x6E: return '.';
    case 0x6F: return '/';
    case 0xBA: return shift ? ':' : ';';
    case 0xBB: return shift ? '+' : '=';
    case 0xBC: return shift ? '<' : ',';
    case 0xBD: return shift ? '_' : '-';
    case 0xBE: return shift ? '>' : '.';
    case 0xBF: return shift ? '?' : '/';
    case 0xC0: return shift ? '~' : '`';
    case 0xDB: return shift ? '{' : '[';
    case 0xDC: return shift ? '|' : '\\';
    case 0xDD: return shift ? '}' : ']';
    case 0xDE: return shift ? '"' : '\'';
    default: return std::nullopt;
  }
}
}  // namespace

bool WindowSystem::translate(const Message& m) {
  if (m.message != msg::KeyDown && m.message != msg::SysKeyDown) return false;
  uint32_t char_msg = m.message == msg::KeyDown ? msg::Char : msg::SysChar;
  // The character the host produced for this key wins over the key table.
  if (m.host_char) {
    posted_.push_front({m.window, char_msg, uint64_t(m.host_char & 0xFF), m.lparam, m.time, m.at, m.keys});
    return true;
  }
  auto ch = key_char(uint16_t(m.wparam), m.keys, caps_lock_);
  if (!ch) return false;
  posted_.push_front({m.window, char_msg, *ch, m.lparam, m.time, m.at, m.keys});
  return true;
}

// Painting.

void WindowSystem::invalidate(Handle h, const std::optional<Rect>& area, bool erase) {
  Window* w = find(h);
  if (!w) return;
  Rect c = client_rect(h);
  Rect r = area ? gfx::intersect(*area, c) : c;
  if (r.empty()) return;
  w->update = gfx::unite(w->update, gfx::Region(r));
  w->erase |= erase;
  if (!area) w->frame_dirty = true;
}

void WindowSystem::validate(Handle h) {
  if (Window* w = find(h)) {
    w->update.set_empty();
    w->erase = false;
  }
}

void WindowSystem::validate(Handle h, Rect area) {
  if (Window* w = find(h)) w->update = gfx::subtract(w->update, gfx::Region(area));
}

bool WindowSystem::has_update(Handle h) const {
  Window* w = find(h);
  return w && !w->update.empty();
}

WindowDC WindowSystem::window_dc(Handle h) {
  Window* w = find(h);
  WindowDC out{gfx::DC(frame_), {}};
  if (!w) {
    out.dc.set_clip(gfx::Region());
    return out;
  }
  Rect sc = screen_client(h);
  out.origin = {sc.left, sc.top};
  gfx::Region vis = visible_region(w, true);
  mark_dirty(vis.bounds());
  out.dc.set_clip(vis);
  return out;
}

void WindowSystem::scroll_window(Handle h, int32_t dx, int32_t dy, const std::optional<Rect>& area) {
  Window* w = find(h);
  if (!w || (dx == 0 && dy == 0)) return;
  dx = std::clamp(dx, -(1 << 20), 1 << 20), dy = std::clamp(dy, -(1 << 20), 1 << 20);
  Rect local = area ? gfx::intersect(*area, client_rect(h)) : client_rect(h);
  if (local.empty()) return;
  Rect sc = screen_client(h);
  gfx::Region vis = gfx::intersect(visible_region(w, true), gfx::Region(gfx::offset(local, sc.left, sc.top)));
  // Pixels move where both their place and where they come from show.
  gfx::Region moved = vis;
  moved.offset(dx, dy);
  moved = gfx::intersect(moved, vis);
  if (!moved.empty()) {
    Rect b = moved.bounds();
    gfx::Surface copy(b.width(), b.height(), frame_.format());
    copy.palette() = frame_.palette();
    gfx::DC(copy).blit(copy.bounds(), frame_, {b.left - dx, b.top - dy});
    gfx::DC dc(frame_);
    dc.set_clip(moved);
    dc.blit(b, copy, {0, 0});
    mark_dirty(b);
  }
  // The pending update inside the area moves with the pixels.
  gfx::Region inside = gfx::intersect(w->update, gfx::Region(local));
  inside.offset(dx, dy);
  w->update = gfx::unite(gfx::subtract(w->update, gfx::Region(local)), gfx::intersect(inside, gfx::Region(local)));
  gfx::Region exposed = gfx::subtract(vis, moved);
  exposed.offset(-sc.left, -sc.top);
  if (!exposed.empty()) {
    w->update = gfx::unite(w->update, exposed);
    w->erase = true;
  }
}

WindowDC WindowSystem::begin_paint(Handle h, PaintInfo& info) {
  WindowDC out = window_dc(h);
  Window* w = find(h);
  if (!w) return out;
  draw_frame(w);
  gfx::Region clip = w->update;
  info.paint = clip.bounds();
  info.erase = w->erase;
  w->update.set_empty();
  w->painting = true;
  clip.offset(out.origin.x, out.origin.y);
  if (out.dc.clip()) clip = gfx::intersect(clip, *out.dc.clip());
  if (info.erase) {
    w->erase = false;
    w->update = gfx::Region(info.paint);  // the erase sees the area being painted
    send(h, msg::EraseBackground);
    if ((w = find(h))) w->update.set_empty();
  }
  out.dc.set_clip(clip);
  return out;
}

void WindowSystem::end_paint(Handle h) {
  if (Window* w = find(h)) w->painting = false;
}

void WindowSystem::flush_frames() {
  std::vector<Window*> todo{find(desktop_)};
  for (size_t i = 0; i < todo.size(); ++i) {
    Window* w = todo[i];
    if (!(w->style & kVisible)) continue;
    draw_frame(w);
    for (Window* c : w->children) todo.push_back(c);
  }
}

void WindowSystem::flush() {
  flush_frames();
  if (dirty_.empty()) return;
  gfx::Region all;
  for (Rect r : dirty_) all = gfx::unite(all, gfx::Region(gfx::intersect(r, frame_.bounds())));
  dirty_.clear();
  std::vector<Rect> rects = all.rects();
  if (!rects.empty()) backend_.present(frame_, rects);
}

void WindowSystem::update_all() {
  Message m;
  Range paint{msg::Paint, msg::Paint};
  for (int guard = 0; guard < 100000 && peek(m, 0, std::span(&paint, 1), true); ++guard) {
    dispatch(m);
  }
  flush();
}

void WindowSystem::validate_if_unpainted(Handle h) {
  // A procedure that ignores paint would otherwise be asked forever.
  if (Window* w = find(h); w && !w->update.empty() && !w->painting) PaintScope{*this, h};
}

// Input state.

Handle WindowSystem::set_capture(Handle h) {
  Handle old = capture_;
  if (!find(h)) return old;
  capture_ = h;
  if (old && old != h) send(old, msg::CaptureChanged, 0, h);
  return old;
}

void WindowSystem::release_capture() {
  Handle old = capture_;
  capture_ = 0;
  if (old) send(old, msg::CaptureChanged, 0, 0);
}

Handle WindowSystem::set_focus(Handle h) {
  Handle old = focus_;
  if (h == old) return old;
  if (h && (!find(h) || !enabled(h))) return old;
  if (h) {
    Window* top = top_level(find(h));
    if (top && top->handle != active_) activate(top->handle);
    if (!find(h)) return old;
  }
  old = focus_;
  if (h == old) return old;
  focus_ = h;
  if (old && find(old)) send(old, msg::KillFocus, h);
  if (h && focus_ == h) send(h, msg::SetFocus, old);
  return old;
}

bool WindowSystem::activate(Handle h, uint32_t how) {
  Window* w = find(h);
  if (!w || h == desktop_ || !enabled(h)) return false;
  w = top_level(w);
  h = w->handle;
  Handle old = active_;
  bring_to_top(h);
  if (old == h) return true;
  active_ = h;
  // Each hears first that its frame changes (non-client activation),
  // then that it is activated or deactivated.
  if (Window* o = find(old)) {
    o->frame_dirty = true;
    send(old, msg::NcActivate, 0, h);
    if (find(old)) send(old, msg::Activate, kInactive, h);
  }
  if (!(w = find(h)) || active_ != h) return false;
  w->frame_dirty = true;
  send(h, msg::NcActivate, 1, old);
  if (!find(h) || active_ != h) return false;
  send(h, msg::Activate, how, old);
  if (active_ == h && (!focus_ || !is_descendant(focus_, h))) set_focus(h);
  return true;
}

bool WindowSystem::enabled(Handle h) const {
  Window* w = find(h);
  return w && !(w->style & kDisabled) && w->modal_count == 0;
}

void WindowSystem::set_enabled_state(Window* w, bool was) {
  Handle h = w->handle;
  bool now = enabled(h);
  if (was == now) return;
  if (!now) {
    if (focus_ && is_descendant(focus_, h)) set_focus(0);
    if (capture_ && is_descendant(capture_, h)) release_capture();
  }
  if (find(h)) send(h, msg::Enable, now);
}

bool WindowSystem::enable(Handle h, bool on) {
  Window* w = find(h);
  if (!w) return false;
  bool was_disabled = w->style & kDisabled;
  bool was = enabled(h);
  if (on) w->style &= ~kDisabled;
  else w->style |= kDisabled;
  set_enabled_state(w, was);
  return was_disabled;
}

void WindowSystem::begin_modal(Handle modal) {
  Window* m = find(modal);
  if (!m) return;
  // A modal made while another holds the rest is itself free.
  if (!m->parent || m->parent->handle == desktop_) {
    bool was = enabled(modal);
    m->modal_count = 0;
    set_enabled_state(m, was);
  }
  modals_.push_back(modal);
  for (Window* c : std::vector<Window*>(find(desktop_)->children)) {
    if (c->handle == modal || !find(c->handle)) continue;
    bool was = enabled(c->handle);
    ++c->modal_count;
    set_enabled_state(c, was);
  }
}

void WindowSystem::end_modal(Handle modal) {
  auto it = std::find(modals_.begin(), modals_.end(), modal);
  if (it == modals_.end()) return;
  modals_.erase(it);
  for (Window* c : std::vector<Window*>(find(desktop_)->children)) {
    if (c->handle == modal || !find(c->handle) || c->modal_count == 0) continue;
    bool was = enabled(c->handle);
    --c->modal_count;
    set_enabled_state(c, was);
  }
}

// Timers.

bool WindowSystem::set_timer(Handle h, uint64_t id, Tick interval) {
  if (!find(h)) return false;
  interval = std::max<Tick>(interval, 1);
  Tick due = backend_.now() + interval;
  for (Timer& t : timers_)
    if (t.window == h && t.id == id) {
      t.interval = interval, t.due = due;
      return true;
    }
  timers_.push_back({h, id, interval, due});
  return true;
}

bool WindowSystem::kill_timer(Handle h, uint64_t id) {
  return std::erase_if(timers_, [&](const Timer& t) { return t.window == h && t.id == id; }) > 0;
}

// Cursor and clipboard.

int WindowSystem::show_cursor(bool on) {
  bool was = cursor_count_ >= 0;
  cursor_count_ += on ? 1 : -1;
  bool now = cursor_count_ >= 0;
  if (was != now) {
    if (!now) backend_.set_cursor(CursorShape::Hidden);
    else if (cursor_shape_ == CursorShape::Custom) backend_.set_cursor_image(cursor_image_);
    else backend_.set_cursor(cursor_shape_);
  }
  return cursor_count_;
}

void WindowSystem::set_cursor(CursorShape shape) {
  if (shape == CursorShape::Custom || shape == CursorShape::Hidden) shape = CursorShape::Arrow;
  if (shape == cursor_shape_) return;
  cursor_shape_ = shape;
  if (cursor_count_ >= 0) backend_.set_cursor(shape);
}

void WindowSystem::set_cursor(const CursorImage& image) {
  current_cursor_ = 0;
  if (!image.valid()) return set_cursor(CursorShape::Arrow);
  cursor_shape_ = CursorShape::Custom;
  cursor_image_ = image;
  if (cursor_count_ >= 0) backend_.set_cursor_image(image);
}

// Cursor handles: both top bits set, 14 bits of generation, the slot.
namespace {
constexpr uint32_t kCursorTag = 0xC0000000u;
}

Handle WindowSystem::create_cursor(const CursorImage& image) {
  if (!image.valid()) return 0;
  size_t index = 0;
  while (index < cursors_.size() && cursors_[index].image) ++index;
  if (index == cursors_.size()) {
    if (cursors_.size() >= 0xFFFE) return 0;
    cursors_.emplace_back();
  }
  cursors_[index].image = image;
  return kCursorTag | (uint32_t(cursors_[index].generation) << 16) | uint32_t(index + 1);
}

bool WindowSystem::cursor_alive(Handle c) const {
  size_t index = c & 0xFFFF;
  return (c & kCursorTag) == kCursorTag && index >= 1 && index <= cursors_.size() && cursors_[index - 1].image &&
         cursors_[index - 1].generation == ((c >> 16) & 0x3FFF);
}

bool WindowSystem::destroy_cursor(Handle c) {
  if (!cursor_alive(c)) return false;
  CursorSlot& s = cursors_[(c & 0xFFFF) - 1];
  s.image.reset();
  if (++s.generation > 0x3FFF) s.generation = 1;
  if (current_cursor() == c) set_cursor(CursorShape::Arrow);
  if (current_cursor_ == c) current_cursor_ = 0;
  return true;
}

bool WindowSystem::use_cursor(Handle c) {
  if (!cursor_alive(c)) return false;
  if (current_cursor() == c) return true;
  set_cursor(*cursors_[(c & 0xFFFF) - 1].image);
  current_cursor_ = c;
  return true;
}

void WindowSystem::clipboard_empty() { clipboard_.clear(); }

void WindowSystem::clipboard_add(const std::string& format, std::vector<uint8_t> bytes) {
  if (format == "text") backend_.set_clipboard_text(std::string(bytes.begin(), bytes.end()));
  clipboard_[format] = std::move(bytes);
}

std::optional<std::vector<uint8_t>> WindowSystem::clipboard_get(const std::string& format) {
  if (format == "text")
    if (auto t = backend_.clipboard_text()) return std::vector<uint8_t>(t->begin(), t->end());
  auto it = clipboard_.find(format);
  if (it == clipboard_.end()) return std::nullopt;
  return it->second;
}

}  // namespace platform
