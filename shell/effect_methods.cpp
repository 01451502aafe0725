// The transition effects of obj-window (see effect_methods.hpp): effects by
// id, the window they draw on, and the Lisp methods.
#include "shell/effect_methods.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/args.hpp"
#include "core/clock.hpp"
#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/native_table.hpp"
#include "core/natives.hpp"
#include "data/numbers.hpp"
#include "media/effects.hpp"
#include "media/geometry.hpp"
#include "objects/objects.hpp"
#include "objects/records.hpp"
#include "shell/windows.hpp"

namespace shell {
using namespace core;
using media::Effect;
using media::EffectKind;
using platform::WindowSystem;

namespace {

struct EffectsState : ModuleState {
  NativeTable<Effect> effects;
};

EffectsState& es() { return state_of<EffectsState>(kEffectsModule); }

// Where an object's (0, 0) lies in the offscreen image it is drawn into
// (its own, or the one it shares with the ancestor that owns it).
gfx::Pt image_origin(uint32_t id) {
  gfx::Pt at = native_origin(id);
  uint32_t owner = id;
  for (int guard = 0; guard < 10000; ++guard) {
    WindowRecord* r = record(owner);
    if (!r || r->owns_offscreen || r->top == owner || r->parent == 0) break;
    owner = r->parent;
  }
  gfx::Pt base = native_origin(owner);
  return {at.x - base.x, at.y - base.y};
}

// The drawing of effects on one window object: copies from its offscreen
// image (its own, or the one it shares with the ancestor that owns it) to
// its part of its native window, clipped to what of it shows.
class WindowTarget final : public media::EffectTarget {
 public:
  // `area` (the object's coordinates) is what the effect brings to the
  // screen: a repaint of it still pending is dropped, since it would show
  // the whole picture at once.
  WindowTarget(uint32_t id, gfx::Rect area) {
    ws_ = media::window_system();
    WindowRecord* w = record(id);
    if (!ws_ || !w || !w->native || !ws_->alive(w->native)) return;
    native_ = w->native;
    image_ = w->offscreen;
    gfx::Pt at = native_origin(id);
    image_at_ = image_origin(id);
    box_ = gfx::offset(own_bounds(*w), at.x, at.y);  // native client coordinates
    ws_->validate(native_, gfx::intersect(gfx::offset(area, at.x, at.y), box_));
    at_ = at;
    open();
  }

  void copy(gfx::Rect src, gfx::Rect dst) override {
    if (!dc_ || !image_) return;
    dc_->dc.stretch_blit(frame(dst), *image_, gfx::offset(src, image_at_.x, image_at_.y));
  }

  void scroll(gfx::Rect area, int32_t dx, int32_t dy) override {
    if (!dc_) return;
    gfx::Rect a = gfx::intersect(frame(area), frame_box_);
    gfx::Rect to = gfx::intersect(gfx::offset(a, dx, dy), a);
    if (to.empty()) return;
    dc_->dc.blit(to, dc_->dc.surface(), {to.left - dx, to.top - dy});
  }

  void clip(const std::optional<gfx::Region>& region) override {
    if (!dc_) return;
    if (!region) {
      dc_->dc.set_clip(base_clip_);
      return;
    }
    gfx::Region r = *region;
    r.offset(frame_origin_.x, frame_origin_.y);
    dc_->dc.set_clip(gfx::intersect(r, base_clip_));
  }

  gfx::Rect bounds() const override { return gfx::offset(box_, -at_.x, -at_.y); }

  // Presents what was drawn, and starts noting what is drawn next.
  void present() {
    if (!dc_) return;
    ws_->flush();
    open();
  }

  WindowSystem* window_system() const { return dc_ ? ws_ : nullptr; }

 private:
  gfx::Rect frame(gfx::Rect r) const { return gfx::offset(r, frame_origin_.x, frame_origin_.y); }

  void open() {
    dc_.emplace(ws_->window_dc(native_));
    frame_origin_ = {dc_->origin.x + at_.x, dc_->origin.y + at_.y};
    frame_box_ = dc_->client(box_);
    base_clip_ = gfx::intersect(dc_->dc.clip().value_or(gfx::Region(dc_->dc.surface().bounds())),
                                gfx::Region(frame_box_));
    dc_->dc.set_clip(base_clip_);
  }

