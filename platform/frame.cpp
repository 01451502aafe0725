// The frame around a window's client area: caption, close box, sizing
// frame, menu bar row and scroll bars, where a point lies on them, how
// they are drawn, and the tracking of a press on them.
#include <algorithm>

#include "platform/window_internal.hpp"

namespace platform {

using namespace chrome;

namespace {
constexpr Tick kRepeatDelay = 400, kRepeatInterval = 50;
}  // namespace

Rect WindowSystem::bar_rect(const Window* w) const {
  if (!w->menu_bar) return {};
  Rect s = screen_rect(w);
  int32_t top = s.top;
  int32_t inset = frame_inset(w);
  top += inset;
  if ((w->style & kCaption) == kCaption) top += kCaptionHeight;
  return gfx::intersect({s.left + inset, top, s.right - inset, top + bar_rows(w) * kMenuBarHeight}, s);
}

namespace {
Rect caption_of(Rect s, int32_t inset) {
  return {s.left + inset, s.top + inset, s.right - inset, s.top + inset + WindowSystem::kCaptionHeight};
}
Rect close_box_of(Rect caption) {
  int32_t h = WindowSystem::kCaptionHeight;
  return {caption.right - h + 2, caption.top + 2, caption.right - 2, caption.bottom - 2};
}
}  // namespace

int32_t WindowSystem::frame_inset(const Window* w) const {
  if (w->style & kSizeBox) return kSizeFrame;
  return (w->style & (kBorder | kCaption)) ? kBorderWidth : 0;
}

HitTest WindowSystem::hit_test(Handle h, Pt p) const {
  Window* w = find(h);
  if (!w) return kHtNowhere;
  Rect s = screen_rect(w);
  if (!s.contains(p)) return kHtNowhere;
  if (gfx::offset(client_of(w), s.left, s.top).contains(p)) return kHtClient;
  if (bar_rect(w).contains(p)) return kHtMenu;
  if (w->style & kSizeBox) {
    // The sizing frame: its sides, and its corners a caption high.
    Rect inner{s.left + kSizeFrame, s.top + kSizeFrame, s.right - kSizeFrame, s.bottom - kSizeFrame};
    if (!inner.contains(p)) {
      bool left = p.x < s.left + kCaptionHeight, right = p.x >= s.right - kCaptionHeight;
      bool top = p.y < s.top + kCaptionHeight, bottom = p.y >= s.bottom - kCaptionHeight;
      bool on_x = p.x < inner.left || p.x >= inner.right, on_y = p.y < inner.top || p.y >= inner.bottom;
      if ((on_x || on_y) && top && left) return kHtTopLeft;
      if ((on_x || on_y) && top && right) return kHtTopRight;
      if ((on_x || on_y) && bottom && left) return kHtBottomLeft;
      if ((on_x || on_y) && bottom && right) return kHtBottomRight;
      if (p.x < inner.left) return kHtLeft;
      if (p.x >= inner.right) return kHtRight;
      return p.y < inner.top ? kHtTop : kHtBottom;
    }
  }
  for (int bar = 0; bar < 2; ++bar)
    if (scroll_track(w, bar).contains(p)) return bar ? kHtVScroll : kHtHScroll;
  if ((w->style & kCaption) == kCaption) {
    Rect cap = caption_of(s, frame_inset(w));
    if ((w->style & kSysMenu) && close_box_of(cap).contains(p)) return kHtClose;
    if (cap.contains(p)) return kHtCaption;
  }
  return kHtBorder;
}

void WindowSystem::draw_frame(Window* w) {
  if (!w->frame_dirty) return;
  w->frame_dirty = false;
  if (!(w->style & (kBorder | kCaption | kSizeBox | kVScroll | kHScroll)) && !w->menu_bar) return;
  gfx::Region vis = visible_region(w, false);
  Rect s = screen_rect(w), c = gfx::offset(client_of(w), s.left, s.top);
  vis = gfx::subtract(vis, gfx::Region(c));
  if (vis.empty()) return;
  gfx::DC dc(frame_);
  dc.set_clip(vis);
  mark_dirty(vis.bounds());
  auto px = [&](uint32_t color) { return gfx::Brush::solid(frame_.map_color(color)); };
  if (w->style & kSizeBox) {
    Rect inner{s.left + kSizeFrame, s.top + kSizeFrame, s.right - kSizeFrame, s.bottom - kSizeFrame};
    dc.fill_region(gfx::subtract(gfx::Region(s), gfx::Region(inner)), px(kScrollTrack));
    dc.frame_rect({inner.left - 1, inner.top - 1, inner.right + 1, inner.bottom + 1}, px(kGreyText));
  }
  if (w->style & (kBorder | kCaption | kSizeBox)) dc.frame_rect(s, px(kFrame));
  if ((w->style & kCaption) == kCaption) {
    bool active = top_level(w)->handle == active_;
    Rect cap = caption_of(s, frame_inset(w));
    dc.fill_rect(cap, px(active ? kActiveCaption : kInactiveCaption));
    dc.set_text_color(frame_.map_color(kCaptionText));
    dc.set_background(0, gfx::BackgroundMode::Transparent);
    dc.text({cap.left + 4, cap.top + 1}, w->title);
    if (w->style & kSysMenu) {
      Rect box = close_box_of(cap);
      dc.fill_rect({box.left - 2, cap.top, cap.right, cap.bottom}, px(active ? kActiveCaption : kInactiveCaption));
      dc.frame_rect(box, px(kCaptionText));
      dc.set_pen({gfx::PenStyle::Solid, 1, frame_.map_color(kCaptionText)});
      dc.line({box.left + 2, box.top + 2}, {box.right - 3, box.bottom - 3}, true);
      dc.line({box.right - 3, box.top + 2}, {box.left + 2, box.bottom - 3}, true);
    }
  }
  if (w->menu_bar) draw_bar(w, dc);
  if ((w->style & kVScroll) && (w->style & kHScroll))
    dc.fill_rect({c.right, c.bottom, c.right + kScrollBarWidth, c.bottom + kScrollBarWidth}, px(kFace));
  for (int bar = 0; bar < 2; ++bar) {
    Rect track = scroll_track(w, bar);
    if (track.empty()) continue;
    dc.fill_rect(track, px(kScrollTrack));
    dc.frame_rect(track, px(kFrame));
    // Arrow boxes at both ends, each with its arrow, the thumb between.
    Rect first = bar ? Rect{track.left, track.top, track.right, track.top + kScrollBarWidth}
                     : Rect{track.left, track.top, track.left + kScrollBarWidth, track.bottom};
    Rect last = bar ? Rect{track.left, track.bottom - kScrollBarWidth, track.right, track.bottom}
                    : Rect{track.right - kScrollBarWidth, track.top, track.right, track.bottom};
    dc.frame_rect(first, px(kFrame));
    dc.frame_rect(last, px(kFrame));
    for (int end = 0; end < 2; ++end) {
      Rect box = end ? last : first;
      int32_t cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
      for (int32_t k = 0; k < 3; ++k) {
        int32_t d = end ? 1 - k : k - 1;  // the point first
        if (bar) dc.fill_rect({cx - k, cy + d, cx + k + 1, cy + d + 1}, px(kFrame));
        else dc.fill_rect({cx + d, cy - k, cx + d + 1, cy + k + 1}, px(kFrame));
      }
    }
    Rect t = scroll_thumb(w, bar);
    if (!t.empty()) {
      dc.fill_rect(t, px(kScrollThumb));
      dc.frame_rect(t, px(kFrame));
    }
  }
}

// Scroll bars.

bool WindowSystem::set_scroll(Handle h, int bar, ScrollInfo info) {
  Window* w = find(h);
  if (!w || bar < 0 || bar > 1) return false;
  if (info.max < info.min) info.max = info.min;
  info.page = std::clamp<int32_t>(info.page, 0, int32_t(std::min<int64_t>(int64_t(info.max) - info.min + 1, INT32_MAX)));
  int64_t top = std::max<int64_t>(info.min, int64_t(info.max) - std::max(info.page, 1) + 1);
  info.pos = int32_t(std::clamp<int64_t>(info.pos, info.min, top));
  w->scroll[bar] = info;
  w->frame_dirty = true;
  return true;
}

std::optional<WindowSystem::ScrollInfo> WindowSystem::scroll(Handle h, int bar) const {
  Window* w = find(h);
  if (!w || bar < 0 || bar > 1) return std::nullopt;
  return w->scroll[bar];
}

Rect WindowSystem::scroll_track(const Window* w, int bar) const {
  if (!(w->style & (bar ? kVScroll : kHScroll))) return {};
  Rect s = screen_rect(w), c = gfx::offset(client_of(w), s.left, s.top);
  return bar ? Rect{c.right, c.top, c.right + kScrollBarWidth, c.bottom}
             : Rect{c.left, c.bottom, c.right, c.bottom + kScrollBarWidth};
}

// The thumb: its length in proportion to the page, its place to the
// position (the dragged position while it is being dragged); empty when
// the track is too short for one.
Rect WindowSystem::scroll_thumb(const Window* w, int bar) const {
  Rect track = scroll_track(w, bar);
  int32_t length = (bar ? track.height() : track.width()) - 2 * kScrollBarWidth;
  const ScrollInfo& si = w->scroll[bar];
  int64_t span = int64_t(si.max) - si.min + 1;
  if (length <= kScrollBarWidth || span <= 0) return {};
  int64_t thumb = si.page > 0 ? std::max<int64_t>(kScrollBarWidth, length * int64_t(si.page) / span) : kScrollBarWidth;
  thumb = std::min<int64_t>(thumb, length);
  int64_t pos = scroll_drag_.window == w->handle && scroll_drag_.bar == bar ? scroll_drag_.pos : si.pos;
  int64_t room = std::max<int64_t>(span - std::max(si.page, 1), 1);
  int64_t at = (length - thumb) * (pos - si.min) / room;
  int32_t from = int32_t(kScrollBarWidth + std::clamp<int64_t>(at, 0, length - thumb));
  return bar ? Rect{track.left + 1, track.top + from, track.right - 1, track.top + from + int32_t(thumb)}
             : Rect{track.left + from, track.top + 1, track.left + from + int32_t(thumb), track.bottom - 1};
}

int64_t WindowSystem::nc_button_down(const Message& m) {
  Window* w = find(m.window);
  if (!w) return 0;
  Pt at = param_point(m.lparam);
  switch (m.wparam) {
    case kHtMenu: {
      if (!modals_.empty() && std::find(modals_.begin(), modals_.end(), top_level(w)->handle) == modals_.end())
        return 0;
      std::vector<Rect> titles = bar_titles(w);
      for (size_t i = 0; i < titles.size(); ++i)
        if (titles[i].contains(at)) track_menu_bar(m.window, int(i), false);
      return 0;
    }
    case kHtVScroll:
    case kHtHScroll:
      track_scroll(m.window, m.wparam == kHtVScroll, at);
      return 0;
    case kHtCaption:
      track_caption(m.window, at);
      return 0;
    case kHtClose:
      track_close_box(m.window);
      return 0;
    case kHtLeft:
    case kHtRight:
    case kHtTop:
    case kHtTopLeft:
    case kHtTopRight:
    case kHtBottom:
    case kHtBottomLeft:
    case kHtBottomRight:
      track_size(m.window, uint32_t(m.wparam), at);
      return 0;
    default:
      return 0;
  }
}

// A press on a scroll bar, followed until the button comes up.
void WindowSystem::track_scroll(Handle h, int bar, Pt at) {
  Window* w = find(h);
  if (!w) return;
  uint32_t message = bar ? msg::VScroll : msg::HScroll;
  Rect track = scroll_track(w, bar), thumb = scroll_thumb(w, bar);
  auto along = [&](Pt p) { return bar ? p.y - track.top : p.x - track.left; };
  int32_t length = bar ? track.height() : track.width();
  InputEvent e;
  if (thumb.contains(at)) {
    int32_t grab = along(at) - (bar ? thumb.top - track.top : thumb.left - track.left);
    int32_t thumb_length = bar ? thumb.height() : thumb.width();
    const ScrollInfo si = w->scroll[bar];
    int64_t top = std::max<int64_t>(si.min, int64_t(si.max) - std::max(si.page, 1) + 1);
    int64_t room = length - 2 * kScrollBarWidth - thumb_length;
    int32_t pos = si.pos;
    scroll_drag_ = {h, bar, pos};
    AtExit dragged{[this] { scroll_drag_ = {}; }};
    ModalWaits waits;
    while (modal_input(e, waits)) {
      if (e.kind == InputEvent::Kind::ButtonUp) break;
      if (e.kind != InputEvent::Kind::MouseMove) continue;
      int64_t offset = along(e.at) - grab - kScrollBarWidth;
      int64_t now = room > 0 ? si.min + (offset * (top - si.min) + room / 2) / room : si.min;
      now = std::clamp<int64_t>(now, si.min, top);
      if (int32_t(now) == pos) continue;
      pos = int32_t(now);
      scroll_drag_.pos = pos;
      w->frame_dirty = true;
      send(h, message, scroll_wparam(kThumbTrack, pos));
      if (!(w = find(h))) break;
    }
    scroll_drag_ = {};
    if (!(w = find(h))) return;
    w->frame_dirty = true;
    send(h, message, scroll_wparam(kThumbPosition, pos));
    send(h, message, scroll_wparam(kEndScroll));
    return;
  }
  // The part under a point: an arrow, or the track on either side of the
  // thumb as it is now; the press repeats while it stays on its part.
  auto part = [&](Pt p) -> int {
    Window* now = find(h);
    if (!now || !track.contains(p)) return -1;
    int32_t a = along(p);
    if (a < kScrollBarWidth) return int(kLineUp);
    if (a >= length - kScrollBarWidth) return int(kLineDown);
    Rect t = scroll_thumb(now, bar);
    if (t.empty()) return -1;
    int32_t from = bar ? t.top - track.top : t.left - track.left;
    int32_t to = from + (bar ? t.height() : t.width());
    return a < from ? int(kPageUp) : a >= to ? int(kPageDown) : -1;
  };
  int code = part(at);
  Pt pointer = at;
  if (code >= 0) send(h, message, scroll_wparam(uint32_t(code)));
  Tick next = current_time_ + kRepeatDelay;
  auto repeat_until = [&](Tick t) {
    while (code >= 0 && find(h) && tick_reached(t, next)) {
      if (part(pointer) == code) send(h, message, scroll_wparam(uint32_t(code)));
      next += kRepeatInterval;
    }
  };
  ModalWaits waits;
  waits.interval = [&] {
    repeat_until(backend_.now());
    return Tick(std::max<int32_t>(int32_t(next - backend_.now()), 1));
  };
  while (modal_input(e, waits)) {
    repeat_until(e.time);
    if (e.kind == InputEvent::Kind::ButtonUp) break;
    if (e.kind == InputEvent::Kind::MouseMove) pointer = e.at;
  }
  if (find(h)) send(h, message, scroll_wparam(kEndScroll));
}

// Follows the pointer until the button comes up: at each move the window
// takes the rectangle `place` answers for the rectangle it started with and
// the pointer's distance from `at`; then what it uncovered is repainted.
void WindowSystem::follow_pointer(Handle h, Pt at, const std::function<Rect(const Window*, Rect, int32_t, int32_t)>& place) {
  Window* w = find(h);
  if (!w) return;
  Rect start = w->rect;
  InputEvent e;
  ModalWaits waits;
  while (modal_input(e, waits)) {
    if (e.kind == InputEvent::Kind::ButtonUp) break;
    if (e.kind != InputEvent::Kind::MouseMove || !(w = find(h))) continue;
    Rect r = place(w, start, e.at.x - at.x, e.at.y - at.y);
    if (r != w->rect) move(h, r);
  }
  update_all();
}

// The caption dragged: the window follows the pointer, its caption kept
// within reach inside its parent.
void WindowSystem::track_caption(Handle h, Pt at) {
  follow_pointer(h, at, [this](const Window* w, Rect start, int32_t dx, int32_t dy) {
    Rect area = client_of(w->parent);
    auto limit = [](int32_t v, int32_t lo, int32_t hi) { return std::max(lo, std::min(v, std::max(lo, hi))); };
    dx = limit(dx, 16 - start.right, area.width() - 16 - start.left);
    dy = limit(dy, -start.top, area.height() - kCaptionHeight - start.top);
    return gfx::offset(start, dx, dy);
  });
}

// The sizing frame dragged: the edges pressed follow the pointer, within
// the sizes the window answers to get-min-max-info.
void WindowSystem::track_size(Handle h, uint32_t hit, Pt at) {
  Window* w = find(h);
  if (!w) return;
  MinMaxInfo limits;
  int32_t inset = frame_inset(w);
  limits.min_track = {2 * inset + 3 * kCaptionHeight, 2 * inset + kCaptionHeight + 8};
  limits.max_track = {gfx::Surface::kMaxSide, gfx::Surface::kMaxSide};
  send(h, msg::GetMinMaxInfo, 0, int64_t(reinterpret_cast<intptr_t>(&limits)));
  limits.min_track = {std::max(limits.min_track.x, 1), std::max(limits.min_track.y, 1)};
  limits.max_track = {std::max(limits.max_track.x, limits.min_track.x), std::max(limits.max_track.y, limits.min_track.y)};
  bool left = hit == kHtLeft || hit == kHtTopLeft || hit == kHtBottomLeft;
  bool right = hit == kHtRight || hit == kHtTopRight || hit == kHtBottomRight;
  bool top = hit == kHtTop || hit == kHtTopLeft || hit == kHtTopRight;
  bool bottom = hit == kHtBottom || hit == kHtBottomLeft || hit == kHtBottomRight;
  follow_pointer(h, at, [&](const Window*, Rect start, int32_t dx, int32_t dy) {
    Rect r = start;
    auto span = [](int32_t v, int32_t lo, int32_t hi) { return std::clamp(v, lo, hi); };
    if (right) r.right = r.left + span(start.width() + dx, limits.min_track.x, limits.max_track.x);
    if (left) r.left = r.right - span(start.width() - dx, limits.min_track.x, limits.max_track.x);
    if (bottom) r.bottom = r.top + span(start.height() + dy, limits.min_track.y, limits.max_track.y);
    if (top) r.top = r.bottom - span(start.height() - dy, limits.min_track.y, limits.max_track.y);
    return r;
  });
}

// The close box closes when the button comes up on it.
void WindowSystem::track_close_box(Handle h) {
  InputEvent e;
  Pt last = cursor_;
  ModalWaits waits;
  for (;;) {
    if (!modal_input(e, waits)) return;
    last = e.at;
    if (e.kind == InputEvent::Kind::ButtonUp) break;
  }
  if (hit_test(h, last) == kHtClose) send(h, msg::Close);
}

}  // namespace platform
