// Points, rectangles, regions and the perspective projection for Lisp.
//
// A point is the pair (v . h) of fixnums, a rectangle the list (left top
// right bottom); natively each coordinate is the low 16 bits of its fixnum,
// sign-extended, and every point and rectangle answered is cut back to 16
// bits. A region is a pointer box of sub-kind kRegionBox whose address is a
// handle into this module's region table: disposing a region kills its
// handle, and any later use of the box is error 2.
//
// The two 3-D line primitives draw with the pen of the current drawing
// surface; until window objects exist that is a surface set from native
// code (tests set one and read its pixels back). Without one they draw
// nothing.
#pragma once
#include "core/module.hpp"
#include "core/value.hpp"
#include "platform/gfx/dc.hpp"

namespace media {

constexpr uint32_t kRegionBox = 11;

extern const core::Module kGeometryModule;

// The region a box names; error 2 with the box when it names none.
gfx::Region& region_arg(core::Value box);
// A new region box owning the region; error 9 when the table is full.
core::Value new_region_box(gfx::Region region);

// Points and rectangles between Lisp and native code: error 2 with the
// value when it is not one; coordinates are cut to 16 bits both ways.
gfx::Pt point_value(core::Value p);
gfx::Rect rect_value(core::Value r);
core::Value make_point_value(gfx::Pt p);
core::Value make_rect_value(const gfx::Rect& r);

// The drawing surface of the 3-D line primitives (null: none). The surface
// stays the caller's; the DC drawing on it is this module's.
void set_drawing_surface(gfx::Surface* surface);
gfx::DC* drawing_dc();

}  // namespace media
