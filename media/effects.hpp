// Transition effects: the geometry of bringing a window's offscreen image
// to its screen step by step.
//
// An effect is advanced from 0 to a fixed total of 256; each step draws
// what changed between the position it was at (`done`) and the new one,
// through an EffectTarget that knows three operations: copy a source
// rectangle of the image to a destination rectangle of the window
// (stretching when the sizes differ), scroll the window's content inside a
// rectangle, and clip the window's drawing to a region. Every rectangle
// here is in the window's own coordinates; the target clips every drawing
// to the window and to the image, so that no rectangle, however absurd,
// reaches outside a surface. All divisions truncate toward zero, as C++'s
// do. Nothing here knows Lisp: the window methods (shell) make effects,
// keep them in a table by generation-checked ids and drive them.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/gfx/region.hpp"

namespace media {

constexpr int32_t kEffectTotal = 256;

enum class EffectKind : uint8_t {
  Blinds, CenterIn, CenterOut, Checkerboard, CoverSides, PushSides, RevealSides, WipeSides, WipeSlash,
  ZoomOut, ZoomIn, CopyMask,
};

// The sides of the sliding effects.
enum Sides : int32_t { kTop = 1, kBottom = 2, kLeft = 4, kRight = 8 };

struct Effect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int16_t total = kEffectTotal;
  int16_t done = 0;
  int16_t parameter = 0;  // sides, axes, square size, orientation
  int16_t shape = -1;     // the clipping shape; -1 for none
  std::vector<int32_t> table;  // blinds: the line order
  uint32_t mask = 0;
  EffectKind kind = EffectKind::CopyMask;
  uint32_t step_data = 0;

  gfx::Rect rect() const { return {left, top, right, bottom}; }
};

// Where an effect draws.
class EffectTarget {
 public:
  virtual ~EffectTarget() = default;
  // The image's `src` onto the window's `dst`, stretched when the sizes
  // differ; empty or inverted rectangles copy nothing.
  virtual void copy(gfx::Rect src, gfx::Rect dst) = 0;
  // The window's content inside `area` moved by dx, dy.
  virtual void scroll(gfx::Rect area, int32_t dx, int32_t dy) = 0;
  // Limits the copies to a region (none: the window's whole area again).
  virtual void clip(const std::optional<gfx::Region>& region) = 0;
  // The window's own area: effects that go through their rectangle piece
  // by piece skip what lies outside it.
  virtual gfx::Rect bounds() const = 0;
};

// A new effect on a rectangle. Blinds make their line table here, drawing
// from `random` (0..32767 each call) for a negative spacing.
Effect make_effect(EffectKind kind, gfx::Rect r, int32_t parameter, int32_t shape = -1, int32_t spacing = 0,
                   const std::function<int()>& random = nullptr);

// The line order of blinds: n positions for a spacing (see make_effect).
std::vector<int32_t> blinds_table(int32_t n, int32_t spacing, const std::function<int()>& random);

// The clipping region of a shape at position p, within `limit`; none for
// no shape.
std::optional<gfx::Region> shape_region(int32_t shape, gfx::Rect r, int32_t p, gfx::Rect limit);

// Advances an effect to p (clamped to done .. total): the shape's clip,
// the step operation, done = p. The clip is removed afterwards.
void step_effect(Effect& e, int32_t p, EffectTarget& target);

// The last copy: the whole rectangle in place, with no clip.
void finish_effect(const Effect& e, EffectTarget& target);

// The clock an effect loop runs on: a 32-bit millisecond count compared by
// differences, and a wait that lets time pass on it.
struct EffectClock {
  std::function<uint32_t()> now;
  std::function<void(uint32_t ms)> wait;
  // Called after each step (the screen presented).
  std::function<void()> shown;
};

// Runs an effect to its end: each pass advances by the increment (a late
// pass by as many increments as it is late, when the delay is positive)
// and waits for the next pass's time. Answers the number of steps made.
// The effect is not finished here.
int run_effect(Effect& e, int32_t increment, int32_t delay, EffectTarget& target, const EffectClock& clock);

// The block dissolve: `area` (within the target's bounds) cut into 5 x 5 blocks copied in place in 64
// passes through a fixed permutation. `pass_done` is called after each.
extern const std::array<uint8_t, 64> kDissolveOrder;
void dissolve(gfx::Rect area, EffectTarget& target, const std::function<void(int pass)>& pass_done = nullptr);

}  // namespace media
