// The colour chooser: a modal window with a grid of basic colours, a row
// of custom colours, a bar for each of red, green and blue, the colour as
// it stands, and OK, Cancel and Add buttons.
#include <algorithm>
#include <cstdio>

#include "platform/window_internal.hpp"

namespace platform {

using namespace chrome;

namespace {
constexpr int32_t kSwatchW = 16, kSwatchH = 12, kStepX = 20, kStepY = 16, kColumns = 8;
constexpr int32_t kBarLeft = 220, kBarTop = 70, kBarStep = 20, kBarH = 12;
constexpr Pt kBasicAt{8, 20}, kCustomAt{8, 132};
constexpr Rect kPreview{180, 20, 260, 60};
constexpr Rect kOk{180, 168, 240, 186}, kCancel{248, 168, 308, 186}, kAdd{8, 168, 98, 186};
constexpr int32_t kClientW = 508, kClientH = 194;
constexpr const char* kComponent[3] = {"Red", "Green", "Blue"};

// Greys in the first row, then eight hues from dark to pale.
uint32_t basic_color(int i) {
  static constexpr uint32_t hues[kColumns] = {0xFF0000, 0xFF8000, 0xFFFF00, 0x00C000,
                                              0x00FFFF, 0x0000FF, 0x8000FF, 0xFF00FF};
  int row = i / kColumns, col = i % kColumns;
  if (row == 0) return gfx::rgb(uint32_t(col * 255 / 7), uint32_t(col * 255 / 7), uint32_t(col * 255 / 7));
  uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    uint32_t c = (hues[col] >> shift) & 0xFF;
    switch (row) {
      case 1: c = c / 2; break;
      case 2: c = c * 3 / 4; break;
      case 3: break;
      case 4: c = c + (255 - c) / 2; break;
      default: c = c + (255 - c) * 3 / 4; break;
    }
    out |= c << shift;
  }
  return out;
}

Rect swatch(Pt origin, int i) {
  int32_t x = origin.x + (i % kColumns) * kStepX, y = origin.y + (i / kColumns) * kStepY;
  return {x, y, x + kSwatchW, y + kSwatchH};
}
Rect bar_of(int c) { return {kBarLeft, kBarTop + c * kBarStep, kBarLeft + 256, kBarTop + c * kBarStep + kBarH}; }

struct Chooser {
  uint32_t color = 0;
  int selected = -1;       // 0-47 basic, 48-63 custom
  int dragging = -1;       // the bar being dragged
  const Rect* pressed = nullptr;
  bool done = false;
  std::optional<uint32_t> answer;
};
}  // namespace

