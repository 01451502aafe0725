// Transition effects: clipping shapes, step operations, the effect loop and
// the block dissolve.
#include "media/effects.hpp"

#include <algorithm>

namespace media {

const std::array<uint8_t, 64> kDissolveOrder{
    53, 37, 14, 25, 7,  54, 19, 28, 22, 43, 34, 29, 51, 23, 50, 26, 24, 20, 18, 2,  39, 46,
    31, 48, 47, 8,  60, 52, 1,  45, 61, 36, 9,  6,  56, 59, 55, 38, 41, 5,  17, 11, 21, 12,
    57, 13, 32, 30, 42, 62, 49, 15, 4,  16, 33, 27, 10, 63, 35, 58, 44, 3,  40, 0};

namespace {

// A length scaled by a position: n * p / 256, truncated. Lengths come from
// 16-bit coordinates, so the product stays well inside 64 bits.
int32_t scaled(int64_t n, int64_t p) { return int32_t(n * p / kEffectTotal); }

// Both axes unless the parameter names one: 1 horizontal only, 2 vertical only.
bool horizontal_axis(int32_t axes) { return axes != 2; }
bool vertical_axis(int32_t axes) { return axes != 1; }

// The centred extent of length d within [a, b).
std::pair<int32_t, int32_t> centred(int32_t a, int32_t b, int32_t d) {
  return {int32_t((int64_t(a) + b - d) / 2), int32_t((int64_t(a) + b + d) / 2)};
}

// The rectangle of center-out at p (also where zoom-in draws and what
// zoom-out takes), clipped to the effect rectangle.
gfx::Rect centred_rect(const Effect& e, int32_t p) {
  gfx::Rect r = e.rect(), out = r;
  if (vertical_axis(e.parameter)) std::tie(out.top, out.bottom) = centred(r.top, r.bottom, scaled(r.height(), p));
  if (horizontal_axis(e.parameter)) std::tie(out.left, out.right) = centred(r.left, r.right, scaled(r.width(), p));
  return gfx::intersect(out, r);
}

void in_place(EffectTarget& t, gfx::Rect r) {
  if (!r.empty()) t.copy(r, r);
}

// The band of the sliding effects: for each axis with a side, the part of
// length d at that side; the whole extent on an axis without one.
gfx::Rect side_band(gfx::Rect r, int32_t sides, int32_t dv, int32_t dh) {
  gfx::Rect b = r;
  if (sides & kTop)
    b.bottom = r.top + dv;
  else if (sides & kBottom)
    b.top = r.bottom - dv;
  if (sides & kLeft)
    b.right = r.left + dh;
  else if (sides & kRight)
    b.left = r.right - dh;
  return b;
}

void step_blinds(const Effect& e, int32_t p, EffectTarget& t) {
  gfx::Rect r = e.rect();
  int64_t n = int64_t(e.table.size());
  int64_t from = n * e.done / kEffectTotal, to = n * p / kEffectTotal;
  for (int64_t i = std::max<int64_t>(from, 0); i < to && i < n; ++i) {
    int32_t v = e.table[size_t(i)];
    // Lines are counted from the rectangle's edge, so that the rectangle
    // fills wherever it lies in the window.
    gfx::Rect line = e.parameter == 0 ? gfx::Rect{r.left, r.top + v, r.right, r.top + v + 1}
                                      : gfx::Rect{r.left + v, r.top, r.left + v + 1, r.bottom};
    in_place(t, gfx::intersect(line, r));
  }
}

void step_center_in(const Effect& e, int32_t p, EffectTarget& t) {
  gfx::Rect r = e.rect();
  if (vertical_axis(e.parameter)) {
    int32_t d = scaled(r.height(), p) / 2;
    in_place(t, {r.left, r.top, r.right, r.top + d});
    in_place(t, {r.left, r.bottom - d, r.right, r.bottom});
  }
  if (horizontal_axis(e.parameter)) {
    int32_t d = scaled(r.width(), p) / 2;
    in_place(t, {r.left, r.top, r.left + d, r.bottom});
    in_place(t, {r.right - d, r.top, r.right, r.bottom});
  }
}

void step_checkerboard(const Effect& e, EffectTarget& t) {
  gfx::Rect r = e.rect();
  int32_t s = e.parameter;
  if (e.done != 0 || s < 1 || r.empty()) return;
  int64_t columns = (int64_t(r.width()) + s - 1) / s, rows = (int64_t(r.height()) + s - 1) / s;
  // Only the squares that meet the window.
  gfx::Rect seen = gfx::intersect(r, t.bounds());
  if (seen.empty()) return;
  int64_t first_row = (seen.top - r.top) / s, end_row = std::min<int64_t>(rows, (seen.bottom - r.top + s - 1) / s);
  int64_t first_column = (seen.left - r.left) / s;
  int64_t end_column = std::min<int64_t>(columns, (seen.right - r.left + s - 1) / s);
  for (int64_t row = first_row; row < end_row; ++row)
    for (int64_t column = first_column + ((first_column + row) & 1); column < end_column; column += 2) {
      int32_t x = int32_t(r.left + column * s), y = int32_t(r.top + row * s);
      in_place(t, gfx::intersect({x, y, x + s, y + s}, r));
    }
}

void step_cover(const Effect& e, int32_t p, EffectTarget& t) {
  gfx::Rect r = e.rect();
  int32_t dv = scaled(r.height(), p), dh = scaled(r.width(), p);
  gfx::Rect dst = side_band(r, e.parameter, dv, dh);
  // The source is the band at the opposite side.
  int32_t sides = e.parameter;
  int32_t opposite = ((sides & kTop) ? kBottom : (sides & kBottom) ? kTop : 0) |
                     ((sides & kLeft) ? kRight : (sides & kRight) ? kLeft : 0);
  gfx::Rect src = side_band(r, opposite, dv, dh);
  src = gfx::intersect(src, r), dst = gfx::intersect(dst, r);
  if (!src.empty() && !dst.empty()) t.copy(src, dst);
}

void step_push(const Effect& e, int32_t p, EffectTarget& t) {
  gfx::Rect r = e.rect();
  int32_t done = e.done, w = r.width(), h = r.height();
  // One side alone; combined sides push nothing until the effect is finished.
  switch (e.parameter) {
    case kTop: {
      int32_t k = scaled(h, p) - scaled(h, done);
      if (k <= 0) return;
      t.scroll(r, 0, k);
      t.copy({r.left, r.top + scaled(h, kEffectTotal - p), r.right, r.top + scaled(h, kEffectTotal - done)},
             {r.left, r.top, r.right, r.top + k});
      return;
    }
    case kBottom: {
      int32_t k = scaled(h, p) - scaled(h, done);
      if (k <= 0) return;
      t.scroll(r, 0, -k);
      t.copy({r.left, r.top + scaled(h, done), r.right, r.top + scaled(h, p)}, {r.left, r.bottom - k, r.right, r.bottom});
      return;
    }
    case kLeft: {
      int32_t k = scaled(w, p) - scaled(w, done);
      if (k <= 0) return;
      t.scroll(r, k, 0);
      t.copy({r.left + scaled(w, kEffectTotal - p), r.top, r.left + scaled(w, kEffectTotal - done), r.bottom},
             {r.left, r.top, r.left + k, r.bottom});
      return;
    }
    case kRight: {
      int32_t k = scaled(w, p) - scaled(w, done);
      if (k <= 0) return;
      t.scroll(r, -k, 0);
      t.copy({r.left + scaled(w, done), r.top, r.left + scaled(w, p), r.bottom}, {r.right - k, r.top, r.right, r.bottom});
      return;
    }
    default:
      return;
  }
}

void step_reveal(const Effect& e, int32_t p, EffectTarget& t) {
  gfx::Rect r = e.rect();
  int32_t sides = e.parameter, w = r.width(), h = r.height();
  int32_t kv = scaled(h, p) - scaled(h, e.done), kh = scaled(w, p) - scaled(w, e.done);
  int32_t dy = (sides & kTop) ? kv : (sides & kBottom) ? -kv : 0;
  int32_t dx = (sides & kLeft) ? kh : (sides & kRight) ? -kh : 0;
  if ((dx != 0 || dy != 0) && !r.empty()) t.scroll(r, dx, dy);
  int32_t dv = scaled(h, p), dh = scaled(w, p);
  if (sides & (kTop | kBottom)) in_place(t, side_band(r, sides & (kTop | kBottom), dv, dh));
  if (sides & (kLeft | kRight)) in_place(t, side_band(r, sides & (kLeft | kRight), dv, dh));
}

void step_wipe_slash(const Effect& e, int32_t p, EffectTarget& t) {
  gfx::Rect r = e.rect();
  for (int32_t k = e.done + 1; k <= p; ++k) {
    int32_t a = scaled(r.height(), k) + 4, b = scaled(r.width(), k) + 4;
    bool one = e.parameter == 1;
    in_place(t, gfx::intersect({one ? r.left + b : r.left, r.bottom - a, one ? r.right : r.right - b, r.bottom}, r));
    in_place(t, gfx::intersect({one ? r.left : r.left + b, r.top, one ? r.right - b : r.right, r.top + a}, r));
  }
}

}  // namespace

std::vector<int32_t> blinds_table(int32_t n, int32_t spacing, const std::function<int()>& random) {
  std::vector<int32_t> table;
  if (n <= 0) return table;
  table.reserve(size_t(n));
  if (spacing == 0) {
    table.assign(size_t(n), 0);
  } else if (spacing > 0) {
    for (int32_t start = 0; start < spacing && int32_t(table.size()) < n; ++start)
      for (int64_t v = start; v < n; v += spacing) table.push_back(int32_t(v));
  } else {
    for (int32_t i = 0; i < n; ++i) table.push_back(i);
    for (int32_t i = 0; i + 1 < n; ++i) {
      int r = random ? random() : 0;
      std::swap(table[size_t(i)], table[size_t(r % (n - i))]);
    }
  }
  return table;
}

Effect make_effect(EffectKind kind, gfx::Rect r, int32_t parameter, int32_t shape, int32_t spacing,
                   const std::function<int()>& random) {
  Effect e;
  e.kind = kind;
  e.left = r.left, e.top = r.top, e.right = r.right, e.bottom = r.bottom;
  e.parameter = int16_t(parameter);
  e.shape = int16_t(shape);
  if (kind == EffectKind::Blinds)
    e.table = blinds_table(e.parameter != 0 ? r.width() : r.height(), spacing, random);
  return e;
}

std::optional<gfx::Region> shape_region(int32_t shape, gfx::Rect r, int32_t p, gfx::Rect limit) {
  if (shape < 0 || shape > 5) return std::nullopt;
  int32_t w = r.width(), h = r.height();
  if (shape <= 3) {
    int32_t lx = int32_t(2 * int64_t(w) * p / kEffectTotal), ly = int32_t(2 * int64_t(h) * p / kEffectTotal);
    // The right angle at a corner of the rectangle.
    gfx::Pt corner{(shape == 1 || shape == 2) ? r.right : r.left, shape >= 2 ? r.bottom : r.top};
    int32_t sx = corner.x == r.left ? 1 : -1, sy = corner.y == r.top ? 1 : -1;
    gfx::Pt points[3] = {corner, {corner.x + sx * lx, corner.y}, {corner.x, corner.y + sy * ly}};
    return gfx::Region::from_spans([&](gfx::SpanSink out) { gfx::polygon_spans(points, limit, out); });
  }
  // The iris: the ellipse inscribed in the rectangle grown on each side by
  // half a 16-bit quotient.
  int32_t qx = int16_t(uint16_t(int64_t(kEffectTotal - 2 * p) * w / kEffectTotal));
  int32_t qy = int16_t(uint16_t(int64_t(kEffectTotal - 2 * p) * h / kEffectTotal));
  int32_t dx = qx / 2, dy = qy / 2;
  if (shape == 4) dx = -dx, dy = -dy;
  gfx::Rect grown{r.left - dx, r.top - dy, r.right + dx, r.bottom + dy};
  gfx::Region ellipse = gfx::Region::from_spans(
      [&](gfx::SpanSink out) { gfx::fill_spans(gfx::ConvexShape::ellipse(grown), limit, out); });
  if (shape == 4) return ellipse;
  return gfx::subtract(gfx::Region(gfx::intersect(r, limit)), ellipse);
}

void step_effect(Effect& e, int32_t p, EffectTarget& t) {
  p = std::clamp<int32_t>(p, e.done, e.total);
  std::optional<gfx::Region> clip = shape_region(e.shape, e.rect(), p, t.bounds());
  if (clip) t.clip(clip);
  switch (e.kind) {
    case EffectKind::Blinds:
      step_blinds(e, p, t);
      break;
    case EffectKind::CenterIn:
      step_center_in(e, p, t);
      break;
    case EffectKind::CenterOut:
      in_place(t, centred_rect(e, p));
      break;
    case EffectKind::Checkerboard:
      step_checkerboard(e, t);
      break;
    case EffectKind::WipeSides:
      in_place(t, gfx::intersect(side_band(e.rect(), e.parameter, scaled(e.rect().height(), p),
                                           scaled(e.rect().width(), p)),
                                 e.rect()));
      break;
    case EffectKind::CoverSides:
      step_cover(e, p, t);
      break;
    case EffectKind::PushSides:
      step_push(e, p, t);
      break;
    case EffectKind::RevealSides:
      step_reveal(e, p, t);
      break;
    case EffectKind::WipeSlash:
      step_wipe_slash(e, p, t);
      break;
    case EffectKind::ZoomOut: {
      // The centred part stretched onto the rectangle's part in the window.
      gfx::Rect src = centred_rect(e, p), dst = gfx::intersect(e.rect(), t.bounds());
      if (!src.empty() && !dst.empty()) t.copy(src, dst);
      break;
    }
    case EffectKind::ZoomIn: {
      // The rectangle's part in the window stretched into the centred one.
      gfx::Rect src = gfx::intersect(e.rect(), t.bounds()), dst = centred_rect(e, p);
      if (!src.empty() && !dst.empty()) t.copy(src, dst);
      break;
    }
    case EffectKind::CopyMask:
      in_place(t, gfx::intersect(e.rect(), t.bounds()));
      break;
  }
  if (clip) t.clip(std::nullopt);
  e.done = int16_t(p);
}

void finish_effect(const Effect& e, EffectTarget& t) {
  t.clip(std::nullopt);
  in_place(t, e.rect());
}

int run_effect(Effect& e, int32_t increment, int32_t delay, EffectTarget& t, const EffectClock& clock) {
  // An increment below 1 would never reach the end.
  increment = std::clamp(increment, 1, int32_t(kEffectTotal));
  int steps = 0;
  if (delay <= 0) {
    while (e.done < e.total) {
      step_effect(e, e.done + increment, t);
      ++steps;
      if (clock.shown) clock.shown();
    }
    return steps;
  }
  uint32_t target = clock.now();
  while (e.done < e.total) {
    int32_t late = std::max(int32_t(clock.now() - target), 0);
    int64_t advance = (int64_t(late) / delay + 1) * increment;
    step_effect(e, int32_t(std::min<int64_t>(e.done + advance, e.total)), t);
    ++steps;
    if (clock.shown) clock.shown();
    target += uint32_t(delay);
    int32_t left = int32_t(target - clock.now());
    if (left > 0) clock.wait(uint32_t(left));
  }
  return steps;
}

void dissolve(gfx::Rect area, EffectTarget& t, const std::function<void(int)>& pass_done) {
  area = gfx::intersect(area, t.bounds());
  if (area.empty()) return;
  int32_t first_column = area.left / 5, end_column = area.right / 5 + 1;
  int32_t first_row = area.top / 5, end_row = area.bottom / 5 + 1;
  for (int q = 0; q < 64; ++q) {
    int r = 0;
    for (int32_t row = first_row; row < end_row; ++row) {
      int32_t c = first_column + kDissolveOrder[(kDissolveOrder[size_t(r)] + q) % 64];
      for (; c < end_column; c += 64) {
        gfx::Rect block = gfx::intersect({c * 5, row * 5, c * 5 + 5, row * 5 + 5}, area);
        if (!block.empty()) t.copy(block, block);
      }
      r = (r + 1) % 64;
    }
    if (pass_done) pass_done(q);
  }
}

}  // namespace media
