// The native half of a window object: what the event loop, the paint
// pipeline, drawing, colours, cursors and effects share about one Lisp
// instance of `obj-window` or a subclass.
//
// Records live in the frame module's table (media/frame.hpp) and are
// named by generation-checked ids, never by address: a record whose window
// is gone is simply not found, and a Lisp method on it answers error 2. The
// shell's window objects make and link them; the media modules read and
// draw through them without including the shell.
//
// Nested window objects share their top-level window's native window: the
// paint pipeline draws the whole tree of a top-level window into that one
// native window, back to front, each object clipped to its own rectangle
// less its opaque children, so that a transparent child shows what its
// parent drew beneath it.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>

#include "core/value.hpp"
#include "platform/gfx/region.hpp"
#include "platform/gfx/surface.hpp"
#include "platform/window.hpp"

namespace media {

// A colour as window objects keep it: three 16-bit components.
struct Rgb16 {
  uint16_t red = 0, green = 0, blue = 0;
  bool operator==(const Rgb16&) const = default;
};

// The pen a window object draws with: where it stands, its size (across,
// down), its transfer mode (0 copy, 1 or, 2 xor, 3 bic, 4 to 7 the same
// with the pen inverted) and its 8x8 pattern when it has one.
struct PenState {
  gfx::Pt at;
  gfx::Pt size{1, 1};
  uint8_t mode = 0;
  bool patterned = false;
  uint8_t pattern[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
};

struct FontSpec {
  int16_t family = 0, size = 12, style = 0;
};

struct WindowRecord {
  core::Value instance = core::kNil;  // the Lisp instance (a root while the record lives)
  platform::Handle native = 0;        // its native window, or its top-level window's
  // The tree, as record ids (0: none); children front to back.
  uint32_t parent = 0, top = 0, first_child = 0, next_sibling = 0;
  uint32_t modal = 0;                 // for a parent: its modal window
  // Marks and flags.
  bool shown = false, active = false, floating = false, closing = false, edit = false, was_visible = false;
  bool double_clicks = false, hide_on_close = false, frame = false, erase = false, opaque = false;
  bool scroll = false, grow_icon = false, transparent = false, close_box = false, disabled = false;
  int16_t zoom = 1;
  int32_t type = 0;
  uint32_t transfer_mode = 0;
  // Rectangles in the parent's coordinates (the view and virtual ones in
  // its own).
  gfx::Rect window_rect, view_rect, virtual_rect, client_at_size, update_rect;
  Rgb16 background{0xFFFF, 0xFFFF, 0xFFFF}, foreground;
  uint32_t text_background = 0xFFFFFF;  // behind opaque text: the background's high bytes, unmatched
  FontSpec font;
  PenState pen;
  core::Value title = core::kNil, effect = core::kNil;
  std::optional<gfx::Region> click_zone;  // where clicks hit (own coordinates); none: everywhere
  // The offscreen image the object and its children are drawn into before
  // they reach the screen: its own when `owns_offscreen`, else the one a
  // nested window shares with the ancestor that owns it.
  std::shared_ptr<gfx::Surface> offscreen;
  bool owns_offscreen = false;
  int32_t offscreen_level = 0;
};

}  // namespace media
