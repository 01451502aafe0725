// The paint pipeline: a top-level window's tree drawn into its native
// window back to front, each object clipped to the area being repainted
// within its rectangle less the children that paint their own background,
// and offscreen images brought up to date and copied to the screen with
// their transfer modes.
#include <algorithm>

#include "core/errors.hpp"
#include "core/symbols.hpp"
#include "media/pict.hpp"
#include "objects/records.hpp"
#include "shell/windows.hpp"

namespace shell {
using namespace core;
using platform::WindowSystem;

namespace {

// Where the objects of one native window are being drawn: on the screen
// through the window's paint DC, or into an offscreen image.
struct Painter {
  gfx::DC* dc;
  gfx::Pt origin;                       // where the native client's (0, 0) lies on dc's surface
  std::optional<gfx::Region> base;      // the DC's own clip (surface coordinates)
  uint32_t image_owner = 0;             // drawing into this object's image: it is drawn even hidden
};

Painter* g_painter = nullptr;

// A window's colour on the surface drawn on: on an 8-bit surface, snapped
// to the palette's grid and then the nearest entry.
gfx::Pixel map(gfx::DC& dc, media::Rgb16 c) { return media::picture_color(dc.surface(), c.red, c.green, c.blue); }

gfx::Rect native_box(uint32_t id) {
  WindowRecord* w = record(id);
  gfx::Pt o = native_origin(id);
  return gfx::offset(own_bounds(*w), o.x, o.y);
}

// Children drawn into their parent's native window.
bool nested(uint32_t id) {
  WindowRecord* w = record(id);
  return w && w->top != id && id != windows_state().desktop && id != windows_state().system;
}

void set_clip(Painter& p, const gfx::Region& native_area) {
  gfx::Region clip = native_area;
  clip.offset(p.origin.x, p.origin.y);
  if (p.base) clip = gfx::intersect(clip, *p.base);
  p.dc->set_clip(clip);
}

gfx::Rop3 transfer_rop(uint32_t mode) {
  switch (mode & 7) {
    case 1:
      return gfx::kSrcPaint;
    case 2:
      return gfx::kSrcInvert;
    case 3:
      return 0x00220326;  // the destination less the source
    case 4:
      return gfx::kNotSrcCopy;
    case 5:
      return 0x00BB0226;
    case 6:
      return 0x00990066;
    case 7:
      return gfx::kSrcAnd;
    default:
      return gfx::kSrcCopy;
  }
}

void paint_object(Painter& p, uint32_t id, const gfx::Region& area);

// Draws an object that owns an offscreen image into it, then copies the
// image onto `p` within `area`.
void paint_through_image(Painter& p, uint32_t id, const gfx::Region& area) {
  WindowRecord* w = record(id);
  std::shared_ptr<gfx::Surface> image = w->offscreen;
  gfx::Rect box = native_box(id);
  if (!image || image->width() != box.width() || image->height() != box.height()) {
    image = std::make_shared<gfx::Surface>(box.width(), box.height(), p.dc->surface().format());
    if (image->format() == gfx::Format::Index8) image->palette() = p.dc->surface().palette();
    w->offscreen = image;
    std::vector<uint32_t> todo = children_of(id);
    while (!todo.empty()) {
      uint32_t c = todo.back();
      todo.pop_back();
      if (WindowRecord* r = record(c); r && !r->owns_offscreen) {
        r->offscreen = image;
        for (uint32_t k : children_of(c)) todo.push_back(k);
      }
    }
  }
  {
    gfx::DC dc(*image);
    Painter inner{&dc, {-box.left, -box.top}, std::nullopt, id};
    paint_object(inner, id, area);
    if ((w = record(id))) {
      w->update_rect = gfx::offset(area.bounds(), -box.left, -box.top);
      windows_state().painting = id;
      if (media::frame_state().alert_depth == 0) send_to(id, windows_state().after_paint);
      windows_state().painting = 0;
    }
  }
  if (!(w = record(id)) || p.image_owner == id) return;
  set_clip(p, gfx::intersect(area, gfx::Region(box)));
  p.dc->blit(gfx::offset(box, p.origin.x, p.origin.y), *image, {0, 0}, transfer_rop(w->transfer_mode));
}

void paint_object(Painter& p, uint32_t id, const gfx::Region& area) {
  WindowsState& s = windows_state();
  WindowRecord* w = record(id);
  if (!w) return;
  gfx::Rect box = native_box(id);
  gfx::Region mine = gfx::intersect(area, gfx::Region(box));
  if (mine.empty()) return;
  if (w->owns_offscreen && p.image_owner != id) {
    paint_through_image(p, id, mine);
    return;
  }
  std::vector<uint32_t> kids;
  for (uint32_t c : children_of(id))
    if (nested(c)) kids.push_back(c);
  auto drawn = [&](uint32_t c) {
    WindowRecord* r = record(c);
    return r && (r->shown || c == p.image_owner);
  };
  // A transparent window draws nothing of its own: what lies beneath it
  // shows through, and its children are drawn on that.
  bool own = !w->transparent || w->edit || p.image_owner == id;
  // While an alert is up no Lisp is run to paint: the windows keep their
  // backgrounds and frames, so that a paint method that fails cannot call
  // up one alert over another.
  bool quiet = media::frame_state().alert_depth > 0;
  // 1. Clipping: less the children that paint their own background.
  gfx::Region clip = mine;
  for (uint32_t c : kids) {
    WindowRecord* r = record(c);
    if (drawn(c) && ((r->erase && !r->transparent) || r->opaque)) clip = gfx::subtract(clip, gfx::Region(native_box(c)));
  }
  set_clip(p, clip);
  // 2. The background.
  WindowObject* object = dynamic_cast<WindowObject*>(
      owned_object(objects::field(w->instance, objects::kNativePart)));
  gfx::Rect screen_box = gfx::offset(box, p.origin.x, p.origin.y);
  if (own && (w->owns_offscreen || w->erase)) {
    if (!(object && !w->owns_offscreen && object->draw_background(*p.dc, screen_box)))
      p.dc->fill_rect(screen_box, gfx::Brush::solid(map(*p.dc, w->background)));
  }
  // 3. The foreground colour, and the area `get-update-rect` answers.
  gfx::Pixel fore = map(*p.dc, w->foreground);
  p.dc->set_text_color(fore);
  p.dc->set_pen({gfx::PenStyle::Solid, 1, fore});
  w->update_rect = gfx::offset(clip.bounds(), -box.left, -box.top);
  uint32_t was_painting = s.painting;
  Painter* outer = g_painter;
  s.painting = id;
  g_painter = &p;
  struct Restore {
    WindowsState& s;
    uint32_t painting;
    Painter* painter;
    ~Restore() {
      s.painting = painting;
      g_painter = painter;
    }
  } restore{s, was_painting, outer};
  // 4. The object's own drawing.
  if (own && !quiet) send_to(id, s.paint);
  // 5. The children, back to front, each within what it was given.
  for (auto it = kids.rbegin(); it != kids.rend(); ++it)
    if (drawn(*it)) paint_object(p, *it, mine);
  if (!(w = record(id))) return;
  // 6, 7. The editor's marks, the frame.
  set_clip(p, clip);
  if (w->edit && !quiet) send_to(id, s.edit_paint);
  if ((w = record(id)) && own && w->frame && !w->edit && w->parent != s.desktop) {
    set_clip(p, mine);
    p.dc->set_pen({gfx::PenStyle::Solid, 1, map(*p.dc, w->foreground)});
    if (quiet)
      frame_object(id);
    else
      send_to(id, s.draw_frame);
  }
}

}  // namespace

void paint_native(WindowSystem& ws, uint32_t id) {
  WindowRecord* w = record(id);
  if (!w || !w->native) return;
  platform::PaintScope scope(ws, w->native);
  gfx::Region area(scope.info().paint);
  if (scope->clip()) {
    gfx::Region c = *scope->clip();
    c.offset(-scope.dc().origin.x, -scope.dc().origin.y);
    area = gfx::intersect(area, c);
  }
  Painter p{&*scope, scope.dc().origin, scope->clip(), 0};
  paint_object(p, id, area);
}

void invalidate_object(uint32_t id, bool) {
  WindowSystem* ws = media::window_system();
  WindowRecord* w = record(id);
  if (!ws || !w || !w->native || id == windows_state().system || !ws->alive(w->native)) return;
  if (nested(id))
    ws->invalidate(w->native, native_box(id), false);
  else
    ws->invalidate(w->native, std::nullopt, false);
}

void update_offscreen(uint32_t id) {
  uint32_t owner = id;
  while (record(owner) && !record(owner)->owns_offscreen && nested(owner)) owner = record(owner)->parent;
  WindowRecord* w = record(owner);
  if (!w || !w->owns_offscreen) return;
  WindowSystem* ws = media::window_system();
  gfx::DC scratch(ws ? ws->frame() : *w->offscreen);
  Painter p{&scratch, {0, 0}, std::nullopt, owner};
  paint_through_image(p, owner, gfx::Region(native_box(owner)));
  invalidate_object(owner);
}

uint32_t pixel_of(uint32_t id, gfx::Pt at) {
  WindowRecord* w = record(id);
  if (!w) return 0;
  gfx::Pt o = native_origin(id);
  gfx::Pt p{at.x + o.x, at.y + o.y};
  if (w->offscreen) {
    uint32_t owner = id;
    while (record(owner) && !record(owner)->owns_offscreen && nested(owner)) owner = record(owner)->parent;
    gfx::Pt base = native_origin(owner);
    return w->offscreen->color(p.x - base.x, p.y - base.y);
  }
  WindowSystem* ws = media::window_system();
  if (!ws || !w->native || !own_bounds(*w).contains(at)) return 0;
  gfx::Rect sc = ws->screen_client(w->native);
  return ws->frame().color(sc.left + p.x, sc.top + p.y);
}

bool paint_target(uint32_t id, gfx::DC*& dc, gfx::Pt& origin) {
  WindowsState& s = windows_state();
  if (!g_painter || s.painting == 0 || !record(id) || top_of(id) != top_of(s.painting)) return false;
  gfx::Pt o = native_origin(id);
  dc = g_painter->dc;
  origin = {g_painter->origin.x + o.x, g_painter->origin.y + o.y};
  return true;
}

// A frame of one pixel in the foreground colour around the object: on the
// paint under way, else straight on its window.
void frame_object(uint32_t id) {
  WindowRecord* w = record(id);
  if (!w) return;
  gfx::Rect box = native_box(id);
  if (g_painter && windows_state().painting != 0) {
    Painter& p = *g_painter;
    p.dc->frame_rect(gfx::offset(box, p.origin.x, p.origin.y), gfx::Brush::solid(map(*p.dc, w->foreground)));
    return;
  }
  WindowSystem* ws = media::window_system();
  if (!ws || !w->native) return;
  platform::WindowDC dc = ws->window_dc(w->native);
  dc.dc.frame_rect(dc.client(box), gfx::Brush::solid(map(dc.dc, w->foreground)));
}

void draw_button_face(gfx::DC& dc, gfx::Rect b, const std::string& title, int32_t state) {
  if (b.empty()) return;
  auto solid = [&](uint32_t c) { return gfx::Brush::solid(dc.surface().map_color(c)); };
  bool pressed = state & 1;
  dc.fill_rect(b, solid(pressed ? 0x808080 : 0xC0C0C0));
  dc.frame_rect(b, solid(0));
  if (state & 2) dc.frame_rect({b.left + 1, b.top + 1, b.right - 1, b.bottom - 1}, solid(0));
  if (!pressed && b.width() > 4 && b.height() > 4) {
    dc.fill_rect({b.left + 1, b.top + 1, b.right - 2, b.top + 2}, solid(0xFFFFFF));
    dc.fill_rect({b.left + 1, b.top + 1, b.left + 2, b.bottom - 2}, solid(0xFFFFFF));
    dc.fill_rect({b.left + 1, b.bottom - 2, b.right - 1, b.bottom - 1}, solid(0x808080));
    dc.fill_rect({b.right - 2, b.top + 1, b.right - 1, b.bottom - 1}, solid(0x808080));
  }
  dc.set_text_color(dc.surface().map_color((state & 4) ? 0x808080 : 0));
  dc.set_background(0, gfx::BackgroundMode::Transparent);
  int32_t tw = gfx::DC::text_width(title);
  int32_t th = gfx::FontMetrics::kHeight;
  dc.text({b.left + (b.width() - tw) / 2, b.top + (b.height() - th) / 2}, title);
}

// draw-push-button: the face on the paint under way, else straight on the
// window.
void push_button(uint32_t id, gfx::Rect r, const std::string& title, int32_t state) {
  WindowRecord* w = record(id);
  if (!w) return;
  gfx::Pt o = native_origin(id);
  r = gfx::offset(r, o.x, o.y);
  if (g_painter && windows_state().painting != 0) {
    draw_button_face(*g_painter->dc, gfx::offset(r, g_painter->origin.x, g_painter->origin.y), title, state);
    return;
  }
  WindowSystem* ws = media::window_system();
  if (!ws || !w->native) return;
  platform::WindowDC dc = ws->window_dc(w->native);
  draw_button_face(dc.dc, gfx::offset(r, dc.origin.x, dc.origin.y), title, state);
  ws->flush();
}

}  // namespace shell