  WindowSystem* ws_ = nullptr;
  platform::Handle native_ = 0;
  std::shared_ptr<gfx::Surface> image_;
  gfx::Pt at_, image_at_, frame_origin_;
  gfx::Rect box_, frame_box_;
  gfx::Region base_clip_;
  std::optional<platform::WindowDC> dc_;
};

// The cursor hidden for as long as the scope lives.
struct HiddenCursor {
  WindowSystem* ws;
  explicit HiddenCursor(WindowSystem* w) : ws(w) {
    if (ws) ws->show_cursor(false);
  }
  ~HiddenCursor() {
    if (ws) ws->show_cursor(true);
  }
  HiddenCursor(const HiddenCursor&) = delete;
  HiddenCursor& operator=(const HiddenCursor&) = delete;
};

// ---- Arguments ---------------------------------------------------------------------------

// A fixnum parameter; nil counts as 0.
int32_t parameter_arg(Value v) { return v.is_nil() ? 0 : arg_int(v); }

// A rectangle in the window's coordinates; nil: the whole window.
gfx::Rect rect_arg(Value v, uint32_t id) {
  if (v.is_nil()) return own_bounds(*record(id));
  return media::rect_value(v);
}

uint32_t effect_id(Value v) {
  if (!v.is(Tag::Pointer) || box_kind(v) != kBoxPlain || !es().effects.live(box_addr(v))) error(Err::WrongType, v);
  return box_addr(v);
}

Value new_effect(EffectKind kind, Value parameter, Value rect, int32_t shape = -1, Value spacing = kNil) {
  uint32_t id = self_id();
  int32_t p = parameter_arg(parameter);
  int32_t s = parameter_arg(spacing);
  gfx::Rect r = rect_arg(rect, id);
  Effect e = media::make_effect(kind, r, p, shape, s, [] { return data::random_draw(); });
  uint32_t h = es().effects.add(std::move(e));
  if (h == 0) error(Err::NativeMemory, kNil);
  return box_address(h, kBoxPlain);
}

template <EffectKind K>
Value m_effect(Value parameter, Value rect) {
  return new_effect(K, parameter, rect);
}

Value m_blinds(Value orientation, Value spacing, Value rect) {
  return new_effect(EffectKind::Blinds, orientation, rect, -1, spacing);
}

Value m_copy_mask(Value parameter, Value shape, Value rect) {
  return new_effect(EffectKind::CopyMask, parameter, rect, parameter_arg(shape));
}

// ---- Running -----------------------------------------------------------------------------

Value m_action_effect(Value effect, Value position) {
  uint32_t self = self_id();
  uint32_t h = effect_id(effect);
  int32_t p = arg_int(position);
  Effect& e = *es().effects.find(h);
  WindowTarget target(self, e.rect());
  media::step_effect(e, p, target);
  target.present();
  return kNoValue;
}

// Draws the last copy and frees the effect.
void finish(uint32_t self, uint32_t h) {
  Effect& e = *es().effects.find(h);
  {
    WindowTarget target(self, e.rect());
    media::finish_effect(e, target);
    target.present();
  }
  es().effects.remove(h);
}

void loop(uint32_t self, uint32_t h, int32_t increment, int32_t delay) {
  Effect& e = *es().effects.find(h);
  WindowTarget target(self, e.rect());
  media::EffectClock clock{[] { return clock_ms(); }, [](uint32_t ms) { clock_wait(ms); },
                           [&target] { target.present(); }};
  media::run_effect(e, increment, delay, target, clock);
  finish(self, h);
}

Value m_loop_effect(Value effect, Value increment, Value delay) {
  uint32_t self = self_id();
  uint32_t h = effect_id(effect);
  loop(self, h, arg_int(increment), delay.is_nil() ? 0 : arg_int(delay));
  return kNoValue;
}

Value m_finishing_effect(Value effect) {
  uint32_t self = self_id();
  finish(self, effect_id(effect));
  return kNoValue;
}

Value m_get_nb_step(Value effect) {
  self_id();
  return make_fixnum(es().effects.find(effect_id(effect))->total);
}

void dissolve_area(uint32_t id, gfx::Rect area) {
  area = gfx::intersect(area, own_bounds(*record(id)));
  WindowTarget target(id, area);
  HiddenCursor hidden(target.window_system());
  media::dissolve(area, target, [&target](int) { target.present(); });
}

Value m_dissolve() {
  uint32_t id = self_id();
  dissolve_area(id, own_bounds(*record(id)));
  return kNoValue;
}

// The client rectangle as recorded at creation and at each change of size.
Value m_quick_dissolve() {
  uint32_t id = self_id();
  gfx::Rect c = record(id)->client_at_size;
  dissolve_area(id, {0, 0, c.width(), c.height()});
  return kNoValue;
}

Value m_copy_bits(Value rect) {
  uint32_t id = self_id();
  gfx::Rect r = gfx::intersect(rect_arg(rect, id), own_bounds(*record(id)));
  WindowTarget target(id, r);
  if (!r.empty()) target.copy(r, r);
  target.present();
  return kNoValue;
}

// From another window's image: the source rectangle in its coordinates,
// the destination in self's, stretched when their sizes differ.
Value m_copy_bits_from(Value window, Value source, Value destination) {
  uint32_t id = self_id();
  uint32_t other = id_of(window);
  if (other == 0) error(Err::WrongType, window);
  gfx::Rect src = rect_arg(source, other), dst = rect_arg(destination, id);
  WindowRecord* from = record(other);
  // The other image seen from self: source coordinates shifted by where
  // the other object lies in it.
  std::shared_ptr<gfx::Surface> image = from->offscreen;
  gfx::Pt at = image_origin(other);
  src = gfx::intersect(gfx::offset(src, at.x, at.y), gfx::offset(own_bounds(*from), at.x, at.y));
  if (!image || src.empty() || dst.empty()) return kNoValue;
  WindowSystem* ws = media::window_system();
  WindowRecord* w = record(id);
  if (!ws || !w->native || !ws->alive(w->native)) return kNoValue;
  gfx::Pt mine = native_origin(id);
  gfx::Rect box = gfx::offset(own_bounds(*w), mine.x, mine.y);
  ws->validate(w->native, gfx::intersect(gfx::offset(dst, mine.x, mine.y), box));
  platform::WindowDC dc = ws->window_dc(w->native);
  gfx::Region clip = gfx::intersect(dc.dc.clip().value_or(gfx::Region(dc.dc.surface().bounds())),
                                    gfx::Region(dc.client(box)));
  dc.dc.set_clip(clip);
  dc.dc.stretch_blit(dc.client(gfx::offset(dst, mine.x, mine.y)), *image, src);
  ws->flush();
  return kNoValue;
}

// ---- The module --------------------------------------------------------------------------

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<EffectsState>(); }

void install(Runtime&) { register_effect_methods(windows_state().window_class); }

}  // namespace