std::optional<uint32_t> WindowSystem::choose_color(uint32_t initial, Handle owner) {
  // A host that answers the chooser itself (the headless script).
  if (auto scripted = backend_.answer_chooser()) return *scripted;
  Chooser state;
  state.color = initial & 0xFFFFFF;
  for (int i = 0; i < 48; ++i)
    if (basic_color(i) == state.color) state.selected = i;
  int32_t width = std::min(kClientW + 2 * kBorderWidth, frame_.width());
  int32_t height = std::min(kClientH + 2 * kBorderWidth + kCaptionHeight, frame_.height());
  Rect area = client_of(find(desktop_));
  Rect r{(area.width() - width) / 2, (area.height() - height) / 2, 0, 0};
  r.left = std::max(r.left, 0), r.top = std::max(r.top, 0);
  r.right = r.left + width, r.bottom = r.top + height;
  Handle owner_top = find(owner) ? top_level(find(owner))->handle : active_;
  Handle h = create({"#color", "Colour", kVisible | kCaption | kSysMenu | kPopup, kTopmost, r, 0, owner_top});
  if (!h) return std::nullopt;

  auto set_component = [&](int c, int32_t x) {
    uint32_t v = uint32_t(std::clamp(x - kBarLeft, 0, 255));
    int shift = 16 - 8 * c;
    state.color = (state.color & ~(0xFFu << shift)) | (v << shift);
    state.selected = -1;
  };
  set_window_proc(h, [&state, &set_component, this](WindowSystem& ws, const Message& m) -> int64_t {
    switch (m.message) {
      case msg::Paint: {
        PaintScope paint(ws, m.window);
        WindowDC& dc = paint.dc();
        auto px = [&](uint32_t c) { return gfx::Brush::solid(frame_.map_color(c)); };
        gfx::DC& d = dc.dc;
        d.fill_rect(dc.client(ws.client_rect(m.window)), px(kFace));
        draw_label(d, dc.client(Pt{8, 6}), "Basic colours", frame_.map_color(kText));
        draw_label(d, dc.client(Pt{8, kCustomAt.y - 14}), "Custom colours", frame_.map_color(kText));
        for (int i = 0; i < 64; ++i) {
          Rect s = i < 48 ? swatch(kBasicAt, i) : swatch(kCustomAt, i - 48);
          d.fill_rect(dc.client(s), px(i < 48 ? basic_color(i) : custom_colors_[size_t(i - 48)]));
          d.frame_rect(dc.client(s), px(kFrame));
          if (i == state.selected)
            d.frame_rect(dc.client(Rect{s.left - 2, s.top - 2, s.right + 2, s.bottom + 2}), px(kText));
        }
        d.fill_rect(dc.client(kPreview), px(state.color));
        d.frame_rect(dc.client(kPreview), px(kFrame));
        char hex[8];
        std::snprintf(hex, sizeof hex, "#%06X", unsigned(state.color));
        draw_label(d, dc.client(Pt{kPreview.right + 8, kPreview.top + 14}), hex, frame_.map_color(kText));
        for (int c = 0; c < 3; ++c) {
          Rect b = bar_of(c);
          int shift = 16 - 8 * c;
          // The bar shows the colour with this component running 0 to 255.
          for (int32_t v = 0; v < 256; ++v)
            d.fill_rect(dc.client(Rect{b.left + v, b.top, b.left + v + 1, b.bottom}),
                        px((state.color & ~(0xFFu << shift)) | (uint32_t(v) << shift)));
          d.frame_rect(dc.client(Rect{b.left - 1, b.top - 1, b.right + 1, b.bottom + 1}), px(kFrame));
          int32_t at = b.left + int32_t((state.color >> shift) & 0xFF);
          d.fill_rect(dc.client(Rect{at - 1, b.top - 3, at + 2, b.bottom + 3}), px(kText));
          d.fill_rect(dc.client(Rect{at, b.top - 2, at + 1, b.bottom + 2}), px(0xFFFFFF));
          draw_label(d, dc.client(Pt{180, b.top}), kComponent[c], frame_.map_color(kText));
          char value[4];
          std::snprintf(value, sizeof value, "%u", unsigned((state.color >> shift) & 0xFF));
          draw_label(d, dc.client(Pt{b.right + 6, b.top}), value, frame_.map_color(kText));
        }
        draw_button(d, dc.client(kOk), "OK", frame_.map_color(kFrame), frame_.map_color(kText));
        draw_button(d, dc.client(kCancel), "Cancel", frame_.map_color(kFrame), frame_.map_color(kText));
        draw_button(d, dc.client(kAdd), "Add custom", frame_.map_color(kFrame), frame_.map_color(kText));
        return 0;
      }
      case msg::LButtonDown:
      case msg::LButtonDblClk: {
        Pt p = param_point(m.lparam);
        for (int i = 0; i < 64; ++i)
          if ((i < 48 ? swatch(kBasicAt, i) : swatch(kCustomAt, i - 48)).contains(p)) {
            state.color = i < 48 ? basic_color(i) : custom_colors_[size_t(i - 48)];
            state.selected = i;
          }
        for (int c = 0; c < 3; ++c) {
          Rect b = bar_of(c);
          if (Rect{b.left - 3, b.top - 3, b.right + 3, b.bottom + 3}.contains(p)) {
            state.dragging = c;
            set_component(c, p.x);
            ws.set_capture(m.window);
          }
        }
        for (const Rect* b : {&kOk, &kCancel, &kAdd})
          if (b->contains(p)) state.pressed = b;
        ws.invalidate(m.window, std::nullopt, false);
        return 0;
      }
      case msg::MouseMove:
        if (state.dragging >= 0) {
          set_component(state.dragging, param_point(m.lparam).x);
          ws.invalidate(m.window, std::nullopt, false);
        }
        return 0;
      case msg::LButtonUp: {
        Pt p = param_point(m.lparam);
        if (state.dragging >= 0) {
          set_component(state.dragging, p.x);
          state.dragging = -1;
          ws.release_capture();
          ws.invalidate(m.window, std::nullopt, false);
        }
        const Rect* b = state.pressed;
        state.pressed = nullptr;
        if (!b || !b->contains(p)) return 0;
        if (b == &kOk) state.done = true, state.answer = state.color;
        else if (b == &kCancel) state.done = true;
        else {
          // Added colours fill the custom row from its start, then go round.
          auto white = std::find(custom_colors_.begin(), custom_colors_.end(), 0xFFFFFFu);
          size_t slot = 15;
          if (white != custom_colors_.end()) slot = size_t(white - custom_colors_.begin());
          else std::rotate(custom_colors_.begin(), custom_colors_.begin() + 1, custom_colors_.end());
          custom_colors_[slot] = state.color;
          state.selected = 48 + int(slot);
          ws.invalidate(m.window, std::nullopt, false);
        }
        return 0;
      }
      case msg::KeyDown:
        if (m.wparam == 0x0D) state.done = true, state.answer = state.color;
        if (m.wparam == 0x1B) state.done = true;
        return 0;
      case msg::Close:
        state.done = true;
        return 0;
      case msg::MouseActivate:
        return kMaActivate;
      default:
        return default_proc(ws, m);
    }
  });

  Handle previous = active_;
  {
    DialogScope dialog(*this, h, previous);
    activate(h);
    update_all();
    ModalWaits waits;
    waits.idle = [&] {
      if (find(owner_top)) send(owner_top, msg::EnterIdle, 0, h);
    };
    waits.still = [&] { return !state.done && alive(h); };
    Message m;
    while (waits.still() && modal_message(m, waits)) {
      translate(m);
      dispatch(m);
    }
  }
  return state.answer;
}

}  // namespace platform