const Module kEffectsModule{"effects", make_state, install, nullptr, nullptr};

void register_effect_methods(Value c) {
  if (!objects::is_class(c)) return;
  auto reg = [c](const char* name, NativeFn fn, uint32_t n, const char* doc) {
    objects::register_native_method(c, name, fn, n, doc);
  };
  reg("blinds", &native_entry<m_blinds>, 3, "(blinds ORIENTATION SPACING RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen line by line, rows for ORIENTATION 0 and columns otherwise, in an order SPACING sets (negative: random)");
  reg("center-in", &native_entry<m_effect<EffectKind::CenterIn>>, 2, "(center-in AXES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, closing in on the centre; AXES 0 (or nil) both, 1 horizontal only, 2 vertical only");
  reg("center-out", &native_entry<m_effect<EffectKind::CenterOut>>, 2, "(center-out AXES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, opening out from the centre; AXES 0 (or nil) both, 1 horizontal only, 2 vertical only");
  reg("checkerboard", &native_entry<m_effect<EffectKind::Checkerboard>>, 2, "(checkerboard SIZE RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen in squares of SIZE");
  reg("cover-sides", &native_entry<m_effect<EffectKind::CoverSides>>, 2, "(cover-sides SIDES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, sliding in over it from the sides; SIDES the sum of 1 top, 2 bottom, 4 left, 8 right");
  reg("push-sides", &native_entry<m_effect<EffectKind::PushSides>>, 2, "(push-sides SIDES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, pushing the old picture out from the sides; SIDES the sum of 1 top, 2 bottom, 4 left, 8 right");
  reg("reveal-sides", &native_entry<m_effect<EffectKind::RevealSides>>, 2, "(reveal-sides SIDES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, the old picture sliding away to the sides; SIDES the sum of 1 top, 2 bottom, 4 left, 8 right");
  reg("wipe-sides", &native_entry<m_effect<EffectKind::WipeSides>>, 2, "(wipe-sides SIDES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, wiping from the sides; SIDES the sum of 1 top, 2 bottom, 4 left, 8 right");
  reg("wipe-slash", &native_entry<m_effect<EffectKind::WipeSlash>>, 2, "(wipe-slash DIRECTION RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, wiping from two opposite corners (DIRECTION 1 or the other diagonal)");
  reg("zoom-out", &native_entry<m_effect<EffectKind::ZoomOut>>, 2, "(zoom-out AXES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, its centre stretched out to the whole; AXES 0 (or nil) both, 1 horizontal only, 2 vertical only");
  reg("zoom-in", &native_entry<m_effect<EffectKind::ZoomIn>>, 2, "(zoom-in AXES RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen, the whole shrunk to the centre and growing; AXES 0 (or nil) both, 1 horizontal only, 2 vertical only");
  reg("copy-mask", &native_entry<m_copy_mask>, 3, "(copy-mask PARAMETER SHAPE RECT) a new effect of 256 steps bringing RECT (nil: the whole window) from the window's offscreen image to the screen through a growing SHAPE: 0 to 3 a right angle from one corner, 4 and 5 an iris (one each way), any other all at once; PARAMETER is not used");
  reg("action-effect", &native_entry<m_action_effect>, 2, "(action-effect EFFECT STEP) draws EFFECT as it is at STEP; no value; error 2 when EFFECT is no live effect");
  reg("loop-effect", &native_entry<m_loop_effect>, 3, "(loop-effect EFFECT INCREMENT DELAY) runs EFFECT to its end, INCREMENT steps at a time, DELAY milliseconds apart, then frees it; no value");
  reg("finishing-effect", &native_entry<m_finishing_effect>, 1, "(finishing-effect EFFECT) draws EFFECT's last step and frees it; no value");
  reg("get-nb-step", &native_entry<m_get_nb_step>, 1, "(get-nb-step EFFECT) the number of steps of EFFECT");
  reg("dissolve", &native_entry<m_dissolve>, 0, "(dissolve) brings the whole window from its offscreen image to the screen pixel by pixel in random order; no value");
  reg("quick-dissolve", &native_entry<m_quick_dissolve>, 0, "(quick-dissolve) dissolves, as dissolve does, the area of the window's size at its last change of size; no value");
  reg("copy-bits", &native_entry<m_copy_bits>, 1, "(copy-bits RECT) copies RECT (nil: the whole window) from the window's offscreen image to the screen; no value");
  reg("copy-bits-from", &native_entry<m_copy_bits_from>, 3, "(copy-bits-from WINDOW SOURCE DESTINATION) copies SOURCE of WINDOW's offscreen image to DESTINATION of this window on the screen, stretched when the sizes differ (nil: the whole window); no value; error 2 when WINDOW is no window");
}

// The `effect` property: a message (a symbol) or a message with its
// arguments (a list), sent to the window; an effect it answers is run in
// steps of 16 every 20 milliseconds and finished. A message that does its
// own drawing (`dissolve`) answers no effect and is simply sent.
void show_through_effect(uint32_t id) {
  WindowRecord* w = record(id);
  if (!w || !is_top_level(id) || w->effect.is_nil() || !w->offscreen || !w->owns_offscreen) return;
  Value named = w->effect, instance = w->instance;
  Value message = named.is_pair() ? car(named) : named;
  if (!message.is(Tag::Symbol)) return;
  std::vector<Value> args;
  for (Value at = named.is_pair() ? cdr(named) : kNil; at.is_pair() && args.size() < 8; at = cdr(at))
    args.push_back(car(at));
  args.push_back(kEndArgs);
  // The picture first: the image brought up to date, and the screen left
  // as it was until the effect draws.
  update_offscreen(id);
  Value answer = objects::native_send(instance, message, args.data());
  if (!record(id) || !answer.is(Tag::Pointer) || box_kind(answer) != kBoxPlain || !es().effects.live(box_addr(answer)))
    return;
  loop(id, box_addr(answer), 16, 20);
}

}  // namespace shell
